#include "tools/pack/pack.h"

#include "boot/boot_class.h"
#include "payload/extract.h"
#include "payload/format.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "payload/writer.h"
#include "support/config.h"
#include "support/track.h"
#include "tools/pack/compress.h"
#include "tools/pack/jar.h"
#include "tools/pack/resources.h"
#include "tools/pack/runtime_image.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#ifdef _WIN32
#include <io.h>
#define unlink _unlink
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<unsigned char>;

// The keys the launcher and the standard boot class look up in the Vars
// text, both by the same rule.
const char* const looked_up_keys[] = {"mx",      "jars",  "useclasspath", "execwd", "minver",   "maxver",
                                      "jvm",     "jop",   "main",         "windowed", "faststart", "relay",
                                      "runtime", "needs", "splash",       "singleinstance"};

struct section_plan {
    char type;
    std::string source;  // the input file; empty for the Vars section and the boot class
    std::string stored;  // the record's relative path (F, J and C)
    uint64_t size;       // bytes of the source file, or of the Vars text with its NUL
    uint64_t payload;    // payload bytes
    uint32_t crc = 0;         // C and P: of the plain contents
    uint64_t compressed = 0;  // C and P: bytes of the zlib stream
    uint64_t offset = 0;      // P: where the part's `size` bytes start in the source
    uint64_t whole = 0;       // P: the source file's size
    const std::string* data = nullptr;  // the contents the packer holds, if any
};

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void add16(bytes& out, uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void add32(bytes& out, uint32_t v)
{
    add16(out, v & 0xffff);
    add16(out, v >> 16);
}

uint32_t crc32_of(const unsigned char* data, size_t size)
{
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// The size of an input that must be a readable regular file.
bool input_size(const std::string& path, uint64_t& size, std::string& error)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec) {
        error = format(text_cannot_read, path.c_str(), ec.message().c_str());
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = format(text_not_a_file, path.c_str());
        return false;
    }
    size = fs::file_size(path, ec);
    if (ec) error = format(text_cannot_read, path.c_str(), ec.message().c_str());
    return !ec;
}

// Paths compare as the target's file system does: either separator, and
// on Windows any letter case.
std::string path_key(const std::string& stored, bool windows)
{
    std::string key = stored;
    for (char& c : key) c = c == '/' ? '\\' : windows ? char(std::tolower(static_cast<unsigned char>(c))) : c;
    return key;
}

std::string check_stored(const pack_file& f, bool windows)
{
    if (!record_path_safe(f.stored.c_str())) return format(text_bad_path, f.stored.c_str(), f.source.c_str());
    if (f.stored.size() > stored_path_limit)
        return format(text_path_too_long, f.stored.c_str(), f.source.c_str(), int(f.stored.size()), int(stored_path_limit));
    // No launcher writes a file whose name is empty.
    if (f.stored.back() == '/' || f.stored.back() == '\\')
        return format(text_trailing_separator, f.stored.c_str(), f.source.c_str());
    if (windows)
        if (const char* why = windows_name_problem(f.stored))
            return format(text_windows_name, f.stored.c_str(), f.source.c_str(), why);
    // The launcher marks every run folder with a file of its own.
    std::string key = "\\" + path_key(f.stored, windows);
    if (key.find("\\" + path_key(owner_mark_name, windows)) != std::string::npos)
        return format(text_reserved_name, f.stored.c_str(), f.source.c_str(), owner_mark_name);
    // The launcher would accept an empty name between two separators; it
    // is refused as the slip it most likely is.
    if (key.find("\\\\") != std::string::npos)
        return format(text_empty_name, f.stored.c_str(), f.source.c_str());
    // The launcher would look such a piece of the jars value up beside the
    // executable, never in the temp folder that holds the packed copy.
    if (f.jar && f.stored[0] == '.') return format(text_jar_dot, f.stored.c_str(), f.source.c_str());
    return "";
}

// A file stored where another one needs a folder ("f1" and "f1/f2"), in
// either order, cannot be written.
std::string check_nesting(const std::vector<pack_file>& files, bool windows)
{
    std::set<std::string> keys;
    for (const pack_file& f : files) keys.insert(path_key(f.stored, windows));
    for (const pack_file& f : files) {
        std::string key = path_key(f.stored, windows);
        for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
            if (keys.count(key.substr(0, at)))
                return format(text_below_file, f.stored.c_str(), f.source.c_str(), f.stored.substr(0, at).c_str());
    }
    return "";
}

// The VM takes -Xmx3m and more; 16 TB is the largest heap tried here.
const unsigned long long mx_least = 3, mx_most = 16777216;

