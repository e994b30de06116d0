// Byte strings that the fuzz targets' seed builders put together.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzzseed {

using Bytes = std::vector<std::uint8_t>;

inline void Add(Bytes& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}
inline void AddBE(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AddLE(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

} // namespace fuzzseed
