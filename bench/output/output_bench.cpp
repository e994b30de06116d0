// What the sound output costs while it plays 44.1 kHz stereo in real time,
// and how far the pulse device's cursor is from what the sink's monitor
// records. Figures only; nothing here fails on time.
#include "audio/output/CWaveOutImpl.h"
#include "monitor_recorder.h"
#include "pulse_server.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The private server lives for the whole run, started on first use.
testing_sound::PulseServer* Server() {
    static std::unique_ptr<testing_sound::PulseServer> server;
    if (!server && testing_sound::HavePulseAudioBinary())
        server = std::make_unique<testing_sound::PulseServer>();
    return server && server->Ready() ? server.get() : nullptr;
}

class NullClock : public IOutputClock {
public:
    std::int64_t GetPrivateTime() override { return time_.load(); }
    void AdjustTime(std::int64_t delta) override { time_ += delta; }

private:
    std::atomic<std::int64_t> time_{0};
};

// Plays `seconds` of a tone through the output as the stage would (blocks of
// an eighth of a second, paced by the ring) and reports the process's CPU
// time over the wall time, in percent of one core.
void PlayAndMeasure(benchmark::State& state, const std::string& device) {
    const double seconds = 3.0;
    for (auto _ : state) {
        NullClock clock;
        CWaveOutImpl out(&clock);
        out.SetDeviceFactory([&](const sound::PcmFormat& f, std::uint32_t bytes) {
            return sound::CreateNamedSoundBuffer(device, f, bytes);
        });
        const WAVEFORMATEX format = MakePcmFormat(2, kRate, 16);
        if (!out.Open(format, 10, static_cast<int>(format.nAvgBytesPerSec / 10))) {
            state.SkipWithError(("cannot open " + device).c_str());
            return;
        }
        const int frames = kRate / 8;
        const int packets = static_cast<int>(seconds * 8);
        const double cpu0 = ProcessCpuSeconds();
        const auto wall0 = Clock::now();
        std::int64_t t = 0;
        for (int p = 0; p < packets; ++p) {
            std::vector<float> v(static_cast<std::size_t>(2 * frames));
            for (int i = 0; i < frames; ++i) {
                const float x = 0.3f * static_cast<float>(
                                           std::sin(2 * M_PI * 440.0 * (p * frames + i) / kRate));
                v[static_cast<std::size_t>(2 * i)] = x;
                v[static_cast<std::size_t>(2 * i + 1)] = x;
            }
            out.WriteSamples(std::move(v), 2 * frames, t, t + 1250000);
            t += 1250000;
        }
        out.WriteEndOfStream();
        out.WaitDrained(5000);
        const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
        const double cpu = ProcessCpuSeconds() - cpu0;
        out.Close();
        state.SetIterationTime(wall);
        state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["audio_s"] = seconds;
    }
}

void BM_OutputCpuNull(benchmark::State& state) {
    PlayAndMeasure(state, "null");
}

void BM_OutputCpuPulse(benchmark::State& state) {
    if (!Server()) {
        state.SkipWithError("no pulseaudio server could be started");
        return;
    }
    PlayAndMeasure(state, "pulse");
}

// Three tone bursts in a 4 s ring; for each, the moment the cursor reaches
// it against the moment the monitor recorded it.
void BM_PulseCursorError(benchmark::State& state) {
    if (!Server()) {
        state.SkipWithError("no pulseaudio server could be started");
        return;
    }
    const sound::PcmFormat format{2, kRate, 16};
    const std::uint32_t second = static_cast<std::uint32_t>(format.BytesPerSec());
    double sumAbs = 0, maxAbs = 0, sum = 0;
    int n = 0;
    for (auto _ : state) {
        auto b = sound::CreateNamedSoundBuffer("pulse", format, 4 * second);
        if (!b) {
            state.SkipWithError("cannot open pulse");
            return;
        }
        const std::uint32_t starts[] = {second / 2, 3 * second / 2, 5 * second / 2};
        sound::LockedRegion r;
        b->Lock(0, 4 * second, r);
        for (std::uint32_t s : starts)
            for (int i = 0; i < kRate / 4; ++i) {
                const auto v = static_cast<std::int16_t>(
                    std::lround(0.5 * 32767 * std::sin(2 * M_PI * 1000.0 * i / kRate)));
                for (int ch = 0; ch < 2; ++ch) {
                    std::uint8_t* p = r.first + s + 4 * i + 2 * ch;
                    p[0] = static_cast<std::uint8_t>(v & 0xFF);
                    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
                }
            }
        b->Unlock(r);
        testing_sound::MonitorRecorder rec(kRate);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        b->Play();
        Clock::time_point reached[3]{};
        int next = 0;
        const auto giveUp = Clock::now() + std::chrono::seconds(6);
        while (next < 3 && Clock::now() < giveUp) {
            if (b->GetCurrentPosition() >= starts[next])
                reached[next++] = Clock::now();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        rec.Finish();
        b.reset();
        std::size_t from = 0;
        for (int k = 0; k < next; ++k) {
            Clock::time_point heard;
            std::size_t index = 0;
            if (!rec.Onset(0.1, from, heard, index))
                break;
            from = index + kRate / 2;
            const double ms = std::chrono::duration<double, std::milli>(reached[k] - heard).count();
            sum += ms;
            sumAbs += std::abs(ms);
            maxAbs = std::max(maxAbs, std::abs(ms));
            ++n;
        }
    }
    if (n > 0) {
        state.counters["mean_err_ms"] = sum / n;
        state.counters["mean_abs_err_ms"] = sumAbs / n;
        state.counters["max_abs_err_ms"] = maxAbs;
        state.counters["onsets"] = n;
    }
}

} // namespace

BENCHMARK(BM_OutputCpuNull)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputCpuPulse)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PulseCursorError)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
