#include "platform/sound/VirtualBuffer.h"

namespace sound {

bool VirtualBuffer::MoveCursor(std::uint32_t bytes) {
    if (!IsPlaying())
        return false;
    CursorReached(played_ += bytes);
    return true;
}

std::vector<std::uint8_t> VirtualBuffer::Snapshot(std::uint32_t offset, std::uint32_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    ReadStream(offset, out.data(), bytes, false);
    return out;
}

} // namespace sound
