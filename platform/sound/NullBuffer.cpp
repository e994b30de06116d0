#include "platform/sound/Backends.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sound {

void WallClockCursor::Start(std::uint64_t from) {
    std::lock_guard<std::mutex> g(lock_);
    base_ = from;
    startedAt_ = std::chrono::steady_clock::now();
    running_ = true;
}

std::uint64_t WallClockCursor::Stop() {
    const std::uint64_t at = Now();
    std::lock_guard<std::mutex> g(lock_);
    base_ = at;
    running_ = false;
    return at;
}

std::uint64_t WallClockCursor::Now() const {
    std::lock_guard<std::mutex> g(lock_);
    if (!running_)
        return base_;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - startedAt_)
                        .count();
    const auto frames =
        static_cast<std::uint64_t>(static_cast<__int128>(ns) * format_.samplesPerSec / 1000000000);
    return base_ + frames * static_cast<std::uint64_t>(format_.BlockAlign());
}

NullBuffer::NullBuffer(const PcmFormat& format, std::uint32_t size)
    : SoundBuffer(format, size), cursor_(format) {
    StartCursorThread(kCursorPeriodMs);
}

NullBuffer::~NullBuffer() {
    StopCursorThread();
}

namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

} // namespace

std::array<std::uint8_t, 44> WavHeader(const PcmFormat& f, std::uint64_t dataBytes) {
    const auto data = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, 0xFFFFFFD3u));
    std::array<std::uint8_t, 44> a{};
    std::uint8_t* h = a.data();
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, static_cast<std::uint32_t>(f.channels));
    put32(h + 24, static_cast<std::uint32_t>(f.samplesPerSec));
    put32(h + 28, static_cast<std::uint32_t>(f.BytesPerSec()));
    put16(h + 32, static_cast<std::uint32_t>(f.BlockAlign()));
    put16(h + 34, static_cast<std::uint32_t>(f.bitsPerSample));
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    return a;
}

std::unique_ptr<WavBuffer> WavBuffer::Create(const std::string& path, const PcmFormat& format,
                                             std::uint32_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return nullptr;
    return std::unique_ptr<WavBuffer>(new WavBuffer(f, format, size));
}

WavBuffer::WavBuffer(std::FILE* file, const PcmFormat& format, std::uint32_t size)
    : SoundBuffer(format, size), cursor_(format), file_(file) {
    WriteHeader();
    StartCursorThread(kCursorPeriodMs);
}

void WavBuffer::StopDevice() {
    WriteThrough(cursor_.Stop());
    std::lock_guard<std::mutex> g(fileLock_);
    WriteHeader();
}

WavBuffer::~WavBuffer() {
    StopCursorThread();
    WriteThrough(cursor_.Now());
    std::lock_guard<std::mutex> g(fileLock_);
    WriteHeader();
    std::fclose(file_);
}

// A canonical 44-byte header; the sizes are rewritten as the file grows.
void WavBuffer::WriteHeader() {
    const std::array<std::uint8_t, 44> h = WavHeader(Format(), fileBytes_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h.data(), 1, h.size(), file_);
    std::fseek(file_, 0, SEEK_END);
    std::fflush(file_);
}

void WavBuffer::WriteThrough(std::uint64_t played) {
    std::lock_guard<std::mutex> g(fileLock_);
    if (played <= fileBytes_)
        return;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(played - fileBytes_));
    ReadStream(fileBytes_, chunk.data(), chunk.size());
    std::fwrite(chunk.data(), 1, chunk.size(), file_);
    fileBytes_ = played;
}

} // namespace sound
