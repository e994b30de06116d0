// The sound buffer on a PulseAudio server (PipeWire desktops serve the same
// protocol). The server pulls from the ring through the stream's write
// requests; the cursor is the stream's interpolated play time, which already
// allows for the server's latency. When the server goes away the cursor keeps
// time on the wall clock, and a new connection is tried every quarter second;
// once one is made, the server is fed again from where the cursor stands.
#include "platform/sound/Backends.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace sound {

namespace {

// What the stream asks the server to keep queued; the server grants about
// three quarters of it.
constexpr pa_usec_t kTargetLatencyUs = 80 * 1000;
constexpr pa_usec_t kConnectTimeoutUs = 3 * 1000 * 1000;
// How often a lost server is tried again; an attempt not through by then
// (a server that accepts but does not answer) is dropped for a fresh one.
constexpr pa_usec_t kReconnectUs = 250 * 1000;

class PulseBuffer : public SoundBuffer {
public:
    PulseBuffer(const PcmFormat& format, std::uint32_t size)
        : SoundBuffer(format, size), lostCursor_(format) {}
    ~PulseBuffer() override;
    const char* BackendName() const override { return "pulse"; }

    bool Connect();

protected:
    std::uint64_t PlayedBytes() override;
    void StartDevice() override;
    void StopDevice() override;

private:
    static void OnContextState(pa_context* c, void* self);
    static void OnStreamState(pa_stream* s, void* self);
    static void OnStreamWrite(pa_stream* s, std::size_t bytes, void* self);
    static void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void OnReconnect(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    // All below run with the main loop's lock held.
    bool WaitUntil(bool (*ready)(PulseBuffer&), bool (*failed)(PulseBuffer&));
    bool OpenStreamLocked();
    void FeedLocked();
    void LostLocked(const char* why);
    void Cork(bool cork);
    // Frees the stream and the context, their callbacks first.
    void DropConnectionLocked();
    // The next attempt at a connection, kReconnectUs from now.
    void ScheduleReconnectLocked();
    // The new stream is ready: the cursor goes on from the wall clock's time.
    void ResumeLocked();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* timeout_ = nullptr;
    pa_time_event* reconnect_ = nullptr;
    bool timedOut_ = false;
    bool ready_ = false;   // set up; failures from now on mean the server went away
    bool closing_ = false; // our own disconnect, not a loss
    bool feeding_ = false; // playing: write requests are answered from the ring
    bool lost_ = false;
    std::uint64_t written_ = 0;    // stream bytes handed to the server
    std::uint64_t streamBase_ = 0; // the stream byte the current server stream began with
    std::uint64_t lastPlayed_ = 0; // the cursor never goes back
    WallClockCursor lostCursor_;   // keeps time once the server is gone
};

bool PulseBuffer::Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "zarnplayer");
    if (!context_)
        return false;
    pa_context_set_state_callback(context_, &PulseBuffer::OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    if (pa_threaded_mainloop_start(loop_) < 0)
        return false;

    pa_threaded_mainloop_lock(loop_);
    // A server that accepts the socket but never answers must not hang us.
    timeout_ = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUs,
                                     &PulseBuffer::OnTimeout, this);
    bool ok = WaitUntil(
        [](PulseBuffer& b) { return pa_context_get_state(b.context_) == PA_CONTEXT_READY; },
        [](PulseBuffer& b) { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(b.context_)); });
    if (ok)
        ok = OpenStreamLocked() &&
             WaitUntil(
                 [](PulseBuffer& b) { return pa_stream_get_state(b.stream_) == PA_STREAM_READY; },
                 [](PulseBuffer& b) { return !PA_STREAM_IS_GOOD(pa_stream_get_state(b.stream_)); });
    if (timeout_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(timeout_);
        timeout_ = nullptr;
    }
    ready_ = ok;
    pa_threaded_mainloop_unlock(loop_);
    if (ok)
        StartCursorThread(kCursorPeriodMs);
    return ok;
}

bool PulseBuffer::OpenStreamLocked() {
    const PcmFormat& f = Format();
    pa_sample_spec spec{};
    spec.format = f.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = static_cast<std::uint32_t>(f.samplesPerSec);
    spec.channels = static_cast<std::uint8_t>(f.channels);
    stream_ = pa_stream_new(context_, "zarnplayer", &spec, nullptr);
    if (!stream_)
        return false;
    pa_stream_set_state_callback(stream_, &PulseBuffer::OnStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseBuffer::OnStreamWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &spec));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    return pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0;
}

