// The program's one pseudo-random generator, shared by the play list's
// Random and Shuffle and by the main window: state = state * 22695477 + 1
// (modulo 2^32), each draw being bits 16 to 30 of the new state. Used on the
// GUI thread only.
// Kept with the play list model, player/list.
#pragma once

#include <cstdint>

inline constexpr int RandomDrawMax = 32767;

// Seeds from the current time; the program does this once at start-up.
void RandomizeFromTime();
void SetRandomSeed(std::uint32_t seed);
// A value from 0 to RandomDrawMax.
int RandomDraw();
