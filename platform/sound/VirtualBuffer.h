// A sound buffer whose cursor moves only when its owner moves it: the
// deterministic device the output's tests drive. Like a real device, the
// cursor stands still while the buffer is stopped.
#pragma once

#include "platform/sound/SoundBuffer.h"

#include <atomic>

namespace sound {

class VirtualBuffer : public SoundBuffer {
public:
    VirtualBuffer(const PcmFormat& format, std::uint32_t size) : SoundBuffer(format, size) {}
    const char* BackendName() const override { return "virtual"; }

    // Moves the cursor on by `bytes` and signals what it passed; false (and
    // no move) while stopped. Moving by 0 reports the current position.
    bool MoveCursor(std::uint32_t bytes);
    std::uint64_t Played() const { return played_.load(); }
    int PlayCount() const { return playCount_.load(); }
    // The bytes of the ring as they stand (volume not applied).
    std::vector<std::uint8_t> Snapshot(std::uint32_t offset, std::uint32_t bytes);

protected:
    std::uint64_t PlayedBytes() override { return played_.load(); }
    void StartDevice() override { ++playCount_; }
    void StopDevice() override {}

private:
    std::atomic<std::uint64_t> played_{0};
    std::atomic<int> playCount_{0};
};

} // namespace sound
