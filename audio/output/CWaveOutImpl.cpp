#include "audio/output/CWaveOutImpl.h"

CWaveOutImpl::~CWaveOutImpl() {
    // Closing here, while this class is still whole, ends the drain thread
    // through this class's StopPlayback, which stops the timer.
    CWaveOutImpl::Close();
    timer_.Stop();
}

void CWaveOutImpl::StartPlayback() {
    Play();
    timer_.Start(std::chrono::milliseconds(kClockTimerPeriodMs), [this] { ClockTimerProc(); });
}

void CWaveOutImpl::StopPlayback() {
    Stop();
    timer_.Stop();
}

int CWaveOutImpl::OnStarved() {
    runState_ = 2;
    return CDSWaveOutEx2::OnStarved();
}

void CWaveOutImpl::OnBlockWritten(int index) {
    CDSWaveOutEx2::OnBlockWritten(index);
    // Sound again after a starvation: the clock follows the cursor again.
    int starved = 2;
    if (blockStamp_)
        runState_.compare_exchange_strong(starved, 1);
}

void CWaveOutImpl::ClockTimerProc() {
    if (lapCount_ <= 0 || runState_ != 1)
        return;
    IOutputClock* clock = clock_;
    if (!clock || !buffer_)
        return;
    const std::int64_t heard = StampTimeAt(buffer_->GetCurrentPosition());
    const std::int64_t delta = heard - clock->GetPrivateTime();
    if (delta > kClockTolerance || delta < -kClockTolerance)
        clock->AdjustTime(delta);
}
