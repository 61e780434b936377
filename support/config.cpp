#include "support/config.h"

#include <cstddef>

struct stub_config {
    config_marker_bytes marker;
    int32_t expected_sections;
    int32_t min_length;
    char display_name[config_name_size];
    char original_name[config_name_size];
};

static_assert(offsetof(stub_config, expected_sections) == config_count_offset, "block layout");
static_assert(offsetof(stub_config, min_length) == config_length_offset, "block layout");
static_assert(offsetof(stub_config, display_name) == config_display_offset, "block layout");
static_assert(offsetof(stub_config, original_name) == config_original_offset, "block layout");
static_assert(sizeof(stub_config) == size_t(config_block_size), "block layout");

// Initialised writable data with external linkage, read only through
// volatile accesses: the packaging tool changes these bytes in the file, so
// the compiler may neither fold the initial values nor drop the block. The
// zero count makes an unpacked stub report error 96.
extern stub_config glimvane_stub_config;
__attribute__((used)) stub_config glimvane_stub_config = {config_complement(config_marker_complement), 0, 0, {}, {}};

namespace {

const volatile stub_config& block()
{
    return glimvane_stub_config;
}

}  // namespace

int32_t config_expected_sections()
{
    return block().expected_sections;
}

int32_t config_min_length()
{
    return block().min_length;
}

const char* config_display_name()
{
    return const_cast<const char*>(block().display_name);
}

const char* config_original_name()
{
    return const_cast<const char*>(block().original_name);
}
