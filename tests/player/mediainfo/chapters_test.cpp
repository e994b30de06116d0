// Chapters of the files audio books and podcasts come in, made by ffmpeg from
// one chapter list: each way a container keeps chapters gives the same
// three, and files that are not what their name says give nothing at once.
#include "player/mediainfo/Chapters.h"

#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kFolder = "chapters";

// Starts below half a second past the full second: ffmpeg 5.1's Ogg writer
// rounds the seconds of CHAPTERxx and would write 2.5 s as 3.5 s.
struct Written {
    std::int64_t startMs;
    std::string title;
};
const Written kChapters[] = {
    {0, "Opening"},
    {1200, "Gr\xc3\xb6\xc3\x9f"
           "e \xe2\x80\x93 Kapitel 2"},
    {2400, "Ending"},
};
constexpr std::int64_t kLengthMs = 4000;
constexpr std::int64_t kTicksPerMs = 10'000;

enum class TList { None, InOrder, Rotated };

// Rotated: the last chapter written first. ID3v2 CHAP frames and Ogg
// comments keep the order they were written in.
std::string ChapterList(TList list) {
    std::string text = ";FFMETADATA1\ntitle=Book\n";
    const std::size_t n = std::size(kChapters);
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t i = list == TList::Rotated ? (k + n - 1) % n : k;
        std::int64_t end = i + 1 < std::size(kChapters) ? kChapters[i + 1].startMs : kLengthMs;
        text += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(kChapters[i].startMs) +
                "\nEND=" + std::to_string(end) + "\ntitle=" + kChapters[i].title + "\n";
    }
    return text;
}

std::string ChapterListFile(TList list) {
    fs::path path =
        testmedia::Dir(kFolder) / (list == TList::Rotated ? "rotated.ffmeta" : "three.ffmeta");
    if (zarntest::ReadAll(path.string()) != ChapterList(list))
        testmedia::Publish(path, ChapterList(list));
    return path.string();
}

std::string Made(const std::string& name, std::vector<std::string> tail,
                 TList list = TList::InOrder) {
    std::vector<std::string> args{"-f", "lavfi", "-i", "sine=d=4"};
    if (list != TList::None)
        args.insert(args.end(),
                    {"-i", ChapterListFile(list), "-map_metadata", "1", "-map_chapters", "1"});
    args.insert(args.end(), {"-fflags", "+bitexact"});
    args.insert(args.end(), tail.begin(), tail.end());
    std::string path = testmedia::Make(kFolder, name, args);
    EXPECT_FALSE(path.empty()) << "ffmpeg failed for " << name;
    return path;
}

bool Holds(const std::string& path, const std::string& what) {
    return zarntest::ReadAll(path).find(what) != std::string::npos;
}

// An .m4b from which the reference to the chapter track is taken away (its
// box renamed), so the demuxer is left with the Nero list.
std::string NeroListOnly() {
    fs::path path = testmedia::Dir(kFolder) / "nero-only.m4b";
    if (!fs::exists(path)) {
        std::string bytes = zarntest::ReadAll(Made("both.m4b", {"-c:a", "aac"}));
        std::size_t tref = bytes.find("tref");
        std::size_t chap = bytes.find("chap", tref);
        EXPECT_NE(tref, std::string::npos);
        if (tref == std::string::npos || chap == std::string::npos || chap > tref + 8)
            return {};
        bytes.replace(chap, 4, "skip");
        testmedia::Publish(path, bytes);
    }
    return path.string();
}

// ffmpeg writes chapters into the comments of Opus streams only; for Vorbis
// the CHAPTERxx comments are given as the stream's metadata.
std::string VorbisWithChapterComments() {
    std::vector<std::string> args{"-c:a", "libvorbis"};
    for (std::size_t i = 0; i < std::size(kChapters); ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "CHAPTER%03zu", i);
        char time[32];
        std::snprintf(time, sizeof time, "00:00:%02lld.%03lld",
                      static_cast<long long>(kChapters[i].startMs / 1000),
                      static_cast<long long>(kChapters[i].startMs % 1000));
        args.insert(args.end(),
                    {"-metadata:s:a:0", std::string(key) + "=" + time, "-metadata:s:a:0",
                     std::string(key) + "NAME=" + kChapters[i].title});
    }
    return Made("comments.ogg", args, TList::None);
}

