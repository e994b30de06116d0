// The base classes of a pipeline stage: a worker thread that reads packets
// from an input receiver and writes packets into an output sender, and
// whose stop_event releases it from every wait on its connectors.
#pragma once

#include "audio/pipeline/connector.h"
#include "audio/pipeline/packet.h"
#include "audio/pipeline/thread.h"
#include "platform/sync.h"

#include <cstdint>

namespace zarnfilter {

class base_t : public thread_base_t<thread_object_t> {};

// Connect input and output only while the stage is stopped: the stage
// thread uses them without a lock.
class transfer_base_t : public base_t {
public:
    using reciever_type = packet_connector::reciever_base_t<packet::base_t>;
    using sender_type = packet_connector::sender_base_t<packet::base_t>;

    bool start() override;
    bool stop() override;

    virtual ref_ptr<reciever_type> get_input() { return input; }
    virtual ref_ptr<sender_type> get_output() { return output; }
    virtual bool set_input(const ref_ptr<reciever_type>& r);
    virtual bool set_output(const ref_ptr<sender_type>& s);

    // A control packet that arrived on the input. Kept when addressed to this
    // stage, otherwise passed straight on downstream.
    virtual void route_control_in(const ref_ptr<packet::control_base_t>& p);
    // Offered every packet before it goes downstream; null withholds it.
    virtual ref_ptr<packet::base_t> route_control_out(const ref_ptr<packet::base_t>& p);

    // Waits for a packet or the stop; null on stop or without input.
    ref_ptr<packet::base_t> wait_receive();
    // Waits for room or the stop; false (packet dropped) on stop or without output.
    bool wait_send(const ref_ptr<packet::base_t>& p);
    // The next sample block; control packets are routed on the way. Null on
    // stop or once the end of the input has been announced to this stage.
    ref_ptr<packet::blockdata_t<float>> next_block();
    // route_control_out, then wait_send.
    bool send_down(const ref_ptr<packet::base_t>& p);

    bool stop_signalled() { return stop_event.Wait(0); }

protected:
    virtual std::uint32_t process() = 0;
    std::uint32_t run() override;

    Event stop_event{true, false};
    ref_ptr<reciever_type> input;
    ref_ptr<sender_type> output;
    // Set on the stage thread by route_control_in when the end of the input
    // arrives for this stage; next_block returns null while it is set.
    bool input_ended = false;
};

class basic_transfer_t : public transfer_base_t {};
class audio_transfer_t : public basic_transfer_t {};

} // namespace zarnfilter
