#include "audio/pipeline/connector.h"
#include "audio/pipeline/transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using queue_type = packet_connector::queue_t<packet::base_t>;

namespace {

ref_ptr<packet::blockdata_t<float>> make_block(int n, std::int64_t start, std::int64_t stop) {
    ref_ptr<packet::blockdata_t<float>> b(new packet::blockdata_t<float>(n));
    b->sample_count = n;
    b->start_time = start;
    b->stop_time = stop;
    for (int i = 0; i < n; ++i)
        b->samples[i] = 0.01f * static_cast<float>(i + 1);
    return b;
}

// Counts how often it is destroyed.
class counted_t : public packet::data_base_t {
public:
    explicit counted_t(std::atomic<int>* deaths) : deaths(deaths) {}
    ~counted_t() override { ++*deaths; }

private:
    std::atomic<int>* deaths;
};

// Stands in for the sound output: records what the device sender hands over.
struct recording_output {
    struct write {
        std::vector<float> samples;
        int count;
        std::int64_t start, stop;
    };
    int WriteSamples(std::vector<float>&& samples, int sampleCount, std::int64_t startTime,
                     std::int64_t stopTime) {
        writes.push_back({std::move(samples), sampleCount, startTime, stopTime});
        return sampleCount;
    }
    void WriteEndOfStream() { ++end_marks; }
    std::vector<write> writes;
    int end_marks = 0;
};

// A stage that only exposes the connector operations to the test thread.
class probe_stage_t : public zarnfilter::audio_transfer_t {
public:
    ~probe_stage_t() override { stop(); }
    void signal_stop() { stop_event.Set(); }

protected:
    std::uint32_t process() override { return 0; }
};

} // namespace

TEST(Queue, CapacityBoundsPushesAndPopUnblocksThem) {
    ref_ptr<queue_type> q(new queue_type(64));
    auto sender = q->make_sender();
    auto reciever = q->make_reciever();
    EXPECT_TRUE(sender->wait_handle()->IsSet());
    EXPECT_FALSE(reciever->wait_handle()->IsSet());
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(sender->send(make_block(1, i, i + 1)));
    EXPECT_EQ(sender->count(), 64);
    EXPECT_EQ(reciever->count(), 64);
    EXPECT_FALSE(sender->wait_handle()->IsSet());

    auto pushed =
        std::async(std::launch::async, [&] { return sender->send(make_block(1, 64, 65)); });
    EXPECT_EQ(pushed.wait_for(50ms), std::future_status::timeout);
    auto first = reciever->receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->start_time, 0);
    EXPECT_TRUE(pushed.get());
    EXPECT_EQ(q->count(), 64);
    for (int i = 1; i <= 64; ++i)
        EXPECT_EQ(reciever->receive()->start_time, i);
    EXPECT_EQ(q->count(), 0);
    EXPECT_FALSE(reciever->wait_handle()->IsSet());
}

TEST(Queue, PopWaitsForTheNextPush) {
    ref_ptr<queue_type> q(new queue_type(4));
    auto popped = std::async(std::launch::async, [&] { return q->pop(); });
    EXPECT_EQ(popped.wait_for(50ms), std::future_status::timeout);
    q->push(make_block(2, 7, 9));
    auto p = popped.get();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->start_time, 7);
}

TEST(Queue, EndsHaveTheirOwnFinishAndKeepTheQueueAlive) {
    std::atomic<int> deaths{0};
    ref_ptr<packet_connector::sender_base_t<packet::base_t>> sender;
    ref_ptr<packet_connector::reciever_base_t<packet::base_t>> reciever;
    {
        ref_ptr<queue_type> q(new queue_type(4));
        sender = q->make_sender();
        reciever = q->make_reciever();
    }
    EXPECT_TRUE(sender->finish());
    EXPECT_FALSE(reciever->finish());
    sender->send(new counted_t(&deaths));
    EXPECT_EQ(reciever->count(), 1);
    EXPECT_EQ(deaths.load(), 0);
}

TEST(Queue, ReleasingReleasesEveryQueuedPacketOnce) {
    std::atomic<int> deaths{0};
    ref_ptr<queue_type> q(new queue_type(8));
    for (int i = 0; i < 5; ++i)
        q->push(new counted_t(&deaths));
    auto held = q->pop();
    q = nullptr;
    EXPECT_EQ(deaths.load(), 4);
    held = nullptr;
    EXPECT_EQ(deaths.load(), 5);
}

TEST(Queue, CloseWakesABlockedProducerAndLetsTheRestDrain) {
    ref_ptr<queue_type> q(new queue_type(2));
    q->push(make_block(1, 0, 1));
    q->push(make_block(1, 1, 2));
    auto pushed = std::async(std::launch::async, [&] { return q->push(make_block(1, 2, 3)); });
    EXPECT_EQ(pushed.wait_for(50ms), std::future_status::timeout);
    q->close();
    EXPECT_FALSE(pushed.get());
    EXPECT_FALSE(q->push(make_block(1, 3, 4)));
    EXPECT_EQ(q->pop()->start_time, 0);
    EXPECT_EQ(q->pop()->start_time, 1);
    EXPECT_FALSE(q->pop());
}

