#include "platform/classesroot/classesroot.h"
#include "platform/classesroot/keyfile.h"

#include <gtest/gtest.h>

using classesroot::KeyFile;

namespace {
const char* kList = "# my defaults\n"
                    "[Added Associations]\n"
                    "audio/mpeg=other.desktop;\n"
                    "\n"
                    "[Default Applications]\n"
                    "text/plain = vim.desktop\n"
                    "audio/mpeg=other.desktop;extra.desktop;\n"
                    "\n"
                    "[Removed Associations]\n"
                    "image/png=gimp.desktop\n";
}

TEST(KeyFile, ReadsEntriesOfTheNamedGroupOnly) {
    KeyFile f(kList);
    EXPECT_EQ(f.Get("Default Applications", "audio/mpeg"), "other.desktop;extra.desktop;");
    EXPECT_EQ(f.Get("Default Applications", "text/plain"), "vim.desktop");
    EXPECT_EQ(f.Get("Added Associations", "audio/mpeg"), "other.desktop;");
    EXPECT_FALSE(f.Get("Default Applications", "image/png"));
    EXPECT_FALSE(f.Get("Default Applications", "# my defaults"));
    EXPECT_EQ(f.Text(), kList);
}

TEST(KeyFile, ChangesOnlyTheLinesItOwns) {
    KeyFile f(kList);
    f.Set("Default Applications", "audio/mpeg", "zarnplayer.desktop");
    f.Set("Default Applications", "video/mpeg", "zarnplayer.desktop");
    std::string want = "# my defaults\n"
                       "[Added Associations]\n"
                       "audio/mpeg=other.desktop;\n"
                       "\n"
                       "[Default Applications]\n"
                       "text/plain = vim.desktop\n"
                       "audio/mpeg=zarnplayer.desktop\n"
                       "video/mpeg=zarnplayer.desktop\n"
                       "\n"
                       "[Removed Associations]\n"
                       "image/png=gimp.desktop\n";
    EXPECT_EQ(f.Text(), want);
    f.Remove("Default Applications", "audio/mpeg");
    f.Remove("Default Applications", "video/mpeg");
    std::string back = kList;
    std::string line = "audio/mpeg=other.desktop;extra.desktop;\n";
    back.erase(back.find(line), line.size());
    EXPECT_EQ(f.Text(), back);
}

TEST(KeyFile, AddsAMissingGroupAndDropsRepeatedEntries) {
    KeyFile f("[Default Applications]\na/b=x\n[Default Applications]\na/b=y\nc/d=z");
    f.Set("Default Applications", "a/b", "ours");
    EXPECT_EQ(f.Text(), "[Default Applications]\na/b=ours\n[Default Applications]\nc/d=z");
    KeyFile empty;
    empty.Set("QRVE_Back", "audio/mpeg", "");
    EXPECT_EQ(empty.Text(), "[QRVE_Back]\naudio/mpeg=\n");
    EXPECT_EQ(empty.Get("QRVE_Back", "audio/mpeg"), "");
    KeyFile noNewline("[Other]\nk=v");
    noNewline.Set("Default Applications", "a/b", "x");
    EXPECT_EQ(noNewline.Text(), "[Other]\nk=v\n\n[Default Applications]\na/b=x\n");
}

TEST(KeyFile, RefusesWhatWouldBreakTheFileApart) {
    KeyFile f;
    EXPECT_THROW(f.Set("Default Applications", "a/b", "x\n[Evil]"), classesroot::Error);
    EXPECT_THROW(f.Set("Default]", "a/b", "x"), classesroot::Error);
    EXPECT_THROW(f.Set("G", "k=v", "x"), classesroot::Error);
    EXPECT_TRUE(f.Empty());
    // An indented "#=" line reads as the key "#", but written back it would
    // start the line and turn into a comment: such a key is no plain name.
    KeyFile indented("[G]\n #=x\n");
    EXPECT_EQ(indented.Get("G", "#"), "x");
    EXPECT_THROW(indented.Set("G", "#", "y"), classesroot::Error);
    EXPECT_EQ(indented.Text(), "[G]\n #=x\n");
}

TEST(KeyFile, CarriageReturnLinesReadWithoutTheReturn) {
    KeyFile f("[Default Applications]\r\naudio/mpeg=other.desktop\r\n");
    EXPECT_EQ(f.Get("Default Applications", "audio/mpeg"), "other.desktop");
}

TEST(KeyFile, EscapesRoundTripAndQuoteExecArguments) {
    for (std::string s : {"", "plain", " leading", "a\\b", "line\nbreak\ttab\rret", "\\s\\n"})
        EXPECT_EQ(classesroot::UnescapeValue(classesroot::EscapeValue(s)), s) << s;
    EXPECT_EQ(classesroot::EscapeValue("  a b"), "\\s\\sa b");
    EXPECT_EQ(classesroot::QuoteExecArgument("/usr/bin/zarnplayer"), "/usr/bin/zarnplayer");
    EXPECT_EQ(classesroot::QuoteExecArgument("/opt/my player/zarn"), "\"/opt/my player/zarn\"");
    EXPECT_EQ(classesroot::QuoteExecArgument("/a/100%/b"), "/a/100%%/b");
    EXPECT_EQ(classesroot::QuoteExecArgument("/a/$x\"y"), "\"/a/\\$x\\\"y\"");
}
