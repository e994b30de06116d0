// Joining the session bus without waiting for it: GLib's shared connection
// is made in the background and reported through the main loop of the
// thread that asked (on Linux Qt's loop is GLib's), within a time limit, so
// a bus that accepts and never answers holds nothing up. Once made, the
// connection is told not to end the process when the bus goes away (GLib's
// default; the player outlives its desktop's bus) and held while the
// request lives.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace sessionbus {

// Whether a session bus is there to join: an address that is not one to be
// launched first.
bool Announced();

class Request {
public:
    // done(true) once connected; done(false) when it failed or the limit
    // passed, which is also said on stderr with what would go missing.
    // done is never called after the request is gone.
    Request(std::function<void(bool)> done, std::chrono::milliseconds limit, std::string missing);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

private:
    struct Pending;
    Pending* pending_ = nullptr;
    std::shared_ptr<void> connection_;
    std::function<void(bool)> done_;
};

} // namespace sessionbus
