// Throughput of the tempo-change stage on 44.1 kHz stereo, run as the
// renderer runs it: a producer thread feeding the 64-packet queue, the stage
// on its own thread, and an output that takes every block at once. The
// figure is seconds of audio per second of CPU time of the whole process,
// with and without the loudness gain (+12 dB) and the true-peak limiter.
// Then the leveller alone on speech, loud music with peaks over full scale
// and quiet material: CPU seconds per second of audio (2.0m = 2 ms).
#include "audio/pipeline/connector.h"
#include "audio/stage/cutter.h"
#include "audio/stage/leveller.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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
    const bool levelled = state.range(2) != 0;
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
    stage->set_sample_rate(rate);
    stage->set_loudness_gain(levelled ? 1200 : 0);
    stage->set_limiter(levelled);
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
                   std::to_string(flags) + (levelled ? " levelled" : ""));
}

// Ten seconds of interleaved stereo: 0 the speech above, 1 loud music (a
// chord of odd harmonics at a sample peak of 0.99 with clipped drum hits,
// whose peaks between samples pass full scale), 2 quiet noise at -40 dBFS.
std::vector<float> material(int kind) {
    const int frames = rate * seconds_per_round;
    std::vector<float> v;
    v.reserve(static_cast<std::size_t>(2 * frames));
    if (kind == 0) {
        for (const auto& p : make_input()) {
            const auto& b = static_cast<const packet::blockdata_t<float>&>(*p);
            v.insert(v.end(), b.samples.begin(), b.samples.begin() + b.sample_count);
        }
        return v;
    }
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (int i = 0; i < frames; ++i) {
        float x;
        if (kind == 1) {
            double c = 0;
            for (int h = 1; h < 30; h += 2)
                c += std::sin(2 * M_PI * 196.0 * h * i / rate + 0.3 * h) / h;
            const bool hit = i % (rate / 2) < rate / 50;
            x = static_cast<float>(hit ? std::clamp(3.0 * noise(gen), -0.99, 0.99) : 0.8 * c);
        } else {
            x = 0.01f * noise(gen);
        }
        v.push_back(x);
        v.push_back(0.9f * x);
    }
    return v;
}

void BM_Leveller(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const zarnfilter::level_settings settings{kind == 1 ? 600 : 1200, state.range(1) != 0};
    const auto input = material(kind);
    const std::size_t block = 2 * rate / 10;
    zarnfilter::leveller level(channels, rate);
    zarnfilter::tempo_block b;
    for (auto _ : state) {
        level.start(channels, rate);
        for (std::size_t at = 0; at < input.size(); at += block) {
            b.samples.assign(input.begin() + at,
                             input.begin() + std::min(at + block, input.size()));
            level.process(settings, b);
            benchmark::DoNotOptimize(b.samples.data());
        }
        level.drain(settings, b);
    }
    const double audio = double(seconds_per_round) * state.iterations();
    state.counters["cpu_s_per_audio_s"] =
        benchmark::Counter(audio, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    static const char* names[] = {"speech", "loud music", "quiet"};
    state.SetLabel(std::string(names[kind]) + (settings.limiter ? ", gain and limiter" : ", gain"));
}

} // namespace

BENCHMARK(BM_Leveller)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Stage)
    ->ArgsProduct({{15, 20, 40}, {0, 3, 4}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
