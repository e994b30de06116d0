// What the per-file memory adds to opening a file through the player core,
// with 1,000 files remembered and the recording engine: a plain open (the
// memory off), an open that recalls rate and position and remembers the file
// left, and that open with the write the event loop makes after it.
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/core/Player.h"
#include "player/list/Filelist.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Files.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr std::int64_t kSecond = 10'000'000;

std::string Name(const std::string& dir, int i) {
    return dir + "/Author " + std::to_string(i % 97) + "/Book " + std::to_string(i) + ".m4b";
}

// A core started over a memory of 1,000 files in a folder of its own.
struct Bench {
    explicit Bench(bool remember) : dir(zarntest::MakeTempDir("bench-open")) {
        SettingsStore().SetFileName(dir + "/zarnplayer.ini");
        Options() = TOptions{};
        Options().RememberFiles = remember ? 1 : 0;
        FileMemory memory(dir + "/positions.txt");
        for (int i = 0; i < static_cast<int>(FileMemory::kCapacity); ++i)
            memory.Remember(Name(dir, i), {(i + 100) * kSecond, "2.6", false});
        memory.Save();
        list = std::make_unique<TFileList>(dir + "/default.lst");
        core = std::make_unique<TPlayerCore>(*list);
        engine.duration = 3600 * kSecond;
        core->SetPlayer(&engine);
        core->Start({});
    }
    ~Bench() {
        core.reset();
        list.reset();
        std::filesystem::remove_all(dir);
    }
    // Opens the next file, the one before left in mid-play.
    void OpenNext() {
        engine.state = PLAYER_PLAYING;
        engine.position = 1234 * kSecond;
        core->OpenAndPlay(Name(dir, next));
        next = (next + 389) % static_cast<int>(FileMemory::kCapacity);
        engine.calls.clear();
    }

    std::string dir;
    FakePlayer engine;
    std::unique_ptr<TFileList> list;
    std::unique_ptr<TPlayerCore> core;
    int next = 0;
};

void OpenPlain(benchmark::State& state) {
    Bench p(false);
    for (auto _ : state)
        p.OpenNext();
}
BENCHMARK(OpenPlain)->Unit(benchmark::kMicrosecond);

void OpenRemembered(benchmark::State& state) {
    Bench p(true);
    for (auto _ : state)
        p.OpenNext();
    QCoreApplication::processEvents();
}
BENCHMARK(OpenRemembered)->Unit(benchmark::kMicrosecond);

// Not on the open path: the write (fsync included) follows from the event loop.
void OpenRememberedAndWrite(benchmark::State& state) {
    Bench p(true);
    for (auto _ : state) {
        p.OpenNext();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(OpenRememberedAndWrite)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
