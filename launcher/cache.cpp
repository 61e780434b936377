// The extraction cache. Below the user's cache folder, our own folder holds
// per package (named by its identity, a hash of every section's type,
// signature and length):
//   ID/              the extracted F and B files and the stamp
//   ID.lock          held shared by every launch that uses ID, for its whole
//                    run; its time is set at each launch
//   ID.stage-RUNID   a launch's private staging folder, renamed to ID when
//                    complete: no launch ever sees a half-written cache
//   ID.trash-RUNID   a cache moved aside to be removed
// A cache is "in use" exactly while some process holds its lock: the lock
// goes with the process however it ends, and the sweep takes it exclusive
// without waiting, so it never removes a cache that a running launch uses.
#include "launcher/cache.h"

#include "launcher/removal.h"
#include "os/os.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/track.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char* const cache_dir_name = "glimvane";
const char* const lock_suffix = ".lock";
const char* const stage_infix = ".stage-";
const char* const trash_infix = ".trash-";
// Names no packed file can take: the packer refuses every name that begins
// with the owner mark's.
const char* const stamp_name = ".glimvane-owner.stamp";
const char* const stamp_temp = ".glimvane-owner.stamp.new";
const int64_t unused_limit_seconds = 30 * 24 * 3600;
// A staging folder this old belongs to a launch killed while extracting.
const int64_t stale_staging_seconds = 24 * 3600;
const size_t name_buffer = 260;
const size_t cache_path_buffer = 1024;
const int lock_attempts = 20;
const int lock_pause_ms = 5;

// A tracked text that grows by doubling: a stamp of thousands of lines costs
// a few copies, not one per line.
struct text_builder {
    char* text;
    size_t length;
    size_t capacity;
};

void add_text(text_builder& b, const char* format, ...) __attribute__((format(printf, 2, 3)));
void add_text(text_builder& b, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        if (b.length + size_t(n) + 1 > b.capacity) {
            size_t capacity = b.capacity ? b.capacity : 256;
            while (b.length + size_t(n) + 1 > capacity) capacity *= 2;
            auto* grown = static_cast<char*>(track_alloc(int32_t(capacity)));
            if (b.text) memcpy(grown, b.text, b.length + 1);
            track_free(b.text, 1501);
            b.text = grown;
            b.capacity = capacity;
        }
        vsnprintf(b.text + b.length, size_t(n) + 1, format, again);
        b.length += size_t(n);
    }
    va_end(again);
}

// The stamp's first lines: its format and every section's signature.
text_builder stamp_head(const launch_state& launch)
{
    text_builder b{nullptr, 0, 0};
    add_text(b, "%s", text_stamp_head);
    for (int32_t i = 0; i < launch.found; i++) {
        const unsigned char* header = launch.table[i];
        add_text(b, text_stamp_section, section_type(header), (unsigned long long)section_signature(header),
                 int(section_payload_length(header)));
    }
    return b;
}

// A section that starts a file of the cache: one per file, also for a file
// in parts.
bool starts_cached_file(const unsigned char* header)
{
    return file_section_type(section_type(header)) && section_starts_file(header);
}

int32_t cached_files(const launch_state& launch)
{
    int32_t count = 0;
    for (int32_t i = 0; i < launch.found; i++) count += starts_cached_file(launch.table[i]);
    return count;
}

// True when the stamp begins with a head of its own format and of as many
// sections as the package's: only their signatures can then differ.
bool whole_head(const launch_state& launch, const char* text)
{
    size_t first = strlen(text_stamp_head);
    if (strncmp(text, text_stamp_head, first) != 0) return false;
    const char* line = text + first;
    for (int32_t i = 0; i < launch.found; i++) {
        char type = 0;
        unsigned long long signature = 0;
        int length = 0, end = 0;
        if (sscanf(line, "section %c %llx %d%n", &type, &signature, &length, &end) != 3 || line[end] != '\n')
            return false;
        line += end + 1;
    }
    return true;
}

// True when the file `name` below `folder` and every folder between them
// are this user's own, writable by no one else, and no links.
bool private_path(const char* folder, const char* name)
{
    char* path = format_new("%s%c%s", folder, os_path_sep, name);
    bool safe = os_private_file(path);
    for (char* cut = path + strlen(folder) + 1; safe && (cut = strpbrk(cut, "/\\")); cut++) {
        char keep = *cut;
        *cut = 0;
        safe = os_folder_check(path) == OS_FOLDER_OWN;
        *cut = keep;
    }
    track_free(path, 1520);
    return safe;
}

