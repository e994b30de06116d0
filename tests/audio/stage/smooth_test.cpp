// The smooth splices (flags bit 4) run through the tempo core: lengths and
// times as the plain cut, no clicks on a steady tone, the pitch kept, stereo
// kept in step, rate 1 untouched, pauses raced without
// touching speech, changes while playing without a click.
#include "tempo_harness.h"

#include "audio/stage/analysis.h"
#include "audio/stage/fft.h"
#include "audio/stage/smooth.h"
#include "audio/stage/splice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using zarnfilter::cut_length;

namespace {

constexpr std::int32_t smooth = zarnfilter::flag_smooth_splices;

struct format {
    int channels, rate;
    int block() const { return channels * rate / 8; }
};

// Interleaved frames; every channel gets the same signal unless told.
std::vector<float> tone(const format& f, double hz, double seconds, double amplitude = 0.5) {
    const std::size_t frames = static_cast<std::size_t>(seconds * f.rate);
    std::vector<float> v(frames * f.channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int ch = 0; ch < f.channels; ++ch)
            v[i * f.channels + ch] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * hz * double(i) / f.rate));
    return v;
}

// Something like speech: a buzz whose pitch and loudness wander, with noise.
std::vector<float> babble(std::size_t samples, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> n(0.0, 0.05);
    std::vector<float> v(samples);
    double phase = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / 22050;
        phase += 2 * M_PI * (120 + 40 * std::sin(2 * M_PI * 1.3 * t)) / 22050;
        const double level = 0.3 * (0.5 + 0.5 * std::sin(2 * M_PI * 3.1 * t));
        v[i] = static_cast<float>(level * (std::sin(phase) + 0.5 * std::sin(3 * phase)) + n(gen));
    }
    return v;
}

std::vector<output_block> run_stage(const std::vector<float>& input, const format& f, double ratio,
                                    std::int32_t flags, std::size_t packet = 4096) {
    core_run run(ratio, f.block(), flags, f.channels);
    send_in_pieces(run, input, {int(packet)}, 10);
    run.finish();
    return run.blocks;
}

// Largest step between neighbouring frames of one channel.
double largest_step(const std::vector<float>& s, int channels, int ch) {
    double worst = 0;
    for (std::size_t i = ch + channels; i < s.size(); i += channels)
        worst = std::max(worst, double(std::fabs(s[i] - s[i - channels])));
    return worst;
}

// Frequency from the upward zero crossings of one channel.
double frequency(const std::vector<float>& s, int channels, int ch, int rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = ch + channels; i < s.size(); i += channels) {
        const float a = s[i - channels], b = s[i];
        if (a < 0 && b >= 0) {
            const double at = double(i / channels) - 1 + a / double(a - b);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

// The time stamps carry the whole input, block by block, whatever the
// pieces do: the input's samples at 10 time units each.
void ExpectStampsCoverTheInput(const std::vector<output_block>& blocks, std::size_t samples) {
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.front().start, 0);
    for (std::size_t k = 1; k < blocks.size(); ++k)
        EXPECT_EQ(blocks[k].start, blocks[k - 1].stop) << k;
    EXPECT_EQ(blocks.back().stop, std::int64_t(samples) * 10);
}

} // namespace

TEST(Smooth, BlocksHaveThePlainLengthsAndTimes) {
    const format f{2, 44100};
    const int B = f.block(), b = B & ~1;
    const auto input = babble(f.rate * f.channels * 3, 1);
    for (double r : {0.5, 0.25, 1.0 / 1.5, 2.0}) {
        const auto blocks = run_stage(input, f, r, smooth);
        const auto plain = run_stage(input, f, r, 0);
        ASSERT_EQ(blocks.size(), plain.size()) << r;
        std::size_t heard = 0, heard_plain = 0;
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            EXPECT_EQ(blocks[k].samples.size(), plain[k].samples.size()) << r << " " << k;
            EXPECT_EQ(blocks[k].start, plain[k].start) << r << " " << k;
            EXPECT_EQ(blocks[k].stop, plain[k].stop) << r << " " << k;
            if (k + 2 < blocks.size()) {
                EXPECT_EQ(blocks[k].samples.size(), std::size_t(cut_length(b, r)));
                EXPECT_EQ(blocks[k].stop - blocks[k].start, std::int64_t(b) * 10);
            }
            heard += blocks[k].samples.size();
            heard_plain += plain[k].samples.size();
        }
        EXPECT_EQ(heard, heard_plain);
        EXPECT_NEAR(double(heard) / input.size(), r, 0.002) << r;
        EXPECT_EQ(blocks.back().stop, std::int64_t(input.size()) * 10);
        EXPECT_NE(joined(blocks), joined(plain)) << r;
    }
}

