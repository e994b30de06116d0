// The tempo-change stage of the pipeline: on its own thread it reads sample
// blocks from its queue, hands them to the tempo core with the ratio and
// flags of the moment, levels the core's output blocks (gain and limiter)
// and sends them on, and marks the end of each stream once the core and
// the limiter's delay have played it out.
#pragma once

#include "audio/pipeline/transfer.h"
#include "audio/stage/leveller.h"
#include "audio/stage/tempo.h"

#include <atomic>
#include <cstdint>

class cutter_t : public zarnfilter::audio_transfer_t {
public:
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

    // Samples a frame of the interleaved input, 1 or 2. Set it before start().
    void set_channels(std::int32_t n) { channels.store(n); }
    std::int32_t get_channels() const { return channels.load(); }

    // Frames a second. Set it before start().
    void set_sample_rate(std::int32_t n) { sample_rate.store(n); }

    // The loudness gain in hundredths of a decibel and the true-peak
    // limiter; the stage reads them once per block, and a new gain glides.
    void set_loudness_gain(std::int32_t g) { loudness_gain.store(g, std::memory_order_relaxed); }
    std::int32_t get_loudness_gain() const { return loudness_gain.load(std::memory_order_relaxed); }
    void set_limiter(bool on) { limiter.store(on, std::memory_order_relaxed); }
    bool get_limiter() const { return limiter.load(std::memory_order_relaxed); }
    // Before start(): the gain reached by an earlier run of the same stream,
    // which this one glides on from instead of taking the gain at once.
    void continue_gain_from(double db) { level.continue_from(db); }
    // The gain the stage has reached in decibels; false while it has
    // levelled no sound yet.
    bool levelled_gain(double* db) const;

protected:
    std::uint32_t process() override;
    // The end of the input addressed to this stage ends the current stream.
    void route_control_in(const ref_ptr<packet::control_base_t>& p) override;

private:
    zarnfilter::tempo_settings settings() const { return {get_ratio(), get_flags()}; }
    zarnfilter::level_settings levels() const { return {get_loudness_gain(), get_limiter()}; }
    // Levels a block of the core and notes the gain reached; false when
    // nothing is left to send (the limiter's delay took it all).
    bool level_block(zarnfilter::tempo_block& b);
    static ref_ptr<packet::blockdata_t<float>> packet_of(zarnfilter::tempo_block& b);

    std::atomic<double> ratio;
    std::atomic<std::int32_t> flags{0};
    std::atomic<std::int32_t> block_length{4410};
    std::atomic<std::int32_t> channels{2};
    std::atomic<std::int32_t> sample_rate{44100};
    std::atomic<std::int32_t> loudness_gain{0};
    std::atomic<bool> limiter{false};
    // Written by the stage thread after each block.
    std::atomic<bool> gain_started{false};
    std::atomic<double> gain_reached{0.0};
    // Stage thread only (and set up by the constructor).
    zarnfilter::tempo_core core{4410, 2};
    zarnfilter::leveller level;
};
