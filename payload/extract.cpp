#include "payload/extract.h"

#include "launcher/paths.h"
#include "os/os.h"
#include "payload/sections.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/track.h"

#include <cstring>

namespace {

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

// p = ((c XOR (i mod 256)) - 100) mod 256. The XOR index repeats every 256
// bytes, so each whole block is one fixed-length loop the compiler turns
// into vector code.
void descramble_bytes(const unsigned char* in, unsigned char* out, size_t length)
{
    size_t at = 0;
    for (; length - at >= 256; at += 256)
        for (unsigned j = 0; j < 256; j++)
            out[at + j] = static_cast<unsigned char>((in[at + j] ^ j) - 100);
    for (unsigned j = 0; at + j < length; j++)
        out[at + j] = static_cast<unsigned char>((in[at + j] ^ j) - 100);
}

unsigned char* descramble_section(const unsigned char* header)
{
    int32_t length = section_payload_length(header);
    auto* plain = static_cast<unsigned char*>(track_alloc(length));
    if (length > 0) descramble_bytes(header + section_header_size, plain, size_t(length));
    return plain;
}

bool read_record(const unsigned char* record, int32_t length, file_record* out)
{
    if (length < 10) return false;
    int64_t n = record[0];
    if (n + 10 > length) return false;
    // The path's NUL must come before offset n + 6.
    if (!memchr(record + 1, 0, size_t(n + 5))) return false;
    const unsigned char* size = record + n + 6;
    uint32_t s = uint32_t(size[0]) | uint32_t(size[1]) << 8 | uint32_t(size[2]) << 16 |
                 uint32_t(size[3]) << 24;
    if (n + 10 + int64_t(s) > length) return false;
    out->path = reinterpret_cast<const char*>(record + 1);
    out->contents = record + n + 10;
    out->size = s;
    return true;
}

bool record_path_safe(const char* path)
{
    if (!*path || is_separator(path[0])) return false;
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') return false;
    for (const char* component = path; *component;) {
        size_t n = 0;
        while (component[n] && !is_separator(component[n])) n++;
        if (n == 2 && component[0] == '.' && component[1] == '.') return false;
        component += n;
        if (*component) component++;
    }
    return true;
}

char* extract_file(const unsigned char* record, int32_t length)
{
    file_record r;
    if (!read_record(record, length, &r)) {
        os_set_last_error(os_error_invalid_data);
        return nullptr;
    }
    // Both separators name folders; on Windows "/" stays as stored, which
    // the file system accepts.
    char* full = format_new("%s%c%s", temp_folder, os_path_sep, r.path);
    for (char* p = full + strlen(temp_folder) + 1; *p; p++)
        if (*p == '\\') *p = os_path_sep;

    bool written = false;
    if (!record_path_safe(r.path) || strlen(full) > extract_path_limit) {
        os_set_last_error(os_error_invalid_data);
    } else {
        written = write_whole_file(full, r.contents, r.size);
        if (!written) {
            make_dirs(temp_folder, r.path);
            written = write_whole_file(full, r.contents, r.size);
        }
    }
    int error = os_last_error();  // the log line must not change what the caller reports
    log_line(log_extracted, r.path);
    os_set_last_error(error);
    if (written) return full;
    track_free(full, 1031);
    return nullptr;
}

bool write_whole_file(const char* path, const void* data, size_t length)
{
    os_file* file = os_file_create(path);
    if (!file) return false;
    bool written = os_file_write(file, data, length) == long(length);
    int error = os_last_error();
    os_file_close(file);
    os_set_last_error(error);
    return written;
}

void make_dirs(const char* base, const char* relative)
{
    char* path = track_strdup(relative);
    for (char* p = path; *p; p++)
        if (is_separator(*p)) *p = os_path_sep;
    char* current = track_strdup(base);
    char* component = path;
    for (char* sep; (sep = strchr(component, os_path_sep)); component = sep + 1) {
        *sep = 0;
        char* next = format_new("%s%c%s", current, os_path_sep, component);
        *sep = os_path_sep;
        track_free(current, 1019);
        current = next;
        os_create_dir(current);  // it may exist already
    }
    track_free(current, 1024);
    track_free(path, 1025);
}
