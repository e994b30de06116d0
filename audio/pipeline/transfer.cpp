#include "audio/pipeline/transfer.h"

namespace zarnfilter {

bool transfer_base_t::start() {
    stop_event.Reset();
    return base_t::start();
}

bool transfer_base_t::stop() {
    stop_event.Set();
    return base_t::stop();
}

bool transfer_base_t::set_input(const ref_ptr<reciever_type>& r) {
    input = r;
    return true;
}

bool transfer_base_t::set_output(const ref_ptr<sender_type>& s) {
    output = s;
    return true;
}

void transfer_base_t::route_control_in(const ref_ptr<packet::control_base_t>& p) {
    if (p->target != this)
        wait_send(p);
}

ref_ptr<packet::base_t> transfer_base_t::route_control_out(const ref_ptr<packet::base_t>& p) {
    if (p && p->kind() == packet::base_t::control_kind) {
        auto* c = dynamic_cast<packet::control_base_t*>(p.get());
        if (c && c->target == this)
            return nullptr;
    }
    return p;
}

ref_ptr<packet::base_t> transfer_base_t::wait_receive() {
    if (!input)
        return nullptr;
    if (Event* ready = input->wait_handle()) {
        if (WaitForAny({&stop_event, ready}) != WAIT_OBJECT_0 + 1)
            return nullptr;
    }
    return input->receive();
}

bool transfer_base_t::wait_send(const ref_ptr<packet::base_t>& p) {
    if (!output)
        return false;
    if (Event* ready = output->wait_handle()) {
        if (WaitForAny({&stop_event, ready}) != WAIT_OBJECT_0 + 1)
            return false;
    }
    return output->send(p);
}

ref_ptr<packet::blockdata_t<float>> transfer_base_t::next_block() {
    // Without an input nothing will ever arrive: wait for the stop rather
    // than spin.
    if (!input) {
        stop_event.Wait();
        return nullptr;
    }
    for (;;) {
        ref_ptr<packet::base_t> p = wait_receive();
        if (p && p->kind() == packet::base_t::control_kind) {
            if (auto c = ref_cast<packet::control_base_t>(p))
                route_control_in(c);
        } else if (auto block = ref_cast<packet::blockdata_t<float>>(p)) {
            return block;
        }
        if (input_ended || stop_signalled())
            return nullptr;
    }
}

bool transfer_base_t::send_down(const ref_ptr<packet::base_t>& p) {
    ref_ptr<packet::base_t> out = route_control_out(p);
    if (!out)
        return false;
    return wait_send(out);
}

std::uint32_t transfer_base_t::run() {
    std::uint32_t result = process();
    if (output)
        output->finish();
    return result;
}

} // namespace zarnfilter
