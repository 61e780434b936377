// The launch driver: the fixed sequence of launch stages from the identity
// log through the extraction of the file sections and the runtime choice to
// the hand-off to the VM or the report, and the exit.
#include "launcher/driver.h"

#include "launcher/cache.h"
#include "launcher/entry.h"
#include "launcher/exit.h"
#include "launcher/sweep.h"
#include "os/os.h"
#include "payload/extract.h"
#include "payload/format.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "runtime/discovery.h"
#include "runtime/getjava.h"
#include "support/config.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/console.h"
#include "support/report.h"
#include "support/switches.h"
#include "support/track.h"
#include "vmhost/vmcache.h"
#include "vmhost/instance.h"
#include "vmhost/splash.h"
#include "vmhost/vmhost.h"

#include <cstdio>
#include <cstring>

namespace {

const int32_t max_sections = 100000;
const size_t classpath_buffer = 1000;
const size_t path_buffer = 2048;
const size_t cwd_buffer = 360;
const size_t system_folders_buffer = 4096;
const char list_sep_text[] = {os_list_sep, 0};
// Run ids tried for the temp folder before error 40: one guessable, the
// others drawn at random.
const int run_id_tries = 8;
char default_heap[] = "256";
char default_minver[] = "1.4";
char default_maxver[] = "9999";

// Sets the launch error text unless an earlier stage set one: the first
// error wins.
void fail(launch_state& launch, const char* text)
{
    if (!launch.error) launch.error = text;
}

bool count_valid(int32_t count)
{
    return count >= 1 && count <= max_sections;
}

// The value of an environment variable as a tracked text, or null when it is
// unset or empty. It is read into a buffer of `size` bytes first; a longer
// value is read again into a block that holds it, never cut or dropped.
char* env_text(const char* name, size_t size)
{
    auto* value = static_cast<char*>(track_alloc(int32_t(size)));
    size_t n = os_get_env(name, value, size);
    if (n >= size) {
        track_free(value, 1331);
        size = n;
        value = static_cast<char*>(track_alloc(int32_t(size)));
        n = os_get_env(name, value, size);
    }
    if (n == 0 || n >= size) {
        track_free(value, 1332);
        return nullptr;
    }
    return value;
}

// Package data may separate folders with '\' as well; on POSIX that becomes
// the system's separator (a no-op on Windows).
void to_path_sep(char* path)
{
    for (char* c = path; *c; c++)
        if (*c == '\\') *c = os_path_sep;
}

// 1. Identity log (always).
void stage_identity(int count, char** words)
{
    log_line(log_app_name, display_name_text());
    log_line(log_original_name, original_name_text());
    for (int i = 0; i < count; i++) log_line(log_arg, i, words[i]);
}

// 2. Module filename (always).
void stage_module_filename(launch_state& launch)
{
    module_filename[0] = 0;
    if (os_module_filename(module_filename, module_filename_size) == 0)
        fail(launch, format_new(text_error_20, os_last_error()));
    log_line(log_module_filename, module_filename);
}

// 3. Exe name now and module dir: defaults and log always, split without error.
void stage_names(launch_state& launch)
{
    launch.exe_name_now = original_name_text();
    strcpy(launch.module_dir, ".");
    if (!launch.error) {
        if (char* last = strrchr(module_filename, os_path_sep)) {
            launch.exe_name_now = track_strdup(last + 1);
            size_t n = size_t(last - module_filename);  // below 260: the module filename fits 260
            memcpy(launch.module_dir, module_filename, n);
            launch.module_dir[n] = 0;
        }
    }
    log_line(log_exe_name_now, launch.exe_name_now);
    log_line(log_module_dir, launch.module_dir);
}

// 4. Mapping and its checks (without error).
void stage_map(launch_state& launch)
{
    if (launch.error) return;
    launch.length = map_self(module_filename, &launch.base);
    log_line(log_mapped_length, launch.length);
    if (launch.length < 0)
        fail(launch, format_new(text_error_21, launch.exe_name_now));
    else if (launch.length < config_min_length())
        fail(launch, format_new(text_error_90, launch.exe_name_now));
    else if (!count_valid(config_expected_sections()))
        fail(launch, format_new(text_error_96, config_expected_sections()));
}

// 5. Section table (always). A count outside 1..100000 (error 96) gets an
// empty table: nothing reads it then.
void stage_section_table(launch_state& launch)
{
    int32_t count = config_expected_sections();
    int32_t entries = count_valid(count) ? count : 0;
    launch.table = static_cast<const unsigned char**>(
        track_alloc(int32_t(entries * sizeof(const unsigned char*))));
    launch.found = 0;
}

// 6. Section scan (without error). The payloads of file sections behind
// the Vars section are checked after it (check_file_sections): a fast-start
// launch that finds its cache complete never reads them, and their check
// is what a large package costs each later launch (a packed runtime: 15 to
// 30 ms). Every header is checked here, and every other payload.
void stage_scan(launch_state& launch)
{
    if (launch.error) return;
    int32_t expected = config_expected_sections();
    int32_t offset = find_header(launch.base, 0, launch.length);
    while (offset != 0) {
        const unsigned char* header = launch.base + offset;
        bool later = launch.found > 0 && launch.found < expected && section_type(launch.table[0]) == 'V' &&
                     file_section_type(section_type(header));
        if (!later && !payload_signed(header)) {
            fail(launch, format_new(text_error_91, 91));
            return;
        }
        launch.unchecked_files = launch.unchecked_files || later;
        if (launch.found < expected) launch.table[launch.found] = header;
        launch.found++;
        // The scan keeps the payload inside the file, so this stays below the length.
        offset = find_header(launch.base, offset + section_header_size + section_payload_length(header),
                             launch.length);
    }
    // A failed signature anywhere wins over the count, as when every
    // payload is checked on the way.
    if (launch.found != expected) check_file_sections(launch);
    if (launch.found != expected)
        fail(launch, format_new(text_error_97, expected, launch.exe_name_now, launch.found));
}

// 8. Heap default (without error).
void stage_heap(launch_state& launch)
{
    if (launch.error) return;
    if (!max_heap) max_heap = get_var(launch.vars, "mx", default_heap);
}

// 11. Class path reset (always); its result is not examined.
void stage_classpath_reset()
{
    os_set_env(os_env_classpath, "");
}

// 13. Working directory log (always).
void stage_cwd_log()
{
    char cwd[cwd_buffer];
    if (os_get_cwd(cwd, sizeof cwd) > 0) log_line(log_cwd, cwd);
}

// 15. File extraction (without error). A write failure replaces an earlier
// one of this stage, and the later sections are still written. Each file
// streams from the mapping through a fixed buffer: no block as large as
// the file. With the extraction cache in use only the installer is left,
// and the file sections' signatures are checked only when the cache was
// missed (see stage_cache).
void stage_extract(launch_state& launch)
{
    if (!launch.cache_folder) check_file_sections(launch);
    if (launch.error) return;
    for (int32_t i = 0; i < launch.found; i++) {
        const unsigned char* header = launch.table[i];
        char type = section_type(header);
        bool file = file_section_type(type);
        if (type != 'J' && (!file || launch.cache_folder)) continue;
        char* path = extract_section(header);
        if (!path) {
            // Only this stage's own text can be here: it runs without error.
            char* replaced = const_cast<char*>(launch.error);
            launch.error = format_new(text_error_41, os_last_error());
            track_free(replaced, 1384);
        }
        if (type == 'J') getjava_path = path;
    }
}

}  // namespace

