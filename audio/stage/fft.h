// A real FFT of a power-of-two length, in place on a half-length complex
// transform: enough for the phase vocoder without a library.
#pragma once

#include <cstdint>
#include <vector>

namespace zarnfilter {

class real_fft {
public:
    // n: a power of two, at least 4.
    explicit real_fft(std::int32_t n = 4);
    std::int32_t size() const { return n; }

    // x: n samples in; re, im: bins 0 to n / 2 out.
    void forward(const float* x, float* re, float* im);
    // re, im: bins 0 to n / 2 in (the imaginary parts of bins 0 and n / 2
    // are ignored); x: n samples out, scaled so that inverse(forward(x)) = x.
    void inverse(const float* re, const float* im, float* x);

private:
    void transform(float* re, float* im, bool backward);

    std::int32_t n, m; // m = n / 2, the complex length
    std::vector<std::int32_t> reversed;
    std::vector<float> cos_m, sin_m; // e^(-2πik/m), k < m / 2
    std::vector<float> cos_n, sin_n; // e^(-2πik/n), k ≤ m
    std::vector<float> zr, zi;
};

} // namespace zarnfilter
