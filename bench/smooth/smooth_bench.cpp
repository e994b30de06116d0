// Compares the stage's plain cut and its smooth splices with other tempo
// changers run on the same input (ffmpeg atempo, sox tempo, soundstretch,
// rubberband, each where installed) at 2x, 3x and 4x: on synthetic speech,
// a real recorded voice, a held note with vibrato, a chord of three voices
// with their own vibrato, and real music; then the same through the
// player's 16-bit export on mono files. Then it compares the racing
// through pauses on talk with pauses, at its own level and at -30 dBFS, and
// times the stage. 44.1 kHz stereo throughout; the figures are taken on the
// left channel. Real recordings come from installed packages (alsa-utils'
// voice samples, game music in Ogg); the table says which are missing.
// Prints tables and never fails on quality or time.
#include "measures.h"

#include "audio/pipeline/connector.h"
#include "audio/stage/cutter.h"
#include "audio/stage/smooth.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
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

std::vector<double> single_voice(double from, double to) {
    const double hz = music_pitch(from, to);
    return hz > 0 ? std::vector<double>{hz} : std::vector<double>{};
}

// Three voices, each with its own vibrato, changing chord every 2 s.
const std::vector<std::vector<double>> chords_hz = {{196.0, 311.1, 523.3}, {220.0, 349.2, 587.3},
                                                    {174.6, 293.7, 466.2}, {246.9, 392.0, 659.3},
                                                    {164.8, 277.2, 440.0}, {207.7, 329.6, 554.4}};
constexpr double chord_s = 2.0;
struct voice_motion {
    double hz, depth;
};
const voice_motion voice_vibrato[3] = {{4.3, 0.006}, {5.2, 0.008}, {6.1, 0.005}};

double voice_phase_offset(int v) {
    return 1.7 * v;
}

// harmonics 0: every harmonic below the band, falling as 1 / k²; otherwise
// that many, falling as 1 / k (the top ones of the high voices pass 5 kHz).
std::vector<float> chords(int harmonics = 0) {
    const std::size_t frames = std::size_t(chords_hz.size() * chord_s * rate);
    std::vector<float> v(frames * channels, 0.0f);
    for (std::size_t c = 0; c < chords_hz.size(); ++c) {
        for (int voice = 0; voice < 3; ++voice) {
            const double hz = chords_hz[c][voice];
            const voice_motion m = voice_vibrato[voice];
            double phase = 0;
            const double start = c * chord_s, stop = start + chord_s;
            for (std::size_t i = std::size_t(start * rate); i < std::size_t(stop * rate); ++i) {
                const double t = double(i) / rate;
                phase += 2 * M_PI * hz *
                         (1 + m.depth * std::sin(2 * M_PI * m.hz * t + voice_phase_offset(voice))) /
                         rate;
                const double x = std::min({1.0, (t - start) / 0.05, (stop - t) / 0.05});
                const double edge = 0.5 - 0.5 * std::cos(M_PI * x);
                double l = 0, r = 0;
                for (int k = 1; harmonics ? k <= harmonics : k * hz * (1 + m.depth) < band_hz;
                     ++k) {
                    const double s = std::sin(k * phase) / (harmonics ? k : k * k);
                    l += s;
                    r += s * (k % 2 ? 1.0 : 0.7);
                }
                v[i * 2] += static_cast<float>(0.2 * edge * l);
                v[i * 2 + 1] += static_cast<float>(0.2 * edge * r);
            }
        }
    }
    return v;
}

