#include "player/config/Debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool printing() {
    static const bool on = [] {
        const char* v = std::getenv("ZARNPLAYER_LOG");
        return v && std::strcmp(v, "stderr") == 0;
    }();
    return on;
}

HRESULT report(const char* level, const char* source, const char* message) {
    if (printing())
        std::fprintf(stderr, "[%s] %s: %s\n", level, source ? source : "", message ? message : "");
    return S_OK;
}

} // namespace

HRESULT TLogSink::QueryInterface(const IID& iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ILogSink) {
        *out = static_cast<ILogSink*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG TLogSink::AddRef() {
    return static_cast<ULONG>(++refCount_);
}

ULONG TLogSink::Release() {
    return static_cast<ULONG>(--refCount_);
}

HRESULT TLogSink::LogDebug(const char* source, const char* message) {
    return report("debug", source, message);
}
HRESULT TLogSink::LogTrace(const char* source, const char* message) {
    return report("trace", source, message);
}
HRESULT TLogSink::LogError(const char* source, const char* message) {
    return report("error", source, message);
}

TLogSink& LogSink() {
    static TLogSink sink;
    return sink;
}
