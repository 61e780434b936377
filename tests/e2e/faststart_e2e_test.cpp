// Fast start with the real runtime: packages made with --fast-start run as a
// user would run them, each with a cache folder of its own test, looked at
// through the debug log and the files the launches leave in it.
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string hello = "Hello from a packaged Java application";
const fs::perms private_folder = fs::perms::owner_all;

struct fast_package : package_dir {
    fs::path cache = root / "cache";
    fs::path base() const { return cache / "glimvane"; }

    std::vector<std::string> env() const
    {
        std::vector<std::string> env = desktop.env();
        env.insert(env.end(), {"TMPDIR=" + tmp.string(), "LANG=C.UTF-8", "JAVA_HOME=" TEST_JAVA_HOME,
                               "XDG_CACHE_HOME=" + cache.string()});
        return env;
    }

    run_result launch(const std::vector<std::string>& words, bool debug = true)
    {
        std::vector<std::string> argv = {exe.string()};
        if (debug) argv.push_back("-D*");
        argv.insert(argv.end(), words.begin(), words.end());
        return run_program(argv, env());
    }

    // A launch without the debug log, as a user runs it: true when its
    // output begins with `out` (is empty for ""), nothing went to the error
    // stream, and it exited with 0.
    ::testing::AssertionResult quiet(const std::vector<std::string>& words, const std::string& out)
    {
        run_result r = launch(words, false);
        bool printed = out.empty() ? r.out.empty() : r.out.rfind(out, 0) == 0;
        if (r.exit_code == 0 && printed && r.err == "") return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "exit " << r.exit_code << "\n" << r.out << r.err;
    }

    // The package's own cache folder: the one folder named by an identity.
    fs::path folder() const
    {
        for (const auto& e : fs::directory_iterator(base()))
            if (e.is_directory() && e.path().filename().string().find('.') == std::string::npos) return e.path();
        return {};
    }

    // Waits for the builders at work on the class caches of every package
    // in the cache.
    void wait_for_builders() const
    {
        for (const auto& d : fs::directory_iterator(base())) {
            if (!d.is_directory() || d.path().filename().string().find('.') != std::string::npos) continue;
            for (const auto& e : fs::directory_iterator(d.path()))
                if (e.path().extension() == ".classes") wait_for_vm_cache_builder(e.path());
        }
    }

    // What killed or failed runs leave: staging and trash folders beside
    // the package's folder, work files and an older release's files in it.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(base()))
            if (e.path().filename().string().find(".stage-") != std::string::npos ||
                e.path().filename().string().find(".trash-") != std::string::npos)
                found.push_back(e.path().string());
        for (const auto& e : fs::directory_iterator(folder())) {
            std::string name = e.path().filename().string();
            for (const char* end : {".part", ".conf", ".aot", ".tmp"})
                if (name.size() > strlen(end) && name.compare(name.size() - strlen(end), std::string::npos, end) == 0)
                    found.push_back(e.path().string());
        }
        return found;
    }

    // The names in our cache folder, sorted.
    std::vector<std::string> cache_entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(base())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

