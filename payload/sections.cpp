#include "payload/sections.h"

#include "os/os.h"
#include "support/track.h"

#include <atomic>
#include <cstring>

namespace {

// Little-endian fields, read byte by byte: no alignment is assumed.
uint32_t get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t get64(const unsigned char* p)
{
    return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32;
}

os_mapping self_mapping = {-1, nullptr, nullptr, 0};

bool in_view(const unsigned char* data, size_t length)
{
    auto view = reinterpret_cast<uintptr_t>(self_mapping.view);
    auto at = reinterpret_cast<uintptr_t>(data);
    return view && at >= view && length <= self_mapping.view_length && at - view <= self_mapping.view_length - length;
}

// Payload bytes are hashed a chunk at a time from a buffer that stays in
// the cache (see read_payload).
const size_t hash_chunk = 256 * 1024;
unsigned char hash_buffers[2][hash_chunk];

uint64_t payload_terms(const unsigned char* data, size_t length, uint32_t first, unsigned char* buffer)
{
    if (!in_view(data, length)) return section_hash_terms(data, length, first);
    uint64_t terms = 0;
    for (size_t at = 0; at < length; at += hash_chunk) {
        size_t n = length - at < hash_chunk ? length - at : hash_chunk;
        read_payload(data + at, n, buffer);
        terms ^= section_hash_terms(buffer, n, first + uint32_t(at));
    }
    return terms;
}

// Payloads from this size on are hashed on two cores: the hash terms of the
// second half on a thread of its own, those of the first half here. Below
// it, starting the thread costs more than it saves.
const int32_t split_hash_from = 4 << 20;

struct hash_job {
    const unsigned char* data;
    size_t length;
    uint32_t first;
    uint64_t terms;
    std::atomic<bool> done;
};
hash_job second_half;

void hash_second_half()
{
    second_half.terms = payload_terms(second_half.data, second_half.length, second_half.first, hash_buffers[1]);
    second_half.done.store(true, std::memory_order_release);
}

uint64_t payload_hash(const unsigned char* payload, int32_t length)
{
    if (length <= 0) return 1;
    size_t whole = size_t(length);
    if (length >= split_hash_from) {
        size_t half = whole / 2;
        second_half.data = payload + half;
        second_half.length = whole - half;
        second_half.first = uint32_t(half);
        second_half.done.store(false, std::memory_order_relaxed);
        if (start_thread(hash_second_half)) {
            uint64_t terms = payload_terms(payload, half, 0, hash_buffers[0]);
            while (!second_half.done.load(std::memory_order_acquire)) os_sleep_ms(0);
            return (terms ^ second_half.terms) | 1;
        }
    }
    return payload_terms(payload, whole, 0, hash_buffers[0]) | 1;
}

}  // namespace

bool header_valid(const unsigned char* header)
{
    for (int i = 0; i < section_magic_size; i++)
        if (header[i] != section_magic_byte(i)) return false;
    uint32_t check = uint32_t(section_hash(header, 28) >> 16);
    return check == get32(header + 28);
}

int32_t find_header(const unsigned char* base, int32_t start, int32_t length)
{
    // 64-bit arithmetic: an offset plus a payload length never wraps.
    for (int64_t at = start > 0 ? start & ~15 : 0; at + section_header_size < length; at += 16) {
        const unsigned char* header = base + at;
        if (header_valid(header) && at + section_header_size + get32(header + 24) <= length)
            return int32_t(at);
    }
    return 0;
}

bool payload_signed(const unsigned char* header)
{
    uint64_t hash = payload_hash(header + section_header_size, section_payload_length(header));
    return hash * section_signature(header) == 1;
}

int32_t find_section(const unsigned char* base, int32_t start, int32_t length)
{
    int32_t at = find_header(base, start, length);
    if (at > 0 && !payload_signed(base + at)) return -91;
    return at;
}

char section_type(const unsigned char* header)
{
    return char(header[15]);
}

uint64_t section_signature(const unsigned char* header)
{
    return get64(header + 16);
}

int32_t section_payload_length(const unsigned char* header)
{
    return int32_t(get32(header + 24));
}

void read_payload(const unsigned char* data, size_t length, unsigned char* out)
{
    auto* view = static_cast<const unsigned char*>(self_mapping.view);
    if (in_view(data, length) && os_mapping_read(&self_mapping, uint64_t(data - view), out, length)) return;
    memcpy(out, data, length);
}

int32_t map_self(const char* path, const unsigned char** base)
{
    int32_t length = os_map_file(path, &self_mapping);
    *base = static_cast<const unsigned char*>(self_mapping.view);
    return self_mapping.view ? length : -1;
}

int unmap_self()
{
    os_unmap_file(&self_mapping);
    return 0;
}

bool file_exists(const char* path)
{
    return os_file_exists(path);
}
