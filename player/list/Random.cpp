#include "player/list/Random.h"

#include <chrono>

namespace {
std::uint32_t state = 0;
}

void RandomizeFromTime() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    SetRandomSeed(static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

void SetRandomSeed(std::uint32_t seed) {
    state = seed;
}

int RandomDraw() {
    state = state * 22695477u + 1u;
    return static_cast<int>(state >> 16 & 0x7FFFu);
}
