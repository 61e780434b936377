// The console relay and the control channel with the real runtimes: packages
// of small test applications, run as a user would run them, observed from
// outside with glimvane-ctl.
#include "tests/e2e/other_account.h"
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"
#include "tests/e2e/running_app.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
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

run_result ctl(const std::vector<std::string>& words)
{
    std::vector<std::string> argv = {GLIMVANE_CTL};
    argv.insert(argv.end(), words.begin(), words.end());
    return run_program(argv);
}

// A package of the test applications on a chosen runtime.
struct control_package : package_dir {
    fs::path java_home = openjdk17;
    fs::path stop = root / "stop";
    // This user's runtime folder for the test: the launcher and every
    // glimvane-ctl the test runs keep their objects in its "glimvane".
    fs::path runtime = root / "run";
    fs::path channel = runtime / "glimvane";

    control_package()
    {
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~control_package() { unsetenv("XDG_RUNTIME_DIR"); }

    // The five objects of a channel: the block, the two locks, the events.
    std::vector<fs::path> object_files(const std::string& run_id) const
    {
        std::vector<fs::path> files;
        for (const char* kind : {"mem", "lock", "client-lock", "start-event", "end-event"})
            files.push_back(channel / ("glimvane-" + std::string(kind) + "-" + run_id));
        return files;
    }

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

    for (const fs::path& file : p.object_files(id)) {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << file;
        EXPECT_EQ(st.st_uid, geteuid()) << file;
    }
    EXPECT_EQ(fs::symlink_status(p.channel).permissions(), fs::perms::owner_all);
    if (geteuid() == 0) {
        // Another user cannot open any of them (the objects are these files).
        for (const fs::path& file : p.object_files(id)) {
            run_result r = run_program({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        "/bin/cat", file.string()});
            EXPECT_NE(r.exit_code, 0) << file;
            EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(p.end(*app), 0);
    // The launcher removed its objects when it ended.
    for (const fs::path& file : p.object_files(id)) EXPECT_FALSE(fs::exists(file)) << file;
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
void leave_objects(const control_package& p, const std::string& run_id)
{
    std::vector<fs::path> files = p.object_files(run_id);
    write_text(files[0], std::string(2048, '\0'));
    write_text(files[1], "");
    write_text(files[2], "");
    for (size_t i = 3; i < files.size(); i++) ASSERT_EQ(mkfifo(files[i].c_str(), 0600), 0) << files[i];
    for (const fs::path& file : files) fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Control, KilledLauncherIsReportedWithoutHanging)
{
    control_package p;
    p.pack("Crowd");
    auto app = p.start_crowd();
    std::string killed = p.run_id();
    kill(app->pid, SIGKILL);
    app->finish();
    ASSERT_TRUE(fs::exists(p.object_files(killed)[0])) << "a killed launcher leaves its objects";

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
        if (c.run_id == left) leave_objects(p, left);
        auto started = std::chrono::steady_clock::now();
        run_result r = ctl(c.words);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(r.out.find(c.run_id), std::string::npos) << r.out;
        if (c.words[0] != "list") {
            EXPECT_EQ(r.exit_code, 3);
            EXPECT_NE(r.err.find("the launcher " + c.run_id + " has ended"), std::string::npos) << r.err;
        }
        for (const fs::path& file : p.object_files(c.run_id)) EXPECT_FALSE(fs::exists(file)) << "left over: " << file;
    }
    EXPECT_FALSE(fs::exists(p.root / "dump.txt"));
    run_result none = ctl({"status", killed});
    EXPECT_EQ(none.exit_code, 3);
    EXPECT_NE(none.err.find("no launcher of this user has the run id " + killed), std::string::npos) << none.err;
}

// A folder that everyone may write into and no one may rename in, as /tmp.
fs::path shared_folder(const control_package& p)
{
    fs::permissions(p.root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::path shared = p.root / "shared";
    fs::create_directory(shared);
    chmod(shared.c_str(), 01777);
    return shared;
}

// The names of a folder that belong to `uid` with their kinds and contents,
// to see that nothing of them changed.
std::string snapshot(const fs::path& folder, uid_t uid)
{
    std::string all;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        struct stat st;
        if (lstat(entry.path().c_str(), &st) != 0 || st.st_uid != uid) continue;
        all += entry.path().filename().string();
        if (entry.is_symlink()) all += " -> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file()) all += " = " + read_text(entry.path());
        else if (entry.is_directory()) all += "/";
        all += "\n";
    }
    return all;
}

void remove_files_of(uid_t uid, const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat file;
        if (lstat(entry.path().c_str(), &file) == 0 && file.st_uid == uid) fs::remove(entry.path());
    }
}

TEST(SharedMachine, PlantedRunFoldersAndChannelNamesTakeNothingFromTheLaunch)
{
    NEEDS_ROOT();
    control_package p;
    fs::path shared = shared_folder(p);
    other_account other("plant");
    ASSERT_TRUE(other.made);
    remove_files_of(other.uid, "/dev/shm");  // an earlier account of that uid
    struct shm_cleanup {
        uid_t uid;
        ~shm_cleanup() { remove_files_of(uid, "/dev/shm"); }
    } cleanup{other.uid};
    p.pack("Crowd");

    // The launch waits in a shell that becomes the launcher, so that its
    // process id is known before it starts.
    fs::path pid_file = p.root / "pid", go = p.root / "go";
    std::vector<std::string> env = p.env();
    for (std::string& var : env)
        if (var.rfind("TMPDIR=", 0) == 0) var = "TMPDIR=" + shared.string();
    std::string script = "echo $$ > '" + pid_file.string() + "'; while [ ! -e '" + go.string() +
                         "' ]; do sleep 0.02; done; exec '" + p.exe.string() + "' -D* '" + p.stop.string() + "'";
    running_app app({"/bin/sh", "-c", script}, env);
    for (int i = 0; i < 500 && read_text(pid_file).empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    unsigned pid = unsigned(std::stoul(read_text(pid_file)));

    // As the other account: the run folder names that launch can be guessed
    // to use over the next seconds of uptime, as folders, files and links;
    // and the channel's names in the shared namespace, with a forged reply
    // and empty semaphores.
    timespec boot;
    clock_gettime(CLOCK_BOOTTIME, &boot);
    std::string planting = "cd '" + shared.string() + "' && printf 'forged [PID=1]' > /tmp/" + other.name + ".reply";
    for (long second = 0; second < 6; second++) {
        char id[32];
        snprintf(id, sizeof id, "GV%X%X", unsigned((boot.tv_sec + second) & 0xFFFF), pid);
        const char* kinds[] = {"mkdir ", "echo x > ", "ln -s /etc/passwd "};
        planting += std::string(" && ") + kinds[second % 3] + id + " && { head -c 1024 /dev/zero; cat /tmp/" +
                    other.name + ".reply; } > /dev/shm/glimvane-mem-" + id + " && : > /dev/shm/sem.glimvane-lock-" +
                    id + " && : > /dev/shm/sem.glimvane-end-event-" + id;
    }
    run_result planted = other.sh(planting + " && rm /tmp/" + other.name + ".reply");
    ASSERT_EQ(planted.exit_code, 0) << planted.err;
    std::string before = snapshot(shared, other.uid);
    std::string shm_before = snapshot("/dev/shm", other.uid);
    write_text(go, "");

    ASSERT_TRUE(app.wait_for("ready\n")) << app.output();
    std::vector<std::string> log = log_texts(app.output());
    std::string folder = value_of(log, "temp.folder");
    std::string id = fs::path(folder).filename().string();
    // The guessed name was taken: the launch went on with a fresh run id.
    EXPECT_NE(value_of(log, "temp.folder.taken"), "") << app.output().substr(0, 3000);
    struct stat st;
    ASSERT_EQ(lstat(folder.c_str(), &st), 0) << folder;
    EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == geteuid());

    run_result status = ctl({"status", id});
    EXPECT_EQ(status.exit_code, 0) << status.err;
    EXPECT_EQ(status.out, "demo-app [PID=" + std::to_string(pid) + "]\n");
    run_result listed = ctl({"list"});
    EXPECT_EQ(listed.out, id + "  demo-app [PID=" + std::to_string(pid) + "]\n") << listed.err;
    fs::path dump = p.root / "dump.txt";
    EXPECT_EQ(ctl({"dump", id, dump.string()}).exit_code, 0);
    EXPECT_NE(read_text(dump).find("Full thread dump"), std::string::npos);

    // The other account finds no channel of that run id, not even its folder.
    run_result theirs = run_program(other.as({GLIMVANE_CTL, "status", id}));
    EXPECT_EQ(theirs.exit_code, 3) << theirs.out;
    EXPECT_NE(other.sh("ls '" + p.channel.string() + "'").exit_code, 0);

    EXPECT_EQ(p.end(app), 0);
    for (int i = 0; i < 100 && fs::exists(folder); i++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(folder)) << "the run's own folder is removed";
    EXPECT_EQ(snapshot(shared, other.uid), before) << "the other account's names are left as they were";
    EXPECT_EQ(snapshot("/dev/shm", other.uid), shm_before);
}

TEST(SharedMachine, DumpsGoOnlyIntoRegularFilesOfThisUser)
{
    control_package p;
    p.pack("Crowd");
    auto app = p.start_crowd({"-D*"});
    std::string id = p.run_id();
    fs::path secret = p.root / "private" / "secret.txt";
    write_text(secret, "secret\n");
    fs::path fifo = p.root / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::path link = p.root / "link.txt";
    fs::create_symlink(secret, link);

    // A FIFO with a reader that never reads: opening it does not wait.
    int reader = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::vector<std::string> refused = {"/dev/stdout", "/proc/self/fd/1", "/dev/null", fifo.string(),
                                        link.string(), p.root.string()};

    std::unique_ptr<other_account> other;
    std::unique_ptr<running_app> holder;
    fs::path their_file, their_fifo, their_link;
    if (geteuid() == 0) {
        // The same as another account would plant them in a shared folder:
        // a link to this user's file, a FIFO it holds open, and a file of its
        // own, writable by all, that would hand it the dump.
        fs::path shared = shared_folder(p);
        other = std::make_unique<other_account>("dumps");
        ASSERT_TRUE(other->made);
        their_link = shared / "dump-link.txt";
        their_fifo = shared / "dump-fifo";
        their_file = shared / "dump-file.txt";
        run_result planted = other->sh("ln -s '" + secret.string() + "' '" + their_link.string() + "' && mkfifo -m 666 '" +
                                       their_fifo.string() + "' && : > '" + their_file.string() + "' && chmod 666 '" +
                                       their_file.string() + "'");
        ASSERT_EQ(planted.exit_code, 0) << planted.err;
        holder = std::make_unique<running_app>(
            other->as({"/bin/sh", "-c", "exec 3<>'" + their_fifo.string() + "'; echo held; exec sleep 120"}),
            std::vector<std::string>{});
        ASSERT_TRUE(holder->wait_for("held\n"));
        refused.insert(refused.end(), {their_link.string(), their_fifo.string(), their_file.string()});
    }

    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        auto started = std::chrono::steady_clock::now();
        run_result r = ctl({"dump", id, path});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("made no dump"), std::string::npos) << r.err;
        EXPECT_TRUE(app->wait_for("!dump.file.refused=" + path + " [err="));
    }
    // The program ran on: it answers, dumps into a file of its own and ends
    // with its own exit code; nothing reached the console or the files.
    EXPECT_EQ(ctl({"status", id}).exit_code, 0);
    fs::path good = p.root / "good.txt";
    EXPECT_EQ(ctl({"dump", id, good.string()}).exit_code, 0);
    EXPECT_EQ(p.end(*app), 0);
    close(reader);
    EXPECT_EQ(read_text(secret), "secret\n");
    EXPECT_NE(read_text(good).find("Full thread dump"), std::string::npos);
    EXPECT_EQ(app->output().find("Full thread dump"), std::string::npos);
    EXPECT_NE(app->output().find("\ndone\n"), std::string::npos);
    if (other) {
        EXPECT_EQ(read_text(their_file), "");
        kill(holder->pid, SIGKILL);
    }
}

