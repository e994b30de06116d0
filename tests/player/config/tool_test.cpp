#include "player/config/Tool.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct FakeWindow : Placeable {
    Placement bounds{5, 6, 330, 328};
    ShowState state = ShowState::Normal;
    Placement Bounds() const override { return bounds; }
    void SetBounds(const Placement& p) override { bounds = p; }
    ShowState State() const override { return state; }
};

using ToolTest = zarntest::FolderTest;

} // namespace

TEST_F(ToolTest, SettingsStoreLivesInZarnplayerHome) {
    setenv("ZARNPLAYER_HOME", dir.c_str(), 1);
    EXPECT_EQ(SettingsStore().FileName(), dir + "/zarnplayer.ini");
    EXPECT_EQ(SettingsStore().ReadInteger("player", "volume", 100), 100);
    EXPECT_FALSE(fs::exists(dir + "/zarnplayer.ini"));
    SettingsStore().WriteString("player", "rate", "2.0");
    EXPECT_TRUE(fs::exists(dir + "/zarnplayer.ini"));
    std::ofstream(dir + "/zarnplayer.ini", std::ios::app) << "[Player]\nextra=1\n";
    EXPECT_EQ(SettingsStore().ReadString("PLAYER", "Rate", ""), "2.0");
}

TEST_F(ToolTest, PlacementRoundTripsAndMaximisedKeepsLastNormal) {
    TTool tool(dir + "/zarnplayer.ini");
    FakeWindow w;
    w.bounds = {10, 20, 400, 300};
    tool.SavePlacement("Main", w);
    w.bounds = {0, 0, 1920, 1080};
    w.state = ShowState::Maximized;
    tool.SavePlacement("Main", w);
    w.state = ShowState::Minimized;
    tool.SavePlacement("Main", w);

    FakeWindow fresh;
    tool.LoadPlacement("Main", fresh);
    EXPECT_EQ(fresh.bounds.left, 10);
    EXPECT_EQ(fresh.bounds.top, 20);
    EXPECT_EQ(fresh.bounds.width, 400);
    EXPECT_EQ(fresh.bounds.height, 300);
}

TEST_F(ToolTest, LoadPlacementWithoutSettingsKeepsSizeAndMovesToOrigin) {
    TTool tool(dir + "/zarnplayer.ini");
    FakeWindow w;
    tool.LoadPlacement("playlistform", w);
    EXPECT_EQ(w.bounds.left, 0);
    EXPECT_EQ(w.bounds.top, 0);
    EXPECT_EQ(w.bounds.width, 330);
    EXPECT_EQ(w.bounds.height, 328);
}

TEST(ReplaceText, RepeatsUntilGone) {
    std::string s = "aaaa";
    TTool::ReplaceText(s, "aa", "a");
    EXPECT_EQ(s, "a");
    s = "x\r\ny\rz\n";
    TTool::ReplaceChars(s, "\r\n", " ");
    EXPECT_EQ(s, "x  y z ");
    s = "abcabc";
    TTool::ReplaceText(s, "", "q");
    EXPECT_EQ(s, "abcabc");
}

TEST(ReplaceText, ReplacementsThatCouldRebuildFindTerminate) {
    std::string s = "a.b.c";
    TTool::ReplaceText(s, ".", "..");
    EXPECT_EQ(s, "a..b..c");
    // Repeating would grow this text for ever ("ab" -> "bbaa" -> ... "ab" again).
    s = "aab";
    TTool::ReplaceText(s, "ab", "bbaa");
    EXPECT_EQ(s, "abbaa");
}

TEST(BrowseForFolder, UsesInstalledBrowserOnly) {
    TTool tool("/nonexistent/zarnplayer.ini");
    EXPECT_FALSE(tool.BrowseForFolder(nullptr, "Add Folder"));
    std::string seenTitle;
    tool.SetFolderBrowser([&](void*, const std::string& title) -> std::optional<std::string> {
        seenTitle = title;
        return std::string("/music");
    });
    EXPECT_EQ(tool.BrowseForFolder(nullptr, "Add Folder").value_or(""), "/music");
    EXPECT_EQ(seenTitle, "Add Folder");
}
