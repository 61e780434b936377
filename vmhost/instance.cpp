// The instance channel of a package, "instance.ID" (ID: the package's
// identity), is a request/reply channel of this user's alone. Its block:
//   0      the request: "glimvane-words\n", the number of words and a line
//          feed, then each word ended by a NUL
//   64 KiB the reply: "OK" when the words were taken, empty otherwise
//   +256   the instance's process id as text, written once
// The serving thread answers at once and queues the words; a thread of
// their own calls the program's method with them once the VM takes words.
#include "vmhost/instance.h"

#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/track.h"
#include "vmhost/channel.h"
#include "vmhost/vmhost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const size_t reply_size = 256;
const size_t pid_offset = instance_words_area + reply_size;
const size_t pid_size = 16;
const size_t block_size = pid_offset + pid_size;
const size_t id_size = 64;
// A running instance answers at once; one that does not within these is
// hung, and the launch goes on as any other.
const int turn_wait_ms = 3000;
const int answer_wait_ms = 3000;
// Claim or hand over, again after an instance that ended or was killed.
const int claim_tries = 5;
const int vm_wait_step_ms = 20;
const char* const method_signature = "([Ljava/lang/String;)V";

enum vm_state { VM_STARTING, VM_READY, VM_ENDED };
std::atomic<int> vm_now{VM_STARTING};

channel_server server;
// The queue of words for the method: pointers to handovers in a pipe of
// this process; null ends when no method was named.
intptr_t queue_read, queue_write;
char* method_class;  // "pkg/Name" as FindClass takes it
char* method_name;

struct handover {
    int count;
    char* text;  // the words, each ended by a NUL
};

}  // namespace

char* instance_request(int count, char* const* words, size_t* length)
{
    size_t header = strlen(text_instance_request) + 12;
    size_t size = header;
    for (int i = 0; i < count; i++) size += strlen(words[i]) + 1;
    if (size > instance_words_area) return nullptr;
    auto* request = static_cast<char*>(track_alloc(int32_t(size)));
    size_t at = size_t(snprintf(request, header, "%s%d\n", text_instance_request, count));
    for (int i = 0; i < count; i++) {
        size_t n = strlen(words[i]) + 1;
        memcpy(request + at, words[i], n);
        at += n;
    }
    *length = at;
    return request;
}

int instance_request_words(const char* block, const char** first, size_t* length)
{
    size_t prefix = strlen(text_instance_request);
    if (memcmp(block, text_instance_request, prefix) != 0) return -1;
    const char* at = block + prefix;
    const char* end = block + instance_words_area;
    long count = 0;
    for (; at < end && *at >= '0' && *at <= '9' && count <= long(instance_words_area); at++)
        count = count * 10 + (*at - '0');
    if (at == end || *at != '\n' || at[-1] == '\n' || count > long(instance_words_area)) return -1;
    *first = ++at;
    for (long i = 0; i < count; i++) {
        const void* nul = memchr(at, 0, size_t(end - at));
        if (!nul) return -1;
        at = static_cast<const char*>(nul) + 1;
    }
    *length = size_t(at - *first);
    return int(count);
}

