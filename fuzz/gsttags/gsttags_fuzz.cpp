// The tag texts the container-tag reader takes: GStreamer's own parsers of
// Vorbis comments and ID3v2 tags turn hostile bytes into tag lists, and the
// reader takes its title and artist from them; the duration text is made
// from any 64-bit count. The first byte chooses the parser. GStreamer
// 1.22's XMP parser is left out: it reads past its own copy of a packet
// (strncmp after a match, terminated or not), a fault of the library that
// no input of ours can avoid, and a target that always finds it finds
// nothing else.
// Whole files through the pipeline are covered by the reader's tests on
// damaged media: one reading there costs milliseconds, too slow to replay
// thousands of times.
#include "player/mediainfo/Gsttags.h"
#include "player/mediainfo/TagText.h"

#include "Seeds.h"
#include "fuzz/Bytes.h"

#include <gst/gst.h>
#include <gst/tag/tag.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

GstTagList* Parse(std::uint8_t mode, const std::uint8_t* data, std::size_t size) {
    if (mode % 2 == 0) {
        // The parser compares and skips the 7 identifier bytes before it
        // looks at the size: a shorter packet must not reach it.
        if (size < 7)
            return nullptr;
        return gst_tag_list_from_vorbiscomment(
            data, size, reinterpret_cast<const guint8*>("\x03vorbis"), 7, nullptr);
    }
    GstBuffer* buffer = gst_buffer_new_memdup(data, size);
    GstTagList* tags = gst_tag_list_from_id3v2_tag(buffer);
    gst_buffer_unref(buffer);
    return tags;
}

void CheckDuration(const std::uint8_t* data, std::size_t size) {
    std::int64_t count = 0;
    std::memcpy(&count, data, std::min(size, sizeof count));
    std::string text = DurationText(count);
    if ((count < 0) != text.empty() || text.size() > 24)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = gst_init_check(nullptr, nullptr, nullptr);
    if (!ready || size == 0)
        return 0;
    CheckDuration(data + 1, size - 1);
    GstTagList* tags = Parse(data[0], data + 1, size - 1);
    if (!tags)
        return 0;
    TGSTTAGS reader("");
    reader.Take(tags);
    gst_tag_list_unref(tags);
    if (!IsValidUtf8(reader.Title) || !IsValidUtf8(reader.Artist))
        std::abort();
    return 0;
}

namespace {

using namespace fuzzseed;

// ID3v2's sizes: 7 bits to the byte.
void AddSyncsafe32(Bytes& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>((v >> (7 * i)) & 0x7f));
}

Bytes VorbisComment() {
    Bytes b{0};
    Add(b, "\x03vorbis");
    AddLE(b, 6, 4);
    Add(b, "vendor");
    const std::string_view comments[] = {"TITLE=Gr\xc3\xbc\xc3\x9f"
                                         "e",
                                         "ARTIST=Band", "ALBUM=Side"};
    AddLE(b, 3, 4);
    for (auto c : comments) {
        AddLE(b, c.size(), 4);
        Add(b, c);
    }
    b.push_back(1);
    return b;
}

Bytes Id3v2() {
    Bytes frames;
    auto frame = [&](std::string_view id, std::uint8_t encoding, std::string_view text) {
        Add(frames, id);
        AddBE(frames, text.size() + 1, 4);
        frames.insert(frames.end(), {0, 0, encoding});
        Add(frames, text);
    };
    frame("TIT2", 0, "Caf\xe9 Title");
    frame("TPE1", 1,
          std::string_view("\xff\xfe"
                           "B\0a\0n\0d\0",
                           10));
    frame("TALB", 3, "Album");
    Bytes b{1};
    Add(b, "ID3");
    b.insert(b.end(), {3, 0, 0});
    AddSyncsafe32(b, static_cast<std::uint32_t>(frames.size()));
    b.insert(b.end(), frames.begin(), frames.end());
    return b;
}

} // namespace

const fuzzseeds::Seeds& TargetSeeds() {
    static const fuzzseeds::Seeds all{VorbisComment(), Id3v2()};
    return all;
}
