// What the per-file memory adds to opening a file, with 1,000 files
// remembered: reading positions.txt, finding and updating entries, and
// writing the memory back atomically (to the disk, fsync included).
#include "player/core/FileMemory.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

std::string Name(int i) {
    return "/home/user/Audiobooks/Author " + std::to_string(i % 97) + "/Book " + std::to_string(i) +
           "/Part " + std::to_string(i % 13) + ".m4b";
}

FileMemory Full(const std::string& file) {
    FileMemory memory(file);
    for (int i = 0; i < static_cast<int>(FileMemory::kCapacity); ++i)
        memory.Remember(Name(i), {static_cast<std::int64_t>(i) * 123'456'789, "2.6", i % 7 == 0});
    return memory;
}

// In the benchmark's own folder under the temporary folder (a real disk
// where /tmp is one), so the fsync costs what it costs.
std::string File() {
    static const std::string file =
        (std::filesystem::temp_directory_path() / ("bench-positions-" + std::to_string(::getpid())))
            .string();
    return file;
}

void Load(benchmark::State& state) {
    Full(File()).Save();
    for (auto _ : state) {
        FileMemory memory(File());
        benchmark::DoNotOptimize(memory.Load());
    }
    std::filesystem::remove(File());
}
BENCHMARK(Load)->Unit(benchmark::kMicrosecond);

void Lookup(benchmark::State& state) {
    FileMemory memory = Full(File());
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(memory.Find(Name(i)));
        i = (i + 389) % static_cast<int>(FileMemory::kCapacity);
    }
}
BENCHMARK(Lookup)->Unit(benchmark::kMicrosecond);

void Save(benchmark::State& state) {
    FileMemory memory = Full(File());
    for (auto _ : state)
        memory.Save();
    std::filesystem::remove(File());
}
BENCHMARK(Save)->Unit(benchmark::kMicrosecond);

// What the open path itself adds with the memory loaded at start-up: the
// file left is remembered, the file opened is found.
void OpenRemembered(benchmark::State& state) {
    FileMemory memory = Full(File());
    int i = 0;
    for (auto _ : state) {
        memory.Remember(Name(i), {42, "1.4", false});
        i = (i + 389) % static_cast<int>(FileMemory::kCapacity);
        benchmark::DoNotOptimize(memory.Find(Name(i)));
    }
}
BENCHMARK(OpenRemembered)->Unit(benchmark::kMicrosecond);

// The worst case: the file read, the entry found and updated, the file
// written back, all on the open path.
void LoadFindRememberSave(benchmark::State& state) {
    Full(File()).Save();
    int i = 0;
    for (auto _ : state) {
        FileMemory memory(File());
        memory.Load();
        auto entry = memory.Find(Name(i));
        entry->position += 1;
        memory.Remember(Name(i), *entry);
        memory.Save();
        i = (i + 389) % static_cast<int>(FileMemory::kCapacity);
    }
    std::filesystem::remove(File());
}
BENCHMARK(LoadFindRememberSave)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
