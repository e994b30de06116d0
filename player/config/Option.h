// The option switches: race through silence, analyse added files, smooth
// splices in the tempo change.
// Loaded when the engine session starts, saved when it ends.
#pragma once

struct IPlayer;

class TOptions {
public:
    int SkipSilent = 0;
    int AnalyzeFileInfo = 0;
    int SmoothSplices = 1;

    void Load();
    void Save();
    // Hands skip silence and smooth splices to the engine as stored (a 2
    // stays 2).
    void Apply(IPlayer* player) const;
};

TOptions& Options();
