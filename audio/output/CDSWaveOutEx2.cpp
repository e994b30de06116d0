#include "audio/output/CDSWaveOutEx2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The time of byte b of n bytes spanning start to stop.
std::int64_t timeOfByte(std::int64_t start, std::int64_t stop, std::size_t b, std::size_t n) {
    const auto nb = static_cast<__int128>(n);
    const auto bb = static_cast<__int128>(b);
    return static_cast<std::int64_t>((start * (nb - bb) + stop * bb) / nb);
}

// 1/128 in, 127 out; 1/32768 in, 32767 out: truncated toward zero.
std::uint8_t to8(float x) {
    if (!(x >= -1.0f))
        x = std::isnan(x) ? 0.0f : -1.0f;
    if (x > 1.0f)
        x = 1.0f;
    return static_cast<std::uint8_t>(static_cast<int>(x * 127.0f + 128.0f) & 0xFF);
}
std::int16_t to16(float x) {
    if (!(x >= -1.0f))
        x = std::isnan(x) ? 0.0f : -1.0f;
    if (x > 1.0f)
        x = 1.0f;
    return static_cast<std::int16_t>(x * 32767.0f);
}

} // namespace

CDSWaveOutEx2::~CDSWaveOutEx2() {
    CDSWaveOutEx2::Close();
}

bool CDSWaveOutEx2::Open(const WAVEFORMATEX& format, int blockCount, int blockBytes) {
    if (IsOpen())
        return false;
    {
        std::lock_guard<std::mutex> g(stampLock_);
        stamps_.assign(static_cast<std::size_t>(std::max(blockCount, 0)), 0);
        stampPeriod_ = blockBytes;
    }
    blockStamp_.reset();
    lastEndTime_ = 0;
    stagingFirst_ = stagingNext_ = 0;
    return CDSWaveOutEx::Open(format, blockCount, blockBytes);
}

int CDSWaveOutEx2::WriteSamples(std::vector<float>&& samples, int sampleCount,
                                std::int64_t startTime, std::int64_t stopTime) {
    const std::vector<float> owned(std::move(samples));
    AutoLock lock(stagingLock_);
    if (!IsOpen() || IsReset() || sampleCount <= 0)
        return sampleCount;
    ClearEndOfStream();

    const auto count = std::min(static_cast<std::size_t>(sampleCount), owned.size());
    if (format_.wBitsPerSample == 8) {
        bytes_.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            bytes_[i] = to8(owned[i]);
    } else {
        bytes_.resize(count * 2);
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = static_cast<std::uint16_t>(to16(owned[i]));
            bytes_[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
            bytes_[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }

    const std::size_t n = bytes_.size();
    const auto block = static_cast<std::size_t>(blockBytes_);
    std::size_t pos = 0;
    while (pos < n) {
        if (stagingFill_ == 0)
            stagingFirst_ = timeOfByte(startTime, stopTime, pos, n);
        const std::size_t chunk = std::min(n - pos, block - static_cast<std::size_t>(stagingFill_));
        std::memcpy(staging_.data() + stagingFill_, bytes_.data() + pos, chunk);
        stagingFill_ += static_cast<int>(chunk);
        pos += chunk;
        stagingNext_ = timeOfByte(startTime, stopTime, pos, n);
        if (static_cast<std::size_t>(stagingFill_) == block) {
            // A block that could not be written (reset) is dropped.
            WriteStampedBlock(staging_.data(), {stagingFirst_, stagingNext_});
            stagingFill_ = 0;
        }
    }
    return sampleCount;
}

void CDSWaveOutEx2::WriteEndOfStream() {
    AutoLock staging(stagingLock_);
    if (!IsOpen() || IsReset())
        return;
    AutoLock ring(ringLock_);
    if (stagingFill_ == 0) {
        if (RingIsEmpty()) {
            DrainedEvent().Set();
            return;
        }
        MarkEndOfStream(writeIndex_, 0);
        return;
    }
    const int block = writeIndex_;
    const int offset = stagingFill_;
    std::fill(staging_.begin() + stagingFill_, staging_.end(),
              static_cast<std::uint8_t>(format_.wBitsPerSample == 8 ? 128 : 0));
    const int written = WriteStampedBlock(staging_.data(), {stagingFirst_, stagingNext_});
    stagingFill_ = 0;
    if (written)
        MarkEndOfStream(block, offset);
}

int CDSWaveOutEx2::WriteStampedBlock(const std::uint8_t* bytes, const BlockStamp& stamp) {
    AutoLock lock(ringLock_);
    blockStamp_ = stamp;
    const int written = WriteBlock(bytes, true);
    blockStamp_.reset();
    return written;
}

void CDSWaveOutEx2::OnBlockWritten(int index) {
    // Silence does not move the time on: it carries the end of the sound
    // before it, so the stamps stay one per ring block.
    std::int64_t first = lastEndTime_;
    if (blockStamp_) {
        first = blockStamp_->first;
        lastEndTime_ = blockStamp_->next;
    }
    std::lock_guard<std::mutex> g(stampLock_);
    if (static_cast<std::size_t>(index) < stamps_.size())
        stamps_[static_cast<std::size_t>(index)] = first;
}

std::int64_t CDSWaveOutEx2::StampTimeAt(std::uint32_t cursor) const {
    std::lock_guard<std::mutex> g(stampLock_);
    if (stamps_.empty() || stampPeriod_ <= 0)
        return 0;
    const auto period = static_cast<std::uint32_t>(stampPeriod_);
    const std::size_t d = std::min<std::size_t>(cursor / period, stamps_.size() - 1);
    const auto r = static_cast<__int128>(cursor % period);
    const auto s0 = static_cast<__int128>(stamps_[d]);
    const auto s1 = static_cast<__int128>(stamps_[(d + 1) % stamps_.size()]);
    return static_cast<std::int64_t>((s0 * (period - r) + s1 * r) / period);
}
