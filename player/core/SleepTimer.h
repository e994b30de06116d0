// The sleep timer: after a number of minutes of playing, or at the end of the
// current chapter or file, the sound fades out over the last 10 seconds and
// the player pauses. The core feeds it the time and the playback state; it
// reads no clock of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

enum class SleepMode { Off, Minutes15, Minutes30, Minutes45, Minutes60, EndOfChapter, EndOfFile };

class SleepTimer {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::nanoseconds;

    static constexpr Duration kFade = std::chrono::seconds(10);

    struct Playback {
        bool playing = false;
        // File time in 100 ns units: the position, and the end of the current
        // chapter (EndOfChapter; a file without chapters is one chapter) or
        // of the file (EndOfFile); end <= 0: not known, the timer waits.
        std::int64_t position = 0;
        std::int64_t end = 0;
        double rate = 1.0;
    };

    struct Step {
        // What to multiply the user's volume with: 1 until the last 10 s
        // before the end, then down to 0.
        double volume = 1.0;
        // Pause now; given once, with volume 0, after which the timer is Off
        // and gives 1 again: the core pauses before it restores the volume.
        bool pause = false;
        // Real time until the pause; nothing when Off or not known.
        std::optional<Duration> left;
    };

    // Starts mode at now, taking the player as playing; the minutes count
    // only while playing, so a pause does not use up the listening time.
    void Set(SleepMode mode, Clock::time_point now);
    SleepMode Mode() const { return mode_; }

    // Called on every tick of the core, with the time and what plays.
    Step Tick(Clock::time_point now, const Playback& playback);

    // "Off", "15 minutes", ..., "End of chapter", "End of file".
    static const char* ModeText(SleepMode mode);
    // The info line's text of the time left: "sleep 12:34" (whole seconds,
    // rounded up, so it reads 0:00 only at the end).
    static std::string LeftText(Duration left);

private:
    // Real time left from the position to the end at rate; nothing when the
    // end is not known.
    static std::optional<Duration> UntilEnd(const Playback& playback);

    SleepMode mode_ = SleepMode::Off;
    // Minute modes: what is left of the playing time.
    Duration left_{};
    // The previous tick when it found the player playing, and what was left
    // then: the end may pass between two ticks (and the core move on to the
    // next chapter or file) unseen.
    std::optional<Clock::time_point> lastTick_;
    std::optional<Duration> lastLeft_;
};
