#include "audio/stage/leveller.h"

#include <algorithm>
#include <cmath>

namespace zarnfilter {

namespace {

double db_to_gain(double db) {
    return std::pow(10.0, db / 20.0);
}

// Modified Bessel function of the first kind, order 0 (the Kaiser window).
double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

constexpr double kaiser_beta = 6.0;
constexpr double release_seconds = 0.3;
constexpr double hold_seconds = 0.01;
constexpr double look_seconds = 0.002;

} // namespace

leveller::leveller(std::int32_t channels, std::int32_t sample_rate) {
    start(channels, sample_rate);
}

void leveller::start(std::int32_t channels, std::int32_t sample_rate) {
    ch_ = channels == 1 ? 1 : 2;
    const double rate = std::max(sample_rate, 1);
    step_db_ = glide_db_per_second / rate;
    look_ = std::max(2, static_cast<std::int32_t>(std::ceil(look_seconds * rate)));
    hold_ = static_cast<std::int32_t>(std::lround(hold_seconds * rate));
    delay_ = look_ - 1 + taps_half_;
    release_ = 1.0 - std::exp(-1.0 / (release_seconds * rate));
    aim_ = static_cast<float>(db_to_gain(aim_db));

    // Windowed sinc interpolators for the points a quarter, a half and three
    // quarters of the way to the next sample; each passes a constant as it is.
    const std::int32_t n = 2 * taps_half_;
    taps_.assign(static_cast<std::size_t>(n), taps4{0.0f, 0.0f, 0.0f, 0.0f});
    taps_[static_cast<std::size_t>(taps_half_ - 1)][0] = 1.0f;
    double widest = 1.0;
    for (int k = 1; k <= 3; ++k) {
        std::vector<double> h(static_cast<std::size_t>(n));
        double sum = 0.0;
        for (std::int32_t j = 0; j < n; ++j) {
            // Tap j reads the sample j - T + 1 frames from the centre.
            const double t = (j - taps_half_ + 1) - k / 4.0;
            const double sinc = t == 0.0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
            const double r = t / taps_half_;
            const double w = std::abs(r) >= 1.0 ? 0.0
                                                : bessel_i0(kaiser_beta * std::sqrt(1.0 - r * r)) /
                                                      bessel_i0(kaiser_beta);
            h[static_cast<std::size_t>(j)] = sinc * w;
            sum += sinc * w;
        }
        double absolute = 0.0;
        for (std::int32_t j = 0; j < n; ++j) {
            const double v = h[static_cast<std::size_t>(j)] / sum;
            taps_[static_cast<std::size_t>(j)][k] = static_cast<float>(v);
            absolute += std::abs(v);
        }
        widest = std::max(widest, absolute);
    }
    quiet_ = static_cast<float>(aim_ / widest);

    engaged_ = false;
    spans_.clear();
    frames_in_ = frames_out_ = 0;
}

void leveller::continue_from(double gain_db) {
    started_ = true;
    current_db_ = std::clamp(gain_db, min_gain / 100.0, max_gain / 100.0);
    current_gain_ = static_cast<float>(db_to_gain(current_db_));
}

void leveller::engage() {
    engaged_ = true;
    const std::int32_t n = 2 * taps_half_;
    history_.assign(static_cast<std::size_t>(ch_) * 2 * n, 0.0f);
    history_pos_ = 0;
    quiet_run_ = 0;
    delay_line_.assign(static_cast<std::size_t>(ch_) * delay_, 0.0f);
    delay_pos_ = 0;
    const auto window = static_cast<std::size_t>(look_ + hold_ + 1);
    min_index_.assign(window, 0);
    min_value_.assign(window, 1.0f);
    min_head_ = min_count_ = 0;
    envelope_ = 1.0;
    box_.assign(static_cast<std::size_t>(look_), 1.0f);
    box_pos_ = 0;
    box_sum_ = look_;
    frames_in_ = frames_out_ = 0;
    spans_.clear();
}

float leveller::glide_step(double target_db) {
    if (current_db_ != target_db) {
        if (std::abs(target_db - current_db_) <= step_db_)
            current_db_ = target_db;
        else
            current_db_ += target_db > current_db_ ? step_db_ : -step_db_;
        current_gain_ = static_cast<float>(db_to_gain(current_db_));
    }
    return current_gain_;
}

float leveller::true_peak_at_centre() const {
    const std::int32_t n = 2 * taps_half_;
    float peak = 0.0f;
    for (std::int32_t c = 0; c < ch_; ++c) {
        // The newest 2T samples of the channel, oldest first.
        const float* x = history_.data() + static_cast<std::size_t>(c) * 2 * n + history_pos_ + 1;
        taps4 sum{0.0f, 0.0f, 0.0f, 0.0f};
        for (std::int32_t j = 0; j < n; ++j)
            sum += taps_[static_cast<std::size_t>(j)] * x[j];
        for (int k = 0; k < 4; ++k)
            peak = std::max(peak, std::abs(sum[k]));
    }
    return peak;
}

void leveller::limit_frame(const float* in, float* out, bool limiting, bool& emitted) {
    const std::int32_t n = 2 * taps_half_;
    float delayed[2];
    float amplitude = 0.0f;
    float* line = delay_line_.data() + static_cast<std::size_t>(delay_pos_) * ch_;
    for (std::int32_t c = 0; c < ch_; ++c) {
        delayed[c] = line[c];
        line[c] = in[c];
        amplitude = std::max(amplitude, std::abs(in[c]));
        float* h = history_.data() + static_cast<std::size_t>(c) * 2 * n;
        h[history_pos_] = h[history_pos_ + n] = in[c];
    }
    if (++delay_pos_ == delay_)
        delay_pos_ = 0;
    quiet_run_ = amplitude < quiet_ ? quiet_run_ + 1 : 0;

    // The gain the peaks around the centre frame (T frames back) allow.
    float need = 1.0f;
    if (limiting && quiet_run_ < n) {
        const float peak = true_peak_at_centre();
        if (peak > aim_)
            need = aim_ / peak;
    }
    if (++history_pos_ == n)
        history_pos_ = 0;

    const std::int64_t index = frames_in_;
    if (need == 1.0f && envelope_ == 1.0 && box_sum_ == look_ &&
        min_value_[static_cast<std::size_t>(min_head_)] == 1.0f) {
        // Nothing to hold down and nothing held: the minimum is this frame's
        // 1, and the box holds ones already.
        min_head_ = 0;
        min_count_ = 1;
        min_index_[0] = index;
        min_value_[0] = 1.0f;
        if (++box_pos_ == look_)
            box_pos_ = 0;
    } else {
        follow(index, need);
    }

    emitted = frames_in_ >= delay_;
    ++frames_in_;
    if (!emitted)
        return;
    const float gain = static_cast<float>(std::min(1.0, box_sum_ / look_));
    for (std::int32_t c = 0; c < ch_; ++c)
        out[c] = delayed[c] * gain;
    ++frames_out_;
}

void leveller::follow(std::int64_t index, float need) {
    // The minimum of the gains asked for over the look-ahead and the hold.
    const auto window = static_cast<std::int32_t>(min_value_.size());
    auto wrap = [window](std::int32_t i) { return i >= window ? i - window : i; };
    while (min_count_ > 0) {
        const std::int32_t back = wrap(min_head_ + min_count_ - 1);
        if (min_value_[static_cast<std::size_t>(back)] < need)
            break;
        --min_count_;
    }
    const std::int32_t slot = wrap(min_head_ + min_count_);
    min_index_[static_cast<std::size_t>(slot)] = index;
    min_value_[static_cast<std::size_t>(slot)] = need;
    ++min_count_;
    while (min_index_[static_cast<std::size_t>(min_head_)] <= index - (look_ + hold_)) {
        min_head_ = wrap(min_head_ + 1);
        --min_count_;
    }
    const double held = min_value_[static_cast<std::size_t>(min_head_)];

    // Falls at once, recovers slowly (the last millionth at once, so that
    // the envelope comes back to 1); the box average over the look-ahead
    // then turns each fall into a ramp that ends at the peak.
    if (held < envelope_)
        envelope_ = held;
    else
        envelope_ += (held - envelope_) * release_;
    if (envelope_ > 1.0 - 1e-6)
        envelope_ = 1.0;
    box_sum_ += envelope_ - box_[static_cast<std::size_t>(box_pos_)];
    box_[static_cast<std::size_t>(box_pos_)] = static_cast<float>(envelope_);
    if (++box_pos_ == look_)
        box_pos_ = 0;
}

std::int64_t leveller::time_at(std::int64_t frame, bool as_stop) const {
    if (spans_.empty())
        return 0;
    const std::int64_t probe = as_stop ? frame - 1 : frame;
    for (const span& s : spans_) {
        if (probe >= s.first && probe < s.first + s.frames)
            return interpolate_time(s.start_time, s.stop_time, frame - s.first, s.frames);
    }
    return probe < spans_.front().first ? spans_.front().start_time : spans_.back().stop_time;
}

void leveller::process(const level_settings& s, tempo_block& block) {
    const double target = std::clamp(s.gain, min_gain, max_gain) / 100.0;
    const auto frames = static_cast<std::int64_t>(block.samples.size()) / ch_;
    if (!started_ && frames > 0)
        continue_from(target);
    if (s.limiter && !engaged_)
        engage();

    float* x = block.samples.data();
    if (!engaged_) {
        if (current_db_ == 0.0 && target == 0.0)
            return;
        for (std::int64_t f = 0; f < frames; ++f) {
            const float g = glide_step(target);
            for (std::int32_t c = 0; c < ch_; ++c)
                x[f * ch_ + c] *= g;
        }
        return;
    }

    if (frames > 0)
        spans_.push_back({frames_in_, frames, block.start_time, block.stop_time});
    // Summed afresh each block, so rounding cannot build up over hours.
    box_sum_ = 0.0;
    for (float v : box_)
        box_sum_ += v;

    const std::int64_t first_out = frames_out_;
    std::int64_t written = 0;
    for (std::int64_t f = 0; f < frames; ++f) {
        const float g = glide_step(target);
        float gained[2];
        for (std::int32_t c = 0; c < ch_; ++c)
            gained[c] = x[f * ch_ + c] * g;
        bool emitted = false;
        limit_frame(gained, x + written * ch_, s.limiter, emitted);
        written += emitted ? 1 : 0;
    }
    block.samples.resize(static_cast<std::size_t>(written * ch_));
    block.start_time = time_at(first_out, false);
    block.stop_time = written > 0 ? time_at(first_out + written, true) : block.start_time;
    while (!spans_.empty() && spans_.front().first + spans_.front().frames <= frames_out_)
        spans_.pop_front();
}

bool leveller::drain(const level_settings& s, tempo_block& out) {
    if (!engaged_)
        return false;
    const std::int64_t pending = frames_in_ - frames_out_;
    const std::int64_t first_out = frames_out_;
    out.samples.assign(static_cast<std::size_t>(pending * ch_), 0.0f);
    // Silence after the end lets the look-ahead see the last frames out.
    const float silence[2] = {0.0f, 0.0f};
    std::int64_t written = 0;
    while (frames_out_ < first_out + pending) {
        bool emitted = false;
        limit_frame(silence, out.samples.data() + written * ch_, s.limiter, emitted);
        written += emitted ? 1 : 0;
    }
    out.start_time = time_at(first_out, false);
    out.stop_time = time_at(first_out + written, true);
    engaged_ = false;
    spans_.clear();
    return written > 0;
}

} // namespace zarnfilter