namespace {

// The words of a request, copied, or null when it is not one.
handover* decode(const char* copy)
{
    const char* first = nullptr;
    size_t length = 0;
    int count = instance_request_words(copy, &first, &length);
    if (count < 0) return nullptr;
    auto* words = static_cast<handover*>(track_alloc(int32_t(sizeof(handover))));
    words->count = count;
    words->text = static_cast<char*>(track_alloc(int32_t(length + 1)));
    memcpy(words->text, first, length);
    return words;
}

void release(handover* words)
{
    track_free(words->text, 1181);
    track_free(words, 1182);
}

void handle_request(char* copy)
{
    char* reply = copy + instance_words_area;
    reply[0] = 0;
    // An instance on its way out takes nothing: the launch goes on itself.
    if (vm_now == VM_ENDED) return;
    handover* words = decode(copy);
    if (!words) return;
    log_line(log_instance_words, words->count);
    if (method_class && os_pipe_write(queue_write, &words, sizeof words) == long(sizeof words))
        words = nullptr;
    if (words) release(words);
    strcpy(reply, text_instance_taken);
}

void serve_requests()
{
    channel_serve(&server, instance_words_area, handle_request);
}

void call_method(handover* words)
{
    JavaVM* vm = vm_pointer;
    JNIEnv* env = nullptr;
    JavaVMAttachArgs args = {JNI_VERSION_1_2, const_cast<char*>(text_instance_thread_name), nullptr};
    if (!vm || (*vm)->AttachCurrentThread(vm, reinterpret_cast<void**>(&env), &args) != 0) return;
    // An attached thread finds classes through the system class loader,
    // which loaded the main class.
    jclass target = (*env)->FindClass(env, method_class);
    jmethodID method = target ? (*env)->GetStaticMethodID(env, target, method_name, method_signature) : nullptr;
    jclass string_class = (*env)->FindClass(env, "java/lang/String");
    jobjectArray array = method && string_class ? (*env)->NewObjectArray(env, words->count, string_class, nullptr)
                                                : nullptr;
    if (!array) {
        (*env)->ExceptionClear(env);
        log_line(log_instance_no_method, method_name);
    } else {
        const char* word = words->text;
        for (int i = 0; i < words->count; i++, word += strlen(word) + 1) set_element(env, array, i, word);
        log_line(log_instance_call, method_name);
        (*env)->CallStaticVoidMethod(env, target, method, array);
        // As for an exception no one caught on a thread of the program.
        if ((*env)->ExceptionOccurred(env)) (*env)->ExceptionDescribe(env);
    }
    (*vm)->DetachCurrentThread(vm);
}

void deliver_words()
{
    for (;;) {
        handover* words = nullptr;
        auto* bytes = reinterpret_cast<char*>(&words);
        for (size_t got = 0; got < sizeof words;) {
            long n = os_pipe_read(queue_read, bytes + got, sizeof words - got);
            if (n <= 0) return;
            got += size_t(n);
        }
        while (vm_now == VM_STARTING) os_sleep_ms(vm_wait_step_ms);
        if (vm_now == VM_READY) call_method(words);
        release(words);
    }
}

// "CLASS.METHOD" split into FindClass's form of the class and the method.
bool set_method(const char* method)
{
    const char* dot = strrchr(method, '.');
    if (!dot || dot == method || !dot[1]) return false;
    method_class = track_strdup(method);
    method_class[dot - method] = 0;
    for (char* c = method_class; *c; c++)
        if (*c == '.') *c = '/';
    method_name = track_strdup(dot + 1);
    return true;
}

// This launch serves the channel: the process id goes into the block, the
// words go to the method.
void serve(const char* method)
{
    char pid[pid_size];
    snprintf(pid, sizeof pid, "%u", unsigned(os_process_id()));
    os_shared_write(server.block, pid_offset, pid, sizeof pid);
    if (*method && set_method(method) && os_pipe_create(&queue_read, &queue_write))
        start_thread(deliver_words);
    else
        method_class = nullptr;
    start_thread(serve_requests);
}

uint32_t instance_pid(const char* id)
{
    char name[256], pid[pid_size] = {};
    channel_block_name(id, name, sizeof name);
    os_shared* block = os_shared_open(name, block_size);
    if (!block) return 0;
    os_shared_read(block, pid_offset, pid, sizeof pid - 1);
    os_shared_close(block);
    return uint32_t(strtoul(pid, nullptr, 10));
}

// The names of a killed instance go, once: the launches that find them at
// the same moment take turns, and only the first finds them still left.
void remove_left(const char* id)
{
    char folder[1024], path[1200], name[256];
    if (os_channel_folder(folder, sizeof folder) == 0) return;
    snprintf(path, sizeof path, "%s%cglimvane-%s.lock", folder, os_path_sep, id);
    os_file_lock* lock = nullptr;
    for (int i = 0; i < 100 && !(lock = os_lock_file(path, true, false)); i++) os_sleep_ms(10);
    if (!lock) return;
    channel_block_name(id, name, sizeof name);
    if (os_shared_state_of(name) == OS_SHARED_LEFT) {
        log_line(log_instance_left, id);
        channel_remove_leftovers(id);
    }
    os_unlock_file(lock);
}

const char* reason_of(channel_result result)
{
    switch (result) {
    case CHANNEL_BUSY:
        return "busy";
    case CHANNEL_NONE:
        return "no channel";
    case CHANNEL_REPLIED:
        return "refused";
    default:
        return "no answer";
    }
}

}  // namespace

instance_result instance_start(const char* identity, const char* method, int count, char* const* words)
{
    char id[id_size];
    snprintf(id, sizeof id, "instance.%s", identity);
    size_t length = 0;
    char* request = instance_request(count, words, &length);
    if (!request) {
        log_line(log_instance_too_long, count);
        return INSTANCE_NONE;
    }
    channel_result result = CHANNEL_NONE;
    for (int attempt = 0; attempt < claim_tries; attempt++) {
        bool existed = false;
        if (channel_create(id, block_size, &server, &existed)) {
            track_free(request, 1183);
            serve(method);
            log_line(log_instance_serving, id);
            return INSTANCE_SERVING;
        }
        if (!existed) {
            log_line(log_instance_no_channel, id, os_last_error());
            return INSTANCE_NONE;
        }
        uint32_t pid = instance_pid(id);
        // The instance may come to the front: this launch, which the user
        // just started, may let it.
        if (pid) os_allow_foreground(pid);
        char reply[reply_size];
        result = channel_ask(id, block_size, instance_words_area, request, length, turn_wait_ms, answer_wait_ms, reply,
                             sizeof reply);
        if (result == CHANNEL_REPLIED && strcmp(reply, text_instance_taken) == 0) {
            track_free(request, 1184);
            log_line(log_instance_handed, id, unsigned(pid));
            return INSTANCE_HANDED;
        }
        if (result == CHANNEL_KILLED) {
            remove_left(id);
        } else if (result == CHANNEL_REPLIED) {
            // An instance on its way out: its names go with it.
            os_sleep_ms(100);
        } else if (result != CHANNEL_ENDED) {
            break;
        }
    }
    track_free(request, 1185);
    log_line(log_instance_no_answer, id, reason_of(result));
    return INSTANCE_NONE;
}

void instance_vm_ready()
{
    int starting = VM_STARTING;
    vm_now.compare_exchange_strong(starting, VM_READY);
}

void instance_vm_ended()
{
    vm_now = VM_ENDED;
}
