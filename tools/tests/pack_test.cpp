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
#include <cstring>
#include <random>

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
    EXPECT_STREQ(vars, "packager=glimvane-pack 1.0\njars=app.jar;dep.jar\nmain=com.example.Main\nmx=512\njop=-Dk=v\n");
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
    const std::string o = out.string();
    const std::string jar = (in / "app.jar").string();
    struct refuse_case {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        const char* message;
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
        {"path leaving the temp folder", {"--stub", stub, "--out", o, "--file", jar + "=../x.jar"}, 1, "must be relative"},
        {"absolute path", {"--stub", stub, "--out", o, "--file", jar + "=/x.jar"}, 1, "must be relative"},
        {"two files stored alike", {"--stub", stub, "--out", o, "--jar", jar, "--file", jar + "=APP.JAR"}, 1, "stored as"},
        {"stub without the marker", {"--stub", no_marker.string(), "--out", o}, 1, "not a glimvane launcher stub"},
        {"stub with the marker twice", {"--stub", twice.string(), "--out", o}, 1, "2 times"},
        {"beyond 2^31 bytes", {"--stub", stub, "--out", o, "--payload", huge.string()}, 1, "limit is 2147483647"},
        {"unknown option", {"--stub", stub, "--out", o, "--frobnicate"}, 2, "unknown option"},
        {"no output", {"--stub", stub}, 2, "required"},
        {"option given twice", {"--stub", stub, "--stub", stub, "--out", o}, 2, "only once"},
    };
    for (const refuse_case& c : cases) {
        run_result r = run_pack(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_TRUE(fs::is_empty(out.parent_path())) << c.name << ": nothing written";
    }

    pack_app();
    run_result r = run_pack({"--stub", o, "--out", (scratch.path / "re.bin").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("already a packaged executable"), std::string::npos) << r.err;
}

TEST(PackHelp, ShowsTheOptions)
{
    run_result r = run_pack({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* option : {"--stub", "--out", "--name", "--jar", "--file", "--main", "--var", "--getjava",
                               "--payload", "--no-boot", "inspect"})
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

}  // namespace
