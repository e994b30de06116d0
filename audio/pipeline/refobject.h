// The roots of every renderer pipeline object: object_t (a virtual destructor)
// and ref_object_t (an interlocked reference count), and ref_ptr, the only
// way the pipeline holds a ref_object_t.
#pragma once

#include "platform/sync.h"

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

class object_t {
public:
    virtual ~object_t() = default;
};

// Starts with a count of 0; the first ref_ptr that takes it makes it 1 and
// the release that brings it back to 0 calls on_last_release once.
class ref_object_t : public object_t {
public:
    ref_object_t() = default;
    ref_object_t(const ref_object_t&) = delete;
    ref_object_t& operator=(const ref_object_t&) = delete;

    void add_ref() { InterlockedIncrement(ref_count); }
    void release() {
        if (InterlockedDecrement(ref_count) == 0)
            on_last_release();
    }
    std::int32_t use_count() const { return ref_count.load(); }

protected:
    virtual void on_last_release() { delete this; }

private:
    std::atomic<std::int32_t> ref_count{0};
};

template <typename T> class ref_ptr {
public:
    ref_ptr() = default;
    ref_ptr(std::nullptr_t) {}
    ref_ptr(T* p) { assign(p); }
    ref_ptr(const ref_ptr& o) { assign(o.get()); }
    ref_ptr(ref_ptr&& o) noexcept : ptr(o.ptr.exchange(nullptr)) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ref_ptr(const ref_ptr<U>& o) {
        assign(o.get());
    }
    ~ref_ptr() { assign(nullptr); }

    ref_ptr& operator=(T* p) {
        assign(p);
        return *this;
    }
    ref_ptr& operator=(std::nullptr_t) {
        assign(nullptr);
        return *this;
    }
    ref_ptr& operator=(const ref_ptr& o) {
        assign(o.get());
        return *this;
    }
    ref_ptr& operator=(ref_ptr&& o) noexcept {
        if (this != &o) {
            T* old = ptr.exchange(o.ptr.exchange(nullptr));
            if (old)
                old->release();
        }
        return *this;
    }

    T* get() const { return ptr.load(); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    explicit operator bool() const { return get() != nullptr; }

    friend bool operator==(const ref_ptr& a, const ref_ptr& b) { return a.get() == b.get(); }
    friend bool operator==(const ref_ptr& a, std::nullptr_t) { return a.get() == nullptr; }

private:
    // The new object gains its reference before the old one loses its own:
    // releasing the old one first could delete the new one when the old held
    // its last reference (p = p->next).
    void assign(T* p) {
        T* held = ptr.load();
        if (p == held)
            return;
        if (p)
            p->add_ref();
        T* old = ptr.exchange(p);
        if (old)
            old->release();
    }

    std::atomic<T*> ptr{nullptr};
};

// Down-cast that tests the run-time type; null when the object is not a U.
template <typename U, typename T> ref_ptr<U> ref_cast(const ref_ptr<T>& p) {
    return ref_ptr<U>(dynamic_cast<U*>(p.get()));
}
