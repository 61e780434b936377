// glimvane-ctl: a client of a running launcher's control channel.
#include "os/os.h"
#include "tools/ctl/texts.h"
#include "vmhost/control.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// How long a request waits for its turn behind the requests of other
// clients (a dump ahead of it may take a while).
const int turn_wait_ms = 60000;
const int status_wait_ms = 5000;
const int list_wait_ms = 1000;
// A dump of thousands of threads on a busy machine takes a while.
const int dump_wait_ms = 60000;
// How long a launcher that has its block may take to make the rest.
const int start_wait_ms = 1000;

// How often a waiting client looks whether the launcher still lives.
const int alive_check_ms = 250;

enum ask_result { ASK_REPLIED, ASK_NO_CHANNEL, ASK_NO_ANSWER, ASK_BUSY, ASK_ENDED, ASK_KILLED };

std::string object_name(const char* format, const std::string& run_id)
{
    char name[256];
    snprintf(name, sizeof name, format, run_id.c_str());
    return name;
}

const char* const sync_formats[] = {os_lock_name_format, os_start_event_name_format, os_end_event_name_format,
                                    os_client_lock_name_format};

// The objects a launcher killed outright left behind.
void remove_leftovers(const std::string& run_id)
{
    os_shared_remove(object_name(os_shared_name_format, run_id).c_str());
    for (const char* format : sync_formats) os_sync_remove(object_name(format, run_id).c_str());
}

// `live` while the launcher that made the block runs; why not otherwise.
ask_result launcher_state(const std::string& block_name, ask_result live)
{
    switch (os_shared_state_of(block_name.c_str())) {
    case OS_SHARED_LIVE:
        return live;
    case OS_SHARED_ENDED:
        return ASK_ENDED;
    default:
        return ASK_KILLED;
    }
}

// Waits for the lock or event while the launcher lives, at most `wait_ms`;
// `late` when the time ran out.
ask_result wait_live(os_sync* object, const std::string& block_name, int wait_ms, ask_result late)
{
    for (int waited = 0;; waited += alive_check_ms) {
        if (os_sync_wait(object, alive_check_ms)) return ASK_REPLIED;
        ask_result state = launcher_state(block_name, late);
        if (state != late || waited + alive_check_ms >= wait_ms) return state;
    }
}

// The block is held only for the copy: a Windows launcher's end would go
// unseen while a client holds its block.
bool copy_block(const std::string& block_name, size_t offset, char* data, size_t size, bool write)
{
    os_shared* block = os_shared_open(block_name.c_str(), control_block_size);
    if (!block) return false;
    bool copied = write ? os_shared_write(block, offset, data, size) : os_shared_read(block, offset, data, size);
    os_shared_close(block);
    return copied;
}

// A channel's objects, opened; the locks this client holds are let go when
// the request ends, however it ends.
struct channel {
    std::string block_name;
    os_sync* lock = nullptr;
    os_sync* start = nullptr;
    os_sync* end = nullptr;
    os_sync* clients = nullptr;
    bool holds_lock = false, holds_turn = false;

    ~channel()
    {
        if (holds_lock) os_lock_release(lock);
        if (holds_turn) os_lock_release(clients);
    }

    bool open(const std::string& run_id)
    {
        lock = lock ? lock : os_lock_open(object_name(os_lock_name_format, run_id).c_str());
        start = start ? start : os_event_open(object_name(os_start_event_name_format, run_id).c_str());
        end = end ? end : os_event_open(object_name(os_end_event_name_format, run_id).c_str());
        clients = clients ? clients : os_lock_open(object_name(os_client_lock_name_format, run_id).c_str());
        return lock && start && end && clients;
    }
};

// One request: the command goes in, the reply comes back. Requests of
// several clients take turns, so each gets its own reply. A launcher that
// was killed leaves no one to answer: every wait has a limit, and a live
// launcher that is slow is told from one that ended and one that was killed.
ask_result ask(const std::string& run_id, const std::string& command, int wait_ms, std::string& reply)
{
    channel c;
    c.block_name = object_name(os_shared_name_format, run_id);
    char probe;
    if (!copy_block(c.block_name, 0, &probe, 1, false)) return ASK_NO_CHANNEL;
    // A launcher makes its block first, then the rest.
    for (int waited = 0; !c.open(run_id); waited += 10) {
        ask_result state = launcher_state(c.block_name, ASK_NO_CHANNEL);
        if (state != ASK_NO_CHANNEL || waited >= start_wait_ms) return state;
        os_sleep_ms(10);
    }
    ask_result state = launcher_state(c.block_name, ASK_REPLIED);
    if (state != ASK_REPLIED) return state;

    if ((state = wait_live(c.clients, c.block_name, turn_wait_ms, ASK_BUSY)) != ASK_REPLIED) return state;
    c.holds_turn = true;
    if ((state = wait_live(c.lock, c.block_name, wait_ms, ASK_NO_ANSWER)) != ASK_REPLIED) return state;
    c.holds_lock = true;
    // The launcher sets its end before it lets the lock go: an end that a
    // client who gave up did not take is set by now, and cleared here.
    os_sync_wait(c.end, 0);
    bool written = copy_block(c.block_name, 0, const_cast<char*>(command.c_str()), command.size() + 1, true);
    os_lock_release(c.lock);
    c.holds_lock = false;
    if (!written) return launcher_state(c.block_name, ASK_NO_CHANNEL);
    os_event_set(c.start);
    if ((state = wait_live(c.end, c.block_name, wait_ms, ASK_NO_ANSWER)) != ASK_REPLIED) {
        // Taken back while the launcher has not seen it, so that it never
        // answers this request to the next client.
        os_sync_wait(c.start, 0);
        return state;
    }
    if ((state = wait_live(c.lock, c.block_name, wait_ms, ASK_NO_ANSWER)) != ASK_REPLIED) return state;
    c.holds_lock = true;
    char text[control_block_size - control_reply_offset];
    if (!copy_block(c.block_name, control_reply_offset, text, sizeof text, false))
        return launcher_state(c.block_name, ASK_NO_CHANNEL);
    reply.assign(text, strnlen(text, sizeof text));
    return ASK_REPLIED;
}

// Prints why there is no reply; the exit code for it.
int no_reply(ask_result result, const std::string& run_id, int wait_ms)
{
    if (result == ASK_NO_CHANNEL) {
        fprintf(stderr, text_ctl_no_channel, run_id.c_str());
    } else if (result == ASK_ENDED) {
        fprintf(stderr, text_ctl_ended, run_id.c_str());
    } else if (result == ASK_KILLED) {
        fprintf(stderr, text_ctl_gone, run_id.c_str());
        remove_leftovers(run_id);
    } else if (result == ASK_BUSY) {
        fprintf(stderr, text_ctl_busy, run_id.c_str(), turn_wait_ms / 1000);
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

// Run ids that may have a channel: on POSIX the blocks in this user's own
// folder of named objects, on Windows the run folders in the temp path
// (named objects cannot be listed there).
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
    char folder[1024];
    if (os_channel_folder(folder, sizeof folder) == 0) return found;
    const std::string prefix = object_name(os_shared_name_format, "");
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        // A block on its way has a dot in its name; run ids never do.
        if (name.rfind(prefix, 0) == 0 && name.find('.') == std::string::npos)
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
        if (result == ASK_KILLED) remove_leftovers(run_id);
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
