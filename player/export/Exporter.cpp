#include "player/export/Exporter.h"

#include "audio/filter/IZarnRate.h"
#include "platform/paths.h"

#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/tag/tag.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace exporter {

std::atomic<bool>& Interrupted() {
    static std::atomic<bool> flag{false};
    return flag;
}

namespace {

// The capture file is a canonical WAV file: the sound follows this header.
constexpr long kCaptureHeaderBytes = 44;
// How often the bus loop looks at the progress and the interrupt flag.
constexpr GstClockTime kTick = 100 * GST_MSECOND;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Owns a reference and drops it at the end of the scope.
struct Unref {
    gpointer object;
    ~Unref() {
        if (object)
            gst_object_unref(object);
    }
};

// Runs the pipeline to its end: "" at end of stream, else the reason. `tick`
// runs between bus messages and may end the run with a reason of its own.
std::string RunToEnd(GstElement* pipeline, const std::function<std::string()>& tick) {
    GstBus* bus = gst_element_get_bus(pipeline);
    Unref busRef{bus};
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The element that failed has posted why.
        GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        std::string reason = "cannot start";
        if (m) {
            GError* e = nullptr;
            gst_message_parse_error(m, &e, nullptr);
            reason = e ? e->message : reason;
            g_clear_error(&e);
            gst_message_unref(m);
        }
        return reason;
    }
    for (;;) {
        if (Interrupted())
            return "interrupted";
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, kTick, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (m) {
            std::string reason;
            if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
                GError* e = nullptr;
                gst_message_parse_error(m, &e, nullptr);
                reason = e && e->message ? e->message : "unknown error";
                g_clear_error(&e);
            }
            gst_message_unref(m);
            return reason;
        }
        if (std::string reason = tick(); !reason.empty())
            return reason;
    }
}

// Title, artist and album of the input, the tags a listener sorts by.
GstTagList* CarriedTags(const GstTagList* from) {
    GstTagList* out = gst_tag_list_new_empty();
    if (!from)
        return out;
    for (const char* tag : {GST_TAG_TITLE, GST_TAG_ARTIST, GST_TAG_ALBUM}) {
        gchar* value = nullptr;
        if (gst_tag_list_get_string(from, tag, &value) && value && *value)
            gst_tag_list_add(out, GST_TAG_MERGE_REPLACE, tag, value, nullptr);
        g_free(value);
    }
    return out;
}

// What the decoding pass learns on the renderer's input pad.
struct DecodeState {
    GstElement* pipeline = nullptr;
    GstElement* convert = nullptr;
    std::atomic<bool> audioLinked{false};
    std::atomic<bool> noMorePads{false};
    std::atomic<std::uint64_t> doneNs{0}; // input time rendered
    std::mutex lock;                      // tags, caps
    GstTagList* tags = nullptr;
    GstCaps* caps = nullptr;

    ~DecodeState() {
        if (tags)
            gst_tag_list_unref(tags);
        if (caps)
            gst_caps_unref(caps);
    }
};

