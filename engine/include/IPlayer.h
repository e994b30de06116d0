// The playback engine's public contract, what a program may rely on: the exported entry
// points, the player interface, the log sink the program hands over, and the
// messages the engine posts to the notification window.
#pragma once

#include "platform/com.h"
#include "platform/window.h"

#include <cstdint>

// Messages the engine posts to the notification window.
inline constexpr std::uint32_t WM_PLAYER_EVENT = 0x500;
inline constexpr std::uint32_t WM_PLAYER_OPENED = 0x501;
inline constexpr std::uint32_t WM_PLAYER_CLOSED = 0x502;   // wParam: full screen was on
inline constexpr std::uint32_t WM_PLAYER_COMPLETE = 0x503; // wParam: 1 when an error ended it

// States GetState reports; anything else means no playable file.
inline constexpr std::int32_t PLAYER_STOPPED = 1;
inline constexpr std::int32_t PLAYER_PAUSED = 2;
inline constexpr std::int32_t PLAYER_PLAYING = 3;
inline constexpr std::int32_t PLAYER_NOFILE = 5;

// Engine option numbers for SetOption.
inline constexpr std::int32_t PLAYER_OPTION_SKIP_SILENCE = 1;
inline constexpr std::int32_t PLAYER_OPTION_SMOOTH_SPLICES = 2;
// Loudness gain in hundredths of a decibel (-4000 to 2400; others are
// refused), kept across Open: for a file not yet heard it applies at once,
// for the file playing it glides.
inline constexpr std::int32_t PLAYER_OPTION_LOUDNESS_GAIN = 3;
// 1 runs the true-peak limiter (-1 dBTP) after the gain; kept across Open.
inline constexpr std::int32_t PLAYER_OPTION_LIMITER = 4;

// {5E0C3A71-2B7D-4F0A-9C61-0D8E4B7F21A3}
inline constexpr IID IID_IPlayer = {
    0x5E0C3A71, 0x2B7D, 0x4F0A, {0x9C, 0x61, 0x0D, 0x8E, 0x4B, 0x7F, 0x21, 0xA3}};

// {B2DEE5A9-ED7F-4C27-BF08-3AF9C9C0D90E}
inline constexpr IID IID_ILogSink = {
    0xB2DEE5A9, 0xED7F, 0x4C27, {0xBF, 0x08, 0x3A, 0xF9, 0xC9, 0xC0, 0xD9, 0x0E}};

// Diagnostic reports; any thread may call them.
struct ILogSink : IUnknown {
    virtual HRESULT LogDebug(const char* source, const char* message) = 0;
    virtual HRESULT LogTrace(const char* source, const char* message) = 0;
    virtual HRESULT LogError(const char* source, const char* message) = 0;

protected:
    ~ILogSink() = default;
};

// Times are signed counts of 100 ns; a status of 0 is success.
struct IPlayer : IUnknown {
    virtual HRESULT SetWindows(Window* notify, VideoWindow* video) = 0;
    virtual HRESULT Shutdown() = 0;
    virtual HRESULT Open(const char* path) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT Play() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT SetPosition(std::int64_t position) = 0;
    virtual HRESULT ToggleFullScreen() = 0;
    virtual bool IsAudioOnly() = 0;
    virtual bool IsFullScreen() = 0;
    virtual HRESULT GetState(std::int32_t* state) = 0;
    virtual HRESULT GetDuration(std::int64_t* duration) = 0;
    virtual HRESULT GetPosition(std::int64_t* position) = 0;
    virtual HRESULT GetTimes(std::int64_t* position, std::int64_t* duration) = 0;
    virtual HRESULT SetVolume(std::int32_t level) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    // The text stays the engine's; copy it at once.
    virtual HRESULT GetFileName(const char** path) = 0;
    virtual HRESULT GetVideoSize(std::int32_t* width, std::int32_t* height) = 0;
    virtual HRESULT SetOption(std::int32_t option, std::int32_t value) = 0;
    virtual HRESULT SetLogSink(IUnknown* sink) = 0;
    virtual HRESULT UpdateVideoWindow() = 0;
    virtual HRESULT Tick() = 0;
    virtual HRESULT HandleEvent() = 0;
    // Fills the caller's zeroed buffer of *size bytes with zero-terminated text.
    virtual HRESULT GetInfoText(char** buffer, std::uint32_t* size) = 0;
    virtual HRESULT GetExtraInfoText(char** buffer, std::uint32_t* size) = 0;

protected:
    ~IPlayer() = default;
};

extern "C" {
HRESULT QRVE_Initialize();
HRESULT QRVE_GetInterface(IUnknown** root);
HRESULT QRVE_Finalize();
}
