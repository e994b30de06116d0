#include "platform/sound/PeriodicTimer.h"

namespace sound {

bool PeriodicTimer::Start(std::chrono::milliseconds period, std::function<void()> tick) {
    std::lock_guard<std::mutex> g(lock_);
    if (thread_.joinable() || !tick || period.count() <= 0)
        return false;
    quit_ = false;
    tick_ = std::move(tick);
    thread_ = std::thread(&PeriodicTimer::Run, this, period);
    return true;
}

void PeriodicTimer::Stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> g(lock_);
        quit_ = true;
        t = std::move(thread_);
    }
    wake_.notify_all();
    if (t.joinable())
        t.join();
}

bool PeriodicTimer::IsRunning() const {
    std::lock_guard<std::mutex> g(lock_);
    return thread_.joinable();
}

void PeriodicTimer::Run(std::chrono::milliseconds period) {
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lk(lock_);
    const std::function<void()> tick = tick_;
    while (!wake_.wait_until(lk, next, [this] { return quit_; })) {
        lk.unlock();
        tick();
        lk.lock();
        const auto now = std::chrono::steady_clock::now();
        next += period;
        if (next <= now)
            next = now + period - (now - next) % period;
    }
}

} // namespace sound
