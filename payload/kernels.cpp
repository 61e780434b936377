#include "payload/kernels.h"
#include "payload/extract.h"
#include "payload/sections.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define GLIMVANE_WIDE 1
#include <immintrin.h>
#endif

namespace {

const uint64_t hash_factor = 0x65434531;

// The factor shifted by 7i mod 32 bits; the shift repeats every 32 bytes.
struct factor_table {
    uint64_t at[32];
    constexpr factor_table() : at()
    {
        for (int i = 0; i < 32; i++) at[i] = hash_factor << (7 * i % 32);
    }
};
constexpr factor_table factors;

// The XOR value of each position, twice over: a 256-byte block that starts
// at position p reads its values from at + p mod 256.
struct position_table {
    unsigned char at[512];
    constexpr position_table() : at()
    {
        for (int i = 0; i < 512; i++) at[i] = static_cast<unsigned char>(i);
    }
};
constexpr position_table positions;

// Plain byte = ((scrambled XOR (position mod 256)) - 100) mod 256.
void descramble_bytewise(const unsigned char* in, unsigned char* out, size_t length, size_t first)
{
    for (size_t j = 0; j < length; j++) out[j] = static_cast<unsigned char>((in[j] ^ (first + j)) - 100);
}

uint64_t bytewise_terms(const unsigned char* data, size_t length, uint32_t first)
{
    uint64_t h = 0;
    for (size_t k = 0; k < length; k++) h ^= factors.at[(first + k) % 32] * (first + uint32_t(k) + data[k]);
    return h;
}

// Bytes before the first position that is a multiple of 32: the block
// kernels start there, so their factors line up with the table.
size_t head_length(size_t length, uint32_t first)
{
    size_t head = (32 - first % 32) % 32;
    return head < length ? head : length;
}

}  // namespace

// Each byte contributes (factor << (7i mod 32)) * (i + b[i]); XOR lets the
// terms be gathered in any order, so four independent accumulators keep the
// multiplier busy instead of waiting on one chain.
uint64_t hash_terms_scalar(const unsigned char* data, size_t length, uint32_t first)
{
    size_t k = head_length(length, first);
    uint64_t h0 = bytewise_terms(data, k, first), h1 = 0, h2 = 0, h3 = 0;
    for (; length - k >= 32; k += 32) {
        const unsigned char* p = data + k;
        uint32_t i = first + uint32_t(k);
        for (uint32_t j = 0; j < 32; j += 4) {
            h0 ^= factors.at[j] * (i + j + p[j]);
            h1 ^= factors.at[j + 1] * (i + j + 1 + p[j + 1]);
            h2 ^= factors.at[j + 2] * (i + j + 2 + p[j + 2]);
            h3 ^= factors.at[j + 3] * (i + j + 3 + p[j + 3]);
        }
    }
    return h0 ^ h1 ^ h2 ^ h3 ^ bytewise_terms(data + k, length - k, first + uint32_t(k));
}

// Eight bytes at a time: the XOR index repeats every 256 bytes, so whole
// blocks XOR with a table of 0..255, and the subtraction is done per byte
// inside a 64-bit word (the top bit of each byte is set first so that no
// borrow crosses into the next byte, then the true top bit is put back).
void descramble_scalar(const unsigned char* in, unsigned char* out, size_t length, size_t first)
{
    const uint64_t top_bits = 0x8080808080808080u;
    const uint64_t hundreds = 0x6464646464646464u;
    const unsigned char* row = positions.at + first % 256;
    size_t at = 0;
    for (; length - at >= 256; at += 256) {
        for (size_t j = 0; j < 256; j += 8) {
            uint64_t word, index;
            memcpy(&word, in + at + j, 8);
            memcpy(&index, row + j, 8);
            word ^= index;
            word = ((word | top_bits) - hundreds) ^ ((word ^ ~hundreds) & top_bits);
            memcpy(out + at + j, &word, 8);
        }
    }
    descramble_bytewise(in + at, out + at, length - at, first + at);
}

