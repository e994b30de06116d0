// Loudness as an independent meter reads it: ffmpeg's ebur128 filter with
// true peak on, run on a WAV file the test wrote or the program made.
#pragma once

#include <string>
#include <vector>

namespace zarntest {

struct LoudnessReading {
    double integrated = 0; // LUFS
    double range = 0;      // LU
    double truePeak = 0;   // dBTP
};

// Writes interleaved float samples as 16-bit PCM (rounded, clipped to full
// scale); false when the file cannot be written.
bool WriteWav16(const std::string& path, const std::vector<float>& samples, int channels, int rate);

// Measures the file; false with the reason in error when ffmpeg fails, does
// not end within a minute, or prints no summary.
bool MeasureLoudness(const std::string& path, LoudnessReading& reading, std::string& error);

} // namespace zarntest
