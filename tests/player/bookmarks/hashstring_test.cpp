#include "player/bookmarks/Hashstring.h"

#include <gtest/gtest.h>

namespace {

TEST(EncodeValue, KeepsTheSafeSetAndEscapesEverythingElse) {
    EXPECT_EQ(EncodeValue("My list"), "My+list");
    EXPECT_EQ(EncodeValue("50% off"), "50%25+off");
    EXPECT_EQ(EncodeValue("C:\\Data"), "C%3A%5CData");
    EXPECT_EQ(EncodeValue("az09AZ*-._"), "az09AZ*-._");
    EXPECT_EQ(EncodeValue("+,\"/~"), "%2B%2C%22%2F%7E");
    // A two-byte character is escaped byte by byte, upper-case digits.
    EXPECT_EQ(EncodeValue("\x82\xA0"), "%82%A0");
    EXPECT_EQ(EncodeValue("\xC3\xA9"), "%C3%A9");
    EXPECT_EQ(EncodeValue(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(EncodeValue(""), "");
}

TEST(DecodeValue, ReadsEscapesBlanksAndOddDigits) {
    EXPECT_EQ(DecodeValue("a+b%2c%2C"), "a b,,");
    EXPECT_EQ(DecodeValue("%G1"), "\x01");
    EXPECT_EQ(DecodeValue("%83%65"), "\x83\x65");
    EXPECT_EQ(DecodeValue("x%00y"), "x");
    EXPECT_EQ(DecodeValue("plain"), "plain");
}

TEST(DecodeValue, TruncatedEscapeAtTheEndDecodesAsNothing) {
    EXPECT_EQ(DecodeValue("ab%"), "ab");
    EXPECT_EQ(DecodeValue("ab%4"), "ab");
    EXPECT_EQ(DecodeValue("%"), "");
    // Not at the end it is an ordinary escape.
    EXPECT_EQ(DecodeValue("%41%"), "A");
}

TEST(DecodeValue, UndoesEncodeForEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    std::string encoded = EncodeValue(all);
    EXPECT_EQ(encoded.find_first_of(" ,\""), std::string::npos);
    EXPECT_EQ(DecodeValue(encoded), all);
}

TEST(HashString, SetBuildsLinesInFirstSetOrder) {
    HashString r;
    r.Set("Title", "My list");
    EXPECT_EQ(r.GetText(), "Title = \"My+list\"");
    r.Set("ID", "1");
    r.Set("Title", "Other");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Line(0), "Title = \"Other\"");
    EXPECT_EQ(r.Line(1), "ID = \"1\"");
    EXPECT_EQ(r.Get("Title"), "Other");
    EXPECT_EQ(r.Get("Missing"), "");
}

TEST(HashString, KeysMatchExactly) {
    HashString r;
    r.Set("Title", "a");
    r.Set("title", "b");
    EXPECT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Get("Title"), "a");
    EXPECT_EQ(r.Get("title"), "b");
    EXPECT_EQ(r.Get("Titl"), "");
}

TEST(HashString, RecordTextRoundTripsAValueWithQuotesAndCommas) {
    HashString r;
    r.Set("ID", "1");
    r.Set("Title", "My list");
    r.Set("Type", "Files");
    r.Set("Path", "\"C:\\Music\\a b.mp3\",C:\\Music\\c.mp3");
    EXPECT_EQ(r.GetText(), "ID = \"1\",Title = \"My+list\",Type = \"Files\","
                           "Path = \"%22C%3A%5CMusic%5Ca+b.mp3%22%2CC%3A%5CMusic%5Cc.mp3\"");
    HashString back;
    back.SetText(r.GetText());
    EXPECT_EQ(back.Lines(), r.Lines());
    EXPECT_EQ(back.Get("Path"), "\"C:\\Music\\a b.mp3\",C:\\Music\\c.mp3");
}

TEST(HashString, SetTextSplitsOnlyAtCommasOutsideQuotes) {
    HashString r;
    r.SetText("A = \"x,y\",B = \"z\"");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Line(0), "A = \"x,y\"");
    EXPECT_EQ(r.Get("A"), "x,y");
    // A quote in the first position does not open a quoted stretch.
    r.SetText("\"a,b");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Line(0), "\"a");
    EXPECT_EQ(r.Line(1), "b");
}

TEST(HashString, SetTextDropsEmptyLinesAndSplitsAtLineBreaks) {
    HashString r;
    r.SetText(",,A = \"1\",,\r\nB = \"2\"\rC = \"3\"\n,");
    ASSERT_EQ(r.Count(), 3);
    EXPECT_EQ(r.Get("A"), "1");
    EXPECT_EQ(r.Get("B"), "2");
    EXPECT_EQ(r.Get("C"), "3");
    r.SetText("");
    EXPECT_EQ(r.Count(), 0);
    EXPECT_EQ(r.GetText(), "");
}

TEST(HashString, CommaBlankBetweenLinesHidesTheLaterKeys) {
    HashString r;
    r.SetText("ID = \"1\", Title = \"x\"");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(HashString::KeyOf(r.Line(1)), "");
    EXPECT_EQ(r.Get("ID"), "1");
    EXPECT_EQ(r.Get("Title"), "");
}

TEST(HashString, GetTakesTheLastOfDuplicateKeysAndSetReplacesAll) {
    HashString r;
    r.SetText("K = \"a\",K = \"b\"");
    EXPECT_EQ(r.Get("K"), "b");
    r.Set("K", "c");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.Line(0), "K = \"c\"");
    EXPECT_EQ(r.Line(1), "K = \"c\"");
}

TEST(HashString, KeyOfAndValueOfMalformedLines) {
    EXPECT_EQ(HashString::KeyOf("Title=\"x\""), "Title");
    EXPECT_EQ(HashString::KeyOf("Ti\ttle = \"x\""), "Ti");
    EXPECT_EQ(HashString::KeyOf("whole"), "whole");
    // Without "=" the line is all key and its value is the whole line decoded.
    EXPECT_EQ(HashString::ValueOf("a+b%41"), "a bA");
    EXPECT_EQ(HashString::ValueOf("K = no+quotes"), "K = no quotes");
    EXPECT_EQ(HashString::ValueOf("K = \"open+end"), "open end");
    EXPECT_EQ(HashString::ValueOf("K = \"v\" trailing \"w\""), "v");
    EXPECT_EQ(HashString::ValueOf("K = \"\""), "");
    EXPECT_EQ(HashString::ValueOf("K = \"tail%"), "tail");
}

TEST(SplitLines, BreaksAtCrLfAndStopsAtZero) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitLines(std::string_view("a\nb\0c\n", 6)), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

} // namespace
