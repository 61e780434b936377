// Packaged executables made with glimvane-pack, run as a user would run
// them: the launch preparation, its errors as the user sees them, and the
// removal of the temp folder after exit.
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/writer.h"
#include "support/config.h"
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"
#include "tests/report_texts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

const std::string damaged_problem =
    "PROBLEM: 'demo-app' is damaged\r\n\r\n"
    "SOLUTION: Reinstall 'Demo App', preferably obtaining the latest version";

bytes read_bytes(const fs::path& path)
{
    std::string text = read_text(path);
    return bytes(text.begin(), text.end());
}

void write_bytes(const fs::path& path, const bytes& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

bool gone_within(const fs::path& path, int seconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (fs::exists(path) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !fs::exists(path);
}

// A packaged application below a scratch folder, with its own temp path.
struct package : package_dir {
    // A source file below the scratch folder.
    std::string source(const std::string& name, const std::string& text)
    {
        write_text(root / "src" / name, text);
        return (root / "src" / name).string();
    }

    run_result launch(std::vector<std::string> words, std::vector<std::string> env = {})
    {
        std::vector<std::string> argv = {exe.string()};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<std::string> vars = env;
        auto given = [&env](const std::string& var) {
            for (const std::string& e : env)
                if (e.substr(0, e.find('=')) == var.substr(0, var.find('='))) return true;
            return false;
        };
        std::vector<std::string> defaults = desktop.env();
        defaults.push_back("TMPDIR=" + tmp.string());
        for (const std::string& var : defaults)
            if (!given(var)) vars.push_back(var);
        return run_program(argv, vars);
    }

    // Header offsets of the sections the launcher would find.
    std::vector<int32_t> sections(const bytes& file) const
    {
        std::vector<int32_t> found;
        int32_t length = int32_t(file.size());
        for (int32_t at = find_section(file.data(), 0, length); at > 0;
             at = find_section(file.data(), at + section_header_size + section_payload_length(&file[at]), length))
            found.push_back(at);
        return found;
    }

    // Changes the packaged file in place.
    void damage(const std::function<void(bytes&)>& change)
    {
        bytes file = read_bytes(exe);
        change(file);
        write_bytes(exe, file);
    }
};

void put32(bytes& file, size_t at, int32_t value)
{
    memcpy(&file[at], &value, 4);
}

// Renames the record of the `index`th section in place (the names are of
// equal length) and seals the section again: a package that glimvane-pack
// refuses to write.
void rename_record(package& p, size_t index, const char* from, const char* to)
{
    p.damage([&](bytes& f) {
        int32_t at = p.sections(f)[index];
        int32_t length = section_payload_length(&f[at]);
        unsigned char* payload = &f[at + 32];
        size_t n = strlen(from) + 1;
        descramble_bytes(payload, payload, size_t(length));
        ASSERT_EQ(memcmp(payload + 1, from, n), 0);
        memcpy(payload + 1, to, n);
        scramble_bytes(payload, payload, size_t(length));
        put_section_header(&f[at], 'F', payload, length);
    });
}

size_t block_of(const bytes& file)
{
    size_t at;
    EXPECT_EQ(count_config_markers(file.data(), file.size(), &at), 1);
    return at;
}

// ---- a good package ------------------------------------------------------------

TEST(GoodPackage, PreparesTheLaunchAndLeavesNothingBehind)
{
    package p;
    p.pack({"--jar", p.source("app.jar", "jar bytes"), "--file", p.source("settings.txt", "a=1") + "=conf/settings.txt",
            "--file", p.source("libx.so", "native") + "=lib\\native\\libx.so", "--getjava",
            p.source("getjava.sh", "#!/bin/sh\n"), "--payload", p.source("z.bin", "zzz"), "--main", "demo.Main",
            "--var", "execwd=*"});
    const std::string path = "/usr/local/bin:/usr/bin:/bin";
    run_result r = p.launch({"-D*", "-Q*", "one", "two words"}, {"PATH=" + p.desktop.bin.string() + ":" + path});
    // The jar holds no application: the launch goes on to the standard boot
    // class, which reports (quietly) that demo.Main is missing.
    ASSERT_EQ(r.exit_code, 51) << r.command << "\n" << r.out << r.err;

    std::vector<std::string> log = log_texts(r.out);
    std::string folder = value_of(log, "temp.folder");
    std::string dir = p.exe.parent_path().string();
    const std::vector<std::string> expected = {
        "app.name=Demo App",
        "original.exe.name=demo-app",
        "arg0='one'",
        "arg1='two words'",
        "module.filename=" + p.exe.string(),
        "exe.name.now=demo-app",
        "module.dir=" + dir,
        "exe.mapped.length=" + std::to_string(fs::file_size(p.exe)),
        "temp.path=" + p.tmp.string() + "/",
        "temp.folder=" + folder,
        "path=" + folder + ":" + dir + ":" + p.desktop.bin.string() + ":" + path,
        "cwd=" + dir,  // execwd
        "extracted=app.jar",
        "extracted=conf/settings.txt",
        "extracted=lib\\native\\libx.so",
        "extracted=glimvaneboot.class",
        "extracted=getjava.sh",
    };
    ASSERT_GT(log.size(), expected.size()) << r.out;
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + long(expected.size())), expected);
    EXPECT_TRUE(std::regex_match(log.back(), std::regex(R"(C\.exit\(51\) \[m=\d+\])"))) << log.back();
    EXPECT_TRUE(std::regex_match(folder, std::regex(p.tmp.string() + "/GV[0-9A-F]+"))) << folder;
    EXPECT_EQ(std::regex_replace(r.out, std::regex(R"(!.* \[\d+\]\r\n)"), ""), "") << "nothing but the log";
    EXPECT_TRUE(p.desktop.calls("zenity").empty());

    EXPECT_TRUE(gone_within(folder, 10)) << "the removal child deletes the temp folder";
    EXPECT_TRUE(fs::is_empty(p.tmp));
}

