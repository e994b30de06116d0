// The per-file memory's file can be damaged or edited by hand: any bytes
// must read without a crash, keep at most the capacity, and what was read
// must write out and read back the same.
#include "player/core/FileMemory.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FileMemory memory("");
    memory.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (memory.Size() > FileMemory::kCapacity)
        std::abort();
    const std::string text = memory.Format();
    FileMemory again("");
    if (again.Parse(text) != 0 || again.Paths() != memory.Paths())
        std::abort();
    for (const std::string& path : memory.Paths())
        if (memory.Find(path) != again.Find(path))
            std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* const texts[] = {
        "# zarnplayer positions: position (100 ns)\trate\tended\tpath\n"
        "900000000\t2.6\t0\t/home/a/book.m4b\n"
        "0\t1.0\t1\t/home/a/x\\ty\\nz\\\\.mp3\n",
        "12\t4.0\t0\t/a\r\n5\t1.5\t1\t/b",
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
