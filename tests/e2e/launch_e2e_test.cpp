// The whole launch with the real runtimes installed here: packages made by
// glimvane-pack with boot classes written for these tests (--no-boot), run
// as a user would. One process per VM: a process creates one VM only.
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"
#include "tests/report_texts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

const fs::path java_home = TEST_JAVA_HOME;
const fs::path boot_classes = TEST_BOOT_CLASSES;
const std::string runtime_problem =
    "PROBLEM: An error occurred with your current Java Runtime Environment\r\n\r\n"
    "SOLUTION: Reinstall the Java Runtime Environment for 'Demo App' and try again";
const std::string java_problem =
    "PROBLEM: Java programming issue -- notify your vendor\r\n\r\n"
    "SOLUTION: Obtain the latest 'Demo App' from your vendor";
const std::string download_page = "https://adoptium.net/temurin/releases/";

// "{root}" in a text stands for the package's scratch folder.
std::string expand(std::string text, const fs::path& root)
{
    for (size_t at; (at = text.find("{root}")) != std::string::npos;) text.replace(at, 6, root.string());
    return text;
}

// A package below a scratch folder, launched with its own temp path, the
// recording desktop tools and the test runtime as $JAVA_HOME.
struct package : package_dir {
    // `boot` names a test boot class ("probe", "wrong_signature") or none.
    // An option "vars+=KEY=VALUE" adds a line the packer would refuse (a
    // heap the VM refuses, more jop words than it passes) after packing.
    void pack(const std::vector<std::string>& options, const std::string& boot = "probe")
    {
        std::vector<std::string> words = {"--no-boot"};
        if (!boot.empty()) words.insert(words.end(), {"--file", (boot_classes / boot / "glimvaneboot.class").string()});
        std::string added;
        for (const std::string& o : options) {
            if (o.rfind("vars+=", 0) == 0)
                added += o.substr(6) + "\n";
            else
                words.push_back(expand(o, root));
        }
        package_dir::pack(words);
        if (!added.empty()) edit_vars([&added](const std::string& vars) { return vars + added; });
    }

    run_result launch(const std::vector<std::string>& words, std::vector<std::string> env = {})
    {
        std::vector<std::string> argv = {exe.string()};
        for (const std::string& w : words) argv.push_back(expand(w, root));
        for (std::string& e : env) e = expand(e, root);
        std::vector<std::string> defaults = desktop.env();
        defaults.insert(defaults.end(), {"TMPDIR=" + tmp.string(), "LANG=C.UTF-8", "JAVA_HOME=" + java_home.string()});
        auto name = [](const std::string& var) { return var.substr(0, var.find('=')); };
        for (const std::string& d : defaults) {
            bool given = false;
            for (const std::string& e : env) given = given || name(e) == name(d);
            if (!given) env.push_back(d);
        }
        return run_program(argv, env);
    }
};

// A runtime folder of our own: a release file with the version and a link
// to the test runtime's VM library.
fs::path fake_runtime(const fs::path& folder, const std::string& version)
{
    write_text(folder / "release", "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"" + version + "\"\n");
    fs::create_directories(folder / "lib" / "server");
    fs::create_symlink(java_home / "lib" / "server" / "libjvm.so", folder / "lib" / "server" / "libjvm.so");
    return folder;
}

// ---- outcomes: exit codes, the VM's hooks, errors 11 to 14, boot results ---------

struct outcome_case {
    const char* name;
    std::vector<std::string> pack;   // packer options ({root} expanded)
    std::vector<std::string> words;  // launch words ({root} expanded)
    int exit_code;
    std::vector<std::string> out;    // substrings of standard output, in this order
    std::string err;                 // a substring of standard error, or empty
    std::string box;                 // a substring of the one box shown; empty: no box
    bool opens_page;
    std::string boot = "probe";
};