// Null when `folder` holds what its stamp records: the same sections and
// every file with the size and time it was written with. Otherwise why not.
const char* stamp_problem(const launch_state& launch, const char* folder, const char* head)
{
    char* path = format_new("%s%c%s", folder, os_path_sep, stamp_name);
    int64_t size = 0;
    bool present = os_file_info(path, &size, nullptr, nullptr);
    if (present && !os_private_file(path)) {
        track_free(path, 1521);
        return text_cache_bad_stamp;
    }
    if (!present || size >= INT32_MAX) {
        track_free(path, 1502);
        return present ? text_cache_bad_stamp : text_cache_no_stamp;
    }
    auto* text = static_cast<char*>(track_alloc(int32_t(size + 1)));
    long n = os_read_file_start(path, text, size_t(size + 1));
    track_free(path, 1503);
    const char* problem = nullptr;
    size_t head_length = strlen(head);
    if (n != long(size))
        problem = text_cache_bad_stamp;
    else if (strncmp(text, head, head_length) != 0)
        problem = whole_head(launch, text) ? text_cache_other_sections : text_cache_bad_stamp;
    int32_t files = 0;
    for (char* line = text + head_length; !problem && *line; files++) {
        char* end = strchr(line, '\n');
        long long want_size = 0, want_time = 0;
        int name_at = 0;
        // The name follows one blank and runs to the line's end, blanks and all.
        if (!end || sscanf(line, "file %lld %lld%n", &want_size, &want_time, &name_at) != 2 ||
            line + name_at >= end || line[name_at] != ' ') {
            problem = text_cache_bad_stamp;
            break;
        }
        *end = 0;
        const char* name = line + name_at + 1;
        char* file = format_new("%s%c%s", folder, os_path_sep, name);
        int64_t have_size = -1, have_time = -1;
        if (!record_path_safe(name))
            problem = text_cache_bad_stamp;
        else if (!private_path(folder, name) || !os_file_info(file, &have_size, &have_time, nullptr) ||
                 have_size != want_size || have_time != want_time)
            problem = format_new(text_cache_file_changed, name);
        track_free(file, 1504);
        line = end + 1;
    }
    if (!problem && files != cached_files(launch)) problem = text_cache_bad_stamp;
    track_free(text, 1505);
    return problem;
}

// A first launch extracts on two cores when the package is large: a
// helper thread takes sections from the same counter as the launch, so
// that large files (a packed runtime's modules and VM library) are
// written, and inflated, side by side; compressed ones in parts, so that
// both threads share even the largest.
const int64_t two_threads_from = 4 << 20;
struct extraction {
    const launch_state* launch;
    const char* staging;
    char** written;  // per section: the path of its file once written
    std::atomic<int32_t> next;
    std::atomic<bool> failed;
    std::atomic<bool> done;
};
extraction job;

void extract_share(int thread)
{
    for (int32_t i; !job.failed.load() && (i = job.next.fetch_add(1)) < job.launch->found;) {
        const unsigned char* header = job.launch->table[i];
        if (!file_section_type(section_type(header))) continue;
        job.written[i] = extract_section(header, job.staging, thread);
        if (!job.written[i]) job.failed.store(true);
    }
}

void helper_share()
{
    extract_share(1);
    job.done.store(true, std::memory_order_release);
}

