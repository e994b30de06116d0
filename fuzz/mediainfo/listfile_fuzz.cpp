// The list-file reader: lines split at CR, LF and CR LF, cut at byte 0.
#include "player/list/Filelist.h"

#include "Seeds.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = ParseListText(text);
    std::size_t total = 0;
    for (const std::string& line : lines) {
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            std::abort();
        total += line.size() + 1;
    }
    if (total > size + 1)
        std::abort();
    // Names without line breaks survive a save and a load unchanged.
    if (ParseListText(FormatListText(lines)) != lines)
        std::abort();
    return 0;
}

const fuzzseeds::Seeds& TargetSeeds() {
    auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    static const fuzzseeds::Seeds all = {
        bytes("/music/a.mp3\r\n\r\n/music/b c.wav\r\n"),
        bytes("one\ntwo\rthree\r\n"),
        bytes(std::string_view("x\r\ny\0z\r\n", 8)),
    };
    return all;
}
