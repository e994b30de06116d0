#include "player/mediainfo/Riffinfo.h"

#include "ChunkBytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace testbytes;

namespace {

Bytes Wave(const std::vector<Bytes>& infoItems, bool withInfo = true) {
    Bytes fmt(16, 1);
    std::vector<Bytes> chunks{Chunk("fmt ", fmt)};
    if (withInfo)
        chunks.push_back(List("LIST", "INFO", infoItems));
    chunks.push_back(Chunk("data", Bytes(10, 0x80)));
    return List("RIFF", "WAVE", chunks);
}

TRIFFINFO Read(const Bytes& b) {
    return TRIFFINFO::FromBytes(b);
}

} // namespace

TEST(RiffInfo, ReadsNameAndArtist) {
    TRIFFINFO r = Read(Wave({Chunk("INAM", Text("Title")), Chunk("IART", Text("Artist"))}));
    ASSERT_TRUE(r.Found);
    EXPECT_EQ(r.INAM, "Title");
    EXPECT_EQ(r.IART, "Artist");
    EXPECT_EQ(r.ISBJ, "");
}

TEST(RiffInfo, EveryTagHasItsOwnField) {
    const char* tags[] = {"IART", "ICMS", "ICMT", "ICOP", "ICRD", "IENG", "IGNR",
                          "IKEY", "INAM", "IPRD", "ISBJ", "ISFT", "ITCH", "ILYC"};
    std::vector<Bytes> items;
    for (const char* tag : tags)
        items.push_back(Chunk(tag, Text(std::string("v-") + tag)));
    TRIFFINFO r = Read(Wave(items));
    const std::string* fields[] = {&r.IART, &r.ICMS, &r.ICMT, &r.ICOP, &r.ICRD, &r.IENG, &r.IGNR,
                                   &r.IKEY, &r.INAM, &r.IPRD, &r.ISBJ, &r.ISFT, &r.ITCH, &r.ILYC};
    for (size_t i = 0; i < std::size(tags); ++i)
        EXPECT_EQ(*fields[i], std::string("v-") + tags[i]);
}

TEST(RiffInfo, UnknownSubChunkBeforeNameIsSkipped) {
    TRIFFINFO r = Read(Wave({Chunk("ZZZZ", Text("odd!")), Chunk("INAM", Text("Title"))}));
    EXPECT_EQ(r.INAM, "Title");
}

TEST(RiffInfo, TextWithoutZeroKeepsAllBytes) {
    TRIFFINFO r = Read(Wave({Chunk("INAM", Text("Abc", false)), Chunk("IART", Text("Z"))}));
    EXPECT_EQ(r.INAM, "Abc"); // odd size: the pad byte is skipped, not read
    EXPECT_EQ(r.IART, "Z");
}

TEST(RiffInfo, TextStopsAtFirstZero) {
    Bytes text = Text("Before");
    Append(text, "After");
    EXPECT_EQ(Read(Wave({Chunk("INAM", text)})).INAM, "Before");
}

TEST(RiffInfo, LaterDuplicateWins) {
    TRIFFINFO r = Read(Wave({Chunk("INAM", Text("First")), Chunk("INAM", Text("Second"))}));
    EXPECT_EQ(r.INAM, "Second");
}

TEST(RiffInfo, EmptyInfoListIsFoundWithNoTexts) {
    TRIFFINFO r = Read(Wave({}));
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.INAM, "");
    EXPECT_EQ(r.IART, "");
}

TEST(RiffInfo, OddSizedChunksBeforeTheListArePadded) {
    Bytes riff = List("RIFF", "AVI ",
                      {Chunk("JUNK", Bytes(7, 1)), Chunk("odd ", Bytes(1, 2)),
                       List("LIST", "INFO", {Chunk("ISBJ", Text("Sub"))})});
    TRIFFINFO r = Read(riff);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.ISBJ, "Sub");
}

