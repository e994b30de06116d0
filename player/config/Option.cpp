#include "player/config/Option.h"

#include "engine/include/IPlayer.h"
#include "player/config/Tool.h"

#include <algorithm>

namespace {

// A hand-edited length outside the spin boxes' range is brought into it.
int ReadSkip(const char* key, int def) {
    return std::clamp(SettingsStore().ReadInteger("option", key, def), TOptions::kSkipMin,
                      TOptions::kSkipMax);
}

} // namespace

void TOptions::Load() {
    SkipSilent = SettingsStore().ReadInteger("option", "skip-slient", 0);
    AnalyzeFileInfo = SettingsStore().ReadInteger("option", "analyze-fileinfo", 1);
    SmoothSplices = SettingsStore().ReadInteger("option", "smooth-splices", 1);
    RememberFiles = SettingsStore().ReadInteger("option", "remember-files", 1);
    SkipBack = ReadSkip("skip-back", 10);
    SkipForward = ReadSkip("skip-forward", 30);
}

void TOptions::Save() {
    SettingsStore().WriteInteger("option", "skip-slient", SkipSilent);
    SettingsStore().WriteInteger("option", "analyze-fileinfo", AnalyzeFileInfo);
    SettingsStore().WriteInteger("option", "smooth-splices", SmoothSplices);
    SettingsStore().WriteInteger("option", "remember-files", RememberFiles);
    SettingsStore().WriteInteger("option", "skip-back", SkipBack);
    SettingsStore().WriteInteger("option", "skip-forward", SkipForward);
}

void TOptions::Apply(IPlayer* player) const {
    if (!player)
        return;
    player->SetOption(PLAYER_OPTION_SKIP_SILENCE, SkipSilent);
    player->SetOption(PLAYER_OPTION_SMOOTH_SPLICES, SmoothSplices);
}

TOptions& Options() {
    static TOptions options;
    return options;
}
