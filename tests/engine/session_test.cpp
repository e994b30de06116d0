// The engine session around the files: entry points, argument checks, the
// About texts, full screen and the log sink's references.
#include "audio/filter/IZarnRate.h"
#include "harness.h"
#include "media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

std::string Info(IPlayer* player, bool extra, HRESULT* status = nullptr) {
    std::vector<char> storage(1024, 0);
    char* buffer = storage.data();
    std::uint32_t size = 1024;
    const HRESULT hr =
        extra ? player->GetExtraInfoText(&buffer, &size) : player->GetInfoText(&buffer, &size);
    if (status)
        *status = hr;
    return std::string(storage.data());
}

} // namespace

TEST(EngineSession, EntryPointsAndArgumentChecks) {
    ASSERT_EQ(QRVE_Initialize(), S_OK);
    EXPECT_EQ(QRVE_GetInterface(nullptr), E_POINTER);
    IUnknown* root = nullptr;
    ASSERT_EQ(QRVE_GetInterface(&root), S_OK);
    void* out = &root;
    const IID other = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
    EXPECT_EQ(root->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    root->Release();

    EngineSession engine;
    EXPECT_EQ(engine.State(), PLAYER_NOFILE);
    EXPECT_EQ(engine->Close(), S_OK);
    EXPECT_NE(engine->Play(), S_OK);
    EXPECT_NE(engine->SetPosition(0), S_OK);
    EXPECT_EQ(engine->SetRate(0.0), E_INVALIDARG);
    EXPECT_EQ(engine->SetRate(-1.0), E_INVALIDARG);
    EXPECT_EQ(engine->SetOption(7, 1), E_INVALIDARG);
    EXPECT_EQ(engine->SetOption(PLAYER_OPTION_SKIP_SILENCE, 1), S_OK);
    EXPECT_EQ(engine->GetState(nullptr), E_POINTER);
    std::int64_t position = -1, duration = -1;
    EXPECT_EQ(engine->GetTimes(&position, &duration), S_OK);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(duration, 0);
    engine.PumpFor(20ms);
    EXPECT_TRUE(engine.Seen().empty()) << "Close with nothing open posted a message";
}

TEST(EngineSession, InfoTextsNameTheEngineAndTheFileAndStayInsideTheBuffer) {
    EngineSession engine;
    const std::string info = Info(engine.Player(), false);
    EXPECT_NE(info.find("zarnengine"), std::string::npos) << info;
    EXPECT_NE(info.find("GStreamer"), std::string::npos) << info;

    // A small buffer inside a larger one: nothing is written past its size.
    std::vector<char> storage(64, '#');
    char* buffer = storage.data();
    std::uint32_t size = 8;
    ASSERT_EQ(engine->GetInfoText(&buffer, &size), S_OK);
    EXPECT_EQ(std::strlen(storage.data()), 7u);
    for (std::size_t i = 8; i < storage.size(); ++i)
        ASSERT_EQ(storage[i], '#') << "written past the buffer at " << i;
    size = 0;
    EXPECT_EQ(engine->GetInfoText(&buffer, &size), E_INVALIDARG);
    char* none = nullptr;
    size = 16;
    EXPECT_EQ(engine->GetExtraInfoText(&none, &size), E_POINTER);

    const std::string clip = testmedia::Clip("avi");
    ASSERT_EQ(engine->Open(clip.c_str()), S_OK);
    HRESULT status = E_FAIL;
    const std::string extra = Info(engine.Player(), true, &status);
    EXPECT_EQ(status, S_OK);
    EXPECT_NE(extra.find("Container: AVI"), std::string::npos) << extra;
    EXPECT_NE(extra.find("Video: MPEG-4"), std::string::npos) << extra;
    EXPECT_NE(extra.find("Audio: MPEG-1 Layer 3"), std::string::npos) << extra;
}

TEST(EngineSession, FullScreenIsForVideoAndEndsWithTheFile) {
    EngineSession engine;
    const std::string sound = testmedia::Clip("wav");
    ASSERT_EQ(engine->Open(sound.c_str()), S_OK);
    engine->ToggleFullScreen();
    EXPECT_FALSE(engine->IsFullScreen()) << "an audio file went full screen";

    const std::string video = testmedia::Clip("wmv");
    ASSERT_EQ(engine->Open(video.c_str()), S_OK);
    ASSERT_EQ(engine->ToggleFullScreen(), S_OK);
    EXPECT_TRUE(engine->IsFullScreen());
    EXPECT_TRUE(engine.Win().IsFullScreen());
    const int frames = engine.Win().Frames();
    ASSERT_EQ(engine->UpdateVideoWindow(), S_OK);
    EXPECT_EQ(engine.Win().Frames(), frames + 1) << "the picture was not handed over again";

    ASSERT_EQ(engine->Close(), S_OK);
    EXPECT_FALSE(engine.Win().IsFullScreen());
    ASSERT_TRUE(engine.PumpUntil(WM_PLAYER_CLOSED, 1s));
    ASSERT_TRUE(engine.PumpUntil(WM_PLAYER_CLOSED, 1s)) << "the second file's close is missing";
    EXPECT_EQ(engine.Seen().back().wParam, 1u) << "full screen was on when the file closed";
}

TEST(EngineSession, LogSinkIsHeldUntilItIsReplaced) {
    EngineSession engine;
    EXPECT_EQ(engine.Log().References(), 1);
    RecordingLogSink other;
    ASSERT_EQ(engine->SetLogSink(&other), S_OK);
    EXPECT_EQ(engine.Log().References(), 0);
    EXPECT_EQ(other.References(), 1);
    const std::string junk = testmedia::NotMedia();
    EXPECT_NE(engine->Open(junk.c_str()), S_OK);
    EXPECT_FALSE(other.Errors().empty());
    EXPECT_TRUE(engine.Log().Errors().empty());
    ASSERT_EQ(engine->SetLogSink(nullptr), S_OK);
    EXPECT_EQ(other.References(), 0);
}

// Skip silence set through the player reaches the renderer: four seconds of
// digital silence race through at ten times the speed.
TEST(EngineSession, SkipSilenceReachesTheRenderer) {
    if (std::string(SinkUnderTest()) != ZARN_SINK_FACTORY)
        GTEST_SKIP() << "only the renderer races through silence";
    const std::string dir = testing::TempDir();
    const std::string silent = dir + "/zarn-engine-silence.wav";
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i anullsrc=r=22050:cl=mono "
                             "-t 4 -c:a pcm_s16le " +
                             silent;
    ASSERT_EQ(std::system(make.c_str()), 0);
    EngineSession engine;
    EXPECT_EQ(engine->SetOption(PLAYER_OPTION_SMOOTH_SPLICES, 1), S_OK);
    ASSERT_EQ(engine->SetOption(PLAYER_OPTION_SKIP_SILENCE, 1), S_OK);
    ASSERT_EQ(engine->Open(silent.c_str()), S_OK) << engine.Log().Text();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(engine->Play(), S_OK);
    ASSERT_TRUE(engine.PumpUntil(WM_PLAYER_COMPLETE, std::chrono::seconds(6)));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 2.0) << "four seconds of silence took " << took << " s";
    std::remove(silent.c_str());
}

