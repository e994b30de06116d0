#include "platform/sound/PeriodicTimer.h"
#include "platform/sound/SoundBuffer.h"
#include "platform/sound/VirtualBuffer.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

sound::PcmFormat Mono16(int rate = 8000) {
    sound::PcmFormat f;
    f.channels = 1;
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    return f;
}

// Four events at the quarters of a 4000-byte ring.
struct Quarters {
    Event e[4];
    std::vector<sound::Notification> list() {
        return {{0, &e[0]}, {1000, &e[1]}, {2000, &e[2]}, {3000, &e[3]}};
    }
    std::string state() const {
        std::string s;
        for (const Event& x : e)
            s += x.IsSet() ? '1' : '0';
        return s;
    }
    void clear() {
        for (Event& x : e)
            x.Reset();
    }
};

using zarntest::WaitFor;

} // namespace

TEST(SoundBuffer, VolumeIsHundredthsOfADecibel) {
    EXPECT_DOUBLE_EQ(sound::VolumeGain(0), 1.0);
    EXPECT_NEAR(sound::VolumeGain(-2000), 0.1, 1e-12);
    EXPECT_NEAR(sound::VolumeGain(-600), 0.501187, 1e-6);
    EXPECT_EQ(sound::VolumeGain(-10000), 0.0);
    EXPECT_EQ(sound::VolumeGain(-12000), 0.0);
}

TEST(SoundBuffer, NotificationsFireWhenTheCursorReachesTheirOffset) {
    sound::VirtualBuffer b(Mono16(), 4000);
    Quarters q;
    ASSERT_TRUE(b.SetNotificationPositions(q.list()));

    EXPECT_FALSE(b.MoveCursor(10)) << "a stopped buffer's cursor stands still";
    b.Play();
    ASSERT_TRUE(b.MoveCursor(0));
    EXPECT_EQ(q.state(), "1000") << "the very first start reaches offset 0";
    q.clear();
    b.MoveCursor(999);
    EXPECT_EQ(q.state(), "0000");
    b.MoveCursor(1);
    EXPECT_EQ(q.state(), "0100");
    b.MoveCursor(2500); // to 3500: passes 2000 and 3000
    EXPECT_EQ(q.state(), "0111");
    q.clear();
    b.MoveCursor(500); // to 4000, the wrap
    EXPECT_EQ(q.state(), "1000");
    EXPECT_EQ(b.GetCurrentPosition(), 0u);
    q.clear();
    b.MoveCursor(9000); // more than a lap passes every offset
    EXPECT_EQ(q.state(), "1111");
    EXPECT_EQ(b.GetCurrentPosition(), 1000u);

    b.Stop();
    q.clear();
    EXPECT_FALSE(b.MoveCursor(1000));
    b.Play();
    b.MoveCursor(0);
    EXPECT_EQ(q.state(), "0000") << "a restart does not pass offset 0 again";
    EXPECT_EQ(b.GetCurrentPosition(), 1000u) << "Stop keeps the position";
}

TEST(SoundBuffer, LockSplitsARegionAcrossTheWrap) {
    sound::VirtualBuffer b(Mono16(), 4000);
    sound::LockedRegion r;
    ASSERT_TRUE(b.Lock(3000, 1500, r));
    EXPECT_EQ(r.firstBytes, 1000u);
    EXPECT_EQ(r.secondBytes, 500u);
    for (std::uint32_t i = 0; i < r.firstBytes; ++i)
        r.first[i] = 7;
    for (std::uint32_t i = 0; i < r.secondBytes; ++i)
        r.second[i] = 9;
    b.Unlock(r);
    auto tail = b.Snapshot(3000, 1000);
    auto head = b.Snapshot(0, 501);
    EXPECT_EQ(std::count(tail.begin(), tail.end(), 7), 1000);
    EXPECT_EQ(std::count(head.begin(), head.end() - 1, 9), 500);
    EXPECT_EQ(head.back(), 0) << "nothing written past the region";

    ASSERT_TRUE(b.Lock(0, 4000, r));
    EXPECT_EQ(r.secondBytes, 0u);
    EXPECT_FALSE(b.Lock(4000, 1, r));
    EXPECT_FALSE(b.Lock(0, 4001, r));
}

TEST(SoundBuffer, SilenceIsTheFormatsZeroLevel) {
    sound::PcmFormat f8 = Mono16();
    f8.bitsPerSample = 8;
    sound::VirtualBuffer b8(f8, 100);
    sound::VirtualBuffer b16(Mono16(), 100);
    auto s8 = b8.Snapshot(0, 100);
    auto s16 = b16.Snapshot(0, 100);
    EXPECT_EQ(std::count(s8.begin(), s8.end(), 128), 100);
    EXPECT_EQ(std::count(s16.begin(), s16.end(), 0), 100);
}

