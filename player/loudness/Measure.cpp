#include "player/loudness/Measure.h"

#include "player/loudness/Groups.h"

#include <ebur128.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

namespace loudness {

namespace {

constexpr char kDone[] = "zarn-loudness-done";
constexpr double kReplayGainReference = -18;
constexpr double kR128Reference = -23;
// Tags still count when they come this late in the sound (some containers
// send them after the first buffers).
constexpr double kTagGrace = 0.5;

// Shared by the streaming thread, which feeds it, and the caller, which
// reads it once the pipeline has stopped.
struct Run {
    std::mutex m;
    GstElement* pipeline = nullptr;
    const MeasureRequest* request = nullptr;
    // Each group's first audio stream feeds the one meter.
    TGroupLinks groups;
    bool heardAudio = false; // a group before had sound
    ebur128_state* state = nullptr;
    int channels = 0;
    int rate = 0;
    std::uint64_t frames = 0;
    bool finished = false;
    bool complete = false; // the whole stream went through
    std::optional<double> tagLoudness;
    std::optional<double> tagPeak;
    std::string failure;

    ~Run() {
        if (state)
            ebur128_destroy(&state);
    }
    double Seconds() const { return rate > 0 ? static_cast<double>(frames) / rate : 0; }
    // Under m: the measurement is over; the caller's wait ends.
    void Finish(bool whole) {
        if (finished)
            return;
        finished = true;
        complete = whole;
        gst_element_post_message(
            pipeline,
            gst_message_new_application(GST_OBJECT(pipeline), gst_structure_new_empty(kDone)));
    }
};

void TakeTags(Run& run, const GstTagList* tags) {
    double gain = 0, peak = 0;
    if (gst_tag_list_get_double(tags, GST_TAG_TRACK_GAIN, &gain)) {
        if (auto l = FromReplayGain(gain))
            run.tagLoudness = l;
        if (gst_tag_list_get_double(tags, GST_TAG_TRACK_PEAK, &peak) && peak > 0 &&
            std::isfinite(peak))
            run.tagPeak = 20 * std::log10(peak);
        return;
    }
    // Opus files name their gain R128_TRACK_GAIN, which reaches the tags
    // as an extended comment "R128_TRACK_GAIN=value".
    const guint n = gst_tag_list_get_tag_size(tags, GST_TAG_EXTENDED_COMMENT);
    for (guint i = 0; i < n; ++i) {
        const gchar* comment = nullptr;
        if (!gst_tag_list_peek_string_index(tags, GST_TAG_EXTENDED_COMMENT, i, &comment) ||
            !comment)
            continue;
        constexpr std::string_view key = "R128_TRACK_GAIN=";
        const std::string_view text(comment);
        if (text.size() <= key.size() || strncasecmp(comment, key.data(), key.size()) != 0)
            continue;
        const std::string value(text.substr(key.size()));
        char* end = nullptr;
        const long q78 = std::strtol(value.c_str(), &end, 10);
        if (end && *end == '\0' && end != value.c_str())
            if (auto l = FromR128Gain(q78))
                run.tagLoudness = l;
    }
}

GstPadProbeReturn OnTags(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* run = static_cast<Run*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_TAG && run->request->UseTags) {
        GstTagList* tags = nullptr;
        gst_event_parse_tag(event, &tags);
        std::lock_guard<std::mutex> lock(run->m);
        if (tags && run->Seconds() <= kTagGrace)
            TakeTags(*run, tags);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnSound(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* run = static_cast<Run*>(data);
    std::lock_guard<std::mutex> lock(run->m);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_EOS)
            run->Finish(true);
        if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS || run->finished)
            return GST_PAD_PROBE_OK;
        // A new format (the next chain of a chained file): the meter keeps
        // what it measured and takes the new rate and channels.
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        int channels = 0, rate = 0;
        if (!s || !gst_structure_get_int(s, "channels", &channels) ||
            !gst_structure_get_int(s, "rate", &rate) || channels < 1 || channels > 64 ||
            rate < 1000 || rate > 768000) {
            run->failure = "the decoded sound has no usable format";
            run->Finish(false);
            return GST_PAD_PROBE_OK;
        }
        const int mode = EBUR128_MODE_I | (run->request->TruePeak ? EBUR128_MODE_TRUE_PEAK : 0);
        if (!run->state)
            run->state = ebur128_init(static_cast<unsigned>(channels),
                                      static_cast<unsigned long>(rate), mode);
        else if ((channels != run->channels || rate != run->rate) &&
                 ebur128_change_parameters(run->state, static_cast<unsigned>(channels),
                                           static_cast<unsigned long>(rate)) != EBUR128_SUCCESS)
            run->failure = "the loudness meter cannot take the format";
        if (!run->state)
            run->failure = "the loudness meter cannot start";
        if (!run->failure.empty())
            run->Finish(false);
        // Seconds count in frames of the format at hand.
        if (run->rate > 0 && rate != run->rate)
            run->frames =
                static_cast<std::uint64_t>(static_cast<double>(run->frames) * rate / run->rate);
        run->channels = channels;
        run->rate = rate;
        return GST_PAD_PROBE_OK;
    }
    if (run->finished)
        return GST_PAD_PROBE_DROP;
    if (run->tagLoudness) {
        run->Finish(false);
        return GST_PAD_PROBE_DROP;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!run->state)
        return GST_PAD_PROBE_DROP;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_DROP;
    std::size_t frames = map.size / (sizeof(float) * static_cast<std::size_t>(run->channels));
    if (run->request->MaxSeconds > 0) {
        const double left = run->request->MaxSeconds * run->rate - static_cast<double>(run->frames);
        frames = std::min(frames, static_cast<std::size_t>(std::max(0.0, left)));
    }
    if (frames > 0)
        ebur128_add_frames_float(run->state, reinterpret_cast<const float*>(map.data), frames);
    gst_buffer_unmap(buffer, &map);
    run->frames += frames;
    if (run->request->MaxSeconds > 0 && run->Seconds() >= run->request->MaxSeconds)
        run->Finish(false);
    return GST_PAD_PROBE_DROP;
}

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

