// The pure parts of the VM host: the runtime folder of a VM library and the
// bytes that reach NewStringUTF. The VM itself is exercised end to end
// (tests/e2e/launch_e2e_test.cpp).
#include "vmhost/vmhost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParentOfParent, CutsTwoComponentsOrGivesNone)
{
    struct {
        const char* path;
        const char* folder;  // null: none
    } cases[] = {
        {"/usr/lib/jvm/java-17/lib/server/libjvm.so", "/usr/lib/jvm/java-17/lib"},
        {"jre/bin/client/jvm.so", "jre/bin"},
        {"server/libjvm.so", nullptr},
        {"libjvm.so", nullptr},
        {"/libjvm.so", nullptr},
        {"a/b/", "a"},
    };
    for (const auto& c : cases) {
        char* folder = parent_of_parent(c.path);
        if (c.folder)
            EXPECT_STREQ(folder, c.folder) << c.path;
        else
            EXPECT_EQ(folder, nullptr) << c.path;
    }
}

TEST(ModifiedUtf8, ValidTextPassesAndInvalidBytesBecomeReplacements)
{
    const std::string fffd = "\xEF\xBF\xBD";
    struct {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"ASCII", "-Dx=1 plain", "-Dx=1 plain"},
        {"two and three bytes", "\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC"},
        {"modified NUL and a lone surrogate stay", "\xC0\x80|\xED\xA0\x80", "\xC0\x80|\xED\xA0\x80"},
        {"four bytes become a surrogate pair", "\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},
        {"Latin-1 byte", "caf\xE9!", "caf" + fffd + "!"},
        {"stray continuation", "\x80x", fffd + "x"},
        {"overlong", "\xC1\xBF", fffd + fffd},
        {"truncated at the end", "ab\xE6\x97", "ab" + fffd + fffd},
        {"three-byte overlong", "\xE0\x80\x80", fffd + fffd + fffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"only invalid bytes, the longest growth", "\xFF\xFE\xFF", fffd + fffd + fffd},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string(modified_utf8(c.in.c_str())), c.out) << c.name;
}

}  // namespace
