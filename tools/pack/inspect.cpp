#include "tools/pack/pack.h"

#include "boot/boot_class.h"
#include "os/os.h"
#include "payload/extract.h"
#include "payload/format.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "payload/writer.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/track.h"
#include "tools/pack/compress.h"
#include "tools/pack/jar.h"
#include "tools/pack/resources.h"
#include "tools/pack/runtime_image.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

namespace {

using bytes = std::vector<unsigned char>;

int32_t get32(const unsigned char* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

std::string field_text(const unsigned char* field)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size_t(config_name_size)));
}

// The launcher reports the first error it meets.
void first_error(std::string& error, const std::string& text)
{
    if (error.empty()) error = text;
}

// The packaged file, read through one buffer: a window of it is loaded
// where the reader asks, so that a file of any size costs the same memory.
struct window {
    FILE* file;
    uint64_t size;
    bytes data = bytes(io_buffer_size);
    uint64_t start = 0;
    size_t loaded = 0;

    // `n` bytes at `offset` (n at most the buffer's size), or null when the
    // file is shorter.
    const unsigned char* at(uint64_t offset, size_t n)
    {
        if (offset < start || offset + n > start + loaded) {
            start = offset;
            loaded = 0;
            if (fseek(file, long(offset), SEEK_SET) == 0) loaded = fread(data.data(), 1, data.size(), file);
        }
        return offset + n <= start + loaded ? &data[size_t(offset - start)] : nullptr;
    }
};

// The first offset of the configuration block's marker, or the file size.
uint64_t find_marker(window& w)
{
    const config_marker_bytes marker = config_complement(config_marker_complement);
    const size_t step = io_buffer_size - 16;
    // The launcher image lies within the first 2^31 bytes, which a 32-bit
    // seek reaches.
    const uint64_t limit = std::min<uint64_t>(w.size, uint64_t(INT32_MAX));
    for (uint64_t offset = 0; offset < limit; offset += step) {
        size_t n = size_t(std::min<uint64_t>(io_buffer_size, limit - offset));
        const unsigned char* p = w.at(offset, n);
        if (!p) break;
        const unsigned char* hit = std::search(p, p + n, marker.bytes, marker.bytes + 16);
        if (hit != p + n) return offset + uint64_t(hit - p);
    }
    return w.size;
}

// The scan of the launcher (find_header), over the window.
int32_t next_header(window& w, int32_t start, int32_t length)
{
    for (int64_t at = start & ~15; at + section_header_size < length; at += 16) {
        const unsigned char* h = w.at(uint64_t(at), section_header_size);
        if (h && header_valid(h) && at + section_header_size + section_payload_length(h) <= length)
            return int32_t(at);
    }
    return 0;
}

// The section hash of a payload, read piece by piece.
bool payload_matches(window& w, int32_t at, int32_t length, uint64_t signature)
{
    uint64_t hash = 0;
    for (int32_t done = 0; done < length;) {
        size_t n = size_t(std::min<int32_t>(int32_t(io_buffer_size), length - done));
        hash ^= section_hash_terms(w.at(uint64_t(at) + section_header_size + uint64_t(done), n), n, uint32_t(done));
        done += int32_t(n);
    }
    return (hash | 1) * signature == 1;
}

// The Vars text as the launcher copies it: up to its NUL, or the whole
// payload. Its lines are listed.
std::string read_vars(window& w, int32_t at, int32_t length, FILE* out)
{
    std::string text;
    bool nul = false;
    for (int32_t done = 0; done < length && !nul;) {
        size_t n = size_t(std::min<int32_t>(int32_t(io_buffer_size), length - done));
        const char* part = reinterpret_cast<const char*>(w.at(uint64_t(at) + section_header_size + uint64_t(done), n));
        size_t used = strnlen(part, n);
        nul = used < n;
        text.append(part, used);
        done += int32_t(n);
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        fprintf(out, text_inspect_vars_line, text.substr(start, end - start).c_str());
        start = end + 1;
    }
    // The launcher then takes the whole payload as the text: not an error.
    if (!nul) fputs(text_inspect_no_nul, out);
    return text;
}

// What writing each record does on the target, in the launcher's order:
// folders made for earlier records, files written. A later record's error
// replaces an earlier one, as in the launcher.
struct extraction {
    bool windows;
    std::map<std::string, bool> made;  // path key -> is a folder
    std::string error;                 // the last record's failure

    void fail(const std::string& path, const char* why, int posix_error)
    {
        error = windows ? format(text_inspect_41_windows, path.c_str(), why)
                        : format(text_error_41, posix_error) + format(text_inspect_41_why, path.c_str(), why);
    }

