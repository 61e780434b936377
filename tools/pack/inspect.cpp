#include "tools/pack/pack.h"

#include "os/os.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/writer.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/track.h"
#include "tools/pack/texts.h"

#include <cstring>
#include <filesystem>

namespace {

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

void print_vars(const unsigned char* payload, int32_t length, FILE* out, std::string& problem)
{
    const char* text = reinterpret_cast<const char*>(payload);
    size_t n = strnlen(text, size_t(length));
    for (size_t at = 0; at < n;) {
        size_t end = at;
        while (end < n && text[end] != '\n') end++;
        fprintf(out, text_inspect_vars_line, std::string(text + at, end - at).c_str());
        at = end + 1;
    }
    if (n == size_t(length)) {
        fputs(text_inspect_no_nul, out);
        first_error(problem, text_inspect_vars_nul);
    }
}

// The record of a file section, read the way the launcher reads it.
void print_record(const unsigned char* header, FILE* out, std::string& problem)
{
    unsigned char* plain = descramble_section(header);
    file_record r;
    if (read_record(plain, section_payload_length(header), &r) && record_path_safe(r.path)) {
        fprintf(out, text_inspect_record, r.path, r.size);
    } else {
        fputs(text_inspect_bad_record, out);
        first_error(problem, format(text_error_41, os_error_invalid_data));
    }
    track_free(plain, 1);
}

}  // namespace

int inspect(const std::string& path, FILE* out)
{
    std::vector<unsigned char> file;
    std::string error;
    if (!read_file(path, file, error)) {
        fprintf(stderr, text_error_prefix, error.c_str());
        return 1;
    }
    fprintf(out, text_inspect_file, path.c_str(), (long long)file.size());
    // The first marker is the block: sections come after the launcher image.
    size_t at;
    if (count_config_markers(file.data(), file.size(), &at) == 0 || at + size_t(config_block_size) > file.size()) {
        fprintf(stderr, text_error_prefix, format(text_no_marker, path.c_str()).c_str());
        return 1;
    }
    const unsigned char* block = &file[at];
    int32_t expected = get32(block + config_count_offset);
    int32_t min_length = get32(block + config_length_offset);
    fprintf(out, text_inspect_block, expected, min_length, field_text(block + config_display_offset).c_str(),
            field_text(block + config_original_offset).c_str());

    const std::string exe = std::filesystem::path(path).filename().string();
    // What the launcher's mapping reports: the low 32 bits of the size.
    const int32_t length = int32_t(uint32_t(file.size()));
    error.clear();
    if (length < min_length) first_error(error, format(text_error_90, exe.c_str()));
    if (expected < 1 || expected > 100000) first_error(error, format(text_error_96, expected));

    const unsigned char* base = file.data();
    int32_t found = 0;
    char first_type = 0;
    bool signature_failed = false;
    int64_t end = 0;
    std::string problem;  // of the Vars text or a record, met after the scan
    for (int32_t at = find_header(base, 0, length); at > 0;) {
        const unsigned char* header = base + at;
        bool ok = payload_signed(header);
        int32_t payload = section_payload_length(header);
        fprintf(out, text_inspect_section, found + 1, at, section_type(header), payload, ok ? "ok" : "FAILED");
        if (!ok) {
            fputc('\n', out);
            signature_failed = true;
            break;
        }
        if (found == 0) first_type = section_type(header);
        char type = section_type(header);
        if (type == 'F' || type == 'B' || type == 'J') print_record(header, out, problem);
        fputc('\n', out);
        if (type == 'V' && found == 0) print_vars(header + section_header_size, payload, out, problem);
        found++;
        end = int64_t(at) + section_header_size + payload;
        at = find_header(base, int32_t(end), length);
    }
    if (int64_t(file.size()) > end && !signature_failed)
        fprintf(out, text_inspect_trailing, (long long)(int64_t(file.size()) - end));

    if (signature_failed) first_error(error, format(text_error_91, 91));
    if (found != expected) first_error(error, format(text_error_97, expected, exe.c_str(), found));
    if (first_type != 'V') first_error(error, text_error_98);
    first_error(error, problem);
    if (error.empty()) {
        fputs(text_inspect_ok, out);
        return 0;
    }
    fprintf(out, text_inspect_error, error.c_str());
    return 1;
}
