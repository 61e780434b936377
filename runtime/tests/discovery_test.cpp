// Runtime discovery: the core runs against a fake registry (and, on POSIX,
// against the view of installed runtimes over a folder tree of its own);
// RuntimeLib files are real files in a scratch folder.
#include "os/os.h"
#include "payload/vars.h"
#include "runtime/discovery.h"
#include "support/switches.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace {

const std::string root_key = os_runtime_key;

// One registered runtime as the fake registry holds it.
enum lib_state { LIB_OK, LIB_MISSING, LIB_EXPAND_SZ, LIB_NONE };
struct subkey {
    std::string name;
    lib_state lib = LIB_OK;
};

// The fake registry of one case. Texts live in a deque so that the pointers
// the fake keeps stay valid.
struct fake_registry {
    std::deque<std::string> texts;
    // No further places either, unless a case gives its own.
    fake_registry()
    {
        os_reg_fake_install();
        os_runtime_places_fake(places, 0);
    }
    ~fake_registry()
    {
        os_reg_fake_remove();
        os_runtime_places_fake(nullptr, 0);
    }
    os_place places[1] = {};
    const char* keep(const std::string& text) { return texts.emplace_back(text).c_str(); }
    // data as stored: length bytes, a NUL included when the caller put one.
    void value(const std::string& key, const char* name, const std::string& data, os_reg_type type)
    {
        const std::string& kept = texts.emplace_back(data);
        os_reg_fake_value(keep(key), name, kept.data(), kept.size(), type);
    }
    void text(const std::string& key, const char* name, const std::string& text, os_reg_type type = OS_REG_SZ)
    {
        value(key, name, text + '\0', type);
    }
    void subkey(const std::string& name) { os_reg_fake_subkey(keep(root_key), keep(name)); }
};

std::string lib_path(const scratch_dir& scratch, const std::string& version)
{
    return (scratch.path / version / "libjvm.so").string();
}

// Registers the runtimes in this enumeration order, each with a real
// RuntimeLib file unless the case says otherwise.
void register_runtimes(fake_registry& reg, const scratch_dir& scratch, const std::vector<subkey>& runtimes)
{
    for (const subkey& s : runtimes) {
        reg.subkey(s.name);
        std::string lib = lib_path(scratch, s.name);
        if (s.lib == LIB_OK || s.lib == LIB_EXPAND_SZ) write_text(lib, "");
        if (s.lib != LIB_NONE)
            reg.text(root_key + s.name + "\\", os_value_runtime_lib, lib,
                     s.lib == LIB_EXPAND_SZ ? OS_REG_EXPAND_SZ : OS_REG_SZ);
    }
}

std::string or_none(const char* text)
{
    return text ? text : "(none)";
}

struct choice_case {
    const char* what;
    const char* current;  // null: no CurrentVersion value
    os_reg_type current_type;
    std::vector<subkey> runtimes;
    const char* minver;
    const char* maxver;
    const char* chosen;  // the subkey whose library is returned; null: none
};

