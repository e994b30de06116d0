// Titles and durations from the tags of today's files, read through
// GStreamer, and how the analysis uses them after the ID3v1 and RIFF INFO
// readers. The media is made with ffmpeg once per build tree and shared by
// the test processes.
#include "player/mediainfo/Gsttags.h"

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "tests/player/list/FakeView.h"
#include "tests/player/mediainfo/ChunkBytes.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path MediaDir() {
    return testmedia::Dir("gsttags");
}

void Publish(const fs::path& path, const std::string& bytes) {
    testmedia::Publish(path, bytes);
}

std::string Media(const std::string& name, const std::vector<std::string>& args) {
    std::string path = testmedia::Make("gsttags", name, args);
    EXPECT_FALSE(path.empty()) << "ffmpeg failed for " << name;
    return path;
}

std::vector<std::string> Sine(std::vector<std::string> tail, const char* seconds = "1.5") {
    std::vector<std::string> args{
        "-f", "lavfi",   "-i",       std::string("sine=d=") + seconds, "-map_metadata",
        "-1", "-fflags", "+bitexact"};
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
}

std::vector<std::string> Meta(const std::string& title, const std::string& artist) {
    std::vector<std::string> out{"-metadata", "title=" + title};
    if (!artist.empty())
        out.insert(out.end(), {"-metadata", "artist=" + artist});
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A title outside Latin-1, so only a reader that keeps UTF-8 gets it right.
const std::string kTitle = "Gr\xc3\xbc\xc3\x9f"
                           "e \xe2\x98\x83";

std::string Mp3V2(const std::string& name, const std::string& title, const std::string& artist) {
    return Media(name, Sine({"-c:a", "libmp3lame", "-id3v2_version", "3", "-write_id3v1", "0"}) +
                           Meta(title, artist));
}

struct Container {
    const char* ext;
    std::vector<std::string> codec;
};
const Container kContainers[] = {
    {".mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3"}},
    {".ogg", {"-c:a", "libvorbis"}},
    {".m4a", {"-c:a", "aac"}},
    {".wma", {"-c:a", "wmav2"}},
    {".flac", {"-c:a", "flac"}},
};

std::string Tagged(const Container& c) {
    return Media(std::string("tagged") + c.ext, Sine(c.codec) + Meta(kTitle, "The Artist"));
}

// The first bytes of a good file.
std::string Damaged(const std::string& name, const std::string& from, size_t keep) {
    fs::path path = MediaDir() / name;
    if (!fs::exists(path))
        Publish(path, ReadFile(from).substr(0, keep));
    return path.string();
}

// Bytes no demuxer recognises, under a media file's name.
std::string Junk(const std::string& name) {
    fs::path path = MediaDir() / name;
    if (!fs::exists(path)) {
        std::string bytes(3000, '\0');
        std::uint32_t x = 2463534242u;
        for (char& c : bytes) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = static_cast<char>(x);
        }
        Publish(path, bytes);
    }
    return path.string();
}

double Seconds(std::int64_t duration) {
    return static_cast<double>(duration) / 1e7;
}

} // namespace

TEST(GstTags, ReadsTitleArtistAndDurationOfEachContainer) {
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.ext);
        TGSTTAGS tags(Tagged(c));
        EXPECT_TRUE(tags.Found);
        EXPECT_FALSE(tags.TimedOut);
        EXPECT_EQ(tags.Title, kTitle);
        EXPECT_EQ(tags.Artist, "The Artist");
        EXPECT_NEAR(Seconds(tags.Duration), 1.5, 0.15);
    }
}

TEST(GstTags, FileWithoutTagsHasADurationButNoTexts) {
    TGSTTAGS tags(Media("plain.ogg", Sine({"-c:a", "libvorbis"}, "2.5")));
    EXPECT_TRUE(tags.Found);
    EXPECT_TRUE(tags.Title.empty());
    EXPECT_TRUE(tags.Artist.empty());
    EXPECT_NEAR(Seconds(tags.Duration), 2.5, 0.15);
}

TEST(GstTags, HoursLongFileTellsHours) {
    std::string path = Media("long.flac", {"-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono", "-t",
                                           "3725", "-metadata", "title=Long", "-c:a", "flac"});
    TGSTTAGS tags(path);
    EXPECT_EQ(tags.Title, "Long");
    EXPECT_EQ(DurationText(tags.Duration), "1:02:05");
}