// Writes every F, B and C section below `staging`, then the stamp (its
// lines in the package's order); false when a file or the stamp could not
// be written.
bool extract_into(const launch_state& launch, const char* staging, const text_builder& head)
{
    job.launch = &launch;
    job.staging = staging;
    job.written = static_cast<char**>(track_alloc(int32_t(size_t(launch.found) * sizeof(char*))));
    job.next.store(0);
    job.failed.store(false);
    job.done.store(false);
    int64_t bytes = 0;
    for (int32_t i = 0; i < launch.found; i++)
        if (file_section_type(section_type(launch.table[i]))) bytes += section_payload_length(launch.table[i]);
    if (bytes < two_threads_from || !start_thread(helper_share)) job.done.store(true);
    extract_share(0);
    while (!job.done.load(std::memory_order_acquire)) os_sleep_ms(1);

    text_builder stamp{nullptr, 0, 0};
    add_text(stamp, "%s", head.text);
    bool written = !job.failed.load();
    size_t prefix = strlen(staging) + 1;
    for (int32_t i = 0; i < launch.found; i++) {
        char* full = job.written[i];
        int64_t size = 0, time = 0;
        // A file in parts has one line, once every part is written.
        if (written && starts_cached_file(launch.table[i])) {
            written = os_file_info(full, &size, &time, nullptr);
            if (written) add_text(stamp, text_stamp_file, (long long)size, (long long)time, full + prefix);
        }
        track_free(full, 1506);
    }
    track_free(job.written, 1526);
    if (written) {
        char* path = format_new("%s%c%s", staging, os_path_sep, stamp_name);
        char* temp = format_new("%s%c%s", staging, os_path_sep, stamp_temp);
        written = os_write_new_file(path, temp, stamp.text);
        track_free(path, 1507);
        track_free(temp, 1508);
    }
    track_free(stamp.text, 1509);
    return written;
}

void remove_folder(const char* folder)
{
    const char* name = strrchr(folder, os_path_sep);
    delete_tree(folder, name ? name + 1 : folder);
}

bool identity_form(const char* name, size_t length)
{
    return length == size_t(package_identity_digits) && strspn(name, "0123456789abcdef") >= length;
}

// True for the staging folder `name` (ID.stage-RUNID at `path`) of a
// launch that no longer runs: no launch holds ID's lock (each holds it
// while it stages), or the folder is a day old.
bool abandoned_staging(const char* base, const char* name, const char* path)
{
    int64_t age = 0;
    if (!os_own_folder(path, &age)) return false;
    if (age > stale_staging_seconds) return true;
    char* lock_path = format_new("%s%c%.*s%s", base, os_path_sep, int(strstr(name, stage_infix) - name), name,
                                 lock_suffix);
    os_file_lock* lock = os_file_exists(lock_path) ? os_lock_file(lock_path, true, false) : nullptr;
    if (lock) os_unlock_file(lock);
    track_free(lock_path, 1522);
    return lock != nullptr;
}

// What killed runs of the VM's class cache leave in the package's folder,
// removed while no launch and no builder uses the package: work files
// ("vm-HASH." names ending in ".part"), and the configuration files and
// caches of an older way of making the class cache (".conf", ".aot").
void remove_vm_leftovers(const char* folder)
{
    os_dir* dir = os_dir_open(folder);
    if (!dir) return;
    char name[name_buffer];
    os_entry_kind kind;
    while (os_dir_next(dir, name, sizeof name, &kind)) {
        size_t length = strlen(name);
        auto ends = [&](const char* end) {
            size_t n = strlen(end);
            return length > n && strcmp(name + length - n, end) == 0;
        };
        if (kind != OS_ENTRY_FILE || strncmp(name, "vm-", 3) != 0 ||
            !identity_form(name + 3, package_identity_digits) || name[3 + package_identity_digits] != '.' ||
            !(ends(".part") || ends(".conf") || ends(".aot") || ends(".aot.stamp") || ends(".tmp")))
            continue;
        char* path = format_new("%s%c%s", folder, os_path_sep, name);
        os_allow_delete(path);
        if (os_delete_file(path)) log_line(log_cache_leftover, path);
        track_free(path, 1523);
    }
    os_dir_close(dir);
}

// The staging folders of the package `id` below `base`, while no launch
// of it runs: left by killed launches.
void remove_own_staging(const char* base, const char* id)
{
    end_removal_retries();
    char* prefix = format_new("%s%s", id, stage_infix);
    text_builder found{nullptr, 0, 0};
    if (os_dir* dir = os_dir_open(base)) {
        char name[name_buffer];
        os_entry_kind kind;
        while (os_dir_next(dir, name, sizeof name, &kind))
            if (kind == OS_ENTRY_DIR && strncmp(name, prefix, strlen(prefix)) == 0)
                add_text(found, "%s%c%s\n", base, os_path_sep, name);
        os_dir_close(dir);
    }
    for (char* line = found.text; line && *line;) {
        char* end = strchr(line, '\n');
        *end = 0;
        if (os_folder_check(line) != OS_FOLDER_REFUSED) {
            log_line(log_cache_leftover, line);
            remove_folder(line);
        }
        line = end + 1;
    }
    track_free(found.text, 1524);
    track_free(prefix, 1525);
}

