#include "player/config/Option.h"

#include "player/config/Tool.h"
#include "player/shell/IPlayer.h"

void TOptions::Load() {
    SkipSilent = SettingsStore().ReadInteger("option", "skip-slient", 0);
    AnalyzeFileInfo = SettingsStore().ReadInteger("option", "analyze-fileinfo", 1);
}

void TOptions::Save() {
    SettingsStore().WriteInteger("option", "skip-slient", SkipSilent);
    SettingsStore().WriteInteger("option", "analyze-fileinfo", AnalyzeFileInfo);
}

void TOptions::Apply(IPlayer* player) const {
    if (player)
        player->SetOption(PLAYER_OPTION_SKIP_SILENCE, SkipSilent);
}

TOptions& Options() {
    static TOptions options;
    return options;
}
