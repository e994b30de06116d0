// Record texts come from a file the user may edit: any bytes must parse
// without reading past the text, and values must survive a round trip.
#include "platform/commatext.h"
#include "player/bookmarks/Hashstring.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    HashString parsed;
    parsed.SetText(text);
    for (const std::string& line : parsed.Lines()) {
        if (line.empty())
            std::abort();
        parsed.Get(HashString::KeyOf(line));
        HashString::ValueOf(line);
    }
    parsed.GetText();
    DecodeValue(text);
    ReadCommaText(text);

    // Everything up to a zero byte is kept by a record written and read back.
    std::string value(text.substr(0, text.find('\0')));
    HashString written;
    written.Set("ID", "1");
    written.Set("Path", value);
    written.Set("Title", value);
    HashString back;
    back.SetText(written.GetText());
    if (back.Get("Path") != value || back.Get("Title") != value || back.Get("ID") != "1")
        std::abort();
    if (DecodeValue(EncodeValue(value)) != value)
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* texts[] = {
        ("ID = \"1\",Title = \"My+list\",Type = \"Files\","
         "Path = \"%22C%3A%5CMusic%5Ca+b.mp3%22%2CC%3A%5CMusic%5Cc.mp3\""),
        "a+b%2c%2C",
        "%G1%",
        "\"x, y\", Title = \"a\"%",
        "K = \"open,K2=\"\"",
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
