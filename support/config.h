// The stub configuration block: four fields in the launcher's initialised
// data that the packaging tool fills in; the launcher only reads them.
#pragma once

#include <cstdint>

const int config_name_size = 68;  // 67 bytes of text and a NUL

int32_t config_expected_sections();
int32_t config_min_length();
const char* config_display_name();
const char* config_original_name();

// The packaging tool finds the block by a marker of 16 bytes that directly
// precedes the four fields in the image: a 32-bit count, a 32-bit length and
// the two 68-byte names, numbers little-endian, no padding. The marker
// occurs nowhere else in a launcher image and is not the section magic.
// Only its complement is a named constant here, so that the plain bytes
// exist in the block alone and not also in the debug information of every
// unit that includes this header.
struct config_marker_bytes {
    unsigned char bytes[16];
};
constexpr config_marker_bytes config_complement(const config_marker_bytes& in)
{
    config_marker_bytes out{};
    for (int i = 0; i < 16; i++) out.bytes[i] = static_cast<unsigned char>(~in.bytes[i]);
    return out;
}
constexpr config_marker_bytes config_marker_complement = {
    {0x38, 0x98, 0x89, 0xBC, 0xB9, 0xB8, 0xE4, 0x61, 0xAD, 0xF2, 0x5B, 0x9D, 0x93, 0x94, 0xFC, 0x1E}};
const int config_count_offset = 16;
const int config_length_offset = 20;
const int config_display_offset = 24;
const int config_original_offset = config_display_offset + config_name_size;
const int config_block_size = config_original_offset + config_name_size;
