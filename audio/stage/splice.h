// The cut and splice of one block: how long the output is, how much of it
// is cross-faded, and the samples themselves.
#pragma once

#include <cstdint>
#include <vector>

namespace zarnfilter {

// Output length for b input samples at ratio r: b × r truncated, made even
// so that every cut keeps stereo pairs together. b itself when r is 1 (or
// not comparable with 1).
std::int32_t cut_length(std::int32_t b, double r);

// Samples of the output that blend the block's start into the kept part
// when speeding up: c × (1 − c / b)², truncated.
std::int32_t fade_length(std::int32_t b, std::int32_t c);

// The weights of run b in a cross-fade of n samples: a raised cosine rising
// from 0.14 to 0.86 (0.5 for a single sample). Kept for as long as the fade
// length stays the same; it changes only with the ratio.
class fade_weights {
public:
    const long double* get(std::int32_t n);

private:
    std::int32_t length = -1;
    std::vector<long double> weights;
};

// Writes n samples blending run a into run b with the weights w.
void crossfade(float* out, const float* a, const float* b, std::int32_t n, const long double* w);

// Writes the c output samples of one block step at ratio r. window holds at
// least max(b, span) valid samples; span is the look-ahead the slow-down
// branch repeats from (the window length).
void cut_block(float* out, const float* window, std::int32_t b, std::int32_t c, std::int32_t span,
               double r, fade_weights& fades);

} // namespace zarnfilter
