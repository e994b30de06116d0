#include "platform/handoff/Block.h"

#include <algorithm>
#include <cstring>

namespace handoff {

std::uint32_t WindowHandle(ConstBlock block) {
    std::uint32_t handle = 0;
    std::memcpy(&handle, block.data(), sizeof handle);
    return handle;
}

void SetWindowHandle(Block block, std::uint32_t handle) {
    std::memcpy(block.data(), &handle, sizeof handle);
}

void PutText(Block block, std::string_view text) {
    const std::size_t n = std::min(text.size(), TextLimit);
    std::uint8_t* area = block.data() + TextOffset;
    // An empty view may carry no pointer at all, which memcpy must not see.
    if (n > 0)
        std::memcpy(area, text.data(), n);
    std::memset(area + n, 0, BlockSize - TextOffset - n);
}

std::string TakeText(Block block) {
    std::uint8_t* area = block.data() + TextOffset;
    const std::size_t room = BlockSize - TextOffset;
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(area, 0, room));
    const std::size_t n = end ? static_cast<std::size_t>(end - area) : room;
    std::string text(reinterpret_cast<const char*>(area), n);
    std::memset(area, 0, n);
    return text;
}

} // namespace handoff