// mx as the launcher wants it, megabytes in digits: "1g" and "512m" are
// converted. False when it is no such number.
bool mx_megabytes(const std::string& value, std::string& megabytes)
{
    size_t digits = value.find_first_not_of("0123456789");
    std::string number = value.substr(0, digits);
    std::string unit = digits == std::string::npos ? "" : value.substr(digits);
    if (number.empty() || number.size() > 12 || (unit.size() > 1) ||
        (!unit.empty() && !strchr("mMgG", unit[0])))
        return false;
    unsigned long long n = std::stoull(number) * (unit == "g" || unit == "G" ? 1024 : 1);
    megabytes = std::to_string(n);
    return n >= mx_least && n <= mx_most;
}

// Why the launcher's split of jop (at blanks; a quote that begins a word
// groups it up to the next quote; any other quote is kept) would not give
// the options as written, or empty.
std::string jop_problem(const std::string& jop)
{
    int words = 0;
    for (size_t at = 0; at < jop.size();) {
        if (jop[at] == ' ') {
            at++;
            continue;
        }
        words++;
        size_t end;
        if (jop[at] == '"') {
            end = jop.find('"', at + 1);
            if (end == std::string::npos) return format(text_jop_unclosed, jop.substr(at).c_str());
            if (end + 1 < jop.size() && jop[end + 1] != ' ')
                return format(text_jop_after_quote, jop.substr(at, jop.find(' ', end) - at).c_str());
            at = end + 1;
            continue;
        }
        end = std::min(jop.find(' ', at), jop.size());
        size_t quote = jop.find('"', at);
        if (quote < end) {
            // Show the option up to the quote that would have closed it.
            size_t closing = jop.find('"', quote + 1);
            size_t shown = closing == std::string::npos ? end : std::max(end, jop.find(' ', closing));
            return format(text_jop_inner_quote, jop.substr(at, shown - at).c_str());
        }
        at = end;
    }
    if (words > 95) return format(text_jop_too_many, words);
    return "";
}

// The values the launcher reads by key, as it reads them (released here).
std::string value_of(const char* vars, const char* key, bool& present)
{
    char* value = get_var(vars, key, nullptr);
    present = value != nullptr;
    std::string text = value ? value : "";
    if (value) track_free(value, 1);
    return text;
}

std::string check_vars(const pack_request& request, const std::vector<pack_file>& files, const std::string& splash,
                       std::string& text, const char* needs)
{
    // Each line with the option that writes it (null: --var).
    std::vector<std::pair<std::string, std::string>> lines;
    std::vector<const char*> writers;
    auto add = [&](const char* writer, const std::string& key, const std::string& value) {
        lines.emplace_back(key, value);
        writers.push_back(writer);
    };
    add(text_writer_packer, "packager", format("%s %s", pack_name, pack_version));
    // Only packages that hold what older launchers cannot read name a
    // format: the others stay as they were.
    if (request.compress || !request.runtime.empty()) add(text_stub_too_old_options, needs_key, needs);
    std::string jars;
    for (const pack_file& f : files)
        if (f.jar) jars += (jars.empty() ? "" : ";") + f.stored;
    if (!jars.empty()) add(request.fast_start ? "--fast-start" : "--jar", "jars", jars);
    if (request.main_class.find('\n') != std::string::npos)
        return format(text_bad_main, request.main_class.c_str());
    if (!request.main_class.empty()) add("--main", "main", request.main_class);
    if (request.fast_start) add(request.runtime.empty() ? "--fast-start" : "--runtime", "faststart", "1");
    if (!request.runtime.empty()) add("--runtime", runtime_key, runtime_folder);
    if (!splash.empty()) add("--splash", "splash", splash);
    if (request.single_instance) add("--single-instance", "singleinstance", request.instance_method);
    for (const auto& kv : request.vars) {
        if (kv.first == "jvm" && !request.runtime.empty()) return text_runtime_jvm;
        if (kv.first.empty() || kv.first.find_first_of("=\n") != std::string::npos)
            return format(text_bad_key, kv.first.c_str());
        // The key alone would leave the boot class outside the class path.
        if (kv.first == "faststart") return text_faststart_var;
        if (kv.second.find('\n') != std::string::npos) return format(text_bad_value, kv.first.c_str());
        std::string value = kv.second, megabytes;
        if (kv.first == "mx" && mx_megabytes(value, megabytes) && megabytes != value) {
            tell(text_note, format(text_mx_converted, value.c_str(), megabytes.c_str()));
            value = megabytes;
        }
        add(nullptr, kv.first, value);
    }
    std::map<std::string, const char*> keys;
    text.clear();
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string& key = lines[i].first;
        auto given = keys.emplace(key, writers[i]);
        if (!given.second) {
            const char* writer = given.first->second ? given.first->second : writers[i];
            return writer ? format(text_duplicate_key_writer, key.c_str(), writer, key.c_str())
                          : format(text_duplicate_key, key.c_str());
        }
        text += key + "=" + lines[i].second + "\n";
    }
    // The launcher takes the first "key=" anywhere in the text: it must be
    // the start of the key's own line, or absent.
    for (const char* key : looked_up_keys) keys.emplace(key, nullptr);
    for (const auto& k : keys) {
        size_t at = text.find(k.first + "=");
        if (at != std::string::npos && at != 0 && text[at - 1] != '\n')
            return format(text_hidden_key, k.first.c_str());
    }
    return launch_problem(text.c_str(), request.boot);
}

