// Smooth splices (flags bit 2): the same block step as the plain cut (b
// input samples in, c samples out, the same times), but the output is made
// of short pieces whose start is searched for where the input best continues
// what was heard, and each piece fades in over the continuation of the one
// before with weights from 0 to 1 that sum to 1. Pieces are short enough
// that the dropped (or repeated) stretches stay short.
//
// Every length is a fraction of the block length B, which is one eighth of a
// second counting all channels, so the durations hold for any rate and for
// mono and stereo alike. Offsets are always even: stereo pairs stay pairs.
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
    static constexpr double search_ms = 15.0; // either side of the nominal place
    static constexpr double overlap_ms = 10.0;
    static double piece_ms(double r);

private:
    std::int32_t search(const float* window, std::int32_t nominal, std::int32_t low,
                        std::int32_t high, std::int32_t length);
    const float* weights(std::int32_t pairs);

    bool have_continuation = false;
    // The samples that would have followed the last piece.
    std::vector<float> continuation;
    std::int32_t continuation_length = 0;
    // Where the continuation lies in the next search, when it lies inside.
    std::int32_t natural = -1;

    std::int32_t coarse_step = 2;
    std::vector<double> energy; // running sums of squares over the search area
    std::vector<float> fade;
    std::int32_t fade_pairs = -1;
};

} // namespace zarnfilter
