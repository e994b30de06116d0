// The engine's audio output: the renderer element zarnaudiosink, found in the
// gstreamer-1.0 folder beside this library, and the settings it takes.
#pragma once

#include "audio/filter/IZarnRate.h"
#include "platform/com.h"

#include <gst/gst.h>

#include <string>

// Open's status when the renderer (or the overriding element) cannot be made.
inline constexpr HRESULT ZARN_E_NO_RENDERER = static_cast<HRESULT>(0x80040E01u);

// Names a factory to use instead of the renderer, for diagnosis on machines
// without the renderer plugin, or a chain of elements ("a ! b") ending in a
// sink. Rate then travels by seek, not by the element.
inline constexpr const char* ZARN_ENGINE_AUDIO_SINK_ENV = "ZARN_ENGINE_AUDIO_SINK";

class AudioOutput {
public:
    AudioOutput() = default;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    ~AudioOutput();

    // Makes the element; on failure returns false and says why in error.
    bool Create(std::string& error);
    GstElement* Element() const { return element_; }
    // True when the element is our renderer, which carries rate, flags and level.
    bool IsRenderer() const { return isRenderer_; }
    const std::string& FactoryName() const { return factory_; }

    HRESULT SetRate(double rate);
    HRESULT SetFlags(std::int32_t flags);
    void SetLevel(std::int32_t level);
    // The loudness gain (hundredths of a decibel) and the true-peak limiter.
    void SetLoudness(std::int32_t gain, bool limiter);
    std::string VendorInfo() const;

    // Where the engine looks for the renderer plugin.
    static std::string PluginPath();

private:
    GstElement* element_ = nullptr;
    IZarnRate* rate_ = nullptr; // counted reference taken from rate-interface
    bool isRenderer_ = false;
    std::string factory_;
};
