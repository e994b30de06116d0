// How the streams of a decoded file reach one converter, group by group:
// decodebin hands a chained file (an Ogg file of several chains) over one
// group at a time. The first audio stream of each group goes to the
// converter in place of the ended group's; every other stream goes to a
// sink that drops it, so its demuxer runs on, and that sink leaves once its
// stream is gone, since it would never see the end the pipeline waits for.
// Used by the measurement and the export. Calls come from streaming
// threads: the caller serialises them under its own lock.
#pragma once

#include <gst/gst.h>

#include <vector>

class TGroupLinks {
public:
    void Attach(GstElement* pipeline, GstElement* convert) {
        pipeline_ = pipeline;
        convert_ = convert;
    }
    // Whether a pad carries decoded sound; asked before the caller's lock,
    // since the query may travel through the decoder.
    static bool CarriesSound(GstPad* pad);
    // A new pad of the decoder: true when it became its group's sound.
    bool Added(GstPad* pad, bool sound);
    // A pad went: the dropping sinks whose stream is gone leave.
    void Removed();
    // The decoder's group is complete.
    void Closed() { open_ = false; }
    bool GroupHasAudio() const { return hasAudio_; }

private:
    GstElement* pipeline_ = nullptr;
    GstElement* convert_ = nullptr;
    bool open_ = false;
    bool hasAudio_ = false;
    std::vector<GstElement*> dropping_;
};
