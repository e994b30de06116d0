// The output with its drain thread: starts the device once the ring is
// primed, appends silent blocks when the writer falls behind (so the old ring
// contents are never heard again), and reports when the end of the stream
// has been heard.
#pragma once

#include "audio/output/CDSWaveOut.h"
#include "audio/pipeline/thread.h"

class CDSWaveOutEx : public CDSWaveOut {
public:
    CDSWaveOutEx();
    ~CDSWaveOutEx() override;

    bool Open(const WAVEFORMATEX& format, int blockCount, int blockBytes) override;
    void Reset() override;
    int OnBlockReached() override;

    virtual void StartPlayback();
    virtual void StopPlayback();
    virtual int OnStarved();
    virtual int AfterStarved();

    // Signalled once the cursor has passed the last real byte after the end
    // mark; cleared by Open and by samples written after the mark.
    Event& DrainedEvent() { return drainedEvent_; }
    bool WaitDrained(DWORD timeoutMs);

protected:
    // Called by the writer, ringLock_ held, after the last block went into
    // the ring: the stream ends at `offset` bytes into ring block `block`.
    // A stream too short to have primed the ring is started now.
    void MarkEndOfStream(int block, int offset);
    void ClearEndOfStream();
    // Nothing has been written since Open.
    bool RingIsEmpty() const { return lastAwaitedIndex_ == 0 && lapCount_ == 0; }

    Event primedEvent_{true, false};

private:
    class CDbur : public thread_base_t<cthread_object_t> {
    public:
        explicit CDbur(CDSWaveOutEx& owner) : owner_(owner) {}
        ~CDbur() override { stop(); }

    protected:
        std::uint32_t run() override;

    private:
        CDSWaveOutEx& owner_;
    };

    void WatchStarvation();
    bool CheckDrained();

    // The end mark, guarded by ringLock_.
    struct EndOfStream {
        bool pending = false;
        int block = 0;
        int offset = 0;
    } eos_;
    Event eosEvent_{false, false}; // wakes the drain thread for a new end mark
    Event drainedEvent_{true, false};
    CDbur drainThread_{*this};
};
