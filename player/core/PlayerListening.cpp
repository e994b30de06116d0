// The core's part for people who listen to long files: the memory of where
// each file was left and at which rate, the rewind after a long pause, the
// skips by seconds and the sleep timer with its fade.
#include "player/core/Player.h"

#include "platform/profile.h"
#include "player/config/Option.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/core/Rewind.h"
#include "player/list/Filelist.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr std::int64_t kSecond = 10'000'000; // 100 ns units
constexpr int kSleepTickMs = 200;

} // namespace

// --- The memory ---------------------------------------------------------------

std::string TPlayerCore::MemoryFileName() {
    const std::string& settings = SettingsStore().FileName();
    return settings.substr(0, settings.rfind('/') + 1) + "positions.txt";
}

void TPlayerCore::LoadMemory() {
    if (memoryLoaded_)
        return;
    try {
        const std::size_t skipped = memory_.Load();
        memoryLoaded_ = true;
        if (skipped > 0)
            std::fprintf(stderr, "zarnplayer: %s: %zu unreadable line%s left out\n",
                         memory_.FileName().c_str(), skipped, skipped == 1 ? "" : "s");
    } catch (const profile::Error& e) {
        // Kept in memory for this run; the file is never replaced by less.
        const std::string why =
            std::string(e.what()) + "; positions are kept until the player ends";
        std::fprintf(stderr, "zarnplayer: %s\n", why.c_str());
        emit failed(QFile::decodeName(QByteArray::fromStdString("Positions of files: " + why)));
    }
}

void TPlayerCore::SaveMemory() {
    if (!memoryLoaded_ || !memoryDirty_)
        return;
    memory_.Save();
    memoryDirty_ = false;
}

void TPlayerCore::ScheduleSave() {
    memoryDirty_ = true;
    if (savePosted_)
        return;
    savePosted_ = true;
    saveTries_ = 0;
    // From the event loop: the write and its fsync never delay an open.
    QTimer::singleShot(0, this, [this] { SaveWhenFree(); });
}

void TPlayerCore::SaveWhenFree() {
    // The window never waits on another player's lock: while it is held the
    // save is tried again from the event loop, for five seconds in all.
    constexpr int kRetryMs = 100, kTries = 50;
    try {
        if (!memoryLoaded_ || !memoryDirty_ || memory_.TrySave(std::chrono::milliseconds(0))) {
            savePosted_ = false;
            memoryDirty_ = false;
            return;
        }
        if (++saveTries_ < kTries) {
            QTimer::singleShot(kRetryMs, this, [this] { SaveWhenFree(); });
            return;
        }
        savePosted_ = false;
        SayMemoryFailure("positions.txt.lock: another player held it for too long");
    } catch (const profile::Error& e) {
        savePosted_ = false;
        SayMemoryFailure(e.what());
    }
}

void TPlayerCore::SayMemoryFailure(const std::string& why) {
    std::fprintf(stderr, "zarnplayer: the positions of files could not be saved: %s\n",
                 why.c_str());
    emit failed(QFile::decodeName(
        QByteArray::fromStdString("The positions of files could not be saved: " + why)));
}

HRESULT TPlayerCore::OpenPrepared(const std::string& path) {
    LevelFor(path);
    const HRESULT hr = player_->Open(path.c_str());
    const std::optional<FileMemoryEntry> recalled = std::move(recalled_);
    recalled_.reset();
    if (hr != S_OK)
        return hr;
    current_ = path;
    ended_ = false;
    pausedAt_.reset();
    if (recalled) {
        const std::int64_t position = ResumePosition(*recalled, Duration());
        if (position > 0)
            player_->SetPosition(position);
    }
    return hr;
}

void TPlayerCore::RememberPosition() {
    if (current_.empty() || ended_ || !player_ || !Options().RememberFiles)
        return;
    const std::int32_t state = State();
    // A stopped file was not listened to (or was sent back to its start on
    // purpose): what the memory holds stays.
    if (state != PLAYER_PLAYING && state != PLAYER_PAUSED)
        return;
    const std::int64_t position = Position();
    if (memory_.Remember(current_, {position, RateText, false}))
        ScheduleSave();
}