TEST(LaunchOutcome, ExitCodesHooksErrorsAndBootResults)
{
    const std::string no_library = "JVM=/nonexistent/libjvm.so";
    const std::string not_library = "{root}/not-a-library.so";
    const std::string aborting = "The Java VM is aborting...";
    const std::string crash = "--var=jop=-XX:+CrashOnOutOfMemoryError -XX:-CreateCoredumpOnCrash "
                              "-XX:ErrorFile={root}/hs_err.log";
    const outcome_case cases[] = {
        {"System.exit(3) reaches the exit hook", {"--var=probe=exit"}, {"-D*"}, 3, {"!jvm.exitHook=3 ["}, "", "",
         false},
        {"an exhausted heap aborts the VM", {"--var=probe=hog", "--var=mx=16", crash}, {"-D*"}, 154,
         {"!jvm.abortHook() ["}, "", aborting, false},
        {"mx=1 aborts the VM at start", {"--var=probe=echo", "vars+=mx=1"}, {}, 154, {}, "", aborting, false},
        {"a jop of -Xmx1m aborts, -Q* shows no box", {"--var=probe=echo", "--var=jop=-Xmx1m"}, {"-Q*"}, 154, {},
         "", "", false},
        {"11: -jvm: names a missing file", {"--var=probe=echo"}, {"-jvm:/nonexistent/libjvm.so"}, 11,
         {"ERROR #11: Failure loading/binding to the Java VM DLL\r\n\r\n\t" + no_library + "\r\n\r\n" +
          runtime_problem},
         "", no_library, true},
        {"11: -jvm: names a file that is no library", {"--var=probe=echo"}, {"-jvm:" + not_library}, 11,
         {"ERROR #11: Failure loading/binding to the Java VM DLL\r\n\r\n\tJVM=" + not_library}, "", not_library, true},
        {"12: mx=abc", {"--var=probe=echo", "vars+=mx=abc"}, {}, 12,
         {"ERROR #12: JNI_CreateJavaVM() could not create a Java Runtime Environemnt [err=-6]\r\n\r\n\tJVM="}, "",
         "[err=-6]", true},
        {"12: a jop of -Xss1", {"--var=probe=echo", "--var=jop=-Xss1"}, {"-Q*"}, 12, {}, "", "", false},
        {"13: a package without a boot class", {}, {}, 13,
         {"ERROR #13: The Java VM failed to locate the glimvaneboot.class file\r\n\r\n\tJVM="}, "", "ERROR #13", true,
         ""},
        {"13: boot with another signature", {}, {}, 13, {"ERROR #13: The Java VM failed to locate"}, "", "ERROR #13", true,
         "wrong_signature"},
        {"14: boot throws", {"--var=probe=throw"}, {}, 14,
         {"ERROR #14: Unexpected Java VM exception\r\n\r\n\tJVM="}, "java.lang.IllegalStateException: probe threw",
         "ERROR #14", true},
        {"57 from boot: the Java programming paragraph", {"--var=probe=result", "--var=result=57: Bad main class"},
         {}, 57, {"ERROR #57: Bad main class\r\n\r\n" + java_problem}, "", "ERROR #57", false},
        {"35 from boot: the runtime paragraph and the download page",
         {"--var=probe=result", "--var=result=35: The runtime broke"}, {}, 35,
         {"ERROR #35: The runtime broke\r\n\r\n" + runtime_problem}, "", "ERROR #35", true},
        {"a non-daemon thread keeps the main thread in DestroyJavaVM", {"--var=probe=thread"}, {"-D*"}, 0,
         {"boot.returned", "!vm.java.returned [", "!vm.exit.wait.start [", "thread.done", "!vm.exit.wait.end ["},
         "", "", false},
    };
    for (const outcome_case& c : cases) {
        package p;
        write_text(p.root / "not-a-library.so", "plain text\n");
        p.pack(c.pack, c.boot);
        run_result r = p.launch(c.words);
        std::string what = std::string(c.name) + "\n" + r.command + "\n" + r.out + r.err;
        EXPECT_EQ(r.exit_code, c.exit_code) << what;
        size_t at = 0;
        for (const std::string& part : c.out) {
            size_t found = r.out.find(expand(part, p.root), at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << part << "\n" << what;
            if (found != std::string::npos) at = found + 1;
        }
        if (!c.err.empty()) {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << what;
        }
        auto boxes = p.desktop.calls("zenity");
        EXPECT_EQ(boxes.size(), c.box.empty() ? 0u : 1u) << what;
        if (!c.box.empty() && boxes.size() == 1) {
            EXPECT_NE(boxes[0].back().find(expand(c.box, p.root)), std::string::npos) << what;
        }
        auto pages = p.desktop.wait_calls("xdg-open", c.opens_page ? 1 : 0);
        if (!c.opens_page) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(p.desktop.calls("xdg-open"),
                  c.opens_page ? std::vector<std::vector<std::string>>{{download_page}}
                               : std::vector<std::vector<std::string>>{})
            << what;
        EXPECT_TRUE(p.temp_removed()) << what;
    }
}

// ---- what reaches the VM and the boot class ------------------------------------------

TEST(LaunchArguments, JopWordsBecomeOptionsAndTheBootElementsArriveAsSpecified)
{
    package p;
    write_text(p.root / "z.bin", "zzz");
    p.pack({"--var=probe=echo", "--var=props=gv.one,gv.two,gv.three", "--payload", "{root}/z.bin",
            "--var=jop=-Dgv.one=1 \"-Dgv.two=two words\" -Dgv.three=\xC3\xA9"});
    const std::string invalid = "caf\xE9!";
    run_result r = p.launch({"-D*", "plain", "two words", "\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", invalid,
                             "\xF0\x9F\x98\x80", ""});
    ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);

    std::vector<std::string> jop;
    for (const std::string& line : log)
        if (line.rfind("jop=", 0) == 0) jop.push_back(line.substr(4));
    EXPECT_EQ(jop, (std::vector<std::string>{"-Dgv.one=1", "-Dgv.two=two words", "-Dgv.three=\xC3\xA9"}));
    EXPECT_NE(r.out.find("prop.gv.one=1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("prop.gv.two=two words\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("prop.gv.three=\xC3\xA9\n"), std::string::npos) << r.out;

    const std::string expected[] = {
        "arg[0]=RD\n",
        "arg[1]=" + p.exe.string() + "\n",
        "arg[2]=" + value_of(log, "temp.folder") + "\n",
        "arg[5]=plain\n",
        "arg[6]=two words\n",
        "arg[7]=\xC3\xA9\n",
        "arg[8]=\xE6\x97\xA5\xE6\x9C\xAC\n",
        "arg[9]=caf\xEF\xBF\xBD!\n",  // the invalid byte arrives as U+FFFD
        "arg[10]=\xF0\x9F\x98\x80\n",
        "arg[11]=\n",
    };
    for (const std::string& line : expected) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("arg[12]"), std::string::npos) << "five elements and seven words";
    std::smatch z;
    EXPECT_TRUE(std::regex_search(r.out, z, std::regex("arg\\[4\\]=,[0-9]+\n"))) << "one Z section: its offset";
    // Element 3 is the whole Vars text, over several lines.
    size_t vars_at = r.out.find("arg[3]=");
    size_t vars_end = r.out.find("arg[4]=");
    ASSERT_NE(vars_at, std::string::npos);
    std::string shown = r.out.substr(vars_at, vars_end - vars_at);
    for (const char* key : {"probe=echo", "props=gv.one,gv.two,gv.three", "jop=-Dgv.one=1"})
        EXPECT_NE(shown.find(key), std::string::npos) << key << "\n" << shown;
    EXPECT_TRUE(p.temp_removed());

    // Without the debug log and without words: "R" and five elements.
    run_result quiet = p.launch({});
    ASSERT_EQ(quiet.exit_code, 0) << quiet.out << quiet.err;
    EXPECT_NE(quiet.out.find("arg[0]=R\n"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.out.find("arg[5]"), std::string::npos) << quiet.out;
}

TEST(LaunchArguments, JopWordsPastTheOptionListAreLoggedAndLeftOut)
{
    // split_args yields up to 99 words; the option list has room for 95.
    std::string jop;
    for (int i = 1; i <= 97; i++) jop += " -Dgv.w" + std::to_string(i) + "=" + std::to_string(i);
    package p;
    p.pack({"--var=probe=echo", "--var=props=gv.w95,gv.w96", "vars+=jop=" + jop.substr(1)});
    run_result r = p.launch({"-D*"});
    ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.out << r.err;
    std::vector<std::string> taken, dropped;
    for (const std::string& line : log_texts(r.out)) {
        if (line.rfind("jop=", 0) == 0) taken.push_back(line.substr(4));
        if (line.rfind("jop.dropped=", 0) == 0) dropped.push_back(line.substr(12));
    }
    EXPECT_EQ(taken.size(), 95u);
    EXPECT_EQ(dropped, (std::vector<std::string>{"-Dgv.w96=96", "-Dgv.w97=97"}));
    EXPECT_NE(r.out.find("prop.gv.w95=95\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("prop.gv.w96=null\n"), std::string::npos) << r.out;
}

// ---- runtime choice ----------------------------------------------------------------------

struct choice_case {
    const char* name;
    std::vector<std::string> pack;
    std::vector<std::string> words;
    std::string java_home;  // $JAVA_HOME ({root} expanded)
    int exit_code;
    std::string jvm;        // the "jvm=" log value, resolved; empty: not checked
};

TEST(RuntimeChoice, PrivateBeatsOverrideBeatsRegistryAndTheWindowDecides)
{
    const std::string real_lib = fs::canonical(java_home / "lib" / "server" / "libjvm.so").string();
    const choice_case cases[] = {
        {"the private runtime beats -jvm:", {"--var=jvm=rt/lib/server/libjvm.so"},
         {"-jvm:/nonexistent/libjvm.so"}, java_home.string(), 0, "{root}/app/rt/lib/server/libjvm.so"},
        {"-jvm: beats the registry", {}, {"-jvm:/nonexistent/libjvm.so"}, java_home.string(), 11,
         "/nonexistent/libjvm.so"},
        {"the registry's current runtime", {}, {}, java_home.string(), 0, real_lib},
        {"a window only our version 8 runtime satisfies", {"--var=minver=8", "--var=maxver=8.9999"}, {},
         "{root}/jdk8", 0, "{root}/jdk8/lib/server/libjvm.so"},
        {"a window the current version 21 misses: the installed runtime",
         {"--var=minver=17", "--var=maxver=17.9999"}, {}, "{root}/jdk21",
         0, real_lib},
    };
    for (const choice_case& c : cases) {
        package p;
        fake_runtime(p.root / "jdk8", "8");
        fake_runtime(p.root / "jdk21", "21");
        fs::create_directories(p.exe.parent_path());
        fs::create_directory_symlink(java_home, p.root / "app" / "rt");
        std::vector<std::string> pack = c.pack;
        pack.push_back("--var=probe=echo");
        p.pack(pack);
        std::vector<std::string> words = {"-D*", "-Q*"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        run_result r = p.launch(words, {"JAVA_HOME=" + expand(c.java_home, p.root)});
        std::string what = std::string(c.name) + "\n" + r.command + "\n" + r.out + r.err;
        EXPECT_EQ(r.exit_code, c.exit_code) << what;
        std::string jvm = value_of(log_texts(r.out), "jvm");
        std::string expected = expand(c.jvm, p.root);
        if (expected == real_lib && fs::exists(jvm)) jvm = fs::canonical(jvm).string();
        EXPECT_EQ(jvm, expected) << what;
    }
}

TEST(RuntimeChoice, NoRuntimeInTheWindowGives10AndAnInstallerThatInstallsNothing15)
{
    for (bool installer : {false, true}) {
        package p;
        fs::path ran = p.root / "installer-ran";
        std::vector<std::string> options = {"--var=probe=echo", "--var=minver=99"};
        if (installer) {
            write_text(p.root / "get-java", "#!/bin/sh\necho ran > '" + ran.string() + "'\n");
            fs::permissions(p.root / "get-java", fs::perms::owner_all);
            options.insert(options.end(), {"--getjava", (p.root / "get-java").string()});
        }
        p.pack(options);
        run_result r = p.launch({});
        std::string what = r.command + "\n" + r.out + r.err;
        EXPECT_EQ(r.exit_code, installer ? 15 : 10) << what;
        EXPECT_NE(r.out.find(installer ? "ERROR #15: Failure locating a Java Runtime Environment after trying to "
                                         "install Java"
                                       : "ERROR #10: A Java Runtime Environment for 'demo-app' could not be found"),
                  std::string::npos)
            << what;
        EXPECT_EQ(fs::exists(ran), installer) << what;
        auto boxes = p.desktop.calls("zenity");
        // With an installer: its notice, then the error; the error then offers the page.
        ASSERT_EQ(boxes.size(), installer ? 2u : 1u) << what;
        EXPECT_EQ(p.desktop.wait_calls("xdg-open", 1), (std::vector<std::vector<std::string>>{{download_page}}))
            << what;
        EXPECT_TRUE(p.temp_removed()) << what;
    }
}

}  // namespace
