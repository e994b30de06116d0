#include "player/mediainfo/Id3.h"
#include "tests/support/Files.h"

#include "ChunkBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace testbytes;

namespace {

TID3TAG Read(const Bytes& content) {
    return TID3TAG::FromBytes(content);
}

Bytes WithAudio(const Bytes& tag, size_t audioBytes = 1000) {
    Bytes out(audioBytes, 0xFF);
    out.insert(out.end(), tag.begin(), tag.end());
    return out;
}

} // namespace

TEST(Id3Title, ThirtyLettersWithoutZeroStopAtTheField) {
    TID3TAG t = Read(WithAudio(Id3Tag("ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "Artist")));
    ASSERT_TRUE(t.Found);
    EXPECT_EQ(t.GetTitle(), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd");
    EXPECT_EQ(t.GetArtist(), "Artist");
}

TEST(Id3Title, PaddingSpacesAreTrimmedOnlyWhenTheTextRunsOn) {
    std::string word = "Word" + std::string(26, ' ');
    EXPECT_EQ(Read(Id3Tag(word, "Someone")).GetTitle(), "Word");
    // Artist field starting with byte 0: the title is exactly 30 bytes and kept whole.
    EXPECT_EQ(Read(Id3Tag(word, "")).GetTitle(), word);
}

TEST(Id3Title, TrailingSpacesBeforeZeroStay) {
    EXPECT_EQ(Read(Id3Tag(std::string("Word  \0", 7), "X")).GetTitle(), "Word  ");
}

TEST(Id3Title, LeadingControlBytesGoWhenTrimmed) {
    std::string title = "\t\x01 Name" + std::string(23, ' ');
    EXPECT_EQ(Read(Id3Tag(title, "Artist")).GetTitle(), "Name");
}

TEST(Id3Title, ZeroFirstGivesEmptyTitle) {
    TID3TAG t = Read(Id3Tag("", "Artist"));
    EXPECT_TRUE(t.Found);
    EXPECT_EQ(t.GetTitle(), "");
}

TEST(Id3Artist, RunsOnIntoTheAlbumAndIsCut) {
    std::string artist(30, 'a');
    TID3TAG t = Read(Id3Tag("T", artist, 'z'));
    EXPECT_EQ(t.GetArtist(), artist);
}

TEST(Id3Artist, NoZeroAnywhereStaysInsideTheTag) {
    Bytes tag(128, 'x');
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    TID3TAG t = Read(tag);
    EXPECT_EQ(t.GetTitle(), std::string(30, 'x'));
    EXPECT_EQ(t.GetArtist(), std::string(30, 'x'));
}

TEST(Id3Found, OnlyTheLast128BytesCount) {
    Bytes tagFirst = Id3Tag("T", "A");
    tagFirst.resize(300, 0);
    TID3TAG t = Read(tagFirst);
    EXPECT_FALSE(t.Found);
    EXPECT_EQ(t.Raw, (std::array<std::uint8_t, 128>{}));

    Bytes lower = Id3Tag("T", "A");
    lower[0] = 't';
    EXPECT_FALSE(Read(lower).Found);
}

class Id3File : public ::testing::Test {
protected:
    zarntest::TempDir folder;
    const std::filesystem::path dir = folder.path();
    std::string Write(const std::string& name, const Bytes& content) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return path;
    }
};

TEST_F(Id3File, ExactlyOneTagLongHasATag) {
    TID3TAG t(Write("a.mp3", Id3Tag("Song", "Band")));
    ASSERT_TRUE(t.Found);
    EXPECT_EQ(t.GetTitle(), "Song");
    EXPECT_EQ(t.GetArtist(), "Band");
}

TEST_F(Id3File, ShorterThanATagHasNone) {
    Bytes content = Id3Tag("Song", "Band");
    content.resize(100);
    TID3TAG t(Write("short.mp3", content));
    EXPECT_FALSE(t.Found);
}

TEST_F(Id3File, TagAfterAudioIsRead) {
    TID3TAG t(Write("long.mp3", WithAudio(Id3Tag("Song", "Band"), 5000)));
    EXPECT_TRUE(t.Found);
    EXPECT_EQ(t.GetTitle(), "Song");
}

TEST_F(Id3File, MissingFileAndFolderHaveNone) {
    EXPECT_FALSE(TID3TAG((dir / "none.mp3").string()).Found);
    EXPECT_FALSE(TID3TAG(dir.string()).Found);
}
