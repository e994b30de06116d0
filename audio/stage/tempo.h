// The tempo change itself, with no threads or queues: fed the input's
// sample blocks with their time spans, it cuts each block step (an eighth
// of a second of input, all channels counted) to the chosen ratio without
// changing the pitch, plainly or with smooth splices, racing through pauses
// when asked, and plays out what is left when the stream ends. Each output
// block keeps the time span of the input it was made from, so the clock
// downstream runs at the chosen rate.
#pragma once

#include "audio/stage/pauses.h"
#include "audio/stage/smooth.h"
#include "audio/stage/splice.h"

#include <cstdint>
#include <vector>

namespace zarnfilter {

// Time of position k of a run of n samples spanning t0 to t1, truncated
// toward zero. The products are 128-bit: a reference time of months times a
// window of a high sample rate passes 64 bits.
inline std::int64_t interpolate_time(std::int64_t t0, std::int64_t t1, std::int64_t k,
                                     std::int64_t n) {
    if (n <= 0)
        return t0;
    const auto nn = static_cast<__int128>(n), kk = static_cast<__int128>(k);
    return static_cast<std::int64_t>(((nn - kk) * t0 + kk * t1) / nn);
}

// How the next block is cut: the ratio (output to input) and the bits of
// analyse_ratio and flag_smooth_splices.
struct tempo_settings {
    double ratio = 1.0;
    std::int32_t flags = 0;
};

struct tempo_block {
    std::vector<float> samples;
    std::int64_t start_time = 0;
    std::int64_t stop_time = 0;
};

class tempo_core {
public:
    tempo_core(std::int32_t block_length, std::int32_t channels) { start(block_length, channels); }

    // Begins a stream of interleaved frames of channels samples (1 or 2)
    // cut in blocks of block_length samples (at least 2): an empty window,
    // no pause level and no splice to continue. What the smooth splices
    // learnt of the sound's character carries over.
    void start(std::int32_t block_length, std::int32_t channels);

    // Hands over n samples spanning start_time to stop_time (an empty block
    // carries no time). They are read in place, so keep them until next()
    // returns false. Refused, taking nothing, while the last block handed
    // over is still being read or once the stream has ended.
    bool feed(const float* samples, std::int32_t n, std::int64_t start_time,
              std::int64_t stop_time);

    // The stream has ended: once the input is used up, next() plays out
    // what is left in the window, spreading the time from its first sample
    // to the end of the input over it.
    void end();

    // Cuts the next block into out with the settings s; false when the
    // window needs more input, or after end() when all has been played out.
    bool next(const tempo_settings& s, tempo_block& out);

    std::int32_t block_length() const { return B; }
    std::int32_t channels() const { return frame; }

private:
    // Reads input until the window is full; false if it runs out first.
    bool take_input();
    bool cut_step(const tempo_settings& s, tempo_block& out);
    bool play_out_step(const tempo_settings& s, tempo_block& out);
    // Cuts one block the chosen way (map: the smooth mode's plan of the
    // block's input); the smooth splicer hands over to the plain cut with a
    // short fade whenever a block is cut plainly.
    void cut(float* out, std::int32_t step, std::int32_t c, std::int32_t span, double r,
             std::int32_t f, const time_map* map = nullptr, std::int32_t ends_at = -1);
    // Time of window position k (0 ≤ k ≤ window length).
    std::int64_t time_at(std::int32_t k) const;

    std::int32_t B = 0; // block length
    std::int32_t frame = 2;
    std::int32_t b = 0; // the step: B made even
    // Two blocks: the one being cut and the look-ahead after it.
    std::vector<float> window;
    std::int32_t fill = 0;
    std::int64_t window_start_time = 0;
    std::int64_t window_end_time = 0;

    // The input block being read, and the time just after its last sample
    // read so far.
    const float* input = nullptr;
    std::int32_t input_length = 0;
    std::int32_t input_read = 0;
    std::int64_t input_start = 0;
    std::int64_t input_stop = 0;
    std::int64_t read_end_time = 0;

    // The play-out: what was in the window when it began, its time span,
    // and how much of it has been cut.
    bool ended = false;
    bool playing_out = false;
    std::int32_t tail_length = 0;
    std::int32_t tail_done = 0;
    std::int64_t tail_start = 0;
    std::int64_t tail_stop = 0;

    fade_weights fades;
    smooth_splicer smooth;
    pause_racer pauses;
    time_map plan;
};

} // namespace zarnfilter
