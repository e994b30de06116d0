// The tempo-change stage: on its own thread it reads sample blocks, cuts
// every eighth of a second of input down (or stretches it) to the chosen
// ratio without changing the pitch, and sends the result on. Each output
// block keeps the time span of the input it was made from, so the clock
// downstream runs at the chosen rate.
#pragma once

#include "audio/pipeline/transfer.h"
#include "audio/stage/pauses.h"
#include "audio/stage/smooth.h"
#include "audio/stage/splice.h"
#include "audio/stage/window.h"

#include <atomic>
#include <cstdint>

class cutter_t : public zarnfilter::audio_transfer_t {
public:
    using window_type =
        zarnfilter::recieve_buffered_t<zarnfilter::audio_transfer_t, packet::blockdata_t<float>>;

    // An unsupported ratio falls back to 1.
    explicit cutter_t(double ratio);
    ~cutter_t() override;

    // Ratios the cut supports: 0.25 to 1 (rates 1 to 4) and 2 to 4 (slowing
    // down). Anything else is refused and the old ratio kept.
    static bool is_supported_ratio(double r);
    bool set_ratio(double r);
    double get_ratio() const { return ratio.load(std::memory_order_relaxed); }

    // Bits of analyse_ratio, and flag_smooth_splices; the stage reads them
    // once per block.
    void set_flags(std::int32_t f) { flags.store(f, std::memory_order_relaxed); }
    std::int32_t get_flags() const { return flags.load(std::memory_order_relaxed); }

    // Samples per block, all channels counted (channels × rate / 8). Set it
    // before start(); at least 2 so every step consumes input.
    void set_block_length(std::int32_t n);
    std::int32_t get_block_length() const { return block_length.load(); }

protected:
    std::uint32_t process() override;
    // The end of the input addressed to this stage ends the current stream.
    void route_control_in(const ref_ptr<packet::control_base_t>& p) override;

private:
    void cut_and_send(window_type& w, std::int32_t B, std::int32_t b,
                      zarnfilter::fade_weights& fades);
    void play_out(window_type& w, std::int32_t B, std::int32_t b, zarnfilter::fade_weights& fades);
    // Cuts one block the chosen way (map: the smooth mode's plan of the
    // block's input); the smooth splicer hands over to the plain cut with a
    // short fade whenever a block is cut plainly.
    void cut(float* out, const float* window, std::int32_t window_length, std::int32_t B,
             std::int32_t b, std::int32_t c, std::int32_t span, double r, std::int32_t f,
             zarnfilter::fade_weights& fades, const zarnfilter::time_map* map = nullptr);

    std::atomic<double> ratio;
    std::atomic<std::int32_t> flags{0};
    std::atomic<std::int32_t> block_length{4410};
    // Stage thread only.
    zarnfilter::smooth_splicer smooth;
    zarnfilter::pause_racer pauses;
    zarnfilter::time_map plan;
};
