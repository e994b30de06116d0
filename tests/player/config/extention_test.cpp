#include "player/config/Extention.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(Extentions, SeventeenRowsInOrderThenTodaysTypes) {
    TExtentions t;
    const std::vector<std::pair<std::string, std::string>> original = {
        {".avi", "Video Files"},  {".qt", "Video Files"},   {".mov", "Video Files"},
        {".mpg", "Video Files"},  {".mpeg", "Video Files"}, {".m1v", "Video Files"},
        {".wav", "Audio Files"},  {".mpa", "Audio Files"},  {".mp2", "Audio Files"},
        {".mp3", "Audio Files"},  {".au", "Audio Files"},   {".aif", "Audio Files"},
        {".aiff", "Audio Files"}, {".snd", "Audio Files"},  {".asf", "WMT Files"},
        {".wma", "WMT Files"},    {".wmv", "WMT Files"},
    };
    const std::vector<std::string> today = {".m4a",  ".m4b", ".aac", ".opus", ".ogg", ".oga",
                                            ".flac", ".mka", ".mp4", ".m4v",  ".mkv", ".webm"};
    ASSERT_EQ(t.Count(), static_cast<int>(original.size() + today.size()));
    for (size_t i = 0; i < original.size(); ++i) {
        EXPECT_EQ(t[static_cast<int>(i)].Extension, original[i].first) << i;
        EXPECT_EQ(t[static_cast<int>(i)].Description, original[i].second) << i;
    }
    for (size_t i = 0; i < today.size(); ++i) {
        const TExt& row = t[static_cast<int>(original.size() + i)];
        EXPECT_EQ(row.Extension, today[i]);
        // Video containers say so; the rest are sound.
        bool video = row.Extension == ".mp4" || row.Extension == ".m4v" ||
                     row.Extension == ".mkv" || row.Extension == ".webm";
        EXPECT_EQ(row.Description, video ? "Video Files" : "Audio Files") << row.Extension;
    }
    EXPECT_EQ(t[3].Owner, &t);
}

TEST(Extentions, MatchesTheLastExtensionOfTheFileNameOnly) {
    TExtentions t;
    EXPECT_TRUE(t.Matches("/music/LECTURE.MP3"));
    EXPECT_TRUE(t.Matches("talk.final.wav"));
    EXPECT_TRUE(t.Matches("a.AiFf"));
    EXPECT_FALSE(t.Matches("/music/README"));
    EXPECT_FALSE(t.Matches("/music.mp3/README"));
    EXPECT_TRUE(t.Matches("/books/Book.M4B"));
    EXPECT_TRUE(t.Matches("episode.opus"));
    EXPECT_FALSE(t.Matches("clip.srt"));
    EXPECT_FALSE(t.Matches("list.m3u8"));
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
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[0], "Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v)");
    EXPECT_EQ(c[1], "Audio files (*.wav *.mpa *.mp2 *.mp3 *.au *.aif *.aiff *.snd)");
    EXPECT_EQ(c[2], "WMT Files (*.asf *.wma *.wmv)");
    EXPECT_EQ(c[3], "More Media Files (*.m4a *.m4b *.aac *.opus *.ogg *.oga *.flac *.mka *.mp4 "
                    "*.m4v *.mkv *.webm)");
    EXPECT_EQ(c[4], "All Files (*.*)");
}

// Every row the table holds after the original ones is offered by the fifth
// group, and the groups together cover the whole table.
TEST(Extentions, DialogGroupsCoverEveryRow) {
    TExtentions t;
    std::string patterns;
    for (const std::string& choice : TExtentions::FilterChoices())
        if (choice.rfind("All Files", 0) != 0)
            patterns += choice.substr(choice.find('(')) + " ";
    for (int i = 0; i < t.Count(); ++i) {
        std::string pattern = "*" + t[i].Extension;
        bool found = false;
        for (char end : {' ', ')'})
            found = found || patterns.find(pattern + end) != std::string::npos;
        EXPECT_TRUE(found) << t[i].Extension;
    }
}
