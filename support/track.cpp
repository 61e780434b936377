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

// 64 bits: the sum of all live blocks can pass 2^31 bytes on 64-bit builds.
std::atomic<int64_t> outstanding{0};

// Handed back to the heap when it runs out, so that the exit path can still
// build its few texts.
const size_t reserve_size = 256 * 1024;
void* reserve = malloc(reserve_size);
void (*out_of_memory_handler)() = nullptr;
thread_local bool handling_out_of_memory = false;

[[noreturn]] void out_of_memory()
{
    fputs(text_out_of_memory, stdout);
    fflush(stdout);
    // The exit path allocating again on this thread would come back here.
    if (out_of_memory_handler && !handling_out_of_memory) {
        handling_out_of_memory = true;
        free(reserve);
        reserve = nullptr;
        out_of_memory_handler();
    }
    abort();
}

}  // namespace

void* track_alloc(int32_t length)
{
    if (length < 0) length = 0;
    auto* block = os_fault_hit(OS_CALL_ALLOC) ? nullptr
                                              : static_cast<unsigned char*>(calloc(size_t(length) + header_size, 1));
    // Callers never test for null: an exhausted heap ends the run here.
    if (!block) out_of_memory();
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

char* append_new(char* text, int site, const char* format, ...)
{
    char tail[max_text_length + 1];
    va_list args;
    va_start(args, format);
    format_text(tail, format, args);
    va_end(args);
    size_t n = strlen(text), m = strlen(tail);
    if (n + m > size_t(INT32_MAX) - 1) m = 0;  // no tracked block holds more
    auto* joined = static_cast<char*>(track_alloc(int32_t(n + m + 1)));
    memcpy(joined, text, n);
    memcpy(joined + n, tail, m);
    track_free(text, site);
    return joined;
}

int64_t track_outstanding()
{
    return outstanding;
}

void track_on_out_of_memory(void (*handler)())
{
    out_of_memory_handler = handler;
}

void* start_thread(void (*body)())
{
    return os_start_thread(body);
}
