// The renderer's rate interface, shared by the renderer element and the
// engine that drives it, and the names under which the element mirrors it
// as GObject properties.
#pragma once

#include "platform/com.h"

#include <cstdint>

// {1CED00E6-88F0-4E68-9865-C1924B80A30B}
inline constexpr CLSID CLSID_AudioRenderer = {
    0x1CED00E6, 0x88F0, 0x4E68, {0x98, 0x65, 0xC1, 0x92, 0x4B, 0x80, 0xA3, 0x0B}};

// {AA757CED-9ED4-468C-A5A7-4E00FA1F8FFE}
inline constexpr IID IID_IZarnRate = {
    0xAA757CED, 0x9ED4, 0x468C, {0xA5, 0xA7, 0x4E, 0x00, 0xFA, 0x1F, 0x8F, 0xFE}};

// Flag bits of SetFlags.
inline constexpr std::int32_t ZARN_FLAG_SKIP_SILENCE = 1; // race through silent blocks
inline constexpr std::int32_t ZARN_FLAG_ADAPTIVE = 2;     // adapt the ratio to similarity
inline constexpr std::int32_t ZARN_FLAG_SMOOTH = 4;       // search each splice, fade 0 to 1

struct IZarnRate : IUnknown {
    virtual HRESULT GetRate(double* rate) = 0;
    // E_INVALIDARG for a rate the tempo change cannot play; the old one stays.
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetFlags(std::int32_t* flags) = 0;
    virtual HRESULT SetFlags(std::int32_t flags) = 0;
    // -1 while not streaming; else 0 opened or stopped, 1 playing, 2 starved.
    virtual HRESULT GetOutputState(std::int32_t* state) = 0;

protected:
    ~IZarnRate() = default;
};

// The element: factory name and its properties.
inline constexpr const char* ZARN_SINK_FACTORY = "zarnaudiosink";
inline constexpr const char* ZARN_PROP_RATE = "rate";                 // gdouble
inline constexpr const char* ZARN_PROP_FLAGS = "flags";               // gint
inline constexpr const char* ZARN_PROP_OUTPUT_STATE = "output-state"; // gint, read-only
// Volume in hundredths of a decibel, 0 full, -10000 silent (gint). Not
// "volume": playbin would take that for its own linear volume.
inline constexpr const char* ZARN_PROP_LEVEL = "level";
inline constexpr const char* ZARN_PROP_RATE_INTERFACE = "rate-interface"; // IZarnRate*, read-only
inline constexpr const char* ZARN_PROP_VENDOR_INFO = "vendor-info";       // gchararray, read-only
// Loudness levelling gain in hundredths of a decibel (gint, -4000 to 2400,
// default 0). Set before the first sample of a stream it applies at once;
// later changes glide at no more than 1 dB a second, so none is heard as a step.
inline constexpr const char* ZARN_PROP_LOUDNESS_GAIN = "loudness-gain";
// A true-peak limiter after the gain, ceiling -1 dBTP (gboolean, default off).
inline constexpr const char* ZARN_PROP_LIMITER = "limiter";
