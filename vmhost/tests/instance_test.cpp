#include "vmhost/instance.h"

#include "support/track.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A request block as any process of the user may leave it: `text` at its
// start, zeros after it.
std::vector<char> block_of(const std::string& text)
{
    std::vector<char> block(instance_words_area, 0);
    memcpy(block.data(), text.data(), std::min(text.size(), block.size()));
    return block;
}

int words_in(const std::vector<char>& block, std::string* words = nullptr)
{
    const char* first = nullptr;
    size_t length = 0;
    int count = instance_request_words(block.data(), &first, &length);
    if (words && count >= 0) words->assign(first, length);
    return count;
}

TEST(InstanceRequest, WordsGoOverAsTheyAre)
{
    char a[] = "a", b[] = "b c", empty[] = "", quote[] = "say \"hi\"";
    char* words[] = {a, b, empty, quote};
    size_t length = 0;
    char* request = instance_request(4, words, &length);
    ASSERT_NE(request, nullptr);
    std::string words_back;
    EXPECT_EQ(words_in(block_of(std::string(request, length)), &words_back), 4);
    EXPECT_EQ(words_back, std::string("a\0b c\0\0say \"hi\"\0", 16));
    track_free(request, 1);

    char* none[] = {nullptr};
    request = instance_request(0, none, &length);
    EXPECT_EQ(words_in(block_of(std::string(request, length))), 0);
    track_free(request, 1);

    // Words that do not fit are never cut: there is no request.
    std::string big(instance_words_area, 'w');
    char* huge[] = {&big[0]};
    EXPECT_EQ(instance_request(1, huge, &length), nullptr);
}

TEST(InstanceRequest, WhatIsNoRequestIsRefused)
{
    const std::string head = "glimvane-words\n";
    struct refuse_case {
        const char* name;
        std::string text;
    };
    const refuse_case cases[] = {
        {"another command", "status"},
        {"no number", head + "\n"},
        {"a number without its line feed", head + "2"},
        {"a number past any block", head + "99999999999999999999\na"},
    };
    for (const refuse_case& c : cases) EXPECT_EQ(words_in(block_of(c.text)), -1) << c.name;

    // The last word may end at the block's last byte, never past it.
    std::string start = head + "1\n";
    std::vector<char> full = block_of(start + std::string(instance_words_area - start.size() - 1, 'x'));
    EXPECT_EQ(words_in(full), 1);
    full.back() = 'x';
    EXPECT_EQ(words_in(full), -1);
}

}  // namespace
