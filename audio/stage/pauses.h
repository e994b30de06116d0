// Racing through pauses in the smooth mode (flags bit 0 with bit 4): the
// speech level is the recording's own, followed as it goes; a 10 ms frame
// more than margin_db below it is pause. Speech and guard_ms either side of
// it play at the block's ratio; the rest of a pause plays a share of that
// which falls the longer the pause goes on, its pieces spliced smoothly, so
// no pause becomes shorter than the two guards and a long pause loses more
// than a short one.
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

    // Pause kept either side of the words: room for their soft ends and the
    // splices' reach; longer guards left little to race in short pauses.
    static constexpr double guard_ms = 65.0;
    // Frames this far below the level are pause: breath and room tone
    // race, the quietest parts of words (as loud as the level less this
    // margin, and the guards around them) stay.
    static constexpr double margin_db = 35.0;
    static constexpr double floor_db = -80.0;     // quieter is pause at any level
    static constexpr double decay_db_per_s = 1.0; // how fast the level forgets a loud past
    // A pause's raced middle starts at pause_share of the ratio and speeds
    // up as it goes on: at t ms in, pause_share / (1 + t / settle_ms).
    static constexpr double pause_share = 0.1;
    static constexpr double settle_ms = 100.0;
    // Output the middle gives at the ratio before it races: about one piece.
    static constexpr double lead_ms = 12.0;

private:
    double level = -200.0;
    double raced = 0;     // input samples of the current pause raced so far
    double raced_out = 0; // and the output they gave
    // Input samples from the end of the last speech frame to the block's
    // start (negative: in the past); far in the past when none was heard.
    std::int64_t last_speech_end = -(std::int64_t(1) << 40);
    std::vector<double> frame_db;
    std::vector<char> keep;
};

} // namespace zarnfilter
