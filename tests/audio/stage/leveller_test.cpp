// The loudness gain and the true-peak limiter: peaks as an independent
// meter reads them, the glide of a changed gain, and the limiter's delay,
// which must lose no sample and shift no time, alone and in the stage.
#include "audio/stage/leveller.h"
#include "stage_harness.h"
#include "tests/support/Files.h"
#include "tests/support/Loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using zarnfilter::level_settings;
using zarnfilter::leveller;
using zarnfilter::tempo_block;

constexpr int rate = 44100;
constexpr std::int64_t tick = 10; // 100 ns units a sample of the test's streams

double to_db(double x) {
    return 20.0 * std::log10(x);
}

// Stereo at 44.1 kHz: two seconds of a quiet 1 kHz tone (-30 dBFS), then
// loud passages whose peaks between samples pass full scale: a sine at a
// quarter of the rate sampled 45 degrees off its crests, a clipped sawtooth,
// and chords of harmonics scaled to a sample peak just under full scale.
std::vector<float> loud_with_intersample_peaks() {
    std::vector<float> v;
    auto push = [&](double l, double r) {
        v.push_back(static_cast<float>(l));
        v.push_back(static_cast<float>(r));
    };
    for (int i = 0; i < 2 * rate; ++i) {
        const double x = 0.0316 * std::sin(2 * M_PI * 1000.0 * i / rate);
        push(x, x);
    }
    for (int i = 0; i < rate; ++i) {
        const double x = 0.99 * std::sin(M_PI / 2 * i + M_PI / 4);
        push(x, -x);
    }
    for (int i = 0; i < rate; ++i) {
        const double saw = 2.0 * std::fmod(i * 330.0 / rate, 1.0) - 1.0;
        const double x = std::clamp(1.6 * saw, -0.99, 0.99);
        push(x, 0.8 * x);
    }
    std::vector<double> chord(2 * static_cast<std::size_t>(rate));
    double peak = 0;
    for (int i = 0; i < 2 * rate; ++i) {
        double x = 0;
        for (int h = 1; h < 40; h += 2)
            x += std::sin(2 * M_PI * 196.0 * h * i / rate + h * 0.3) / h;
        x *= 0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * i / rate);
        chord[static_cast<std::size_t>(i)] = x;
        peak = std::max(peak, std::abs(x));
    }
    for (double x : chord)
        push(0.99 * x / peak, 0.99 * x / peak);
    // Hard-clipped noise: peaks between samples all over the band.
    std::uint32_t state = 7;
    for (int i = 0; i < rate; ++i) {
        state = state * 1664525u + 1013904223u;
        const double x =
            std::clamp(4.0 * (double(state >> 8) / double(1u << 24) - 0.5), -0.99, 0.99);
        push(x, -x);
    }
    return v;
}

// Runs the leveller over samples in blocks of `block` frames stamped by
// tick, with settings changed by `at` (frame to settings) before each block.
template <typename Settings>
std::vector<output_block> level(leveller& l, const std::vector<float>& samples, int channels,
                                int block, Settings at) {
    std::vector<output_block> out;
    const std::size_t frames = samples.size() / channels;
    for (std::size_t f = 0; f < frames; f += block) {
        const std::size_t n = std::min<std::size_t>(block, frames - f);
        tempo_block b;
        b.samples.assign(samples.begin() + f * channels, samples.begin() + (f + n) * channels);
        b.start_time = std::int64_t(f * channels) * tick;
        b.stop_time = std::int64_t((f + n) * channels) * tick;
        l.process(at(f), b);
        out.push_back({b.samples, b.start_time, b.stop_time});
    }
    tempo_block rest;
    if (l.drain(at(frames), rest))
        out.push_back({rest.samples, rest.start_time, rest.stop_time});
    return out;
}

// Every block's times are those of the input samples it carries: sample k
// of the joined output went in at k ticks.
void expect_times_follow_the_samples(const std::vector<output_block>& blocks) {
    std::int64_t at = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const auto n = static_cast<std::int64_t>(blocks[k].samples.size());
        if (n == 0)
            continue;
        ASSERT_EQ(blocks[k].start, at * tick) << "block " << k;
        ASSERT_EQ(blocks[k].stop, (at + n) * tick) << "block " << k;
        at += n;
    }
}

// Level of channel 0 over [from, to) frames, in dBFS (RMS).
double rms_db(const std::vector<float>& v, int channels, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t f = from; f < to; ++f)
        sum += double(v[f * channels]) * v[f * channels];
    return 10.0 * std::log10(sum / double(to - from));
}

} // namespace

