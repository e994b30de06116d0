// The sound output's device layer: one looping sound buffer treated as a ring
// of equal blocks, an event per block that the play cursor signals, and the
// block write that waits until the cursor is two blocks past the block.
#pragma once

#include "audio/output/WaveFormat.h"
#include "platform/com.h"
#include "platform/sound/SoundBuffer.h"
#include "platform/sync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Makes the device an Open plays through; the default asks ZARN_AUDIO_DEVICE.
using SoundDeviceFactory = std::function<std::unique_ptr<sound::SoundBuffer>(
    const sound::PcmFormat& format, std::uint32_t ringBytes)>;

class CDSWaveOut {
public:
    CDSWaveOut();
    CDSWaveOut(const CDSWaveOut&) = delete;
    CDSWaveOut& operator=(const CDSWaveOut&) = delete;
    virtual ~CDSWaveOut();

    // False when already open, for fewer than 3 blocks, or when no device
    // takes the format (8 or 16 bits, 1 or 2 channels).
    virtual bool Open(const WAVEFORMATEX& format, int blockCount, int blockBytes);
    // False when not open.
    virtual bool Close();
    virtual void Play();
    virtual void Stop();
    // Stops the device and releases every waiter; writes do nothing until
    // the next Open.
    virtual void Reset();
    virtual int OnBlockReached();
    virtual int OnWrap();

    // Hundredths of a decibel (0 full, -10000 silent); kept across Close and
    // applied at Open.
    HRESULT SetVolume(std::int32_t volume);
    std::int32_t GetVolume() const { return volume_.load(); }

    // -1 never opened, 0 opened or stopped, 1 playing, 2 starved.
    std::int32_t GetRunState() const { return runState_.load(); }
    bool IsOpen() const { return buffer_ != nullptr; }
    const WAVEFORMATEX& Format() const { return format_; }

    // For the following Opens; tests hand in a device whose cursor they move.
    void SetDeviceFactory(SoundDeviceFactory factory);

protected:
    // Writes one block at writeIndex_ once the cursor has entered the block
    // two ahead; the bytes written, 0 after a reset or a failed lock.
    int WriteBlock(const std::uint8_t* bytes, bool advance);
    bool IsReset() const { return resetEvent_.IsSet(); }
    // Called inside WriteBlock, ringLock_ held, for the block just written.
    virtual void OnBlockWritten(int /*index*/) {}

    // Lock order: stagingLock_, ringLock_, deviceLock_, then the device's own.
    CriticalSection ringLock_;    // writeIndex_, lastAwaitedIndex_, the ring write
    CriticalSection stagingLock_; // staging_, stagingFill_ and the next layers' staging state
    // Open and Close change buffer_ under it (and under ringLock_); SetVolume
    // takes only this one, so a writer waiting for the cursor never holds up
    // a volume change.
    std::mutex deviceLock_;

    std::unique_ptr<sound::SoundBuffer> buffer_; // non-null while open
    WAVEFORMATEX format_{};
    int blockBytes_ = 0;
    int blockCount_ = 0;
    int ringBytes_ = 0;
    int writeIndex_ = 0;
    int lastAwaitedIndex_ = 0;
    std::atomic<std::int32_t> lapCount_{0};
    std::vector<std::unique_ptr<Event>> blockEvents_;
    Event resetEvent_{true, false};
    std::atomic<std::int32_t> runState_{-1};
    std::vector<std::uint8_t> staging_;
    int stagingFill_ = 0;

private:
    std::atomic<std::int32_t> volume_{0};
    SoundDeviceFactory factory_;
};
