#include "audio/stage/cutter.h"

#include "audio/stage/analysis.h"
#include "audio/stage/pauses.h"
#include "audio/stage/splice.h"

#include <algorithm>
#include <cstring>

using zarnfilter::cut_block;
using zarnfilter::cut_length;
using zarnfilter::interpolate_time;

cutter_t::cutter_t(double r) : ratio(is_supported_ratio(r) ? r : 1.0) {}

cutter_t::~cutter_t() {
    stop();
}

bool cutter_t::is_supported_ratio(double r) {
    return (r >= 0.25 && r <= 1.0) || (r >= 2.0 && r <= 4.0);
}

bool cutter_t::set_ratio(double r) {
    if (!is_supported_ratio(r))
        return false;
    ratio.store(r, std::memory_order_relaxed);
    return true;
}

void cutter_t::set_block_length(std::int32_t n) {
    block_length.store(std::max(n, 2));
}

void cutter_t::route_control_in(const ref_ptr<packet::control_base_t>& p) {
    if (p->target == this && dynamic_cast<packet::endofstream_t*>(p.get())) {
        input_ended = true;
        return;
    }
    audio_transfer_t::route_control_in(p);
}

std::uint32_t cutter_t::process() {
    const std::int32_t B = block_length.load();
    const std::int32_t b = B & ~1;
    zarnfilter::fade_weights fades;
    while (!stop_signalled()) {
        ref_ptr<window_type> w(new window_type(this, 2 * B));
        smooth.reset();
        pauses.reset();
        w->refill();
        while (!stop_signalled() && !input_ended)
            cut_and_send(*w, B, b, fades);
        if (stop_signalled())
            break;
        // Play out the tail of this stream; what follows starts afresh.
        play_out(*w, B, b, fades);
        input_ended = false;
    }
    return 0;
}

void cutter_t::cut_and_send(window_type& w, std::int32_t B, std::int32_t b,
                            zarnfilter::fade_weights& fades) {
    double r = ratio.load(std::memory_order_relaxed);
    const std::int32_t f = flags.load(std::memory_order_relaxed);
    const zarnfilter::time_map* map = nullptr;
    std::int32_t c;
    if ((f & zarnfilter::flag_smooth_splices) && (f & zarnfilter::flag_skip_silence)) {
        // The smooth mode finds pauses itself and never squeezes speech.
        if (f & zarnfilter::flag_adapt_similarity)
            r = zarnfilter::adapt_ratio(w.window.data(), B, r);
        c = pauses.plan(w.window.data(), w.window_length, B, b, r, plan);
        map = &plan;
    } else {
        if (f & zarnfilter::flag_skip_silence)
            r = zarnfilter::analyse_ratio(w.window.data(), B, r, f);
        c = cut_length(b, r);
    }

    ref_ptr<packet::blockdata_t<float>> out(new packet::blockdata_t<float>(c));
    out->sample_count = c;
    out->start_time = w.time_at(0);
    out->stop_time = w.time_at(b);
    cut(out->samples.data(), w.window.data(), w.window_length, B, b, c, w.window_length, r, f,
        fades, map);

    w.fill -= b;
    w.refill();
    send_down(out);
}

// Cuts what is left in the window at the current ratio, spreading the time
// from its first sample to the end of the last input packet over it, then
// sends the end mark on. The window beyond the valid samples is silence, so
// a stretch that looks ahead reads nothing stale.
void cutter_t::play_out(window_type& w, std::int32_t B, std::int32_t b,
                        zarnfilter::fade_weights& fades) {
    float* window = w.window.data();
    const std::int32_t length = w.fill;
    const std::int64_t t0 = w.window_start_time;
    const std::int64_t t1 = w.scanner->read_end_time();
    std::fill(window + w.fill, window + w.window_length, 0.0f);

    std::int32_t done = 0;
    while (w.fill > 0 && !stop_signalled()) {
        const std::int32_t bb = std::min(b, w.fill);
        const double r = ratio.load(std::memory_order_relaxed);
        const std::int32_t f = flags.load(std::memory_order_relaxed);
        const std::int32_t c = cut_length(bb, r);
        ref_ptr<packet::blockdata_t<float>> out(new packet::blockdata_t<float>(c));
        out->sample_count = c;
        out->start_time = interpolate_time(t0, t1, done, length);
        out->stop_time = interpolate_time(t0, t1, done + bb, length);
        cut(out->samples.data(), window, w.window_length, B, bb, c, 2 * bb, r, f, fades);

        std::memmove(window, window + bb, sizeof(float) * (w.window_length - bb));
        std::fill(window + w.window_length - bb, window + w.window_length, 0.0f);
        w.fill -= bb;
        done += bb;
        send_down(out);
    }
    if (!stop_signalled())
        send_down(new packet::endofstream_t(nullptr));
}

void cutter_t::cut(float* out, const float* window, std::int32_t window_length, std::int32_t B,
                   std::int32_t b, std::int32_t c, std::int32_t span, double r, std::int32_t f,
                   zarnfilter::fade_weights& fades, const zarnfilter::time_map* map) {
    if (f & zarnfilter::flag_smooth_splices) {
        smooth.cut(out, window, window_length, B, b, c, r, map);
    } else {
        cut_block(out, window, b, c, span, r, fades);
        // Coming from the smooth splices, the plain cut starts where their
        // input was, not where their output was: fade across the seam.
        smooth.hand_over(out, std::min(c, B / 25));
    }
}