std::vector<double> chord_voices(double from, double to) {
    const std::size_t c = std::size_t(std::max(0.0, from) / chord_s);
    if (from < c * chord_s + 0.06 || to > (c + 1) * chord_s - 0.06 || c >= chords_hz.size())
        return {};
    std::vector<double> hz;
    for (int voice = 0; voice < 3; ++voice) {
        const voice_motion m = voice_vibrato[voice];
        const double w = 2 * M_PI * m.hz, p = voice_phase_offset(voice);
        const double mean_sin = (std::cos(w * from + p) - std::cos(w * to + p)) / (w * (to - from));
        hz.push_back(chords_hz[c][voice] * (1 + m.depth * mean_sin));
    }
    return hz;
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// CPU seconds (user and system) of the finished child processes so far.
double children_cpu_s() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
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

// Repeatable: the same noise and dither on every run, so the figures are
// the same from run to run.
const std::string sox = "sox -R ";
const std::string raw = "-t raw -e floating-point -b 32 -r 44100 -c 2";

// Speech from espeak-ng, band-limited like the music; empty without it.
std::vector<float> speech(const fs::path& dir) {
    const fs::path wav = dir / "speech.wav", out = dir / "speech.f32";
    const std::string text =
        "Listening at a raised speed saves time, but only if every word stays clear. "
        "The quick brown fox jumps over the lazy dog, and then it rests for a while.";
    if (!run("espeak-ng -v en -s 150 -w " + wav.string() + " \"" + text + "\"") ||
        !run(sox + wav.string() + " " + raw + " " + out.string() + " sinc -" +
             std::to_string(int(band_hz)) + " norm -3"))
        return {};
    return read_raw(out);
}

std::vector<float> with_room(const fs::path& dir, const std::string& parts, double peak_db);

// Pauses between phrases: long ones, and the short ones of a brisk talk.
const std::vector<double> talk_pauses = {0.6, 0.3, 1.2, 0.45, 1.6, 0.8};
const std::vector<double> voice_pauses = {0.5, 1.1, 0.3, 1.5, 0.7, 0.4, 1.0, 0.6};
const std::vector<double> brisk_pauses = {0.35, 0.25, 0.5, 0.3, 0.9, 0.4, 0.2, 0.6};

// Talk with the given pauses between phrases and a faint room noise under
// everything, peaking at peak_db dBFS; empty without espeak-ng.
std::vector<float> talk(const fs::path& dir, double peak_db, const std::vector<double>& pauses) {
    const char* phrases[] = {"Good morning, and welcome to the second lecture.",
                             "Today we look at how sound is stored",
                             "and why a file can be played faster without sounding higher.",
                             "First, a word about sampling.",
                             "Then, an example.",
                             "Any questions so far?"};
    std::string parts;
    for (int k = 0; k < 6; ++k) {
        const fs::path w = dir / ("phrase" + std::to_string(k) + ".wav");
        if (!run("espeak-ng -v en -s 160 -w " + w.string() + " \"" + phrases[k] + "\"") ||
            !run(sox + w.string() + " -r 44100 -c 2 " +
                 (dir / ("p" + std::to_string(k) + ".wav")).string() + " pad 0 " +
                 std::to_string(pauses[k])))
            return {};
        parts += " " + (dir / ("p" + std::to_string(k) + ".wav")).string();
    }
    return with_room(dir, parts, peak_db);
}

// Joins the wav files, adds a faint pink noise 60 dB under the peak, limits
// the band and sets the peak.
std::vector<float> with_room(const fs::path& dir, const std::string& parts, double peak_db) {
    const fs::path joined = dir / "joined.wav", noise = dir / "noise.wav", out = dir / "room.f32";
    if (!run(sox + parts + " " + joined.string() + " norm -1") ||
        !run(sox + joined.string() + " " + noise.string() + " synth pinknoise vol 0.001") ||
        !run(sox + "-m " + joined.string() + " " + noise.string() + " " + raw + " " + out.string() +
             " sinc -" + std::to_string(int(band_hz)) + " norm " + std::to_string(peak_db)))
        return {};
    return read_raw(out);
}

// The voice samples of alsa-utils (a real recorded voice), with pauses.
std::vector<float> recorded_voice(const fs::path& dir, double peak_db,
                                  const std::vector<double>& pauses) {
    const fs::path from = "/usr/share/sounds/alsa";
    const char* names[] = {"Front_Left", "Front_Right", "Front_Center", "Rear_Left",
                           "Rear_Right", "Side_Left",   "Side_Right",   "Rear_Center"};
    std::string parts;
    for (int k = 0; k < 8; ++k) {
        const fs::path in = from / (std::string(names[k]) + ".wav");
        const fs::path p = dir / ("v" + std::to_string(k) + ".wav");
        if (!fs::exists(in) || !run(sox + in.string() + " -r 44100 -c 2 -b 16 " + p.string() +
                                    " pad 0 " + std::to_string(pauses[k])))
            return {};
        parts += " " + p.string();
    }
    return with_room(dir, parts, peak_db);
}

// 20 s of each installed piece of game music (Ogg), band-limited like the
// rest: the first piece only unless every is asked for; empty when none is
// installed.
struct recording {
    std::string name;
    std::vector<float> samples;
};
std::vector<recording> recorded_music(const fs::path& dir, bool every) {
    std::vector<recording> pieces;
    for (const char* folder : {"/usr/share/hyperrogue/music", "/usr/share/games/frozen-bubble/snd",
                               "/usr/share/games/pingus/music"}) {
        std::error_code error;
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(folder, error))
            if (e.path().extension() == ".ogg")
                found.push_back(e.path());
        std::sort(found.begin(), found.end());
        const fs::path out = dir / "music.f32";
        for (const auto& p : found) {
            if (run(sox + p.string() + " " + raw + " " + out.string() +
                    " trim 10 20 gain -6 sinc -" + std::to_string(int(band_hz)) + " norm -3")) {
                auto v = read_raw(out);
                if (v.size() > std::size_t(15 * rate * channels)) {
                    pieces.push_back({p.stem().string(), std::move(v)});
                    if (!every)
                        return pieces;
                }
            }
        }
    }
    return pieces;
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
    cutter->set_channels(channels);
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
        ok = run(sox + raw + " " + in.string() + " " + raw + " '" + out.string() + "' tempo " +
                 (is_speech ? "-s " : "-m ") + t);
    } else if (name == "soundstretch") {
        // 32-bit integers: more than 16 bits, and soundstretch misreads float.
        const fs::path a = dir / "ss-in.wav", b = dir / "ss-out.wav";
        ok = run(sox + raw + " " + in.string() + " -e signed-integer -b 32 " + a.string()) &&
             run("soundstretch " + a.string() + " " + b.string() + " -tempo=+" +
                 std::to_string(int(std::lround((tempo - 1) * 100))) +
                 (is_speech ? " -speech" : "")) &&
             run(sox + b.string() + " " + raw + " '" + out.string() + "'");
    } else if (name == "rubberband") {
        const fs::path a = dir / "rb-in.wav", b = dir / "rb-out.wav";
        ok = run(sox + raw + " " + in.string() + " -e floating-point " + a.string()) &&
             run("rubberband -3 -T" + t + " " + a.string() + " " + b.string()) &&
             run(sox + b.string() + " " + raw + " '" + out.string() + "'");
    }
    return ok ? read_raw(out) : std::vector<float>{};
}

