// bookmark.txt may be damaged or edited by hand: loading any bytes must not
// crash, every menu item must build, and what a save writes must load back.
#include "player/bookmarks/Bookmark.h"
#include "platform/commatext.h"
#include "player/bookmarks/Hashstring.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An odd first byte stands for the header, so records get fuzzed without
    // the header having to be found first.
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!text.empty() && (text[0] & 1))
        text.replace(0, 1, std::string(TBookmarks::Header) + "\r\n");
    TBookmarks loaded;
    loaded.SetFileText(text);
    loaded.NextId();
    for (int i = 0; i < static_cast<int>(loaded.records.size()); ++i) {
        loaded.FillMenuItem(i);
        HashString record;
        record.SetText(loaded.records[static_cast<size_t>(i)]);
        ReadCommaText(record.Get("Path"));
    }
    loaded.AddDirectory("fuzz", "/fuzz");

    // What Save would write must load back as the same records.
    TBookmarks again;
    again.SetFileText(loaded.FileText());
    if (again.records != loaded.records)
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* texts[] = {
        ("zarnplayer bookmark ver 1.00\r\n"
         "ID = \"1\",Title = \"Lectures\",Type = \"Directory\",Path = \"%2Faudio%2Flectures\"\r\n"
         "Title = \"Two\",Type = \"Files\",Path = \"%22%2Fm%2Fa+b.mp3%22%2C%2Fm%2Fc.mp3\","
         "ID = \"2\"\r\n"),
        "zarnplayer bookmark ver 1.00\r\n\r\nID = \"x\"\n\rID = \"2147483647\"",
        "zarnplayer bookmark ver 1.00  \r\nID = \"1\"\r\n",
    };
    static const std::uint8_t* ptrs[std::size(texts)];
    static std::size_t lens[std::size(texts)];
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        ptrs[i] = reinterpret_cast<const std::uint8_t*>(texts[i]);
        lens[i] = std::char_traits<char>::length(texts[i]);
    }
    *seeds = ptrs;
    *sizes = lens;
    return std::size(texts);
}
