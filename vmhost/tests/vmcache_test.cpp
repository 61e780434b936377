// The VM cache's choices: the runtime's feature version from its release
// file in each folder layout, and the options each version gets. Using and
// judging a cache needs a real runtime (tests/e2e/vmcache_e2e_test.cpp).
#include "vmhost/vmcache.h"

#include "support/paths.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

TEST(FeatureVersion, ReadsTheReleaseFileForms)
{
    struct {
        const char* text;
        int feature;
    } cases[] = {
        {"1.8.0_392", 8}, {"1.7.0", 7}, {"17.0.15", 17}, {"25", 25}, {"25-ea", 25},
        {"21.0.2+13", 21}, {"1.", 1}, {"", 0}, {"jdk-17", 0}, {"99999999999", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(feature_version(c.text), c.feature) << c.text;
}

// A runtime folder below a scratch folder: the VM library at `library` and
// a release file at `release_folder` (both relative; no release when empty).
std::string make_runtime(const fs::path& root, const std::string& library, const std::string& release_folder,
                         const std::string& version)
{
    write_text(root / library, "");
    if (!release_folder.empty()) write_text(root / release_folder / "release", "JAVA_VERSION=\"" + version + "\"\n");
    return (root / library).string();
}

TEST(RuntimeHome, FoundAboveEachLibraryLayout)
{
    struct {
        const char* name;
        const char* library;
        const char* release;  // the folder holding it; "" for none
        const char* home;     // expected; null for none
    } cases[] = {
        {"linux", "jdk/lib/server/libjvm.so", "jdk", "jdk"},
        {"windows", "jdk/bin/server/jvm.dll", "jdk", "jdk"},
        {"java 8 jdk", "jdk8/jre/lib/amd64/server/libjvm.so", "jdk8", "jdk8"},
        {"java 8 jre", "jre8/lib/amd64/server/libjvm.so", "jre8", "jre8"},
        {"none", "bare/lib/server/libjvm.so", "", nullptr},
        {"too far up", "far/a/b/c/d/e/libjvm.so", "far", nullptr},
    };
    for (const auto& c : cases) {
        scratch_dir scratch;
        std::string lib = make_runtime(scratch.path, c.library, c.release, "17.0.1");
        char version[64] = "";
        char* home = runtime_home(lib.c_str(), version, sizeof version);
        if (c.home) {
            EXPECT_EQ(std::string(home ? home : "(none)"), (scratch.path / c.home).string()) << c.name;
            EXPECT_STREQ(version, "17.0.1") << c.name;
        } else {
            EXPECT_EQ(home, nullptr) << c.name;
        }
    }
}

TEST(PlanVmCache, OptionsFollowTheRuntimeVersion)
{
    // {file} stands for the cache file, {run} for the run id; a first
    // launch in each case (no cache yet), without the debug log.
    struct {
        const char* version;
        std::vector<std::string> options;
    } cases[] = {
        {"1.8.0_392", {}},
        {"11.0.2", {}},
        {"13", {"-XX:DumpLoadedClassList={file}.classes.{run}.part", "-Xlog:cds*=off"}},
        {"17.0.15", {"-XX:DumpLoadedClassList={file}.classes.{run}.part", "-Xlog:cds*=off"}},
        {"24.0.1", {"-XX:DumpLoadedClassList={file}.classes.{run}.part", "-Xlog:aot*=off,cds*=off"}},
        {"25.0.3", {"-XX:DumpLoadedClassList={file}.classes.{run}.part", "-Xlog:aot*=off,cds*=off"}},
        {"unknown", {}},
    };
    snprintf(run_id, run_id_size, "GVUNIT");
    for (const auto& c : cases) {
        scratch_dir scratch;
        std::string lib = make_runtime(scratch.path, "jdk/lib/server/libjvm.so", "jdk", c.version);
        fs::create_directory(scratch.path / "cache");
        vm_cache_options out{};
        plan_vm_cache((scratch.path / "cache").string().c_str(), lib.c_str(), "app.jar", "256", nullptr, &out);
        std::vector<std::string> got(out.words, out.words + out.count);
        std::string file;
        std::smatch hash;
        for (const std::string& word : got)
            if (std::regex_search(word, hash, std::regex("/vm-([0-9a-f]{16})\\.")))
                file = (scratch.path / "cache" / "vm-").string() + hash.str(1);
        std::vector<std::string> expected;
        for (std::string option : c.options) {
            for (size_t at; (at = option.find("{file}")) != std::string::npos;) option.replace(at, 6, file);
            for (size_t at; (at = option.find("{run}")) != std::string::npos;) option.replace(at, 5, "GVUNIT");
            expected.push_back(option);
        }
        EXPECT_EQ(got, expected) << c.version;
    }
}

TEST(PlanVmCache, NamedByTheRuntimesHomeAndVersion)
{
    scratch_dir scratch;
    fs::path cache = scratch.path / "cache";
    fs::create_directory(cache);
    auto file_of = [&](const std::string& home, const std::string& version) {
        std::string lib = make_runtime(scratch.path, home + "/lib/server/libjvm.so", home, version);
        vm_cache_options out{};
        plan_vm_cache(cache.string().c_str(), lib.c_str(), "app.jar", "256", nullptr, &out);
        return out.count ? std::string(out.words[0]) : std::string();
    };
    std::string a = file_of("a", "17.0.1");
    EXPECT_EQ(file_of("a", "17.0.1"), a);
    EXPECT_NE(file_of("a", "17.0.2"), a) << "the same runtime updated in place";
    EXPECT_NE(file_of("b", "17.0.1"), a) << "another runtime of the same version";
}

}  // namespace
