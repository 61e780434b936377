#include "runtime/getjava.h"

#include "os/os.h"
#include "payload/sections.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/process.h"
#include "support/report.h"
#include "support/switches.h"
#include "support/track.h"

bool getjava_known()
{
    return getjava_path != nullptr;
}

bool run_getjava(bool show_notice)
{
    if (!getjava_path || !file_exists(getjava_path)) return false;
    log_line(log_getjava, getjava_path);
    if (show_notice) {
        char* notice = format_new(text_getjava_notice, display_name_text());
        os_message_box(notice, caption_text(), OS_BOX_INFO);
    }
    // Quoted: a path under a folder with blanks would otherwise name another
    // program (its first blank-separated part).
    char* command = format_new("\"%s\"", getjava_path);
    intptr_t process = run_command(command, false);
    log_line(log_getjava_process, int(process));
    if (process) {
        os_wait_process(process);
        os_close_process(process);
    }
    log_line(log_getjava_done);
    return true;
}

void runtime_follow_up(const char* text)
{
    int32_t tens = error_code_of(text) / 10;
    if (quiet_flag || (tens != 1 && tens != 3)) return;
    if (getjava_known())
        run_getjava(false);  // the report's box has announced the installation
    else
        os_open_url(text_download_page);
}