TEST(Smooth, LongRunKeepsTheRatio) {
    // 30 s of 8 kHz mono, fed in odd packet sizes.
    const format f{1, 8000};
    const auto input = babble(30 * f.rate, 2);
    for (double r : {0.5, 0.25}) {
        const auto blocks = run_stage(input, f, r, smooth, 777);
        const double heard = double(joined(blocks).size());
        EXPECT_NEAR(heard, input.size() * r, 4.0 * blocks.size() / 1000 + 4) << r;
    }
}

TEST(Smooth, ASteadyToneHasNoClicksAndKeepsItsPitch) {
    struct {
        format f;
        double hz;
    } cases[] = {
        {{2, 44100}, 440.0}, {{1, 8000}, 300.0}, {{2, 48000}, 1000.0}, {{1, 22050}, 180.0}};
    for (const auto& c : cases) {
        const auto input = tone(c.f, c.hz, 2.0);
        // A tone of amplitude 0.5 never moves more than this between frames.
        const double natural = 2 * 0.5 * std::sin(M_PI * c.hz / c.f.rate);
        for (double r : {0.5, 0.25, 2.0}) {
            const auto blocks = run_stage(input, c.f, r, smooth);
            // Leave out the last blocks, where the tone stops.
            const auto heard = joined(blocks, blocks.size() - 3);
            // The plain cut's jumps at the splice are what this catches
            // (where the tone's period does not happen to fit the cut).
            const bool check_plain = r < 1.0 && &c == &cases[0];
            const auto plain = check_plain ? joined(run_stage(input, c.f, r, 0), blocks.size() - 3)
                                           : std::vector<float>{};
            for (int ch = 0; ch < c.f.channels; ++ch) {
                SCOPED_TRACE(testing::Message() << c.f.channels << "x" << c.f.rate << " " << c.hz
                                                << " Hz at " << r << " ch " << ch);
                EXPECT_LT(largest_step(heard, c.f.channels, ch), natural * 1.05);
                EXPECT_NEAR(frequency(heard, c.f.channels, ch, c.f.rate), c.hz, c.hz * 0.002);
                if (check_plain) {
                    EXPECT_GT(largest_step(plain, c.f.channels, ch), natural * 1.2);
                }
            }
        }
    }
}

// Energy more than 35 Hz from every note, in dB of all, over the frames of
// heard from sample from on.
double off_the_notes_db(const std::vector<float>& heard, std::size_t from,
                        const std::vector<double>& notes, int rate) {
    const std::int32_t n = 4096;
    zarnfilter::real_fft fft(n);
    std::vector<float> frame(n), re(n / 2 + 1), im(n / 2 + 1);
    double all = 0, off = 0;
    for (std::size_t at = from; at + n <= heard.size(); at += n / 2) {
        for (std::int32_t j = 0; j < n; ++j)
            frame[j] = heard[at + j] * float(0.5 - 0.5 * std::cos(2 * M_PI * j / n));
        fft.forward(frame.data(), re.data(), im.data());
        for (std::int32_t k = 1; k < n / 2; ++k) {
            const double hz = double(k) * rate / n, p = re[k] * re[k] + im[k] * im[k];
            all += p;
            if (std::none_of(notes.begin(), notes.end(),
                             [&](double note) { return std::fabs(hz - note) < 35.0; }))
                off += p;
        }
    }
    return 10 * std::log10(off / all);
}

