#include "engine/scan.h"

#include <gst/gst.h>

std::int64_t ScanDuration(const std::string& path, unsigned timeoutMs) {
    GError* err = nullptr;
    // Parsing alone, no decoding, without a clock: fast even for long files.
    GstElement* pipeline =
        gst_parse_launch("filesrc name=src ! parsebin ! fakesink name=out sync=false", &err);
    if (!pipeline) {
        g_clear_error(&err);
        return 0;
    }
    g_clear_error(&err);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_object_unref(src);

    std::int64_t duration = 0;
    GstBus* bus = gst_element_get_bus(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstMessage* end = gst_bus_timed_pop_filtered(
            bus, timeoutMs * GST_MSECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gint64 ns = 0;
        if (end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS &&
            gst_element_query_position(pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
            duration = ns / 100;
        if (end)
            gst_message_unref(end);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return duration;
}