std::string check_name(const char* what, const std::string& name)
{
    if (name.size() >= size_t(config_name_size)) return format(text_name_too_long, what, name.c_str(), int(name.size()));
    return "";
}

// The stub image, refused unread when it is too large to be a stub, without
// the signature it may carry; `block` is where its configuration block lies.
std::string load_stub(const pack_request& request, bytes& stub, size_t& block)
{
    std::string error;
    if (!read_file(request.stub, stub, error)) return error;
    bool removed = false;
    if (!(error = remove_signature(stub, request.stub, removed)).empty()) return error;
    int markers = count_config_markers(stub.data(), stub.size(), &block);
    if (markers == 0 || block + size_t(config_block_size) > stub.size())
        return format(text_no_marker, request.stub.c_str());
    if (markers > 1) return format(text_two_markers, request.stub.c_str(), markers);
    const unsigned char* b = &stub[block];
    if (std::any_of(b + config_count_offset, b + config_block_size, [](unsigned char c) { return c != 0; }))
        return format(text_already_packed, request.stub.c_str());
    if (removed) tell(text_note, format(text_signature_removed, request.stub.c_str()));
    return "";
}

// Fills in the stub's configuration block.
void fill_block(const pack_request& request, const std::string& display, uint32_t count, uint32_t end,
                unsigned char* block)
{
    put32(block + config_count_offset, count);
    put32(block + config_length_offset, end);
    std::string exe = fs::path(request.out).filename().string();
    memcpy(block + config_display_offset, display.data(), display.size());
    memcpy(block + config_original_offset, exe.data(), exe.size());
}

// Executable wherever it is readable, as a compiler's output would be.
void make_executable(const fs::path& path)
{
    std::error_code ec;
    fs::perms p = fs::status(path, ec).permissions();
    if (ec) return;
    fs::perms add = fs::perms::none;
    if ((p & fs::perms::owner_read) != fs::perms::none) add |= fs::perms::owner_exec;
    if ((p & fs::perms::group_read) != fs::perms::none) add |= fs::perms::group_exec;
    if ((p & fs::perms::others_read) != fs::perms::none) add |= fs::perms::others_exec;
    fs::permissions(path, add, fs::perm_options::add, ec);
}

// The temporary file being written, removed when a signal ends the packer:
// an interrupted pack leaves nothing behind.
char temp_path[4096];

