#include "player/config/Debug.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class OptionTest : public zarntest::FolderTest {
protected:
    void SetUp() override { SettingsStore().SetFileName(dir + "/zarnplayer.ini"); }
};

} // namespace

TEST_F(OptionTest, NoOptionSectionMeansSkipOffAnalyseOnSmoothOn) {
    std::ofstream(dir + "/zarnplayer.ini") << "[player]\nvolume=50\n";
    TOptions o;
    o.SmoothSplices = 0;
    o.Load();
    EXPECT_EQ(o.SkipSilent, 0);
    EXPECT_EQ(o.AnalyzeFileInfo, 1);
    EXPECT_EQ(o.SmoothSplices, 1);
    EXPECT_EQ(TOptions().SmoothSplices, 1);
    // Levelling on, to the podcast norm, with the limiter.
    EXPECT_EQ(o.LevelLoudness, 1);
    EXPECT_EQ(o.LoudnessTarget, -16);
    FakePlayer player;
    o.Apply(&player);
    EXPECT_EQ(player.options,
              (std::vector<std::pair<std::int32_t, std::int32_t>>{{PLAYER_OPTION_SKIP_SILENCE, 0},
                                                                  {PLAYER_OPTION_SMOOTH_SPLICES, 1},
                                                                  {PLAYER_OPTION_LIMITER, 1}}));
}

TEST_F(OptionTest, StoredSmoothOffStaysOff) {
    std::ofstream(dir + "/zarnplayer.ini") << "[option]\nsmooth-splices=0\n";
    TOptions o;
    o.Load();
    EXPECT_EQ(o.SmoothSplices, 0);
}

TEST_F(OptionTest, StoredTwoIsSentAsTwoAndSavedBack) {
    std::ofstream(dir + "/zarnplayer.ini")
        << "[Option]\nskip-slient=2\nanalyze-fileinfo=0\nSmooth-Splices=1\n";
    TOptions o;
    o.Load();
    EXPECT_EQ(o.SkipSilent, 2);
    EXPECT_EQ(o.AnalyzeFileInfo, 0);
    EXPECT_EQ(o.SmoothSplices, 1);
    FakePlayer player;
    o.Apply(&player);
    o.Apply(nullptr);
    EXPECT_EQ(player.options,
              (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 2}, {2, 1}, {4, 1}}));

    fs::remove(dir + "/zarnplayer.ini");
    o.Save();
    EXPECT_EQ(SettingsStore().ReadInteger("option", "skip-slient", -1), 2);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "analyze-fileinfo", -1), 0);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "smooth-splices", -1), 1);
}

TEST_F(OptionTest, MemoryOnAndSkipsTenAndThirtyByDefault) {
    std::ofstream(dir + "/zarnplayer.ini") << "[option]\nskip-slient=1\n";
    TOptions o;
    o.RememberFiles = 0;
    o.SkipBack = 1;
    o.SkipForward = 1;
    o.Load();
    EXPECT_EQ(o.RememberFiles, 1);
    EXPECT_EQ(o.SkipBack, 10);
    EXPECT_EQ(o.SkipForward, 30);
    EXPECT_EQ(TOptions().RememberFiles, 1);
    EXPECT_EQ(TOptions().SkipBack, 10);
    EXPECT_EQ(TOptions().SkipForward, 30);
}

TEST_F(OptionTest, MemoryAndSkipsAreStoredAndReadBack) {
    TOptions o;
    o.RememberFiles = 0;
    o.SkipBack = 5;
    o.SkipForward = 90;
    o.LevelLoudness = 0;
    o.LoudnessTarget = -19;
    o.Save();
    EXPECT_EQ(SettingsStore().ReadInteger("option", "remember-files", -1), 0);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "skip-back", -1), 5);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "skip-forward", -1), 90);
    TOptions again;
    again.Load();
    EXPECT_EQ(again.RememberFiles, 0);
    EXPECT_EQ(again.SkipBack, 5);
    EXPECT_EQ(again.SkipForward, 90);
    EXPECT_EQ(again.LevelLoudness, 0);
    EXPECT_EQ(again.LoudnessTarget, -19);
    // The engine is not told the skips: the core reads them when it skips
    // or opens. Levelling off takes the limiter off, and the owner of the
    // gain hears of it.
    FakePlayer player;
    int relevelled = 0;
    again.Relevel = [&relevelled] { ++relevelled; };
    again.Apply(&player);
    EXPECT_EQ(player.options.size(), 3u);
    EXPECT_EQ(player.options.back(), std::make_pair(PLAYER_OPTION_LIMITER, 0));
    EXPECT_EQ(relevelled, 1);
}

TEST_F(OptionTest, SkipLengthsOutOfRangeAreBroughtIntoIt) {
    std::ofstream(dir + "/zarnplayer.ini")
        << "[option]\nskip-back=0\nskip-forward=100000\nremember-files=2\n";
    TOptions o;
    o.Load();
    EXPECT_EQ(o.SkipBack, TOptions::kSkipMin);
    EXPECT_EQ(o.SkipForward, TOptions::kSkipMax);
    EXPECT_EQ(o.RememberFiles, 2);
    std::ofstream(dir + "/zarnplayer.ini") << "[option]\nskip-back=-7\nskip-forward=abc\n";
    o.Load();
    EXPECT_EQ(o.SkipBack, TOptions::kSkipMin);
    EXPECT_EQ(o.SkipForward, 30);
    // A target the options do not offer is the default's.
    std::ofstream(dir + "/zarnplayer.ini") << "[option]\nloudness-target=-20\nlevel-loudness=7\n";
    o.Load();
    EXPECT_EQ(o.LoudnessTarget, -16);
    EXPECT_EQ(o.LevelLoudness, 1);
}

TEST(LogSink, QueryInterfaceAnswersOnlyItsOwnIdentifiers) {
    TLogSink sink;
    void* out = &sink;
    EXPECT_EQ(sink.QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sink.QueryInterface(IID_ILogSink, &out), S_OK);
    EXPECT_EQ(out, static_cast<ILogSink*>(&sink));
    EXPECT_EQ(sink.QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(sink.AddRef(), 3u);
    EXPECT_EQ(sink.Release(), 2u);
    EXPECT_EQ(sink.QueryInterface(IID_ILogSink, nullptr), E_POINTER);
}

TEST(LogSink, ReportsSucceedWithAnyText) {
    ILogSink& sink = LogSink();
    EXPECT_EQ(sink.LogDebug(nullptr, nullptr), S_OK);
    EXPECT_EQ(sink.LogTrace("", ""), S_OK);
    EXPECT_EQ(sink.LogError(LOG_SOURCE, "TOption::FormCreate(TObject *Sender)"), S_OK);
}

TEST(LogSink, PrintsToStderrWhenAsked) {
    EXPECT_EXIT(
        {
            setenv("ZARNPLAYER_LOG", "stderr", 1);
            LogSink().LogError(LOG_SOURCE, "!! start analyze");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "\\[error\\] zarnplayer.exe: !! start analyze");
}
