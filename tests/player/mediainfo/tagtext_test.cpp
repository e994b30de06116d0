#include "player/mediainfo/TagText.h"

#include <gtest/gtest.h>

TEST(ShownText, ValidUtf8StaysAsItIs) {
    EXPECT_EQ(ShownText("Caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x8E\xB5"),
              "Caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x8E\xB5");
    EXPECT_EQ(ShownText("plain"), "plain");
}

TEST(ShownText, AnythingElseIsLatin1) {
    EXPECT_EQ(ShownText("Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(ShownText("\xFF\x80"), "\xC3\xBF\xC2\x80");
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
    EXPECT_FALSE(IsValidUtf8("\xC3"));             // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("a\x80z"));
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
}
