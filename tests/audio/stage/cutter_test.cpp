#include "stage_harness.h"

#include "audio/stage/splice.h"
#include "audio/stage/tempo.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::vector<float> noise(std::size_t n, unsigned seed = 1) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> v(n);
    for (auto& s : v)
        s = d(gen);
    return v;
}

// Sends samples in packets of the given sizes, cycling through them.
void send_in_pieces(stage_run& run, const std::vector<float>& s, const std::vector<int>& sizes,
                    std::int64_t tick) {
    std::size_t at = 0;
    for (std::size_t k = 0; at < s.size(); ++k) {
        const std::size_t n = std::min<std::size_t>(sizes[k % sizes.size()], s.size() - at);
        run.send(s, at, at + n, tick);
        at += n;
    }
}

std::vector<float> joined(const std::vector<output_block>& blocks) {
    std::vector<float> all;
    for (const auto& b : blocks)
        all.insert(all.end(), b.samples.begin(), b.samples.end());
    return all;
}

} // namespace

TEST(Cutter, RateOnePassesSamplesBlockForBlock) {
    // 44.1 kHz stereo: the block is 11025 samples, cut as 11024.
    const int B = 11025, b = 11024;
    const auto input = noise(5 * b + 300);
    stage_run run(1.0, B);
    send_in_pieces(run, input, {4096}, 100);
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
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
    EXPECT_EQ(run.output.end_mark_count(), 1);
}