// The player's volume reaches the renderer as its level: at -10000 the
// sound written to the device is silent, at 0 the tone keeps its level.
TEST(EngineSession, VolumeReachesTheRenderer) {
    if (std::string(SinkUnderTest()) != ZARN_SINK_FACTORY)
        GTEST_SKIP() << "only the renderer's level is checked";
    const std::string heard = testing::TempDir() + "/zarn-engine-volume.wav";
    setenv("ZARN_AUDIO_DEVICE", ("capture:" + heard).c_str(), 1);
    auto loudest = [&](std::int32_t level) {
        EngineSession engine;
        engine->SetRate(4.0);
        engine->SetVolume(level);
        const std::string clip = testmedia::Clip("wav");
        EXPECT_EQ(engine->Open(clip.c_str()), S_OK) << engine.Log().Text();
        EXPECT_EQ(engine->Play(), S_OK);
        EXPECT_TRUE(engine.PumpUntil(WM_PLAYER_COMPLETE, std::chrono::seconds(10)));
        engine->Close();
        std::FILE* f = std::fopen(heard.c_str(), "rb");
        EXPECT_NE(f, nullptr);
        int peak = 0;
        if (f) {
            std::fseek(f, 44, SEEK_SET);
            std::int16_t s;
            while (std::fread(&s, 2, 1, f) == 1)
                peak = std::max(peak, std::abs(int(s)));
            std::fclose(f);
        }
        return peak;
    };
    EXPECT_EQ(loudest(-10000), 0);
    EXPECT_GT(loudest(0), 3000); // the clips are tones at an eighth of full scale
    unsetenv("ZARN_AUDIO_DEVICE");
    std::remove(heard.c_str());
}

