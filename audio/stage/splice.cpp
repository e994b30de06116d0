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

void crossfade(float* out, const float* a, const float* b, std::int32_t n) {
    if (n <= 0)
        return;
    if (n == 1) {
        out[0] = static_cast<float>(0.5L * a[0] + 0.5L * b[0]);
        return;
    }
    const long double step = 3.14156L / (n - 1);
    for (std::int32_t i = 0; i < n; ++i) {
        const long double w = 0.5L - 0.36L * std::cos(i * step);
        out[i] = static_cast<float>((1.0L - w) * a[i] + w * b[i]);
    }
}

void cut_block(float* out, const float* window, std::int32_t b, std::int32_t c, std::int32_t span,
               double r) {
    if (r < 1.0) {
        // Keep the block's last c samples; the block's first u samples, which
        // continue the previous output, fade into the first u kept ones.
        const std::int32_t u = fade_length(b, c);
        const float* kept = window + (b - c);
        crossfade(out, window, kept, u);
        std::memcpy(out + u, kept + u, sizeof(float) * (c - u));
    } else if (r > 1.0) {
        // Play the span, then play it again from a point that fades in over
        // its end; the ratio setter keeps c within [span, 2 × span]. A span
        // longer than the output (odd block lengths at ratio 2) would read
        // before the window: shorten it to the output.
        const std::int32_t s = std::min(span, c);
        const std::int32_t d = c - s;
        std::memcpy(out, window, sizeof(float) * d);
        crossfade(out + d, window + d, window, s - d);
        std::memcpy(out + s, window + (s - d), sizeof(float) * (c - s));
    } else {
        std::memcpy(out, window, sizeof(float) * b);
    }
}

} // namespace zarnfilter
