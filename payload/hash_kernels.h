// The two ways section_hash_terms gathers its terms: byte by byte on any
// processor, and 32 bytes at a time with AVX2 where the processor has it.
// section_hash_terms picks one; both give the same value for every input.
#pragma once

#include <cstddef>
#include <cstdint>

uint64_t hash_terms_scalar(const unsigned char* data, size_t length, uint32_t first);
// True when hash_terms_wide can run on this processor.
bool hash_wide_usable();
// Only where hash_wide_usable() is true.
uint64_t hash_terms_wide(const unsigned char* data, size_t length, uint32_t first);
