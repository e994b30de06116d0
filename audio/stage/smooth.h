// Smooth splices (flags bit 2): the same block step as the plain cut (b
// input samples in, c samples out, the same times), but the output is made
// of short pieces of input, each placed where it best continues what was
// heard (normalised cross-correlation, coarse then fine) and faded in across
// its whole length over the continuation of the piece before, with weights
// from 0 to 1 that sum to 1. Short pieces keep the stretches that are
// dropped (or repeated) short, so the sound's envelope follows the input.
//
// Every duration is a fraction of the block length B, one eighth of a
// second counting all channels, so it holds for any sample rate and for
// mono and stereo alike. Offsets are always even: stereo pairs stay pairs
// (and mono is placed to two samples).
#pragma once

#include <cstdint>
#include <vector>

namespace zarnfilter {

inline constexpr std::int32_t flag_smooth_splices = 4;

class smooth_splicer {
public:
    // Forgets what was heard: the next block starts at its window's start,
    // which continues whatever the plain cut played last.
    void reset() { have_continuation = false; }

    // Writes c output samples for the step of b input samples at ratio r.
    // window holds window_length samples (the block and what follows it;
    // samples past the input's end are silence).
    void cut(float* out, const float* window, std::int32_t window_length, std::int32_t B,
             std::int32_t b, std::int32_t c, double r);

    // Durations in milliseconds.
    static constexpr double piece_ms = 11.0;        // output per piece, about
    static constexpr double search_ms = 7.5;        // either side of the nominal place
    static constexpr double coarse_step_ms = 0.125; // the fine pass looks at every pair

private:
    std::int32_t search(const float* window, std::int32_t nominal, std::int32_t low,
                        std::int32_t high, std::int32_t length, std::int32_t step);
    const float* weights(std::int32_t pairs);

    bool have_continuation = false;
    // The samples that would have followed the last piece, and where they
    // lie in the window (negative once the window has moved past them).
    std::vector<float> continuation;
    std::int32_t continuation_length = 0;
    std::int32_t natural = -1;

    std::vector<double> energy; // running sums of squares over the search area
    struct fade_table {
        std::int32_t pairs = -1;
        std::vector<float> weights;
    };
    fade_table fades[2];
    int next_fade = 0;
};

} // namespace zarnfilter
