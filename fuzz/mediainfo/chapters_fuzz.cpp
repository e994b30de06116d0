// The chapter reader over arbitrary file contents: libavformat's probing and
// the header parsers of the containers it takes, then the reader's own
// sorting and filling of ends. Seeds: an MP3 with ID3v2 CHAP frames, an MP4
// with a Nero chpl list, an Ogg Opus stream with CHAPTERxx comments.
#include "player/mediainfo/Chapters.h"
#include "player/mediainfo/TagText.h"

#include "Seeds.h"
#include "fuzz/Bytes.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TChapterList read = ReadChaptersFromBytes({data, size});
    if (!read)
        return 0;
    for (std::size_t i = 0; i < read->size(); ++i) {
        const TChapter& c = (*read)[i];
        if (c.Start < 0 || (c.End != -1 && c.End <= c.Start) || !IsValidUtf8(c.Title))
            std::abort();
        if (i > 0 && (*read)[i - 1].Start > c.Start)
            std::abort();
    }
    return 0;
}

namespace {

using namespace fuzzseed;

struct Mark {
    std::uint32_t ms;
    std::string_view title;
};
constexpr Mark kMarks[] = {{0, "One"}, {1500, "Zwei \xc3\xbc"}, {3000, "Three"}};

Bytes Mp3WithChapFrames() {
    Bytes frames;
    for (std::size_t i = 0; i < std::size(kMarks); ++i) {
        Bytes body;
        Add(body, "ch" + std::to_string(i));
        body.push_back(0);
        AddBE(body, kMarks[i].ms, 4);
        AddBE(body, i + 1 < std::size(kMarks) ? kMarks[i + 1].ms : 4000, 4);
        AddBE(body, 0xFFFFFFFF, 4);
        AddBE(body, 0xFFFFFFFF, 4);
        Add(body, "TIT2");
        AddBE(body, kMarks[i].title.size() + 1, 4);
        AddBE(body, 0, 2);
        body.push_back(3); // UTF-8
        Add(body, kMarks[i].title);
        Add(frames, "CHAP");
        AddBE(frames, body.size(), 4);
        AddBE(frames, 0, 2);
        frames.insert(frames.end(), body.begin(), body.end());
    }
    Bytes out;
    Add(out, "ID3");
    out.insert(out.end(), {3, 0, 0});
    for (int shift = 21; shift >= 0; shift -= 7) // sync-safe size
        out.push_back(static_cast<std::uint8_t>((frames.size() >> shift) & 0x7F));
    out.insert(out.end(), frames.begin(), frames.end());
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame.
    for (int f = 0; f < 12; ++f) {
        AddBE(out, 0xFFFB9000, 4);
        out.resize(out.size() + 413, 0);
    }
    return out;
}

Bytes Box(std::string_view type, const Bytes& body) {
    Bytes out;
    AddBE(out, body.size() + 8, 4);
    Add(out, type);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Mp4WithNeroList() {
    Bytes ftyp;
    Add(ftyp, "M4B ");
    AddBE(ftyp, 0, 4);
    Add(ftyp, "M4B isom");
    Bytes mvhd(100, 0);
    mvhd[14] = 0x03, mvhd[15] = 0xe8; // time scale 1000
    mvhd[18] = 0x0f, mvhd[19] = 0xa0; // duration 4000
    mvhd[21] = 0x01;                  // rate 1.0
    mvhd[24] = 0x01;                  // volume 1.0
    mvhd[99] = 0x02;                  // next track id
    Bytes chpl{1, 0, 0, 0};
    AddBE(chpl, 0, 4);
    chpl.push_back(static_cast<std::uint8_t>(std::size(kMarks)));
    for (const Mark& m : kMarks) {
        AddBE(chpl, std::uint64_t{m.ms} * 10'000, 8);
        chpl.push_back(static_cast<std::uint8_t>(m.title.size()));
        Add(chpl, m.title);
    }
    Bytes moov = Box("mvhd", mvhd);
    Bytes udta = Box("udta", Box("chpl", chpl));
    moov.insert(moov.end(), udta.begin(), udta.end());
    Bytes out = Box("ftyp", ftyp);
    Bytes m = Box("moov", moov);
    out.insert(out.end(), m.begin(), m.end());
    return out;
}

std::uint32_t OggCrc(const Bytes& page) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : page) {
        crc ^= std::uint32_t{b} << 24;
        for (int k = 0; k < 8; ++k)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

Bytes OggPage(const Bytes& packet, std::uint8_t flags, std::uint32_t sequence,
              std::uint64_t granule = 0) {
    Bytes page;
    Add(page, "OggS");
    page.push_back(0);
    page.push_back(flags);
    AddLE(page, granule, 8);
    AddLE(page, 0x5A524E, 4);
    AddLE(page, sequence, 4);
    AddLE(page, 0, 4);
    std::size_t left = packet.size();
    Bytes lacing;
    while (left >= 255) {
        lacing.push_back(255);
        left -= 255;
    }
    lacing.push_back(static_cast<std::uint8_t>(left));
    page.push_back(static_cast<std::uint8_t>(lacing.size()));
    page.insert(page.end(), lacing.begin(), lacing.end());
    page.insert(page.end(), packet.begin(), packet.end());
    std::uint32_t crc = OggCrc(page);
    for (int i = 0; i < 4; ++i)
        page[22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return page;
}

Bytes OpusWithChapterComments() {
    Bytes head;
    Add(head, "OpusHead");
    head.insert(head.end(), {1, 1});
    AddLE(head, 312, 2);
    AddLE(head, 48000, 4);
    AddLE(head, 0, 2);
    head.push_back(0);
    Bytes tags;
    Add(tags, "OpusTags");
    AddLE(tags, 4, 4);
    Add(tags, "seed");
    AddLE(tags, 2 * std::size(kMarks), 4);
    for (std::size_t i = 0; i < std::size(kMarks); ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "00:00:%02u.%03u", kMarks[i].ms / 1000,
                      kMarks[i].ms % 1000);
        std::string index = "CHAPTER00" + std::to_string(i);
        std::string comments[] = {index + "=" + time,
                                  index + "NAME=" + std::string(kMarks[i].title)};
        for (const std::string& c : comments) {
            AddLE(tags, c.size(), 4);
            Add(tags, c);
        }
    }
    Bytes out = OggPage(head, 0x02, 0);
    // The demuxer reads on to the first audio packet before it is done with
    // the headers: one 20 ms frame of silence that ends the stream at 4 s.
    for (const Bytes& page :
         {OggPage(tags, 0x00, 1), OggPage(Bytes{0xF8, 0xFF, 0xFE}, 0x04, 2, 312 + 4 * 48000)})
        out.insert(out.end(), page.begin(), page.end());
    return out;
}

} // namespace

const fuzzseeds::Seeds& TargetSeeds() {
    static const fuzzseeds::Seeds all{Mp3WithChapFrames(), Mp4WithNeroList(),
                                      OpusWithChapterComments()};
    return all;
}