void TPlayerCore::RememberLeft() {
    RememberPosition();
    current_.clear();
    ended_ = false;
}

void TPlayerCore::RememberEnded() {
    if (current_.empty() || ended_ || !Options().RememberFiles)
        return;
    ended_ = true;
    if (memory_.Remember(current_, {std::max<std::int64_t>(Duration(), 0), RateText, true}))
        ScheduleSave();
}

// --- The rewind after a long pause ------------------------------------------

void TPlayerCore::NotePause(std::int32_t stateBefore) {
    if (stateBefore == PLAYER_PLAYING)
        pausedAt_ = now_();
}

void TPlayerCore::RewindAfterPause() {
    if (!pausedAt_)
        return;
    const Clock::time_point pausedAt = *pausedAt_;
    pausedAt_.reset();
    const std::int32_t state = State();
    if (state != PLAYER_PAUSED)
        return;
    const std::int64_t position = Position();
    const std::int64_t from = PositionAfterPause(position, pausedAt, now_());
    if (from != position)
        player_->SetPosition(from);
}

// --- Skips ------------------------------------------------------------------

void TPlayerCore::SkipBack() {
    SkipBy(-static_cast<std::int64_t>(Options().SkipBack) * kSecond);
}

void TPlayerCore::SkipForward() {
    SkipBy(static_cast<std::int64_t>(Options().SkipForward) * kSecond);
}

void TPlayerCore::SkipBy(std::int64_t delta) {
    if (!player_)
        return;
    const std::int32_t state = State();
    if (state != PLAYER_PLAYING && state != PLAYER_PAUSED && state != PLAYER_STOPPED)
        return;
    const std::int64_t position = Position();
    const std::int64_t duration = Duration();
    std::int64_t target = std::max<std::int64_t>(position + delta, 0);
    if (duration > 0 && target > duration) {
        // As the desktop bus's Seek: past the end is the next entry.
        if (CanGoNext()) {
            Next();
            return;
        }
        target = duration;
    }
    SeekTo(target);
}

// --- The sleep timer ----------------------------------------------------------

void TPlayerCore::SetSleepMode(SleepMode mode) {
    sleep_.Set(mode, now_());
    if (!sleepTimer_) {
        sleepTimer_ = new QTimer(this);
        sleepTimer_->setInterval(kSleepTickMs);
        connect(sleepTimer_, &QTimer::timeout, this, &TPlayerCore::SleepTick);
    }
    sleepLeft_.reset();
    if (mode == SleepMode::Off) {
        sleepTimer_->stop();
        Fade(1.0);
    } else {
        sleepTimer_->start();
        SleepTick();
    }
    emit sleepChanged();
}

void TPlayerCore::SleepTick() {
    if (sleep_.Mode() == SleepMode::Off || !player_)
        return;
    SleepTimer::Playback playback;
    const std::int32_t state = State();
    playback.playing = state == PLAYER_PLAYING;
    player_->GetPosition(&playback.position);
    playback.end = sleep_.Mode() == SleepMode::EndOfChapter ? CurrentChapterEnd() : Duration();
    playback.rate = rateEnabled_ ? RateValue() : 1.0;
    const SleepTimer::Step step = sleep_.Tick(now_(), playback);
    sleepLeft_ = step.left;
    Fade(step.volume);
    if (!step.pause)
        return;
    Pause();
    Fade(1.0);
    RememberPosition();
    sleepLeft_.reset();
    sleepTimer_->stop();
    emit sleepChanged();
}

int TPlayerCore::FadedVolume() const {
    return fade_ >= 1.0 ? Volume : static_cast<int>(std::lround(Volume * std::max(fade_, 0.0)));
}

void TPlayerCore::Fade(double factor) {
    if (factor == fade_)
        return;
    const int before = FadedVolume();
    fade_ = factor;
    if (FadedVolume() != before)
        ApplyVolume();
}
