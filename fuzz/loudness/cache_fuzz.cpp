// The loudness cache's file can be damaged or edited by hand: any bytes
// must read without a crash, give only plausible figures of absolute paths
// within the capacity, and what was read must write out and read back the
// same, with nothing skipped.
#include "player/loudness/Cache.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries =
        loudnesscache::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (entries.size() > loudnesscache::MaxEntries)
        std::abort();
    for (const auto& e : entries)
        if (!loudness::Plausible(e.Figure.Integrated) || e.Key.Path.empty() ||
            e.Key.Path[0] != '/' || !e.Figure.Whole)
            std::abort();
    std::size_t skipped = 0;
    if (loudnesscache::Parse(loudnesscache::Format(entries), &skipped) != entries || skipped != 0)
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* const texts[] = {
        "zarnplayer loudness 1\n"
        "123456\t1700000000123456789\t-2345\t-150\t0\t/home/a/book.m4b\n"
        "9\t0\t-1050\t-20000\t1\t/home/a/x\\ty\\nz\\\\.opus\n",
        "zarnplayer loudness 1\n12\t-5\t+3\t0\t0\t/a\r\n5\t1\t-7001\t0\t0\trelative\n",
    };
    static const std::uint8_t* ptrs[2];
    static std::size_t lens[2];
    for (int i = 0; i < 2; ++i) {
        ptrs[i] = reinterpret_cast<const std::uint8_t*>(texts[i]);
        lens[i] = std::string_view(texts[i]).size();
    }
    *seeds = ptrs;
    *sizes = lens;
    return 2;
}
