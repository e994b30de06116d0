#include "tests/support/FakePlayer.h"

#include "platform/numbers.h"

#include <algorithm>
#include <cstring>

int FakePlayer::Count(const std::string& c) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), c));
}

std::vector<std::string> FakePlayer::With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0)
            out.push_back(c);
    return out;
}

HRESULT FakePlayer::QueryInterface(const IID&, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG FakePlayer::AddRef() {
    return ++refs;
}

ULONG FakePlayer::Release() {
    Record("Release");
    return --refs;
}

HRESULT FakePlayer::SetWindows(Window* n, VideoWindow* v) {
    notify = n;
    video = v;
    Record("SetWindows");
    return S_OK;
}

HRESULT FakePlayer::Shutdown() {
    Record("Shutdown");
    return S_OK;
}

HRESULT FakePlayer::Open(const char* path) {
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

HRESULT FakePlayer::Close() {
    Record("Close");
    state = PLAYER_NOFILE;
    return S_OK;
}

HRESULT FakePlayer::Play() {
    return Transport("Play", PLAYER_PLAYING);
}

HRESULT FakePlayer::Stop() {
    return Transport("Stop", PLAYER_STOPPED);
}

HRESULT FakePlayer::Pause() {
    return Transport("Pause", PLAYER_PAUSED);
}

HRESULT FakePlayer::Transport(const char* command, std::int32_t to) {
    Record(command);
    if (state != PLAYER_NOFILE)
        state = to;
    return S_OK;
}

HRESULT FakePlayer::SetPosition(std::int64_t p) {
    Record("SetPosition(" + std::to_string(p) + ")");
    position = p;
    return S_OK;
}

HRESULT FakePlayer::ToggleFullScreen() {
    Record("ToggleFullScreen");
    fullScreen = !fullScreen;
    if (video)
        video->SetFullScreen(fullScreen);
    return S_OK;
}

HRESULT FakePlayer::GetState(std::int32_t* s) {
    *s = state;
    return S_OK;
}

HRESULT FakePlayer::GetDuration(std::int64_t* d) {
    *d = duration;
    return S_OK;
}

HRESULT FakePlayer::GetPosition(std::int64_t* p) {
    *p = position;
    return S_OK;
}

HRESULT FakePlayer::GetTimes(std::int64_t* p, std::int64_t* d) {
    *p = position;
    *d = duration;
    return S_OK;
}

HRESULT FakePlayer::SetVolume(std::int32_t level) {
    Record("SetVolume(" + std::to_string(level) + ")");
    return S_OK;
}

HRESULT FakePlayer::SetRate(double rate) {
    Record("SetRate(" + numbers::FormatFixed(rate, 1) + ")");
    return S_OK;
}

HRESULT FakePlayer::GetFileName(const char** path) {
    *path = fileName.c_str();
    return S_OK;
}

HRESULT FakePlayer::GetVideoSize(std::int32_t* w, std::int32_t* h) {
    *w = videoWidth;
    *h = videoHeight;
    return S_OK;
}

HRESULT FakePlayer::SetOption(std::int32_t option, std::int32_t value) {
    Record("SetOption(" + std::to_string(option) + "," + std::to_string(value) + ")");
    options.emplace_back(option, value);
    return S_OK;
}

HRESULT FakePlayer::SetLogSink(IUnknown* s) {
    Record(s ? "SetLogSink" : "SetLogSink(null)");
    if (sink)
        sink->Release();
    sink = s;
    if (sink)
        sink->AddRef();
    return S_OK;
}

HRESULT FakePlayer::Tick() {
    ++ticks;
    return S_OK;
}

HRESULT FakePlayer::HandleEvent() {
    Record("HandleEvent");
    return S_OK;
}

HRESULT FakePlayer::GetInfoText(char** buffer, std::uint32_t* size) {
    return Fill(buffer, size, info, infoResult);
}

HRESULT FakePlayer::GetExtraInfoText(char** buffer, std::uint32_t* size) {
    return Fill(buffer, size, extra, extraResult);
}

HRESULT FakePlayer::Fill(char** buffer, std::uint32_t* size, const std::string& text, HRESULT hr) {
    if (*size != 1024 || (*buffer)[0] != 0)
        return E_INVALIDARG; // the caller must hand over a fresh, zeroed buffer
    if (fillWholeBuffer)
        std::memset(*buffer, 'x', *size);
    else
        std::memcpy(*buffer, text.data(), std::min<std::size_t>(text.size(), *size - 1));
    return hr;
}
