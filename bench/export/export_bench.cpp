// Whole-program figures of the export command next to ffmpeg's atempo and
// sox's tempo: a 10-minute 44.1 kHz stereo MP3 to WAV at 2x and 4x, wall time
// and CPU time of each process, in the same run, and the ratios to ours.
// Ours levels the loudness (measuring the input each time: no figure is
// kept between runs) and, in a row of its own, leaves the level alone.
// Run with the test environment: ./zarn exec build/bench/bench_export
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kTools[] = {"zarnplayer --export", "ffmpeg -af atempo", "sox tempo",
                              "zarnplayer --level off"};

std::string Dir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string d = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarn-export-bench-XXXXXX";
        return mkdtemp(d.data()) ? d : std::string();
    }();
    return dir;
}

// Speech-like: a tone whose pitch and loudness wander, with short pauses.
const std::string& Input() {
    static const std::string path = [] {
        const std::string p = Dir() + "/talk.mp3";
        const std::string cmd =
            "ffmpeg -v error -y -f lavfi -i "
            "\"aevalsrc='0.4*sin(2*PI*(180+40*sin(t))*t)*(0.6+0.4*sin(3*t))*gt(mod(t\\,7)\\,0.8)'"
            ":s=44100:d=600\" -ac 2 -b:a 128k '" +
            p + "'";
        return std::system(cmd.c_str()) == 0 ? p : std::string();
    }();
    return path;
}

std::string Cli() {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    return std::string(build ? build : ".") + "/tests/zarn_export_cli";
}

std::string Command(int tool, double rate, const std::string& out) {
    char r[16];
    std::snprintf(r, sizeof r, "%.1f", rate);
    const std::string in = "'" + Input() + "'";
    switch (tool) {
    case 0:
        return "rm -f '" + Dir() + "/loudness.txt' && ZARNPLAYER_HOME='" + Dir() + "' " + Cli() +
               " --export '" + out + "' --force --level -16 --rate " + r + " " + in + " >/dev/null";
    case 3:
        return "ZARNPLAYER_HOME='" + Dir() + "' " + Cli() + " --export '" + out +
               "' --force --level off --rate " + r + " " + in + " >/dev/null";
    case 1:
        return "ffmpeg -v error -y -i " + in + " -af atempo=" + r + " '" + out + "'";
    default:
        return "sox " + in + " '" + out + "' tempo " + r;
    }
}

double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

struct Figures {
    double wall = 0, cpu = 0;
    int runs = 0;
};
std::map<std::pair<int, int>, Figures>& Table() {
    static std::map<std::pair<int, int>, Figures> table;
    return table;
}

void ToWav(benchmark::State& state) {
    const int tool = static_cast<int>(state.range(0));
    const int rate = static_cast<int>(state.range(1));
    if (Input().empty()) {
        state.SkipWithError("cannot make the input with ffmpeg");
        return;
    }
    const std::string out = Dir() + "/out" + std::to_string(tool) + ".wav";
    const std::string cmd = Command(tool, rate, out);
    Figures& f = Table()[{tool, rate}];
    for (auto _ : state) {
        const double cpu0 = ChildCpuSeconds();
        const auto t0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError(("failed: " + cmd).c_str());
            return;
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(wall);
        f.wall += wall;
        f.cpu += ChildCpuSeconds() - cpu0;
        ++f.runs;
    }
    state.SetLabel(kTools[tool]);
    state.counters["x_real_time"] = 600.0 * f.runs / f.wall;
    state.counters["cpu_s"] = f.cpu / f.runs;
}

BENCHMARK(ToWav)
    ->ArgsProduct({{0, 3, 1, 2}, {2, 4}})
    ->ArgNames({"tool", "rate"})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n10-minute 44.1 kHz stereo MP3 to WAV, mean of the runs; ratio = tool / ours\n");
    std::printf("%-22s %4s %9s %9s %8s %11s %10s\n", "tool", "rate", "wall s", "cpu s", "x real",
                "wall ratio", "cpu ratio");
    for (const auto& [key, f] : Table()) {
        if (!f.runs)
            continue;
        const Figures& ours = Table()[{0, key.second}];
        const double wall = f.wall / f.runs, cpu = f.cpu / f.runs;
        const double ourWall = ours.runs ? ours.wall / ours.runs : 0;
        const double ourCpu = ours.runs ? ours.cpu / ours.runs : 0;
        std::printf("%-22s %4d %9.2f %9.2f %8.1f %11.2f %10.2f\n", kTools[key.first], key.second,
                    wall, cpu, 600.0 / wall, ourWall ? wall / ourWall : 0,
                    ourCpu ? cpu / ourCpu : 0);
    }
    std::system(("rm -rf '" + Dir() + "'").c_str());
    return 0;
}
