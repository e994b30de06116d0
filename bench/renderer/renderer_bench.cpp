// What the renderer costs next to decoding: CPU seconds per minute of audio
// for decoding alone (as fast as it goes, into fakesink) and for playing
// through zarnaudiosink at rates 2 and 4 on the null device (real time),
// for a 44.1 kHz stereo MP3 made with ffmpeg.
#include "audio/filter/IZarnRate.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Plays the description to its end; returns the CPU seconds it took.
double run(const std::string& desc, double& wall) {
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(desc.c_str(), &err);
    if (!p) {
        std::fprintf(stderr, "bench_renderer: %s\n", err ? err->message : "cannot build pipeline");
        std::exit(1);
    }
    double c0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        std::fprintf(stderr, "bench_renderer: the pipeline failed: %s\n", desc.c_str());
        std::exit(1);
    }
    if (m)
        gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return cpuSeconds() - c0;
}

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    setenv("ZARN_AUDIO_DEVICE", "null", 1);
    std::string file = "/tmp/zarn-bench-renderer.mp3";
    std::string make =
        "ffmpeg -loglevel error -y -f lavfi -i \"sine=frequency=220:sample_rate=44100,"
        "aformat=channel_layouts=stereo\" -t " +
        std::to_string(seconds) + " -c:a libmp3lame -b:a 128k " + file;
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "bench_renderer: ffmpeg could not make the test file\n");
        return 1;
    }
    const std::string decode =
        "filesrc location=" + file + " ! decodebin ! audioconvert ! audioresample";
    double minutes = seconds / 60.0, wall = 0;

    double dec = run(decode + " ! fakesink sync=false", wall);
    std::printf("%-28s %8.3f CPU s per audio minute (%.1f s wall)\n", "decode only", dec / minutes,
                wall);
    for (double rate : {2.0, 4.0}) {
        char desc[64];
        std::snprintf(desc, sizeof desc, " ! zarnaudiosink rate=%.1f", rate);
        double all = run(decode + desc, wall);
        char label[64];
        std::snprintf(label, sizeof label, "renderer at rate %.0f", rate);
        std::printf("%-28s %8.3f CPU s per audio minute (%.1f s wall, renderer %.3f)\n", label,
                    all / minutes, wall, (all - dec) / minutes);
    }
    std::remove(file.c_str());
    return 0;
}
