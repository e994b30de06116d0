#include "platform/sound/CaptureBuffer.h"

#include "platform/sound/Backends.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace sound {

std::unique_ptr<CaptureBuffer> CaptureBuffer::Create(const std::string& path,
                                                     const PcmFormat& format, std::uint32_t size) {
    if (path.empty())
        return nullptr;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        Warn("cannot create the capture file " + path + ": " + std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<CaptureBuffer>(new CaptureBuffer(f, path, format, size));
}

// The writer stays at most ring - 2 blocks ahead of the cursor and starves
// once the cursor enters its last block; half the ring lies strictly between
// for every ring of four blocks or more (the output uses ten).
CaptureBuffer::CaptureBuffer(std::FILE* file, std::string path, const PcmFormat& format,
                             std::uint32_t size)
    : SoundBuffer(format, size), path_(std::move(path)),
      lag_(size / 2 / static_cast<std::uint32_t>(format.BlockAlign()) *
           static_cast<std::uint32_t>(format.BlockAlign())),
      file_(file) {
    WriteHeader();
}

CaptureBuffer::~CaptureBuffer() {
    std::lock_guard<std::mutex> g(captureLock_);
    WriteHeader();
    if (std::fclose(file_) != 0)
        failed_ = true;
    if (failed_)
        std::remove(path_.c_str());
}

std::uint64_t CaptureBuffer::PlayedBytes() {
    std::lock_guard<std::mutex> g(captureLock_);
    return cursor_;
}

void CaptureBuffer::StartDevice() {
    std::lock_guard<std::mutex> g(captureLock_);
    playing_ = true;
    Advance();
    // The first start passes position 0 even when nothing moved.
    CursorReached(cursor_);
}

void CaptureBuffer::StopDevice() {
    std::lock_guard<std::mutex> g(captureLock_);
    playing_ = false;
}

void CaptureBuffer::OnWritten(std::uint32_t offset, std::uint32_t bytes) {
    std::lock_guard<std::mutex> g(captureLock_);
    // The region starts at the first stream byte at or after the cursor that
    // falls on `offset`: the writer never laps the cursor.
    const std::uint64_t ring = Size();
    const std::uint64_t at = cursor_ + (offset + ring - cursor_ % ring) % ring;
    written_ = std::max(written_, at + bytes);
    Advance();
}

void CaptureBuffer::MarkEnd(std::uint32_t offset) {
    std::lock_guard<std::mutex> g(captureLock_);
    // The latest stream byte at or before the writer's position on `offset`.
    const std::uint64_t ring = Size();
    const std::uint64_t back = (written_ % ring + ring - offset % ring) % ring;
    end_ = std::max(cursor_, written_ - std::min(back, written_));
    Advance();
}

void CaptureBuffer::Advance() {
    if (!playing_)
        return;
    std::uint64_t target = written_ > lag_ ? written_ - lag_ : 0;
    if (end_)
        target = *end_;
    if (target <= cursor_)
        return;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(target - cursor_));
    ReadStream(cursor_, chunk.data(), chunk.size());
    // Flushed at once, so that a write that fails is known while the
    // stream runs, not when the file is closed.
    if (!failed_ && (std::fwrite(chunk.data(), 1, chunk.size(), file_) != chunk.size() ||
                     std::fflush(file_) != 0)) {
        failed_ = true;
        // A full disk says so: "No space left on device".
        Warn("cannot write the capture file " + path_ + ": " + std::strerror(errno));
    }
    cursor_ = target;
    CursorReached(cursor_);
}

// A canonical 44-byte header; the sizes are rewritten when the file is done.
void CaptureBuffer::WriteHeader() {
    const std::array<std::uint8_t, 44> h = WavHeader(Format(), cursor_);
    if (std::fseek(file_, 0, SEEK_SET) != 0 ||
        std::fwrite(h.data(), 1, h.size(), file_) != h.size() ||
        std::fseek(file_, 0, SEEK_END) != 0)
        failed_ = true;
}

} // namespace sound
