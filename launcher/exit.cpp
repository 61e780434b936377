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
        if (temp_folder_foreign)
            log_line(log_removal_skipped, temp_folder);
        else
            start_removal();
    }
    log_line(log_exit, code, (long long)track_outstanding());
    exit(code);
}

void start_removal()
{
    // Windows starts the command line; POSIX gets the words as they are, so
    // that no character of a path can split or end one. Without a run id
    // (after error 22) the child gets two words and deletes nothing.
    // With the debug log on, the child logs its sweep of killed launches'
    // folders too.
    char* command = format_new(debug_flag ? text_removal_command_debug : text_removal_command, module_filename,
                               temp_folder, run_id);
    char debug[] = "-D*";
    char deltree[] = "-deltree*";
    char* words[6];
    int n = 0;
    words[n++] = module_filename;
    if (debug_flag) words[n++] = debug;
    words[n++] = deltree;
    words[n++] = temp_folder;
    words[n++] = run_id[0] ? run_id : nullptr;
    words[n] = nullptr;
    os_start_process(command, words, true);
    track_free(command, 386);
}

void out_of_memory_exit()
{
    launcher_exit(out_of_memory_code);
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