TEST(FindRegistryJre, PrecedenceWindowAndTies)
{
    const choice_case cases[] = {
        {"current first even when a newer one is registered", "1.6", OS_REG_SZ, {{"1.6"}, {"1.7"}},
         "1.4", "9999", "1.6"},
        {"current outside the window: the newest inside wins; a missing file is skipped", "1.3", OS_REG_SZ,
         {{"1.3"}, {"1.6.0_20"}, {"1.6"}, {"1.7", LIB_MISSING}}, "1.4", "9999", "1.6.0_20"},
        {"current without RuntimeLib falls to the enumeration", "1.6", OS_REG_SZ,
         {{"1.6", LIB_NONE}, {"1.5"}}, "1.4", "9999", "1.5"},
        {"equal versions: the first enumerated wins", nullptr, OS_REG_SZ, {{"1.6.0"}, {"1.6"}}, "1.4", "9999",
         "1.6.0"},
        {"equal versions in the other order", nullptr, OS_REG_SZ, {{"1.6"}, {"1.6.0"}}, "1.4", "9999", "1.6"},
        {"version 0 is never chosen by the enumeration", nullptr, OS_REG_SZ, {{"abc"}, {"0.0"}}, "0", "9999",
         nullptr},
        {"a current version of 0 inside the window is taken", "abc", OS_REG_SZ, {{"abc"}}, "0", "9999", "abc"},
        {"maxver is inside the window", nullptr, OS_REG_SZ, {{"1.4"}, {"1.8"}, {"1.9"}}, "1.4", "1.8", "1.8"},
        {"minver is inside the window", "1.4", OS_REG_SZ, {{"1.3"}, {"1.4"}}, "1.4", "1.4", "1.4"},
        {"nothing inside the window", "1.3", OS_REG_SZ, {{"1.3"}, {"1.7"}}, "1.4", "1.6", nullptr},
        {"a REG_EXPAND_SZ CurrentVersion counts as absent", "1.6", OS_REG_EXPAND_SZ, {{"1.6"}, {"1.7"}},
         "1.4", "9999", "1.7"},
        {"a REG_EXPAND_SZ RuntimeLib counts as absent", nullptr, OS_REG_SZ,
         {{"1.5"}, {"1.7", LIB_EXPAND_SZ}}, "1.4", "9999", "1.5"},
        {"no runtime registered", nullptr, OS_REG_SZ, {}, "1.4", "9999", nullptr},
    };
    for (const choice_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir scratch;
        fake_registry reg;
        register_runtimes(reg, scratch, c.runtimes);
        if (c.current) reg.text(root_key, os_value_current_version, c.current, c.current_type);
        char* lib = find_registry_jre(parse_version(c.minver, 0), parse_version(c.maxver, 0));
        EXPECT_EQ(or_none(lib), c.chosen ? lib_path(scratch, c.chosen) : or_none(nullptr));
    }
}

// With the debug log on every registered runtime is named with what became
// of it, the runtimes the current one won over too.
TEST(FindRegistryJre, LogsEveryRegisteredRuntimeAndWhy)
{
    struct log_case {
        const char* what;
        const char* current;
        std::vector<subkey> runtimes;
        std::vector<std::string> lines;  // {s} stands for the scratch folder
    } cases[] = {
        {"the current one taken", "1.6", {{"1.6"}, {"1.7"}, {"1.8", LIB_MISSING}},
         {"runtime.current={s}/1.6/libjvm.so version=1.6 (taken)",
          "runtime.candidate={s}/1.7/libjvm.so version=1.7 (passed over: the current runtime is taken)",
          "runtime.candidate=1.8 version=1.8 (passed over: no VM library)"}},
        {"the current one outside the window", "1.3", {{"1.3"}, {"1.6.0_20"}, {"1.6"}, {"1.7", LIB_MISSING}},
         {"runtime.current={s}/1.3/libjvm.so version=1.3 (passed over: outside the version window)",
          "runtime.candidate={s}/1.3/libjvm.so version=1.3 (passed over: outside the version window)",
          "runtime.candidate={s}/1.6.0_20/libjvm.so version=1.6.0_20 (taken)",
          "runtime.candidate={s}/1.6/libjvm.so version=1.6 (passed over: not newer than the one taken)",
          "runtime.candidate=1.7 version=1.7 (passed over: no VM library)"}},
    };
    for (const log_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir scratch;
        fake_registry reg;
        register_runtimes(reg, scratch, c.runtimes);
        reg.text(root_key, os_value_current_version, c.current);
        debug_flag = true;
        testing::internal::CaptureStdout();
        find_registry_jre(parse_version("1.4", 0), parse_version("9999", 0));
        std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());
        debug_flag = false;
        std::vector<std::string> expected;
        for (std::string line : c.lines) {
            for (size_t p; (p = line.find("{s}")) != std::string::npos;) line.replace(p, 3, scratch.path.string());
            expected.push_back(line);
        }
        EXPECT_EQ(log, expected);
    }
}

TEST(FindRegistryJre, NoKeyAtAllGivesNone)
{
    fake_registry reg;
    EXPECT_EQ(registry_current_jre(), nullptr);
    EXPECT_EQ(registry_runtime_lib("1.6"), nullptr);
    EXPECT_EQ(registry_runtime_lib(nullptr), nullptr);
    EXPECT_EQ(find_registry_jre(0, parse_version("9999", 0)), nullptr);
}

