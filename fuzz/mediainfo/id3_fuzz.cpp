// ID3v1 tag reader over arbitrary file contents.
#include "player/mediainfo/Id3.h"

#include "Seeds.h"
#include "tests/player/mediainfo/ChunkBytes.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TID3TAG tag = TID3TAG::FromBytes({data, size});
    std::string title = tag.GetTitle();
    std::string artist = tag.GetArtist();
    if (title.size() > 125 || artist.size() > 95)
        std::abort();
    if (tag.Found != (size >= 128 && std::memcmp(data + size - 128, "TAG", 3) == 0))
        std::abort();
    return 0;
}

const fuzzseeds::Seeds& TargetSeeds() {
    using namespace testbytes;
    static const fuzzseeds::Seeds all = [] {
        Bytes withAudio(200, 0xFF);
        Bytes tag = Id3Tag("A Title", "An Artist");
        withAudio.insert(withAudio.end(), tag.begin(), tag.end());
        return std::vector<Bytes>{Id3Tag("Song", "Band"), Id3Tag(std::string(30, 'x'), "y", 'z'),
                                  withAudio};
    }();
    return all;
}