// 7. The Vars text (without error): the first section must be V. The copy
// ends at the payload's NUL, and at the payload's end when a damaged
// package has none.
void stage_vars(launch_state& launch)
{
    if (launch.error) return;
    const unsigned char* header = launch.table[0];
    if (section_type(header) != 'V') {
        fail(launch, text_error_98);
        return;
    }
    const unsigned char* payload = header + section_header_size;
    int32_t length = section_payload_length(header);
    const void* nul = memchr(payload, 0, size_t(length));
    size_t n = nul ? size_t(static_cast<const unsigned char*>(nul) - payload) : size_t(length);
    launch.vars = static_cast<char*>(track_alloc(int32_t(n + 1)));
    memcpy(launch.vars, payload, n);
}

// After the Vars text: a package without fast start has its file
// sections checked now, before anything is made for the launch; a
// fast-start one when its cache is missed.
void stage_file_signatures(launch_state& launch)
{
    char* fast = get_var(launch.vars, "faststart", nullptr);
    if (!fast) check_file_sections(launch);
    track_free(fast, 1348);
}

void check_file_sections(launch_state& launch)
{
    if (launch.error || !launch.unchecked_files) return;
    launch.unchecked_files = false;
    int32_t expected = config_expected_sections();
    for (int32_t i = 1; i < launch.found && i < expected; i++) {
        const unsigned char* header = launch.table[i];
        if (file_section_type(section_type(header)) && !payload_signed(header)) {
            fail(launch, format_new(text_error_91, 91));
            return;
        }
    }
}

