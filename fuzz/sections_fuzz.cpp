// Fuzz target: the input is a whole packaged file. It is scanned as the
// driver scans it, the Vars text is copied by the driver's own stage, and
// each file section is descrambled and its record read. The input buffer is
// exactly its own size, so any read past it is caught by AddressSanitizer.
//
// Random bytes almost never carry a valid 32-bit header check or payload
// signature, so the same scan also runs on a copy whose checks and
// signatures are recomputed: the fuzzer then reaches the records of headers
// it has only mutated.
#include "fuzz/check.h"
#include "launcher/driver.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/writer.h"
#include "support/track.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const size_t max_sections = 100000;  // the driver's table holds no more

uint32_t get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void check_record(const unsigned char* header)
{
    int32_t length = section_payload_length(header);
    unsigned char* plain = descramble_section(header);
    // The word-at-a-time descrambler must undo the writer's byte loop.
    std::vector<unsigned char> back(size_t(length) + 1);
    scramble_bytes(plain, back.data(), size_t(length));
    FUZZ_CHECK(memcmp(back.data(), header + section_header_size, size_t(length)) == 0);

    file_record r;
    if (read_record(plain, length, &r)) {
        // Everything the record points at lies inside the plain payload.
        size_t n = plain[0];
        FUZZ_CHECK(r.path == reinterpret_cast<const char*>(plain + 1));
        FUZZ_CHECK(memchr(plain + 1, 0, n + 5) != nullptr);
        FUZZ_CHECK(r.contents == plain + n + 10);
        FUZZ_CHECK(uint64_t(n) + 10 + r.size <= uint64_t(length));
        record_path_safe(r.path);
    }
    track_free(plain, 1);
}

// The driver's scan: from 0, each next search right after the previous
// payload, until none (0) or a failed signature (negative).
void scan(const unsigned char* base, int32_t length)
{
    std::vector<const unsigned char*> headers;
    bool signature_failed = false;
    int64_t end = 0;
    for (int32_t offset = find_section(base, 0, length); offset != 0 && headers.size() < max_sections;) {
        if (offset < 0) {
            FUZZ_CHECK(offset == -91);
            signature_failed = true;
            break;
        }
        const unsigned char* header = base + offset;
        int32_t payload = section_payload_length(header);
        FUZZ_CHECK(offset % 16 == 0 && offset >= (end & ~int64_t(15)));
        FUZZ_CHECK(header_valid(header) && payload_signed(header));
        FUZZ_CHECK(payload >= 0 && int64_t(offset) + section_header_size + payload <= length);
        headers.push_back(header);
        end = int64_t(offset) + section_header_size + payload;
        offset = find_section(base, int32_t(end), length);
    }
    if (headers.empty() || signature_failed) return;  // the driver stops with error 97 or 91

    launch_state launch{};
    launch.table = headers.data();
    stage_vars(launch);
    if (section_type(headers[0]) == 'V') {
        FUZZ_CHECK(launch.vars && !launch.error);
        size_t n = strlen(launch.vars);
        FUZZ_CHECK(n <= size_t(section_payload_length(headers[0])));
        FUZZ_CHECK(memcmp(launch.vars, headers[0] + section_header_size, n) == 0);
    } else {
        FUZZ_CHECK(!launch.vars && launch.error);
    }
    track_free(launch.vars, 2);

    for (const unsigned char* header : headers) {
        char type = section_type(header);
        if (type == 'F' || type == 'B' || type == 'J') check_record(header);
    }
}

// Recomputes the check and signature of every header that carries the
// magic and whose payload fits, last first, so that a header inside an
// earlier payload is final before that payload is signed.
void repair(std::vector<unsigned char>& file)
{
    if (file.size() <= size_t(section_header_size)) return;
    for (size_t at = (file.size() - section_header_size - 1) & ~size_t(15); at > 0; at -= 16) {
        unsigned char* header = &file[at];
        bool magic = true;
        for (int i = 0; i < section_magic_size && magic; i++) magic = header[i] == section_magic_byte(i);
        uint64_t payload = get32(header + 24);
        if (!magic || at + section_header_size + payload > file.size()) continue;
        put_section_header(header, char(header[15]), header + section_header_size, int32_t(payload));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > size_t(INT32_MAX)) return 0;
    scan(data, int32_t(size));
    std::vector<unsigned char> repaired(data, data + size);
    repair(repaired);
    scan(repaired.data(), int32_t(size));
    return 0;
}
