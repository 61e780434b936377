#include "support/report.h"

#include "os/os.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/switches.h"
#include "support/track.h"

#include <atomic>
#include <cstdio>

namespace {

// Reached from the main thread and from a VM thread in the abort hook; a
// race costs only a second copy.
std::atomic<const char*> caption{nullptr};

}  // namespace

// Digits accumulate modulo 2^32, as 32-bit arithmetic gives them; a runaway
// text wraps instead of overflowing.
int32_t error_code_of(const char* text)
{
    if (!text) return 0;
    uint32_t code = 0;
    for (; *text >= '0' && *text <= '9'; text++) code = code * 10 + uint32_t(*text - '0');
    return int32_t(code);
}

const char* display_name_text()
{
    return config_display_name();
}

const char* original_name_text()
{
    return config_original_name();
}

const char* caption_text()
{
    if (!caption) caption = format_new(text_caption, display_name_text(), original_name_text());
    return caption;
}

const char* problem_text(int32_t code)
{
    const char* paragraph = getjava_path
                                ? text_installer_known
                                : format_new(text_installer_redirect, text_vendor_address);
    if (code == 10) return format_new(text_problem_10, display_name_text(), paragraph);
    switch (code / 10) {
    case 1:
    case 3: return format_new(text_problem_runtime, display_name_text(), paragraph);
    case 2: return text_problem_windows;
    case 4: return text_problem_disk;
    case 5: return format_new(text_problem_java, display_name_text());
    case 9: return format_new(text_problem_damaged, original_name_text(), display_name_text());
    default: return nullptr;
    }
}

void report_error(const char* text)
{
    int32_t code = error_code_of(text);
    const char* problem = problem_text(code);
    const char* tail = problem ? format_new(text_report_tail, problem) : "";
    char* message = format_new(text_report_message, text, tail);
    if (quiet_flag) return;
    printf("%s", text_report_separator);
    printf(text_report_block, message);
    fflush(stdout);
    os_message_box(message, caption_text(), OS_BOX_ERROR);
}
