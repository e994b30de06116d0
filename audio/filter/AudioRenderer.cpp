#include "audio/filter/AudioRenderer.h"

#include <algorithm>
#include <cstring>

nave_t::~nave_t() {
    // Releasing the output's writers first lets a stage blocked on a full
    // ring (a stalled device) see its stop instead of hanging the pause.
    if (output)
        output->Reset();
    if (stage)
        stage->stop();
    if (output)
        output->Close();
    device_sender = nullptr;
    stage = nullptr;
    input_sender = nullptr;
}

CAudioRenderer::CAudioRenderer()
    : clock_(std::make_shared<RendererClock>()), clockAdapter_(clock_), output_(&clockAdapter_) {
    format_ = MakePcmFormat(2, 44100, 16);
}

CAudioRenderer::~CAudioRenderer() {
    OnStopStreaming();
}

HRESULT CAudioRenderer::QueryInterface(const IID& iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IZarnRate) {
        *out = static_cast<IZarnRate*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT CAudioRenderer::GetRate(double* rate) {
    *rate = rate_.load();
    return S_OK;
}

HRESULT CAudioRenderer::SetRate(double rate) {
    if (!(rate > 0) || !cutter_t::is_supported_ratio(1.0 / rate))
        return E_INVALIDARG;
    rate_.store(rate);
    AutoLock lock(interfaceLock_);
    if (pipeline_) {
        pipeline_->stage->set_ratio(1.0 / rate);
        clock_->SetSpeed(rate);
    }
    return S_OK;
}

HRESULT CAudioRenderer::GetFlags(std::int32_t* flags) {
    *flags = flags_.load();
    return S_OK;
}

HRESULT CAudioRenderer::SetFlags(std::int32_t flags) {
    flags_.store(flags);
    AutoLock lock(interfaceLock_);
    if (pipeline_)
        pipeline_->stage->set_flags(flags);
    return S_OK;
}

void CAudioRenderer::SetLoudnessGain(std::int32_t gain) {
    gain = std::clamp(gain, zarnfilter::leveller::min_gain, zarnfilter::leveller::max_gain);
    loudnessGain_.store(gain);
    AutoLock lock(interfaceLock_);
    if (pipeline_)
        pipeline_->stage->set_loudness_gain(gain);
}

void CAudioRenderer::SetLimiter(bool on) {
    limiter_.store(on);
    AutoLock lock(interfaceLock_);
    if (pipeline_)
        pipeline_->stage->set_limiter(on);
}

void CAudioRenderer::NewStream() {
    AutoLock lock(interfaceLock_);
    levelStarted_ = false;
}

void CAudioRenderer::DropPipeline() {
    if (!pipeline_)
        return;
    // Only pipeline_ holds the pipeline, so this stops the stage thread.
    const ref_ptr<cutter_t> stage = pipeline_->stage;
    pipeline_ = nullptr;
    double reached = 0.0;
    if (stage->levelled_gain(&reached)) {
        levelStarted_ = true;
        levelReached_ = reached;
    }
}

HRESULT CAudioRenderer::GetOutputState(std::int32_t* state) {
    AutoLock lock(interfaceLock_);
    *state = pipeline_ ? output_.GetRunState() : -1;
    return S_OK;
}

HRESULT CAudioRenderer::put_Volume(std::int32_t volume) {
    return output_.SetVolume(volume);
}

HRESULT CAudioRenderer::get_Volume(std::int32_t* volume) {
    if (!volume)
        return E_POINTER;
    *volume = output_.GetVolume();
    return S_OK;
}

bool CAudioRenderer::IsRenderable(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec > 0;
}

void CAudioRenderer::SetMediaType(const WAVEFORMATEX& format) {
    AutoLock lock(interfaceLock_);
    format_ = format;
}

bool CAudioRenderer::OnStartStreaming() {
    AutoLock lock(interfaceLock_);
    DropPipeline();
    ref_ptr<nave_t> nave = new nave_t;
    // Ten blocks of a tenth of a second each: about a second of sound.
    if (!output_.Open(format_, 10, static_cast<int>(format_.nAvgBytesPerSec / 10)))
        return false;
    nave->output = &output_;
    nave->format = format_;
    nave->run = ++runs_;
    ref_ptr<packet_connector::queue_t<packet::base_t>> queue =
        new packet_connector::queue_t<packet::base_t>(64);
    nave->stage = new cutter_t(1.0 / rate_.load());
    nave->device_sender = new device_sender_t<CWaveOutImpl>(&output_);
    nave->input_sender = queue->make_sender();
    nave->stage->set_input(queue->make_reciever());
    nave->stage->set_output(nave->device_sender);
    nave->stage->set_block_length(static_cast<std::int32_t>(
        static_cast<std::uint32_t>(format_.nChannels) * format_.nSamplesPerSec / 8));
    nave->stage->set_channels(format_.nChannels);
    nave->stage->set_flags(flags_.load());
    nave->stage->set_sample_rate(static_cast<std::int32_t>(format_.nSamplesPerSec));
    nave->stage->set_loudness_gain(loudnessGain_.load());
    nave->stage->set_limiter(limiter_.load());
    if (levelStarted_)
        nave->stage->continue_gain_from(levelReached_);
    clock_->SetSpeed(rate_.load());
    nave->stage->start();
    pipeline_ = nave;
    return true;
}

void CAudioRenderer::OnStopStreaming() {
    AutoLock lock(interfaceLock_);
    DropPipeline();
}

bool CAudioRenderer::IsStreaming() {
    AutoLock lock(interfaceLock_);
    return static_cast<bool>(pipeline_);
}

ref_ptr<cutter_t> CAudioRenderer::Stage() {
    AutoLock lock(interfaceLock_);
    return pipeline_ ? pipeline_->stage : nullptr;
}

ref_ptr<packet::blockdata_t<float>> CAudioRenderer::MakeBlock(const WAVEFORMATEX& format,
                                                              const std::uint8_t* data,
                                                              std::size_t bytes, std::int64_t start,
                                                              std::int64_t stop) {
    std::size_t n;
    ref_ptr<packet::blockdata_t<float>> block;
    if (format.wBitsPerSample == 16) {
        n = bytes / 2;
        block = new packet::blockdata_t<float>(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::int16_t s;
            std::memcpy(&s, data + 2 * i, 2);
            block->samples[i] = static_cast<float>(s) / 32768.0f;
        }
    } else if (format.wBitsPerSample == 8) {
        n = bytes;
        block = new packet::blockdata_t<float>(n);
        for (std::size_t i = 0; i < n; ++i)
            block->samples[i] = (static_cast<float>(data[i]) - 128.0f) / 128.0f;
    } else {
        return nullptr;
    }
    block->sample_count = static_cast<std::int32_t>(n);
    block->start_time = start;
    block->stop_time = stop;
    return block;
}

namespace {

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

bool CAudioRenderer::RebuildForFormat(std::uint64_t run) {
    AutoLock lock(interfaceLock_);
    // A pause or a flush while the old sound played out has rebuilt it already.
    if (!pipeline_ || pipeline_->run != run)
        return true;
    return OnStartStreaming();
}

CAudioRenderer::RenderResult CAudioRenderer::DoRenderSample(const std::uint8_t* data,
                                                            std::size_t bytes, std::int64_t start,
                                                            std::int64_t stop, Event& unlock) {
    for (;;) {
        std::uint64_t run;
        {
            AutoLock lock(interfaceLock_);
            if (!pipeline_)
                return RenderResult::NotStreaming;
            if (SameFormat(pipeline_->format, format_))
                break;
            run = pipeline_->run;
        }
        // The stage and the output hold sound of the old format: play it
        // out, then open for the new one. The gap is the time the new ring
        // takes to prime, less than the output's latency.
        Event* drained = SendEndOfStream(unlock);
        if (!drained)
            return IsStreaming() ? RenderResult::Unlocked : RenderResult::NotStreaming;
        if (WaitForAny({drained, &unlock}) != WAIT_OBJECT_0)
            return RenderResult::Unlocked;
        if (!RebuildForFormat(run))
            return RenderResult::Failed;
    }

    AutoLock lock(interfaceLock_);
    if (!pipeline_)
        return RenderResult::NotStreaming;
    ref_ptr<packet::blockdata_t<float>> block = MakeBlock(format_, data, bytes, start, stop);
    if (!block)
        return RenderResult::Sent;

    // One producer: once the queue says it has room, the push cannot block.
    auto& sender = pipeline_->input_sender;
    if (Event* room = sender->wait_handle()) {
        if (WaitForAny({room, &unlock}) != WAIT_OBJECT_0)
            return RenderResult::Unlocked;
    }
    sender->send(block);
    return RenderResult::Sent;
}

Event* CAudioRenderer::SendEndOfStream(Event& unlock) {
    AutoLock lock(interfaceLock_);
    if (!pipeline_)
        return nullptr;
    auto& sender = pipeline_->input_sender;
    if (Event* room = sender->wait_handle()) {
        if (WaitForAny({room, &unlock}) != WAIT_OBJECT_0)
            return nullptr;
    }
    sender->send(new packet::endofstream_t(pipeline_->stage.get()));
    return &output_.DrainedEvent();
}
