// The option switches: race through silence, analyse added files, smooth
// splices in the tempo change, the memory of each file's position and rate,
// loudness levelling and its target; and the lengths of the skips Back and
// Forward.
// Loaded when the engine session starts, saved when it ends.
#pragma once

#include <functional>

struct IPlayer;

class TOptions {
public:
    int SkipSilent = 0;
    int AnalyzeFileInfo = 0;
    int SmoothSplices = 1;
    int RememberFiles = 1;
    // Seconds of the file's own time, kSkipMin to kSkipMax.
    int SkipBack = 10;
    int SkipForward = 30;
    // Every file brought to LoudnessTarget LUFS (one of loudness::Targets).
    int LevelLoudness = 1;
    int LoudnessTarget = -16;

    static constexpr int kSkipMin = 1;
    static constexpr int kSkipMax = 3600;

    void Load();
    void Save();
    // Hands skip silence, smooth splices (a 2 stays 2) and the limiter to
    // the engine as stored, then tells Relevel, which owns the file gain.
    void Apply(IPlayer* player) const;
    std::function<void()> Relevel;
};

TOptions& Options();
// The stored target ("option"/"loudness-target"), the default when it is
// none of the offered ones.
int StoredLoudnessTarget();
