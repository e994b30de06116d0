// Connectors between pipeline stages. A bounded queue joins two threads and
// gives back-pressure both ways; a direct sender delivers on the caller's
// thread (the device sender hands sample blocks to the sound output).
#pragma once

#include "audio/pipeline/packet.h"
#include "platform/sync.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace packet_connector {

template <typename P> class sender_base_t : public ref_object_t {
public:
    // Packets waiting behind this connector.
    virtual std::int32_t count() = 0;
    // Delivers one packet; the connector takes its own reference if it keeps it.
    virtual bool send(const ref_ptr<P>& p) = 0;
    // The stage upstream has ended its work.
    virtual bool finish() = 0;
    // Signalled while send would not block; null when send may be called any time.
    virtual Event* wait_handle() = 0;
};

template <typename P> class reciever_base_t : public ref_object_t {
public:
    virtual std::int32_t count() = 0;
    virtual ref_ptr<P> receive() = 0;
    virtual bool finish() = 0;
    // Signalled while receive would not block; null when it never blocks.
    virtual Event* wait_handle() = 0;
};

// One producer thread and one consumer thread. The two manual-reset events
// always reflect the count while the lock is free, so a side can wait on
// them together with other events without taking the lock.
template <typename P> class queue_t : public ref_object_t {
public:
    class sender_t;
    class reciever_t;

    explicit queue_t(std::int32_t capacity) : capacity(std::max<std::int32_t>(capacity, 1)) {
        AutoLock g(lock);
        update_events();
    }

    // Waits while full. False, and the packet dropped, once the queue is closed.
    virtual bool push(const ref_ptr<P>& p) {
        if (WaitForAny({&closed, &not_full}) != WAIT_OBJECT_0 + 1)
            return false;
        AutoLock g(lock);
        items.push_back(p);
        ++item_count;
        update_events();
        return true;
    }

    // Waits while empty. Null once the queue is closed and empty.
    virtual ref_ptr<P> pop() {
        if (WaitForAny({&not_empty, &closed}) != WAIT_OBJECT_0)
            return nullptr;
        AutoLock g(lock);
        ref_ptr<P> p = std::move(items.front());
        items.pop_front();
        --item_count;
        update_events();
        return p;
    }

    virtual ref_ptr<sender_base_t<P>> make_sender() { return new sender_t(this); }
    virtual ref_ptr<reciever_base_t<P>> make_reciever() { return new reciever_t(this); }

    // Tear-down: a producer blocked on a full queue, and every later push,
    // returns false; pop hands out what is left, then returns null.
    void close() { closed.Set(); }

    std::int32_t count() {
        AutoLock g(lock);
        return item_count;
    }

    Event& not_full_event() { return not_full; }
    Event& not_empty_event() { return not_empty; }

private:
    // Touches an event only when its state changes: every Set wakes the
    // waiters, and the queue changes hands a few hundred times a second.
    void update_events() {
        const bool has_items = item_count > 0;
        const bool has_room = item_count < capacity;
        if (has_items != not_empty_set) {
            not_empty_set = has_items;
            if (has_items)
                not_empty.Set();
            else
                not_empty.Reset();
        }
        if (has_room != not_full_set) {
            not_full_set = has_room;
            if (has_room)
                not_full.Set();
            else
                not_full.Reset();
        }
    }

    std::deque<ref_ptr<P>> items;
    std::int32_t item_count = 0;
    Event not_full{true, false};
    Event not_empty{true, false};
    Event closed{true, false};
    bool not_full_set = false;
    bool not_empty_set = false;
    CriticalSection lock;
    const std::int32_t capacity;
};

template <typename P> class queue_t<P>::sender_t : public sender_base_t<P> {
public:
    explicit sender_t(queue_t* q) : queue(q) {}
    std::int32_t count() override { return queue->count(); }
    bool send(const ref_ptr<P>& p) override { return queue->push(p); }
    bool finish() override { return true; }
    Event* wait_handle() override { return &queue->not_full_event(); }

private:
    ref_ptr<queue_t> queue;
};

template <typename P> class queue_t<P>::reciever_t : public reciever_base_t<P> {
public:
    explicit reciever_t(queue_t* q) : queue(q) {}
    std::int32_t count() override { return queue->count(); }
    ref_ptr<P> receive() override { return queue->pop(); }
    bool finish() override { return false; }
    Event* wait_handle() override { return &queue->not_empty_event(); }

private:
    ref_ptr<queue_t> queue;
};

// Delivers synchronously on the caller's thread; nothing waits behind it.
template <typename P> class direct_sender_t : public sender_base_t<P> {
public:
    std::int32_t count() override { return 0; }
    bool finish() override { return true; }
    Event* wait_handle() override { return nullptr; }
};

} // namespace packet_connector

// Hands sample blocks to the sound output, which plays a copy: the output
// never holds a packet. The end mark becomes the output's end of stream;
// other control packets are ignored. The output is not owned: it is a member
// of the renderer and outlives every pipeline.
template <typename Output>
class device_sender_t : public packet_connector::direct_sender_t<packet::base_t> {
public:
    explicit device_sender_t(Output* output) : output(output) {}

    bool send(const ref_ptr<packet::base_t>& p) override {
        if (!p || !output)
            return true;
        if (p->kind() == packet::base_t::data_kind) {
            if (auto* block = dynamic_cast<packet::blockdata_t<float>*>(p.get())) {
                const int n = std::clamp<std::int32_t>(block->sample_count, 0,
                                                       static_cast<int>(block->samples.size()));
                std::vector<float> copy(block->samples.begin(), block->samples.begin() + n);
                output->WriteSamples(std::move(copy), n, block->start_time, block->stop_time);
            }
        } else if (dynamic_cast<packet::endofstream_t*>(p.get())) {
            output->WriteEndOfStream();
        }
        return true;
    }

private:
    Output* output;
};
