#include "tools/pack/pack.h"

#include "boot/boot_class.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/writer.h"
#include "support/config.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<unsigned char>;

// The keys the launcher and the standard boot class look up in the Vars
// text, both by the same rule.
const char* const looked_up_keys[] = {"mx",     "jars", "useclasspath", "execwd", "minver",
                                      "maxver", "jvm",  "jop",          "main",   "windowed"};

struct section_plan {
    char type;
    std::string source;  // the input file; empty for the Vars section and the boot class
    std::string stored;  // the record's relative path (F and J)
    uint64_t size;       // bytes of the source file, or of the Vars text with its NUL
    uint64_t payload;    // payload bytes
};

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
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

// Paths compare as Windows would: either separator, any letter case.
std::string path_key(const std::string& stored)
{
    std::string key = stored;
    for (char& c : key) c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string check_stored(const std::string& stored)
{
    if (!record_path_safe(stored.c_str())) return format(text_bad_path, stored.c_str());
    if (stored.size() > record_path_limit) return format(text_path_too_long, stored.c_str());
    return "";
}

std::string check_vars(const pack_request& request, const std::vector<pack_file>& files, std::string& text)
{
    std::vector<std::pair<std::string, std::string>> lines;
    lines.emplace_back("packager", format("%s %s", pack_name, pack_version));
    std::string jars;
    for (const pack_file& f : files)
        if (f.jar) jars += (jars.empty() ? "" : ";") + f.stored;
    if (!jars.empty()) lines.emplace_back("jars", jars);
    if (request.main_class.find('\n') != std::string::npos)
        return format(text_bad_main, request.main_class.c_str());
    if (!request.main_class.empty()) lines.emplace_back("main", request.main_class);
    for (const auto& kv : request.vars) {
        if (kv.first.empty() || kv.first.find_first_of("=\n") != std::string::npos)
            return format(text_bad_key, kv.first.c_str());
        if (kv.second.find('\n') != std::string::npos) return format(text_bad_value, kv.first.c_str());
        lines.push_back(kv);
    }
    std::set<std::string> keys;
    text.clear();
    for (const auto& kv : lines) {
        if (!keys.insert(kv.first).second) return format(text_duplicate_key, kv.first.c_str());
        text += kv.first + "=" + kv.second + "\n";
    }
    // The launcher takes the first "key=" anywhere in the text: it must be
    // the start of the key's own line, or absent.
    for (const char* key : looked_up_keys) keys.insert(key);
    for (const std::string& key : keys) {
        size_t at = text.find(key + "=");
        if (at != std::string::npos && at != 0 && text[at - 1] != '\n')
            return format(text_hidden_key, key.c_str());
    }
    return "";
}

std::string check_name(const char* what, const std::string& name)
{
    if (name.size() >= size_t(config_name_size)) return format(text_name_too_long, what, name.c_str(), int(name.size()));
    return "";
}

// The stub with its block filled in.
std::string prepare_stub(const pack_request& request, const std::string& display, uint32_t count,
                         uint32_t end, bytes& stub)
{
    std::string error;
    if (!read_file(request.stub, stub, error)) return error;
    size_t at;
    int markers = count_config_markers(stub.data(), stub.size(), &at);
    if (markers == 0 || at + size_t(config_block_size) > stub.size())
        return format(text_no_marker, request.stub.c_str());
    if (markers > 1) return format(text_two_markers, request.stub.c_str(), markers);
    unsigned char* block = &stub[at];
    if (std::any_of(block + config_count_offset, block + config_block_size, [](unsigned char b) { return b != 0; }))
        return format(text_already_packed, request.stub.c_str());
    put32(block + config_count_offset, count);
    put32(block + config_length_offset, end);
    std::string exe = fs::path(request.out).filename().string();
    memcpy(block + config_display_offset, display.data(), display.size());
    memcpy(block + config_original_offset, exe.data(), exe.size());
    return "";
}

std::string payload_of(const section_plan& s, const std::string& vars, bytes& payload)
{
    if (s.type == 'V') {
        payload.assign(vars.begin(), vars.end());
        payload.push_back(0);
        return "";
    }
    bytes contents;
    std::string error;
    if (s.source.empty())
        contents.assign(boot_class_bytes, boot_class_bytes + boot_class_size);
    else if (!read_file(s.source, contents, error))
        return error;
    if (contents.size() != s.size) return format(text_changed, s.source.c_str());
    if (s.type == 'Z') {
        payload.swap(contents);
        return "";
    }
    payload.assign(size_t(s.payload), 0);
    put_record_head(payload.data(), s.stored.c_str(), uint32_t(s.size));
    std::copy(contents.begin(), contents.end(), payload.end() - ptrdiff_t(contents.size()));
    scramble_bytes(payload.data(), payload.data(), payload.size());
    return "";
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

std::string write_output(const pack_request& request, const bytes& stub, const std::vector<section_plan>& plan,
                         const std::string& vars, bool trailing_byte)
{
    fs::path out = request.out;
    std::random_device random;
    fs::path temp = out.parent_path() / format(".%s.%08x.tmp", out.filename().string().c_str(), unsigned(random()));
    std::string error;
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file) return format(text_cannot_write, temp.string().c_str(), strerror(errno));
        file.write(reinterpret_cast<const char*>(stub.data()), std::streamsize(stub.size()));
        uint64_t at = stub.size();
        for (const section_plan& s : plan) {
            bytes payload;
            error = payload_of(s, vars, payload);
            if (!error.empty()) break;
            unsigned char head[16 + section_header_size] = {};
            size_t fill = size_t((16 - at % 16) % 16);
            put_section_header(head + fill, s.type, payload.data(), int32_t(payload.size()));
            file.write(reinterpret_cast<const char*>(head), std::streamsize(fill + section_header_size));
            file.write(reinterpret_cast<const char*>(payload.data()), std::streamsize(payload.size()));
            at += fill + section_header_size + payload.size();
        }
        if (trailing_byte) file.put(0);
        file.close();
        if (error.empty() && !file) error = format(text_cannot_write, temp.string().c_str(), strerror(errno));
    }
    std::error_code ec;
    if (error.empty()) {
        make_executable(temp);
        fs::rename(temp, out, ec);
        if (ec) error = format(text_cannot_write, request.out.c_str(), ec.message().c_str());
    }
    if (!error.empty()) fs::remove(temp, ec);
    return error;
}

}  // namespace

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

