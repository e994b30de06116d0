#include "audio/stage/cutter.h"

#include <algorithm>

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

ref_ptr<packet::blockdata_t<float>> cutter_t::packet_of(zarnfilter::tempo_block& b) {
    ref_ptr<packet::blockdata_t<float>> p(new packet::blockdata_t<float>(0));
    p->sample_count = static_cast<std::int32_t>(b.samples.size());
    p->samples = std::move(b.samples);
    p->start_time = b.start_time;
    p->stop_time = b.stop_time;
    return p;
}

bool cutter_t::levelled_gain(double* db) const {
    if (!gain_started.load())
        return false;
    *db = gain_reached.load();
    return true;
}

bool cutter_t::level_block(zarnfilter::tempo_block& b) {
    level.process(levels(), b);
    gain_reached.store(level.gain_db());
    gain_started.store(level.started());
    // Without the limiter's delay every block goes on as before, even empty.
    return !b.samples.empty() || !level.engaged();
}

std::uint32_t cutter_t::process() {
    const std::int32_t B = block_length.load();
    const std::int32_t frame = channels.load();
    zarnfilter::tempo_block out;
    while (!stop_signalled()) {
        core.start(B, frame);
        level.start(frame, sample_rate.load());
        // A block goes on once the window has filled for the next one (or
        // the input has ended), so a stop while waiting for input drops it.
        ref_ptr<packet::blockdata_t<float>> held;
        while (ref_ptr<packet::blockdata_t<float>> in = next_block()) {
            const auto n = std::clamp<std::int32_t>(in->sample_count, 0,
                                                    static_cast<std::int32_t>(in->samples.size()));
            core.feed(in->samples.data(), n, in->start_time, in->stop_time);
            // The packet stays held by `in` while the core reads it.
            while (core.next(settings(), out)) {
                if (!level_block(out))
                    continue;
                if (held)
                    send_down(held);
                held = packet_of(out);
            }
        }
        if (stop_signalled())
            break;
        if (held)
            send_down(held);
        // Play out the tail of this stream; what follows starts afresh.
        core.end();
        while (!stop_signalled() && core.next(settings(), out)) {
            if (level_block(out))
                send_down(packet_of(out));
        }
        // Then what the limiter's look-ahead still holds.
        if (!stop_signalled() && level.drain(levels(), out))
            send_down(packet_of(out));
        if (!stop_signalled())
            send_down(new packet::endofstream_t(nullptr));
        input_ended = false;
    }
    return 0;
}
