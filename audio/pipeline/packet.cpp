#include "audio/pipeline/packet.h"

namespace packet {

void base_t::on_last_release() {
    if (owner) {
        // The recycler may outlive its reference here; keep it alive for the call.
        ref_ptr<recycler_t> r = owner;
        r->take_back(this);
        return;
    }
    delete this;
}

} // namespace packet
