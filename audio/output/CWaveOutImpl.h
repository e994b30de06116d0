// The renderer's sound output: the sample writer plus the 16 ms clock timer
// that pulls the renderer's clock to the time under the play cursor. The
// renderer's audio object names this class as its CWaveOutImpl.
#pragma once

#include "audio/output/CDSWaveOutEx2.h"
#include "audio/output/IOutputClock.h"
#include "platform/sound/PeriodicTimer.h"

#include <atomic>

class CWaveOutImpl : public CDSWaveOutEx2 {
public:
    explicit CWaveOutImpl(IOutputClock* clock = nullptr) : clock_(clock) {}
    ~CWaveOutImpl() override;

    // Not owned; set before the first Open.
    void SetClock(IOutputClock* clock) { clock_ = clock; }

    void StartPlayback() override;
    void StopPlayback() override;
    int OnStarved() override;

    // One tick of the clock timer: corrects the clock when it is more than
    // 1 ms off the time under the cursor. Runs on the timer's thread.
    void ClockTimerProc();
    bool IsClockTimerRunning() const { return timer_.IsRunning(); }

protected:
    void OnBlockWritten(int index) override;

private:
    std::atomic<IOutputClock*> clock_;
    sound::PeriodicTimer timer_;
};

// The clock timer's period and the difference it tolerates (100 ns units).
inline constexpr int kClockTimerPeriodMs = 16;
inline constexpr std::int64_t kClockTolerance = 10000;
