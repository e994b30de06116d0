#include "player/export/Exporter.h"

#include "audio/filter/IZarnRate.h"
#include "platform/numbers.h"
#include "platform/paths.h"
#include "platform/regularfile.h"
#include "player/loudness/Cache.h"
#include "player/loudness/Groups.h"
#include "player/loudness/Measure.h"

#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/tag/tag.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace exporter {

std::atomic<bool>& Interrupted() {
    static std::atomic<bool> flag{false};
    return flag;
}

namespace {

// The capture file is a canonical WAV file: the sound follows this header.
constexpr long kCaptureHeaderBytes = 44;
// How far the capture may run ahead of an encoder that takes it as it grows.
constexpr std::uint64_t kAhead = 4 << 20;
// How often the bus loop looks at the progress and the interrupt flag.
constexpr GstClockTime kTick = 100 * GST_MSECOND;
// A run in which nothing moves for this long has stalled (an input that
// stops delivering, a stream that never ends) and fails.
constexpr double kStallSeconds = 30;

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

// Tells a run that goes on from one that stands still.
class StallWatch {
public:
    // True once `progress` has not changed for kStallSeconds.
    bool Stalled(std::uint64_t progress) {
        if (progress != last_) {
            last_ = progress;
            since_ = Clock::now();
        }
        return Seconds(since_) > kStallSeconds;
    }

private:
    std::uint64_t last_ = 0;
    Clock::time_point since_ = Clock::now();
};

std::string StallReason(const char* what) {
    return std::string("stalled: ") + what + " for " + numbers::FormatFixed(kStallSeconds, 0) +
           " s";
}

std::string MessageText(GstMessage* m) {
    GError* e = nullptr;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR)
        gst_message_parse_error(m, &e, nullptr);
    else
        gst_message_parse_warning(m, &e, nullptr);
    std::string text = e && e->message ? e->message : "unknown error";
    g_clear_error(&e);
    return text;
}

// Runs the pipeline to its end: "" at end of stream, else the reason. `tick`
// runs between bus messages and may end the run with a reason of its own.
// A warning from `fatal` (the renderer, whose warnings are about its sound
// output) ends the run too.
std::string RunToEnd(GstElement* pipeline, const std::function<std::string()>& tick,
                     GstElement* fatal = nullptr) {
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
            bus, kTick,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
        if (m) {
            const GstMessageType type = GST_MESSAGE_TYPE(m);
            const bool fatalWarning =
                type == GST_MESSAGE_WARNING && fatal && GST_MESSAGE_SRC(m) == GST_OBJECT(fatal);
            std::string reason = type == GST_MESSAGE_EOS ? "" : MessageText(m);
            gst_message_unref(m);
            if (type != GST_MESSAGE_WARNING || fatalWarning)
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
    GstElement* fix = nullptr; // the capsfilter that holds the renderer's format
    std::atomic<bool> audioLinked{false};
    std::atomic<bool> noMorePads{false};
    std::atomic<bool> fixed{false};
    std::atomic<std::uint64_t> frames{0}; // of input rendered
    std::atomic<int> frameBytes{0};
    std::atomic<int> rate{0};
    std::mutex lock; // tags, caps, the group and the fake sinks
    GstTagList* tags = nullptr;
    GstCaps* caps = nullptr;
    // decodebin hands the streams of a chained input over group by group.
    TGroupLinks groups;
    // While an encoder takes the capture as it grows, the renderer's input
    // waits whenever the capture is too far ahead of it.
    std::string capture;
    const std::atomic<std::uint64_t>* taken = nullptr; // bytes of sound the encoder has
    std::atomic<bool> fed{false};                      // the encoder runs
    std::atomic<bool> stopping{false};

    double InputSeconds() const {
        const int r = rate;
        return r > 0 ? static_cast<double>(frames.load()) / r : 0;
    }

    ~DecodeState() {
        if (tags)
            gst_tag_list_unref(tags);
        if (caps)
            gst_caps_unref(caps);
    }
};

// The first audio stream of each group goes to the renderer; any other
// stream is swallowed so that its demuxer keeps running. A group after the
// first is the next part of a chained input (an Ogg file of several
// chains): its audio follows the part before, which has ended.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    const bool sound = TGroupLinks::CarriesSound(pad);
    std::lock_guard<std::mutex> g(s->lock);
    if (s->groups.Added(pad, sound))
        s->audioLinked = true;
}

