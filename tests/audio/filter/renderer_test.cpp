// The renderer core against a sound device whose cursor the test moves.
#include "audio/filter/AudioRenderer.h"
#include "platform/sound/VirtualBuffer.h"
#include "tests/support/Files.h"
#include "wav_analysis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        renderer.Output().SetDeviceFactory([this](const sound::PcmFormat& f, std::uint32_t bytes) {
            auto b = std::make_unique<sound::VirtualBuffer>(f, bytes);
            device = b.get();
            return std::unique_ptr<sound::SoundBuffer>(std::move(b));
        });
    }

    CAudioRenderer renderer;
    sound::VirtualBuffer* device = nullptr;
    Event unlock{true, false};
};

std::vector<std::uint8_t> silence16(std::size_t frames, int channels) {
    return std::vector<std::uint8_t>(frames * channels * 2, 0);
}

} // namespace

TEST_F(RendererTest, StereoCdFormatOpensTenBlocksOfATenthAndEighthSecondStage) {
    renderer.SetMediaType(MakePcmFormat(2, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Size(), 10u * 17640u);
    ASSERT_TRUE(renderer.Stage());
    EXPECT_EQ(renderer.Stage()->get_block_length(), 11025);
    EXPECT_EQ(renderer.Stage()->get_channels(), 2);
    renderer.OnStopStreaming();
    EXPECT_FALSE(renderer.Output().IsOpen());

    // Mono fades need the stage to know its frames are single samples.
    renderer.SetMediaType(MakePcmFormat(1, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    ASSERT_TRUE(renderer.Stage());
    EXPECT_EQ(renderer.Stage()->get_block_length(), 5512);
    EXPECT_EQ(renderer.Stage()->get_channels(), 1);
    renderer.OnStopStreaming();
}

TEST_F(RendererTest, OutputStateIsMinusOneOutsideARun) {
    std::int32_t state = 7;
    renderer.GetOutputState(&state);
    EXPECT_EQ(state, -1);
    renderer.SetMediaType(MakePcmFormat(1, 22050, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    renderer.GetOutputState(&state);
    EXPECT_EQ(state, 0);
    renderer.OnStopStreaming();
    renderer.GetOutputState(&state);
    EXPECT_EQ(state, -1);
}

TEST_F(RendererTest, VolumeSetBeforeTheRunAppliesAtOpenAndBalanceIsRefused) {
    EXPECT_EQ(renderer.put_Volume(-2500), S_OK);
    std::int32_t v = 0;
    renderer.get_Volume(&v);
    EXPECT_EQ(v, -2500);
    renderer.SetMediaType(MakePcmFormat(2, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    EXPECT_EQ(device->GetVolume(), -2500);
    EXPECT_EQ(renderer.put_Volume(-100), S_OK);
    EXPECT_EQ(device->GetVolume(), -100);
    EXPECT_EQ(renderer.put_Balance(0), E_NOTIMPL);
    std::int32_t b;
    EXPECT_EQ(renderer.get_Balance(&b), E_NOTIMPL);
}

TEST_F(RendererTest, RatesTheStageCannotPlayAreRefusedAndTheOldRateKept) {
    EXPECT_EQ(renderer.SetRate(2.0), S_OK);
    EXPECT_EQ(renderer.SetRate(0.75), E_INVALIDARG); // between 0.5 and 1
    EXPECT_EQ(renderer.SetRate(5.0), E_INVALIDARG);
    EXPECT_EQ(renderer.SetRate(0.0), E_INVALIDARG);
    EXPECT_EQ(renderer.SetRate(-1.0), E_INVALIDARG);
    double r = 0;
    renderer.GetRate(&r);
    EXPECT_DOUBLE_EQ(r, 2.0);

    renderer.SetMediaType(MakePcmFormat(2, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    EXPECT_DOUBLE_EQ(renderer.Stage()->get_ratio(), 0.5);
    EXPECT_EQ(renderer.SetRate(4.0), S_OK);
    EXPECT_DOUBLE_EQ(renderer.Stage()->get_ratio(), 0.25);
    EXPECT_DOUBLE_EQ(renderer.Clock()->Speed(), 4.0);
    EXPECT_EQ(renderer.SetFlags(3), S_OK);
    EXPECT_EQ(renderer.Stage()->get_flags(), 3);
}

TEST_F(RendererTest, RateAndFlagsCarryOverToTheNextRun) {
    renderer.SetRate(3.0);
    renderer.SetFlags(1);
    renderer.SetMediaType(MakePcmFormat(2, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    EXPECT_NEAR(renderer.Stage()->get_ratio(), 1.0 / 3.0, 1e-12);
    EXPECT_EQ(renderer.Stage()->get_flags(), 1);
}

// The loudness gain set before the first sample applies at once; a pause or
// a seek (the pipeline built again) glides on from the gain reached, and
// only a new stream takes a changed gain at once.
TEST_F(RendererTest, LoudnessGainGlidesOnAcrossRunsAndANewStreamTakesItAtOnce) {
    renderer.SetLoudnessGain(600);
    renderer.SetLimiter(true);
    renderer.SetMediaType(MakePcmFormat(1, 8000, 16));
    std::int64_t t = 0;
    // Half a second of sound, then the gain the stage has reached.
    auto run = [&] {
        EXPECT_TRUE(renderer.OnStartStreaming());
        auto pcm = silence16(800, 1);
        for (int i = 0; i < 5; ++i, t += 1000000)
            EXPECT_EQ(renderer.DoRenderSample(pcm.data(), pcm.size(), t, t + 1000000, unlock),
                      CAudioRenderer::RenderResult::Sent);
        double db = -99;
        EXPECT_TRUE(zarntest::WaitFor([&] { return renderer.Stage()->levelled_gain(&db); }));
        return db;
    };
    EXPECT_DOUBLE_EQ(run(), 6.0);
    EXPECT_TRUE(renderer.Stage()->get_limiter());
    renderer.SetLoudnessGain(-5000);
    EXPECT_EQ(renderer.LoudnessGain(), -4000);
    EXPECT_EQ(renderer.Stage()->get_loudness_gain(), -4000);
    renderer.OnStopStreaming();
    const double resumed = run();
    EXPECT_LT(resumed, 6.0);
    EXPECT_GT(resumed, 5.0) << "the gain jumped instead of gliding on";
    EXPECT_EQ(renderer.Stage()->get_loudness_gain(), -4000);
    renderer.OnStopStreaming();
    renderer.NewStream();
    EXPECT_DOUBLE_EQ(run(), -40.0);
}

TEST(RendererBlocks, ConversionOfEightAndSixteenBitSamples) {
    std::vector<std::uint8_t> bytes8(1000, 128);
    bytes8[0] = 0;
    bytes8[1] = 255;
    auto b8 =
        CAudioRenderer::MakeBlock(MakePcmFormat(1, 8000, 8), bytes8.data(), bytes8.size(), 10, 20);
    ASSERT_TRUE(b8);
    EXPECT_EQ(b8->sample_count, 1000);
    EXPECT_FLOAT_EQ(b8->samples[0], -1.0f);
    EXPECT_FLOAT_EQ(b8->samples[1], 127.0f / 128.0f);
    EXPECT_FLOAT_EQ(b8->samples[2], 0.0f);
    EXPECT_EQ(b8->start_time, 10);
    EXPECT_EQ(b8->stop_time, 20);

    std::vector<std::uint8_t> bytes16(1001, 0);
    bytes16[0] = 0x00; // -32768
    bytes16[1] = 0x80;
    bytes16[2] = 0x00; // 16384
    bytes16[3] = 0x40;
    auto b16 =
        CAudioRenderer::MakeBlock(MakePcmFormat(2, 8000, 16), bytes16.data(), bytes16.size(), 0, 0);
    ASSERT_TRUE(b16);
    EXPECT_EQ(b16->sample_count, 500);
    EXPECT_FLOAT_EQ(b16->samples[0], -1.0f);
    EXPECT_FLOAT_EQ(b16->samples[1], 0.5f);

    EXPECT_FALSE(CAudioRenderer::MakeBlock(MakePcmFormat(2, 8000, 24), bytes16.data(), 999, 0, 0));
}

TEST(RendererFormats, OnlyEightAndSixteenBitMonoOrStereoRender) {
    EXPECT_TRUE(CAudioRenderer::IsRenderable(MakePcmFormat(1, 8000, 8)));
    EXPECT_TRUE(CAudioRenderer::IsRenderable(MakePcmFormat(2, 96000, 16)));
    EXPECT_FALSE(CAudioRenderer::IsRenderable(MakePcmFormat(2, 44100, 24)));
    EXPECT_FALSE(CAudioRenderer::IsRenderable(MakePcmFormat(6, 48000, 16)));
    WAVEFORMATEX f = MakePcmFormat(2, 44100, 16);
    f.wFormatTag = 3;
    EXPECT_FALSE(CAudioRenderer::IsRenderable(f));
}

// With the device standing still the ring, the stage and the queue fill up
// and the next render blocks: an unlock must wake it, and a stop must not hang.
TEST_F(RendererTest, UnlockWakesARenderBlockedOnAFullPipelineAndStopEndsIt) {
    renderer.SetMediaType(MakePcmFormat(2, 8000, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    auto pcm = silence16(800, 2); // a tenth of a second
    std::int64_t t = 0;
    std::atomic<int> sent{0};
    std::atomic<bool> blocked{false};
    std::thread producer([&] {
        for (int i = 0; i < 400; ++i) {
            auto r = renderer.DoRenderSample(pcm.data(), pcm.size(), t, t + 1000000, unlock);
            if (r != CAudioRenderer::RenderResult::Sent) {
                blocked = true;
                return;
            }
            t += 1000000;
            ++sent;
        }
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(blocked.load());
    EXPECT_LT(sent.load(), 400) << "nothing held the producer back";
    unlock.Set();
    producer.join();
    EXPECT_TRUE(blocked.load());
    auto t0 = std::chrono::steady_clock::now();
    renderer.OnStopStreaming();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

// The end mark plays the tail out: the drained event comes only once the
// cursor has passed the last real byte.
TEST_F(RendererTest, EndOfStreamIsReportedAfterTheTailWasHeard) {
    renderer.SetMediaType(MakePcmFormat(1, 8000, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    auto pcm = silence16(300, 1);
    ASSERT_EQ(renderer.DoRenderSample(pcm.data(), pcm.size(), 0, 375000, unlock),
              CAudioRenderer::RenderResult::Sent);
    Event* drained = renderer.SendEndOfStream(unlock);
    ASSERT_NE(drained, nullptr);
    // The stage and the output take the tail on their threads; the cursor
    // has not moved, so nothing has been heard yet.
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(drained->IsSet());
    for (int i = 0; i < 200 && !drained->IsSet(); ++i) {
        device->MoveCursor(160);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(drained->IsSet());
    EXPECT_GE(device->Played(), 600u) << "drained before the 300 frames were heard";
}

// A new format in mid-stream (chained Ogg files, some broadcasts): the sound
// of the old format is heard to its end, the output opens again for the new
// one, and each part keeps its length and pitch. The devices keep real time,
// so whatever the run takes beyond the sound itself was a gap.
TEST(RendererFormatChange, EachPartPlaysInItsOwnFormatWithAGapShorterThanTheLatency) {
    const zarntest::TempDir folder("renderer");
    const std::string dir = folder.path();
    CAudioRenderer renderer;
    std::vector<std::string> opened;
    renderer.Output().SetDeviceFactory([&](const sound::PcmFormat& f, std::uint32_t bytes) {
        opened.push_back(dir + "/part" + std::to_string(opened.size()) + ".wav");
        return sound::CreateNamedSoundBuffer("wav:" + opened.back(), f, bytes);
    });
    Event unlock{true, false};

    std::int64_t t = 0;
    // Tenths of a second of a tone at half the full level, stamped on from t.
    auto render = [&](int channels, int rate, double tone, int tenths) {
        const int frames = rate / 10;
        for (int b = 0; b < tenths; ++b) {
            std::vector<std::uint8_t> pcm(static_cast<std::size_t>(frames * channels * 2));
            for (int i = 0; i < frames; ++i) {
                const double phase = 2 * M_PI * tone * (b * frames + i) / rate;
                const auto v =
                    static_cast<std::int16_t>(std::lround(0.5 * 32767 * std::sin(phase)));
                for (int c = 0; c < channels; ++c) {
                    pcm[static_cast<std::size_t>(2 * (i * channels + c))] =
                        static_cast<std::uint8_t>(v & 0xFF);
                    pcm[static_cast<std::size_t>(2 * (i * channels + c) + 1)] =
                        static_cast<std::uint8_t>((v >> 8) & 0xFF);
                }
            }
            ASSERT_EQ(renderer.DoRenderSample(pcm.data(), pcm.size(), t, t + 1000000, unlock),
                      CAudioRenderer::RenderResult::Sent);
            t += 1000000;
        }
    };

    renderer.SetMediaType(MakePcmFormat(2, 44100, 16));
    ASSERT_TRUE(renderer.OnStartStreaming());
    const auto began = std::chrono::steady_clock::now();
    render(2, 44100, 440, 10);
    renderer.SetMediaType(MakePcmFormat(1, 22050, 16));
    render(1, 22050, 1000, 10);
    Event* drained = renderer.SendEndOfStream(unlock);
    ASSERT_NE(drained, nullptr);
    ASSERT_TRUE(drained->Wait(10000));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    renderer.OnStopStreaming();

    ASSERT_EQ(opened.size(), 2u) << "the output was not opened again for the new format";
    const testing_wav::Wav first = testing_wav::readWav(opened[0]);
    const testing_wav::Wav second = testing_wav::readWav(opened[1]);
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.rate, 44100);
    EXPECT_NEAR(testing_wav::endOfSound(first), 1.0, 0.03) << "the old format's tail was lost";
    EXPECT_NEAR(testing_wav::frequency(first, 0.1, 0.9), 440.0, 4.4);
    EXPECT_EQ(second.channels, 1);
    EXPECT_EQ(second.rate, 22050);
    EXPECT_NEAR(testing_wav::endOfSound(second), 1.0, 0.03);
    EXPECT_NEAR(testing_wav::frequency(second, 0.1, 0.9), 1000.0, 10.0);
    // Ten blocks of a tenth of a second: the output's latency.
    RecordProperty("seconds_beyond_the_sound", std::to_string(took - 2.0));
    EXPECT_LT(took - 2.0, 1.0) << "the change of format left a gap";
}
