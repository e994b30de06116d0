#include "player/mediainfo/Chapters.h"

#include "platform/regularfile.h"
#include "player/mediainfo/TagText.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr AVRational kTicks{1, 10'000'000};

// The demuxers of the containers that carry chapters in the files this is
// for; anything else is refused after probing, so no other demuxer parses
// what a file says (playlists and concat lists would name further files).
constexpr const char* kFormats = "mov,mp3,matroska,ogg,flac,aac,wav,aiff,asf";

// Where the bytes come from: a regular file read at offsets (a name swapped
// after the check cannot reach the library) or a whole content in memory.
// The deadline is checked on every read and seek, so a demuxer that keeps
// reading stops there.
struct TSource {
    int Fd = -1;
    std::span<const std::uint8_t> Bytes;
    std::int64_t Size = 0;
    std::int64_t Pos = 0;
    std::chrono::steady_clock::time_point Deadline;
    bool TimedOut = false;

    bool Expired() {
        if (!TimedOut && std::chrono::steady_clock::now() >= Deadline)
            TimedOut = true;
        return TimedOut;
    }
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* s = static_cast<TSource*>(opaque);
    if (s->Expired())
        return AVERROR_EXIT;
    if (size <= 0 || s->Pos >= s->Size)
        return AVERROR_EOF;
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, s->Size - s->Pos));
    if (s->Fd < 0) {
        std::memcpy(buffer, s->Bytes.data() + s->Pos, wanted);
        s->Pos += static_cast<std::int64_t>(wanted);
        return static_cast<int>(wanted);
    }
    ssize_t got = 0;
    do
        got = ::pread(s->Fd, buffer, wanted, s->Pos);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return AVERROR(errno);
    if (got == 0)
        return AVERROR_EOF;
    s->Pos += got;
    return static_cast<int>(got);
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* s = static_cast<TSource*>(opaque);
    if (whence & AVSEEK_SIZE)
        return s->Size;
    if (s->Expired())
        return AVERROR_EXIT;
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = s->Pos;
        break;
    case SEEK_END:
        base = s->Size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < -base || offset > INT64_MAX - base || base + offset < 0)
        return AVERROR(EINVAL);
    s->Pos = base + offset;
    return s->Pos;
}

int Interrupted(void* opaque) {
    return static_cast<TSource*>(opaque)->Expired() ? 1 : 0;
}

// A demuxer that follows a reference to another file or a URL gets nothing.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// The library prints its complaints about damaged files on standard error
// unless told otherwise; the player's own output is its messages only.
void SilenceLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::int64_t ToTicks(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0)
        return AV_NOPTS_VALUE;
    // av_rescale_q gives AV_NOPTS_VALUE (INT64_MIN) when the result overflows.
    return av_rescale_q(value, base, kTicks);
}

// The longest duration the header tells, in ticks; -1 when it tells none.
std::int64_t Duration(const AVFormatContext* ctx) {
    std::int64_t best = -1;
    if (ctx->duration > 0)
        best = ToTicks(ctx->duration, AV_TIME_BASE_Q);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->duration > 0)
            best = std::max(best, ToTicks(st->duration, st->time_base));
    }
    return best > 0 ? best : -1;
}

// A title cut to at most MaxChapterTitle bytes without splitting a character.
std::string CutTitle(std::string title) {
    if (title.size() <= MaxChapterTitle)
        return title;
    std::size_t cut = MaxChapterTitle;
    while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
        --cut;
    title.resize(cut);
    return title;
}

