#include "vmhost/vmcache.h"

#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/switches.h"
#include "support/track.h"
#include "support/words.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int home_levels = 5;
const size_t version_size = 256;
const size_t stamp_size = 64;
// The runtime's cache log of a launch that uses a cache stays far below this.
const size_t cache_log_limit = 256 * 1024;

struct vm_cache_plan {
    vm_cache_kind kind;
    bool make;
    char* file;      // the cache
    char* staging;   // what this run writes, put in place as `file` at the end
    char* config;    // the AOT training run's configuration
    char* log;       // the runtime's cache log of a run that uses the cache
    char* java;      // the runtime's launcher, which assembles an AOT cache
    const char* class_path;
    const char* max_heap_mb;
    const char* jop;  // the package's VM options, or null
};

vm_cache_plan plan;
bool planned = false;
std::atomic<bool> finished{false};

// FNV-1a: names the cache by the runtime's home and version, so that
// another runtime, or this one updated in place, starts a cache of its own.
uint64_t name_hash(const char* home, const char* version)
{
    uint64_t hash = 14695981039346656037ull;
    auto add = [&hash](const char* text) {
        for (const char* c = text; *c; c++) hash = (hash ^ uint8_t(*c)) * 1099511628211ull;
    };
    add(home);
    add("\n");
    add(version);
    return hash;
}

char* stamp_path()
{
    return format_new("%s.stamp", plan.file);
}

// "size mtime" of the cache file as it is now; false when it is no regular file.
bool stamp_text(char* text, size_t size)
{
    int64_t length = 0;
    int64_t mtime = 0;
    if (!os_file_info(plan.file, &length, &mtime, nullptr)) return false;
    snprintf(text, size, "%lld %lld", (long long)length, (long long)mtime);
    return true;
}

// True when the cache file is the one this launcher put in place: a file
// edited, replaced or truncated by hand no longer matches its stamp.
bool stamp_matches()
{
    char now[stamp_size];
    char kept[stamp_size];
    char* path = stamp_path();
    bool same = stamp_text(now, sizeof now) && os_read_file_start(path, kept, sizeof kept) > 0 &&
                strcmp(now, kept) == 0;
    track_free(path, 1601);
    return same;
}

void write_stamp()
{
    char text[stamp_size];
    char* path = stamp_path();
    char* temp = format_new("%s.%s", path, run_id);
    os_delete_file(path);
    if (stamp_text(text, sizeof text)) os_write_new_file(path, temp, text);
    track_free(temp, 1602);
    track_free(path, 1603);
}

// The runtimes write their caches read-only.
void remove_cache()
{
    char* path = stamp_path();
    os_allow_delete(plan.file);
    os_delete_file(plan.file);
    os_delete_file(path);
    track_free(path, 1604);
}

void add_option(vm_cache_options* out, char* word)
{
    out->words[out->count++] = word;
}

// The runtime's notes about its caches (a class it cannot archive, a cache
// it cannot map) stay off the console unless the debug log is on. Before
// 24 the tag is "cds" alone; an unknown tag would stop the VM.
void add_quiet_options(vm_cache_options* out)
{
    if (debug_flag) return;
    add_option(out, track_strdup(plan.kind == VM_CACHE_AOT ? "-Xlog:aot*=off,cds*=off" : "-Xlog:cds*=off"));
    // The training run of an AOT cache reports the configuration it wrote
    // through the VM's own console output, not the log.
    if (plan.kind == VM_CACHE_AOT && plan.make) {
        add_option(out, track_strdup("-XX:+UnlockDiagnosticVMOptions"));
        add_option(out, track_strdup("-XX:-DisplayVMOutput"));
    }
}

// Whether the runtime's cache log shows the cache mapped and kept: every
// reason a runtime of 13 to 18 gives for dropping it starts with
// "UseSharedSpaces:", and one of 25 or later logs it as an error.
bool cache_kept(const char* text)
{
    if (plan.kind == VM_CACHE_DYNAMIC)
        return strstr(text, "Mapped dynamic region") && !strstr(text, "UseSharedSpaces:");
    return strstr(text, "Opened AOT cache") && !strstr(text, "][error");
}

