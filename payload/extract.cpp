#include "payload/extract.h"

#include "os/os.h"
#include "payload/sections.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/track.h"

#include <cstring>

namespace {

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

// File contents pass from the mapping to the file through this buffer: it
// stays in the cache, and the launcher's memory does not grow with the
// size of the files.
const size_t stream_chunk = 256 * 1024;
unsigned char stream_buffer[stream_chunk];

// A record head is at most n + 10 = 265 bytes.
const int32_t record_head_limit = 265;

// One write call of all `n` bytes. A short count leaves the last error as
// an earlier call set it: the true reason is a full disk.
bool write_all(os_file* file, const unsigned char* data, size_t n)
{
    long written = os_file_write(file, data, n);
    if (written >= 0 && size_t(written) < n) os_set_last_error(os_error_disk_full);
    return written == long(n);
}

// Creates the file and writes `length` plain bytes into it: `data` as it
// stands, in one write call, or, when `scrambled`, descrambled chunk by
// chunk from the payload bytes at positions first, first + 1, ...
bool write_file_from(const char* path, const unsigned char* data, size_t length, bool scrambled, size_t first)
{
    os_file* file = os_file_create(path);
    if (!file) return false;
    bool written = true;
    if (!scrambled) {
        written = write_all(file, data, length);
    } else {
        for (size_t at = 0; written && at < length; at += stream_chunk) {
            size_t n = length - at < stream_chunk ? length - at : stream_chunk;
            read_payload(data + at, n, stream_buffer);
            descramble_bytes(stream_buffer, stream_buffer, n, first + at);
            written = write_all(file, stream_buffer, n);
        }
    }
    int error = os_last_error();
    os_file_close(file);
    os_set_last_error(error);
    return written;
}

// extract_file below `folder` for a plain record or for the scrambled
// payload of a file section, which is read in place: only its head is
// descrambled apart.
char* extract_record(const unsigned char* data, int32_t length, bool scrambled, const char* folder)
{
    unsigned char head[record_head_limit];
    const unsigned char* record = data;
    if (scrambled) {
        // read_record reads no further than n + 10 once n + 10 <= length.
        size_t n = size_t(length < record_head_limit ? (length > 0 ? length : 0) : record_head_limit);
        read_payload(data, n, head);
        descramble_bytes(head, head, n, 0);
        record = head;
    }
    file_record r;
    if (!read_record(record, length, &r)) {
        os_set_last_error(os_error_invalid_data);
        return nullptr;
    }
    size_t offset = size_t(r.contents - record);
    // Both separators name folders; on Windows "/" stays as stored, which
    // the file system accepts.
    char* full = format_new("%s%c%s", folder, os_path_sep, r.path);
    for (char* p = full + strlen(folder) + 1; *p; p++)
        if (*p == '\\') *p = os_path_sep;

    bool written = false;
    if (!record_path_safe(r.path) || strlen(full) > extract_path_limit) {
        os_set_last_error(os_error_invalid_data);
    } else {
        written = write_file_from(full, data + offset, r.size, scrambled, offset);
        if (!written) {
            make_dirs(folder, r.path);
            written = write_file_from(full, data + offset, r.size, scrambled, offset);
        }
    }
    int error = os_last_error();  // the log line must not change what the caller reports
    log_line(log_extracted, r.path);
    os_set_last_error(error);
    if (written) return full;
    track_free(full, 1031);
    return nullptr;
}

}  // namespace

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
    // Windows drops trailing dots and blanks from a name, so ".. " and
    // "..." lead upwards there too: refuse every component made only of
    // dots and blanks that holds two dots.
    for (const char* component = path; *component;) {
        size_t n = 0, dots = 0;
        bool only_dots = true;
        for (; component[n] && !is_separator(component[n]); n++) {
            dots += component[n] == '.';
            only_dots &= component[n] == '.' || component[n] == ' ';
        }
        if (only_dots && dots >= 2) return false;
        component += n;
        if (*component) component++;
    }
    return true;
}

char* extract_file(const unsigned char* record, int32_t length)
{
    return extract_record(record, length, false, temp_folder);
}

char* extract_section(const unsigned char* header, const char* folder)
{
    return extract_record(header + section_header_size, section_payload_length(header), true,
                          folder ? folder : temp_folder);
}

bool write_whole_file(const char* path, const void* data, size_t length)
{
    return write_file_from(path, static_cast<const unsigned char*>(data), length, false, 0);
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
