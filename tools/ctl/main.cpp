// glimvane-ctl: a client of a running launcher's control channel.
#include "os/os.h"
#include "tools/ctl/texts.h"
#include "vmhost/control.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The launcher holds its lock only while it handles a request.
const int lock_wait_ms = 2000;
const int status_wait_ms = 5000;
const int list_wait_ms = 1000;
// A dump of thousands of threads on a busy machine takes a while.
const int dump_wait_ms = 60000;

// How often a waiting client looks whether the launcher still lives.
const int alive_check_ms = 250;

enum ask_result { ASK_REPLIED, ASK_NO_CHANNEL, ASK_NO_ANSWER, ASK_GONE };

std::string object_name(const char* format, const std::string& run_id)
{
    char name[256];
    snprintf(name, sizeof name, format, run_id.c_str());
    return name;
}

// The objects a launcher killed outright left behind.
void remove_leftovers(const std::string& run_id)
{
    os_shared_remove(object_name(os_shared_name_format, run_id).c_str());
    for (const char* format : {os_lock_name_format, os_start_event_name_format, os_end_event_name_format})
        os_sync_remove(object_name(format, run_id).c_str());
}

// Waits for the event while the launcher lives, at most `wait_ms`.
ask_result wait_answer(os_sync* end, const std::string& block_name, int wait_ms)
{
    for (int waited = 0; waited < wait_ms; waited += alive_check_ms) {
        if (os_sync_wait(end, alive_check_ms)) return ASK_REPLIED;
        if (!os_shared_alive(block_name.c_str())) return ASK_GONE;
    }
    return ASK_NO_ANSWER;
}

// One request: the command goes in, the reply comes back. A launcher that
// was killed leaves no one to answer: every wait has a limit, and one that
// is gone is told from one that is slow.
ask_result ask(const std::string& run_id, const std::string& command, int wait_ms, std::string& reply)
{
    std::string block_name = object_name(os_shared_name_format, run_id);
    auto* block = static_cast<char*>(os_shared_open(block_name.c_str(), control_block_size));
    os_sync* lock = os_lock_open(object_name(os_lock_name_format, run_id).c_str());
    os_sync* start = os_event_open(object_name(os_start_event_name_format, run_id).c_str());
    os_sync* end = os_event_open(object_name(os_end_event_name_format, run_id).c_str());
    if (!block || !lock || !start || !end) return ASK_NO_CHANNEL;
    if (!os_shared_alive(block_name.c_str())) return ASK_GONE;

    os_sync_wait(end, 0);  // an answer that an earlier client gave up waiting for
    if (!os_sync_wait(lock, lock_wait_ms)) return ASK_NO_ANSWER;
    memcpy(block, command.c_str(), command.size() + 1);
    os_lock_release(lock);
    os_event_set(start);
    ask_result answered = wait_answer(end, block_name, wait_ms);
    if (answered != ASK_REPLIED) return answered;
    if (!os_sync_wait(lock, lock_wait_ms)) return ASK_NO_ANSWER;
    const char* text = block + control_reply_offset;
    reply.assign(text, strnlen(text, control_block_size - control_reply_offset));
    os_lock_release(lock);
    return ASK_REPLIED;
}

// Prints why there is no reply; the exit code for it.
int no_reply(ask_result result, const std::string& run_id, int wait_ms)
{
    if (result == ASK_NO_CHANNEL) {
        fprintf(stderr, text_ctl_no_channel, run_id.c_str());
    } else if (result == ASK_GONE) {
        fprintf(stderr, text_ctl_gone, run_id.c_str());
        remove_leftovers(run_id);
    } else {
        fprintf(stderr, text_ctl_no_answer, run_id.c_str(), wait_ms / 1000);
    }
    return 3;
}

// Sends the command: 0 with the reply, or the exit code once it has said
// why there is none.
int request(const std::string& run_id, const std::string& command, int wait_ms, std::string& reply)
{
    if (command.size() >= control_reply_offset) {
        fprintf(stderr, text_ctl_too_long, int(control_reply_offset - 1));
        return 2;
    }
    ask_result result = ask(run_id, command, wait_ms, reply);
    return result == ASK_REPLIED ? 0 : no_reply(result, run_id, wait_ms);
}

int status(const std::string& run_id)
{
    std::string reply;
    if (int failed = request(run_id, "status", status_wait_ms, reply)) return failed;
    if (reply.empty()) {
        fprintf(stderr, text_ctl_no_status, run_id.c_str());
        return 1;
    }
    printf("%s\n", reply.c_str());
    return 0;
}

int dump(const std::string& run_id, const std::string& file)
{
    // The launcher has a current directory of its own.
    std::string path = fs::absolute(file).string();
    if (path.find('"') != std::string::npos) {
        fprintf(stderr, text_ctl_bad_path, path.c_str());
        return 2;
    }
    std::string reply;
    if (int failed = request(run_id, "dumpAllStacks \"" + path + "\"", dump_wait_ms, reply)) return failed;
    if (reply != "OK") {
        fprintf(stderr, text_ctl_no_dump, run_id.c_str(), path.c_str());
        return 1;
    }
    printf(text_ctl_dump_written, run_id.c_str(), path.c_str());
    return 0;
}

// Any command text, as any client may send it; the reply as it came, even
// when empty.
int send(const std::string& run_id, const std::string& command)
{
    std::string reply;
    if (int failed = request(run_id, command, dump_wait_ms, reply)) return failed;
    printf("%s\n", reply.c_str());
    return 0;
}

// Run ids that may have a channel: on POSIX the shared blocks of this user,
// on Windows the run folders in the temp path (named objects cannot be
// listed there).
std::vector<std::string> candidates()
{
    std::vector<std::string> found;
    std::error_code error;
#ifdef _WIN32
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(error), error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("GV", 0) == 0 && entry.is_directory(error)) found.push_back(name);
    }
#else
    const std::string prefix = "glimvane-mem-";
    for (const auto& entry : fs::directory_iterator("/dev/shm", error)) {
        std::string name = entry.path().filename().string();
        struct stat st;
        if (name.rfind(prefix, 0) == 0 && stat(entry.path().c_str(), &st) == 0 && st.st_uid == getuid())
            found.push_back(name.substr(prefix.size()));
    }
#endif
    return found;
}

int list()
{
    int answered = 0;
    for (const std::string& run_id : candidates()) {
        std::string reply;
        ask_result result = ask(run_id, "status", list_wait_ms, reply);
        if (result == ASK_GONE) remove_leftovers(run_id);
        if (result != ASK_REPLIED) continue;
        printf(text_ctl_list_line, run_id.c_str(), reply.c_str());
        answered++;
    }
    if (answered > 0) return 0;
    fprintf(stderr, "%s", text_ctl_none_answers);
    return 3;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "list") return list();
    if (args.size() == 2 && args[0] == "status") return status(args[1]);
    if (args.size() == 3 && args[0] == "dump") return dump(args[1], args[2]);
    if (args.size() == 3 && args[0] == "send") return send(args[1], args[2]);
    fprintf(stderr, "%s", text_ctl_usage);
    return 2;
}
