// Files of a runtime's class cache in the package's folder, P being
// FOLDER/vm-HASH:
//   P.jsa, P.jsa.stamp   the archive and its size and time as put in place
//   P.classes            the class list the archive is dumped from
//   P.classes.RUNID.part what a launch records; a killed one leaves it
//   P.uses               launches that used the archive since it was made
//   P.jsa.build          the builder's lock: one builder per archive
//   P.jsa.build.*.part   the builder's work files
//   P.jsa.failed         the runtime could not dump an archive: no launch
//                        records again for a day
// Every name that a killed process can leave ends in ".part", and the
// launch that finds the package unused removes them (launcher/cache.cpp).
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
// A class list longer than this is no list of ours.
const int64_t class_list_limit = 64 * 1024 * 1024;
const int64_t failed_pause_seconds = 24 * 3600;
// A dump takes seconds; one that hangs is stopped and counts as failed, so
// that no builder holds its lock, and no launch starts another, for ever.
const uint32_t dump_limit_ms = 10 * 60 * 1000;
// A launch that uses the archive records its classes on its 1st, 2nd, 4th,
// 8th, 16th launch and every 32nd after: recording costs about 5% of a
// launch, and a workload that changed is still seen soon.
const long sample_every = 32;
// The archive is dumped again when a recorded launch loaded this share of
// its classes (and at least this many) from outside the archive's list.
const int lacking_share = 20;  // 1 in 20: 5%
const int lacking_least = 16;

