// The session with the playback engine: the engine started and its player
// obtained, the windows, the log sink and the options handed over, and at
// the end everything given back in reverse order.
#pragma once

#include "engine/include/IPlayer.h"

#include <string>

// The engine's three exported functions; tests pass their own.
struct EngineEntries {
    HRESULT (*Initialize)();
    HRESULT (*GetInterface)(IUnknown** root);
    HRESULT (*Finalize)();
};

class TEngineSession {
public:
    explicit TEngineSession(EngineEntries entries) : entries_(entries) {}
    ~TEngineSession();
    TEngineSession(const TEngineSession&) = delete;
    TEngineSession& operator=(const TEngineSession&) = delete;

    // Starts the engine and takes its player interface. Runs before the
    // windows exist, so a failed start touches none of the user's files.
    // Returns an empty text, or what went wrong in words for the user.
    std::string Open();
    // The rest of the start: seeds the generator, gives the engine the
    // windows and the log sink, and loads the options.
    void Attach(Window* notify, VideoWindow* video);
    // Saves the options, takes the log sink back, shuts the engine down and
    // releases it. Runs once; the destructor runs it too.
    void Close();

    IPlayer* Player() const { return player_; }

private:
    EngineEntries entries_;
    bool initialized_ = false;
    // The options are saved only after they were loaded.
    bool attached_ = false;
    IPlayer* player_ = nullptr;
    ILogSink* logSink_ = nullptr;
};
