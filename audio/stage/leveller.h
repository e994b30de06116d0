// The loudness gain and the true-peak limiter after the tempo change, with
// no threads or queues: fed the stage's output blocks, it applies the gain
// (gliding to a new one at no more than 1 dB a second of sound) and, when
// asked, holds the true peak (4x oversampled, as a loudness meter reads it)
// under -1 dBTP. The limiter looks a few milliseconds ahead, so it delays
// the sound by that much; the blocks it hands back keep the times of the
// samples they carry, and the end of a stream plays the delay out.
#pragma once

#include "audio/stage/tempo.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace zarnfilter {

// What the leveller applies: the gain in hundredths of a decibel (clamped
// to -40 dB .. +24 dB) and whether the limiter runs.
struct level_settings {
    std::int32_t gain = 0;
    bool limiter = false;
};

class leveller {
public:
    // The ceiling the limiter keeps a meter's true peak under, and the one
    // it aims at: a little lower, for the difference between its own 4x
    // estimate and a finer one.
    static constexpr double ceiling_db = -1.0;
    static constexpr double aim_db = -1.4;
    static constexpr double glide_db_per_second = 1.0;
    static constexpr std::int32_t min_gain = -4000;
    static constexpr std::int32_t max_gain = 2400;

    leveller(std::int32_t channels = 2, std::int32_t sample_rate = 44100);

    // Begins a stream of interleaved frames of channels samples (1 or 2):
    // nothing delayed, the limiter released. The gain keeps its place, so a
    // glide goes on across streams.
    void start(std::int32_t channels, std::int32_t sample_rate);
    // The gain a glide continues from (a previous run's). Without it the
    // first sample ever levelled takes the target at once.
    void continue_from(double gain_db);

    // Levels the block in place. While the limiter's delay is engaged the
    // samples handed back are the ones that went in that much earlier (the
    // first block after it engages comes back shorter), with their times.
    void process(const level_settings& s, tempo_block& block);
    // After the stream's last block: what the delay still holds, or false
    // when it holds nothing.
    bool drain(const level_settings& s, tempo_block& out);

    bool started() const { return started_; }
    double gain_db() const { return current_db_; }
    bool engaged() const { return engaged_; }

private:
    // A run of frames that went in with its time span.
    struct span {
        std::int64_t first; // frame number of its first frame
        std::int64_t frames;
        std::int64_t start_time, stop_time;
    };

    void engage();
    // The next gain of the glide toward target_db, one frame on.
    float glide_step(double target_db);
    // Takes one gained frame in and writes the frame that comes out, if any.
    void limit_frame(const float* in, float* out, bool limiting, bool& emitted);
    float true_peak_at_centre() const;
    // The limiter's gain follows the gain asked for at frame index.
    void follow(std::int64_t index, float need);
    std::int64_t time_at(std::int64_t frame, bool as_stop) const;

    std::int32_t ch_ = 2;

    // The glide.
    bool started_ = false;
    double current_db_ = 0.0;
    float current_gain_ = 1.0f;
    double step_db_ = 0.0;

    // The limiter: T taps on either side of each interpolated point, L
    // frames of look-ahead (the attack ramp), a hold of H frames.
    static constexpr std::int32_t taps_half_ = 12;
    std::int32_t look_ = 0;
    std::int32_t hold_ = 0;
    std::int32_t delay_ = 0;
    float aim_ = 1.0f;
    float quiet_ = 1.0f; // while every sample the filters read is below it, no peak reaches the aim
    double release_ = 0.0;
    bool engaged_ = false;

    // Per tap, the weights of the sample itself and of the interpolating
    // filters for the three points between it and the next, side by side.
    using taps4 = float __attribute__((vector_size(16)));
    std::vector<taps4> taps_; // 2T
    // Per channel the last 2T gained samples, written twice so that the
    // newest 2T are always contiguous.
    std::vector<float> history_;
    std::int32_t history_pos_ = 0;
    std::int32_t quiet_run_ = 0;
    // The delayed gained frames.
    std::vector<float> delay_line_;
    std::int32_t delay_pos_ = 0;
    // Sliding minimum of the gain the peaks ask for, over look + hold frames.
    std::vector<std::int64_t> min_index_;
    std::vector<float> min_value_;
    std::int32_t min_head_ = 0, min_count_ = 0;
    double envelope_ = 1.0;
    // The last L envelope values and their sum: the gain of the frame leaving.
    std::vector<float> box_;
    std::int32_t box_pos_ = 0;
    double box_sum_ = 0.0;

    std::int64_t frames_in_ = 0;  // since the delay engaged
    std::int64_t frames_out_ = 0; // likewise
    std::deque<span> spans_;
};

} // namespace zarnfilter
