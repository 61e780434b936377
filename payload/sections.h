// Sections appended to the packaged executable: header, hash, scan, and the
// read-only mapping of the running executable.
#pragma once

#include <cstdint>

const int32_t section_header_size = 32;

// The section hash of `length` bytes (1 for a length of 0 or less).
uint64_t section_hash(const unsigned char* data, int32_t length);
// True when the 32 bytes carry the section magic and a matching header check.
bool header_valid(const unsigned char* header);
// Offset of the next acceptable section at or after `start` (rounded down to
// 16); 0 when there is none; -91 when its payload signature fails.
int32_t find_section(const unsigned char* base, int32_t start, int32_t length);

// Type letter and payload length of a header.
char section_type(const unsigned char* header);
int32_t section_payload_length(const unsigned char* header);

// Maps the file read-only; its length, or -1 (resources acquired before the
// failure stay held until unmap_self).
int32_t map_self(const char* path, const unsigned char** base);
// Releases what map_self holds; harmless after a failed map. Returns 0.
int unmap_self();

// True when the file system reports attributes for the path.
bool file_exists(const char* path);
