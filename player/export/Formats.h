// The formats an export can write, chosen by the output's extension: the
// GStreamer elements after the renderer's sound, and the Debian package that
// brings each element, for the message when one is missing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exporter {

struct Element {
    std::string factory;
    std::string package;
};

struct Format {
    std::string extension; // ".wav", lower case
    // Encoder and muxer in order, as they follow audioconvert ! audioresample.
    std::vector<Element> chain;
};

// .wav, .flac, .ogg (Vorbis), .opus, .mp3.
const std::vector<Format>& Formats();
// "extension" is compared without regard to case; nullopt for others.
std::optional<Format> FindFormat(std::string_view extension);
// ".wav, .flac, .ogg, .opus, .mp3", for messages.
std::string FormatList();

// Empty when every element of the chain exists; else one line naming the
// first missing element and its package. Needs gst_init.
std::string MissingElement(const Format& format);

} // namespace exporter
