// Throughput of the tempo-change stage on 44.1 kHz stereo, run as the
// renderer runs it: a producer thread feeding the 64-packet queue, the stage
// on its own thread, and an output that takes every block at once. The
// figure is seconds of audio per second of CPU time of the whole process.
#include "audio/pipeline/connector.h"
#include "audio/stage/cutter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr int channels = 2;
constexpr int packet_frames = 1024;
constexpr int seconds_per_round = 10;

class null_output {
public:
    int WriteSamples(std::vector<float>&& samples, int sampleCount, std::int64_t, std::int64_t) {
        benchmark::DoNotOptimize(samples.data());
        return sampleCount;
    }
    void WriteEndOfStream() { ended.Set(); }
    Event ended{false, false};
};

// Speech-like input: tone bursts with noise, separated by short pauses, so
// silence skipping and similarity adaptation both have work.
std::vector<ref_ptr<packet::base_t>> make_input() {
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    const int frames = rate * seconds_per_round;
    std::vector<ref_ptr<packet::base_t>> packets;
    for (int at = 0; at < frames; at += packet_frames) {
        const int n = std::min(packet_frames, frames - at);
        ref_ptr<packet::blockdata_t<float>> p(new packet::blockdata_t<float>(n * channels));
        p->sample_count = n * channels;
        p->start_time = std::int64_t(at) * 10000000 / rate;
        p->stop_time = std::int64_t(at + n) * 10000000 / rate;
        for (int f = 0; f < n; ++f) {
            const int frame = at + f;
            const bool pause = (frame / (rate / 2)) % 4 == 3;
            const double t = double(frame) / rate;
            const float v = pause ? 0.0f
                                  : static_cast<float>(0.3 * std::sin(2 * M_PI * 180 * t) *
                                                       (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t))) +
                                        noise(gen);
            p->samples[f * 2] = v;
            p->samples[f * 2 + 1] = 0.9f * v;
        }
        packets.emplace_back(p);
    }
    return packets;
}

void BM_Stage(benchmark::State& state) {
    const double speed = state.range(0) / 10.0;
    const std::int32_t flags = static_cast<std::int32_t>(state.range(1));
    static const auto input = make_input();

    using queue_type = packet_connector::queue_t<packet::base_t>;
    null_output output;
    ref_ptr<queue_type> queue(new queue_type(64));
    auto sender = queue->make_sender();
    ref_ptr<cutter_t> stage(new cutter_t(1.0 / speed));
    stage->set_input(queue->make_reciever());
    stage->set_output(new device_sender_t<null_output>(&output));
    stage->set_block_length(channels * rate / 8);
    stage->set_channels(channels);
    stage->set_flags(flags);
    stage->start();

    for (auto _ : state) {
        // Packets are never written after they are made, so one set serves
        // every round.
        for (const auto& p : input)
            sender->send(p);
        sender->send(new packet::endofstream_t(stage.get()));
        output.ended.Wait();
    }
    stage->stop();
    queue->close();

    const double audio = double(seconds_per_round) * state.iterations();
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
    state.SetLabel("rate " + std::to_string(speed).substr(0, 3) + " flags " +
                   std::to_string(flags));
}

} // namespace

BENCHMARK(BM_Stage)
    ->ArgsProduct({{15, 20, 40}, {0, 3}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
