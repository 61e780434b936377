#include "support/track.h"

#include "os/os.h"
#include "support/messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t guard_tag = 0x54414D50;

// The self address is pointer-sized; the header takes a multiple of 16 bytes
// so that the data keeps the allocator's 16-byte alignment on 64-bit builds.
struct track_header {
    uint32_t zero;
    uint32_t tag;
    void* self;
    int32_t length;
};
const size_t header_size = (sizeof(track_header) + 15) & ~size_t(15);

track_header* header_of(void* data)
{
    return reinterpret_cast<track_header*>(static_cast<unsigned char*>(data) - header_size);
}

std::atomic<int32_t> outstanding{0};

}  // namespace

void* track_alloc(int32_t length)
{
    if (length < 0) length = 0;
    auto* block = static_cast<unsigned char*>(calloc(size_t(length) + header_size, 1));
    if (!block) {
        // Callers never test for null: an exhausted heap ends the run here.
        fputs(text_out_of_memory, stdout);
        fflush(stdout);
        abort();
    }
    auto* header = reinterpret_cast<track_header*>(block);
    void* data = block + header_size;
    header->tag = guard_tag;
    header->self = data;
    header->length = length;
    outstanding += length;
    return data;
}

int track_free(void* data, int site)
{
    if (!data) return 0;
    track_header* header = header_of(data);
    if (header->tag != guard_tag || header->self != data) {
        printf(text_refused_free, site);
        fflush(stdout);
        return 0;
    }
    outstanding -= header->length;
    free(header);
    return 0;
}

char* track_strdup(const char* text)
{
    size_t n = strlen(text);
    if (n > size_t(INT32_MAX) - 1) n = size_t(INT32_MAX) - 1;
    auto* copy = static_cast<char*>(track_alloc(int32_t(n + 1)));
    memcpy(copy, text, n);
    return copy;
}

void format_text(char* buffer, const char* format, va_list args)
{
    if (vsnprintf(buffer, max_text_length + 1, format, args) < 0) buffer[0] = 0;
}

char* format_new(const char* format, ...)
{
    char buffer[max_text_length + 1];
    va_list args;
    va_start(args, format);
    format_text(buffer, format, args);
    va_end(args);
    return track_strdup(buffer);
}

int32_t track_outstanding()
{
    return outstanding;
}

void* start_thread(void (*body)())
{
    return os_start_thread(body);
}