TEST(DeviceSender, WritesACopyOfTheValidSamplesWithTheirTimes) {
    recording_output out;
    ref_ptr<device_sender_t<recording_output>> sender(new device_sender_t<recording_output>(&out));
    EXPECT_EQ(sender->count(), 0);
    EXPECT_EQ(sender->wait_handle(), nullptr);
    EXPECT_TRUE(sender->finish());

    auto block = make_block(6, 1000, 1600);
    block->sample_count = 4;
    EXPECT_TRUE(sender->send(block));
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0].count, 4);
    EXPECT_EQ(out.writes[0].samples, (std::vector<float>{0.01f, 0.02f, 0.03f, 0.04f}));
    EXPECT_EQ(out.writes[0].start, 1000);
    EXPECT_EQ(out.writes[0].stop, 1600);
    EXPECT_EQ(sender->count(), 0);

    // A count beyond the samples the packet really has is not trusted.
    block->sample_count = 100;
    sender->send(block);
    EXPECT_EQ(out.writes.back().count, 6);
    EXPECT_EQ(out.writes.back().samples.size(), 6u);
}

TEST(DeviceSender, IgnoresControlPacketsButTheEndMark) {
    recording_output out;
    ref_ptr<device_sender_t<recording_output>> sender(new device_sender_t<recording_output>(&out));
    EXPECT_TRUE(sender->send(new packet::control_base_t));
    EXPECT_TRUE(out.writes.empty());
    EXPECT_EQ(out.end_marks, 0);
    EXPECT_TRUE(sender->send(new packet::endofstream_t));
    EXPECT_EQ(out.end_marks, 1);
    EXPECT_TRUE(out.writes.empty());
}

TEST(StageConnectors, WaitReceiveReturnsNullOnStop) {
    ref_ptr<queue_type> q(new queue_type(4));
    ref_ptr<probe_stage_t> stage(new probe_stage_t);
    stage->set_input(q->make_reciever());
    auto got = std::async(std::launch::async, [&] { return stage->wait_receive(); });
    EXPECT_EQ(got.wait_for(50ms), std::future_status::timeout);
    stage->signal_stop();
    EXPECT_FALSE(got.get());
    EXPECT_FALSE(stage->next_block());
}

TEST(StageConnectors, WaitSendOnAFullQueueEndsWithTheStop) {
    ref_ptr<queue_type> q(new queue_type(1));
    ref_ptr<probe_stage_t> stage(new probe_stage_t);
    stage->set_output(q->make_sender());
    EXPECT_TRUE(stage->wait_send(make_block(1, 0, 1)));
    auto sent =
        std::async(std::launch::async, [&] { return stage->wait_send(make_block(1, 1, 2)); });
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);
    stage->signal_stop();
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(q->count(), 1);
}

TEST(StageConnectors, NoConnectorsMeansNothingToDo) {
    ref_ptr<probe_stage_t> stage(new probe_stage_t);
    EXPECT_FALSE(stage->wait_receive());
    EXPECT_FALSE(stage->wait_send(make_block(1, 0, 1)));
    auto got = std::async(std::launch::async, [&] { return stage->next_block(); });
    EXPECT_EQ(got.wait_for(50ms), std::future_status::timeout);
    stage->signal_stop();
    EXPECT_FALSE(got.get());
}

TEST(StageConnectors, NextBlockRoutesControlPacketsAndSkipsThem) {
    ref_ptr<queue_type> in(new queue_type(8));
    ref_ptr<queue_type> out(new queue_type(8));
    ref_ptr<probe_stage_t> stage(new probe_stage_t);
    ref_ptr<probe_stage_t> other(new probe_stage_t);
    stage->set_input(in->make_reciever());
    stage->set_output(out->make_sender());

    in->push(new packet::control_base_t(stage.get()));
    in->push(new packet::control_base_t(other.get()));
    in->push(make_block(3, 10, 13));
    auto block = stage->next_block();
    ASSERT_TRUE(block);
    EXPECT_EQ(block->start_time, 10);
    // Only the packet for the other stage went on downstream.
    ASSERT_EQ(out->count(), 1);
    auto forwarded = ref_cast<packet::control_base_t>(out->pop());
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(forwarded->target, other.get());

    EXPECT_FALSE(stage->route_control_out(new packet::control_base_t(stage.get())));
    EXPECT_TRUE(stage->route_control_out(new packet::control_base_t(other.get())));
    EXPECT_TRUE(stage->route_control_out(make_block(1, 0, 1)));
    EXPECT_FALSE(stage->send_down(new packet::control_base_t(stage.get())));
    EXPECT_EQ(out->count(), 0);
}
