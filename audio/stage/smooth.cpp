#include "audio/stage/smooth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zarnfilter {

namespace {

constexpr double pi = 3.14159265358979323846;

// Coarse search step; the fine pass then looks at every pair in between.
constexpr double coarse_step_ms = 0.1875;

std::int32_t even(double x) {
    return x > 0 ? static_cast<std::int32_t>(x) & ~1 : 0;
}

// Eight partial sums the compiler can keep in vector registers; float is
// plenty to rank candidates.
float dot(const float* a, const float* b, std::int32_t n) {
    float acc[8] = {};
    std::int32_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int j = 0; j < 8; ++j)
            acc[j] += a[i + j] * b[i + j];
    float s = ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
    for (; i < n; ++i)
        s += a[i] * b[i];
    return s;
}

} // namespace

double smooth_splicer::piece_ms(double r) {
    // The faster the playback, the more input lies between two pieces;
    // shorter pieces keep those gaps short. Slowing down repeats rather
    // than drops, and longer pieces repeat less often.
    if (!(r < 1.0))
        return 40.0;
    return std::clamp(40.0 - (1.0 / r - 1.0) * 7.5, 22.0, 40.0);
}

const float* smooth_splicer::weights(std::int32_t pairs) {
    if (pairs != fade_pairs) {
        fade_pairs = pairs;
        fade.resize(pairs);
        // A raised cosine through the middle of each pair: rises from near 0
        // to near 1, and w[j] + w[pairs - 1 - j] = 1.
        for (std::int32_t j = 0; j < pairs; ++j)
            fade[j] = static_cast<float>(0.5 - 0.5 * std::cos(pi * (j + 0.5) / pairs));
    }
    return fade.data();
}

// The even offset in [low, high] where the window best continues the
// continuation: the largest normalised cross-correlation over length
// samples, first on a coarse grid, then pair by pair around the best.
std::int32_t smooth_splicer::search(const float* window, std::int32_t nominal, std::int32_t low,
                                    std::int32_t high, std::int32_t length) {
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
    const std::int32_t step = coarse_step;
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
    // Where the last piece would simply have gone on (rate 1, or a rate
    // just changed): take it unless something else is clearly better, so
    // playing at the recorded speed changes nothing.
    if (natural >= low && natural <= high && score(natural) >= best_score - 1e-6)
        best = natural;
    return best;
}

void smooth_splicer::cut(float* out, const float* window, std::int32_t window_length,
                         std::int32_t B, std::int32_t b, std::int32_t c, double r) {
    const auto span = [B](double ms) { return even(B * ms / 125.0); };
    const std::int32_t range = span(search_ms);
    const std::int32_t overlap = span(overlap_ms);
    coarse_step = std::max<std::int32_t>(2, span(coarse_step_ms));
    const std::int32_t piece = std::max<std::int32_t>(2, span(piece_ms(r)));
    const std::int32_t pieces =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(double(c) / piece)));
    continuation.resize(overlap);

    for (std::int32_t k = 0; k < pieces && c > 0; ++k) {
        const std::int32_t from = even(double(c) * k / pieces);
        const std::int32_t to = k + 1 == pieces ? c : even(double(c) * (k + 1) / pieces);
        const std::int32_t length = to - from;
        // Room for the piece and the continuation read after it.
        const std::int32_t last = std::max(0, (window_length - length - overlap) & ~1);
        const std::int32_t nominal = even(double(b) * k / pieces) + range;
        std::int32_t at = 0;
        std::int32_t faded = 0;
        if (have_continuation) {
            const std::int32_t low = std::min(std::max(0, nominal - range), last);
            const std::int32_t high = std::min(nominal + range, last);
            faded = std::min(overlap, length);
            at = search(window, nominal, low, high, faded);
        }
        const float* in = window + at;
        float* o = out + from;
        const float* w = weights(faded / 2);
        const float* cont = continuation.data();
        for (std::int32_t j = 0; j < faded; j += 2) {
            // cont + w × (in − cont): exact where the two agree.
            const float wj = w[j / 2];
            o[j] = cont[j] + wj * (in[j] - cont[j]);
            o[j + 1] = cont[j + 1] + wj * (in[j + 1] - cont[j + 1]);
        }
        const std::int32_t copied = std::min(length, window_length - at) - faded;
        std::memcpy(o + faded, in + faded, sizeof(float) * std::max(0, copied));
        std::fill(o + faded + std::max(0, copied), o + length, 0.0f);

        natural = at + length;
        const std::int32_t kept = std::clamp(window_length - natural, 0, overlap);
        std::memcpy(continuation.data(), window + natural, sizeof(float) * kept);
        std::fill(continuation.begin() + kept, continuation.end(), 0.0f);
        have_continuation = true;
    }
    natural -= b;
}

} // namespace zarnfilter