// A log that cannot be read gives no verdict: the cache stays.
void judge_use()
{
    auto* text = static_cast<char*>(track_alloc(int32_t(cache_log_limit)));
    if (os_read_file_start(plan.log, text, cache_log_limit) >= 0) {
        if (cache_kept(text)) {
            log_line(log_vm_cache_used, plan.file);
        } else {
            log_line(log_vm_cache_rejected, plan.file);
            remove_cache();
        }
    }
    track_free(text, 1605);
}

// The second step of an AOT cache: the runtime's launcher assembles it from
// the training run's configuration, with the run's own VM options (a cache
// made under other options could be rejected at every launch). The VM
// could start that step itself at exit, but its child prints to the
// console whatever the options say; this one's output goes nowhere.
void assemble_aot_cache()
{
    if (!os_file_exists(plan.config)) return;
    const int fixed = 6;
    char* words[fixed + max_words] = {
        plan.java,
        track_strdup("-XX:AOTMode=create"),
        format_new("-XX:AOTConfiguration=%s", plan.config),
        format_new("-XX:AOTCache=%s", plan.staging),
        format_new("-Djava.class.path=%s", plan.class_path),
        format_new("-Xmx%sm", plan.max_heap_mb),
    };
    char* jop = track_strdup(plan.jop ? plan.jop : "");
    int count = fixed + split_args(jop, words + fixed);
    // Windows takes the command line: every word quoted, so that a word
    // ending in a backslash or holding a quote arrives as it is.
    char* command = track_strdup("");
    for (int i = 0; i < count; i++) command = append_quoted(command, 1606, words[i]);
    intptr_t process = os_start_silent_process(command, words);
    if (process) {
        os_wait_process(process);
        os_close_process(process);
    }
    os_delete_file(plan.config);
    for (int i = 1; i < fixed; i++) track_free(words[i], 1611);
    track_free(jop, 1612);
    track_free(command, 1613);
}

void finish_make()
{
    if (plan.kind == VM_CACHE_AOT) assemble_aot_cache();
    os_allow_delete(plan.file);  // left by a first launch that ran at the same time
    if (os_file_exists(plan.staging) && os_replace_file(plan.staging, plan.file)) {
        write_stamp();
        log_line(log_vm_cache_made, plan.file);
    } else {
        os_allow_delete(plan.staging);
        os_delete_file(plan.staging);
        log_line(log_vm_cache_not_made, plan.file);
    }
}

// Options that choose class sharing: -Xshare:off with a dynamic archive
// to write stops the VM at its start.
bool sets_class_sharing(const char* jop)
{
    const char* const words[] = {"-Xshare:", "SharedArchiveFile", "ArchiveClassesAtExit", "-XX:AOT",
                                 "AutoCreateSharedArchive"};
    for (const char* word : words)
        if (strstr(jop, word)) return true;
    return false;
}

}  // namespace

int feature_version(const char* text)
{
    if (!isdigit(static_cast<unsigned char>(text[0]))) return 0;
    char* end = nullptr;
    long first = strtol(text, &end, 10);
    // Before 9 the version text starts with "1.".
    if (first == 1 && *end == '.' && isdigit(static_cast<unsigned char>(end[1]))) first = strtol(end + 1, nullptr, 10);
    return first > 0 && first < 100000 ? int(first) : 0;
}

vm_cache_kind vm_cache_kind_of(int feature)
{
    if (feature >= 25) return VM_CACHE_AOT;
    if (feature >= 19) return VM_CACHE_AUTO;
    if (feature >= 13) return VM_CACHE_DYNAMIC;
    return VM_CACHE_NONE;
}