// A held chord: the splicer's seams, however well placed, smear some of
// its energy off the notes, where the phase vocoder keeps each note going.
// The second half of the second chord swells and fades six times a second
// like a tremolo, which makes it no steadier than speech by its level; it
// was heard steady for long enough, so it stays with the vocoder (about
// -30 dB off the notes, the swells' own restarts included), where handing
// it to the splicer leaves -14 to -19 dB.
TEST(Smooth, AHeldChordStaysOnItsNotes) {
    const format f{1, 44100};
    const std::vector<double> notes = {196.0, 311.1, 523.3};
    std::vector<float> input;
    for (const double hz : notes) {
        const auto note = tone(f, hz, 8.0, 0.25);
        input.resize(note.size());
        for (std::size_t i = 0; i < note.size(); ++i)
            input[i] += note[i];
    }
    std::vector<float> swelling = input;
    for (std::size_t i = swelling.size() / 2; i < swelling.size(); ++i)
        swelling[i] *= float(0.55 + 0.45 * std::sin(2 * M_PI * 6.0 * double(i) / f.rate));
    for (double r : {0.5, 1.0 / 3}) {
        SCOPED_TRACE(testing::Message() << "ratio " << r);
        // From where the chord counts as steady.
        const auto blocks = run_stage(input, f, r, smooth);
        EXPECT_LT(off_the_notes_db(joined(blocks, blocks.size() - 3), 44100, notes, f.rate), -36.0);
        // The swelling half.
        const auto swelled = run_stage(swelling, f, r, smooth);
        EXPECT_LT(off_the_notes_db(joined(swelled, swelled.size() - 3),
                                   std::size_t(4.5 * r * f.rate), notes, f.rate),
                  -25.0);
    }
}

// Share of the energy of one channel that a fourth difference keeps, in dB:
// it passes 20 kHz at 44.1 kHz 170 dB above 500 Hz, so it shows what lies
// far above a low band.
double high_share_db(const std::vector<float>& s, int channels, int ch) {
    double all = 0, high = 0;
    for (std::size_t i = ch + 4 * channels; i < s.size(); i += channels) {
        const auto at = [&](int k) { return double(s[i - k * channels]); };
        const double d = at(0) - 4 * at(1) + 6 * at(2) - 4 * at(3) + at(4);
        all += at(0) * at(0);
        high += d * d / 256; // the filter's gain at half the sample rate
    }
    return 10 * std::log10(high / all + 1e-30);
}

// A voice of three harmonics gliding between 80 and 160 Hz whose level comes
// and goes: nothing above 500 Hz, and short pieces with uneven seams.
std::vector<float> low_voice(const format& f, double seconds) {
    const std::size_t frames = static_cast<std::size_t>(seconds * f.rate);
    std::vector<float> v(frames * f.channels);
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / f.rate;
        phase += 2 * M_PI * (120 + 40 * std::sin(2 * M_PI * 1.3 * t)) / f.rate;
        // Soft ends, so that the input's own start and stop add nothing.
        const double edge = std::min({1.0, t / 0.05, (seconds - t) / 0.05});
        const double level =
            0.3 * (0.55 + 0.45 * std::sin(2 * M_PI * 3.1 * t)) * std::sin(M_PI / 2 * edge);
        const double x = level * (std::sin(phase) + 0.5 * std::sin(2 * phase + 1) +
                                  0.3 * std::sin(3 * phase + 2));
        for (int ch = 0; ch < f.channels; ++ch)
            v[i * f.channels + ch] = static_cast<float>(x);
    }
    return v;
}

// The fades give mono a weight per sample: one weight for two samples
// stepped every other one and mirrored the sound to just below 22 kHz.
TEST(Smooth, FadesAddNothingFarAboveTheBand) {
    for (const format f : {format{1, 44100}, format{2, 44100}}) {
        const auto input = low_voice(f, 3.0);
        const double own = high_share_db(input, f.channels, 0);
        for (double r : {0.5, 1.0 / 3, 2.0}) {
            SCOPED_TRACE(testing::Message() << f.channels << " channels at " << r);
            // Leave out the last blocks, where the sound stops.
            const auto blocks = run_stage(input, f, r, smooth);
            const auto heard = joined(blocks, blocks.size() - 3);
            EXPECT_LT(high_share_db(heard, f.channels, 0), std::max(own, -110.0)) << own;
        }
    }
}