// The first audio stream goes to the renderer; any other stream is
// swallowed so that its demuxer keeps running.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool audio =
        caps && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/x-raw");
    if (caps)
        gst_caps_unref(caps);
    if (audio && !s->audioLinked.exchange(true)) {
        GstPad* sinkPad = gst_element_get_static_pad(s->convert, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
        return;
    }
    GstElement* fake = gst_element_factory_make("fakesink", nullptr);
    g_object_set(fake, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(s->pipeline), fake);
    gst_element_sync_state_with_parent(fake);
    GstPad* sinkPad = gst_element_get_static_pad(fake, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

void OnNoMorePads(GstElement*, gpointer data) {
    static_cast<DecodeState*>(data)->noMorePads = true;
}

GstPadProbeReturn OnRendererInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
        if (GST_BUFFER_PTS_IS_VALID(b)) {
            std::uint64_t end = GST_BUFFER_PTS(b);
            if (GST_BUFFER_DURATION_IS_VALID(b))
                end += GST_BUFFER_DURATION(b);
            if (end > s->doneNs)
                s->doneNs = end;
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
    std::lock_guard<std::mutex> g(s->lock);
    if (GST_EVENT_TYPE(e) == GST_EVENT_TAG) {
        GstTagList* list = nullptr;
        gst_event_parse_tag(e, &list);
        GstTagList* merged = gst_tag_list_merge(s->tags, list, GST_TAG_MERGE_KEEP);
        if (s->tags)
            gst_tag_list_unref(s->tags);
        s->tags = merged;
    } else if (GST_EVENT_TYPE(e) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(e, &caps);
        gst_caps_replace(&s->caps, caps);
    }
    return GST_PAD_PROBE_OK;
}

// Feeds the captured sound to the encoder as the encoder asks for it.
struct EncodeState {
    std::FILE* file = nullptr;
    GstAudioInfo info;
    std::uint64_t total = 0;
    std::atomic<std::uint64_t> pushed{0};
};

void OnNeedData(GstAppSrc* src, guint, gpointer data) {
    auto* s = static_cast<EncodeState*>(data);
    const auto frame = static_cast<std::size_t>(GST_AUDIO_INFO_BPF(&s->info));
    const std::size_t want = 16384 * frame;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, want, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    const std::size_t got = std::fread(map.data, 1, want, s->file) / frame * frame;
    gst_buffer_unmap(buffer, &map);
    if (got == 0) {
        gst_buffer_unref(buffer);
        gst_app_src_end_of_stream(src);
        return;
    }
    gst_buffer_set_size(buffer, static_cast<gssize>(got));
    const std::uint64_t at = s->pushed;
    const auto rate = static_cast<std::uint64_t>(GST_AUDIO_INFO_RATE(&s->info));
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at / frame, GST_SECOND, rate);
    GST_BUFFER_DURATION(buffer) =
        gst_util_uint64_scale((at + got) / frame, GST_SECOND, rate) - GST_BUFFER_PTS(buffer);
    s->pushed = at + got;
    gst_app_src_push_buffer(src, buffer);
}

GstElement* Make(const char* factory, std::string& missing) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e && missing.empty())
        missing = std::string("the GStreamer element ") + factory + " is missing";
    return e;
}

} // namespace

Exporter::~Exporter() {
    if (!capturePath_.empty())
        std::remove(capturePath_.c_str());
    if (!captureDir_.empty())
        rmdir(captureDir_.c_str());
}

bool Exporter::Init(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarnplayer-export-XXXXXX";
    if (!mkdtemp(dir.data())) {
        error =
            Errno(("cannot make a temporary folder in " + dir.substr(0, dir.rfind('/'))).c_str());
        return false;
    }
    captureDir_ = dir;
    capturePath_ = dir + "/capture.wav";
    // Set once, before any GStreamer thread exists to read the environment.
    setenv("ZARN_AUDIO_DEVICE", ("capture:" + capturePath_).c_str(), 1);

    GError* e = nullptr;
    if (!gst_init_check(nullptr, nullptr, &e)) {
        error = std::string("GStreamer cannot start: ") + (e ? e->message : "unknown error");
        g_clear_error(&e);
        return false;
    }
    // decodebin picks between decoders of one rank by name; for MP3 that is
    // the libav decoder, which takes twice the time of mpg123 here.
    if (GstElementFactory* mpg123 = gst_element_factory_find("mpg123audiodec")) {
        gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(mpg123), GST_RANK_PRIMARY);
        gst_object_unref(mpg123);
    }
    if (GstElementFactory* f = gst_element_factory_find(ZARN_SINK_FACTORY)) {
        gst_object_unref(f);
        return true;
    }
    const std::string plugin = paths::PrivateDir() + "gstreamer-1.0/libgstzarnaudio.so";
    if (GstPlugin* p = gst_plugin_load_file(plugin.c_str(), &e))
        gst_object_unref(p);
    g_clear_error(&e);
    if (GstElementFactory* f = gst_element_factory_find(ZARN_SINK_FACTORY)) {
        gst_object_unref(f);
        return true;
    }
    error = std::string("the renderer element ") + ZARN_SINK_FACTORY + " is not available (" +
            plugin + " cannot be loaded)";
    return false;
}

