#include "audio/stage/smooth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zarnfilter {

namespace {

constexpr double pi = 3.14159265358979323846;

std::int32_t even(double x) {
    return x > 0 ? static_cast<std::int32_t>(x) & ~1 : 0;
}

bool is_one(double r) {
    return !(r < 1.0) && !(r > 1.0);
}

// Sixteen partial sums in four vector registers; float is plenty to rank
// candidates. The vector type is the compilers' extension, so this needs no
// particular instruction set.
typedef float float4 __attribute__((vector_size(16)));

float4 load(const float* p) {
    float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float dot(const float* a, const float* b, std::int32_t n) {
    float4 s0 = {}, s1 = {}, s2 = {}, s3 = {};
    std::int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        s0 += load(a + i) * load(b + i);
        s1 += load(a + i + 4) * load(b + i + 4);
        s2 += load(a + i + 8) * load(b + i + 8);
        s3 += load(a + i + 12) * load(b + i + 12);
    }
    const float4 t = (s0 + s1) + (s2 + s3);
    float s = (t[0] + t[1]) + (t[2] + t[3]);
    for (; i < n; ++i)
        s += a[i] * b[i];
    return s;
}

// out = from + w × (to − from) over n samples, one weight a frame: exact
// where the two agree. A weight shared by two mono samples would step every
// other sample and mirror the sound to just below half the sample rate.
// out may be to.
void fade(float* out, const float* from, const float* to, const float* w, std::int32_t n,
          std::int32_t channels) {
    if (channels == 1) {
        for (std::int32_t j = 0; j < n; ++j)
            out[j] = from[j] + w[j] * (to[j] - from[j]);
        return;
    }
    for (std::int32_t j = 0; j < n; j += 2) {
        const float wj = w[j / 2];
        out[j] = from[j] + wj * (to[j] - from[j]);
        out[j + 1] = from[j + 1] + wj * (to[j + 1] - from[j + 1]);
    }
}

} // namespace

void smooth_splicer::set_channels(std::int32_t n) {
    channels = n == 1 ? 1 : 2;
}

void smooth_splicer::reset() {
    have_continuation = false;
    vocoder.reset();
    blend = 0;
    steady_blocks = 0;
}

void smooth_splicer::blend_vocoder(float* out, const float* window, std::int32_t window_length,
                                   std::int32_t B, std::int32_t b, std::int32_t c, double r,
                                   const time_map* map, std::int32_t ends_at, std::int32_t delay) {
    if (vocoder_block != B || vocoder_channels != channels) {
        vocoder.set_format(channels, B);
        vocoder_block = B;
        vocoder_channels = channels;
    }
    // The recorded speed needs no vocoder; racing through pauses (which is
    // for speech), the stream's end and rates above vocoder_up_to are the
    // splicer's. Noise, breath and gliding voices come out dull through the
    // vocoder: only sound made of held partials, flat neither in level nor
    // in spectrum, goes into it, and only once it has been so for a while.
    // A passage then stays in it until its spectrum turns clearly noisy:
    // every hand-over costs more than the vocoder loses on a drum beat.
    const bool on = blend > 0;
    const bool fits = !(is_one(r) || map || ends_at >= 0) && !(r * vocoder_up_to < 1.0) &&
                      (on || !(steady < vocoder_from)) &&
                      tonal(window, window_length, b, delay,
                            on ? vocoder_leaves_at_flatness : vocoder_flatness_below);
    steady_blocks = fits ? steady_blocks + 1 : 0;
    const double target = fits && (on || steady_blocks >= vocoder_after_blocks) ? 1.0 : 0.0;
    if (target > 0 || blend > 0) {
        if (!(blend > 0))
            vocoder.restart();
        sung.resize(c);
        vocoder.render(sung.data(), window, window_length, b, c, r, map, delay, first_placed);
        const std::int32_t frames = c / channels;
        for (std::int32_t i = 0; i < frames; ++i) {
            const float w = static_cast<float>(blend + (target - blend) * (i + 0.5) / frames);
            for (std::int32_t ch = 0; ch < channels; ++ch) {
                const std::int32_t j = i * channels + ch;
                out[j] += w * (sung[j] - out[j]);
            }
        }
        // Once the vocoder alone is heard, the splicer's next piece goes on
        // from what it played, so the splicer takes over in step; its own
        // seam lies where it is not heard.
        if (have_continuation && !(target < 1)) {
            continuation_length = std::min(continuation_length, vocoder.continuation_length());
            vocoder.continuation(continuation.data(), continuation_length);
        }
    }
    vocoder.step(window, b);
    blend = target;
}