// Removes the caches of other packages unused for 30 days and not in use,
// the folders moved aside, and the staging folders of killed launches.
void sweep_caches(const char* base, const char* own)
{
    os_dir* dir = os_dir_open(base);
    if (!dir) return;
    // Nothing here is worth waiting for: one attempt per file.
    end_removal_retries();
    text_builder trash{nullptr, 0, 0};
    char name[name_buffer];
    os_entry_kind kind;
    while (os_dir_next(dir, name, sizeof name, &kind)) {
        char path[cache_path_buffer];
        int n = snprintf(path, sizeof path, "%s%c%s", base, os_path_sep, name);
        if (n < 0 || size_t(n) >= sizeof path) continue;
        size_t length = strlen(name);
        int64_t age = 0;
        if (kind == OS_ENTRY_DIR) {
            if (strstr(name, trash_infix) || (strstr(name, stage_infix) && abandoned_staging(base, name, path)))
                add_text(trash, "%s\n", path);
            continue;
        }
        size_t suffix = strlen(lock_suffix);
        if (kind != OS_ENTRY_FILE || length <= suffix || strcmp(name + length - suffix, lock_suffix) != 0 ||
            !identity_form(name, length - suffix) || strncmp(name, own, size_t(package_identity_digits)) == 0 ||
            !os_file_info(path, nullptr, nullptr, &age) || age < unused_limit_seconds)
            continue;
        os_file_lock* lock = os_lock_file(path, true, false);
        if (!lock) continue;  // in use
        char* folder = format_new("%.*s", int(strlen(path) - suffix), path);
        char* aside = format_new("%s%s%s", folder, trash_infix, run_id);
        // Moved aside first: a removal cut short leaves a trash folder,
        // never a damaged cache.
        bool moved = os_folder_check(folder) == OS_FOLDER_MISSING || os_rename(folder, aside);
        if (moved) {
            os_delete_file(path);
            log_line(log_cache_removed, folder);
            add_text(trash, "%s\n", aside);
        }
        os_unlock_file(lock);
        track_free(folder, 1514);
        track_free(aside, 1515);
    }
    os_dir_close(dir);
    for (char* line = trash.text; line && *line;) {
        char* end = strchr(line, '\n');
        *end = 0;
        if (os_folder_check(line) != OS_FOLDER_REFUSED) remove_folder(line);
        line = end + 1;
    }
    track_free(trash.text, 1510);
}

void refuse(const char* path, const char* why)
{
    log_line(log_cache_refused, path, why);
    log_line(log_cache_fallback, temp_folder);
}

// Our own folder below the user's cache, made when missing; null (with the
// refusal logged) when it is missing and cannot be made, a link, not this
// user's, or below a folder that another user can change.
char* cache_base()
{
    char root[cache_path_buffer];
    if (os_user_cache_path(root, sizeof root) == 0) {
        refuse("", text_cache_no_path);
        return nullptr;
    }
    if (!os_is_dir(root)) os_create_dir(root);
    // Another account that can rename or replace a folder above ours could
    // swap our folder for its own between our checks and our use.
    if (!os_path_safe(root)) {
        refuse(root, text_cache_unsafe_way);
        return nullptr;
    }
    char* base = format_new("%s%c%s", root, os_path_sep, cache_dir_name);
    if (os_folder_check(base) == OS_FOLDER_MISSING) os_create_dir(base);
    os_folder_state state = os_folder_check(base);
    if (state != OS_FOLDER_OWN) {
        refuse(base, state == OS_FOLDER_MISSING ? text_cache_not_made : text_cache_not_own);
        track_free(base, 1511);
        return nullptr;
    }
    return base;
}

// True when `folder` is private and holds what its stamp records.
bool folder_ready(const launch_state& launch, const char* folder, const text_builder& head)
{
    return os_folder_check(folder) == OS_FOLDER_OWN && !stamp_problem(launch, folder, head.text);
}

