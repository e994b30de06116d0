#include "player/export/Formats.h"

#include <gst/gst.h>

#include <algorithm>
#include <cctype>

namespace exporter {

namespace {

const char* kBase = "gstreamer1.0-plugins-base";
const char* kGood = "gstreamer1.0-plugins-good";

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

const std::vector<Format>& Formats() {
    static const std::vector<Format> formats = {
        {".wav", {{"wavenc", kGood}}},
        {".flac", {{"flacenc", kGood}}},
        {".ogg", {{"vorbisenc", kBase}, {"oggmux", kBase}}},
        {".opus", {{"opusenc", kBase}, {"oggmux", kBase}}},
        // The Xing header lets players show the length of a VBR file.
        {".mp3", {{"lamemp3enc", kGood}, {"xingmux", kGood}, {"id3v2mux", kGood}}},
    };
    return formats;
}

std::optional<Format> FindFormat(std::string_view extension) {
    const std::string ext = Lower(extension);
    for (const Format& f : Formats())
        if (f.extension == ext)
            return f;
    return std::nullopt;
}

std::string FormatList() {
    std::string list;
    for (const Format& f : Formats())
        list += (list.empty() ? "" : ", ") + f.extension;
    return list;
}

std::string MissingElement(const Format& format) {
    for (const Element& e : format.chain) {
        GstElementFactory* factory = gst_element_factory_find(e.factory.c_str());
        if (factory) {
            gst_object_unref(factory);
            continue;
        }
        return "cannot write " + format.extension + " files: the GStreamer element " + e.factory +
               " is missing (install the Debian package " + e.package + ")";
    }
    return {};
}

} // namespace exporter
