// Sections appended to the packaged executable: header, hash, scan, and the
// read-only mapping of the running executable.
#pragma once

#include <cstddef>
#include <cstdint>

const int32_t section_header_size = 32;
const int section_magic_size = 15;

// Byte i of the section magic. The launcher keeps no stored copy of the
// magic, so that its own image never holds a run the scan could take for a
// header.
inline unsigned char section_magic_byte(int i)
{
    return static_cast<unsigned char>(74 + 3 * i / 2);
}

// The section hash of `length` bytes (1 for a length of 0 or less).
uint64_t section_hash(const unsigned char* data, int32_t length);
// The XOR of the hash terms of `length` bytes that stand at positions
// first, first + 1, ... of a run: the terms of consecutive pieces XORed
// together, then OR 1, give the hash of the whole run, so that a writer can
// hash a payload while streaming it.
uint64_t section_hash_terms(const unsigned char* data, size_t length, uint32_t first);
// True when the 32 bytes carry the section magic and a matching header check.
bool header_valid(const unsigned char* header);
// Offset of the next acceptable section at or after `start` (rounded down to
// 16); 0 when there is none; -91 when its payload signature fails.
int32_t find_section(const unsigned char* base, int32_t start, int32_t length);

// The two steps of find_section: the offset of the next valid header at or
// after `start` (rounded down to 16) whose payload lies inside the file, 0
// when there is none; and whether the payload behind a header matches its
// signature (a large payload is hashed on two cores).
int32_t find_header(const unsigned char* base, int32_t start, int32_t length);
bool payload_signed(const unsigned char* header);

// Type letter, payload signature and payload length of a header.
char section_type(const unsigned char* header);
uint64_t section_signature(const unsigned char* header);
int32_t section_payload_length(const unsigned char* header);

// Copies `length` bytes that stand at `data` into `out`. Bytes inside the
// view of the running executable are read from its file: on some virtual
// machines the page faults of a fresh view cost several times the copy
// (100 MB: 55 to 88 ms against 7 to 11 ms). Other bytes, and bytes whose
// read fails, are copied as they stand.
void read_payload(const unsigned char* data, size_t length, unsigned char* out);

// Maps the file read-only; its length, or -1 (resources acquired before the
// failure stay held until unmap_self).
int32_t map_self(const char* path, const unsigned char** base);
// Releases what map_self holds; harmless after a failed map. Returns 0.
int unmap_self();

// True when the file system reports attributes for the path.
bool file_exists(const char* path);
