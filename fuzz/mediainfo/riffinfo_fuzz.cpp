// RIFF INFO reader over arbitrary file contents.
#include "player/mediainfo/Riffinfo.h"

#include "Seeds.h"
#include "tests/player/mediainfo/ChunkBytes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TRIFFINFO info = TRIFFINFO::FromBytes({data, size});
    for (const std::string* text :
         {&info.IART, &info.ICMS, &info.ICMT, &info.ICOP, &info.ICRD, &info.IENG, &info.IGNR,
          &info.IKEY, &info.INAM, &info.IPRD, &info.ISBJ, &info.ISFT, &info.ITCH, &info.ILYC}) {
        if (text->size() > size || text->find('\0') != std::string::npos)
            std::abort();
        if (!text->empty() && !info.Found)
            std::abort();
    }
    return 0;
}

const fuzzseeds::Seeds& TargetSeeds() {
    using namespace testbytes;
    static const fuzzseeds::Seeds all = {
        List("RIFF", "WAVE",
             {Chunk("fmt ", Bytes(16, 1)),
              List("LIST", "INFO",
                   {Chunk("INAM", Text("Name")), Chunk("IART", Text("Art", false)),
                    Chunk("ZZZZ", Bytes(3, 7)), Chunk("ISBJ", Text("Subject"))}),
              Chunk("data", Bytes(9, 0x80))}),
        List("RIFF", "AVI ", {Chunk("JUNK", Bytes(5, 0)), List("LIST", "INFO", {})}),
    };
    return all;
}
