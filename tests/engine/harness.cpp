#include "harness.h"

#include "engine/renderer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

void FakeWindow::PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back({msg, wParam});
    }
    posted_.notify_all();
}

void FakeWindow::PresentFrame(std::shared_ptr<const VideoFrame> frame) {
    std::lock_guard<std::mutex> hold(lock_);
    ++frames_;
    last_ = std::move(frame);
}

void FakeWindow::SetFullScreen(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    fullScreen_ = on;
}

bool FakeWindow::IsFullScreen() const {
    std::lock_guard<std::mutex> hold(lock_);
    return fullScreen_;
}

bool FakeWindow::Next(Posted& out, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!posted_.wait_for(hold, timeout, [this] { return !queue_.empty(); }))
        return false;
    out = queue_.front();
    queue_.pop_front();
    return true;
}

int FakeWindow::Frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
}

std::shared_ptr<const VideoFrame> FakeWindow::LastFrame() const {
    std::lock_guard<std::mutex> hold(lock_);
    return last_;
}

HRESULT RecordingLogSink::QueryInterface(const IID& iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_ILogSink) {
        *out = static_cast<ILogSink*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT RecordingLogSink::LogError(const char* source, const char* message) {
    std::lock_guard<std::mutex> hold(lock_);
    errors_.push_back(std::string(source) + ": " + message);
    return S_OK;
}

std::string RecordingLogSink::Text() const {
    std::string text;
    for (const std::string& line : Errors())
        text += line + "\n";
    return text;
}

std::vector<std::string> RecordingLogSink::Errors() const {
    std::lock_guard<std::mutex> hold(lock_);
    return errors_;
}

EngineSession::EngineSession() {
    testing::Test::RecordProperty("audio_sink", SinkUnderTest());
    EXPECT_EQ(QRVE_Initialize(), S_OK);
    IUnknown* root = nullptr;
    EXPECT_EQ(QRVE_GetInterface(&root), S_OK);
    void* player = nullptr;
    EXPECT_EQ(root->QueryInterface(IID_IPlayer, &player), S_OK);
    root->Release();
    player_ = static_cast<IPlayer*>(player);
    player_->SetWindows(&window_, &window_);
    player_->SetLogSink(&log_);
}

EngineSession::~EngineSession() {
    player_->SetLogSink(nullptr);
    player_->Shutdown();
    player_->Release();
    QRVE_Finalize();
}

bool EngineSession::PumpOne(std::chrono::steady_clock::time_point until, std::uint32_t awaited) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    Posted posted{};
    if (!window_.Next(posted, std::max(left, std::chrono::milliseconds(0))))
        return false;
    if (posted.msg == WM_PLAYER_EVENT) {
        player_->HandleEvent();
        return false;
    }
    seen_.push_back(posted);
    return posted.msg == awaited;
}

bool EngineSession::PumpUntil(std::uint32_t msg, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until)
        if (PumpOne(until, msg))
            return true;
    return false;
}

void EngineSession::PumpFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until)
        PumpOne(until, 0);
}

double EngineSession::PositionSeconds() {
    std::int64_t position = -1;
    EXPECT_EQ(player_->GetPosition(&position), S_OK);
    return double(position) / 1e7;
}

double EngineSession::DurationSeconds() {
    std::int64_t duration = -1;
    EXPECT_EQ(player_->GetDuration(&duration), S_OK);
    return double(duration) / 1e7;
}

std::int32_t EngineSession::State() {
    std::int32_t state = 0;
    EXPECT_EQ(player_->GetState(&state), S_OK);
    return state;
}

const char* SinkUnderTest() {
    static const char* sink = [] {
        const char* build = std::getenv("ZARN_BUILD_DIR");
        struct stat st {};
        const bool built =
            build &&
            stat((std::string(build) + "/lib/gstreamer-1.0/libgstzarnaudio.so").c_str(), &st) == 0;
        const char* chosen = std::getenv(ZARN_ENGINE_AUDIO_SINK_ENV);
        if (chosen && *chosen) {
            std::printf("[engine] audio sink under test: %s (override from the environment)\n",
                        chosen);
            return chosen;
        }
        if (!built)
            setenv(ZARN_ENGINE_AUDIO_SINK_ENV, "fakesink", 1);
        const char* which = built ? "zarnaudiosink" : "fakesink";
        std::printf("[engine] audio sink under test: %s%s\n", which,
                    built ? " (the renderer plugin in the build tree)"
                          : " (override: the renderer plugin is not built)");
        return which;
    }();
    return sink;
}
