#include "player/config/Extention.h"

#include <gtest/gtest.h>

TEST(Extentions, SeventeenRowsInOrder) {
    TExtentions t;
    ASSERT_EQ(t.Count(), 17);
    EXPECT_EQ(t[0].Extension, ".avi");
    EXPECT_EQ(t[5].Extension, ".m1v");
    EXPECT_EQ(t[6].Description, "Audio Files");
    EXPECT_EQ(t[13].Extension, ".snd");
    EXPECT_EQ(t[16].Extension, ".wmv");
    EXPECT_EQ(t[16].Description, "WMT Files");
    EXPECT_EQ(t[3].Owner, &t);
}

TEST(Extentions, MatchesTheLastExtensionOfTheFileNameOnly) {
    TExtentions t;
    EXPECT_TRUE(t.Matches("/music/LECTURE.MP3"));
    EXPECT_TRUE(t.Matches("talk.final.wav"));
    EXPECT_TRUE(t.Matches("a.AiFf"));
    EXPECT_FALSE(t.Matches("/music/README"));
    EXPECT_FALSE(t.Matches("/music.mp3/README"));
    EXPECT_FALSE(t.Matches("clip.mp4"));
    EXPECT_FALSE(t.Matches("song.mp3.part"));
    EXPECT_FALSE(t.Matches(""));
    EXPECT_FALSE(t.Matches("trailingdot."));
}

TEST(Extentions, FilterTextAndQtChoices) {
    std::string f = TExtentions::Filter();
    EXPECT_EQ(f.rfind("Video Files (*.avi; *.qt;", 0), 0u);
    EXPECT_NE(f.find("|Audio files (*.wav;"), std::string::npos);
    EXPECT_EQ(f.substr(f.size() - 21), "|All Files (*.*)|*.*;");
    auto c = TExtentions::FilterChoices();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0], "Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v)");
    EXPECT_EQ(c[1], "Audio files (*.wav *.mpa *.mp2 *.mp3 *.au *.aif *.aiff *.snd)");
    EXPECT_EQ(c[2], "WMT Files (*.asf *.wma *.wmv)");
    EXPECT_EQ(c[3], "All Files (*.*)");
}
