// How quickly the engine answers the player: Open to WM_PLAYER_OPENED, a seek
// to the new position being heard, and the CPU that 4x playback costs.
// Run with the test environment: ./zarn exec build/bench/bench_engine
#include "harness.h"
#include "media.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t UNITS = 10000000;

const char* FileFor(int which) {
    static const std::string mp3 = testmedia::Clip("mp3");
    static const std::string video = testmedia::Clip("avi");
    return which == 0 ? mp3.c_str() : video.c_str();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void OpenToOpened(benchmark::State& state) {
    const char* path = FileFor(int(state.range(0)));
    EngineSession engine;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (engine->Open(path) != S_OK || !engine.PumpUntil(WM_PLAYER_OPENED, 10s)) {
            state.SkipWithError("Open failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        engine->Close();
        engine.PumpUntil(WM_PLAYER_CLOSED, 1s);
    }
}

// From SetPosition until the heard position has moved on from the target.
void SeekToHeard(benchmark::State& state) {
    const char* path = FileFor(int(state.range(0)));
    EngineSession engine;
    if (engine->Open(path) != S_OK || engine->Play() != S_OK) {
        state.SkipWithError("Open failed");
        return;
    }
    engine.PumpFor(200ms);
    int flip = 0;
    for (auto _ : state) {
        const std::int64_t target = (flip++ % 2 ? 1 : 4) * UNITS;
        const auto start = Clock::now();
        engine->SetPosition(target);
        std::int64_t heard = 0;
        while (Clock::now() - start < 3s) {
            engine->GetPosition(&heard);
            if (heard > target && heard < target + UNITS / 2)
                break;
            engine.PumpFor(1ms);
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// CPU per second of wall time while a ten-minute MP3 plays at 4x. By default
// the first 20 s of wall time (80 s of sound); ZARN_BENCH_FULL=1 plays it all.
void Playback4x(benchmark::State& state) {
    const std::string path = testmedia::TenMinuteMp3();
    const bool full = std::getenv("ZARN_BENCH_FULL") != nullptr;
    for (auto _ : state) {
        EngineSession engine;
        engine->SetRate(4.0);
        if (engine->Open(path.c_str()) != S_OK || engine->Play() != S_OK) {
            state.SkipWithError("Open failed");
            break;
        }
        const double cpu0 = CpuSeconds();
        const auto start = Clock::now();
        if (full)
            engine.PumpUntil(WM_PLAYER_COMPLETE, 200s);
        else
            engine.PumpFor(20s);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = CpuSeconds() - cpu0;
        std::int64_t heard = 0;
        engine->GetPosition(&heard);
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["media_seconds"] = double(heard) / UNITS;
        state.counters["cpu_s_per_media_min"] = cpu / (double(heard) / UNITS / 60.0);
    }
}

} // namespace

BENCHMARK(OpenToOpened)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("video")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(SeekToHeard)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("video")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(Playback4x)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char** argv) {
    SinkUnderTest();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