int count_of(const std::vector<std::string>& log, const std::string& prefix)
{
    return int(std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

bool has_line(const std::vector<std::string>& log, const std::string& text)
{
    return std::find(log.begin(), log.end(), text) != log.end();
}

// The folder and its lock, nothing left of staging or removal.
std::vector<std::string> only(const fs::path& folder)
{
    std::string name = folder.filename().string();
    return {name, name + ".lock"};
}

TEST(FastStart, FirstLaunchFillsTheCacheLaterOnesStartFromIt)
{
    fast_package p;
    // A stored name that begins with a blank and has a folder: the stamp must
    // read it back.
    fs::path data = p.root / "data.txt";
    write_text(data, "data");
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--file", data.string() + "= two words/data",
            "--fast-start"});
    run_result first = p.launch({"a"});
    ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
    EXPECT_NE(first.out.find(hello), std::string::npos);
    std::vector<std::string> log = log_texts(first.out);
    fs::path folder = value_of(log, "cache.folder");
    EXPECT_EQ(folder.parent_path(), p.base());
    EXPECT_EQ(value_of(log, "cache.miss"), "no stamp");
    EXPECT_EQ(value_of(log, "cache.staging"), folder.string() + ".stage-" + fs::path(value_of(log, "temp.folder")).filename().string());
    EXPECT_EQ(value_of(log, "cache.renamed"), folder.string());
    EXPECT_EQ(count_of(log, "extracted="), 3);
    EXPECT_EQ(read_text(folder / " two words" / "data"), "data");
    // Files only, the boot jar first: no folder, the same at every launch.
    const std::string class_path = folder.string() + "/glimvaneboot.jar:" + folder.string() + "/hello.jar";
    EXPECT_EQ(value_of(log, "java.class.path"), class_path);
    EXPECT_EQ(value_of(log, "java.library.path").rfind(value_of(log, "temp.folder") + ":" + folder.string() + ":", 0), 0u)
        << "native libraries are found in the cache";
    EXPECT_EQ(fs::status(p.base()).permissions(), private_folder);
    EXPECT_EQ(fs::status(folder).permissions(), private_folder);
    EXPECT_EQ(p.cache_entries(), only(folder));
    EXPECT_TRUE(p.temp_removed()) << "the run's temp folder still goes at exit";

    run_result second = p.launch({"b"});
    ASSERT_EQ(second.exit_code, 0) << second.out << second.err;
    EXPECT_NE(second.out.find(hello), std::string::npos);
    log = log_texts(second.out);
    EXPECT_EQ(value_of(log, "cache.hit"), folder.string());
    EXPECT_EQ(count_of(log, "extracted="), 0) << "nothing is extracted again";
    EXPECT_EQ(value_of(log, "java.class.path"), class_path);
    EXPECT_TRUE(p.temp_removed());

    // Without the key nothing of this happens: no cache line, no cache.
    fast_package plain;
    plain.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello"});
    run_result r = plain.launch({});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    log = log_texts(r.out);
    EXPECT_EQ(count_of(log, "cache."), 0);
    EXPECT_EQ(value_of(log, "java.class.path").rfind(value_of(log, "temp.folder") + ":", 0), 0u);
    EXPECT_FALSE(fs::exists(plain.cache));
}

// Packed files are in the cache folder, not in the run's temp folder: the
// application learns where from glimvane.files, set only in fast start.
TEST(FastStart, TheApplicationFindsItsPackedFilesThroughAProperty)
{
    for (bool fast : {true, false}) {
        fast_package p;
        fs::path data = p.root / "data.txt";
        write_text(data, "data");
        std::vector<std::string> options = {"--jar", GLIMVANE_BOOT_APPS_JAR, "--main", "PackedFile", "--file",
                                            data.string() + "=d/data.txt"};
        if (fast) options.push_back("--fast-start");
        p.pack(options);
        run_result r = p.launch({"d/data.txt"});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        const std::string said =
            fast ? "files=" + value_of(log_texts(r.out), "cache.folder") + " found=true\n" : "files=null found=false\n";
        EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
    }
}

TEST(FastStart, AChangedPackageOrCacheIsExtractedAgain)
{
    fast_package p;
    fs::path data = p.root / "data.txt";
    write_text(data, "one");
    const std::vector<std::string> options = {"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello",
                                              "--file", data.string(), "--fast-start"};
    p.pack(options);
    run_result r = p.launch({});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    fs::path folder = value_of(log_texts(r.out), "cache.folder");

    struct change_case {
        const char* name;
        std::function<void()> change;
        std::string miss;
    };
    const change_case cases[] = {
        {"a file rewritten by hand, same size", [&] { write_text(folder / "data.txt", "two"); },
         "file changed: data.txt"},
        {"a file deleted", [&] { fs::remove(folder / "data.txt"); }, "file changed: data.txt"},
        {"a jar given another time",
         [&] { fs::last_write_time(folder / "hello.jar", fs::last_write_time(folder / "hello.jar") - std::chrono::hours(1)); },
         "file changed: hello.jar"},
        {"a jar replaced by a link to itself elsewhere",
         [&] {
             fs::rename(folder / "hello.jar", p.root / "moved.jar");
             fs::create_symlink(p.root / "moved.jar", folder / "hello.jar");
         },
         "file changed: hello.jar"},
        {"a signature in the stamp changed",
         [&] {
             std::string stamp = read_text(folder / ".glimvane-owner.stamp");
             size_t at = stamp.find("section F ") + 10;
             stamp[at] = stamp[at] == '0' ? '1' : '0';
             write_text(folder / ".glimvane-owner.stamp", stamp);
         },
         "signature differs"},
        {"the stamp deleted", [&] { fs::remove(folder / ".glimvane-owner.stamp"); }, "no stamp"},
        {"the stamp damaged", [&] { write_text(folder / ".glimvane-owner.stamp", "glimvane-cache 1\nsection"); },
         "damaged stamp"},
    };
    for (const change_case& c : cases) {
        c.change();
        r = p.launch({});
        EXPECT_EQ(r.exit_code, 0) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(hello), std::string::npos) << c.name;
        std::vector<std::string> log = log_texts(r.out);
        EXPECT_EQ(value_of(log, "cache.miss"), c.miss) << c.name;
        EXPECT_EQ(value_of(log, "cache.renamed"), folder.string()) << c.name;
        EXPECT_EQ(read_text(folder / "data.txt"), "one") << c.name;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "hello.jar"))) << c.name;
        EXPECT_EQ(p.cache_entries(), only(folder)) << c.name << ": the old copy is gone";
        r = p.launch({});
        EXPECT_EQ(value_of(log_texts(r.out), "cache.hit"), folder.string()) << c.name;
    }

    // Repacked with one byte changed: another identity, never the old cache.
    write_text(data, "onf");
    p.pack(options);
    r = p.launch({});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);
    fs::path repacked = value_of(log, "cache.folder");
    EXPECT_NE(repacked, folder);
    EXPECT_EQ(value_of(log, "cache.miss"), "no stamp");
    EXPECT_EQ(read_text(repacked / "data.txt"), "onf");
    EXPECT_EQ(value_of(log, "java.class.path").find(folder.string()), std::string::npos);
}

