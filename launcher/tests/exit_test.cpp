// The exit path, the VM hooks and run_command.
#include "launcher/exit.h"
#include "launcher/paths.h"
#include "launcher/switches.h"
#include "os/os.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void set_paths(const std::string& module, const std::string& folder, const std::string& id)
{
    snprintf(module_filename, module_filename_size, "%s", module.c_str());
    snprintf(temp_folder, temp_folder_size, "%s", folder.c_str());
    snprintf(run_id, run_id_size, "%s", id.c_str());
}

// Standard output of a death test child goes into a file the parent reads.
void to_file(const fs::path& out, bool debug, bool quiet)
{
    if (!freopen(out.c_str(), "w", stdout)) _exit(99);
    debug_flag = debug;
    quiet_flag = quiet;
}

bool gone_within(const fs::path& path, int seconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (fs::exists(path) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !fs::exists(path);
}

// A program that records its words (after its own name) into `record`.
void write_recorder(const fs::path& program, const fs::path& record)
{
    write_text(program, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + record.string() + ".tmp\"\n" +
                            "mv \"" + record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(program, fs::perms::owner_all);
}

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
};

TEST(LauncherExit, StartsTheRemovalChildOnlyOnceATempPathIsKnown)
{
    scratch_dir scratch;
    // A module filename with a blank still yields a child with the right words.
    fs::path module = scratch.path / "Program Files" / "app";
    fs::path record = scratch.path / "child-words";
    write_recorder(module, record);
    std::string folder = (scratch.path / "GV1F2E").string();
    const removal_case cases[] = {
        {"no temp path yet", "", "", {}},
        {"temp path asked for", ".", "", {}},
        {"temp folder made", folder, "GV1F2E", {"-deltree*", folder, "GV1F2E"}},
        {"temp path without a run id (after 22)", "/tmp/", "", {"-deltree*", "/tmp/"}},
    };
    fs::path out = scratch.path / "out";
    for (const removal_case& c : cases) {
        fs::remove(record);
        EXPECT_EXIT(
            {
                to_file(out, true, false);
                set_paths(module.string(), c.folder, c.id);
                launcher_exit(7);
            },
            testing::ExitedWithCode(7), "")
            << c.name;
        std::vector<std::string> log = log_texts(read_text(out));
        ASSERT_EQ(log.size(), 2u) << c.name;
        EXPECT_EQ(log[0], "C.exiting");
        EXPECT_TRUE(std::regex_match(log[1], std::regex(R"(C\.exit\(7\) \[m=\d+\])"))) << log[1];
        if (c.words.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_FALSE(fs::exists(record)) << c.name << ": no child";
            continue;
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(words_of(record), c.words) << c.name;
    }
}

TEST(LauncherExit, TheRealChildRemovesTheTempFolderAfterTheLauncherHasGone)
{
    scratch_dir scratch;
    fs::path folder = scratch.path / "GV3A7";
    write_text(folder / "lib" / "a.jar", "a");
    write_text(folder / "b.dll", "b");
    EXPECT_EXIT(
        {
            to_file(scratch.path / "out", false, false);
            set_paths(GLIMVANE_STUB, folder.string(), "GV3A7");
            launcher_exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_TRUE(gone_within(folder, 10));
}

TEST(LauncherExit, TheFirstThreadEndsTheProcessAndLaterOnesBlock)
{
    // The main thread holds the exit lock (as if inside the exit path); a
    // second thread then enters and must block for good, while the owner
    // re-enters and ends the process with its own code.
    scratch_dir scratch;
    fs::path out = scratch.path / "out";
    EXPECT_EXIT(
        {
            to_file(out, true, true);
            set_paths("", "", "");
            os_exit_lock_create();  // as the start-up initialiser makes it
            os_exit_lock_enter();
            std::thread other([] { launcher_exit(9); });
            other.detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            launcher_exit(4);
        },
        testing::ExitedWithCode(4), "");
    std::vector<std::string> log = log_texts(read_text(out));
    ASSERT_EQ(log.size(), 2u) << read_text(out);
    EXPECT_TRUE(std::regex_match(log[1], std::regex(R"(C\.exit\(4\) \[m=\d+\])")));
}

TEST(VmHooks, ExitHookPassesTheJavaStatus)
{
    scratch_dir scratch;
    fs::path out = scratch.path / "out";
    EXPECT_EXIT(
        {
            to_file(out, true, false);
            set_paths("", "", "");
            exit_hook(3);
        },
        testing::ExitedWithCode(3), "");
    std::vector<std::string> log = log_texts(read_text(out));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "jvm.exitHook=3");
    EXPECT_EQ(log[1], "C.exiting");
    EXPECT_TRUE(std::regex_match(log[2], std::regex(R"(C\.exit\(3\) \[m=\d+\])")));
}

TEST(VmHooks, AbortHookPrintsALineShowsTheNoticeUnlessQuietAndExits666)
{
    for (bool quiet : {false, true}) {
        desktop_recorder desktop;
        scoped_env env(desktop.env());
        fs::path out = desktop.scratch.path / "out";
        EXPECT_EXIT(
            {
                to_file(out, true, quiet);
                set_paths("", "", "");
                abort_hook();
            },
            testing::ExitedWithCode(666 & 0xFF), "");  // POSIX keeps the low 8 bits
        std::string printed = read_text(out);
        EXPECT_EQ(printed.substr(0, 2), "\r\n") << "first, whatever the switches say";
        std::vector<std::string> log = log_texts(printed);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], "jvm.abortHook()");
        EXPECT_TRUE(std::regex_match(log[2], std::regex(R"(C\.exit\(666\) \[m=\d+\])")));
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

// Runs a script that records its words and its session id.
TEST(RunCommand, QuotedWordsAndANewSessionWhenDetached)
{
    scratch_dir scratch;
    fs::path program = scratch.path / "a folder" / "show-session";
    fs::path record = scratch.path / "record";
    write_text(program, "#!/bin/sh\n"
                        "{ printf '%s\\0' \"$@\"; cut -d' ' -f6 /proc/$$/stat; } > \"" + record.string() +
                            ".tmp\"\nmv \"" + record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(program, fs::perms::owner_all);
    std::string session = std::to_string(getsid(0));
    for (bool detached : {false, true}) {
        fs::remove(record);
        std::string text = "\"" + program.string() + "\" one \"two words\"";
        intptr_t process = run_command(text.data(), detached);
        ASSERT_NE(process, 0);
        if (!detached) {
            os_wait_process(process);
            os_close_process(process);
            ASSERT_TRUE(fs::exists(record)) << "waited for";
        } else {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            os_wait_process(process);  // reap it
        }
        std::vector<std::string> words = words_of(record);
        ASSERT_EQ(words.size(), 2u);
        EXPECT_EQ(words[0], "one");
        EXPECT_EQ(words[1], "two words");
        std::string sid = read_text(record).substr(read_text(record).rfind('\0') + 1);
        sid = sid.substr(0, sid.find('\n'));
        if (detached)
            EXPECT_EQ(sid, std::to_string(process)) << "leads a session of its own";
        else
            EXPECT_EQ(sid, session);
    }
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