std::vector<float> left(const std::vector<float>& v) {
    std::vector<float> l(v.size() / channels);
    for (std::size_t i = 0; i < l.size(); ++i)
        l[i] = v[i * channels];
    return l;
}

std::string percent(double share) {
    if (std::isnan(share))
        return "-";
    char t[16];
    std::snprintf(t, sizeof t, "%.1f%%", 100 * share);
    return t;
}

constexpr std::int32_t smooth = zarnfilter::flag_smooth_splices;
const double tempos[] = {2.0, 3.0, 4.0};
const double racing_tempos[] = {1.5, 2.0, 3.0};

struct signal {
    std::string name;
    std::vector<float> samples;
    bool is_speech;
    measures::chord_track voices; // empty: no held notes to judge
    std::string piece;            // which recording, for real music
};

// Options: which signals (names separated by commas; empty: all), and
// whether the peers run.
struct options {
    std::string tables, signals;
    bool peers = true;
    bool all_music = false;
    // Names as given on the command line: spaces written as '-'.
    bool wants(std::string name) const {
        std::replace(name.begin(), name.end(), ' ', '-');
        return signals.empty() || ("," + signals + ",").find("," + name + ",") != std::string::npos;
    }
};

void quality_table(const fs::path& dir, const std::vector<signal>& signals, const options& o) {
    std::printf("\nTempo change on 44.1 kHz stereo, left channel; input band %.0f Hz\n"
                "splatter: energy above %.0f Hz, dB of all (lower is better)\n"
                "off>2%%: share of 93 ms frames where a held voice's fundamental is off by more "
                "than 2 %%, time mapped (lower is better)\n"
                "envelope: mean correlation of 16 band envelopes with the input's, time mapped "
                "(higher is better)\n"
                "cpu: stage CPU ms per second of input, one cold run (ours only; BM_StageCpu "
                "below gives the steady figure)\n\n",
                band_hz, splatter_hz);
    std::printf("%-14s %-5s %-15s %10s %8s %9s %7s\n", "signal", "rate", "method", "splatter",
                "off>2%", "envelope", "cpu");
    // The mean envelope of every method over the pieces of real music, by
    // rate: one piece can favour one method.
    struct mean {
        std::string method;
        double tempo, sum = 0;
        int n = 0;
    };
    std::vector<mean> music_means;
    for (const signal& s : signals) {
        if (!o.wants(s.name))
            continue;
        if (!s.piece.empty())
            std::printf("(%s: 20 s of %s)\n", s.name.c_str(), s.piece.c_str());
        std::string file = s.name;
        std::replace(file.begin(), file.end(), ' ', '-');
        const fs::path in = dir / (file + ".f32");
        write_raw(in, s.samples);
        const auto in_left = left(s.samples);
        std::printf("%-14s %-5s %-15s %10.1f\n", s.name.c_str(), "1", "input",
                    measures::splatter_db(in_left, rate, splatter_hz));
        for (double tempo : tempos) {
            struct method {
                std::string name;
                std::vector<float> out;
                double cpu;
            };
            std::vector<method> methods(2);
            methods[0].name = "plain cut";
            methods[0].out = stage(s.samples, tempo, 0, &methods[0].cpu);
            methods[1].name = "smooth";
            methods[1].out = stage(s.samples, tempo, smooth, &methods[1].cpu);
            for (const char* p : {"ffmpeg atempo", "sox tempo", "soundstretch", "rubberband"})
                if (o.peers)
                    methods.push_back({p, peer(p, dir, in, tempo, s.is_speech), -1});
            for (const method& m : methods) {
                const std::string t = tempo_text(tempo) + "x";
                if (m.out.empty()) {
                    std::printf("%-14s %-5s %-15s %10s\n", s.name.c_str(), t.c_str(),
                                m.name.c_str(), "n/a (not installed or failed)");
                    continue;
                }
                const auto out = left(m.out);
                const std::string off =
                    s.voices ? percent(measures::held_off_share(out, rate, tempo, s.voices)) : "-";
                char cpu[16] = "-";
                if (m.cpu >= 0)
                    std::snprintf(cpu, sizeof cpu, "%.2f", m.cpu);
                const double envelope = measures::envelope_correlation(in_left, out, rate, tempo);
                std::printf("%-14s %-5s %-15s %10.1f %8s %9.3f %7s\n", s.name.c_str(), t.c_str(),
                            m.name.c_str(), measures::splatter_db(out, rate, splatter_hz),
                            off.c_str(), envelope, cpu);
                if (s.piece.empty())
                    continue;
                auto it = std::find_if(music_means.begin(), music_means.end(), [&](const mean& x) {
                    return x.method == m.name && !(x.tempo < tempo) && !(x.tempo > tempo);
                });
                if (it == music_means.end())
                    it = music_means.insert(music_means.end(), {m.name, tempo, 0.0, 0});
                it->sum += envelope;
                ++it->n;
            }
        }
    }
    for (const mean& m : music_means)
        std::printf("%-14s %-5s %-15s %10s %8s %9.3f %7s   (%d pieces)\n", "music mean",
                    (tempo_text(m.tempo) + "x").c_str(), m.method.c_str(), "", "", m.sum / m.n, "",
                    m.n);
    std::printf("\n");
    std::fflush(stdout);
}

