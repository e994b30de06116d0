// Seed inputs made in code: handed to the replay driver through
// ZarnFuzzSeeds, and written into an empty libFuzzer corpus folder at start,
// so mutation begins from the structures the readers walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fuzzseeds {

using Seeds = std::vector<std::vector<std::uint8_t>>;

inline std::size_t Export(const Seeds& seeds, const std::uint8_t*** out,
                          const std::size_t** sizes) {
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

// The corpus folders are the arguments that are not options.
inline void WriteToEmptyCorpus(int argc, char** argv, const Seeds& seeds) {
    namespace fs = std::filesystem;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        fs::path dir(argv[i]);
        if (argv[i][0] == '-' || !fs::is_directory(dir, ec) || !fs::is_empty(dir, ec))
            continue;
        for (std::size_t n = 0; n < seeds.size(); ++n)
            std::ofstream(dir / ("seed-" + std::to_string(n)), std::ios::binary)
                .write(reinterpret_cast<const char*>(seeds[n].data()),
                       static_cast<std::streamsize>(seeds[n].size()));
    }
}

} // namespace fuzzseeds

// Each target defines TargetSeeds(); Seeds.cpp turns it into the driver's
// ZarnFuzzSeeds and libFuzzer's LLVMFuzzerInitialize.
const fuzzseeds::Seeds& TargetSeeds();
