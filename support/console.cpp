#include "support/console.h"

#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/track.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const long relay_chunk = 1024;
const int relay_pause_ms = 55;
// How long the exit waits for the console to take the last output.
const int exit_drain_limit_ms = 5000;

intptr_t relay_read_end;
os_wake* relay_wake;
// Written once before the relay thread starts.
int console_fd = -1;
// Above 0 while a stack dump owns standard output.
std::atomic<int> dump_fd{0};
std::atomic<bool> relay_running{false};
// Without a relay, what descriptor 1 was before a dump took it.
int stdout_before_dump = -1;

// A request to the relay: copy what the pipe holds now, then report back by
// clearing it; for a dump's end, then give standard output back.
enum drain_kind { DRAIN_NONE, DRAIN_OUTPUT, DRAIN_DUMP_END };
std::atomic<int> drain_request{DRAIN_NONE};

// The whole chunk, however the system splits it: a short write would lose
// the rest of it.
void write_whole(int fd, const char* data, long length)
{
    while (length > 0) {
        long n = os_fd_write(fd, data, size_t(length));
        if (n <= 0) return;
        data += n;
        length -= n;
    }
}

void relay_thread()
{
    os_set_thread_priority(OS_PRIORITY_TIME_CRITICAL);
    char buffer[relay_chunk];
    // Bytes at the front of the pipe that a drain still waits for; -1 when
    // none is running. The pipe keeps the order of writes, so what it holds
    // once the request is seen covers everything written before the request.
    long tail = -1;
    for (;;) {
        if (tail < 0 && drain_request != DRAIN_NONE) {
            long waiting = os_pipe_available(relay_read_end);
            tail = waiting > 0 ? waiting : 0;
        }
        if (tail == 0) {
            if (drain_request == DRAIN_DUMP_END) dump_fd = -1;
            tail = -1;
            drain_request = DRAIN_NONE;
        }
        long waiting = os_pipe_available(relay_read_end);
        if (waiting == 0) {
            os_pipe_wait(relay_read_end, relay_wake, relay_pause_ms);
            continue;
        }
        long want = waiting > 0 && waiting < relay_chunk ? waiting : relay_chunk;
        if (tail > 0 && tail < want) want = tail;
        long n = os_pipe_read(relay_read_end, buffer, size_t(want));
        if (n <= 0) {
            os_sleep_ms(relay_pause_ms);
            continue;
        }
        if (tail > 0) tail -= n;
        int target = dump_fd > 0 ? dump_fd.load() : console_fd;
        if (target > 0) write_whole(target, buffer, n);
    }
}

// Asks the relay to copy what the pipe holds and waits until it has, at
// most `limit_ms` (< 0: without limit). False when the limit passed.
bool relay_drain(drain_kind kind, int limit_ms)
{
    fflush(stdout);
    drain_request = kind;
    if (relay_wake) os_wake_signal(relay_wake);
    uint32_t start = os_uptime_ms();
    while (drain_request != DRAIN_NONE) {
        if (limit_ms >= 0 && os_uptime_ms() - start >= uint32_t(limit_ms)) return false;
        os_sleep_ms(1);
    }
    return true;
}

// The process ends with exit(): what the application wrote last is still in
// the pipe and would be lost with it.
void relay_drain_at_exit()
{
    relay_drain(DRAIN_OUTPUT, exit_drain_limit_ms);
}

}  // namespace

void console_binary_mode()
{
    int out = os_stream_fd(stdout);
    if (out > 0) os_set_binary(out);
    int err = os_stream_fd(stderr);
    if (err > 0) os_set_binary(err);
}

bool relay_chosen(const char* value)
{
    if (value && strcmp(value, "on") == 0) return true;
    if (value && strcmp(value, "off") == 0) return false;
    return !os_console_program();
}

void relay_setup()
{
    intptr_t write_end;
    if (!os_pipe_create(&relay_read_end, &write_end)) return;
    int out = os_stream_fd(stdout);
    console_fd = out > 0 ? os_dup(out) : -1;
    if (!os_stdout_to_pipe(write_end)) return;
    os_set_detached_stdout(console_fd);
    relay_wake = os_wake_create();
    relay_running = start_thread(relay_thread) != nullptr;
    if (relay_running) atexit(relay_drain_at_exit);
}

void stderr_merge()
{
    os_stderr_handle_to_stdout();
    int out = os_stream_fd(stdout);
    int err = os_stream_fd(stderr);
    if (err < 0 && out == 1) {
        log_line(log_stderrfix);
        err = 2;
    }
    if (out > 0 && err > 0) os_dup2(out, err);
}

void relay_dump_begin(int fd)
{
    if (relay_running) dump_fd = fd;
    else stdout_before_dump = os_stdout_redirect(fd);
}

void relay_dump_end()
{
    // Everything the dump wrote is in the pipe or already copied: the relay
    // copies what the pipe holds now into the file, then hands back.
    if (relay_running) {
        relay_drain(DRAIN_DUMP_END, -1);
        return;
    }
    os_stdout_restore(stdout_before_dump);
    stdout_before_dump = -1;
}