void remove_temp_and_die(int signal)
{
    if (temp_path[0]) unlink(temp_path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

const int caught_signals[] = {SIGINT, SIGTERM
#ifdef SIGHUP
                              , SIGHUP
#endif
};

void catch_signals(bool on)
{
    for (int s : caught_signals) std::signal(s, on ? remove_temp_and_die : SIG_DFL);
}

// Writes the sealed header into the place kept for it and moves on to the end.
bool finish_section(FILE* file, uint64_t& at, long header_at, const unsigned char* head, uint64_t done)
{
    if (fseek(file, header_at, SEEK_SET) != 0 || fwrite(head, 1, section_header_size, file) != size_t(section_header_size) ||
        fseek(file, 0, SEEK_END) != 0)
        return false;
    at = uint64_t(header_at) + uint64_t(section_header_size) + done;
    return true;
}

// Writes one section, its payload streamed through `buffer` from the source
// file: the header's place first, scrambled and hashed while copying, the
// header last. `at` is the file length so far.
std::string write_section(FILE* file, uint64_t& at, const section_plan& s, const std::string& vars,
                          bytes& buffer, const std::string& out)
{
    auto write_error = [&out]() { return format(text_cannot_write, out.c_str(), strerror(errno)); };
    unsigned char head[16 + section_header_size] = {};
    size_t fill = size_t((16 - at % 16) % 16);
    if (fwrite(head, 1, fill + section_header_size, file) != fill + section_header_size) return write_error();
    const long header_at = long(at + fill);

    uint64_t hash = 0;
    uint64_t done = 0;
    bool part = s.type == compressed_part_type;
    bool scramble = s.type != 'V' && s.type != 'Z' && s.type != compressed_type && !part;
    auto emit = [&](unsigned char* data, size_t n) {
        if (scramble) scramble_bytes(data, data, n, size_t(done));
        hash ^= section_hash_terms(data, n, uint32_t(done));
        done += n;
        return fwrite(data, 1, n, file) == n;
    };
    if (s.type == 'V') {
        bytes text(vars.begin(), vars.end());
        text.push_back(0);
        if (!emit(text.data(), text.size())) return write_error();
    } else if (s.type == compressed_type || part) {
        const size_t n = s.stored.size();
        bytes record(record_length(n, 0) + (part ? part_place_size : 0));
        put_record_head(record.data(), s.stored.c_str(), uint32_t(s.size));
        put32(&record[n + 2], s.crc);
        if (part) {
            put32(&record[n + 10], uint32_t(s.offset));
            put32(&record[n + 14], uint32_t(s.whole));
        }
        if (!emit(record.data(), record.size())) return write_error();
        uint32_t crc = 0;
        uint64_t stored = 0;
        std::string error;
        bool written = true;
        bool read = deflate_file(s.source, s.offset, s.size, part ? s.whole : s.size, [&](const unsigned char* data, size_t n) {
            buffer.assign(data, data + n);
            return written = emit(buffer.data(), n);
        }, crc, stored, error);
        if (!written) return write_error();
        if (!read) return error;
        if (crc != s.crc || stored != s.compressed) return format(text_changed, s.source.c_str());
    } else {
        if (scramble) {
            bytes record(record_length(s.stored.size(), 0));
            put_record_head(record.data(), s.stored.c_str(), uint32_t(s.size));
            if (!emit(record.data(), record.size())) return write_error();
        }
        if (s.source.empty()) {  // the standard boot class or the packer's own copy
            bytes boot = s.data ? bytes(s.data->begin(), s.data->end()) : own_file(s.stored);
            if (!emit(boot.data(), boot.size())) return write_error();
            put_section_header_hashed(head, s.type, hash | 1, int32_t(done));
            return finish_section(file, at, header_at, head, done) ? "" : write_error();
        }
        FILE* in = fopen(s.source.c_str(), "rb");
        if (!in) return format(text_cannot_read, s.source.c_str(), strerror(errno));
        uint64_t copied = 0;
        std::string error;
        for (size_t n; error.empty() && (n = fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
            copied += n;
            if (copied > s.size) break;
            if (!emit(buffer.data(), n)) error = write_error();
        }
        if (error.empty() && (ferror(in) || copied != s.size)) error = format(text_changed, s.source.c_str());
        fclose(in);
        if (!error.empty()) return error;
    }
    put_section_header_hashed(head, s.type, hash | 1, int32_t(done));
    return finish_section(file, at, header_at, head, done) ? "" : write_error();
}

// Files above this size are compressed in parts of it, which the
// extraction threads of a first launch inflate side by side.
const uint64_t part_size = 4 << 20;

// The sections of the file section `s` (planned plain) when compressed:
// one compressed section, or with `parts` (the stub reads them) the parts
// of a file above part_size; `s` itself when the file does not shrink. The
// streams are made again, the same, when they are written.
std::string plan_compressed(const section_plan& s, bool parts, std::vector<section_plan>& out)
{
    std::vector<section_plan> planned;
    uint64_t stored_in_all = 0;
    bool split = parts && s.size > part_size;
    for (uint64_t at = 0; at == 0 || at < s.size; at += part_size) {
        section_plan p = s;
        p.type = split ? compressed_part_type : compressed_type;
        p.offset = at;
        p.whole = s.size;
        p.size = split ? std::min(part_size, s.size - at) : s.size;
        std::string error;
        if (!deflate_file(s.source, p.offset, p.size, s.size, [](const unsigned char*, size_t) { return true; }, p.crc,
                          p.compressed, error))
            return error;
        p.payload = record_length(s.stored.size(), p.compressed) + (split ? part_place_size : 0);
        stored_in_all += p.payload;
        planned.push_back(p);
        if (!split) break;
    }
    if (stored_in_all < s.payload)
        out.insert(out.end(), planned.begin(), planned.end());
    else
        out.push_back(s);
    return "";
}

// Why the runtime image at `folder` does not fit the stub, or empty.
std::string check_runtime(const std::string& folder, const bytes& stub)
{
    auto read = [&folder](const std::string& relative, size_t limit, bytes& out) {
        std::ifstream in(fs::path(folder) / relative, std::ios::binary);
        if (!in) return false;
        out.assign(limit, 0);
        in.read(reinterpret_cast<char*>(out.data()), std::streamsize(limit));
        out.resize(size_t(in.gcount()));
        return true;
    };
    runtime_image image = read_runtime_image(read, 0);
    return runtime_problem(image, read_vm_binary(stub.data(), stub.size()), folder);
}

// The temporary file of a pack to `out`: ".NAME.XXXXXXXX.tmp" beside it.
bool is_temp_of(const std::string& name, const std::string& out_name)
{
    const std::string head = "." + out_name + ".", tail = ".tmp";
    if (name.size() != head.size() + 8 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    return std::all_of(name.begin() + ptrdiff_t(head.size()), name.end() - ptrdiff_t(tail.size()),
                       [](char c) { return isxdigit(static_cast<unsigned char>(c)) && !isupper(static_cast<unsigned char>(c)); });
}

// Removes what a killed pack to the same output left. A pack still
// writing holds its file: locked on POSIX, open (so not removable) on
// Windows.
void remove_stale_temps(const fs::path& out)
{
    std::error_code ec;
    fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!is_temp_of(it->path().filename().string(), out.filename().string()) ||
            !fs::is_regular_file(it->symlink_status(ec)))
            continue;
#ifdef _WIN32
        fs::remove(it->path(), ec);
#else
        // Only our own: another account's file is its business.
        int fd = open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlink(it->path().c_str());
        close(fd);
#endif
    }
}

std::string write_output(const pack_request& request, const bytes& stub, const std::vector<section_plan>& plan,
                         const std::string& vars, bool trailing_byte)
{
    fs::path out = request.out;
    remove_stale_temps(out);
    std::random_device random;
    fs::path temp = out.parent_path() / format(".%s.%08x.tmp", out.filename().string().c_str(), unsigned(random()));
    snprintf(temp_path, sizeof temp_path, "%s", temp.string().c_str());
    catch_signals(true);
    std::string error;
    FILE* file = fopen(temp.string().c_str(), "wb");
#ifndef _WIN32
    // Held until the file is closed: the mark of a pack still writing.
    if (file) flock(fileno(file), LOCK_EX);
#endif
    if (!file) {
        error = format(text_cannot_write, request.out.c_str(), strerror(errno));
    } else {
        bytes buffer(io_buffer_size);
        uint64_t at = stub.size();
        if (fwrite(stub.data(), 1, stub.size(), file) != stub.size())
            error = format(text_cannot_write, request.out.c_str(), strerror(errno));
        for (size_t i = 0; error.empty() && i < plan.size(); i++)
            error = write_section(file, at, plan[i], vars, buffer, request.out);
        if (error.empty() && trailing_byte && fputc(0, file) == EOF)
            error = format(text_cannot_write, request.out.c_str(), strerror(errno));
        // A full disk may only show when the last buffer is flushed.
        if (fclose(file) != 0 && error.empty()) error = format(text_cannot_write, request.out.c_str(), strerror(errno));
    }
    std::error_code ec;
    if (error.empty()) {
        make_executable(temp);
        fs::rename(temp, out, ec);
        if (ec) error = format(text_cannot_write, request.out.c_str(), ec.message().c_str());
    }
    if (!error.empty()) fs::remove(temp, ec);
    catch_signals(false);
    temp_path[0] = 0;
    return error;
}

// Reads an input file by offset; nothing from no file.
file_reader reader_of(const std::string& source)
{
    return [source](uint64_t offset, size_t n, unsigned char* out) {
        std::ifstream in(source, std::ios::binary);
        return !source.empty() && in.seekg(std::streamoff(offset)) &&
               in.read(reinterpret_cast<char*>(out), std::streamsize(n));
    };
}

// The jar that java -jar would be given: the first --jar whose manifest's
// Main-Class is the main class, else the first --jar; null without one.
const pack_file* main_jar(const pack_request& request)
{
    const pack_file* first = nullptr;
    for (const pack_file& f : request.files) {
        if (!f.jar) continue;
        if (!first) first = &f;
        std::error_code ec;
        uint64_t size = fs::file_size(f.source, ec);
        if (!ec && !request.main_class.empty() &&
            manifest_attribute(reader_of(f.source), size, "Main-Class") == request.main_class)
            return &f;
    }
    return first;
}

// The splash image as a file of the package, named in `stored`: the image
// of --splash, else the SplashScreen-Image of the main jar's manifest, read
// out of the jar as java -jar shows it. Nothing without either.
std::string add_splash(const pack_request& request, std::vector<pack_file>& files, std::string& stored)
{
    pack_file image{request.splash, "", false, ""};
    std::string label = request.splash;
    std::string error;
    bytes head;
    if (!request.splash.empty()) {
        std::ifstream in(request.splash, std::ios::binary);
        char start[16] = {};
        if (!in) return format(text_cannot_read, request.splash.c_str(), strerror(errno));
        in.read(start, sizeof start);
        head.assign(start, start + in.gcount());
    } else {
        const pack_file* jar = main_jar(request);
        std::error_code ec;
        uint64_t size = jar ? fs::file_size(jar->source, ec) : 0;
        std::string entry = jar && !ec ? manifest_attribute(reader_of(jar->source), size, "SplashScreen-Image") : "";
        if (entry.empty()) return "";
        label = jar->source + "!/" + entry;
        if (!entry_bytes(reader_of(jar->source), size, entry, size_t(stub_size_limit), image.data))
            return format(text_splash_entry_missing, jar->source.c_str(), entry.c_str());
        head.assign(image.data.begin(), image.data.begin() + std::ptrdiff_t(std::min<size_t>(16, image.data.size())));
    }
    stored = splash_stored_name(head.data(), head.size());
    if (stored.empty()) return format(text_splash_not_image, label.c_str());
    image.stored = stored;
    files.push_back(image);
    return "";
}

// The packed jars whose manifests load files from outside the package.
void warn_class_path(const std::string& vars, const std::vector<pack_file>& files, bool windows)
{
    bool present;
    std::string jars = value_of(vars.c_str(), "jars", present);
    std::vector<packed_entry> entries;
    for (const pack_file& f : files) {
        std::error_code ec;
        uint64_t size = f.source.empty() ? 0 : fs::file_size(f.source, ec);
        entries.push_back({f.stored, format(text_packed_as, f.stored.c_str(), f.source.c_str()), size,
                           reader_of(f.source)});
    }
    for (const std::string& warning : class_path_warnings(jars, entries, windows)) tell(text_warning, warning);
}

// The output must not be one of the inputs: writing it would replace the
// input. Compared by identity, so that other spellings of a path, links
// and hard links are caught too.
std::string check_output(const pack_request& request, const std::vector<pack_file>& files)
{
    std::error_code ec;
    if (!fs::exists(request.out, ec)) return "";
    std::vector<std::string> inputs{request.stub};
    for (const pack_file& f : files)
        if (!f.source.empty()) inputs.push_back(f.source);
    inputs.insert(inputs.end(), request.payloads.begin(), request.payloads.end());
    inputs.insert(inputs.end(), request.arg_files.begin(), request.arg_files.end());
    if (!request.icon.empty()) inputs.push_back(request.icon);
    for (const std::string& input : inputs)
        if (fs::equivalent(input, request.out, ec)) return format(text_out_is_input, request.out.c_str(), input.c_str());
    return "";
}

}  // namespace

std::string stub_format(const unsigned char* image, size_t length, bool& marked)
{
    const char* mark = "glimvane-reads-package-format=";
    const unsigned char* end = image + length;
    const unsigned char* at = std::search(image, end, mark, mark + strlen(mark));
    marked = at != end && size_t(end - at) >= size_t(format_mark_size + format_version_size);
    if (!marked) return format_unmarked;
    const char* version = reinterpret_cast<const char*>(at) + format_mark_size;
    return std::string(version, strnlen(version, size_t(format_version_size) - 1));
}

std::string splash_stored_name(const unsigned char* head, size_t size)
{
    const char* kind = size >= 8 && memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0                       ? ".png"
                     : size >= 6 && (memcmp(head, "GIF87a", 6) == 0 || memcmp(head, "GIF89a", 6) == 0) ? ".gif"
                     : size >= 3 && memcmp(head, "\xff\xd8\xff", 3) == 0                           ? ".jpg"
                                                                                                    : nullptr;
    return kind ? std::string("glimvane-splash") + kind : "";
}

bytes own_file(const std::string& stored)
{
    if (stored == boot_jar_name) return stored_zip(boot_class_name, boot_class_bytes, boot_class_size);
    return bytes(boot_class_bytes, boot_class_bytes + boot_class_size);
}

std::string launch_problem(const char* vars, bool standard_boot)
{
    bool present;
    std::string main = value_of(vars, "main", present);
    if (standard_boot && main.empty()) return text_no_main;
    std::string mx = value_of(vars, "mx", present), megabytes;
    if (present && (!mx_megabytes(mx, megabytes) || mx.find_first_not_of("0123456789") != std::string::npos))
        return format(text_bad_mx, mx.c_str(), mx.c_str(), mx_least, mx_most);
    std::string jop = value_of(vars, "jop", present);
    return jop_problem(jop);
}

void tell(const char* kind, const std::string& text)
{
    fprintf(stderr, "%s: %s: %s\n", pack_name, kind, text.c_str());
}

const char* windows_name_problem(const std::string& stored)
{
    static const char* const devices[] = {"con", "prn", "aux", "nul"};
    size_t start = 0;
    for (;;) {
        size_t end = stored.find_first_of("\\/", start);
        std::string name = stored.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() && end == std::string::npos) return text_why_trailing;
        if (name.empty()) {  // Windows reads "a//b" as "a/b"
            start = end + 1;
            continue;
        }
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 32) return text_why_control;
            if (strchr("<>:\"|?*", c)) return text_why_character;
        }
        if (name.back() == '.' || name.back() == ' ') return text_why_dot_blank;
        // A device name stays a device whatever extension follows it.
        std::string base = path_key(name.substr(0, name.find('.')), true);
        while (!base.empty() && base.back() == ' ') base.pop_back();
        bool device = std::find(std::begin(devices), std::end(devices), base) != std::end(devices);
        if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
            base[3] >= '1' && base[3] <= '9')
            device = true;
        if (device) return text_why_device;
        if (end == std::string::npos) return nullptr;
        start = end + 1;
    }
}

