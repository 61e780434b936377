// The two ways the payload's inner loops run: on any processor, and 32
// bytes at a time with AVX2 where the processor has it. section_hash_terms
// and descramble_bytes pick one; both give the same result for every input.
#pragma once

#include <cstddef>
#include <cstdint>

// True when the wide kernels can run on this processor.
bool wide_usable();

uint64_t hash_terms_scalar(const unsigned char* data, size_t length, uint32_t first);
uint64_t hash_terms_wide(const unsigned char* data, size_t length, uint32_t first);  // where wide_usable()

void descramble_scalar(const unsigned char* in, unsigned char* out, size_t length, size_t first);
void descramble_wide(const unsigned char* in, unsigned char* out, size_t length, size_t first);  // where wide_usable()
