// Compares the stage's plain cut and its smooth splices with other tempo
// changers run on the same input (ffmpeg atempo, sox tempo, soundstretch,
// each where installed), on speech and on held harmonic notes with vibrato,
// at 2x and 4x, then times the stage. 44.1 kHz stereo throughout; the
// figures are taken on the left channel. Prints a table and never fails on
// quality or time.
#include "measures.h"

#include "audio/pipeline/connector.h"
#include "audio/stage/cutter.h"
#include "audio/stage/smooth.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int rate = 44100;
constexpr int channels = 2;
constexpr double band_hz = 4000;     // what the inputs hold
constexpr double splatter_hz = 5500; // above the inputs' roll-off

// Held notes with vibrato, each with harmonics up to the band, their
// timbre slightly different on the right.
struct note {
    double start, stop, hz;
};
const std::vector<note> notes = {
    {0.0, 1.6, 220.0}, {1.6, 3.2, 261.6}, {3.2, 4.8, 329.6}, {4.8, 6.4, 196.0}, {6.4, 8.0, 293.7}};
constexpr double vibrato_hz = 5.0, vibrato_depth = 0.008;

std::vector<float> music() {
    const std::size_t frames = std::size_t(notes.back().stop * rate);
    std::vector<float> v(frames * channels, 0.0f);
    for (const note& n : notes) {
        double phase = 0;
        for (std::size_t i = std::size_t(n.start * rate); i < std::size_t(n.stop * rate); ++i) {
            const double t = double(i) / rate;
            phase +=
                2 * M_PI * n.hz * (1 + vibrato_depth * std::sin(2 * M_PI * vibrato_hz * t)) / rate;
            // Soft onsets and ends, so the input itself has no splatter.
            const double x = std::min({1.0, (t - n.start) / 0.05, (n.stop - t) / 0.05});
            const double edge = 0.5 - 0.5 * std::cos(M_PI * x);
            double l = 0, r = 0;
            for (int k = 1; k * n.hz * (1 + vibrato_depth) < band_hz; ++k) {
                const double s = std::sin(k * phase) / k;
                l += s;
                r += s * (k % 2 ? 1.0 : 0.6);
            }
            v[i * 2] = static_cast<float>(0.25 * edge * l);
            v[i * 2 + 1] = static_cast<float>(0.25 * edge * r);
        }
    }
    return v;
}

// The mean fundamental the input plays over [from, to], 0 near a change.
double music_pitch(double from, double to) {
    for (const note& n : notes) {
        if (from >= n.start + 0.05 && to <= n.stop - 0.05) {
            const double w = 2 * M_PI * vibrato_hz;
            const double mean_sin =
                to > from ? (std::cos(w * from) - std::cos(w * to)) / (w * (to - from))
                          : std::sin(w * from);
            return n.hz * (1 + vibrato_depth * mean_sin);
        }
    }
    return 0;
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<float> read_raw(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::vector<float> v;
    float s;
    while (f.read(reinterpret_cast<char*>(&s), sizeof s))
        v.push_back(s);
    return v;
}

void write_raw(const fs::path& p, const std::vector<float>& v) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(v.data()), std::streamsize(sizeof(float) * v.size()));
}

const std::string raw = "-t raw -e floating-point -b 32 -r 44100 -c 2";

// Speech from espeak-ng, band-limited like the music; empty without it.
std::vector<float> speech(const fs::path& dir) {
    const fs::path wav = dir / "speech.wav", out = dir / "speech.f32";
    const std::string text =
        "Listening at a raised speed saves time, but only if every word stays clear. "
        "The quick brown fox jumps over the lazy dog, and then it rests for a while.";
    if (!run("espeak-ng -v en -s 150 -w " + wav.string() + " \"" + text + "\"") ||
        !run("sox " + wav.string() + " " + raw + " " + out.string() + " sinc -" +
             std::to_string(int(band_hz)) + " norm -3"))
        return {};
    return read_raw(out);
}

