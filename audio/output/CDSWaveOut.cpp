#include "audio/output/CDSWaveOut.h"

#include <cstring>

CDSWaveOut::CDSWaveOut() : factory_(&sound::CreateSoundBuffer) {}

CDSWaveOut::~CDSWaveOut() {
    CDSWaveOut::Close();
}

void CDSWaveOut::SetDeviceFactory(SoundDeviceFactory factory) {
    factory_ = factory ? std::move(factory) : SoundDeviceFactory(&sound::CreateSoundBuffer);
}

bool CDSWaveOut::Open(const WAVEFORMATEX& format, int blockCount, int blockBytes) {
    if (buffer_)
        return false;
    // The writer keeps two blocks between itself and the cursor.
    if (blockCount < 3 || blockBytes <= 0 || blockBytes > (1 << 26) / blockCount)
        return false;
    sound::PcmFormat pcm;
    pcm.channels = format.nChannels;
    pcm.samplesPerSec = static_cast<int>(format.nSamplesPerSec);
    pcm.bitsPerSample = format.wBitsPerSample;
    auto device = factory_(pcm, static_cast<std::uint32_t>(blockCount * blockBytes));
    if (!device)
        return false;

    AutoLock staging(stagingLock_);
    AutoLock ring(ringLock_);
    runState_ = 0;
    ringBytes_ = blockCount * blockBytes;
    blockBytes_ = blockBytes;
    blockCount_ = blockCount;

    // Every event starts signalled but the first two: a fresh ring takes
    // blockCount - 2 blocks before the writer waits for the cursor.
    blockEvents_.clear();
    std::vector<sound::Notification> positions;
    for (int i = 0; i < blockCount; ++i) {
        blockEvents_.push_back(std::make_unique<Event>(true, true));
        positions.push_back(
            {static_cast<std::uint32_t>(i * blockBytes), blockEvents_.back().get()});
    }
    device->SetNotificationPositions(positions);
    blockEvents_[0]->Reset();
    blockEvents_[1]->Reset();
    resetEvent_.Reset();

    writeIndex_ = 0;
    lastAwaitedIndex_ = 0;
    lapCount_ = 0;
    staging_.assign(static_cast<std::size_t>(blockBytes), 0);
    stagingFill_ = 0;
    format_ = format;
    // A volume set while the device was being made is applied here or by
    // SetVolume, never lost between the two.
    std::lock_guard<std::mutex> guard(deviceLock_);
    device->SetVolume(volume_.load());
    buffer_ = std::move(device);
    return true;
}

bool CDSWaveOut::Close() {
    if (!buffer_)
        return false;
    Reset();
    // A writer released by the reset may still be on its way out.
    AutoLock staging(stagingLock_);
    AutoLock ring(ringLock_);
    std::unique_ptr<sound::SoundBuffer> device;
    {
        std::lock_guard<std::mutex> guard(deviceLock_);
        device = std::move(buffer_);
    }
    // The device goes first: its cursor thread signals the block events.
    device.reset();
    blockEvents_.clear();
    staging_.clear();
    staging_.shrink_to_fit();
    stagingFill_ = 0;
    return true;
}

void CDSWaveOut::Play() {
    if (buffer_)
        buffer_->Play();
    runState_ = 1;
}

void CDSWaveOut::Stop() {
    if (buffer_)
        buffer_->Stop();
    runState_ = 0;
}

void CDSWaveOut::Reset() {
    if (!buffer_)
        return;
    buffer_->Stop();
    resetEvent_.Set();
    for (auto& e : blockEvents_)
        e->Set();
    buffer_->Stop();
}

int CDSWaveOut::OnBlockReached() {
    return 1;
}

int CDSWaveOut::OnWrap() {
    return 1;
}

HRESULT CDSWaveOut::SetVolume(std::int32_t volume) {
    std::lock_guard<std::mutex> device(deviceLock_);
    volume_ = volume;
    if (buffer_)
        buffer_->SetVolume(volume);
    return S_OK;
}

int CDSWaveOut::WriteBlock(const std::uint8_t* bytes, bool advance) {
    AutoLock lock(ringLock_);
    if (IsReset() || !buffer_)
        return 0;
    const int n = (writeIndex_ + 2) % blockCount_;
    // Reset signals every block event, so this wait always ends.
    blockEvents_[static_cast<std::size_t>(n)]->Wait();
    if (IsReset())
        return 0;
    if (n < lastAwaitedIndex_) {
        ++lapCount_;
        lastAwaitedIndex_ = n;
        OnWrap();
    }
    lastAwaitedIndex_ = n;
    OnBlockReached();

    sound::LockedRegion region;
    if (!buffer_->Lock(static_cast<std::uint32_t>(writeIndex_ * blockBytes_),
                       static_cast<std::uint32_t>(blockBytes_), region))
        return 0;
    std::memcpy(region.first, bytes, region.firstBytes);
    if (region.secondBytes)
        std::memcpy(region.second, bytes + region.firstBytes, region.secondBytes);
    buffer_->Unlock(region);
    // The next wait on it, a lap later, needs a fresh pass of the cursor.
    blockEvents_[static_cast<std::size_t>((writeIndex_ + 1) % blockCount_)]->Reset();
    OnBlockWritten(writeIndex_);
    if (advance)
        writeIndex_ = (writeIndex_ + 1) % blockCount_;
    return static_cast<int>(region.firstBytes + region.secondBytes);
}