// The first audio stream of each group goes to the meter's converter.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* run = static_cast<Run*>(data);
    const bool sound = TGroupLinks::CarriesSound(pad);
    std::lock_guard<std::mutex> lock(run->m);
    if (run->groups.Added(pad, sound))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnTags, run, nullptr);
}

void OnPadRemoved(GstElement*, GstPad*, gpointer data) {
    auto* run = static_cast<Run*>(data);
    std::lock_guard<std::mutex> lock(run->m);
    run->groups.Removed();
}

void OnNoMorePads(GstElement*, gpointer data) {
    auto* run = static_cast<Run*>(data);
    std::lock_guard<std::mutex> lock(run->m);
    run->groups.Closed();
    // Nothing would ever reach the meter's sink, whose end the pipeline
    // waits for.
    if (!run->groups.GroupHasAudio() && !run->heardAudio) {
        run->failure = "the file has no sound stream";
        run->Finish(false);
    }
    run->heardAudio = run->heardAudio || run->groups.GroupHasAudio();
}

// Decoders of pictures and texts are never plugged: the measurement needs
// only sound, and such a stream is left undecoded for a sink that drops it.
// (decodebin's answers: 0 tries the factory, 1 exposes the stream as it is.)
int OnSelect(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    const bool decoder = klass && std::strstr(klass, "Decoder");
    const bool sound = klass && std::strstr(klass, "Audio");
    return decoder && !sound ? 1 : 0;
}

} // namespace

std::optional<double> FromReplayGain(double gainDb) {
    if (!std::isfinite(gainDb) || gainDb < -30 || gainDb > 40)
        return std::nullopt;
    const double l = kReplayGainReference - gainDb;
    return Plausible(l) ? std::optional<double>(l) : std::nullopt;
}

std::optional<double> FromR128Gain(long q78) {
    if (q78 < -32768 || q78 > 32767)
        return std::nullopt;
    const double l = kR128Reference - static_cast<double>(q78) / 256;
    return Plausible(l) ? std::optional<double>(l) : std::nullopt;
}

