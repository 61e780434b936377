// glimvane-pack run as a user runs it, and what it writes read back with
// the launcher's own code.
#include "boot/boot_class.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/vars.h"
#include "payload/writer.h"
#include "support/config.h"
#include "support/paths.h"
#include "support/track.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <random>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using bytes = std::vector<unsigned char>;

bytes read_bytes(const fs::path& path)
{
    std::string text = read_text(path);
    return bytes(text.begin(), text.end());
}

void write_bytes(const fs::path& path, const bytes& data)
{
    write_text(path, std::string(data.begin(), data.end()));
}

// The offset of the block's marker, which must occur exactly once.
size_t block_at(const bytes& image)
{
    size_t at;
    EXPECT_EQ(count_config_markers(image.data(), image.size(), &at), 1);
    return at;
}

void put32(bytes& file, size_t at, int32_t value)
{
    for (int i = 0; i < 4; i++) file[at + size_t(i)] = static_cast<unsigned char>(uint32_t(value) >> (8 * i));
}

run_result run_pack(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{GLIMVANE_PACK};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

std::string random_text(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(length, 0);
    for (char& c : text) c = char(random());
    return text;
}

struct section {
    int32_t offset;
    char type;
};

std::vector<section> sections_of(const bytes& file)
{
    std::vector<section> found;
    int32_t length = int32_t(file.size());
    for (int32_t r = find_section(file.data(), 0, length); r > 0;
         r = find_section(file.data(), r + section_header_size + section_payload_length(&file[size_t(r)]), length))
        found.push_back({r, section_type(&file[size_t(r)])});
    return found;
}

// Input files of a small application and the command that packs them.
struct packed_app : ::testing::Test {
    scratch_dir scratch;
    fs::path in, out;
    void SetUp() override
    {
        in = scratch.path / "in";
        out = scratch.path / "out" / "app.bin";
        fs::create_directories(out.parent_path());
        write_text(in / "app.jar", random_text(5000, 1));
        write_text(in / "lib" / "dep.jar", random_text(300, 2));
        write_text(in / "x.so", random_text(1000, 3));
        write_text(in / "notes.txt", "notes\n");
        write_text(in / "getjava.exe", random_text(700, 4));
        write_text(in / "data.bin", random_text(64, 5));
        write_text(in / "empty.bin", "");
    }
    std::vector<std::string> args(const fs::path& output)
    {
        return {"--stub", GLIMVANE_STUB, "--out", output.string(), "--name", "Demo App",
                "--jar", (in / "app.jar").string(), "--jar=" + (in / "lib" / "dep.jar").string(),
                "--file", (in / "x.so").string() + "=native\\linux/x.so",
                "--file", (in / "notes.txt").string() + "=doc/notes.txt",
                "--main", "com.example.Main", "--var", "mx=512", "--var", "jop=-Dk=v",
                "--getjava", (in / "getjava.exe").string(),
                "--payload", (in / "data.bin").string(), "--payload", (in / "empty.bin").string()};
    }
    bytes pack_app()
    {
        run_result r = run_pack(args(out));
        EXPECT_EQ(r.exit_code, 0) << r.command << "\n" << r.err;
        return read_bytes(out);
    }
};

TEST(StubImage, HoldsTheMarkerOnceAndNothingTheScanCouldTakeForAHeader)
{
    std::vector<std::string> stubs{GLIMVANE_STUB};
    if (*GLIMVANE_WIN64_STUB && fs::exists(GLIMVANE_WIN64_STUB)) stubs.push_back(GLIMVANE_WIN64_STUB);
    std::string magic;
    for (int i = 0; i < section_magic_size; i++) magic += char(section_magic_byte(i));
    for (const std::string& stub : stubs) {
        bytes image = read_bytes(stub);
        ASSERT_GT(image.size(), 1000u) << stub;
        size_t at;
        ASSERT_EQ(count_config_markers(image.data(), image.size(), &at), 1) << stub;
        EXPECT_TRUE(std::all_of(image.begin() + ptrdiff_t(at) + 16, image.begin() + ptrdiff_t(at) + config_block_size,
                                [](unsigned char b) { return b == 0; }))
            << stub << ": a bare stub's block is all zeros";
        EXPECT_EQ(std::string(image.begin(), image.end()).find(magic), std::string::npos) << stub;
        EXPECT_EQ(find_section(image.data(), 0, int32_t(image.size())), 0) << stub;
    }
}

TEST_F(packed_app, RoundTripThroughTheLaunchersOwnCode)
{
    bytes file = pack_app();
    ASSERT_FALSE(file.empty());
    EXPECT_NE(fs::status(out).permissions() & fs::perms::owner_exec, fs::perms::none);

    std::vector<section> found = sections_of(file);
    std::string types;
    for (const section& s : found) types += s.type;
    ASSERT_EQ(types, "VFFFFFJZZ") << "the boot class follows the given files";
    int32_t stub_size = int32_t(fs::file_size(GLIMVANE_STUB));
    EXPECT_EQ(found[0].offset, (stub_size + 15) / 16 * 16);

    // The block: count, the end of the last payload (one byte of trailing
    // data follows the empty last payload), the two names.
    const unsigned char* block = &file[block_at(file)];
    int32_t count, end;
    memcpy(&count, block + config_count_offset, 4);
    memcpy(&end, block + config_length_offset, 4);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(end, int32_t(file.size()) - 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(block + config_display_offset), "Demo App");
    EXPECT_STREQ(reinterpret_cast<const char*>(block + config_original_offset), "app.bin");

    const char* vars = reinterpret_cast<const char*>(&file[size_t(found[0].offset) + 32]);
    EXPECT_STREQ(vars, "packager=glimvane-pack 1.1\njars=app.jar;dep.jar\nmain=com.example.Main\nmx=512\njop=-Dk=v\n");
    EXPECT_STREQ(get_var(vars, "jop", nullptr), "-Dk=v");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[size_t(found[7].offset) + 32]), 64),
              read_text(in / "data.bin"));
    EXPECT_EQ(section_payload_length(&file[size_t(found[8].offset)]), 0);

    fs::path temp = scratch.path / "GVTEST";
    fs::create_directories(temp);
    snprintf(temp_folder, sizeof temp_folder, "%s", temp.c_str());
    for (const section& s : found) {
        if (s.type != 'F' && s.type != 'J') continue;
        const unsigned char* header = &file[size_t(s.offset)];
        unsigned char* plain = descramble_section(header);
        char* path = extract_file(plain, section_payload_length(header));
        EXPECT_NE(path, nullptr) << s.offset;
        track_free(plain, 1);
        track_free(path, 1);
    }
    temp_folder[0] = 0;
    const std::pair<fs::path, fs::path> copies[] = {
        {"app.jar", "app.jar"}, {"lib/dep.jar", "dep.jar"}, {"x.so", "native/linux/x.so"},
        {"notes.txt", "doc/notes.txt"}, {"getjava.exe", "getjava.exe"}};
    for (const auto& c : copies) EXPECT_EQ(read_text(temp / c.second), read_text(in / c.first)) << c.second;
    EXPECT_EQ(read_text(temp / "glimvaneboot.class"),
              std::string(reinterpret_cast<const char*>(boot_class_bytes), boot_class_size));
    EXPECT_EQ(read_text(temp / "glimvaneboot.class").substr(0, 4), "\xCA\xFE\xBA\xBE") << "a class file";
}

