#include "audio/filter/ZarnAudioSink.h"

#include "audio/filter/AudioRenderer.h"
#include "audio/filter/ZarnClock.h"
#include "platform/sound/SoundBuffer.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <mutex>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(zarn_audio_sink_debug);
#define GST_CAT_DEFAULT zarn_audio_sink_debug

namespace {

// What the renderer's input conversion renders; playbin converts the rest.
const char* kCaps = "audio/x-raw, format = (string) { S16LE, U8 }, layout = (string) interleaved, "
                    "rate = (int) [ 1, 2147483647 ], channels = (int) [ 1, 2 ]";

enum {
    PROP_0,
    PROP_RATE,
    PROP_FLAGS,
    PROP_OUTPUT_STATE,
    PROP_LEVEL,
    PROP_RATE_INTERFACE,
    PROP_VENDOR_INFO,
    PROP_LOUDNESS_GAIN,
    PROP_LIMITER,
};

struct SinkPrivate {
    CAudioRenderer renderer;
    GstClock* clock = nullptr;
    Event unlocked{true, false};
    // Guards the fields below; taken briefly by any thread, never while waiting.
    std::mutex lock;
    std::int64_t nextStart = -1;   // reference time after the last buffer (100 ns)
    GstClockTime renderedEnd = 0;  // running time after the last buffer rendered
    GstClockTime heldPosition = 0; // running time heard when streaming stopped
    bool streaming = false;
};

} // namespace

struct _ZarnAudioSink {
    GstBaseSink parent;
    SinkPrivate* priv;
};

G_DEFINE_TYPE(ZarnAudioSink, zarn_audio_sink, GST_TYPE_BASE_SINK)

CAudioRenderer* zarn_audio_sink_renderer(ZarnAudioSink* sink) {
    return &sink->priv->renderer;
}

namespace {

SinkPrivate* privOf(gpointer sink) {
    return ZARN_AUDIO_SINK(sink)->priv;
}

// The sound layer's warnings (a server gone or back, no device) become
// warning messages of every live element, so they reach the application's
// bus and its log. The lock is taken before GStreamer's own and never while
// closing an output.
std::mutex& liveLock() {
    static std::mutex m;
    return m;
}
std::vector<GstElement*>& liveSinks() {
    static std::vector<GstElement*> v;
    return v;
}

void postSoundWarning(const std::string& text) {
    std::lock_guard<std::mutex> g(liveLock());
    for (GstElement* e : liveSinks())
        GST_ELEMENT_WARNING(e, RESOURCE, WRITE, ("%s", text.c_str()), (nullptr));
}

// Running time heard now: the clock less the base time while streaming,
// never past what was rendered; the held position otherwise.
GstClockTime heardRunningTime(GstElement* element) {
    SinkPrivate* p = privOf(element);
    std::lock_guard<std::mutex> g(p->lock);
    if (!p->streaming)
        return p->heldPosition;
    GstClockTime base = gst_element_get_base_time(element);
    GstClockTime now = static_cast<GstClockTime>(p->renderer.Clock()->NowNs());
    GstClockTime rt = now > base ? now - base : 0;
    if (rt > p->renderedEnd)
        rt = p->renderedEnd;
    if (rt < p->heldPosition)
        rt = p->heldPosition;
    return rt;
}

bool startStreaming(GstElement* element) {
    SinkPrivate* p = privOf(element);
    if (!p->renderer.OnStartStreaming()) {
        GST_ELEMENT_ERROR(element, RESOURCE, OPEN_WRITE, ("The sound output could not be opened."),
                          ("no sound device takes this format; set ZARN_AUDIO_DEVICE=null to "
                           "play without sound"));
        return false;
    }
    std::lock_guard<std::mutex> g(p->lock);
    p->streaming = true;
    p->nextStart = -1;
    return true;
}

void stopStreaming(GstElement* element, bool keepPosition) {
    SinkPrivate* p = privOf(element);
    GstClockTime heard = heardRunningTime(element);
    p->renderer.OnStopStreaming();
    std::lock_guard<std::mutex> g(p->lock);
    p->streaming = false;
    p->heldPosition = keepPosition ? heard : 0;
    if (!keepPosition)
        p->renderedEnd = 0;
}

} // namespace

