// Builds tag and chunk bytes for the readers' tests and fuzz seeds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testbytes {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

inline void AppendLE32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk: id, size (the data's length unless given), data, pad to even.
inline Bytes Chunk(std::string_view id, const Bytes& data, long declared = -1) {
    Bytes out;
    Append(out, id);
    AppendLE32(out, declared < 0 ? static_cast<std::uint32_t>(data.size())
                                 : static_cast<std::uint32_t>(declared));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

inline Bytes Text(std::string_view s, bool terminate = true) {
    Bytes out(s.begin(), s.end());
    if (terminate)
        out.push_back(0);
    return out;
}

// A list or RIFF chunk of the given type holding the chunks in order.
inline Bytes List(std::string_view id, std::string_view type, const std::vector<Bytes>& chunks) {
    Bytes data;
    Append(data, type);
    for (const Bytes& c : chunks)
        data.insert(data.end(), c.begin(), c.end());
    return Chunk(id, data);
}

// The 128 tag bytes: "TAG", the 30-byte title and artist fields exactly as
// given (shorter ones padded with byte 0), then the rest.
inline Bytes Id3Tag(std::string_view title, std::string_view artist, char rest = '\0') {
    Bytes out(128, static_cast<std::uint8_t>(rest));
    std::copy_n("TAG", 3, out.begin());
    auto field = [&](std::string_view s, size_t at) {
        std::fill_n(out.begin() + static_cast<long>(at), 30, 0);
        std::copy_n(s.begin(), std::min<size_t>(s.size(), 30), out.begin() + static_cast<long>(at));
    };
    field(title, 3);
    field(artist, 33);
    return out;
}

} // namespace testbytes