// The loudness options reach the renderer of each file opened after them
// and are kept across Open: +12 dB makes the tone four times as strong, and
// with +24 dB the limiter holds it under -1 dBFS where it would clip.
TEST(EngineSession, LoudnessOptionsReachTheRendererOfTheNextOpenedFile) {
    if (std::string(SinkUnderTest()) != ZARN_SINK_FACTORY)
        GTEST_SKIP() << "only the renderer levels";
    const std::string heard = testing::TempDir() + "/zarn-engine-loudness.wav";
    setenv("ZARN_AUDIO_DEVICE", ("capture:" + heard).c_str(), 1);
    const std::string clip = testmedia::Clip("wav");
    EngineSession engine;
    engine->SetRate(4.0);
    auto loudest = [&] {
        EXPECT_EQ(engine->Open(clip.c_str()), S_OK) << engine.Log().Text();
        EXPECT_EQ(engine->Play(), S_OK);
        EXPECT_TRUE(engine.PumpUntil(WM_PLAYER_COMPLETE, std::chrono::seconds(10)));
        engine->Close();
        std::FILE* f = std::fopen(heard.c_str(), "rb");
        EXPECT_NE(f, nullptr);
        int peak = 0;
        if (f) {
            std::fseek(f, 44, SEEK_SET);
            std::int16_t s;
            while (std::fread(&s, 2, 1, f) == 1)
                peak = std::max(peak, std::abs(int(s)));
            std::fclose(f);
        }
        return peak;
    };
    EXPECT_EQ(engine->SetOption(PLAYER_OPTION_LOUDNESS_GAIN, 2401), E_INVALIDARG);
    const int plain = loudest();
    ASSERT_GT(plain, 3000);
    ASSERT_EQ(engine->SetOption(PLAYER_OPTION_LOUDNESS_GAIN, 1200), S_OK);
    const int raised = loudest();
    EXPECT_NEAR(double(raised) / plain, std::pow(10.0, 12.0 / 20), 0.1);
    EXPECT_NEAR(double(loudest()) / plain, std::pow(10.0, 12.0 / 20), 0.1)
        << "not kept across Open";

    ASSERT_EQ(engine->SetOption(PLAYER_OPTION_LOUDNESS_GAIN, 2400), S_OK);
    EXPECT_EQ(loudest(), 32767) << "+24 dB without the limiter should clip";
    ASSERT_EQ(engine->SetOption(PLAYER_OPTION_LIMITER, 1), S_OK);
    const int limited = loudest();
    EXPECT_LE(limited, int(32767 * std::pow(10.0, -1.0 / 20)));
    EXPECT_GT(limited, int(32767 * std::pow(10.0, -2.0 / 20)));
    unsetenv("ZARN_AUDIO_DEVICE");
    std::remove(heard.c_str());
}