// The whole 16-bit path on mono: a 16-bit file exported by the player with
// fresh settings (the renderer's conversions, the stage and the float to
// 16-bit output) against the peers writing 16-bit files. The floating-point
// table above cannot show what the conversions or the frame layout add.
void export_table(const fs::path& dir, const std::vector<signal>& signals, const options& o) {
    const fs::path home = dir / "home";
    fs::create_directories(home);
    std::printf("16-bit export, mono 44.1 kHz, fresh settings; the peers write 16-bit files\n"
                "near Nyquist: RMS between 18 and 22.05 kHz in 16-bit steps (the input's own "
                "is the floor)\n"
                "cpu: CPU ms of the whole command (start-up included) per second of input\n\n");
    std::printf("%-14s %-5s %-15s %10s %8s %9s %12s %7s\n", "signal", "rate", "method", "splatter",
                "off>2%", "envelope", "near Nyquist", "cpu");
    for (const signal& s : signals) {
        if (!o.wants(s.name))
            continue;
        std::string file = s.name;
        std::replace(file.begin(), file.end(), ' ', '-');
        const fs::path mono = dir / (file + "-mono.f32"), in = dir / (file + "-16.wav");
        write_raw(mono, left(s.samples));
        if (!run(sox + "-t raw -e floating-point -b 32 -r 44100 -c 1 " + mono.string() + " -b 16 " +
                 in.string()))
            continue;
        const auto read16 = [&](const fs::path& wav) {
            const fs::path f = dir / "back.f32";
            fs::remove(f);
            return run("sox " + wav.string() + " -t raw -e floating-point -b 32 " + f.string())
                       ? read_raw(f)
                       : std::vector<float>{};
        };
        const auto input = read16(in);
        std::printf("%-14s %-5s %-15s %10.1f %8s %9s %12.2f\n", s.name.c_str(), "1", "input",
                    measures::splatter_db(input, rate, splatter_hz), "-", "-",
                    measures::band_rms_lsb(input, rate, 18000, 22050));
        // Once untimed: the first start in a fresh home builds GStreamer's registry.
        run("HOME=" + home.string() + " " + ZARN_PLAYER + " --export '" +
            (dir / "warm.wav").string() + "' --force '" + in.string() + "'");
        for (double tempo : tempos) {
            const std::string t = tempo_text(tempo);
            const fs::path out = dir / "out16.wav";
            struct method {
                std::string name, command;
            };
            const std::string player =
                "HOME=" + home.string() + " XDG_CONFIG_HOME=" + home.string() + "/.config " +
                ZARN_PLAYER + " --export '" + out.string() + "' --force --rate " + t;
            std::vector<method> methods = {
                {"export", player + " '" + in.string() + "'"},
                {"export --plain", player + " --plain '" + in.string() + "'"}};
            if (o.peers) {
                methods.push_back({"ffmpeg atempo", "ffmpeg -v error -y -i " + in.string() +
                                                        " -af atempo=" + t + " -c:a pcm_s16le '" +
                                                        out.string() + "'"});
                methods.push_back({"sox tempo", sox + in.string() + " '" + out.string() +
                                                    "' tempo " + (s.is_speech ? "-s " : "-m ") +
                                                    t});
                methods.push_back(
                    {"soundstretch", "soundstretch " + in.string() + " '" + out.string() +
                                         "' -tempo=+" +
                                         std::to_string(int(std::lround((tempo - 1) * 100))) +
                                         (s.is_speech ? " -speech" : "")});
                methods.push_back({"rubberband", "rubberband -3 -T" + t + " " + in.string() + " '" +
                                                     out.string() + "'"});
            }
            for (const method& m : methods) {
                fs::remove(out);
                const std::string rt = t + "x";
                const double cpu_before = children_cpu_s();
                const bool ran = run(m.command);
                const double cpu_ms_per_s =
                    1000 * (children_cpu_s() - cpu_before) / (double(input.size()) / rate);
                const auto heard = ran ? read16(out) : std::vector<float>{};
                if (heard.empty()) {
                    std::printf("%-14s %-5s %-15s %10s\n", s.name.c_str(), rt.c_str(),
                                m.name.c_str(), "n/a (not installed or failed)");
                    continue;
                }
                const std::string off =
                    s.voices ? percent(measures::held_off_share(heard, rate, tempo, s.voices))
                             : "-";
                std::printf("%-14s %-5s %-15s %10.1f %8s %9.3f %12.2f %7.1f\n", s.name.c_str(),
                            rt.c_str(), m.name.c_str(),
                            measures::splatter_db(heard, rate, splatter_hz), off.c_str(),
                            measures::envelope_correlation(input, heard, rate, tempo),
                            measures::band_rms_lsb(heard, rate, 18000, 22050), cpu_ms_per_s);
            }
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Racing through pauses: how much of the time that carries speech is lost
// beyond the rate's own share, and how much time is saved over the rate.
void racing_table(const std::vector<signal>& talks, const options& o) {
    constexpr int alignments = 16;
    std::printf("Racing through pauses (flags 1: silence acceleration); each figure the mean "
                "over %d starts 1.4 ms apart\n"
                "speech lost: time carrying speech (10 ms frames within 35 dB of the loudest, "
                "every 1 ms) lost, output against input / rate (vs rate; negative: the pieces' "
                "edges add some) and against the same rate's smooth splices without racing (by "
                "racing); lower is better, 0 keeps all\n"
                "saved: output time saved over the plain rate (higher is better)\n\n",
                alignments);
    std::printf("%-14s %-5s %-22s %9s %9s %8s\n", "signal", "rate", "method", "vs rate",
                "by racing", "saved");
    for (const signal& s : talks) {
        if (!o.wants(s.name))
            continue;
        const double in_speech = measures::speech_seconds(left(s.samples), rate);
        const double in_length = double(s.samples.size()) / channels;
        std::printf("%-14s pauses: %.0f%% of %.1f s\n", s.name.c_str(),
                    100 * (1 - in_speech * rate / in_length), in_length / rate);
        for (double tempo : racing_tempos) {
            const struct {
                const char* name;
                std::int32_t flags;
            } methods[] = {{"smooth, no racing", smooth},
                           {"fixed level (plain)", 1},
                           {"fixed level+adapt", 3},
                           {"smooth racing", smooth | 1},
                           {"smooth racing+adapt", smooth | 3}};
            double no_racing = 0;
            for (const auto& m : methods) {
                // Where the pieces fall against the words moves the speech
                // time by a few milliseconds a word: the mean over sixteen
                // starts, each a little later, evens that out.
                double speech = 0, length = 0;
                for (int k = 0; k < alignments; ++k) {
                    std::vector<float> in(std::size_t(k) * 62 * channels, 0.0f);
                    in.insert(in.end(), s.samples.begin(), s.samples.end());
                    const auto out = left(stage(in, tempo, m.flags));
                    speech += measures::speech_seconds(out, rate) / alignments;
                    length += (double(out.size()) - k * 62 / tempo) / alignments;
                }
                if (m.flags == smooth)
                    no_racing = speech;
                std::printf("%-14s %-5s %-22s %9s %9s %8s\n", s.name.c_str(),
                            (tempo_text(tempo) + "x").c_str(), m.name,
                            percent(1 - speech * tempo / in_speech).c_str(),
                            percent(1 - speech / no_racing).c_str(),
                            percent(1 - length * tempo / in_length).c_str());
            }
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

void tables(const options& o) {
    char tmpl[] = "/tmp/zarn-smooth-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    std::vector<signal> signals, talks;
    auto spoken = speech(dir);
    if (spoken.empty())
        std::printf("(espeak-ng or sox missing: no synthetic speech rows)\n");
    else
        signals.push_back({"speech", std::move(spoken), true, {}, {}});
    auto voice = recorded_voice(dir, -1, voice_pauses);
    if (voice.empty())
        std::printf("(no recorded voice: install alsa-utils and sox for the real-voice rows)\n");
    else
        signals.push_back({"real voice", voice, true, {}, {}});
    signals.push_back({"vibrato", music(), false, single_voice, {}});
    signals.push_back({"chords", chords(), false, chord_voices, {}});
    signals.push_back({"chords8", chords(8), false, chord_voices, {}});
    auto pieces = recorded_music(dir, o.all_music);
    if (pieces.empty())
        std::printf("(no recorded music: install hyperrogue-music for the real-music rows)\n");
    for (recording& p : pieces)
        signals.push_back({"real music", std::move(p.samples), false, {}, p.name});
    if (o.tables.empty() || o.tables == "quality")
        quality_table(dir, signals, o);
    if (o.tables.empty() || o.tables == "export")
        export_table(dir, signals, o);

    if (!voice.empty()) {
        talks.push_back({"real voice", voice, true, {}, {}});
        talks.push_back({"real voice-30", recorded_voice(dir, -30, voice_pauses), true, {}, {}});
        talks.push_back({"brisk voice", recorded_voice(dir, -1, brisk_pauses), true, {}, {}});
        talks.push_back({"brisk voice-30", recorded_voice(dir, -30, brisk_pauses), true, {}, {}});
    }
    auto t = talk(dir, -1, talk_pauses);
    if (!t.empty()) {
        talks.push_back({"talk", std::move(t), true, {}, {}});
        talks.push_back({"talk-30", talk(dir, -30, talk_pauses), true, {}, {}});
        talks.push_back({"brisk talk", talk(dir, -1, brisk_pauses), true, {}, {}});
        talks.push_back({"brisk talk-30", talk(dir, -30, brisk_pauses), true, {}, {}});
    }
    if (talks.empty())
        std::printf("(no talk with pauses: espeak-ng, sox or alsa-utils missing)\n");
    if (o.tables.empty() || o.tables == "racing")
        racing_table(talks, o);
    fs::remove_all(dir);
}

// CPU of the whole stage (process time, the feeding thread included) per
// second of input, at the rates the player offers most.
void BM_StageCpu(benchmark::State& state) {
    const double tempo = state.range(0) / 10.0;
    const std::int32_t flags = static_cast<std::int32_t>(state.range(1));
    static const auto input = chords();
    const double seconds = double(input.size()) / channels / rate;
    for (auto _ : state)
        benchmark::DoNotOptimize(stage(input, tempo, flags).data());
    state.counters["cpu_s_per_input_s"] = benchmark::Counter(
        seconds * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel("rate " + tempo_text(tempo) + " flags " + std::to_string(flags));
}

} // namespace

BENCHMARK(BM_StageCpu)
    ->ArgsProduct({{15, 20, 40}, {0, 4, 5, 7}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// --tables=quality, --tables=export or --tables=racing prints only that table,
// --signals=chords,real-music only those rows of the first, --no-peers
// leaves the other tools out, --all-music takes every installed piece of
// music instead of the first (and prints each method's mean over them); the usual benchmark options
// choose the timings (--benchmark_filter=none: none).
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--tables=", 0) == 0)
            o.tables = a.substr(9);
        else if (a.rfind("--signals=", 0) == 0)
            o.signals = a.substr(10);
        else if (a == "--no-peers")
            o.peers = false;
        else if (a == "--all-music")
            o.all_music = true;
    }
    tables(o);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
