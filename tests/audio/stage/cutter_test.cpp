// The tempo stage as the pipeline runs it: packets through its queue on its
// own thread, the end of each stream, stops, back-pressure, and settings
// changed while it runs. What it cuts is the tempo core's (tempo_test).
#include "stage_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <random>
#include <thread>

using namespace std::chrono_literals;

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

TEST(Cutter, SettingChangesApplyWhileRunning) {
    const int B = 1000;
    stage_run run(1.0, B);
    const auto input = noise(40 * B, 4);
    send_in_pieces(run, input, {1000}, 10);
    // Wait for some blocks at ratio 1, then switch.
    while (run.output.taken().size() < 3)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(run.stage->set_ratio(0.25));
    // Flags set before the silence is sent reach every block cut from it
    // alone.
    run.stage->set_flags(zarnfilter::flag_skip_silence);
    send_in_pieces(run, std::vector<float>(6 * B, 0.0f), {1000}, 10, 40 * B * 10);
    ASSERT_TRUE(run.finish());
    const auto blocks = run.output.taken();
    EXPECT_EQ(blocks.front().samples.size(), 1000u);
    bool faster = false;
    for (const auto& b : blocks)
        faster = faster || b.samples.size() == 250u;
    EXPECT_TRUE(faster);
    ASSERT_GE(blocks.size(), 44u);
    // The play-out of the last block does not race.
    for (std::size_t k = blocks.size() - 5; k + 1 < blocks.size(); ++k)
        EXPECT_EQ(blocks[k].samples.size(), std::size_t(zarnfilter::cut_length(B, 0.1))) << k;
    EXPECT_EQ(blocks.back().stop, 46 * B * 10);
}

TEST(Cutter, OutputOfTwoStreamsMatchesItsChecksums) {
    for (const auto& g : golden_cases) {
        SCOPED_TRACE(testing::Message() << g.first << " then " << g.second << " flags " << g.flags);
        stage_run run(g.first, golden_block, g.flags);
        // Between the streams the stage waits for the second one's first
        // packet, so the new ratio applies from its first block.
        play_golden(run, g, [&](double r) { ASSERT_TRUE(run.stage->set_ratio(r)); });
        EXPECT_EQ(run.output.end_mark_count(), 2);
        EXPECT_EQ(checksum(run.output.taken()), g.sum) << std::hex << checksum(run.output.taken());
    }
}
