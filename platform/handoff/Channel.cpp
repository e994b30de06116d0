#include "platform/handoff/Channel.h"

#include "platform/commatext.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace handoff {

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& o) noexcept : fd_(o.Release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            Reset();
            fd_ = o.Release();
        }
        return *this;
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A forwarding start's view of the running player's block.
class View {
public:
    View() = default;
    explicit View(std::uint8_t* p) : p_(p) {}
    ~View() {
        if (p_)
            munmap(p_, BlockSize);
    }
    View(View&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    View& operator=(View&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    explicit operator bool() const { return p_ != nullptr; }
    Block Get() const { return Block(p_, BlockSize); }

private:
    std::uint8_t* p_ = nullptr;
};

std::string Reason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

std::string HexHash(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

std::string Seconds(std::chrono::milliseconds t) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(t.count()) / 1000.0);
    return text;
}

// A lock file of ours, opened so no started program inherits the lock.
Fd OpenLockFile(const std::string& path, std::string& error) {
    Fd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        error = Reason(path.c_str(), errno);
        return fd;
    }
    struct stat st = {};
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        error = path + " is not a lock file of this user";
        fd.Reset();
    }
    return fd;
}

bool TryLock(const Fd& fd) {
    return flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
}

// Opens the running player's block, refusing one that is not this user's
// own 0600 block of exactly the block's size.
View OpenBlock(const std::string& path) {
    Fd fd(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd)
        return {};
    struct stat st = {};
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 07777) != 0600 || st.st_size != static_cast<off_t>(BlockSize))
        return {};
    void* p = mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    return p == MAP_FAILED ? View() : View(static_cast<std::uint8_t*>(p));
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

Fd Connect(const std::string& path) {
    sockaddr_un address;
    if (!SocketAddress(path, address))
        return Fd();
    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    return fd;
}

