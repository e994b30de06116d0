#include "audio/stage/analysis.h"
#include "audio/stage/splice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace zarnfilter;

namespace {

struct figures {
    int channels, rate;
    double ratio;
    int c, u;
};

} // namespace

TEST(Splice, WorkedLengthsForCommonFormats) {
    const figures table[] = {
        {2, 44100, 1.0, 11024, 0},
        {2, 44100, 1.0 / 1.5, 7348, 817},
        {2, 44100, 1.0 / 2.0, 5512, 1378},
        {2, 44100, 1.0 / 4.0, 2756, 1550},
        {2, 44100, silence_ratio, 1102, 892},
        {1, 22050, 1.0 / 2.0, 1378, 344},
    };
    for (const auto& f : table) {
        const int block_length = f.channels * f.rate / 8;
        const int b = block_length & ~1;
        const int c = cut_length(b, f.ratio);
        EXPECT_EQ(c, f.c) << f.channels << "x" << f.rate << " at " << f.ratio;
        if (f.ratio < 1.0) {
            EXPECT_EQ(fade_length(b, c), f.u) << f.channels << "x" << f.rate << " at " << f.ratio;
        }
    }
    EXPECT_EQ(2 * 44100 / 8, 11025);
    EXPECT_EQ(cut_length(2756, std::nan("")), 2756);
}

TEST(Splice, FadeWeightsRiseFromFourteenToEightySixPercent) {
    const float a[3] = {0.0f, 0.0f, 0.0f};
    const float b[3] = {1.0f, 1.0f, 1.0f};
    float out[3] = {};
    fade_weights fades;
    crossfade(out, a, b, 2, fades.get(2));
    EXPECT_NEAR(out[0], 0.14f, 1e-6);
    EXPECT_NEAR(out[1], 0.86f, 1e-6);
    crossfade(out, a, b, 3, fades.get(3));
    EXPECT_NEAR(out[1], 0.5f, 1e-5);
    EXPECT_NEAR(out[0] + out[2], 1.0f, 1e-6);
}

TEST(Splice, SingleSampleFadeIsAnEvenBlend) {
    const float a = 0.25f, b = 0.75f;
    float out = -1.0f;
    fade_weights fades;
    crossfade(&out, &a, &b, 1, fades.get(1));
    EXPECT_FLOAT_EQ(out, 0.5f);
    out = -1.0f;
    crossfade(&out, &a, &b, 0, fades.get(0));
    EXPECT_EQ(out, -1.0f);
}

TEST(Splice, FadeWeightsFollowTheRaisedCosine) {
    fade_weights fades;
    for (int n : {2, 31, 33, 64, 817, 1378, 1550, 2803}) {
        const long double* w = fades.get(n);
        long double worst = 0;
        for (int i = 0; i < n; ++i) {
            const long double exact = 0.5L - 0.36L * std::cos(i * 3.14156L / (n - 1));
            worst = std::max(worst, std::fabs(w[i] - exact));
        }
        EXPECT_LT(static_cast<double>(worst), 1e-16) << n;
        EXPECT_NEAR(static_cast<double>(w[0]), 0.14, 1e-12);
        EXPECT_NEAR(static_cast<double>(w[n - 1]), 0.86, 1e-9);
    }
}

TEST(Splice, SlowDownRepeatsTheWindowWithAFade) {
    // Ratio 2 with an even block: the output is the whole window and then the
    // window again; the fade covers everything but the first d samples.
    const int b = 8, n = 16;
    std::vector<float> window(n);
    for (int i = 0; i < n; ++i)
        window[i] = static_cast<float>(i);
    const int c = cut_length(b, 3.0);
    ASSERT_EQ(c, 24);
    std::vector<float> out(c, -1.0f);
    fade_weights fades;
    cut_block(out.data(), window.data(), b, c, n, 3.0, fades);
    const int d = c - n;
    for (int i = 0; i < d; ++i)
        EXPECT_EQ(out[i], window[i]);
    // The fade starts mostly on window[d] and ends mostly on window[n - d - 1].
    EXPECT_NEAR(out[d], 0.86f * window[d] + 0.14f * window[0], 1e-4);
    for (int i = n; i < c; ++i)
        EXPECT_EQ(out[i], window[n - d + (i - n)]);

    // An odd block at ratio 2 is two samples short of the window: no read
    // outside it, and the output is the window's first 2b samples.
    const int b_odd = 7 & ~1, n_odd = 14;
    const int c2 = cut_length(b_odd, 2.0);
    ASSERT_EQ(c2, 12);
    std::vector<float> out2(c2);
    cut_block(out2.data(), window.data(), b_odd, c2, n_odd, 2.0, fades);
    for (int i = 0; i < c2; ++i)
        EXPECT_EQ(out2[i], window[i]);
}

