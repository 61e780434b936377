// The console relay and the control channel with the real runtimes: packages
// of small test applications, run as a user would run them, observed from
// outside with glimvane-ctl.
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const fs::path openjdk17 = "/usr/lib/jvm/java-17-openjdk-amd64";
// Not on every machine; it has no thread dump export.
const fs::path temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

// The four objects of a channel as POSIX keeps them below /dev/shm.
std::vector<fs::path> object_files(const std::string& run_id)
{
    return {"/dev/shm/glimvane-mem-" + run_id, "/dev/shm/sem.glimvane-lock-" + run_id,
            "/dev/shm/sem.glimvane-start-event-" + run_id, "/dev/shm/sem.glimvane-end-event-" + run_id};
}

run_result ctl(const std::vector<std::string>& words)
{
    std::vector<std::string> argv = {GLIMVANE_CTL};
    argv.insert(argv.end(), words.begin(), words.end());
    return run_program(argv);
}

// A packaged application running in the background while the test talks to
// it; both outputs are collected until it has ended.
struct running_app {
    pid_t pid = -1;
    int out_fd = -1, err_fd = -1;
    std::mutex lock;
    std::string out, err;
    bool ended = false;
    int exit_code = -1;
    std::thread reader;

    running_app(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    {
        int out_pipe[2], err_pipe[2];
        if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> environment = environment_with(env);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out_fd = out_pipe[0];
        err_fd = err_pipe[0];
        reader = std::thread([this] { read_all(); });
    }

    ~running_app()
    {
        if (pid > 0 && !ended) kill(pid, SIGKILL);
        finish();
    }

    // Reads both outputs until the program has ended and nothing more comes
    // (a removal child it left may hold a pipe open for a while).
    void read_all()
    {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        std::string* sinks[2] = {&out, &err};
        for (;;) {
            int ready = poll(fds, 2, 100);
            bool done;
            {
                std::lock_guard<std::mutex> hold(lock);
                done = ended;
            }
            if (ready == 0 && done) break;
            bool open = false;
            for (int i = 0; i < 2; i++) {
                if (fds[i].fd < 0) continue;
                open = true;
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[65536];
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                std::lock_guard<std::mutex> hold(lock);
                if (n > 0) {
                    sinks[i]->append(buffer, size_t(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
            if (!open) break;
        }
        for (pollfd& f : fds)
            if (f.fd >= 0) close(f.fd);
    }

    std::string output()
    {
        std::lock_guard<std::mutex> hold(lock);
        return out;
    }

    // True once standard output holds `text`, at most 30 seconds.
    bool wait_for(const std::string& text)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Waits for the program to end; its exit code.
    int finish()
    {
        if (pid > 0 && !ended) {
            int status = 0;
            waitpid(pid, &status, 0);
            exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::lock_guard<std::mutex> hold(lock);
            ended = true;
        }
        if (reader.joinable()) reader.join();
        return exit_code;
    }
};

// A package of the test applications on a chosen runtime.
struct control_package : package_dir {
    fs::path java_home = openjdk17;
    fs::path stop = root / "stop";

    void pack(const std::string& main_class, const std::vector<std::string>& options = {})
    {
        fs::create_directories(exe.parent_path());
        std::vector<std::string> argv = {GLIMVANE_PACK, "--stub", GLIMVANE_STUB, "--out", exe.string(), "--name",
                                         "Demo App", "--jar", GLIMVANE_CONTROL_APPS_JAR, "--main", main_class};
        argv.insert(argv.end(), options.begin(), options.end());
        run_result r = run_program(argv);
        ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.err;
    }

    std::vector<std::string> env() const
    {
        std::vector<std::string> vars = desktop.env();
        vars.insert(vars.end(), {"TMPDIR=" + tmp.string(), "JAVA_HOME=" + java_home.string()});
        return vars;
    }

    std::vector<std::string> argv(const std::vector<std::string>& words) const
    {
        std::vector<std::string> all = {exe.string()};
        all.insert(all.end(), words.begin(), words.end());
        return all;
    }

    run_result launch(const std::vector<std::string>& words) { return run_program(argv(words), env()); }

    // The Crowd application, running until the stop file exists.
    std::unique_ptr<running_app> start_crowd(std::vector<std::string> switches = {})
    {
        switches.push_back(stop.string());
        auto app = std::make_unique<running_app>(argv(switches), env());
        EXPECT_TRUE(app->wait_for("ready\n")) << app->output();
        return app;
    }

    // The run id: the name of the one run folder in the temp path.
    std::string run_id() const
    {
        for (const auto& entry : fs::directory_iterator(tmp))
            if (entry.path().filename().string().rfind("GV", 0) == 0) return entry.path().filename().string();
        return "";
    }

    int end(running_app& app)
    {
        write_text(stop, "");
        return app.finish();
    }
};

// The numbers of the "tick N" lines of an output.
std::vector<int> ticks_in(const std::string& text)
{
    std::vector<int> found;
    std::regex tick(R"(^tick (\d+)$)", std::regex::multiline);
    for (std::sregex_iterator it(text.begin(), text.end(), tick), e; it != e; ++it)
        found.push_back(std::stoi((*it)[1]));
    return found;
}

// The Flood application's output: numbered 64-byte lines.
std::string flood_text(int lines)
{
    std::string text;
    text.reserve(size_t(lines) * 64);
    char line[65];
    for (int i = 0; i < lines; i++) {
        snprintf(line, sizeof line, "%08d ", i);
        for (int k = 9; k < 63; k++) line[k] = char('a' + (i + k) % 26);
        line[63] = '\n';
        text.append(line, 64);
    }
    return text;
}

TEST(Relay, OutputArrivesWholeAndInOrder)
{
    struct flood_case {
        const char* name;
        std::vector<std::string> pack_options;
        std::vector<std::string> switches;
        int lines;
    } cases[] = {
        {"50 MB through the relay as fast as the application writes", {"--relay", "on"}, {},
         50 * 1024 * 1024 / 64},
        {"50 MB straight to standard output", {}, {}, 50 * 1024 * 1024 / 64},
        {"-W* turns the package's relay off", {"--relay", "on"}, {"-W*"}, 16384},
        {"between the debug log's lines, through the relay", {"--relay", "on"}, {"-D*"}, 16384},
    };
    for (const flood_case& c : cases) {
        SCOPED_TRACE(c.name);
        control_package p;
        p.pack("Flood", c.pack_options);
        std::vector<std::string> words = c.switches;
        words.push_back(std::to_string(c.lines));
        run_result r = p.launch(words);
        ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.err;
        EXPECT_EQ(r.err, "");
        std::string app = std::regex_replace(r.out, std::regex(R"(!.* \[\d+\]\r\n)"), "");
        EXPECT_TRUE(app == flood_text(c.lines)) << "output of " << app.size() << " bytes differs";
        if (c.switches == std::vector<std::string>{"-D*"}) {
            // The launcher's lines before and after the application's, as written.
            size_t invoke = r.out.find("!vm.java.invoke [");
            size_t exit_line = r.out.find("!C.exit(0) [");
            ASSERT_NE(invoke, std::string::npos) << r.out.substr(0, 2000);
            ASSERT_NE(exit_line, std::string::npos);
            EXPECT_LT(invoke, r.out.find("00000000 "));
            EXPECT_GT(exit_line, r.out.find(std::to_string(c.lines - 1) + " "));
        }
    }
}

TEST(Relay, MergesStandardErrorIntoStandardOutputInOrder)
{
    control_package p;
    p.pack("Mixed");
    run_result merged = p.launch({"-E*"});
    EXPECT_EQ(merged.exit_code, 0) << merged.err;
    EXPECT_EQ(merged.out, "out 0\nerr 0\nout 1\nerr 1\nout 2\nerr 2\n");
    EXPECT_EQ(merged.err, "");
    run_result apart = p.launch({});
    EXPECT_EQ(apart.out, "out 0\nout 1\nout 2\n");
    EXPECT_EQ(apart.err, "err 0\nerr 1\nerr 2\n");
}

TEST(Control, StatusAnswersOnlyItsOwnCommandToThisUserAlone)
{
    control_package p;
    p.pack("Crowd");
    auto app = p.start_crowd();
    std::string id = p.run_id();
    ASSERT_FALSE(id.empty());

    run_result status = ctl({"status", id});
    EXPECT_EQ(status.exit_code, 0) << status.err;
    EXPECT_EQ(status.out, "demo-app [PID=" + std::to_string(app->pid) + "]\n");

    // Anything else, including a command that differs in letter case only
    // or no command at all, is answered with an empty reply.
    for (const char* command : {"Status", "", "   ", "STATUS", "status\t", "bogus words"}) {
        run_result r = ctl({"send", id, command});
        EXPECT_EQ(r.exit_code, 0) << command << ": " << r.err;
        EXPECT_EQ(r.out, "\n") << command;
    }
    run_result listed = ctl({"list"});
    EXPECT_NE(listed.out.find(id + "  demo-app [PID="), std::string::npos) << listed.out << listed.err;

    for (const fs::path& file : object_files(id)) {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << file;
        EXPECT_EQ(st.st_uid, geteuid()) << file;
    }
    if (geteuid() == 0) {
        // Another user cannot open any of them (the objects are these files).
        for (const fs::path& file : object_files(id)) {
            run_result r = run_program({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        "/bin/cat", file.string()});
            EXPECT_NE(r.exit_code, 0) << file;
            EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(p.end(*app), 0);
    // The launcher removed its objects when it ended.
    for (const fs::path& file : object_files(id)) EXPECT_FALSE(fs::exists(file)) << file;
}

// Through the relay, the dump's file takes what the pipe carries; without
// one, descriptor 1 points at the file for the length of the dump.
struct dump_case {
    const char* name;
    std::vector<std::string> pack_options;
    std::vector<std::string> switches;
};

const dump_case dump_cases[] = {
    {"without the relay, as console programs run", {}, {}},
    {"through the relay the package asks for", {"--relay", "on"}, {}},
    {"-W* turns the package's relay off", {"--relay", "on"}, {"-W*"}},
};

TEST(Control, DumpOfTwoHundredThreadsGoesWholeIntoTheFileAndNowhereElse)
{
    for (const dump_case& c : dump_cases) {
        SCOPED_TRACE(c.name);
        control_package p;
        p.pack("Crowd", c.pack_options);
        auto app = p.start_crowd(c.switches);
        std::string id = p.run_id();
        fs::path folder = p.root / "dumps with blanks";
        fs::create_directories(folder);
        std::vector<std::string> dumps;
        for (int i = 0; i < 3; i++) {
            fs::path file = folder / ("dump " + std::to_string(i) + ".txt");
            run_result r = ctl({"dump", id, file.string()});
            ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
            dumps.push_back(read_text(file));
        }
        // No file where the folder is missing; no dump without a path.
        run_result missing_folder = ctl({"dump", id, (p.root / "missing" / "dump.txt").string()});
        EXPECT_EQ(missing_folder.exit_code, 1);
        EXPECT_FALSE(fs::exists(p.root / "missing"));
        run_result no_path = ctl({"send", id, "dumpAllStacks"});
        EXPECT_EQ(no_path.out, "\n");
        EXPECT_EQ(p.end(*app), 0);

        std::string console = app->output();
        std::vector<int> ticks = ticks_in(console);
        for (const std::string& dump : dumps) {
            // Every writer shares standard output: a line the application
            // prints just as the handover starts may land in the file (and is
            // then missing from the console, as the count of ticks below checks).
            EXPECT_TRUE(std::regex_search(dump, std::regex("^(tick \\d+\n)*\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\nFull thread dump ")))
                << dump.substr(0, 300);
            for (int t = 0; t < 200; t++) {
                char name[32];
                snprintf(name, sizeof name, "\"crowd-worker-%03d\" ", t);
                EXPECT_NE(dump.find(name), std::string::npos) << name;
            }
            EXPECT_NE(dump.find("\"stackTracer\" "), std::string::npos);
            // What the application printed meanwhile is in one place or the other, once.
            std::vector<int> in_file = ticks_in(dump);
            ticks.insert(ticks.end(), in_file.begin(), in_file.end());
        }
        std::sort(ticks.begin(), ticks.end());
        ASSERT_FALSE(ticks.empty());
        for (size_t i = 0; i < ticks.size(); i++) EXPECT_EQ(ticks[i], int(i)) << "tick lost or doubled";
        EXPECT_EQ(console.find("Full thread dump"), std::string::npos);
        EXPECT_EQ(console.find("crowd-worker-"), std::string::npos);
        EXPECT_NE(console.find("ready\ntick 0\n"), std::string::npos);
        EXPECT_NE(console.find("\ndone\n"), std::string::npos);
    }
}

TEST(Control, RuntimeWithoutTheDumpExportGivesAnEmptyReplyAndNoFile)
{
    if (!fs::exists(temurin25 / "lib/server/libjvm.so")) GTEST_SKIP() << "no Temurin 25 here";
    control_package p;
    p.java_home = temurin25;
    p.pack("Crowd");
    auto app = p.start_crowd();
    fs::path file = p.root / "dump.txt";
    run_result r = ctl({"dump", p.run_id(), file.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("made no dump"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(ctl({"status", p.run_id()}).exit_code, 0);
    EXPECT_EQ(p.end(*app), 0);
}

// The objects of a channel as a launcher killed outright leaves them: no
// process holds them any more.
void leave_objects(const std::string& run_id)
{
    int block = shm_open(("/glimvane-mem-" + run_id).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(block, 0);
    ASSERT_EQ(ftruncate(block, 2048), 0);
    close(block);
    for (const char* kind : {"lock", "start-event", "end-event"}) {
        sem_t* sem = sem_open(("/glimvane-" + std::string(kind) + "-" + run_id).c_str(), O_CREAT, 0600,
                              std::string(kind) == "lock" ? 1u : 0u);
        ASSERT_NE(sem, SEM_FAILED);
        sem_close(sem);
    }
}

TEST(Control, KilledLauncherIsReportedWithoutHanging)
{
    control_package p;
    p.pack("Crowd");
    auto app = p.start_crowd();
    std::string killed = p.run_id();
    kill(app->pid, SIGKILL);
    app->finish();
    ASSERT_TRUE(fs::exists(object_files(killed)[0])) << "a killed launcher leaves its objects";

    // Each client finds the leftovers, says so at once and removes them.
    const std::string left = "GVDEAD" + std::to_string(getpid());
    struct stale_case {
        std::string run_id;
        std::vector<std::string> words;
    } cases[] = {
        {killed, {"status", killed}},
        {left, {"dump", left, (p.root / "dump.txt").string()}},
        {left, {"send", left, "status"}},
        {left, {"list"}},
    };
    for (const stale_case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        if (c.run_id == left) leave_objects(left);
        auto started = std::chrono::steady_clock::now();
        run_result r = ctl(c.words);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(r.out.find(c.run_id), std::string::npos) << r.out;
        if (c.words[0] != "list") {
            EXPECT_EQ(r.exit_code, 3);
            EXPECT_NE(r.err.find("the launcher " + c.run_id + " has ended"), std::string::npos) << r.err;
        }
        for (const fs::path& file : object_files(c.run_id)) EXPECT_FALSE(fs::exists(file)) << "left over: " << file;
    }
    EXPECT_FALSE(fs::exists(p.root / "dump.txt"));
    run_result none = ctl({"status", killed});
    EXPECT_EQ(none.exit_code, 3);
    EXPECT_NE(none.err.find("no launcher of this user has the run id " + killed), std::string::npos) << none.err;
}

}  // namespace