// A copy of the package with one byte changed in its last file section:
// copies share the cache (the section's header still names the same
// signature), and a running builder keeps the package itself busy.
fs::path damaged_copy(const fs::path& exe)
{
    fs::path copy = exe.parent_path() / "damaged";
    fs::copy_file(exe, copy);
    std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(-1, std::ios::end);
    char last = char(file.get());
    file.seekp(-1, std::ios::end);
    file.put(char(last ^ 1));
    EXPECT_TRUE(file.good()) << copy;
    return copy;
}

// The damaged byte is caught before any of the section's bytes is
// extracted, but a launch that starts from a complete cache never reads
// the section and runs the files the cache holds; without fast start the
// check still comes before the temp folder.

TEST(FastStart, AFileSectionIsCheckedWhenItIsExtracted)
{
    fast_package p;
    fs::path data = p.root / "data.txt";
    write_text(data, "data");
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--file", data.string(), "--fast-start"});
    ASSERT_TRUE(p.quiet({}, hello));
    fs::path folder = p.folder();
    fs::path damaged = damaged_copy(p.exe);
    run_result r = run_program({damaged.string(), "-D*"}, p.env());
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(value_of(log_texts(r.out), "cache.hit"), folder.string());
    EXPECT_EQ(read_text(folder / "data.txt"), "data");

    // The same package with a cache folder of its own, still empty.
    fs::path fresh = p.root / "fresh";
    std::vector<std::string> env = p.env();
    env.back() = "XDG_CACHE_HOME=" + fresh.string();
    r = run_program({damaged.string(), "-D*"}, env);
    EXPECT_EQ(r.exit_code, 91) << r.out << r.err;
    EXPECT_NE(r.out.find("91: EXE section digital signature check failed"), std::string::npos) << r.out;
    EXPECT_EQ(value_of(log_texts(r.out), "cache.miss"), "no stamp");
    std::vector<std::string> made;
    for (const auto& e : fs::directory_iterator(fresh / "glimvane")) made.push_back(e.path().filename().string());
    EXPECT_EQ(made, std::vector<std::string>{folder.filename().string() + ".lock"}) << "nothing was staged";
    EXPECT_TRUE(p.temp_removed());

    fast_package plain;
    plain.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--file", data.string()});
    r = run_program({damaged_copy(plain.exe).string(), "-D*"}, plain.env());
    EXPECT_EQ(r.exit_code, 91) << r.out << r.err;
    EXPECT_EQ(value_of(log_texts(r.out), "temp.folder"), "") << "nothing was made for the launch";
}

