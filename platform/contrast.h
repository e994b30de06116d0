// The desktop's high-contrast setting, as GNOME-family desktops keep it in
// GSettings: the accessibility switch, the high-contrast themes and the dark
// style. Read only where the schemas are installed, so a desktop without them
// simply has high contrast off; changes are reported through the main loop
// of the thread that made the watch (on Linux Qt's loop is GLib's).
#pragma once

#include "platform/sessionbus.h"

#include <functional>
#include <memory>
#include <string>

namespace contrast {

enum class Scheme {
    Off,   // the desktop's own colours
    Light, // dark text on a light ground
    Dark,  // light text on a dark ground
};

class DesktopContrast {
public:
    using Changed = std::function<void(Scheme)>;

    // Watches the installed schemas; with schemaDir, only the schemas
    // compiled in that folder (tests). changed is called with the new
    // scheme whenever it differs from the last one.
    explicit DesktopContrast(Changed changed = {}, const std::string& schemaDir = {});
    ~DesktopContrast();
    DesktopContrast(const DesktopContrast&) = delete;
    DesktopContrast& operator=(const DesktopContrast&) = delete;

    Scheme Current() const { return current_; }

private:
    struct Settings;
    Scheme Read() const;
    void Reread();
    static void OnChanged(void* settings, char* key, void* self);

    Changed changed_;
    // GLib's session bus connection, which the settings' backend shares; it
    // is made before the settings exist (their backend opens it from a
    // thread of its own) and so is already told not to end the process.
    std::unique_ptr<sessionbus::Request> bus_;
    std::unique_ptr<Settings> a11y_;      // org.gnome.desktop.a11y.interface
    std::unique_ptr<Settings> interface_; // org.gnome.desktop.interface
    Scheme current_ = Scheme::Off;
};

} // namespace contrast
