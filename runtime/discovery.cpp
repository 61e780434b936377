#include "runtime/discovery.h"

#include "os/os.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/switches.h"
#include "support/track.h"

#include <cstdlib>
#include <cstring>

namespace {

const size_t value_size = 1024;
const size_t name_size = 1024;
const uint32_t max_subkeys = 1000;
const size_t private_path_size = 4096;

// A REG_SZ value as a fresh tracked text, or null: another type, a missing
// value and one that does not fit value_size all count as absent. The text
// ends at its NUL; data stored without one ends where it ends, when there
// is room left to terminate it.
char* query_text(os_reg_key* key, const char* name)
{
    char buf[value_size];
    os_reg_type type;
    long n = os_reg_query(key, name, buf, sizeof buf, &type);
    if (n < 0 || type != OS_REG_SZ) return nullptr;
    if (!memchr(buf, 0, size_t(n))) {
        if (size_t(n) >= sizeof buf) return nullptr;
        buf[n] = 0;
    }
    return track_strdup(buf);
}

// Versions compare as signed 64-bit numbers, both bounds inclusive.
bool in_window(uint64_t version, uint64_t minver, uint64_t maxver)
{
    return int64_t(minver) <= int64_t(version) && int64_t(version) <= int64_t(maxver);
}

// The path that the Vars key `key` names below `base`, or null without
// the key. Package data may separate folders with '\' or '/': either is
// the system's separator, so that the folder is found whichever was
// written.
char* path_below(const char* base, const char* vars, const char* key)
{
    char* value = get_var(vars, key, nullptr);
    if (!value) return nullptr;
    for (char* c = value; *c; c++)
        if (*c == '\\' || *c == '/') *c = os_path_sep;
    char* path = format_new("%s%c%s", base, os_path_sep, value);
    track_free(value, 1110);
    return path;
}

char* library_in_home(const char* home);

}  // namespace

char* find_private_jvm(const char* module_dir, const char* vars)
{
    char* path = path_below(module_dir, vars, "jvm");
    if (!path) return nullptr;
    // A join longer than the path buffer holds names no file we could load.
    bool found = strlen(path) < private_path_size && file_exists(path);
    log_line(log_private_jvm, path, found ? text_found : text_not_found);
    if (found) return path;
    track_free(path, 1111);
    return nullptr;
}

char* find_packed_jvm(const char* files, const char* vars)
{
    char* home = path_below(files, vars, "runtime");
    if (!home) return nullptr;
    char* lib = library_in_home(home);
    log_line(log_packed_jvm, lib ? lib : home, lib ? text_found : text_not_found);
    track_free(home, 1118);
    return lib;
}

char* registry_current_jre()
{
    os_reg_key* key = os_reg_open(os_runtime_key);
    if (!key) return nullptr;
    char* version = query_text(key, os_value_current_version);
    os_reg_close(key);
    return version;
}

char* registry_runtime_lib(const char* version)
{
    if (!version) return nullptr;
    char* name = format_new("%s%s\\", os_runtime_key, version);
    char* lib = nullptr;
    if (os_reg_key* key = os_reg_open(name)) {
        lib = query_text(key, os_value_runtime_lib);
        if (lib && !file_exists(lib)) {
            track_free(lib, 1112);
            lib = nullptr;
        }
        os_reg_close(key);
    }
    track_free(name, 1100);
    return lib;
}

namespace {

// The newest registered runtime inside the window, each subkey logged with
// what became of it. With `current_taken` (the version text of the current
// runtime, which was taken) the others are only logged as passed over.
char* newest_registered(uint64_t minver, uint64_t maxver, const char* current_taken)
{
    os_reg_key* key = os_reg_open(os_runtime_key);
    if (!key) return nullptr;
    char* chosen = nullptr;
    int64_t best = 0;  // so a version of 0 is never chosen
    char name[name_size];
    for (uint32_t index = 0; index < max_subkeys && os_reg_subkey(key, index, name, sizeof name); index++) {
        uint64_t version = parse_version(name, 0);
        char* lib = registry_runtime_lib(name);
        const char* why = !lib                                    ? text_no_vm_library
                          : current_taken                         ? text_current_taken
                          : !in_window(version, minver, maxver)  ? text_outside_window
                          : int64_t(version) <= best              ? text_not_newer
                                                                  : text_taken;
        if (!current_taken || strcmp(name, current_taken) != 0) log_line(log_candidate, lib ? lib : name, name, why);
        // Strictly greater: of equal versions the first enumerated stays.
        if (why == text_taken) {
            track_free(chosen, 1115);
            chosen = lib;
            best = int64_t(version);
        } else {
            track_free(lib, 1116);
        }
    }
    os_reg_close(key);
    return chosen;
}

}  // namespace