class collecting_output {
public:
    int WriteSamples(std::vector<float>&& samples, int sampleCount, std::int64_t, std::int64_t) {
        heard.insert(heard.end(), samples.begin(), samples.begin() + sampleCount);
        return sampleCount;
    }
    void WriteEndOfStream() { ended.Set(); }
    std::vector<float> heard;
    Event ended{false, false};
};

// The stage as the renderer runs it; cpu_ms_per_s gets the process CPU time
// per second of input.
std::vector<float> stage(const std::vector<float>& in, double tempo, std::int32_t flags,
                         double* cpu_ms_per_s = nullptr) {
    using queue_type = packet_connector::queue_t<packet::base_t>;
    collecting_output output;
    output.heard.reserve(std::size_t(in.size() / tempo) + 4096);
    ref_ptr<queue_type> queue(new queue_type(64));
    auto sender = queue->make_sender();
    ref_ptr<cutter_t> cutter(new cutter_t(1.0 / tempo));
    cutter->set_input(queue->make_reciever());
    cutter->set_output(new device_sender_t<collecting_output>(&output));
    cutter->set_block_length(channels * rate / 8);
    cutter->set_flags(flags);
    const std::clock_t began = std::clock();
    cutter->start();
    constexpr std::size_t packet = 2048;
    for (std::size_t at = 0; at < in.size(); at += packet) {
        const std::size_t n = std::min(packet, in.size() - at);
        ref_ptr<packet::blockdata_t<float>> p(new packet::blockdata_t<float>(n));
        p->sample_count = int(n);
        p->start_time = std::int64_t(at / channels) * 10000000 / rate;
        p->stop_time = std::int64_t((at + n) / channels) * 10000000 / rate;
        std::copy(in.begin() + at, in.begin() + at + n, p->samples.begin());
        sender->send(p);
    }
    sender->send(new packet::endofstream_t(cutter.get()));
    output.ended.Wait();
    cutter->stop();
    queue->close();
    if (cpu_ms_per_s)
        *cpu_ms_per_s = 1000.0 * double(std::clock() - began) / CLOCKS_PER_SEC /
                        (double(in.size()) / channels / rate);
    return std::move(output.heard);
}

std::string tempo_text(double tempo) {
    char s[16];
    std::snprintf(s, sizeof s, "%g", tempo);
    return s;
}

// The peers; an empty result when the tool is missing or fails.
std::vector<float> peer(const std::string& name, const fs::path& dir, const fs::path& in,
                        double tempo, bool is_speech) {
    const fs::path out = dir / (name + ".f32");
    fs::remove(out);
    const std::string t = tempo_text(tempo);
    bool ok = false;
    if (name == "ffmpeg atempo") {
        ok = run("ffmpeg -v error -y -f f32le -ar 44100 -ac 2 -i " + in.string() +
                 " -af atempo=" + t + " -f f32le -ar 44100 -ac 2 '" + out.string() + "'");
    } else if (name == "sox tempo") {
        ok = run("sox " + raw + " " + in.string() + " " + raw + " '" + out.string() + "' tempo " +
                 (is_speech ? "-s " : "-m ") + t);
    } else if (name == "soundstretch") {
        const fs::path a = dir / "ss-in.wav", b = dir / "ss-out.wav";
        ok = run("sox " + raw + " " + in.string() + " -b 16 " + a.string()) &&
             run("soundstretch " + a.string() + " " + b.string() + " -tempo=+" +
                 std::to_string(int(std::lround((tempo - 1) * 100))) +
                 (is_speech ? " -speech" : "")) &&
             run("sox " + b.string() + " " + raw + " '" + out.string() + "'");
    }
    return ok ? read_raw(out) : std::vector<float>{};
}

std::vector<float> left(const std::vector<float>& v) {
    std::vector<float> l(v.size() / channels);
    for (std::size_t i = 0; i < l.size(); ++i)
        l[i] = v[i * channels];
    return l;
}

