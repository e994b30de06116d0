#include "audio/stage/splice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zarnfilter {

namespace {

bool is_one(double r) {
    return !(r < 1.0) && !(r > 1.0);
}

} // namespace

std::int32_t cut_length(std::int32_t b, double r) {
    if (is_one(r) || b <= 0)
        return std::max(b, 0);
    const double c = static_cast<double>(b) * r;
    return static_cast<std::int32_t>(c) & ~1;
}

std::int32_t fade_length(std::int32_t b, std::int32_t c) {
    if (b <= 0)
        return 0;
    const double rest = 1.0 - static_cast<double>(c) / b;
    return static_cast<std::int32_t>(c * rest * rest);
}

const long double* fade_weights::get(std::int32_t n) {
    if (n == length)
        return weights.data();
    length = n;
    if (n < 2) {
        weights.assign(std::max(n, 0), 0.5L);
        return weights.data();
    }
    weights.resize(n);
    // The cosine by rotation: four interleaved chains, each turning by four
    // steps, restarted from cosl and sinl every 256 samples. It agrees with
    // cosl to about 1e-17, far below what a float output can show, at a
    // small part of the cost.
    const long double step = 3.14156L / (n - 1);
    long double cos_k[5], sin_k[5];
    for (int k = 0; k <= 4; ++k) {
        cos_k[k] = std::cos(k * step);
        sin_k[k] = std::sin(k * step);
    }
    for (std::int32_t i = 0; i < n; i += 256) {
        const long double c0 = std::cos(i * step), s0 = std::sin(i * step);
        long double c[4], s[4];
        for (int k = 0; k < 4; ++k) {
            c[k] = c0 * cos_k[k] - s0 * sin_k[k];
            s[k] = s0 * cos_k[k] + c0 * sin_k[k];
        }
        const std::int32_t end = std::min(n, i + 256);
        for (std::int32_t j = i; j < end; j += 4) {
            for (int k = 0; k < 4 && j + k < end; ++k) {
                weights[j + k] = 0.5L - 0.36L * c[k];
                const long double next_c = c[k] * cos_k[4] - s[k] * sin_k[4];
                s[k] = s[k] * cos_k[4] + c[k] * sin_k[4];
                c[k] = next_c;
            }
        }
    }
    return weights.data();
}

void crossfade(float* out, const float* a, const float* b, std::int32_t n, const long double* w) {
    for (std::int32_t i = 0; i < n; ++i)
        out[i] = static_cast<float>((1.0L - w[i]) * a[i] + w[i] * b[i]);
}

void cut_block(float* out, const float* window, std::int32_t b, std::int32_t c, std::int32_t span,
               double r, fade_weights& fades) {
    if (r < 1.0) {
        // Keep the block's last c samples; the block's first u samples, which
        // continue the previous output, fade into the first u kept ones.
        const std::int32_t u = fade_length(b, c);
        const float* kept = window + (b - c);
        crossfade(out, window, kept, u, fades.get(u));
        std::memcpy(out + u, kept + u, sizeof(float) * (c - u));
    } else if (r > 1.0) {
        // Play the span, then play it again from a point that fades in over
        // its end; the ratio setter keeps c within [span, 2 × span]. A span
        // longer than the output (odd block lengths at ratio 2) would read
        // before the window: shorten it to the output.
        const std::int32_t s = std::min(span, c);
        const std::int32_t d = c - s;
        std::memcpy(out, window, sizeof(float) * d);
        crossfade(out + d, window + d, window, s - d, fades.get(s - d));
        std::memcpy(out + s, window + (s - d), sizeof(float) * (c - s));
    } else {
        std::memcpy(out, window, sizeof(float) * b);
    }
}

} // namespace zarnfilter