    std::string key(const std::string& path) const
    {
        std::string k;
        for (char c : path) k += c == '\\' ? '/' : windows ? char(tolower(static_cast<unsigned char>(c))) : c;
        return k;
    }

    void write(const std::string& path)
    {
        if (!record_path_safe(path.c_str())) return fail(path, text_why_leaves, EINVAL);
        if (typical_temp_folder + 1 + path.size() > launcher_path_limit)
            return fail(path, format(text_why_long, int(launcher_path_limit - 1 - path.size())).c_str(), EINVAL);
        if (windows)
            if (const char* why = windows_name_problem(path)) return fail(path, why, 0);
        std::string k = key(path);
        std::vector<std::string> folders;
        for (size_t at = k.find('/'); at != std::string::npos; at = k.find('/', at + 1))
            if (at > 0 && k[at - 1] != '/') folders.push_back(k.substr(0, at));
        for (const std::string& f : folders) {
            auto it = made.find(f);
            if (it != made.end() && !it->second) return fail(path, text_why_below_file, ENOTDIR);
        }
        if (k.back() == '/') return fail(path, text_why_trailing, EISDIR);
        auto it = made.find(k);
        if (it != made.end() && it->second) return fail(path, text_why_is_folder, EISDIR);
        for (const std::string& f : folders) made[f] = true;
        made[k] = false;
    }
};

// The plain contents of a record, read in place through the window.
file_reader record_reader(window& w, uint64_t contents_at, uint64_t position)
{
    return [&w, contents_at, position](uint64_t offset, size_t n, unsigned char* out) {
        for (size_t done = 0; done < n;) {
            size_t piece = std::min(n - done, io_buffer_size);
            const unsigned char* p = w.at(contents_at + offset + done, piece);
            if (!p) return false;
            descramble_bytes(p, out + done, piece, size_t(position + offset + done));
            done += piece;
        }
        return true;
    };
}

// The stored bytes of a compressed record, read in place through the window.
file_reader stored_reader(window& w, uint64_t contents_at)
{
    return [&w, contents_at](uint64_t offset, size_t n, unsigned char* out) {
        const unsigned char* p = w.at(contents_at + offset, n);
        if (p) memcpy(out, p, n);
        return p != nullptr;
    };
}

// The parts of a file compressed in parts, each with its own reader.
struct file_part {
    uint64_t offset, size;
    file_reader read;
};
using file_parts = std::shared_ptr<std::vector<file_part>>;

// A reader of a file from its parts: each piece of a read from the part
// that holds it.
file_reader parts_reader(file_parts parts)
{
    return [parts](uint64_t offset, size_t n, unsigned char* out) {
        for (const file_part& p : *parts) {
            if (n == 0) break;
            if (offset < p.offset || offset >= p.offset + p.size) continue;
            size_t piece = size_t(std::min<uint64_t>(n, p.offset + p.size - offset));
            if (!p.read(offset - p.offset, piece, out)) return false;
            offset += piece;
            out += piece;
            n -= piece;
        }
        return n == 0;
    };
}

// The record of a file section, read the way the launcher reads it. The
// parts of a file join the entry of its first part when they follow it
// without a gap; any other part is reported as damaged.
void print_record(window& w, int32_t at, int32_t length, FILE* out, extraction& x, std::vector<packed_entry>& files,
                  char type, file_parts& open_parts)
{
    bool part = type == compressed_part_type;
    bool compressed = type == compressed_type || part;
    // n is one byte: the path, its NUL, the size and a part's place lie in the first 273 bytes.
    size_t head_size = size_t(std::min<int32_t>(length, 18 + 255));
    bytes head(head_size);
    if (head_size) memcpy(head.data(), w.at(uint64_t(at) + section_header_size, head_size), head_size);
    if (!compressed) descramble_bytes(head.data(), head.data(), head_size);
    file_record r;
    record_form form = part ? RECORD_FORM_PART : compressed ? RECORD_FORM_COMPRESSED : RECORD_FORM_PLAIN;
    bool joins = false;
    bool readable = read_record(head.data(), length, &r, form);
    if (readable && part && r.offset > 0) {
        const file_part* last = open_parts && !open_parts->empty() ? &open_parts->back() : nullptr;
        joins = last && !files.empty() && files.back().stored == r.path && files.back().size == r.whole &&
                last->offset + last->size == r.offset;
        readable = joins;
    }
    if (!readable) {
        fputs(text_inspect_bad_record, out);
        x.fail("", text_why_bounds, EINVAL);
        return;
    }
    uint64_t position = uint64_t(r.contents - head.data());
    uint64_t contents_at = uint64_t(at) + section_header_size + position;
    file_reader read = compressed ? inflating_reader(stored_reader(w, contents_at), r.stored, r.size)
                                  : record_reader(w, contents_at, position);
    if (part) {
        fprintf(out, text_inspect_part, r.path, r.size, r.offset, r.whole);
        if (r.offset == 0) open_parts = std::make_shared<std::vector<file_part>>();
        open_parts->push_back({r.offset, r.size, read});
        if (joins) return;
        read = parts_reader(open_parts);
    } else {
        fprintf(out, compressed ? text_inspect_compressed : text_inspect_record, r.path, r.size);
    }
    files.push_back({r.path, format("'%s'", r.path), r.whole, read});
    std::string before = x.error;
    x.write(r.path);
    if (x.error != before) fputs(text_inspect_refused, out);
}