bool PulseBuffer::WaitUntil(bool (*ready)(PulseBuffer&), bool (*failed)(PulseBuffer&)) {
    for (;;) {
        if (ready(*this))
            return true;
        if (failed(*this) || timedOut_)
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

PulseBuffer::~PulseBuffer() {
    StopCursorThread();
    if (loop_) {
        pa_threaded_mainloop_lock(loop_);
        closing_ = true;
        if (reconnect_) {
            pa_threaded_mainloop_get_api(loop_)->time_free(reconnect_);
            reconnect_ = nullptr;
        }
        DropConnectionLocked();
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    } else if (context_) {
        pa_context_unref(context_);
    }
}

std::uint64_t PulseBuffer::PlayedBytes() {
    pa_threaded_mainloop_lock(loop_);
    std::uint64_t played = lastPlayed_;
    if (lost_) {
        played = lostCursor_.Now();
    } else {
        pa_usec_t us = 0;
        // Fails with no data before the first timing update: nothing heard yet.
        if (pa_stream_get_time(stream_, &us) == 0) {
            const PcmFormat& f = Format();
            const std::uint64_t frames = static_cast<std::uint64_t>(us) *
                                         static_cast<std::uint64_t>(f.samplesPerSec) / 1000000u;
            // A fresh stream's clock may run on while the server asks for
            // nothing; what was never handed over cannot have been heard.
            played = std::min(streamBase_ + frames * static_cast<std::uint64_t>(f.BlockAlign()),
                              written_);
        }
    }
    played = std::max(played, lastPlayed_);
    lastPlayed_ = played;
    pa_threaded_mainloop_unlock(loop_);
    return played;
}

void PulseBuffer::Cork(bool cork) {
    if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseBuffer::StartDevice() {
    pa_threaded_mainloop_lock(loop_);
    feeding_ = true;
    if (lost_) {
        lostCursor_.Start(lostCursor_.Now());
    } else {
        FeedLocked();
        Cork(false);
    }
    pa_threaded_mainloop_unlock(loop_);
}

void PulseBuffer::StopDevice() {
    pa_threaded_mainloop_lock(loop_);
    feeding_ = false;
    if (lost_)
        lostCursor_.Stop();
    else
        Cork(true);
    pa_threaded_mainloop_unlock(loop_);
}

void PulseBuffer::FeedLocked() {
    if (!feeding_ || lost_ || !stream_)
        return;
    std::size_t want = pa_stream_writable_size(stream_);
    if (want == static_cast<std::size_t>(-1))
        return;
    const auto frame = static_cast<std::size_t>(Format().BlockAlign());
    while (want >= frame) {
        void* data = nullptr;
        std::size_t len = want;
        if (pa_stream_begin_write(stream_, &data, &len) < 0 || !data)
            return;
        len -= len % frame;
        if (len == 0) {
            pa_stream_cancel_write(stream_);
            return;
        }
        ReadStream(written_, static_cast<std::uint8_t*>(data), len);
        if (pa_stream_write(stream_, data, len, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        written_ += len;
        want -= len;
    }
}

void PulseBuffer::LostLocked(const char* why) {
    if (lost_ || closing_ || !ready_)
        return;
    lost_ = true;
    // From here the cursor keeps time on the wall clock, from where it was.
    lostCursor_.Start(lastPlayed_);
    if (!feeding_)
        lostCursor_.Stop();
    Warn(std::string("the sound server went away (") + why +
         "); playback goes on silently on the wall clock until it is back");
    pa_threaded_mainloop_signal(loop_, 0);
    // Not at once, and not from inside the callbacks of the connection that
    // failed: the attempt drops that connection first.
    ScheduleReconnectLocked();
}

void PulseBuffer::DropConnectionLocked() {
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseBuffer::ScheduleReconnectLocked() {
    if (closing_ || !lost_ || reconnect_)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval due;
    pa_timeval_add(pa_gettimeofday(&due), kReconnectUs);
    reconnect_ = api->time_new(api, &due, &PulseBuffer::OnReconnect, this);
}

void PulseBuffer::OnReconnect(pa_mainloop_api* api, pa_time_event* e, const struct timeval*,
                              void* self) {
    auto* b = static_cast<PulseBuffer*>(self);
    api->time_free(e);
    b->reconnect_ = nullptr;
    if (b->closing_ || !b->lost_)
        return;
    b->DropConnectionLocked();
    // The next attempt is due whatever becomes of this one.
    b->ScheduleReconnectLocked();
    b->context_ = pa_context_new(api, "zarnplayer");
    if (!b->context_)
        return;
    pa_context_set_state_callback(b->context_, &PulseBuffer::OnContextState, b);
    if (pa_context_connect(b->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        b->DropConnectionLocked();
}

void PulseBuffer::ResumeLocked() {
    if (reconnect_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(reconnect_);
        reconnect_ = nullptr;
    }
    const std::uint64_t at = std::max(lostCursor_.Now(), lastPlayed_);
    lostCursor_.Stop();
    streamBase_ = at;
    written_ = at;
    lost_ = false;
    if (feeding_) {
        FeedLocked();
        Cork(false);
    }
    Warn("the sound server is back; playback is heard again from where the clock stands");
}

void PulseBuffer::OnContextState(pa_context* c, void* self) {
    auto* b = static_cast<PulseBuffer*>(self);
    const pa_context_state_t state = pa_context_get_state(c);
    if (!PA_CONTEXT_IS_GOOD(state))
        b->LostLocked(pa_strerror(pa_context_errno(c)));
    else if (state == PA_CONTEXT_READY && b->lost_ && !b->stream_ && !b->closing_)
        b->OpenStreamLocked(); // a failure waits for the next attempt
    pa_threaded_mainloop_signal(b->loop_, 0);
}

void PulseBuffer::OnStreamState(pa_stream* s, void* self) {
    auto* b = static_cast<PulseBuffer*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (!PA_STREAM_IS_GOOD(state))
        b->LostLocked(pa_strerror(pa_context_errno(pa_stream_get_context(s))));
    else if (state == PA_STREAM_READY && b->lost_ && !b->closing_)
        b->ResumeLocked();
    pa_threaded_mainloop_signal(b->loop_, 0);
}

void PulseBuffer::OnStreamWrite(pa_stream*, std::size_t, void* self) {
    static_cast<PulseBuffer*>(self)->FeedLocked();
}

void PulseBuffer::OnTimeout(pa_mainloop_api* api, pa_time_event* e, const struct timeval*,
                            void* self) {
    auto* b = static_cast<PulseBuffer*>(self);
    api->time_free(e);
    b->timeout_ = nullptr;
    b->timedOut_ = true;
    pa_threaded_mainloop_signal(b->loop_, 0);
}

} // namespace

std::unique_ptr<SoundBuffer> CreatePulseBuffer(const PcmFormat& format, std::uint32_t size) {
    auto b = std::make_unique<PulseBuffer>(format, size);
    if (!b->Connect())
        return nullptr;
    return b;
}

} // namespace sound