// Raised by 12 dB with the limiter on, a signal whose peaks between samples
// pass full scale reads at most -1 dBTP on ffmpeg's meter, keeps its length
// and times, and where nothing needed limiting is exactly 12 dB louder.
TEST(Leveller, LimiterHoldsTheTruePeakUnderTheCeilingAndRaisesTheRestByTheGain) {
    const zarntest::TempDir folder("leveller");
    const auto input = loud_with_intersample_peaks();
    zarntest::LoudnessReading before, after;
    std::string error;
    ASSERT_TRUE(zarntest::WriteWav16(folder / "in.wav", input, 2, rate));
    ASSERT_TRUE(zarntest::MeasureLoudness(folder / "in.wav", before, error)) << error;
    ASSERT_GT(before.truePeak, 0.5) << "the input has no peaks over full scale to hold";

    leveller l(2, rate);
    const auto blocks = level(l, input, 2, 4410, [](std::size_t) {
        return level_settings{1200, true};
    });
    const auto out = joined(blocks);
    ASSERT_EQ(out.size(), input.size()) << "the limiter's delay lost or added samples";
    expect_times_follow_the_samples(blocks);

    ASSERT_TRUE(zarntest::WriteWav16(folder / "out.wav", out, 2, rate));
    ASSERT_TRUE(zarntest::MeasureLoudness(folder / "out.wav", after, error)) << error;
    EXPECT_LE(after.truePeak, leveller::ceiling_db) << "input read " << before.truePeak << " dBTP";
    // Not squashed flat either: the loud passages stay near the ceiling.
    EXPECT_GT(after.truePeak, leveller::ceiling_db - 1.0);

    // The quiet tone, sample for sample, took the gain and nothing else.
    const float gain = static_cast<float>(std::pow(10.0, 12.0 / 20.0));
    for (std::size_t i = 0; i < 2u * (2 * rate - 200); ++i)
        ASSERT_EQ(out[i], input[i] * gain) << "sample " << i;
    EXPECT_NEAR(rms_db(out, 2, 1000, 2 * rate - 1000) - rms_db(input, 2, 1000, 2 * rate - 1000),
                12.0, 0.01);

    // The limiter's own gain never steps: from one sample to the next it
    // moves by no more than a fall to nothing spread over 2 ms would.
    const double widest_step = 1.0 / (0.002 * rate);
    double previous = -1, steepest = 0;
    for (std::size_t i = 0; i < input.size(); i += 2) {
        if (std::abs(input[i]) < 0.05f) {
            previous = -1;
            continue;
        }
        const double g = out[i] / (input[i] * gain);
        if (previous >= 0)
            steepest = std::max(steepest, std::abs(g - previous));
        previous = g;
    }
    EXPECT_LE(steepest, widest_step) << "the limiter's gain stepped";
}

// A gain set before the first sample applies at once; a change later glides
// at no more than 1 dB a second, sample by sample, and arrives.
TEST(Leveller, AChangedGainGlidesAtOneDecibelASecond) {
    constexpr int r = 8000;
    std::vector<float> tone(12 * r);
    for (int i = 0; i < 12 * r; ++i)
        tone[static_cast<std::size_t>(i)] =
            static_cast<float>(0.05 * std::sin(2 * M_PI * 400.0 * i / r));
    for (bool limiter : {false, true}) {
        SCOPED_TRACE(limiter ? "limiter on" : "limiter off");
        leveller l(1, r);
        const auto out = joined(level(l, tone, 1, 700, [&](std::size_t f) {
            return level_settings{f < std::size_t(2 * r) ? 600 : -200, limiter};
        }));
        ASSERT_EQ(out.size(), tone.size());
        const std::size_t window = r / 10;
        EXPECT_NEAR(rms_db(out, 1, 0, window) - rms_db(tone, 1, 0, window), 6.0, 0.01);
        double steepest = 0;
        for (std::size_t w = 1; w + 1 < out.size() / window; ++w) {
            const double a = rms_db(out, 1, (w - 1) * window, w * window);
            const double b = rms_db(out, 1, w * window, (w + 1) * window);
            steepest = std::max(steepest, std::abs(b - a));
        }
        EXPECT_LE(steepest, 0.1 + 0.005) << "the gain moved faster than 1 dB a second";
        // Eight decibels down take eight seconds: arrived after ten.
        const std::size_t end = out.size() - window;
        EXPECT_NEAR(rms_db(out, 1, end, out.size()) - rms_db(tone, 1, end, out.size()), -2.0, 0.01);
        EXPECT_NEAR(l.gain_db(), -2.0, 1e-9);
        // No step anywhere: the gain of neighbouring samples differs by no
        // more than the glide allows.
        for (std::size_t i = 1; i < out.size(); ++i) {
            if (std::abs(tone[i]) < 0.01f || std::abs(tone[i - 1]) < 0.01f)
                continue;
            const double step =
                to_db(std::abs(out[i] / tone[i])) - to_db(std::abs(out[i - 1] / tone[i - 1]));
            ASSERT_LT(std::abs(step), 1e-3) << "sample " << i;
        }
    }
}

