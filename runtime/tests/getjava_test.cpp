// The installer fallback: a shell script stands in for the installer.
#include "runtime/getjava.h"
#include "support/paths.h"
#include "support/switches.h"
#include "tests/config_names.h"
#include "tests/e2e/run.h"
#include "tests/recorder.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

struct logged_run {
    bool result;
    std::vector<std::string> log;
};

logged_run run(bool notice)
{
    debug_flag = true;
    testing::internal::CaptureStdout();
    bool result = run_getjava(notice);
    std::string out = testing::internal::GetCapturedStdout();
    debug_flag = false;
    return {result, log_texts(out)};
}

TEST(GetJava, NothingToRunWithoutAnInstallerFile)
{
    getjava_path = nullptr;
    EXPECT_FALSE(getjava_known());
    logged_run r = run(true);
    EXPECT_FALSE(r.result);
    EXPECT_TRUE(r.log.empty());

    char missing[] = "/nonexistent/getjava.exe";
    getjava_path = missing;
    EXPECT_TRUE(getjava_known()) << "known whether or not its file exists";
    r = run(true);
    EXPECT_FALSE(r.result);
    EXPECT_TRUE(r.log.empty());
    getjava_path = nullptr;
}

TEST(GetJava, ShowsTheNoticeRunsTheQuotedInstallerAndWaits)
{
    set_config_names("Demo App", "demo.exe");
    desktop_recorder desktop;
    scoped_env env(desktop.env());
    // Unquoted, "<scratch>/my app/setup" would start "<scratch>/my".
    fs::path decoy = desktop.scratch.path / "my";
    fs::path installer = desktop.scratch.path / "my app" / "setup";
    fs::path ran = desktop.scratch.path / "ran";
    write_text(decoy, "#!/bin/sh\necho decoy > '" + ran.string() + "'\n");
    write_text(installer, "#!/bin/sh\nsleep 0.2\necho installer > '" + ran.string() + "'\n");
    fs::permissions(decoy, fs::perms::owner_all);
    fs::permissions(installer, fs::perms::owner_all);
    std::string path = installer.string();
    getjava_path = path.data();

    for (bool notice : {true, false}) {
        fs::remove(ran);
        logged_run r = run(notice);
        EXPECT_TRUE(r.result);
        EXPECT_EQ(read_text(ran), "installer\n") << "started by its whole path and waited for";
        ASSERT_EQ(r.log.size(), 3u);
        EXPECT_EQ(r.log[0], "getjava=" + path);
        EXPECT_TRUE(std::regex_match(r.log[1], std::regex("getjava=process=[1-9][0-9]*"))) << r.log[1];
        EXPECT_EQ(r.log[2], "getjava=DONE");
    }
    auto boxes = desktop.calls("zenity");
    ASSERT_EQ(boxes.size(), 1u) << "only the run with the notice shows a box";
    EXPECT_EQ(boxes[0], (std::vector<std::string>{"--info", "--no-markup", "--title=Demo App (demo.exe)", "--text",
                                                  "The Java Runtime Environment for 'Demo App' will now be "
                                                  "installed..."}));
    getjava_path = nullptr;
}

TEST(GetJava, AnInstallerThatCannotStartStillCountsAsRun)
{
    scratch_dir scratch;
    fs::path installer = scratch.path / "not-a-program";
    write_text(installer, "data");
    fs::permissions(installer, fs::perms::owner_read | fs::perms::owner_write);
    std::string path = installer.string();
    getjava_path = path.data();
    logged_run r = run(false);
    EXPECT_TRUE(r.result);
    EXPECT_EQ(r.log, (std::vector<std::string>{"getjava=" + path, "getjava=process=0", "getjava=DONE"}));
    getjava_path = nullptr;
}

}  // namespace
