// Measuring a file's loudness: the file is decoded (audio decoders only) and
// its first audio stream fed to libebur128. A ReplayGain 2 or R128 track
// gain in the tags, when plausible, is taken instead of a scan. Used by the
// probe on the descriptors the player hands it, and by the export.
#pragma once

#include "player/loudness/Figure.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace loudness {

struct MeasureRequest {
    // Seconds of sound from the start; 0 measures the whole file.
    double MaxSeconds = 0;
    bool TruePeak = true;
    // Tags with a track gain answer at once.
    bool UseTags = true;
    // Wall-clock time the whole measurement may take.
    std::chrono::milliseconds TimeOut{60000};
    // Asked every tenth of a second; true ends the measurement as a failure.
    std::function<bool()> Cancelled;
};

struct MeasureOutcome {
    std::optional<TLoudnessFigure> Figure;
    std::string Failure; // in words, when there is no figure
};

// path: a file GStreamer's file source can open (the probe passes its
// descriptor's /proc/self/fd name). GStreamer must be set up.
MeasureOutcome Measure(const std::string& path, const MeasureRequest& request);

// The loudness a track gain tag stands for (ReplayGain 2 against -18 LUFS,
// R128_TRACK_GAIN in 1/256 dB against -23 LUFS); nothing when implausible.
std::optional<double> FromReplayGain(double gainDb);
std::optional<double> FromR128Gain(long q78);

} // namespace loudness