void OnPadRemoved(GstElement*, GstPad*, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    std::lock_guard<std::mutex> g(s->lock);
    s->groups.Removed();
}

void OnNoMorePads(GstElement*, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    std::lock_guard<std::mutex> g(s->lock);
    s->groups.Closed();
    s->noMorePads = true;
}

GstPadProbeReturn OnRendererInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* s = static_cast<DecodeState*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        const int bytes = s->frameBytes;
        if (bytes > 0)
            s->frames += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info)) / bytes;
        while (s->fed && !s->stopping && !Interrupted()) {
            struct stat st {};
            if (stat(s->capture.c_str(), &st) != 0 ||
                static_cast<std::uint64_t>(st.st_size) <= kCaptureHeaderBytes + *s->taken + kAhead)
                break;
            g_usleep(5000);
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(e) == GST_EVENT_TAG) {
        std::lock_guard<std::mutex> g(s->lock);
        GstTagList* list = nullptr;
        gst_event_parse_tag(e, &list);
        GstTagList* merged = gst_tag_list_merge(s->tags, list, GST_TAG_MERGE_KEEP);
        if (s->tags)
            gst_tag_list_unref(s->tags);
        s->tags = merged;
    } else if (GST_EVENT_TYPE(e) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(e, &caps);
        {
            std::lock_guard<std::mutex> g(s->lock);
            gst_caps_replace(&s->caps, caps);
        }
        // A rate tells the caps are there.
        GstAudioInfo audio;
        if (gst_audio_info_from_caps(&audio, caps)) {
            s->frameBytes = GST_AUDIO_INFO_BPF(&audio);
            s->rate = GST_AUDIO_INFO_RATE(&audio);
        }
        // The renderer reopens its output for a new format, which would
        // start the capture afresh: the rest of the input (a later part of
        // another rate or channel count) is converted to the first part's.
        if (!s->fixed.exchange(true))
            g_object_set(s->fix, "caps", caps, nullptr);
    }
    return GST_PAD_PROBE_OK;
}

// The header's page of the capture is never given back; after it, what the
// encoder has taken is given back a step at a time.
constexpr std::uint64_t kKeptHead = 4096;
constexpr std::uint64_t kGiveBackStep = 1 << 20;

// Feeds the captured sound to the encoder as the encoder asks for it, while
// the capture grows. What the encoder has taken is given back to the file
// system (a hole punched into the file), so that no whole copy of the
// decoded sound is kept; a file system without holes keeps it whole.
struct EncodeState {
    int fd = -1; // the capture, open for reading and punching
    GstAudioInfo info;
    std::atomic<bool> captureDone{false}; // the capture file has its final length
    std::atomic<bool> cancelled{false};
    std::atomic<std::uint64_t> pushed{0}; // bytes of sound
    std::atomic<bool> readFailed{false};
    std::uint64_t givenBack = kKeptHead; // file offset, on the encoder's thread

    ~EncodeState() {
        if (fd >= 0)
            close(fd);
    }
};