std::string Cut(const std::string& name, const std::string& from, std::size_t keep) {
    fs::path path = testmedia::Dir(kFolder) / name;
    if (!fs::exists(path))
        testmedia::Publish(path, zarntest::ReadAll(from).substr(0, keep));
    return path.string();
}

void ExpectTheThree(const TChapterList& read) {
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), std::size(kChapters));
    for (std::size_t i = 0; i < std::size(kChapters); ++i) {
        SCOPED_TRACE(i);
        const TChapter& c = (*read)[i];
        EXPECT_EQ(c.Title, kChapters[i].title);
        EXPECT_NEAR(c.Start, kChapters[i].startMs * kTicksPerMs, kTicksPerMs);
        if (i + 1 < std::size(kChapters))
            EXPECT_NEAR(c.End, kChapters[i + 1].startMs * kTicksPerMs, kTicksPerMs);
        else // the written end, or the file's duration (encoder delay included)
            EXPECT_NEAR(c.End, kLengthMs * kTicksPerMs, 100 * kTicksPerMs);
    }
}

struct Kind {
    const char* name;
    std::vector<std::string> codec;
    const char* mark; // bytes that show the file keeps its chapters the intended way
    const char* absent;
};
const Kind kKinds[] = {
    {"both.m4b", {"-c:a", "aac"}, "chpl", nullptr},
    {"track.m4b", {"-c:a", "aac", "-movflags", "disable_chpl"}, "tref", "chpl"},
    {"chap.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3"}, "CHAP", nullptr},
    {"book.mka", {"-c:a", "libopus"}, nullptr, nullptr},
    {"book.opus", {"-c:a", "libopus"}, "CHAPTER001=00:00:01.200", nullptr},
};

} // namespace

TEST(Chapters, EachContainerKindGivesTheThreeChapters) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        std::string path = Made(k.name, k.codec);
        if (k.mark) {
            ASSERT_TRUE(Holds(path, k.mark)) << "ffmpeg no longer writes " << k.mark;
        }
        if (k.absent) {
            ASSERT_FALSE(Holds(path, k.absent)) << "ffmpeg still writes " << k.absent;
        }
        ExpectTheThree(ReadChapters(path));
    }
    {
        SCOPED_TRACE("Vorbis comments");
        ExpectTheThree(ReadChapters(VorbisWithChapterComments()));
    }
    SCOPED_TRACE("Nero list only");
    std::string nero = NeroListOnly();
    ASSERT_FALSE(nero.empty());
    ASSERT_TRUE(Holds(nero, "chpl"));
    ExpectTheThree(ReadChapters(nero));
}

// The list comes sorted by start, and the ends Ogg comments do not tell are
// the next start and, for the last, the file's duration.
TEST(Chapters, ChaptersWrittenOutOfOrderComeSorted) {
    for (const Kind& k : kKinds) {
        if (k.name != std::string("chap.mp3") && k.name != std::string("book.opus"))
            continue;
        SCOPED_TRACE(k.name);
        std::string path = Made(std::string("rotated-") + k.name, k.codec, TList::Rotated);
        std::string bytes = zarntest::ReadAll(path);
        ASSERT_LT(bytes.find("Ending"), bytes.find("Opening")) << "written in order";
        ExpectTheThree(ReadChapters(path));
    }
}

TEST(Chapters, ContentInMemoryReadsLikeTheFile) {
    for (const char* name : {"both.m4b", "chap.mp3"}) {
        SCOPED_TRACE(name);
        const Kind& k = *std::find_if(std::begin(kKinds), std::end(kKinds),
                                      [&](const Kind& x) { return x.name == std::string(name); });
        std::string bytes = zarntest::ReadAll(Made(k.name, k.codec));
        ExpectTheThree(ReadChaptersFromBytes(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    }
}

TEST(Chapters, FilesWithoutChaptersGiveAnEmptyList) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        TChapterList read =
            ReadChapters(Made(std::string("plain-") + k.name, k.codec, TList::None));
        ASSERT_TRUE(read.has_value());
        EXPECT_TRUE(read->empty());
    }
}