struct vm_cache_plan {
    int feature;
    bool have;       // an archive is mapped by this run
    bool record;     // this run records the classes it loads
    char* prefix;    // FOLDER/vm-HASH
    char* file;      // the archive
    char* record_file;
    char* log;       // the runtime's cache log of a run that uses the archive
    char* home;
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

// "size mtime" of `file` as it is now; false when it is no private regular file.
bool stamp_text(const char* file, char* text, size_t size)
{
    int64_t length = 0;
    int64_t mtime = 0;
    if (!os_private_file(file) || !os_file_info(file, &length, &mtime, nullptr)) return false;
    snprintf(text, size, "%lld %lld", (long long)length, (long long)mtime);
    return true;
}

// True when the archive is the one the builder put in place: a file
// edited, replaced or truncated by hand no longer matches its stamp.
bool stamp_matches(const char* file)
{
    char now[stamp_size];
    char kept[stamp_size];
    char* path = format_new("%s.stamp", file);
    bool same = stamp_text(file, now, sizeof now) && os_private_file(path) &&
                os_read_file_start(path, kept, sizeof kept) > 0 && strcmp(now, kept) == 0;
    track_free(path, 1601);
    return same;
}

// Replaces `path` with a new file of `text`, through a work file of its own.
bool replace_with_text(const char* path, const char* text)
{
    char* work = format_new("%s.%s.new.part", path, run_id[0] ? run_id : "build");
    char* temp = format_new("%s.tmp", work);
    os_delete_file(work);
    bool done = os_write_new_file(work, temp, text) && os_replace_file(work, path);
    if (!done) os_delete_file(work);
    track_free(work, 1602);
    track_free(temp, 1603);
    return done;
}

// The runtimes write their archives read-only.
void remove_archive(const char* file)
{
    char* stamp = format_new("%s.stamp", file);
    os_allow_delete(file);
    os_delete_file(file);
    os_delete_file(stamp);
    track_free(stamp, 1604);
}

// A whole file as a tracked text, or null; unless it is the runtime's own,
// only a private file of this user.
char* read_text(const char* path, bool runtime_file = false)
{
    int64_t size = 0;
    if ((!runtime_file && !os_private_file(path)) || !os_file_info(path, &size, nullptr, nullptr) ||
        size > class_list_limit)
        return nullptr;
    auto* text = static_cast<char*>(track_alloc(int32_t(size + 1)));
    if (os_read_file_start(path, text, size_t(size + 1)) != long(size)) {
        track_free(text, 1605);
        return nullptr;
    }
    return text;
}

// A recorded list up to its last whole line: the VM may not have written
// the rest when the run ended through System.exit.
void cut_partial_line(char* text)
{
    char* last = strrchr(text, '\n');
    *(last ? last + 1 : text) = 0;
}

void add_option(vm_cache_options* out, char* word)
{
    out->words[out->count++] = word;
}

// The runtime's notes about its caches (a class it cannot archive, a cache
// it cannot map) stay off the console unless the debug log is on. Before
// 24 the tag is "cds" alone; an unknown tag would stop the VM.
const char* quiet_option(int feature)
{
    return feature >= 24 ? "-Xlog:aot*=off,cds*=off" : "-Xlog:cds*=off";
}

// Whether the runtime's cache log shows the archive mapped or refused:
// every reason a runtime of 13 to 18 gives for dropping it starts with
// "UseSharedSpaces:", and a later one logs it as an error. A log without
// either (empty: a full temp folder; cut short) gives no verdict.
enum verdict { VERDICT_NONE, VERDICT_USED, VERDICT_REJECTED };
verdict verdict_of(const char* text)
{
    if (strstr(text, "UseSharedSpaces:") || strstr(text, "][error")) return VERDICT_REJECTED;
    return strstr(text, "Mapped static") ? VERDICT_USED : VERDICT_NONE;
}

void judge_use()
{
    auto* text = static_cast<char*>(track_alloc(int32_t(cache_log_limit)));
    verdict v = os_read_file_start(plan.log, text, cache_log_limit) >= 0 ? verdict_of(text) : VERDICT_NONE;
    if (v == VERDICT_USED) log_line(log_vm_cache_used, plan.file);
    if (v == VERDICT_REJECTED) {
        log_line(log_vm_cache_rejected, plan.file);
        remove_archive(plan.file);
    }
    track_free(text, 1606);
}

// The class named by a list line: "java/lang/Object id: 0" and
// "java/lang/Object" name the same one. Lines of other kinds ("@...",
// comments) name none: length 0.
size_t class_key(const char* line, const char* end)
{
    if (line == end || *line == '#' || *line == '@') return 0;
    const char* blank = static_cast<const char*>(memchr(line, ' ', size_t(end - line)));
    return size_t((blank ? blank : end) - line);
}

bool line_has(const char* line, const char* end, const char* word)
{
    size_t n = strlen(word);
    for (const char* at = line; at + n <= end; at++)
        if (memcmp(at, word, n) == 0) return true;
    return false;
}

int compare_keys(const void* a, const void* b)
{
    const char* x = *static_cast<const char* const*>(a);
    const char* y = *static_cast<const char* const*>(b);
    size_t nx = class_key(x, x + strcspn(x, "\n"));
    size_t ny = class_key(y, y + strcspn(y, "\n"));
    int c = memcmp(x, y, nx < ny ? nx : ny);
    return c ? c : (nx < ny ? -1 : nx > ny);
}

// The lines of `text` that name a class, sorted by class; a tracked array.
const char** sorted_classes(const char* text, int* count)
{
    int lines = 1;
    for (const char* c = text; *c; c++) lines += *c == '\n';
    auto** keys = static_cast<const char**>(track_alloc(int32_t(lines * sizeof(char*))));
    *count = 0;
    for (const char* line = text; *line;) {
        const char* end = line + strcspn(line, "\n");
        if (class_key(line, end)) keys[(*count)++] = line;
        line = *end ? end + 1 : end;
    }
    qsort(keys, size_t(*count), sizeof(char*), compare_keys);
    return keys;
}

// The archive's list grown by the classes of `recorded` it lacks, or null
// when it lacks too few to be worth dumping again. The recorded list comes
// first as it is (its ids name its own lines); the older list's classes
// follow without their ids, those of other loaders (with a "source:") left
// out, as an id of the older list could clash with one of the new.
char* grown_list(const char* kept, const char* recorded)
{
    int kept_count = 0, recorded_count = 0;
    const char** old_keys = sorted_classes(kept, &kept_count);
    const char** new_keys = sorted_classes(recorded, &recorded_count);
    int lacking = 0;
    for (int i = 0; i < recorded_count; i++)
        lacking += !bsearch(&new_keys[i], old_keys, size_t(kept_count), sizeof(char*), compare_keys);
    char* grown = nullptr;
    if (lacking >= lacking_least && lacking * lacking_share >= recorded_count) {
        log_line(log_vm_cache_grows, plan.file, lacking, recorded_count);
        // Copied, not formatted: a formatted text is cut at max_text_length.
        size_t used = strlen(recorded);
        grown = static_cast<char*>(track_alloc(int32_t(used + strlen(kept) + 2)));
        memcpy(grown, recorded, used);
        if (used && grown[used - 1] != '\n') grown[used++] = '\n';
        for (int i = 0; i < kept_count; i++) {
            const char* line = old_keys[i];
            const char* end = line + strcspn(line, "\n");
            size_t key = class_key(line, end);
            if (line_has(line, end, " source:") ||
                bsearch(&old_keys[i], new_keys, size_t(recorded_count), sizeof(char*), compare_keys))
                continue;
            memcpy(grown + used, line, key);
            used += key;
            grown[used++] = '\n';
        }
    }
    track_free(old_keys, 1609);
    track_free(new_keys, 1610);
    return grown;
}

// A run that recorded its classes: the first list goes to the builder as
// it is; a later one only when the archive lacks many of its classes.
void finish_record()
{
    char* recorded = read_text(plan.record_file);
    if (recorded) cut_partial_line(recorded);
    char* list = format_new("%s.classes", plan.prefix);
    bool build = false;
    if (recorded && *recorded) {
        char* kept = plan.have ? read_text(list) : nullptr;
        if (!kept) {
            build = replace_with_text(list, recorded);
        } else if (char* grown = grown_list(kept, recorded)) {
            build = replace_with_text(list, grown);
            track_free(grown, 1611);
        }
        track_free(kept, 1612);
    }
    os_delete_file(plan.record_file);
    if (build) {
        vm_cache_job job = {plan.home, list, plan.file, plan.class_path, plan.max_heap_mb, plan.jop};
        log_line(start_vm_cache_builder(job) ? log_vm_cache_builder : log_vm_cache_no_builder, plan.file);
    }
    track_free(recorded, 1613);
    track_free(list, 1614);
}

// Counts the launches that use the archive; true for those that record.
bool sampled_use()
{
    char* path = format_new("%s.uses", plan.prefix);
    char text[stamp_size] = "";
    if (os_private_file(path)) os_read_file_start(path, text, sizeof text);
    long uses = strtol(text, nullptr, 10) + 1;
    snprintf(text, sizeof text, "%ld", uses);
    replace_with_text(path, text);
    track_free(path, 1615);
    return uses > 0 && ((uses & (uses - 1)) == 0 || uses % sample_every == 0);
}

// A new empty file at `path`; false when it cannot be made.
bool made_empty(const char* path)
{
    os_delete_file(path);
    os_file* made = os_file_create(path);
    if (made) os_file_close(made);
    return made != nullptr;
}

// Options that choose class sharing: -Xshare:off with an archive to map
// stops the VM at its start.
bool sets_class_sharing(const char* jop)
{
    const char* const words[] = {"-Xshare:", "SharedArchiveFile", "ArchiveClassesAtExit", "-XX:AOT",
                                 "AutoCreateSharedArchive", "DumpLoadedClassList", "SharedClassListFile"};
    for (const char* word : words)
        if (strstr(jop, word)) return true;
    return false;
}

// True when the builder failed on this archive less than a day ago.
bool failed_lately(const char* file)
{
    char* path = format_new("%s.failed", file);
    int64_t age = 0;
    bool lately = os_file_info(path, nullptr, nullptr, &age) && age < failed_pause_seconds;
    track_free(path, 1616);
    return lately;
}

// The builder's dump of job.archive from `list` (a file holding the job's
// classes and the runtime's default list) into `work`; true when the
// runtime wrote it.
bool dump_archive(const vm_cache_job& job, const char* list, const char* work)
{
    char version[version_size];
    int feature = os_release_version(job.home, version, sizeof version) ? feature_version(version) : 0;
    char* words[8 + max_words];
    int count = 0;
    words[count++] = format_new("%s%c%s", job.home, os_path_sep, os_java_program);
    words[count++] = track_strdup("-Xshare:dump");
    words[count++] = format_new("-XX:SharedClassListFile=%s", list);
    words[count++] = format_new("-XX:SharedArchiveFile=%s", work);
    words[count++] = format_new("-Xmx%sm", job.max_heap_mb ? job.max_heap_mb : "256");
    words[count++] = track_strdup(quiet_option(feature));
    // From 24 on the archive can hold the classes linked, as an AOT cache does.
    if (feature >= 24) words[count++] = track_strdup("-XX:+AOTClassLinking");
    if (job.class_path) {
        words[count++] = track_strdup("-cp");
        words[count++] = track_strdup(job.class_path);
    }
    int own = count;
    char* jop = track_strdup(job.jop ? job.jop : "");
    count += split_args(jop, words + count);
    char* command = track_strdup("");
    for (int i = 0; i < count; i++) command = append_quoted(command, 1617, words[i]);
    intptr_t process = os_start_silent_process(command, words);
    bool done = false;
    if (process) {
        done = os_wait_process_limited(process, dump_limit_ms) == 0;
        os_close_process(process);
    }
    int64_t size = 0;
    done = done && os_file_info(work, &size, nullptr, nullptr) && size > 0;
    for (int i = 0; i < own; i++) track_free(words[i], 1618);
    track_free(jop, 1621);
    track_free(command, 1622);
    return done;
}

// A file beside `archive`: P.jsa gives P`suffix`.
char* beside_archive(const char* archive, const char* suffix)
{
    size_t length = strlen(archive);
    size_t cut = length > 4 && strcmp(archive + length - 4, ".jsa") == 0 ? length - 4 : length;
    return format_new("%.*s%s", int(cut), archive, suffix);
}

// The text the builder dumps from: the job's list, then the runtime's
// default list (the classes every program starts with), so that no launch
// maps less than the runtime's own archive holds.
char* dump_list(const vm_cache_job& job)
{
    char* defaults_path = format_new("%s%clib%cclasslist", job.home, os_path_sep, os_path_sep);
    char* own = job.class_list ? read_text(job.class_list) : nullptr;
    char* defaults = read_text(defaults_path, true);
    size_t own_length = own ? strlen(own) : 0;
    size_t defaults_length = defaults ? strlen(defaults) : 0;
    // Copied, not formatted: a formatted text is cut at max_text_length.
    auto* text = static_cast<char*>(track_alloc(int32_t(own_length + defaults_length + 2)));
    if (own) memcpy(text, own, own_length);
    if (own_length && own[own_length - 1] != '\n') text[own_length++] = '\n';
    if (defaults) memcpy(text + own_length, defaults, defaults_length);
    track_free(defaults_path, 1625);
    track_free(own, 1626);
    track_free(defaults, 1627);
    return text;
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
    return feature >= 13 ? VM_CACHE_STATIC : VM_CACHE_NONE;
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
    track_free(folder, 1628);
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
    if (vm_cache_kind_of(feature) == VM_CACHE_NONE) {
        char* why = feature ? format_new(text_vm_cache_too_old, feature) : format_new(text_vm_cache_unknown, version);
        log_line(log_vm_cache_none, why);
        track_free(why, 1629);
        track_free(home, 1630);
        return;
    }

    plan.feature = feature;
    plan.prefix = format_new("%s%cvm-%016llx", cache_folder, os_path_sep, (unsigned long long)name_hash(home, version));
    plan.file = format_new("%s.jsa", plan.prefix);
    plan.record_file = format_new("%s.classes.%s.part", plan.prefix, run_id);
    plan.log = format_new("%s%cvmcache.log", temp_folder, os_path_sep);
    plan.home = home;
    plan.class_path = class_path;
    plan.max_heap_mb = max_heap_mb;
    plan.jop = jop;

    if (os_file_exists(plan.file) && !stamp_matches(plan.file)) {
        log_line(log_vm_cache_changed, plan.file);
        remove_archive(plan.file);
    }
    plan.have = os_file_exists(plan.file);
    if (!plan.have && failed_lately(plan.file)) {
        log_line(log_vm_cache_none, text_vm_cache_failed);
        return;
    }
    log_line(plan.have ? log_vm_cache_use : log_vm_cache_make, plan.file);
    if (plan.have) add_option(out, format_new("-XX:SharedArchiveFile=%s", plan.file));
    plan.record = !plan.have || sampled_use();
    // Made here, so that a file the VM could not open never makes it warn.
    plan.record = plan.record && made_empty(plan.record_file);
    if (plan.record) add_option(out, format_new("-XX:DumpLoadedClassList=%s", plan.record_file));
    // The runtime says in its log whether it mapped the archive; a quoted
    // file name keeps the drive letter's ':' apart from the option's own.
    // A temp path with a quote in it gets no log (and no verdict): the VM
    // would refuse the option and not start, as it would a log file it
    // cannot open, so the file is made here first.
    if (plan.have && !strchr(plan.log, '"') && made_empty(plan.log))
        add_option(out, format_new("-Xlog:cds=info:file=\"%s\"", plan.log));
    if (!debug_flag) add_option(out, track_strdup(quiet_option(feature)));
    planned = true;
}

void finish_vm_cache()
{
    if (!planned || finished.exchange(true)) return;
    if (plan.have) judge_use();
    if (plan.record) finish_record();
}

void drop_vm_cache()
{
    if (!planned || !plan.have || finished.exchange(true)) return;
    log_line(log_vm_cache_rejected, plan.file);
    remove_archive(plan.file);
    os_delete_file(plan.record_file);
}

bool start_vm_cache_builder(const vm_cache_job& job)
{
    char mode[] = "-vmcache*";
    const char* texts[] = {job.home, job.class_list, job.archive, job.class_path, job.max_heap_mb, job.jop};
    char* words[2 + 6 + 1];
    int n = 0;
    words[n++] = module_filename;
    words[n++] = mode;
    for (const char* text : texts) words[n++] = track_strdup(text ? text : "");
    words[n] = nullptr;
    char* command = track_strdup("");
    for (int i = 0; i < n; i++) command = append_quoted(command, 1631, words[i]);
    // It prints nothing and holds none of the launch's handles: a pipe the
    // launch writes to ends with the launch.
    intptr_t process = os_start_background_process(command, words);
    if (process) os_close_process(process);
    for (int i = n - 6; i < n; i++) track_free(words[i], 1632);
    track_free(command, 1633);
    return process != 0;
}

void run_vm_cache_builder(int count, char** words)
{
    if (count != 6) return;
    auto text = [words](int i) -> const char* { return words[i][0] ? words[i] : nullptr; };
    vm_cache_job job = {words[0], text(1), words[2], text(3), text(4), text(5)};
    os_lower_priority();
    // Held shared, as a launch holds it: the package's cache is in use, so
    // no launch removes it, or the builder's work files, meanwhile.
    char* folder = track_strdup(job.archive);
    if (char* cut = strrchr(folder, os_path_sep)) *cut = 0;
    char* package_lock = format_new("%s.lock", folder);
    char* lock = format_new("%s.build", job.archive);
    char* list = format_new("%s.build.classes.part", job.archive);
    char* work = format_new("%s.build.jsa.part", job.archive);
    // The folder is checked again before the archive is put in place: it
    // may have been removed, or replaced, while the runtime dumped.
    auto folder_own = [folder] { return os_folder_check(folder) == OS_FOLDER_OWN; };
    if (folder_own() && os_lock_file(package_lock, false, false) && os_lock_file(lock, true, false)) {
        log_line(log_vm_cache_building, job.archive);
        char* text = dump_list(job);
        char* temp = format_new("%s.tmp", list);
        os_delete_file(list);
        os_allow_delete(work);
        os_delete_file(work);
        char* failed = format_new("%s.failed", job.archive);
        if (os_write_new_file(list, temp, text) && dump_archive(job, list, work)) {
            os_allow_delete(job.archive);
            if (folder_own() && os_replace_file(work, job.archive)) {
                char stamp[stamp_size];
                char* stamp_path = format_new("%s.stamp", job.archive);
                char* uses = beside_archive(job.archive, ".uses");
                if (stamp_text(job.archive, stamp, sizeof stamp)) replace_with_text(stamp_path, stamp);
                os_delete_file(uses);
                os_delete_file(failed);
                log_line(log_vm_cache_made, job.archive);
                track_free(stamp_path, 1634);
                track_free(uses, 1635);
            }
        } else {
            replace_with_text(failed, "");
            log_line(log_vm_cache_not_made, job.archive);
        }
        os_allow_delete(work);
        os_delete_file(work);
        os_delete_file(list);
        track_free(failed, 1636);
        track_free(temp, 1637);
        track_free(text, 1638);
    }
    track_free(folder, 1639);
    track_free(package_lock, 1640);
    track_free(lock, 1641);
    track_free(list, 1642);
    track_free(work, 1643);
}
