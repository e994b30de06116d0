#include "platform/commatext.h"

#include <gtest/gtest.h>

using Names = std::vector<std::string>;

TEST(CommaText, QuotesWhatWouldOtherwiseSplit) {
    EXPECT_EQ(CommaText({"/a/b.mp3", "/c d/e,f.wav", "say \"hi\".au"}),
              "/a/b.mp3,\"/c d/e,f.wav\",\"say \"\"hi\"\".au\"");
    EXPECT_EQ(CommaText({"tab\there", "nl\nx"}), "\"tab\there\",\"nl\nx\"");
    // Bytes above 127 (UTF-8 names) need no quotes.
    EXPECT_EQ(CommaText({"\xc3\xa9t\xc3\xa9.mp3"}), "\xc3\xa9t\xc3\xa9.mp3");
}

TEST(CommaText, EmptyItems) {
    EXPECT_EQ(CommaText({}), "");
    EXPECT_EQ(CommaText({""}), "\"\"");
    EXPECT_EQ(CommaText({"a", "", "b"}), "a,,b");
    EXPECT_EQ(ReadCommaText("\"\""), Names{""});
    EXPECT_EQ(ReadCommaText(""), Names{});
    EXPECT_EQ(ReadCommaText("a,,b"), (Names{"a", "", "b"}));
    // An empty last item of a longer list is written as nothing after the
    // comma, and a trailing comma reads as nothing.
    EXPECT_EQ(CommaText({"a", ""}), "a,");
    EXPECT_EQ(ReadCommaText("a,"), Names{"a"});
    EXPECT_EQ(ReadCommaText("a,,"), (Names{"a", ""}));
}

TEST(CommaText, ReadingSplitsAtUnquotedBlanksAndSkipsGaps) {
    EXPECT_EQ(ReadCommaText("a b"), (Names{"a", "b"}));
    EXPECT_EQ(ReadCommaText("  a ,  b\t,\r\nc  "), (Names{"a", "b", "c"}));
    EXPECT_EQ(ReadCommaText("\"a b\" c"), (Names{"a b", "c"}));
    // Text after a closing quote starts the next item.
    EXPECT_EQ(ReadCommaText("\"a\"b"), (Names{"a", "b"}));
    // An unclosed quote runs to the end.
    EXPECT_EQ(ReadCommaText("\"a, b"), Names{"a, b"});
    // The text ends at its first zero byte.
    EXPECT_EQ(ReadCommaText(std::string_view("a,b\0c", 5)), (Names{"a", "b"}));
}

TEST(CommaText, EveryListOfNamesReadsBackAsItWas) {
    const std::vector<Names> lists = {
        {"/x/plain.mp3"},
        {"/with blank/a.mp3", "/with,comma.wav", "/q\"uote\".au", "\"", ",", " "},
        {"", "a"},
        {"\x01\x1f ctl", "end "},
        {" lead", "trail\t"},
    };
    for (const Names& names : lists)
        EXPECT_EQ(ReadCommaText(CommaText(names)), names) << CommaText(names);
}

TEST(CommaText, FitTakesWholeNamesOnly) {
    const Names names = {"aaaa", "b b", "cccc"}; // "aaaa,\"b b\",cccc" is 15 bytes
    std::size_t taken = 0;
    EXPECT_EQ(FitCommaText(names, 15, taken), "aaaa,\"b b\",cccc");
    EXPECT_EQ(taken, 3u);
    EXPECT_EQ(FitCommaText(names, 14, taken), "aaaa,\"b b\"");
    EXPECT_EQ(taken, 2u);
    EXPECT_EQ(FitCommaText(names, 9, taken), "aaaa");
    EXPECT_EQ(taken, 1u);
    EXPECT_EQ(FitCommaText(names, 3, taken), "");
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(FitCommaText({""}, 2, taken), "\"\"");
    EXPECT_EQ(taken, 1u);
    EXPECT_EQ(FitCommaText({""}, 1, taken), "");
    EXPECT_EQ(taken, 0u);
}

TEST(CommaText, FitOfALongListStaysWithinTheLimitAndReadsBack) {
    Names names;
    for (int i = 0; i < 700; ++i)
        names.push_back("/media/some folder/" + std::string(80, 'a' + i % 26) + std::to_string(i));
    std::size_t taken = 0;
    const std::string text = FitCommaText(names, 65530, taken);
    EXPECT_LE(text.size(), 65530u);
    ASSERT_LT(taken, names.size());
    EXPECT_GT(text.size() + names[taken].size() + 3, 65530u) << "the next name did not fit";
    EXPECT_EQ(ReadCommaText(text), Names(names.begin(), names.begin() + taken));
}
