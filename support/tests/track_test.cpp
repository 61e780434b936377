#include "support/track.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

TEST(Track, CounterFollowsLiveBlocksBackToZero)
{
    int64_t before = track_outstanding();
    void* empty1 = track_alloc(0);
    void* empty2 = track_alloc(0);
    EXPECT_NE(empty1, empty2);
    EXPECT_EQ(track_outstanding(), before);
    auto* block = static_cast<unsigned char*>(track_alloc(100));
    for (int i = 0; i < 100; i++) ASSERT_EQ(block[i], 0) << "zero-filled";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (sizeof(void*) == 8 ? 16 : 8), 0u);
    char* empty_text = track_strdup("");
    EXPECT_EQ(track_outstanding(), before + 101);
    char* caption = format_new("%s (%s)", "A", "b.exe");
    EXPECT_STREQ(caption, "A (b.exe)");
    EXPECT_EQ(track_outstanding(), before + 111);
    for (void* p : {empty1, empty2, static_cast<void*>(block), static_cast<void*>(empty_text),
                    static_cast<void*>(caption)})
        track_free(p, 1);
    EXPECT_EQ(track_outstanding(), before);
}

TEST(Track, RefusedReleasesNameTheirCallSite)
{
    char* text = track_strdup("hello world, a tracked text");
    int64_t live = track_outstanding();
    struct case_ {
        void* address;
        int site;
        const char* printed;
    } cases[] = {
        {nullptr, 5, ""},
        {text + 16, 1421, "?free() 1421\r\n"},
    };
    for (const case_& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(track_free(c.address, c.site), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(track_outstanding(), live);
    }
    EXPECT_STREQ(text, "hello world, a tracked text");
    track_free(text, 2);
}

TEST(Track, FormatNewCutsAtItsLimit)
{
    std::string big(40000, 'x');
    char* text = format_new("%s", big.c_str());
    EXPECT_EQ(strlen(text), size_t(max_text_length));
    track_free(text, 3);
}

}  // namespace
