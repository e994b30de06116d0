// The player core's loudness levelling: the gain each file starts at, the
// short hold for a first estimate, and the gain following the figures and
// the options.
#include "player/core/Player.h"

#include "player/config/Option.h"
#include "player/core/Levelling.h"
#include "player/list/Filelist.h"
#include "player/loudness/Cache.h"

#include <QTimer>

#include <cstdio>

namespace {

// The files after the one playing that are measured ahead.
constexpr int kAhead = 3;

} // namespace

void TPlayerCore::SetLevelling(TLevelling* levelling, TLoudnessCache* cache) {
    levelling_ = levelling;
    loudnessCache_ = cache;
    Options().Relevel = levelling ? std::function<void()>([this] { Relevel(); }) : nullptr;
}

std::int32_t TPlayerCore::LevelGain() const {
    if (!levelling_ || !Options().LevelLoudness || !levelFigure_)
        return 0;
    return loudness::GainFor(levelFigure_->Integrated, Options().LoudnessTarget);
}

void TPlayerCore::Relevel() {
    if (!levelling_ || !player_)
        return;
    player_->SetOption(PLAYER_OPTION_LOUDNESS_GAIN, LevelGain());
    // Levelling turned on for a file never measured: it is measured now.
    if (Options().LevelLoudness && !levelFigure_ && !levelPath_.empty() &&
        !levelFailuresSaid_.count(levelPath_))
        levelling_->Want(levelPath_, {});
}

void TPlayerCore::LevelFor(const std::string& path) {
    ++holdToken_;
    levelHeld_ = false;
    playHeld_ = false;
    if (!levelling_ || !player_)
        return;
    levelPath_ = path;
    levelFigure_.reset();
    if (const auto key = TLoudnessKey::Of(path))
        levelFigure_ = loudnessCache_->Find(*key);
    // Before the open, so the file's first sound already has it.
    player_->SetOption(PLAYER_OPTION_LOUDNESS_GAIN, LevelGain());
    if (!Options().LevelLoudness)
        return;
    std::vector<std::string> next;
    if (const TFile* current = list_.Current()) {
        const int at = list_.PositionOf(current);
        for (int i = at + 1; at >= 0 && i < list_.Count() && i <= at + kAhead; ++i)
            next.push_back(list_.Item(i)->FileName);
    }
    levelling_->Want(path, next);
    if (levelFigure_ || levelFailuresSaid_.count(path))
        return;
    levelHeld_ = true;
    const int token = holdToken_;
    QTimer::singleShot(levelHold_, this, [this, token] {
        if (token == holdToken_)
            ReleaseHold();
    });
}

void TPlayerCore::PlayOpened() {
    if (levelHeld_) {
        playHeld_ = true;
        return;
    }
    player_->Play();
}

void TPlayerCore::ReleaseHold() {
    levelHeld_ = false;
    if (playHeld_ && player_) {
        playHeld_ = false;
        player_->Play();
    }
}

void TPlayerCore::LoudnessArrived() {
    if (!levelling_)
        return;
    for (TLevelling::Result& r : levelling_->Take()) {
        if (!r.Failure.empty() && levelFailuresSaid_.insert(r.Path).second)
            std::fprintf(stderr, "zarnplayer: no loudness level for %s: %s\n", r.Path.c_str(),
                         r.Failure.c_str());
        if (r.Path != levelPath_)
            continue;
        // A whole figure stays; a later estimate never replaces it.
        if (r.Figure && (!levelFigure_ || !levelFigure_->Whole))
            levelFigure_ = r.Figure;
        Relevel();
        // The estimate (or the failure) is in: the held start goes.
        ReleaseHold();
    }
}