std::vector<TChapter> Collect(const AVFormatContext* ctx) {
    std::vector<TChapter> out;
    out.reserve(std::min<unsigned>(ctx->nb_chapters, MaxChapters + 1));
    for (unsigned i = 0; i < ctx->nb_chapters; ++i) {
        const AVChapter* c = ctx->chapters[i];
        std::int64_t start = ToTicks(c->start, c->time_base);
        if (start == AV_NOPTS_VALUE)
            continue;
        TChapter chapter;
        chapter.Start = std::max<std::int64_t>(start, 0);
        std::int64_t end = ToTicks(c->end, c->time_base);
        chapter.End = end > chapter.Start ? end : -1;
        if (const AVDictionaryEntry* title = av_dict_get(c->metadata, "title", nullptr, 0))
            chapter.Title = CutTitle(ShownText(title->value));
        out.push_back(std::move(chapter));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TChapter& a, const TChapter& b) { return a.Start < b.Start; });
    // From the back, the start of the first chapter beyond the current run
    // of equal starts is known at each step: one walk, however many share a
    // start.
    const std::int64_t duration = Duration(ctx);
    std::int64_t after = -1;
    for (std::size_t i = out.size(); i-- > 0;) {
        if (i + 1 < out.size() && out[i + 1].Start > out[i].Start)
            after = out[i + 1].Start;
        if (out[i].End >= 0)
            continue;
        if (after >= 0)
            out[i].End = after;
        else if (duration > out[i].Start)
            out[i].End = duration;
    }
    if (out.size() > MaxChapters)
        out.resize(MaxChapters);
    return out;
}

// A text of the file's own metadata, else of its first stream's (where Ogg
// keeps its comments).
std::string MetadataText(const AVFormatContext* ctx, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(ctx->metadata, key, nullptr, 0);
    if (!e && ctx->nb_streams > 0)
        e = av_dict_get(ctx->streams[0]->metadata, key, nullptr, 0);
    return e && e->value ? ShownText(e->value) : std::string();
}

TChapterList Read(TSource& source, std::chrono::milliseconds timeOut, TContainerTags* tags) {
    SilenceLibrary();
    source.Deadline = std::chrono::steady_clock::now() + timeOut;
    constexpr int kBufferSize = 32 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer)
        return std::nullopt;
    AVIOContext* pb =
        avio_alloc_context(buffer, kBufferSize, 0, &source, ReadPacket, nullptr, Seek);
    if (!pb) {
        av_free(buffer);
        return std::nullopt;
    }
    TChapterList result;
    if (AVFormatContext* ctx = avformat_alloc_context()) {
        ctx->pb = pb;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        ctx->interrupt_callback = {Interrupted, &source};
        ctx->io_open = RefuseOpen;
        ctx->format_whitelist = av_strdup(kFormats);
        ctx->protocol_whitelist = av_strdup("none");
        // Frees the context when it fails.
        if (avformat_open_input(&ctx, nullptr, nullptr, nullptr) == 0) {
            try {
                if (!source.TimedOut)
                    result = Collect(ctx);
                if (result && tags) {
                    tags->Title = MetadataText(ctx, "title");
                    tags->Artist = MetadataText(ctx, "artist");
                    tags->Album = MetadataText(ctx, "album");
                    tags->Duration = Duration(ctx);
                }
            } catch (...) {
                result.reset(); // out of memory: as if unreadable
            }
            avformat_close_input(&ctx);
        }
    }
    // With I/O of its own making the format context frees neither the I/O
    // context nor its buffer (which the library may have replaced).
    av_freep(&pb->buffer);
    avio_context_free(&pb);
    return result;
}

} // namespace

TChapterList ReadChapters(const std::string& fileName, std::chrono::milliseconds timeOut) {
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return std::nullopt;
    TChapterList result = ReadChaptersFromFd(fd, timeOut);
    ::close(fd);
    return result;
}

TChapterList ReadChaptersFromFd(int fd, std::chrono::milliseconds timeOut, TContainerTags* tags) {
    TSource source;
    source.Fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    source.Size = st.st_size;
    return Read(source, timeOut, tags);
}

TChapterList ReadChaptersFromBytes(std::span<const std::uint8_t> content,
                                   std::chrono::milliseconds timeOut) {
    TSource source;
    source.Bytes = content;
    source.Size = static_cast<std::int64_t>(content.size());
    return Read(source, timeOut, nullptr);
}
