// Kernel-style synchronisation for the renderer's threads: events (manual or
// automatic reset), waits on one or several of them with an optional time-out,
// recursive critical sections, interlocked counters and Sleep.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>

using DWORD = std::uint32_t;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// An event stays signalled until Reset (manual reset) or until one wait takes
// it (automatic reset). All events share one leaf lock: no code calls out
// while holding it, so it can never take part in a lock-order cycle.
class Event {
public:
    explicit Event(bool manualReset = true, bool initialState = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits for this event alone; true when it was signalled within the time.
    bool Wait(DWORD timeoutMs = INFINITE);

private:
    friend DWORD WaitForAny(std::span<Event* const>, DWORD);
    const bool manual_;
    bool signalled_;
};

// Waits until any of the events is signalled. Returns WAIT_OBJECT_0 + index of
// the first signalled event in the order given, WAIT_TIMEOUT when the time ran
// out (0 tests without waiting), WAIT_FAILED for an empty or null entry.
DWORD WaitForAny(std::span<Event* const> events, DWORD timeoutMs = INFINITE);
inline DWORD WaitForAny(std::initializer_list<Event*> events, DWORD timeoutMs = INFINITE) {
    return WaitForAny(std::span<Event* const>(events.begin(), events.size()), timeoutMs);
}

// A recursive lock with the Enter/Leave names of the callers; also usable
// with std::lock_guard and std::unique_lock.
class CriticalSection {
public:
    void Enter() { m_.lock(); }
    void Leave() { m_.unlock(); }
    bool TryEnter() { return m_.try_lock(); }
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }
    bool try_lock() { return m_.try_lock(); }

private:
    std::recursive_mutex m_;
};

// Holds a critical section for a scope.
class AutoLock {
public:
    explicit AutoLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~AutoLock() { cs_.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CriticalSection& cs_;
};

// Interlocked operations return the new value (Exchange: the old one).
inline std::int32_t InterlockedIncrement(std::atomic<std::int32_t>& v) {
    return ++v;
}
inline std::int32_t InterlockedDecrement(std::atomic<std::int32_t>& v) {
    return --v;
}
inline std::int32_t InterlockedExchange(std::atomic<std::int32_t>& v, std::int32_t n) {
    return v.exchange(n);
}
template <typename T> T* InterlockedExchangePointer(std::atomic<T*>& v, T* p) {
    return v.exchange(p);
}

void Sleep(DWORD ms);
