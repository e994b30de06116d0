// The option switches: race through silence, analyse added files, smooth
// splices in the tempo change, the memory of each file's position and rate;
// and the lengths of the skips Back and Forward.
// Loaded when the engine session starts, saved when it ends.
#pragma once

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

    static constexpr int kSkipMin = 1;
    static constexpr int kSkipMax = 3600;

    void Load();
    void Save();
    // Hands skip silence and smooth splices to the engine as stored (a 2
    // stays 2).
    void Apply(IPlayer* player) const;
};

TOptions& Options();