TEST(RiffInfo, OtherListsAreNotInfo) {
    Bytes riff = List("RIFF", "WAVE",
                      {List("LIST", "adtl", {Chunk("INAM", Text("no"))}),
                       List("LIST", "INFO", {Chunk("INAM", Text("yes"))})});
    EXPECT_EQ(Read(riff).INAM, "yes");
}

TEST(RiffInfo, NoInfoListOrNoRiffIsNotFound) {
    EXPECT_FALSE(Read(Wave({}, false)).Found);
    Bytes mp3(400, 0xFF);
    Append(mp3, "RIFF");
    EXPECT_FALSE(Read(mp3).Found);
    EXPECT_FALSE(Read(Bytes{}).Found);
    Bytes header;
    Append(header, "RIFF");
    EXPECT_FALSE(Read(header).Found);
}

TEST(RiffInfo, ItemSizePastTheEndTakesWhatTheFileHolds) {
    Bytes riff = List("RIFF", "WAVE", {List("LIST", "INFO", {Chunk("IART", Text("A"))})});
    Bytes item;
    Append(item, "INAM");
    AppendLE32(item, 100000);
    Append(item, "Cut short");
    riff.insert(riff.end(), item.begin(), item.end());
    // The list and the RIFF chunk say nothing of the extra bytes; make them.
    riff[4] = static_cast<std::uint8_t>(riff.size() - 8);
    riff[16] = static_cast<std::uint8_t>(riff.size() - 20);
    TRIFFINFO r = Read(riff);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.IART, "A");
    EXPECT_EQ(r.INAM, "Cut short");
}

TEST(RiffInfo, ListSizePastTheEndStillWalksWhatIsThere) {
    Bytes riff = List("RIFF", "WAVE", {List("LIST", "INFO", {Chunk("INAM", Text("T"))})});
    riff[16] = 0xF0, riff[17] = 0xFF, riff[18] = 0xFF, riff[19] = 0x7F;
    riff[4] = 0xFF, riff[5] = 0xFF, riff[6] = 0xFF, riff[7] = 0xFF;
    TRIFFINFO r = Read(riff);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.INAM, "T");
}

TEST(RiffInfo, TruncatedHeaderInsideTheListEndsTheWalk) {
    Bytes riff = List("RIFF", "WAVE", {List("LIST", "INFO", {Chunk("INAM", Text("T"))})});
    Append(riff, "IAR");
    riff[4] = static_cast<std::uint8_t>(riff.size() - 8);
    riff[16] = static_cast<std::uint8_t>(riff.size() - 20);
    TRIFFINFO r = Read(riff);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.INAM, "T");
    EXPECT_EQ(r.IART, "");
}

TEST(RiffInfo, ItemsAfterTheInfoListAreNotItsOwn) {
    Bytes riff =
        List("RIFF", "WAVE",
             {List("LIST", "INFO", {Chunk("INAM", Text("In"))}), Chunk("IART", Text("Outside"))});
    TRIFFINFO r = Read(riff);
    EXPECT_EQ(r.INAM, "In");
    EXPECT_EQ(r.IART, "");
}

TEST(RiffInfo, HugeDeclaredTextIsBounded) {
    Bytes big(TRIFFINFO::MaxTextSize + 100, 'q');
    TRIFFINFO r = Read(Wave({Chunk("ICMT", big)}));
    EXPECT_EQ(r.ICMT.size(), TRIFFINFO::MaxTextSize);
}

TEST(RiffInfoFile, ReadsFromDiskAndIgnoresMissingFiles) {
    auto path = std::filesystem::temp_directory_path() / ("riff-" + std::to_string(::getpid()));
    Bytes wave = Wave({Chunk("ISBJ", Text("Subject")), Chunk("IART", Text("Who"))});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(wave.data()),
               static_cast<std::streamsize>(wave.size()));
    TRIFFINFO r(path.string());
    std::filesystem::remove(path);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.ISBJ, "Subject");
    EXPECT_EQ(r.IART, "Who");
    EXPECT_FALSE(TRIFFINFO(path.string()).Found);
    EXPECT_FALSE(TRIFFINFO("/").Found);
}
