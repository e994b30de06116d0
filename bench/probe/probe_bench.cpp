// What listing a folder of 1,000 tagged files costs: the readers run in the
// player (as the analysis did before the probe) against the same files read
// through the probe, one descriptor at a time, with the probe's peak memory;
// then one file of 150,000 chapters. Two folders: 250 copies each of an MP3
// with ID3v2, an M4A, an Opus and a FLAC file; and 1,000 MP3s that also
// carry an ID3v1 tag (the kind the player titled without any parser before). Media
// made by ffmpeg into the build tree; files in the page cache (one pass of
// each reading runs first).
#include "platform/regularfile.h"
#include "player/list/File.h"
#include "player/probe/Probe.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Folder(bool id3v1) {
    const fs::path dir = testmedia::Dir("probe-bench") / (id3v1 ? "id3v1" : "tagged");
    fs::create_directories(dir);
    std::vector<std::string> kinds{"t.mp3", "t.m4a", "t.opus", "t.flac"};
    if (id3v1)
        kinds = {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    std::vector<std::string> files;
    for (const std::string& kind : kinds) {
        std::vector<std::string> args{"-f",         "lavfi",          "-i",
                                      "sine=d=3",   "-metadata",      "title=A Talk " + kind,
                                      "-metadata",  "artist=Someone", "-metadata",
                                      "album=Talks"};
        if (id3v1)
            args.insert(args.end(), {"-write_id3v1", "1"});
        const std::string made = testmedia::Make("probe-bench", kind, args);
        if (made.empty()) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", kind.c_str());
            std::exit(1);
        }
        for (int i = 0; i < 250; ++i) {
            const fs::path copy = dir / (std::to_string(i) + "-" + kind);
            fs::copy_file(made, copy, fs::copy_options::overwrite_existing);
            files.push_back(copy.string());
        }
    }
    return files;
}

// Wall seconds of one pass over the files; titled counts the titled ones.
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
            return line.substr(line.find_first_not_of(" \t", 6));
    return "?";
}

void Compare(const char* what, const std::vector<std::string>& files) {
    auto inPlayer = [](const std::string& f) {
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
    const double n = static_cast<double>(files.size());
    int titled = 0;
    Timed(files, inPlayer, titled);
    const double old = Timed(files, inPlayer, titled);
    std::printf("%s\n  in the player:     %6.0f ms (%.3f ms a file), %d titled\n", what, old * 1e3,
                old * 1e3 / n, titled);
    const double first = Timed(files, throughProbe, titled);
    const double now = Timed(files, throughProbe, titled);
    std::printf("  through the probe: %6.0f ms (%.3f ms a file), %d titled; the first pass, "
                "with the probe's start: %.0f ms\n",
                now * 1e3, now * 1e3 / n, titled, first * 1e3);
    std::printf("  probe / player: %.2f; the probe's peak memory (VmHWM): %s\n", now / old,
                PeakMemory(probe.Pid()).c_str());
}

} // namespace

int main() {
    Compare("1,000 files tagged in ID3v2, MP4 and Vorbis comments (MP3, M4A, Opus, FLAC):",
            Folder(false));
    Compare("1,000 MP3 files with ID3v1 beside ID3v2:", Folder(true));
    const std::string many = testmedia::ManyChaptersMp3(150'000);
    if (many.empty())
        return 1;
    TProbe probe;
    const int fd = OpenRegularFile(many);
    const auto start = Clock::now();
    const TProbe::Outcome out = probe.Read(fd, many);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    std::printf("150,000 chapters: %zu kept in %.0f ms (the probe's start included); the "
                "probe's peak memory: %s\n",
                out.Answer ? out.Answer->Chapters.size() : 0, took * 1e3,
                PeakMemory(probe.Pid()).c_str());
    return 0;
}
