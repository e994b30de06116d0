// The tempo core fed block by block, no thread or queue: the plain cut's
// samples and times, racing silence, the play-out at the end, and the
// output of whole programmes pinned by checksums.
#include "tempo_harness.h"

#include "audio/stage/splice.h"
#include "audio/stage/tempo.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

TEST(Tempo, RateOnePassesSamplesBlockForBlock) {
    // 44.1 kHz stereo: the block is 11025 samples, cut as 11024.
    const int B = 11025, b = 11024;
    const auto input = noise(5 * b + 300);
    core_run run(1.0, B);
    send_in_pieces(run, input, {4096}, 100);
    run.finish();
    const auto& blocks = run.blocks;
    ASSERT_GE(blocks.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        ASSERT_EQ(blocks[k].samples.size(), std::size_t(b)) << k;
        EXPECT_TRUE(
            std::equal(blocks[k].samples.begin(), blocks[k].samples.end(), input.begin() + k * b))
            << k;
        EXPECT_EQ(blocks[k].start, std::int64_t(k * b) * 100) << k;
        EXPECT_EQ(blocks[k].stop, std::int64_t((k + 1) * b) * 100) << k;
    }
    // The tail comes out too: every input sample exactly once, in order.
    EXPECT_EQ(joined(blocks), input);
    EXPECT_EQ(blocks.back().stop, std::int64_t(input.size()) * 100);
}

TEST(Tempo, RateTwoAtCdFormat) {
    const int B = 11025, b = 11024, c = 5512, u = 1378;
    // Real reference times: one frame of two samples lasts 1e7 / 44100.
    const auto input = noise(6 * b);
    core_run run(0.5, B);
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t n = std::min<std::size_t>(4410, input.size() - at);
        run.feed(input.data() + at, static_cast<std::int32_t>(n),
                 static_cast<std::int64_t>(at / 2) * 10000000 / 44100,
                 static_cast<std::int64_t>((at + n) / 2) * 10000000 / 44100);
        at += n;
    }
    run.finish();
    const auto& blocks = run.blocks;
    ASSERT_GE(blocks.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& o = blocks[k];
        ASSERT_EQ(o.samples.size(), std::size_t(c));
        // 5512 frames of input: 124.99 ms, within a tick of rounding.
        EXPECT_NEAR(double(o.stop - o.start), 5512.0 * 1e7 / 44100, 2.0);
        if (k > 0) {
            EXPECT_EQ(o.start, blocks[k - 1].stop);
        }
        const float* block = input.data() + k * b;
        const float* kept = block + (b - c);
        // The first u samples blend the block's start into the kept part.
        EXPECT_NEAR(o.samples[0], 0.86f * block[0] + 0.14f * kept[0], 1e-5);
        EXPECT_NEAR(o.samples[u - 1], 0.14f * block[u - 1] + 0.86f * kept[u - 1], 1e-5);
        EXPECT_NE(o.samples[u / 2], kept[u / 2]);
        for (int i = u; i < c; ++i)
            ASSERT_EQ(o.samples[i], kept[i]) << k << ":" << i;
    }
}

TEST(Tempo, PacketSizesDoNotChangeTheOutput) {
    // Speech-like input: noise bursts and silences, so flags 3 has work to do.
    const int B = 2205;
    auto input = noise(24 * B, 7);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] *= std::array<float, 3>{1.0f, 0.0f, 0.2f}[(i / (4 * B)) % 3];

    auto outcome = [&](const std::vector<int>& sizes) {
        core_run run(0.5, B, 3);
        send_in_pieces(run, input, sizes, 50);
        run.finish();
        return run.blocks;
    };
    const auto whole = outcome({int(input.size())});
    const auto pieces = outcome({1, 0, 333, 0, 0, 4096, 7, 2205});
    ASSERT_EQ(whole.size(), pieces.size());
    for (std::size_t k = 0; k < whole.size(); ++k) {
        EXPECT_EQ(whole[k].samples, pieces[k].samples) << k;
        EXPECT_EQ(whole[k].start, pieces[k].start) << k;
        EXPECT_EQ(whole[k].stop, pieces[k].stop) << k;
    }
    // The silences were skipped faster than the sound around them.
    std::size_t shortest = whole[0].samples.size();
    for (const auto& b : whole)
        if (b.stop - b.start == std::int64_t(B & ~1) * 50)
            shortest = std::min(shortest, b.samples.size());
    EXPECT_EQ(shortest, std::size_t(zarnfilter::cut_length(B & ~1, 0.1)));
}

