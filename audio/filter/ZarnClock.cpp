#include "audio/filter/ZarnClock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

struct ClockPrivate {
    std::shared_ptr<RendererClock> time;
    std::mutex lock; // guards nothing but the wake-up of waits
    std::condition_variable wake;
};

struct _ZarnClock {
    GstSystemClock parent;
    ClockPrivate* priv;
};

G_DEFINE_TYPE(ZarnClock, zarn_clock, GST_TYPE_SYSTEM_CLOCK)

namespace {

GstClockTime internalTime(GstClock* clock) {
    return static_cast<GstClockTime>(ZARN_CLOCK(clock)->priv->time->NowNs());
}

GstClockReturn entryStatus(GstClockEntry* entry) {
    return __atomic_load_n(&entry->status, __ATOMIC_ACQUIRE);
}

GstClockReturn waitEntry(GstClock* clock, GstClockEntry* entry, GstClockTimeDiff* jitter) {
    ClockPrivate* priv = ZARN_CLOCK(clock)->priv;
    const GstClockTime due = GST_CLOCK_ENTRY_TIME(entry);
    GstClockTime now = gst_clock_get_time(clock);
    if (jitter)
        *jitter = GST_CLOCK_DIFF(due, now);
    if (now >= due)
        return GST_CLOCK_EARLY;
    std::unique_lock<std::mutex> lk(priv->lock);
    for (;;) {
        if (entryStatus(entry) == GST_CLOCK_UNSCHEDULED)
            return GST_CLOCK_UNSCHEDULED;
        now = gst_clock_get_time(clock);
        if (now >= due)
            return GST_CLOCK_OK;
        double speed = std::max(priv->time->Speed(), 0.01);
        // Re-check at least every 20 ms: a correction may move the clock.
        auto sleep = std::chrono::nanoseconds(static_cast<std::int64_t>((due - now) / speed));
        sleep = std::min<std::chrono::nanoseconds>(sleep, std::chrono::milliseconds(20));
        priv->wake.wait_for(lk, sleep);
    }
}

void unscheduleEntry(GstClock* clock, GstClockEntry* entry) {
    GST_CLOCK_CLASS(zarn_clock_parent_class)->unschedule(clock, entry);
    __atomic_store_n(&entry->status, GST_CLOCK_UNSCHEDULED, __ATOMIC_RELEASE);
    ClockPrivate* priv = ZARN_CLOCK(clock)->priv;
    std::lock_guard<std::mutex> g(priv->lock);
    priv->wake.notify_all();
}

} // namespace

static void zarn_clock_finalize(GObject* object) {
    delete ZARN_CLOCK(object)->priv;
    G_OBJECT_CLASS(zarn_clock_parent_class)->finalize(object);
}

static void zarn_clock_class_init(ZarnClockClass* klass) {
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstClockClass* clock = GST_CLOCK_CLASS(klass);
    gobject->finalize = zarn_clock_finalize;
    clock->get_internal_time = internalTime;
    clock->wait = waitEntry;
    clock->unschedule = unscheduleEntry;
}

static void zarn_clock_init(ZarnClock* self) {
    self->priv = new ClockPrivate;
    self->priv->time = std::make_shared<RendererClock>();
}

GstClock* zarn_clock_new(std::shared_ptr<RendererClock> time) {
    ZarnClock* clock = ZARN_CLOCK(g_object_new(ZARN_TYPE_CLOCK, "name", "ZarnAudioClock",
                                               "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr));
    clock->priv->time = std::move(time);
    gst_object_ref_sink(clock);
    return GST_CLOCK(clock);
}
