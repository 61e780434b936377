#include "launcher/entry.h"
#include "support/switches.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    char* words[max_words];
    int count = split_args(buffer.data(), words);
    EXPECT_EQ(words[count], nullptr);
    return std::vector<std::string>(words, words + count);
}

struct split_case {
    const char* name;
    std::string text;
    std::vector<std::string> words;
};

TEST(SplitArgs, Table)
{
    const split_case cases[] = {
        {"empty", "", {}},
        {"spaces only", "    ", {}},
        {"plain", "a bb  ccc", {"a", "bb", "ccc"}},
        {"trailing spaces make no word", "a b   ", {"a", "b"}},
        {"closing quote ends the word", "\"a b\"c d", {"a b", "c", "d"}},
        {"quote inside a word is ordinary", "a\"b c\"", {"a\"b", "c\""}},
        {"empty quoted word", "\"\"", {""}},
        {"unclosed quote takes the rest", "x \"a b  c", {"x", "a b  c"}},
        {"tab does not separate", "a\tb c", {"a\tb", "c"}},
        {"quoted path with blanks", "\"C:\\Program Files\\app.exe\" -deltree* \"C:\\T\\GV1A2B\" GV1A2B",
         {"C:\\Program Files\\app.exe", "-deltree*", "C:\\T\\GV1A2B", "GV1A2B"}},
    };
    for (const split_case& c : cases) EXPECT_EQ(split(c.text), c.words) << c.name;
}

TEST(SplitArgs, KeepsTheFirst99Words)
{
    std::string text;
    for (int i = 0; i < 120; i++) text += "w" + std::to_string(i) + " ";
    std::vector<std::string> words = split(text);
    ASSERT_EQ(words.size(), 99u);
    EXPECT_EQ(words.front(), "w0");
    EXPECT_EQ(words.back(), "w98");
}

void reset_switches()
{
    jvm_override = nullptr;
    max_heap = nullptr;
    debug_flag = quiet_flag = merge_stderr_flag = no_relay_flag = false;
}

struct switch_case {
    const char* name;
    std::vector<std::string> words;
    int consumed;
    const char* heap;  // expected max_heap, null for none
    bool debug, quiet, merge, no_relay;
    const char* jvm;   // expected jvm_override, null for none
};

TEST(Switches, Table)
{
    const switch_case cases[] = {
        {"-H* then -3*", {"-H*", "-3*"}, 2, "384", false, false, false, false, nullptr},
        {"-3* then -H*", {"-3*", "-H*"}, 2, "1024", false, false, false, false, nullptr},
        {"-1* and -9*", {"-1*", "-9*"}, 2, "1152", false, false, false, false, nullptr},
        {"-D*x is -D*", {"-D*x", "foo"}, 1, nullptr, true, false, false, false, nullptr},
        {"-Dx stops the loop", {"-Dx", "-D*"}, 0, nullptr, false, false, false, false, nullptr},
        {"-D alone stops the loop", {"-D", "-Q*"}, 0, nullptr, false, false, false, false, nullptr},
        {"first non-switch keeps the rest", {"-D*", "-Q*", "foo", "-W*"}, 2, nullptr, true, true, false, false, nullptr},
        {"-E* and -W*", {"-E*", "-W*"}, 2, nullptr, false, false, true, true, nullptr},
        {"unknown letters are consumed silently", {"-d*", "-0*", "-**", "-\xe9*"}, 4, nullptr, false, false, false, false, nullptr},
        {"-jvm: alone is an empty override", {"-jvm:"}, 1, nullptr, false, false, false, false, ""},
        {"a later -jvm: wins", {"-jvm:a.dll", "-jvm:b.dll", "x"}, 2, nullptr, false, false, false, false, "b.dll"},
        {"-deltree*x is no switch", {"-deltree*x", "a", "b"}, 0, nullptr, false, false, false, false, nullptr},
        {"no words", {}, 0, nullptr, false, false, false, false, nullptr},
    };
    for (const switch_case& c : cases) {
        reset_switches();
        std::vector<std::vector<char>> storage;
        std::vector<char*> words;
        for (const std::string& w : c.words) storage.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
        for (auto& s : storage) words.push_back(s.data());
        words.push_back(nullptr);
        EXPECT_EQ(consume_switches(int(c.words.size()), words.data()), c.consumed) << c.name;
        if (c.heap) {
            ASSERT_NE(max_heap, nullptr) << c.name;
            EXPECT_STREQ(max_heap, c.heap) << c.name;
        } else {
            EXPECT_EQ(max_heap, nullptr) << c.name;
        }
        EXPECT_EQ(debug_flag, c.debug) << c.name;
        EXPECT_EQ(quiet_flag, c.quiet) << c.name;
        EXPECT_EQ(merge_stderr_flag, c.merge) << c.name;
        EXPECT_EQ(no_relay_flag, c.no_relay) << c.name;
        if (c.jvm) {
            ASSERT_NE(jvm_override, nullptr) << c.name;
            EXPECT_STREQ(jvm_override, c.jvm) << c.name;
        } else {
            EXPECT_EQ(jvm_override, nullptr) << c.name;
        }
    }
    reset_switches();
}

}  // namespace
