// The VM class caches of fast start on the runtimes installed here, through
// vmcache_host (the VM hosted as the launcher hosts it): the first launch
// records its classes and the builder it starts makes the archive, the
// next one uses it, and an archive damaged or changed by hand is dropped
// and made again, with the runtime's own complaints kept off the console.
// OpenJDK 17 always; Temurin 25 where it is installed.
#include "tests/e2e/run.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

const fs::path jdk17 = TEST_JAVA_HOME;
const fs::path temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

struct runtime_case {
    fs::path home;
};

std::vector<runtime_case> runtimes()
{
    std::vector<runtime_case> list = {{jdk17}};
    if (fs::exists(temurin25 / "lib/server/libjvm.so")) list.push_back({temurin25});
    return list;
}

bool has_log(const run_result& r, const std::string& prefix)
{
    std::vector<std::string> texts = log_texts(r.out);
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
}

// The application and boot class jars at stable paths, a cache folder,
// and a fresh temp folder per launch, as a launch in fast start has them.
struct cache_bench {
    scratch_dir scratch;
    runtime_case runtime;
    fs::path app = scratch.path / "app.jar";
    fs::path boot = scratch.path / "boot.jar";
    fs::path cache = scratch.path / "cache";
    int launches = 0;

    explicit cache_bench(const runtime_case& r) : runtime(r)
    {
        fs::copy_file(VMCACHE_APP_JAR, app);
        fs::copy_file(VMCACHE_BOOT_JAR, boot);
        fs::create_directory(cache);
    }

    // Words: "-D" for the debug log, "exit" for System.exit(7).
    run_result launch(const std::vector<std::string>& words = {})
    {
        fs::path temp = scratch.path / ("run" + std::to_string(++launches));
        fs::create_directory(temp);
        std::vector<std::string> argv = {VMCACHE_HOST, (runtime.home / "lib/server/libjvm.so").string(),
                                         cache.string(), boot.string() + ":" + app.string(), temp.string()};
        argv.insert(argv.end(), words.begin(), words.end());
        return run_program(argv);
    }

    // The cache folder's names, sorted.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(cache)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path cache_file() const
    {
        for (const auto& e : fs::directory_iterator(cache))
            if (e.path().extension() == ".jsa") return e.path();
        return {};
    }

    // Waits for the builders at work on the cache: each holds its lock.
    void wait_for_builders() const
    {
        for (const auto& e : fs::directory_iterator(cache))
            if (e.path().extension() == ".classes") wait_for_vm_cache_builder(e.path());
    }

    // The state once the builder made the archive: the list it came from,
    // the archive with its stamp, the builder's lock, and the count of the
    // launches that used it; nothing of a killed or failed run.
    void expect_made() const
    {
        wait_for_builders();
        std::vector<std::string> names = files();
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return fs::path(n).extension() == ".uses"; }),
                    names.end());
        ASSERT_EQ(names.size(), 4u) << runtime.home << ": " << testing::PrintToString(names);
        std::string prefix = fs::path(names[0]).stem().string();
        EXPECT_EQ(names, (std::vector<std::string>{prefix + ".classes", prefix + ".jsa", prefix + ".jsa.build",
                                                   prefix + ".jsa.stamp"}));
    }
};

// What the application prints; nothing of the runtime's cache notes.
const std::string app_output = "compiled 0\n";

TEST(VmCache, FirstLaunchRecordsTheBuilderMakesTheArchiveAndTheNextLaunchesUseIt)
{
    for (const runtime_case& runtime : runtimes()) {
        SCOPED_TRACE(runtime.home);
        cache_bench bench(runtime);
        // Ended by System.exit, the first launch still hands its list on.
        run_result first = bench.launch({"exit"});
        EXPECT_EQ(first.exit_code, 7);
        EXPECT_EQ(first.out, app_output);
        EXPECT_EQ(first.err, "");
        bench.expect_made();

        run_result second = bench.launch({"-D"});
        EXPECT_EQ(second.exit_code, 0) << second.err;
        EXPECT_TRUE(has_log(second, "vm.cache.use=" + bench.cache_file().string())) << second.out;
        EXPECT_TRUE(has_log(second, "vm.cache.used=")) << second.out;

        run_result third = bench.launch({"-D", "exit"});
        EXPECT_EQ(third.exit_code, 7);
        EXPECT_TRUE(has_log(third, "vm.cache.used=")) << third.out;
        bench.expect_made();
    }
}

