#include "support/log.h"

#include "os/os.h"
#include "support/messages.h"
#include "support/switches.h"
#include "support/track.h"

#include <cstdarg>
#include <cstdio>

namespace {

int64_t start_stamp;

}  // namespace

void log_start_stamp()
{
    start_stamp = os_counter();
}

void log_line(const char* format, ...)
{
    if (!debug_flag) return;
    char text[max_text_length + 1];
    va_list args;
    va_start(args, format);
    format_text(text, format, args);
    va_end(args);
    int64_t elapsed = (os_counter() - start_stamp) * 1000 / os_counter_frequency();
    printf(log_format, text, int32_t(uint32_t(uint64_t(elapsed))));
    fflush(stdout);
}
