#include "player/shell/Session.h"

#include "player/config/Debug.h"
#include "player/config/Option.h"
#include "player/list/Random.h"

#include <cstdio>

TEngineSession::~TEngineSession() {
    Close();
}

std::string TEngineSession::Open() {
    const HRESULT hr = entries_.Initialize();
    if (FAILED(hr)) {
        char text[128];
        std::snprintf(text, sizeof text, "The playback engine could not be started (error 0x%08X).",
                      static_cast<unsigned>(hr));
        return text;
    }
    initialized_ = true;
    IUnknown* root = nullptr;
    entries_.GetInterface(&root);
    if (root) {
        void* player = nullptr;
        if (root->QueryInterface(IID_IPlayer, &player) == S_OK)
            player_ = static_cast<IPlayer*>(player);
        root->Release();
    }
    if (!player_) {
        entries_.Finalize();
        initialized_ = false;
        return root ? "The playback engine does not offer a player."
                    : "The playback engine gave no interface.";
    }
    return {};
}

void TEngineSession::Attach(Window* notify, VideoWindow* video) {
    RandomizeFromTime();
    player_->SetWindows(notify, video);
    // The sink keeps one reference of the program's that is never given
    // back, so the process-wide instance is never freed.
    LogSink().AddRef();
    void* sink = nullptr;
    if (LogSink().QueryInterface(IID_ILogSink, &sink) == S_OK) {
        logSink_ = static_cast<ILogSink*>(sink);
        void* unknown = nullptr;
        if (logSink_->QueryInterface(IID_IUnknown, &unknown) == S_OK) {
            player_->SetLogSink(static_cast<IUnknown*>(unknown));
            static_cast<IUnknown*>(unknown)->Release();
        }
    }
    Options().Load();
    attached_ = true;
}

void TEngineSession::Close() {
    if (!initialized_)
        return;
    initialized_ = false;
    if (attached_) {
        try {
            Options().Save();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zarnplayer: the options could not be saved: %s\n", e.what());
        }
    }
    attached_ = false;
    player_->SetLogSink(nullptr);
    if (logSink_) {
        logSink_->Release();
        logSink_ = nullptr;
    }
    player_->Shutdown();
    player_->Release();
    player_ = nullptr;
    entries_.Finalize();
}