// The package holds the packer's own boot class, which needs a main class.
bool holds_standard_boot(const std::vector<packed_entry>& files)
{
    for (const packed_entry& f : files) {
        if (f.stored != boot_class_name && f.stored != boot_jar_name) continue;
        bytes own = own_file(f.stored), held(own.size());
        if (f.size == own.size() && f.read(0, held.size(), held.data()) && held == own) return true;
    }
    return false;
}

// A Windows image whose certificate table lies before the end of its last
// section: the stub's, broken by packing.
bool signature_inside(window& w, int64_t end)
{
    size_t n = size_t(std::min<uint64_t>(w.size, 4096));
    const unsigned char* head = w.at(0, n);
    uint32_t offset, length;
    size_t entry;
    return head && signature_table(head, n, offset, length, entry) && int64_t(offset) < end;
}

// The package format the package needs against the one its stub reads:
// error 92 (with why) when the stub is too old.
std::string format_problem(window& w, const std::string& vars, int32_t first_section, const std::string& exe,
                           FILE* out)
{
    char* needs = get_var(vars.c_str(), needs_key, nullptr);
    if (!needs) return "";
    std::string needed = needs;
    track_free(needs, 1);
    // The stub image lies before the first section; it is never larger than a stub can be.
    size_t image = size_t(std::min<uint64_t>(first_section > 0 ? uint64_t(first_section) : w.size, stub_size_limit));
    bytes data(image);
    for (size_t done = 0; done < image;) {
        size_t n = std::min(image - done, io_buffer_size);
        const unsigned char* p = w.at(done, n);
        if (!p) break;
        memcpy(&data[done], p, n);
        done += n;
    }
    bool marked = false;
    std::string reads = stub_format(data.data(), data.size(), marked);
    fprintf(out, text_inspect_format, needed.c_str(), reads.c_str(), marked ? "" : text_inspect_unmarked);
    if (parse_version(needed.c_str(), 0) <= parse_version(reads.c_str(), 0)) return "";
    return format(text_error_92, exe.c_str(), needed.c_str(), reads.c_str()) + ": " +
           format(marked ? text_inspect_format_why : text_inspect_unmarked_why, needed.c_str());
}

// The packed runtime that the Vars key names: its version, target and
// size; why it cannot run with the stub, or empty.
std::string runtime_report(window& w, const std::string& vars, const std::vector<packed_entry>& files, FILE* out)
{
    char* folder = get_var(vars.c_str(), runtime_key, nullptr);
    if (!folder) return "";
    std::string prefix = std::string(folder) + "/";
    track_free(folder, 1);
    uint64_t size = 0;
    int count = 0;
    for (const packed_entry& f : files)
        if (f.stored.compare(0, prefix.size(), prefix) == 0) {
            size += f.size;
            count++;
        }
    auto read = [&](const std::string& relative, size_t limit, bytes& data) {
        for (const packed_entry& f : files) {
            if (f.stored != prefix + relative) continue;
            data.assign(size_t(std::min<uint64_t>(limit, f.size)), 0);
            return f.read(0, data.size(), data.data());
        }
        return false;
    };
    runtime_image image = read_runtime_image(read, size);
    fprintf(out, text_inspect_runtime, prefix.substr(0, prefix.size() - 1).c_str(),
            image.version.empty() ? text_no_version : image.version.c_str(), binary_target(image.binary).c_str(),
            (unsigned long long)size, count);
    const unsigned char* head = w.at(0, size_t(std::min<uint64_t>(w.size, 4096)));
    vm_binary stub = head ? read_vm_binary(head, size_t(std::min<uint64_t>(w.size, 4096))) : vm_binary{};
    return runtime_problem(image, stub, prefix.substr(0, prefix.size() - 1));
}

}  // namespace

