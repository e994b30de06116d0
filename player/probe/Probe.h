// The player's side of the probe: starts the probe program when the first
// file is asked for, hands it each file as an open descriptor and checks
// its answer. A probe that crashes, is killed, overruns its time or answers
// badly is ended and reaped, its failure said in words, and the next file
// starts a new one. Used from one thread at a time.
#pragma once

#include "player/probe/Answer.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TProbe {
public:
    // The time one file may take before the probe is ended.
    static constexpr std::chrono::milliseconds FileTime{2000};
    // The time a new probe may take to set itself up.
    static constexpr std::chrono::milliseconds StartTime{10000};
    // Names another probe program (tests).
    static constexpr const char* PathEnv = "ZARNPLAYER_PROBE";

    // cancelled: asked while waiting; true ends the wait as a failure.
    explicit TProbe(std::string program = ProgramPath(), std::function<bool()> cancelled = nullptr);
    ~TProbe();
    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    struct Outcome {
        std::optional<TProbeAnswer> Answer;
        std::string Failure; // set when there is no answer
    };
    // Reads the open regular file fd (left open) through the probe; name
    // only labels it. Once a probe could not be started, no further one is
    // tried: each later file gets no answer and no failure of its own.
    Outcome Read(int fd, const std::string& name);

    struct Measurement {
        double Seconds = 0; // of sound from the start; 0 for the whole file
        bool TruePeak = true;
        // CPU seconds the probe may spend (at most probe::MaxMeasureCpu);
        // the wait for the answer is bounded by a multiple of them.
        unsigned CpuSeconds = 2;
    };
    struct Measured {
        std::optional<TProbeLoudness> Answer;
        std::string Failure; // set when there is no answer
    };
    // Measures the open regular file fd (left open) through the probe, as
    // Read reads it.
    Measured Measure(int fd, const std::string& name, const Measurement& what);
    // The wall-clock bound of a measurement given cpu seconds.
    static std::chrono::milliseconds MeasureTime(unsigned cpuSeconds);

    // Starts a probe now unless one runs, so the first file need not wait
    // for its start; a failure is said with the next file.
    void Prepare();

    // The running probe's process id, or -1.
    pid_t Pid() const { return pid_; }

    // $ZARNPLAYER_PROBE, else zarnplayer-probe in the private folder beside
    // the engine (lib/ of the build tree, or the installed copy's).
    static std::string ProgramPath();

private:
    bool Start(std::string& failure);
    // Ends the probe (killing it unless it has ended) and says how it ended.
    std::string End(bool kill);
    // Reads exactly size bytes before the deadline; false on end, error,
    // time-out or cancel (timedOut tells which).
    bool Receive(void* data, std::size_t size, std::chrono::steady_clock::time_point deadline,
                 bool& timedOut);
    // One request and its whole answer's bytes, checked only for size by
    // bodySize; on failure the message is empty and failure says why (or
    // nothing, when the owner called it off or no probe could start).
    using BodySizeOf =
        std::optional<std::size_t> (*)(std::span<const std::uint8_t, probeanswer::HeaderSize>);
    std::vector<std::uint8_t> Exchange(int fd, const std::string& name,
                                       const std::vector<char>& request,
                                       std::chrono::milliseconds time, BodySizeOf bodySize,
                                       std::string& failure);

    const std::string program_;
    const std::function<bool()> cancelled_;
    pid_t pid_ = -1;
    int socket_ = -1;
    bool startFailed_ = false;
    std::string prepareFailure_; // Prepare's, for the next file to say
};
