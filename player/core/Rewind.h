// Playing again after a long pause starts a little earlier, so the listener
// hears again what led up to where they stopped.
#pragma once

#include <chrono>
#include <cstdint>

inline constexpr std::chrono::minutes kLongPause{5};

// Where to play from (100 ns units of file time) when playing again at now
// after a pause that began at pausedAt: 5 s before position, not below 0,
// after a pause of more than 5 minutes; position otherwise.
std::int64_t PositionAfterPause(std::int64_t position,
                                std::chrono::steady_clock::time_point pausedAt,
                                std::chrono::steady_clock::time_point now);
