// Tracked memory and formatted text: every heap block the launcher keeps is
// zero-filled and sits behind a guard header; the outstanding-bytes counter
// shows leaks in the exit log line.
#pragma once

#include <cstdarg>
#include <cstdint>

// Largest text format_new and log_line produce; longer results are cut.
const int max_text_length = 32767;

void* track_alloc(int32_t length);
// Releases a tracked block; a null address is ignored. A block that is not
// a live tracked block is refused with the "?free() %d" line naming `site`.
int track_free(void* data, int site);
char* track_strdup(const char* text);
char* format_new(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats into `buffer` of max_text_length + 1 bytes, cutting what does not fit.
void format_text(char* buffer, const char* format, va_list args);
// A new tracked text: `text` followed by the formatted addition (itself cut
// at max_text_length); `text` is released with call-site number `site`. The
// whole may grow past max_text_length.
char* append_new(char* text, int site, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Sum of the requested lengths of all live tracked blocks.
int64_t track_outstanding();
// What an exhausted heap does after its message: `handler` must end the
// process (the launcher passes its exit path); without one, or when the
// handler itself runs out, the process aborts.
void track_on_out_of_memory(void (*handler)());

// Starts body on a new thread at once; the handle is never released.
void* start_thread(void (*body)());
