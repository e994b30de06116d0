// What measuring loudness costs: seconds of sound per CPU second of the
// whole measurement (decoding, conversion, the meter), with and without the
// true peak, for a 10-minute speech-like MP3, Opus and FLAC; then the time
// from asking the probe to its first-half-minute estimate, with the probe's
// start and without. Media made by ffmpeg into the build tree.
// Run with the test environment: ./zarn exec build/bench/bench_loudness
#include "platform/regularfile.h"
#include "player/loudness/Measure.h"
#include "player/probe/Probe.h"
#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Loudness.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main() {
    gst_init(nullptr, nullptr);
    const double length = 600;
    const std::string graph = zarntest::SpeechLike(length);
    struct Kind {
        const char* name;
        std::vector<std::string> args;
    };
    const Kind kinds[] = {
        {"talk.mp3", {"-b:a", "128k"}}, {"talk.opus", {"-b:a", "48k"}}, {"talk.flac", {}}};
    std::printf("10-minute 44.1 kHz stereo speech-like sound, measured in this process\n");
    std::printf("%-10s %-10s %9s %9s %14s\n", "file", "true peak", "wall s", "cpu s",
                "sound s/cpu s");
    std::string mp3;
    for (const Kind& k : kinds) {
        std::vector<std::string> args{"-f", "lavfi", "-i", graph};
        args.insert(args.end(), k.args.begin(), k.args.end());
        const std::string path = testmedia::Make("loudness-bench", k.name, args);
        if (path.empty()) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", k.name);
            return 1;
        }
        if (mp3.empty())
            mp3 = path;
        for (bool peak : {false, true}) {
            loudness::MeasureRequest request;
            request.TruePeak = peak;
            request.TimeOut = std::chrono::minutes(10);
            const double cpu0 = CpuSeconds();
            const auto t0 = Clock::now();
            const loudness::MeasureOutcome m = loudness::Measure(path, request);
            const double wall = Ms(Clock::now() - t0) / 1000, cpu = CpuSeconds() - cpu0;
            if (!m.Figure) {
                std::fprintf(stderr, "%s: %s\n", k.name, m.Failure.c_str());
                return 1;
            }
            std::printf("%-10s %-10s %9.2f %9.2f %14.0f\n", k.name, peak ? "yes" : "no", wall, cpu,
                        m.Figure->Seconds / cpu);
        }
    }

    // Through the probe, as the player asks for a file about to play.
    std::printf("\nThe player's first estimate (%g s of the MP3, no true peak) through the "
                "probe, ms\n",
                30.0);
    for (int round = 0; round < 2; ++round) {
        TProbe probe;
        for (int i = 0; i < 4; ++i) {
            const int fd = OpenRegularFile(mp3);
            const auto t0 = Clock::now();
            const TProbe::Measured m = probe.Measure(fd, mp3, {30, false, 2});
            const double ms = Ms(Clock::now() - t0);
            close(fd);
            if (!m.Answer || !m.Answer->Figure) {
                std::fprintf(stderr, "probe: %s\n", m.Failure.c_str());
                return 1;
            }
            std::printf("  %s: %6.0f ms\n", i == 0 ? "with the probe's start" : "probe running   ",
                        ms);
        }
    }
    return 0;
}
