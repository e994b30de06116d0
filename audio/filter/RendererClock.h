// The time the renderer's clock tells: system time at a set speed (the play
// rate), pulled onto the time stamps of the sound being heard. It never runs
// backwards: a clock found ahead of the sound is slowed until the sound has
// caught up, a clock found behind it steps forward.
#pragma once

#include <cstdint>
#include <mutex>

class RendererClock {
public:
    RendererClock();

    // Nanoseconds, never decreasing.
    std::int64_t NowNs();
    // The same in 100 ns units, the renderer's reference time.
    std::int64_t PrivateTime() { return NowNs() / 100; }
    // Moves the clock by delta (100 ns units) toward the sound.
    void Adjust(std::int64_t delta);
    // How fast the clock runs against system time (the play rate).
    void SetSpeed(double speed);
    double Speed();

    // Share of the speed given up while a clock ahead of the sound waits for it.
    static constexpr double kSlew = 0.5;

private:
    static std::int64_t SystemNs();
    void AdvanceLocked(std::int64_t sysNow);

    std::mutex lock_;
    std::int64_t anchorSys_;
    std::int64_t anchorTime_;
    double speed_ = 1.0;
    std::int64_t debtNs_ = 0; // how far the clock is ahead of the sound
};
