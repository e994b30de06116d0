// The player without its windows: the one owner of the engine session's
// IPlayer, of the player state (rate, volume, mute, repeat mode, resume),
// of the open-and-play path with the repeat modes at the end of a file, and
// of their settings. The main window, the play list window, the desktop bus,
// the hand-off and dropped files send it commands; it tells them of changes
// through its signals. Runs on the GUI thread; needs Qt Core only.
#pragma once

#include "engine/include/IPlayer.h"
#include "player/core/FileMemory.h"
#include "player/core/SleepTimer.h"
#include "player/loudness/Figure.h"
#include "player/mediainfo/Chapters.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QTimer;
class TFileList;
class TLevelling;
class TLoudnessCache;

// The level sent to the engine, in hundredths of a decibel.
std::int32_t VolumeLevel(int volume, bool mute);

class TPlayerCore : public QObject {
    Q_OBJECT
public:
    explicit TPlayerCore(TFileList& list);

    // The engine session gives the player before Start and takes it back
    // (null) when it ends.
    void SetPlayer(IPlayer* player) { player_ = player; }
    IPlayer* Player() const { return player_; }

    // Player state, read from the settings at construction.
    int RepeatMode = 1;
    std::string RateText = "1.0";
    int Volume = 100;
    int Mute = 0;
    int Resume = 0;

    void ReadSettings();
    // Writes the state's settings; a profile::Error tells of a failure.
    void WriteSettings() const;

    // Once the engine is ready: the stored rate (1.0 when it is not one of
    // the list's), the volume, the options, then the files given (they
    // become the list and the first plays) or, without files, the default
    // list and the resume point.
    void Start(const std::vector<std::string>& files);
    // The close path: keeps the resume point when Resume is on. May throw
    // profile::Error.
    void SaveResumePoint();

    // Transport.
    void Play();
    void Stop();
    void Pause();
    void TogglePlay();
    void Next();
    void Prev();
    // Prev and Next mean something: the list holds more than one entry.
    bool CanGoNext() const;
    // The list's entries changed: listChanged() tells the windows.
    void ListChanged() { emit listChanged(); }

    // Rate. The list is off for files it does not apply to (Windows Media
    // plays at 1.0).
    bool RateEnabled() const { return rateEnabled_; }
    int RateIndex() const;
    double RateValue() const;
    // The one place a rate reaches the engine: an index of the rate list,
    // taken only while the list applies.
    void SetRateIndex(int index);
    void RateUp();
    void RateDown();

    // Volume 0..100 (the mute flag stays as it is; the level sent ignores
    // it, as the volume bar always did) and the mute switch.
    void SetVolume(int volume);
    void ToggleMute();
    void ApplyVolume();

    // Seeks to position (100 ns); a stopped file is started paused first.
    void SeekTo(std::int64_t position);
    std::int64_t Duration() const;

    // Chapters.
    // The open file's chapters, read when the engine reports it opened;
    // empty while it has none or nothing is open. Times in 100 ns of the
    // file's own time.
    const std::vector<TChapter>& Chapters() const { return chapters_; }
    int ChapterCount() const { return static_cast<int>(chapters_.size()); }
    // The chapter the position is in; -1 without chapters or before the first.
    int CurrentChapter() const;
    // The chapter's title, or "Chapter n" when the file names none.
    std::string ChapterTitle(int index) const;
    // The current chapter's title and place, "Chapter two 2/3"; empty
    // without one.
    std::string CurrentChapterText() const;
    // The end of the current chapter, or the file's duration when it has no
    // chapters.
    std::int64_t CurrentChapterEnd() const;
    void NextChapter();
    // Within the first 3 s of a chapter to the one before, else to the start
    // of the current one.
    void PrevChapter();
    void GoToChapter(int index);

    void SetRepeatMode(int mode);

    // Opening. PrepareOpen stops what plays (remembering where it was
    // left) and sets the rate the file will play at: with recall, the one
    // it was last played at when the memory holds it. False when there is
    // nothing to open.
    bool PrepareOpen(const std::string& path, bool recall = true);
    // Opens and plays name; an entry that cannot be played is said, and the
    // list goes on as the repeat mode says (Single and Repeat: down the list
    // to its end; All: on, round the end; Random: another drawn entry) until
    // one plays or each was tried once.
    void OpenAndPlay(const std::string& name);
    // The entry after one that failed, as OpenAndPlay goes on ("" at the end).
    std::string NextAfterFailure();
    // The play list window's Play: its selected entry, without going on.
    void PlayEntry(const std::string& name);
    // The chosen files replace the list; the first plays.
    void OpenFileList(const std::vector<std::string>& names);
    // Dropped files: replace the list and play the first, or with append
    // add them and play the first added.
    void DropFiles(const std::vector<std::string>& names, bool append);
    // A second start's names: they replace the list and the first plays;
    // an empty list only clears it.
    void HandOff(const std::vector<std::string>& names);
    // A bookmark's files replace the list; the first plays.
    void PlayBookmark(int id);

    // The engine's reports.
    // A file was opened: returns its name.
    std::string Opened();
    void HandleEndOfStream();
    // The engine stopped a file in mid-play on an error: said, then the list
    // goes on as after a file that cannot be opened.
    void HandlePlaybackFailure();

    // Tells the user what could not be played and why ("cannot play", the
    // name, the reason): on standard error with the whole name, and to the
    // windows through failed() with the short name.
    void ShowFailure(const std::string& what, const std::string& path, const std::string& why);
    // Something the user asked for could not be played, and nothing could.
    bool NothingPlayed() const { return failures_ > 0 && !played_; }

