#include "vmhost/control.h"

#include "os/os.h"
#include "vmhost/channel.h"
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

void serve_command(char* copy)
{
    handle_command(copy);
}

}  // namespace

int control_thread_main()
{
    channel_server server;
    bool existed = false;
    if (!channel_create(run_id, control_block_size, &server, &existed)) {
        // The launch goes on without a channel, but says so.
        log_line(log_control_none, os_last_error());
        return 0;
    }
    channel_serve(&server, control_reply_offset, serve_command);
    return 0;
}

void control_thread()
{
    control_thread_main();
}
