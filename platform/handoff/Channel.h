// Which process is the player, and the hand-off of a second start's names to
// it. The running player holds a lock on a file in a per-user folder for its
// whole life (the lock dies with the process, so a crash leaves no "running"
// mark), keeps the shared block (a file in the same private folder, so no
// other user can take its name first) mapped and listens on a Unix socket
// that the window handle in the block names. A second start takes the forwarding lock
// (one at a time), writes its names into the block and sends WM_HANDOFF over
// the socket, then waits a bounded time for the one-byte answer.
//
// A sender that gives up must not have its names applied later, nor have
// them mixed with the next sender's: the player takes the text only while
// its sender is still connected, and both sides decide under a third lock
// (the take lock), which the player holds from that check until it has
// copied the text and written the answer. A sender that gives up takes the
// same lock, and unless the answer has come, hangs up and clears the text.
#pragma once

#include "platform/handoff/Block.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace handoff {

struct Settings {
    // Players with different scopes never meet; the program passes the
    // folder of the files it keeps, so a player with its own settings and
    // lists runs beside another one.
    std::string scope;
    // How long a second start waits for its turn and then for the answer.
    std::chrono::milliseconds timeout{10000};
    std::chrono::milliseconds step{30};
};

// The channel's folder: $XDG_RUNTIME_DIR/zarnplayer when that folder is set,
// else /tmp/zarnplayer-<uid>. Empty, with the reason in error, when it is
// not a real folder of ours with mode 0700.
std::string ChannelFolder(std::string& error);
// Creates folder with mode 0700 when missing; false unless it is a folder
// (not a link) owned by this user with mode 0700.
bool CheckFolder(const std::string& folder, std::string& error);
// The shared block's file for a scope in the channel's folder.
std::string BlockPath(const std::string& folder, const std::string& scope);
// Whether the process at the other end of a connected Unix socket runs as
// this user.
bool PeerIsOurUser(int socket);

class Answerer;

// The running player's side of the channel.
class Receiver {
public:
    using Take = std::function<void(const std::vector<std::string>& names)>;

    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Writes this process's handle into the block: from now on second starts
    // hand over instead of waiting. Call once the windows exist.
    void Publish();
    // Readable when a second start has connected.
    int ListenFd() const { return listen_; }
    // Answers the second starts that have connected, without waiting for
    // any (see Answerer); false when nothing was taken.
    bool Answer(const Take& take);
    // A connection is still being read or waits for the take lock: call
    // Answer again soon.
    bool Waiting() const;

    Block Mapped() const { return Block(block_, BlockSize); }
    const std::string& SocketPath() const { return socketPath_; }
    const std::string& BlockPath() const { return blockPath_; }

private:
    friend struct Opener;
    Receiver() = default;

    int lock_ = -1;
    int takeLock_ = -1;
    std::unique_ptr<Answerer> answerer_;
    int listen_ = -1;
    std::uint8_t* block_ = nullptr;
    std::string socketPath_;
    std::string blockPath_;
};

// Answers the second starts on a listening socket without ever blocking
// its caller: a step takes the connections that have come (from this user
// only), reads what their senders wrote so far, and answers each that
// carries WM_HANDOFF and still waits for the answer: the block's names are
// taken (the block cleared), the answer is written and then the names go
// to take. A sender that has not written its message within 2 s is dropped;
// one whose take lock is held (a sender deciding to give up) waits for a
// later step. takeLock is the take lock's descriptor, -1 where no sender
// can give up (a test's own socket).
class Answerer {
public:
    Answerer(int listenFd, Block block, int takeLock = -1);
    ~Answerer();
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;

    // False when nothing was taken.
    bool Step(const Receiver::Take& take);
    // Connections left for a later step.
    bool Waiting() const { return !callers_.empty(); }

private:
    struct Caller;
    enum class Outcome { Taken, Later, Dropped };
    // The block's text in text when Taken.
    Outcome Serve(Caller& caller, std::string& text);

    int listen_;
    Block block_;
    int takeLock_;
    std::vector<std::unique_ptr<Caller>> callers_;
};

enum class Role {
    Running,   // this process is the player (receiver set unless no hand-off is possible)
    Forwarded, // the names were handed over; exit with status 0
    Failed     // nothing was handed over; say why and exit with a non-zero status
};

struct Start {
    Role role = Role::Running;
    std::unique_ptr<Receiver> receiver;
    // For stderr: why there is no hand-off, what was left out, or the failure.
    std::string message;
};

// Decides before any window exists. A running player takes names; when the
// player that ran is gone (also while this start waits) this one becomes it.
Start Decide(const std::vector<std::string>& names, const Settings& settings);

} // namespace handoff