TEST(FindRegistryJre, OverrideIsReturnedUncheckedBeforeTheRegistry)
{
    scratch_dir scratch;
    fake_registry reg;
    register_runtimes(reg, scratch, {{"1.6"}});
    reg.text(root_key, os_value_current_version, "1.6");
    char missing[] = "/nonexistent/libjvm.so";
    jvm_override = missing;
    // The window excludes everything: still the override, itself, not a copy.
    EXPECT_EQ(find_registry_jre(parse_version("99", 0), parse_version("1", 0)), missing);
    jvm_override = nullptr;
    EXPECT_EQ(or_none(find_registry_jre(0, parse_version("9999", 0))), lib_path(scratch, "1.6"));
}

// A path of exactly `length` characters naming `file`: "/./" pads the front.
std::string padded_path(const fs::path& file, size_t length)
{
    std::string tail = file.relative_path().string();
    EXPECT_LE(tail.size() + 1, length);
    std::string path = "/";
    while (path.size() + tail.size() + 2 <= length) path += "./";
    if (path.size() + tail.size() < length) path += "/";
    return path + tail;
}

TEST(RegistryValues, LimitOf1024BytesAndTermination)
{
    scratch_dir scratch;
    fs::path file = scratch.path / "libjvm.so";
    write_text(file, "");
    struct value_case {
        const char* what;
        std::string data;  // as stored
        bool taken;
    };
    const std::string fits = padded_path(file, 1023);
    const std::string too_long = padded_path(file, 1024);
    const value_case cases[] = {
        {"1023 characters and the NUL: 1024 bytes fit", fits + '\0', true},
        {"1024 characters and the NUL do not fit", too_long + '\0', false},
        {"stored without NUL, with room to terminate it", fits, true},
        {"stored without NUL, filling the buffer", too_long, false},
        {"the text ends at its first NUL", file.string() + '\0' + "tail" + '\0', true},
    };
    for (const value_case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_registry reg;
        reg.subkey("1.6");
        reg.value(root_key + "1.6\\", os_value_runtime_lib, c.data, OS_REG_SZ);
        char* lib = registry_runtime_lib("1.6");
        ASSERT_EQ(lib != nullptr, c.taken);
        if (lib) {
            EXPECT_TRUE(fs::equivalent(lib, file)) << lib;
        }
    }
}

TEST(RegistryValues, EnumerationStopsAtANameThatDoesNotFit)
{
    scratch_dir scratch;
    fake_registry reg;
    register_runtimes(reg, scratch, {{"1.5"}, {std::string(1024, '9'), LIB_NONE}, {"1.7"}});
    EXPECT_EQ(or_none(find_registry_jre(0, parse_version("9999", 0))), lib_path(scratch, "1.5"));
}

struct private_run {
    std::string result;
    std::vector<std::string> log;
};