TEST(Tempo, FlagsTwoAloneIsFlagsZero) {
    const int B = 1102;
    const auto input = noise(12 * B, 3);
    auto outcome = [&](std::int32_t flags) {
        core_run run(0.5, B, flags);
        send_in_pieces(run, input, {500}, 10);
        run.finish();
        return joined(run.blocks);
    };
    EXPECT_EQ(outcome(2), outcome(0));
    EXPECT_NE(outcome(3), outcome(0));
}

TEST(Tempo, SilenceIsSkippedEvenAtRateOne) {
    const int B = 4410, b = 4410;
    std::vector<float> silence(6 * B, 0.0f);
    core_run run(1.0, B, 1);
    send_in_pieces(run, silence, {1000}, 10);
    run.finish();
    const auto& blocks = run.blocks;
    ASSERT_GE(blocks.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(blocks[k].samples.size(), std::size_t(zarnfilter::cut_length(b, 0.1)));
        // The clock still moves through the whole input time.
        EXPECT_EQ(blocks[k].stop - blocks[k].start, std::int64_t(b) * 10);
    }
}

TEST(Tempo, TailIsPlayedOutWithTheInputTimes) {
    const int B = 2000, b = 2000;
    const std::size_t total = 7 * b + 1234;
    const auto input = noise(total, 11);
    core_run run(0.5, B);
    send_in_pieces(run, input, {900}, 10);
    // Until the end, the last window stays held for its look-ahead.
    const std::size_t cut_before_end = run.blocks.size();
    EXPECT_EQ(cut_before_end, total / b - 1);
    run.finish();
    const auto& blocks = run.blocks;
    EXPECT_GT(blocks.size(), cut_before_end);
    EXPECT_EQ(blocks.front().start, 0);
    EXPECT_EQ(blocks.back().stop, std::int64_t(total) * 10);
    std::size_t heard = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        if (k > 0) {
            EXPECT_EQ(blocks[k].start, blocks[k - 1].stop);
        }
        heard += blocks[k].samples.size();
    }
    // Half the input, give or take the even cut of the last pieces.
    EXPECT_NEAR(double(heard), total / 2.0, 4.0);
    // The last kept sample of the input is the last sample heard.
    EXPECT_EQ(blocks.back().samples.back(), input.back());
}

TEST(Tempo, SlowingDownStretchesAndKeepsTheTimes) {
    const int B = 1000, b = 1000;
    const auto input = noise(8 * b, 9);
    core_run run(2.0, B);
    send_in_pieces(run, input, {700}, 10);
    run.finish();
    const auto& blocks = run.blocks;
    ASSERT_GE(blocks.size(), 6u);
    for (std::size_t k = 0; k + 2 < blocks.size(); ++k) {
        EXPECT_EQ(blocks[k].samples.size(), std::size_t(2 * b));
        EXPECT_EQ(blocks[k].stop - blocks[k].start, std::int64_t(b) * 10);
        // Ratio 2 with an even block plays the whole window each step.
        EXPECT_TRUE(
            std::equal(blocks[k].samples.begin(), blocks[k].samples.end(), input.begin() + k * b));
    }
    EXPECT_EQ(blocks.back().stop, std::int64_t(input.size()) * 10);
}

TEST(Tempo, SettingsApplyFromTheNextBlock) {
    const int B = 1000;
    const auto input = noise(12 * B, 4);
    core_run run(1.0, B);
    run.send(input, 0, 5 * B, 10);
    ASSERT_EQ(run.blocks.size(), 4u);
    run.settings.ratio = 0.25;
    run.send(input, 5 * B, 8 * B, 10);
    ASSERT_EQ(run.blocks.size(), 7u);
    run.settings.flags = zarnfilter::flag_skip_silence;
    std::vector<float> silence(2 * B, 0.0f);
    run.send(silence, 0, 2 * B, 10, 8 * B * 10);
    const auto& blocks = run.blocks;
    ASSERT_EQ(blocks.size(), 9u);
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(blocks[k].samples.size(), 1000u) << k;
    for (std::size_t k = 4; k < 8; ++k)
        EXPECT_EQ(blocks[k].samples.size(), 250u) << k;
    // The window of the last block holds the silence only.
    EXPECT_EQ(blocks[8].samples.size(), std::size_t(zarnfilter::cut_length(1000, 0.1)));
}