// After the Vars text (without error): a package that needs a later
// format than this launcher reads holds sections it would pass over.
void stage_format(launch_state& launch)
{
    if (launch.error) return;
    char* needs = get_var(launch.vars, needs_key, nullptr);
    if (needs && parse_version(needs, 0) > parse_version(launcher_format(), 0))
        fail(launch, format_new(text_error_92, launch.exe_name_now, needs, launcher_format()));
    track_free(needs, 1390);
}

// 9. Temp folder (without error): the system temp path, a separator and
// the run id, created private to this run.
void stage_temp_folder(launch_state& launch)
{
    if (launch.error) return;
    strcpy(temp_folder, ".");
    size_t n = os_temp_path(temp_folder, temp_path_limit);
    if (n == 0) {
        int error = os_last_error();
        strcpy(temp_folder, ".");
        fail(launch, format_new(text_error_23, error));
        return;
    }
    // The layer keeps room for the separator: n + 1 < 230.
    if (temp_folder[n - 1] != os_path_sep) {
        temp_folder[n] = os_path_sep;
        temp_folder[n + 1] = 0;
    }
    log_line(log_temp_path, temp_folder);
    if (!os_is_dir(temp_folder)) {
        fail(launch, format_new(text_error_22, temp_folder));
        return;
    }
    // The first run id is the uptime and the process id. Anyone can guess
    // that one and take its name first (a folder, a file, a link): a name
    // that exists already gets a fresh, unpredictable run id of the same
    // form instead, a few times. The removal child and the control channel
    // follow the run id in use.
    size_t path_length = strlen(temp_folder);
    unsigned high = unsigned((os_uptime_ms() / 1000) & 0xFFFF);
    unsigned low = unsigned(os_process_id());
    for (int attempt = 1;; attempt++) {
        snprintf(run_id, run_id_size, "GV%X%X", high, low);
        strcpy(temp_folder + path_length, run_id);  // below 230 + 14 bytes: fits 292
        if (os_create_dir(temp_folder)) break;
        int error = os_last_error();
        uint16_t fresh[3];
        if (error != os_error_exists || attempt == run_id_tries || !os_random(fresh, sizeof fresh)) {
            log_line(log_temp_folder, temp_folder);
            // Not this run's folder: it is never removed.
            temp_folder_foreign = true;
            fail(launch, format_new(text_error_40, error, temp_folder));
            return;
        }
        log_line(log_temp_folder_taken, temp_folder);
        high = fresh[0];
        low = unsigned(fresh[1]) << 16 | fresh[2];
    }
    log_line(log_temp_folder, temp_folder);
    // Without its mark a folder left by a killed launch is never swept;
    // the launch itself goes on.
    if (!write_owner_mark(temp_folder)) log_line(log_owner_mark_failed, os_last_error());
}

// 10. Class path text (without error): the temp folder, each piece of
// "jars" below the module dir (pieces beginning with '.') or the temp
// folder, the module dir, and with "useclasspath" the user's class path.
// With the extraction cache in use the jars lie in the cache folder and no
// folder is on the path: a VM class cache refuses a class path that holds
// a non-empty folder or changes from run to run, as the temp folder does.
void stage_class_path(launch_state& launch)
{
    if (launch.error) return;
    const char* files = launch.cache_folder ? launch.cache_folder : temp_folder;
    char* text = track_strdup(launch.cache_folder ? "" : temp_folder);
    if (char* jars = get_var(launch.vars, "jars", nullptr)) {
        // "jars" is package data: its pieces are ';'-separated on every OS.
        for (char* piece = jars; piece;) {
            char* end = strchr(piece, ';');
            if (end) *end++ = 0;
            if (*piece) {
                to_path_sep(piece);
                const char* base = piece[0] == '.' ? launch.module_dir : files;
                text = append_new(text, 1351, "%s%s%c%s", *text ? list_sep_text : "", base, os_path_sep, piece);
            }
            piece = end;
        }
    }
    if (!launch.cache_folder) text = append_new(text, 1352, "%c%s", os_list_sep, launch.module_dir);
    if (get_var(launch.vars, "useclasspath", nullptr)) {
        if (char* user = env_text(os_env_classpath, classpath_buffer)) {
            text = append_new(text, 1353, "%s%s", *text ? list_sep_text : "", user);
            track_free(user, 1354);
        }
    }
    launch.class_path = text;
}

