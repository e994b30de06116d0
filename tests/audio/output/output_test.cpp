// The output against a device whose cursor the test moves.
#include "audio/output/CWaveOutImpl.h"
#include "platform/sound/VirtualBuffer.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// 8 kHz mono 16-bit: blocks of 1600 bytes (800 samples), 100 ms each.
constexpr int kRate = 8000;
constexpr int kBlockSamples = 800;
constexpr int kBlockBytes = 1600;
constexpr int kBlocks = 10;
constexpr std::int64_t kBlockTime = 1000000; // 100 ms in 100 ns units

using zarntest::WaitFor;

class FakeClock : public IOutputClock {
public:
    std::int64_t GetPrivateTime() override { return time_.load(); }
    void AdjustTime(std::int64_t delta) override {
        time_ += delta;
        ++adjustments_;
    }
    void Set(std::int64_t t) { time_ = t; }
    int Adjustments() const { return adjustments_.load(); }

private:
    std::atomic<std::int64_t> time_{0};
    std::atomic<int> adjustments_{0};
};

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        out.SetClock(&clock);
        out.SetDeviceFactory([this](const sound::PcmFormat& f, std::uint32_t bytes) {
            auto d = std::make_unique<sound::VirtualBuffer>(f, bytes);
            device = d.get();
            return d;
        });
    }
    void TearDown() override { out.Close(); }

    bool Open(int bits = 16) {
        return out.Open(MakePcmFormat(1, kRate, bits), kBlocks, kBlockBytes * bits / 16);
    }
    // One block's worth of samples of value `v`, for block number k of the stream.
    void WriteBlock(int k, float v = 0.25f) {
        out.WriteSamples(std::vector<float>(kBlockSamples, v), kBlockSamples, k * kBlockTime,
                         (k + 1) * kBlockTime);
    }
    // A block of the ring as it stands, as 16-bit samples.
    std::vector<std::int16_t> Ring(int block) {
        auto bytes = device->Snapshot(static_cast<std::uint32_t>(block * kBlockBytes), kBlockBytes);
        std::vector<std::int16_t> s(kBlockSamples);
        for (int i = 0; i < kBlockSamples; ++i)
            s[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        return s;
    }
    bool BlockIs(int block, std::int16_t value) {
        auto s = Ring(block);
        return std::all_of(s.begin(), s.end(), [&](std::int16_t x) { return x == value; });
    }
    // Puts the cursor `bytes` into the stream (it only moves forward).
    void CursorTo(std::uint64_t bytes) {
        ASSERT_GE(bytes, device->Played());
        ASSERT_TRUE(device->MoveCursor(static_cast<std::uint32_t>(bytes - device->Played())));
    }
    // A fresh ring written with stream blocks 0..count-1, playing, cursor
    // moved as far as the writes needed.
    void Fill(int count) {
        for (int k = 0; k < count; ++k) {
            auto w = std::async(std::launch::async, [this, k] { WriteBlock(k); });
            // Block k waits for the cursor to enter block k + 2 - kBlocks.
            const int need = k + 2 - kBlocks;
            if (need >= 0) {
                ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
                CursorTo(static_cast<std::uint64_t>(need) * kBlockBytes);
            }
            ASSERT_EQ(w.wait_for(3s), std::future_status::ready) << "write " << k;
        }
    }

    CWaveOutImpl out;
    FakeClock clock;
    sound::VirtualBuffer* device = nullptr;
};

} // namespace

TEST_F(OutputTest, FreshRingTakesEightBlocksAndTheNinthWaitsForOffsetZero) {
    ASSERT_TRUE(Open());
    std::atomic<int> written{0};
    auto writer = std::async(std::launch::async, [&] {
        for (int k = 0; k < 9; ++k) {
            WriteBlock(k);
            ++written;
        }
    });
    ASSERT_TRUE(WaitFor([&] { return written == 8; }));
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
    EXPECT_EQ(writer.wait_for(100ms), std::future_status::timeout) << "the ninth did not wait";
    EXPECT_EQ(written, 8);
    CursorTo(0); // the cursor reaches offset 0
    ASSERT_EQ(writer.wait_for(3s), std::future_status::ready);
    EXPECT_EQ(written, 9);
}

TEST_F(OutputTest, PlaybackStartsAtTheSeventhBlockAndNotBefore) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(out.GetRunState(), 0);
    for (int k = 0; k < 6; ++k)
        WriteBlock(k);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(device->PlayCount(), 0);
    EXPECT_FALSE(out.IsClockTimerRunning());
    WriteBlock(6);
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
    EXPECT_EQ(out.GetRunState(), 1);
    EXPECT_TRUE(out.IsClockTimerRunning());
    WriteBlock(7);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->PlayCount(), 1) << "started once only";
}