TEST(VmCache, ALaunchOfOtherWorkGrowsTheArchive)
{
    cache_bench bench(runtimes()[0]);
    EXPECT_EQ(bench.launch({"version"}).exit_code, 0);
    bench.expect_made();
    // The first launch after the archive was made records its classes:
    // javax.tools brings thousands the version launch never loaded.
    run_result compile = bench.launch({"-D"});
    EXPECT_EQ(compile.exit_code, 0) << compile.err;
    EXPECT_TRUE(has_log(compile, "vm.cache.grows=" + bench.cache_file().string())) << compile.out;
    EXPECT_TRUE(has_log(compile, "vm.cache.builder=")) << compile.out;
    bench.expect_made();
    // The second records too, and finds nothing worth dumping again.
    run_result again = bench.launch({"-D"});
    EXPECT_TRUE(has_log(again, "vm.cache.used=")) << again.out;
    EXPECT_FALSE(has_log(again, "vm.cache.grows=")) << again.out;
}

TEST(VmCache, ADamagedChangedOrLinkedArchiveIsDroppedQuietlyAndMadeAgain)
{
    struct damage_case {
        const char* name;
        bool by_runtime;  // only the runtime can tell: size and time kept
        void (*damage)(const fs::path& file);
    };
    const damage_case cases[] = {
        {"its header overwritten", true,
         [](const fs::path& file) {
             std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
             f.write("XXXXXXXXXXXXXXXX", 16);
         }},
        {"appended to", false, [](const fs::path& file) { std::ofstream(file, std::ios::app) << "appended"; }},
        {"deleted", false, [](const fs::path& file) { fs::remove(file); }},
        {"replaced by a link to a copy", false,
         [](const fs::path& file) {
             fs::copy_file(file, file.string() + ".copy");
             fs::remove(file);
             fs::create_symlink(file.string() + ".copy", file);
         }},
        {"made writable by others", false,
         [](const fs::path& file) { fs::permissions(file, fs::perms::others_write, fs::perm_options::add); }},
    };
    for (const runtime_case& runtime : runtimes()) {
        for (const damage_case& c : cases) {
            SCOPED_TRACE(runtime.home.string() + ": " + c.name);
            cache_bench bench(runtime);
            bench.launch();
            bench.wait_for_builders();
            fs::path file = bench.cache_file();
            ASSERT_FALSE(file.empty());
            auto time = fs::last_write_time(file);
            fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
            c.damage(file);
            if (c.by_runtime) fs::last_write_time(file, time);
            if (fs::exists(file)) fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);

            run_result damaged = bench.launch();
            EXPECT_EQ(damaged.exit_code, 0) << damaged.err;
            EXPECT_EQ(damaged.out, app_output);
            EXPECT_EQ(damaged.err, "");
            // Dropped: made again by the builder of the damaged launch, or
            // of the one after it when the runtime refused the archive.
            bench.wait_for_builders();
            fs::remove(file.string() + ".copy");
            if (!fs::exists(file)) bench.launch();
            bench.expect_made();
            run_result remade = bench.launch({"-D"});
            EXPECT_EQ(remade.exit_code, 0) << remade.err;
            EXPECT_TRUE(has_log(remade, "vm.cache.used=" + file.string())) << remade.out;
            bench.expect_made();
        }
    }
}

TEST(VmCache, ATempFolderThatTakesNoLogKeepsAGoodArchive)
{
    // Without the runtime's log there is no verdict, and without a log file
    // made beforehand the VM would not start at all.
    cache_bench bench(runtimes()[0]);
    bench.launch();
    bench.expect_made();
    fs::path temp = bench.scratch.path / "readonly";
    fs::create_directory(temp);
    fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_exec);
    run_result r = run_program({VMCACHE_HOST, (bench.runtime.home / "lib/server/libjvm.so").string(),
                                bench.cache.string(), bench.boot.string() + ":" + bench.app.string(), temp.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, app_output);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(bench.cache_file()));
    fs::permissions(temp, fs::perms::owner_all);
}

TEST(VmCache, APackageThatSetsClassSharingItselfGetsNoCache)
{
    // With -Xshare:off beside an archive to write, the VM would not start.
    cache_bench bench(runtimes()[0]);
    setenv("JOP", "-Xshare:off", 1);
    run_result r = bench.launch({"-D"});
    unsetenv("JOP");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has_log(r, "vm.cache.none (the package's VM options set class sharing)")) << r.out;
    EXPECT_FALSE(has_log(r, "vm.cache.option=")) << r.out;
    EXPECT_EQ(bench.files(), std::vector<std::string>{});
}

}  // namespace
