// Any bytes a second start leaves in the block must read without a crash,
// and the names read must write and read back as the same names.
#include "platform/commatext.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Writing puts an empty last item of a longer list as nothing after the
// last comma, and reading adds nothing there: that one item does not come
// back.
std::vector<std::string> AsReadBack(std::vector<std::string> names) {
    if (names.size() > 1 && names.back().empty())
        names.pop_back();
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> names = ReadCommaText(text);
    for (const std::string& n : names)
        if (n.find('\0') != std::string::npos)
            std::abort();
    if (ReadCommaText(CommaText(names)) != AsReadBack(names))
        std::abort();
    std::size_t taken = 0;
    const std::string fitted = FitCommaText(names, size / 2, taken);
    if (fitted.size() > size / 2 || taken > names.size())
        std::abort();
    if (ReadCommaText(fitted) !=
        AsReadBack({names.begin(), names.begin() + static_cast<long>(taken)}))
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* texts[] = {
        "/a.mp3,\"/b c.mp3\",\"/d,e.wav\"",
        "\"say \"\"hi\"\"\" x\ty ,, z",
        "\"\"",
        "  \"unclosed, x",
    };
    static const std::uint8_t* ptrs[4];
    static std::size_t lens[4];
    for (int i = 0; i < 4; ++i) {
        ptrs[i] = reinterpret_cast<const std::uint8_t*>(texts[i]);
        lens[i] = std::char_traits<char>::length(texts[i]);
    }
    *seeds = ptrs;
    *sizes = lens;
    return 4;
}
