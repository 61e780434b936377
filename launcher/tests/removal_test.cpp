#include "launcher/entry.h"
#include "launcher/removal.h"
#include "os/os.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DeleteTree, RemovesMatchingFilesAndEmptiedFolders)
{
    scratch_dir scratch;
    fs::path root = scratch.path / "GV12AB";
    write_text(root / "a.jar", "a");
    write_text(root / "lib" / "x86" / "b.dll", "b");
    EXPECT_EQ(delete_tree(root.c_str(), "GV12AB"), 5);  // 2 files, 3 folders
    EXPECT_FALSE(fs::exists(root));
}

TEST(DeleteTree, KeepsFilesOutsideThePatternAndTheFoldersAboveThem)
{
    scratch_dir scratch;
    fs::path root = scratch.path / "top";
    write_text(root / "GV1-a.txt", "a");
    write_text(root / "keep" / "other.txt", "kept");
    write_text(root / "gone" / "GV1-b.txt", "b");
    EXPECT_EQ(delete_tree(root.c_str(), "GV1-"), 3);  // 2 files and the folder "gone"
    EXPECT_EQ(read_text(root / "keep" / "other.txt"), "kept");
    EXPECT_FALSE(fs::exists(root / "gone"));
    EXPECT_FALSE(fs::exists(root / "GV1-a.txt"));
}

TEST(DeleteTree, NeverFollowsALinkOutOfTheFolder)
{
    scratch_dir scratch;
    fs::path outside = scratch.path / "outside";
    write_text(outside / "precious.txt", "p");
    fs::path root = scratch.path / "GV99";
    fs::create_directories(root);
    fs::create_directory_symlink(outside, root / "to-folder");
    fs::create_symlink(outside / "precious.txt", root / "to-file");
    delete_tree(root.c_str(), "GV99");
    EXPECT_EQ(read_text(outside / "precious.txt"), "p");
    EXPECT_FALSE(fs::exists(root)) << "the links themselves match and are removed";
}

// Anyone can plant a link under a run's name in a shared temp folder; the
// removal must neither list nor empty what it points to.
TEST(DeleteTree, ALinkAtTheTopFolderItselfIsNeverFollowed)
{
    scratch_dir scratch;
    fs::path outside = scratch.path / "someone-elses";
    write_text(outside / "GV42-notes.txt", "n");
    write_text(outside / "sub" / "GV42.jar", "j");
    fs::path link = scratch.path / "GV42";
    fs::create_directory_symlink(outside, link);
    delete_tree(link.c_str(), "GV42");
    EXPECT_EQ(read_text(outside / "GV42-notes.txt"), "n");
    EXPECT_EQ(read_text(outside / "sub" / "GV42.jar"), "j");
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST(DeleteTree, RetriesAFileThatCannotBeDeletedYet)
{
    scratch_dir scratch;
    fs::path root = scratch.path / "GV7";
    write_text(root / "held.jar", "h");
    os_fault_set(OS_CALL_DELETE_FILE, 1, 3, 13);  // three refusals, then it goes
    EXPECT_EQ(delete_tree(root.c_str(), "GV7"), 2);
    os_fault_clear();
    EXPECT_FALSE(fs::exists(root));
}

TEST(DeleteTree, SkipsPathsTooLongForItsBuffers)
{
    scratch_dir scratch;
    fs::path root = scratch.path / "GV5";
    fs::path deep = root / std::string(120, 'd') / std::string(120, 'e');
    write_text(deep / "long-name.txt", "x");
    delete_tree(root.c_str(), "GV5");
    EXPECT_TRUE(fs::exists(deep / "long-name.txt"));
}

// The -deltree* mode ends the process with exit code 0 whatever it did.
void run_switches(std::vector<std::string> words)
{
    std::vector<char*> list;
    for (std::string& w : words) list.push_back(w.data());
    list.push_back(nullptr);
    consume_switches(int(words.size()), list.data());
}

TEST(DeltreeMode, DeletesOnlyWithExactlyTwoWordsBehindTheSwitch)
{
    scratch_dir scratch;
    fs::path root = scratch.path / "GVAB";
    write_text(root / "f", "x");
    std::string folder = root.string();
    EXPECT_EXIT(run_switches({"-deltree*", folder}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(run_switches({"-deltree*", folder, "GVAB", "extra"}), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::exists(root / "f"));
    EXPECT_EXIT(run_switches({"-Q*", "-deltree*", folder, "GVAB"}), testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(root));
}

}  // namespace