MeasureOutcome Measure(const std::string& path, const MeasureRequest& request) {
    MeasureOutcome out;
    Run run;
    run.request = &request;
    GstElement* source = Make("filesrc");
    GstElement* decode = Make("decodebin");
    GstElement* convert = Make("audioconvert");
    GstElement* filter = Make("capsfilter");
    GstElement* sink = Make("fakesink");
    run.pipeline = gst_pipeline_new(nullptr);
    if (!source || !decode || !convert || !filter || !sink || !run.pipeline) {
        for (GstElement* e : {source, decode, convert, filter, sink, run.pipeline})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        out.Failure = "no decoder for the measurement";
        return out;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    GstCaps* f32 = gst_caps_from_string("audio/x-raw,format=F32LE,layout=interleaved");
    g_object_set(filter, "caps", f32, nullptr);
    gst_caps_unref(f32);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(run.pipeline), source, decode, convert, filter, sink, nullptr);
    gst_element_link(source, decode);
    gst_element_link_many(convert, filter, sink, nullptr);
    run.groups.Attach(run.pipeline, convert);
    GstPad* in = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(in,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      OnSound, &run, nullptr);
    gst_object_unref(in);
    g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), &run);
    g_signal_connect(decode, "pad-removed", G_CALLBACK(OnPadRemoved), &run);
    g_signal_connect(decode, "no-more-pads", G_CALLBACK(OnNoMorePads), &run);

    g_signal_connect(decode, "autoplug-select", G_CALLBACK(OnSelect), nullptr);

    GstBus* bus = gst_element_get_bus(run.pipeline);
    const auto deadline = std::chrono::steady_clock::now() + request.TimeOut;
    bool timedOut = false;
    std::string error;
    if (gst_element_set_state(run.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = "the file cannot be decoded";
    } else {
        const auto wanted = static_cast<GstMessageType>(GST_MESSAGE_APPLICATION |
                                                        GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            if (request.Cancelled && request.Cancelled()) {
                error = "the measurement was called off";
                break;
            }
            GstMessage* msg = gst_bus_timed_pop_filtered(
                bus, static_cast<GstClockTime>(std::min<std::int64_t>(left.count(), 100'000'000)),
                wanted);
            if (!msg)
                continue;
            const GstMessageType type = GST_MESSAGE_TYPE(msg);
            if (type == GST_MESSAGE_ERROR) {
                GError* err = nullptr;
                gst_message_parse_error(msg, &err, nullptr);
                error = err ? err->message : "the decoder failed";
                if (err)
                    g_error_free(err);
            }
            const bool ours = type != GST_MESSAGE_APPLICATION || gst_message_has_name(msg, kDone);
            gst_message_unref(msg);
            if (ours)
                break;
        }
    }
    // decodebin removes its pads as it stops: the sinks stay for the
    // pipeline's own end.
    g_signal_handlers_disconnect_by_data(decode, &run);
    gst_element_set_state(run.pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(run.pipeline);

    std::lock_guard<std::mutex> lock(run.m);
    if (run.tagLoudness) {
        TLoudnessFigure f;
        f.From = TLoudnessFigure::Source::Tags;
        f.Integrated = *run.tagLoudness;
        f.Peak = run.tagPeak.value_or(TLoudnessFigure::NoPeak);
        f.Whole = true;
        out.Figure = f;
        return out;
    }
    // A decoder error or a time-out is no figure, even with sound measured
    // before it: a part of a file is not the file.
    if (timedOut) {
        out.Failure = "the measurement overran its time";
        return out;
    }
    if (!error.empty() || !run.failure.empty()) {
        out.Failure = !run.failure.empty() ? run.failure : error;
        return out;
    }
    if (!run.state || run.frames == 0) {
        out.Failure = "the file holds no sound";
        return out;
    }
    double integrated = 0;
    if (ebur128_loudness_global(run.state, &integrated) != EBUR128_SUCCESS) {
        out.Failure = "the loudness meter failed";
        return out;
    }
    TLoudnessFigure f;
    f.Seconds = run.Seconds();
    f.Whole = run.complete;
    if (!Plausible(integrated)) {
        // Silence (or near it): no level to bring anywhere.
        out.Failure = "the file is silent";
        return out;
    }
    f.Integrated = integrated;
    if (request.TruePeak) {
        double peak = 0, most = 0;
        for (int c = 0; c < run.channels; ++c)
            if (ebur128_true_peak(run.state, static_cast<unsigned>(c), &peak) == EBUR128_SUCCESS)
                most = std::max(most, peak);
        f.Peak = most > 0 ? 20 * std::log10(most) : TLoudnessFigure::NoPeak;
    }
    out.Figure = f;
    return out;
}

} // namespace loudness
