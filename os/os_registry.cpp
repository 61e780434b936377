// What both platforms share in the registry section: the registry calls (the
// system's registry, or the fake one a test installed; key paths compare
// like registry paths: letter case and a trailing '\' do not matter), the
// further places of runtimes and the reading of a runtime's release file.
#include "os/os_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

struct os_reg_key {
    void* native;  // null for a key of the fake registry
    char* path;    // the fake key's path without trailing '\'
    os_reg_root root;
};

namespace {

enum record_kind { RECORD_VALUE, RECORD_SUBKEY };

struct record {
    record_kind kind;
    os_reg_root root;
    const char* key;
    const char* name;  // value name or subkey name
    const char* data;
    size_t length;
    os_reg_type type;
};

const int max_records = 64;
record records[max_records];
int record_count = 0;
bool faked = false;

size_t trimmed_length(const char* path)
{
    size_t n = strlen(path);
    return n > 0 && path[n - 1] == '\\' ? n - 1 : n;
}

// True when `path` (n characters, no trailing '\') names the record's key,
// or its subkey, or a key above either.
bool opens(const char* path, size_t n, const record& r)
{
    char full[2048];
    int f = snprintf(full, sizeof full, "%.*s%s%s", int(trimmed_length(r.key)), r.key,
                     r.kind == RECORD_SUBKEY ? "\\" : "", r.kind == RECORD_SUBKEY ? r.name : "");
    if (f < 0 || size_t(f) >= sizeof full) return false;
    return n <= size_t(f) && strncasecmp(path, full, n) == 0 && (n == size_t(f) || full[n] == '\\');
}

void add_record(const record& r)
{
    // Tests add a handful of entries; more than the table holds is a test fault.
    if (record_count == max_records) abort();
    records[record_count++] = r;
}

}  // namespace

bool os_reg_same_path(const char* a, const char* b)
{
    size_t n = trimmed_length(a);
    return n == trimmed_length(b) && strncasecmp(a, b, n) == 0;
}

void os_reg_fake_install()
{
    record_count = 0;
    faked = true;
}

void os_reg_fake_value(const char* key, const char* name, const char* data, size_t length, os_reg_type type,
                       os_reg_root root)
{
    add_record(record{RECORD_VALUE, root, key, name, data, length, type});
}

void os_reg_fake_subkey(const char* key, const char* name, os_reg_root root)
{
    add_record(record{RECORD_SUBKEY, root, key, name, nullptr, 0, OS_REG_OTHER});
}

void os_reg_fake_remove()
{
    record_count = 0;
    faked = false;
}

namespace {

os_reg_key* open_key(os_reg_root root, bool view, const char* path)
{
    if (!faked) {
        void* native = native_reg_open(root, view, path);
        return native ? new os_reg_key{native, nullptr, root} : nullptr;
    }
    size_t n = trimmed_length(path);
    for (int i = 0; i < record_count; i++) {
        if (records[i].root == root && opens(path, n, records[i])) {
            char* copy = static_cast<char*>(malloc(n + 1));
            memcpy(copy, path, n);
            copy[n] = 0;
            return new os_reg_key{nullptr, copy, root};
        }
    }
    return nullptr;
}

}  // namespace

os_reg_key* os_reg_open(const char* path)
{
    return open_key(OS_REG_MACHINE, false, path);
}

os_reg_key* os_reg_open_view(os_reg_root root, const char* path)
{
    return open_key(root, true, path);
}

long os_reg_query(os_reg_key* key, const char* name, char* buf, size_t size, os_reg_type* type)
{
    if (key->native) return native_reg_query(key->native, name, buf, size, type);
    for (int i = 0; i < record_count; i++) {
        const record& r = records[i];
        if (r.kind != RECORD_VALUE || r.root != key->root || !os_reg_same_path(r.key, key->path) || strcasecmp(r.name, name) != 0) continue;
        if (r.length > size) return -1;
        memcpy(buf, r.data, r.length);
        *type = r.type;
        return long(r.length);
    }
    return -1;
}

bool os_reg_subkey(os_reg_key* key, uint32_t index, char* name, size_t size)
{
    if (key->native) return native_reg_subkey(key->native, index, name, size);
    for (int i = 0; i < record_count; i++) {
        const record& r = records[i];
        if (r.kind != RECORD_SUBKEY || r.root != key->root || !os_reg_same_path(r.key, key->path)) continue;
        if (index-- > 0) continue;
        size_t n = strlen(r.name);
        if (n >= size) return false;
        memcpy(name, r.name, n + 1);
        return true;
    }
    return false;
}

void os_reg_close(os_reg_key* key)
{
    if (key->native) native_reg_close(key->native);
    free(key->path);
    delete key;
}

// ---- further places and release files -------------------------------------

namespace {

const os_place* faked_places = nullptr;
size_t faked_place_count = 0;

const size_t release_read_limit = 65536;

// The JAVA_VERSION value of a release text line, quotes stripped.
bool take_version(const char* value, size_t n, char* version, size_t size)
{
    while (n > 0 && (value[n - 1] == '\r' || value[n - 1] == ' ' || value[n - 1] == '\t')) n--;
    if (n >= 2 && value[0] == '"' && value[n - 1] == '"') {
        value++;
        n -= 2;
    }
    if (n == 0 || n >= size) return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return false;
    }
    memcpy(version, value, n);
    version[n] = 0;
    return true;
}

}  // namespace

const os_place* os_runtime_places(size_t* count)
{
    *count = faked_places ? faked_place_count : native_place_count;
    return faked_places ? faked_places : native_places;
}

void os_runtime_places_fake(const os_place* places, size_t count)
{
    faked_places = places;
    faked_place_count = places ? count : 0;
}

bool os_release_version(const char* home, char* version, size_t size)
{
    char path[4096];
    int p = snprintf(path, sizeof path, "%s%crelease", home, os_path_sep);
    if (p < 0 || size_t(p) >= sizeof path) return false;
    // One byte more than the limit tells a file that goes on past it.
    char* text = static_cast<char*>(malloc(release_read_limit + 1));
    long got = os_read_head(path, text, release_read_limit + 1);
    size_t n = got < 0 ? 0 : size_t(got);
    bool whole = got >= 0 && n <= release_read_limit;
    if (n > release_read_limit) n = release_read_limit;
    static const char key[] = "JAVA_VERSION=";
    const size_t key_length = sizeof key - 1;
    bool found = false;
    for (size_t line = 0; line < n;) {
        const char* end = static_cast<const char*>(memchr(text + line, '\n', n - line));
        size_t stop = end ? size_t(end - text) : n;
        if (stop - line >= key_length && memcmp(text + line, key, key_length) == 0) {
            // A line cut at the limit does not count.
            if (end || whole) found = take_version(text + line + key_length, stop - line - key_length, version, size);
            break;
        }
        line = stop + 1;
    }
    free(text);
    return found;
}
