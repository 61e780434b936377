#include "support/log.h"
#include "support/switches.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

std::string logged(void (*body)())
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

TEST(Log, SilentWithoutDebugFlag)
{
    debug_flag = false;
    EXPECT_EQ(logged([] { log_line("C.exit(%d) [m=%d]", 0, 0); }), "");
}

TEST(Log, LinesCarryTheTextAndNonDecreasingMilliseconds)
{
    debug_flag = true;
    std::string out = logged([] {
        log_line("temp.folder=%s", "/tmp/100%d/GV1");
        log_line("arg%d='%s'", 1, "b c");
        log_line("%s", "third");
    });
    debug_flag = false;
    std::regex line(R"(!(.*) \[(-?\d+)\]\r\n)");
    std::vector<std::string> texts;
    long last = -1;
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        texts.push_back((*it)[1]);
        long ms = std::stol((*it)[2]);
        EXPECT_GE(ms, last);
        last = ms;
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"temp.folder=/tmp/100%d/GV1", "arg1='b c'", "third"}));
    EXPECT_GE(last, 0);
}

TEST(Log, LongTextIsCutNotOverrun)
{
    debug_flag = true;
    std::string out = logged([] { log_line("%s", std::string(40000, 'y').c_str()); });
    debug_flag = false;
    ASSERT_GT(out.size(), 32767u);
    EXPECT_EQ(out.find_first_not_of('y', 1), 32768u);  // '!' then 32767 letters, then " ["
}

}  // namespace