TEST(Tempo, TimesStayExactAfterMonthsAt192kHz) {
    // Four months in 100 ns units; a window of 192 kHz stereo is 96000
    // samples, so 64-bit products of the two overflow.
    const std::int64_t months = std::int64_t(4) * 30 * 86400 * 10000000;
    EXPECT_EQ(zarnfilter::interpolate_time(months, months + 960000, 48000, 96000), months + 480000);
    EXPECT_EQ(zarnfilter::interpolate_time(months, months + 960000, 96000, 96000), months + 960000);

    const int B = 2 * 192000 / 8;
    const auto input = noise(6 * B, 12);
    for (std::int32_t flags : {0, 4}) {
        core_run run(0.5, B, flags);
        send_in_pieces(run, input, {4096}, 10, months);
        run.finish();
        const auto& blocks = run.blocks;
        ASSERT_FALSE(blocks.empty());
        std::int64_t expected = months;
        for (const auto& block : blocks) {
            EXPECT_EQ(block.start, expected) << flags;
            EXPECT_GT(block.stop, block.start) << flags;
            expected = block.stop;
        }
        EXPECT_EQ(blocks.front().stop, months + std::int64_t(B) * 10) << flags;
        EXPECT_EQ(expected, months + std::int64_t(input.size()) * 10) << flags;
    }
}

TEST(Tempo, ABlockIsTakenOnlyOnceTheLastIsRead) {
    const int B = 1000;
    const auto input = noise(3 * B, 8), more = noise(B, 9);
    zarnfilter::tempo_core core(B, 2);
    zarnfilter::tempo_block out;
    const zarnfilter::tempo_settings s{1.0, 0};
    ASSERT_TRUE(core.feed(input.data(), 3 * B, 0, 3 * B));
    // Nothing may replace a block that has not been read in full.
    EXPECT_FALSE(core.feed(more.data(), 10, 0, 10));
    ASSERT_TRUE(core.next(s, out));
    EXPECT_FALSE(core.feed(more.data(), 10, 0, 10));
    ASSERT_TRUE(core.next(s, out));
    EXPECT_EQ(out.start_time, B);
    EXPECT_FALSE(core.next(s, out));
    // An empty block carries no time: the next block's times go on.
    EXPECT_TRUE(core.feed(nullptr, 0, 999999, 999999));
    EXPECT_FALSE(core.next(s, out));
    EXPECT_TRUE(core.feed(more.data(), B, 3 * B, 4 * B));
    ASSERT_TRUE(core.next(s, out));
    EXPECT_EQ(out.start_time, 2 * B);
    EXPECT_EQ(out.stop_time, 3 * B);

    // Ended, the stream takes no more input and plays out the rest.
    core.end();
    EXPECT_FALSE(core.feed(input.data(), 10, 0, 10));
    std::vector<float> tail;
    std::int64_t last = 3 * B;
    while (core.next(s, out)) {
        tail.insert(tail.end(), out.samples.begin(), out.samples.end());
        EXPECT_EQ(out.start_time, last);
        last = out.stop_time;
    }
    EXPECT_EQ(tail, more);
    EXPECT_EQ(last, 4 * B);
    EXPECT_FALSE(core.next(s, out));

    // A stream that ends with nothing in it gives nothing.
    core.start(B, 2);
    core.end();
    EXPECT_FALSE(core.next(s, out));
}

TEST(Tempo, EndingWithABlockUnreadStillCutsAllOfIt) {
    const int B = 1000;
    const auto input = noise(7 * B + 30, 10);
    core_run drained(0.5, B);
    drained.send(input, 0, input.size(), 10);
    drained.finish();

    zarnfilter::tempo_core core(B, 2);
    ASSERT_TRUE(core.feed(input.data(), static_cast<std::int32_t>(input.size()), 0,
                          std::int64_t(input.size()) * 10));
    core.end();
    std::vector<output_block> blocks;
    zarnfilter::tempo_block out;
    while (core.next({0.5, 0}, out))
        blocks.push_back({out.samples, out.start_time, out.stop_time});
    EXPECT_EQ(checksum(blocks), checksum(drained.blocks));
}

TEST(Tempo, OutputOfTwoStreamsMatchesItsChecksums) {
    for (const auto& g : golden_cases) {
        SCOPED_TRACE(testing::Message() << g.first << " then " << g.second << " flags " << g.flags);
        core_run run(g.first, golden_block, g.flags);
        play_golden(run, g, [&](double r) { run.settings.ratio = r; });
        EXPECT_EQ(run.end_marks, 2);
        EXPECT_EQ(checksum(run.blocks), g.sum) << std::hex << checksum(run.blocks);
    }
}
