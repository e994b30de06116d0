// The layout of the running player's shared block: the window handle in the
// first 4 bytes, then the handed-over text followed by zero bytes. These
// work on a mapped block and never reach past its 65535 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace handoff {

inline constexpr std::size_t BlockSize = 0xFFFF;
inline constexpr std::size_t TextOffset = 4;
// The text bytes a sender may write; a zero byte always follows them.
inline constexpr std::size_t TextLimit = 65530;
// The synchronous message that tells the running player to take the text.
inline constexpr std::uint32_t WM_HANDOFF = 0x601;

using Block = std::span<std::uint8_t, BlockSize>;
using ConstBlock = std::span<const std::uint8_t, BlockSize>;

std::uint32_t WindowHandle(ConstBlock block);
void SetWindowHandle(Block block, std::uint32_t handle);

// Writes text (cut at TextLimit bytes) at offset 4 and zeros the rest of the
// text area, so a hand-off that was never taken leaves no tail behind.
void PutText(Block block, std::string_view text);

// The text up to its first zero byte (or the block's end); those bytes are
// zeroed, so the block is idle again.
std::string TakeText(Block block);

} // namespace handoff
