#include "player/config/Debug.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using ::testing::_;

namespace {

struct MockPlayer : IPlayer {
    MOCK_METHOD(HRESULT, QueryInterface, (const IID&, void**), (override));
    MOCK_METHOD(ULONG, AddRef, (), (override));
    MOCK_METHOD(ULONG, Release, (), (override));
    MOCK_METHOD(HRESULT, SetWindows, (Window*, VideoWindow*), (override));
    MOCK_METHOD(HRESULT, Shutdown, (), (override));
    MOCK_METHOD(HRESULT, Open, (const char*), (override));
    MOCK_METHOD(HRESULT, Close, (), (override));
    MOCK_METHOD(HRESULT, Play, (), (override));
    MOCK_METHOD(HRESULT, Stop, (), (override));
    MOCK_METHOD(HRESULT, Pause, (), (override));
    MOCK_METHOD(HRESULT, SetPosition, (std::int64_t), (override));
    MOCK_METHOD(HRESULT, ToggleFullScreen, (), (override));
    MOCK_METHOD(bool, IsAudioOnly, (), (override));
    MOCK_METHOD(bool, IsFullScreen, (), (override));
    MOCK_METHOD(HRESULT, GetState, (std::int32_t*), (override));
    MOCK_METHOD(HRESULT, GetDuration, (std::int64_t*), (override));
    MOCK_METHOD(HRESULT, GetPosition, (std::int64_t*), (override));
    MOCK_METHOD(HRESULT, GetTimes, (std::int64_t*, std::int64_t*), (override));
    MOCK_METHOD(HRESULT, SetVolume, (std::int32_t), (override));
    MOCK_METHOD(HRESULT, SetRate, (double), (override));
    MOCK_METHOD(HRESULT, GetFileName, (const char**), (override));
    MOCK_METHOD(HRESULT, GetVideoSize, (std::int32_t*, std::int32_t*), (override));
    MOCK_METHOD(HRESULT, SetOption, (std::int32_t, std::int32_t), (override));
    MOCK_METHOD(HRESULT, SetLogSink, (IUnknown*), (override));
    MOCK_METHOD(HRESULT, UpdateVideoWindow, (), (override));
    MOCK_METHOD(HRESULT, Tick, (), (override));
    MOCK_METHOD(HRESULT, HandleEvent, (), (override));
    MOCK_METHOD(HRESULT, GetInfoText, (char**, std::uint32_t*), (override));
    MOCK_METHOD(HRESULT, GetExtraInfoText, (char**, std::uint32_t*), (override));
};

class OptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zarn-option-XXXXXX";
        dir = mkdtemp(tmpl);
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
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
    MockPlayer player;
    EXPECT_CALL(player, SetOption(PLAYER_OPTION_SKIP_SILENCE, 0)).Times(1);
    EXPECT_CALL(player, SetOption(PLAYER_OPTION_SMOOTH_SPLICES, 1)).Times(1);
    o.Apply(&player);
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
    MockPlayer player;
    EXPECT_CALL(player, SetOption(1, 2)).Times(1);
    EXPECT_CALL(player, SetOption(2, 1)).Times(1);
    o.Apply(&player);
    o.Apply(nullptr);

    fs::remove(dir + "/zarnplayer.ini");
    o.Save();
    EXPECT_EQ(SettingsStore().ReadInteger("option", "skip-slient", -1), 2);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "analyze-fileinfo", -1), 0);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "smooth-splices", -1), 1);
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
