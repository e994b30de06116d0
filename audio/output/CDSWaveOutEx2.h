// The output's sample writer: float blocks become 8- or 16-bit PCM through a
// block-sized staging buffer, and every ring block carries the stream time of
// its first byte, so the time under the play cursor can be read back.
#pragma once

#include "audio/output/CDSWaveOutEx.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class CDSWaveOutEx2 : public CDSWaveOutEx {
public:
    CDSWaveOutEx2() = default;
    ~CDSWaveOutEx2() override;

    bool Open(const WAVEFORMATEX& format, int blockCount, int blockBytes) override;

    // Takes over the samples (frames x channels floats, values clipped to
    // [-1, 1]) spanning startTime to stopTime; blocks while the ring is full.
    // Returns sampleCount. Dropped while closed or reset.
    int WriteSamples(std::vector<float>&& samples, int sampleCount, std::int64_t startTime,
                     std::int64_t stopTime);
    // The end mark: the staged part block is played out, padded with the
    // zero level, and DrainedEvent follows once it has been heard.
    void WriteEndOfStream();

    // The stream time of ring byte `cursor`, interpolated between the stamps
    // of its block and the next.
    std::int64_t StampTimeAt(std::uint32_t cursor) const;

protected:
    struct BlockStamp {
        std::int64_t first; // time of the block's first byte
        std::int64_t next;  // time of the byte after its last real byte
    };
    void OnBlockWritten(int index) override;
    // Writes the staged block with its stamp; ringLock_ is taken here.
    int WriteStampedBlock(const std::uint8_t* bytes, const BlockStamp& stamp);

    // ringLock_: the stamp of the block being written (none for silence) and
    // the time at the end of the sound in the ring, which silence keeps.
    std::optional<BlockStamp> blockStamp_;
    std::int64_t lastEndTime_ = 0;

private:
    mutable std::mutex stampLock_; // stamps_ only; a leaf the clock timer takes
    std::vector<std::int64_t> stamps_;
    int stampPeriod_ = 0;

    // stagingLock_: the packet converted to bytes and the staged block's stamp.
    std::vector<std::uint8_t> bytes_;
    std::int64_t stagingFirst_ = 0;
    std::int64_t stagingNext_ = 0;
};
