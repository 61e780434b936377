// The writing side of the payload container, for the packaging tool and the
// tests: the launcher itself only reads. A packaged file is the launcher
// image followed by sections, each at a multiple of 16, the Vars section
// first (its text with the ending NUL), file sections scrambled.
#pragma once

#include <cstddef>
#include <cstdint>

// The multiplicative inverse of an odd number modulo 2^64.
uint64_t hash_inverse(uint64_t odd);
// Fills the 32-byte header for `length` payload bytes (as they will be
// stored, after scrambling): magic, type letter, signature, length, check.
void put_section_header(unsigned char* header, char type, const unsigned char* payload,
                        int32_t length);
// The same with the payload's section hash already known (a streaming
// writer gathers it with section_hash_terms).
void put_section_header_hashed(unsigned char* header, char type, uint64_t hash, int32_t length);
// c = ((p + 100) mod 256) XOR (i mod 256); `in` and `out` may be the same.
// `first` is the payload position of in[0], for a payload written in pieces.
void scramble_bytes(const unsigned char* in, unsigned char* out, size_t length, size_t first = 0);

// How often the stub configuration block's marker occurs in `length`
// bytes; *first is the offset of the first occurrence (or `length`).
int count_config_markers(const unsigned char* image, size_t length, size_t* first);

// Longest relative path a record can hold: n is one byte.
const size_t record_path_limit = 255;
// Bytes of the plain record for a path of `path_length` bytes and `size`
// content bytes.
inline uint64_t record_length(size_t path_length, uint64_t size)
{
    return 10 + uint64_t(path_length) + size;
}
// Writes the plain record (without its contents) into the first
// record_length(strlen(path), 0) bytes of `out`; the contents follow.
void put_record_head(unsigned char* out, const char* path, uint32_t size);