TEST(GstTags, DamagedAndForeignFilesGiveNothingWithinTheTimeOut) {
    std::string m4a = Tagged(kContainers[2]);
    const std::string files[] = {
        Damaged("cut.m4a", m4a, 5000), // header kept, media cut: the demuxer waits
        Damaged("head.m4a", m4a, 40),
        Damaged("empty.ogg", m4a, 0),
        Junk("junk.ogg"),
    };
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        auto start = std::chrono::steady_clock::now();
        TGSTTAGS tags(f, 500ms);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(tags.Found);
        EXPECT_TRUE(tags.Title.empty());
        EXPECT_EQ(tags.Duration, -1);
        EXPECT_LT(took, 3s) << "the reader outlived its time-out";
    }
}

TEST(GstTags, TimeOutStopsAReadingUnderWay) {
    TGSTTAGS tags(Tagged(kContainers[0]), 0ms);
    EXPECT_TRUE(tags.TimedOut);
    EXPECT_FALSE(tags.Found);
    EXPECT_EQ(tags.Duration, -1);
}

TEST(GstTags, LeavesPipesFoldersAndMissingFilesAlone) {
    TempDir dir;
    std::string fifo = dir / "pipe.ogg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening the pipe for reading would block until a writer came.
    for (const std::string& f : {fifo, dir.path().string(), dir / "missing.ogg"}) {
        TGSTTAGS tags(f);
        EXPECT_FALSE(tags.Found) << f;
        EXPECT_FALSE(tags.TimedOut) << f;
    }
}

TEST(GstTags, BytesInMemoryReadLikeTheFile) {
    std::string path = Tagged(kContainers[1]);
    std::string bytes = ReadFile(path);
    TGSTTAGS fromFile(path);
    TGSTTAGS fromBytes =
        TGSTTAGS::FromBytes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    EXPECT_TRUE(fromBytes.Found);
    EXPECT_EQ(fromBytes.Title, fromFile.Title);
    EXPECT_EQ(fromBytes.Artist, fromFile.Artist);
    EXPECT_EQ(fromBytes.Duration, fromFile.Duration);
}

TEST(GstTags, TakeKeepsTheFirstTexts) {
    gst_init(nullptr, nullptr);
    GstTagList* file = gst_tag_list_new(GST_TAG_TITLE, "Album Side", nullptr);
    GstTagList* stream =
        gst_tag_list_new(GST_TAG_TITLE, "Track Name", GST_TAG_ARTIST, "Band", nullptr);
    TGSTTAGS tags(""); // reads nothing
    tags.Take(file);
    tags.Take(stream);
    EXPECT_EQ(tags.Title, "Album Side");
    EXPECT_EQ(tags.Artist, "Band");
    gst_tag_list_unref(file);
    gst_tag_list_unref(stream);
}

TEST(GstTags, DurationText) {
    const std::int64_t s = 10'000'000;
    EXPECT_EQ(DurationText(-1), "");
    EXPECT_EQ(DurationText(0), "0:00");
    EXPECT_EQ(DurationText(59 * s + s - 1), "0:59");
    EXPECT_EQ(DurationText(61 * s), "1:01");
    EXPECT_EQ(DurationText(3599 * s), "59:59");
    EXPECT_EQ(DurationText(3600 * s), "1:00:00");
    EXPECT_EQ(DurationText(36000 * s + 62 * s), "10:01:02");
}

namespace {

class TodaysTags : public ::testing::Test {
protected:
    void SetUp() override { list.SetView(&view); }
    TFile& Add(const std::string& path) {
        list.Add(path);
        return *list.Item(list.Count() - 1);
    }
    // The file under a name of the test's own, so the caption is known.
    TFile& AddAs(const std::string& name, const std::string& from) {
        fs::copy_file(from, dir / name);
        return Add(dir / name);
    }

    TempDir dir;
    FakeView view;
    TFileList list;
};

} // namespace