private_run find_private(const std::string& module_dir, const std::string& vars)
{
    debug_flag = true;
    testing::internal::CaptureStdout();
    char* result = find_private_jvm(module_dir.c_str(), vars.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    debug_flag = false;
    return {or_none(result), log_texts(out)};
}

TEST(FindPrivateJvm, FoundNotFoundAndNoKey)
{
    scratch_dir scratch;
    const std::string dir = scratch.path.string();
    const std::string lib = dir + "/jre/lib/server/libjvm.so";
    write_text(lib, "");

    // Package data written on Windows separates folders with '\'.
    private_run r = find_private(dir, "mx=64\njvm=jre\\lib\\server/libjvm.so\n");
    EXPECT_EQ(r.result, lib);
    EXPECT_EQ(r.log, std::vector<std::string>{"private.jvm=" + lib + " (found)"});

    r = find_private(dir, "jvm=jre\\bin\\client\\jvm.dll\n");
    EXPECT_EQ(r.result, or_none(nullptr));
    EXPECT_EQ(r.log, std::vector<std::string>{"private.jvm=" + dir + "/jre/bin/client/jvm.dll (NOT FOUND)"});

    r = find_private(dir, "mx=64\n");
    EXPECT_EQ(r.result, or_none(nullptr));
    EXPECT_TRUE(r.log.empty()) << "no key leaves no trace";
}

TEST(FindPrivateJvm, JoinMustFitTheBuffer)
{
    scratch_dir scratch;
    fs::path file = scratch.path / "libjvm.so";
    write_text(file, "");
    // "<dir>/<value>": the module dir "/" takes one character and the separator another.
    for (size_t length : {4095, 4096}) {
        std::string value = padded_path(file, length - 1).substr(1);
        private_run r = find_private("/", "jvm=" + value + "\n");
        ASSERT_EQ(r.log.size(), 1u);
        if (length == 4095) {
            EXPECT_TRUE(fs::equivalent(r.result, file)) << "a join of 4095 characters fits";
        } else {
            EXPECT_EQ(r.result, or_none(nullptr)) << "a join of 4096 characters does not";
            EXPECT_EQ(r.log[0].substr(r.log[0].size() - 11), "(NOT FOUND)");
        }
    }
}

// ---- the POSIX view of installed runtimes --------------------------------------

// A runtime folder: a release file with the given text and, unless told
// otherwise, lib/server/libjvm.so.
void make_runtime(const fs::path& folder, const std::string& release, bool with_lib = true)
{
    write_text(folder / "release", release);
    if (with_lib) write_text(folder / "lib" / "server" / "libjvm.so", "");
}

std::vector<std::string> subkeys()
{
    std::vector<std::string> names;
    os_reg_key* key = os_reg_open(os_runtime_key);
    if (!key) return names;
    char name[1024];
    for (uint32_t i = 0; os_reg_subkey(key, i, name, sizeof name); i++) names.push_back(name);
    os_reg_close(key);
    return names;
}

std::string lib_of(const fs::path& folder)
{
    return (fs::canonical(folder) / "lib" / "server" / "libjvm.so").string();
}

struct runtime_tree {
    scratch_dir scratch;
    fs::path root = scratch.path / "jvm";
    runtime_tree()
    {
        make_runtime(root / "b-17", "IMPLEMENTOR=\"x\"\nJAVA_VERSION_DATE=\"2022\"\nJAVA_VERSION=\"17.0.2\"\n");
        fs::create_directory_symlink("b-17", root / "a-17-link");
        make_runtime(root / "c-17-again", "JAVA_VERSION=\"17.0.2\"\n");
        make_runtime(root / "d-11", "JAVA_VERSION=11.0.1\r\n");
        fs::create_directory_symlink("d-11", root / "default-java");
        make_runtime(root / "e-no-lib", "JAVA_VERSION=\"18\"\n", false);
        write_text(root / "f-no-release" / "lib" / "server" / "libjvm.so", "");
        // Only the first 64 KiB are read: a version line cut there ("19" of
        // "199") does not count.
        make_runtime(root / "g-huge", std::string(65520, '#') + "\nJAVA_VERSION=199\n");
        make_runtime(root / "h-backslash", "JAVA_VERSION=\"20\\..\\17\"\n");
        make_runtime(root / "i-long-version", "JAVA_VERSION=\"2" + std::string(300, '1') + "\"\n");
        make_runtime(root / "j-fifo", "");
        fs::remove(root / "j-fifo" / "release");
        EXPECT_EQ(mkfifo((root / "j-fifo" / "release").c_str(), 0600), 0);
        os_reg_set_runtime_root(root.c_str());
    }
    ~runtime_tree() { os_reg_set_runtime_root(nullptr); }
};

TEST(RuntimeView, OneSubkeyPerRuntimeInNameOrder)
{
    runtime_tree tree;
    scoped_env env({"JAVA_HOME=", "PATH="});
    EXPECT_EQ(subkeys(), (std::vector<std::string>{"17.0.2", "11.0.1"}))
        << "a link and a second runtime of 17.0.2 give no second entry; folders without a runtime, "
           "with a release too long to read or a hostile version are left out";
    EXPECT_EQ(or_none(registry_current_jre()), "11.0.1") << "from default-java";
    EXPECT_EQ(or_none(registry_runtime_lib("17.0.2")), lib_of(tree.root / "b-17"));
    EXPECT_EQ(or_none(registry_runtime_lib("18")), or_none(nullptr));
    EXPECT_EQ(os_reg_open("SOFTWARE\\JavaSoft\\Other\\"), nullptr);

    // The real core over the view: current first, then the newest.
    EXPECT_EQ(or_none(find_registry_jre(parse_version("11", 0), parse_version("17.9999", 0))),
              lib_of(tree.root / "d-11"));
    EXPECT_EQ(or_none(find_registry_jre(parse_version("12", 0), parse_version("99", 0))),
              lib_of(tree.root / "b-17"));
}

TEST(RuntimeView, JavaHomeComesFirstAndIsCurrent)
{
    runtime_tree tree;
    fs::path home = tree.scratch.path / "home";
    make_runtime(home, "JAVA_VERSION=\"21\"\n");
    {
        scoped_env env({"JAVA_HOME=" + home.string(), "PATH="});
        EXPECT_EQ(subkeys(), (std::vector<std::string>{"21", "17.0.2", "11.0.1"}));
        EXPECT_EQ(or_none(registry_current_jre()), "21");
        EXPECT_EQ(or_none(registry_runtime_lib("21")), lib_of(home));
    }
    {
        scoped_env env({"JAVA_HOME=" + (tree.root / "e-no-lib").string(), "PATH="});
        EXPECT_EQ(or_none(registry_current_jre()), "11.0.1") << "JAVA_HOME without a runtime";
    }
    fs::remove(tree.root / "default-java");
    scoped_env env({"JAVA_HOME=", "PATH="});
    EXPECT_EQ(registry_current_jre(), nullptr);
}

// The current runtime: $JAVA_HOME's, else that of the java a shell would run
// (the first on PATH, through its links), else default-java's.
TEST(RuntimeView, CurrentIsJavaHomeThenTheJavaOnThePathThenDefaultJava)
{
    runtime_tree tree;
    fs::path home21 = tree.scratch.path / "home21";
    make_runtime(home21, "JAVA_VERSION=\"21\"\n");
    // /opt/jdk-22 style: outside the runtime folder, reached as the
    // alternatives system links it: bin/java -> alternatives/java -> real.
    fs::path home22 = tree.scratch.path / "jdk-22";
    make_runtime(home22, "JAVA_VERSION=\"22\"\n");
    write_text(home22 / "bin" / "java", "#!/bin/sh\n");
    fs::permissions(home22 / "bin" / "java", fs::perms::owner_all);
    fs::path bin = tree.scratch.path / "bin";
    fs::path alternatives = tree.scratch.path / "alternatives";
    fs::create_directories(bin);
    fs::create_directories(alternatives);
    fs::create_symlink(home22 / "bin" / "java", alternatives / "java");
    fs::create_symlink(alternatives / "java", bin / "java");
    fs::path no_runtime_bin = tree.scratch.path / "other-bin";
    write_text(no_runtime_bin / "java", "#!/bin/sh\n");
    fs::permissions(no_runtime_bin / "java", fs::perms::owner_all);
    std::string empty_bin = (tree.scratch.path / "empty").string();

    struct current_case {
        const char* name;
        std::string java_home;
        std::string path;
        const char* current;
    } cases[] = {
        {"JAVA_HOME wins over the java on PATH", home21.string(), bin.string(), "21"},
        {"JAVA_HOME without a runtime: the java on PATH, links resolved", (tree.root / "e-no-lib").string(),
         empty_bin + ":" + bin.string(), "22"},
        {"no java on PATH: default-java", "", empty_bin, "11.0.1"},
        {"a java that belongs to no runtime: default-java", "", no_runtime_bin.string() + ":" + bin.string(), "11.0.1"},
        {"a relative PATH entry is not looked at", "", "relative:" + empty_bin, "11.0.1"},
    };
    fs::path cwd = fs::current_path();
    fs::current_path(tree.scratch.path);
    fs::create_directory_symlink("bin", tree.scratch.path / "relative");
    for (const current_case& c : cases) {
        scoped_env env({"JAVA_HOME=" + c.java_home, "PATH=" + c.path});
        EXPECT_EQ(or_none(registry_current_jre()), c.current) << c.name;
        EXPECT_EQ(or_none(registry_runtime_lib(c.current)),
                  lib_of(std::string(c.current) == "21" ? home21 : std::string(c.current) == "22" ? home22
                                                                                                  : tree.root / "d-11"))
            << c.name;
    }
    fs::current_path(cwd);
}

// ---- the further places --------------------------------------------------------------

// The first bytes of a VM library, built in memory: an ELF header of a class
// and machine, or a PE header (after a DOS stub) with the optional header's
// magic, a machine and the offset of the "PE" signature.
std::string elf_head(int bits, unsigned machine = 62, bool big_endian = false)
{
    std::string h(64, '\0');
    h.replace(0, 4, "\x7f" "ELF");
    h[4] = char(bits == 64 ? 2 : 1);
    h[5] = char(big_endian ? 2 : 1);
    h[big_endian ? 18 : 19] = char(machine >> 8);
    h[big_endian ? 19 : 18] = char(machine & 0xff);
    return h;
}

void put16(std::string& h, size_t at, unsigned v)
{
    h[at] = char(v & 0xff);
    h[at + 1] = char(v >> 8);
}

void put32(std::string& h, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) h[at + i] = char(v >> (8 * i));
}