int inspect(const std::string& path, FILE* out)
{
    FILE* file = fopen(path.c_str(), "rb");
    std::error_code ec;
    uint64_t size = file ? std::filesystem::file_size(path, ec) : 0;
    if (!file || ec) {
        fprintf(stderr, text_error_prefix,
                format(text_cannot_read, path.c_str(), ec ? ec.message().c_str() : strerror(errno)).c_str());
        if (file) fclose(file);
        return 1;
    }
    window w{file, size, bytes(io_buffer_size), 0, 0};
    fprintf(out, text_inspect_file, path.c_str(), (long long)size);
    // The first marker is the block: sections come after the launcher image.
    uint64_t marker = find_marker(w);
    const unsigned char* block = marker < size ? w.at(marker, size_t(config_block_size)) : nullptr;
    if (!block) {
        fprintf(stderr, text_error_prefix, format(text_no_marker, path.c_str()).c_str());
        fclose(file);
        return 1;
    }
    int32_t expected = get32(block + config_count_offset);
    int32_t min_length = get32(block + config_length_offset);
    fprintf(out, text_inspect_block, expected, min_length, field_text(block + config_display_offset).c_str(),
            field_text(block + config_original_offset).c_str());
    const unsigned char* image = w.at(0, 2);
    extraction x{image && image[0] == 'M' && image[1] == 'Z', {}, ""};
    fputs(x.windows ? text_inspect_windows : text_inspect_posix, out);

    const std::string exe = std::filesystem::path(path).filename().string();
    // What the launcher's mapping reports: the low 32 bits of the size.
    const int32_t length = int32_t(uint32_t(size));
    std::string error;
    if (length < 0) first_error(error, format(text_error_21, exe.c_str()));
    if (length < min_length) first_error(error, format(text_error_90, exe.c_str()));
    if (expected < 1 || expected > 100000) first_error(error, format(text_error_96, expected));

    int32_t found = 0, first_section = 0;
    char first_type = 0;
    std::string vars;
    std::vector<packed_entry> files;
    file_parts open_parts;
    bool signature_failed = false;
    int64_t end = 0;
    for (int32_t at = length > 0 ? next_header(w, 0, length) : 0; at > 0;) {
        bytes header(w.at(uint64_t(at), section_header_size), w.at(uint64_t(at), section_header_size) + section_header_size);
        int32_t payload = section_payload_length(header.data());
        char type = section_type(header.data());
        bool ok = payload_matches(w, at, payload, section_signature(header.data()));
        fprintf(out, text_inspect_section, found + 1, at, type, payload, ok ? "ok" : "FAILED");
        if (!ok) {
            fputc('\n', out);
            signature_failed = true;
            break;
        }
        if (found == 0) {
            first_type = type;
            first_section = at;
        }
        if (type == 'F' || type == 'B' || type == 'J' || type == compressed_type || type == compressed_part_type)
            print_record(w, at, payload, out, x, files, type, open_parts);
        fputc('\n', out);
        if (type == 'V' && found == 0) vars = read_vars(w, at, payload, out);
        found++;
        end = int64_t(at) + section_header_size + payload;
        at = next_header(w, int32_t(end), length);
    }
    if (int64_t(size) > end && !signature_failed)
        fprintf(out, text_inspect_trailing, (long long)(int64_t(size) - end));

    if (signature_failed) first_error(error, format(text_error_91, 91));
    if (found != expected) first_error(error, format(text_error_97, expected, exe.c_str(), found));
    if (first_type != 'V') first_error(error, text_error_98);
    if (first_type == 'V') first_error(error, format_problem(w, vars, first_section, exe, out));
    first_error(error, x.error);
    if (first_type == 'V') first_error(error, runtime_report(w, vars, files, out));
    if (error.empty()) first_error(error, launch_problem(vars.c_str(), holds_standard_boot(files)));
    char* jars = get_var(vars.c_str(), "jars", nullptr);
    for (const std::string& warning : class_path_warnings(jars ? jars : "", files, x.windows))
        fprintf(out, text_inspect_warning, warning.c_str());
    if (jars) track_free(jars, 1);
    if (x.windows && signature_inside(w, end)) fprintf(out, text_inspect_warning, text_inspect_signature);
    fclose(file);
    if (error.empty()) {
        fputs(text_inspect_ok, out);
        return 0;
    }
    fprintf(out, text_inspect_error, error.c_str());
    return 1;
}
