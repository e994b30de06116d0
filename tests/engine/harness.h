// What the engine's tests stand in for: the program's windows (recording
// posted messages from any thread, as the GUI's queue does), its log sink,
// and the GUI loop that calls HandleEvent when WM_PLAYER_EVENT arrives.
#pragma once

#include "engine/include/IPlayer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct Posted {
    std::uint32_t msg;
    std::uintptr_t wParam;
};

class FakeWindow final : public VideoWindow {
public:
    void PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t) override;
    void PresentFrame(std::shared_ptr<const VideoFrame> frame) override;
    void SetFullScreen(bool on) override;
    bool IsFullScreen() const override;

    // Takes the next posted message, waiting up to timeout; false when none came.
    bool Next(Posted& out, std::chrono::milliseconds timeout);
    int Frames() const;
    std::shared_ptr<const VideoFrame> LastFrame() const;

private:
    mutable std::mutex lock_;
    std::condition_variable posted_;
    std::deque<Posted> queue_;
    int frames_ = 0;
    std::shared_ptr<const VideoFrame> last_;
    bool fullScreen_ = false;
};

class RecordingLogSink final : public ILogSink {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }
    HRESULT LogDebug(const char*, const char*) override { return S_OK; }
    HRESULT LogTrace(const char*, const char*) override { return S_OK; }
    HRESULT LogError(const char* source, const char* message) override;

    std::vector<std::string> Errors() const;
    // All errors, one a line, for failure messages.
    std::string Text() const;
    int References() const { return refs_; }

private:
    mutable std::mutex lock_;
    std::vector<std::string> errors_;
    std::atomic<int> refs_{0};
};

// One engine session as the program runs it, and its GUI loop.
class EngineSession {
public:
    EngineSession();
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    IPlayer* operator->() const { return player_; }
    IPlayer* Player() const { return player_; }
    FakeWindow& Win() { return window_; }
    RecordingLogSink& Log() { return log_; }

    // Runs the loop until msg was posted; false on time-out.
    bool PumpUntil(std::uint32_t msg, std::chrono::milliseconds timeout);
    // Runs the loop for the given time.
    void PumpFor(std::chrono::milliseconds time);
    // Messages seen by the loop, WM_PLAYER_EVENT left out.
    const std::vector<Posted>& Seen() const { return seen_; }

    double PositionSeconds();
    double DurationSeconds();
    std::int32_t State();

private:
    bool PumpOne(std::chrono::steady_clock::time_point until, std::uint32_t awaited);

    FakeWindow window_;
    RecordingLogSink log_;
    IPlayer* player_ = nullptr;
    std::vector<Posted> seen_;
};

// The audio sink the engine's tests run against: the renderer when the build
// tree holds its plugin, otherwise fakesink through the engine's override.
const char* SinkUnderTest();
