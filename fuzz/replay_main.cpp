// Drives a fuzz entry without libFuzzer: every file named on the command line,
// then a fixed number of pseudo-random inputs built from a few seeds by
// byte flips, truncation and splicing. Deterministic, so failures repeat.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds,
                                                           const std::size_t** sizes);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::vector<std::uint8_t> buf((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::vector<std::vector<std::uint8_t>> corpus{{}};
    if (ZarnFuzzSeeds) {
        const std::uint8_t** seeds = nullptr;
        const std::size_t* sizes = nullptr;
        std::size_t n = ZarnFuzzSeeds(&seeds, &sizes);
        for (std::size_t i = 0; i < n; ++i)
            corpus.emplace_back(seeds[i], seeds[i] + sizes[i]);
    }
    std::mt19937 rng(12345);
    const int rounds = 20000;
    for (int r = 0; r < rounds; ++r) {
        std::vector<std::uint8_t> in = corpus[rng() % corpus.size()];
        int edits = 1 + rng() % 8;
        for (int e = 0; e < edits; ++e) {
            switch (rng() % 4) {
            case 0:
                if (!in.empty())
                    in[rng() % in.size()] = static_cast<std::uint8_t>(rng());
                break;
            case 1:
                in.insert(in.begin() + (in.empty() ? 0 : rng() % in.size()),
                          static_cast<std::uint8_t>(rng()));
                break;
            case 2:
                if (!in.empty())
                    in.resize(rng() % in.size());
                break;
            default: {
                const auto& other = corpus[rng() % corpus.size()];
                in.insert(in.end(), other.begin(), other.end());
            }
            }
        }
        LLVMFuzzerTestOneInput(in.data(), in.size());
        if (in.size() < 65536 && rng() % 16 == 0)
            corpus.push_back(std::move(in));
    }
    std::printf("replayed %d inputs\n", rounds + argc - 1);
    return 0;
}
