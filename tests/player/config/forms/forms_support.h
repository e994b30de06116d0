// What the dialog tests share: one application object, an engine that
// records what the dialogs ask of it, and screenshots kept as artifacts.
#pragma once

#include "engine/include/IPlayer.h"

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "test_configforms";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics may already be gone at exit.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Saves the widget as it is drawn to ${ZARN_BUILD_DIR}/artifacts/<name>.png.
inline bool SaveScreenshot(QWidget& w, const QString& name) {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    QString dir = QString(build ? build : ".") + "/artifacts";
    QDir().mkpath(dir);
    return w.grab().save(dir + "/" + name + ".png");
}

struct FakePlayer final : IPlayer {
    std::vector<std::pair<std::int32_t, std::int32_t>> options;
    std::string info = "engine 1.0";
    HRESULT infoResult = S_OK;
    std::string extra = "extra text";
    HRESULT extraResult = S_OK;
    bool fillWholeBuffer = false; // an engine that leaves no terminating zero

    HRESULT QueryInterface(const IID&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetWindows(Window*, VideoWindow*) override { return E_NOTIMPL; }
    HRESULT Shutdown() override { return E_NOTIMPL; }
    HRESULT Open(const char*) override { return E_NOTIMPL; }
    HRESULT Close() override { return E_NOTIMPL; }
    HRESULT Play() override { return E_NOTIMPL; }
    HRESULT Stop() override { return E_NOTIMPL; }
    HRESULT Pause() override { return E_NOTIMPL; }
    HRESULT SetPosition(std::int64_t) override { return E_NOTIMPL; }
    HRESULT ToggleFullScreen() override { return E_NOTIMPL; }
    bool IsAudioOnly() override { return true; }
    bool IsFullScreen() override { return false; }
    HRESULT GetState(std::int32_t*) override { return E_NOTIMPL; }
    HRESULT GetDuration(std::int64_t*) override { return E_NOTIMPL; }
    HRESULT GetPosition(std::int64_t*) override { return E_NOTIMPL; }
    HRESULT GetTimes(std::int64_t*, std::int64_t*) override { return E_NOTIMPL; }
    HRESULT SetVolume(std::int32_t) override { return E_NOTIMPL; }
    HRESULT SetRate(double) override { return E_NOTIMPL; }
    HRESULT GetFileName(const char**) override { return E_NOTIMPL; }
    HRESULT GetVideoSize(std::int32_t*, std::int32_t*) override { return E_NOTIMPL; }
    HRESULT SetOption(std::int32_t option, std::int32_t value) override {
        options.emplace_back(option, value);
        return S_OK;
    }
    HRESULT SetLogSink(IUnknown*) override { return E_NOTIMPL; }
    HRESULT UpdateVideoWindow() override { return E_NOTIMPL; }
    HRESULT Tick() override { return E_NOTIMPL; }
    HRESULT HandleEvent() override { return E_NOTIMPL; }
    HRESULT GetInfoText(char** buffer, std::uint32_t* size) override {
        return fill(buffer, size, info, infoResult);
    }
    HRESULT GetExtraInfoText(char** buffer, std::uint32_t* size) override {
        return fill(buffer, size, extra, extraResult);
    }

private:
    HRESULT fill(char** buffer, std::uint32_t* size, const std::string& text, HRESULT hr) {
        if (*size != 1024 || (*buffer)[0] != 0)
            return E_INVALIDARG; // the dialog must hand over a fresh, zeroed buffer
        if (fillWholeBuffer)
            std::memset(*buffer, 'x', *size);
        else
            std::memcpy(*buffer, text.data(), std::min<size_t>(text.size(), *size - 1));
        return hr;
    }
};
