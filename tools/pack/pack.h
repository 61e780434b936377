// Writing and inspecting packaged executables.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct pack_file {
    std::string source;  // empty for the standard boot class, which the packer holds
    std::string stored;  // the relative path in the record
    bool jar;            // listed in the jars value
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
    bool boot = true;                   // the standard boot class as an F section
};

// Writes the packaged executable; an empty text on success, otherwise why
// the input was refused or the file could not be written.
std::string pack(const pack_request& request);

// Lists the block and the sections of a packaged file on `out`; 0 when the
// launcher would accept it, 1 otherwise.
int inspect(const std::string& path, FILE* out);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The whole file, or false with the system's reason in `error`.
bool read_file(const std::string& path, std::vector<unsigned char>& data, std::string& error);
