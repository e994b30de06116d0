#include "audio/stage/tempo.h"

#include "audio/stage/analysis.h"

#include <algorithm>
#include <cstring>

namespace zarnfilter {

void tempo_core::start(std::int32_t block_length, std::int32_t channels) {
    B = std::max(block_length, 2);
    frame = channels == 1 ? 1 : 2;
    smooth.set_channels(frame);
    b = B & ~1;
    window.assign(2 * static_cast<std::size_t>(B), 0.0f);
    fill = 0;
    window_start_time = window_end_time = 0;
    input = nullptr;
    input_length = input_read = 0;
    input_start = input_stop = read_end_time = 0;
    ended = playing_out = false;
    tail_length = tail_done = 0;
    tail_start = tail_stop = 0;
    smooth.reset();
    pauses.reset();
}

bool tempo_core::feed(const float* samples, std::int32_t n, std::int64_t start_time,
                      std::int64_t stop_time) {
    if (ended || input_read < input_length)
        return false;
    input = samples;
    input_length = std::max(n, 0);
    input_read = 0;
    input_start = start_time;
    input_stop = stop_time;
    return true;
}

void tempo_core::end() {
    ended = true;
}

bool tempo_core::next(const tempo_settings& s, tempo_block& out) {
    if (cut_step(s, out))
        return true;
    return ended && play_out_step(s, out);
}

std::int64_t tempo_core::time_at(std::int32_t k) const {
    return interpolate_time(window_start_time, window_end_time, k,
                            static_cast<std::int32_t>(window.size()));
}

bool tempo_core::take_input() {
    const auto length = static_cast<std::int32_t>(window.size());
    if (playing_out)
        return false;
    while (fill < length && input_read < input_length) {
        // The window's first sample of the stream gives its start time.
        if (fill == 0)
            window_start_time = interpolate_time(input_start, input_stop, input_read, input_length);
        const std::int32_t k = std::min(length - fill, input_length - input_read);
        std::memcpy(window.data() + fill, input + input_read, sizeof(float) * k);
        fill += k;
        input_read += k;
        read_end_time = interpolate_time(input_start, input_stop, input_read, input_length);
    }
    if (fill < length)
        return false;
    // The time of the first sample after the window; when that sample is in
    // a block yet to come, the end of the last one read (the same time for
    // continuous input, and no wait for a block that may never come).
    window_end_time = read_end_time;
    return true;
}

bool tempo_core::cut_step(const tempo_settings& s, tempo_block& out) {
    if (!take_input())
        return false;
    const auto length = static_cast<std::int32_t>(window.size());
    double r = s.ratio;
    const std::int32_t f = s.flags;
    const time_map* map = nullptr;
    std::int32_t c;
    if ((f & flag_smooth_splices) && (f & flag_skip_silence)) {
        // The smooth mode finds pauses itself and never squeezes speech.
        if (f & flag_adapt_similarity)
            r = adapt_ratio(window.data(), B, r);
        c = pauses.plan(window.data(), length, B, b, r, plan);
        map = &plan;
    } else {
        if (f & flag_skip_silence)
            r = analyse_ratio(window.data(), B, r, f);
        c = cut_length(b, r);
    }

    out.samples.assign(c, 0.0f);
    out.start_time = time_at(0);
    out.stop_time = time_at(b);
    cut(out.samples.data(), b, c, length, r, f, map);

    // Step on: the rest of the window moves to the front.
    fill -= b;
    window_start_time = time_at(b);
    std::memmove(window.data(), window.data() + b, sizeof(float) * fill);
    return true;
}

// Cuts what is left in the window at the current ratio. The window beyond
// the valid samples is silence, so a stretch that looks ahead reads nothing
// stale.
bool tempo_core::play_out_step(const tempo_settings& s, tempo_block& out) {
    const auto length = static_cast<std::int32_t>(window.size());
    if (!playing_out) {
        playing_out = true;
        tail_length = fill;
        tail_done = 0;
        tail_start = window_start_time;
        tail_stop = read_end_time;
        std::fill(window.begin() + fill, window.end(), 0.0f);
    }
    if (fill <= 0)
        return false;
    const std::int32_t bb = std::min(b, fill);
    const double r = s.ratio;
    const std::int32_t c = cut_length(bb, r);
    out.samples.assign(c, 0.0f);
    out.start_time = interpolate_time(tail_start, tail_stop, tail_done, tail_length);
    out.stop_time = interpolate_time(tail_start, tail_stop, tail_done + bb, tail_length);
    // The smooth pieces lag the input a little: the step after which less
    // than 5 ms is left to play ends its last piece where the input ends.
    std::int32_t rest = 0;
    for (std::int32_t left = fill - bb; left > 0; left -= std::min(b, left))
        rest += cut_length(std::min(b, left), r);
    cut(out.samples.data(), bb, c, 2 * bb, r, s.flags, nullptr, rest < B / 25 ? fill : -1);

    std::memmove(window.data(), window.data() + bb, sizeof(float) * (length - bb));
    std::fill(window.end() - bb, window.end(), 0.0f);
    fill -= bb;
    tail_done += bb;
    return true;
}

void tempo_core::cut(float* out, std::int32_t step, std::int32_t c, std::int32_t span, double r,
                     std::int32_t f, const time_map* map, std::int32_t ends_at) {
    const auto length = static_cast<std::int32_t>(window.size());
    if (f & flag_smooth_splices) {
        smooth.cut(out, window.data(), length, B, step, c, r, map, ends_at);
    } else {
        cut_block(out, window.data(), step, c, span, r, fades);
        // Coming from the smooth splices, the plain cut starts where their
        // input was, not where their output was: fade across the seam.
        smooth.hand_over(out, std::min(c, B / 25));
    }
}

} // namespace zarnfilter
