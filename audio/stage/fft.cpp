#include "audio/stage/fft.h"

#include <cmath>
#include <utility>

namespace zarnfilter {

real_fft::real_fft(std::int32_t size) : n(size), m(size / 2) {
    constexpr double pi = 3.14159265358979323846;
    int bits = 0;
    while ((1 << bits) < m)
        ++bits;
    reversed.resize(m);
    for (std::int32_t k = 0; k < m; ++k) {
        std::int32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((k >> b) & 1) << (bits - 1 - b);
        reversed[k] = r;
    }
    cos_m.resize(m / 2);
    sin_m.resize(m / 2);
    for (std::int32_t k = 0; k < m / 2; ++k) {
        cos_m[k] = static_cast<float>(std::cos(2 * pi * k / m));
        sin_m[k] = static_cast<float>(-std::sin(2 * pi * k / m));
    }
    cos_n.resize(m + 1);
    sin_n.resize(m + 1);
    for (std::int32_t k = 0; k <= m; ++k) {
        cos_n[k] = static_cast<float>(std::cos(2 * pi * k / n));
        sin_n[k] = static_cast<float>(-std::sin(2 * pi * k / n));
    }
    zr.resize(m);
    zi.resize(m);
}

// Radix-2, decimation in time, after the bit-reversed reordering.
void real_fft::transform(float* re, float* im, bool backward) {
    for (std::int32_t k = 0; k < m; ++k) {
        const std::int32_t r = reversed[k];
        if (r > k) {
            std::swap(re[k], re[r]);
            std::swap(im[k], im[r]);
        }
    }
    const float sign = backward ? -1.0f : 1.0f;
    for (std::int32_t half = 1; half < m; half *= 2) {
        const std::int32_t stride = m / (2 * half);
        for (std::int32_t j = 0; j < half; ++j) {
            const float wr = cos_m[j * stride], wi = sign * sin_m[j * stride];
            for (std::int32_t k = j; k < m; k += 2 * half) {
                const std::int32_t l = k + half;
                const float tr = wr * re[l] - wi * im[l];
                const float ti = wr * im[l] + wi * re[l];
                re[l] = re[k] - tr;
                im[l] = im[k] - ti;
                re[k] += tr;
                im[k] += ti;
            }
        }
    }
}

// The even samples as the real parts and the odd ones as the imaginary
// parts of one transform, then separated by symmetry.
void real_fft::forward(const float* x, float* re, float* im) {
    for (std::int32_t k = 0; k < m; ++k) {
        zr[k] = x[2 * k];
        zi[k] = x[2 * k + 1];
    }
    transform(zr.data(), zi.data(), false);
    for (std::int32_t k = 0; k <= m; ++k) {
        const std::int32_t a = k % m, b = (m - k) % m;
        const float er = 0.5f * (zr[a] + zr[b]), ei = 0.5f * (zi[a] - zi[b]);
        const float orr = 0.5f * (zi[a] + zi[b]), oi = -0.5f * (zr[a] - zr[b]);
        re[k] = er + cos_n[k] * orr - sin_n[k] * oi;
        im[k] = ei + cos_n[k] * oi + sin_n[k] * orr;
    }
}

void real_fft::inverse(const float* re, const float* im, float* x) {
    for (std::int32_t k = 0; k < m; ++k) {
        const std::int32_t b = m - k;
        const float ik = k == 0 ? 0.0f : im[k], ib = k == 0 ? 0.0f : im[b];
        const float er = 0.5f * (re[k] + re[b]), ei = 0.5f * (ik - ib);
        const float dr = 0.5f * (re[k] - re[b]), di = 0.5f * (ik + ib);
        // O = D × e^(+2πik/n)
        const float orr = dr * cos_n[k] + di * sin_n[k];
        const float oi = di * cos_n[k] - dr * sin_n[k];
        zr[k] = er - oi;
        zi[k] = ei + orr;
    }
    transform(zr.data(), zi.data(), true);
    const float scale = 1.0f / m;
    for (std::int32_t k = 0; k < m; ++k) {
        x[2 * k] = zr[k] * scale;
        x[2 * k + 1] = zi[k] * scale;
    }
}

} // namespace zarnfilter
