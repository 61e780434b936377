// Gives the stub configuration block the two names a packaging tool would
// write, so that unit tests see real captions and paragraphs.
#pragma once

#include "support/config.h"

#include <cstring>

inline void set_config_names(const char* display, const char* original)
{
    // The accessors point into the block, which is writable data.
    char* d = const_cast<char*>(config_display_name());
    char* o = const_cast<char*>(config_original_name());
    memset(d, 0, config_name_size);
    memset(o, 0, config_name_size);
    strncpy(d, display, config_name_size - 1);
    strncpy(o, original, config_name_size - 1);
}
