// Loads an engine library from the path given and opens one file with it, so
// a test can watch the engine find (or miss) its renderer in a clean process.
// Exit code: 0 opened, 2 no renderer, 1 anything else.
#include "engine/renderer.h"
#include "engine/include/IPlayer.h"

#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3)
        return 1;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "QRVE_Initialize"));
    auto get = reinterpret_cast<HRESULT (*)(IUnknown**)>(dlsym(lib, "QRVE_GetInterface"));
    IUnknown* root = nullptr;
    void* out = nullptr;
    if (!init || !get || init() != S_OK || get(&root) != S_OK ||
        root->QueryInterface(IID_IPlayer, &out) != S_OK)
        return 1;
    root->Release();
    auto* player = static_cast<IPlayer*>(out);
    const HRESULT opened = player->Open(argv[2]);
    std::printf("Open: 0x%08x\n", static_cast<unsigned>(opened));
    player->Shutdown();
    player->Release();
    return opened == S_OK ? 0 : opened == ZARN_E_NO_RENDERER ? 2 : 1;
}
