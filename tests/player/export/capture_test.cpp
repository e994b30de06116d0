// The capture device under the renderer's real output: everything written
// comes out once, in order, with nothing added, and without real time.
#include "audio/output/CWaveOutImpl.h"
#include "platform/sound/SoundBuffer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

struct Capture {
    std::uint32_t dataBytes = 0; // as the header says
    std::vector<std::int16_t> samples;
};

Capture ReadCapture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    Capture c;
    if (bytes.size() < 44)
        return c;
    std::memcpy(&c.dataBytes, bytes.data() + 40, 4);
    c.samples.resize((bytes.size() - 44) / 2);
    std::memcpy(c.samples.data(), bytes.data() + 44, c.samples.size() * 2);
    return c;
}

// A pattern that never repeats within a block, so a lost, doubled or
// reordered block shows.
float Sample(std::size_t i) {
    return static_cast<float>(static_cast<int>(i * 37 % 20011) - 10005) / 10006.0f;
}

class CaptureDevice : public ::testing::Test {
protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("zarn-capture-" + std::to_string(getpid()) + ".wav");
        out.SetDeviceFactory([this](const sound::PcmFormat& f, std::uint32_t bytes) {
            return sound::CreateNamedSoundBuffer("capture:" + path.string(), f, bytes);
        });
    }
    void TearDown() override { std::filesystem::remove(path); }

    // Writes `total` samples in packets of `packet`, ends the stream and
    // waits until it has been heard.
    bool Play(std::size_t total, std::size_t packet) {
        if (!out.Open(MakePcmFormat(2, 44100, 16), 10, 17640))
            return false;
        std::size_t at = 0;
        while (at < total) {
            const std::size_t n = std::min(packet, total - at);
            std::vector<float> s(n);
            for (std::size_t i = 0; i < n; ++i)
                s[i] = Sample(at + i);
            out.WriteSamples(std::move(s), static_cast<int>(n), static_cast<std::int64_t>(at),
                             static_cast<std::int64_t>(at + n));
            at += n;
        }
        out.WriteEndOfStream();
        // A real-time device would need `total` / 88200 seconds and more.
        const bool drained = out.WaitDrained(5000);
        out.Close();
        return drained;
    }

    void ExpectExactly(std::size_t total) {
        Capture c = ReadCapture(path.string());
        ASSERT_EQ(c.samples.size(), total);
        EXPECT_EQ(c.dataBytes, total * 2);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < total; ++i)
            if (c.samples[i] != static_cast<std::int16_t>(Sample(i) * 32767.0f))
                ++wrong;
        EXPECT_EQ(wrong, 0u);
    }

    std::filesystem::path path;
    CWaveOutImpl out;
};

TEST_F(CaptureDevice, ALongStreamComesOutWholeWithItsTailAndNoSilenceAdded) {
    // Thirty seconds: the ring goes round many times.
    const std::size_t total = 30 * 88200 + 1234;
    ASSERT_TRUE(Play(total, 5513));
    ExpectExactly(total);
}

TEST_F(CaptureDevice, StreamsShorterThanTheRingAndEndingOnABlockAreWhole) {
    for (std::size_t total : {std::size_t{3000}, std::size_t{8820} * 3, std::size_t{8820} * 25}) {
        ASSERT_TRUE(Play(total, 4410)) << total;
        ExpectExactly(total);
    }
}

TEST_F(CaptureDevice, AnUnwritableFileOpensNoDevice) {
    EXPECT_EQ(
        sound::CreateNamedSoundBuffer("capture:/no/such/folder/x.wav", sound::PcmFormat{}, 17640),
        nullptr);
    EXPECT_EQ(sound::CreateNamedSoundBuffer("capture:", sound::PcmFormat{}, 17640), nullptr);
}

} // namespace
