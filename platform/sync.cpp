#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <thread>

namespace {

// One lock and one condition for all events; waiters re-check their own set.
std::mutex& eventLock() {
    static std::mutex m;
    return m;
}
std::condition_variable& eventCond() {
    static std::condition_variable c;
    return c;
}

} // namespace

Event::Event(bool manualReset, bool initialState)
    : manual_(manualReset), signalled_(initialState) {}

void Event::Set() {
    {
        std::lock_guard<std::mutex> g(eventLock());
        signalled_ = true;
    }
    eventCond().notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> g(eventLock());
    signalled_ = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> g(eventLock());
    return signalled_;
}

bool Event::Wait(DWORD timeoutMs) {
    Event* self = this;
    return WaitForAny(std::span<Event* const>(&self, 1), timeoutMs) == WAIT_OBJECT_0;
}

DWORD WaitForAny(std::span<Event* const> events, DWORD timeoutMs) {
    if (events.empty())
        return WAIT_FAILED;
    for (Event* e : events)
        if (!e)
            return WAIT_FAILED;

    std::unique_lock<std::mutex> lk(eventLock());
    auto ready = [&]() -> DWORD {
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i]->signalled_) {
                if (!events[i]->manual_)
                    events[i]->signalled_ = false;
                return WAIT_OBJECT_0 + static_cast<DWORD>(i);
            }
        }
        return WAIT_TIMEOUT;
    };

    DWORD r = ready();
    if (r != WAIT_TIMEOUT || timeoutMs == 0)
        return r;
    if (timeoutMs == INFINITE) {
        while ((r = ready()) == WAIT_TIMEOUT)
            eventCond().wait(lk);
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((r = ready()) == WAIT_TIMEOUT) {
        if (eventCond().wait_until(lk, deadline) == std::cv_status::timeout)
            return ready();
    }
    return r;
}

void Sleep(DWORD ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
