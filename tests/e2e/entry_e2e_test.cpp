#include "tests/e2e/run.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// A stub that was never packaged runs the driver up to its self-check,
// which refuses it with error 96 (no sections configured).
TEST(StubEntry, DebugLogShowsTheApplicationWordsInOrder)
{
    run_result r = run_program({GLIMVANE_STUB, "-D*", "-Q*", "a", "b c", "-W*"});
    EXPECT_EQ(r.exit_code, 96) << r.command << "\n" << r.out << r.err;
    std::vector<std::string> log = log_texts(r.out);
    ASSERT_GE(log.size(), 5u) << r.out;
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.begin() + 5),
              (std::vector<std::string>{"arg0='a'", "arg1='b c'", "arg2='-W*'"}))
        << r.out;
    std::regex stamp(R"(\[(-?\d+)\]\r\n)");
    long last = 0;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), stamp), end; it != end; ++it) {
        long ms = std::stol((*it)[1]);
        EXPECT_GE(ms, last);
        last = ms;
    }
}

TEST(StubEntry, SilentWithoutDebugSwitch)
{
    run_result r = run_program({GLIMVANE_STUB, "-Q*", "a", "b c"});
    EXPECT_EQ(r.exit_code, 96) << r.command;
    EXPECT_EQ(r.out, "");
}

}  // namespace