TEST_F(OutputTest, StarvationWritesSilenceOneBlockAheadAndOldSoundNeverRepeats) {
    ASSERT_TRUE(Open());
    Fill(kBlocks); // the whole ring holds sound; the writer then stops
    const std::int16_t sound = static_cast<std::int16_t>(0.25f * 32767);
    EXPECT_TRUE(BlockIs(0, sound));
    // Play on through two laps; each block must be silent before the cursor
    // gets there, and silence is written only one block ahead.
    for (int k = 2; k < 2 * kBlocks + 3; ++k) {
        CursorTo(static_cast<std::uint64_t>(k) * kBlockBytes + 10);
        const int ahead = (k + 1) % kBlocks;
        if (k >= kBlocks - 1) {
            ASSERT_TRUE(WaitFor([&] { return BlockIs(ahead, 0); })) << "block " << ahead;
            EXPECT_EQ(out.GetRunState(), 2);
        } else {
            std::this_thread::sleep_for(2ms);
            EXPECT_TRUE(BlockIs(ahead, sound)) << "silence written too early at " << ahead;
        }
    }
}

TEST_F(OutputTest, AfterStarvationRealSamplesBringTheClockBack) {
    ASSERT_TRUE(Open());
    Fill(kBlocks);
    CursorTo(9 * kBlockBytes + 10); // starves: silence into block 0
    ASSERT_TRUE(WaitFor([&] { return out.GetRunState() == 2; }));
    ASSERT_TRUE(WaitFor([&] { return BlockIs(0, 0); }));
    clock.Set(0);
    out.ClockTimerProc();
    EXPECT_EQ(clock.GetPrivateTime(), 0) << "no correction while starved";

    std::this_thread::sleep_for(50ms); // the timer's ticks as well
    EXPECT_EQ(clock.GetPrivateTime(), 0);

    // The stage delivers again: stream blocks 10 and 11 into ring blocks 1
    // and 2, right behind the silence.
    WriteBlock(10);
    EXPECT_EQ(out.GetRunState(), 1) << "the starved state should end with real samples";
    WriteBlock(11);
    // In the silent block the time stands at the end of the sound before it.
    CursorTo(10 * kBlockBytes + 10);
    EXPECT_TRUE(WaitFor([&] { return clock.GetPrivateTime() == 10 * kBlockTime; }));
    CursorTo(11 * kBlockBytes + kBlockBytes / 2);
    EXPECT_TRUE(WaitFor([&] { return clock.GetPrivateTime() == 10 * kBlockTime + kBlockTime / 2; }))
        << "the clock timer follows the cursor again; clock at " << clock.GetPrivateTime();
    EXPECT_EQ(out.GetRunState(), 1);
}

TEST_F(OutputTest, StampsInterpolateAcrossBlocksAndWrapToTheFirst) {
    ASSERT_TRUE(Open());
    Fill(kBlocks + 1); // stream block 10 lands in ring block 0
    EXPECT_EQ(out.StampTimeAt(kBlockBytes + kBlockBytes / 2), (kBlockTime + 2 * kBlockTime) / 2);
    EXPECT_EQ(out.StampTimeAt(0), 10 * kBlockTime);
    EXPECT_EQ(out.StampTimeAt(9 * kBlockBytes + kBlockBytes / 2),
              (9 * kBlockTime + 10 * kBlockTime) / 2)
        << "the last block interpolates towards stamp 0";
}

TEST_F(OutputTest, StampsFollowBlockStartsWhenPacketsStraddleBlocks) {
    ASSERT_TRUE(Open());
    // Packets of 300 samples spanning 300 time units each: block k starts at
    // sample 800 k, so its stamp is 800 k.
    for (int p = 0; p < 16; ++p)
        out.WriteSamples(std::vector<float>(300, 0.1f), 300, p * 300, (p + 1) * 300);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(out.StampTimeAt(static_cast<std::uint32_t>(k * kBlockBytes)), 800 * k);
    EXPECT_EQ(out.StampTimeAt(kBlockBytes + 400), 1000);
}

