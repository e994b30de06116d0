#include "player/config/Option.h"

#include "engine/include/IPlayer.h"
#include "player/config/Tool.h"
#include "player/loudness/Figure.h"

#include <algorithm>

namespace {

// A hand-edited length outside the spin boxes' range is brought into it.
int ReadSkip(const char* key, int def) {
    return std::clamp(SettingsStore().ReadInteger("option", key, def), TOptions::kSkipMin,
                      TOptions::kSkipMax);
}

} // namespace

int StoredLoudnessTarget() {
    const int target =
        SettingsStore().ReadInteger("option", "loudness-target", loudness::DefaultTarget);
    return std::find(std::begin(loudness::Targets), std::end(loudness::Targets), target) !=
                   std::end(loudness::Targets)
               ? target
               : loudness::DefaultTarget;
}

void TOptions::Load() {
    SkipSilent = SettingsStore().ReadInteger("option", "skip-slient", 0);
    AnalyzeFileInfo = SettingsStore().ReadInteger("option", "analyze-fileinfo", 1);
    SmoothSplices = SettingsStore().ReadInteger("option", "smooth-splices", 1);
    RememberFiles = SettingsStore().ReadInteger("option", "remember-files", 1);
    SkipBack = ReadSkip("skip-back", 10);
    SkipForward = ReadSkip("skip-forward", 30);
    LevelLoudness = SettingsStore().ReadInteger("option", "level-loudness", 1) != 0 ? 1 : 0;
    LoudnessTarget = StoredLoudnessTarget();
}

void TOptions::Save() {
    SettingsStore().WriteInteger("option", "skip-slient", SkipSilent);
    SettingsStore().WriteInteger("option", "analyze-fileinfo", AnalyzeFileInfo);
    SettingsStore().WriteInteger("option", "smooth-splices", SmoothSplices);
    SettingsStore().WriteInteger("option", "remember-files", RememberFiles);
    SettingsStore().WriteInteger("option", "skip-back", SkipBack);
    SettingsStore().WriteInteger("option", "skip-forward", SkipForward);
    SettingsStore().WriteInteger("option", "level-loudness", LevelLoudness);
    SettingsStore().WriteInteger("option", "loudness-target", LoudnessTarget);
}

void TOptions::Apply(IPlayer* player) const {
    if (!player)
        return;
    player->SetOption(PLAYER_OPTION_SKIP_SILENCE, SkipSilent);
    player->SetOption(PLAYER_OPTION_SMOOTH_SPLICES, SmoothSplices);
    player->SetOption(PLAYER_OPTION_LIMITER, LevelLoudness != 0 ? 1 : 0);
    if (Relevel)
        Relevel();
}

TOptions& Options() {
    static TOptions options;
    return options;
}
