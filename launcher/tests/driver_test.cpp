// The launch driver's stages and the errors that cannot be provoked for
// real on this machine, through the platform layer's fault injection.
#include "launcher/driver.h"
#include "launcher/entry.h"
#include "launcher/sweep.h"
#include "os/os.h"
#include "support/paths.h"
#include "support/switches.h"
#include "support/track.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void reset_paths()
{
    module_filename[0] = 0;
    temp_folder[0] = 0;
    run_id[0] = 0;
    getjava_path = nullptr;
    temp_folder_foreign = false;
}

std::string self_path()
{
    return fs::read_symlink("/proc/self/exe").string();
}

// ---- whole runs of launcher_main ----------------------------------------------

struct run_case {
    const char* name;
    os_call fault;  // OS_CALL_COUNT: none
    int error;
    bool quiet;
    int exit_code;
    std::vector<std::string> log;  // regular expressions, one per line
    const char* report;            // what standard output holds besides the log
};

// Runs launcher_main in a child with standard output in `out`.
void run_launcher(const run_case& c, const std::string& out)
{
    reset_paths();
    if (!freopen(out.c_str(), "w", stdout)) _exit(99);
    debug_flag = true;
    quiet_flag = c.quiet;
    if (c.fault != OS_CALL_COUNT) os_fault_set(c.fault, 1, 1, c.error);
    char word[] = "a b";
    char* words[] = {word, nullptr};
    launcher_main(1, words);
}

TEST(LauncherMain, EarlyErrorsSkipTheLaterStagesAndExitWithTheirCode)
{
    std::string cwd = fs::current_path().string();
    std::string self = self_path();
    std::string dir = fs::path(self).parent_path().string();
    std::string name = fs::path(self).filename().string();
    const std::vector<std::string> head = {"app\\.name=", "original\\.exe\\.name=", "arg0='a b'"};
    auto with_head = [&](std::vector<std::string> rest) {
        std::vector<std::string> all = head;
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    const run_case cases[] = {
        // No module filename: the original name and "." stand in, nothing is
        // mapped, the working directory is still logged.
        {"module filename fails (20)", OS_CALL_MODULE_FILENAME, 5, true, 20,
         with_head({"module\\.filename=", "exe\\.name\\.now=", "module\\.dir=\\.", "cwd=" + cwd,
                    "C\\.exiting", "C\\.exit\\(20\\) \\[m=\\d+\\]"}),
         ""},
        {"the same, reported", OS_CALL_MODULE_FILENAME, 5, false, 20,
         with_head({"module\\.filename=", "exe\\.name\\.now=", "module\\.dir=\\.", "cwd=" + cwd,
                    "C\\.exiting", "C\\.exit\\(20\\) \\[m=\\d+\\]"}),
         "\r\n----------------------------------------------------------------------\r\n"
         "ERROR #20: Windows 'GetModuleFileName()' failed [winerr=5]\r\n\r\n"
         "PROBLEM: A Windows API function call failed\r\n\r\n"
         "SOLUTION: Try restarting Windows and contact your System Administrator for help\r\n\r\n"},
        {"mapping fails (21)", OS_CALL_MAP_FILE, 2, true, 21,
         with_head({"module\\.filename=" + self, "exe\\.name\\.now=" + name, "module\\.dir=" + dir,
                    "exe\\.mapped\\.length=-1", "cwd=" + cwd, "C\\.exiting", "C\\.exit\\(21\\) \\[m=\\d+\\]"}),
         ""},
        // An executable that was never packaged has a section count of 0.
        {"unpacked executable (96)", OS_CALL_COUNT, 0, true, 96,
         with_head({"module\\.filename=" + self, "exe\\.name\\.now=" + name, "module\\.dir=" + dir,
                    "exe\\.mapped\\.length=[1-9]\\d*", "cwd=" + cwd, "C\\.exiting",
                    "C\\.exit\\(96\\) \\[m=\\d+\\]"}),
         ""},
    };
    scratch_dir scratch;
    desktop_recorder desktop;
    scoped_env env(desktop.env());
    for (const run_case& c : cases) {
        std::string out = (scratch.path / "out.txt").string();
        EXPECT_EXIT(run_launcher(c, out), testing::ExitedWithCode(c.exit_code), "") << c.name;
        std::string printed = read_text(out);
        std::vector<std::string> lines = log_texts(printed);
        ASSERT_EQ(lines.size(), c.log.size()) << c.name << "\n" << printed;
        for (size_t i = 0; i < lines.size(); i++)
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.log[i]))) << c.name << ": " << lines[i];
        std::string rest = std::regex_replace(printed, std::regex(R"(!.* \[\d+\]\r\n)"), "");
        EXPECT_EQ(rest, c.report) << c.name;
    }
    EXPECT_EQ(desktop.calls("zenity").size(), 1u) << "only the reported run shows a box";
    EXPECT_TRUE(desktop.calls("xdg-open").empty());
}

