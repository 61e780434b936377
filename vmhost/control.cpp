#include "vmhost/control.h"

#include "os/os.h"
#include "support/console.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/report.h"
#include "support/track.h"
#include "support/words.h"
#include "vmhost/vmhost.h"

#include <cstdio>
#include <cstring>

namespace {

// The VM writes the dump to standard output; the relay carries it into the
// file. False when no dump was made.
bool dump_all_stacks(const char* path)
{
    JavaVM* vm = vm_pointer;
    jvm_dump_fn dump = dump_entry;
    if (!vm || !dump) return false;
    JNIEnv* env = nullptr;
    JavaVMAttachArgs args = {JNI_VERSION_1_2, const_cast<char*>(text_dump_thread_name), nullptr};
    if ((*vm)->AttachCurrentThread(vm, reinterpret_cast<void**>(&env), &args) != 0) return false;
    // Only a regular file: a dump into a FIFO, a device or the launcher's
    // own output could block the program or land somewhere else.
    int file = path ? os_open_dump_file(path) : -1;
    if (file < 0) {
        if (path) log_line(log_dump_refused, path, os_last_error());
        (*vm)->DetachCurrentThread(vm);
        return false;
    }
    os_set_thread_priority(OS_PRIORITY_TIME_CRITICAL);
    relay_dump_begin(file);
    dump(env, nullptr);
    fflush(stdout);
    os_set_thread_priority(OS_PRIORITY_HIGHEST);
    relay_dump_end();
    os_close_fd(file);
    os_set_thread_priority(OS_PRIORITY_NORMAL);
    (*vm)->DetachCurrentThread(vm);
    return true;
}

}  // namespace

void handle_command(char* block)
{
    char* reply = block + control_reply_offset;
    // Empties the reply and ends a command that the client did not end.
    reply[0] = 0;
    char* words[max_words];
    int count = split_args(block, words);
    if (count == 0) return;
    if (strcmp(words[0], text_command_dump) == 0) {
        if (dump_all_stacks(words[1])) strcpy(reply, text_dump_done);
    } else if (strcmp(words[0], text_command_status) == 0) {
        snprintf(reply, control_block_size - control_reply_offset, text_status_reply, original_name_text(),
                 int(os_process_id()));
    }
}

namespace {

// One request, carried out on a private copy of the block: whatever another
// process does to the block meanwhile (a same-user process may even shrink
// it) cannot reach the handler. A block that no longer holds the command
// reads as an empty one.
void serve(os_shared* block)
{
    char copy[control_block_size];
    if (!os_shared_read(block, 0, copy, control_reply_offset)) copy[0] = 0;
    handle_command(copy);
    const char* reply = copy + control_reply_offset;
    os_shared_write(block, control_reply_offset, reply, strlen(reply) + 1);
}

}  // namespace

int control_thread_main()
{
    char* block_name = format_new(os_shared_name_format, run_id);
    char* lock_name = format_new(os_lock_name_format, run_id);
    char* start_name = format_new(os_start_event_name_format, run_id);
    char* end_name = format_new(os_end_event_name_format, run_id);
    char* clients_name = format_new(os_client_lock_name_format, run_id);
    bool existed = false;
    os_shared* block = os_shared_create(block_name, control_block_size, &existed);
    os_sync* lock = block ? os_lock_create(lock_name) : nullptr;
    os_sync* start = lock ? os_event_create(start_name) : nullptr;
    os_sync* end = start ? os_event_create(end_name) : nullptr;
    // Clients take this one for a whole request, so each gets its own reply.
    os_sync* clients = end ? os_lock_create(clients_name) : nullptr;
    if (!clients) {
        // The launch goes on without a channel, but says so.
        log_line(log_control_none, os_last_error());
        return 0;
    }
    for (;;) {
        if (!os_sync_wait(start, -1) || !os_sync_wait(lock, -1)) return 0;
        serve(block);
        // The end is set while the lock is still held: a client that holds
        // the lock next finds every earlier end already set, and clears it.
        os_event_set(end);
        os_lock_release(lock);
    }
}

void control_thread()
{
    control_thread_main();
}
