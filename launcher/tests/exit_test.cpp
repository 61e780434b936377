// The exit path, the VM hooks and run_command.
#include "launcher/exit.h"
#include "os/os.h"
#include "support/paths.h"
#include "support/process.h"
#include "support/switches.h"
#include "support/track.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct child_paths {
    std::string module, folder, id;
};

// Runs `body` in a death test child with the process-wide paths set and the
// debug log on, expects the exit code (POSIX keeps its low 8 bits) and
// returns what the child printed on standard output.
std::string printed_by(const std::function<void()>& body, int code, bool quiet = false,
                       const child_paths& paths = {})
{
    scratch_dir scratch;
    fs::path out = scratch.path / "out";
    EXPECT_EXIT(
        {
            if (!freopen(out.c_str(), "w", stdout)) _exit(99);
            debug_flag = true;
            quiet_flag = quiet;
            snprintf(module_filename, module_filename_size, "%s", paths.module.c_str());
            snprintf(temp_folder, temp_folder_size, "%s", paths.folder.c_str());
            snprintf(run_id, run_id_size, "%s", paths.id.c_str());
            temp_folder_foreign = false;
            body();
        },
        testing::ExitedWithCode(code & 0xFF), "");
    return read_text(out);
}

bool exit_line(const std::string& line, int code)
{
    return std::regex_match(line, std::regex("C\\.exit\\(" + std::to_string(code) + "\\) \\[m=\\d+\\]"));
}

// Waits up to five seconds for a path to appear (`present`) or go.
bool wait_for(const fs::path& path, bool present)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fs::exists(path) != present && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path) == present;
}

// A program that records its words (after its own name) and then `extra`
// output into `record`, which appears whole.
void write_recorder(const fs::path& program, const fs::path& record, const std::string& extra = "")
{
    write_text(program, "#!/bin/sh\n{ printf '%s\\0' \"$@\"; " + extra + "} > \"" + record.string() + ".tmp\"\n" +
                            "mv \"" + record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(program, fs::perms::owner_all);
}

// The NUL-ended words of a record; what follows the last NUL is left out.
std::vector<std::string> words_of(const fs::path& record)
{
    std::string text = read_text(record);
    std::vector<std::string> words;
    for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(text.substr(start, end - start));
    return words;
}

struct removal_case {
    const char* name;
    std::string folder;
    std::string id;
    std::vector<std::string> words;  // what the child received; empty: not started
    bool foreign = false;            // the folder existed before the run (error 40)
    fs::path module = {};            // empty: the usual one
    bool debug = true;               // the debug log is on, and passed on to the child
};

TEST(LauncherExit, StartsTheRemovalChildOnlyOnceATempPathIsKnown)
{
    scratch_dir scratch;
    // A module filename with a blank still yields a child with the right words.
    fs::path module = scratch.path / "Program Files" / "app";
    fs::path record = scratch.path / "child-words";
    write_recorder(module, record);
    // A quote in the executable's path must neither split nor end a word.
    fs::path quoted = scratch.path / "say \"hi\" now" / "app \"";
    write_recorder(quoted, record);
    std::string folder = (scratch.path / "GV1F2E").string();
    const removal_case cases[] = {
        {"no temp path yet", "", "", {}},
        {"temp path asked for", ".", "", {}},
        {"temp folder made", folder, "GV1F2E", {"-D*", "-deltree*", folder, "GV1F2E"}},
        {"temp folder made, no debug log", folder, "GV1F2E", {"-deltree*", folder, "GV1F2E"}, false, {}, false},
        {"temp path without a run id (after 22)", "/tmp/", "", {"-D*", "-deltree*", "/tmp/"}},
        {"temp folder someone else made (after 40)", folder, "GV1F2E", {}, true},
        {"executable path holding quotes", folder, "GV1F2E", {"-D*", "-deltree*", folder, "GV1F2E"}, false, quoted},
    };
    for (const removal_case& c : cases) {
        fs::remove(record);
        std::string exe = (c.module.empty() ? module : c.module).string();
        std::vector<std::string> log = log_texts(printed_by(
            [&c] {
                temp_folder_foreign = c.foreign;
                debug_flag = c.debug;
                launcher_exit(7);
            },
            7, false, {exe, c.folder, c.id}));
        if (c.debug) {
            ASSERT_EQ(log.size(), c.foreign ? 3u : 2u) << c.name;
            EXPECT_EQ(log[0], "C.exiting");
            if (c.foreign) {
                EXPECT_EQ(log[1], "removal.skipped=" + folder);
            }
            EXPECT_TRUE(exit_line(log.back(), 7)) << log.back();
        } else {
            EXPECT_TRUE(log.empty()) << c.name;
        }
        if (c.words.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_FALSE(fs::exists(record)) << c.name << ": no child";
            continue;
        }
        ASSERT_TRUE(wait_for(record, true)) << c.name;
        EXPECT_EQ(words_of(record), c.words) << c.name;
    }
}

TEST(LauncherExit, TheRealChildRemovesTheTempFolderAfterTheLauncherHasGone)
{
    scratch_dir scratch;
    fs::path folder = scratch.path / "GV3A7";
    write_text(folder / "lib" / "a.jar", "a");
    write_text(folder / "b.dll", "b");
    printed_by([] { launcher_exit(0); }, 0, false, {GLIMVANE_STUB, folder.string(), "GV3A7"});
    EXPECT_TRUE(wait_for(folder, false));
}

TEST(LauncherExit, AnExhaustedHeapEndsThroughTheExitPathAndTheRemovalStillRuns)
{
    scratch_dir scratch;
    fs::path folder = scratch.path / "GV0E0M";
    write_text(folder / "a.jar", "a");
    std::string printed = printed_by(
        [] {
            track_on_out_of_memory(out_of_memory_exit);
            os_fault_set(OS_CALL_ALLOC, 1, 1, 12);
            track_alloc(64);
        },
        out_of_memory_code, false, {GLIMVANE_STUB, folder.string(), "GV0E0M"});
    EXPECT_EQ(printed.substr(0, 17), "\r\nOut of memory\r\n") << printed;
    std::vector<std::string> log = log_texts(printed);
    ASSERT_EQ(log.size(), 2u) << printed;
    EXPECT_TRUE(exit_line(log[1], out_of_memory_code)) << log[1];
    EXPECT_TRUE(wait_for(folder, false)) << "the removal child ran";
}

TEST(LauncherExit, TheFirstThreadEndsTheProcessAndLaterOnesBlock)
{
    // The main thread holds the exit lock (as if inside the exit path); a
    // second thread then enters and must block for good, while the owner
    // re-enters and ends the process with its own code.
    std::string printed = printed_by(
        [] {
            os_exit_lock_create();  // as the start-up initialiser makes it
            os_exit_lock_enter();
            std::thread other([] { launcher_exit(9); });
            other.detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            launcher_exit(4);
        },
        4);
    std::vector<std::string> log = log_texts(printed);
    ASSERT_EQ(log.size(), 2u) << printed;
    EXPECT_TRUE(exit_line(log[1], 4));
}

TEST(VmHooks, ExitHookPassesTheJavaStatus)
{
    std::vector<std::string> log = log_texts(printed_by([] { exit_hook(3); }, 3));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "jvm.exitHook=3");
    EXPECT_EQ(log[1], "C.exiting");
    EXPECT_TRUE(exit_line(log[2], 3));
}

