// How one analysis retitles an entry from the file's tags.
#include "FakeView.h"

#include "tests/player/mediainfo/ChunkBytes.h"

#include <cstdlib>

using namespace testbytes;

namespace {

std::string AsText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

Bytes Mp3(std::string_view title, std::string_view artist) {
    Bytes b(600, 0xFF);
    Bytes tag = Id3Tag(title, artist);
    b.insert(b.end(), tag.begin(), tag.end());
    return b;
}

Bytes Wave(const std::vector<Bytes>& info) {
    return List("RIFF", "WAVE",
                {Chunk("fmt ", Bytes(16, 1)), List("LIST", "INFO", info), Chunk("data", Bytes(8))});
}

class Analysis : public ListTest {
protected:
    void SetUp() override { list.SetView(&view); }
    TFile& AddFile(const std::string& name, const Bytes& content) {
        WriteFile(dir / name, AsText(content));
        list.Add(dir / name);
        return *list.Item(list.Count() - 1);
    }
    std::string Caption(const TFile& f) const { return f.Row ? f.Row->caption : "<no row>"; }
};

} // namespace

TEST_F(Analysis, Id3TitleAndArtist) {
    TFile& f = AddFile("song.mp3", Mp3("Title", "Artist"));
    f.Analyze();
    EXPECT_EQ(f.Title, "song.mp3 - Title - Artist");
    EXPECT_EQ(Caption(f), f.Title);
    ASSERT_TRUE(f.Id3);
    EXPECT_TRUE(f.Id3->Found);
}

TEST_F(Analysis, TitleWithoutArtist) {
    TFile& f = AddFile("song.mp3", Mp3("Title", ""));
    f.Analyze();
    EXPECT_EQ(f.Title, "song.mp3 - Title");
}

TEST_F(Analysis, EmptyTagTitleKeepsThePlainName) {
    TFile& f = AddFile("song.mp3", Mp3("", "Artist"));
    f.Analyze();
    EXPECT_EQ(f.Title, "song.mp3");
    EXPECT_EQ(Caption(f), "song.mp3");
    EXPECT_EQ(f.TagArtist, "Artist");
}

TEST_F(Analysis, RiffNameWhenNoSubject) {
    TFile& f = AddFile("a.wav", Wave({Chunk("INAM", Text("Name")), Chunk("IART", Text("Art"))}));
    f.Analyze();
    EXPECT_EQ(f.Title, "a.wav - Name - Art");
}

TEST_F(Analysis, RiffSubjectComesBeforeName) {
    TFile& f = AddFile("a.wav", Wave({Chunk("INAM", Text("Name")), Chunk("ISBJ", Text("Subj"))}));
    f.Analyze();
    EXPECT_EQ(f.Title, "a.wav - Subj");
}

TEST_F(Analysis, RiffInfoOverridesId3EvenWhenEmpty) {
    Bytes both = Wave({});
    Bytes tag = Id3Tag("FromId3", "Id3Artist");
    both.insert(both.end(), tag.begin(), tag.end());
    TFile& f = AddFile("both.wav", both);
    f.Analyze();
    EXPECT_EQ(f.TagTitle, "");
    EXPECT_EQ(f.TagArtist, "");
    EXPECT_EQ(f.Title, "both.wav");
}

TEST_F(Analysis, NoRiffLeavesTheId3Values) {
    TFile& f = AddFile("x.mp3", Mp3("T", "A"));
    f.Analyze();
    ASSERT_TRUE(f.RiffInfo);
    EXPECT_FALSE(f.RiffInfo->Found);
    EXPECT_EQ(f.TagTitle, "T");
    EXPECT_EQ(f.TagArtist, "A");
}

TEST_F(Analysis, LineBreaksBecomeSpaces) {
    TFile& f = AddFile("a.wav", Wave({Chunk("INAM", Text("Line1\r\nLine2\nEnd\r"))}));
    f.Analyze();
    EXPECT_EQ(f.Title, "a.wav - Line1  Line2 End ");
}

TEST_F(Analysis, TagBytesAreKeptAndShownAsLatin1WhenNotUtf8) {
    TFile& f = AddFile("c.mp3", Mp3("Caf\xE9", "\xC3\xA9t\xC3\xA9"));
    f.Analyze();
    EXPECT_EQ(f.TagTitle, "Caf\xE9");
    EXPECT_EQ(f.Title, "c.mp3 - Caf\xC3\xA9 - \xC3\xA9t\xC3\xA9");
}

TEST_F(Analysis, LaterPassWithoutTagsKeepsEarlierTitle) {
    TFile& f = AddFile("s.mp3", Mp3("Old", ""));
    f.Analyze();
    WriteFile(f.FileName, "no tags any more");
    f.Analyze();
    EXPECT_EQ(f.Title, "s.mp3 - Old");
}

TEST_F(Analysis, UnreadableFileChangesNothing) {
    list.Add(dir / "ghost.mp3"); // names nothing: not added
    EXPECT_EQ(list.Count(), 0);
    WriteFile(dir / "l.lst", (dir / "ghost.mp3") + "\n");
    list.LoadFromFile(dir / "l.lst");
    TFile& f = *list.Item(0);
    f.Analyze();
    EXPECT_EQ(f.Title, "ghost.mp3");
    EXPECT_EQ(f.TagTitle, "");
}

// Files as a real encoder writes them.
TEST_F(Analysis, MediaMadeByFfmpeg) {
    const std::string wav = dir / "made.wav";
    const std::string mp3 = dir / "made.mp3";
    std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 0.2 "
                      "-metadata title='Wave Title' -metadata artist='Wave Artist' '" +
                      wav +
                      "' && ffmpeg -loglevel error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 0.2 "
                      "-write_id3v1 1 -metadata title='Mp3 Title' "
                      "-metadata artist='Mp3 Artist' '" +
                      mp3 + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "ffmpeg is needed for this test";
    list.Add(wav);
    list.Add(mp3);
    list.Item(0)->Analyze();
    list.Item(1)->Analyze();
    EXPECT_EQ(list.Item(0)->Title, "made.wav - Wave Title - Wave Artist");
    EXPECT_EQ(list.Item(1)->Title, "made.mp3 - Mp3 Title - Mp3 Artist");
}

// A folder of today's files: the scan takes them (and only media), and their
// titles come from the tags their containers carry.
TEST_F(Analysis, FolderOfOpusAndM4aFilesIsListedAndTitled) {
    auto make = [&](const std::string& name, const std::string& title, const std::string& artist) {
        std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=0.3 "
                          "-metadata title='" +
                          title + "' -metadata artist='" + artist + "' '" + (dir / name) + "'";
        return std::system(cmd.c_str());
    };
    ASSERT_EQ(make("ep1.opus", "Opus Title", "Opus Artist"), 0) << "ffmpeg is needed";
    ASSERT_EQ(make("book.m4a", "M4a Title", "M4a Artist"), 0);
    WriteFile(dir / "notes.txt", "not media");
    list.Add(dir.path().string());
    ASSERT_EQ(list.Count(), 2);
    list.Sort(TSortKind::ByName);
    list.Relist();
    for (int i = 0; i < list.Count(); ++i)
        list.Item(i)->Analyze();
    EXPECT_EQ(list.Item(0)->Title, "book.m4a - M4a Title - M4a Artist");
    EXPECT_EQ(list.Item(1)->Title, "ep1.opus - Opus Title - Opus Artist");
    EXPECT_EQ(Caption(*list.Item(1)), list.Item(1)->Title);
    EXPECT_FALSE(list.Item(0)->TimeText.empty());
}