// ---- the launch errors a user can meet ---------------------------------------

struct error_case {
    const char* name;
    std::function<void(package&)> make;  // packs and damages
    std::function<std::vector<std::string>(package&)> env;
    int exit_code;
    std::function<std::string(package&)> text;  // the launch error text
    std::string problem;
};

std::vector<std::string> no_env(package&)
{
    return {};
}

// The usual package: Vars, two file sections and a payload (no boot class:
// these launches fail before it would run).
void pack_usual(package& p)
{
    p.pack({"--jar", p.source("app.jar", "jar"), "--file", p.source("b.txt", "b") + "=sub/b.txt", "--payload",
            p.source("z.bin", "zz"), "--no-boot"});
}

void set_count(package& p, int32_t count)
{
    p.damage([count](bytes& f) { put32(f, block_of(f) + config_count_offset, count); });
}

const error_case error_cases[] = {
    {"truncated (90)",
     [](package& p) {
         pack_usual(p);
         p.damage([](bytes& f) { f.resize(f.size() - 1); });
     },
     no_env, 90, [](package&) { return std::string("90: 'demo-app' is a partial/truncated EXE (partial download?)"); },
     damaged_problem},
    {"section count 0 (96)",
     [](package& p) {
         pack_usual(p);
         set_count(p, 0);
     },
     no_env, 96, [](package&) { return std::string("96: Invalid maximum number of EXE sections 0"); },
     damaged_problem},
    {"section count 100001 (96)",
     [](package& p) {
         pack_usual(p);
         set_count(p, 100001);
     },
     no_env, 96, [](package&) { return std::string("96: Invalid maximum number of EXE sections 100001"); },
     damaged_problem},
    {"a payload byte changed (91)",
     [](package& p) {
         pack_usual(p);
         p.damage([](bytes& f) { f.back() ^= 1; });
     },
     no_env, 91, [](package&) { return std::string("91: EXE section digital signature check failed"); },
     damaged_problem},
    {"one section more than configured (97)",
     [](package& p) {
         pack_usual(p);
         set_count(p, 3);
     },
     no_env, 97, [](package&) { return std::string("97: Expected 3 sections in 'demo-app' (found=4)"); },
     damaged_problem},
    {"one section fewer than configured (97)",
     [](package& p) {
         pack_usual(p);
         set_count(p, 5);
     },
     no_env, 97, [](package&) { return std::string("97: Expected 5 sections in 'demo-app' (found=4)"); },
     damaged_problem},
    {"first section not Vars (98)",
     [](package& p) {
         pack_usual(p);
         p.damage([&p](bytes& f) {
             int32_t at = p.sections(f).front();
             put_section_header(&f[at], 'X', &f[at + 32], section_payload_length(&f[at]));
         });
     },
     no_env, 98, [](package&) { return std::string("98: Vars EXE seciton is missing"); }, damaged_problem},
    {"temp path is a file (22)", pack_usual,
     [](package& p) { return std::vector<std::string>{"TMPDIR=" + (p.root / "src" / "b.txt").string()}; }, 22,
     [](package& p) {
         return "22: Windows GetTempPath() folder can not be accessed (or is not valid)\r\n\r\n\t" +
                (p.root / "src" / "b.txt").string() + "/";
     },
     windows_problem},
    {"a record whose path leads out of the temp folder (41)",
     [](package& p) {
         p.pack({"--file", p.source("a.txt", "a") + "=a.txt", "--file", p.source("evil", "e") + "=up/evil", "--file",
                 p.source("c.txt", "c") + "=c.txt", "--main", "demo.Main"});
         rename_record(p, 2, "up/evil", "../evil");
     },
     no_env, 41, [](package&) { return std::string("41: Unable to write a file to the temp folder [winerr=22]"); },
     disk_problem},
    {"the second of three files cannot be written (41)",
     [](package& p) {
         // A folder already holds the second file's name.
         p.pack({"--file", p.source("a.txt", "a") + "=d/a.txt", "--file", p.source("d", "x") + "=e", "--file",
                 p.source("c.txt", "c") + "=c.txt", "--main", "demo.Main"});
         rename_record(p, 2, "e", "d");
     },
     no_env, 41, [](package&) { return std::string("41: Unable to write a file to the temp folder [winerr=21]"); },
     disk_problem},
};