static GstStateChangeReturn zarn_audio_sink_change_state(GstElement* element,
                                                         GstStateChange transition) {
    SinkPrivate* p = privOf(element);
    switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED: {
        p->renderer.NewStream();
        std::lock_guard<std::mutex> g(p->lock);
        p->heldPosition = 0;
        p->renderedEnd = 0;
        p->nextStart = -1;
        break;
    }
    case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
        // Before chaining up: the base class lets a blocked render go on as
        // part of this change, and it must find a pipeline.
        if (!startStreaming(element))
            return GST_STATE_CHANGE_FAILURE;
        break;
    default:
        break;
    }
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(zarn_audio_sink_parent_class)->change_state(element, transition);
    switch (transition) {
    case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
        stopStreaming(element, true);
        break;
    case GST_STATE_CHANGE_PAUSED_TO_READY:
        stopStreaming(element, false);
        break;
    default:
        break;
    }
    return ret;
}

static gboolean zarn_audio_sink_set_caps(GstBaseSink* sink, GstCaps* caps) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps))
        return FALSE;
    WAVEFORMATEX f = MakePcmFormat(GST_AUDIO_INFO_CHANNELS(&info), GST_AUDIO_INFO_RATE(&info),
                                   GST_AUDIO_INFO_WIDTH(&info));
    if (!CAudioRenderer::IsRenderable(f) ||
        GST_AUDIO_INFO_LAYOUT(&info) != GST_AUDIO_LAYOUT_INTERLEAVED)
        return FALSE;
    privOf(sink)->renderer.SetMediaType(f);
    return TRUE;
}

static GstFlowReturn zarn_audio_sink_render(GstBaseSink* sink, GstBuffer* buffer) {
    SinkPrivate* p = privOf(sink);
    const WAVEFORMATEX& f = p->renderer.Format();
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_ERROR;

    // Reference times: running time plus base time, in 100 ns units. A
    // buffer without a time stamp continues from the previous one.
    GstClockTime base = gst_element_get_base_time(GST_ELEMENT(sink));
    GstClockTime frames = f.nBlockAlign ? map.size / f.nBlockAlign : 0;
    GstClockTime length = gst_util_uint64_scale(frames, GST_SECOND, f.nSamplesPerSec);
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    std::int64_t start;
    {
        std::lock_guard<std::mutex> g(p->lock);
        GstClockTime rt = GST_CLOCK_TIME_NONE;
        if (GST_CLOCK_TIME_IS_VALID(pts))
            rt = gst_segment_to_running_time(&sink->segment, GST_FORMAT_TIME, pts);
        if (GST_CLOCK_TIME_IS_VALID(rt))
            start = static_cast<std::int64_t>((rt + base) / 100);
        else
            start = p->nextStart >= 0 ? p->nextStart : static_cast<std::int64_t>(base / 100);
        p->nextStart = start + static_cast<std::int64_t>(length / 100);
        GstClockTime endRt = static_cast<GstClockTime>(p->nextStart) * 100;
        endRt = endRt > base ? endRt - base : 0;
        if (endRt > p->renderedEnd)
            p->renderedEnd = endRt;
    }
    std::int64_t stop = start + static_cast<std::int64_t>(length / 100);

    GstFlowReturn ret = GST_FLOW_OK;
    for (;;) {
        auto r = p->renderer.DoRenderSample(map.data, map.size, start, stop, p->unlocked);
        if (r == CAudioRenderer::RenderResult::Sent)
            break;
        if (r == CAudioRenderer::RenderResult::Failed) {
            GST_ELEMENT_ERROR(
                sink, RESOURCE, OPEN_WRITE,
                ("The sound output could not be opened for the stream's new format."),
                ("%u Hz, %u channels, %u bits", f.nSamplesPerSec, f.nChannels, f.wBitsPerSample));
            ret = GST_FLOW_ERROR;
            break;
        }
        // Woken for a pause or a flush: wait until playing again (the buffer
        // then goes into the new pipeline) or give up on a flush.
        ret = gst_base_sink_wait_preroll(sink);
        if (ret != GST_FLOW_OK)
            break;
    }
    gst_buffer_unmap(buffer, &map);
    return ret;
}

static GstFlowReturn zarn_audio_sink_wait_event(GstBaseSink* sink, GstEvent* event) {
    GstFlowReturn ret = GST_BASE_SINK_CLASS(zarn_audio_sink_parent_class)->wait_event(sink, event);
    if (ret != GST_FLOW_OK || GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return ret;
    SinkPrivate* p = privOf(sink);
    // Hold the end of the stream until the tail has been heard. A pause
    // during the wait throws the tail away with the pipeline; the next run
    // gets the end mark again.
    for (;;) {
        Event* drained = p->renderer.SendEndOfStream(p->unlocked);
        if (drained && WaitForAny({drained, &p->unlocked}) == WAIT_OBJECT_0)
            return GST_FLOW_OK;
        ret = gst_base_sink_wait_preroll(sink);
        if (ret != GST_FLOW_OK)
            return ret;
    }
}

static gboolean zarn_audio_sink_event(GstBaseSink* sink, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
        // Nothing queued before a seek may be heard after it.
        SinkPrivate* p = privOf(sink);
        bool wasStreaming;
        {
            std::lock_guard<std::mutex> g(p->lock);
            wasStreaming = p->streaming;
        }
        if (wasStreaming) {
            stopStreaming(GST_ELEMENT(sink), false);
            startStreaming(GST_ELEMENT(sink));
        } else {
            std::lock_guard<std::mutex> g(p->lock);
            p->heldPosition = 0;
            p->renderedEnd = 0;
            p->nextStart = -1;
        }
    }
    return GST_BASE_SINK_CLASS(zarn_audio_sink_parent_class)->event(sink, event);
}

