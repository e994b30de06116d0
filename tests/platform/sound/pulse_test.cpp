// The pulse device against a real server of our own with a null sink whose
// monitor we record.
#include "monitor_recorder.h"
#include "platform/sound/SoundBuffer.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Under ThreadSanitizer every thread runs many times slower, the recorder's
// included: the timing comparison only means something in a plain build.
#if defined(__SANITIZE_THREAD__)
constexpr bool kTimingIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kTimingIsMeaningful = false;
#else
constexpr bool kTimingIsMeaningful = true;
#endif
#else
constexpr bool kTimingIsMeaningful = true;
#endif

constexpr int kRate = 44100;
constexpr double kTone = 1000.0;
constexpr double kAmplitude = 0.5;

sound::PcmFormat Stereo16() {
    return sound::PcmFormat{2, kRate, 16};
}

} // namespace

TEST(PulseDevice, PlaysAToneOnTimeSurvivesTheServerGoingAndResumesWhenItReturns) {
    if (!testing_sound::HavePulseAudioBinary())
        GTEST_SKIP() << "the pulseaudio binary is not installed";
    testing_sound::PulseServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();

    std::vector<std::string> warnings;
    std::mutex wm;
    sound::SetWarningSink([&](const std::string& w) {
        std::lock_guard<std::mutex> g(wm);
        warnings.push_back(w);
    });

    // A 3 s ring: half a second of silence, a second of tone, silence.
    const sound::PcmFormat format = Stereo16();
    const std::uint32_t ringBytes = 3 * format.BytesPerSec();
    auto b = sound::CreateNamedSoundBuffer("pulse", format, ringBytes);
    ASSERT_TRUE(b) << "no connection to our own server";
    EXPECT_STREQ(b->BackendName(), "pulse");
    const std::uint32_t toneStart = format.BytesPerSec() / 2;
    {
        sound::LockedRegion r;
        ASSERT_TRUE(b->Lock(0, ringBytes, r));
        for (int i = 0; i < kRate; ++i) {
            const auto v = static_cast<std::int16_t>(
                std::lround(kAmplitude * 32767 * std::sin(2 * M_PI * kTone * i / kRate)));
            for (int ch = 0; ch < 2; ++ch) {
                std::uint8_t* p = r.first + toneStart + 4 * i + 2 * ch;
                p[0] = static_cast<std::uint8_t>(v & 0xFF);
                p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
            }
        }
        b->Unlock(r);
    }
    Event started;
    sound::Notification n{0, &started};
    b->SetNotificationPositions({&n, 1});

    testing_sound::MonitorRecorder rec(kRate);
    ASSERT_TRUE(rec.Ok());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(b->GetCurrentPosition(), 0u) << "nothing heard before Play";

    b->Play();
    ASSERT_TRUE(started.Wait(2000));
    // The moment the cursor reaches the tone.
    Clock::time_point cursorAt{};
    const auto giveUp = Clock::now() + 5s;
    while (Clock::now() < giveUp) {
        if (b->GetCurrentPosition() >= toneStart) {
            cursorAt = Clock::now();
            break;
        }
        std::this_thread::sleep_for(500us);
    }
    ASSERT_NE(cursorAt, Clock::time_point{}) << "the cursor never reached the tone";
    std::this_thread::sleep_for(1200ms);
    const std::uint32_t late = b->GetCurrentPosition();
    EXPECT_GT(late, toneStart + format.BytesPerSec()) << "the cursor stopped moving";
    rec.Finish();

    Clock::time_point heardAt;
    std::size_t onset = 0;
    ASSERT_TRUE(rec.Onset(0.1, 0, heardAt, onset)) << "the tone never reached the sink";
    const double offMs = std::chrono::duration<double, std::milli>(cursorAt - heardAt).count();
    RecordProperty("cursor_minus_monitor_ms", std::to_string(offMs));
    if (kTimingIsMeaningful) {
        EXPECT_LT(std::abs(offMs), 30.0) << "cursor and monitor disagree by " << offMs << " ms";
    }

    // Frequency by zero crossings and level by RMS, inside the tone.
    const std::vector<std::int16_t> s = rec.Samples();
    ASSERT_GE(s.size(), onset + kRate * 9 / 10);
    const std::size_t from = onset + kRate / 10;
    const std::size_t to = onset + kRate * 9 / 10;
    int crossings = 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
        sum += static_cast<double>(s[i]) * s[i];
    }
    const double seconds = static_cast<double>(to - from) / kRate;
    EXPECT_NEAR(crossings / 2.0 / seconds, kTone, kTone * 0.01);
    const double rms = std::sqrt(sum / static_cast<double>(to - from)) / 32768;
    EXPECT_NEAR(20 * std::log10(rms / (kAmplitude / std::sqrt(2.0))), 0.0, 0.5);

    // The server goes away mid-play: the cursor keeps time, one warning.
    server.Stop();
    std::this_thread::sleep_for(150ms);
    const std::uint32_t a = b->GetCurrentPosition();
    std::this_thread::sleep_for(200ms);
    const std::uint32_t c = b->GetCurrentPosition();
    const double movedMs = (c - a) * 1000.0 / format.BytesPerSec();
    EXPECT_NEAR(movedMs, 200.0, 60.0) << "the cursor should run on the wall clock";

    // The server comes back: within 2 s the ring is heard again, from where
    // the wall clock has taken the cursor, and the return is said once. The
    // ring is all tone of another pitch now, so any sound is the ring's.
    constexpr double kSecondTone = 600.0;
    {
        sound::LockedRegion r;
        ASSERT_TRUE(b->Lock(0, ringBytes, r));
        const int frames = static_cast<int>(ringBytes) / 4;
        for (int i = 0; i < frames; ++i) {
            const auto v = static_cast<std::int16_t>(
                std::lround(kAmplitude * 32767 * std::sin(2 * M_PI * kSecondTone * i / kRate)));
            for (int ch = 0; ch < 2; ++ch) {
                std::uint8_t* p = r.first + 4 * i + 2 * ch;
                p[0] = static_cast<std::uint8_t>(v & 0xFF);
                p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
            }
        }
        b->Unlock(r);
    }
    std::this_thread::sleep_for(300ms); // a few failed attempts first
    ASSERT_TRUE(server.Start()) << server.Log();
    const auto back = Clock::now();
    const std::uint32_t cursorBack = b->GetCurrentPosition();
    testing_sound::MonitorRecorder again(kRate);
    ASSERT_TRUE(again.Ok());
    std::this_thread::sleep_for(2500ms);
    const std::uint32_t cursorLater = b->GetCurrentPosition();
    again.Finish();
    Clock::time_point resumedAt;
    std::size_t resumed = 0;
    ASSERT_TRUE(again.Onset(0.1, 0, resumedAt, resumed))
        << "nothing was heard after the server came back";
    const double afterMs = std::chrono::duration<double, std::milli>(resumedAt - back).count();
    RecordProperty("heard_again_after_ms", std::to_string(afterMs));
    EXPECT_LT(afterMs, 2000.0) << "heard again only " << afterMs << " ms after the server's return";
    const std::vector<std::int16_t> t = again.Samples();
    ASSERT_GE(t.size(), resumed + kRate / 2);
    int crossings2 = 0;
    for (std::size_t i = resumed + kRate / 10; i < resumed + kRate / 2; ++i)
        if ((t[i - 1] < 0) != (t[i] < 0))
            ++crossings2;
    EXPECT_NEAR(crossings2 / 2.0 / 0.4, kSecondTone, kSecondTone * 0.02);
    // The cursor went on with the wall clock through the return, in the ring
    // of 3 s; no step back to where the server left off.
    const std::uint32_t movedBytes = (cursorLater + ringBytes - cursorBack) % ringBytes;
    EXPECT_NEAR(movedBytes * 1000.0 / format.BytesPerSec(), 2500.0, 150.0);

    const auto t0 = Clock::now();
    b.reset();
    EXPECT_LT(Clock::now() - t0, 2s) << "closing hung";
    sound::SetWarningSink(nullptr);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("went away"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("is back"), std::string::npos) << warnings[1];
}
