// The renderer's clock as a GStreamer clock: a system clock whose time is a
// RendererClock's, shared with the renderer so that the clock may outlive the
// element that made it. Waits sleep in clock time, so that at rate R a frame
// due in d nanoseconds of clock time is released after d / R of real time.
#pragma once

#include "audio/filter/RendererClock.h"

#include <gst/gst.h>
#include <memory>

G_BEGIN_DECLS
#define ZARN_TYPE_CLOCK (zarn_clock_get_type())
G_DECLARE_FINAL_TYPE(ZarnClock, zarn_clock, ZARN, CLOCK, GstSystemClock)
G_END_DECLS

GstClock* zarn_clock_new(std::shared_ptr<RendererClock> time);
