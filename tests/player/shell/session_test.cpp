#include "player/config/Debug.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/shell/Session.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// One engine, faked at its three entry points; every call lands in Log.
FakePlayer ThePlayer;
std::vector<std::string>& Log = ThePlayer.calls;
HRESULT InitResult = S_OK;
bool GiveRoot = true;
bool RootAnswers = true;
int RootRefs = 0;
int& PlayerRefs = ThePlayer.refs;
IUnknown*& HeldSink = ThePlayer.sink;
Window*& GivenNotify = ThePlayer.notify;
VideoWindow*& GivenVideo = ThePlayer.video;

class Root final : public IUnknown {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override {
        Log.push_back("Root.QueryInterface");
        if (RootAnswers && iid == IID_IPlayer) {
            ThePlayer.AddRef();
            *out = &ThePlayer;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++RootRefs; }
    ULONG Release() override {
        Log.push_back("Root.Release");
        return --RootRefs;
    }
} TheRoot;

HRESULT Initialize() {
    Log.push_back("QRVE_Initialize");
    return InitResult;
}
HRESULT GetInterface(IUnknown** root) {
    Log.push_back("QRVE_GetInterface");
    *root = nullptr;
    if (GiveRoot) {
        TheRoot.AddRef();
        *root = &TheRoot;
    }
    return S_OK;
}
HRESULT Finalize() {
    Log.push_back("QRVE_Finalize");
    return S_OK;
}

const EngineEntries Engine{Initialize, GetInterface, Finalize};

struct NoWindow : VideoWindow {
    void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    void PresentFrame(std::shared_ptr<const VideoFrame>) override {}
    void SetFullScreen(bool) override {}
    bool IsFullScreen() const override { return false; }
};

class SessionTest : public zarntest::FolderTest {
protected:
    void SetUp() override {
        Log.clear();
        InitResult = S_OK;
        GiveRoot = RootAnswers = true;
        RootRefs = PlayerRefs = 0;
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
        Options() = TOptions{};
    }
};

} // namespace

TEST_F(SessionTest, RunsInOrderAndGivesEverythingBackInReverse) {
    SettingsStore().WriteInteger("option", "skip-slient", 1);
    NoWindow notify, video;
    const ULONG sinkBefore = LogSink().AddRef() - 1;
    LogSink().Release();
    {
        TEngineSession session(Engine);
        ASSERT_EQ(session.Open(), "");
        ASSERT_EQ(session.Player(), &ThePlayer);
        EXPECT_EQ(RootRefs, 0) << "the root is released once the player is taken";
        session.Attach(&notify, &video);
        EXPECT_EQ(GivenNotify, &notify);
        EXPECT_EQ(GivenVideo, &video);
        EXPECT_EQ(HeldSink, static_cast<IUnknown*>(&LogSink()));
        EXPECT_EQ(Options().SkipSilent, 1);
        EXPECT_EQ(Options().AnalyzeFileInfo, 1);
        EXPECT_EQ(Log, (std::vector<std::string>{"QRVE_Initialize", "QRVE_GetInterface",
                                                 "Root.QueryInterface", "Root.Release",
                                                 "SetWindows", "SetLogSink"}));
        Log.clear();
        Options().AnalyzeFileInfo = 0;
        session.Close();
        session.Close(); // once only
    }
    EXPECT_EQ(Log, (std::vector<std::string>{"SetLogSink(null)", "Shutdown", "Release",
                                             "QRVE_Finalize"}));
    EXPECT_EQ(PlayerRefs, 0);
    EXPECT_EQ(SettingsStore().ReadInteger("option", "analyze-fileinfo", -1), 0);
    // The program's own reference is the only one left on the sink.
    const ULONG sinkAfter = LogSink().AddRef() - 1;
    LogSink().Release();
    EXPECT_EQ(sinkAfter, sinkBefore + 1);
}

TEST_F(SessionTest, AFailedStartSaysWhyAndTouchesNoSettings) {
    InitResult = E_FAIL;
    {
        TEngineSession session(Engine);
        const std::string why = session.Open();
        EXPECT_NE(why.find("could not be started"), std::string::npos) << why;
        EXPECT_EQ(session.Player(), nullptr);
    }
    EXPECT_EQ(Log, std::vector<std::string>{"QRVE_Initialize"});

    InitResult = S_OK;
    GiveRoot = false;
    Log.clear();
    {
        TEngineSession session(Engine);
        EXPECT_NE(session.Open(), "");
    }
    EXPECT_EQ(Log,
              (std::vector<std::string>{"QRVE_Initialize", "QRVE_GetInterface", "QRVE_Finalize"}));

    GiveRoot = true;
    RootAnswers = false;
    Log.clear();
    {
        TEngineSession session(Engine);
        EXPECT_NE(session.Open().find("does not offer a player"), std::string::npos);
    }
    EXPECT_EQ(Log,
              (std::vector<std::string>{"QRVE_Initialize", "QRVE_GetInterface",
                                        "Root.QueryInterface", "Root.Release", "QRVE_Finalize"}));
    EXPECT_EQ(RootRefs, 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/zarnplayer.ini"));
}

TEST_F(SessionTest, OptionsNeverLoadedAreNotWrittenBack) {
    SettingsStore().WriteInteger("option", "analyze-fileinfo", 1);
    {
        TEngineSession session(Engine);
        ASSERT_EQ(session.Open(), "");
    }
    EXPECT_EQ(SettingsStore().ReadInteger("option", "analyze-fileinfo", -1), 1);
    EXPECT_EQ(Log.back(), "QRVE_Finalize");
}
