// A thread that calls a function at a fixed period: the output's clock timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace sound {

class PeriodicTimer {
public:
    PeriodicTimer() = default;
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;
    ~PeriodicTimer() { Stop(); }

    // False when already running. Ticks keep to the period's grid; ticks
    // missed by a late wake-up are skipped, not bunched.
    bool Start(std::chrono::milliseconds period, std::function<void()> tick);
    // Waits for a running tick to finish; never call it from the tick.
    void Stop();
    bool IsRunning() const;

private:
    void Run(std::chrono::milliseconds period);

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::function<void()> tick_;
    std::thread thread_;
};

} // namespace sound