TEST(LaunchErrors, ReportedWithCodeBlockAndBoxAndSilentWhenQuiet)
{
    for (const error_case& c : error_cases) {
        for (bool quiet : {false, true}) {
            package p;
            c.make(p);
            if (testing::Test::HasFatalFailure()) return;
            p.desktop.snapshot = p.root / "snapshot";
            fs::create_directories(p.desktop.snapshot);
            std::vector<std::string> words;
            if (quiet) words.push_back("-Q*");
            run_result r = p.launch(words, c.env(p));
            std::string what = std::string(c.name) + (quiet ? " with -Q*" : "");
            EXPECT_EQ(r.exit_code, c.exit_code) << what << "\n" << r.out << r.err;
            std::string message = "ERROR #" + c.text(p) + "\r\n\r\n" + c.problem;
            auto boxes = p.desktop.calls("zenity");
            if (quiet) {
                EXPECT_EQ(r.out, "") << what;
                EXPECT_TRUE(boxes.empty()) << what;
            } else {
                EXPECT_EQ(r.out, report_separator + message + "\r\n\r\n") << what;
                ASSERT_EQ(boxes.size(), 1u) << what;
                EXPECT_EQ(boxes[0], (std::vector<std::string>{"--error", "--no-markup", "--title=Demo App (demo-app)",
                                                              "--text", message}))
                    << what;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(p.desktop.calls("xdg-open").empty()) << what << ": no follow-up for this code";
            // Whatever was created goes with the removal child; nothing else is touched.
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!fs::is_empty(p.tmp) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_TRUE(fs::is_empty(p.tmp)) << what;
            EXPECT_TRUE(fs::exists(p.root / "src" / "b.txt") || c.exit_code != 22) << "the child deleted nothing";
            if (c.exit_code != 41 || quiet) continue;
            // The box was up while the files stood in the temp folder.
            std::vector<fs::path> runs(fs::directory_iterator(p.desktop.snapshot), fs::directory_iterator());
            ASSERT_EQ(runs.size(), 1u) << what;
            EXPECT_EQ(read_text(runs[0] / "a.txt") + read_text(runs[0] / "d" / "a.txt"), "a") << what;
            EXPECT_EQ(read_text(runs[0] / "c.txt"), "c") << what << ": later files are still written";
            EXPECT_FALSE(fs::exists(p.tmp / "evil")) << what;
        }
    }
}

// ---- the removal mode by hand ------------------------------------------------------

TEST(DeltreeMode, DeletesOnlyWithExactlyTwoWordsBehindIt)
{
    scratch_dir scratch;
    fs::path folder = scratch.path / "GVE2E";
    write_text(folder / "sub" / "f.jar", "x");
    struct mode_case {
        std::vector<std::string> words;
        bool deletes;
    };
    const mode_case cases[] = {
        {{"-deltree*", folder.string()}, false},
        {{"-deltree*", folder.string(), "GVE2E", "extra"}, false},
        {{"-deltree*", folder.string(), "GVE2E"}, true},
    };
    for (const mode_case& c : cases) {
        std::vector<std::string> argv = {GLIMVANE_STUB};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        run_result r = run_program(argv);
        EXPECT_EQ(r.exit_code, 0) << r.command;
        EXPECT_EQ(r.out, "") << r.command;
        EXPECT_EQ(fs::exists(folder), !c.deletes) << r.command;
    }
}

// ---- what others may have planted ----------------------------------------------------

// Anyone can plant links in a temp path shared by all users, named like the
// next run ids ("GV", uptime seconds, process id). The shell plants them
// for its own process id and then becomes the launcher.
TEST(PlantedLinks, AtTheGuessableRunIdsTheRunTakesAFreshOneAndNothingOutsideIsTouched)
{
    package p;
    pack_usual(p);
    fs::path outside = p.root / "outside";
    write_text(outside / "victim.jar", "precious");
    std::string script = "s=$(cut -d. -f1 /proc/uptime); for d in -1 0 1 2; do "
                         "ln -s '" + outside.string() + "' \"$TMPDIR/$(printf 'GV%X%X' $(( (s + d) & 65535 )) $$)\"; "
                         "done; exec '" + p.exe.string() + "' -D* -Q*";
    std::vector<std::string> env = p.desktop.env();
    env.push_back("TMPDIR=" + p.tmp.string());
    run_result r = run_program({"/bin/sh", "-c", script}, env);
    EXPECT_EQ(r.exit_code, 13) << "the usual package reaches the VM, without a boot class\n" << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);
    std::string taken = value_of(log, "temp.folder.taken");
    std::string folder = value_of(log, "temp.folder");
    ASSERT_FALSE(taken.empty()) << r.out;
    EXPECT_TRUE(fs::is_symlink(taken)) << "someone else's link stays";
    EXPECT_NE(folder, taken);
    EXPECT_TRUE(gone_within(folder, 10)) << "the run's own folder is removed";
    EXPECT_EQ(read_text(outside / "victim.jar"), "precious");

    // The removal mode started by hand on such a link leaves its target alone.
    std::string id = fs::path(taken).filename().string();
    run_result by_hand = run_program({GLIMVANE_STUB, "-deltree*", taken, id});
    EXPECT_EQ(by_hand.exit_code, 0);
    EXPECT_EQ(read_text(outside / "victim.jar"), "precious");
}

