// Packets that carry audio through the renderer's pipeline: sample blocks
// with a time span (data) and control packets addressed to one stage.
// A packet is complete before it is sent and never written afterwards, so
// holders on different threads may read it without a lock.
#pragma once

#include "audio/pipeline/refobject.h"

#include <cstdint>
#include <vector>

namespace zarnfilter {
class base_t;
}

// Marks a reference time that was never set (100 ns units).
inline constexpr std::int64_t TIME_UNSET = -2147483648LL;

namespace packet {

class base_t;

// Takes packets back for reuse instead of letting them be deleted.
class recycler_t : public ref_object_t {
public:
    virtual void take_back(base_t* p) = 0;
};

class base_t : public ref_object_t {
public:
    static constexpr std::int32_t control_kind = 1;
    static constexpr std::int32_t data_kind = 2;

    virtual std::int32_t kind() const = 0;
    virtual bool reset() {
        start_time = TIME_UNSET;
        stop_time = TIME_UNSET;
        return true;
    }
    virtual bool is_free() const { return use_count() == 0; }

    std::int64_t start_time = TIME_UNSET;
    std::int64_t stop_time = TIME_UNSET;
    ref_ptr<recycler_t> owner;

protected:
    void on_last_release() override;
};

class data_base_t : public base_t {
public:
    std::int32_t kind() const override { return data_kind; }
};

// Interleaved samples, one per channel per frame; sample_count of them valid.
template <typename T> class blockdata_t : public data_base_t {
public:
    explicit blockdata_t(std::size_t n) : samples(n, T{}) {}

    bool reset() override {
        data_base_t::reset();
        sample_count = 0;
        return true;
    }

    std::int32_t sample_count = 0;
    std::vector<T> samples;
};

class control_base_t : public base_t {
public:
    explicit control_base_t(zarnfilter::base_t* to = nullptr) : target(to) {}
    std::int32_t kind() const override { return control_kind; }

    // The stage this packet is for; null for whatever lies at the end.
    zarnfilter::base_t* target;
};

// The end of the input. Addressed to a stage, it asks that stage to play out
// what it still holds; addressed to nobody, it tells the output that no more
// samples follow.
class endofstream_t : public control_base_t {
public:
    using control_base_t::control_base_t;
};

} // namespace packet