// A process that takes one of a channel's locks and holds it until killed.
pid_t hold_lock(const fs::path& file)
{
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(file.c_str(), O_RDWR);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
        ssize_t written = write(ready[1], "x", 1);
        (void)written;
        for (;;) pause();
    }
    close(ready[1]);
    char byte;
    bool held = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return held ? pid : -1;
}

// The Crowd application running, its run id and its channel's files.
struct crowd_run {
    control_package p;
    std::unique_ptr<running_app> app;
    std::string id;
    std::vector<fs::path> files;
    crowd_run()
    {
        p.pack("Crowd");
        app = p.start_crowd();
        id = p.run_id();
        files = p.object_files(id);
    }
};

TEST(SharedMachine, LocksEndWithTheirHolderAndTheMessagesTellLiveEndedAndKilledApart)
{
    crowd_run run;
    auto& [p, app, id, files] = run;

    // A live launcher whose lock someone holds: it is said to be running.
    pid_t holder = hold_lock(files[1]);
    ASSERT_GT(holder, 0);
    run_result slow = ctl({"status", id});
    EXPECT_EQ(slow.exit_code, 3);
    EXPECT_NE(slow.err.find("the launcher " + id + " is running but did not answer within 5 seconds"),
              std::string::npos) << slow.err;
    // Killed holders of either lock: the next request goes through.
    for (const fs::path& lock : {files[1], files[2]}) {
        SCOPED_TRACE(lock.filename().string());
        if (lock != files[1]) holder = hold_lock(lock);
        ASSERT_GT(holder, 0);
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        run_result r = ctl({"status", id});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, "demo-app [PID=" + std::to_string(app->pid) + "]\n");
    }

    // A launcher that ends while a request waits has ended, not been killed.
    holder = hold_lock(files[1]);
    ASSERT_GT(holder, 0);
    run_result during;
    std::thread asking([&during, &run] { during = ctl({"status", run.id}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(p.end(*app), 0);
    asking.join();
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(during.exit_code, 3);
    EXPECT_NE(during.err.find("the launcher " + id + " has ended\n"), std::string::npos) << during.err;
    for (const fs::path& file : files) EXPECT_FALSE(fs::exists(file)) << file;
}

TEST(SharedMachine, ConcurrentRequestsEachGetTheirOwnReply)
{
    control_package p;
    p.pack("Crowd");
    auto app = p.start_crowd();
    std::string id = p.run_id();
    const int clients = 25;
    std::vector<run_result> results(clients);
    std::vector<fs::path> files(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; i++) {
        bool dump = i % 5 == 2;
        if (dump) files[i] = p.root / ("dump-" + std::to_string(i) + ".txt");
        threads.emplace_back([&, i, dump] {
            results[i] = dump ? ctl({"dump", id, files[i].string()}) : ctl({"status", id});
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < clients; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].exit_code, 0) << results[i].err;
        if (files[i].empty()) {
            EXPECT_EQ(results[i].out, "demo-app [PID=" + std::to_string(app->pid) + "]\n");
        } else {
            EXPECT_EQ(results[i].out, "stack dump of " + id + " written to " + files[i].string() + "\n");
            EXPECT_NE(read_text(files[i]).find("\"crowd-worker-199\" "), std::string::npos);
        }
    }
    EXPECT_EQ(p.end(*app), 0);
}

TEST(SharedMachine, ABlockShrunkUnderTheLauncherCostsOneEmptyReply)
{
    crowd_run run;
    auto& [p, app, id, files] = run;
    // As a process of the same user: a request whose block is cut to nothing.
    ASSERT_EQ(truncate(files[0].c_str(), 0), 0);
    int start = open(files[3].c_str(), O_RDWR | O_NONBLOCK);
    int end = open(files[4].c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(start, 0);
    ASSERT_GE(end, 0);
    ASSERT_EQ(write(start, "x", 1), 1);
    pollfd answered = {end, POLLIN, 0};
    EXPECT_EQ(poll(&answered, 1, 10000), 1) << "the launcher answers";
    char byte;
    EXPECT_EQ(read(end, &byte, 1), 1);
    close(start);
    close(end);
    EXPECT_EQ(fs::file_size(files[0]), 0u) << "the reply did not grow the block back";
    // glimvane-ctl trusts no block of the wrong size; once it is whole
    // again, the channel serves on.
    EXPECT_EQ(ctl({"status", id}).exit_code, 3);
    ASSERT_EQ(truncate(files[0].c_str(), 2048), 0);
    EXPECT_EQ(ctl({"status", id}).exit_code, 0);
    EXPECT_EQ(p.end(*app), 0);
}

}  // namespace
