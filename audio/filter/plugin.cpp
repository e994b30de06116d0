// The zarnaudio plugin: one element, zarnaudiosink, never auto-plugged.
#include "audio/filter/ZarnAudioSink.h"

#ifndef PACKAGE
#define PACKAGE "zarnaudio"
#endif

static gboolean plugin_init(GstPlugin* plugin) {
    return zarn_audio_sink_register(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zarnaudio,
                  "Audio renderer that changes the tempo without changing the pitch", plugin_init,
                  "0.2.377", "LGPL", "zarnplayer", "zarnplayer")
