// The audio renderer: takes PCM blocks with reference times, runs them
// through the tempo-change pipeline (queue, stage, device sender) to the
// sound output, and keeps the clock on the sound being heard. One pipeline
// (nave_t) exists per streaming run; pause and stop tear it down.
//
// Threads: the application thread starts and stops streaming and sets rate,
// flags and volume; the streaming thread renders samples and the end of the
// stream. interfaceLock_ serialises them; a render may hold it while it
// waits for room in the queue, which the stage thread keeps draining.
#pragma once

#include "audio/filter/IZarnRate.h"
#include "audio/filter/RendererClock.h"
#include "audio/output/CWaveOutImpl.h"
#include "audio/output/WaveFormat.h"
#include "audio/pipeline/connector.h"
#include "audio/pipeline/refobject.h"
#include "audio/stage/cutter.h"
#include "platform/sync.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// The renderer's audio object: the output and the clock live beside the
// renderer as plain members; only the name of the output is kept here.
struct CAMAudioObject {
    using CWaveOutImpl = ::CWaveOutImpl;
};

// The pipeline of one streaming run; tearing it down stops the stage first,
// then closes the output.
class nave_t : public ref_object_t {
public:
    ~nave_t() override;

    ref_ptr<packet_connector::sender_base_t<packet::base_t>> input_sender;
    ref_ptr<cutter_t> stage;
    ref_ptr<packet_connector::sender_base_t<packet::base_t>> device_sender;
    CAMAudioObject::CWaveOutImpl* output = nullptr;
    WAVEFORMATEX format{}; // what the output was opened with
    std::uint64_t run = 0; // tells this pipeline from a later one
};

class CAudioRenderer final : public IZarnRate {
public:
    // Failed: the output could not be opened again for a new format.
    enum class RenderResult { Sent, Unlocked, NotStreaming, Failed };

    CAudioRenderer();
    ~CAudioRenderer();
    CAudioRenderer(const CAudioRenderer&) = delete;
    CAudioRenderer& operator=(const CAudioRenderer&) = delete;

    // The renderer is owned by its element; counting is not needed.
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT GetRate(double* rate) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetFlags(std::int32_t* flags) override;
    HRESULT SetFlags(std::int32_t flags) override;
    HRESULT GetOutputState(std::int32_t* state) override;

    // Hundredths of a decibel; stored while closed, applied at open.
    HRESULT put_Volume(std::int32_t volume);
    HRESULT get_Volume(std::int32_t* volume);
    HRESULT put_Balance(std::int32_t) { return E_NOTIMPL; }
    HRESULT get_Balance(std::int32_t*) { return E_NOTIMPL; }
    static const char* VendorInfo() { return "zarnaudio.dll ver.0.2.377 (2001/7/8)"; }

    // The loudness gain in hundredths of a decibel (clamped to -4000 to
    // 2400) and the true-peak limiter after it. Kept for later runs; the
    // first sound of a stream takes the gain at once, later changes glide.
    void SetLoudnessGain(std::int32_t gain);
    std::int32_t LoudnessGain() const { return loudnessGain_.load(); }
    void SetLimiter(bool on);
    bool Limiter() const { return limiter_.load(); }
    // A new stream begins (the element left READY): its first sound takes
    // the gain at once instead of gliding on from the last stream's.
    void NewStream();

    // Only 8- and 16-bit PCM of 1 or 2 channels renders.
    static bool IsRenderable(const WAVEFORMATEX& format);
    void SetMediaType(const WAVEFORMATEX& format);
    const WAVEFORMATEX& Format() const { return format_; }

    // Builds a new pipeline (dropping any old one). False when the sound
    // output could not be opened; no pipeline exists then.
    bool OnStartStreaming();
    void OnStopStreaming();
    bool IsStreaming();

    // Converts PCM bytes to a block packet stamped [start, stop) (reference
    // times) and queues it, waiting for room unless `unlock` is signalled.
    // The first block after a change of format waits until the sound of the
    // old format has been heard, then runs on a pipeline and output rebuilt
    // for the new one.
    RenderResult DoRenderSample(const std::uint8_t* data, std::size_t bytes, std::int64_t start,
                                std::int64_t stop, Event& unlock);
    // The block packet of PCM bytes in `format`: 16-bit data gives bytes / 2
    // samples, 8-bit data one per byte; null for any other sample size.
    static ref_ptr<packet::blockdata_t<float>> MakeBlock(const WAVEFORMATEX& format,
                                                         const std::uint8_t* data,
                                                         std::size_t bytes, std::int64_t start,
                                                         std::int64_t stop);
    // Queues the end mark; the tail is then played out. Returns the event
    // that is signalled once the last sample has been heard, or null when
    // not streaming or when `unlock` came first.
    Event* SendEndOfStream(Event& unlock);

    std::shared_ptr<RendererClock> Clock() const { return clock_; }
    // The sound output, for tests that hand it a device of their own.
    CAMAudioObject::CWaveOutImpl& Output() { return output_; }
    // The stage of the current run, or null.
    ref_ptr<cutter_t> Stage();

private:
    // Feeds the output's clock timer from the shared clock.
    class ClockAdapter final : public IOutputClock {
    public:
        explicit ClockAdapter(std::shared_ptr<RendererClock> c) : clock(std::move(c)) {}
        std::int64_t GetPrivateTime() override { return clock->PrivateTime(); }
        void AdjustTime(std::int64_t delta) override { clock->Adjust(delta); }
        std::shared_ptr<RendererClock> clock;
    };

    // The pipeline of `run`, opened for another format than format_, has
    // played out: rebuilds it. False when the output did not open.
    bool RebuildForFormat(std::uint64_t run);
    // Tears down the pipeline (interfaceLock_ held), keeping the gain its
    // stage reached, so that the next run of the stream glides on from it.
    void DropPipeline();

    CriticalSection interfaceLock_;
    ref_ptr<nave_t> pipeline_;
    std::uint64_t runs_ = 0;
    std::atomic<double> rate_{1.0};
    std::atomic<std::int32_t> flags_{0};
    std::atomic<std::int32_t> loudnessGain_{0};
    std::atomic<bool> limiter_{false};
    // interfaceLock_: the gain the stream's sound has reached, if any.
    bool levelStarted_ = false;
    double levelReached_ = 0.0;
    WAVEFORMATEX format_{};
    std::shared_ptr<RendererClock> clock_;
    ClockAdapter clockAdapter_;
    CAMAudioObject::CWaveOutImpl output_;
};
