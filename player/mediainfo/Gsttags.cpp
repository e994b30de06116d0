#include "player/mediainfo/Gsttags.h"

#include "platform/regularfile.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

bool GstReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        GError* err = nullptr;
        ready = gst_init_check(nullptr, nullptr, &err);
        if (err)
            g_error_free(err);
    });
    return ready;
}

std::string FirstString(const GstTagList* tags, const char* tag) {
    gchar* value = nullptr;
    if (!gst_tag_list_get_string_index(tags, tag, 0, &value) || !value)
        return {};
    std::string out = value;
    g_free(value);
    return out;
}

// What the streaming threads find, handed to the reading thread. The
// pipeline is stopped before this goes, so no callback outlives it.
struct Finding {
    // Guards everything below; taken by the streaming threads and, after
    // they have stopped, by the reading thread. Only the bus's own lock is
    // taken inside it (posting the done message).
    std::mutex m;
    GstElement* pipeline = nullptr;
    std::vector<GstTagList*> tags[2]; // [0] of the whole file, [1] of one stream
    std::vector<GstPad*> pads, padsDone;
    bool told = false;

    ~Finding() {
        for (auto& list : tags)
            for (GstTagList* t : list)
                gst_tag_list_unref(t);
    }
    // Tags of the whole file come before each stream's first data, so once
    // every stream exposed so far has data (or has ended) there is nothing
    // more to wait for. Streams come out one after the other; one exposed
    // later carries the same file tags, so stopping before it loses none.
    void PadDone(GstPad* pad) {
        std::lock_guard<std::mutex> lock(m);
        if (std::find(padsDone.begin(), padsDone.end(), pad) == padsDone.end())
            padsDone.push_back(pad);
        TellIfDone();
    }
    void TellIfDone() {
        if (told || padsDone.size() < pads.size())
            return;
        told = true;
        gst_element_post_message(
            pipeline, gst_message_new_application(GST_OBJECT(pipeline),
                                                  gst_structure_new_empty("zarn-tags-done")));
    }
};

// Data is counted and dropped before it reaches the sink: nothing is
// decoded, and no sink prerolls and holds up a demuxer that feeds several
// streams from one thread.
GstPadProbeReturn OnStream(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* f = static_cast<Finding*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (!GST_BUFFER_FLAG_IS_SET(GST_PAD_PROBE_INFO_BUFFER(info), GST_BUFFER_FLAG_HEADER))
            f->PadDone(pad);
        return GST_PAD_PROBE_DROP;
    }
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        f->PadDone(pad);
        return GST_PAD_PROBE_DROP;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_TAG: {
        GstTagList* tags = nullptr;
        gst_event_parse_tag(event, &tags);
        std::lock_guard<std::mutex> lock(f->m);
        int scope = gst_tag_list_get_scope(tags) == GST_TAG_SCOPE_GLOBAL ? 0 : 1;
        if (f->tags[scope].size() < 64)
            f->tags[scope].push_back(gst_tag_list_ref(tags));
        break;
    }
    case GST_EVENT_GAP: // a sparse stream saying it has nothing yet
    case GST_EVENT_EOS:
        f->PadDone(pad);
        break;
    default:
        break;
    }
    return GST_PAD_PROBE_OK;
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* f = static_cast<Finding*>(data);
    {
        std::lock_guard<std::mutex> lock(f->m);
        f->pads.push_back(pad);
    }
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM),
                      OnStream, f, nullptr);
    // A sink answers the events and queries a stream needs; it sees no data.
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink)
        return;
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(f->pipeline), sink);
    GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
    gst_element_sync_state_with_parent(sink);
}

} // namespace

TGSTTAGS::TGSTTAGS(const std::string& fileName, std::chrono::milliseconds timeOut) {
    // The source opens the descriptor's own file, so a name swapped for a
    // pipe after the check still cannot reach it.
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return;
    if (GstReady())
        Read("/proc/self/fd/" + std::to_string(fd), timeOut);
    ::close(fd);
}

TGSTTAGS TGSTTAGS::FromFd(int fd, std::chrono::milliseconds timeOut) {
    TGSTTAGS tags;
    if (GstReady())
        tags.Read("/proc/self/fd/" + std::to_string(fd), timeOut);
    return tags;
}

// A memory file is a regular file with a path of its own under /proc, so it
// takes exactly the road a file on disk takes.
TGSTTAGS TGSTTAGS::FromBytes(std::span<const std::uint8_t> content,
                             std::chrono::milliseconds timeOut) {
    int fd = ::memfd_create("zarn-tags", MFD_CLOEXEC);
    if (fd < 0)
        return TGSTTAGS();
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    TGSTTAGS tags = done == content.size()
                        ? TGSTTAGS("/proc/self/fd/" + std::to_string(fd), timeOut)
                        : TGSTTAGS();
    ::close(fd);
    return tags;
}

// filesrc ! parsebin: demuxers and parsers only. The streams' tag events are
// gathered until every stream has its first data, an error or the end, or
// the time-out.
void TGSTTAGS::Read(const std::string& fileName, std::chrono::milliseconds timeOut) {
    Finding f;
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parse = gst_element_factory_make("parsebin", nullptr);
    f.pipeline = gst_pipeline_new(nullptr);
    if (!source || !parse || !f.pipeline) {
        for (GstElement* e : {source, parse, f.pipeline})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return;
    }
    g_object_set(source, "location", fileName.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(f.pipeline), source, parse, nullptr);
    gst_element_link(source, parse);
    g_signal_connect(parse, "pad-added", G_CALLBACK(OnPadAdded), &f);

    GstBus* bus = gst_element_get_bus(f.pipeline);
    auto deadline = std::chrono::steady_clock::now() + timeOut;
    bool done = false;
    if (gst_element_set_state(f.pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        const auto wanted = static_cast<GstMessageType>(GST_MESSAGE_APPLICATION |
                                                        GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                TimedOut = true;
                break;
            }
            GstMessage* msg =
                gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(left.count()), wanted);
            if (!msg)
                continue;
            GstMessageType type = GST_MESSAGE_TYPE(msg);
            bool ours =
                type != GST_MESSAGE_APPLICATION || gst_message_has_name(msg, "zarn-tags-done");
            gst_message_unref(msg);
            if (ours) {
                done = type != GST_MESSAGE_ERROR;
                break;
            }
        }
    }
    if (done) {
        gint64 duration = -1;
        if (gst_element_query_duration(f.pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
            Duration = duration / 100;
    }
    gst_element_set_state(f.pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(f.pipeline);

    std::lock_guard<std::mutex> lock(f.m);
    Found = done && !f.pads.empty();
    for (auto& list : f.tags)
        for (GstTagList* t : list)
            Take(t);
}

void TGSTTAGS::Take(const GstTagList* tags) {
    if (Title.empty())
        Title = FirstString(tags, GST_TAG_TITLE);
    if (Artist.empty())
        Artist = FirstString(tags, GST_TAG_ARTIST);
    if (Album.empty())
        Album = FirstString(tags, GST_TAG_ALBUM);
}

std::string DurationText(std::int64_t duration) {
    if (duration < 0)
        return {};
    std::int64_t seconds = duration / 10'000'000;
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}
