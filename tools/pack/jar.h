// The Class-Path of the packed jars' manifests, read without unpacking them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads `n` bytes of a file at `offset` into `out`; false when it cannot.
using file_reader = std::function<bool(uint64_t offset, size_t n, unsigned char* out)>;

// A file of the package as the Class-Path check sees it.
struct packed_entry {
    std::string stored;  // its stored path
    std::string label;   // how a warning names it
    uint64_t size;
    file_reader read;
};

// The entries of the Class-Path attribute in META-INF/MANIFEST.MF, as
// written (percent escapes undone); none for a file that is no zip or whose
// manifest holds no such attribute.
std::vector<std::string> class_path_entries(const file_reader& read, uint64_t size);

// A main-section attribute of the manifest (continuation lines joined), or
// empty.
std::string manifest_attribute(const file_reader& read, uint64_t size, const std::string& name);
// The contents of the entry `name` (its exact letter case), stored or
// deflated, at most `limit` bytes; false when the zip has no such entry or
// it cannot be read.
bool entry_bytes(const file_reader& read, uint64_t size, const std::string& name, size_t limit, std::string& out);

// The raw deflate stream `in` inflated into `out`, at most `limit` bytes;
// false for a damaged stream or a longer output.
bool inflate_bytes(const unsigned char* in, size_t size, size_t limit, std::string& out);

// One warning per Class-Path entry of a jar on the class path (the pieces
// of `jars` and, in turn, the packed jars their entries name) that loads
// from outside the package: an absolute path or URL, or a relative one
// that names no packed file or folder. Stored paths compare as the target
// does: any letter case on Windows.
std::vector<std::string> class_path_warnings(const std::string& jars, const std::vector<packed_entry>& files,
                                             bool windows);