TEST(VmHooks, AbortHookPrintsALineShowsTheNoticeUnlessQuietAndExits666)
{
    for (bool quiet : {false, true}) {
        desktop_recorder desktop;
        scoped_env env(desktop.env());
        std::string printed = printed_by([] { abort_hook(); }, 666, quiet);
        EXPECT_EQ(printed.substr(0, 2), "\r\n") << "first, whatever the switches say";
        std::vector<std::string> log = log_texts(printed);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], "jvm.abortHook()");
        EXPECT_TRUE(exit_line(log[2], 666));
        auto boxes = desktop.calls("zenity");
        if (quiet) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], (std::vector<std::string>{"--error", "--no-markup", "--title= ()", "--text",
                                                      "The Java VM is aborting..."}));
    }
}

// ---- run_command ----------------------------------------------------------------

// A script that records its words and then its session id.
TEST(RunCommand, QuotedWordsAndANewSessionWhenDetached)
{
    scratch_dir scratch;
    fs::path program = scratch.path / "a folder" / "show-session";
    fs::path record = scratch.path / "record";
    write_recorder(program, record, "cut -d' ' -f6 /proc/$$/stat; ");
    std::string session = std::to_string(getsid(0));
    for (bool detached : {false, true}) {
        fs::remove(record);
        std::string text = "\"" + program.string() + "\" one \"two words\"";
        intptr_t process = run_command(text.data(), detached);
        ASSERT_NE(process, 0);
        if (detached) {
            ASSERT_TRUE(wait_for(record, true));
        }
        os_wait_process(process);  // a detached child is reaped here too
        os_close_process(process);
        ASSERT_TRUE(fs::exists(record)) << "waited for";
        EXPECT_EQ(words_of(record), (std::vector<std::string>{"one", "two words"}));
        std::string text_read = read_text(record);
        std::string sid = text_read.substr(text_read.rfind('\0') + 1);
        sid = sid.substr(0, sid.find('\n'));
        EXPECT_EQ(sid, detached ? std::to_string(process) : session)
            << (detached ? "leads a session of its own" : "stays in the launcher's session");
    }
}

TEST(RunCommand, AProgramPastItsTimeLimitIsKilled)
{
    char sleeper[] = "/bin/sleep 30";
    intptr_t process = run_command(sleeper, false);
    ASSERT_NE(process, 0);
    EXPECT_EQ(os_wait_process_limited(process, 100), -1);
    EXPECT_NE(kill(pid_t(process), 0), 0) << "killed and reaped";
    char quick[] = "/bin/sh -c \"exit 3\"";
    process = run_command(quick, false);
    ASSERT_NE(process, 0);
    EXPECT_EQ(os_wait_process_limited(process, 60000), 3);
}

TEST(RunCommand, ZeroWhenTheProgramCannotStart)
{
    char missing[] = "\"/nonexistent/program\" a";
    EXPECT_EQ(run_command(missing, false), 0);
    os_fault_set(OS_CALL_START_PROCESS, 1, 1, 2);
    char shell[] = "/bin/true";
    EXPECT_EQ(run_command(shell, false), 0);
    os_fault_clear();
}

}  // namespace