char* find_registry_jre(uint64_t minver, uint64_t maxver)
{
    if (jvm_override) return jvm_override;

    char* current = registry_current_jre();
    uint64_t current_version = parse_version(current, 0);
    char* current_lib = registry_runtime_lib(current);
    bool taken = current_lib && in_window(current_version, minver, maxver);
    if (current)
        log_line(log_current, current_lib ? current_lib : current, current,
                 taken ? text_taken : current_lib ? text_outside_window : text_no_vm_library);
    if (taken) {
        // Only for the log: which runtimes the current one won over.
        if (debug_flag) newest_registered(minver, maxver, current);
        track_free(current, 1113);
        return current_lib;
    }
    track_free(current, 1113);
    track_free(current_lib, 1114);

    char* chosen = newest_registered(minver, maxver, nullptr);
    return chosen ? chosen : find_further_jre(minver, maxver);
}

// ---- the further places ------------------------------------------------------------

namespace {

const int own_bits = int(sizeof(void*) * 8);
const size_t binary_head_size = 4096;
const size_t release_version_size = 256;
const size_t max_homes = 1000;

// Bitness of a runtime inside the window that was passed over for it; 0
// while there was none.
int other_bits_seen = 0;

// The best candidate so far of one search.
struct further_search {
    uint64_t minver;
    uint64_t maxver;
    char* chosen;
    int64_t best;  // 0 at the start, so a version of 0 is never chosen
};

unsigned get16(const unsigned char* p, bool big_endian)
{
    return big_endian ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
}

uint32_t get32_le(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Why the VM library cannot load into this process, or null when it can.
// A library of the other bitness sets *other_bits.
char* binary_mismatch(const char* lib, bool* other_bits)
{
    unsigned char head[binary_head_size];
    long n = os_read_head(lib, head, sizeof head);
    vm_binary binary = read_vm_binary(head, n < 0 ? 0 : size_t(n));
    if (!binary.known) return track_strdup(text_unreadable_library);
    if (binary.pe != (os_vm_format == OS_BINARY_PE)) return track_strdup(text_other_machine);
    *other_bits = binary.bits != own_bits;
    if (*other_bits) return format_new(text_other_bits, binary.bits, own_bits);
    if (binary.machine != os_vm_machine) return track_strdup(text_other_machine);
    return nullptr;
}

// One candidate: `lib` (owned, may be null) with its version text (may be
// null); `label` names it in the log.
void consider(further_search& search, const char* label, const char* version_text, char* lib)
{
    const char* shown = version_text ? version_text : text_no_version;
    if (!lib) {
        log_line(log_candidate, label, shown, text_no_vm_library);
        return;
    }
    uint64_t version = parse_version(version_text, 0);
    char* mismatch = nullptr;
    bool other_bits = false;
    if (!in_window(version, search.minver, search.maxver)) {
        log_line(log_candidate, lib, shown, text_outside_window);
    } else if ((mismatch = binary_mismatch(lib, &other_bits))) {
        log_line(log_candidate, lib, shown, mismatch);
        if (other_bits) other_bits_seen = own_bits == 64 ? 32 : 64;
        track_free(mismatch, 1121);
    } else if (int64_t(version) <= search.best) {
        log_line(log_candidate, lib, shown, text_not_newer);
    } else {
        log_line(log_candidate, lib, shown, text_taken);
        track_free(search.chosen, 1122);
        search.chosen = lib;
        search.best = int64_t(version);
        return;
    }
    track_free(lib, 1123);
}

// The first VM library below the home that exists, or null.
char* library_in_home(const char* home)
{
    for (const char* const* name = os_vm_library_names; *name; name++) {
        char* lib = format_new("%s%c%s", home, os_path_sep, *name);
        if (file_exists(lib)) return lib;
        track_free(lib, 1124);
    }
    return nullptr;
}

// A home from a folder place: a runtime only with a release file.
void consider_home(further_search& search, const char* home)
{
    char version[release_version_size];
    if (!os_release_version(home, version, sizeof version)) {
        log_line(log_candidate, home, text_no_version, text_no_release);
        return;
    }
    consider(search, home, version, library_in_home(home));
}

// The folder `levels` separators up from path, as a fresh text (the path
// itself when it has fewer).
char* folder_above(const char* path, int levels)
{
    char* folder = track_strdup(path);
    for (int i = 0; i < levels; i++) {
        char* cut = strrchr(folder, os_path_sep);
        if (!cut || cut == folder) break;
        *cut = 0;
    }
    return folder;
}

// One registered runtime of a registry place: RuntimeLib when it names a
// file, else the VM library below the home; the version from the home's
// release file, else from the subkey name (from its first digit, so
// "zulu-21" and "jdk-17" count too).
void consider_registered(further_search& search, const os_place& place, const char* name)
{
    char* key_path = format_new("%s\\%s%s%s", place.where, name, *place.sub ? "\\" : "", place.sub);
    os_reg_key* key = os_reg_open_view(place.root, key_path);
    char* lib = key && place.lib_value ? query_text(key, place.lib_value) : nullptr;
    char* home = key && place.home_value ? query_text(key, place.home_value) : nullptr;
    if (key) os_reg_close(key);
    if (lib && !file_exists(lib)) {
        track_free(lib, 1125);
        lib = nullptr;
    }
    if (!home && lib) home = folder_above(lib, 3);  // <home>\bin\server\jvm.dll
    if (home && !lib) lib = library_in_home(home);
    char version[release_version_size];
    const char* version_text = name + strcspn(name, "0123456789");
    if (home && os_release_version(home, version, sizeof version)) version_text = version;
    consider(search, home ? home : key_path, *version_text ? version_text : nullptr, lib);
    track_free(home, 1126);
    track_free(key_path, 1127);
}

void look_in_registry(further_search& search, const os_place& place)
{
    const char* root = place.root == OS_REG_USER ? "HKCU" : "HKLM";
    os_reg_key* key = os_reg_open_view(place.root, place.where);
    char* label = format_new("%s\\%s", root, place.where);
    log_line(log_place, label, key ? text_place_looked_at : text_place_absent);
    track_free(label, 1128);
    if (!key) return;
    char name[name_size];
    for (uint32_t index = 0; index < max_subkeys && os_reg_subkey(key, index, name, sizeof name); index++)
        consider_registered(search, place, name);
    os_reg_close(key);
}

void look_at_env_home(further_search& search, const os_place& place)
{
    char home[private_path_size];
    size_t n = os_get_env(place.where, home, sizeof home);
    bool set = n > 0 && n < sizeof home;
    log_line(log_place, place.where, set ? text_place_looked_at : text_place_absent);
    if (set) consider_home(search, home);
}

// The home above the first folder of the start PATH that holds the program.
void look_on_path(further_search& search, const os_place& place)
{
    const char* path = os_start_path();
    char* home = nullptr;
    const char separators[] = {os_list_sep, 0};
    for (const char* entry = path; entry && *entry && !home;) {
        size_t n = strcspn(entry, separators);
        const char* next = entry[n] ? entry + n + 1 : entry + n;
        // Windows PATH entries may be quoted.
        if (n >= 2 && entry[0] == '"' && entry[n - 1] == '"') {
            entry++;
            n -= 2;
        }
        while (n > 1 && entry[n - 1] == os_path_sep) n--;
        if (n > 0 && n < private_path_size) {
            char* program = format_new("%.*s%c%s", int(n), entry, os_path_sep, place.where);
            if (file_exists(program)) home = folder_above(program, 2);  // <home>/bin/java
            track_free(program, 1129);
        }
        entry = next;
    }
    char* label = format_new("PATH %s", place.where);
    log_line(log_place, label, home ? text_place_looked_at : text_place_absent);
    track_free(label, 1130);
    if (home) consider_home(search, home);
    track_free(home, 1131);
}

int compare_names(const void* a, const void* b)
{
    return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

// Every folder (or link to one) in the folder, by name, up to max_homes.
void look_at_homes(further_search& search, const os_place& place)
{
    char* folder = nullptr;
    if (strncmp(place.where, "~/", 2) == 0) {
        char user_home[private_path_size];
        size_t n = os_get_env("HOME", user_home, sizeof user_home);
        if (n > 0 && n < sizeof user_home) folder = format_new("%s%s", user_home, place.where + 1);
    } else {
        folder = track_strdup(place.where);
    }
    os_dir* dir = folder ? os_dir_open(folder) : nullptr;
    log_line(log_place, folder ? folder : place.where, dir ? text_place_looked_at : text_place_absent);
    if (dir) {
        char** homes = static_cast<char**>(track_alloc(int32_t(max_homes * sizeof(char*))));
        size_t count = 0;
        char name[name_size];
        os_entry_kind kind;
        while (count < max_homes && os_dir_next(dir, name, sizeof name, &kind)) {
            if (kind == OS_ENTRY_FILE || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
            homes[count++] = format_new("%s%c%s", folder, os_path_sep, name);
        }
        os_dir_close(dir);
        qsort(homes, count, sizeof(char*), compare_names);
        for (size_t i = 0; i < count; i++) {
            if (os_is_dir(homes[i])) consider_home(search, homes[i]);
            track_free(homes[i], 1132);
        }
        track_free(homes, 1133);
    }
    track_free(folder, 1134);
}

}  // namespace

vm_binary read_vm_binary(const unsigned char* bytes, size_t length)
{
    vm_binary binary{false, false, 0, 0};
    if (length >= 20 && memcmp(bytes, "\x7f" "ELF", 4) == 0) {
        int bits = bytes[4] == 1 ? 32 : bytes[4] == 2 ? 64 : 0;
        bool big_endian = bytes[5] == 2;
        if (!bits || (bytes[5] != 1 && !big_endian)) return binary;
        return vm_binary{true, false, bits, get16(bytes + 18, big_endian)};
    }
    if (length < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return binary;
    // Arithmetic in 64 bits: a hostile e_lfanew cannot wrap past the end.
    uint64_t pe = get32_le(bytes + 0x3c);
    if (pe + 26 > length || memcmp(bytes + pe, "PE\0\0", 4) != 0) return binary;
    unsigned magic = get16(bytes + pe + 24, false);
    int bits = magic == 0x10b ? 32 : magic == 0x20b ? 64 : 0;
    if (!bits) return binary;
    return vm_binary{true, true, bits, get16(bytes + pe + 4, false)};
}

char* find_further_jre(uint64_t minver, uint64_t maxver)
{
    further_search search{minver, maxver, nullptr, 0};
    other_bits_seen = 0;
    size_t count = 0;
    const os_place* places = os_runtime_places(&count);
    for (size_t i = 0; i < count; i++) {
        const os_place& place = places[i];
        switch (place.kind) {
        case OS_PLACE_REGISTRY: look_in_registry(search, place); break;
        case OS_PLACE_ENV_HOME: look_at_env_home(search, place); break;
        case OS_PLACE_PATH_PROGRAM: look_on_path(search, place); break;
        case OS_PLACE_HOMES: look_at_homes(search, place); break;
        }
    }
    if (search.chosen) log_line(log_further_chosen, search.chosen);
    return search.chosen;
}

char* no_runtime_error(const char* exe_name)
{
    char* text = format_new(text_error_10, exe_name);
    if (other_bits_seen) text = append_new(text, 1120, text_error_10_other_bits, other_bits_seen, own_bits);
    return text;
}
