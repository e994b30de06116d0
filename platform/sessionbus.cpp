#include "platform/sessionbus.h"

#include <gio/gio.h>

namespace sessionbus {

bool Announced() {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    const bool bus = address && !g_str_has_prefix(address, "autolaunch:");
    g_free(address);
    return bus;
}

// Lives until GLib reports back, which may be after its request is gone.
struct Request::Pending {
    Request* owner = nullptr;
    GCancellable* cancel = g_cancellable_new();
    guint timer = 0;
    guint limitMs = 0;
    std::string missing;

    static void Done(GObject*, GAsyncResult* result, gpointer data) {
        auto* pending = static_cast<Pending*>(data);
        GError* error = nullptr;
        GDBusConnection* connection = g_bus_get_finish(result, &error);
        if (connection)
            g_dbus_connection_set_exit_on_close(connection, FALSE);
        if (pending->timer)
            g_source_remove(pending->timer);
        if (Request* owner = pending->owner) {
            owner->pending_ = nullptr;
            if (connection)
                owner->connection_ = std::shared_ptr<void>(connection, g_object_unref);
            else if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
                g_printerr("zarnplayer: the session bus cannot be joined (%s): %s\n",
                           error->message, pending->missing.c_str());
            if (owner->done_)
                owner->done_(connection != nullptr);
        } else if (connection) {
            g_object_unref(connection);
        }
        if (error)
            g_error_free(error);
        g_object_unref(pending->cancel);
        delete pending;
    }

    static gboolean TimedOut(gpointer data) {
        auto* pending = static_cast<Pending*>(data);
        pending->timer = 0;
        g_printerr("zarnplayer: the session bus did not answer within %g s: %s\n",
                   pending->limitMs / 1000.0, pending->missing.c_str());
        g_cancellable_cancel(pending->cancel);
        return G_SOURCE_REMOVE;
    }
};

Request::Request(std::function<void(bool)> done, std::chrono::milliseconds limit,
                 std::string missing)
    : done_(std::move(done)) {
    pending_ = new Pending;
    pending_->owner = this;
    pending_->limitMs = static_cast<guint>(limit.count());
    pending_->missing = std::move(missing);
    pending_->timer = g_timeout_add(pending_->limitMs, &Pending::TimedOut, pending_);
    g_bus_get(G_BUS_TYPE_SESSION, pending_->cancel, &Pending::Done, pending_);
}

Request::~Request() {
    if (!pending_)
        return;
    pending_->owner = nullptr;
    if (pending_->timer)
        g_source_remove(pending_->timer);
    pending_->timer = 0;
    g_cancellable_cancel(pending_->cancel);
}

} // namespace sessionbus
