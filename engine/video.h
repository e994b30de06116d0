// The video path: an appsink that takes BGRx with square pixels and hands
// each picture, copied into tight rows, to the video window.
#pragma once

#include "platform/window.h"

#include <gst/gst.h>

#include <memory>
#include <mutex>

class VideoOutput {
public:
    VideoOutput();
    VideoOutput(const VideoOutput&) = delete;
    VideoOutput& operator=(const VideoOutput&) = delete;
    ~VideoOutput();

    GstElement* Element() const { return sink_; }
    // The window may be null; frames are then only kept.
    void SetWindow(VideoWindow* window);
    // The negotiated picture size; false before caps are known.
    bool Size(int& width, int& height) const;
    // Hands the last picture to the window again (after a resize).
    void Represent();

private:
    static GstFlowReturn OnPreroll(GstElement* sink, gpointer self);
    static GstFlowReturn OnSample(GstElement* sink, gpointer self);
    GstFlowReturn Deliver(GstSample* sample);

    GstElement* sink_ = nullptr;
    // Leaf lock: guards window_ and last_; the window is called outside it.
    mutable std::mutex lock_;
    VideoWindow* window_ = nullptr;
    std::shared_ptr<const VideoFrame> last_;
};
