// The stage's view of its input: a sample reader that walks the incoming
// block packets one sample at a time (skipping empty ones), and the window
// of two blocks the cut works on, with the reference times at its ends.
#pragma once

#include "audio/pipeline/packet.h"
#include "audio/pipeline/refobject.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

template <typename Transfer, typename Block> class recieve_scanner_t : public ref_object_t {
public:
    explicit recieve_scanner_t(Transfer* transfer) : transfer(transfer) {}

    // The packet being read, advancing past exhausted and empty ones; null
    // once the input has ended or the stage was stopped.
    Block* current_block() {
        while (!at_end && (!current || index >= valid(current.get()))) {
            index = 0;
            current = transfer->next_block();
            if (!current)
                at_end = true;
        }
        return at_end ? nullptr : current.get();
    }

    float next_sample() {
        Block* b = current_block();
        if (!b)
            return 0.0f;
        float s = b->samples[index++];
        end_time = interpolate_time(b->start_time, b->stop_time, index, valid(b));
        return s;
    }

    // Copies up to n samples from the current packet; fewer when it runs
    // out, 0 at the end of the input.
    std::int32_t read(float* out, std::int32_t n) {
        Block* b = current_block();
        if (!b)
            return 0;
        const std::int32_t k = std::min(n, valid(b) - index);
        std::memcpy(out, b->samples.data() + index, sizeof(float) * k);
        index += k;
        end_time = interpolate_time(b->start_time, b->stop_time, index, valid(b));
        return k;
    }

    std::int64_t time_at_position() {
        Block* b = current_block();
        if (!b)
            return 0;
        return interpolate_time(b->start_time, b->stop_time, index, valid(b));
    }

    // The time just after the last sample read. Unlike time_at_position it
    // never waits for the next packet, and it stays valid at the end.
    std::int64_t read_end_time() const { return end_time; }
    bool ended() const { return at_end; }

private:
    static std::int32_t valid(const Block* b) {
        return std::clamp<std::int32_t>(b->sample_count, 0,
                                        static_cast<std::int32_t>(b->samples.size()));
    }

    Transfer* transfer;
    ref_ptr<Block> current;
    std::int32_t index = 0;
    bool at_end = false;
    std::int64_t end_time = 0;
};

template <typename Transfer, typename Block> class recieve_buffered_t : public ref_object_t {
public:
    using scanner_type = recieve_scanner_t<Transfer, Block>;

    recieve_buffered_t(Transfer* transfer, std::int32_t length)
        : scanner(new scanner_type(transfer)), window(length, 0.0f), window_length(length) {}

    // Time of window position k (0 ≤ k ≤ window_length).
    std::int64_t time_at(std::int32_t k) const {
        return interpolate_time(window_start_time, window_end_time, k, window_length);
    }

    // Moves the samples left after a block step to the front and reads on
    // until the window is full. False, with the window partly filled, when
    // the input ended or the stage was stopped first.
    bool refill() {
        if (fill > 0) {
            const std::int32_t m = window_length - fill;
            window_start_time = time_at(m);
            std::memmove(window.data(), window.data() + m, sizeof(float) * fill);
        } else {
            window_start_time = scanner->time_at_position();
        }
        while (fill < window_length) {
            const std::int32_t k = scanner->read(window.data() + fill, window_length - fill);
            if (k == 0)
                return false;
            fill += k;
        }
        // The time of the first sample after the window; when that sample is
        // in a packet yet to come, the end of the last one read (the same time
        // for continuous input, and no wait for a packet that may never come).
        window_end_time = scanner->read_end_time();
        return true;
    }

    ref_ptr<scanner_type> scanner;
    std::vector<float> window;
    const std::int32_t window_length;
    std::int64_t window_start_time = 0;
    std::int64_t window_end_time = 0;
    std::int32_t fill = 0;
};

} // namespace zarnfilter
