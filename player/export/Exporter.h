// Runs one export job: the input is decoded and played through the player's
// renderer element (zarnaudiosink, the same tempo stage and flags) onto the
// capture device, which does not wait for real time. A WAV output is
// captured straight into a temporary file beside the output; for the other
// formats an encoder takes the capture as it grows. Title and artist go
// along, and the temporary file is renamed into place only when it is
// complete and as long as the input at the rate.
#pragma once

#include "player/export/Leftovers.h"
#include "player/export/Request.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TLoudnessCache;

namespace exporter {

struct Progress {
    double fraction = -1;     // of the whole job, -1 while the length is unknown
    double inputSeconds = 0;  // of the input done
    double outputSeconds = 0; // of sound captured, when done
    double elapsed = 0;       // wall-clock seconds since the job began
    bool done = false;
};
using ProgressSink = std::function<void(const Progress&)>;

// Set by the signal handlers; every job stops, removes its files and fails.
std::atomic<bool>& Interrupted();

class Exporter {
public:
    Exporter() = default;
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;
    // Removes the capture folder.
    ~Exporter();

    // Before GStreamer starts: a private folder for the capture (after
    // removing those of exports that died), and the renderer pointed at it.
    // Then GStreamer and the renderer's plugin. False with `error` set when
    // any of them is missing.
    bool Init(std::string& error);

    // Levelling of the jobs that follow: each input is brought to target
    // LUFS with the limiter on, from the figure kept in cache (may be null)
    // or measured first; nothing leaves the level alone. An input that
    // cannot be measured is exported at its own level, said on stderr.
    void SetLevel(std::optional<int> target, TLoudnessCache* cache);

    // "" on success, else the reason (one line, without the file name).
    std::string Run(const Job& job, double rate, std::int32_t flags, const ProgressSink& progress);
    // After a Run that succeeded: why its output was not levelled, or "".
    const std::string& LevelNote() const { return levelNote_; }

private:
    // The gain for the input, hundredths of a dB; 0 with why set when it
    // cannot be measured.
    std::int32_t LevelGain(const std::string& input, std::string& why);

    std::optional<int> level_;
    std::string levelNote_;
    TLoudnessCache* cache_ = nullptr;
    HeldLock captureLock_;
    std::string captureDir_;
    std::string capturePath_;
};

} // namespace exporter