// 12. Library path, the new "path" value and the working directory
// (without error). With the extraction cache in use its folder follows the
// temp folder: the native libraries lie there. After the launcher's folders
// the library path holds what java itself would: Windows "path" (a folder
// of programs there is one of libraries too); LD_LIBRARY_PATH on POSIX,
// where the runtime's system folders follow once it is chosen.
void stage_library_path(launch_state& launch)
{
    if (launch.error) return;
    char* value = env_text(os_env_library_path, path_buffer);
    char* folders = launch.cache_folder
                        ? format_new("%s%c%s%c%s", temp_folder, os_list_sep, launch.cache_folder, os_list_sep,
                                     launch.module_dir)
                        : format_new("%s%c%s", temp_folder, os_list_sep, launch.module_dir);
    launch.library_path = format_new("%s%c%s", folders, os_list_sep, value ? value : "");

    size_t size = os_env_size(os_env_path) + strlen(folders) + 20;
    auto* path = static_cast<char*>(track_alloc(int32_t(size)));
    int prefix = snprintf(path, size, "%s%c", folders, os_list_sep);
    os_get_env(os_env_path, path + prefix, size - size_t(prefix));
    if (os_set_env(os_env_path, path))
        log_line(log_path, path);
    else
        fail(launch, text_error_24);
    track_free(path, 1343);
    track_free(folders, 1344);

    if (!launch.error && get_var(launch.vars, "execwd", nullptr)) os_set_cwd(launch.module_dir);
}

// 14. Z offsets text: made always, filled without error. The Z sections
// stay in the executable; only their header offsets travel on. The text is
// written into one block with room for the longest offsets (",2147483647"
// each), so that 100,000 sections cost one allocation, not one copy each.
void stage_z_offsets(launch_state& launch)
{
    if (launch.error) {
        launch.z_offsets = track_strdup("");
        return;
    }
    int32_t count = 0;
    for (int32_t i = 0; i < launch.found; i++) count += section_type(launch.table[i]) == 'Z';
    const int32_t longest = 11;
    auto* text = static_cast<char*>(track_alloc(count * longest + 1));
    char* end = text;
    for (int32_t i = 0; i < launch.found; i++) {
        const unsigned char* header = launch.table[i];
        if (section_type(header) == 'Z') end += snprintf(end, size_t(longest + 1), ",%d", int(header - launch.base));
    }
    launch.z_offsets = text;
}

// After the Vars text (always): the package may choose the relay. The
// merge of -E* follows it, so that standard error goes wherever standard
// output goes from then on.
void stage_streams(launch_state& launch)
{
    if (!no_relay_flag && relay_chosen(get_var(launch.vars, "relay", nullptr))) relay_setup();
    if (merge_stderr_flag) stderr_merge();
}

// After the Vars text (without error): with "singleinstance" a launch
// while the package's instance runs hands its words over and ends, before
// it has made anything to remove; otherwise it becomes the instance.
void stage_single_instance(launch_state& launch, int count, char** words)
{
    if (launch.error) return;
    char* method = get_var(launch.vars, "singleinstance", nullptr);
    if (!method) return;
    char id[package_identity_digits + 1];
    package_identity(launch, id);
    launch.handed_over = instance_start(id, method, count, words) == INSTANCE_HANDED;
    track_free(method, 1346);
}

// After the extraction (without error): the image that "splash" names
// among the packed files, shown once the runtime is known.
void stage_splash(launch_state& launch)
{
    if (launch.error) return;
    char* stored = get_var(launch.vars, "splash", nullptr);
    if (!stored || !*stored) return;
    to_path_sep(stored);
    char* image = format_new("%s%c%s", launch.cache_folder ? launch.cache_folder : temp_folder, os_path_sep, stored);
    track_free(stored, 1347);
    log_line(log_splash_image, image);
    splash_request(image);
}