TEST_F(TodaysTags, Id3v2TitleAndArtistTitleAnMp3) {
    TFile& f = AddAs("song.mp3", Mp3V2("v2.mp3", "New Title", "New Artist"));
    f.Analyze();
    EXPECT_EQ(f.Title, "song.mp3 - New Title - New Artist");
    EXPECT_EQ(f.Row->caption, f.Title);
    EXPECT_EQ(f.TimeText, "0:01");
    EXPECT_EQ(f.Row->timeText, "0:01");
    EXPECT_EQ(f.TagTitle, "New Title");
    EXPECT_EQ(f.TagArtist, "New Artist");
}

TEST_F(TodaysTags, Id3v1WinsOverId3v2) {
    std::string bytes = ReadFile(Mp3V2("v2.mp3", "New Title", "New Artist"));
    testbytes::Bytes v1 = testbytes::Id3Tag("Old Title", "Old Artist");
    WriteFile(dir / "both.mp3", bytes + std::string(v1.begin(), v1.end()));
    TFile& f = Add(dir / "both.mp3");
    f.Analyze();
    EXPECT_EQ(f.Title, "both.mp3 - Old Title - Old Artist");
    EXPECT_EQ(f.Row->caption, f.Title);
}

TEST_F(TodaysTags, EveryContainerTitlesItsEntry) {
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.ext);
        TFile& f = AddAs(std::string("a") + c.ext, Tagged(c));
        f.Analyze();
        EXPECT_EQ(f.Title, std::string("a") + c.ext + " - " + kTitle + " - The Artist");
        EXPECT_EQ(f.Row->caption, f.Title);
        EXPECT_EQ(f.Row->timeText, "0:01");
    }
}

TEST_F(TodaysTags, TitleWithoutArtistAndLineBreaks) {
    TFile& f = AddAs("t.ogg",
                     Media("broken-title.ogg", Sine({"-c:a", "libvorbis"}) + Meta("One\nTwo", "")));
    f.Analyze();
    EXPECT_EQ(f.Title, "t.ogg - One Two");
}

TEST_F(TodaysTags, FileWithoutTagsKeepsItsName) {
    TFile& f = AddAs("plain.m4a", Media("plain.m4a", Sine({"-c:a", "aac"}, "2.5")));
    f.Analyze();
    EXPECT_EQ(f.Title, "plain.m4a");
    EXPECT_EQ(f.Row->caption, "plain.m4a");
    EXPECT_EQ(f.Row->timeText, "0:02");
    EXPECT_TRUE(f.TagTitle.empty());
}

TEST_F(TodaysTags, TitledWaveNeedsNoThirdReading) {
    std::string path =
        Media("info.wav", Sine({"-c:a", "pcm_s16le"}) + Meta("Info Name", "Info Artist"));
    TFile::Tags tags = TFile::ReadTags(path);
    ASSERT_TRUE(tags.RiffInfo && tags.RiffInfo->Found);
    EXPECT_EQ(tags.RiffInfo->INAM, "Info Name");
    EXPECT_EQ(tags.GstTags, nullptr) << "a titled file needs no third reading";
    TFile& f = AddAs("w.wav", path);
    f.Analyze();
    EXPECT_EQ(f.Title, "w.wav - Info Name - Info Artist");
    EXPECT_EQ(f.TimeText, "");
}

TEST_F(TodaysTags, DamagedFileDoesNotStallThePass) {
    Options().AnalyzeFileInfo = 1;
    std::string m4a = Tagged(kContainers[2]);
    std::string ogg = Tagged(kContainers[1]);
    list.BeginUpdate();
    Add(Damaged("cut.m4a", m4a, 5000));
    Add(Damaged("head.m4a", m4a, 40));
    Add(Junk("junk.ogg"));
    AddAs("good.ogg", ogg);
    list.EndUpdate();
    auto start = std::chrono::steady_clock::now();
    while (list.Analyzing() && std::chrono::steady_clock::now() - start < 40s)
        std::this_thread::sleep_for(5ms);
    ASSERT_FALSE(list.Analyzing()) << "the pass stalled";
    EXPECT_EQ(list.ApplyAnalysis(), 4);
    EXPECT_EQ(view.Captions(),
              (std::vector<std::string>{"cut.m4a", "head.m4a", "junk.ogg",
                                        "good.ogg - " + kTitle + " - The Artist"}));
    Options().AnalyzeFileInfo = 0;
}
