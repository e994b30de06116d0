// What listing a folder of 1,000 tagged files costs: the readers run in the
// player (as the analysis did before the probe) against the same files read
// through the probe, one descriptor at a time, and the probe's peak memory
// for those files and for a file of 150,000 chapters. Four kinds of file
// (MP3 with ID3v2, M4A, Opus, FLAC), 250 copies each, made by ffmpeg into
// the build tree; files in the page cache (one pass of each is run first).
#include "player/mediainfo/RegularFile.h"
#include "player/playlist/File.h"
#include "player/probe/Probe.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Folder() {
    const fs::path dir = testmedia::Dir("probe-bench") / "folder";
    fs::create_directories(dir);
    std::vector<std::string> files;
    const char* kinds[] = {"t.mp3", "t.m4a", "t.opus", "t.flac"};
    for (const char* kind : kinds) {
        const std::string made =
            testmedia::Make("probe-bench", kind,
                            {"-f", "lavfi", "-i", "sine=d=3", "-metadata", "title=A Talk",
                             "-metadata", "artist=Someone", "-metadata", "album=Talks"});
        if (made.empty()) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", kind);
            std::exit(1);
        }
        for (int i = 0; i < 250; ++i) {
            const fs::path copy = dir / (std::to_string(i) + "-" + kind);
            if (!fs::exists(copy))
                fs::copy_file(made, copy);
            files.push_back(copy.string());
        }
    }
    return files;
}

double CpuSeconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall seconds of one pass over the files.
double Timed(const std::vector<std::string>& files,
             const std::function<int(const std::string&)>& read, int& titled) {
    titled = 0;
    const auto start = Clock::now();
    for (const std::string& f : files)
        titled += read(f);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string PeakMemory(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return line.substr(6);
    return "?";
}

} // namespace

int main() {
    const std::vector<std::string> files = Folder();
    auto inProcess = [](const std::string& f) {
        TFile entry(f);
        entry.ApplyTags(TFile::ReadTags(f));
        return entry.TagTitle.empty() ? 0 : 1;
    };
    TProbe probe;
    auto throughProbe = [&probe](const std::string& f) {
        const int fd = OpenRegularFile(f);
        TFile entry(f);
        TFile::Tags tags;
        tags.Probed = probe.Read(fd, f).Answer;
        ::close(fd);
        entry.ApplyTags(std::move(tags));
        return entry.TagTitle.empty() ? 0 : 1;
    };
    int titled = 0;
    Timed(files, inProcess, titled);
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const double old = Timed(files, inProcess, titled);
    const double oldCpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    std::printf("in the player: %zu files in %.0f ms (%.2f ms a file, %.0f ms CPU), %d titled\n",
                files.size(), old * 1e3, old * 1e3 / static_cast<double>(files.size()),
                oldCpu * 1e3, titled);

    const auto startProbe = Clock::now();
    Timed(files, throughProbe, titled); // includes the probe's start
    const double first = std::chrono::duration<double>(Clock::now() - startProbe).count();
    const pid_t pid = probe.Pid();
    const double now = Timed(files, throughProbe, titled);
    const std::string peak = PeakMemory(pid);
    std::printf("through the probe: %zu files in %.0f ms (%.2f ms a file), %d titled; "
                "first pass with the probe's start %.0f ms\n",
                files.size(), now * 1e3, now * 1e3 / static_cast<double>(files.size()), titled,
                first * 1e3);
    std::printf("probe / player: %.2f; the probe's peak memory (VmHWM) %s\n", now / old,
                peak.c_str());

    const std::string many = testmedia::ManyChaptersMp3(150'000);
    if (!many.empty()) {
        TProbe other;
        const int fd = OpenRegularFile(many);
        const auto start = Clock::now();
        const TProbe::Outcome out = other.Read(fd, many);
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        ::close(fd);
        std::printf(
            "150,000 chapters: %zu kept in %.0f ms (probe start included), peak memory %s\n",
            out.Answer ? out.Answer->Chapters.size() : 0, took * 1e3,
            PeakMemory(other.Pid()).c_str());
    }
    return 0;
}