TEST_F(OutputTest, ClockIsCorrectedOnlyBeyondOneMillisecondAndAfterTheFirstLap) {
    ASSERT_TRUE(Open());
    Fill(kBlocks - 2); // playing, but the awaited index has not wrapped yet
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
    CursorTo(kBlockBytes + kBlockBytes / 2);
    clock.Set(-50000000);
    out.ClockTimerProc();
    EXPECT_EQ(clock.GetPrivateTime(), -50000000) << "corrected before the first lap";

    auto w = std::async(std::launch::async, [this] { WriteBlock(8); });
    ASSERT_EQ(w.wait_for(3s), std::future_status::ready); // waits on offset 0: a lap
    const std::int64_t heard = (kBlockTime + 2 * kBlockTime) / 2;
    // The 16 ms timer does the ticking from here on.
    ASSERT_TRUE(WaitFor([&] { return clock.GetPrivateTime() == heard; }))
        << "not corrected after the first lap";
    clock.Set(heard + 5000); // 0.5 ms ahead
    const int before = clock.Adjustments();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(clock.GetPrivateTime(), heard + 5000);
    EXPECT_EQ(clock.Adjustments(), before);
    clock.Set(heard - 15000); // 1.5 ms behind
    EXPECT_TRUE(WaitFor([&] { return clock.GetPrivateTime() == heard; }))
        << "to be adjusted by the full difference";
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(clock.Adjustments(), before + 1);
    EXPECT_EQ(clock.GetPrivateTime(), heard);
}

TEST_F(OutputTest, OpenCloseAndResetLifecycle) {
    EXPECT_EQ(out.GetRunState(), -1);
    EXPECT_FALSE(out.Close()) << "never opened";
    ASSERT_TRUE(Open());
    EXPECT_FALSE(Open()) << "already open";
    Fill(7);
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
    out.Reset();
    EXPECT_FALSE(out.IsClockTimerRunning());
    EXPECT_FALSE(device->IsPlaying());
    EXPECT_EQ(out.GetRunState(), 0);
    WriteBlock(7); // returns at once after a reset
    EXPECT_TRUE(out.Close()) << "Close after Reset releases as usual";
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(out.Close());
    WriteBlock(8); // dropped while closed, no crash
    ASSERT_TRUE(Open()) << "a closed output opens again";
    Fill(7);
    EXPECT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
}

TEST_F(OutputTest, ResetReleasesAWriterWaitingForTheCursor) {
    ASSERT_TRUE(Open());
    Fill(8);
    auto w = std::async(std::launch::async, [this] { WriteBlock(8); });
    EXPECT_EQ(w.wait_for(50ms), std::future_status::timeout);
    out.Reset();
    EXPECT_EQ(w.wait_for(3s), std::future_status::ready);
}

TEST_F(OutputTest, VolumeSetWhileClosedAppliesAtOpen) {
    EXPECT_EQ(out.SetVolume(-600), S_OK);
    ASSERT_TRUE(Open());
    EXPECT_EQ(device->GetVolume(), -600);
    out.SetVolume(-100);
    EXPECT_EQ(device->GetVolume(), -100);
    out.Close();
    EXPECT_EQ(out.GetVolume(), -100);
    ASSERT_TRUE(Open());
    EXPECT_EQ(device->GetVolume(), -100);
}

// The player sets the volume from its own thread while the streaming thread
// opens and closes the output: no change is lost, and none reaches a device
// that Close has already freed (the sanitizer builds see the latter).
TEST_F(OutputTest, VolumeRacingOpenAndCloseIsNeverLostNorSentToAFreedDevice) {
    for (int round = 0; round < 300; ++round) {
        const std::int32_t v = -1 - 10 * (round % 900);
        std::atomic<bool> go{false};
        std::thread setter([&] {
            while (!go)
                std::this_thread::yield();
            out.SetVolume(v);
        });
        go = true;
        ASSERT_TRUE(Open());
        setter.join();
        ASSERT_EQ(device->GetVolume(), v) << "round " << round << ": the change was lost at Open";

        go = false;
        std::thread closer([&] {
            while (!go)
                std::this_thread::yield();
            out.Close();
        });
        go = true;
        out.SetVolume(v - 5);
        closer.join();
        EXPECT_EQ(out.GetVolume(), v - 5);
    }
}

TEST_F(OutputTest, SixteenBitConversionTruncatesAndClips) {
    ASSERT_TRUE(Open(16));
    std::vector<float> v(kBlockSamples, 0.0f);
    const float in[] = {-1.0f, 0.5f, 0.0f, 0.99999f, 1.5f, -1.5f, NAN, -0.5f};
    const std::int16_t want[] = {-32767, 16383, 0, 32766, 32767, -32767, 0, -16383};
    std::copy(std::begin(in), std::end(in), v.begin());
    out.WriteSamples(std::move(v), kBlockSamples, 0, kBlockTime);
    const auto s = Ring(0);
    for (std::size_t i = 0; i < std::size(want); ++i)
        EXPECT_EQ(s[i], want[i]) << "input " << in[i];
}

