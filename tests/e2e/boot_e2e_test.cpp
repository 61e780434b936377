// The standard boot class with the real JVM: packages that glimvane-pack
// makes of the example application and of small test applications, run as
// a user would run them.
#include "payload/sections.h"
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"
#include "tests/report_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string java_problem =
    "PROBLEM: Java programming issue -- notify your vendor\r\n\r\n"
    "SOLUTION: Obtain the latest 'Demo App' from your vendor";

// A package with the standard boot class, run in the locale that the
// non-ASCII words need.
struct boot_package : package_dir {
    void pack(std::vector<std::string> options)
    {
        std::vector<std::string> argv = {GLIMVANE_PACK, "--stub", GLIMVANE_STUB, "--out", exe.string(),
                                         "--name", "Demo App"};
        argv.insert(argv.end(), options.begin(), options.end());
        fs::create_directories(exe.parent_path());
        run_result r = run_program(argv);
        ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.err;
    }

    run_result launch(std::vector<std::string> words, std::vector<std::string> env = {})
    {
        std::vector<std::string> argv = {exe.string()};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<std::string> tools = desktop.env();
        env.insert(env.end(), tools.begin(), tools.end());
        env.push_back("TMPDIR=" + tmp.string());
        env.push_back("LANG=C.UTF-8");  // the VM writes non-ASCII words in the locale's encoding
        return run_program(argv, env);
    }
};

std::vector<int32_t> z_offsets_of(const fs::path& exe)
{
    std::string file = read_text(exe);
    auto* data = reinterpret_cast<const unsigned char*>(file.data());
    int32_t length = int32_t(file.size());
    std::vector<int32_t> found;
    for (int32_t at = find_section(data, 0, length); at > 0;
         at = find_section(data, at + section_header_size + section_payload_length(data + at), length))
        if (section_type(data + at) == 'Z') found.push_back(at);
    return found;
}

