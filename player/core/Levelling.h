// The player's background measurement: one thread that measures, through a
// probe of its own, the file about to play first (a quick estimate of its
// opening, then the whole file) and then the files after it in the list,
// each once: whole figures go into the cache, which is written after each.
// Results wait for the GUI thread, which a hook wakes.
#pragma once

#include "player/loudness/Cache.h"
#include "player/loudness/Figure.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TLevelling {
public:
    // Seconds of the opening the estimate covers, and the CPU it may take.
    static constexpr double EstimateSeconds = 30;
    static constexpr unsigned EstimateCpu = 2;

    struct Result {
        std::string Path;
        std::optional<TLoudnessFigure> Figure;
        std::string Failure; // in words, when there is no figure
    };

    // ready: called on the measuring thread when results wait; must return
    // without waiting for the GUI. program: the probe to measure with.
    TLevelling(TLoudnessCache& cache, std::function<void()> ready, std::string program);
    ~TLevelling();
    TLevelling(const TLevelling&) = delete;
    TLevelling& operator=(const TLevelling&) = delete;

    // GUI thread: the file about to play (estimate first unless the cache
    // has it) and the files after it; replaces what was waiting and calls
    // off a measurement of another file.
    void Want(const std::string& playing, const std::vector<std::string>& next);
    // GUI thread: the results that arrived since the last call.
    std::vector<Result> Take();
    // How many measurements the probe made (estimates included).
    int Measured() const;
    // Ends the thread after calling off its measurement.
    void Stop();

    // CPU seconds a whole measurement of a file of size bytes may take.
    static unsigned CpuFor(std::uint64_t size);

private:
    struct Job {
        std::string path;
        bool estimate = false;
    };
    void Run();

    TLoudnessCache& cache_;
    const std::function<void()> ready_;
    const std::string program_;
    mutable std::mutex m_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::optional<Job> busy_; // being measured
    std::vector<Result> results_;
    std::uint64_t generation_ = 0;
    bool stop_ = false;
    int measured_ = 0;
    std::thread thread_;
};
