// An engine stand-in for the window tests: answers like a small engine and
// records every command the window gives it.
#pragma once

#include "platform/numbers.h"
#include "engine/include/IPlayer.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

class FakePlayer final : public IPlayer {
public:
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
    VideoWindow* video = nullptr;
    int ticks = 0;

    void Record(std::string c) { calls.push_back(std::move(c)); }
    int Count(const std::string& c) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), c));
    }
    bool Has(const std::string& c) const { return Count(c) > 0; }
    // The calls that start with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        return out;
    }

    HRESULT QueryInterface(const IID&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT SetWindows(Window*, VideoWindow* v) override {
        video = v;
        Record("SetWindows");
        return S_OK;
    }
    HRESULT Shutdown() override {
        Record("Shutdown");
        return S_OK;
    }
    HRESULT Open(const char* path) override {
        Record("Open(" + std::string(path) + ")");
        if (std::find(unplayable.begin(), unplayable.end(), path) != unplayable.end())
            return E_FAIL;
        if (openResult == S_OK) {
            fileName = path;
            state = PLAYER_STOPPED;
            position = 0;
        }
        return openResult;
    }
    HRESULT Close() override {
        Record("Close");
        state = PLAYER_NOFILE;
        return S_OK;
    }
    HRESULT Play() override {
        Record("Play");
        if (state != PLAYER_NOFILE)
            state = PLAYER_PLAYING;
        return S_OK;
    }
    HRESULT Stop() override {
        Record("Stop");
        if (state != PLAYER_NOFILE)
            state = PLAYER_STOPPED;
        return S_OK;
    }
    HRESULT Pause() override {
        Record("Pause");
        if (state != PLAYER_NOFILE)
            state = PLAYER_PAUSED;
        return S_OK;
    }
    HRESULT SetPosition(std::int64_t p) override {
        Record("SetPosition(" + std::to_string(p) + ")");
        position = p;
        return S_OK;
    }
    HRESULT ToggleFullScreen() override {
        Record("ToggleFullScreen");
        fullScreen = !fullScreen;
        if (video)
            video->SetFullScreen(fullScreen);
        return S_OK;
    }
    bool IsAudioOnly() override { return audioOnly; }
    bool IsFullScreen() override { return fullScreen; }
    HRESULT GetState(std::int32_t* s) override {
        *s = state;
        return S_OK;
    }
    HRESULT GetDuration(std::int64_t* d) override {
        *d = duration;
        return S_OK;
    }
    HRESULT GetPosition(std::int64_t* p) override {
        *p = position;
        return S_OK;
    }
    HRESULT GetTimes(std::int64_t* p, std::int64_t* d) override {
        *p = position;
        *d = duration;
        return S_OK;
    }
    HRESULT SetVolume(std::int32_t level) override {
        Record("SetVolume(" + std::to_string(level) + ")");
        return S_OK;
    }
    HRESULT SetRate(double rate) override {
        Record("SetRate(" + numbers::FormatFixed(rate, 1) + ")");
        return S_OK;
    }
    HRESULT GetFileName(const char** path) override {
        *path = fileName.c_str();
        return S_OK;
    }
    HRESULT GetVideoSize(std::int32_t* w, std::int32_t* h) override {
        *w = videoWidth;
        *h = videoHeight;
        return S_OK;
    }
    HRESULT SetOption(std::int32_t option, std::int32_t value) override {
        Record("SetOption(" + std::to_string(option) + "," + std::to_string(value) + ")");
        return S_OK;
    }
    HRESULT SetLogSink(IUnknown*) override { return S_OK; }
    HRESULT UpdateVideoWindow() override { return S_OK; }
    HRESULT Tick() override {
        ++ticks;
        return S_OK;
    }
    HRESULT HandleEvent() override {
        Record("HandleEvent");
        return S_OK;
    }
    HRESULT GetInfoText(char**, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT GetExtraInfoText(char**, std::uint32_t*) override { return E_NOTIMPL; }
};
