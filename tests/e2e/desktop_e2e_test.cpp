// Desktop programs with the real runtimes: the splash screen on a virtual
// display (Xvfb), looked at in screenshots, and one instance per user that
// takes the words of later launches.
#include "tests/e2e/other_account.h"
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"
#include "tests/e2e/running_app.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

const fs::path openjdk17 = "/usr/lib/jvm/java-17-openjdk-amd64";
// Not on every machine.
const fs::path temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";
const fs::path images = GLIMVANE_DESKTOP_IMAGES;

struct rgb {
    int r, g, b;
    bool operator==(const rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
const rgb red{255, 0, 0}, blue{0, 0, 255}, green{0, 255, 0}, black{0, 0, 0};

std::ostream& operator<<(std::ostream& out, const rgb& c)
{
    return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

// A virtual display of 1024x768 for the length of a test. The splash image
// (320x200) lies in its middle; the program's window covers its top left
// 640x480, so (512, 384) shows the splash, then the window, and (660, 470)
// the splash, then nothing.
struct virtual_display {
    std::unique_ptr<running_app> server;
    std::string name;

    virtual_display()
    {
        // Xvfb picks a free display and writes its number.
        server = std::make_unique<running_app>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"},
            std::vector<std::string>{});
        if (!server->wait_for("\n")) return;
        std::string number = server->output();
        name = ":" + number.substr(0, number.find('\n'));
    }
    ~virtual_display()
    {
        if (server && server->pid > 0) kill(server->pid, SIGTERM);
    }

    // Two pixels of a screenshot: the splash's middle and its lower right.
    std::pair<rgb, rgb> look() const
    {
        run_result shot = run_program({"/usr/bin/import", "-display", name, "-window", "root", "-depth", "8", "rgb:-"});
        EXPECT_EQ(shot.out.size(), size_t(1024 * 768 * 3)) << shot.err;
        auto at = [&](int x, int y) {
            size_t i = (size_t(y) * 1024 + size_t(x)) * 3;
            if (i + 2 >= shot.out.size()) return rgb{-1, -1, -1};
            const auto* p = reinterpret_cast<const unsigned char*>(shot.out.data() + i);
            return rgb{p[0], p[1], p[2]};
        };
        return {at(512, 384), at(660, 470)};
    }
};

#define NEEDS_XVFB() \
    if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/import")) GTEST_SKIP() << "needs Xvfb and import"

// A package of the desktop test applications; its launches keep their
// named objects in a runtime folder of the test's own.
struct desktop_package : package_dir {
    fs::path java_home = openjdk17;
    fs::path stop = root / "stop";
    fs::path runtime = root / "run";
    std::string display;

    desktop_package()
    {
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
    }

    void pack(const std::string& main_class, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> all = {"--jar", GLIMVANE_DESKTOP_APPS_JAR, "--main", main_class};
        all.insert(all.end(), options.begin(), options.end());
        package_dir::pack(all);
    }

    std::vector<std::string> env() const
    {
        std::vector<std::string> vars = desktop.env();
        vars.insert(vars.end(), {"TMPDIR=" + tmp.string(), "JAVA_HOME=" + java_home.string(),
                                 "XDG_RUNTIME_DIR=" + runtime.string()});
        // The recorder's display is none; the splash needs a real one.
        for (std::string& var : vars)
            if (var.rfind("DISPLAY=", 0) == 0 && !display.empty()) var = "DISPLAY=" + display;
        return vars;
    }

    std::vector<std::string> argv(const std::vector<std::string>& words) const
    {
        std::vector<std::string> all = {exe.string(), "-D*"};
        all.insert(all.end(), words.begin(), words.end());
        return all;
    }

    // The program, running until the stop file exists.
    std::unique_ptr<running_app> start(const std::string& ready)
    {
        auto app = std::make_unique<running_app>(argv({stop.string()}), env());
        EXPECT_TRUE(app->wait_for(ready)) << app->output();
        return app;
    }

    // A launch that should hand over and end; one that runs the program
    // instead is ended after a while, so that the test fails, not hangs.
    run_result launch(const std::vector<std::string>& words)
    {
        std::vector<std::string> bounded = {"/usr/bin/timeout", "20"};
        for (const std::string& word : argv(words)) bounded.push_back(word);
        return run_program(bounded, env());
    }

    int end_with(running_app& app)
    {
        write_text(stop, "");
        return app.finish();
    }

    // The run folders in the temp path.
    int run_folders() const
    {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(tmp)) n += entry.path().filename().string().rfind("GV", 0) == 0;
        return n;
    }
};

// The elapsed milliseconds of a debug log line, -1 when it is missing.
int ms_of(const std::string& out, const std::string& text)
{
    std::smatch m;
    std::regex line("(^|\\n)!" + text + "[^\\n]* \\[(\\d+)\\]");
    return std::regex_search(out, m, line) ? std::stoi(m[2]) : -1;
}

// ---- the splash screen ---------------------------------------------------------

struct splash_case {
    const char* name;
    std::vector<std::string> options;
    rgb colour;
};

TEST(Splash, ShowsBeforeTheVmStartsAndClosesWithTheFirstWindow)
{
    NEEDS_XVFB();
    std::vector<fs::path> runtimes = {openjdk17};
    if (fs::exists(temurin25)) runtimes.push_back(temurin25);
    const splash_case cases[] = {
        {"the main jar's SplashScreen-Image", {}, blue},
        {"--splash, before the manifest's", {"--splash", (images / "red.png").string()}, red},
    };
    for (const fs::path& runtime : runtimes)
        for (const splash_case& c : cases) {
            SCOPED_TRACE(runtime.string() + ": " + c.name);
            virtual_display screen;
            ASSERT_FALSE(screen.name.empty()) << "Xvfb did not start";
            desktop_package p;
            p.java_home = runtime;
            p.display = screen.name;
            p.pack("SplashWindow", c.options);
            auto app = p.start("\nsplash ");
            // The program found the splash, visible, at its start, while it
            // still waits for its window.
            ASSERT_NE(app->output().find("\nsplash true\n"), std::string::npos) << app->output();
            EXPECT_EQ(screen.look(), std::make_pair(c.colour, c.colour));
            std::string out = app->output();
            int shown = ms_of(out, "splash.shown"), invoked = ms_of(out, "vm.java.invoke");
            EXPECT_GE(shown, 0) << out;
            EXPECT_LT(shown, invoked) << "the splash is up before the program runs";

            // Its first window closes the splash.
            ASSERT_TRUE(app->wait_for("window splash false\n")) << app->output();
            EXPECT_EQ(screen.look(), std::make_pair(green, black));
            EXPECT_EQ(p.end_with(*app), 0);
        }
}

TEST(Splash, AHeadlessRuntimeStartsWithoutOne)
{
    NEEDS_XVFB();
    virtual_display screen;
    ASSERT_FALSE(screen.name.empty());
    desktop_package p;
    // A runtime without the splash library: the VM library is a copy (the
    // runtime's home is where it lies), the rest links to the real runtime.
    fs::path home = p.root / "headless";
    fs::create_directories(home / "lib" / "server");
    fs::copy_file(openjdk17 / "release", home / "release");
    fs::copy_file(openjdk17 / "lib" / "server" / "libjvm.so", home / "lib" / "server" / "libjvm.so");
    for (const fs::path& folder : {fs::path(), fs::path("lib")})
        for (const auto& entry : fs::directory_iterator(openjdk17 / folder)) {
            fs::path name = folder / entry.path().filename();
            if (!fs::exists(home / name) && name != "lib/libsplashscreen.so")
                fs::create_symlink(entry.path(), home / name);
        }
    p.java_home = home;
    p.display = screen.name;
    p.pack("SplashWindow", {"--splash", (images / "red.png").string()});
    auto app = p.start("\nsplash ");
    EXPECT_NE(app->output().find("\nsplash false\n"), std::string::npos) << app->output();
    std::vector<std::string> log = log_texts(app->output());
    EXPECT_EQ(value_of(log, "splash.none"),
              (home / "lib" / "libsplashscreen.so").string() + " (no splash library: a headless runtime)");
    ASSERT_TRUE(app->wait_for("window splash false\n")) << app->output();
    EXPECT_EQ(p.end_with(*app), 0);
}

// ---- one instance ----------------------------------------------------------------

TEST(SingleInstance, LaterLaunchesHandTheirWordsToTheRunningOne)
{
    desktop_package p;
    p.pack("Instance", {"--single-instance", "Instance.words"});
    auto first = p.start("ready\n");
    ASSERT_EQ(p.run_folders(), 1);

    run_result second = p.launch({"a", "b c"});
    EXPECT_EQ(second.exit_code, 0) << second.out << second.err;
    std::vector<std::string> log = log_texts(second.out);
    EXPECT_NE(value_of(log, "instance.handed").find("[PID=" + std::to_string(first->pid) + "]"), std::string::npos)
        << second.out;
    // No VM, and nothing to remove: it ended before its temp folder.
    EXPECT_EQ(value_of(log, "jvm"), "");
    EXPECT_EQ(value_of(log, "temp.folder"), "");
    EXPECT_TRUE(first->wait_for("words [a] [b c] on glimvane-instance\n")) << first->output();

    // Two at once: each is taken, on a turn of its own.
    run_result both[2];
    std::thread one([&] { both[0] = p.launch({"x1"}); });
    std::thread two([&] { both[1] = p.launch({"x2"}); });
    one.join();
    two.join();
    for (const run_result& r : both) EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(first->wait_for("words [x1] on"));
    EXPECT_TRUE(first->wait_for("words [x2] on"));
    EXPECT_EQ(p.run_folders(), 1);
    EXPECT_EQ(p.end_with(*first), 0);

    // Once the instance has ended, the next launch is the instance.
    fs::remove(p.stop);
    auto next = p.start("ready\n");
    EXPECT_NE(next->output().find("!instance.serving="), std::string::npos);
    EXPECT_EQ(p.end_with(*next), 0);
}

TEST(SingleInstance, WithoutAMethodALaterLaunchOnlyEnds)
{
    desktop_package p;
    p.pack("Instance", {"--single-instance"});
    auto first = p.start("ready\n");
    run_result second = p.launch({"a"});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_NE(second.out.find("!instance.handed="), std::string::npos) << second.out;
    EXPECT_TRUE(first->wait_for("!instance.words=1 ["));
    EXPECT_EQ(p.end_with(*first), 0);
    EXPECT_EQ(first->output().find("words ["), std::string::npos);
}

TEST(SingleInstance, AKilledInstanceGivesWayToTheNextLaunch)
{
    desktop_package p;
    p.pack("Instance", {"--single-instance", "Instance.words"});
    auto killed = p.start("ready\n");
    kill(killed->pid, SIGKILL);
    killed->finish();

    auto next = p.start("ready\n");
    std::vector<std::string> log = log_texts(next->output());
    EXPECT_NE(value_of(log, "instance.left.removed"), "") << next->output();
    EXPECT_NE(value_of(log, "instance.serving"), "");
    run_result later = p.launch({"after"});
    EXPECT_EQ(later.exit_code, 0) << later.out;
    EXPECT_TRUE(next->wait_for("words [after] on")) << next->output();
    EXPECT_EQ(p.end_with(*next), 0);
}

TEST(SingleInstance, AnInstanceThatDoesNotAnswerIsPassedBy)
{
    desktop_package p;
    p.pack("Instance", {"--single-instance", "Instance.words"});
    auto stopped = p.start("ready\n");
    kill(stopped->pid, SIGSTOP);
    // The launch waits a few seconds for an answer, then runs as any other.
    auto other = p.start("ready\n");
    std::vector<std::string> log = log_texts(other->output());
    EXPECT_NE(value_of(log, "instance.no.answer").find("(no answer)"), std::string::npos) << other->output();
    kill(stopped->pid, SIGCONT);
    write_text(p.stop, "");
    EXPECT_EQ(other->finish(), 0);
    EXPECT_EQ(stopped->finish(), 0);
    EXPECT_EQ(stopped->output().find("words ["), std::string::npos) << "the words went nowhere else";
}

TEST(SingleInstance, AnotherAccountCannotHandWordsOver)
{
    NEEDS_ROOT();
    desktop_package p;
    other_account other("instance");
    ASSERT_TRUE(other.made);
    p.pack("Instance", {"--single-instance", "Instance.words"});
    auto first = p.start("ready\n");

    // The other account may run the package; its launches have a channel
    // folder of their own, and even pointed at this user's runtime folder
    // they reach nothing of this user's instance.
    fs::permissions(p.root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::path shared = p.root / "shared";
    fs::create_directory(shared);
    chmod(shared.c_str(), 01777);
    run_result home = other.sh("mkdir '" + (shared / "home").string() + "'");
    ASSERT_EQ(home.exit_code, 0) << home.err;
    std::string env = "env TMPDIR='" + shared.string() + "' HOME='" + (shared / "home").string() +
                      "' JAVA_HOME='" + p.java_home.string() + "' ";
    fs::path their_stop = shared / "stop";
    write_text(their_stop, "");  // their own program ends at once
    for (const std::string& runtime : {std::string("''"), "'" + p.runtime.string() + "'"}) {
        SCOPED_TRACE(runtime);
        run_result theirs = other.sh(env + "XDG_RUNTIME_DIR=" + runtime + " '" + p.exe.string() + "' -D* '" +
                                     their_stop.string() + "' words");
        EXPECT_EQ(theirs.exit_code, 0) << theirs.out << theirs.err;
        EXPECT_EQ(theirs.out.find("!instance.handed="), std::string::npos) << theirs.out;
        EXPECT_NE(theirs.out.find("\nready\n"), std::string::npos) << "it ran its own program";
    }
    EXPECT_NE(other.sh("ls '" + (p.runtime / "glimvane").string() + "'").exit_code, 0);
    EXPECT_EQ(p.end_with(*first), 0);
    EXPECT_EQ(first->output().find("words ["), std::string::npos) << first->output();
}

}  // namespace
