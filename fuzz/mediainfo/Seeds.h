// Seed inputs for the replay driver: a handful of well-formed files made in
// code, so mutations start from the structures the readers walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzseeds {

inline std::size_t Export(const std::vector<std::vector<std::uint8_t>>& seeds,
                          const std::uint8_t*** out, const std::size_t** sizes) {
    static std::vector<const std::uint8_t*> pointers;
    static std::vector<std::size_t> lengths;
    pointers.clear();
    lengths.clear();
    for (const auto& s : seeds) {
        pointers.push_back(s.data());
        lengths.push_back(s.size());
    }
    *out = pointers.data();
    *sizes = lengths.data();
    return seeds.size();
}

} // namespace fuzzseeds
