#include "tests/support/Loudness.h"

#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace zarntest {

namespace {

void put16(std::ofstream& out, std::uint16_t v) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    out.write(b, 2);
}
void put32(std::ofstream& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

// The number after `label` in the summary, which follows "Summary:".
bool numberAfter(const std::string& text, const std::string& label, double& value) {
    const auto summary = text.rfind("Summary:");
    if (summary == std::string::npos)
        return false;
    auto at = text.find(label, summary);
    if (at == std::string::npos)
        return false;
    at += label.size();
    while (at < text.size() && text[at] == ' ')
        ++at;
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec == std::errc() && end != first)
        return true;
    // A silent file reads "-inf".
    if (text.compare(at, 4, "-inf") == 0) {
        value = -HUGE_VAL;
        return true;
    }
    return false;
}

} // namespace

bool WriteWav16(const std::string& path, const std::vector<float>& samples, int channels,
                int rate) {
    std::ofstream out(path, std::ios::binary);
    if (!out)
        return false;
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(out, 36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<std::uint16_t>(channels));
    put32(out, static_cast<std::uint32_t>(rate));
    put32(out, static_cast<std::uint32_t>(rate * channels * 2));
    put16(out, static_cast<std::uint16_t>(channels * 2));
    put16(out, 16);
    out.write("data", 4);
    put32(out, bytes);
    for (float x : samples) {
        const double v = std::clamp(std::round(double(x) * 32767.0), -32768.0, 32767.0);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return static_cast<bool>(out);
}

bool MeasureLoudness(const std::string& path, LoudnessReading& reading, std::string& error) {
    const TempDir folder("loudness");
    const std::string out = folder / "out.txt", err = folder / "err.txt";
    Program ffmpeg({"/usr/bin/ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af",
                    "ebur128=peak=true", "-f", "null", "-"},
                   {}, out, err);
    const int status = ffmpeg.Wait(60);
    const std::string text = ffmpeg.Err();
    if (status != 0) {
        error = "ffmpeg's ebur128 on " + path + " ended with status " + std::to_string(status) +
                ": " + text.substr(text.size() > 400 ? text.size() - 400 : 0);
        return false;
    }
    if (!numberAfter(text, "I:", reading.integrated) || !numberAfter(text, "LRA:", reading.range) ||
        !numberAfter(text, "Peak:", reading.truePeak)) {
        error = "ffmpeg's ebur128 printed no summary for " + path;
        return false;
    }
    return true;
}

} // namespace zarntest
