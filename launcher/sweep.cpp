#include "launcher/sweep.h"

#include "launcher/removal.h"
#include "os/os.h"
#include "payload/extract.h"
#include "support/log.h"
#include "support/messages.h"

#include <cstdio>
#include <cstring>

namespace {

const int path_buffer = 260;
const int mark_buffer = 64;
// A folder changed within the last minute may belong to a launch that is
// still being set up or to a removal child at work.
const int64_t min_age_seconds = 60;
// The sweep runs in the background, but a temp path of thousands of
// entries must not keep the removal child busy for long.
const int64_t budget_ms = 2000;

bool join(char* buf, const char* folder, const char* name)
{
    int n = snprintf(buf, path_buffer, "%s%c%s", folder, os_path_sep, name);
    return n >= 0 && n < path_buffer;
}

bool owner_gone(uint32_t pid, uint64_t start)
{
    uint64_t now = 0;
    int state = os_process_start(pid, &now);
    // Another start time: the id was given to a new process.
    return state == 0 || (state == 1 && now != start);
}

// Everything but the mark goes first, so that a folder the sweep cannot
// empty keeps its mark and a later sweep tries again.
bool remove_run_folder(const char* folder, const char* run_id)
{
    os_dir* dir = os_dir_open(folder);
    if (!dir) return false;
    bool emptied = true;
    char name[path_buffer];
    os_entry_kind kind;
    while (os_dir_next(dir, name, sizeof name, &kind)) {
        char path[path_buffer];
        if (!strcmp(name, ".") || !strcmp(name, "..") || !strcmp(name, owner_mark_name)) continue;
        if (!join(path, folder, name))
            emptied = false;
        else if (kind == OS_ENTRY_DIR)
            emptied &= delete_tree(path, run_id) > 0 && !os_file_exists(path);  // the folder itself went too
        else
            emptied &= os_delete_file(path);
    }
    os_dir_close(dir);
    char mark[path_buffer];
    return emptied && join(mark, folder, owner_mark_name) && os_delete_file(mark) && os_remove_dir(folder);
}

}  // namespace

bool write_owner_mark(const char* folder)
{
    uint64_t start = 0;
    if (os_process_start(os_process_id(), &start) != 1) return false;
    char text[mark_buffer], path[path_buffer], temp[path_buffer];
    snprintf(text, sizeof text, text_owner_mark, unsigned(os_process_id()), (unsigned long long)start);
    return join(path, folder, owner_mark_name) && join(temp, folder, owner_mark_temp) &&
           os_write_new_file(path, temp, text);
}

bool read_owner_mark(const char* folder, uint32_t* pid, uint64_t* start)
{
    char path[path_buffer], text[mark_buffer];
    if (!join(path, folder, owner_mark_name) || os_read_file_start(path, text, sizeof text) <= 0) return false;
    unsigned id = 0;
    unsigned long long ticks = 0;
    if (sscanf(text, text_owner_mark, &id, &ticks) != 2) return false;
    // Only the exact text this launcher writes counts: no part, no extra.
    char again[mark_buffer];
    snprintf(again, sizeof again, text_owner_mark, id, ticks);
    if (strcmp(again, text) != 0) return false;
    *pid = id;
    *start = ticks;
    return true;
}

bool run_id_form(const char* name)
{
    if (strncmp(name, "GV", 2) != 0) return false;
    size_t digits = strspn(name + 2, "0123456789ABCDEF");
    // Uptime seconds (up to 4 digits) and process id (up to 8).
    return digits >= 2 && digits <= 12 && name[2 + digits] == 0;
}

int sweep_run_folders(const char* temp_path, const char* own)
{
    int64_t deadline = os_counter() + budget_ms * os_counter_frequency() / 1000;
    os_dir* dir = os_dir_open(temp_path);
    if (!dir) return 0;
    int removed = 0;
    char name[path_buffer];
    os_entry_kind kind;
    while (os_counter() < deadline && os_dir_next(dir, name, sizeof name, &kind)) {
        char path[path_buffer];
        int64_t age = 0;
        // Links are listed as links, never as folders.
        if (kind != OS_ENTRY_DIR || !run_id_form(name) || !strcmp(name, own) || !join(path, temp_path, name) ||
            !os_own_folder(path, &age) || age < min_age_seconds)
            continue;
        uint32_t pid = 0;
        uint64_t start = 0;
        bool gone;
        if (read_owner_mark(path, &pid, &start)) {
            if (!owner_gone(pid, start)) continue;
            gone = remove_run_folder(path, name);
            if (!gone) log_line(log_sweep_incomplete, path);
        } else {
            // Killed between making the folder and marking it: removing an
            // empty folder loses nothing, and only an empty one goes.
            gone = os_remove_dir(path);
        }
        if (gone) {
            removed++;
            log_line(log_sweep_removed, path);
        }
    }
    os_dir_close(dir);
    return removed;
}

void sweep_after_removal(const char* folder, const char* pattern)
{
    const char* last = strrchr(folder, os_path_sep);
    if (!last || last == folder || strcmp(last + 1, pattern) != 0 || !run_id_form(pattern)) return;
    char temp_path[path_buffer];
    snprintf(temp_path, sizeof temp_path, "%.*s", int(last - folder), folder);
    // The folders of ended launches hold no file that frees itself later.
    end_removal_retries();
    sweep_run_folders(temp_path, pattern);
}