TEST_F(packed_app, NoBootLeavesTheBootClassOutAndAGivenOneNeedsIt)
{
    const std::string o = out.string();
    const std::string own = (in / "app.jar").string() + "=glimvaneboot.class";
    run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", o, "--file", own});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("pack with --no-boot to bring your own"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out.parent_path()));

    for (bool bring_own : {false, true}) {
        std::vector<std::string> words = {"--stub", GLIMVANE_STUB, "--out", o, "--no-boot"};
        if (bring_own) words.insert(words.end(), {"--file", own});
        r = run_pack(words);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        bytes file = read_bytes(out);
        std::string types;
        for (const section& s : sections_of(file)) types += s.type;
        EXPECT_EQ(types, bring_own ? "VF" : "V");
        r = run_pack({"inspect", o});
        EXPECT_EQ(r.out.find("file 'glimvaneboot.class' (" + std::to_string(boot_class_size) + " bytes)"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("file 'glimvaneboot.class' (5000 bytes)") != std::string::npos, bring_own) << r.out;
    }
}

// The boot class goes first on the class path in a jar of its own, the same
// bytes at every pack; the launcher unpacks the jar as it is.
TEST_F(packed_app, FastStartPutsTheBootClassInAJarFirstOnTheClassPath)
{
    std::vector<std::string> words = {"--stub", GLIMVANE_STUB, "--out", out.string(), "--jar",
                                      (in / "app.jar").string(), "--main", "M", "--fast-start"};
    ASSERT_EQ(run_pack(words).exit_code, 0);
    bytes file = read_bytes(out);
    std::vector<section> found = sections_of(file);
    const char* vars = reinterpret_cast<const char*>(&file[size_t(found[0].offset) + 32]);
    EXPECT_STREQ(vars, "packager=glimvane-pack 1.1\njars=glimvaneboot.jar;app.jar\nmain=M\nfaststart=1\n");
    fs::path again = scratch.path / "again" / "app.bin";
    fs::create_directories(again.parent_path());
    words[3] = again.string();
    ASSERT_EQ(run_pack(words).exit_code, 0);
    EXPECT_TRUE(read_bytes(again) == file);

    fs::path temp = scratch.path / "GVFAST";
    fs::create_directories(temp);
    snprintf(temp_folder, sizeof temp_folder, "%s", temp.c_str());
    track_free(extract_section(&file[size_t(found[1].offset)]), 1);
    temp_folder[0] = 0;
    // unzip reads it back: one stored entry, the class itself.
    run_result r = run_program({"/usr/bin/unzip", "-p", (temp / "glimvaneboot.jar").string(), "glimvaneboot.class"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, std::string(reinterpret_cast<const char*>(boot_class_bytes), boot_class_size));
}

TEST_F(packed_app, SameInputsGiveTheSameBytes)
{
    bytes first = pack_app();
    fs::path again = scratch.path / "again" / "app.bin";
    fs::create_directories(again.parent_path());
    run_result r = run_pack(args(again));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(read_bytes(again) == first);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1)
        << "no temporary file is left beside the output";
}

TEST_F(packed_app, RefusesBadInputWithAClearMessage)
{
    fs::path no_marker = scratch.path / "plain.bin";
    write_text(no_marker, std::string(5000, 'p'));
    fs::path twice = scratch.path / "twice.bin";
    write_text(twice, read_text(GLIMVANE_STUB) + read_text(GLIMVANE_STUB));
    fs::path huge = in / "huge.bin";
    { std::ofstream(huge, std::ios::binary); }
    fs::resize_file(huge, uint64_t(1) << 31);  // sparse: nothing is read before the refusal
    const std::string stub = GLIMVANE_STUB;
    const std::string in_stub = (in / "stub").string();
    fs::copy_file(stub, in_stub);
    fs::create_directories(in / "void");
    write_text(in / "args.txt", "--jar\n" + (in / "app.jar").string() + "\n");
    write_text(in / "my.ico", "not an icon");
    const std::string o = out.string();
    const std::string jar = (in / "app.jar").string();
    struct refuse_case {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        std::string message;
    };
    const refuse_case cases[] = {
        {"missing jar", {"--stub", stub, "--out", o, "--jar", (in / "nope.jar").string()}, 1, "cannot read"},
        {"missing stub", {"--stub", (in / "nope").string(), "--out", o}, 1, "cannot read"},
        {"display name of 68 bytes", {"--stub", stub, "--out", o, "--name", std::string(68, 'n')}, 1, "at most 67"},
        {"file name of 68 bytes", {"--stub", stub, "--out", (out.parent_path() / std::string(68, 'f')).string()}, 1, "at most 67"},
        {"empty key", {"--stub", stub, "--out", o, "--var", "=x"}, 1, "the key must"},
        {"key with a line feed", {"--stub", stub, "--out", o, "--var", "a\nb=c"}, 1, "the key must"},
        {"value with a line feed", {"--stub", stub, "--out", o, "--var", "a=b\nc"}, 1, "the value must"},
        {"var without =", {"--stub", stub, "--out", o, "--var", "abc"}, 2, "the key must"},
        {"key given twice", {"--stub", stub, "--out", o, "--main", "M", "--var", "main=N"}, 1, "given twice"},
        {"key the launcher would find inside a value", {"--stub", stub, "--out", o, "--var", "jop=-Dmx=5"}, 1, "'mx='"},
        {"key the boot class would find inside another key", {"--stub", stub, "--out", o, "--var", "domain=x"}, 1,
         "'main='"},
        {"fast start hidden in a value", {"--stub", stub, "--out", o, "--var", "jop=-Dfaststart=1"}, 1,
         "'faststart='"},
        {"fast start as a bare key", {"--stub", stub, "--out", o, "--var", "faststart=1"}, 1, "use --fast-start"},
        {"a relay neither on nor off", {"--stub", stub, "--out", o, "--relay", "yes"}, 2, "give on or off"},
        {"the relay twice", {"--stub", stub, "--out", o, "--relay", "on", "--var", "relay=off"}, 1, "given twice"},
        {"path leaving the temp folder", {"--stub", stub, "--out", o, "--file", jar + "=../x.jar"}, 1, "must be relative"},
        {"absolute path", {"--stub", stub, "--out", o, "--file", jar + "=/x.jar"}, 1, "must be relative"},
        {"two files stored alike", {"--stub", stub, "--out", o, "--jar", jar, "--file", jar + "=lib/../app.jar"}, 1,
         "must be relative"},
        {"two files stored as one", {"--stub", stub, "--out", o, "--jar", jar, "--file", jar + "=app.jar"}, 1, "stored as"},
        {"stub without the marker", {"--stub", no_marker.string(), "--out", o}, 1, "not a glimvane launcher stub"},
        {"stub with the marker twice", {"--stub", twice.string(), "--out", o}, 1, "2 times"},
        {"beyond 2^31 bytes", {"--stub", stub, "--out", o, "--payload", huge.string()}, 1, "limit is 2147483647"},
        {"unknown option", {"--stub", stub, "--out", o, "--frobnicate"}, 2, "unknown option"},
        {"no output", {"--stub", stub}, 2, "required"},
        {"option given twice", {"--stub", stub, "--stub", stub, "--out", o}, 2, "only once"},
        {"a jar stored under a dot name", {"--stub", stub, "--out", o, "--jar", jar + "=.app.jar"}, 1, "--jar SRC=REL"},
        {"the output is the jar, spelt otherwise",
         {"--stub", stub, "--out", (in / "lib" / ".." / "app.jar").string(), "--jar", jar}, 1, "is the input '" + jar},
        {"the output is the stub, spelt otherwise", {"--stub", in_stub, "--out", (in / "." / "stub").string()}, 1,
         "is the input '" + in_stub},
        {"a missing argument file", {"@" + (in / "nope.txt").string()}, 2, "nope.txt"},
        {"an empty folder", {"--stub", stub, "--out", o, "--dir", (in / "void").string()}, 2, "holds no file"},
        {"no main class for the standard boot class", {"--stub", stub, "--out", o, "--jar", jar}, 1, "give --main CLASS"},
        {"an empty main class", {"--stub", stub, "--out", o, "--var", "main="}, 1, "give --main CLASS"},
        {"a heap the VM refuses", {"--stub", stub, "--out", o, "--var", "mx=abc"}, 1, "-Xmxabcm, which the VM refuses"},
        {"a heap below the VM's least", {"--stub", stub, "--out", o, "--var", "mx=2"}, 1, "such as --var mx=512"},
        {"a heap in kilobytes", {"--stub", stub, "--out", o, "--var", "mx=524288k"}, 1, "whole number of megabytes"},
        {"a quote inside a jop option", {"--stub", stub, "--out", o, "--var", "jop=-Xss2m -Dapp.title=\"My App\""}, 1,
         "in '-Dapp.title=\"My App\"' a quote stands inside"},
        {"text after a jop option's closing quote", {"--stub", stub, "--out", o, "--var", "jop=\"-Da=b c\"d"}, 1,
         "text follows the closing quote"},
        {"a jop quote never closed", {"--stub", stub, "--out", o, "--var", "jop=-Xss2m \"-Da=b"}, 1, "never closed"},
        {"--jar and --var jars", {"--stub", stub, "--out", o, "--jar", jar, "--var", "jars=x.jar"}, 1,
         "--jar writes it already"},
        {"the output is the argument file", {"--stub", stub, "--out", (in / "args.txt").string(), "@" + (in / "args.txt").string()},
         1, "is the input '" + (in / "args.txt").string()},
        {"the output is the icon", {"--stub", stub, "--out", (in / "my.ico").string(), "--icon", (in / "my.ico").string()}, 1,
         "is the input '" + (in / "my.ico").string()},
        {"a stub too large to be one", {"--stub", huge.string(), "--out", o}, 1, "more than a stub or an icon can be"},
        {"a splash image that is none", {"--stub", stub, "--out", o, "--splash", (in / "notes.txt").string()}, 1,
         "must be a PNG, GIF or JPEG"},
        {"a missing splash image", {"--stub", stub, "--out", o, "--splash", (in / "nope.png").string()}, 1, "cannot read"},
        {"an instance method without its class", {"--stub", stub, "--out", o, "--single-instance", "open"}, 2,
         "as CLASS.METHOD"},
        {"an instance method that is no name", {"--stub", stub, "--out", o, "--single-instance=app.Main.1st"}, 2,
         "as CLASS.METHOD"},
        {"one instance twice", {"--stub", stub, "--out", o, "--single-instance", "--single-instance"}, 2, "only once"},
    };
    for (const refuse_case& c : cases) {
        std::vector<std::string> args = c.args;
        // A main class, unless the case is about it.
        // (Judged by the case and its words, never by paths, which may hold "main" themselves.)
        bool main = std::string(c.name).find("main") != std::string::npos || c.message.find("'main='") != std::string::npos ||
                    std::any_of(args.begin(), args.end(),
                                [](const std::string& a) { return a == "--main" || a.rfind("main=", 0) == 0; });
        if (!main && std::find(args.begin(), args.end(), "--out") != args.end()) args.insert(args.end(), {"--main", "M"});
        run_result r = run_pack(args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_TRUE(fs::is_empty(out.parent_path())) << c.name << ": nothing written";
    }
    EXPECT_EQ(read_text(in / "app.jar"), random_text(5000, 1)) << "the inputs are untouched";
    EXPECT_EQ(read_text(in / "my.ico"), "not an icon");
    EXPECT_EQ(read_text(in / "args.txt"), "--jar\n" + (in / "app.jar").string() + "\n");
    EXPECT_EQ(read_text(in_stub), read_text(stub));

    pack_app();
    run_result r = run_pack({"--stub", o, "--out", (scratch.path / "re.bin").string(), "--main", "M"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("already a packaged executable"), std::string::npos) << r.err;
}

TEST(PackHelp, ShowsTheOptions)
{
    run_result r = run_pack({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* option : {"--stub", "--out", "--name", "--jar", "--file", "--main", "--var", "--getjava",
                               "--payload", "--icon", "--version-info", "--execution-level", "--console",
                               "--no-boot", "--fast-start", "--relay", "--runtime", "--compress", "--splash",
                               "--single-instance", "inspect"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST_F(packed_app, InspectAGoodFile)
{
    pack_app();
    run_result r = run_pack({"inspect", out.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    const std::string boot = "file 'glimvaneboot.class' (" + std::to_string(boot_class_size) + " bytes)";
    const char* expected[] = {"block: sections=9 ", "name='Demo App' exe='app.bin'",
                              "section 1 at ", "type V", "    jars=app.jar;dep.jar",
                              "type F", "file 'native\\linux/x.so' (1000 bytes)", "type J",
                              "file 'getjava.exe' (700 bytes)", boot.c_str(), "section 9 at ", "type Z, payload 0 bytes, signature ok",
                              "trailing data: 1 bytes", "ok: the file would launch"};
    for (const char* text : expected) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;
}

TEST_F(packed_app, InspectDamagedFiles)
{
    const bytes good = pack_app();
    const std::vector<section> found = sections_of(good);
    ASSERT_EQ(found.size(), 9u);
    const size_t count_at = block_at(good) + size_t(config_count_offset);
    int32_t end;
    memcpy(&end, &good[block_at(good) + size_t(config_length_offset)], 4);

    struct damage_case {
        const char* name;
        bytes file;
        const char* error;  // null: the file launches
    };
    std::vector<damage_case> cases;
    bytes flipped = good;
    flipped[size_t(found[2].offset) + 40] ^= 0x01;
    cases.push_back({"payload byte flipped", flipped, "error: 91: EXE section digital signature check failed"});
    cases.push_back({"cut one byte below the minimum length", bytes(good.begin(), good.begin() + end - 1),
                     "error: 90: 'bad.bin' is a partial/truncated EXE (partial download?)"});
    bytes count0 = good, count100001 = good, one_more = good, one_fewer = good;
    put32(count0, count_at, 0);
    put32(count100001, count_at, 100001);
    put32(one_more, count_at, 8);
    put32(one_fewer, count_at, 10);
    cases.push_back({"count 0", count0, "error: 96: Invalid maximum number of EXE sections 0"});
    cases.push_back({"count 100001", count100001, "error: 96: Invalid maximum number of EXE sections 100001"});
    cases.push_back({"one section more than expected", one_more, "error: 97: Expected 8 sections in 'bad.bin' (found=9)"});
    cases.push_back({"one section fewer than expected", one_fewer, "error: 97: Expected 10 sections in 'bad.bin' (found=9)"});
    bytes not_vars = good;
    size_t v = size_t(found[0].offset);
    put_section_header(&not_vars[v], 'B', &good[v + 32], section_payload_length(&good[v]));
    cases.push_back({"first section not V", not_vars, "error: 98: Vars EXE seciton is missing"});
    bytes trailing = good;
    trailing.insert(trailing.end(), 4096, 0xA5);
    cases.push_back({"trailing data", trailing, nullptr});

    fs::path bad = scratch.path / "bad.bin";
    for (const damage_case& c : cases) {
        write_bytes(bad, c.file);
        run_result r = run_pack({"inspect", bad.string()});
        EXPECT_EQ(r.exit_code, c.error ? 1 : 0) << c.name << "\n" << r.out;
        EXPECT_NE(r.out.find(c.error ? c.error : "ok: the file would launch"), std::string::npos)
            << c.name << "\n" << r.out;
    }
}

// ---- pack, inspect and the launcher agree -------------------------------------

struct crafted_file {
    std::string stored;
    std::string contents;
};

// A package written here without glimvane-pack's checks: the bare stub, a
// Vars section with `vars` as its payload and one F section per file.
bytes craft(const std::string& stub, const std::string& vars, const std::vector<crafted_file>& files)
{
    bytes file = read_bytes(stub);
    std::vector<std::pair<char, bytes>> sections{{'V', bytes(vars.begin(), vars.end())}};
    for (const crafted_file& f : files) {
        bytes record(size_t(record_length(f.stored.size(), f.contents.size())));
        put_record_head(record.data(), f.stored.c_str(), uint32_t(f.contents.size()));
        std::copy(f.contents.begin(), f.contents.end(), record.end() - ptrdiff_t(f.contents.size()));
        scramble_bytes(record.data(), record.data(), record.size());
        sections.emplace_back('F', record);
    }
    for (const auto& s : sections) {
        file.resize((file.size() + 15) / 16 * 16);
        unsigned char header[section_header_size];
        put_section_header(header, s.first, s.second.data(), int32_t(s.second.size()));
        file.insert(file.end(), header, header + section_header_size);
        file.insert(file.end(), s.second.begin(), s.second.end());
    }
    size_t block = block_at(file);
    put32(file, block + size_t(config_count_offset), int32_t(sections.size()));
    put32(file, block + size_t(config_length_offset), int32_t(file.size()));
    memcpy(&file[block + size_t(config_original_offset)], "app", 4);
    file.push_back(0);  // the scan needs a byte behind an empty last payload
    return file;
}

// Where packages are launched: a temp path of 85 bytes with its separator,
// so that a temp folder (with a run id of up to 13 bytes) stays within 100.
struct launch_place {
    scratch_dir scratch;
    fs::path tmp, outside;
    launch_place()
    {
        tmp = scratch.path / "tmp";
        tmp += std::string(84 - tmp.string().size(), 't');
        fs::create_directories(tmp);
        outside = scratch.path / "outside";
        write_text(outside / "keep.txt", "kept");
    }
    // The launcher's exit code for the package, 0 when it got through the
    // extraction to the Java side: these packages hold no main class, so the
    // standard boot class ends with 51 (or 50 when none is named), or, left
    // out of a crafted package, the VM finds no boot class (13). The temp folder must go and nothing
    // outside it may change.
    int launches = 0;
    // A fresh place for each: the removal child of the last launch may
    // still run from its file.
    fs::path place_exe() { return scratch.path / std::to_string(++launches) / "app"; }
    int launch(const bytes& package)
    {
        fs::path exe = place_exe();
        fs::create_directories(exe.parent_path());
        write_bytes(exe, package);
        fs::permissions(exe, fs::perms::owner_all);
        run_result r = run_program({exe.string(), "-Q*"}, {"TMPDIR=" + tmp.string()});
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::is_empty(tmp) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(fs::is_empty(tmp)) << "the temp folder is removed";
        EXPECT_EQ(read_text(outside / "keep.txt"), "kept");
        return r.exit_code == 50 || r.exit_code == 51 || r.exit_code == 13 ? 0 : r.exit_code;
    }
};

struct name_case {
    const char* name;
    std::vector<std::string> stored;
    const char* refusal;  // what glimvane-pack says; null: it packs
    int posix_launch;     // the linux launcher's exit code; -1: depends on the temp folder
    bool windows_ok;      // inspect calls a Windows package with these names good
    bool windows_only = false;  // the refusal is for Windows stubs: a Linux stub packs and launches it
};

TEST(PackInspectLauncher, AgreeOnEveryStoredName)
{
    const std::string p158 = std::string(150, 'p') + "/abc.txt", p159 = std::string(151, 'p') + "/abc.txt";
    const std::string p250 = std::string(125, 'q') + "/" + std::string(124, 'r');
    const name_case cases[] = {
        {"plain names, sub-folders and blanks inside", {"app.jar", "lib/x.so", "my docs\\read me.txt"}, nullptr, 0, true},
        {"a dot file that is not a jar", {".config"}, nullptr, 0, true},
        {"a stored path of 158 bytes", {p158}, nullptr, 0, true},
        {"a stored path of 159 bytes", {p159}, "159 bytes long; at most 158", -1, false},
        {"a stored path of 250 bytes", {p250}, "250 bytes long", 41, false},
        {"a path leaving the folder", {"../x"}, "must be relative", 41, false},
        {"a file below another file", {"f1", "f1/f2"}, "below the file 'f1'", 41, false},
        {"a file where another file needs a folder, in another case", {"F1/f2", "f1"}, "below the file 'F1'", 0, false,
         true},
        {"a folder where another file stands", {"f1/f2", "f1"}, "below the file 'f1'", 41, false},
        {"a trailing separator", {"dir/"}, "ends in a separator", 41, false},
        {"two separators in a row", {"a//b"}, "two separators in a row", 0, true},
        {"a device name", {"con"}, "reserved device name", 0, false, true},
        {"a device name with extensions", {"lib/Aux.tar.gz"}, "reserved device name", 0, false, true},
        {"a numbered device name", {"LPT9.txt"}, "reserved device name", 0, false, true},
        {"a reserved character", {"a<b"}, "one of <>:", 0, false, true},
        {"a colon", {"x/a:b"}, "one of <>:", 0, false, true},
        {"a control character", {"a\x01" "b"}, "control character", 0, false, true},
        {"a name ending in a dot", {"sub./x"}, "ends in a dot or a blank", 0, false, true},
        {"a name ending in a blank", {"name "}, "ends in a dot or a blank", 0, false, true},
        // The launcher marks each run folder with this file of its own.
        {"the launcher's owner mark", {".glimvane-owner"}, "are the launcher's own", 0, true},
        {"a name beginning with the mark's, in another case", {"lib/.Glimvane-Owner.new"}, "are the launcher's own", 0,
         true, true},
    };
    scratch_dir scratch;
    fs::path src = scratch.path / "src.bin";
    write_text(src, "contents");
    fs::path out = scratch.path / "out" / "app";
    fs::create_directories(out.parent_path());
    fs::path crafted = scratch.path / "crafted";
    launch_place place;
    const bool windows = *GLIMVANE_WIN64_STUB && fs::exists(GLIMVANE_WIN64_STUB);
    for (const name_case& c : cases) {
        std::vector<std::string> files_args;
        std::vector<crafted_file> files;
        for (const std::string& stored : c.stored) {
            files_args.insert(files_args.end(), {"--file", src.string() + "=" + stored});
            files.push_back({stored, "contents"});
        }
        for (const char* stub : {GLIMVANE_STUB, GLIMVANE_WIN64_STUB}) {
            const bool on_windows = stub != std::string(GLIMVANE_STUB);
            if (on_windows && !windows) continue;
            std::vector<std::string> args{"--stub", stub, "--out", out.string(), "--main", "x"};
            args.insert(args.end(), files_args.begin(), files_args.end());
            const char* refusal = c.windows_only && !on_windows ? nullptr : c.refusal;
            run_result packed = run_pack(args);
            EXPECT_EQ(packed.exit_code, refusal ? 1 : 0) << c.name << " " << stub << "\n" << packed.err;
            if (refusal) {
                EXPECT_NE(packed.err.find(refusal), std::string::npos) << c.name << "\n" << packed.err;
                EXPECT_NE(packed.err.find("(from '" + src.string() + "')"), std::string::npos) << c.name << ": names the input";
                EXPECT_FALSE(fs::exists(out)) << c.name;
            } else if (!on_windows) {
                EXPECT_EQ(place.launch(read_bytes(out)), 0) << c.name << ": what the packer writes launches";
            }
            fs::remove(out);
        }

        // The same package, written without the packer's checks.
        write_bytes(crafted, craft(GLIMVANE_STUB, "main=x\n", files));
        run_result inspected = run_pack({"inspect", crafted.string()});
        bool good = inspected.exit_code == 0;
        EXPECT_EQ(good, c.posix_launch == 0) << c.name << "\n" << inspected.out;
        if (!good) {
            EXPECT_NE(inspected.out.find("error: 41: "), std::string::npos) << c.name << "\n" << inspected.out;
        }
        if (c.posix_launch >= 0) {
            EXPECT_EQ(place.launch(read_bytes(crafted)), c.posix_launch) << c.name;
        }

        if (!windows) continue;
        write_bytes(crafted, craft(GLIMVANE_WIN64_STUB, "main=x\n", files));
        inspected = run_pack({"inspect", crafted.string()});
        EXPECT_EQ(inspected.exit_code == 0, c.windows_ok) << c.name << " (Windows)\n" << inspected.out;
        EXPECT_EQ(inspected.out.find("winerr="), std::string::npos) << c.name << ": no invented error number";
    }
}

TEST(PackInspectLauncher, AgreeOnOddVarsAndSizes)
{
    struct odd_case {
        const char* name;
        bytes package;
        int launch;          // the launcher's exit code
        const char* verdict; // inspect's last line
    };
    bytes big = craft(GLIMVANE_STUB, std::string("main=x\n", 8), {{"a.txt", "a"}});
    std::vector<odd_case> cases = {
        // Both reach the VM, which finds no boot class in a crafted package.
        {"an empty Vars payload", craft(GLIMVANE_STUB, "", {}), 13, "ok: the file would launch"},
        {"a Vars text without its NUL", craft(GLIMVANE_STUB, "main=x\nmx=64", {{"a.txt", "a"}}), 13,
         "ok: the file would launch"},
        {"a file of exactly 2^31 bytes", {}, 21, "error: 21: Failed to map 'app' into memory"},
    };
    launch_place place;
    for (odd_case& c : cases) {
        fs::path file = place.place_exe();
        fs::create_directories(file.parent_path());
        write_bytes(file, c.package);
        if (c.package.empty()) {
            write_bytes(file, big);
            fs::resize_file(file, uint64_t(1) << 31);  // sparse trailing data
        }
        fs::permissions(file, fs::perms::owner_all);
        run_result inspected = run_pack({"inspect", file.string()});
        EXPECT_NE(inspected.out.find(c.verdict), std::string::npos) << c.name << "\n" << inspected.out;
        run_result launched = run_program({file.string(), "-Q*"}, {"TMPDIR=" + place.tmp.string()});
        EXPECT_EQ(launched.exit_code, c.launch) << c.name << "\n" << launched.out << launched.err;
    }
}

// ---- interrupted and failed writes ------------------------------------------------

// Nothing but `keep` in the folder of the output.
bool only(const fs::path& folder, const std::string& keep = "")
{
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        if (e.path().filename() != keep) return false;
    return true;
}

TEST(PackInterrupted, ASignalOrAFullDiskLeavesNoTemporaryFile)
{
    scratch_dir scratch;
    fs::path big = scratch.path / "big.jar";
    { std::ofstream(big, std::ios::binary); }
    fs::resize_file(big, uint64_t(1800) << 20);  // sparse: read fast, hashed slowly enough to be caught
    fs::path folder = scratch.path / "out";
    fs::create_directories(folder);
    fs::path out = folder / "app";
    for (int signal : {SIGINT, SIGTERM}) {
        std::vector<std::string> argv{GLIMVANE_PACK, "--stub", GLIMVANE_STUB, "--out", out.string(), "--jar", big.string(),
                                      "--main", "M"};
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ), 0);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (only(folder) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(only(folder)) << "the temporary file appeared";
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_TRUE(only(folder)) << signal << ": no temporary file left";
    }
    // A file-size limit stands in for a full disk: writes fail with EFBIG.
    std::string command = "trap '' XFSZ; ulimit -f 8192; exec '" + std::string(GLIMVANE_PACK) + "' --stub '" +
                          GLIMVANE_STUB + "' --out '" + out.string() + "' --main M --jar '" + big.string() + "'";
    run_result r = run_program({"/bin/sh", "-c", command});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write '" + out.string() + "'"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".tmp"), std::string::npos) << "names the output, not the temporary file";
    EXPECT_TRUE(only(folder));
}

// ---- options for real projects --------------------------------------------------------

TEST(PackOptions, ArgumentFilesFoldersAndRenamedJars)
{
    scratch_dir scratch;
    fs::path in = scratch.path / "in";
    write_text(in / "a" / "core.jar", "core a");
    write_text(in / "b" / "core.jar", "core b");
    write_text(in / "libs" / "z.so", "z");
    write_text(in / "libs" / "sub" / "y.so", "y");
    // More --file options than a Windows command line can hold.
    std::string lines = "--jar\n" + (in / "a" / "core.jar").string() + "\r\n--jar=" + (in / "b" / "core.jar").string() +
                        "=core-b.jar\n\n";
    for (int i = 0; i < 2000; i++) {
        write_text(in / "many" / ("f" + std::to_string(i)), std::to_string(i));
        lines += "--file\n" + (in / "many" / ("f" + std::to_string(i))).string() + "=many/f" + std::to_string(i) + "\n";
    }
    write_text(scratch.path / "args.txt", lines);
    fs::path out = scratch.path / "app";
    run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M", "@" + (scratch.path / "args.txt").string(),
                             "--dir", (in / "libs").string(), "--dir", (in / "libs").string() + "=native/x"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = run_pack({"inspect", out.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    for (const char* text : {"    jars=core.jar;core-b.jar\n", "file 'core.jar' (6 bytes)", "file 'core-b.jar' (6 bytes)",
                             "file 'many/f1999' (4 bytes)", "file 'libs/sub/y.so' (1 bytes)", "file 'libs/z.so'",
                             "file 'native/x/sub/y.so'", "file 'native/x/z.so'", "block: sections=2008 "})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    launch_place place;
    EXPECT_EQ(place.launch(read_bytes(out)), 0);
}

// ---- links, launch checks and warnings ------------------------------------------------

// A tree like the distribution's doc trees: a file link inside, a folder
// link inside, a file link and a folder link leaving the tree.
TEST(PackLinks, DirStoresLinksUnderTheirOwnNamesAndRefusesALoop)
{
    scratch_dir scratch;
    fs::path tree = scratch.path / "share" / "demo", licenses = scratch.path / "share" / "licenses";
    write_text(tree / "doc" / "r.txt", "readme");
    write_text(tree / "lib" / "a.so", "native");
    write_text(licenses / "Apache-2.0", "license");
    write_text(licenses / "more" / "NOTICE", "notice");
    fs::create_symlink("r.txt", tree / "doc" / "alias.txt");
    fs::create_directory_symlink("../lib", tree / "doc" / "libs");
    fs::create_symlink("../../licenses/Apache-2.0", tree / "doc" / "copyright");
    fs::create_directory_symlink("../../licenses/more", tree / "doc" / "more");
    fs::create_symlink("nowhere", tree / "doc" / "dangling");
    fs::create_symlink(tree / "doc" / "r.txt", scratch.path / "link.txt");
    fs::path out = scratch.path / "app";
    run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M", "--dir", tree.string(),
                             "--file", (scratch.path / "link.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("'doc/copyright' links to '" + fs::canonical(licenses / "Apache-2.0").string() +
                         "', outside the folder; its content is packed"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("'doc/more' links to '"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'doc/dangling' is a link to nothing; it is left out"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("alias.txt"), std::string::npos) << "a link inside the tree needs no word";
    r = run_pack({"inspect", out.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    for (const char* stored : {"'demo/doc/alias.txt' (6 bytes)", "'demo/doc/r.txt' (6 bytes)",
                               "'demo/doc/libs/a.so' (6 bytes)", "'demo/lib/a.so' (6 bytes)",
                               "'demo/doc/copyright' (7 bytes)", "'demo/doc/more/NOTICE' (6 bytes)",
                               "'link.txt' (6 bytes)"})
        EXPECT_NE(r.out.find(std::string("file ") + stored), std::string::npos) << stored << "\n" << r.out;
    launch_place place;
    EXPECT_EQ(place.launch(read_bytes(out)), 0);

    // A link back into a folder being walked, also by a way round.
    for (const char* loop : {"..", "../../demo"}) {
        fs::remove(out);
        fs::create_directory_symlink(loop, tree / "lib" / "up");
        r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M", "--dir", tree.string()});
        EXPECT_EQ(r.exit_code, 2) << r.err;
        // Met first below doc/libs, the link to lib.
        EXPECT_NE(r.err.find("'doc/libs/up' links to '" + std::string(loop) + "', a folder that holds the link"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("--dir '" + tree.string() + "'"), std::string::npos) << "names the input";
        EXPECT_FALSE(fs::exists(out));
        fs::remove(tree / "lib" / "up");
    }
}

TEST(PackChecks, HeapFormsAreConvertedAndInspectJudgesAsThePackerDoes)
{
    scratch_dir scratch;
    fs::path out = scratch.path / "app";
    for (const auto& form : std::vector<std::pair<std::string, std::string>>{{"1g", "1024"}, {"512M", "512"}, {"384", "384"}}) {
        run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M", "--var", "mx=" + form.first});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err.find("written as") != std::string::npos, form.first != form.second) << r.err;
        r = run_pack({"inspect", out.string()});
        EXPECT_NE(r.out.find("    mx=" + form.second + "\n"), std::string::npos) << r.out;
    }
    // Packages written without the packer's checks.
    const std::string boot(reinterpret_cast<const char*>(boot_class_bytes), boot_class_size);
    struct judge_case {
        const char* name;
        std::string vars;
        std::vector<crafted_file> files;
        const char* verdict;
    };
    const judge_case cases[] = {
        {"the standard boot class without a main class", "mx=64\n", {{"glimvaneboot.class", boot}}, "give --main CLASS"},
        {"a boot class of its own needs none", "mx=64\n", {{"glimvaneboot.class", "own"}}, "ok: the file would launch"},
        {"mx=1g", "main=M\nmx=1g\n", {}, "-Xmx1gm, which the VM refuses"},
        {"a jop option cut at its blank", "main=M\njop=-Dt=\"a b\"\n", {}, "a quote stands inside the option"},
        {"a good one", "main=M\nmx=0512\njop=\"-Dt=a b\" -Xss2m\n", {}, "ok: the file would launch"},
    };
    for (const judge_case& c : cases) {
        write_bytes(out, craft(GLIMVANE_STUB, c.vars, c.files));
        run_result r = run_pack({"inspect", out.string()});
        EXPECT_NE(r.out.find(c.verdict), std::string::npos) << c.name << "\n" << r.out;
    }
}

// A jar whose manifest reaches outside the package, made by the JDK's jar
// tool (a deflated manifest).
TEST(PackChecks, ClassPathLeavingThePackageIsWarnedAtPackTimeAndByInspect)
{
    const char* jar_tool = "/usr/lib/jvm/java-17-openjdk-amd64/bin/jar";
    if (!fs::exists(jar_tool)) GTEST_SKIP() << "no jar tool";
    scratch_dir scratch;
    write_text(scratch.path / "manifest.txt",
               "Class-Path: /usr/share/java/asm.jar lib/dep.jar lib/ missing.jar\n  %2e%2e/above.jar\n");
    write_text(scratch.path / "x" / "a.txt", "a");
    fs::path app = scratch.path / "app.jar", dep = scratch.path / "dep.jar";
    run_result r = run_program({jar_tool, "cfm", app.string(), (scratch.path / "manifest.txt").string(), "-C",
                                (scratch.path / "x").string(), "a.txt"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    write_text(scratch.path / "dep-manifest.txt", "Class-Path: ../gone.jar\n");
    r = run_program({jar_tool, "cfm", dep.string(), (scratch.path / "dep-manifest.txt").string(), "-C",
                     (scratch.path / "x").string(), "a.txt"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    fs::path out = scratch.path / "pkg";
    r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M", "--jar", app.string(), "--file",
                  dep.string() + "=lib/dep.jar"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    run_result inspected = run_pack({"inspect", out.string()});
    EXPECT_EQ(inspected.exit_code, 0) << inspected.out;
    const std::string from = "'app.jar' (from '" + app.string() + "'): its manifest's Class-Path names ";
    const std::vector<std::string> warned = {"'/usr/share/java/asm.jar', outside the package", "'missing.jar', which the package does not hold",
                                             "'../above.jar', which the package does not hold"};
    for (const std::string& w : warned) {
        EXPECT_NE(r.err.find("glimvane-pack: warning: " + from + w), std::string::npos) << w << "\n" << r.err;
        EXPECT_NE(inspected.out.find("warning: 'app.jar': its manifest's Class-Path names " + w), std::string::npos)
            << w << "\n" << inspected.out;
    }
    EXPECT_NE(r.err.find("'lib/dep.jar' (from '" + dep.string() + "'): its manifest's Class-Path names '../gone.jar'"),
              std::string::npos)
        << "the jars a Class-Path reaches are read too\n" << r.err;
    EXPECT_EQ(r.err.find("'lib/dep.jar', which"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("'lib/', which"), std::string::npos) << "a packed folder\n" << r.err;
}

// The files and Vars text of a package as the launcher reads them.
struct unpacked {
    std::string vars;
    std::map<std::string, std::string> files;  // stored path -> contents
};

unpacked unpack(const fs::path& file)
{
    unpacked u;
    bytes data = read_bytes(file);
    scratch_dir scratch;
    snprintf(temp_folder, sizeof temp_folder, "%s", scratch.path.c_str());
    for (const section& s : sections_of(data)) {
        const unsigned char* header = &data[size_t(s.offset)];
        if (s.type == 'V') u.vars = reinterpret_cast<const char*>(header + section_header_size);
        if (s.type != 'F') continue;
        unsigned char* plain = descramble_section(header);
        char* path = extract_file(plain, section_payload_length(header));
        if (path) u.files[fs::relative(path, scratch.path).string()] = read_text(path);
        track_free(plain, 1);
        track_free(path, 1);
    }
    temp_folder[0] = 0;
    return u;
}

TEST(PackDesktop, TheSplashComesFromTheOptionOrTheMainJarsManifest)
{
    const char* jar_tool = "/usr/lib/jvm/java-17-openjdk-amd64/bin/jar";
    if (!fs::exists(jar_tool)) GTEST_SKIP() << "no jar tool";
    scratch_dir scratch;
    const std::string gif = "GIF89a" + random_text(300, 7), png = "\x89PNG\r\n\x1a\n" + random_text(200, 8),
                      jpeg = "\xff\xd8\xff" + random_text(100, 9);
    write_text(scratch.path / "own.png", png);
    // Two jars with images of their own (deflated by the jar tool); only
    // app.jar names the main class.
    auto make_jar = [&](const std::string& name, const std::string& manifest, const std::string& entry,
                        const std::string& image) {
        fs::path folder = scratch.path / (name + ".d");
        write_text(folder / entry, image);
        write_text(scratch.path / (name + ".mf"), manifest);
        run_result r = run_program({jar_tool, "cfm", (scratch.path / name).string(),
                                    (scratch.path / (name + ".mf")).string(), "-C", folder.string(), "."});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    };
    make_jar("lib.jar", "SplashScreen-Image: pic.jpg\n", "pic.jpg", jpeg);
    make_jar("app.jar", "Main-Class: app.Main\nSplashScreen-Image: img/Splash.gif\n", "img/Splash.gif", gif);
    make_jar("gone.jar", "Main-Class: app.Main\nSplashScreen-Image: img/none.gif\n", "img/other.gif", gif);
    const std::string lib = (scratch.path / "lib.jar").string(), app = (scratch.path / "app.jar").string();
    struct splash_case {
        const char* name;
        std::vector<std::string> args;
        std::string stored, image;
    };
    const splash_case cases[] = {
        {"the jar of the main class", {"--jar", lib, "--jar", app, "--main", "app.Main"}, "glimvane-splash.gif", gif},
        {"the first jar when none names the main class", {"--jar", lib, "--jar", app, "--main", "x.Y"},
         "glimvane-splash.jpg", jpeg},
        {"--splash before any manifest", {"--jar", app, "--main", "app.Main", "--splash", (scratch.path / "own.png").string()},
         "glimvane-splash.png", png},
        {"a file, not a jar, has no manifest that counts", {"--file", app, "--main", "app.Main"}, "", ""},
    };
    fs::path out = scratch.path / "pkg";
    for (const splash_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--stub", GLIMVANE_STUB, "--out", out.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_result r = run_pack(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        unpacked u = unpack(out);
        char* key = get_var(u.vars.c_str(), "splash", nullptr);
        EXPECT_EQ(key ? std::string(key) : "", c.stored) << u.vars;
        if (!c.stored.empty()) {
            EXPECT_EQ(u.files[c.stored], c.image);
        }
    }
    run_result gone = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--jar",
                                (scratch.path / "gone.jar").string(), "--main", "app.Main"});
    EXPECT_EQ(gone.exit_code, 1);
    EXPECT_NE(gone.err.find("its manifest's SplashScreen-Image 'img/none.gif' is not in the jar"), std::string::npos)
        << gone.err;
}

TEST(PackDesktop, OneInstanceWithOrWithoutAMethod)
{
    scratch_dir scratch;
    fs::path out = scratch.path / "pkg";
    struct instance_case {
        std::vector<std::string> args;
        std::string value;
    };
    const instance_case cases[] = {
        {{"--single-instance", "app.Main.open"}, "app.Main.open"},
        {{"--single-instance=app.Main$Files.open"}, "app.Main$Files.open"},
        // The next word is an option: no method.
        {{"--single-instance", "--var", "x=1"}, ""},
    };
    for (const instance_case& c : cases) {
        std::vector<std::string> args = {"--stub", GLIMVANE_STUB, "--out", out.string(), "--var", "main=M"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_result r = run_pack(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        char* value = get_var(unpack(out).vars.c_str(), "singleinstance", nullptr);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(std::string(value), c.value);
    }
}

TEST(PackOutput, TheNextPackRemovesWhatAKilledPackLeftButNotWhatARunningOneWrites)
{
    scratch_dir scratch;
    fs::path out = scratch.path / "app";
    fs::path stale = scratch.path / ".app.0badc0de.tmp", held = scratch.path / ".app.12345678.tmp",
             other = scratch.path / ".app2.0badc0de.tmp";
    for (const fs::path& p : {stale, held, other}) write_text(p, "left");
    int fd = open(held.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--main", "M"});
    close(fd);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(held)) << "a pack still writing holds its file";
    EXPECT_TRUE(fs::exists(other)) << "another output's";
}

// A signed stub: its signature, which packing breaks, is left out, and the
// package signs and verifies.
TEST(PackOutput, ASignedStubLosesItsSignatureAndThePackageSigns)
{
    if (!*GLIMVANE_WIN64_STUB || !fs::exists(GLIMVANE_WIN64_STUB) || !fs::exists("/usr/bin/osslsigncode"))
        GTEST_SKIP() << "no windows-x64 stub or osslsigncode";
    scratch_dir scratch;
    const std::string key = (scratch.path / "key.pem").string(), cert = (scratch.path / "cert.pem").string();
    run_result r = run_program({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                "/CN=test", "-keyout", key, "-out", cert});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto sign = [&](const fs::path& in, const fs::path& signed_file) {
        return run_program({"/usr/bin/osslsigncode", "sign", "-certs", cert, "-key", key, "-in", in.string(), "-out",
                            signed_file.string()});
    };
    fs::path stub = scratch.path / "glimvane-x64.exe", pkg = scratch.path / "app.exe", signed_pkg = scratch.path / "s.exe";
    ASSERT_EQ(sign(GLIMVANE_WIN64_STUB, stub).exit_code, 0);
    r = run_pack({"--stub", stub.string(), "--out", pkg.string(), "--main", "M"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("the stub '" + stub.string() + "' is signed; the package leaves its signature out"),
              std::string::npos)
        << r.err;
    r = run_pack({"inspect", pkg.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    ASSERT_EQ(sign(pkg, signed_pkg).exit_code, 0);
    r = run_program({"/usr/bin/osslsigncode", "verify", "-CAfile", cert, signed_pkg.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
}

// ---- packed runtimes and compressed sections ----

// The first bytes of a VM library: what the packer reads to tell its OS
// and bitness.
bytes elf_head(int bits, unsigned machine)
{
    bytes head(64, 0);
    memcpy(head.data(), "\x7f" "ELF", 4);
    head[4] = bits == 64 ? 2 : 1;
    head[5] = 1;
    head[18] = static_cast<unsigned char>(machine);
    return head;
}

bytes pe_head(unsigned machine, unsigned magic)
{
    bytes head(0x100, 0);
    head[0] = 'M';
    head[1] = 'Z';
    head[0x3c] = 0x40;
    memcpy(&head[0x40], "PE\0\0", 4);
    head[0x44] = static_cast<unsigned char>(machine);
    head[0x45] = static_cast<unsigned char>(machine >> 8);
    head[0x40 + 24] = static_cast<unsigned char>(magic);
    head[0x40 + 25] = static_cast<unsigned char>(magic >> 8);
    return head;
}

// A runtime image folder: a release file (unless `version` is empty) and a
// VM library at `library` whose head is `vm`.
fs::path make_image(const fs::path& folder, const std::string& version, const std::string& library, const bytes& vm)
{
    if (!version.empty()) write_text(folder / "release", "JAVA_VERSION=\"" + version + "\"\nMODULES=\"java.base\"\n");
    if (!library.empty()) write_bytes(folder / library, vm);
    write_text(folder / "bin" / "java", "#!/bin/sh\n");
    return folder;
}

std::string vars_of(const bytes& file)
{
    return reinterpret_cast<const char*>(&file[size_t(sections_of(file)[0].offset) + 32]);
}

TEST_F(packed_app, ARuntimeIsPackedBelowRuntimeForTheStubsOSAndBitnessOnly)
{
    const std::string stub = GLIMVANE_STUB, o = out.string(), jar = (in / "app.jar").string();
    fs::path linux64 = make_image(scratch.path / "linux64", "17.0.9", "lib/server/libjvm.so", elf_head(64, 62));
    std::vector<std::string> words = {"--stub", stub, "--out", o, "--jar", jar, "--main", "M", "--runtime", linux64.string()};
    run_result r = run_pack(words);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    bytes file = read_bytes(out);
    EXPECT_EQ(vars_of(file), "packager=glimvane-pack 1.1\nneeds=1.1\njars=glimvaneboot.jar;app.jar\nmain=M\n"
                             "faststart=1\nruntime=runtime\n");
    r = run_pack({"inspect", o});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    for (const char* text : {"file 'runtime/lib/server/libjvm.so' (64 bytes)", "file 'runtime/bin/java'",
                             "format: the package needs 1.1, the stub reads 1.2\n",
                             "runtime: runtime/, Java 17.0.9, Linux x86-64 (64-bit), 116 bytes in 3 files\n"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

    struct refuse_case {
        const char* name;
        fs::path image;
        std::vector<std::string> more;
        std::string message;
    };
    const refuse_case cases[] = {
        {"no release file", make_image(scratch.path / "bare", "", "lib/server/libjvm.so", elf_head(64, 62)), {},
         "no release file with a JAVA_VERSION"},
        {"no VM library", make_image(scratch.path / "novm", "17", "", {}), {}, "no VM library"},
        {"a Windows runtime", make_image(scratch.path / "win64", "17", "bin/server/jvm.dll", pe_head(0x8664, 0x20b)), {},
         "is for Windows x86-64 (64-bit), the stub for Linux x86-64 (64-bit)"},
        {"a 32-bit runtime", make_image(scratch.path / "elf32", "17", "lib/server/libjvm.so", elf_head(32, 3)), {},
         "is for Linux x86 (32-bit)"},
        {"another machine", make_image(scratch.path / "arm", "17", "lib/server/libjvm.so", elf_head(64, 183)), {},
         "is for Linux aarch64 (64-bit)"},
        {"jvm beside it", linux64, {"--var", "jvm=jre/lib/server/libjvm.so"}, "both choose the runtime"},
        {"twice", linux64, {"--runtime", linux64.string()}, "may be given only once"},
    };
    for (const refuse_case& c : cases) {
        std::vector<std::string> args = {"--stub", stub, "--out", o, "--jar", jar, "--main", "M", "--runtime",
                                         c.image.string()};
        args.insert(args.end(), c.more.begin(), c.more.end());
        r = run_pack(args);
        EXPECT_NE(r.exit_code, 0) << c.name;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    }

    // A lib/modules that --compress shrinks to less than half was not compressed by jlink: the packer
    // says what that costs the first launch. One that jlink compressed (here random bytes) passes.
    for (bool shrinks : {true, false}) {
        write_text(linux64 / "lib" / "modules", shrinks ? std::string(200000, 'm') : random_text(200000, 7));
        std::vector<std::string> compressed = words;
        compressed.push_back("--compress");
        r = run_pack(compressed);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        bool noted = r.err.find("note: --runtime '" + linux64.string() + "': its lib/modules (0.2 MB) compresses to") !=
                     std::string::npos;
        EXPECT_EQ(noted, shrinks) << r.err;
    }
    fs::remove(linux64 / "lib" / "modules");

    // Packed on Linux for Windows: a Windows runtime goes with the Windows stub, a Linux one does not.
    if (!*GLIMVANE_WIN64_STUB || !fs::exists(GLIMVANE_WIN64_STUB)) return;
    words[1] = GLIMVANE_WIN64_STUB;
    words.back() = (scratch.path / "win64").string();
    r = run_pack(words);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    words.back() = linux64.string();
    r = run_pack(words);
    EXPECT_NE(r.err.find("is for Linux x86-64 (64-bit), the stub for Windows x86-64 (64-bit)"), std::string::npos) << r.err;
}

TEST_F(packed_app, CompressedSectionsHoldWhatShrinksAndExtractAsTheFiles)
{
    std::string text;
    for (int i = 0; i < 5000; i++) text += "line " + std::to_string(i % 40) + " of a file that shrinks\n";
    write_text(in / "shrinks.txt", text);
    std::vector<std::string> words = args(out);
    words.insert(words.end(), {"--file", (in / "shrinks.txt").string() + "=doc/shrinks.txt", "--compress"});
    run_result r = run_pack(words);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    bytes file = read_bytes(out);
    std::vector<section> found = sections_of(file);
    std::string types;
    for (const section& s : found) types += s.type;
    // Random bytes do not shrink and stay file sections; the installer stays J.
    EXPECT_EQ(types, "VFFFFCFJZZ");
    EXPECT_NE(vars_of(file).find("\nneeds=1.1\n"), std::string::npos) << vars_of(file);
    EXPECT_LT(section_payload_length(&file[size_t(found[5].offset)]), int32_t(text.size() / 10));

    fs::path temp = scratch.path / "GVC";
    fs::create_directories(temp);
    snprintf(temp_folder, sizeof temp_folder, "%s", temp.c_str());
    for (const section& s : found)
        if (s.type == 'F' || s.type == 'C') {
            char* path = extract_section(&file[size_t(s.offset)]);
            EXPECT_NE(path, nullptr) << s.offset;
            track_free(path, 1);
        }
    temp_folder[0] = 0;
    EXPECT_TRUE(read_text(temp / "doc" / "shrinks.txt") == text);
    EXPECT_EQ(read_text(temp / "app.jar"), read_text(in / "app.jar"));

    r = run_pack({"inspect", out.string()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("type C, payload "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("file 'doc/shrinks.txt' (" + std::to_string(text.size()) + " bytes, compressed)"),
              std::string::npos) << r.out;
}

// A copy of `image` whose format mark gives `version`, or (empty) that
// has no mark at all: a stub of an older release.
bytes with_format(bytes image, const std::string& version)
{
    const std::string mark = "glimvane-reads-package-format=";
    auto at = std::search(image.begin(), image.end(), mark.begin(), mark.end());
    EXPECT_NE(at, image.end());
    if (at == image.end()) return image;
    if (version.empty())
        std::fill(at, at + ptrdiff_t(mark.size()), 'x');
    else
        std::copy(version.c_str(), version.c_str() + version.size() + 1, at + 32);
    return image;
}

// A file above 4 MB is compressed in parts of 4 MB that extract, in any
// order, to the file; the package then needs format 1.2. A stub of format
// 1.1 gets the file as one compressed section.
TEST_F(packed_app, ALargeFileIsCompressedInPartsForStubsThatReadThem)
{
    std::string text;
    for (int i = 0; text.size() < (9u << 20); i++) text += "line " + std::to_string(i % 977) + " of a large file\n";
    text.resize(9u << 20);
    write_text(in / "large.txt", text);
    const std::string jar = (in / "app.jar").string();
    fs::path stub11 = scratch.path / "stub11";
    write_bytes(stub11, with_format(read_bytes(GLIMVANE_STUB), "1.1"));
    for (const std::string& stub : {std::string(GLIMVANE_STUB), stub11.string()}) {
        bool parts = stub == GLIMVANE_STUB;
        run_result r = run_pack({"--stub", stub, "--out", out.string(), "--jar", jar, "--main", "M", "--file",
                                 (in / "large.txt").string() + "=big/large.txt", "--compress"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        bytes file = read_bytes(out);
        std::vector<section> found = sections_of(file);
        std::string types;
        for (const section& s : found) types += s.type;
        EXPECT_EQ(types, parts ? "VFPPPF" : "VFCF") << stub;
        EXPECT_NE(vars_of(file).find(parts ? "\nneeds=1.2\n" : "\nneeds=1.1\n"), std::string::npos) << vars_of(file);
        r = run_pack({"inspect", out.string()});
        EXPECT_EQ(r.exit_code, 0) << r.out;
        if (!parts) continue;
        EXPECT_NE(r.out.find("part of file 'big/large.txt' (1048576 bytes at 8388608 of 9437184, compressed)"),
                  std::string::npos) << r.out;

        fs::path temp = scratch.path / "GVP";
        fs::create_directories(temp);
        snprintf(temp_folder, sizeof temp_folder, "%s", temp.c_str());
        for (size_t i = found.size(); i-- > 0;) {
            if (found[i].type != 'P') continue;
            char* path = extract_section(&file[size_t(found[i].offset)]);
            EXPECT_NE(path, nullptr) << i;
            track_free(path, 1);
        }
        temp_folder[0] = 0;
        EXPECT_TRUE(read_text(temp / "big" / "large.txt") == text);
    }
}

TEST_F(packed_app, AStubTooOldForThePackageIsRefusedByThePackerAndAtLaunchWithError92)
{
    const std::string jar = (in / "app.jar").string();
    // The packer reads the stub's format: an older stub is refused.
    for (const char* version : {"1.0", ""}) {
        fs::path old = scratch.path / (std::string("old") + version);
        write_bytes(old, with_format(read_bytes(GLIMVANE_STUB), version));
        run_result r = run_pack({"--stub", old.string(), "--out", out.string(), "--jar", jar, "--main", "M", "--compress"});
        EXPECT_EQ(r.exit_code, 1) << version;
        EXPECT_NE(r.err.find("reads package format 1.0, and --compress or --runtime needs format 1.1"),
                  std::string::npos) << r.err;
    }

    // A package whose stub reads an older format than it needs.
    run_result r = run_pack({"--stub", GLIMVANE_STUB, "--out", out.string(), "--jar", jar, "--main", "M", "--compress"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    fs::path old = out.parent_path() / "old.bin";
    write_bytes(old, with_format(read_bytes(out), "1.0"));
    fs::permissions(old, fs::perms::owner_all);
    r = run_program({old.string()});
    EXPECT_EQ(r.exit_code, 92) << r.out << r.err;
    const std::string error = "92: 'old.bin' needs a newer launcher: it was packed for package format 1.1, and this "
                              "launcher reads format 1.0";
    EXPECT_NE((r.out + r.err).find(error), std::string::npos) << r.out << r.err;
    r = run_pack({"inspect", old.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("format: the package needs 1.1, the stub reads 1.0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: " + error + ": the stub cannot read what the package holds"), std::string::npos) << r.out;

    fs::path unmarked = out.parent_path() / "unmarked.bin";
    write_bytes(unmarked, with_format(read_bytes(out), ""));
    r = run_pack({"inspect", unmarked.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("the stub reads 1.0 (a stub from before format 1.1)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the stub predates format 1.1 and passes over what it cannot read"), std::string::npos) << r.out;
}

}  // namespace
