#include "support/console.h"

#include "os/os.h"

#include <cstdio>

void console_binary_mode()
{
    int out = os_stream_fd(stdout);
    if (out > 0) os_set_binary(out);
    int err = os_stream_fd(stderr);
    if (err > 0) os_set_binary(err);
}

// Temporary stand-in until the console relay is built: standard output
// stays the one the process started with.
void relay_setup()
{
}

// Temporary stand-in until the console relay is built: standard error is
// not merged yet.
void stderr_merge()
{
}