TEST(Chapters, PipesDamagedAndForeignFilesGiveNothingAtOnce) {
    std::string dir = zarntest::MakeTempDir("chapters");
    ASSERT_FALSE(dir.empty());
    std::string fifo = dir + "/pipe.m4b";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string m4b = Made("both.m4b", {"-c:a", "aac"});
    std::string mp3 = Made("chap.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3"});
    std::string junk(3000, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : junk) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
    }
    testmedia::Publish(dir + "/junk.m4b", junk);
    const std::string files[] = {
        fifo,
        dir + "/missing.m4b",
        dir,
        Cut("head.m4b", m4b, 40),
        Cut("cut.m4b", m4b, 5000), // the index sits at the end: gone
        Cut("empty.m4b", m4b, 0),
        Cut("cut.mp3", mp3, 100), // inside the ID3v2 tag
        dir + "/junk.m4b",
    };
    // The library's complaints about damaged files must not reach the
    // player's standard error.
    std::string errors = dir + "/stderr";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int sink = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(sink, 0);
    ::dup2(sink, 2);
    ::close(sink);
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        auto start = std::chrono::steady_clock::now();
        TChapterList read = ReadChapters(f);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_TRUE(!read || read->empty());
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    EXPECT_EQ(zarntest::ReadAll(errors), "");
    EXPECT_FALSE(ReadChapters(fifo).has_value());
    EXPECT_FALSE(ReadChapters(dir + "/junk.m4b").has_value());
    fs::remove_all(dir);
}

// A text the concat demuxer takes, under a book's name, that names a pipe
// beside it (the demuxer takes only relative names, against the working
// folder here): a reader that followed it would wait for a writer forever.
TEST(Chapters, ReferencesToOtherFilesAreNotFollowed) {
    std::string dir = zarntest::MakeTempDir("chapters");
    ASSERT_FALSE(dir.empty());
    std::string fifo = dir + "/pipe.mka";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testmedia::Publish(dir + "/list.m4b", "ffconcat version 1.0\nfile 'pipe.mka'\n");
    fs::path before = fs::current_path();
    fs::current_path(dir);
    // Frees a reader stuck on the pipe, so a failure here is a failure, not a hang.
    std::promise<void> done;
    std::thread rescue([&, finished = done.get_future()] {
        if (finished.wait_for(3s) == std::future_status::ready)
            return;
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });
    auto start = std::chrono::steady_clock::now();
    TChapterList read = ReadChapters("list.m4b");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(read.has_value());
    done.set_value();
    rescue.join();
    fs::current_path(before);
    fs::remove_all(dir);
}

TEST(Chapters, TimeOutStopsTheReading) {
    std::string m4b = Made("both.m4b", {"-c:a", "aac"});
    EXPECT_FALSE(ReadChapters(m4b, 0ms).has_value());
    EXPECT_TRUE(ReadChapters(m4b, 2s).has_value());
}

// A tag of 150,000 chapters that share one start: the first 1,000 are kept,
// in order, each ending at the one later start, found in one walk (a search
// for the next start from each chapter took half a minute).
TEST(Chapters, ManyChaptersAreCappedAndTheirEndsFilledInOneWalk) {
    const std::string many = testmedia::ManyChaptersMp3(150'000);
    ASSERT_FALSE(many.empty()) << "ffmpeg could not make the sound";
    const TChapterList read = ReadChapters(many, 20s);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), MaxChapters);
    EXPECT_EQ(read->front().Title, "Chapter 1");
    EXPECT_EQ(read->back().Title, "Chapter 1000");
    for (const TChapter& c : *read) {
        EXPECT_EQ(c.Start, 0);
        EXPECT_EQ(c.End, 5'000'000);
    }
}