bool smooth_splicer::tonal(const float* window, std::int32_t window_length, std::int32_t b,
                           std::int32_t delay, double below) {
    const double flat = std::sqrt(vocoder.flatness(window, window_length, delay) *
                                  vocoder.flatness(window, window_length, delay + b / 2));
    return flat < below;
}

const float* smooth_splicer::weights(std::int32_t n) {
    const std::int32_t frames = n / channels;
    for (fade_table& t : fades)
        if (t.frames == frames)
            return t.weights.data();
    // Pieces come in at most two lengths per ratio; keep the two last.
    fade_table& t = fades[next_fade];
    next_fade ^= 1;
    t.frames = frames;
    t.weights.resize(frames);
    // w(x) = x − sin(2πx) / 2π through the middle of each frame: from near
    // 0 to near 1, w[j] + w[frames − 1 − j] = 1, and flat at both ends up to
    // the second derivative, so the seams leave next to nothing above the
    // signal's own band.
    for (std::int32_t j = 0; j < frames; ++j) {
        const double x = (j + 0.5) / frames;
        t.weights[j] = static_cast<float>(x - std::sin(2 * pi * x) / (2 * pi));
    }
    return t.weights.data();
}

// The even offset in [low, high] where the window best continues the
// continuation: the largest normalised cross-correlation over length
// samples, first on a coarse grid, then pair by pair around the best.
std::int32_t smooth_splicer::search(const float* window, std::int32_t nominal, std::int32_t low,
                                    std::int32_t high, std::int32_t length, std::int32_t step) {
    const float* cont = continuation.data();
    const double own = dot(cont, cont, length);
    if (length <= 0 || !(own > 1e-12 * length))
        return std::clamp(nominal, low, high);

    // Sums of squares for every candidate from one running sum.
    const std::int32_t area = high - low + length;
    energy.resize(area + 1);
    energy[0] = 0.0;
    for (std::int32_t i = 0; i < area; ++i)
        energy[i + 1] = energy[i] + static_cast<double>(window[low + i]) * window[low + i];
    auto score = [&](std::int32_t a) {
        const double e = energy[a - low + length] - energy[a - low];
        if (!(e > 1e-12 * length))
            return 0.0;
        return dot(cont, window + a, length) / std::sqrt(own * e);
    };

    std::int32_t best = std::clamp(nominal, low, high);
    double best_score = score(best);
    for (std::int32_t a = low; a <= high; a += step) {
        const double s = score(a);
        if (s > best_score) {
            best_score = s;
            best = a;
        }
    }
    const std::int32_t centre = best;
    for (std::int32_t a = std::max(low, centre - step + 2); a <= std::min(high, centre + step - 2);
         a += 2) {
        const double s = score(a);
        if (s > best_score) {
            best_score = s;
            best = a;
        }
    }
    // Where the last piece would simply have gone on (a rate just changed):
    // take it unless something else is clearly better.
    if (natural >= low && natural <= high && score(natural) >= best_score - 1e-6)
        best = natural;
    return best;
}

double time_map::input_at(std::int32_t o) const {
    double in = 0;
    for (const run& r : runs) {
        if (o <= r.out)
            return r.out > 0 ? in + double(r.in) * o / r.out : in;
        o -= r.out;
        in += r.in;
    }
    return in;
}

// Speech comes and goes by syllables, its 10 ms levels changing by several
// dB from frame to frame; held notes and chords change by a fraction of
// that. The mean change over about half a second decides.
void smooth_splicer::follow_character(const float* window, std::int32_t B, std::int32_t b) {
    const std::int32_t frame = std::max<std::int32_t>(2, even(B / 12.5));
    for (std::int32_t at = 0; at + frame <= b; at += frame) {
        const double level = 10 * std::log10(dot(window + at, window + at, frame) / frame + 1e-12);
        const double change = std::min(15.0, std::fabs(level - last_level));
        last_level = level;
        mean_change += (change - mean_change) / 50;
    }
    steady = std::clamp((2.5 - mean_change) / 1.5, 0.0, 1.0);
}

