#include "payload/format.h"

struct format_block {
    char mark[format_mark_size];
    char version[format_version_size];
};

// Initialised writable data read through volatile accesses, as the stub
// configuration block: what the image says is what the launcher compares.
extern format_block glimvane_format_block;
__attribute__((used)) format_block glimvane_format_block = {"glimvane-reads-package-format=", "1.2"};

const char* launcher_format()
{
    const volatile format_block& block = glimvane_format_block;
    return const_cast<const char*>(block.version);
}