std::string Exporter::Run(const Job& job, double rate, std::int32_t flags,
                          const ProgressSink& progress) {
    const Clock::time_point started = Clock::now();
    if (!job.format)
        return "not an export format";
    if (std::string missing = MissingElement(*job.format); !missing.empty())
        return missing;
    {
        std::error_code ec;
        if (!fs::exists(job.input, ec))
            return "no such file";
        if (fs::is_directory(job.input, ec))
            return "a folder, not a file";
        if (access(job.input.c_str(), R_OK) != 0)
            return Errno("cannot read it");
    }

    // The output is written under a temporary name in its own folder and
    // renamed at the end, so a failure or Ctrl+C never leaves half a file.
    const fs::path out(job.output);
    const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
    std::string partial = (folder / ("." + out.filename().string() + ".zarn-XXXXXX")).string();
    const int fd = mkstemp(partial.data());
    if (fd < 0)
        return Errno(("cannot write in " + folder.string()).c_str());
    close(fd);
    struct Cleanup {
        std::string partial, capture;
        bool keep = false;
        ~Cleanup() {
            if (!keep)
                std::remove(partial.c_str());
            std::remove(capture.c_str());
        }
    } cleanup{partial, capturePath_};

    const bool wav = job.format->extension == ".wav";
    const double decodeShare = wav ? 0.95 : 0.75;
    double duration = -1;
    auto report = [&](double fraction, double inputSeconds, double outputSeconds, bool done) {
        if (progress)
            progress({fraction, inputSeconds, outputSeconds, Seconds(started), done});
    };

    // A pipe or a device is opened once, here, and read through that
    // descriptor: the file source opens its file a first time to probe it
    // and again to read, and a writer that meets the pipe without a reader
    // in between is killed.
    struct Input {
        int fd = -1;
        ~Input() {
            if (fd >= 0)
                close(fd);
        }
    } input;
    {
        std::error_code ec;
        if (!fs::is_regular_file(job.input, ec)) {
            while ((input.fd = open(job.input.c_str(), O_RDONLY | O_CLOEXEC)) < 0 &&
                   errno == EINTR && !Interrupted()) {
            }
            if (Interrupted())
                return "interrupted";
            if (input.fd < 0)
                return Errno("cannot read it");
        }
    }

    // Pass 1: decode and play through the renderer onto the capture device.
    DecodeState decode;
    {
        std::string missing;
        GstElement* pipeline = gst_pipeline_new("export-decode");
        Unref pipelineRef{pipeline};
        GstElement* src = Make(input.fd < 0 ? "filesrc" : "fdsrc", missing);
        GstElement* bin = Make("decodebin", missing);
        GstElement* convert = Make("audioconvert", missing);
        GstElement* resample = Make("audioresample", missing);
        GstElement* sink = Make(ZARN_SINK_FACTORY, missing);
        // Decoders hand out a few ms at a time; a tenth of a second per
        // buffer spares the renderer's queue most of its thread hand-offs.
        // The stage's output does not depend on how its input is cut up.
        GstElement* batch = gst_element_factory_make("audiobuffersplit", nullptr);
        if (batch)
            g_object_set(batch, "output-buffer-duration", 1, 10, nullptr);
        for (GstElement* e : {src, bin, convert, resample, batch, sink})
            if (e)
                gst_bin_add(GST_BIN(pipeline), e);
        if (!missing.empty())
            return missing;
        if (input.fd < 0)
            g_object_set(src, "location", job.input.c_str(), nullptr);
        else
            g_object_set(src, "fd", input.fd, nullptr);
        g_object_set(sink, ZARN_PROP_RATE, rate, ZARN_PROP_FLAGS, static_cast<gint>(flags),
                     nullptr);
        gst_element_link(src, bin);
        if (batch)
            gst_element_link_many(convert, resample, batch, sink, nullptr);
        else
            gst_element_link_many(convert, resample, sink, nullptr);
        decode.pipeline = pipeline;
        decode.convert = convert;
        g_signal_connect(bin, "pad-added", G_CALLBACK(OnPadAdded), &decode);
        g_signal_connect(bin, "no-more-pads", G_CALLBACK(OnNoMorePads), &decode);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(sinkPad,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          OnRendererInput, &decode, nullptr);
        gst_object_unref(sinkPad);

        std::string reason = RunToEnd(pipeline, [&]() -> std::string {
            if (decode.noMorePads && !decode.audioLinked)
                return "no audio stream";
            gint64 d = 0;
            if (duration < 0 && gst_element_query_duration(pipeline, GST_FORMAT_TIME, &d) && d > 0)
                duration = static_cast<double>(d) / GST_SECOND;
            const double done = static_cast<double>(decode.doneNs.load()) / GST_SECOND;
            report(duration > 0 ? decodeShare * std::min(1.0, done / duration) : -1, done, 0,
                   false);
            return {};
        });
        // Stopping closes the sound output, which finishes the capture file.
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (!reason.empty())
            return reason;
        if (!decode.audioLinked)
            return "no audio stream";
    }
    const double inputSeconds = static_cast<double>(decode.doneNs.load()) / GST_SECOND;

    // Pass 2: encode what was captured.
    EncodeState encode;
    {
        std::lock_guard<std::mutex> g(decode.lock);
        if (!decode.caps || !gst_audio_info_from_caps(&encode.info, decode.caps))
            return "no audio reached the renderer";
    }
    encode.file = std::fopen(capturePath_.c_str(), "rb");
    if (!encode.file)
        return "the renderer's sound was not captured (the capture device did not open)";
    struct CloseFile {
        std::FILE* f;
        ~CloseFile() { std::fclose(f); }
    } closeFile{encode.file};
    struct stat st {};
    if (fstat(fileno(encode.file), &st) != 0 || st.st_size < kCaptureHeaderBytes ||
        std::fseek(encode.file, kCaptureHeaderBytes, SEEK_SET) != 0)
        return "the capture of the renderer's sound is damaged";
    encode.total = static_cast<std::uint64_t>(st.st_size - kCaptureHeaderBytes);
    const double outputSeconds = static_cast<double>(encode.total) /
                                 GST_AUDIO_INFO_BPF(&encode.info) /
                                 GST_AUDIO_INFO_RATE(&encode.info);
    {
        std::string missing;
        GstElement* pipeline = gst_pipeline_new("export-encode");
        Unref pipelineRef{pipeline};
        GstElement* src = Make("appsrc", missing);
        GstElement* convert = Make("audioconvert", missing);
        GstElement* resample = Make("audioresample", missing);
        std::vector<GstElement*> chain = {src, convert, resample};
        for (const Element& e : job.format->chain)
            chain.push_back(Make(e.factory.c_str(), missing));
        chain.push_back(Make("filesink", missing));
        for (GstElement* e : chain)
            if (e)
                gst_bin_add(GST_BIN(pipeline), e);
        if (!missing.empty())
            return missing;
        for (std::size_t i = 0; i + 1 < chain.size(); ++i)
            if (!gst_element_link(chain[i], chain[i + 1]))
                return std::string("cannot link ") + GST_OBJECT_NAME(chain[i]) + " to " +
                       GST_OBJECT_NAME(chain[i + 1]);
        g_object_set(chain.back(), "location", partial.c_str(), nullptr);
        {
            std::lock_guard<std::mutex> g(decode.lock);
            g_object_set(src, "caps", decode.caps, "format", GST_FORMAT_TIME, nullptr);
        }
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = OnNeedData;
        gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, &encode, nullptr);

        GstTagList* tags;
        {
            std::lock_guard<std::mutex> g(decode.lock);
            tags = CarriedTags(decode.tags);
        }
        GstIterator* it = gst_bin_iterate_all_by_interface(GST_BIN(pipeline), GST_TYPE_TAG_SETTER);
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            gst_tag_setter_merge_tags(GST_TAG_SETTER(g_value_get_object(&item)), tags,
                                      GST_TAG_MERGE_REPLACE);
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        gst_tag_list_unref(tags);

        std::string reason = RunToEnd(pipeline, [&]() -> std::string {
            const double written =
                encode.total ? static_cast<double>(encode.pushed) / encode.total : 1.0;
            report(decodeShare + (1 - decodeShare) * written, inputSeconds, 0, false);
            return {};
        });
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (!reason.empty())
            return reason;
    }

    // Media files are for sharing: the permissions a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    if (chmod(partial.c_str(), 0666 & ~mask) != 0 ||
        std::rename(partial.c_str(), job.output.c_str()) != 0)
        return Errno(("cannot write " + job.output).c_str());
    cleanup.keep = true;
    report(1.0, inputSeconds, outputSeconds, true);
    return {};
}

} // namespace exporter