TEST(Example, PrintsItsWordsAndItsResourceAndLeavesNothingBehind)
{
    boot_package p;
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello"});
    run_result r = p.launch({"plain", "two words", "é", "日本"});
    EXPECT_EQ(r.exit_code, 0) << r.command << "\n" << r.out << r.err;
    EXPECT_EQ(r.out,
              "Hello from a packaged Java application\n"
              "resource: Greetings from a resource inside the application's own jar\n"
              "packed as: " + p.exe.string() + "\n"
              "words: 4\n"
              "  word 0: plain\n"
              "  word 1: two words\n"
              "  word 2: é\n"
              "  word 3: 日本\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(p.temp_removed());
}

// A window that no runtime of the machine fits: only runtimes of our own
// below a $HOME of the test, found by their release files, can run it.
TEST(Example, RunsOnARuntimeFoundOnlyBelowSdkmanAndNamesAnotherBitness)
{
    boot_package p;
    p.pack({"--jar", GLIMVANE_EXAMPLE_JAR, "--main", "example.Hello", "--var=minver=99", "--var=maxver=99.9999"});
    const fs::path home = p.root / "home";
    const fs::path sdkman = home / ".sdkman" / "candidates" / "java";
    const fs::path runtime = sdkman / "99.0.1-test";
    const fs::path lib = runtime / "lib" / "server" / "libjvm.so";
    write_text(runtime / "release", "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"99.0.1\"\n");
    fs::create_directories(lib.parent_path());
    fs::create_symlink(fs::path(TEST_JAVA_HOME) / "lib" / "server" / "libjvm.so", lib);
    const std::vector<std::string> env = {"HOME=" + home.string(), "JAVA_HOME="};

    run_result r = p.launch({"-D*", "one"}, env);
    std::string what = r.command + "\n" + r.out + r.err;
    ASSERT_EQ(r.exit_code, 0) << what;
    EXPECT_NE(r.out.find("Hello from a packaged Java application\n"), std::string::npos) << what;
    EXPECT_NE(r.out.find("  word 0: one\n"), std::string::npos) << what;
    std::vector<std::string> log = log_texts(r.out);
    EXPECT_EQ(value_of(log, "runtime.place"), sdkman.string() + " (looked at)") << what;
    EXPECT_EQ(value_of(log, "jvm"), lib.string()) << what;
    EXPECT_TRUE(p.temp_removed());

    // Only a 32-bit one in the window (an ELF header is all it needs to be
    // recognised): error 10 says so.
    fs::remove_all(sdkman);
    const fs::path old = home / ".jdks" / "x86-99";
    write_text(old / "release", "JAVA_VERSION=99.2\n");
    std::string elf32(52, '\0');
    elf32.replace(0, 7, "\x7f" "ELF\x01\x01\x01");
    elf32[18] = 3;  // EM_386
    write_text(old / "lib" / "server" / "libjvm.so", elf32);
    r = p.launch({"-D*"}, env);
    what = r.command + "\n" + r.out + r.err;
    EXPECT_EQ(r.exit_code, 10) << what;
    EXPECT_NE(r.out.find("!runtime.candidate=" + (old / "lib" / "server" / "libjvm.so").string() +
                         " version=99.2 (passed over: 32-bit VM library, this program is 64-bit) ["),
              std::string::npos)
        << what;
    EXPECT_NE(r.out.find("ERROR #10: A Java Runtime Environment for 'demo-app' could not be found. A 32-bit "
                         "Java is installed, but this program needs a 64-bit one."),
              std::string::npos)
        << what;
}

TEST(BootClass, GivesTheApplicationItsPropertiesAndLogsWithTheDebugSwitch)
{
    boot_package p;
    scratch_dir payloads;
    write_text(payloads.path / "one.bin", "first payload");
    write_text(payloads.path / "two.bin", "second");
    p.pack({"--jar", GLIMVANE_BOOT_APPS_JAR, "--main", "Props", "--payload", (payloads.path / "one.bin").string(),
            "--payload", (payloads.path / "two.bin").string()});
    std::vector<int32_t> z = z_offsets_of(p.exe);
    ASSERT_EQ(z.size(), 2u);
    const std::string z_text = "," + std::to_string(z[0]) + "," + std::to_string(z[1]);

    for (bool debug : {false, true}) {
        std::vector<std::string> words = {"w1", "w 2"};
        if (debug) words.insert(words.begin(), "-D*");
        run_result r = p.launch(words);
        ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.out << r.err;
        std::vector<std::string> log = log_texts(r.out);
        std::string app = std::regex_replace(r.out, std::regex(R"(!.* \[\d+\]\r\n)"), "");
        std::smatch temp;
        ASSERT_TRUE(std::regex_search(app, temp, std::regex("temp=(.*)\n"))) << r.out;
        EXPECT_EQ(app, "exe=" + p.exe.string() + "\ntemp=" + temp.str(1) + "\nz=" + z_text +
                           "\nboot class in temp=true\nword=w1\nword=w 2\n");
        EXPECT_EQ(fs::path(temp.str(1)).parent_path(), p.tmp);
        EXPECT_TRUE(std::regex_match(fs::path(temp.str(1)).filename().string(), std::regex("GV[0-9A-F]+")));
        if (!debug) {
            EXPECT_TRUE(log.empty()) << r.out;
            continue;
        }
        // The boot class's lines sit between the launcher's, in its form.
        std::vector<std::string> boot;
        for (const std::string& line : log)
            if (line.rfind("boot.", 0) == 0) boot.push_back(line);
        EXPECT_EQ(std::count(log.begin(), log.end(), "temp.folder=" + temp.str(1)), 1) << r.out;
        EXPECT_EQ(boot, (std::vector<std::string>{"boot.exe=" + p.exe.string(), "boot.temp=" + temp.str(1),
                                                  "boot.z=" + z_text, "boot.main=Props", "boot.windowed=false",
                                                  "boot.words=2", "boot.main.invoke", "boot.main.returned"}))
            << r.out;
    }
    EXPECT_TRUE(p.temp_removed());
}

// ---- failures that are the application's fault --------------------------------

struct failure_case {
    const char* name;
    std::vector<std::string> options;  // besides the jar
    int code;
    std::string text;    // the launch error text
    std::string stderr;  // what standard error holds
    // The packer refuses a package without a main class: the main line
    // becomes this text after packing.
    const char* main_line = nullptr;
};

const std::string no_trace = "Its stack trace is on standard error; fix the fault in the application";
const std::string thrower_trace =
    "Exception in thread \"main\" java.lang.IllegalStateException: boom\n"
    "\tat Thrower.fail(Apps.java:23)\n"
    "\tat Thrower.main(Apps.java:19)\n";

const char* const no_main_text =
    "50: The package names no main class\r\n\r\n\tPack it with --main CLASS, which writes the Vars line main=CLASS";

const failure_case failure_cases[] = {
    {"no main key", {"--main", "M"}, 50,
     no_main_text, "", ""},
    {"an empty main value", {"--main", "M"}, 50,
     no_main_text, "", "main=\n"},
    {"main class not found", {"--main", "com.example.Missing"}, 51,
     "51: The main class 'com.example.Missing' was not found\r\n\r\n\tCheck the Vars line main=com.example.Missing (a "
     "fully qualified name such as com.example.Main) and that a packed jar holds it; class path: ",
     ""},
    {"a class the main class needs is missing", {"--main", "Orphan"}, 52,
     "52: The main class 'Orphan' could not be loaded: java.lang.NoClassDefFoundError: Gone\r\n\r\n"
     "\tCheck that the jars it needs are packed",
     ""},
    {"main returns int", {"--main", "IntMain"}, 53,
     "53: The main class 'IntMain' has no public static void main(String[])\r\n\r\n"
     "\tDeclare it as public static void main(String[] args), or name another class with main=",
     ""},
    {"main is not static", {"--main", "InstanceMain"}, 53,
     "53: The main class 'InstanceMain' has no public static void main(String[])", ""},
    {"main takes no words", {"--main", "NoArgsMain"}, 53,
     "53: The main class 'NoArgsMain' has no public static void main(String[])", ""},
    {"main throws", {"--main", "Thrower"}, 54,
     "54: The application ended with an exception: java.lang.IllegalStateException: boom\r\n\r\n\t" + no_trace,
     thrower_trace},
    {"main throws in a windowed application", {"--main", "Thrower", "--var", "windowed=*"}, 54,
     "54: The application ended with an exception: java.lang.IllegalStateException: boom\r\n\r\n"
     "\tat Thrower.fail(Apps.java:23)\r\n\tat Thrower.main(Apps.java:19)",
     thrower_trace},
    {"the main class's initializer throws", {"--main", "Init"}, 54,
     "54: The application ended with an exception: java.lang.ExceptionInInitializerError, caused by "
     "java.lang.NumberFormatException: For input string: \"not a number\"\r\n\r\n\t" + no_trace,
     "Exception in thread \"main\" java.lang.ExceptionInInitializerError\nCaused by: "
     "java.lang.NumberFormatException: For input string: \"not a number\"\n"},
};

TEST(BootClass, ApplicationFaultsGiveTheirCodeInThe50sAndAClearMessage)
{
    for (const failure_case& c : failure_cases) {
        boot_package p;
        std::vector<std::string> options = {"--jar", GLIMVANE_BOOT_APPS_JAR};
        options.insert(options.end(), c.options.begin(), c.options.end());
        p.pack(options);
        if (c.main_line) {
            const std::string line = c.main_line;
            p.edit_vars([&line](std::string vars) { return vars.replace(vars.find("main=M\n"), 7, line); });
        }
        if (testing::Test::HasFatalFailure()) return;
        run_result r = p.launch({});
        EXPECT_EQ(r.exit_code, c.code) << c.name << "\n" << r.out << r.err;
        // The report block and the box hold the whole text (a class path
        // ends the text of code 51: compare up to it).
        const std::string head = report_separator + "ERROR #" + c.text;
        EXPECT_EQ(r.out.substr(0, head.size()), head) << c.name;
        EXPECT_NE(r.out.find("\r\n\r\n" + java_problem + "\r\n\r\n"), std::string::npos) << c.name << "\n" << r.out;
        auto boxes = p.desktop.calls("zenity");
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes[0][4].substr(0, 7 + c.text.size()), "ERROR #" + c.text) << c.name;
        // java's form of an uncaught exception: main's frames only.
        if (c.stderr.empty())
            EXPECT_EQ(r.err, "") << c.name;
        else
            EXPECT_EQ(r.err.substr(0, c.stderr.size()), c.stderr) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("glimvaneboot"), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("reflect"), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("jdk.internal"), std::string::npos) << c.name << "\n" << r.err;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(p.desktop.calls("xdg-open").empty()) << c.name << ": the runtime is not at fault";
        EXPECT_TRUE(p.temp_removed()) << c.name;
    }
}