// The gain a later run continues from glides on instead of jumping; with
// the gain at 0 and no limiter nothing is touched, not even after a glide
// back to 0.
TEST(Leveller, ContinuedGainGlidesOnAndNoGainLeavesTheSamplesAlone) {
    const auto input = noise(2 * 4000, 9);
    leveller l(2, 8000);
    l.continue_from(3.0);
    tempo_block b{input, 100, 900};
    l.process({0, false}, b);
    EXPECT_NEAR(l.gain_db(), 3.0 - 4000.0 / 8000, 1e-9);
    EXPECT_GT(std::abs(b.samples[0]), std::abs(input[0]));

    leveller fresh(2, 8000);
    tempo_block untouched{input, 100, 900};
    fresh.process({0, false}, untouched);
    EXPECT_EQ(untouched.samples, input);
    EXPECT_EQ(untouched.start_time, 100);
    EXPECT_EQ(untouched.stop_time, 900);
    for (int k = 0; k < 8; ++k) {
        tempo_block more{input, 0, 1};
        l.process({0, false}, more);
    }
    ASSERT_EQ(l.gain_db(), 0.0);
    tempo_block after{input, 0, 1};
    l.process({0, false}, after);
    EXPECT_EQ(after.samples, input);
}

// A stream shorter than the look-ahead is held whole and comes out whole
// at its end, with its times.
TEST(Leveller, AStreamShorterThanTheLookAheadComesOutWholeAtItsEnd) {
    const auto input = noise(2 * 10, 3);
    leveller l(2, 44100);
    tempo_block b{input, 1000, 1200};
    l.process({0, true}, b);
    EXPECT_TRUE(b.samples.empty());
    tempo_block rest;
    ASSERT_TRUE(l.drain({0, true}, rest));
    EXPECT_EQ(rest.samples, input);
    EXPECT_EQ(rest.start_time, 1000);
    EXPECT_EQ(rest.stop_time, 1200);
    EXPECT_FALSE(l.drain({0, true}, rest)) << "the delay was played out twice";
}

// In the stage, at rate 1 and 2 with smooth splices, turning the limiter on
// mid-stream loses nothing and shifts nothing: quiet sound comes out sample
// for sample as without it, each sample with the same time.
TEST(Leveller, TheStageWithTheLimiterKeepsEverySampleAndItsTime) {
    const int B = 2 * 22050 / 8;
    std::vector<float> input = noise(2 * 22050 * 3, 12);
    for (auto& s : input)
        s *= 0.2f;
    for (double ratio : {1.0, 0.5}) {
        SCOPED_TRACE(testing::Message() << "ratio " << ratio);
        auto play = [&](bool limiter_midway) {
            stage_run run(ratio, B, zarnfilter::flag_smooth_splices);
            run.stage->set_sample_rate(22050);
            const std::size_t half = input.size() / 2;
            for (std::size_t at = 0; at < half; at += 882)
                run.send(input, at, std::min(at + 882, half), tick);
            // Once sound has come out, the limiter comes on.
            EXPECT_TRUE(zarntest::WaitFor([&] {
                return joined(run.output.taken()).size() >= std::size_t(half * ratio / 2);
            }));
            run.stage->set_limiter(limiter_midway);
            for (std::size_t at = half; at < input.size(); at += 882)
                run.send(input, at, std::min(at + 882, input.size()), tick);
            EXPECT_TRUE(run.finish());
            return run.output.taken();
        };
        const auto plain = play(false);
        const auto limited = play(true);
        const auto a = joined(plain), b = joined(limited);
        ASSERT_EQ(b.size(), a.size()) << "the limiter's delay lost or added samples";
        EXPECT_EQ(b, a);
        // The time of every output frame, from the block that carries it.
        auto times = [](const std::vector<output_block>& blocks) {
            std::vector<std::int64_t> t;
            for (const auto& blk : blocks) {
                const auto frames = static_cast<std::int64_t>(blk.samples.size() / 2);
                for (std::int64_t k = 0; k < frames; ++k)
                    t.push_back(zarnfilter::interpolate_time(blk.start, blk.stop, k, frames));
            }
            return t;
        };
        const auto ta = times(plain), tb = times(limited);
        ASSERT_EQ(ta.size(), tb.size());
        for (std::size_t k = 0; k < ta.size(); ++k)
            ASSERT_NEAR(double(tb[k]), double(ta[k]), 1.0) << "frame " << k;
        EXPECT_EQ(limited.back().stop, plain.back().stop);
    }
}
