// glimvane-ctl: a client of a running launcher's control channel.
#include "os/os.h"
#include "tools/ctl/texts.h"
#include "vmhost/channel.h"
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

// One request to the launcher's control channel; see channel_ask.
channel_result ask(const std::string& run_id, const std::string& command, int wait_ms, std::string& reply)
{
    char text[control_block_size - control_reply_offset];
    channel_result result = channel_ask(run_id.c_str(), control_block_size, control_reply_offset, command.c_str(),
                                        command.size() + 1, turn_wait_ms, wait_ms, text, sizeof text);
    reply = text;
    return result;
}

// Prints why there is no reply; the exit code for it.
int no_reply(channel_result result, const std::string& run_id, int wait_ms)
{
    if (result == CHANNEL_NONE) {
        fprintf(stderr, text_ctl_no_channel, run_id.c_str());
    } else if (result == CHANNEL_ENDED) {
        fprintf(stderr, text_ctl_ended, run_id.c_str());
    } else if (result == CHANNEL_KILLED) {
        fprintf(stderr, text_ctl_gone, run_id.c_str());
        channel_remove_leftovers(run_id.c_str());
    } else if (result == CHANNEL_BUSY) {
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
    channel_result result = ask(run_id, command, wait_ms, reply);
    return result == CHANNEL_REPLIED ? 0 : no_reply(result, run_id, wait_ms);
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
    char block_prefix[256];
    channel_block_name("", block_prefix, sizeof block_prefix);
    const std::string prefix = block_prefix;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        // A block on its way and the channel of a single instance have a dot
        // in their names; run ids never do.
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
        channel_result result = ask(run_id, "status", list_wait_ms, reply);
        if (result == CHANNEL_KILLED) channel_remove_leftovers(run_id.c_str());
        if (result != CHANNEL_REPLIED) continue;
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
