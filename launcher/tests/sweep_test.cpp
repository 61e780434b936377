// The owner mark of a run folder and the sweep of folders that killed
// launches left behind.
#include "launcher/removal.h"
#include "launcher/sweep.h"
#include "os/os.h"
#include "payload/extract.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// No process has this id: it lies above the largest the kernel gives.
const uint32_t no_such_pid = 0x7FFFFFF0;

std::string mark_text(uint32_t pid, uint64_t start)
{
    return "glimvane-owner " + std::to_string(pid) + " " + std::to_string(start) + "\n";
}

uint64_t own_start()
{
    uint64_t start = 0;
    EXPECT_EQ(os_process_start(uint32_t(getpid()), &start), 1);
    return start;
}

// Last changed two minutes ago: past the sweep's minute.
void age(const fs::path& folder)
{
    fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::minutes(2));
}

TEST(OwnerMark, NamesThisProcessIsPrivateAndIsWrittenOnce)
{
    scratch_dir scratch;
    ASSERT_TRUE(write_owner_mark(scratch.path.c_str()));
    fs::path mark = scratch.path / owner_mark_name;
    EXPECT_EQ(read_text(mark), mark_text(uint32_t(getpid()), own_start()));
    struct stat st;
    ASSERT_EQ(lstat(mark.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(write_owner_mark(scratch.path.c_str())) << "an existing mark is never replaced";
    EXPECT_FALSE(fs::exists(scratch.path / owner_mark_temp));
    uint32_t pid = 0;
    uint64_t start = 0;
    EXPECT_TRUE(read_owner_mark(scratch.path.c_str(), &pid, &start));
    EXPECT_EQ(pid, uint32_t(getpid()));
    EXPECT_EQ(start, own_start());
}

TEST(OwnerMark, OnlyTheExactTextCounts)
{
    const char* const refused[] = {"", "glimvane-owner 12", "glimvane-owner 12 34", "glimvane-owner 12 34\nx",
                                   "glimvane-owner -12 34\n", "glimvane-owner 012 34\n", "owner 12 34\n"};
    scratch_dir scratch;
    uint32_t pid;
    uint64_t start;
    EXPECT_FALSE(read_owner_mark(scratch.path.c_str(), &pid, &start)) << "no mark";
    for (const char* text : refused) {
        write_text(scratch.path / owner_mark_name, text);
        EXPECT_FALSE(read_owner_mark(scratch.path.c_str(), &pid, &start)) << text;
    }
    write_text(scratch.path / owner_mark_name, "glimvane-owner 12 34\n");
    EXPECT_TRUE(read_owner_mark(scratch.path.c_str(), &pid, &start));
    EXPECT_EQ(pid, 12u);
    EXPECT_EQ(start, 34u);
}

TEST(ProcessStart, RunningEndedAndReused)
{
    uint64_t start = 0;
    EXPECT_EQ(os_process_start(no_such_pid, &start), 0);
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    uint64_t child_start = 0;
    ASSERT_EQ(os_process_start(uint32_t(child), &child_start), 1);
    kill(child, SIGKILL);
    // Dead but not yet reaped: a zombie no longer runs.
    for (int i = 0; i < 100 && os_process_start(uint32_t(child), &start) != 0; i++) usleep(10000);
    EXPECT_EQ(os_process_start(uint32_t(child), &start), 0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(os_process_start(uint32_t(child), &start), 0);
}

TEST(RunIdForm, OnlyTheNamesGVHexMakes)
{
    const std::pair<const char*, bool> cases[] = {
        {"GV1A2B", true}, {"GV00", true}, {"GVFFFFFFFFFFFF", true},
        {"GV1", false}, {"GV", false}, {"GVFFFFFFFFFFFFF", false}, {"GV1a2b", false}, {"gv1A2B", false},
        {"GV1G", false}, {"GV12 ", false}, {"xGV12", false}, {"GV12.tmp", false},
    };
    for (const auto& c : cases) EXPECT_EQ(run_id_form(c.first), c.second) << c.first;
}

TEST(Sweep, RemovesOnlyMarkedFoldersOfEndedOwnersAndEmptyOnes)
{
    scratch_dir scratch;
    fs::path tmp = scratch.path / "tmp";
    fs::path outside = scratch.path / "outside";
    const std::string dead = mark_text(no_such_pid, 1);
    struct folder_case {
        const char* name;
        std::string mark;  // empty: none
        bool removed;
        bool aged = true;
        const char* file = "a.jar";  // null: the folder is empty
    };
    const folder_case cases[] = {
        {"GV10A1", dead, true},
        {"GV10A2", mark_text(uint32_t(getpid()), own_start() + 1), true},  // the id now names another process
        {"GV10A3", "", true, true, nullptr},                               // killed before its mark
        {"GV10A4", mark_text(uint32_t(getpid()), own_start()), false},     // the owner runs
        {"GV10A5", dead, false, false},                                    // changed within the minute
        {"GV10A6", "", false},                                             // files but no mark
        {"GV10A7", "glimvane-owner 2147483632", false},                    // a mark cut short
        {"GV10A8", dead, false},                                           // the sweeping launch's own
        {"GV10ag", dead, false},
        {"NOTGV10A9", dead, false},
    };
    for (const folder_case& c : cases) {
        fs::path folder = tmp / c.name;
        fs::create_directories(folder);
        if (c.file) {
            write_text(folder / c.file, "x");
            write_text(folder / "lib" / "GV-deep" / "b.so", "y");
        }
        if (!c.mark.empty()) write_text(folder / owner_mark_name, c.mark);
        if (c.aged) age(folder);
    }
    // A link named like a run folder, to a folder that looks swept-ready.
    write_text(outside / "precious.txt", "p");
    write_text(outside / owner_mark_name, dead);
    age(outside);
    fs::create_directory_symlink(outside, tmp / "GV10B1");
    write_text(tmp / "GV10B2", dead);  // a file, not a folder
    // Another user's folder (chown needs root).
    bool root = geteuid() == 0;
    if (root) {
        fs::path foreign = tmp / "GV10B3";
        write_text(foreign / owner_mark_name, dead);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        age(foreign);
    }

    EXPECT_EQ(sweep_run_folders(tmp.c_str(), "GV10A8"), 3);
    for (const folder_case& c : cases) EXPECT_EQ(fs::exists(tmp / c.name), !c.removed) << c.name;
    EXPECT_EQ(read_text(tmp / "GV10A4" / "a.jar"), "x") << "a kept folder keeps its files";
    EXPECT_TRUE(fs::is_symlink(tmp / "GV10B1"));
    EXPECT_EQ(read_text(outside / "precious.txt"), "p");
    EXPECT_TRUE(fs::exists(outside / owner_mark_name));
    EXPECT_TRUE(fs::is_regular_file(tmp / "GV10B2"));
    if (root) {
        EXPECT_TRUE(fs::exists(tmp / "GV10B3" / owner_mark_name));
    }
}

TEST(Sweep, AFolderItCannotEmptyKeepsItsMarkForTheNextSweep)
{
    scratch_dir scratch;
    fs::path folder = scratch.path / "GV20C1";
    write_text(folder / "a.jar", "a");
    write_text(folder / "lib" / "b.so", "b");
    write_text(folder / owner_mark_name, mark_text(no_such_pid, 7));
    age(folder);
    // In a child of its own, like the removal child: once retries end they
    // stay ended for the process.
    EXPECT_EXIT(
        {
            end_removal_retries();
            os_fault_set(OS_CALL_DELETE_FILE, 1, 1, EACCES);  // one file refuses once
            int first = sweep_run_folders(scratch.path.c_str(), "GV1");
            os_fault_clear();
            bool kept = fs::exists(folder / owner_mark_name);
            age(folder);
            int second = sweep_run_folders(scratch.path.c_str(), "GV1");
            _exit(first == 0 && kept && second == 1 && !fs::exists(folder) ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