TEST_F(OutputTest, EightBitConversionTruncatesAndClips) {
    ASSERT_TRUE(Open(8));
    std::vector<float> v(kBlockSamples, 0.0f);
    const float in[] = {0.0f, -1.0f, 0.5f, -0.5f, 0.99f, 2.0f, -2.0f};
    const std::uint8_t want[] = {128, 1, 191, 64, 253, 255, 1};
    std::copy(std::begin(in), std::end(in), v.begin());
    out.WriteSamples(std::move(v), kBlockSamples, 0, kBlockTime);
    const auto bytes = device->Snapshot(0, kBlockSamples);
    for (std::size_t i = 0; i < std::size(want); ++i)
        EXPECT_EQ(bytes[i], want[i]) << "input " << in[i];
    EXPECT_EQ(bytes[kBlockSamples - 1], 128);
}

TEST_F(OutputTest, EndOfStreamPlaysTheStagedTailAndReportsDrainedWhenHeard) {
    ASSERT_TRUE(Open());
    for (int k = 0; k < 3; ++k)
        WriteBlock(k);
    // Half a block of tail, staged only.
    out.WriteSamples(std::vector<float>(kBlockSamples / 2, -0.25f), kBlockSamples / 2,
                     3 * kBlockTime, 3 * kBlockTime + kBlockTime / 2);
    EXPECT_FALSE(device->IsPlaying()) << "three blocks do not prime the ring";
    out.WriteEndOfStream();
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); })) << "a short stream must start";
    const auto tail = Ring(3);
    EXPECT_EQ(tail[0], static_cast<std::int16_t>(-0.25f * 32767));
    EXPECT_EQ(tail[kBlockSamples / 2 - 1], static_cast<std::int16_t>(-0.25f * 32767));
    EXPECT_EQ(tail[kBlockSamples / 2], 0) << "padded with the zero level";

    CursorTo(3 * kBlockBytes + kBlockBytes / 2 - 2); // the last real sample is being heard
    EXPECT_FALSE(out.WaitDrained(60));
    CursorTo(3 * kBlockBytes + kBlockBytes / 2);
    EXPECT_TRUE(out.WaitDrained(2000));
    ASSERT_TRUE(WaitFor([&] { return BlockIs(4, 0); })) << "silence follows the tail";
}

TEST_F(OutputTest, EndOfStreamOnABlockBoundaryAndOnAnEmptyRing) {
    ASSERT_TRUE(Open());
    out.WriteEndOfStream();
    EXPECT_TRUE(out.WaitDrained(0)) << "nothing to hear";
    WriteBlock(0); // a write after the mark starts a new stream
    EXPECT_FALSE(out.WaitDrained(0));
    WriteBlock(1);
    out.WriteEndOfStream();
    ASSERT_TRUE(WaitFor([&] { return device->IsPlaying(); }));
    CursorTo(2 * kBlockBytes - 2);
    EXPECT_FALSE(out.WaitDrained(60));
    CursorTo(2 * kBlockBytes);
    EXPECT_TRUE(out.WaitDrained(2000));
}

TEST(OutputWav, WavDeviceHearsExactlyTheWrittenSamples) {
    char path[] = "/tmp/zarn-out-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<std::int16_t> expected;
    {
        CWaveOutImpl out;
        out.SetDeviceFactory([&](const sound::PcmFormat& f, std::uint32_t bytes) {
            return sound::CreateNamedSoundBuffer(std::string("wav:") + path, f, bytes);
        });
        ASSERT_TRUE(out.Open(MakePcmFormat(2, kRate, 16), kBlocks, 2 * kBlockBytes));
        // 0.45 s of a stereo pattern in packets of odd sizes.
        std::int64_t t = 0;
        int frame = 0;
        for (int p = 0; p < 12; ++p) {
            const int frames = 250 + 37 * (p % 3);
            std::vector<float> v;
            for (int i = 0; i < frames; ++i, ++frame) {
                const float l = static_cast<float>(std::sin(frame * 0.05) * 0.8);
                const float r = static_cast<float>((frame % 200) / 200.0 - 0.5);
                v.push_back(l);
                v.push_back(r);
                expected.push_back(static_cast<std::int16_t>(l * 32767.0f));
                expected.push_back(static_cast<std::int16_t>(r * 32767.0f));
            }
            const std::int64_t next = t + frames * 1250;
            out.WriteSamples(std::move(v), 2 * frames, t, next);
            t = next;
        }
        out.WriteEndOfStream();
        ASSERT_TRUE(out.WaitDrained(5000));
        out.Close();
    }
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> wav((std::istreambuf_iterator<char>(f)), {});
    std::remove(path);
    ASSERT_GE(wav.size(), 44 + expected.size() * 2);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto got = static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
        ASSERT_EQ(got, expected[i]) << "sample " << i;
    }
    for (std::size_t i = 44 + expected.size() * 2; i < wav.size(); ++i)
        ASSERT_EQ(wav[i], 0) << "only silence after the stream";
}