TEST(FastStart, LaunchesStartedTogetherAllRunAndShareOneCache)
{
    fast_package p;
    // A payload large enough that the launches overlap while extracting.
    fs::path bulk = p.root / "bulk.bin";
    write_text(bulk, std::string(16 << 20, 'b'));
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--file", bulk.string(), "--fast-start"});
    const int launches = 3;
    std::vector<run_result> results(launches);
    std::vector<std::thread> threads;
    for (int i = 0; i < launches; i++) threads.emplace_back([&, i] { results[size_t(i)] = p.launch({}); });
    for (std::thread& t : threads) t.join();
    fs::path folder;
    for (const run_result& r : results) {
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(hello), std::string::npos) << r.out;
        std::vector<std::string> log = log_texts(r.out);
        folder = value_of(log, "cache.folder");
        EXPECT_EQ(value_of(log, "java.class.path").rfind(folder.string() + "/", 0), 0u) << r.out;
        EXPECT_EQ(count_of(log, "cache.refused"), 0) << r.out;
    }
    EXPECT_EQ(p.cache_entries(), only(folder));
    EXPECT_EQ(fs::file_size(folder / "bulk.bin"), 16u << 20);
}

TEST(FastStart, ACacheOfAnotherUserOrALinkIsRefusedAndTheLaunchFallsBack)
{
    const bool root = geteuid() == 0;  // only root can give a folder away
    struct refuse_case {
        const char* name;
        bool needs_root;
        // Sets the trap; the folder the launch must refuse.
        std::function<fs::path(fast_package&, const fs::path& folder)> plant;
    };
    const refuse_case cases[] = {
        {"the package's folder belongs to another user", true,
         [](fast_package&, const fs::path& folder) {
             fs::create_directory(folder);
             EXPECT_EQ(chown(folder.c_str(), 65534, 65534), 0);
             return folder;
         }},
        {"our folder belongs to another user", true,
         [](fast_package& p, const fs::path&) {
             fs::remove_all(p.base());
             fs::create_directory(p.base());
             EXPECT_EQ(chown(p.base().c_str(), 65534, 65534), 0);
             return p.base();
         }},
        {"a link where the package's folder belongs", false,
         [](fast_package& p, const fs::path& folder) {
             fs::create_directory(p.root / "planted");
             fs::create_directory_symlink(p.root / "planted", folder);
             return folder;
         }},
        {"a link where our folder belongs", false,
         [](fast_package& p, const fs::path&) {
             fs::create_directory(p.root / "planted");
             fs::remove_all(p.base());
             fs::create_directory_symlink(p.root / "planted", p.base());
             return p.base();
         }},
        // Above our folder: whoever can rename or replace a folder or link
        // there could swap our folder between the checks and the use.
        {"the user's cache folder is writable by others", false,
         [](fast_package& p, const fs::path&) {
             chmod(p.cache.c_str(), 0777);
             return p.cache;
         }},
        {"the user's cache folder belongs to another user", true,
         [](fast_package& p, const fs::path&) {
             EXPECT_EQ(chown(p.cache.c_str(), 65534, 65534), 0);
             return p.cache;
         }},
        {"the user's cache folder is another user's link", true,
         [](fast_package& p, const fs::path&) {
             fs::rename(p.cache, p.root / "real");
             fs::create_directory_symlink(p.root / "real", p.cache);
             EXPECT_EQ(lchown(p.cache.c_str(), 65534, 65534), 0);
             return p.cache;
         }},
        {"a link to a folder in a folder open to others", false,
         [](fast_package& p, const fs::path&) {
             fs::create_directories(p.root / "open" / "real");
             chmod((p.root / "open").c_str(), 0777);
             fs::rename(p.base(), p.root / "open" / "real" / "glimvane");
             fs::remove_all(p.cache);
             fs::create_directory_symlink("open/../open/real", p.cache);
             return p.cache;
         }},
    };
    for (const refuse_case& c : cases) {
        if (c.needs_root && !root) continue;
        fast_package p;
        p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--fast-start"});
        run_result r = p.launch({});
        fs::path folder = value_of(log_texts(r.out), "cache.folder");
        p.wait_for_builders();
        fs::remove_all(folder);
        fs::path refused = c.plant(p, folder);

        r = p.launch({});
        EXPECT_EQ(r.exit_code, 0) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(hello), std::string::npos) << c.name;
        std::vector<std::string> log = log_texts(r.out);
        std::string temp = value_of(log, "temp.folder");
        EXPECT_EQ(value_of(log, "cache.refused").rfind(refused.string() + " (", 0), 0u) << c.name << "\n" << r.out;
        EXPECT_EQ(value_of(log, "cache.fallback"), temp) << c.name;
        EXPECT_EQ(count_of(log, "extracted="), 2) << c.name;
        EXPECT_EQ(value_of(log, "java.class.path").rfind(temp + ":" + temp + "/glimvaneboot.jar:" + temp + "/hello.jar:", 0), 0u) << c.name;
        if (fs::exists(p.root / "planted")) {
            EXPECT_TRUE(fs::is_empty(p.root / "planted")) << c.name;
        }
        EXPECT_TRUE(p.temp_removed()) << c.name;
    }
}