static gboolean zarn_audio_sink_unlock(GstBaseSink* sink) {
    privOf(sink)->unlocked.Set();
    return TRUE;
}

static gboolean zarn_audio_sink_unlock_stop(GstBaseSink* sink) {
    privOf(sink)->unlocked.Reset();
    return TRUE;
}

static gboolean zarn_audio_sink_query(GstElement* element, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_POSITION) {
        GstFormat format;
        gst_query_parse_position(query, &format, nullptr);
        if (format == GST_FORMAT_TIME) {
            GstBaseSink* sink = GST_BASE_SINK(element);
            GstClockTime rt = heardRunningTime(element);
            GST_OBJECT_LOCK(sink);
            GstClockTime pos =
                gst_segment_position_from_running_time(&sink->segment, GST_FORMAT_TIME, rt);
            if (!GST_CLOCK_TIME_IS_VALID(pos))
                pos = sink->segment.start;
            pos = gst_segment_to_stream_time(&sink->segment, GST_FORMAT_TIME, pos);
            GST_OBJECT_UNLOCK(sink);
            if (GST_CLOCK_TIME_IS_VALID(pos)) {
                gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(pos));
                return TRUE;
            }
        }
    }
    return GST_ELEMENT_CLASS(zarn_audio_sink_parent_class)->query(element, query);
}

static GstClock* zarn_audio_sink_provide_clock(GstElement* element) {
    return GST_CLOCK(gst_object_ref(privOf(element)->clock));
}

