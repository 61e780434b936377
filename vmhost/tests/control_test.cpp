// The control channel's command handling and its start, without a VM: the
// requests that need none, and a name that another launcher holds already.
// Status and dumps through a real launcher: tests/e2e/control_e2e_test.cpp.
#include "os/os.h"
#include "support/paths.h"
#include "support/report.h"
#include "vmhost/control.h"

#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string status_reply()
{
    return std::string(original_name_text()) + " [PID=" + std::to_string(os_process_id()) + "]";
}

// A block of exactly control_block_size bytes on the heap, so that the
// sanitizers see every byte read or written past it.
struct block {
    char* bytes = static_cast<char*>(malloc(control_block_size));
    ~block() { free(bytes); }
    std::string reply() const { return bytes + control_reply_offset; }
};

TEST(HandleCommand, AnswersStatusAloneAndLeavesEveryOtherReplyEmpty)
{
    struct {
        const char* command;
        bool status;
    } cases[] = {
        {"status", true},
        {"status and more words", true},
        {"  status", true},
        {"\"status\"", true},
        {"Status", false},
        {"STATUS", false},
        {"statuses", false},
        {"", false},
        {"   ", false},
        {"unknown", false},
        // No VM in this process: no dump, whatever the path.
        {"dumpAllStacks", false},
        {"dumpAllStacks \"/tmp/a file\"", false},
    };
    for (const auto& c : cases) {
        block b;
        memset(b.bytes, 'r', control_block_size);  // a reply left from before
        memcpy(b.bytes, c.command, strlen(c.command) + 1);
        handle_command(b.bytes);
        EXPECT_EQ(b.reply(), c.status ? status_reply() : "") << c.command;
    }
}

TEST(HandleCommand, CutsACommandWithoutEndAt1024Bytes)
{
    // 1024 bytes of command and 1024 of reply area, not one NUL in either:
    // the command ends where the reply begins.
    block padded;
    memset(padded.bytes, 'x', control_block_size);
    memcpy(padded.bytes, "status", 6);
    memset(padded.bytes + 6, ' ', control_reply_offset - 6);
    handle_command(padded.bytes);
    EXPECT_EQ(padded.reply(), status_reply());

    block one_word;
    memset(one_word.bytes, 'x', control_block_size);
    handle_command(one_word.bytes);
    EXPECT_EQ(one_word.reply(), "");
}

TEST(ControlThread, EndsAtOnceWhenAnotherLauncherHasTheName)
{
    snprintf(run_id, run_id_size, "GVUNIT%X", unsigned(getpid()));
    char name[128];
    snprintf(name, sizeof name, os_shared_name_format, run_id);
    bool existed = true;
    os_shared* other = os_shared_create(name, control_block_size, &existed);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(existed);
    const char command[] = "the other launcher's command";
    ASSERT_TRUE(os_shared_write(other, 0, command, sizeof command));

    EXPECT_EQ(control_thread_main(), 0);
    char seen[sizeof command];
    ASSERT_TRUE(os_shared_read(other, 0, seen, sizeof seen));
    EXPECT_STREQ(seen, command);
    EXPECT_FALSE(os_shared_create(name, control_block_size, &existed));
    EXPECT_TRUE(existed);
}

TEST(ChannelFolder, OnlyAFolderOfThisUsersAloneHoldsTheObjects)
{
    scratch_dir scratch;
    fs::path runtime = scratch.path / "run";
    fs::path folder = runtime / "glimvane";
    fs::path elsewhere = scratch.path / "elsewhere";
    struct {
        const char* name;
        void (*prepare)(const fs::path& folder, const fs::path& elsewhere);
        bool used;
    } cases[] = {
        {"missing: made private", [](const fs::path&, const fs::path&) {}, true},
        {"private already", [](const fs::path& f, const fs::path&) { mkdir(f.c_str(), 0700); }, true},
        {"others may enter", [](const fs::path& f, const fs::path&) { mkdir(f.c_str(), 0755); chmod(f.c_str(), 0755); }, false},
        {"a link to a private folder",
         [](const fs::path& f, const fs::path& e) {
             mkdir(e.c_str(), 0700);
             fs::create_directory_symlink(e, f);
         },
         false},
        {"a file", [](const fs::path& f, const fs::path&) { write_text(f, ""); }, false},
        {"another user's",
         [](const fs::path& f, const fs::path&) {
             mkdir(f.c_str(), 0700);
             if (chown(f.c_str(), 65534, 65534) != 0) fs::remove(f);
         },
         geteuid() != 0},
    };
    for (const auto& c : cases) {
        fs::remove_all(runtime);
        fs::remove_all(elsewhere);
        mkdir(runtime.c_str(), 0700);
        c.prepare(folder, elsewhere);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        char found[1024];
        size_t n = os_channel_folder(found, sizeof found);
        unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(n > 0 && found == folder.string(), c.used) << c.name << ": " << found;
        if (c.used) {
            EXPECT_EQ(fs::symlink_status(folder).permissions(), fs::perms::owner_all) << c.name;
        }
    }
    // A runtime folder that others may enter is not used at all.
    chmod(runtime.c_str(), 0755);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    char found[1024];
    os_channel_folder(found, sizeof found);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(std::string(found).find(runtime.string()), std::string::npos) << found;
}

}  // namespace