bytes stored_zip(const std::string& name, const unsigned char* data, size_t size)
{
    const uint32_t dos_date = 0x21;  // 1980-01-01, 00:00
    uint32_t crc = crc32_of(data, size);
    bytes zip;
    auto entry_fields = [&]() {
        add16(zip, 0);  // flags
        add16(zip, 0);  // stored
        add16(zip, 0);  // time
        add16(zip, dos_date);
        add32(zip, crc);
        add32(zip, uint32_t(size));
        add32(zip, uint32_t(size));
        add16(zip, uint32_t(name.size()));
        add16(zip, 0);  // extra field
    };
    add32(zip, 0x04034b50);
    add16(zip, 10);  // version needed
    entry_fields();
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), data, data + size);
    uint32_t directory = uint32_t(zip.size());
    add32(zip, 0x02014b50);
    add16(zip, 20);  // version made by
    add16(zip, 10);
    entry_fields();
    add16(zip, 0);  // comment
    add16(zip, 0);  // disk
    add16(zip, 0);  // internal attributes
    add32(zip, 0);  // external attributes
    add32(zip, 0);  // local header offset
    zip.insert(zip.end(), name.begin(), name.end());
    uint32_t directory_size = uint32_t(zip.size()) - directory;
    add32(zip, 0x06054b50);
    add16(zip, 0);
    add16(zip, 0);
    add16(zip, 1);
    add16(zip, 1);
    add32(zip, directory_size);
    add32(zip, directory);
    add16(zip, 0);
    return zip;
}

