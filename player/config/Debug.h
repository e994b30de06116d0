// The diagnostic log sink handed to the engine and used by the program's own
// windows and threads. Reports are discarded unless ZARNPLAYER_LOG=stderr,
// which prints them for diagnosis.
#pragma once

#include "engine/include/IPlayer.h"

#include <atomic>

class TLogSink final : public ILogSink {
public:
    HRESULT QueryInterface(const IID& iid, void** out) override;
    ULONG AddRef() override;
    // The process-wide instance is never deleted, even at a count of 0.
    ULONG Release() override;

    HRESULT LogDebug(const char* source, const char* message) override;
    HRESULT LogTrace(const char* source, const char* message) override;
    HRESULT LogError(const char* source, const char* message) override;

private:
    std::atomic<std::int32_t> refCount_{0};
};

TLogSink& LogSink();

// The source of every report the program itself makes.
inline constexpr const char* LOG_SOURCE = "zarnplayer.exe";