std::string pe_head(int bits, unsigned machine, uint32_t pe = 0x80, size_t length = 0x200)
{
    std::string h(length, '\0');
    h[0] = 'M';
    h[1] = 'Z';
    put32(h, 0x3c, pe);
    if (uint64_t(pe) + 26 <= length) {
        h.replace(pe, 4, std::string("PE\0\0", 4));
        put16(h, pe + 4, machine);
        put16(h, pe + 24, bits == 64 ? 0x20b : 0x10b);
    }
    return h;
}

TEST(VmBinary, HeadersOfBothFormatsReadWithinTheirBytes)
{
    struct binary_case {
        const char* what;
        std::string bytes;
        vm_binary expected;
    };
    std::string ends_at_limit = pe_head(64, 0x8664, 0x200 - 26);
    std::string one_over = ends_at_limit.substr(0, ends_at_limit.size() - 1);
    const binary_case cases[] = {
        {"ELF 64-bit x86-64", elf_head(64), {true, false, 64, 62}},
        {"ELF 32-bit i386", elf_head(32, 3), {true, false, 32, 3}},
        {"ELF big-endian machine field", elf_head(64, 43, true), {true, false, 64, 43}},
        {"ELF of an unknown class", [] { std::string h = elf_head(64); h[4] = 3; return h; }(), {}},
        {"ELF cut inside its header", elf_head(64).substr(0, 19), {}},
        {"PE32 i386", pe_head(32, 0x14c), {true, true, 32, 0x14c}},
        {"PE32+ AMD64", pe_head(64, 0x8664), {true, true, 64, 0x8664}},
        {"PE header ending exactly at the last byte", ends_at_limit, {true, true, 64, 0x8664}},
        {"PE header one byte past the end", one_over, {}},
        {"e_lfanew 0xFFFFFFFF", pe_head(64, 0x8664, 0xFFFFFFFF), {}},
        {"PE with an unknown optional header magic",
         [] { std::string h = pe_head(64, 0x8664); put16(h, 0x80 + 24, 0x107); return h; }(), {}},
        {"neither", std::string(512, 'x'), {}},
        {"empty", "", {}},
    };
    for (const binary_case& c : cases) {
        SCOPED_TRACE(c.what);
        vm_binary b = read_vm_binary(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(b.known, c.expected.known);
        if (!c.expected.known) continue;
        EXPECT_EQ(b.pe, c.expected.pe);
        EXPECT_EQ(b.bits, c.expected.bits);
        EXPECT_EQ(b.machine, c.expected.machine);
    }
}

// Where a runtime of a case is registered or lies. jre: the registered
// runtimes' key (subkey and RuntimeLib); jdk / jdk_user: the JDK key of HKLM
// / HKCU (JavaHome); vendor: a vendor key (hotspot\MSI, Path); lib_only:
// the JDK key with RuntimeLib only; env: $GV_TEST_JAVA_HOME; homes: a
// folder of homes.
enum runtime_place { IN_JRE, IN_JDK, IN_JDK_USER, IN_VENDOR, IN_JDK_LIB_ONLY, IN_ENV, IN_HOMES };

struct placed_runtime {
    runtime_place place;
    std::string name;     // subkey (or folder) name, also the home's folder name
    std::string release;  // JAVA_VERSION of the release file; empty: no release file
    int bits = 64;
    bool with_lib = true;
};

const std::string jre_key = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
const char* const jdk_key = "SOFTWARE\\JavaSoft\\JDK";
const char* const vendor_key = "SOFTWARE\\Vendor\\JDK";

struct further_setup {
    scratch_dir scratch;
    fake_registry reg;
    fs::path homes = scratch.path / "homes";
    std::string homes_text = homes.string();
    os_place places[6] = {
        {OS_PLACE_REGISTRY, jdk_key, OS_REG_MACHINE, "", "RuntimeLib", "JavaHome"},
        {OS_PLACE_REGISTRY, vendor_key, OS_REG_MACHINE, "hotspot\\MSI", nullptr, "Path"},
        {OS_PLACE_REGISTRY, jdk_key, OS_REG_USER, "", "RuntimeLib", "JavaHome"},
        {OS_PLACE_ENV_HOME, "GV_TEST_JAVA_HOME", OS_REG_MACHINE, nullptr, nullptr, nullptr},
        {OS_PLACE_HOMES, homes_text.c_str(), OS_REG_MACHINE, nullptr, nullptr, nullptr},
        {OS_PLACE_HOMES, "~/.jdks", OS_REG_MACHINE, nullptr, nullptr, nullptr},
    };
    std::vector<std::string> env = {"GV_TEST_JAVA_HOME=", "HOME=" + scratch.path.string()};

    further_setup()
    {
        fs::create_directories(homes);
        os_runtime_places_fake(places, 6);
    }
    ~further_setup() { os_runtime_places_fake(nullptr, 0); }

    fs::path home_of(const placed_runtime& r) const
    {
        return r.place == IN_HOMES ? homes / r.name : scratch.path / "runtimes" / r.name;
    }
    std::string lib_of(const placed_runtime& r) const { return (home_of(r) / "lib" / "server" / "libjvm.so").string(); }

    void add(const placed_runtime& r)
    {
        fs::path home = home_of(r);
        if (!r.release.empty()) write_text(home / "release", "JAVA_VERSION=\"" + r.release + "\"\n");
        if (r.with_lib) write_text(lib_of(r), elf_head(r.bits));
        os_reg_root root = r.place == IN_JDK_USER ? OS_REG_USER : OS_REG_MACHINE;
        switch (r.place) {
        case IN_JRE:
            reg.subkey(r.name);
            reg.text(jre_key + r.name + "\\", os_value_runtime_lib, lib_of(r));
            break;
        case IN_JDK:
        case IN_JDK_USER:
        case IN_JDK_LIB_ONLY:
            os_reg_fake_subkey(jdk_key, reg.keep(r.name), root);
            text_in(root, std::string(jdk_key) + "\\" + r.name, r.place == IN_JDK_LIB_ONLY ? "RuntimeLib" : "JavaHome",
                    r.place == IN_JDK_LIB_ONLY ? lib_of(r) : home.string());
            break;
        case IN_VENDOR:
            os_reg_fake_subkey(vendor_key, reg.keep(r.name));
            text_in(root, std::string(vendor_key) + "\\" + r.name + "\\hotspot\\MSI", "Path", home.string());
            break;
        case IN_ENV: env[0] = "GV_TEST_JAVA_HOME=" + home.string(); break;
        case IN_HOMES: break;
        }
    }

    void text_in(os_reg_root root, const std::string& key, const char* name, const std::string& text)
    {
        const std::string& kept = reg.texts.emplace_back(text + '\0');
        os_reg_fake_value(reg.keep(key), name, kept.data(), kept.size(), OS_REG_SZ, root);
    }
};

struct further_case {
    const char* what;
    std::vector<placed_runtime> runtimes;
    const char* minver;
    const char* maxver;
    const char* chosen;              // name of the runtime chosen; null: none
    std::vector<std::string> lines;  // log lines expected, in this order ({scratch} expanded)
    bool other_bits;                 // error 10 says a runtime of the other bitness is there
    bool looks_further = true;       // the further places are looked at
};

TEST(FindFurtherJre, OrderWindowTiesAndBitness)
{
    const further_case cases[] = {
        {"a registered runtime in the window: the further places are not looked at",
         {{IN_JRE, "1.8", ""}, {IN_JDK, "21", "21"}}, "1.8", "99", "1.8", {}, false, false},
        {"the registered runtime misses the window: JDK\\21 is found",
         {{IN_JRE, "1.8", ""}, {IN_JDK, "21", "21.0.2"}}, "11", "99", "21",
         {"runtime.place=HKLM\\SOFTWARE\\JavaSoft\\JDK (looked at)",
          "runtime.candidate={scratch}/runtimes/21/lib/server/libjvm.so version=21.0.2 (taken)",
          "runtime.chosen={scratch}/runtimes/21/lib/server/libjvm.so"},
         false},
        {"no JRE key; a vendor key only, its version from the subkey name without a release file",
         {{IN_VENDOR, "17.0.9+9", ""}}, "17", "17.9999", "17.0.9+9",
         {"runtime.place=HKLM\\SOFTWARE\\JavaSoft\\JDK (absent)", "runtime.place=HKLM\\SOFTWARE\\Vendor\\JDK (looked at)",
          "runtime.candidate={scratch}/runtimes/17.0.9+9/lib/server/libjvm.so version=17.0.9+9 (taken)"},
         false},
        {"the release file's version beats the subkey name's", {{IN_JDK, "jdk-99", "17.0.1"}}, "17", "17.9999",
         "jdk-99", {}, false},
        {"RuntimeLib only: the release file three folders up", {{IN_JDK_LIB_ONLY, "x", "21"}}, "21", "21", "x", {},
         false},
        {"HKCU only", {{IN_JDK_USER, "22", "22"}}, "1.4", "9999", "22",
         {"runtime.place=HKCU\\SOFTWARE\\JavaSoft\\JDK (looked at)"}, false},
        {"the newest across places wins, wherever it is",
         {{IN_JDK, "17", "17"}, {IN_ENV, "env", "21"}, {IN_HOMES, "a", "19"}}, "1.4", "9999", "env",
         {"runtime.candidate={scratch}/homes/a/lib/server/libjvm.so version=19 (passed over: not newer than the one "
          "taken)"},
         false},
        {"equal versions: HKLM's comes before HKCU's", {{IN_JDK_USER, "u", "21"}, {IN_JDK, "m", "21"}}, "1.4",
         "9999", "m", {}, false},
        {"equal versions: the registry before the homes, homes by name",
         {{IN_HOMES, "b", "21"}, {IN_HOMES, "a", "21.0"}, {IN_VENDOR, "v", "21.0.0"}}, "1.4", "9999", "v", {},
         false},
        {"a 32-bit VM library is passed over and named; error 10 says so",
         {{IN_JDK, "21", "21", 32}, {IN_HOMES, "old", "11"}}, "17", "99", nullptr,
         {"runtime.candidate={scratch}/runtimes/21/lib/server/libjvm.so version=21 (passed over: 32-bit VM "
          "library, this program is 64-bit)",
          "runtime.candidate={scratch}/homes/old/lib/server/libjvm.so version=11 (passed over: outside the "
          "version window)"},
         true},
        {"a 32-bit one outside the window adds no sentence", {{IN_HOMES, "old", "11", 32}}, "17", "99", nullptr,
         {}, false},
        {"homes without a release file or a VM library are passed over",
         {{IN_HOMES, "no-release", ""}, {IN_JDK, "no-lib", "21", 64, false}}, "1.4", "9999", nullptr,
         {"runtime.candidate={scratch}/runtimes/no-lib version=21 (passed over: no VM library)",
          "runtime.candidate={scratch}/homes/no-release version=(none) (passed over: no release file)"},
         false},
        {"~/ stands for $HOME", {}, "1.4", "9999", nullptr, {"runtime.place={scratch}/.jdks (absent)"}, false},
    };
    for (const further_case& c : cases) {
        SCOPED_TRACE(c.what);
        further_setup setup;
        for (const placed_runtime& r : c.runtimes) setup.add(r);
        scoped_env env(setup.env);
        debug_flag = true;
        testing::internal::CaptureStdout();
        char* lib = find_registry_jre(parse_version(c.minver, 0), parse_version(c.maxver, 0));
        std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());
        debug_flag = false;
        std::string expected = or_none(nullptr);
        for (const placed_runtime& r : c.runtimes)
            if (c.chosen && r.name == c.chosen) expected = setup.lib_of(r);
        EXPECT_EQ(or_none(lib), expected);
        size_t at = 0;
        for (std::string line : c.lines) {
            for (size_t p; (p = line.find("{scratch}")) != std::string::npos;) line.replace(p, 9, setup.scratch.path.string());
            auto found = std::find(log.begin() + at, log.end(), line);
            EXPECT_NE(found, log.end()) << line;
            if (found != log.end()) at = size_t(found - log.begin());
        }
        bool looked = std::any_of(log.begin(), log.end(),
                                  [](const std::string& line) { return line.rfind("runtime.place=", 0) == 0; });
        EXPECT_EQ(looked, c.looks_further);
        std::string error = no_runtime_error("demo");
        EXPECT_EQ(error.find(". A 32-bit Java is installed, but this program needs a 64-bit one.") !=
                      std::string::npos,
                  c.other_bits)
            << error;
    }
}

}  // namespace
