// The looping sound buffer the renderer's output plays through: a ring of PCM
// bytes that the device reads round and round, a play cursor (the byte heard
// now), Lock/Unlock of a region for writing, an event per notification offset
// that is signalled when the cursor passes it, and a volume in hundredths of a
// decibel. Backends differ only in what moves the cursor.
#pragma once

#include "platform/sync.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace sound {

struct PcmFormat {
    int channels = 2;
    int samplesPerSec = 44100;
    int bitsPerSample = 16; // 8 (unsigned) or 16 (signed little-endian)

    int BlockAlign() const { return channels * (bitsPerSample / 8); }
    int BytesPerSec() const { return samplesPerSec * BlockAlign(); }
    std::uint8_t ZeroLevel() const { return bitsPerSample == 8 ? 128 : 0; }
    bool IsValid() const;
};

struct Notification {
    std::uint32_t offset; // byte offset in the ring
    Event* event;
};

// The region Lock hands out: part two is empty unless the region wraps.
struct LockedRegion {
    std::uint8_t* first = nullptr;
    std::uint32_t firstBytes = 0;
    std::uint8_t* second = nullptr;
    std::uint32_t secondBytes = 0;
};

inline constexpr std::int32_t kVolumeMax = 0;
inline constexpr std::int32_t kVolumeMin = -10000;

// Gain of a volume in hundredths of a decibel: 10^(v/2000); -10000 and below
// is silence.
double VolumeGain(std::int32_t hundredthsDb);

// All operations may be called from any thread. Lock order: the buffer's own
// lock is taken inside callers' locks and only event signalling (a leaf) is
// done while it is held.
class SoundBuffer {
public:
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;
    virtual ~SoundBuffer();

    const PcmFormat& Format() const { return format_; }
    std::uint32_t Size() const { return size_; }
    virtual const char* BackendName() const = 0;

    // Play loops from the current position; Stop keeps it.
    void Play();
    void Stop();
    bool IsPlaying() const;

    // The ring byte being heard now (device latency included).
    std::uint32_t GetCurrentPosition();

    // A region of the ring for writing; false when it does not fit the ring.
    bool Lock(std::uint32_t offset, std::uint32_t bytes, LockedRegion& region);
    void Unlock(const LockedRegion& region);

    // Replaces the notification list. An offset counts as passed when the
    // cursor reaches it, including position 0 at the very first start.
    bool SetNotificationPositions(std::span<const Notification> positions);

    // The writer's end of the stream: the sound ends at ring byte `offset`.
    // Devices whose cursor follows the writer play up to there and stop;
    // the others ignore it.
    virtual void MarkEnd(std::uint32_t /*offset*/) {}

    // Hundredths of a decibel, 0 full level, -10000 silent.
    void SetVolume(std::int32_t hundredthsDb);
    std::int32_t GetVolume() const;

protected:
    SoundBuffer(const PcmFormat& format, std::uint32_t size);

    // Bytes heard since creation, a whole number of frames, never decreasing.
    virtual std::uint64_t PlayedBytes() = 0;
    virtual void StartDevice() = 0;
    virtual void StopDevice() = 0;

    // Signals the notifications the cursor passed on its way to `played`.
    void CursorReached(std::uint64_t played);
    // Copies n bytes of the endless stream the ring represents, starting at
    // stream byte `from`, normally with the volume applied.
    void ReadStream(std::uint64_t from, std::uint8_t* out, std::size_t n, bool applyGain = true);

    // A thread that reports the cursor every `periodMs` while the device
    // plays; backends with a moving cursor start it in their constructor
    // and stop it first thing in their destructor.
    void StartCursorThread(unsigned periodMs);
    void StopCursorThread();
    // Called on the cursor thread after each report.
    virtual void OnCursorTick(std::uint64_t /*played*/) {}
    // Called by Unlock, outside the buffer's lock, for the region written.
    virtual void OnWritten(std::uint32_t /*offset*/, std::uint32_t /*bytes*/) {}

private:
    void CursorThread(unsigned periodMs);

    const PcmFormat format_;
    const std::uint32_t size_;

    mutable std::mutex lock_; // ring bytes, notifications, volume, cursor bookkeeping
    std::vector<std::uint8_t> ring_;
    std::vector<Notification> notifications_;
    std::int64_t reportedThrough_ = -1; // the last stream byte notifications were checked for
    std::int32_t volume_ = 0;
    double gain_ = 1.0;
    bool playing_ = false;

    std::mutex threadLock_; // cursor thread start/stop and its wake-up
    std::condition_variable threadWake_;
    bool threadQuit_ = false;
    std::thread cursorThread_;
};

// Creates the buffer on the device ZARN_AUDIO_DEVICE names: "pulse" (the
// default), "null", "wav:PATH" or "capture:PATH" (as wav, without waiting for
// real time). A sound server that does not answer falls back to "null" with
// one warning.
std::unique_ptr<SoundBuffer> CreateSoundBuffer(const PcmFormat& format, std::uint32_t size);

// Creates on the named device without falling back; null on failure.
std::unique_ptr<SoundBuffer> CreateNamedSoundBuffer(const std::string& device,
                                                    const PcmFormat& format, std::uint32_t size);

// Where the sound layer's warnings go besides stderr (the player's log sink).
void SetWarningSink(std::function<void(const std::string&)> sink);
// Writes a warning to stderr and the sink.
void Warn(const std::string& text);

} // namespace sound