void prepare_launch(launch_state& launch, int count, char** words)
{
    stage_identity(count, words);
    stage_module_filename(launch);
    stage_names(launch);
    stage_map(launch);
    stage_section_table(launch);
    stage_scan(launch);
    stage_vars(launch);
    stage_file_signatures(launch);
    stage_format(launch);
    stage_streams(launch);
    stage_heap(launch);
    stage_single_instance(launch, count, words);
    if (launch.handed_over) return;
    stage_temp_folder(launch);
    stage_cache(launch);
    stage_class_path(launch);
    stage_classpath_reset();
    stage_library_path(launch);
    stage_cwd_log();
    stage_z_offsets(launch);
    stage_extract(launch);
    stage_splash(launch);
}

// 16. Version window (without error).
void stage_version_window(launch_state& launch)
{
    if (launch.error) return;
    launch.minver = parse_version(get_var(launch.vars, "minver", default_minver), 0);
    launch.maxver = parse_version(get_var(launch.vars, "maxver", default_maxver), 9999);
}

// 17. Runtime choice (without error): the private runtime, then the
// package's own, then -jvm: or the registry, then the installer and one
// more look at the registry.
void stage_runtime_choice(launch_state& launch)
{
    if (launch.error) return;
    launch.vm_library = find_private_jvm(launch.module_dir, launch.vars);
    if (!launch.vm_library)
        launch.vm_library = find_packed_jvm(launch.cache_folder ? launch.cache_folder : temp_folder, launch.vars);
    if (!launch.vm_library) launch.vm_library = find_registry_jre(launch.minver, launch.maxver);
    if (launch.vm_library) return;
    if (!run_getjava(true)) {
        fail(launch, no_runtime_error(launch.exe_name_now));
        return;
    }
    launch.vm_library = find_registry_jre(launch.minver, launch.maxver);
    if (launch.vm_library) return;
    // The report then offers the download page instead of a second run.
    getjava_path = nullptr;
    fail(launch, text_error_15);
}

// The chosen runtime's own system folders end the library path (without
// error; POSIX only: on Windows the library path is complete).
void stage_system_library_folders(launch_state& launch)
{
    if (launch.error) return;
    char folders[system_folders_buffer];
    if (os_vm_system_library_path(launch.vm_library, folders, sizeof folders) == 0) return;
    const char* path = launch.library_path;
    size_t n = strlen(path);
    // Stage 12 ends the text with a separator when the variable was unset.
    const char* sep = n > 0 && path[n - 1] != os_list_sep ? list_sep_text : "";
    launch.library_path = append_new(launch.library_path, 1345, "%s%s", sep, folders);
}

void launcher_main(int count, char** words)
{
    launch_state launch{};
    prepare_launch(launch, count, words);
    if (launch.handed_over) {
        unmap_self();
        launcher_exit(0);
    }
    stage_version_window(launch);
    stage_runtime_choice(launch);
    stage_system_library_folders(launch);
    // 18. VM options (always).
    char* jop = get_var(launch.vars, "jop", nullptr);
    // 19, 20. Release of the executable and of the section table (always).
    unmap_self();
    track_free(launch.table, 1421);
    // 21. Hand-off or report. Fast start tells the application where its
    // packed files are (not in the temp folder of glimvane.temp) and adds
    // the VM's class cache.
    char* fast_options[1 + vm_cache_max_options];
    int fast_count = 0;
    if (!launch.error && launch.cache_folder) {
        fast_options[fast_count++] = format_new("-D%s=%s", files_property, launch.cache_folder);
        vm_cache_options cache{};
        plan_vm_cache(launch.cache_folder, launch.vm_library, launch.class_path, max_heap, jop, &cache);
        for (int i = 0; i < cache.count; i++) fast_options[fast_count++] = cache.words[i];
    }
    if (!launch.error)
        launch.error = run_java(launch.vm_library, launch.class_path, launch.library_path, count, words,
                                fast_options, fast_count, jop, launch.vars, launch.z_offsets,
                                {exit_hook, abort_hook});
    if (launch.error) {
        report_error(launch.error);
        runtime_follow_up(launch.error);
    }
    // 22. Exit (always).
    launcher_exit(error_code_of(launch.error));
}