// Waits until fd is readable or the time is up.
bool WaitReadable(int fd, Clock::time_point until) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p = {fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Holds an flock for a scope, waiting at most until a time for it.
class HeldLock {
public:
    HeldLock(int fd, Clock::time_point until, std::chrono::milliseconds step) : fd_(fd) {
        while (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= until) {
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(step);
        }
    }
    ~HeldLock() {
        if (fd_ >= 0)
            flock(fd_, LOCK_UN);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Whether the peer of a connected socket still waits: it has neither hung up
// nor gone away.
bool PeerWaits(int socket) {
    char c;
    for (;;) {
        const ssize_t n = recv(socket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

} // namespace

struct Opener {
    // The running player's channel, set up while it holds the lock: a block
    // left by a crashed player is removed and made anew.
    static std::unique_ptr<Receiver> Open(Fd lock, const std::string& base,
                                          const std::string& blockPath, std::string& error) {
        std::unique_ptr<Receiver> r(new Receiver);
        r->lock_ = lock.Release();
        Fd take = OpenLockFile(base + ".take", error);
        if (!take)
            return nullptr;
        r->takeLock_ = take.Release();
        unlink(blockPath.c_str());
        Fd fd(open(blockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) {
            error = Reason("the shared block", errno);
            return nullptr;
        }
        r->blockPath_ = blockPath;
        if (fchmod(fd.Get(), 0600) != 0 || ftruncate(fd.Get(), BlockSize) != 0) {
            error = Reason("the shared block", errno);
            return nullptr;
        }
        void* p = mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
        if (p == MAP_FAILED) {
            error = Reason("the shared block", errno);
            return nullptr;
        }
        r->block_ = static_cast<std::uint8_t*>(p);

        const std::string path = base + "." + std::to_string(getpid()) + ".sock";
        sockaddr_un address;
        if (!SocketAddress(path, address)) {
            error = "the folder's path is too long for a socket: " + path;
            return nullptr;
        }
        Fd s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        unlink(path.c_str());
        if (!s || bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = Reason(path.c_str(), errno);
            return nullptr;
        }
        r->socketPath_ = path;
        if (chmod(path.c_str(), 0600) != 0 || listen(s.Get(), 16) != 0) {
            error = Reason(path.c_str(), errno);
            return nullptr;
        }
        r->listen_ = s.Release();
        return r;
    }
};

std::string ChannelFolder(std::string& error) {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    struct stat st = {};
    const std::string folder = xdg && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)
                                   ? std::string(xdg) + "/zarnplayer"
                                   : "/tmp/zarnplayer-" + std::to_string(geteuid());
    return CheckFolder(folder, error) ? folder : std::string();
}

bool CheckFolder(const std::string& folder, std::string& error) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = Reason(folder.c_str(), errno);
        return false;
    }
    struct stat st = {};
    if (lstat(folder.c_str(), &st) != 0) {
        error = Reason(folder.c_str(), errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = folder + " belongs to another user";
        return false;
    }
    if ((st.st_mode & 07777) != 0700) {
        error = folder + " is open to other users (its mode is not 0700)";
        return false;
    }
    return true;
}

std::string BlockPath(const std::string& folder, const std::string& scope) {
    return folder + "/" + HexHash(scope) + ".block";
}

bool PeerIsOurUser(int socket) {
    ucred cred = {};
    socklen_t size = sizeof cred;
    return getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred &&
           cred.uid == geteuid();
}

Receiver::~Receiver() {
    if (listen_ >= 0)
        close(listen_);
    if (!socketPath_.empty())
        unlink(socketPath_.c_str());
    if (block_)
        munmap(block_, BlockSize);
    if (takeLock_ >= 0)
        close(takeLock_);
    if (!blockPath_.empty())
        unlink(blockPath_.c_str());
    // Last: while the lock is held nobody else sets up the same names.
    if (lock_ >= 0)
        close(lock_);
}

void Receiver::Publish() {
    SetWindowHandle(Mapped(), static_cast<std::uint32_t>(getpid()));
}

bool Receiver::Answer(const Take& take) {
    if (!answerer_)
        answerer_ = std::make_unique<Answerer>(listen_, Mapped(), takeLock_);
    return answerer_->Step(take);
}

bool Receiver::Waiting() const {
    return answerer_ && answerer_->Waiting();
}

// A connected sender and what has come of its message.
struct Answerer::Caller {
    Fd socket;
    std::uint32_t msg = 0;
    std::size_t got = 0;
    Clock::time_point until;
};

Answerer::Answerer(int listenFd, Block block, int takeLock)
    : listen_(listenFd), block_(block), takeLock_(takeLock) {}

Answerer::~Answerer() = default;

bool Answerer::Step(const Receiver::Take& take) {
    for (;;) {
        Fd c(accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!c) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (!PeerIsOurUser(c.Get()))
            continue;
        auto caller = std::make_unique<Caller>();
        caller->socket = std::move(c);
        // The sender writes the message as soon as it is connected; a peer
        // that does not is dropped before long.
        caller->until = Clock::now() + std::chrono::seconds(2);
        callers_.push_back(std::move(caller));
    }
    // The names go to take only after the round: take may run the event
    // loop, and with it another step.
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < callers_.size();) {
        std::string text;
        const Outcome outcome = Serve(*callers_[i], text);
        if (outcome == Outcome::Taken)
            texts.push_back(std::move(text));
        if (outcome == Outcome::Later)
            ++i;
        else
            callers_.erase(callers_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    for (const std::string& text : texts)
        take(ReadCommaText(text));
    return !texts.empty();
}

Answerer::Outcome Answerer::Serve(Caller& caller, std::string& text) {
    const int c = caller.socket.Get();
    while (caller.got < sizeof caller.msg) {
        const ssize_t n = recv(c, reinterpret_cast<char*>(&caller.msg) + caller.got,
                               sizeof caller.msg - caller.got, MSG_DONTWAIT);
        if (n > 0) {
            caller.got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Clock::now() < caller.until ? Outcome::Later : Outcome::Dropped;
        return Outcome::Dropped;
    }
    if (caller.msg != WM_HANDOFF)
        return Outcome::Dropped;
    {
        // A sender giving up holds this lock while it decides, never for
        // long: this one is looked at again at a later step.
        if (takeLock_ >= 0 && flock(takeLock_, LOCK_EX | LOCK_NB) != 0)
            return Clock::now() < caller.until ? Outcome::Later : Outcome::Dropped;
        struct Unlock {
            int fd;
            ~Unlock() {
                if (fd >= 0)
                    flock(fd, LOCK_UN);
            }
        } unlock{takeLock_};
        if (!PeerWaits(c))
            return Outcome::Dropped;
        text = TakeText(block_);
        const char done = 1;
        // The sender checks for this byte under the same lock before it gives
        // up, so once it is written the sender counts the names as taken.
        if (send(c, &done, 1, MSG_NOSIGNAL) != 1)
            return Outcome::Dropped;
    }
    return Outcome::Taken;
}

namespace {

Start Running(std::string message) {
    Start s;
    s.role = Role::Running;
    s.message = std::move(message);
    return s;
}

Start Failed(std::string message) {
    Start s;
    s.role = Role::Failed;
    s.message = std::move(message);
    return s;
}

Start BecomeRunning(Fd lock, const std::string& base, const std::string& blockPath) {
    std::string error;
    Start s;
    s.role = Role::Running;
    s.receiver = Opener::Open(std::move(lock), base, blockPath, error);
    // Without a channel the lock goes too, so later starts run as players of
    // their own instead of waiting for one that cannot answer.
    if (!s.receiver)
        s.message = "second starts cannot hand over their files: " + error;
    return s;
}

// Called when the answer did not come in time: under the take lock, the
// answer may still be there (the names were taken) or the sender hangs up
// and clears its text, so the player never takes it. True when taken.
bool GiveUp(int socket, Block block, const std::string& base, Clock::time_point until,
            std::chrono::milliseconds step) {
    std::string error;
    Fd takeLock = OpenLockFile(base + ".take", error);
    HeldLock decide(takeLock.Get(), until, step);
    char done = 0;
    if (recv(socket, &done, 1, MSG_DONTWAIT) == 1)
        return true;
    shutdown(socket, SHUT_RDWR);
    // Without the lock the player is stuck inside the take of some sender:
    // the text stays for it rather than being cut under its copy.
    if (decide.Held())
        PutText(block, {});
    return false;
}

// Sends the message and waits for the answer; empty when it came.
std::string Send(int socket, Clock::time_point until, std::chrono::milliseconds timeout) {
    const std::uint32_t msg = WM_HANDOFF;
    if (send(socket, &msg, sizeof msg, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof msg))
        return errno == EPIPE || errno == ECONNRESET
                   ? "the running player ended before it took the files"
                   : Reason("sending to the running player", errno);
    char done = 0;
    for (;;) {
        if (!WaitReadable(socket, until))
            return "the running player did not answer within " + Seconds(timeout);
        const ssize_t n = recv(socket, &done, 1, 0);
        if (n == 1)
            return {};
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return "the running player ended before it took the files";
        if (errno != EINTR && errno != EAGAIN)
            return Reason("waiting for the running player", errno);
    }
}

} // namespace

Start Decide(const std::vector<std::string>& names, const Settings& settings) {
    std::string error;
    const std::string folder = ChannelFolder(error);
    if (folder.empty())
        return Running("second starts cannot hand over their files: " + error);
    const std::string hash = HexHash(settings.scope);
    const std::string base = folder + "/" + hash;
    const std::string blockPath = BlockPath(folder, settings.scope);

    Fd running = OpenLockFile(base + ".running", error);
    if (!running)
        return Running("second starts cannot hand over their files: " + error);
    if (TryLock(running))
        return BecomeRunning(std::move(running), base, blockPath);
    if (errno != EWOULDBLOCK)
        return Running("second starts cannot hand over their files: " + Reason("lock", errno));

    // Another player runs: wait for our turn among the second starts.
    Fd forward = OpenLockFile(base + ".forward", error);
    if (!forward)
        return Failed("cannot hand the files over: " + error);
    auto until = Clock::now() + settings.timeout;
    while (!TryLock(forward)) {
        if (TryLock(running))
            return BecomeRunning(std::move(running), base, blockPath);
        if (Clock::now() >= until)
            return Failed("another start was still handing its files over after " +
                          Seconds(settings.timeout));
        std::this_thread::sleep_for(settings.step);
    }

    std::size_t taken = 0;
    const std::string text = FitCommaText(names, TextLimit, taken);
    if (taken == 0 && !names.empty())
        return Failed("the names are too long to hand over");
    std::string warning;
    if (taken < names.size())
        warning = "only the first " + std::to_string(taken) + " of " +
                  std::to_string(names.size()) +
                  " names fit into the hand-off; the others were left out";

    until = Clock::now() + settings.timeout;
    bool published = false;
    for (;;) {
        if (TryLock(running)) {
            forward.Reset();
            Start s = BecomeRunning(std::move(running), base, blockPath);
            return s;
        }
        if (View view = OpenBlock(blockPath)) {
            if (const std::uint32_t handle = WindowHandle(view.Get())) {
                published = true;
                if (Fd s = Connect(base + "." + std::to_string(handle) + ".sock")) {
                    if (!PeerIsOurUser(s.Get()))
                        return Failed("the running player's socket belongs to another user");
                    PutText(view.Get(), text);
                    if (std::string failure = Send(s.Get(), until, settings.timeout);
                        !failure.empty() && !GiveUp(s.Get(), view.Get(), base,
                                                    Clock::now() + settings.timeout, settings.step))
                        return Failed(failure);
                    Start done;
                    done.role = Role::Forwarded;
                    done.message = warning;
                    return done;
                }
            }
        }
        if (Clock::now() >= until)
            return Failed(
                published
                    ? "the running player did not answer within " + Seconds(settings.timeout)
                    : "the running player did not get ready within " + Seconds(settings.timeout));
        std::this_thread::sleep_for(settings.step);
    }
}

} // namespace handoff
