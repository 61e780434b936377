// The stub configuration block: four fields in the launcher's initialised
// data that the packaging tool fills in; the launcher only reads them.
#pragma once

#include <cstdint>

const int config_name_size = 68;  // 67 bytes of text and a NUL

int32_t config_expected_sections();
int32_t config_min_length();
const char* config_display_name();
const char* config_original_name();

// The packaging tool finds the block by this marker, which directly precedes
// the four fields in the image: a 32-bit count, a 32-bit length and the two
// 68-byte names, numbers little-endian, no padding. The marker occurs nowhere
// else in a launcher image; it is not the section magic.
struct config_marker_bytes {
    unsigned char bytes[16];
};
constexpr config_marker_bytes config_marker = {
    {0xC7, 'g', 'v', 'C', 'F', 'G', 0x1B, 0x9E, 0x52, 0x0D, 0xA4, 'b', 'l', 'k', 0x03, 0xE1}};
const int config_count_offset = 16;
const int config_length_offset = 20;
const int config_display_offset = 24;
const int config_original_offset = config_display_offset + config_name_size;
const int config_block_size = config_original_offset + config_name_size;