// Extracts the package into a staging folder and renames it into place;
// false (logged) when the launch must fall back.
bool fill_cache(const launch_state& launch, const char* folder, const text_builder& head)
{
    char* staging = format_new("%s%s%s", folder, stage_infix, run_id);
    log_line(log_cache_staging, staging);
    bool filled = os_create_dir(staging) && extract_into(launch, staging, head);
    if (!filled) {
        remove_folder(staging);
        refuse(staging, text_cache_write_failed);
    } else if (folder_ready(launch, folder, head)) {
        // Another launch of the same package finished first.
        log_line(log_cache_taken, folder);
        remove_folder(staging);
    } else {
        char* aside = format_new("%s%s%s", folder, trash_infix, run_id);
        os_folder_state now = os_folder_check(folder);
        bool moved = (now == OS_FOLDER_OWN || now == OS_FOLDER_OPEN) && os_rename(folder, aside);
        if (os_rename(staging, folder)) {
            log_line(log_cache_renamed, folder);
        } else if (folder_ready(launch, folder, head)) {
            log_line(log_cache_taken, folder);
            remove_folder(staging);
        } else {
            remove_folder(staging);
            refuse(folder, text_cache_rename_failed);
            filled = false;
        }
        if (moved) remove_folder(aside);
        track_free(aside, 1512);
    }
    track_free(staging, 1513);
    return filled;
}

}  // namespace

// FNV-1a over each section's type, signature and length: a change of one
// byte in any section changes its signature and so the identity.
void package_identity(const launch_state& launch, char* hex)
{
    uint64_t hash = 0xcbf29ce484222325u;
    auto mix = [&hash](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; i++) {
            hash ^= (value >> (8 * i)) & 0xff;
            hash *= 0x100000001b3u;
        }
    };
    for (int32_t i = 0; i < launch.found; i++) {
        const unsigned char* header = launch.table[i];
        mix(uint64_t(uint8_t(section_type(header))), 1);
        mix(section_signature(header), 8);
        mix(uint64_t(uint32_t(section_payload_length(header))), 4);
    }
    snprintf(hex, package_identity_digits + 1, "%016llx", (unsigned long long)hash);
}

void stage_cache(launch_state& launch)
{
    if (launch.error || !get_var(launch.vars, "faststart", nullptr)) return;
    char* base = cache_base();
    if (!base) return;
    char id[package_identity_digits + 1];
    package_identity(launch, id);
    char* folder = format_new("%s%c%s", base, os_path_sep, id);
    char* lock_path = format_new("%s%s", folder, lock_suffix);
    log_line(log_cache_folder, folder);
    // A launch that finds no other launch or builder of the package (the
    // lock free to take exclusive) removes what killed ones left.
    if (os_file_lock* alone = os_folder_check(folder) == OS_FOLDER_OWN ? os_lock_file(lock_path, true, false) : nullptr) {
        remove_vm_leftovers(folder);
        remove_own_staging(base, id);
        os_unlock_file(alone);
    }
    // Never released: the lock goes with the process, however it ends. A
    // few tries: another launch may hold it exclusive for that cleaning.
    bool ready = false;
    for (int attempt = 0; !ready && attempt < lock_attempts; attempt++) {
        if (attempt) os_sleep_ms(lock_pause_ms);
        ready = os_lock_file(lock_path, false, true) != nullptr;
    }
    if (!ready) refuse(lock_path, text_cache_locked);
    if (ready) sweep_caches(base, id);
    os_folder_state state = os_folder_check(folder);
    if (ready && state == OS_FOLDER_REFUSED) {
        refuse(folder, text_cache_not_own);
        ready = false;
    }
    if (ready) {
        text_builder head = stamp_head(launch);
        const char* problem = state == OS_FOLDER_OWN    ? stamp_problem(launch, folder, head.text)
                              : state == OS_FOLDER_OPEN ? text_cache_open
                                                        : text_cache_no_stamp;
        if (!problem) {
            log_line(log_cache_hit, folder);
        } else {
            log_line(log_cache_miss, problem);
            check_file_sections(launch);
            ready = !launch.error && fill_cache(launch, folder, head);
        }
        track_free(head.text, 1516);
    }
    track_free(base, 1517);
    track_free(lock_path, 1518);
    if (ready)
        launch.cache_folder = folder;
    else
        track_free(folder, 1519);
}
