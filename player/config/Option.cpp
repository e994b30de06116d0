#include "player/config/Option.h"

#include "player/config/Tool.h"
#include "engine/include/IPlayer.h"

void TOptions::Load() {
    SkipSilent = SettingsStore().ReadInteger("option", "skip-slient", 0);
    AnalyzeFileInfo = SettingsStore().ReadInteger("option", "analyze-fileinfo", 1);
    SmoothSplices = SettingsStore().ReadInteger("option", "smooth-splices", 1);
}

void TOptions::Save() {
    SettingsStore().WriteInteger("option", "skip-slient", SkipSilent);
    SettingsStore().WriteInteger("option", "analyze-fileinfo", AnalyzeFileInfo);
    SettingsStore().WriteInteger("option", "smooth-splices", SmoothSplices);
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
