// The probe: reads the tags, duration and chapters of files the player only
// lists, and measures the loudness of those it levels, each from a
// descriptor the player opened, inside the confinement of Confine.h, and
// answers each with one checked message. It ends when the
// player closes the socket or dies.
#include "player/loudness/Measure.h"
#include "player/mediainfo/Chapters.h"
#include "player/mediainfo/Gsttags.h"
#include "player/mediainfo/Id3.h"
#include "player/mediainfo/Riffinfo.h"
#include "player/mediainfo/TagText.h"
#include "player/probe/Answer.h"
#include "player/probe/Confine.h"
#include "player/probe/Protocol.h"

#include <gst/gst.h>
#include <malloc.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// The whole reading of one file, as the player allows it.
constexpr std::chrono::milliseconds kFileTime{1900};

void Fail(const std::string& what) {
    std::fprintf(stderr, "zarnplayer-probe: %s\n", what.c_str());
    std::_Exit(2);
}

// Moves size bytes through step (one send or read), however it splits them.
template <typename Step> bool Whole(char* p, std::size_t size, Step step) {
    while (size > 0) {
        const ssize_t n = step(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendAll(const void* data, std::size_t size) {
    return Whole(
        const_cast<char*>(static_cast<const char*>(data)), size,
        [](char* p, std::size_t n) { return ::send(probe::SocketFd, p, n, MSG_NOSIGNAL); });
}

bool ReadAll(void* data, std::size_t size) {
    return Whole(static_cast<char*>(data), size,
                 [](char* p, std::size_t n) { return ::read(probe::SocketFd, p, n); });
}

struct Request {
    probe::Kind kind = probe::Kind::Read;
    std::string name;
    int fd = -1;
    // A measurement's.
    std::uint32_t seconds = 0;
    std::uint32_t cpu = 0;
    bool truePeak = false;
};

std::uint32_t Word(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// One request with its descriptor; false at the end.
bool NextRequest(Request& r) {
    unsigned char head[3];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    iovec iov{head, 1};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = 0;
    do
        n = ::recvmsg(probe::SocketFd, &msg, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    r.fd = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&r.fd, CMSG_DATA(c), sizeof(int));
    if (r.fd < 0 || (msg.msg_flags & MSG_CTRUNC) || !ReadAll(head + 1, 2))
        Fail("a request without its file");
    if (head[0] != static_cast<unsigned char>(probe::Kind::Read) &&
        head[0] != static_cast<unsigned char>(probe::Kind::Measure))
        Fail("a request of an unknown kind");
    r.kind = static_cast<probe::Kind>(head[0]);
    const std::size_t size = head[1] | head[2] << 8;
    if (size > probe::MaxName)
        Fail("a request with an overlong name");
    r.name.resize(size);
    if (!ReadAll(r.name.data(), size))
        return false;
    if (r.kind == probe::Kind::Measure) {
        unsigned char more[9];
        if (!ReadAll(more, sizeof more))
            return false;
        r.seconds = Word(more);
        r.cpu = Word(more + 4);
        if (r.cpu < 1 || r.cpu > probe::MaxMeasureCpu || more[8] > 1)
            Fail("a measurement out of bounds");
        r.truePeak = more[8] == 1;
    }
    return true;
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(1),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// The ID3v1 and INFO readers decide whenever they give a title, as the
// player's own analysis did. The chapter reader's header parse gives the
// container's texts and the duration besides the chapters; GStreamer's
// parsers read only the files that reader does not take.
TProbeAnswer Read(int fd) {
    const auto deadline = Clock::now() + kFileTime;
    TProbeAnswer a;
    const TID3TAG id3 = TID3TAG::FromFd(fd);
    const TRIFFINFO riff = TRIFFINFO::FromFd(fd);
    std::string title, artist;
    if (id3.Found) {
        a.Texts = true;
        title = ShownText(id3.GetTitle());
        artist = ShownText(id3.GetArtist());
    }
    if (riff.Found) {
        a.Texts = true;
        title = ShownText(riff.ISBJ.empty() ? riff.INAM : riff.ISBJ);
        artist = ShownText(riff.IART);
    }
    const bool titled = riff.Found ? !riff.ISBJ.empty() || !riff.INAM.empty()
                                   : id3.Found && !id3.GetTitle().empty();
    TContainerTags container;
    if (TChapterList chapters = ReadChaptersFromFd(fd, Left(deadline), &container)) {
        a.Chapters = std::move(*chapters);
        a.Duration = container.Duration;
        a.Album = container.Album;
        if (!titled && !container.Title.empty()) {
            a.Texts = true;
            title = container.Title;
            artist = container.Artist;
        }
    } else if (!titled && Clock::now() < deadline) {
        const TGSTTAGS tags = TGSTTAGS::FromFd(fd, Left(deadline));
        if (!tags.Title.empty()) {
            a.Texts = true;
            title = tags.Title;
            artist = tags.Artist;
        }
        a.Album = tags.Album;
        a.Duration = tags.Duration;
    }
    a.Title = title;
    a.Artist = artist;
    return a;
}

// Only the demuxers and parsers of the file types the player lists take
// part, and for measurements the audio decoders and a converter (see
// SetUpGStreamer); every other element (play-list demuxers, network
// sources, anything that would follow an address inside a file) is never
// plugged.
constexpr const char* kElements[] = {
    "bin",
    "decodebin",
    "audioconvert",
    "pipeline",
    "filesrc",
    "fakesink",
    "parsebin",
    "typefind",
    "capsfilter",
    "queue",
    "multiqueue",
    "identity",
    "qtdemux",
    "matroskademux",
    "oggdemux",
    "avidemux",
    "asfdemux",
    "wavparse",
    "aiffparse",
    "id3demux",
    "apedemux",
    "flacparse",
    "mpegaudioparse",
    "aacparse",
    "ac3parse",
    "opusparse",
    "vorbisparse",
    "amrparse",
    "dcaparse",
    "mpegpsdemux",
    "tsdemux",
    "flvdemux",
    "rmdemux",
    "h264parse",
    "h265parse",
    "mpeg4videoparse",
    "mpegvideoparse",
    "vc1parse",
    "av1parse",
    "vp9parse",
    "rawaudioparse",
    "wavpackparse",
    "audioparse",
    "sbcparse",
    "mpegtsparse",
    "avdemux_ape",
    "avdemux_au",
    "musepackdemux",
    "avdemux_tta",
    "vobsubparse",
    "subparse",
};

bool Wanted(const char* name) {
    for (const char* e : kElements)
        if (std::strcmp(e, name) == 0)
            return true;
    return false;
}

void SetUpGStreamer() {
    // The registry is read, or rebuilt, in this process: a helper process
    // could not be started once confined.
    gst_registry_fork_set_enabled(FALSE);
    GError* err = nullptr;
    if (!gst_init_check(nullptr, nullptr, &err))
        Fail(std::string("GStreamer: ") + (err ? err->message : "cannot start"));
    GList* factories = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
    for (GList* l = factories; l; l = l->next) {
        auto* feature = GST_PLUGIN_FEATURE(l->data);
        // parsebin stops at a stream a decoder takes, so the decoders stay
        // listed; it never makes one. Only the audio decoders are loaded, for
        // the measurements (decodebin is told to leave pictures undecoded).
        const char* klass = gst_element_factory_get_metadata(GST_ELEMENT_FACTORY(feature),
                                                             GST_ELEMENT_METADATA_KLASS);
        const bool decoder = klass && std::strstr(klass, "Decoder");
        if (decoder && !std::strstr(klass, "Audio"))
            continue;
        if (!decoder && !Wanted(gst_plugin_feature_get_name(feature))) {
            gst_registry_remove_feature(gst_registry_get(), feature);
            continue;
        }
        // Loaded now, while libraries may still be opened.
        if (GstPluginFeature* loaded = gst_plugin_feature_load(feature))
            gst_object_unref(loaded);
    }
    gst_plugin_feature_list_free(factories);
    // The type finders run on every file; theirs are loaded now too.
    GList* finders = gst_type_find_factory_get_list();
    for (GList* l = finders; l; l = l->next)
        if (GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(l->data)))
            gst_object_unref(loaded);
    gst_plugin_feature_list_free(finders);
}

} // namespace

int main(int argc, char** argv) {
    // Ends with the player, which passes its process id: one already gone
    // before the death signal was set means the probe is an orphan.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || std::to_string(::getppid()) != argv[1])
        return 2;
    ::setpgid(0, 0);
    // Nothing else the player held stays open here.
    ::close_range(probe::SocketFd + 1, ~0U, 0);
    // Few heaps: each thread's own would reserve address space.
    ::mallopt(M_ARENA_MAX, 2);
    const char* crashOn = std::getenv(probe::CrashOnEnv);
    const std::string crashName = crashOn ? crashOn : "";

    // The converters' run-time compiler would write its code to a file; the
    // plain C forms of the same routines need none.
    ::setenv("ORC_CODE", "backup", 1);
    SetUpGStreamer();
    // libavformat's set-up, on a file of nothing.
    (void)ReadChaptersFromBytes({});
    if (const std::string failure = probe::Confine(); !failure.empty())
        Fail(failure);
    if (!SendAll(probe::Hello, sizeof probe::Hello))
        return 0;

    Request request;
    while (NextRequest(request)) {
        const std::string& name = request.name;
        const int fd = request.fd;
        const std::size_t slash = name.rfind('/');
        if (!crashName.empty() && name.compare(slash == std::string::npos ? 0 : slash + 1,
                                               std::string::npos, crashName) == 0) {
            // The signal of a real fault, not a sanitizer's report of one.
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
        }
        std::vector<std::uint8_t> message;
        if (request.kind == probe::Kind::Measure) {
            probe::LimitCpuForNextFile(request.cpu);
            loudness::MeasureRequest what;
            what.MaxSeconds = request.seconds;
            what.TruePeak = request.truePeak;
            // Within the player's wait, which is longer than the CPU budget.
            what.TimeOut = std::chrono::milliseconds(1000ll * request.cpu * 3 + 1000);
            const loudness::MeasureOutcome m =
                loudness::Measure("/proc/self/fd/" + std::to_string(fd), what);
            message = probeanswer::EncodeLoudness({m.Figure, m.Failure});
        } else {
            probe::LimitCpuForNextFile();
            message = probeanswer::Encode(Read(fd));
        }
        ::close(fd);
        if (!SendAll(message.data(), message.size()))
            break;
    }
    return 0;
}
