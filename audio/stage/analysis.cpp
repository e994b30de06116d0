#include "audio/stage/analysis.h"

#include <cmath>

namespace zarnfilter {

namespace {

// A product of two floats is exact in double, so only the sums need the
// extended precision. Four partial sums break the dependency chain of the
// additions; at 64 bits of mantissa the order cannot show in a float result.
long double sum_of_products(const float* a, const float* b, std::int32_t n) {
    long double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += static_cast<double>(a[i]) * b[i];
        s1 += static_cast<double>(a[i + 1]) * b[i + 1];
        s2 += static_cast<double>(a[i + 2]) * b[i + 2];
        s3 += static_cast<double>(a[i + 3]) * b[i + 3];
    }
    for (; i < n; ++i)
        s0 += static_cast<double>(a[i]) * b[i];
    return (s0 + s1) + (s2 + s3);
}

} // namespace

namespace {

// Steady sound (the block like the one after it) gets a ratio below r, sound
// that changes one nearer 1.
double adapted(const float* window, std::int32_t B, double ratio, float energy) {
    const float similarity = static_cast<float>(sum_of_products(window, window + B, B) / B);
    if (!(ratio < 1.0))
        return ratio;

    // d is the ratio for steady sound, e the one for sound that changes.
    const double d = ratio * adaptation_spread;
    const double e = 1.0 - (1.0 - d) * adaptation_spread;
    const float f = std::fabs(similarity / energy);
    const double g = 1.0 - f;
    const double g2 = g * g;
    return d * e / (e * (1.0 - g2) + d * g2);
}

} // namespace

double analyse_ratio(const float* window, std::int32_t B, double ratio, std::int32_t flags) {
    if (!(flags & flag_skip_silence) || B <= 0)
        return ratio;

    const float energy = static_cast<float>(sum_of_products(window, window, 2 * B) / (2 * B));
    if (energy < silence_threshold)
        return silence_ratio;
    if (!(flags & flag_adapt_similarity))
        return ratio;
    return adapted(window, B, ratio, energy);
}

double adapt_ratio(const float* window, std::int32_t B, double ratio) {
    if (B <= 0)
        return ratio;
    const float energy = static_cast<float>(sum_of_products(window, window, 2 * B) / (2 * B));
    if (!(energy > 0))
        return ratio;
    return adapted(window, B, ratio, energy);
}

} // namespace zarnfilter