std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(size_t(n > 0 ? n : 0), '\0');
    vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

bool read_file(const std::string& path, std::vector<unsigned char>& data, std::string& error, uint64_t limit)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
    if (size >= 0 && uint64_t(size) > limit) {
        error = format(text_too_large_input, path.c_str(), (unsigned long long)size, (unsigned long long)limit);
        return false;
    }
    if (size >= 0) {
        data.resize(size_t(size));
        in.seekg(0);
        if (in.read(reinterpret_cast<char*>(data.data()), std::streamsize(size))) return true;
    }
    error = format(text_cannot_read, path.c_str(), strerror(errno));
    return false;
}

std::string pack(const pack_request& request)
{
    std::string display = request.name_given ? request.name : fs::path(request.out).stem().string();
    std::string error = check_name(text_display_name, display);
    if (error.empty()) error = check_name(text_exe_name, fs::path(request.out).filename().string());
    if (!error.empty()) return error;
    uint64_t stub_size = 0;
    bytes stub;
    size_t block = 0;
    if (!input_size(request.stub, stub_size, error) || !(error = load_stub(request, stub, block)).empty())
        return error;
    const bool windows = windows_image(stub.data(), stub.size());
    bool marked = false;
    const std::string reads = stub_format(stub.data(), stub.size(), marked);
    if (request.compress || !request.runtime.empty()) {
        if (parse_version(reads.c_str(), 0) < parse_version(format_compressed_runtime, 0))
            return format(text_stub_too_old, request.stub.c_str(), reads.c_str(), text_stub_too_old_options,
                          format_compressed_runtime);
    }
    if (!request.runtime.empty() && !(error = check_runtime(request.runtime, stub)).empty()) return error;

    std::map<std::string, std::string> stored;  // path key -> source
    std::vector<pack_file> files = request.files;
    if (request.boot && request.fast_start)
        files.insert(files.begin(), {"", boot_jar_name, true, ""});
    else if (request.boot)
        files.push_back({"", boot_class_name, false, ""});
    std::string splash;
    if (!(error = add_splash(request, files, splash)).empty()) return error;
    if (!request.getjava.empty()) files.push_back({request.getjava, "", false, ""});
    for (pack_file& f : files) {
        if (f.stored.empty()) f.stored = fs::path(f.source).filename().string();
        if (f.jar && f.stored.find_first_of(";\n") != std::string::npos)
            return format(text_jar_separator, f.source.c_str());
        if (!(error = check_stored(f, windows)).empty()) return error;
        auto taken = stored.emplace(path_key(f.stored, windows), f.source);
        if (!taken.second && (f.source.empty() || taken.first->second.empty()))
            return format(text_boot_taken, f.stored.c_str());
        if (!taken.second)
            return format(text_duplicate_path, taken.first->second.c_str(), f.source.c_str(), f.stored.c_str());
    }
    if (!(error = check_nesting(files, windows)).empty()) return error;
    std::string vars;
    if (!(error = check_vars(request, files, splash, vars, format_compressed_runtime)).empty()) return error;

    std::vector<section_plan> plan;
    plan.push_back({'V', "", "", vars.size() + 1, vars.size() + 1});
    // Stubs of format 1.1 read compressed files whole only.
    const bool parts = request.compress && parse_version(reads.c_str(), 0) >= parse_version(format_compressed_parts, 0);
    bool parted = false;
    for (size_t i = 0; i < files.size(); i++) {
        bool getjava = !request.getjava.empty() && i + 1 == files.size();
        section_plan s{getjava ? 'J' : 'F', files[i].source, files[i].stored, 0, 0};
        if (!files[i].data.empty()) {
            s.data = &files[i].data;
            s.size = s.data->size();
        } else if (s.source.empty()) {
            s.size = own_file(s.stored).size();
        }
        else if (!input_size(s.source, s.size, error)) {
            return error;
        }
        s.payload = record_length(s.stored.size(), s.size);
        if (!request.compress || s.source.empty() || getjava) {
            plan.push_back(s);
            continue;
        }
        size_t first = plan.size();
        if (!(error = plan_compressed(s, parts, plan)).empty()) return error;
        uint64_t compressed = 0;
        for (size_t k = first; k < plan.size(); k++) {
            compressed += plan[k].compressed;
            parted = parted || plan[k].type == compressed_part_type;
        }
        bool shrank = plan[first].type != s.type;
        if (shrank && s.stored == std::string(runtime_folder) + "/lib/modules" && compressed * 2 < s.size)
            tell(text_note, format(text_modules_inflated, request.runtime.c_str(), s.size / 1e6, compressed / 1e6));
    }
    // Parts need a launcher of their format.
    if (parted) {
        if (!(error = check_vars(request, files, splash, vars, format_compressed_parts)).empty()) return error;
        plan[0].size = plan[0].payload = vars.size() + 1;
    }
    for (const std::string& source : request.payloads) {
        section_plan s{'Z', source, "", 0, 0};
        if (!input_size(source, s.size, error)) return error;
        s.payload = s.size;
        plan.push_back(s);
    }

    // Lay the sections out first: every length and offset must stay a
    // signed 32-bit number before a byte is written.
    uint64_t end = stub.size();
    for (const section_plan& s : plan) end = (end + 15) / 16 * 16 + uint64_t(section_header_size) + s.payload;
    // The scan examines a header only when at least one byte follows it, so
    // an empty last payload gets one byte of trailing data.
    bool trailing_byte = plan.back().payload == 0;
    if (end + trailing_byte > uint64_t(INT32_MAX))
        return format(text_too_large, (unsigned long long)(end + trailing_byte));

    fill_block(request, display, uint32_t(plan.size()), uint32_t(end), &stub[block]);
    if (!(error = check_output(request, files)).empty()) return error;
    if (!(error = apply_resources(request, stub)).empty()) return error;
    warn_class_path(vars, files, windows);
    return write_output(request, stub, plan, vars, trailing_byte);
}