#ifdef GLIMVANE_WIDE

bool wide_usable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

// A term is (factor << s) * v = (factor * v) << s, and factor * v fits 64
// bits (factor below 2^31, v = i + b below 2^32): one 32x32->64 multiply
// and a shift per byte, four bytes to a register. Eight bytes are widened
// to 32-bit lanes at once; the even lanes multiply in place, the odd ones
// after a shift down. Positions stay below 2^31 + 288: no lane overflows.
__attribute__((target("avx2"))) uint64_t hash_terms_wide(const unsigned char* data, size_t length,
                                                          uint32_t first)
{
    size_t k = head_length(length, first);
    uint64_t h = bytewise_terms(data, k, first);
    const __m256i factor = _mm256_set1_epi64x(int64_t(hash_factor));
    // Shifts of the even and odd lanes of the four 8-byte groups of a block.
    __m256i even_shift[4], odd_shift[4], offset[4];
    for (int g = 0; g < 4; g++) {
        int j = 8 * g;
        auto s = [j](int lane) { return int64_t(7 * (j + lane) % 32); };
        even_shift[g] = _mm256_set_epi64x(s(6), s(4), s(2), s(0));
        odd_shift[g] = _mm256_set_epi64x(s(7), s(5), s(3), s(1));
        offset[g] = _mm256_set_epi32(j + 7, j + 6, j + 5, j + 4, j + 3, j + 2, j + 1, j);
    }
    __m256i acc_even = _mm256_setzero_si256(), acc_odd = _mm256_setzero_si256();
    for (; length - k >= 32; k += 32) {
        const unsigned char* p = data + k;
        const __m256i position = _mm256_set1_epi32(int(first + uint32_t(k)));
        for (int g = 0; g < 4; g++) {
            __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * g));
            __m256i v = _mm256_add_epi32(_mm256_cvtepu8_epi32(bytes), _mm256_add_epi32(position, offset[g]));
            __m256i even = _mm256_mul_epu32(v, factor);
            __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(v, 32), factor);
            acc_even = _mm256_xor_si256(acc_even, _mm256_sllv_epi64(even, even_shift[g]));
            acc_odd = _mm256_xor_si256(acc_odd, _mm256_sllv_epi64(odd, odd_shift[g]));
        }
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_xor_si256(acc_even, acc_odd));
    h ^= lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
    return h ^ bytewise_terms(data + k, length - k, first + uint32_t(k));
}

__attribute__((target("avx2"))) void descramble_wide(const unsigned char* in, unsigned char* out, size_t length,
                                                      size_t first)
{
    const __m256i hundred = _mm256_set1_epi8(100);
    size_t at = 0;
    for (; length - at >= 32; at += 32) {
        __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at));
        __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(positions.at + (first + at) % 256));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at),
                            _mm256_sub_epi8(_mm256_xor_si256(word, index), hundred));
    }
    descramble_bytewise(in + at, out + at, length - at, first + at);
}

#else

bool wide_usable()
{
    return false;
}

#endif

namespace {

bool use_wide()
{
    static const bool wide = wide_usable();
    return wide;
}

}  // namespace

uint64_t section_hash_terms(const unsigned char* data, size_t length, uint32_t first)
{
#ifdef GLIMVANE_WIDE
    if (use_wide()) return hash_terms_wide(data, length, first);
#endif
    return hash_terms_scalar(data, length, first);
}

void descramble_bytes(const unsigned char* in, unsigned char* out, size_t length, size_t first)
{
#ifdef GLIMVANE_WIDE
    if (use_wide()) return descramble_wide(in, out, length, first);
#endif
    descramble_scalar(in, out, length, first);
}

uint64_t section_hash(const unsigned char* data, int32_t length)
{
    if (length <= 0) return 1;
    return section_hash_terms(data, size_t(length), 0) | 1;
}
