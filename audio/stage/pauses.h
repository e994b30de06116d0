// Racing through pauses in the smooth mode (flags bit 0 with bit 4): the
// speech level is the recording's own, followed as it goes; a 10 ms frame
// more than margin_db below it is pause. Speech and guard_ms either side of
// it play at the block's ratio; the rest of a pause plays pause_share of
// that, its pieces spliced smoothly, so no pause becomes shorter than the
// two guards and a long pause loses more than a short one.
#pragma once

#include "audio/stage/smooth.h"

#include <cstdint>
#include <vector>

namespace zarnfilter {

class pause_racer {
public:
    // Forgets the level and the last speech: a new stream starts.
    void reset();

    // Plans the block of b input samples at the front of window (window_length
    // samples: the block and the look-ahead after it) at ratio r: fills map
    // and returns the block's output length. All speech gives one run of b
    // in and cut_length(b, r) out.
    std::int32_t plan(const float* window, std::int32_t window_length, std::int32_t B,
                      std::int32_t b, double r, time_map& map);

    static constexpr double guard_ms = 80.0;
    static constexpr double margin_db = 40.0;
    static constexpr double floor_db = -80.0;     // quieter is pause at any level
    static constexpr double decay_db_per_s = 1.0; // how fast the level forgets a loud past
    static constexpr double pause_share = 0.1;

private:
    double level = -200.0;
    // Input samples from the end of the last speech frame to the block's
    // start (negative: in the past); far in the past when none was heard.
    std::int64_t last_speech_end = -(std::int64_t(1) << 40);
    std::vector<double> frame_db;
    std::vector<char> keep;
};

} // namespace zarnfilter
