#include "launcher/exit.h"

#include "launcher/entry.h"
#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/process.h"
#include "support/report.h"
#include "support/switches.h"
#include "support/track.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void launcher_exit(int32_t code)
{
    // Never left: whoever comes second waits here until the process is gone.
    os_exit_lock_enter();
    log_line(log_exiting);
    // Until a temp path is known the text is empty or "." and there is
    // nothing to remove.
    if (strlen(temp_folder) > 1) {
        char* command = format_new(text_removal_command, module_filename, temp_folder, run_id);
        run_command(command, true);
        track_free(command, 386);
    }
    log_line(log_exit, code, track_outstanding());
    exit(code);
}

void exit_hook(int32_t status)
{
    log_line(log_exit_hook, status);
    launcher_exit(status);
}

void abort_hook()
{
    printf("%s", text_abort_line);
    fflush(stdout);
    log_line(log_abort_hook);
    if (!quiet_flag) os_message_box(text_vm_aborting, caption_text(), OS_BOX_ERROR);
    launcher_exit(666);
}
