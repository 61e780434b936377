#include "vmhost/control.h"

#include "os/os.h"
#include "support/console.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/report.h"
#include "support/track.h"
#include "support/words.h"
#include "vmhost/vmhost.h"

#include <cstdio>
#include <cstring>

namespace {

// A client that died holding the lock would otherwise stop the channel for
// good where the lock is a semaphore; a live client holds it for a moment.
const int lock_patience_ms = 2000;

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
    FILE* file = path ? fopen(path, "wb") : nullptr;
    if (!file) {
        (*vm)->DetachCurrentThread(vm);
        return false;
    }
    os_set_thread_priority(OS_PRIORITY_TIME_CRITICAL);
    relay_dump_begin(os_stream_fd(file));
    dump(env, nullptr);
    fflush(stdout);
    os_set_thread_priority(OS_PRIORITY_HIGHEST);
    relay_dump_end();
    fclose(file);
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

int control_thread_main()
{
    char* block_name = format_new(os_shared_name_format, run_id);
    char* lock_name = format_new(os_lock_name_format, run_id);
    char* start_name = format_new(os_start_event_name_format, run_id);
    char* end_name = format_new(os_end_event_name_format, run_id);
    bool existed = false;
    auto* block = static_cast<char*>(os_shared_create(block_name, control_block_size, &existed));
    if (!block) return 0;
    os_sync* lock = os_lock_create(lock_name);
    os_sync* start = os_event_create(start_name);
    os_sync* end = os_event_create(end_name);
    // The service needs all three.
    if (!lock || !start || !end) return 0;
    for (;;) {
        if (!os_sync_wait(start, -1)) return 0;
        os_sync_wait(lock, lock_patience_ms);
        handle_command(block);
        os_lock_release(lock);
        os_event_set(end);
    }
}

void control_thread()
{
    control_thread_main();
}
