#include "engine/video.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>

VideoOutput::VideoOutput() {
    sink_ = gst_element_factory_make("appsink", "zarnvideosink");
    if (!sink_)
        return;
    gst_object_ref_sink(sink_);
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx,pixel-aspect-ratio=1/1");
    g_object_set(sink_, "caps", caps, "sync", TRUE, "enable-last-sample", FALSE, "emit-signals",
                 TRUE, nullptr);
    gst_caps_unref(caps);
    g_signal_connect(sink_, "new-preroll", G_CALLBACK(&VideoOutput::OnPreroll), this);
    g_signal_connect(sink_, "new-sample", G_CALLBACK(&VideoOutput::OnSample), this);
}

VideoOutput::~VideoOutput() {
    if (sink_) {
        g_signal_handlers_disconnect_by_data(sink_, this);
        gst_object_unref(sink_);
    }
}

void VideoOutput::SetWindow(VideoWindow* window) {
    std::lock_guard<std::mutex> hold(lock_);
    window_ = window;
}

bool VideoOutput::Size(int& width, int& height) const {
    width = height = 0;
    if (!sink_)
        return false;
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
    GstVideoInfo info;
    const bool known = caps && gst_video_info_from_caps(&info, caps);
    if (known) {
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
    }
    if (caps)
        gst_caps_unref(caps);
    if (pad)
        gst_object_unref(pad);
    return known;
}

void VideoOutput::Represent() {
    VideoWindow* window;
    std::shared_ptr<const VideoFrame> frame;
    {
        std::lock_guard<std::mutex> hold(lock_);
        window = window_;
        frame = last_;
    }
    if (window && frame)
        window->PresentFrame(frame);
}

GstFlowReturn VideoOutput::OnPreroll(GstElement* sink, gpointer self) {
    return static_cast<VideoOutput*>(self)->Deliver(gst_app_sink_pull_preroll(GST_APP_SINK(sink)));
}

GstFlowReturn VideoOutput::OnSample(GstElement* sink, gpointer self) {
    return static_cast<VideoOutput*>(self)->Deliver(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
}

GstFlowReturn VideoOutput::Deliver(GstSample* sample) {
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    GstVideoFrame mapped;
    if (!buffer || !caps || !gst_video_info_from_caps(&info, caps) ||
        !gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) {
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    // The window keeps the picture after the buffer returns to its pool.
    auto frame = std::make_shared<VideoFrame>();
    frame->width = GST_VIDEO_FRAME_WIDTH(&mapped);
    frame->height = GST_VIDEO_FRAME_HEIGHT(&mapped);
    const std::size_t row = static_cast<std::size_t>(frame->width) * 4;
    frame->pixels.resize(row * static_cast<std::size_t>(frame->height));
    const auto* src = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    for (int y = 0; y < frame->height; ++y)
        std::memcpy(frame->pixels.data() + row * static_cast<std::size_t>(y),
                    src + static_cast<std::ptrdiff_t>(stride) * y, row);
    gst_video_frame_unmap(&mapped);
    gst_sample_unref(sample);

    VideoWindow* window;
    {
        std::lock_guard<std::mutex> hold(lock_);
        last_ = frame;
        window = window_;
    }
    if (window)
        window->PresentFrame(std::move(frame));
    return GST_FLOW_OK;
}
