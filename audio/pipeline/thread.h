// Worker threads of the renderer. thread_base_t<thread_object_t> is for
// reference-counted objects held by ref_ptr (the pipeline stage);
// thread_base_t<cthread_object_t> for objects embedded as plain members (the
// output's drain thread). Subclasses supply run(); start() and stop() are
// called from the one thread that controls the object.
//
// A subclass whose run() touches its own members must call stop() in its
// own destructor: by the time this base's destructor joins, the subclass is
// already gone.
#pragma once

#include "audio/pipeline/refobject.h"
#include "platform/sync.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>
#include <type_traits>

class thread_object_t : public ref_object_t {};
class cthread_object_t : public object_t {};

template <typename Base> class thread_base_t : public Base {
    static_assert(std::is_same_v<Base, thread_object_t> || std::is_same_v<Base, cthread_object_t>);

public:
    thread_base_t() = default;
    ~thread_base_t() override { join(); }

    // False while a thread is running; a thread whose body has returned is
    // reaped first.
    virtual bool start() {
        if (thread && exited.IsSet())
            thread_base_t::stop();
        if (thread)
            return false;
        exited.Reset();
        try {
            thread = std::make_unique<std::thread>(&thread_base_t::entry, this);
        } catch (const std::system_error&) {
            exited.Set();
            return false;
        }
        thread_id = thread->get_id();
        return true;
    }

    // Joins the thread, if any; true also when there was none.
    virtual bool stop() {
        join();
        return true;
    }

    bool running() const { return thread != nullptr; }
    std::thread::id id() const { return thread_id; }
    bool is_stop_requested() const { return stop_requested.load() != 0; }

protected:
    virtual std::uint32_t run() = 0;

private:
    void entry() {
        stop_requested.store(0);
        run();
        exited.Set();
    }

    void join() {
        if (!thread)
            return;
        stop_requested.store(1);
        thread->join();
        thread.reset();
    }

    std::atomic<std::int32_t> stop_requested{0};
    std::unique_ptr<std::thread> thread;
    std::thread::id thread_id;
    Event exited{true, true};
};
