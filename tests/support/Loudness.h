// Loudness for the levelling tests, from a meter that is not the player's:
// ffmpeg's ebur128 filter. And signals made at a chosen loudness.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zarntest {

struct MeterReading {
    double Integrated = 0; // LUFS
    double Range = 0;      // LRA, LU
    double TruePeak = 0;   // dBTP
};

// ffmpeg's reading of the file (of its first seconds unless 0); nothing
// when ffmpeg failed.
std::optional<MeterReading> Meter(const std::string& path, double seconds = 0);

// ffmpeg's lavfi sources for the test signals, 44.1 kHz stereo. seconds long.
// Speech-like: noise shaped to the voice band in syllables and pauses.
std::string SpeechLike(double seconds);
// Music-like: a chord that changes, with a beat.
std::string MusicLike(double seconds);
// Loud and soft passages: speech-like sound whose level steps by 15 dB.
std::string LoudAndSoft(double seconds);
// A tone at a quarter of the rate, a quarter turn off the sample grid: its
// true peak lies 3 dB over its sample peak.
std::string InterSamplePeaks(double seconds);

// Renders graph to path (format by extension, extra ffmpeg output args
// before it) at integrated loudness lufs as the independent meter reads
// it, within 0.2 LU. Empty on failure. Files at over 0 dBFS need a float
// format (e.g. .wav with -c:a pcm_f32le).
std::string MakeAtLoudness(const std::string& graph, double lufs, const std::string& path,
                           const std::vector<std::string>& outputArgs = {});

} // namespace zarntest
