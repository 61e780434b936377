// The registry calls of both platforms: the system's registry, or the fake
// one a test installed. Key paths compare like registry paths: letter case
// and a trailing '\' do not matter.
#include "os/os_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

struct os_reg_key {
    void* native;  // null for a key of the fake registry
    char* path;    // the fake key's path without trailing '\'
};

namespace {

enum record_kind { RECORD_VALUE, RECORD_SUBKEY };

struct record {
    record_kind kind;
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

void os_reg_fake_value(const char* key, const char* name, const char* data, size_t length, os_reg_type type)
{
    add_record(record{RECORD_VALUE, key, name, data, length, type});
}

void os_reg_fake_subkey(const char* key, const char* name)
{
    add_record(record{RECORD_SUBKEY, key, name, nullptr, 0, OS_REG_OTHER});
}

void os_reg_fake_remove()
{
    record_count = 0;
    faked = false;
}

os_reg_key* os_reg_open(const char* path)
{
    if (!faked) {
        void* native = native_reg_open(path);
        return native ? new os_reg_key{native, nullptr} : nullptr;
    }
    size_t n = trimmed_length(path);
    for (int i = 0; i < record_count; i++) {
        if (opens(path, n, records[i])) {
            char* copy = static_cast<char*>(malloc(n + 1));
            memcpy(copy, path, n);
            copy[n] = 0;
            return new os_reg_key{nullptr, copy};
        }
    }
    return nullptr;
}

long os_reg_query(os_reg_key* key, const char* name, char* buf, size_t size, os_reg_type* type)
{
    if (key->native) return native_reg_query(key->native, name, buf, size, type);
    for (int i = 0; i < record_count; i++) {
        const record& r = records[i];
        if (r.kind != RECORD_VALUE || !os_reg_same_path(r.key, key->path) || strcasecmp(r.name, name) != 0) continue;
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
        if (r.kind != RECORD_SUBKEY || !os_reg_same_path(r.key, key->path)) continue;
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