    // Per-file memory, skips and the sleep timer.
    using Clock = std::chrono::steady_clock;
    // The clock of the sleep timer and of the rewind after a long pause.
    void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }
    // Where each file was left and at which rate: positions.txt beside the
    // settings, read by Start. Changes are written from the event loop, so
    // no write delays an open; a failed write is said through failed().
    FileMemory& Memory() { return memory_; }
    // Writes the memory when it changed; throws profile::Error.
    void SaveMemory();
    void SaveWhenFree();
    // Back and forward by the options' seconds of the file's own time;
    // forward past the end goes to the next entry, or to the end of a list
    // of one.
    void SkipBack();
    void SkipForward();
    // The sleep timer: the sound fades out over its last 10 seconds, then
    // the player pauses with the position remembered. Ticks by a timer of
    // its own while a mode is set.
    void SetSleepMode(SleepMode mode);
    SleepMode GetSleepMode() const { return sleep_.Mode(); }
    // Real time until the pause; nothing when off or not known.
    std::optional<SleepTimer::Duration> SleepLeft() const { return sleepLeft_; }
    void SleepTick();

    // Loudness levelling. Without it (tests of other things) the gain is
    // left alone. A file never measured starts once its first estimate is
    // in, or after kLevelHold at gain 0; the whole-file figure follows and
    // the engine glides to it.
    void SetLevelling(TLevelling* levelling, TLoudnessCache* cache);
    static constexpr std::chrono::milliseconds kLevelHold{700};
    void SetLevelHold(std::chrono::milliseconds hold) { levelHold_ = hold; }
    // GUI thread: the measurement has results waiting.
    void LoudnessArrived();
    // The gain the open file gets now, hundredths of a dB (0 when off or
    // not known yet).
    std::int32_t LevelGain() const;

signals:
    // RateText or whether the rate list applies changed.
    void rateChanged();
    // Volume or Mute changed.
    void volumeChanged();
    void repeatModeChanged();
    void listChanged();
    // A seek the windows did not make themselves moved the position.
    void positionChanged();
    // A failure in the user's words, the file's short name in it.
    void failed(const QString& text);
    // Nothing more will play unless the user asks (the end of a Single file,
    // a failure with nothing after it).
    void finished();
    // The sleep timer's mode changed (also when it ended in a pause).
    void sleepChanged();
    // Another file's chapters (or none) apply.
    void chaptersChanged();

private:
    std::string PlayingName() const;
    void WriteResumePoint();
    void ReplaceList(const std::vector<std::string>& names);
    void CloseOpenFile();
    void StartWithoutFiles();

    // Chapters.
    void ReadChaptersOfOpenFile();
    void ForgetChapters();
    // The chapter at position (-1 before the first).
    int ChapterAt(std::int64_t position) const;
    bool FileOpen() const;
    // The engine's state and position; 0 without an engine.
    std::int32_t State() const;
    std::int64_t Position() const;
    std::vector<TChapter> chapters_;

    TFileList& list_;
    IPlayer* player_ = nullptr;
    bool rateEnabled_ = true;
    int failures_ = 0;
    bool played_ = false;

    // Per-file memory, skips and the sleep timer.
    static std::string MemoryFileName();
    void LoadMemory();
    // Opens a prepared file and starts it where the memory says.
    HRESULT OpenPrepared(const std::string& path);
    // Stores where the open file is (playing or paused), and with leaving
    // forgets it as the open one.
    void RememberPosition();
    void RememberLeft();
    void RememberEnded();
    void ScheduleSave();
    void SayMemoryFailure(const std::string& why);
    // Playing again after a long pause starts a little earlier.
    void RewindAfterPause();
    void NotePause(std::int32_t stateBefore);
    void SkipBy(std::int64_t delta);
    // The volume as the sleep timer's fade lets it be heard.
    int FadedVolume() const;
    void Fade(double factor);

    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    FileMemory memory_{MemoryFileName()};
    // Read without a failure: only then may it replace the file.
    bool memoryLoaded_ = false;
    bool memoryDirty_ = false;
    bool savePosted_ = false;
    int saveTries_ = 0;
    // The open file the memory follows; empty when none.
    std::string current_;
    // Played to its end and remembered so; a later leaving changes nothing.
    bool ended_ = false;
    // What PrepareOpen recalled for the file about to open.
    std::optional<FileMemoryEntry> recalled_;
    std::optional<Clock::time_point> pausedAt_;
    SleepTimer sleep_;
    QTimer* sleepTimer_ = nullptr;
    double fade_ = 1.0;
    std::optional<SleepTimer::Duration> sleepLeft_;

    // Loudness levelling.
    // Before an open: the gain the file starts at, and its measurement asked for.
    void LevelFor(const std::string& path);
    // The options or the figure changed: the engine gets the gain (and glides).
    void Relevel();
    // Play for a file just opened, unless the start waits for its estimate.
    void PlayOpened();
    void ReleaseHold();
    TLevelling* levelling_ = nullptr;
    TLoudnessCache* loudnessCache_ = nullptr;
    std::string levelPath_;
    std::optional<TLoudnessFigure> levelFigure_;
    bool levelHeld_ = false;
    bool playHeld_ = false;
    int holdToken_ = 0;
    std::chrono::milliseconds levelHold_ = kLevelHold;
    std::set<std::string> levelFailuresSaid_;
};
