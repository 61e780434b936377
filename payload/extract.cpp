#include "payload/extract.h"

#include "os/os.h"
#include "payload/sections.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/track.h"

#include <cstring>

#include <zlib.h>

namespace {

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

// File contents pass from the mapping to the file through a buffer: it
// stays in the cache, and the launcher's memory does not grow with the
// size of the files. One set per extraction thread (the launch's, and the
// helper of a first fast-start launch); compressed bytes pass to zlib
// through the second buffer.
const size_t stream_chunk = 256 * 1024;
struct stream_buffers {
    unsigned char plain[stream_chunk];
    unsigned char packed[stream_chunk];
};
stream_buffers buffer_sets[extract_threads];

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

// zlib's state lives in tracked blocks, as every block of the launcher.
voidpf zlib_alloc(voidpf, uInt items, uInt size)
{
    uint64_t n = uint64_t(items) * size;
    return n < uint64_t(INT32_MAX) ? track_alloc(int32_t(n)) : Z_NULL;
}

void zlib_free(voidpf, voidpf block)
{
    track_free(block, 1032);
}

// The two bytes that open a zlib stream: deflate with a window of at most
// 32 KB, a valid check, and no preset dictionary.
bool zlib_head_valid(const unsigned char* head)
{
    return (head[0] & 0x0f) == Z_DEFLATED && (head[0] >> 4) <= 7 && (head[0] * 256 + head[1]) % 31 == 0 &&
           !(head[1] & 0x20);
}

const size_t zlib_head_size = 2, zlib_trailer_size = 4;

// Inflates the zlib stream of `stored` bytes at `data` into the file. The
// bytes are untrusted: the output never exceeds `size` (the record's plain
// size), and it counts as written only when the stream ends exactly at
// `size` bytes and their CRC-32 is `crc`. The deflate data between the
// stream's head and its Adler-32 trailer is inflated raw: the CRC-32
// checks the same bytes, and zlib's own Adler-32 over them would cost a
// tenth of the inflating.
bool inflate_into(os_file* file, const unsigned char* data, size_t stored, uint32_t size, uint32_t crc,
                  stream_buffers& b)
{
    unsigned char head[zlib_head_size];
    if (stored < zlib_head_size + zlib_trailer_size) {
        os_set_last_error(os_error_invalid_data);
        return false;
    }
    read_payload(data, zlib_head_size, head);
    if (!zlib_head_valid(head)) {
        os_set_last_error(os_error_invalid_data);
        return false;
    }
    z_stream z{};
    z.zalloc = zlib_alloc;
    z.zfree = zlib_free;
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    uLong sum = crc32(0, Z_NULL, 0);
    size_t taken = zlib_head_size, made = 0;
    int status = Z_OK;
    bool written = true, damaged = false;
    while (written && !damaged && status == Z_OK) {
        if (z.avail_in == 0 && taken < stored) {
            size_t n = stored - taken < stream_chunk ? stored - taken : stream_chunk;
            read_payload(data + taken, n, b.packed);
            z.next_in = b.packed;
            z.avail_in = uInt(n);
            taken += n;
        }
        // One byte of room beyond the plain size shows a stream that runs over it.
        size_t room = size - made < stream_chunk - 1 ? size - made + 1 : stream_chunk;
        z.next_out = b.plain;
        z.avail_out = uInt(room);
        status = inflate(&z, Z_NO_FLUSH);
        size_t n = room - z.avail_out;
        // No progress with all input given: the stream is cut short.
        bool starved = status == Z_BUF_ERROR && z.avail_in == 0 && taken == stored;
        damaged = made + n > size || starved || (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR);
        if (damaged) break;
        sum = crc32(sum, b.plain, uInt(n));
        made += n;
        written = write_all(file, b.plain, n);
        if (status == Z_BUF_ERROR) status = Z_OK;  // no progress this round: more input follows
    }
    // The trailer, and nothing else, follows the deflate data.
    size_t left = size_t(z.avail_in) + (stored - taken);
    bool whole = written && !damaged && status == Z_STREAM_END && made == size && uint32_t(sum) == crc &&
                 left == zlib_trailer_size;
    inflateEnd(&z);
    if (written && !whole) os_set_last_error(os_error_invalid_data);
    return whole;
}

// How the contents of a record are stored.
enum record_kind { RECORD_PLAIN, RECORD_SCRAMBLED, RECORD_COMPRESSED, RECORD_PART };

// Creates the file and writes the record's `r.size` plain bytes into it:
// `data` as it stands, in one write call; descrambled chunk by chunk from
// the payload bytes at positions first, first + 1, ...; or inflated from
// its `r.stored` bytes. A compressed record that fails its checks leaves
// no file. A part is written at its offset into the file, which the other
// parts share: a failed one leaves the file as it is, and the launch fails.
bool write_file_from(const char* path, const unsigned char* data, const file_record& r, record_kind kind,
                     size_t first, stream_buffers& b)
{
    os_file* file = kind == RECORD_PART ? os_file_open_at(path, r.offset) : os_file_create(path);
    if (!file) return false;
    bool written = true;
    if (kind == RECORD_PLAIN) {
        written = write_all(file, data, r.size);
    } else if (kind == RECORD_COMPRESSED || kind == RECORD_PART) {
        written = inflate_into(file, data, r.stored, r.size, r.crc, b);
    } else {
        for (size_t at = 0; written && at < r.size; at += stream_chunk) {
            size_t n = r.size - at < stream_chunk ? r.size - at : stream_chunk;
            read_payload(data + at, n, b.plain);
            descramble_bytes(b.plain, b.plain, n, first + at);
            written = write_all(file, b.plain, n);
        }
    }
    int error = os_last_error();
    os_file_close(file);
    if (!written && kind == RECORD_COMPRESSED) os_delete_file(path);
    os_set_last_error(error);
    return written;
}

// extract_file below `folder` for a plain record, for the scrambled
// payload of a file section, which is read in place (only its head is
// descrambled apart), or for a compressed section.
char* extract_record(const unsigned char* data, int32_t length, record_kind kind, const char* folder, int thread)
{
    stream_buffers& b = buffer_sets[thread];
    unsigned char head[record_head_limit];
    const unsigned char* record = data;
    if (kind == RECORD_SCRAMBLED) {
        // read_record reads no further than n + 10 once n + 10 <= length.
        size_t n = size_t(length < record_head_limit ? (length > 0 ? length : 0) : record_head_limit);
        read_payload(data, n, head);
        descramble_bytes(head, head, n, 0);
        record = head;
    }
    file_record r;
    record_form form = kind == RECORD_PART ? RECORD_FORM_PART
                       : kind == RECORD_COMPRESSED ? RECORD_FORM_COMPRESSED
                                                   : RECORD_FORM_PLAIN;
    if (!read_record(record, length, &r, form)) {
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
        written = write_file_from(full, data + offset, r, kind, offset, b);
        // A damaged stream stays damaged: only a missing folder is worth a retry.
        bool damaged = form != RECORD_FORM_PLAIN && os_last_error() == os_error_invalid_data;
        if (!written && !damaged) {
            make_dirs(folder, r.path);
            written = write_file_from(full, data + offset, r, kind, offset, b);
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

namespace {

uint32_t get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool read_record(const unsigned char* record, int32_t length, file_record* out, record_form form)
{
    int64_t head = 10 + (form == RECORD_FORM_PART ? part_place_size : 0);
    if (length < head) return false;
    int64_t n = record[0];
    if (n + head > length) return false;
    // The path's NUL must come before offset n + 6.
    if (!memchr(record + 1, 0, size_t(n + 5))) return false;
    uint32_t s = get32(record + n + 6);
    int64_t stored = form == RECORD_FORM_PLAIN ? int64_t(s) : length - (n + head);
    if (n + head + stored > length) return false;
    uint32_t offset = form == RECORD_FORM_PART ? get32(record + n + 10) : 0;
    uint32_t whole = form == RECORD_FORM_PART ? get32(record + n + 14) : s;
    if (uint64_t(offset) + s > whole) return false;
    out->path = reinterpret_cast<const char*>(record + 1);
    out->contents = record + n + head;
    out->size = s;
    out->stored = uint32_t(stored);
    out->crc = form == RECORD_FORM_PLAIN ? 0 : get32(record + n + 2);
    out->offset = offset;
    out->whole = whole;
    return true;
}

bool section_starts_file(const unsigned char* header)
{
    file_record r;
    return section_type(header) != compressed_part_type ||
           !read_record(header + section_header_size, section_payload_length(header), &r, RECORD_FORM_PART) ||
           r.offset == 0;
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
    return extract_record(record, length, RECORD_PLAIN, temp_folder, 0);
}

char* extract_section(const unsigned char* header, const char* folder, int thread)
{
    char type = section_type(header);
    record_kind kind = type == compressed_type        ? RECORD_COMPRESSED
                       : type == compressed_part_type ? RECORD_PART
                                                      : RECORD_SCRAMBLED;
    return extract_record(header + section_header_size, section_payload_length(header), kind,
                          folder ? folder : temp_folder, thread);
}

bool write_whole_file(const char* path, const void* data, size_t length)
{
    file_record r{path, static_cast<const unsigned char*>(data), uint32_t(length), uint32_t(length), 0, 0,
                  uint32_t(length)};
    return write_file_from(path, r.contents, r, RECORD_PLAIN, 0, buffer_sets[0]);
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
