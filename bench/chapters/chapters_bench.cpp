// What reading a file's chapters costs, per kind of file, for an hour-long
// book with a chapter a minute and for a short file: the reader parses only
// the header, so the figure is the demuxer's opening cost (files in the page
// cache). The media is made by ffmpeg on the first run and kept in the build
// tree.
#include "player/mediainfo/Chapters.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string kFolder = "chapters-bench";

std::string ChapterList(int minutes) {
    std::string text = ";FFMETADATA1\n";
    for (int m = 0; m < minutes; ++m)
        text += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(m * 60000) +
                "\nEND=" + std::to_string((m + 1) * 60000) + "\ntitle=Chapter " +
                std::to_string(m + 1) + "\n";
    return text;
}

std::string Book(const std::string& name, int seconds, const std::vector<std::string>& codec) {
    const int chapters = seconds >= 120 ? seconds / 60 : 3;
    std::string list = (testmedia::Dir(kFolder) / (std::to_string(chapters) + ".ffmeta")).string();
    testmedia::Publish(list, seconds >= 120 ? ChapterList(chapters)
                                            : ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\n"
                                              "END=1000\ntitle=a\n[CHAPTER]\nTIMEBASE=1/1000\n"
                                              "START=1000\nEND=2000\ntitle=b\n[CHAPTER]\n"
                                              "TIMEBASE=1/1000\nSTART=2000\nEND=3000\ntitle=c\n");
    std::vector<std::string> args{"-f",
                                  "lavfi",
                                  "-i",
                                  "anoisesrc=r=22050:a=0.1:d=" + std::to_string(seconds),
                                  "-i",
                                  list,
                                  "-map_metadata",
                                  "1",
                                  "-map_chapters",
                                  "1",
                                  "-ac",
                                  "1"};
    args.insert(args.end(), codec.begin(), codec.end());
    return testmedia::Make(kFolder, name, args);
}

void Read(benchmark::State& state, const std::string& path, std::size_t expected) {
    for (auto _ : state) {
        TChapterList read = ReadChapters(path);
        if (!read || read->size() != expected) {
            state.SkipWithError("the chapters were not read");
            break;
        }
        benchmark::DoNotOptimize(read);
    }
}

} // namespace

int main(int argc, char** argv) {
    struct Kind {
        const char* ext;
        std::vector<std::string> codec;
    };
    const Kind kinds[] = {
        {"m4b", {"-c:a", "aac", "-b:a", "48k"}},
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "48k", "-id3v2_version", "3"}},
        {"mka", {"-c:a", "libopus", "-b:a", "24k"}},
        {"opus", {"-c:a", "libopus", "-b:a", "24k"}},
    };
    std::fprintf(stderr, "making the media (once per build tree)...\n");
    for (const Kind& k : kinds) {
        for (int seconds : {3600, 4}) {
            std::string name = std::string(seconds > 60 ? "hour." : "short.") + k.ext;
            std::string path = Book(name, seconds, k.codec);
            if (path.empty()) {
                std::fprintf(stderr, "ffmpeg could not make %s\n", name.c_str());
                return 1;
            }
            std::size_t chapters = seconds >= 120 ? static_cast<std::size_t>(seconds / 60) : 3;
            benchmark::RegisterBenchmark(("ReadChapters/" + name).c_str(), Read, path, chapters)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
