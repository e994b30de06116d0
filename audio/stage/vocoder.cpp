#include "audio/stage/vocoder.h"

#include "audio/stage/smooth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zarnfilter {

namespace {

constexpr double pi = 3.14159265358979323846;

double wrapped(double phase) {
    return phase - 2 * pi * std::nearbyint(phase / (2 * pi));
}

} // namespace

void phase_vocoder::set_format(std::int32_t ch, std::int32_t B) {
    channels = ch == 1 ? 1 : 2;
    // 2048 at 44.1 kHz (an eighth of a second is 5512.5 frames).
    const double frames = std::max(1.0, double(B) / channels);
    n = std::max(64, 1 << std::max(0, int(std::lround(std::log2(frames * 2048 / 5512.5)))));
    fft = real_fft(n);
    hann.resize(n);
    for (std::int32_t j = 0; j < n; ++j)
        hann[j] = static_cast<float>(0.5 - 0.5 * std::cos(2 * pi * j / n));
    const std::int32_t bins = n / 2 + 1;
    state.assign(channels, channel_state{});
    for (channel_state& s : state) {
        s.last_re.assign(bins, 0.0f);
        s.last_im.assign(bins, 0.0f);
        s.out_re.assign(bins, 0.0f);
        s.out_im.assign(bins, 0.0f);
    }
    buffer.resize(n);
    re.resize(bins);
    im.resize(bins);
    power.resize(bins);
    reset();
}

void phase_vocoder::reset() {
    fresh = true;
    history.assign(2 * std::size_t(n) * channels, 0.0f);
}

void phase_vocoder::step(const float* window, std::int32_t b) {
    const std::int32_t frames = b / channels, kept = 2 * n * channels;
    if (frames >= 2 * n) {
        std::memcpy(history.data(), window + (frames - 2 * n) * channels, sizeof(float) * kept);
    } else if (frames > 0) {
        const std::int32_t moved = frames * channels;
        std::memmove(history.data(), history.data() + moved, sizeof(float) * (kept - moved));
        std::memcpy(history.data() + kept - moved, window, sizeof(float) * moved);
    }
}

void phase_vocoder::frame(channel_state& s, std::int32_t ch, const float* window,
                          std::int32_t frames, std::int32_t at, double hop_in, std::int32_t hop_out,
                          std::int32_t to, bool restart) {
    const auto analyse = [&](std::int32_t from, float* r_out, float* i_out) {
        for (std::int32_t j = 0; j < n; ++j) {
            const std::int32_t x = from + j;
            const float v = x < 0        ? history[(std::max(x, -2 * n) + 2 * n) * channels + ch]
                            : x < frames ? window[x * channels + ch]
                                         : 0.0f;
            buffer[j] = v * hann[j];
        }
        fft.forward(buffer.data(), r_out, i_out);
    };
    analyse(at, re.data(), im.data());
    // Where the window's end or a change of ratio leaves the last frame
    // too close or too far for its phases to tell each peak's frequency,
    // a frame a quarter before this one does.
    if (!restart && !(hop_in > 0 && hop_in <= n / 2)) {
        analyse(at - n / 4, s.last_re.data(), s.last_im.data());
        hop_in = n / 4;
    }
    const std::int32_t bins = n / 2 + 1;
    double energy = 0, loudest = 0;
    for (std::int32_t k = 0; k < bins; ++k) {
        power[k] = re[k] * re[k] + im[k] * im[k];
        energy += power[k];
        loudest = std::max(loudest, double(power[k]));
    }
    // A rise of 6 dB within one hop is an onset: play it as it came.
    if (energy > 4 * s.last_energy + 1e-9 * n)
        restart = true;
    peaks.clear();
    if (!restart && hop_in > 0) {
        const float floor = static_cast<float>(loudest * 1e-7);
        for (std::int32_t k = 2; k + 2 < bins; ++k)
            if (power[k] > floor && power[k] > power[k - 1] && power[k] >= power[k + 1] &&
                power[k] > power[k - 2] && power[k] >= power[k + 2])
                peaks.push_back(k);
    }
    if (peaks.empty()) {
        std::copy(re.begin(), re.end(), s.out_re.begin());
        std::copy(im.begin(), im.end(), s.out_im.begin());
    } else {
        std::int32_t from = 0;
        for (std::size_t i = 0; i < peaks.size(); ++i) {
            const std::int32_t p = peaks[i];
            // The region of a peak reaches to the lowest bin before the next.
            std::int32_t until = bins;
            if (i + 1 < peaks.size()) {
                until = p + 1;
                for (std::int32_t k = p + 1; k < peaks[i + 1]; ++k)
                    if (power[k] < power[until])
                        until = k;
            }
            // Phase differences as angles of products, which a channel and
            // its negation share to the last bit.
            const double omega = 2 * pi * p / n;
            const double moved = std::atan2(im[p] * s.last_re[p] - re[p] * s.last_im[p],
                                            re[p] * s.last_re[p] + im[p] * s.last_im[p]);
            const double behind = std::atan2(s.out_im[p] * re[p] - s.out_re[p] * im[p],
                                             s.out_re[p] * re[p] + s.out_im[p] * im[p]);
            const double heard = omega + wrapped(moved - omega * hop_in) / hop_in;
            const double turn = behind + heard * hop_out;
            const float c = static_cast<float>(std::cos(turn)),
                        sn = static_cast<float>(std::sin(turn));
            for (std::int32_t k = from; k < until; ++k) {
                s.out_re[k] = re[k] * c - im[k] * sn;
                s.out_im[k] = re[k] * sn + im[k] * c;
            }
            from = until;
        }
    }
    std::copy(re.begin(), re.end(), s.last_re.begin());
    std::copy(im.begin(), im.end(), s.last_im.begin());
    s.last_energy = energy;
    fft.inverse(s.out_re.data(), s.out_im.data(), buffer.data());
    float* sum = s.sum.data() + to;
    for (std::int32_t j = 0; j < n; ++j)
        sum[j] += buffer[j] * hann[j];
}