TEST(BootClass, TheStandardOneWinsOverAJarsOwnUnlessLeftOut)
{
    for (bool no_boot : {false, true}) {
        boot_package p;
        std::vector<std::string> options = {"--jar", GLIMVANE_OWN_BOOT_JAR, "--jar", GLIMVANE_BOOT_APPS_JAR,
                                            "--main", "Props"};
        if (no_boot) options.push_back("--no-boot");
        p.pack(options);
        run_result r = p.launch({"w"});
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        if (no_boot)
            EXPECT_EQ(r.out, "the jar's own boot class, main=true\n");
        else
            EXPECT_EQ(r.out.rfind("exe=" + p.exe.string() + "\n", 0), 0u) << r.out;
    }
}

// The launcher binds the boot class's natives and main is called through
// JNI. Run by a launcher that does not (here: plain java), the boot class
// calls main by reflection, with the same results and the same trace.
TEST(BootClass, CallsMainByReflectionWhereNoLauncherBindsItsNatives)
{
    const std::string cp = std::string(GLIMVANE_BOOT_CLASS_DIR) + ":" + GLIMVANE_BOOT_APPS_JAR;
    struct {
        const char* vars;
        std::string out;
        std::string err;
    } cases[] = {
        {"main=Props|", "exe=/app/demo\ntemp=/tmp/run\nz=\nboot class in temp=false\nresult=null\n", ""},
        {"main=Thrower|",
         "result=54: The application ended with an exception: java.lang.IllegalStateException: boom\r\n\r\n\t" +
             no_trace + "\n",
         thrower_trace},
        {"main=IntMain|", "result=53: The main class 'IntMain' has no public static void main(String[])", ""},
    };
    for (const auto& c : cases) {
        run_result r = run_program({std::string(TEST_JAVA_HOME) + "/bin/java", "-cp", cp, "CallBoot", c.vars});
        EXPECT_EQ(r.exit_code, 0) << c.vars << "\n" << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.vars;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.vars << "\n" << r.err;
        EXPECT_EQ(r.err.find("reflect"), std::string::npos) << c.vars << "\n" << r.err;
    }
}

}  // namespace
