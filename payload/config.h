// The stub configuration block: four fields in the launcher's initialised
// data that the packaging tool fills in; the launcher only reads them.
#pragma once

#include <cstdint>

const int config_name_size = 68;  // 67 bytes of text and a NUL

int32_t config_expected_sections();
int32_t config_min_length();
const char* config_display_name();
const char* config_original_name();
