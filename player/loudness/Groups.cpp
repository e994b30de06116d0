#include "player/loudness/Groups.h"

bool TGroupLinks::CarriesSound(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure* s =
        caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    const bool audio = s && gst_structure_has_name(s, "audio/x-raw");
    if (caps)
        gst_caps_unref(caps);
    return audio;
}

bool TGroupLinks::Added(GstPad* pad, bool sound) {
    if (!open_) {
        open_ = true;
        hasAudio_ = false;
    }
    if (sound && !hasAudio_) {
        hasAudio_ = true;
        GstPad* target = gst_element_get_static_pad(convert_, "sink");
        if (GstPad* ended = gst_pad_get_peer(target)) {
            gst_pad_unlink(ended, target);
            gst_object_unref(ended);
        }
        gst_pad_link(pad, target);
        gst_object_unref(target);
        return true;
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink)
        return false;
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline_), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* target = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, target);
    gst_object_unref(target);
    dropping_.push_back(sink);
    return false;
}

void TGroupLinks::Removed() {
    for (auto it = dropping_.begin(); it != dropping_.end();) {
        GstPad* target = gst_element_get_static_pad(*it, "sink");
        const bool linked = gst_pad_is_linked(target);
        gst_object_unref(target);
        if (linked) {
            ++it;
            continue;
        }
        gst_element_set_locked_state(*it, TRUE);
        gst_element_set_state(*it, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_), *it);
        it = dropping_.erase(it);
    }
}