double phase_vocoder::flatness(const float* window, std::int32_t window_length, std::int32_t from) {
    const std::int32_t frames = window_length / channels;
    const std::int32_t at = std::clamp<std::int32_t>(from / channels, 0, std::max(0, frames - n));
    for (std::int32_t j = 0; j < n; ++j) {
        float v = 0;
        if (at + j < frames)
            for (std::int32_t ch = 0; ch < channels; ++ch)
                v += window[(at + j) * channels + ch];
        buffer[j] = v * hann[j];
    }
    fft.forward(buffer.data(), re.data(), im.data());
    const std::int32_t bins = n / 2;
    double sum = 0, logs = 0;
    for (std::int32_t k = 1; k < bins; ++k)
        sum += double(re[k]) * re[k] + double(im[k]) * im[k];
    if (!(sum > 1e-20 * n))
        return 1.0;
    // A floor far under the mean keeps exact zeros from deciding alone.
    const double floor = sum / (bins - 1) * 1e-9;
    for (std::int32_t k = 1; k < bins; ++k)
        logs += std::log(double(re[k]) * re[k] + double(im[k]) * im[k] + floor);
    return std::exp(logs / (bins - 1)) / (sum / (bins - 1));
}

void phase_vocoder::continuation(float* out, std::int32_t c) const {
    const std::int32_t made = std::min(c, continuation_length()) / channels;
    for (std::int32_t ch = 0; ch < channels; ++ch) {
        const float* sum = state[ch].sum.data() + n;
        for (std::int32_t i = 0; i < made; ++i)
            out[i * channels + ch] = sum[i] / std::max(weight[n + i], 1e-3f);
    }
    std::fill(out + made * channels, out + c, 0.0f);
}

void phase_vocoder::render(float* out, const float* window, std::int32_t window_length,
                           std::int32_t b, std::int32_t c, double r, const time_map* map,
                           std::int32_t delay, std::int32_t placed) {
    const std::int32_t frames = window_length / channels, in = b / channels, made = c / channels;
    // A quarter of the frame at most; faster rates take hops as short as
    // an eighth, so the input hop stays within half a frame, where each
    // peak's phase still tells its frequency.
    const std::int32_t hop_out =
        std::clamp<std::int32_t>(std::int32_t(std::lround(n / 2 * std::min(r, 1.0))), n / 8, n / 4);
    // The last run's ratio carries on past the block.
    double onward = made > 0 ? double(in) / made : 1.0;
    if (map && !map->runs.empty() && map->runs.back().out > 0)
        onward = double(map->runs.back().in) / map->runs.back().out;
    const auto input_at = [&](double o) {
        if (o < 0 || made <= 0)
            return o * onward;
        if (o >= made)
            return in + (o - made) * onward;
        return map ? map->input_at(std::int32_t(o) * channels) / channels : double(in) * o / made;
    };

    const std::size_t length = 2 * std::size_t(n) + std::max(made, 0);
    if (fresh) {
        for (channel_state& s : state) {
            s.sum.assign(length, 0.0f);
            s.last_energy = 0;
        }
        weight.assign(length, 0.0f);
        next_start = hop_out - n;
    }
    for (channel_state& s : state)
        s.sum.resize(std::max(length, s.sum.size()), 0.0f);
    weight.resize(std::max(length, weight.size()), 0.0f);

    bool restart = fresh;
    while (next_start < made) {
        const double centre = input_at(next_start + n / 2) + double(delay / channels);
        std::int32_t at = std::int32_t(std::lround(centre)) - n / 2;
        // Started where the splicer plays, the two stay in step on steady
        // sound and fade into each other without beating; later frames only
        // carry the phases on.
        if (restart)
            at = placed / channels + next_start;
        at = std::clamp<std::int32_t>(at, -n, frames - n);
        const std::int32_t to = next_start + n;
        for (std::int32_t ch = 0; ch < channels; ++ch)
            frame(state[ch], ch, window, frames, at, at - last_at, hop_out, to, restart);
        for (std::int32_t j = 0; j < n; ++j)
            weight[to + j] += hann[j] * hann[j];
        last_at = at;
        next_start += hop_out;
        restart = false;
    }
    for (std::int32_t ch = 0; ch < channels; ++ch) {
        const float* sum = state[ch].sum.data() + n;
        for (std::int32_t i = 0; i < made; ++i)
            out[i * channels + ch] = sum[i] / std::max(weight[n + i], 1e-3f);
    }
    if (made * channels < c)
        std::fill(out + made * channels, out + c, 0.0f);
    // Step on: keep what later frames add to.
    const auto shift = [&](std::vector<float>& v) {
        std::memmove(v.data(), v.data() + made, sizeof(float) * 2 * n);
        std::fill(v.begin() + 2 * n, v.end(), 0.0f);
    };
    for (channel_state& s : state)
        shift(s.sum);
    shift(weight);
    next_start -= made;
    last_at -= in;
    fresh = false;
}

} // namespace zarnfilter
