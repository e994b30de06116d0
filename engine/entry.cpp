// The library's entry points and the root object that yields the player.
#include "engine/player.h"

#include <gst/pbutils/pbutils.h>

#define ZARN_EXPORT __attribute__((visibility("default")))

namespace {

// Asked for the player interface, the root hands out its one player.
class Root final : public IUnknown {
public:
    Root() : player_(new Player) {}

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IPlayer)
            return player_->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        const std::int32_t left = --refs_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    ~Root() { player_->Release(); }

    std::atomic<std::int32_t> refs_{1};
    IPlayer* player_;
};

} // namespace

extern "C" {

ZARN_EXPORT HRESULT QRVE_Initialize() {
    GError* err = nullptr;
    if (!gst_init_check(nullptr, nullptr, &err)) {
        g_clear_error(&err);
        return E_FAIL;
    }
    gst_pb_utils_init();
    return S_OK;
}

ZARN_EXPORT HRESULT QRVE_GetInterface(IUnknown** root) {
    if (!root)
        return E_POINTER;
    if (!gst_is_initialized()) {
        *root = nullptr;
        return E_UNEXPECTED;
    }
    *root = new Root;
    return S_OK;
}

// GStreamer cannot be initialised twice in one process, so it stays loaded.
ZARN_EXPORT HRESULT QRVE_Finalize() {
    return S_OK;
}
}