namespace {

std::vector<float> tone_window(int B, int period) {
    std::vector<float> w(2 * B);
    for (int i = 0; i < B; ++i)
        w[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * i / period));
    std::copy(w.begin(), w.begin() + B, w.begin() + B);
    return w;
}

// Halves whose sample products cancel exactly: + + - - against + - + -.
std::vector<float> unrelated_window(int B) {
    std::vector<float> w(2 * B);
    for (int i = 0; i < B; ++i) {
        w[i] = (i / 2) % 2 ? -0.5f : 0.5f;
        w[B + i] = i % 2 ? -0.5f : 0.5f;
    }
    return w;
}

} // namespace

TEST(Analysis, SimilarityAdaptationAtRateTwo) {
    const int B = 11024;
    auto tone = tone_window(B, 104); // a period that divides the block
    EXPECT_DOUBLE_EQ(analyse_ratio(tone.data(), B, 0.5, 3), 0.25);
    auto unrelated = unrelated_window(B);
    EXPECT_DOUBLE_EQ(analyse_ratio(unrelated.data(), B, 0.5, 3), 0.625);
    // Bit 1 alone is ignored; bit 0 alone leaves sound at the base ratio.
    EXPECT_EQ(analyse_ratio(unrelated.data(), B, 0.5, 2), 0.5);
    EXPECT_EQ(analyse_ratio(unrelated.data(), B, 0.5, 1), 0.5);
    EXPECT_EQ(analyse_ratio(tone.data(), B, 0.5, 0), 0.5);
}

TEST(Analysis, ExtremesFollowTheRateTable) {
    const int B = 4096;
    auto tone = tone_window(B, 64);
    auto unrelated = unrelated_window(B);
    const double rates[] = {1.5, 2.0, 3.0, 4.0};
    for (double R : rates) {
        EXPECT_NEAR(1.0 / analyse_ratio(tone.data(), B, 1.0 / R, 3), 2.0 * R, 1e-9) << R;
        EXPECT_NEAR(1.0 / analyse_ratio(unrelated.data(), B, 1.0 / R, 3), 4.0 * R / (2 * R + 1),
                    1e-9)
            << R;
    }
}

TEST(Analysis, SilenceIsTenTimesFasterAtEveryRate) {
    const int B = 2205;
    std::vector<float> silence(2 * B, 0.0f);
    for (double r : {1.0, 0.5, 0.25, 2.0, 4.0}) {
        EXPECT_EQ(analyse_ratio(silence.data(), B, r, 1), 0.1) << r;
        EXPECT_EQ(analyse_ratio(silence.data(), B, r, 3), 0.1) << r;
        EXPECT_EQ(analyse_ratio(silence.data(), B, r, 2), r) << r;
    }
    // An RMS just above 0.01 is sound, just below it is silence.
    std::vector<float> quiet(2 * B, 0.0101f), quieter(2 * B, 0.0099f);
    EXPECT_EQ(analyse_ratio(quiet.data(), B, 0.5, 1), 0.5);
    EXPECT_EQ(analyse_ratio(quieter.data(), B, 0.5, 1), 0.1);
    // Only the window as a whole counts: sound in the look-ahead keeps the pace.
    std::vector<float> onset(2 * B, 0.0f);
    std::fill(onset.begin() + B, onset.end(), 0.5f);
    EXPECT_EQ(analyse_ratio(onset.data(), B, 0.5, 1), 0.5);
}

TEST(Analysis, NoAdaptationAtRateOneOrSlower) {
    const int B = 4096;
    auto unrelated = unrelated_window(B);
    EXPECT_EQ(analyse_ratio(unrelated.data(), B, 1.0, 3), 1.0);
    EXPECT_EQ(analyse_ratio(unrelated.data(), B, 2.0, 3), 2.0);
}
