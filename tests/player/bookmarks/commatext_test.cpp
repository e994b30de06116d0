#include "player/bookmarks/Commatext.h"

#include <gtest/gtest.h>

namespace {

using Items = std::vector<std::string>;

TEST(CommaText, QuotesOnlyItemsThatNeedIt) {
    EXPECT_EQ(CommaText({"/m/a b.mp3", "/m/c.mp3"}), "\"/m/a b.mp3\",/m/c.mp3");
    EXPECT_EQ(CommaText({"a,b", "say \"hi\"", "tab\there"}),
              "\"a,b\",\"say \"\"hi\"\"\",\"tab\there\"");
    EXPECT_EQ(CommaText({}), "");
    EXPECT_EQ(CommaText({""}), "\"\"");
    EXPECT_EQ(CommaText({"\xC3\xA9t\xC3\xA9"}), "\xC3\xA9t\xC3\xA9");
}

TEST(CommaText, ReadingSplitsAtCommasAndUnquotedBlanks) {
    EXPECT_EQ(SplitCommaText("a,b c"), (Items{"a", "b", "c"}));
    EXPECT_EQ(SplitCommaText("  a , b  "), (Items{"a", "b"}));
    EXPECT_EQ(SplitCommaText("a,,b"), (Items{"a", "", "b"}));
    EXPECT_EQ(SplitCommaText("a,"), (Items{"a", ""}));
    EXPECT_EQ(SplitCommaText("\"x y\"z"), (Items{"x y", "z"}));
    EXPECT_EQ(SplitCommaText("\"open end"), (Items{"open end"}));
    EXPECT_TRUE(SplitCommaText("").empty());
    EXPECT_TRUE(SplitCommaText("   ").empty());
}

TEST(CommaText, AwkwardNamesComeBackAsTheyWere) {
    const std::vector<Items> lists = {
        {"/music/a b.mp3", "/music/c.mp3"},
        {"/m/with,comma.mp3", "/m/\"quoted\".wav", "/m/x"},
        {""},
        {"a", "", "b"},
        {"/\xE6\x97\xA5\xE6\x9C\xAC/\xE9\x9F\xB3.mp3", " lead", "trail "},
    };
    for (const Items& items : lists)
        EXPECT_EQ(SplitCommaText(CommaText(items)), items) << CommaText(items);
}

} // namespace