TEST(Smooth, StereoStaysInStep) {
    const format f{2, 44100};
    const auto mono = babble(2 * f.rate, 3);
    std::vector<float> mirrored(2 * mono.size()), left_only(2 * mono.size(), 0.0f);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        mirrored[2 * i] = mono[i];
        mirrored[2 * i + 1] = -mono[i];
        left_only[2 * i] = mono[i];
    }
    for (double r : {0.5, 0.25, 2.0}) {
        const auto a = joined(run_stage(mirrored, f, r, smooth));
        ASSERT_EQ(a.size() % 2, 0u);
        for (std::size_t i = 0; i < a.size(); i += 2)
            ASSERT_EQ(a[i + 1], -a[i]) << r << " at " << i;
        // A single left sample landing in the right channel would show here.
        const auto l = joined(run_stage(left_only, f, r, smooth));
        for (std::size_t i = 0; i < l.size(); i += 2)
            ASSERT_EQ(l[i + 1], 0.0f) << r << " at " << i;
        EXPECT_GT(largest_step(l, 2, 0), 0.0);
    }
}

TEST(Smooth, RateOnePassesTheInputUnchanged) {
    const auto input = babble(5 * 11025 + 301, 4);
    std::mt19937 gen(9);
    std::vector<float> noisy(input);
    for (auto& s : noisy)
        s += std::uniform_real_distribution<float>(-0.2f, 0.2f)(gen);
    EXPECT_EQ(joined(run_stage(noisy, format{2, 44100}, 1.0, smooth, 1000)), noisy);
}

// Talk: bursts of babble between pauses of the given lengths (seconds) with
// a noise floor (faint unless told), at the given peak scale; 22.05 kHz
// stereo.
std::vector<float> talk(const std::vector<double>& pauses, double scale, float floor = 3e-5f) {
    const int rate = 22050;
    std::mt19937 gen(17);
    std::uniform_real_distribution<float> floor_noise(-floor, floor);
    std::vector<float> v;
    for (std::size_t k = 0; k <= pauses.size(); ++k) {
        const auto word = babble(std::size_t(0.4 * rate), unsigned(20 + k));
        for (float x : word)
            for (int ch = 0; ch < 2; ++ch)
                v.push_back(static_cast<float>(scale * x));
        if (k < pauses.size())
            for (std::size_t i = 0; i < std::size_t(pauses[k] * rate) * 2; ++i)
                v.push_back(static_cast<float>(scale * floor_noise(gen)));
    }
    return v;
}

// Lengths in seconds of the quiet stretches of the left channel between
// sounds (no quiet sample louder than quiet, none shorter than 10 ms).
std::vector<double> quiet_runs(const std::vector<float>& s, double quiet, int rate) {
    std::vector<double> runs;
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        if (std::fabs(s[i]) < quiet) {
            ++run;
            continue;
        }
        if (run > std::size_t(rate / 100))
            runs.push_back(double(run) / rate);
        run = 0;
    }
    return runs;
}

std::size_t loud_samples(const std::vector<float>& s, double loud) {
    return std::size_t(
        std::count_if(s.begin(), s.end(), [&](float x) { return std::fabs(x) > loud; }));
}

