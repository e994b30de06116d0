#include "Seeds.h"

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    return fuzzseeds::Export(TargetSeeds(), seeds, sizes);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzseeds::WriteToEmptyCorpus(*argc, *argv, TargetSeeds());
    return 0;
}
