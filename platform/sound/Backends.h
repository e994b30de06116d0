// The devices behind CreateSoundBuffer; private to the sound layer.
#pragma once

#include "platform/sound/SoundBuffer.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace sound {

// The canonical 44-byte header of a PCM WAV file holding dataBytes of sound
// (sizes capped where the 32-bit fields end).
std::array<std::uint8_t, 44> WavHeader(const PcmFormat& format, std::uint64_t dataBytes);

// A cursor that advances in real time on the steady clock while playing.
class WallClockCursor {
public:
    explicit WallClockCursor(const PcmFormat& format) : format_(format) {}
    void Start(std::uint64_t from);
    // Stops and returns where the cursor stopped.
    std::uint64_t Stop();
    std::uint64_t Now() const;

private:
    const PcmFormat format_;
    mutable std::mutex lock_;
    bool running_ = false;
    std::uint64_t base_ = 0;
    std::chrono::steady_clock::time_point startedAt_;
};

// For machines without sound: nothing is heard, the cursor keeps time.
class NullBuffer : public SoundBuffer {
public:
    NullBuffer(const PcmFormat& format, std::uint32_t size);
    ~NullBuffer() override;
    const char* BackendName() const override { return "null"; }

protected:
    std::uint64_t PlayedBytes() override { return cursor_.Now(); }
    void StartDevice() override { cursor_.Start(cursor_.Now()); }
    void StopDevice() override { cursor_.Stop(); }

private:
    WallClockCursor cursor_;
};

// As null, and every byte the cursor passes goes to a WAV file.
class WavBuffer : public SoundBuffer {
public:
    // Null when the file cannot be created.
    static std::unique_ptr<WavBuffer> Create(const std::string& path, const PcmFormat& format,
                                             std::uint32_t size);
    ~WavBuffer() override;
    const char* BackendName() const override { return "wav"; }

protected:
    std::uint64_t PlayedBytes() override { return cursor_.Now(); }
    void StartDevice() override { cursor_.Start(cursor_.Now()); }
    void StopDevice() override;
    void OnCursorTick(std::uint64_t played) override { WriteThrough(played); }

private:
    WavBuffer(std::FILE* file, const PcmFormat& format, std::uint32_t size);
    void WriteThrough(std::uint64_t played);
    void WriteHeader();

    WallClockCursor cursor_;
    std::mutex fileLock_; // the file and the count of bytes in it
    std::FILE* file_;
    std::uint64_t fileBytes_ = 0;
};

// PulseAudio (and PipeWire's PulseAudio server): null when no server answers.
std::unique_ptr<SoundBuffer> CreatePulseBuffer(const PcmFormat& format, std::uint32_t size);

// How often the moving-cursor backends report the cursor.
inline constexpr unsigned kCursorPeriodMs = 4;

} // namespace sound
