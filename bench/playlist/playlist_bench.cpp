// Figures for the play list's bulk work: reading a long list file, sorting
// it by name, and the two tag reads the analysis makes per entry.
#include "player/list/Filelist.h"
#include "player/mediainfo/Id3.h"
#include "player/mediainfo/Riffinfo.h"
#include "tests/player/mediainfo/ChunkBytes.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

std::vector<std::string> LongList(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
        names.push_back("/home/user/Music/Artist " + std::to_string(i % 97) + "/Album " +
                        std::to_string(i % 13) + "/" + std::to_string(n - i) + " Track.mp3");
    return names;
}

void ParseList(benchmark::State& state) {
    std::string text = FormatListText(LongList(static_cast<int>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseListText(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(ParseList)->Arg(10000);

void LoadAndSortByName(benchmark::State& state) {
    auto path = std::filesystem::temp_directory_path() / ("bench-" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary)
        << FormatListText(LongList(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        TFileList list;
        list.LoadFromFile(path.string());
        list.Sort(TSortKind::ByName);
        benchmark::DoNotOptimize(list.Item(0));
        list.Finish();
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(LoadAndSortByName)->Arg(10000)->Unit(benchmark::kMillisecond);

void ReadTagsOfOneFile(benchmark::State& state) {
    using namespace testbytes;
    Bytes wave =
        List("RIFF", "WAVE",
             {Chunk("fmt ", Bytes(16, 1)), Chunk("data", Bytes(1 << 20, 0x80)),
              List("LIST", "INFO", {Chunk("INAM", Text("Name")), Chunk("IART", Text("A"))})});
    auto path = std::filesystem::temp_directory_path() / ("bench-w-" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(wave.data()),
               static_cast<std::streamsize>(wave.size()));
    for (auto _ : state) {
        TID3TAG id3(path.string());
        TRIFFINFO info(path.string());
        benchmark::DoNotOptimize(info.Found);
        benchmark::DoNotOptimize(id3.Found);
    }
    std::filesystem::remove(path);
}
BENCHMARK(ReadTagsOfOneFile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
