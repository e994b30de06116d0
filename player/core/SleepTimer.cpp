#include "player/core/SleepTimer.h"

#include <algorithm>
#include <cstdio>

namespace {

std::chrono::minutes Minutes(SleepMode mode) {
    switch (mode) {
    case SleepMode::Minutes15:
        return std::chrono::minutes(15);
    case SleepMode::Minutes30:
        return std::chrono::minutes(30);
    case SleepMode::Minutes45:
        return std::chrono::minutes(45);
    case SleepMode::Minutes60:
        return std::chrono::minutes(60);
    default:
        return std::chrono::minutes(0);
    }
}

// 1 at 10 s and more before the end, 0 at the end, smooth at both ends.
double FadeFactor(SleepTimer::Duration left) {
    const double x = std::clamp(std::chrono::duration<double>(left) /
                                    std::chrono::duration<double>(SleepTimer::kFade),
                                0.0, 1.0);
    return x * x * (3 - 2 * x);
}

} // namespace

void SleepTimer::Set(SleepMode mode, Clock::time_point now) {
    mode_ = mode;
    left_ = Minutes(mode);
    lastTick_ = now;
    lastLeft_.reset();
}

std::optional<SleepTimer::Duration> SleepTimer::UntilEnd(const Playback& playback) {
    if (playback.end <= 0)
        return std::nullopt;
    const double rate = playback.rate > 0 ? playback.rate : 1.0;
    const double fileTime =
        static_cast<double>(std::max<std::int64_t>(playback.end - playback.position, 0));
    // 100 ns units of file time to nanoseconds of real time; a chapter end
    // read from a damaged file can lie far beyond what nanoseconds hold.
    const double limit = static_cast<double>(Duration::max().count() / 2);
    return Duration(static_cast<Duration::rep>(std::min(fileTime * 100.0 / rate, limit)));
}

SleepTimer::Step SleepTimer::Tick(Clock::time_point now, const Playback& playback) {
    Step step;
    if (mode_ == SleepMode::Off)
        return step;
    // The time since the last tick counts when the player was playing at it.
    const std::optional<Duration> elapsed =
        lastTick_ ? std::optional<Duration>(now - *lastTick_) : std::nullopt;
    bool passed = false;
    std::optional<Duration> left;
    if (mode_ == SleepMode::EndOfChapter || mode_ == SleepMode::EndOfFile) {
        left = UntilEnd(playback);
        // The end came between this tick and the one before.
        passed = elapsed && lastLeft_ && *lastLeft_ <= *elapsed;
    } else {
        if (elapsed)
            left_ -= std::max(*elapsed, Duration::zero());
        left = std::max(left_, Duration::zero());
    }
    if (playback.playing) {
        lastTick_ = now;
        lastLeft_ = left;
    } else {
        lastTick_.reset();
        lastLeft_.reset();
    }
    if (!left)
        return step;
    if (passed || (playback.playing && *left <= Duration::zero())) {
        Set(SleepMode::Off, now);
        step.volume = 0;
        step.pause = true;
        step.left = Duration::zero();
        return step;
    }
    step.volume = FadeFactor(*left);
    step.left = left;
    return step;
}

const char* SleepTimer::ModeText(SleepMode mode) {
    switch (mode) {
    case SleepMode::Off:
        return "Off";
    case SleepMode::Minutes15:
        return "15 minutes";
    case SleepMode::Minutes30:
        return "30 minutes";
    case SleepMode::Minutes45:
        return "45 minutes";
    case SleepMode::Minutes60:
        return "60 minutes";
    case SleepMode::EndOfChapter:
        return "End of chapter";
    case SleepMode::EndOfFile:
        return "End of file";
    }
    return "";
}

std::string SleepTimer::LeftText(Duration left) {
    const auto seconds =
        std::chrono::ceil<std::chrono::seconds>(std::max(left, Duration::zero())).count();
    char text[48];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "sleep %lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "sleep %lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}
