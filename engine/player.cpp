#include "engine/player.h"

#include "audio/filter/IZarnRate.h"
#include "engine/infotext.h"
#include "engine/scan.h"

#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr const char* LOG_SOURCE = "zarnengine";
constexpr unsigned OPEN_TIMEOUT_MS = 10000;
constexpr unsigned SEEK_TIMEOUT_MS = 5000;
constexpr unsigned PREROLL_POLL_MS = 20;
constexpr unsigned SCAN_TIMEOUT_MS = 3000;

// playbin's flags: subtitles are not shown, and the renderer applies the
// volume itself when it is the sink.
constexpr guint PLAY_FLAG_TEXT = 1u << 2;
constexpr guint PLAY_FLAG_SOFT_VOLUME = 1u << 4;

std::int64_t ToUnits(gint64 ns) {
    return ns / 100;
}

std::string TagText(GstElement* playbin, const char* signal, const char* tag) {
    gint streams = 0;
    g_object_get(playbin, std::strcmp(signal, "get-video-tags") == 0 ? "n-video" : "n-audio",
                 &streams, nullptr);
    for (gint i = 0; i < streams; ++i) {
        GstTagList* tags = nullptr;
        g_signal_emit_by_name(playbin, signal, i, &tags);
        if (!tags)
            continue;
        gchar* value = nullptr;
        const bool found = gst_tag_list_get_string(tags, tag, &value);
        gst_tag_list_unref(tags);
        if (found) {
            std::string text = value;
            g_free(value);
            return text;
        }
    }
    return {};
}

} // namespace

Player::Player() = default;

Player::~Player() {
    Teardown();
    DropMessages();
    if (log_)
        log_->Release();
}

HRESULT Player::QueryInterface(const IID& iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPlayer) {
        *out = static_cast<IPlayer*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Player::AddRef() {
    return static_cast<ULONG>(++refs_);
}

ULONG Player::Release() {
    const std::int32_t left = --refs_;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT Player::SetWindows(Window* notify, VideoWindow* video) {
    notify_ = notify;
    video_ = video;
    if (session_)
        session_->video.SetWindow(video);
    return S_OK;
}

HRESULT Player::Shutdown() {
    Close();
    notify_ = nullptr;
    video_ = nullptr;
    return S_OK;
}

void Player::Log(bool error, const std::string& message) {
    std::lock_guard<std::mutex> hold(logLock_);
    if (!log_)
        return;
    if (error)
        log_->LogError(LOG_SOURCE, message.c_str());
    else
        log_->LogDebug(LOG_SOURCE, message.c_str());
}

HRESULT Player::SetLogSink(IUnknown* sink) {
    ILogSink* next = nullptr;
    if (sink) {
        void* out = nullptr;
        if (sink->QueryInterface(IID_ILogSink, &out) != S_OK)
            return E_NOINTERFACE;
        next = static_cast<ILogSink*>(out);
    }
    ILogSink* old;
    {
        std::lock_guard<std::mutex> hold(logLock_);
        old = log_;
        log_ = next;
    }
    if (old)
        old->Release();
    return S_OK;
}

GstBusSyncReply Player::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    // Any thread. The message is queued before the event is posted, so the
    // GUI thread always finds what an event announced.
    auto* player = static_cast<Player*>(self);
    bool post;
    {
        std::lock_guard<std::mutex> hold(player->messageLock_);
        player->messages_.push_back(message);
        post = !player->eventPosted_;
        player->eventPosted_ = true;
    }
    if (post) {
        if (Window* window = player->notify_.load())
            window->PostMessage(WM_PLAYER_EVENT, 0, 0);
    }
    return GST_BUS_DROP; // the queue owns the message now
}

GstMessage* Player::NextMessage() {
    std::lock_guard<std::mutex> hold(messageLock_);
    if (messages_.empty())
        return nullptr;
    GstMessage* message = messages_.front();
    messages_.pop_front();
    return message;
}

void Player::DropMessages() {
    while (GstMessage* message = NextMessage())
        gst_message_unref(message);
}

void Player::DrainBus(bool dropEndOfStream) {
    if (!session_)
        return;
    while (GstMessage* message = NextMessage()) {
        HandleMessage(message, dropEndOfStream);
        gst_message_unref(message);
    }
}

void Player::HandleMessage(GstMessage* message, bool dropEndOfStream) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING: {
        const bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        GError* err = nullptr;
        gchar* debug = nullptr;
        if (error)
            gst_message_parse_error(message, &err, &debug);
        else
            gst_message_parse_warning(message, &err, &debug);
        std::string text = std::string(error ? "error" : "warning") + " from " +
                           (GST_MESSAGE_SRC_NAME(message) ? GST_MESSAGE_SRC_NAME(message) : "?") +
                           ": " + (err ? err->message : "") +
                           (debug ? std::string(" (") + debug + ")" : "");
        g_clear_error(&err);
        g_free(debug);
        Log(error, text);
        if (error) {
            session_->failed = true;
            // Playback has stopped; the next Play starts the file again.
            // The window hears of it as an end of file that failed, so it
            // can say so and go on with the list.
            if (state_ == PLAYER_PLAYING || state_ == PLAYER_PAUSED) {
                state_ = PLAYER_STOPPED;
                ended_ = true;
                if (Window* window = notify_.load())
                    window->PostMessage(WM_PLAYER_COMPLETE, 1, 0);
            }
        }
        break;
    }
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message)) {
            gchar* what = gst_missing_plugin_message_get_description(message);
            Log(true, std::string("missing plugin: ") + (what ? what : "?"));
            g_free(what);
            session_->missingPlugin = true;
        }
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        if (!session_->scanned)
            session_->duration = 0;
        break;
    case GST_MESSAGE_EOS:
        if (dropEndOfStream || ended_)
            break;
        // The renderer posts this only after the last sample was heard.
        gst_element_set_state(session_->playbin, GST_STATE_PAUSED);
        heldPosition_ = Duration();
        state_ = PLAYER_STOPPED;
        ended_ = true;
        if (Window* window = notify_.load())
            window->PostMessage(WM_PLAYER_COMPLETE, 0, 0);
        break;
    default:
        break;
    }
}

