// The tempo-change stage of the pipeline: on its own thread it reads sample
// blocks from its queue, hands them to the tempo core with the ratio and
// flags of the moment, sends the core's output blocks on, and marks the end
// of each stream once the core has played it out.
#pragma once

#include "audio/pipeline/transfer.h"
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

protected:
    std::uint32_t process() override;
    // The end of the input addressed to this stage ends the current stream.
    void route_control_in(const ref_ptr<packet::control_base_t>& p) override;

private:
    zarnfilter::tempo_settings settings() const { return {get_ratio(), get_flags()}; }
    static ref_ptr<packet::blockdata_t<float>> packet_of(zarnfilter::tempo_block& b);

    std::atomic<double> ratio;
    std::atomic<std::int32_t> flags{0};
    std::atomic<std::int32_t> block_length{4410};
    std::atomic<std::int32_t> channels{2};
    // Stage thread only (and set up by the constructor).
    zarnfilter::tempo_core core{4410, 2};
};
