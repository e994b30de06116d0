// Runs a tempo-change stage the way the renderer does: a producer pushes
// sample blocks into a queue, the stage cuts them on its thread and hands
// the result to a recording stand-in for the sound output.
#pragma once

#include "audio/pipeline/connector.h"
#include "audio/stage/cutter.h"
#include "tempo_harness.h"

#include <cstdint>
#include <mutex>
#include <vector>

// The sound output as the device sender sees it.
class recording_output {
public:
    int WriteSamples(std::vector<float>&& samples, int sampleCount, std::int64_t startTime,
                     std::int64_t stopTime) {
        std::lock_guard<std::mutex> g(m);
        samples.resize(sampleCount);
        blocks.push_back({std::move(samples), startTime, stopTime});
        return sampleCount;
    }
    void WriteEndOfStream() {
        {
            std::lock_guard<std::mutex> g(m);
            ++end_marks;
        }
        ended.Set();
    }
    std::vector<output_block> taken() {
        std::lock_guard<std::mutex> g(m);
        return blocks;
    }
    int end_mark_count() {
        std::lock_guard<std::mutex> g(m);
        return end_marks;
    }
    Event ended{false, false};

private:
    std::mutex m;
    std::vector<output_block> blocks;
    int end_marks = 0;
};

class stage_run {
public:
    using queue_type = packet_connector::queue_t<packet::base_t>;

    stage_run(double ratio, std::int32_t block_length, std::int32_t flags = 0)
        : queue(new queue_type(64)), stage(new cutter_t(ratio)) {
        input = queue->make_sender();
        stage->set_input(queue->make_reciever());
        stage->set_output(new device_sender_t<recording_output>(&output));
        stage->set_block_length(block_length);
        stage->set_flags(flags);
        stage->start();
    }
    ~stage_run() {
        stage->stop();
        queue->close();
    }

    // Sends samples[from, to) as one packet; sample i lasts from origin +
    // i × tick to origin + (i + 1) × tick.
    void send(const std::vector<float>& samples, std::size_t from, std::size_t to,
              std::int64_t tick, std::int64_t origin = 0) {
        ref_ptr<packet::blockdata_t<float>> b(new packet::blockdata_t<float>(to - from));
        b->sample_count = static_cast<std::int32_t>(to - from);
        b->start_time = origin + static_cast<std::int64_t>(from) * tick;
        b->stop_time = origin + static_cast<std::int64_t>(to) * tick;
        std::copy(samples.begin() + from, samples.begin() + to, b->samples.begin());
        input->send(b);
    }

    // Sends the end of the input and waits until the stage has played it out.
    bool finish(DWORD timeoutMs = 20000) {
        input->send(new packet::endofstream_t(stage.get()));
        return output.ended.Wait(timeoutMs);
    }

    recording_output output;
    ref_ptr<queue_type> queue;
    ref_ptr<packet_connector::sender_base_t<packet::base_t>> input;
    ref_ptr<cutter_t> stage;
};
