#include "support/track.h"
#include "support/words.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the C runtime of Windows reads back: backslashes are literal unless
// a quote follows; 2n of them before a quote stand for n, 2n + 1 for n and
// the quote itself.
TEST(AppendQuoted, EveryWordArrivesAsItWas)
{
    const struct {
        const char* word;
        const char* quoted;
    } cases[] = {
        {"plain", R"("plain")"},
        {"two words", R"("two words")"},
        {"", R"("")"},
        {R"(C:\dir\)", R"("C:\dir\\")"},
        {R"(C:\a b\x.jar)", R"("C:\a b\x.jar")"},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(a\\"b)", R"("a\\\\\"b")"},
        {R"(\\server\share\\)", R"("\\server\share\\\\")"},
    };
    for (const auto& c : cases) {
        char* command = append_quoted(track_strdup(""), 1, c.word);
        EXPECT_EQ(std::string(command), c.quoted) << c.word;
        track_free(command, 1);
    }
    char* command = append_quoted(append_quoted(track_strdup(""), 1, "java.exe"), 1, "-Dx=C:\\t\\");
    EXPECT_EQ(std::string(command), R"("java.exe" "-Dx=C:\t\\")");
    track_free(command, 1);
}

}  // namespace
