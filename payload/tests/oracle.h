// The hash and the descrambling exactly as defined, byte by byte: the
// oracles for the unrolled versions, and the baseline of the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint64_t plain_hash(const unsigned char* data, int32_t length)
{
    uint64_t h = 0;
    for (int32_t i = 0; i < length; i++)
        h ^= (uint64_t(0x65434531) << (7u * uint32_t(i) % 32)) * uint64_t(i + data[i]);
    return h | 1;
}

inline void plain_descramble(const unsigned char* in, unsigned char* out, size_t length)
{
    for (size_t i = 0; i < length; i++) out[i] = static_cast<unsigned char>(((in[i] ^ (i % 256)) - 100) % 256);
}
