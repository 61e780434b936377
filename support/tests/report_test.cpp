// The error report: the paragraph table, the console block, the box and the
// runtime follow-up, with recording desktop tools.
#include "runtime/getjava.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/report.h"
#include "support/switches.h"
#include "tests/config_names.h"
#include "tests/recorder.h"
#include "tests/report_texts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string redirect =
    "You will be redirected to Sun's Java web site:\r\n\r\n\thttps://adoptium.net/\r\n\r\n"
    "where you should install the latest Java Runtime.";
const std::string installing = "The Java Runtime Environment will now be installed";
const std::string runtime_problem =
    "PROBLEM: An error occurred with your current Java Runtime Environment\r\n\r\n"
    "SOLUTION: Reinstall the Java Runtime Environment for 'Demo App' and try again\r\n\r\n";
const std::string java_problem =
    "PROBLEM: Java programming issue -- notify your vendor\r\n\r\n"
    "SOLUTION: Obtain the latest 'Demo App' from your vendor";
const std::string damaged_problem =
    "PROBLEM: 'demo.exe' is damaged\r\n\r\n"
    "SOLUTION: Reinstall 'Demo App', preferably obtaining the latest version";

class Report : public testing::Test {
protected:
    void SetUp() override
    {
        set_config_names("Demo App", "demo.exe");
        getjava_path = nullptr;
        quiet_flag = false;
    }
    void TearDown() override
    {
        getjava_path = nullptr;
        quiet_flag = false;
    }
};

TEST_F(Report, CaptionNamesTheAppAndTheOriginalExecutable)
{
    EXPECT_STREQ(caption_text(), "Demo App (demo.exe)");
    EXPECT_EQ(caption_text(), caption_text()) << "made once";
}

struct problem_case {
    int code;
    std::string without_installer;  // "-": none
    std::string with_installer;
};

TEST_F(Report, ProblemTextByCode)
{
    const std::string needs = "A Java Runtime Environment needs to be installed before 'Demo App' can be run\r\n\r\n";
    const problem_case cases[] = {
        {10, needs + redirect, needs + installing},
        {11, runtime_problem + redirect, runtime_problem + installing},
        {14, runtime_problem + redirect, runtime_problem + installing},
        {15, runtime_problem + redirect, runtime_problem + installing},
        {35, runtime_problem + redirect, runtime_problem + installing},
        {20, windows_problem, windows_problem},
        {24, windows_problem, windows_problem},
        {40, disk_problem, disk_problem},
        {41, disk_problem, disk_problem},
        {57, java_problem, java_problem},
        {90, damaged_problem, damaged_problem},
        {98, damaged_problem, damaged_problem},
        {0, "-", "-"},
        {9, "-", "-"},
        {60, "-", "-"},
        {77, "-", "-"},
        {89, "-", "-"},
        {100, "-", "-"},
        {150, "-", "-"},
        {-15, "-", "-"},
    };
    char installer[] = "/nowhere/getjava.exe";
    for (const problem_case& c : cases) {
        for (bool known : {false, true}) {
            getjava_path = known ? installer : nullptr;
            const char* text = problem_text(c.code);
            const std::string& expected = known ? c.with_installer : c.without_installer;
            EXPECT_EQ(text ? text : "-", expected) << c.code << (known ? " with installer" : "");
        }
    }
}

enum installer_kind { NO_INSTALLER, INSTALLER_SCRIPT, INSTALLER_MISSING };

struct report_case {
    const char* name;
    const char* text;
    installer_kind installer;
    bool quiet;
    std::string message;  // the box text; empty: nothing shown
    bool opens_page;
    bool runs_installer;
};

TEST_F(Report, ConsoleBlockBoxAndFollowUp)
{
    char buffer[200];
    snprintf(buffer, sizeof buffer, text_error_10, "demo.exe");
    const std::string error_10 = buffer;
    const report_case cases[] = {
        {"Windows error: no follow-up", "24: Windows SetEnvironmentVariable() failed", NO_INSTALLER, false,
         "ERROR #24: Windows SetEnvironmentVariable() failed\r\n\r\n" + windows_problem, false, false},
        {"error 15 (its installer path cleared): the download page", text_error_15, NO_INSTALLER, false,
         "ERROR #15: Failure locating a Java Runtime Environment after trying to install Java\r\n\r\n" +
             runtime_problem + redirect,
         true, false},
        {"runtime error with installer: it runs, without a notice", "35: The runtime broke", INSTALLER_SCRIPT,
         false, "ERROR #35: The runtime broke\r\n\r\n" + runtime_problem + installing, false, true},
        {"installer path set but its file gone: no follow-up at all", error_10.c_str(), INSTALLER_MISSING, false,
         "ERROR #10: A Java Runtime Environment for 'demo.exe' could not be found\r\n\r\n"
         "A Java Runtime Environment needs to be installed before 'Demo App' "
         "can be run\r\n\r\n" + installing,
         false, false},
        {"Java programming issue", "57: Bad main class", NO_INSTALLER, false,
         "ERROR #57: Bad main class\r\n\r\n" + java_problem, false, false},
        {"text without a leading digit", "Something went wrong", NO_INSTALLER, false,
         "ERROR #Something went wrong", false, false},
        {"quiet: nothing at all", "12: JNI_CreateJavaVM() failed", NO_INSTALLER, true, "", false, false},
        {"quiet: the installer does not run", "35: The runtime broke", INSTALLER_SCRIPT, true, "", false, false},
    };
    for (const report_case& c : cases) {
        desktop_recorder desktop;
        scoped_env env(desktop.env());
        // A folder with a blank: the installer's path is quoted when started.
        fs::path installer = desktop.scratch.path / "Java Setup" / "get java";
        fs::path ran = desktop.scratch.path / "installer-ran";
        write_text(installer, "#!/bin/sh\nsleep 0.2\necho done > '" + ran.string() + "'\n");
        fs::permissions(installer, fs::perms::owner_all);
        std::string path = (c.installer == INSTALLER_MISSING ? desktop.scratch.path / "gone" : installer).string();
        getjava_path = c.installer == NO_INSTALLER ? nullptr : path.data();
        quiet_flag = c.quiet;

        testing::internal::CaptureStdout();
        // As the driver does: the report, then the runtime follow-up.
        report_error(c.text);
        runtime_follow_up(c.text);
        std::string printed = testing::internal::GetCapturedStdout();

        EXPECT_EQ(printed, c.message.empty() ? "" : report_separator + c.message + "\r\n\r\n") << c.name;
        auto boxes = desktop.calls("zenity");
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty()) << c.name;
        } else {
            ASSERT_EQ(boxes.size(), 1u) << c.name;
            EXPECT_EQ(boxes[0], (std::vector<std::string>{"--error", "--no-markup", "--title=Demo App (demo.exe)",
                                                          "--text", c.message}))
                << c.name;
        }
        EXPECT_EQ(fs::exists(ran), c.runs_installer) << c.name << ": the report waits for the installer";
        if (c.opens_page) {
            auto pages = desktop.wait_calls("xdg-open", 1);
            ASSERT_EQ(pages.size(), 1u) << c.name;
            EXPECT_EQ(pages[0], std::vector<std::string>{"https://adoptium.net/temurin/releases/"});
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_TRUE(desktop.calls("xdg-open").empty()) << c.name;
        }
    }
}

}  // namespace
