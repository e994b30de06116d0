// The engine's player: one playbin per open file, with the renderer as its
// audio sink and an appsink for video, driven through IPlayer. All IPlayer
// calls come from one thread (the program's GUI thread); GStreamer's threads
// only post WM_PLAYER_EVENT and present video frames.
#pragma once

#include "engine/include/IPlayer.h"
#include "engine/renderer.h"
#include "engine/video.h"

#include <gst/gst.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class Player final : public IPlayer {
public:
    Player();

    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SetWindows(Window* notify, VideoWindow* video) override;
    HRESULT Shutdown() override;
    HRESULT Open(const char* path) override;
    HRESULT Close() override;
    HRESULT Play() override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT SetPosition(std::int64_t position) override;
    HRESULT ToggleFullScreen() override;
    bool IsAudioOnly() override;
    bool IsFullScreen() override;
    HRESULT GetState(std::int32_t* state) override;
    HRESULT GetDuration(std::int64_t* duration) override;
    HRESULT GetPosition(std::int64_t* position) override;
    HRESULT GetTimes(std::int64_t* position, std::int64_t* duration) override;
    HRESULT SetVolume(std::int32_t level) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetFileName(const char** path) override;
    HRESULT GetVideoSize(std::int32_t* width, std::int32_t* height) override;
    HRESULT SetOption(std::int32_t option, std::int32_t value) override;
    HRESULT SetLogSink(IUnknown* sink) override;
    HRESULT UpdateVideoWindow() override;
    HRESULT Tick() override;
    HRESULT HandleEvent() override;
    HRESULT GetInfoText(char** buffer, std::uint32_t* size) override;
    HRESULT GetExtraInfoText(char** buffer, std::uint32_t* size) override;

private:
    ~Player();

    // The pipeline of one open file.
    struct Session {
        GstElement* playbin = nullptr;
        AudioOutput audio;
        VideoOutput video;
        bool hasAudio = false;
        bool hasVideo = false;
        bool missingPlugin = false;
        bool failed = false;
        std::int64_t duration = 0; // 100 ns; 0 while unknown
        bool scanned = false;      // duration measured by parsing the whole file
    };

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void Log(bool error, const std::string& message);
    GstMessage* NextMessage();
    void DropMessages();
    // Handles every queued bus message; stale end-of-stream is dropped before a seek.
    void DrainBus(bool dropEndOfStream);
    void HandleMessage(GstMessage* message, bool dropEndOfStream);
    bool WaitPrerolled(unsigned timeoutMs);
    // Seeks the open file accurately to position (100 ns), carrying the
    // playback rate when the renderer cannot.
    bool Seek(std::int64_t position);
    bool RateBySeek() const;
    std::int64_t QueryPosition();
    std::int64_t Duration();
    void Teardown();
    HRESULT SetLoudnessOption(std::int32_t option, std::int32_t value);
    std::string StreamInfo() const;

    std::atomic<std::int32_t> refs_{1};
    std::atomic<Window*> notify_{nullptr};
    VideoWindow* video_ = nullptr;
    // Leaf lock: bus messages wait here for the GUI thread, and the flag
    // says a WM_PLAYER_EVENT for them is already on its way.
    std::mutex messageLock_;
    std::deque<GstMessage*> messages_;
    bool eventPosted_ = false;

    // Leaf lock: the log sink may be replaced while a report is made.
    std::mutex logLock_;
    ILogSink* log_ = nullptr;

    std::unique_ptr<Session> session_;
    std::string fileName_;
    std::int32_t state_ = PLAYER_NOFILE;
    bool ended_ = false;
    std::int64_t heldPosition_ = 0; // the position while not playing
    double rate_ = 1.0;
    std::int32_t flags_ = 0;
    std::int32_t level_ = 0;
    std::int32_t loudnessGain_ = 0; // hundredths of a decibel
    bool limiter_ = false;
};
