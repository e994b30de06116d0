#include "engine/renderer.h"

#include "engine/include/IPlayer.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Loads the plugin beside the library once per process; later engines reuse
// the registry entry it made. Returns the reason when it could not be loaded.
const std::string& LoadRendererPlugin() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        const std::string path = AudioOutput::PluginPath();
        struct stat st {};
        if (path.empty() || stat(path.c_str(), &st) != 0) {
            failure = "the renderer plugin " + (path.empty() ? std::string("?") : path) +
                      " does not exist";
            return;
        }
        GError* err = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(path.c_str(), &err);
        if (!plugin) {
            failure = "the renderer plugin " + path +
                      " cannot be loaded: " + (err ? err->message : "unknown error");
            g_clear_error(&err);
            return;
        }
        gst_object_unref(plugin);
    });
    return failure;
}

bool HasProperty(GstElement* element, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

} // namespace

std::string AudioOutput::PluginPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&QRVE_Initialize), &info) || !info.dli_fname)
        return {};
    std::string lib = info.dli_fname;
    const auto slash = lib.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : lib.substr(0, slash);
    return dir + "/gstreamer-1.0/libgstzarnaudio.so";
}

AudioOutput::~AudioOutput() {
    if (rate_)
        rate_->Release();
    if (element_)
        gst_object_unref(element_);
}

bool AudioOutput::Create(std::string& error) {
    const char* override = std::getenv(ZARN_ENGINE_AUDIO_SINK_ENV);
    if (override && *override) {
        factory_ = override;
        if (std::strchr(override, '!')) {
            GError* err = nullptr;
            element_ = gst_parse_bin_from_description(override, TRUE, &err);
            g_clear_error(&err);
        } else {
            element_ = gst_element_factory_make(override, nullptr);
        }
        if (!element_) {
            error = std::string("the audio sink '") + override + "' named by " +
                    ZARN_ENGINE_AUDIO_SINK_ENV + " cannot be made";
            return false;
        }
    } else {
        factory_ = ZARN_SINK_FACTORY;
        const std::string& loadFailure = LoadRendererPlugin();
        element_ = gst_element_factory_make(ZARN_SINK_FACTORY, nullptr);
        if (!element_) {
            error = std::string("the audio renderer '") + ZARN_SINK_FACTORY +
                    "' is not available: " +
                    (loadFailure.empty() ? "the plugin holds no such element" : loadFailure);
            return false;
        }
    }
    gst_object_ref_sink(element_);
    isRenderer_ = factory_ == ZARN_SINK_FACTORY;
    if (!isRenderer_) {
        // A stand-in must pace playback by the clock, as the renderer does.
        if (HasProperty(element_, "sync"))
            g_object_set(element_, "sync", TRUE, nullptr);
        return true;
    }
    if (HasProperty(element_, ZARN_PROP_RATE_INTERFACE)) {
        gpointer borrowed = nullptr;
        g_object_get(element_, ZARN_PROP_RATE_INTERFACE, &borrowed, nullptr);
        void* counted = nullptr;
        if (borrowed && static_cast<IUnknown*>(static_cast<IZarnRate*>(borrowed))
                                ->QueryInterface(IID_IZarnRate, &counted) == S_OK)
            rate_ = static_cast<IZarnRate*>(counted);
    }
    return true;
}

HRESULT AudioOutput::SetRate(double rate) {
    if (rate_)
        return rate_->SetRate(rate);
    if (isRenderer_)
        g_object_set(element_, ZARN_PROP_RATE, rate, nullptr);
    return S_OK;
}

HRESULT AudioOutput::SetFlags(std::int32_t flags) {
    if (rate_)
        return rate_->SetFlags(flags);
    if (isRenderer_)
        g_object_set(element_, ZARN_PROP_FLAGS, static_cast<gint>(flags), nullptr);
    return S_OK;
}

void AudioOutput::SetLevel(std::int32_t level) {
    if (isRenderer_ && HasProperty(element_, ZARN_PROP_LEVEL))
        g_object_set(element_, ZARN_PROP_LEVEL, static_cast<gint>(level), nullptr);
}

void AudioOutput::SetLoudness(std::int32_t gain, bool limiter) {
    if (isRenderer_ && HasProperty(element_, ZARN_PROP_LOUDNESS_GAIN))
        g_object_set(element_, ZARN_PROP_LOUDNESS_GAIN, static_cast<gint>(gain), ZARN_PROP_LIMITER,
                     static_cast<gboolean>(limiter), nullptr);
}

std::string AudioOutput::VendorInfo() const {
    if (!element_)
        return {};
    if (!isRenderer_)
        return factory_ + " (diagnostic stand-in for the renderer)";
    std::string text;
    if (HasProperty(element_, ZARN_PROP_VENDOR_INFO)) {
        gchar* info = nullptr;
        g_object_get(element_, ZARN_PROP_VENDOR_INFO, &info, nullptr);
        if (info)
            text = info;
        g_free(info);
    }
    if (text.empty()) {
        GstElementFactory* factory = gst_element_get_factory(element_);
        if (factory)
            text = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
    }
    return text;
}
