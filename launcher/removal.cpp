#include "launcher/removal.h"

#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"

#include <cstdio>
#include <cstring>

namespace {

// Milliseconds waited so far, shared by every file of the run: the removal
// child retries for 30 s in all, then gives each file one attempt.
int retry_budget = 0;
const int retry_limit = 30000;
const int retry_pause = 100;
const int path_buffer = 260;

}  // namespace

void end_removal_retries()
{
    retry_budget = retry_limit;
}

int delete_tree(const char* folder, const char* pattern)
{
    int count = 0;
    if (os_dir* dir = os_dir_open(folder)) {
        char name[path_buffer];
        os_entry_kind kind;
        while (os_dir_next(dir, name, sizeof name, &kind)) {
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
            char path[path_buffer];
            int n = snprintf(path, sizeof path, "%s%c%s", folder, os_path_sep, name);
            if (n < 0 || n >= path_buffer) continue;  // too long for the removal: left behind
            if (kind == OS_ENTRY_DIR) {
                count += delete_tree(path, pattern);
                continue;
            }
            // A link is removed like a file; what it points to is never touched.
            if (!strstr(path, pattern)) continue;
            bool gone = os_delete_file(path);
            while (!gone && retry_budget < retry_limit) {
                os_sleep_ms(retry_pause);
                retry_budget += retry_pause;
                gone = os_delete_file(path);
            }
            if (gone)
                count++;
            else
                log_line(log_delete_error, path);
        }
        os_dir_close(dir);
    }
    if (os_remove_dir(folder)) count++;
    return count;
}