TEST(FastStart, AnOldCacheIsRemovedByALaterLaunchUnlessInUse)
{
    fast_package waiting, other;
    other.cache = waiting.cache;
    waiting.pack({"--jar", GLIMVANE_BOOT_APPS_JAR, "--main", "Pause", "--fast-start"});
    other.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--fast-start"});
    const fs::path go = waiting.root / "go";
    run_result paused;
    std::thread running([&] { paused = waiting.launch({go.string()}); });
    // The cache is in place once the launch holds its lock.
    fs::path folder;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (folder.empty() && std::chrono::steady_clock::now() < until) {
        if (fs::exists(waiting.base()))
            for (const auto& e : fs::directory_iterator(waiting.base()))
                if (e.is_directory() && e.path().filename().string().find('.') == std::string::npos) folder = e.path();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(folder.empty());
    const fs::path lock = folder.string() + ".lock";
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 31);
    fs::last_write_time(lock, old);

    run_result r = other.launch({});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(count_of(log_texts(r.out), "cache.removed="), 0) << r.out;
    EXPECT_TRUE(fs::exists(folder)) << "in use: kept";

    write_text(go, "");
    running.join();
    EXPECT_EQ(paused.exit_code, 0) << paused.out << paused.err;
    // Its class cache's builder holds the package in use while it works.
    waiting.wait_for_builders();
    fs::last_write_time(lock, old);
    r = other.launch({});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);
    EXPECT_TRUE(has_line(log, "cache.removed=" + folder.string())) << r.out;
    EXPECT_EQ(other.cache_entries(), only(value_of(log, "cache.folder")));
}

// The processes whose command line holds `text`.
std::vector<pid_t> processes_with(const std::string& text)
{
    std::vector<pid_t> found;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (line.find(text) != std::string::npos) found.push_back(pid_t(std::stoi(name)));
    }
    return found;
}

bool wait_until(const std::function<bool()>& done, int seconds = 60)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

