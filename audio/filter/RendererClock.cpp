#include "audio/filter/RendererClock.h"

#include <time.h>

std::int64_t RendererClock::SystemNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

RendererClock::RendererClock() : anchorSys_(SystemNs()), anchorTime_(anchorSys_) {}

void RendererClock::AdvanceLocked(std::int64_t sysNow) {
    std::int64_t dt = sysNow - anchorSys_;
    if (dt <= 0)
        return;
    double full = static_cast<double>(dt) * speed_;
    double advance = full;
    if (debtNs_ > 0) {
        double slowed = full * kSlew;
        if (slowed >= static_cast<double>(debtNs_)) {
            advance = full - static_cast<double>(debtNs_);
            debtNs_ = 0;
        } else {
            advance = full - slowed;
            debtNs_ -= static_cast<std::int64_t>(slowed);
        }
    }
    anchorTime_ += static_cast<std::int64_t>(advance);
    anchorSys_ = sysNow;
}

std::int64_t RendererClock::NowNs() {
    std::lock_guard<std::mutex> g(lock_);
    AdvanceLocked(SystemNs());
    return anchorTime_;
}

void RendererClock::Adjust(std::int64_t delta) {
    std::lock_guard<std::mutex> g(lock_);
    AdvanceLocked(SystemNs());
    if (delta >= 0) {
        anchorTime_ += delta * 100;
        debtNs_ = 0;
    } else {
        // Each correction measures the whole difference anew.
        debtNs_ = -delta * 100;
    }
}

void RendererClock::SetSpeed(double speed) {
    std::lock_guard<std::mutex> g(lock_);
    AdvanceLocked(SystemNs());
    if (speed > 0)
        speed_ = speed;
}

double RendererClock::Speed() {
    std::lock_guard<std::mutex> g(lock_);
    return speed_;
}
