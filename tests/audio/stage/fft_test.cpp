// The real FFT against a plain DFT, and back again.
#include "audio/stage/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

TEST(RealFft, MatchesTheDftAndInvertsIt) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int n : {4, 8, 64, 2048}) {
        SCOPED_TRACE(n);
        std::vector<float> x(n), re(n / 2 + 1), im(n / 2 + 1), back(n);
        for (float& v : x)
            v = u(gen);
        zarnfilter::real_fft fft(n);
        fft.forward(x.data(), re.data(), im.data());
        const double tolerance = 1e-5 * n;
        for (int k = 0; k <= n / 2; ++k) {
            double a = 0, b = 0;
            for (int j = 0; j < n; ++j) {
                a += x[j] * std::cos(2 * M_PI * double(j) * k / n);
                b -= x[j] * std::sin(2 * M_PI * double(j) * k / n);
            }
            EXPECT_NEAR(re[k], a, tolerance) << k;
            EXPECT_NEAR(im[k], b, tolerance) << k;
        }
        fft.inverse(re.data(), im.data(), back.data());
        for (int j = 0; j < n; ++j)
            EXPECT_NEAR(back[j], x[j], 1e-5) << j;
    }
}