TEST(Smooth, RacingShortensPausesAndKeepsSpeechWholeAtAnyLevel) {
    const format f{2, 22050};
    const std::vector<double> pauses = {0.1, 0.6, 1.5, 0.3};
    // A pause of 0.3 s kept little more than 60 ms either side: its share
    // heard, the mean over levels and rates (80 ms guards kept two thirds).
    double short_pause_kept = 0;
    // At 1/30 of the level the fixed -40 dBFS analysis took the words for
    // silence; a level of the recording's own does not.
    for (double scale : {1.0, 1.0 / 30}) {
        const auto input = talk(pauses, scale);
        for (double r : {1.0, 0.5, 0.25}) {
            SCOPED_TRACE(testing::Message() << "scale " << scale << " ratio " << r);
            const auto blocks = run_stage(input, f, r, smooth | zarnfilter::flag_skip_silence);
            const auto heard = joined(blocks);
            const auto rate_only = joined(run_stage(input, f, r, smooth));

            // Every burst is heard for as long as at the plain rate.
            const std::size_t loud = loud_samples(rate_only, 0.02 * scale);
            EXPECT_GE(loud_samples(heard, 0.02 * scale), loud * 0.98);
            EXPECT_LE(loud_samples(heard, 0.02 * scale), loud * 1.02);

            // The shortest pause stays, the others shrink, the long one by a
            // larger share, none to less than the guards (at the rate). How
            // long a pause sounds moves by up to a piece with where the
            // pieces fall, so lengths are not compared directly.
            const auto runs = quiet_runs(heard, 1e-3 * scale, f.rate);
            ASSERT_EQ(runs.size(), pauses.size());
            EXPECT_NEAR(runs[0], pauses[0] * r, 0.01);
            for (std::size_t k = 1; k < 3; ++k) {
                EXPECT_GE(runs[k], 0.15 * r) << k;
                EXPECT_LT(runs[k], 0.5 * pauses[k] * r) << k;
            }
            EXPECT_GE(runs[3], 0.12 * r);
            short_pause_kept += runs[3] / (pauses[3] * r) / 6;
            EXPECT_LT(runs[2] / pauses[2], runs[1] / pauses[1]);
            EXPECT_LT(runs[2] - runs[1], 0.9 * (pauses[2] - pauses[1]) * r);

            ExpectStampsCoverTheInput(blocks, input.size());
        }
    }
    EXPECT_LT(short_pause_kept, 0.62);
}

// Room tone 38 dB under the loudest 10 ms of the words is pause, not speech;
// and the longer a pause, the faster its middle goes, so a pause twice as
// long comes out barely longer.
TEST(Smooth, RacingTakesRoomToneForPauseAndSpeedsUpAsAPauseGoesOn) {
    const format f{2, 22050};
    const std::vector<double> pauses = {0.6, 1.5, 3.0};
    for (double scale : {1.0, 1.0 / 30}) {
        const auto input = talk(pauses, scale, 0.005f);
        for (double r : {0.5, 0.25}) {
            SCOPED_TRACE(testing::Message() << "scale " << scale << " ratio " << r);
            const auto heard =
                joined(run_stage(input, f, r, smooth | zarnfilter::flag_skip_silence));
            const auto runs = quiet_runs(heard, 0.006 * scale, f.rate);
            ASSERT_EQ(runs.size(), pauses.size());
            for (std::size_t k = 0; k < runs.size(); ++k) {
                EXPECT_GE(runs[k], 0.15 * r) << k;
                EXPECT_LT(runs[k], 0.5 * pauses[k] * r) << k;
                // A longer pause loses a larger share of itself.
                if (k > 0) {
                    EXPECT_LT(runs[k] / pauses[k], runs[k - 1] / pauses[k - 1]) << k;
                }
            }
            EXPECT_LT(runs[2] - runs[1], 0.05 * (pauses[2] - pauses[1]) * r);
        }
    }
}

TEST(Smooth, RacingWithAdaptationKeepsSpeechAndTimes) {
    const format f{2, 22050};
    const auto input = talk({0.8, 1.2}, 1.0 / 30);
    const std::int32_t flags =
        smooth | zarnfilter::flag_skip_silence | zarnfilter::flag_adapt_similarity;
    const auto blocks = run_stage(input, f, 0.5, flags);
    const auto heard = joined(blocks);
    const auto adapted = joined(run_stage(input, f, 0.5, smooth));
    EXPECT_LT(heard.size(), adapted.size());
    EXPECT_EQ(quiet_runs(heard, 1e-3 / 30, f.rate).size(), 2u);
    EXPECT_EQ(blocks.back().stop, std::int64_t(input.size()) * 10);
}