void OnNeedData(GstAppSrc* src, guint, gpointer data) {
    auto* s = static_cast<EncodeState*>(data);
    const auto frame = static_cast<std::uint64_t>(GST_AUDIO_INFO_BPF(&s->info));
    const std::uint64_t at = s->pushed;
    const std::uint64_t offset = kCaptureHeaderBytes + at;
    std::uint64_t n = 0;
    for (;;) {
        // Looked at before the length: once done, the length is final.
        const bool done = s->captureDone;
        struct stat st {};
        if (fstat(s->fd, &st) != 0) {
            s->readFailed = true;
            break;
        }
        const auto size = static_cast<std::uint64_t>(st.st_size);
        n = std::min<std::uint64_t>(16384 * frame,
                                    size > offset ? (size - offset) / frame * frame : 0);
        if (n > 0 || done || s->cancelled)
            break;
        // The capture grows by a block of the renderer's output at a time.
        g_usleep(10000);
    }
    GstBuffer* buffer = n ? gst_buffer_new_allocate(nullptr, n, nullptr) : nullptr;
    if (buffer) {
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        const ssize_t got = pread(s->fd, map.data, n, static_cast<off_t>(offset));
        gst_buffer_unmap(buffer, &map);
        if (got != static_cast<ssize_t>(n)) {
            s->readFailed = true;
            gst_buffer_unref(buffer);
            buffer = nullptr;
        }
    }
    if (!buffer) {
        gst_app_src_end_of_stream(src);
        return;
    }
    const auto rate = static_cast<std::uint64_t>(GST_AUDIO_INFO_RATE(&s->info));
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at / frame, GST_SECOND, rate);
    GST_BUFFER_DURATION(buffer) =
        gst_util_uint64_scale((at + n) / frame, GST_SECOND, rate) - GST_BUFFER_PTS(buffer);
    s->pushed = at + n;
    const std::uint64_t upTo = (offset + n) / kGiveBackStep * kGiveBackStep;
    if (upTo > s->givenBack) {
        fallocate(s->fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                  static_cast<off_t>(s->givenBack), static_cast<off_t>(upTo - s->givenBack));
        s->givenBack = upTo;
    }
    gst_app_src_push_buffer(src, buffer);
}

GstElement* Make(const char* factory, std::string& missing) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e && missing.empty())
        missing = std::string("the GStreamer element ") + factory + " is missing";
    return e;
}

void AppendLe32(std::string& out, std::size_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A WAV file carries its tags as wavenc writes them: a LIST INFO chunk after
// the sound, which the RIFF size then takes in. "" or the reason.
std::string AppendInfo(const std::string& path, const GstTagList* tags) {
    std::string info;
    auto add = [&](const char* id, const char* tag) {
        gchar* value = nullptr;
        if (gst_tag_list_get_string(tags, tag, &value) && value && *value) {
            std::string text(value);
            text.append(text.size() % 2 ? 1 : 2, '\0');
            info += id;
            AppendLe32(info, text.size());
            info += text;
        }
        g_free(value);
    };
    add("INAM", GST_TAG_TITLE);
    add("IART", GST_TAG_ARTIST);
    add("IPRD", GST_TAG_ALBUM);
    if (info.empty())
        return {};
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0, std::ios::end);
    const auto size = static_cast<std::size_t>(f.tellp());
    // Chunks start on an even byte.
    std::string chunk(size % 2, '\0');
    chunk += "LIST";
    AppendLe32(chunk, 4 + info.size());
    chunk += "INFO" + info;
    f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    std::string riff;
    AppendLe32(riff, size + chunk.size() - 8);
    f.seekp(4);
    f.write(riff.data(), 4);
    f.flush();
    return f ? "" : Errno("cannot write the tags");
}

// The capture must be as long as the input at the rate: anything shorter
// lost sound on the way (racing through silence may only shorten it).
std::string CheckLength(double inputSeconds, double outputSeconds, double rate, bool skipsSilence) {
    const double due = inputSeconds / rate;
    const double tolerance = 0.2 + 0.02 * due;
    if (outputSeconds <= due + tolerance && (skipsSilence || outputSeconds >= due - tolerance))
        return {};
    return "the sound came out " + numbers::FormatFixed(outputSeconds, 1) + " s long where " +
           numbers::FormatFixed(due, 1) + " s were due";
}