TEST(SoundBuffer, NullDeviceCursorKeepsRealTime) {
    auto b = sound::CreateNamedSoundBuffer("null", Mono16(8000), 16000); // 1 s ring
    ASSERT_TRUE(b);
    EXPECT_STREQ(b->BackendName(), "null");
    Event half;
    sound::Notification n{8000, &half};
    b->SetNotificationPositions({&n, 1});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(b->GetCurrentPosition(), 0u) << "nothing moves before Play";
    const auto t0 = std::chrono::steady_clock::now();
    b->Play();
    ASSERT_TRUE(half.Wait(5000));
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 490.0) << "the cursor ran ahead of the wall clock";
    const std::uint32_t pos = b->GetCurrentPosition();
    EXPECT_EQ(pos % 2, 0u) << "the cursor moves in whole frames";
    b->Stop();
    const std::uint32_t stopped = b->GetCurrentPosition();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(b->GetCurrentPosition(), stopped);
}

TEST(SoundBuffer, WavDeviceWritesWhatTheCursorPassedWithTheVolume) {
    char path[] = "/tmp/zarn-wav-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        auto b = sound::CreateNamedSoundBuffer(std::string("wav:") + path, Mono16(8000), 1600);
        ASSERT_TRUE(b);
        sound::LockedRegion r;
        ASSERT_TRUE(b->Lock(0, 1600, r));
        for (std::uint32_t i = 0; i < 1600; i += 2) {
            const auto v = static_cast<std::int16_t>(i * 10 - 8000);
            r.first[i] = static_cast<std::uint8_t>(v & 0xFF);
            r.first[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
        b->Unlock(r);
        b->SetVolume(-2000); // gain 0.1
        Event lap;
        sound::Notification n{0, &lap};
        b->SetNotificationPositions({&n, 1});
        b->Play();
        ASSERT_TRUE(lap.Wait(2000));
        lap.Reset();
        ASSERT_TRUE(lap.Wait(2000)); // a whole lap of 100 ms
        b->Stop();
    }
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> wav((std::istreambuf_iterator<char>(f)), {});
    std::remove(path);
    ASSERT_GE(wav.size(), 44u + 1600u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    const std::uint32_t dataBytes = wav[40] | wav[41] << 8 | wav[42] << 16 | wav[43] << 24;
    EXPECT_EQ(dataBytes, wav.size() - 44);
    EXPECT_EQ(wav[24] | wav[25] << 8, 8000);
    for (std::uint32_t i = 0; i + 1 < dataBytes; i += 2) {
        const auto got = static_cast<std::int16_t>(wav[44 + i] | wav[45 + i] << 8);
        const auto put = static_cast<std::int16_t>((i % 1600) * 10 - 8000);
        ASSERT_EQ(got, static_cast<std::int16_t>(std::lround(put * 0.1))) << "byte " << i;
    }
}

TEST(SoundBuffer, UnansweredServerFallsBackToNullWithOneWarning) {
    setenv("PULSE_SERVER", "unix:/nonexistent/zarn-no-server", 1);
    setenv("ZARN_AUDIO_DEVICE", "pulse", 1);
    std::vector<std::string> warnings;
    std::mutex m;
    sound::SetWarningSink([&](const std::string& w) {
        std::lock_guard<std::mutex> g(m);
        warnings.push_back(w);
    });
    EXPECT_FALSE(sound::CreateNamedSoundBuffer("pulse", Mono16(), 1600));
    auto a = sound::CreateSoundBuffer(Mono16(), 1600);
    auto b = sound::CreateSoundBuffer(Mono16(), 1600);
    sound::SetWarningSink(nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_STREQ(a->BackendName(), "null");
    EXPECT_STREQ(b->BackendName(), "null");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no sound server"), std::string::npos) << warnings[0];

    EXPECT_FALSE(sound::CreateSoundBuffer(sound::PcmFormat{6, 44100, 24}, 1600))
        << "a format no device plays";
}

TEST(SoundBuffer, DeviceIsChosenByEnvironment) {
    setenv("ZARN_AUDIO_DEVICE", "null", 1);
    auto b = sound::CreateSoundBuffer(Mono16(), 1600);
    ASSERT_TRUE(b);
    EXPECT_STREQ(b->BackendName(), "null");
    const std::string path = "/tmp/zarn-wav-env-" + std::to_string(getpid()) + ".wav";
    setenv("ZARN_AUDIO_DEVICE", ("wav:" + path).c_str(), 1);
    auto w = sound::CreateSoundBuffer(Mono16(), 1600);
    ASSERT_TRUE(w);
    EXPECT_STREQ(w->BackendName(), "wav");
    w.reset();
    std::remove(path.c_str());
}

TEST(PeriodicTimer, TicksUntilStoppedAndStartsOnce) {
    sound::PeriodicTimer t;
    std::atomic<int> ticks{0};
    ASSERT_TRUE(t.Start(2ms, [&] { ++ticks; }));
    EXPECT_FALSE(t.Start(2ms, [] {})) << "already running";
    ASSERT_TRUE(WaitFor([&] { return ticks >= 5; }));
    t.Stop();
    EXPECT_FALSE(t.IsRunning());
    const int after = ticks;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks, after) << "no tick after Stop returned";
    ASSERT_TRUE(t.Start(2ms, [&] { ++ticks; })) << "a stopped timer starts again";
    ASSERT_TRUE(WaitFor([&] { return ticks > after; }));
}