// The launcher puts its own folder first on PATH; a zenity lying there (a
// Downloads folder) must never be the one that shows the box.
TEST(PlantedTools, AZenityBesideTheExecutableIsNeverRun)
{
    package p;
    p.pack({"--file", p.source("a.txt", "a") + "=a.txt", "--file", p.source("evil", "e") + "=up/evil", "--main",
            "demo.Main"});
    rename_record(p, 2, "up/evil", "../evil");  // error 41, reported after PATH has changed
    fs::path marker = p.root / "planted-ran";
    write_text(p.exe.parent_path() / "zenity", "#!/bin/sh\ntouch '" + marker.string() + "'\n");
    fs::permissions(p.exe.parent_path() / "zenity", fs::perms::owner_all);
    run_result r = p.launch({});
    EXPECT_EQ(r.exit_code, 41) << r.out;
    EXPECT_EQ(p.desktop.calls("zenity").size(), 1u) << "the user's own zenity shows it";
    EXPECT_FALSE(fs::exists(marker));
}

TEST(QuotedExecutable, StillHasItsTempFolderRemoved)
{
    package p;
    p.exe = p.root / "say \"hi\"" / "demo \"app\"";
    pack_usual(p);
    run_result r = p.launch({"-D*", "-Q*"});
    EXPECT_EQ(r.exit_code, 13) << "the usual package reaches the VM, without a boot class\n" << r.out;
    std::string folder = value_of(log_texts(r.out), "temp.folder");
    ASSERT_FALSE(folder.empty()) << r.out;
    EXPECT_TRUE(gone_within(folder, 10));
}

}  // namespace
