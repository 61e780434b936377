#include "payload/writer.h"

#include "payload/sections.h"
#include "support/config.h"

#include <algorithm>
#include <cstring>

namespace {

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

// Newton's iteration x <- x(2 - hx) doubles the correct low bits each step;
// x = h is already right in 3 bits, so five steps reach 64.
uint64_t hash_inverse(uint64_t odd)
{
    uint64_t x = odd;
    for (int i = 0; i < 5; i++) x *= 2 - odd * x;
    return x;
}

void put_section_header(unsigned char* header, char type, const unsigned char* payload,
                        int32_t length)
{
    put_section_header_hashed(header, type, section_hash(payload, length), length);
}

void put_section_header_hashed(unsigned char* header, char type, uint64_t hash, int32_t length)
{
    for (int i = 0; i < section_magic_size; i++) header[i] = section_magic_byte(i);
    header[15] = static_cast<unsigned char>(type);
    uint64_t signature = hash_inverse(hash);
    put32(header + 16, uint32_t(signature));
    put32(header + 20, uint32_t(signature >> 32));
    put32(header + 24, uint32_t(length));
    put32(header + 28, uint32_t(section_hash(header, 28) >> 16));
}

void scramble_bytes(const unsigned char* in, unsigned char* out, size_t length, size_t first)
{
    for (size_t i = 0; i < length; i++)
        out[i] = static_cast<unsigned char>((in[i] + 100) ^ ((first + i) & 255));
}

int count_config_markers(const unsigned char* image, size_t length, size_t* first)
{
    const config_marker_bytes marker = config_complement(config_marker_complement);
    const unsigned char* end = image + length;
    int count = 0;
    *first = length;
    for (const unsigned char* at = image; (at = std::search(at, end, marker.bytes, marker.bytes + 16)) != end; at++)
        if (count++ == 0) *first = size_t(at - image);
    return count;
}

void put_record_head(unsigned char* out, const char* path, uint32_t size)
{
    size_t n = strlen(path);
    out[0] = static_cast<unsigned char>(n);
    memcpy(out + 1, path, n + 1);
    memset(out + n + 2, 0, 4);
    put32(out + n + 6, size);
}