TEST(Cutter, RateTwoAtCdFormat) {
    const int B = 11025, b = 11024, c = 5512, u = 1378;
    // Real reference times: one frame of two samples lasts 1e7 / 44100.
    const auto input = noise(6 * b);
    stage_run run(0.5, B);
    std::size_t at = 0;
    while (at < input.size()) {
        const std::size_t n = std::min<std::size_t>(4410, input.size() - at);
        ref_ptr<packet::blockdata_t<float>> p(new packet::blockdata_t<float>(n));
        p->sample_count = static_cast<int>(n);
        p->start_time = static_cast<std::int64_t>(at / 2) * 10000000 / 44100;
        p->stop_time = static_cast<std::int64_t>((at + n) / 2) * 10000000 / 44100;
        std::copy(input.begin() + at, input.begin() + at + n, p->samples.begin());
        run.input->send(p);
        at += n;
    }
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
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

TEST(Cutter, PacketSizesDoNotChangeTheOutput) {
    // Speech-like input: noise bursts and silences, so flags 3 has work to do.
    const int B = 2205;
    auto input = noise(24 * B, 7);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] *= std::array<float, 3>{1.0f, 0.0f, 0.2f}[(i / (4 * B)) % 3];

    auto outcome = [&](const std::vector<int>& sizes) {
        stage_run run(0.5, B, 3);
        send_in_pieces(run, input, sizes, 50);
        EXPECT_TRUE(run.finish());
        return run.output.taken();
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

TEST(Cutter, FlagsTwoAloneIsFlagsZero) {
    const int B = 1102;
    const auto input = noise(12 * B, 3);
    auto outcome = [&](std::int32_t flags) {
        stage_run run(0.5, B, flags);
        send_in_pieces(run, input, {500}, 10);
        EXPECT_TRUE(run.finish());
        return joined(run.output.taken());
    };
    EXPECT_EQ(outcome(2), outcome(0));
    EXPECT_NE(outcome(3), outcome(0));
}

TEST(Cutter, SilenceIsSkippedEvenAtRateOne) {
    const int B = 4410, b = 4410;
    std::vector<float> silence(6 * B, 0.0f);
    stage_run run(1.0, B, 1);
    send_in_pieces(run, silence, {1000}, 10);
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
    ASSERT_GE(blocks.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(blocks[k].samples.size(), std::size_t(zarnfilter::cut_length(b, 0.1)));
        // The clock still moves through the whole input time.
        EXPECT_EQ(blocks[k].stop - blocks[k].start, std::int64_t(b) * 10);
    }
}

TEST(Cutter, TailIsPlayedOutWithTheInputTimes) {
    const int B = 2000, b = 2000;
    const std::size_t total = 7 * b + 1234;
    const auto input = noise(total, 11);
    stage_run run(0.5, B);
    send_in_pieces(run, input, {900}, 10);
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
    ASSERT_FALSE(blocks.empty());
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
    EXPECT_EQ(run.output.end_mark_count(), 1);
}

TEST(Cutter, AStreamShorterThanTheWindowStillComesOut) {
    stage_run run(1.0, 4000);
    const auto input = noise(3000, 5);
    send_in_pieces(run, input, {3000}, 10);
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(joined(run.output.taken()), input);

    // What follows an end is a new stream and ends with its own mark.
    const auto more = noise(100, 6);
    send_in_pieces(run, more, {100}, 10);
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(run.output.end_mark_count(), 2);
    auto all = joined(run.output.taken());
    ASSERT_EQ(all.size(), 3100u);
    EXPECT_TRUE(std::equal(more.begin(), more.end(), all.begin() + 3000));
}

TEST(Cutter, EndMarkForAnotherStageIsPassedOnUntouched) {
    stage_run run(1.0, 4000);
    const auto input = noise(3000, 5);
    send_in_pieces(run, input, {3000}, 10);
    run.input->send(new packet::endofstream_t(nullptr));
    ASSERT_TRUE(run.output.ended.Wait(20000));
    // The window is still held: nothing was cut.
    EXPECT_TRUE(run.output.taken().empty());
}

TEST(Cutter, StopWhileWaitingForInputReturnsPromptly) {
    stage_run run(0.5, 11025);
    const auto input = noise(5000, 2);
    send_in_pieces(run, input, {5000}, 10);
    std::this_thread::sleep_for(20ms);
    auto stopped = std::async(std::launch::async, [&] { return run.stage->stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_FALSE(run.stage->running());
    // The partial window is dropped, and no end mark is made up.
    EXPECT_TRUE(run.output.taken().empty());
    EXPECT_EQ(run.output.end_mark_count(), 0);
}

TEST(Cutter, AFullQueueBlocksTheProducerUntilTheStageDrains) {
    using queue_type = packet_connector::queue_t<packet::base_t>;
    ref_ptr<queue_type> queue(new queue_type(2));
    auto sender = queue->make_sender();
    auto block = [](int n) {
        ref_ptr<packet::blockdata_t<float>> p(new packet::blockdata_t<float>(n));
        p->sample_count = n;
        p->start_time = 0;
        p->stop_time = n;
        return p;
    };
    sender->send(block(10));
    sender->send(block(10));
    auto third = std::async(std::launch::async, [&] { return sender->send(block(10)); });
    EXPECT_EQ(third.wait_for(50ms), std::future_status::timeout);

    recording_output output;
    ref_ptr<cutter_t> stage(new cutter_t(1.0));
    stage->set_input(queue->make_reciever());
    stage->set_output(new device_sender_t<recording_output>(&output));
    stage->set_block_length(1000);
    ASSERT_TRUE(stage->start());
    EXPECT_TRUE(third.get());

    // Now the stage waits for input and the producer for room: one stop and
    // one close release both.
    for (int i = 0; i < 3; ++i)
        sender->send(block(10));
    auto blocked = std::async(std::launch::async, [&] {
        bool all = true;
        for (int i = 0; i < 10; ++i)
            all = sender->send(block(10)) && all;
        return all;
    });
    queue->close();
    stage->stop();
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    blocked.get();
    EXPECT_FALSE(stage->running());
}

TEST(Cutter, RatioSetterRefusesWhatTheCutCannotDo) {
    ref_ptr<cutter_t> stage(new cutter_t(0.5));
    EXPECT_EQ(stage->get_ratio(), 0.5);
    for (double bad : {0.2, 0.0, -1.0, 1.5, 1.01, 1.99, 4.5, std::nan(""),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(stage->set_ratio(bad)) << bad;
        EXPECT_EQ(stage->get_ratio(), 0.5) << bad;
    }
    for (double good : {0.25, 1.0 / 3.0, 1.0, 2.0, 4.0}) {
        EXPECT_TRUE(stage->set_ratio(good)) << good;
        EXPECT_EQ(stage->get_ratio(), good);
    }
    ref_ptr<cutter_t> fallback(new cutter_t(8.0));
    EXPECT_EQ(fallback->get_ratio(), 1.0);
    EXPECT_EQ(fallback->get_block_length(), 4410);
    EXPECT_EQ(fallback->get_flags(), 0);
}

TEST(Cutter, SlowingDownStretchesAndKeepsTheTimes) {
    const int B = 1000, b = 1000;
    const auto input = noise(8 * b, 9);
    stage_run run(2.0, B);
    send_in_pieces(run, input, {700}, 10);
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
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

TEST(Cutter, RateChangeAppliesWhileRunning) {
    const int B = 1000;
    stage_run run(1.0, B);
    const auto input = noise(40 * B, 4);
    send_in_pieces(run, input, {1000}, 10);
    // Wait for some blocks at ratio 1, then switch.
    while (run.output.taken().size() < 3)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(run.stage->set_ratio(0.25));
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
    EXPECT_EQ(blocks.front().samples.size(), 1000u);
    bool faster = false;
    for (const auto& b : blocks)
        faster = faster || b.samples.size() == 250u;
    EXPECT_TRUE(faster);
}

TEST(Cutter, TimesStayExactAfterMonthsAt192kHz) {
    // Four months in 100 ns units; a window of 192 kHz stereo is 96000
    // samples, so 64-bit products of the two overflow.
    const std::int64_t months = std::int64_t(4) * 30 * 86400 * 10000000;
    EXPECT_EQ(zarnfilter::interpolate_time(months, months + 960000, 48000, 96000), months + 480000);
    EXPECT_EQ(zarnfilter::interpolate_time(months, months + 960000, 96000, 96000), months + 960000);

    const int B = 2 * 192000 / 8;
    const auto input = noise(6 * B, 12);
    for (std::int32_t flags : {0, 4}) {
        stage_run run(0.5, B, flags);
        for (std::size_t at = 0; at < input.size(); at += 4096)
            run.send(input, at, std::min(input.size(), at + 4096), 10, months);
        ASSERT_TRUE(run.finish());
        const auto blocks = run.output.taken();
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

TEST(Cutter, OutputOfTwoStreamsMatchesItsChecksums) {
    const auto input = golden_input();
    for (const auto& g : golden_cases) {
        SCOPED_TRACE(testing::Message() << g.first << " then " << g.second << " flags " << g.flags);
        stage_run run(g.first, golden_block, g.flags);
        std::size_t at = 0;
        bool second = false;
        for (std::size_t k = 0; at < input.size(); ++k) {
            if (at == golden_split && !second) {
                second = true;
                ASSERT_TRUE(run.finish());
                // The stage waits for the second stream's first packet:
                // the new ratio applies from its first block.
                ASSERT_TRUE(run.stage->set_ratio(g.second));
            }
            const std::size_t end = at < golden_split ? golden_split : input.size();
            const std::size_t n =
                std::min<std::size_t>(golden_packets[k % golden_packets.size()], end - at);
            run.send(input, at, at + n, golden_tick, golden_origin);
            at += n;
        }
        ASSERT_TRUE(run.finish());
        EXPECT_EQ(run.output.end_mark_count(), 2);
        EXPECT_EQ(checksum(run.output.taken()), g.sum) << std::hex << checksum(run.output.taken());
    }
}
