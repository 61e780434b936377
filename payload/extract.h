// File sections: descrambling and writing their records below the temp folder.
#pragma once

#include <cstddef>
#include <cstdint>

// A fresh tracked block holding the plain payload of a file section.
unsigned char* descramble_section(const unsigned char* header);
// Writes the record below the temp folder; a tracked copy of the written
// file's path, or null when it was not written (or the record is refused).
// `length` is the plain payload's length.
char* extract_file(const unsigned char* record, int32_t length);
bool write_whole_file(const char* path, const void* data, size_t length);
void make_dirs(const char* base, const char* relative);
