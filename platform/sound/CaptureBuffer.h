// A device that does not wait for real time, for exporting: its cursor
// follows the writer half a ring behind, so the writer neither waits for the
// cursor nor ever finds it in the last block written (no starvation), and it
// goes to the writer's end mark once the writer sets one. Every byte the
// cursor passes goes to a WAV file at once, as the wav device would write it
// in real time. ZARN_AUDIO_DEVICE=capture:PATH chooses it.
#pragma once

#include "platform/sound/SoundBuffer.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace sound {

class CaptureBuffer : public SoundBuffer {
public:
    // Null when the file cannot be created.
    static std::unique_ptr<CaptureBuffer> Create(const std::string& path, const PcmFormat& format,
                                                 std::uint32_t size);
    // Finishes the file; a file that could not be written in full is removed,
    // so a reader never takes a short capture for a whole one.
    ~CaptureBuffer() override;
    const char* BackendName() const override { return "capture"; }

    void MarkEnd(std::uint32_t offset) override;

protected:
    std::uint64_t PlayedBytes() override;
    void StartDevice() override;
    void StopDevice() override;
    void OnWritten(std::uint32_t offset, std::uint32_t bytes) override;

private:
    CaptureBuffer(std::FILE* file, std::string path, const PcmFormat& format, std::uint32_t size);
    // Moves the cursor to where it may stand now, writing what it passes.
    void Advance();
    void WriteHeader();

    const std::string path_;
    const std::uint64_t lag_; // half the ring, whole frames

    // Taken inside the output's ring lock and before the buffer's own lock.
    std::mutex captureLock_;
    std::FILE* file_;
    bool failed_ = false;
    bool playing_ = false;
    std::uint64_t written_ = 0; // stream bytes the writer has filled in
    std::uint64_t cursor_ = 0;  // stream bytes heard, all of them in the file
    std::optional<std::uint64_t> end_;
};

} // namespace sound