char* runtime_home(const char* vm_library, char* version, size_t size)
{
    char* folder = track_strdup(vm_library);
    for (int level = 0; level < home_levels; level++) {
        char* cut = strrchr(folder, os_path_sep);
        if (!cut || cut == folder) break;
        *cut = 0;
        if (os_release_version(folder, version, size)) return folder;
    }
    track_free(folder, 1607);
    return nullptr;
}

void plan_vm_cache(const char* cache_folder, const char* vm_library, const char* class_path,
                   const char* max_heap_mb, const char* jop, vm_cache_options* out)
{
    out->count = 0;
    if (jop && sets_class_sharing(jop)) {
        log_line(log_vm_cache_none, text_vm_cache_own_options);
        return;
    }
    char version[version_size];
    char* home = runtime_home(vm_library, version, sizeof version);
    if (!home) {
        log_line(log_vm_cache_none, text_vm_cache_no_release);
        return;
    }
    int feature = feature_version(version);
    log_line(log_vm_cache_runtime, home, feature);
    vm_cache_kind kind = vm_cache_kind_of(feature);
    if (kind == VM_CACHE_NONE) {
        char* why = feature ? format_new(text_vm_cache_too_old, feature) : format_new(text_vm_cache_unknown, version);
        log_line(log_vm_cache_none, why);
        track_free(why, 1608);
        track_free(home, 1609);
        return;
    }

    plan.kind = kind;
    plan.file = format_new("%s%cvm-%016llx.%s", cache_folder, os_path_sep,
                           (unsigned long long)name_hash(home, version), kind == VM_CACHE_AOT ? "aot" : "jsa");
    plan.staging = format_new("%s.%s.part", plan.file, run_id);
    plan.config = format_new("%s.%s.conf", plan.file, run_id);
    plan.log = format_new("%s%cvmcache.log", temp_folder, os_path_sep);
    plan.java = format_new("%s%c%s", home, os_path_sep, os_java_program);
    plan.class_path = class_path;
    plan.max_heap_mb = max_heap_mb;
    plan.jop = jop;
    track_free(home, 1610);

    // The runtime keeps an archive of this kind up to date itself.
    if (kind == VM_CACHE_AUTO) {
        log_line(os_file_exists(plan.file) ? log_vm_cache_use : log_vm_cache_make, plan.file);
        add_option(out, track_strdup("-XX:+AutoCreateSharedArchive"));
        add_option(out, format_new("-XX:SharedArchiveFile=%s", plan.file));
        add_quiet_options(out);
        return;
    }

    if (os_file_exists(plan.file) && !stamp_matches()) {
        log_line(log_vm_cache_changed, plan.file);
        remove_cache();
    }
    plan.make = !os_file_exists(plan.file);
    log_line(plan.make ? log_vm_cache_make : log_vm_cache_use, plan.file);
    if (kind == VM_CACHE_DYNAMIC) {
        add_option(out, plan.make ? format_new("-XX:ArchiveClassesAtExit=%s", plan.staging)
                                  : format_new("-XX:SharedArchiveFile=%s", plan.file));
    } else if (plan.make) {
        add_option(out, track_strdup("-XX:AOTMode=record"));
        add_option(out, format_new("-XX:AOTConfiguration=%s", plan.config));
    } else {
        add_option(out, format_new("-XX:AOTCache=%s", plan.file));
    }
    // The runtime says in its log whether it mapped the cache; a quoted
    // file name keeps the drive letter's ':' apart from the option's own.
    // A temp path with a quote in it gets no log (and no verdict): the VM
    // would refuse the option and not start.
    if (!plan.make && !strchr(plan.log, '"'))
        add_option(out, format_new(kind == VM_CACHE_AOT ? "-Xlog:aot=info,cds=info:file=\"%s\""
                                                        : "-Xlog:cds=info:file=\"%s\"",
                                   plan.log));
    add_quiet_options(out);
    planned = true;
}

void finish_vm_cache()
{
    if (!planned || finished.exchange(true)) return;
    if (plan.make)
        finish_make();
    else
        judge_use();
}