void quality_table() {
    char tmpl[] = "/tmp/zarn-smooth-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    struct signal {
        std::string name;
        std::vector<float> samples;
        bool is_speech;
    };
    std::vector<signal> signals;
    auto spoken = speech(dir);
    if (spoken.empty())
        std::printf("(espeak-ng or sox missing: no speech rows)\n");
    else
        signals.push_back({"speech", std::move(spoken), true});
    signals.push_back({"vibrato", music(), false});

    std::printf("\nTempo change on 44.1 kHz stereo, left channel; input band %.0f Hz\n"
                "splatter: energy above %.0f Hz, dB of all (lower is better)\n"
                "pitch: RMS cents of the held notes' fundamental from the input's, time mapped "
                "(lower is better)\n"
                "envelope: mean correlation of 16 band envelopes with the input's, time mapped "
                "(higher is better)\n"
                "cpu: stage CPU ms per second of input, one cold run (ours only; BM_StageCpu "
                "below gives the steady figure)\n\n",
                band_hz, splatter_hz);
    std::printf("%-8s %-5s %-15s %10s %8s %9s %7s\n", "signal", "rate", "method", "splatter",
                "pitch", "envelope", "cpu");
    for (const signal& s : signals) {
        const fs::path in = dir / (s.name + ".f32");
        write_raw(in, s.samples);
        const auto in_left = left(s.samples);
        std::printf("%-8s %-5s %-15s %10.1f\n", s.name.c_str(), "1", "input",
                    measures::splatter_db(in_left, rate, splatter_hz));
        for (double tempo : {2.0, 4.0}) {
            struct method {
                std::string name;
                std::vector<float> out;
                double cpu;
            };
            std::vector<method> methods(2);
            methods[0].name = "plain cut";
            methods[0].out = stage(s.samples, tempo, 0, &methods[0].cpu);
            methods[1].name = "smooth";
            methods[1].out =
                stage(s.samples, tempo, zarnfilter::flag_smooth_splices, &methods[1].cpu);
            for (const char* p : {"ffmpeg atempo", "sox tempo", "soundstretch"})
                methods.push_back({p, peer(p, dir, in, tempo, s.is_speech), -1});
            for (const method& m : methods) {
                const std::string t = tempo_text(tempo) + "x";
                if (m.out.empty()) {
                    std::printf("%-8s %-5s %-15s %10s\n", s.name.c_str(), t.c_str(), m.name.c_str(),
                                "n/a");
                    continue;
                }
                const auto out = left(m.out);
                const std::string pitch =
                    s.is_speech
                        ? "-"
                        : std::to_string(measures::pitch_error_cents(out, rate, tempo, music_pitch))
                              .substr(0, 5);
                const std::string cpu = m.cpu >= 0 ? std::to_string(m.cpu).substr(0, 5) : "-";
                std::printf("%-8s %-5s %-15s %10.1f %8s %9.3f %7s\n", s.name.c_str(), t.c_str(),
                            m.name.c_str(), measures::splatter_db(out, rate, splatter_hz),
                            pitch.c_str(),
                            measures::envelope_correlation(in_left, out, rate, tempo), cpu.c_str());
            }
        }
    }
    std::printf("\n");
    std::fflush(stdout);
    fs::remove_all(dir);
}

// CPU of the whole stage (process time, the feeding thread included) per
// second of input, at the rates the player offers most.
void BM_StageCpu(benchmark::State& state) {
    const double tempo = state.range(0) / 10.0;
    const std::int32_t flags = static_cast<std::int32_t>(state.range(1));
    static const auto input = music();
    const double seconds = double(input.size()) / channels / rate;
    for (auto _ : state)
        benchmark::DoNotOptimize(stage(input, tempo, flags).data());
    state.counters["cpu_s_per_input_s"] = benchmark::Counter(
        seconds * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel("rate " + tempo_text(tempo) + " flags " + std::to_string(flags));
}

} // namespace

BENCHMARK(BM_StageCpu)
    ->ArgsProduct({{15, 20, 40}, {0, 4, 7}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    quality_table();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