TEST(Smooth, RateAndFlagChangesWhilePlayingDoNotClick) {
    const format f{2, 44100};
    const int B = f.block();
    const auto input = tone(f, 440.0, 4.0);
    const double natural = 2 * 0.5 * std::sin(M_PI * 440.0 / f.rate);
    core_run run(0.5, B, smooth | zarnfilter::flag_skip_silence);
    std::size_t sent = 0;
    const auto feed = [&](std::size_t blocks_out) {
        const std::size_t to = std::min(input.size(), sent + 4 * std::size_t(B));
        run.send(input, sent, to, 10);
        sent = to;
        ASSERT_GE(run.blocks.size(), blocks_out);
    };
    feed(2);
    run.settings.ratio = 0.25;
    feed(5);
    run.settings.ratio = 1.0 / 3;
    feed(8);
    // To the plain cut at rate 1, which copies the input: its first block
    // starts where the input is, not where the smooth output was.
    run.settings = {1.0, 0};
    feed(11);
    run.settings = {0.5, smooth};
    run.send(input, sent, input.size(), 10);
    run.finish();
    const auto& blocks = run.blocks;
    const auto heard = joined(std::vector<output_block>(blocks.begin(), blocks.end() - 3));
    EXPECT_LT(largest_step(heard, 2, 0), natural * 1.05);
    for (std::size_t k = 1; k + 3 < blocks.size(); ++k) {
        std::vector<float> seam(blocks[k - 1].samples.end() - 2, blocks[k - 1].samples.end());
        seam.insert(seam.end(), blocks[k].samples.begin(), blocks[k].samples.end());
        EXPECT_LT(largest_step(seam, 2, 0), natural * 1.05) << k;
    }
    ExpectStampsCoverTheInput(blocks, input.size());
}

TEST(Smooth, SwitchingOnAppliesFromTheNextBlockWithoutAClick) {
    const format f{2, 44100};
    const int B = f.block();
    const auto input = tone(f, 440.0, 3.0);
    const double natural = 2 * 0.5 * std::sin(M_PI * 440.0 / f.rate);
    const auto plain = run_stage(input, f, 0.5, 0);

    core_run run(0.5, B, 0);
    // Enough for five blocks; the core then needs more input.
    const std::size_t first = 6 * B;
    run.send(input, 0, first, 10);
    ASSERT_EQ(run.blocks.size(), 5u);
    run.settings.flags = smooth;
    run.send(input, first, input.size(), 10);
    run.finish();
    const auto& blocks = run.blocks;
    ASSERT_EQ(blocks.size(), plain.size());

    std::size_t switched = 0;
    while (switched < blocks.size() && blocks[switched].samples == plain[switched].samples)
        ++switched;
    EXPECT_EQ(switched, 5u);
    ASSERT_LT(switched, blocks.size() - 3);
    // From the switch on, the splices no longer click.
    std::vector<float> after(blocks[switched - 1].samples.end() - 2,
                             blocks[switched - 1].samples.end());
    const auto rest =
        joined(std::vector<output_block>(blocks.begin() + switched, blocks.end() - 3));
    after.insert(after.end(), rest.begin(), rest.end());
    EXPECT_LT(largest_step(after, 2, 0), natural * 1.05);
}

TEST(Smooth, TailIsPlayedOutWithTheInputTimesAndEndsAsTheInputDoes) {
    const format f{1, 16000};
    const int B = f.block();
    const std::size_t total = 9 * B + 123;
    const auto input = babble(total, 6);
    const auto blocks = run_stage(input, f, 0.25, smooth, 500);
    ASSERT_FALSE(blocks.empty());
    ExpectStampsCoverTheInput(blocks, total);

    // A tone that fades out over its last 100 ms: the pieces lag the input,
    // and the output stopped in the middle of one, at half the tone's level.
    for (const format g : {format{1, 44100}, format{2, 44100}}) {
        auto tone_out = tone(g, 440.0, 2.0);
        const std::size_t frames = tone_out.size() / g.channels, fade = g.rate / 10;
        for (std::size_t i = frames - fade; i < frames; ++i)
            for (int ch = 0; ch < g.channels; ++ch)
                tone_out[i * g.channels + ch] *= float(frames - i) / fade;
        for (double r : {0.5, 1.0 / 3, 0.25, 2.0}) {
            const auto heard = joined(run_stage(tone_out, g, r, smooth, 4096));
            // The last millisecond of the output.
            const std::size_t last = std::size_t(g.rate / 1000) * g.channels;
            ASSERT_GT(heard.size(), last);
            for (std::size_t i = heard.size() - last; i < heard.size(); ++i)
                ASSERT_LT(std::fabs(heard[i]), 0.05) << g.channels << " channels at " << r;
        }
    }
}
