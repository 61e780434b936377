// Writing and inspecting packaged executables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct pack_file {
    std::string source;  // empty for the standard boot class, which the packer holds
    std::string stored;  // the relative path in the record
    bool jar;            // listed in the jars value
    std::string data;    // the contents, when the packer holds them (source empty)
};

struct pack_request {
    std::string stub;
    std::string out;
    std::string name;  // empty: OUT's file name without extension
    bool name_given = false;
    std::vector<pack_file> files;  // F sections, in this order
    std::string main_class;
    std::vector<std::pair<std::string, std::string>> vars;
    std::string getjava;                // J section when not empty
    std::vector<std::string> payloads;  // Z sections
    // Windows stubs only: resources rewritten in the package.
    std::string icon;             // an .ico file
    std::string version_name;     // with version_text: the version information
    std::string version_text;
    std::string execution_level;  // asInvoker, highestAvailable or requireAdministrator
    bool console = false;         // the console-subsystem variant of the stub
    bool boot = true;                   // the standard boot class as an F section
    // Fast start: the key faststart, and the standard boot class in a jar
    // of its own, first in the jars value.
    bool fast_start = false;
    // The splash screen's image file (the key splash names its packed
    // copy); empty: the SplashScreen-Image of the main jar's manifest, if any.
    std::string splash;
    // One instance per user (the key singleinstance): a later launch hands
    // its words to instance_method, "CLASS.METHOD" or empty for none.
    bool single_instance = false;
    std::string instance_method;
    std::vector<std::string> arg_files;  // the @FILE inputs, which the output must not replace
    // A runtime image packed below runtime/ (its files are in `files`);
    // implies fast start.
    std::string runtime;
    bool compress = false;  // files that shrink go into compressed sections
};

// The jar that holds the standard boot class in a fast-start package.
const char* const boot_jar_name = "glimvaneboot.jar";
// A zip of one stored (uncompressed) entry, the same bytes for the same
// input: no time stamp, no extra field.
std::vector<unsigned char> stored_zip(const std::string& name, const unsigned char* data, size_t size);

// The contents of a file the packer carries itself, stored as
// glimvaneboot.class or boot_jar_name: the standard boot class, alone or in
// its jar.
std::vector<unsigned char> own_file(const std::string& stored);

// The package format that the stub image reads: the version after its
// format mark, or "1.0" (and `marked` false) for a stub without one.
std::string stub_format(const unsigned char* image, size_t length, bool& marked);
// The stored name of the splash image in the package: "glimvane-splash"
// and the extension of the image's kind (PNG, GIF or JPEG, told by its
// first bytes), or empty for anything else.
std::string splash_stored_name(const unsigned char* head, size_t size);

// Writes the packaged executable; an empty text on success, otherwise why
// the input was refused or the file could not be written.
std::string pack(const pack_request& request);

// Lists the block and the sections of a packaged file on `out`; 0 when the
// launcher would accept it, 1 otherwise.
int inspect(const std::string& path, FILE* out);

// The launcher refuses a full path (temp folder, separator, stored path)
// over 259 bytes and the packer cannot know the user's temp folder: stored
// paths must fit below one of 100 bytes (run id included).
const size_t launcher_path_limit = 259;
const size_t typical_temp_folder = 100;
const size_t stored_path_limit = launcher_path_limit - typical_temp_folder - 1;
// Inputs are copied through a buffer of this size, never held whole.
const size_t io_buffer_size = 1 << 20;

// A stub or icon larger than this is refused before it is read.
const uint64_t stub_size_limit = 16 << 20;

// A Windows image begins with the DOS header's "MZ".
inline bool windows_image(const unsigned char* image, size_t size)
{
    return size >= 2 && image[0] == 'M' && image[1] == 'Z';
}

// Why the launcher or the standard boot class (when `standard_boot`) would
// fail to start with this Vars text, with what to do; empty when it starts.
std::string launch_problem(const char* vars, bool standard_boot);

// A line on standard error that does not stop the pack: `kind` is
// text_note or text_warning.
void tell(const char* kind, const std::string& text);

// Why Windows cannot hold a stored path (a reserved device name with any
// extension, one of <>:"|?* or a control character, a name ending in a dot
// or a blank, an empty name or a trailing separator), or null.
const char* windows_name_problem(const std::string& stored);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The whole file, or false with the system's reason in `error`; a file
// over `limit` bytes is refused before it is read.
bool read_file(const std::string& path, std::vector<unsigned char>& data, std::string& error,
               uint64_t limit = stub_size_limit);