// ---- stage 9: the temp folder ---------------------------------------------------

struct temp_case {
    const char* name;
    std::string tmpdir;
    os_call fault;  // OS_CALL_COUNT: none
    int error;
    std::string launch_error;  // empty: none
    std::string temp_folder;   // "<run id>" stands for the run id
};

TEST(TempFolder, ErrorsAndTheStateTheyLeave)
{
    scratch_dir scratch;
    std::string base = scratch.path.string();
    write_text(scratch.path / "plain-file", "x");
    std::string file = base + "/plain-file";
    const temp_case cases[] = {
        {"created below TMPDIR", base, OS_CALL_COUNT, 0, "", base + "/<run id>"},
        {"a trailing separator is not doubled", base + "/", OS_CALL_COUNT, 0, "", base + "/<run id>"},
        {"temp path fails (23)", base, OS_CALL_TEMP_PATH, 6, "23: Windows GetTempPath() failed [winerr=6]", "."},
        {"temp path not a folder (22)", file, OS_CALL_COUNT, 0,
         "22: Windows GetTempPath() folder can not be accessed (or is not valid)\r\n\r\n\t" + file + "/",
         file + "/"},
        {"folder creation fails (40)", base, OS_CALL_CREATE_DIR, 28,
         "40: Unable to create temporary folder [winerr=28]\r\n\r\n\t" + base + "/<run id>",
         base + "/<run id>"},
    };
    for (const temp_case& c : cases) {
        reset_paths();
        launch_state launch{};
        {
            scoped_env env({"TMPDIR=" + c.tmpdir});
            if (c.fault != OS_CALL_COUNT) os_fault_set(c.fault, 1, 1, c.error);
            stage_temp_folder(launch);
            os_fault_clear();
        }
        std::string id = run_id;
        auto fill = [&](std::string text) { return std::regex_replace(text, std::regex("<run id>"), id); };
        EXPECT_EQ(launch.error ? launch.error : "", fill(c.launch_error)) << c.name;
        EXPECT_EQ(temp_folder, fill(c.temp_folder)) << c.name;
        bool made = c.launch_error.empty();
        if (c.temp_folder.find("<run id>") == std::string::npos) {
            EXPECT_EQ(id, "") << c.name << ": no run id before the temp path is known";
            continue;
        }
        char pid[16];
        snprintf(pid, sizeof pid, "%X", unsigned(getpid()));
        EXPECT_TRUE(std::regex_match(id, std::regex("GV[0-9A-F]{1,4}" + std::string(pid)))) << c.name << id;
        EXPECT_EQ(fs::is_directory(temp_folder), made) << c.name;
        if (made) {
            struct stat st;
            ASSERT_EQ(stat(temp_folder, &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << "private to this run";
            // Marked with its owner at once, for the sweep of killed launches.
            uint32_t owner = 0;
            uint64_t start = 0;
            EXPECT_TRUE(read_owner_mark(temp_folder, &owner, &start)) << c.name;
            EXPECT_EQ(owner, uint32_t(getpid()));
            fs::remove_all(temp_folder);
        }
    }
    reset_paths();
}

TEST(TempFolder, ATakenNameGetsAFreshRunIdAndOnlyTheLastTryFails)
{
    scratch_dir scratch;
    std::string base = scratch.path.string() + "/";
    struct {
        const char* name;
        int taken;  // names that exist already, -1: every one
        bool made;
    } cases[] = {
        {"the first name taken", 1, true},
        {"seven names taken", 7, true},
        {"every name taken (40)", -1, false},
    };
    debug_flag = true;
    for (const auto& c : cases) {
        reset_paths();
        launch_state launch{};
        std::string printed;
        {
            scoped_env env({"TMPDIR=" + scratch.path.string()});
            os_fault_set(OS_CALL_CREATE_DIR, 1, c.taken, EEXIST);
            testing::internal::CaptureStdout();
            stage_temp_folder(launch);
            printed = testing::internal::GetCapturedStdout();
            os_fault_clear();
        }
        std::vector<std::string> log = log_texts(printed);
        std::vector<std::string> taken;
        for (const std::string& line : log)
            if (line.rfind("temp.folder.taken=", 0) == 0) taken.push_back(line.substr(18));
        // Each try a name of the same form, the first one the guessable one.
        char pid[16];
        snprintf(pid, sizeof pid, "%X", unsigned(getpid()));
        ASSERT_FALSE(taken.empty()) << c.name;
        EXPECT_TRUE(std::regex_match(fs::path(taken[0]).filename().string(), std::regex("GV[0-9A-F]{1,4}" + std::string(pid))));
        EXPECT_EQ(taken.size(), c.taken < 0 ? 7u : size_t(c.taken)) << c.name;
        std::set<std::string> names(taken.begin(), taken.end());
        names.insert(temp_folder);
        EXPECT_EQ(names.size(), taken.size() + 1) << c.name << ": every try a fresh run id";
        EXPECT_TRUE(std::regex_match(run_id, std::regex("GV[0-9A-F]{1,4}[0-9A-F]{1,8}"))) << run_id;
        EXPECT_EQ(temp_folder, base + run_id) << c.name;
        EXPECT_EQ(log.back(), "temp.folder=" + std::string(temp_folder)) << c.name;
        EXPECT_EQ(fs::is_directory(temp_folder), c.made) << c.name;
        EXPECT_EQ(temp_folder_foreign, !c.made) << c.name << ": a folder not made here is never removed";
        std::string error = launch.error ? launch.error : "";
        EXPECT_EQ(error, c.made ? "" : "40: Unable to create temporary folder [winerr=" + std::to_string(EEXIST) +
                                           "]\r\n\r\n\t" + std::string(temp_folder))
            << c.name;
        if (c.made) fs::remove_all(temp_folder);
    }
    debug_flag = false;
    reset_paths();
}

TEST(TempFolder, SkippedAfterAnEarlierError)
{
    reset_paths();
    launch_state launch{};
    launch.error = "21: Failed to map 'x' into memory";
    stage_temp_folder(launch);
    EXPECT_STREQ(temp_folder, "");
    EXPECT_STREQ(launch.error, "21: Failed to map 'x' into memory");
}

// ---- stages 10 and 12: class path, library path, "path" ----------------------

launch_state prepared(const char* vars)
{
    launch_state launch{};
    strcpy(temp_folder, "/T/GV1");
    strcpy(launch.module_dir, "/M");
    launch.vars = const_cast<char*>(vars);
    return launch;
}

struct class_path_case {
    const char* name;
    const char* vars;
    const char* classpath;  // null: unset
    std::string expected;
};

TEST(ClassPath, Table)
{
    std::string long_user(1500, 'u');
    // More jars than one formatted text of 32767 characters can hold.
    std::string many_jars = "jars=", many_expected = "/T/GV1";
    for (int i = 0; i < 4000; i++) {
        many_jars += "lib" + std::to_string(i) + ".jar;";
        many_expected += ":/T/GV1/lib" + std::to_string(i) + ".jar";
    }
    many_jars += "\n";
    many_expected += ":/M";
    const class_path_case cases[] = {
        {"no jars key", "main=x\n", nullptr, "/T/GV1:/M"},
        {"no Vars text", nullptr, nullptr, "/T/GV1:/M"},
        {"pieces below the temp folder, '.' pieces below the module dir, empty pieces skipped",
         "jars=a.jar;;.\\lib\\b.jar;sub/c.jar\n", nullptr, "/T/GV1:/T/GV1/a.jar:/M/./lib/b.jar:/T/GV1/sub/c.jar:/M"},
        {"useclasspath appends the user's class path", "useclasspath=\njars=a.jar\n", "/u/x.jar",
         "/T/GV1:/T/GV1/a.jar:/M:/u/x.jar"},
        {"useclasspath with an empty class path", "useclasspath=*\n", "", "/T/GV1:/M"},
        {"useclasspath with no class path", "useclasspath=*\n", nullptr, "/T/GV1:/M"},
        {"a class path without useclasspath", "main=x\n", "/u/x.jar", "/T/GV1:/M"},
        {"a class path longer than its buffer is kept whole", "useclasspath=*\n", long_user.c_str(),
         "/T/GV1:/M:" + long_user},
        {"thousands of jars are kept whole", many_jars.c_str(), nullptr, many_expected},
    };
    for (const class_path_case& c : cases) {
        launch_state launch = prepared(c.vars);
        int64_t before = track_outstanding();
        if (c.classpath)
            setenv("CLASSPATH", c.classpath, 1);
        else
            unsetenv("CLASSPATH");
        stage_class_path(launch);
        ASSERT_NE(launch.class_path, nullptr) << c.name;
        EXPECT_EQ(launch.class_path, c.expected) << c.name;
        // Each step releases the text it replaced: what stays is the result
        // and the Vars lookups' copies.
        EXPECT_LE(track_outstanding() - before, int64_t(2 * c.expected.size() + 100)) << c.name;
    }
    unsetenv("CLASSPATH");
    reset_paths();
}

struct library_case {
    const char* name;
    const char* vars;
    const char* path;          // PATH; null: unset
    const char* library_var;   // LD_LIBRARY_PATH; null: unset
    bool set_fails;
    std::string error;         // empty: none
    std::string library_path;
    std::string new_path;      // PATH afterwards; null value: unset
    bool cwd_to_module_dir;
};

TEST(LibraryPath, Table)
{
    scratch_dir scratch;
    std::string module = scratch.path.string();
    std::string long_path = "/" + std::string(3000, 'p');
    // The runtime's own folders follow once it is chosen (stage 17).
    const library_case cases[] = {
        {"both unset: both end in the separator", "", nullptr, nullptr, false, "", "/T/GV1:" + module + ":",
         "/T/GV1:" + module + ":", false},
        {"the library path takes LD_LIBRARY_PATH, never PATH", "", "/usr/bin:/bin", "/opt/lib:/opt/more", false, "",
         "/T/GV1:" + module + ":/opt/lib:/opt/more", "/T/GV1:" + module + ":/usr/bin:/bin", false},
        {"values longer than their buffer are kept whole", "", long_path.c_str(), long_path.c_str(), false, "",
         "/T/GV1:" + module + ":" + long_path, "/T/GV1:" + module + ":" + long_path, false},
        {"setting PATH fails (24)", "execwd=*\n", "/usr/bin", nullptr, true, "24: Windows SetEnvironmentVariable() failed",
         "/T/GV1:" + module + ":", "/usr/bin", false},
        {"execwd makes the module dir current", "execwd=\n", "/usr/bin", nullptr, false, "",
         "/T/GV1:" + module + ":", "/T/GV1:" + module + ":/usr/bin", true},
    };
    fs::path cwd = fs::current_path();
    debug_flag = true;
    for (const library_case& c : cases) {
        launch_state launch = prepared(c.vars);
        strcpy(launch.module_dir, module.c_str());
        std::string printed;
        {
            scoped_env env({"PATH=x", "LD_LIBRARY_PATH=x"});
            for (auto [name, value] : {std::pair{"PATH", c.path}, std::pair{"LD_LIBRARY_PATH", c.library_var}}) {
                if (value)
                    setenv(name, value, 1);
                else
                    unsetenv(name);
            }
            if (c.set_fails) os_fault_set(OS_CALL_SET_ENV, 1, 1, 12);
            testing::internal::CaptureStdout();
            stage_library_path(launch);
            printed = testing::internal::GetCapturedStdout();
            os_fault_clear();
            const char* now = getenv("PATH");
            EXPECT_EQ(now ? now : "", c.new_path) << c.name;
        }
        EXPECT_EQ(launch.error ? launch.error : "", c.error) << c.name;
        EXPECT_EQ(launch.library_path, c.library_path) << c.name;
        std::vector<std::string> expected_log;
        if (c.error.empty()) expected_log.push_back("path=" + c.new_path);
        EXPECT_EQ(log_texts(printed), expected_log) << c.name;
        EXPECT_EQ(fs::current_path() == scratch.path, c.cwd_to_module_dir) << c.name;
        fs::current_path(cwd);
    }
    debug_flag = false;
    reset_paths();
}

// ---- stages 7 and 14: the Vars text and the Z offsets --------------------------

// A header at `offset` of `file` that names its type and payload length;
// these stages read nothing else of it.
void put_header(std::vector<unsigned char>& file, size_t offset, char type, uint32_t length)
{
    file[offset + 15] = static_cast<unsigned char>(type);
    memcpy(&file[offset + 24], &length, 4);
}

TEST(ZOffsets, ListsTheHeaderOffsetsOfZSectionsOnly)
{
    std::vector<unsigned char> file(3000);
    put_header(file, 500, 'F', 0);
    put_header(file, 1000, 'Z', 0);
    put_header(file, 2000, 'Z', 0);
    const unsigned char* table[] = {&file[500], &file[1000], &file[2000]};
    launch_state launch{};
    launch.base = file.data();
    launch.table = table;
    launch.found = 3;
    stage_z_offsets(launch);
    EXPECT_STREQ(launch.z_offsets, ",1000,2000");

    launch.found = 1;
    stage_z_offsets(launch);
    EXPECT_STREQ(launch.z_offsets, "");

    launch.found = 3;
    launch.error = "97: Expected 3 sections in 'x' (found=4)";
    stage_z_offsets(launch);
    EXPECT_STREQ(launch.z_offsets, "") << "made always, filled only without error";
}

TEST(ZOffsets, AHundredThousandSectionsKeepEveryOffsetWithoutCopies)
{
    const int32_t count = 100000;
    std::vector<unsigned char> file(size_t(count) * 32 + 32);
    std::vector<const unsigned char*> table;
    std::string expected;
    for (int32_t i = 1; i <= count; i++) {
        put_header(file, size_t(i) * 32, 'Z', 0);
        table.push_back(&file[size_t(i) * 32]);
        expected += "," + std::to_string(i * 32);
    }
    launch_state launch{};
    launch.base = file.data();
    launch.table = table.data();
    launch.found = count;
    int64_t before = track_outstanding();
    stage_z_offsets(launch);
    EXPECT_EQ(launch.z_offsets, expected);
    EXPECT_LE(track_outstanding() - before, int64_t(count) * 11 + 1) << "one block, no earlier copies kept";
    track_free(launch.z_offsets, 1);
}

TEST(VarsText, CopiedUpToItsNulAndNeverPastThePayload)
{
    struct vars_case {
        const char* name;
        char type;
        std::string payload;
        const char* vars;  // null: none
        const char* error;
    };
    const vars_case cases[] = {
        {"up to the NUL", 'V', std::string("mx=512\n\0junk", 12), "mx=512\n", nullptr},
        {"a payload without a NUL ends at its end", 'V', "mx=512\n", "mx=512\n", nullptr},
        {"first section not V", 'F', std::string("mx=1\n\0", 6), nullptr, "98: Vars EXE seciton is missing"},
    };
    for (const vars_case& c : cases) {
        // Exactly header and payload: a read past the payload is a heap overflow.
        std::vector<unsigned char> section(32 + c.payload.size());
        put_header(section, 0, c.type, uint32_t(c.payload.size()));
        memcpy(&section[32], c.payload.data(), c.payload.size());
        const unsigned char* table[] = {section.data()};
        launch_state launch{};
        launch.table = table;
        launch.found = 1;
        stage_vars(launch);
        EXPECT_STREQ(launch.vars, c.vars) << c.name;
        EXPECT_STREQ(launch.error, c.error) << c.name;
    }
}

// ---- version window and runtime choice (stages 16 and 17) -------------------------

// A version number from its four groups.
uint64_t version(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    return ((a * 10000 + b) * 10000 + c) * 10000 + d;
}

TEST(VersionWindow, DefaultsAndFills)
{
    struct {
        const char* vars;
        uint64_t minver, maxver;
    } cases[] = {
        {"", version(1, 4, 0, 0), version(9999, 9999, 9999, 9999)},
        {"minver=1.8\nmaxver=11\n", version(1, 8, 0, 0), version(11, 9999, 9999, 9999)},
    };
    for (const auto& c : cases) {
        launch_state launch{};
        launch.vars = strdup(c.vars);
        stage_version_window(launch);
        EXPECT_EQ(launch.minver, c.minver) << c.vars;
        EXPECT_EQ(launch.maxver, c.maxver) << c.vars;
        free(launch.vars);
    }
}

TEST(RuntimeChoice, PrivateThenOverrideThenInstallerWithErrors10And15)
{
    scratch_dir scratch;
    desktop_recorder desktop;
    scoped_env env(desktop.env());
    os_reg_fake_install();  // nothing registered, and no further places
    const os_place no_places[1] = {};
    os_runtime_places_fake(no_places, 0);
    write_text(scratch.path / "rt" / "libjvm.so", "");
    fs::path installer = scratch.path / "get-java";
    write_text(installer, "#!/bin/sh\n");
    fs::permissions(installer, fs::perms::owner_all);
    std::string installer_path = installer.string();
    char with_private[] = "jvm=rt/libjvm.so\n";
    char without[] = "mx=64\n";
    struct {
        const char* name;
        char* vars;
        const char* override_path;  // -jvm:
        bool installer;
        const char* earlier_error;
        std::string vm_library;  // empty: none
        std::string error;       // empty: none
    } cases[] = {
        {"the private runtime beats -jvm:", with_private, "/x/libjvm.so", false, nullptr,
         (scratch.path / "rt" / "libjvm.so").string(), ""},
        {"-jvm: unchecked", without, "/x/libjvm.so", false, nullptr, "/x/libjvm.so", ""},
        {"nothing and no installer: 10", without, nullptr, false, nullptr, "",
         "10: A Java Runtime Environment for 'demo.exe' could not be found"},
        {"an installer that installs nothing: 15", without, nullptr, true, nullptr, "",
         "15: Failure locating a Java Runtime Environment after trying to install Java"},
        {"an earlier error: nothing chosen", with_private, nullptr, true, "21: earlier", "", "21: earlier"},
    };
    for (const auto& c : cases) {
        launch_state launch{};
        launch.vars = c.vars;
        launch.exe_name_now = "demo.exe";
        launch.error = c.earlier_error;
        strcpy(launch.module_dir, scratch.path.c_str());
        jvm_override = const_cast<char*>(c.override_path);
        getjava_path = c.installer ? installer_path.data() : nullptr;
        stage_runtime_choice(launch);
        EXPECT_EQ(launch.vm_library ? launch.vm_library : "", c.vm_library) << c.name;
        EXPECT_EQ(launch.error ? launch.error : "", c.error) << c.name;
        // After 15 the report offers the download page, not a second installation.
        EXPECT_EQ(getjava_path != nullptr, c.installer && c.error.rfind("15", 0) != 0) << c.name;
    }
    jvm_override = nullptr;
    getjava_path = nullptr;
    os_reg_fake_remove();
    os_runtime_places_fake(nullptr, 0);
}

}  // namespace
