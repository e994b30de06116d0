// The renderer as a GStreamer element: a base sink that hands interleaved
// 8- and 16-bit PCM to CAudioRenderer, provides the renderer's clock, answers
// position queries with what has been heard, and holds the end of the stream
// until the tail has played.
#pragma once

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS
#define ZARN_TYPE_AUDIO_SINK (zarn_audio_sink_get_type())
G_DECLARE_FINAL_TYPE(ZarnAudioSink, zarn_audio_sink, ZARN, AUDIO_SINK, GstBaseSink)
G_END_DECLS

class CAudioRenderer;

// The renderer inside the element (tests reach the output through it).
CAudioRenderer* zarn_audio_sink_renderer(ZarnAudioSink* sink);

gboolean zarn_audio_sink_register(GstPlugin* plugin);