bool read_file(const std::string& path, std::vector<unsigned char>& data, std::string& error)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
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

    std::set<std::string> stored;
    std::vector<pack_file> files = request.files;
    if (request.boot) files.push_back({"", boot_class_name, false});
    if (!request.getjava.empty()) files.push_back({request.getjava, "", false});
    for (pack_file& f : files) {
        if (f.stored.empty()) f.stored = fs::path(f.source).filename().string();
        if (f.jar && f.stored.find_first_of(";\n") != std::string::npos)
            return format(text_jar_separator, f.source.c_str());
        if (!(error = check_stored(f.stored)).empty()) return error;
        if (!stored.insert(path_key(f.stored)).second)
            return format(f.source.empty() ? text_boot_taken : text_duplicate_path, f.stored.c_str());
    }
    std::string vars;
    if (!(error = check_vars(request, files, vars)).empty()) return error;

    std::vector<section_plan> plan;
    plan.push_back({'V', "", "", vars.size() + 1, vars.size() + 1});
    for (size_t i = 0; i < files.size(); i++) {
        bool getjava = !request.getjava.empty() && i + 1 == files.size();
        section_plan s{getjava ? 'J' : 'F', files[i].source, files[i].stored, 0, 0};
        if (s.source.empty())
            s.size = boot_class_size;
        else if (!input_size(s.source, s.size, error))
            return error;
        s.payload = record_length(s.stored.size(), s.size);
        plan.push_back(s);
    }
    for (const std::string& source : request.payloads) {
        section_plan s{'Z', source, "", 0, 0};
        if (!input_size(source, s.size, error)) return error;
        s.payload = s.size;
        plan.push_back(s);
    }

    // Lay the sections out first: every length and offset must stay a
    // signed 32-bit number before a byte is written.
    uint64_t stub_size = 0;
    if (!input_size(request.stub, stub_size, error)) return error;
    uint64_t end = stub_size;
    for (const section_plan& s : plan) end = (end + 15) / 16 * 16 + uint64_t(section_header_size) + s.payload;
    // The scan examines a header only when at least one byte follows it, so
    // an empty last payload gets one byte of trailing data.
    bool trailing_byte = plan.back().payload == 0;
    if (end + trailing_byte > uint64_t(INT32_MAX))
        return format(text_too_large, (unsigned long long)(end + trailing_byte));

    bytes stub;
    if (!(error = prepare_stub(request, display, uint32_t(plan.size()), uint32_t(end), stub)).empty()) return error;
    if (stub.size() != stub_size) return format(text_changed, request.stub.c_str());
    return write_output(request, stub, plan, vars, trailing_byte);
}
