// The VM class caches of fast start on the runtimes installed here, through
// vmcache_host (the VM hosted as the launcher hosts it): the first launch
// makes the cache, also when the application ends through System.exit, the
// next one uses it, and a cache damaged or changed by hand is dropped and
// made again, with the runtime's own complaints kept off the console.
// OpenJDK 17 always; Temurin 25 where it is installed.
#include "tests/e2e/run.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

const fs::path jdk17 = TEST_JAVA_HOME;
const fs::path temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

struct runtime_case {
    fs::path home;
    const char* extension;  // of the cache file
};

std::vector<runtime_case> runtimes()
{
    std::vector<runtime_case> list = {{jdk17, ".jsa"}};
    if (fs::exists(temurin25 / "lib/server/libjvm.so")) list.push_back({temurin25, ".aot"});
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
            if (e.path().extension() == runtime.extension) return e.path();
        return {};
    }

    // The state after a run that left a made cache: the cache and its stamp.
    void expect_made() const
    {
        std::vector<std::string> names = files();
        ASSERT_EQ(names.size(), 2u) << runtime.home;
        EXPECT_EQ(fs::path(names[0]).extension(), runtime.extension);
        EXPECT_EQ(names[1], names[0] + ".stamp");
    }
};

// What the application prints; nothing of the runtime's cache notes.
const std::string app_output = "compiled 0\n";

TEST(VmCache, FirstLaunchMakesTheCacheEvenThroughSystemExitAndTheNextUsesIt)
{
    for (const runtime_case& runtime : runtimes()) {
        SCOPED_TRACE(runtime.home);
        cache_bench bench(runtime);
        run_result first = bench.launch({"exit"});
        EXPECT_EQ(first.exit_code, 7);
        EXPECT_EQ(first.out, app_output);
        EXPECT_EQ(first.err, "");
        bench.expect_made();

        run_result second = bench.launch({"-D"});
        EXPECT_EQ(second.exit_code, 0) << second.err;
        EXPECT_TRUE(has_log(second, "vm.cache.use=" + bench.cache_file().string())) << second.out;
        EXPECT_TRUE(has_log(second, "vm.cache.used=")) << second.out;

        // Ended by System.exit, the run that uses the cache still judges it.
        run_result third = bench.launch({"-D", "exit"});
        EXPECT_EQ(third.exit_code, 7);
        EXPECT_TRUE(has_log(third, "vm.cache.used=")) << third.out;
        bench.expect_made();
    }
}

TEST(VmCache, ADamagedCacheIsRejectedQuietlyRemovedAndMadeAgain)
{
    for (const runtime_case& runtime : runtimes()) {
        SCOPED_TRACE(runtime.home);
        cache_bench bench(runtime);
        bench.launch();
        fs::path file = bench.cache_file();
        ASSERT_FALSE(file.empty());
        // Damaged behind the launcher's back with size and time kept, so
        // that only the runtime can tell.
        auto time = fs::last_write_time(file);
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.write("XXXXXXXX", 8);
        }
        fs::last_write_time(file, time);

        run_result damaged = bench.launch();
        EXPECT_EQ(damaged.exit_code, 0) << damaged.err;
        EXPECT_EQ(damaged.out, app_output);
        EXPECT_EQ(damaged.err, "");
        EXPECT_EQ(bench.files(), std::vector<std::string>{}) << "the rejected cache and its stamp are gone";

        run_result remade = bench.launch({"-D"});
        EXPECT_TRUE(has_log(remade, "vm.cache.make=" + file.string())) << remade.out;
        EXPECT_TRUE(has_log(remade, "vm.cache.made=" + file.string())) << remade.out;
        bench.expect_made();
    }
}

TEST(VmCache, ACacheChangedOrDeletedByHandIsMadeAgain)
{
    const runtime_case runtime = runtimes()[0];
    cache_bench bench(runtime);
    bench.launch();
    fs::path file = bench.cache_file();
    ASSERT_FALSE(file.empty());

    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    std::ofstream(file, std::ios::app) << "appended";
    run_result changed = bench.launch({"-D"});
    EXPECT_TRUE(has_log(changed, "vm.cache.changed=" + file.string())) << changed.out;
    EXPECT_TRUE(has_log(changed, "vm.cache.made=" + file.string())) << changed.out;
    bench.expect_made();

    fs::remove(file);
    run_result deleted = bench.launch({"-D"});
    EXPECT_TRUE(has_log(deleted, "vm.cache.make=" + file.string())) << deleted.out;
    bench.expect_made();
    EXPECT_TRUE(has_log(bench.launch({"-D"}), "vm.cache.used=" + file.string()));
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
