// A packed program against the same program under `java -cp`, on the real
// runtimes: its standard streams in a terminal, in a pipe and with 2>&1, a
// reader that has gone, its name for jps and the X11 toolkit, the runtime a
// launch takes as current, its library path and a relative -jvm:.
#include "tests/e2e/package.h"
#include "tests/e2e/run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

const fs::path java_home = TEST_JAVA_HOME;
const fs::path openjdk17 = "/usr/lib/jvm/java-17-openjdk-amd64";
// Not on every machine.
const fs::path temurin25 = "/usr/lib/jvm/temurin-25-jdk-amd64";

std::string quoted(const std::string& word)
{
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string command_line(const std::vector<std::string>& argv)
{
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + quoted(a);
    return line;
}

// How a program's standard streams are connected.
enum stream_mode {
    IN_TERMINAL,  // a pseudo-terminal (script), as in an interactive shell
    PIPED,        // standard output and error each a pipe
    MERGED,       // 2>&1 into one pipe
};

run_result run_as(stream_mode mode, const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    std::string line = command_line(argv);
    if (mode == IN_TERMINAL) return run_program({"/usr/bin/script", "-qec", line, "/dev/null"}, env);
    if (mode == MERGED) return run_program({"/bin/sh", "-c", line + " 2>&1"}, env);
    return run_program(argv, env);
}

// A package of the test applications, and the same class under java.
struct java_package : package_dir {
    void pack_main(const std::string& main_class, std::vector<std::string> options = {})
    {
        options.insert(options.begin(), {"--jar", GLIMVANE_BOOT_APPS_JAR, "--main", main_class});
        pack(options);
    }

    std::vector<std::string> env(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> vars = desktop.env();
        vars.insert(vars.end(), {"TMPDIR=" + tmp.string(), "LANG=C.UTF-8", "JAVA_HOME=" + java_home.string()});
        // A variable of `more` replaces the default of that name.
        for (const std::string& m : more) {
            std::string name = m.substr(0, m.find('=') + 1);
            vars.erase(std::remove_if(vars.begin(), vars.end(),
                                      [&](const std::string& v) { return v.rfind(name, 0) == 0; }),
                       vars.end());
            vars.push_back(m);
        }
        return vars;
    }

    run_result launch(stream_mode mode, std::vector<std::string> words, std::vector<std::string> more = {}) const
    {
        words.insert(words.begin(), exe.string());
        return run_as(mode, words, env(more));
    }
};

run_result under_java(stream_mode mode, const std::string& main_class, std::vector<std::string> words = {},
                      std::vector<std::string> env = {})
{
    std::vector<std::string> argv = {(java_home / "bin" / "java").string(), "-cp", GLIMVANE_BOOT_APPS_JAR, main_class};
    argv.insert(argv.end(), words.begin(), words.end());
    env.push_back("LANG=C.UTF-8");
    return run_as(mode, argv, env);
}

// The value of a "key=value" line the Facts application printed.
std::string fact(const std::string& out, const std::string& key)
{
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("(^|\n)" + key + "=([^\r\n]*)"))) return "(missing)";
    return m[2];
}

TEST(Streams, AsUnderJavaInATerminalAPipeAndWith2To1)
{
    struct stream_case {
        const char* name;
        stream_mode mode;
        std::vector<std::string> pack_options;
        std::vector<std::string> switches;
        const char* console;  // what Facts says; java's own answer when null
    } cases[] = {
        {"in a terminal", IN_TERMINAL, {}, {}, nullptr},
        {"piped", PIPED, {}, {}, nullptr},
        {"with 2>&1", MERGED, {}, {}, nullptr},
        {"the package asks for the relay: standard output is its pipe", IN_TERMINAL, {"--relay", "on"}, {}, "false"},
        {"-W* turns the package's relay off", IN_TERMINAL, {"--relay", "on"}, {"-W*"}, "true"},
        {"--relay off is the console programs' default", IN_TERMINAL, {"--relay", "off"}, {}, "true"},
    };
    for (const stream_case& c : cases) {
        SCOPED_TRACE(c.name);
        java_package p;
        p.pack_main("Facts", c.pack_options);
        run_result packed = p.launch(c.mode, c.switches);
        ASSERT_EQ(packed.exit_code, 0) << packed.command << "\n" << packed.out << packed.err;
        std::string expected = c.console ? c.console : fact(under_java(c.mode, "Facts").out, "console");
        EXPECT_EQ(fact(packed.out, "console"), expected) << packed.out;
        EXPECT_TRUE(p.temp_removed());
    }
    // The order of writes is kept across the two streams, as under java.
    java_package p;
    p.pack_main("Alternate");
    run_result java = under_java(MERGED, "Alternate");
    ASSERT_NE(java.out.find("out 0\nerr 0\nout 1\nerr 1\n"), std::string::npos) << java.out;
    EXPECT_EQ(p.launch(MERGED, {}).out, java.out);
}

