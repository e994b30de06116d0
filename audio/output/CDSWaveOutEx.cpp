#include "audio/output/CDSWaveOutEx.h"

namespace {

// How often the drain thread looks at the cursor while the end of the stream
// is being played out.
constexpr DWORD kDrainPollMs = 5;

} // namespace

CDSWaveOutEx::CDSWaveOutEx() = default;

CDSWaveOutEx::~CDSWaveOutEx() {
    CDSWaveOutEx::Close();
    drainThread_.stop();
}

bool CDSWaveOutEx::Open(const WAVEFORMATEX& format, int blockCount, int blockBytes) {
    if (IsOpen())
        return false;
    primedEvent_.Reset();
    drainedEvent_.Reset();
    eosEvent_.Reset();
    eos_ = {};
    if (!CDSWaveOut::Open(format, blockCount, blockBytes))
        return false;
    drainThread_.start();
    return true;
}

void CDSWaveOutEx::Reset() {
    CDSWaveOut::Reset();
    drainThread_.stop();
}

int CDSWaveOutEx::OnBlockReached() {
    // With 10 blocks this is the seventh block of a fresh ring; it repeats
    // once a lap, harmlessly.
    if (lastAwaitedIndex_ == blockCount_ - 2)
        primedEvent_.Set();
    return 1;
}

void CDSWaveOutEx::StartPlayback() {
    Play();
}

void CDSWaveOutEx::StopPlayback() {
    Stop();
}

int CDSWaveOutEx::OnStarved() {
    const std::vector<std::uint8_t> silence(static_cast<std::size_t>(blockBytes_),
                                            format_.wBitsPerSample == 8 ? 128 : 0);
    WriteBlock(silence.data(), true);
    return 0;
}

int CDSWaveOutEx::AfterStarved() {
    return 1;
}

bool CDSWaveOutEx::WaitDrained(DWORD timeoutMs) {
    return drainedEvent_.Wait(timeoutMs);
}

void CDSWaveOutEx::MarkEndOfStream(int block, int offset) {
    AutoLock lock(ringLock_);
    eos_ = {true, block, offset};
    buffer_->MarkEnd(static_cast<std::uint32_t>(block * blockBytes_ + offset));
    drainedEvent_.Reset();
    eosEvent_.Set();
    primedEvent_.Set();
}

void CDSWaveOutEx::ClearEndOfStream() {
    AutoLock lock(ringLock_);
    eos_ = {};
    drainedEvent_.Reset();
}

std::uint32_t CDSWaveOutEx::CDbur::run() {
    Event* events[] = {&owner_.resetEvent_, &owner_.primedEvent_};
    if (WaitForAny(events) == WAIT_OBJECT_0 + 1)
        owner_.StartPlayback();
    owner_.WatchStarvation();
    owner_.StopPlayback();
    return 0;
}

void CDSWaveOutEx::WatchStarvation() {
    for (;;) {
        int w;
        std::int32_t laps;
        Event* previous;
        Event* next;
        DWORD timeout = INFINITE;
        {
            AutoLock lock(ringLock_);
            w = writeIndex_;
            laps = lapCount_;
            previous =
                blockEvents_[static_cast<std::size_t>((w + blockCount_ - 1) % blockCount_)].get();
            next = blockEvents_[static_cast<std::size_t>((w + 1) % blockCount_)].get();
            if (eos_.pending) {
                if (CheckDrained()) {
                    eos_.pending = false;
                    drainedEvent_.Set();
                } else {
                    timeout = kDrainPollMs;
                }
            }
        }
        Event* events[] = {&resetEvent_, previous, &eosEvent_};
        const DWORD r = WaitForAny(events, timeout);
        if (r == WAIT_OBJECT_0)
            return;
        if (r != WAIT_OBJECT_0 + 1)
            continue; // a new end mark or a look at the cursor
        // The cursor is in the last block written. Unless the writer has
        // just moved on, the block after it holds last lap's sound. A writer
        // that went a whole lap round while this thread slept is back at w,
        // and must not be taken for one that stood still.
        AutoLock lock(ringLock_);
        if (writeIndex_ != w || lapCount_ != laps || !next->IsSet() || IsReset())
            continue;
        if (OnStarved())
            AfterStarved();
    }
}

bool CDSWaveOutEx::CheckDrained() {
    Event* at = blockEvents_[static_cast<std::size_t>(eos_.block)].get();
    if (eos_.offset == 0)
        return at->IsSet();
    // Block `block` was the last written with data: its successor's event
    // was reset then, so its signal means the cursor left the block.
    if (blockEvents_[static_cast<std::size_t>((eos_.block + 1) % blockCount_)]->IsSet())
        return true;
    if (!at->IsSet())
        return false;
    const auto c = static_cast<std::int64_t>(buffer_->GetCurrentPosition());
    const std::int64_t begin = static_cast<std::int64_t>(eos_.block) * blockBytes_;
    return c >= begin + eos_.offset && c < begin + blockBytes_;
}
