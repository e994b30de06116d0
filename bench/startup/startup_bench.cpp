// Time from the start of the program to its first sound, for each build of
// it: the build tree's and the Release build ./zarn package makes
// (build-package/), or the programs named on the command line. The sound is
// what the wav: device writes as the output's cursor passes it; the moment
// its first non-zero sample reaches the file is taken (stdio buffering adds
// at most ~25 ms, alike for every build). Prints figures, never fails on time.
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace zarntest;
using Clock = std::chrono::steady_clock;

namespace {

// Seconds until path holds a non-zero sample after its header; -1 if none
// came within the limit.
double FirstSound(const std::string& program, const std::string& media, const std::string& dir,
                  const std::string& registry) {
    const std::string home = dir + "/home", out = dir + "/out.wav";
    fs::remove_all(home);
    fs::remove(out);
    fs::create_directories(home);
    const Clock::time_point start = Clock::now();
    Program player({program, media},
                   {{"ZARNPLAYER_HOME", home},
                    {"ZARN_AUDIO_DEVICE", "wav:" + out},
                    {"DISPLAY", ""},
                    {"WAYLAND_DISPLAY", ""},
                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                    {"GST_REGISTRY", registry},
                    {"GST_PLUGIN_PATH", ""},
                    {"LD_LIBRARY_PATH", ""}},
                   dir + "/stdout", dir + "/stderr");
    std::uintmax_t checked = 44;
    while (Clock::now() - start < std::chrono::seconds(20) && player.Running()) {
        std::ifstream wav(out, std::ios::binary);
        if (wav && wav.seekg(static_cast<std::streamoff>(checked))) {
            char buf[65536];
            while (wav.read(buf, sizeof buf) || wav.gcount() > 0) {
                const std::streamsize n = wav.gcount();
                if (std::any_of(buf, buf + n, [](char c) { return c != 0; }))
                    return std::chrono::duration<double>(Clock::now() - start).count();
                checked += static_cast<std::uintmax_t>(n);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::fprintf(stderr, "%s: no sound within 20 s\n%s", program.c_str(),
                 ReadAll(dir + "/stderr").c_str());
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> programs(argv + 1, argv + argc);
    if (programs.empty()) {
        for (const std::string tree : {ZARN_BUILD_DIR, ZARN_SOURCE_DIR "/build-package"})
            if (fs::exists(tree + "/bin/zarnplayer"))
                programs.push_back(tree + "/bin/zarnplayer");
    }
    const TempDir dir("bench-startup");
    const std::string media = dir / "tone.mp3";
    if (!MakeTone(media, 10)) {
        std::fprintf(stderr, "ffmpeg cannot make %s\n", media.c_str());
        return 1;
    }
    constexpr int kRuns = 5;
    std::printf("start to first sound, %d runs after one to fill the plugin registry\n", kRuns);
    for (const std::string& program : programs) {
        const std::string registry = dir / "registry.bin";
        fs::remove(registry);
        FirstSound(program, media, dir.path(), registry);
        std::vector<double> times;
        for (int i = 0; i < kRuns; ++i)
            times.push_back(FirstSound(program, media, dir.path(), registry));
        std::sort(times.begin(), times.end());
        std::printf("%-60s median %6.0f ms  min %6.0f ms  max %6.0f ms  size %6.1f MB\n",
                    program.c_str(), times[kRuns / 2] * 1000, times.front() * 1000,
                    times.back() * 1000, fs::file_size(program) / 1e6);
    }
    return 0;
}
