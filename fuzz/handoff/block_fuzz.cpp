// The running player reads whatever a second start left in the block: the
// read stays inside the block, idles it, and a write after it never reaches
// past its end.
#include "platform/handoff/Block.h"
#include "platform/commatext.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace handoff;
    // The block exactly, so any read or write past it is caught by ASan.
    std::vector<std::uint8_t> bytes(BlockSize, 0);
    // Small inputs are repeated to reach the block's end without a zero.
    for (std::size_t i = 0; size > 0 && i < BlockSize; i += size)
        std::memcpy(bytes.data() + i, data, std::min(size, BlockSize - i));
    const Block block(bytes.data(), BlockSize);
    const std::uint32_t handle = WindowHandle(block);
    const std::vector<std::uint8_t> before = bytes;
    const std::string text = TakeText(block);
    if (text.size() > BlockSize - TextOffset || text.find('\0') != std::string::npos)
        std::abort();
    // The text's bytes are zero now; what follows its zero is left alone.
    const auto textEnd = bytes.begin() + static_cast<long>(TextOffset + text.size());
    if (!std::all_of(bytes.begin() + TextOffset, textEnd, [](std::uint8_t b) { return b == 0; }) ||
        !std::equal(textEnd, bytes.end(), before.begin() + (textEnd - bytes.begin())))
        std::abort();
    if (WindowHandle(block) != handle)
        std::abort();
    const std::vector<std::string> names = ReadCommaText(text);
    std::size_t taken = 0;
    PutText(block, FitCommaText(names, TextLimit, taken));
    if (bytes[TextOffset + TextLimit] != 0)
        std::abort();
    // An empty last item of a longer list is written as nothing.
    const bool lastLost = taken > 1 && names[taken - 1].empty();
    if (ReadCommaText(TakeText(block)).size() != taken - (lastLost ? 1 : 0))
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const std::uint8_t a[] = {1, 0, 0, 0, '/', 'a', ',', '"', 'b', ' ', 'c', '"', 0};
    static const std::uint8_t b[] = {0x39, 0x30, 0, 0, 'x', ' '};
    static const std::uint8_t* ptrs[] = {a, b};
    static const std::size_t lens[] = {sizeof a, sizeof b};
    *seeds = ptrs;
    *sizes = lens;
    return 2;
}
