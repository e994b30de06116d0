// What the wav: and capture: devices wrote, read back and measured: length,
// pitch, the level of a tone and where the sound ends.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_wav {

struct Wav {
    int channels = 0;
    int rate = 0;
    int bits = 16;
    std::vector<std::int16_t> samples; // 8-bit files are scaled up to 16 bits
    double Seconds() const {
        return channels && rate ? double(samples.size()) / channels / rate : 0;
    }
};

inline Wav readWav(const std::string& path) {
    Wav w;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> all((std::istreambuf_iterator<char>(in)), {});
    size_t pos = 12;
    auto u32 = [&](size_t at) {
        return std::uint32_t(std::uint8_t(all[at])) |
               std::uint32_t(std::uint8_t(all[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(all[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(all[at + 3])) << 24;
    };
    while (pos + 8 <= all.size()) {
        std::string id(&all[pos], 4);
        std::uint32_t len = u32(pos + 4);
        if (id == "fmt ") {
            w.channels = std::uint8_t(all[pos + 10]) | std::uint8_t(all[pos + 11]) << 8;
            w.rate = static_cast<int>(u32(pos + 12));
            w.bits = std::uint8_t(all[pos + 22]);
        } else if (id == "data") {
            size_t bytes = std::min<size_t>(len, all.size() - pos - 8);
            if (w.bits == 8) {
                for (size_t i = 0; i < bytes; ++i)
                    w.samples.push_back(std::int16_t((std::uint8_t(all[pos + 8 + i]) - 128) * 256));
            } else {
                w.samples.resize(bytes / 2);
                std::memcpy(w.samples.data(), &all[pos + 8], bytes / 2 * 2);
            }
            break;
        }
        pos += 8 + len + (len & 1);
    }
    return w;
}

// Strength of one frequency in a run of channel 0 (Goertzel): about half
// the amplitude of a tone at that frequency.
inline double goertzel(const Wav& w, double freq, size_t a, size_t b) {
    double coeff = 2 * std::cos(2 * M_PI * freq / w.rate), s1 = 0, s2 = 0;
    for (size_t i = a; i < b; ++i) {
        double s0 = w.samples[i * w.channels] / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / double(b - a);
}

// The mean strength over 10 ms pieces of [from, to) seconds: short enough
// that the splices of the tempo change do not cancel the sum.
inline double toneLevel(const Wav& w, double freq, double from, double to) {
    size_t piece = size_t(w.rate / 100);
    size_t a = size_t(from * w.rate),
           b = std::min(size_t(to * w.rate), w.samples.size() / w.channels);
    double sum = 0;
    int n = 0;
    for (; a + piece <= b; a += piece, ++n)
        sum += goertzel(w, freq, a, a + piece);
    return n ? sum / n : 0;
}

// The pitch of channel 0 within [from, to): the median distance between
// upward zero crossings, which the odd splice does not move.
inline double frequency(const Wav& w, double from, double to) {
    size_t a = size_t(from * w.rate),
           b = std::min(size_t(to * w.rate), w.samples.size() / w.channels);
    std::vector<double> periods;
    double last = -1;
    for (size_t i = a + 1; i < b; ++i) {
        int prev = w.samples[(i - 1) * w.channels], cur = w.samples[i * w.channels];
        if (prev < 0 && cur >= 0) {
            double at = double(i - 1) + double(-prev) / double(cur - prev);
            if (last >= 0)
                periods.push_back(at - last);
            last = at;
        }
    }
    if (periods.empty())
        return 0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return w.rate / periods[periods.size() / 2];
}

// Seconds to the end of the last stretch louder than -20 dB.
inline double endOfSound(const Wav& w) {
    size_t frames = w.samples.size() / w.channels;
    for (size_t i = frames; i-- > 0;)
        if (std::abs(w.samples[i * w.channels]) > 3277)
            return double(i + 1) / w.rate;
    return 0;
}

// Levels of both tones per tenth of a second, for failure messages.
inline std::string profile(const Wav& w) {
    std::string out;
    char line[80];
    for (double t = 0; t + 0.1 <= w.Seconds(); t += 0.1) {
        std::snprintf(line, sizeof line, "%.1f s: 440 Hz %.3f, 1000 Hz %.3f\n", t,
                      toneLevel(w, 440, t, t + 0.1), toneLevel(w, 1000, t, t + 0.1));
        out += line;
    }
    return out;
}

} // namespace testing_wav
