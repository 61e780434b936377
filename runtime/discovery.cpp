#include "runtime/discovery.h"

#include "os/os.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/switches.h"
#include "support/track.h"

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

}  // namespace

char* find_private_jvm(const char* module_dir, const char* vars)
{
    char* jvm = get_var(vars, "jvm", nullptr);
    if (!jvm) return nullptr;
    // Package data may separate folders with '\' (a no-op on Windows).
    for (char* c = jvm; *c; c++)
        if (*c == '\\') *c = os_path_sep;
    char* path = format_new("%s%c%s", module_dir, os_path_sep, jvm);
    track_free(jvm, 1110);
    // A join longer than the path buffer holds names no file we could load.
    bool found = strlen(path) < private_path_size && file_exists(path);
    log_line(log_private_jvm, path, found ? text_found : text_not_found);
    if (found) return path;
    track_free(path, 1111);
    return nullptr;
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

char* find_registry_jre(uint64_t minver, uint64_t maxver)
{
    if (jvm_override) return jvm_override;

    char* current = registry_current_jre();
    uint64_t current_version = parse_version(current, 0);
    char* current_lib = registry_runtime_lib(current);
    track_free(current, 1113);
    if (current_lib && in_window(current_version, minver, maxver)) return current_lib;
    track_free(current_lib, 1114);

    os_reg_key* key = os_reg_open(os_runtime_key);
    if (!key) return nullptr;
    char* chosen = nullptr;
    int64_t best = 0;  // so a version of 0 is never chosen
    char name[name_size];
    for (uint32_t index = 0; index < max_subkeys && os_reg_subkey(key, index, name, sizeof name); index++) {
        uint64_t version = parse_version(name, 0);
        char* lib = registry_runtime_lib(name);
        // Strictly greater: of equal versions the first enumerated stays.
        if (lib && in_window(version, minver, maxver) && int64_t(version) > best) {
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