// Runs argv with standard output a pipe whose reader has gone: the first
// write would raise SIGPIPE.
int run_into_closed_pipe(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    int ends[2];
    if (pipe(ends) != 0) return -2;
    close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = spawn_with(argv, env, &actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (rc != 0) return -2;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Streams, AReaderThatHasGoneLeavesTheExitStatusAndTheCleanUp)
{
    struct gone_case {
        const char* name;
        std::vector<std::string> words;
        int exit_code;
    } cases[] = {
        {"a launch error before the VM exists", {"-D*", "-jvm:/nonexistent/libjvm.so"}, 11},
        {"the application writes into it, as under java", {"-D*"}, 0},
    };
    for (const gone_case& c : cases) {
        SCOPED_TRACE(c.name);
        java_package p;
        p.pack_main("Facts");
        std::vector<std::string> argv = {p.exe.string()};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        EXPECT_EQ(run_into_closed_pipe(argv, p.env()), c.exit_code);
        EXPECT_TRUE(p.temp_removed());
    }
    EXPECT_EQ(run_into_closed_pipe({(java_home / "bin" / "java").string(), "-cp", GLIMVANE_BOOT_APPS_JAR, "Facts"}, {}),
              0);
}

TEST(Identity, TheMainClassNamesTheProgramAndIsTheBottomFrame)
{
    java_package p;
    p.pack_main("Facts");
    run_result packed = p.launch(PIPED, {"one", "two words"});
    ASSERT_EQ(packed.exit_code, 0) << packed.out << packed.err;
    run_result java = under_java(PIPED, "Facts", {"one", "two words"});
    // What jps -l and jcmd show, and the class the X11 toolkit makes the
    // windows' WM_CLASS of.
    EXPECT_EQ(fact(packed.out, "command"), "Facts one two words");
    EXPECT_EQ(fact(packed.out, "command"), fact(java.out, "command"));
    EXPECT_EQ(fact(packed.out, "bottom"), "Facts");
    EXPECT_EQ(fact(java.out, "bottom"), "Facts");
}

// A folder holding `java`, reached as the alternatives system links it:
// bin/java -> alternatives/java -> HOME/bin/java.
fs::path java_link_folder(const fs::path& root, const fs::path& home)
{
    fs::path bin = root / "bin";
    fs::path alternatives = root / "alternatives";
    fs::create_directories(bin);
    fs::create_directories(alternatives);
    fs::create_symlink(home / "bin" / "java", alternatives / "java");
    fs::create_symlink(alternatives / "java", bin / "java");
    return bin;
}

TEST(Runtime, CurrentIsJavaHomeThenTheJavaOnThePath)
{
    if (!fs::exists(temurin25 / "lib/server/libjvm.so") || !fs::exists(openjdk17 / "lib/server/libjvm.so"))
        GTEST_SKIP() << "needs OpenJDK 17 and Temurin 25";
    struct current_case {
        const char* name;
        std::string java_home;
        fs::path path_java;  // the home whose java is first on PATH; empty: none
        fs::path chosen;
        fs::path passed_over;
    } cases[] = {
        {"JAVA_HOME wins over the java on PATH", openjdk17.string(), temurin25, openjdk17, temurin25},
        {"the java on PATH, older than the newest", "", openjdk17, openjdk17, temurin25},
        {"the java on PATH, the newest", "", temurin25, temurin25, openjdk17},
    };
    for (const current_case& c : cases) {
        SCOPED_TRACE(c.name);
        java_package p;
        p.pack_main("Facts");
        std::string path = java_link_folder(p.root, c.path_java).string() + ":/usr/bin:/bin";
        run_result r = p.launch(PIPED, {"-D*"}, {"JAVA_HOME=" + c.java_home, "PATH=" + path});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        std::vector<std::string> log = log_texts(r.out);
        std::string chosen = (fs::canonical(c.chosen) / "lib/server/libjvm.so").string();
        std::string other = (fs::canonical(c.passed_over) / "lib/server/libjvm.so").string();
        EXPECT_EQ(value_of(log, "jvm"), chosen);
        EXPECT_EQ(value_of(log, "runtime.current").find(chosen + " version="), 0u) << r.out;
        std::string candidate = value_of(log, "runtime.candidate");
        EXPECT_EQ(candidate.find(other + " version="), 0u) << r.out;
        EXPECT_NE(candidate.find("(passed over: the current runtime is taken)"), std::string::npos) << candidate;
    }
}

TEST(LibraryPath, EndsWithWhatJavaItselfUses)
{
    const fs::path jni = "/usr/lib/x86_64-linux-gnu/jni/libjffi-1.2.so";
    struct path_case {
        const char* name;
        std::vector<std::string> env;
    } cases[] = {
        {"LD_LIBRARY_PATH unset", {}},
        {"LD_LIBRARY_PATH set", {"LD_LIBRARY_PATH=/opt/gv-a:/opt/gv-b"}},
    };
    for (const path_case& c : cases) {
        SCOPED_TRACE(c.name);
        java_package p;
        p.pack_main("Facts");
        std::vector<std::string> words;
        if (fs::exists(jni)) words.push_back("load=jffi-1.2");
        run_result packed = p.launch(PIPED, words, c.env);
        ASSERT_EQ(packed.exit_code, 0) << packed.out << packed.err;
        run_result java = under_java(PIPED, "Facts", words, c.env);
        ASSERT_EQ(java.exit_code, 0) << java.out << java.err;
        // The temp folder and the executable's folder, then java's own path.
        std::string path = fact(packed.out, "library.path");
        size_t temp_end = path.find(':');
        ASSERT_NE(temp_end, std::string::npos) << path;
        EXPECT_EQ(path.rfind((p.tmp / "GV").string(), 0), 0u) << path;
        std::string rest = path.substr(temp_end + 1);
        EXPECT_EQ(rest, p.exe.parent_path().string() + ":" + fact(java.out, "library.path"));
        EXPECT_EQ(path.find(":/usr/bin:"), std::string::npos) << "a folder of PATH: " << path;
        if (fs::exists(jni)) {
            EXPECT_EQ(fact(packed.out, "loaded"), "jffi-1.2") << packed.err;
        }
    }
}

TEST(RuntimePaths, ARelativeJvmIsTheUsersBeforeTheLaunchChangesDirectory)
{
    java_package p;
    p.pack_main("Facts", {"--var", "execwd=*"});
    fs::path lib = fs::canonical(java_home / "lib" / "server" / "libjvm.so");
    fs::path home = lib.parent_path().parent_path().parent_path();
    // Started in the runtime's home; execwd moves to the executable's folder.
    std::string line = "cd " + quoted(home.string()) + " && exec " + quoted(p.exe.string()) +
                       " -D* -jvm:lib/server/libjvm.so";
    run_result r = run_program({"/bin/sh", "-c", line}, p.env({"JAVA_HOME="}));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);
    EXPECT_EQ(value_of(log, "jvm"), (home / "lib/server/libjvm.so").string());
    EXPECT_EQ(value_of(log, "cwd"), p.exe.parent_path().string());
}

// What would hang or crash the system's loader fails as a library that does
// not load: error 11, and the temp folder goes.
TEST(RuntimePaths, AJvmThatCannotLoadIsError11)
{
    java_package p;
    p.pack_main("Facts");
    fs::path lib = fs::canonical(java_home / "lib" / "server" / "libjvm.so");
    std::string whole = read_text(lib);
    write_text(p.root / "cut" / "libjvm.so", whole.substr(0, 100000));
    fs::create_directories(p.root / "fifo");
    ASSERT_EQ(mkfifo((p.root / "fifo" / "libjvm.so").c_str(), 0600), 0);
    for (const char* name : {"cut", "fifo"}) {
        SCOPED_TRACE(name);
        run_result r = p.launch(PIPED, {"-Q*", "-jvm:" + (p.root / name / "libjvm.so").string()});
        EXPECT_EQ(r.exit_code, 11) << r.out << r.err;
        EXPECT_TRUE(p.temp_removed());
    }
}

}  // namespace
