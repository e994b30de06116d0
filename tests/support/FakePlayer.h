// The engine stand-in every test program uses: answers like a small engine,
// records each command it is given (in order, as text) and lets a test set
// what it reports.
#pragma once

#include "engine/include/IPlayer.h"

#include <string>
#include <utility>
#include <vector>

class FakePlayer final : public IPlayer {
public:
    // Every command, e.g. "Open(/a.mp3)", "SetRate(1.5)", "SetOption(1,0)", "Release".
    std::vector<std::string> calls;
    std::int32_t state = PLAYER_NOFILE;
    std::int64_t position = 0;
    std::int64_t duration = 0;
    std::int32_t videoWidth = 0;
    std::int32_t videoHeight = 0;
    bool audioOnly = true;
    bool fullScreen = false;
    std::string fileName;
    HRESULT openResult = S_OK;
    // Names that open as a damaged file does.
    std::vector<std::string> unplayable;
    Window* notify = nullptr;
    VideoWindow* video = nullptr;
    int ticks = 0;
    int refs = 0;
    // The log sink the engine holds a reference on.
    IUnknown* sink = nullptr;
    // SetOption's (option, value) pairs.
    std::vector<std::pair<std::int32_t, std::int32_t>> options;
    // What GetInfoText and GetExtraInfoText copy and answer.
    std::string info = "engine 1.0";
    HRESULT infoResult = S_OK;
    std::string extra = "extra text";
    HRESULT extraResult = S_OK;
    bool fillWholeBuffer = false; // an engine that leaves no terminating zero

    void Record(std::string c) { calls.push_back(std::move(c)); }
    int Count(const std::string& c) const;
    bool Has(const std::string& c) const { return Count(c) > 0; }
    // The calls that start with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const;

    HRESULT QueryInterface(const IID&, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetWindows(Window* n, VideoWindow* v) override;
    HRESULT Shutdown() override;
    HRESULT Open(const char* path) override;
    HRESULT Close() override;
    HRESULT Play() override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT SetPosition(std::int64_t p) override;
    HRESULT ToggleFullScreen() override;
    bool IsAudioOnly() override { return audioOnly; }
    bool IsFullScreen() override { return fullScreen; }
    HRESULT GetState(std::int32_t* s) override;
    HRESULT GetDuration(std::int64_t* d) override;
    HRESULT GetPosition(std::int64_t* p) override;
    HRESULT GetTimes(std::int64_t* p, std::int64_t* d) override;
    HRESULT SetVolume(std::int32_t level) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetFileName(const char** path) override;
    HRESULT GetVideoSize(std::int32_t* w, std::int32_t* h) override;
    HRESULT SetOption(std::int32_t option, std::int32_t value) override;
    HRESULT SetLogSink(IUnknown* s) override;
    HRESULT UpdateVideoWindow() override { return S_OK; }
    HRESULT Tick() override;
    HRESULT HandleEvent() override;
    HRESULT GetInfoText(char** buffer, std::uint32_t* size) override;
    HRESULT GetExtraInfoText(char** buffer, std::uint32_t* size) override;

private:
    // A play, stop or pause: recorded, and the state it leads to once a file is open.
    HRESULT Transport(const char* command, std::int32_t to);
    HRESULT Fill(char** buffer, std::uint32_t* size, const std::string& text, HRESULT hr);
};