bool Player::WaitPrerolled(unsigned timeoutMs) {
    for (unsigned waited = 0; waited < timeoutMs; waited += PREROLL_POLL_MS) {
        const GstStateChangeReturn ret = gst_element_get_state(session_->playbin, nullptr, nullptr,
                                                               PREROLL_POLL_MS * GST_MSECOND);
        DrainBus(false);
        if (session_->failed || ret == GST_STATE_CHANGE_FAILURE)
            return false;
        if (ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL)
            return true;
    }
    Log(true, "timed out waiting for the pipeline to preroll");
    return false;
}

HRESULT Player::Open(const char* path) {
    Close();
    if (!path || !*path)
        return E_INVALIDARG;
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(path, &err);
    if (!uri) {
        Log(true, std::string("cannot make a URI of ") + path + ": " + (err ? err->message : ""));
        g_clear_error(&err);
        return E_INVALIDARG;
    }

    auto session = std::make_unique<Session>();
    session->playbin = gst_element_factory_make("playbin", nullptr);
    if (!session->playbin || !session->video.Element()) {
        g_free(uri);
        Log(true, "playbin or appsink is missing from this GStreamer installation");
        if (session->playbin)
            gst_object_unref(session->playbin);
        return E_FAIL;
    }
    gst_object_ref_sink(session->playbin);
    std::string why;
    if (!session->audio.Create(why)) {
        g_free(uri);
        gst_object_unref(session->playbin);
        Log(true, "Open(" + std::string(path) + "): " + why);
        return ZARN_E_NO_RENDERER;
    }
    if (session->audio.IsRenderer()) {
        session->audio.SetRate(rate_);
        session->audio.SetFlags(flags_);
        session->audio.SetLevel(level_);
        session->audio.SetLoudness(loudnessGain_, limiter_);
    } else {
        Log(false, "audio goes to " + session->audio.FactoryName() + " instead of the renderer");
    }
    guint flags = 0;
    g_object_get(session->playbin, "flags", &flags, nullptr);
    flags &= ~PLAY_FLAG_TEXT;
    if (session->audio.IsRenderer())
        flags &= ~PLAY_FLAG_SOFT_VOLUME;
    g_object_set(session->playbin, "uri", uri, "flags", flags, "audio-sink",
                 session->audio.Element(), "video-sink", session->video.Element(), nullptr);
    g_free(uri);
    session->video.SetWindow(video_);

    GstBus* bus = gst_element_get_bus(session->playbin);
    gst_bus_set_sync_handler(bus, &Player::OnBusMessage, this, nullptr);
    gst_object_unref(bus);

    session_ = std::move(session);
    fileName_ = path;
    if (!session_->audio.IsRenderer())
        SetVolume(level_);
    if (gst_element_set_state(session_->playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        !WaitPrerolled(OPEN_TIMEOUT_MS)) {
        DrainBus(true);
        Log(true, "Open(" + fileName_ + "): the file cannot be played");
        Teardown();
        return E_FAIL;
    }
    gint audio = 0, video = 0;
    g_object_get(session_->playbin, "n-audio", &audio, "n-video", &video, nullptr);
    session_->hasAudio = audio > 0;
    session_->hasVideo = video > 0;
    if (!session_->hasAudio && !session_->hasVideo) {
        Log(true, "Open(" + fileName_ + "): " +
                      (session_->missingPlugin ? "no decoder for any of its streams"
                                               : "no audio or video stream"));
        Teardown();
        return E_FAIL;
    }
    // A stream without a stated length is measured now: a guess from its
    // first frames can be several percent off.
    if (Duration() == 0)
        session_->scanned = (session_->duration = ScanDuration(fileName_, SCAN_TIMEOUT_MS)) > 0;
    ended_ = false;
    heldPosition_ = 0;
    if (RateBySeek() && rate_ != 1.0 && !Seek(0)) {
        Teardown();
        return E_FAIL;
    }
    state_ = PLAYER_STOPPED;
    if (Window* window = notify_.load())
        window->PostMessage(WM_PLAYER_OPENED, 0, 0);
    return S_OK;
}

void Player::Teardown() {
    if (!session_)
        return;
    gst_element_set_state(session_->playbin, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(session_->playbin);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(session_->playbin);
    DropMessages();
    session_.reset();
    fileName_.clear();
    state_ = PLAYER_NOFILE;
    ended_ = false;
    heldPosition_ = 0;
}

HRESULT Player::Close() {
    if (!session_)
        return S_OK;
    Teardown();
    // Full screen ends with the file; the program re-enters it for the next one.
    const bool wasFull = video_ && video_->IsFullScreen();
    if (wasFull)
        video_->SetFullScreen(false);
    if (Window* window = notify_.load())
        window->PostMessage(WM_PLAYER_CLOSED, wasFull ? 1 : 0, 0);
    return S_OK;
}

bool Player::RateBySeek() const {
    return !session_->audio.IsRenderer() || !session_->hasAudio;
}

bool Player::Seek(std::int64_t position) {
    DrainBus(true);
    const double rate = RateBySeek() ? rate_ : 1.0;
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(session_->playbin, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                          position * 100, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)) {
        Log(true, "seek to " + std::to_string(position / 10000) + " ms refused");
        return false;
    }
    return WaitPrerolled(SEEK_TIMEOUT_MS);
}

HRESULT Player::Play() {
    if (!session_)
        return E_UNEXPECTED;
    if (state_ == PLAYER_PLAYING)
        return S_OK;
    if (ended_) {
        ended_ = false;
        session_->failed = false;
        if (!Seek(0))
            return E_FAIL;
    } else if (state_ == PLAYER_PAUSED) {
        // Pausing dropped what the renderer had queued but not played; start
        // again exactly where the listener stopped hearing.
        if (!Seek(heldPosition_))
            return E_FAIL;
    }
    if (gst_element_set_state(session_->playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    state_ = PLAYER_PLAYING;
    return S_OK;
}

HRESULT Player::Pause() {
    if (!session_)
        return E_UNEXPECTED;
    if (state_ != PLAYER_PLAYING)
        return S_OK;
    const std::int64_t heard = QueryPosition();
    gst_element_set_state(session_->playbin, GST_STATE_PAUSED);
    heldPosition_ = heard;
    state_ = PLAYER_PAUSED;
    return S_OK;
}

HRESULT Player::Stop() {
    if (!session_)
        return E_UNEXPECTED;
    gst_element_set_state(session_->playbin, GST_STATE_PAUSED);
    ended_ = false;
    session_->failed = false;
    state_ = PLAYER_STOPPED;
    heldPosition_ = 0;
    return Seek(0) ? S_OK : E_FAIL;
}

HRESULT Player::SetPosition(std::int64_t position) {
    if (!session_)
        return E_UNEXPECTED;
    const std::int64_t duration = Duration();
    position = std::max<std::int64_t>(0, duration > 0 ? std::min(position, duration) : position);
    if (ended_) {
        ended_ = false;
        session_->failed = false;
    }
    heldPosition_ = position;
    return Seek(position) ? S_OK : E_FAIL;
}

std::int64_t Player::Duration() {
    if (!session_)
        return 0;
    if (session_->duration <= 0) {
        gint64 ns = 0;
        if (gst_element_query_duration(session_->playbin, GST_FORMAT_TIME, &ns) && ns > 0)
            session_->duration = ToUnits(ns);
    }
    return session_->duration;
}

std::int64_t Player::QueryPosition() {
    if (!session_)
        return 0;
    if (state_ != PLAYER_PLAYING)
        return heldPosition_;
    // What was heard: the renderer answers from its clock.
    GstElement* target = session_->audio.IsRenderer() && session_->hasAudio
                             ? session_->audio.Element()
                             : session_->playbin;
    gint64 ns = 0;
    if (!gst_element_query_position(target, GST_FORMAT_TIME, &ns) || ns < 0)
        return heldPosition_;
    // MPEG program streams stamp their first sample at about 0.5 s and so
    // end about 0.5 s after their stated length: the position stays inside it.
    std::int64_t position = ToUnits(ns);
    const std::int64_t duration = Duration();
    if (duration > 0)
        position = std::min(position, duration);
    return position;
}

HRESULT Player::ToggleFullScreen() {
    if (!video_ || !session_ || !session_->hasVideo)
        return S_FALSE;
    video_->SetFullScreen(!video_->IsFullScreen());
    return S_OK;
}

bool Player::IsAudioOnly() {
    return !session_ || !session_->hasVideo;
}

bool Player::IsFullScreen() {
    return video_ && video_->IsFullScreen();
}

HRESULT Player::GetState(std::int32_t* state) {
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT Player::GetDuration(std::int64_t* duration) {
    if (!duration)
        return E_POINTER;
    *duration = Duration();
    return S_OK;
}

HRESULT Player::GetPosition(std::int64_t* position) {
    if (!position)
        return E_POINTER;
    *position = QueryPosition();
    return S_OK;
}

HRESULT Player::GetTimes(std::int64_t* position, std::int64_t* duration) {
    if (!position || !duration)
        return E_POINTER;
    *position = QueryPosition();
    *duration = Duration();
    return S_OK;
}

HRESULT Player::SetVolume(std::int32_t level) {
    level_ = std::clamp<std::int32_t>(level, -10000, 0);
    if (!session_)
        return S_OK;
    if (session_->audio.IsRenderer()) {
        session_->audio.SetLevel(level_);
    } else {
        // Hundredths of a decibel to playbin's linear volume.
        const double linear = level_ <= -10000 ? 0.0 : std::pow(10.0, level_ / 2000.0);
        g_object_set(session_->playbin, "volume", linear, nullptr);
    }
    return S_OK;
}

HRESULT Player::SetRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate))
        return E_INVALIDARG;
    if (session_ && session_->audio.IsRenderer()) {
        const HRESULT hr = session_->audio.SetRate(rate);
        if (FAILED(hr))
            return hr;
    }
    const double old = rate_;
    rate_ = rate;
    if (session_ && RateBySeek() && rate != old) {
        // Without the renderer's clock the segment carries the rate.
        const std::int64_t at = QueryPosition();
        if (state_ == PLAYER_PAUSED)
            heldPosition_ = at;
        else if (!Seek(at))
            return E_FAIL;
    }
    return S_OK;
}

HRESULT Player::GetFileName(const char** path) {
    if (!path)
        return E_POINTER;
    *path = fileName_.c_str();
    return session_ ? S_OK : S_FALSE;
}

HRESULT Player::GetVideoSize(std::int32_t* width, std::int32_t* height) {
    if (!width || !height)
        return E_POINTER;
    *width = *height = 0;
    if (!session_ || !session_->hasVideo)
        return S_OK;
    int w = 0, h = 0;
    if (session_->video.Size(w, h)) {
        *width = w;
        *height = h;
    }
    return S_OK;
}

HRESULT Player::SetOption(std::int32_t option, std::int32_t value) {
    // Option 1 goes to the renderer's flags as it is (a stored 2 stays 2);
    // option 2 adds the smooth-splice bit.
    if (option == PLAYER_OPTION_SKIP_SILENCE)
        flags_ = (value & ~ZARN_FLAG_SMOOTH) | (flags_ & ZARN_FLAG_SMOOTH);
    else if (option == PLAYER_OPTION_SMOOTH_SPLICES)
        flags_ = value ? flags_ | ZARN_FLAG_SMOOTH : flags_ & ~ZARN_FLAG_SMOOTH;
    else if (option == PLAYER_OPTION_LOUDNESS_GAIN || option == PLAYER_OPTION_LIMITER)
        return SetLoudnessOption(option, value);
    else
        return E_INVALIDARG;
    if (session_ && session_->audio.IsRenderer())
        return session_->audio.SetFlags(flags_);
    return S_OK;
}

HRESULT Player::SetLoudnessOption(std::int32_t option, std::int32_t value) {
    if (option == PLAYER_OPTION_LOUDNESS_GAIN) {
        // The renderer's range; a gain outside it is refused, not bent.
        if (value < -4000 || value > 2400)
            return E_INVALIDARG;
        loudnessGain_ = value;
    } else {
        limiter_ = value != 0;
    }
    // The file playing glides to the new gain in its renderer.
    if (session_ && session_->audio.IsRenderer())
        session_->audio.SetLoudness(loudnessGain_, limiter_);
    return S_OK;
}

HRESULT Player::UpdateVideoWindow() {
    if (session_)
        session_->video.Represent();
    return S_OK;
}

HRESULT Player::Tick() {
    // Catches up on bus messages should a posted event have been lost.
    DrainBus(false);
    return S_OK;
}

HRESULT Player::HandleEvent() {
    {
        std::lock_guard<std::mutex> hold(messageLock_);
        eventPosted_ = false;
    }
    DrainBus(false);
    return S_OK;
}

HRESULT Player::GetInfoText(char** buffer, std::uint32_t* size) {
    gchar* gst = gst_version_string();
    const std::string text =
        std::string("zarnengine ") + ZARN_ENGINE_VERSION + " (playbin) on " + gst;
    g_free(gst);
    return WriteInfoText(buffer, size, text);
}

std::string Player::StreamInfo() const {
    std::string text;
    auto line = [&text](const char* what, const std::string& value) {
        if (!value.empty())
            text += std::string("\n") + what + ": " + value;
    };
    GstElement* playbin = session_->playbin;
    std::string container = TagText(playbin, "get-audio-tags", GST_TAG_CONTAINER_FORMAT);
    if (container.empty())
        container = TagText(playbin, "get-video-tags", GST_TAG_CONTAINER_FORMAT);
    line("Container", container);
    line("Video", TagText(playbin, "get-video-tags", GST_TAG_VIDEO_CODEC));
    line("Audio", TagText(playbin, "get-audio-tags", GST_TAG_AUDIO_CODEC));
    return text;
}

HRESULT Player::GetExtraInfoText(char** buffer, std::uint32_t* size) {
    std::string text;
    if (session_) {
        text = "Audio output: " + session_->audio.VendorInfo() + StreamInfo();
    } else {
        AudioOutput probe;
        std::string why;
        text = probe.Create(why) ? "Audio output: " + probe.VendorInfo()
                                 : "Audio output not available: " + why;
    }
    return WriteInfoText(buffer, size, text);
}
