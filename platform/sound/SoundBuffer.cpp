#include "platform/sound/SoundBuffer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sound {

bool PcmFormat::IsValid() const {
    return (channels == 1 || channels == 2) && (bitsPerSample == 8 || bitsPerSample == 16) &&
           samplesPerSec > 0 && samplesPerSec <= 384000;
}

double VolumeGain(std::int32_t hundredthsDb) {
    if (hundredthsDb <= kVolumeMin)
        return 0.0;
    if (hundredthsDb >= kVolumeMax)
        return 1.0;
    return std::pow(10.0, hundredthsDb / 2000.0);
}

SoundBuffer::SoundBuffer(const PcmFormat& format, std::uint32_t size)
    : format_(format), size_(size), ring_(size, format.ZeroLevel()) {}

SoundBuffer::~SoundBuffer() {
    StopCursorThread();
}

void SoundBuffer::Play() {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (playing_)
            return;
        playing_ = true;
    }
    StartDevice();
    // Passing through the thread's lock means a cursor thread about to wait
    // either sees the new state or gets this wake-up.
    { std::lock_guard<std::mutex> g(threadLock_); }
    threadWake_.notify_all();
}

void SoundBuffer::Stop() {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!playing_)
            return;
        playing_ = false;
    }
    StopDevice();
}

bool SoundBuffer::IsPlaying() const {
    std::lock_guard<std::mutex> g(lock_);
    return playing_;
}

std::uint32_t SoundBuffer::GetCurrentPosition() {
    return static_cast<std::uint32_t>(PlayedBytes() % size_);
}

bool SoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, LockedRegion& region) {
    region = {};
    if (offset >= size_ || bytes > size_ || bytes == 0)
        return false;
    // Taking the lock orders this writer after every earlier reader of the
    // same bytes.
    std::lock_guard<std::mutex> g(lock_);
    region.first = ring_.data() + offset;
    region.firstBytes = std::min(bytes, size_ - offset);
    if (region.firstBytes < bytes) {
        region.second = ring_.data();
        region.secondBytes = bytes - region.firstBytes;
    }
    return true;
}

void SoundBuffer::Unlock(const LockedRegion& region) {
    {
        // Publishes what was written to the readers, which take the same lock.
        std::lock_guard<std::mutex> g(lock_);
    }
    if (region.first)
        OnWritten(static_cast<std::uint32_t>(region.first - ring_.data()),
                  region.firstBytes + region.secondBytes);
}

bool SoundBuffer::SetNotificationPositions(std::span<const Notification> positions) {
    for (const Notification& n : positions)
        if (n.offset >= size_ || !n.event)
            return false;
    std::lock_guard<std::mutex> g(lock_);
    notifications_.assign(positions.begin(), positions.end());
    return true;
}

void SoundBuffer::SetVolume(std::int32_t hundredthsDb) {
    std::lock_guard<std::mutex> g(lock_);
    volume_ = hundredthsDb;
    gain_ = VolumeGain(hundredthsDb);
}

std::int32_t SoundBuffer::GetVolume() const {
    std::lock_guard<std::mutex> g(lock_);
    return volume_;
}

void SoundBuffer::CursorReached(std::uint64_t played) {
    std::lock_guard<std::mutex> g(lock_);
    const auto hi = static_cast<std::int64_t>(played);
    if (hi <= reportedThrough_)
        return;
    const std::int64_t lo = reportedThrough_ + 1;
    const auto ring = static_cast<std::int64_t>(size_);
    for (const Notification& n : notifications_) {
        const auto off = static_cast<std::int64_t>(n.offset);
        // The first pass of this offset at or after lo.
        std::int64_t pos = off;
        if (lo > off)
            pos = off + (lo - off + ring - 1) / ring * ring;
        if (pos <= hi)
            n.event->Set();
    }
    reportedThrough_ = hi;
}

void SoundBuffer::ReadStream(std::uint64_t from, std::uint8_t* out, std::size_t n, bool applyGain) {
    std::lock_guard<std::mutex> g(lock_);
    std::size_t pos = static_cast<std::size_t>(from % size_);
    std::uint8_t* p = out;
    std::size_t left = n;
    while (left > 0) {
        const std::size_t chunk = std::min<std::size_t>(left, size_ - pos);
        std::memcpy(p, ring_.data() + pos, chunk);
        p += chunk;
        left -= chunk;
        pos = 0;
    }
    if (!applyGain || gain_ == 1.0)
        return;
    if (format_.bitsPerSample == 8) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(
                std::lround((static_cast<int>(out[i]) - 128) * gain_) + 128);
    } else {
        // The region may start on an odd byte only if the caller asked for it;
        // stream positions handed out by the backends are whole frames.
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            auto s = static_cast<std::int16_t>(out[i] | (out[i + 1] << 8));
            auto v = static_cast<std::int16_t>(std::lround(s * gain_));
            out[i] = static_cast<std::uint8_t>(v & 0xFF);
            out[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
    }
}

void SoundBuffer::StartCursorThread(unsigned periodMs) {
    std::lock_guard<std::mutex> g(threadLock_);
    if (cursorThread_.joinable())
        return;
    threadQuit_ = false;
    cursorThread_ = std::thread(&SoundBuffer::CursorThread, this, periodMs);
}

void SoundBuffer::StopCursorThread() {
    {
        std::lock_guard<std::mutex> g(threadLock_);
        threadQuit_ = true;
    }
    threadWake_.notify_all();
    if (cursorThread_.joinable())
        cursorThread_.join();
}

void SoundBuffer::CursorThread(unsigned periodMs) {
    const auto period = std::chrono::milliseconds(periodMs);
    std::unique_lock<std::mutex> lk(threadLock_);
    while (!threadQuit_) {
        if (!IsPlaying()) {
            // Play notifies; the time-out only bounds a missed wake-up.
            threadWake_.wait_for(lk, std::chrono::milliseconds(50));
            if (!IsPlaying())
                continue;
        }
        lk.unlock();
        const std::uint64_t played = PlayedBytes();
        CursorReached(played);
        OnCursorTick(played);
        lk.lock();
        threadWake_.wait_for(lk, period, [this] { return threadQuit_; });
    }
}

namespace {

std::mutex& sinkLock() {
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& sinkFn() {
    static std::function<void(const std::string&)> f;
    return f;
}

} // namespace

void SetWarningSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> g(sinkLock());
    sinkFn() = std::move(sink);
}

void Warn(const std::string& text) {
    std::fprintf(stderr, "zarnplayer: %s\n", text.c_str());
    std::function<void(const std::string&)> f;
    {
        std::lock_guard<std::mutex> g(sinkLock());
        f = sinkFn();
    }
    if (f)
        f(text);
}

} // namespace sound