static void zarn_audio_sink_set_property(GObject* object, guint id, const GValue* value,
                                         GParamSpec* pspec) {
    CAudioRenderer& r = privOf(object)->renderer;
    switch (id) {
    case PROP_RATE:
        if (r.SetRate(g_value_get_double(value)) != S_OK)
            GST_WARNING_OBJECT(object, "rate %f cannot be played; keeping the old one",
                               g_value_get_double(value));
        break;
    case PROP_FLAGS:
        r.SetFlags(g_value_get_int(value));
        break;
    case PROP_LEVEL:
        r.put_Volume(g_value_get_int(value));
        break;
    case PROP_LOUDNESS_GAIN:
        r.SetLoudnessGain(g_value_get_int(value));
        break;
    case PROP_LIMITER:
        r.SetLimiter(g_value_get_boolean(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void zarn_audio_sink_get_property(GObject* object, guint id, GValue* value,
                                         GParamSpec* pspec) {
    CAudioRenderer& r = privOf(object)->renderer;
    switch (id) {
    case PROP_RATE: {
        double rate = 1.0;
        r.GetRate(&rate);
        g_value_set_double(value, rate);
        break;
    }
    case PROP_FLAGS: {
        std::int32_t flags = 0;
        r.GetFlags(&flags);
        g_value_set_int(value, flags);
        break;
    }
    case PROP_OUTPUT_STATE: {
        std::int32_t state = -1;
        r.GetOutputState(&state);
        g_value_set_int(value, state);
        break;
    }
    case PROP_LEVEL: {
        std::int32_t level = 0;
        r.get_Volume(&level);
        g_value_set_int(value, level);
        break;
    }
    case PROP_LOUDNESS_GAIN:
        g_value_set_int(value, r.LoudnessGain());
        break;
    case PROP_LIMITER:
        g_value_set_boolean(value, r.Limiter());
        break;
    case PROP_RATE_INTERFACE:
        g_value_set_pointer(value, static_cast<IZarnRate*>(&r));
        break;
    case PROP_VENDOR_INFO:
        g_value_set_string(value, CAudioRenderer::VendorInfo());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

// Leaves the warning list while the element is still whole: a warning
// posted now holds a reference, which GObject allows during dispose.
static void zarn_audio_sink_dispose(GObject* object) {
    {
        std::lock_guard<std::mutex> g(liveLock());
        auto& live = liveSinks();
        live.erase(std::remove(live.begin(), live.end(), GST_ELEMENT(object)), live.end());
    }
    G_OBJECT_CLASS(zarn_audio_sink_parent_class)->dispose(object);
}

static void zarn_audio_sink_finalize(GObject* object) {
    SinkPrivate* p = privOf(object);
    p->renderer.OnStopStreaming();
    gst_object_unref(p->clock);
    delete p;
    G_OBJECT_CLASS(zarn_audio_sink_parent_class)->finalize(object);
}

static void zarn_audio_sink_class_init(ZarnAudioSinkClass* klass) {
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* base = GST_BASE_SINK_CLASS(klass);

    gobject->set_property = zarn_audio_sink_set_property;
    gobject->get_property = zarn_audio_sink_get_property;
    gobject->dispose = zarn_audio_sink_dispose;
    gobject->finalize = zarn_audio_sink_finalize;

    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const auto ro = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobject, PROP_RATE,
        g_param_spec_double(ZARN_PROP_RATE, "Rate",
                            "Playback speed without a change of pitch (1.0 to 4.0, or 0.25 to "
                            "0.5 to slow down)",
                            0.25, 4.0, 1.0, rw));
    g_object_class_install_property(
        gobject, PROP_FLAGS,
        g_param_spec_int(ZARN_PROP_FLAGS, "Flags",
                         "1: race through silence; 2 (with 1): adapt the speed to the sound", 0,
                         G_MAXINT, 0, rw));
    g_object_class_install_property(
        gobject, PROP_OUTPUT_STATE,
        g_param_spec_int(ZARN_PROP_OUTPUT_STATE, "Output state",
                         "-1 not streaming, 0 opened or stopped, 1 playing, 2 starved", -1, 2, -1,
                         ro));
    g_object_class_install_property(
        gobject, PROP_LEVEL,
        g_param_spec_int(ZARN_PROP_LEVEL, "Level",
                         "Volume in hundredths of a decibel (0 full, -10000 silent)", -10000, 0, 0,
                         rw));
    g_object_class_install_property(
        gobject, PROP_LOUDNESS_GAIN,
        g_param_spec_int(ZARN_PROP_LOUDNESS_GAIN, "Loudness gain",
                         "Levelling gain in hundredths of a decibel; set before the stream's "
                         "first sample it applies at once, later changes glide at 1 dB a second",
                         -4000, 2400, 0, rw));
    g_object_class_install_property(
        gobject, PROP_LIMITER,
        g_param_spec_boolean(ZARN_PROP_LIMITER, "Limiter",
                             "Holds the true peak under -1 dBTP after the loudness gain", FALSE,
                             rw));
    g_object_class_install_property(gobject, PROP_RATE_INTERFACE,
                                    g_param_spec_pointer(ZARN_PROP_RATE_INTERFACE, "Rate interface",
                                                         "The renderer's IZarnRate, for the engine",
                                                         ro));
    g_object_class_install_property(gobject, PROP_VENDOR_INFO,
                                    g_param_spec_string(ZARN_PROP_VENDOR_INFO, "Vendor info",
                                                        "The renderer's version text",
                                                        CAudioRenderer::VendorInfo(), ro));

    gst_element_class_set_static_metadata(
        element, "AudioRenderer", "Sink/Audio",
        "Plays PCM audio faster or slower without a change of pitch and drives the clock",
        "zarnplayer developers");
    gst_element_class_add_pad_template(
        element,
        gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, gst_caps_from_string(kCaps)));
    element->change_state = zarn_audio_sink_change_state;
    element->provide_clock = zarn_audio_sink_provide_clock;
    element->query = zarn_audio_sink_query;

    base->set_caps = zarn_audio_sink_set_caps;
    base->render = zarn_audio_sink_render;
    base->wait_event = zarn_audio_sink_wait_event;
    base->event = zarn_audio_sink_event;
    base->unlock = zarn_audio_sink_unlock;
    base->unlock_stop = zarn_audio_sink_unlock_stop;

    GST_DEBUG_CATEGORY_INIT(zarn_audio_sink_debug, "zarnaudiosink", 0, "zarnaudio renderer");
    sound::SetWarningSink(&postSoundWarning);
}

static void zarn_audio_sink_init(ZarnAudioSink* self) {
    self->priv = new SinkPrivate;
    self->priv->clock = zarn_clock_new(self->priv->renderer.Clock());
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_PROVIDE_CLOCK);
    // Back-pressure from the sound output paces the stream, not the clock.
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
    std::lock_guard<std::mutex> g(liveLock());
    liveSinks().push_back(GST_ELEMENT(self));
}

gboolean zarn_audio_sink_register(GstPlugin* plugin) {
    return gst_element_register(plugin, "zarnaudiosink", GST_RANK_NONE, ZARN_TYPE_AUDIO_SINK);
}