TEST(FastStart, KilledLaunchesAndBuildersLeaveNothingThatTheNextLaunchKeeps)
{
    fast_package p;
    p.pack({"--jar", GLIMVANE_BOOT_APPS_JAR, "--main", "Pause", "--fast-start"});
    const fs::path go = p.root / "go";
    const fs::path wait = p.root / "never";
    write_text(go, "");
    ASSERT_TRUE(p.quiet({go.string()}, ""));
    p.wait_for_builders();
    fs::path folder = p.folder();
    std::string archive;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".jsa") archive = e.path().string();
    ASSERT_FALSE(archive.empty());
    const std::string vm = archive.substr(0, archive.size() - 4);

    // Killed while the application runs: it has its class list half
    // written (the launch after the archive was made records).
    std::vector<std::string> env = p.env();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string exe = p.exe.string(), word = wait.string();
    char* argv[] = {&exe[0], &word[0], nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, envp.data()), 0);
    EXPECT_TRUE(wait_until([&] { return !processes_with(word).empty() && fs::exists(vm + ".uses"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    // What launches killed while staging, at exit or in the builder leave.
    fs::create_directory(folder.string() + ".stage-GVDEAD1");
    write_text(folder.string() + ".stage-GVDEAD1/half.jar", "half");
    for (const char* name : {".classes.GVDEAD2.part", ".jsa.build.jsa.part", ".jsa.build.classes.part",
                             ".aot.GVDEAD3.conf", ".aot", ".aot.stamp"})
        write_text(vm + name, "left");
    EXPECT_FALSE(p.leftovers().empty());

    // Killed while it builds: the runtime's dump goes with it.
    fs::permissions(archive, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(archive);
    ASSERT_TRUE(p.quiet({go.string()}, ""));
    std::vector<pid_t> builders = processes_with("-vmcache*");
    for (pid_t builder : processes_with(folder.string()))
        if (std::find(builders.begin(), builders.end(), builder) != builders.end()) kill(builder, SIGKILL);
    EXPECT_TRUE(wait_until([&] { return processes_with(folder.string()).empty(); }, 10))
        << "no builder or dump of the killed one runs on";

    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(p.quiet({go.string()}, "")) << i;
        p.wait_for_builders();
    }
    EXPECT_EQ(p.leftovers(), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(archive));
}

TEST(FastStart, AnythingInTheCacheThatIsNotPrivateOrIsALinkIsNotTrusted)
{
    struct trust_case {
        const char* name;
        void (*plant)(const fs::path& base, const fs::path& folder);
        const char* expect;  // the log text the next launch shows
    };
    const trust_case cases[] = {
        {"a jar writable by the group",
         [](const fs::path&, const fs::path& folder) {
             fs::permissions(folder / "hello.jar", fs::perms::group_write, fs::perm_options::add);
         },
         "cache.miss=file changed: hello.jar"},
        {"a jar replaced by a link to a copy of the same size and time",
         [](const fs::path&, const fs::path& folder) {
             fs::path jar = folder / "hello.jar";
             fs::path copy = folder.parent_path().parent_path() / "copy.jar";
             fs::copy_file(jar, copy);
             fs::last_write_time(copy, fs::last_write_time(jar));
             fs::remove(jar);
             fs::create_symlink(copy, jar);
         },
         "cache.miss=file changed: hello.jar"},
        {"the stamp writable by others",
         [](const fs::path&, const fs::path& folder) {
             fs::permissions(folder / ".glimvane-owner.stamp", fs::perms::others_write, fs::perm_options::add);
         },
         "cache.miss=damaged stamp"},
        {"the package's folder made 0777",
         [](const fs::path&, const fs::path& folder) { fs::permissions(folder, fs::perms::all); },
         "cache.miss=folder writable by others"},
        {"our folder made 0777", [](const fs::path& base, const fs::path&) { fs::permissions(base, fs::perms::all); },
         "cache.fallback="},
    };
    for (const trust_case& c : cases) {
        SCOPED_TRACE(c.name);
        fast_package p;
        p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--fast-start"});
        run_result first = p.launch({});
        ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
        fs::path folder = p.folder();
        p.wait_for_builders();
        c.plant(p.base(), folder);
        run_result r = p.launch({});
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(hello), std::string::npos);
        std::vector<std::string> log = log_texts(r.out);
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(c.expect, 0) == 0; }))
            << r.out;
        if (fs::status(p.base()).permissions() != fs::perms::all) {
            // Extracted again: private, no link, and hit by the next launch.
            EXPECT_EQ(fs::status(folder).permissions(), private_folder);
            EXPECT_FALSE(fs::is_symlink(folder / "hello.jar"));
            EXPECT_TRUE(has_line(log_texts(p.launch({}).out), "cache.hit=" + folder.string()));
        }
    }
}

TEST(FastStart, APrivateRuntimeWithoutAClassArchiveOfItsOwnGetsOne)
{
    // A runtime made by jlink has no archive of its own; the builder dumps
    // one from the lists alone.
    fast_package p;
    fs::path rt = p.exe.parent_path() / "rt";
    fs::create_directories(p.exe.parent_path());
    run_result made = run_program({TEST_JAVA_HOME "/bin/jlink", "--add-modules", "java.base", "--output", rt.string()});
    ASSERT_EQ(made.exit_code, 0) << made.out << made.err;
    ASSERT_FALSE(fs::exists(rt / "lib/server/classes.jsa"));
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--fast-start",
            "--var=jvm=rt/lib/server/libjvm.so"});
    for (int i = 0; i < 2; i++) {
        EXPECT_TRUE(p.quiet({}, hello)) << i;
        p.wait_for_builders();
    }
    run_result r = p.launch({});
    std::vector<std::string> log = log_texts(r.out);
    EXPECT_EQ(value_of(log, "vm.cache.runtime"), rt.string() + " version=17") << r.out;
    EXPECT_FALSE(value_of(log, "vm.cache.used").empty()) << r.out;
}

TEST(FastStart, ACacheDiskWithRoomForTheJarsOnlyCostsNoLaunch)
{
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    fast_package p;
    fs::create_directories(p.cache);
    ASSERT_EQ(mount("tmpfs", p.cache.c_str(), "tmpfs", 0, "size=96k"), 0) << strerror(errno);
    struct unmount {
        fs::path at;
        ~unmount() { umount2(at.c_str(), MNT_DETACH); }
    } guard{p.cache};
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--fast-start"});
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(p.quiet({}, hello)) << i;
        p.wait_for_builders();
    }
    run_result r = p.launch({});
    EXPECT_TRUE(has_line(log_texts(r.out), "cache.hit=" + p.folder().string())) << r.out;
    EXPECT_EQ(p.leftovers(), std::vector<std::string>{});
}

}  // namespace
