// Content analysis that changes the ratio of one block: near-silent windows
// play ten times faster (flags bit 0); with bit 1 as well, steady sound
// plays faster and changing sound slower than the base ratio.
#pragma once

#include <cstdint>

namespace zarnfilter {

inline constexpr std::int32_t flag_skip_silence = 1;
inline constexpr std::int32_t flag_adapt_similarity = 2;

inline constexpr double silence_threshold = 0.0001;
inline constexpr double silence_ratio = 0.1;
inline constexpr double adaptation_spread = 0.5;

// The ratio for the block at the front of window, which holds 2 × B samples
// (the block and the one after it). ratio is the base ratio, 1 / rate.
double analyse_ratio(const float* window, std::int32_t B, double ratio, std::int32_t flags);

// The similarity adaptation of bit 1 alone, with no silence test: the smooth
// mode finds pauses its own way.
double adapt_ratio(const float* window, std::int32_t B, double ratio);

} // namespace zarnfilter