// Moves the finished file to its name; 0 or the errno. Without `replace`
// the move itself refuses to replace an output that appeared meanwhile.
int Publish(const std::string& from, const std::string& to, bool replace) {
    if (replace)
        return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // File systems without that move: a second name, which is never made
    // over an existing one, then the first one removed.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // Nor hard links (FAT through FUSE): the best that is left.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Waits until a pipe or a device has something to read (or its writer has
// gone); "" or the reason.
std::string AwaitInput(int fd) {
    const Clock::time_point since = Clock::now();
    for (;;) {
        if (Interrupted())
            return "interrupted";
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(kTick / GST_MSECOND));
        if (n > 0)
            return {};
        if (n < 0 && errno != EINTR)
            return Errno("cannot read it");
        if (Seconds(since) > kStallSeconds)
            return StallReason("nothing came in");
    }
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
    const std::string tmpDir = tmp && *tmp ? tmp : "/tmp";
    RemoveDeadCaptureFolders(tmpDir);
    const std::string dir = MakeCaptureFolder(tmpDir, captureLock_);
    if (dir.empty()) {
        error = Errno(("cannot make a temporary folder in " + tmpDir).c_str());
        return false;
    }
    captureDir_ = dir;
    capturePath_ = dir + "/" + kCaptureName;
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

void Exporter::SetLevel(std::optional<int> target, TLoudnessCache* cache) {
    level_ = target;
    cache_ = cache;
}

std::int32_t Exporter::LevelGain(const std::string& input, std::string& why) {
    const auto key = TLoudnessKey::Of(input);
    if (!key) {
        why = "not a regular file, so it cannot be measured before it is read";
        return 0;
    }
    std::optional<TLoudnessFigure> figure = cache_ ? cache_->Find(*key) : std::nullopt;
    if (!figure) {
        const int fd = OpenRegularFile(input);
        if (fd < 0) {
            why = Errno("cannot read it");
            return 0;
        }
        loudness::MeasureRequest request;
        // The gain needs the loudness only; the limiter keeps the peaks,
        // and the true peak would double the measurement's time.
        request.TruePeak = false;
        // Decoding and metering take far less than a second per megabyte.
        request.TimeOut = std::chrono::seconds(10 + key->Size / (1u << 20));
        request.Cancelled = [] { return Interrupted().load(); };
        const loudness::MeasureOutcome m =
            loudness::Measure("/proc/self/fd/" + std::to_string(fd), request);
        close(fd);
        if (!m.Figure) {
            why = m.Failure;
            return 0;
        }
        figure = m.Figure;
        if (cache_) {
            cache_->Store(*key, *figure);
            if (const std::string failure = cache_->Save(); !failure.empty())
                std::fprintf(stderr, "zarnplayer: the loudness figures could not be saved: %s\n",
                             failure.c_str());
        }
    }
    return loudness::GainFor(figure->Integrated, *level_);
}

std::string Exporter::Run(const Job& job, double rate, std::int32_t flags,
                          const ProgressSink& progress) {
    levelNote_.clear();
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

    // Measured before anything is written: the whole input at its own
    // speed, in this process (the user asked for this file).
    std::optional<std::int32_t> gain;
    if (level_) {
        std::string why;
        gain = LevelGain(job.input, why);
        if (!why.empty())
            levelNote_ = "exported at its own level: " + why;
        if (Interrupted())
            return "interrupted";
    }

    // The output is written under a temporary name in its own folder and
    // renamed at the end, so a failure or Ctrl+C never leaves half a file;
    // what an export that died left there goes first.
    const fs::path out(job.output);
    const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
    RemoveDeadPartials(folder.string());
    HeldLock partialLock;
    const std::string partial = MakePartial(job.output, partialLock);
    if (partial.empty())
        return Errno(("cannot write in " + folder.string()).c_str());
    struct Cleanup {
        std::string partial, capture;
        bool keep = false;
        ~Cleanup() {
            if (!keep)
                std::remove(partial.c_str());
            std::remove(capture.c_str());
        }
    } cleanup{partial, capturePath_};

    // WAV is what the capture device writes: the capture goes straight into
    // the temporary output, and no whole-file copy of the sound is made.
    const bool wav = job.format->extension == ".wav";
    if (wav) {
        std::error_code ec;
        const fs::path target = fs::absolute(partial, ec);
        if (ec || symlink(target.c_str(), capturePath_.c_str()) != 0)
            return Errno("cannot point the capture at the output");
    }
    const double decodeShare = wav ? 1.0 : 0.95;
    double duration = -1;
    auto report = [&](double fraction, double inputSeconds, double outputSeconds, bool done) {
        if (progress)
            progress({fraction, inputSeconds, outputSeconds, Seconds(started), done});
    };

    // A pipe or a device is opened once, here, and read through that
    // descriptor: the file source opens its file a first time to probe it
    // and again to read, and a writer that meets the pipe without a reader
    // in between is killed. The wait for its first bytes has a bound.
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
            input.fd = open(job.input.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (input.fd < 0)
                return Errno("cannot read it");
            if (std::string reason = AwaitInput(input.fd); !reason.empty())
                return reason;
            fcntl(input.fd, F_SETFL, fcntl(input.fd, F_GETFL) & ~O_NONBLOCK);
        }
    }

    // The encoder of the formats other than WAV: made now, started once the
    // renderer's output has opened in its format, and fed while the capture
    // grows.
    EncodeState encode;
    GstElement* encoder = nullptr;
    GstElement* feed = nullptr;
    if (!wav) {
        std::string missing;
        encoder = gst_pipeline_new("export-encode");
        feed = Make("appsrc", missing);
        GstElement* convert = Make("audioconvert", missing);
        GstElement* resample = Make("audioresample", missing);
        std::vector<GstElement*> chain = {feed, convert, resample};
        for (const Element& e : job.format->chain)
            chain.push_back(Make(e.factory.c_str(), missing));
        chain.push_back(Make("filesink", missing));
        for (GstElement* e : chain)
            if (e)
                gst_bin_add(GST_BIN(encoder), e);
        if (missing.empty())
            for (std::size_t i = 0; i + 1 < chain.size() && missing.empty(); ++i)
                if (!gst_element_link(chain[i], chain[i + 1]))
                    missing = std::string("cannot link ") + GST_OBJECT_NAME(chain[i]) + " to " +
                              GST_OBJECT_NAME(chain[i + 1]);
        if (!missing.empty()) {
            gst_object_unref(encoder);
            return missing;
        }
        g_object_set(chain.back(), "location", partial.c_str(), nullptr);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = OnNeedData;
        gst_app_src_set_callbacks(GST_APP_SRC(feed), &callbacks, &encode, nullptr);
    }
    Unref encoderRef{encoder};
    GstBus* encoderBus = encoder ? gst_element_get_bus(encoder) : nullptr;
    Unref encoderBusRef{encoderBus};
    // On every way out the feed stops waiting for the capture, then the
    // encoder stops.
    struct StopEncoder {
        EncodeState& state;
        GstElement* encoder;
        ~StopEncoder() {
            state.cancelled = true;
            if (encoder)
                gst_element_set_state(encoder, GST_STATE_NULL);
        }
    } stopEncoder{encode, encoder};
    bool encoderStarted = false;
    DecodeState decode;
    // "" or the reason.
    auto startEncoder = [&]() -> std::string {
        encoderStarted = true;
        GstTagList* tags;
        {
            std::lock_guard<std::mutex> g(decode.lock);
            if (!decode.caps || !gst_audio_info_from_caps(&encode.info, decode.caps))
                return "no audio reached the renderer";
            g_object_set(feed, "caps", decode.caps, "format", GST_FORMAT_TIME, nullptr);
            tags = CarriedTags(decode.tags);
        }
        GstIterator* it = gst_bin_iterate_all_by_interface(GST_BIN(encoder), GST_TYPE_TAG_SETTER);
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            gst_tag_setter_merge_tags(GST_TAG_SETTER(g_value_get_object(&item)), tags,
                                      GST_TAG_MERGE_REPLACE);
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        gst_tag_list_unref(tags);
        encode.fd = open(capturePath_.c_str(), O_RDWR | O_CLOEXEC);
        if (encode.fd < 0)
            return Errno("cannot read the capture of the renderer's sound");
        if (gst_element_set_state(encoder, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
            decode.fed = true;
            return {};
        }
        GstMessage* m = gst_bus_pop_filtered(encoderBus, GST_MESSAGE_ERROR);
        const std::string reason = m ? MessageText(m) : "the encoder cannot start";
        if (m)
            gst_message_unref(m);
        return reason;
    };

    // Decode and play through the renderer onto the capture device.
    {
        std::string missing;
        GstElement* pipeline = gst_pipeline_new("export-decode");
        Unref pipelineRef{pipeline};
        GstElement* src = Make(input.fd < 0 ? "filesrc" : "fdsrc", missing);
        GstElement* bin = Make("decodebin", missing);
        GstElement* convert = Make("audioconvert", missing);
        GstElement* resample = Make("audioresample", missing);
        GstElement* fix = Make("capsfilter", missing);
        GstElement* sink = Make(ZARN_SINK_FACTORY, missing);
        // Decoders hand out a few ms at a time; a tenth of a second per
        // buffer spares the renderer's queue most of its thread hand-offs.
        // The stage's output does not depend on how its input is cut up.
        GstElement* batch = gst_element_factory_make("audiobuffersplit", nullptr);
        if (batch)
            g_object_set(batch, "output-buffer-duration", 1, 10, nullptr);
        for (GstElement* e : {src, bin, convert, resample, fix, batch, sink})
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
        if (gain) {
            if (!g_object_class_find_property(G_OBJECT_GET_CLASS(sink), ZARN_PROP_LOUDNESS_GAIN))
                return "the renderer cannot level loudness (--level off exports without)";
            g_object_set(sink, ZARN_PROP_LOUDNESS_GAIN, static_cast<gint>(*gain), ZARN_PROP_LIMITER,
                         TRUE, nullptr);
        }
        gst_element_link(src, bin);
        if (batch)
            gst_element_link_many(convert, resample, fix, batch, sink, nullptr);
        else
            gst_element_link_many(convert, resample, fix, sink, nullptr);
        decode.groups.Attach(pipeline, convert);
        decode.fix = fix;
        decode.capture = capturePath_;
        decode.taken = &encode.pushed;
        g_signal_connect(bin, "pad-added", G_CALLBACK(OnPadAdded), &decode);
        g_signal_connect(bin, "pad-removed", G_CALLBACK(OnPadRemoved), &decode);
        g_signal_connect(bin, "no-more-pads", G_CALLBACK(OnNoMorePads), &decode);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(sinkPad,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          OnRendererInput, &decode, nullptr);
        gst_object_unref(sinkPad);

        StallWatch stall;
        std::string reason = RunToEnd(
            pipeline,
            [&]() -> std::string {
                if (decode.noMorePads && !decode.audioLinked)
                    return "no audio stream";
                gint64 d = 0;
                if (duration < 0 && gst_element_query_duration(pipeline, GST_FORMAT_TIME, &d) &&
                    d > 0)
                    duration = static_cast<double>(d) / GST_SECOND;
                const double done = decode.InputSeconds();
                report(duration > 0 ? decodeShare * std::min(1.0, done / duration) : -1, done, 0,
                       false);
                struct stat st {};
                const std::uint64_t captured = stat(capturePath_.c_str(), &st) == 0
                                                   ? static_cast<std::uint64_t>(st.st_size)
                                                   : 0;
                // Sound in the capture: the renderer's output is open in
                // the format it keeps.
                if (encoder && !encoderStarted && decode.rate > 0 &&
                    captured > static_cast<std::uint64_t>(kCaptureHeaderBytes))
                    if (std::string failed = startEncoder(); !failed.empty())
                        return failed;
                if (encoderStarted)
                    if (GstMessage* m = gst_bus_pop_filtered(encoderBus, GST_MESSAGE_ERROR)) {
                        const std::string failed = MessageText(m);
                        gst_message_unref(m);
                        return failed;
                    }
                if (stall.Stalled(decode.frames + captured + encode.pushed))
                    return StallReason("no sound came from the input");
                return {};
            },
            sink);
        // Stopping closes the sound output, which finishes the capture file.
        decode.stopping = true;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (!reason.empty())
            return reason;
        if (!decode.audioLinked)
            return "no audio stream";
    }
    const double inputSeconds = decode.InputSeconds();

    GstAudioInfo info;
    {
        std::lock_guard<std::mutex> g(decode.lock);
        if (!decode.caps || !gst_audio_info_from_caps(&info, decode.caps))
            return "no audio reached the renderer";
    }
    struct stat st {};
    if (stat(capturePath_.c_str(), &st) != 0)
        return "the renderer's sound was not captured (the capture device did not open)";
    if (st.st_size < kCaptureHeaderBytes)
        return "the capture of the renderer's sound is damaged";
    const auto frame = static_cast<std::uint64_t>(GST_AUDIO_INFO_BPF(&info));
    const auto capturedBytes =
        static_cast<std::uint64_t>(st.st_size - kCaptureHeaderBytes) / frame * frame;
    const double outputSeconds =
        static_cast<double>(capturedBytes / frame) / GST_AUDIO_INFO_RATE(&info);
    if (std::string reason =
            CheckLength(inputSeconds, outputSeconds, rate, (flags & ZARN_FLAG_SKIP_SILENCE) != 0);
        !reason.empty())
        return reason;

    if (wav) {
        GstTagList* tags;
        {
            std::lock_guard<std::mutex> g(decode.lock);
            tags = CarriedTags(decode.tags);
        }
        const std::string reason = AppendInfo(partial, tags);
        gst_tag_list_unref(tags);
        if (!reason.empty())
            return reason;
    } else {
        // The rest of the capture, now whole, goes to the encoder.
        encode.captureDone = true;
        if (!encoderStarted)
            if (std::string reason = startEncoder(); !reason.empty())
                return reason;
        StallWatch stall;
        std::string reason = RunToEnd(encoder, [&]() -> std::string {
            const double written =
                capturedBytes ? static_cast<double>(encode.pushed) / capturedBytes : 1.0;
            report(decodeShare + (1 - decodeShare) * written, inputSeconds, 0, false);
            if (stall.Stalled(encode.pushed))
                return StallReason("the encoder took nothing");
            return {};
        });
        gst_element_set_state(encoder, GST_STATE_NULL);
        if (!reason.empty())
            return reason;
        if (encode.readFailed || encode.pushed != capturedBytes)
            return "the capture of the renderer's sound could not be read in full";
    }

    // Media files are for sharing: the permissions a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    if (chmod(partial.c_str(), 0666 & ~mask) != 0)
        return Errno(("cannot write " + job.output).c_str());
    if (const int e = Publish(partial, job.output, job.replace); e != 0) {
        if (e == EEXIST)
            return job.output + " appeared during the export; --force replaces it";
        errno = e;
        return Errno(("cannot write " + job.output).c_str());
    }
    cleanup.keep = true;
    report(1.0, inputSeconds, outputSeconds, true);
    return {};
}

} // namespace exporter