void smooth_splicer::hand_over(float* out, std::int32_t n) {
    if (have_continuation) {
        n = std::min(n, continuation_length) & ~1;
        fade(out, continuation.data(), out, weights(n), n, channels);
    }
    reset();
}

void smooth_splicer::cut(float* out, const float* window, std::int32_t window_length,
                         std::int32_t B, std::int32_t b, std::int32_t c, double r,
                         const time_map* map, std::int32_t ends_at) {
    const auto span = [B](double ms) { return even(B * ms / 125.0); };
    follow_character(window, B, b);
    const auto mix = [this](double speech, double held) {
        return speech + steady * (held - speech);
    };
    // Steady pieces start at least every steady_input_ms of input, so fast
    // rates follow the envelope; their search narrows a little with them.
    const double fast = std::min(r, 1.0);
    const double steady_piece = std::min(steady_piece_ms, steady_input_ms * r);
    const double steady_search = steady_search_ms + steady_search_per_ratio_ms * fast;
    // The output plays the input this late, so the search can look back.
    const std::int32_t delay = span(look_back_ms);
    // Only sound steady through and through searches wide: around a pause
    // a wide search would carry the words into it.
    const std::int32_t range =
        span(speech_search_ms + steady * std::sqrt(steady) * (steady_search - speech_search_ms));
    const std::int32_t step = std::max<std::int32_t>(2, span(coarse_step_ms));
    const std::int32_t piece = std::max<std::int32_t>(2, span(mix(speech_piece_ms, steady_piece)));
    const std::int32_t pieces =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(double(c) / piece)));
    // All pieces of a block are as long, but the last takes what is left.
    const std::int32_t each = even(double(c) / pieces);
    const std::int32_t longest = c - (pieces - 1) * each;
    if (std::int32_t(continuation.size()) < longest)
        continuation.resize(longest);

    for (std::int32_t k = 0; k < pieces && c > 0; ++k) {
        const std::int32_t from = k * each;
        const std::int32_t length = k + 1 == pieces ? longest : each;
        // Room for the piece and the continuation read after it.
        const std::int32_t last = std::max(0, (window_length - 2 * length) & ~1);
        const double played = map ? map->input_at(from) : double(b) * from / std::max(c, 1);
        const std::int32_t nominal = even(played) + delay;
        std::int32_t at = 0;
        std::int32_t faded = 0;
        if (have_continuation) {
            const std::int32_t low = std::min(std::max(0, nominal - range), last);
            const std::int32_t high = std::min(nominal + range, last);
            faded = std::min(length, continuation_length);
            // At the recorded speed the piece goes straight on: the search
            // could only find the same place again.
            if (is_one(r) && !map && natural >= 0 && natural <= last)
                at = natural;
            else
                at = search(window, nominal, low, high, faded, step);
        }
        // (At the recorded speed the pieces do not lag.)
        if (ends_at >= 0 && k + 1 == pieces && !(is_one(r) && !map))
            at = std::max(0, ends_at - length) & (channels == 1 ? ~0 : ~1);
        if (k == 0)
            first_placed = at;
        const float* in = window + at;
        float* o = out + from;
        fade(o, continuation.data(), in, weights(faded), faded, channels);
        const std::int32_t copied = std::clamp(window_length - at, faded, length) - faded;
        std::memcpy(o + faded, in + faded, sizeof(float) * copied);
        std::fill(o + faded + copied, o + length, 0.0f);

        // What would have followed, for the next piece to fade out of.
        natural = at + length;
        continuation_length = std::clamp(window_length - natural, 0, length);
        std::memcpy(continuation.data(), window + natural, sizeof(float) * continuation_length);
        have_continuation = true;
    }
    natural -= b;
    blend_vocoder(out, window, window_length, B, b, c, r, map, ends_at, delay);
}

} // namespace zarnfilter
