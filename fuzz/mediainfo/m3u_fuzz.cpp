// The M3U reader: lines, comments, relative names, file: addresses.
#include "player/list/Filelist.h"
#include "player/list/M3u.h"

#include "Seeds.h"

#include <cstdlib>
#include <string_view>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t lines = ParseListText(text).size();
    M3uEntries in = ParseM3uText(text, "/lists/");
    Check(in.Files.size() + in.Skipped.size() <= lines);
    for (const std::string& f : in.Files) {
        // Every name is absolute, one line, and holds no byte 0.
        Check(!f.empty() && f.front() == '/');
        Check(f.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    }
    for (const std::string& s : in.Skipped)
        Check(!s.empty() && s.front() != '#' && s.find_first_of("\r\n") == std::string::npos);

    // Without a folder, a name that is not an address is kept as written.
    M3uEntries bare = ParseM3uText(text, "");
    Check(bare.Files.size() == in.Files.size() && bare.Skipped == in.Skipped);
    for (std::size_t i = 0; i < bare.Files.size(); ++i) {
        const std::string& f = bare.Files[i];
        Check(!f.empty());
        if (f.front() == '/')
            continue;
        Check(f.front() != ' ' && f.front() != '\t' && f.back() != ' ' && f.back() != '\t');
        Check(in.Files[i] == "/lists/" + f && text.find(f) != std::string_view::npos);
    }
    return 0;
}

const fuzzseeds::Seeds& TargetSeeds() {
    auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    static const fuzzseeds::Seeds all = {
        bytes(
            "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,Artist - Title\r\nsub/a.mp3\r\n\r\n/abs/b.ogg\r\n"),
        bytes("file:///music/a%20b.opus\nfile://localhost/x.m4a\nfile://host/y.mp3\n"
              "http://example.org/stream\n  spaced.flac \t\n"),
        bytes("file:/short/form.mp3\nfile:///bad%zz%4\nfile:///nul%00.mp3\nfile:///a%0Ab\n"
              "c:/drive.mp3\n"),
    };
    return all;
}
