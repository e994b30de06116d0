// Loudness as an independent meter reads it: ffmpeg's ebur128 filter with
// true peak on, run on a file the test wrote or the program made. And
// signals made at a chosen loudness for the levelling tests.
#pragma once

#include <optional>
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

// Measures the file (its first seconds unless 0); false with the reason in
// error when ffmpeg fails, does not end within a minute, or prints no
// summary.
bool MeasureLoudness(const std::string& path, LoudnessReading& reading, std::string& error,
                     double seconds = 0);

struct MeterReading {
    double Integrated = 0; // LUFS
    double Range = 0;      // LRA, LU
    double TruePeak = 0;   // dBTP
};

// MeasureLoudness's reading; nothing when ffmpeg failed.
std::optional<MeterReading> Meter(const std::string& path, double seconds = 0);

// ffmpeg's lavfi sources for the test signals, 44.1 kHz stereo, seconds long.
// Speech-like: noise shaped to the voice band in syllables and pauses.
std::string SpeechLike(double seconds);
// Music-like: a chord that changes, with a beat.
std::string MusicLike(double seconds);
// Loud and soft passages: speech-like sound whose level steps by 15 dB.
std::string LoudAndSoft(double seconds);
// A chord with short bursts of a tone at a quarter of the rate, an eighth
// of a turn off the sample grid: the bursts' true peak lies 3 dB over their
// sample peak, and 14 dB over the loudness.
std::string InterSamplePeaks(double seconds);

// Renders graph to path (format by extension, extra ffmpeg output args
// before it) at integrated loudness lufs as the independent meter reads
// it, within 0.2 LU. Empty on failure. Files at over 0 dBFS need a float
// format (e.g. .wav with -c:a pcm_f32le).
std::string MakeAtLoudness(const std::string& graph, double lufs, const std::string& path,
                           const std::vector<std::string>& outputArgs = {});

} // namespace zarntest
