#include "player/probe/Probe.h"

#include "platform/paths.h"
#include "player/probe/Protocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using Clock = std::chrono::steady_clock;

namespace {

std::string HowItEnded(int status) {
    if (WIFSIGNALED(status))
        return "probe killed by signal " + std::to_string(WTERMSIG(status));
    return "probe exited with status " + std::to_string(WEXITSTATUS(status));
}

} // namespace

std::string TProbe::ProgramPath() {
    if (const char* path = std::getenv(PathEnv); path && *path)
        return path;
    return paths::PrivateDir() + "zarnplayer-probe";
}

TProbe::TProbe(std::string program, std::function<bool()> cancelled)
    : program_(std::move(program)), cancelled_(std::move(cancelled)) {}

TProbe::~TProbe() {
    if (pid_ > 0)
        End(false);
}

bool TProbe::Start(std::string& failure) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        failure = std::string("no socket for the probe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], probe::SocketFd);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGSEGV, SIGXCPU})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    // Not the idle class of the thread that asks: the probe's start-up would
    // wait for an idle machine, and the asking thread waits on the probe.
    sched_param batch{};
    posix_spawnattr_setschedpolicy(&attr, SCHED_BATCH);
    posix_spawnattr_setschedparam(&attr, &batch);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSCHEDULER);
    std::string parent = std::to_string(::getpid());
    std::vector<char*> argv{const_cast<char*>(program_.c_str()), parent.data(), nullptr};
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program_.c_str(), &actions, &attr, argv.data(), environ);
    if (rc == EPERM) { // a limit that forbids leaving the idle class: stay in it
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETPGROUP);
        rc = ::posix_spawn(&pid, program_.c_str(), &actions, &attr, argv.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pair[1]);
    if (rc != 0) {
        ::close(pair[0]);
        failure = "the probe " + program_ + " cannot be started: " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    socket_ = pair[0];
    char hello[sizeof probe::Hello];
    bool timedOut = false;
    if (!Receive(hello, sizeof hello, Clock::now() + StartTime, timedOut) ||
        std::memcmp(hello, probe::Hello, sizeof hello) != 0) {
        failure = timedOut ? "the probe did not start in time" : "the probe did not start";
        failure += " (" + End(true) + ")";
        return false;
    }
    return true;
}

std::string TProbe::End(bool kill) {
    ::close(socket_);
    socket_ = -1;
    const pid_t pid = pid_;
    pid_ = -1;
    // A probe the socket's end lets go exits at once; one that does not is
    // killed, so the wait is short.
    int status = 0;
    const auto patience = Clock::now() + std::chrono::milliseconds(kill ? 0 : 500);
    pid_t got = 0;
    while ((got = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < patience)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (got == 0) {
        ::kill(pid, SIGKILL);
        while ((got = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        return "ended by the player";
    }
    if (got < 0)
        return std::string("lost: ") + std::strerror(errno);
    return HowItEnded(status);
}

bool TProbe::Receive(void* data, std::size_t size, Clock::time_point deadline, bool& timedOut) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        if (cancelled_ && cancelled_())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            return false;
        }
        pollfd pfd{socket_, POLLIN, 0};
        // Short slices, so a cancel is seen soon.
        const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t n = ::recv(socket_, p, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> TProbe::Exchange(int fd, const std::string& name,
                                           const std::vector<char>& request,
                                           std::chrono::milliseconds time, BodySizeOf bodySize,
                                           std::string& failure) {
    // A probe that died between two files costs none of them: it is said,
    // and a new one takes this file.
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        ::close(socket_);
        socket_ = -1;
        failure = "the probe died between two files (" + HowItEnded(status) + ")";
    }
    if (pid_ < 0) {
        // A probe that cannot start is said once; the rest of the files
        // keep their names without waiting for further attempts.
        if (startFailed_) {
            failure += std::exchange(prepareFailure_, {});
            return {};
        }
        std::string why;
        if (!Start(why)) {
            // A pass ended by the player while the probe came up is no failure.
            if (cancelled_ && cancelled_())
                return {};
            startFailed_ = true;
            failure += (failure.empty() ? "" : "; ") + why;
            return {};
        }
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec iov{const_cast<char*>(request.data()), 1};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
    // The descriptor goes with the first byte; the rest follows.
    bool sent = ::sendmsg(socket_, &msg, MSG_NOSIGNAL) == 1;
    for (std::size_t at = 1; sent && at < request.size();) {
        const ssize_t n = ::send(socket_, request.data() + at, request.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        sent = n > 0;
        at += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const auto deadline = Clock::now() + time;
    bool timedOut = false;
    std::vector<std::uint8_t> message(probeanswer::HeaderSize);
    bool ok = sent && Receive(message.data(), message.size(), deadline, timedOut);
    if (ok) {
        const auto body = bodySize(std::span<const std::uint8_t, probeanswer::HeaderSize>(
            message.data(), probeanswer::HeaderSize));
        ok = body.has_value();
        if (ok) {
            message.resize(probeanswer::HeaderSize + *body);
            ok = Receive(message.data() + probeanswer::HeaderSize, *body, deadline, timedOut);
        }
    }
    if (!ok) {
        const bool cancelled = !timedOut && cancelled_ && cancelled_();
        const std::string how = End(timedOut || cancelled);
        // A reading the owner called off is no failure of the file's.
        if (!cancelled)
            failure = (timedOut ? "the probe overran its time on " : "the probe failed on ") +
                      name + " (" + how + ")";
        return {};
    }
    return message;
}

void TProbe::Prepare() {
    if (pid_ > 0 || startFailed_)
        return;
    std::string why;
    if (!Start(why) && !(cancelled_ && cancelled_())) {
        startFailed_ = true;
        prepareFailure_ = why;
    }
}

namespace {

std::vector<char> Request(probe::Kind kind, const std::string& name) {
    const std::string label = name.size() > probe::MaxName ? name.substr(0, probe::MaxName) : name;
    std::vector<char> request(3 + label.size());
    request[0] = static_cast<char>(kind);
    request[1] = static_cast<char>(label.size() & 0xFF);
    request[2] = static_cast<char>(label.size() >> 8);
    std::copy(label.begin(), label.end(), request.begin() + 3);
    return request;
}

void Put(std::vector<char>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

} // namespace

TProbe::Outcome TProbe::Read(int fd, const std::string& name) {
    Outcome out;
    const std::vector<std::uint8_t> message = Exchange(
        fd, name, Request(probe::Kind::Read, name), FileTime, &probeanswer::BodySize, out.Failure);
    if (message.empty())
        return out;
    out.Answer = probeanswer::Parse(message);
    if (!out.Answer)
        out.Failure = "the probe's answer for " + name + " was malformed (" + End(true) + ")";
    return out;
}

std::chrono::milliseconds TProbe::MeasureTime(unsigned cpuSeconds) {
    // The probe runs in the batch class beside the player: it may wait for
    // the CPU, so the wall-clock bound is generous but fixed by the budget.
    return std::chrono::milliseconds(2000 + 4000ll * std::min(cpuSeconds, probe::MaxMeasureCpu));
}

TProbe::Measured TProbe::Measure(int fd, const std::string& name, const Measurement& what) {
    Measured out;
    std::vector<char> request = Request(probe::Kind::Measure, name);
    Put(request, static_cast<std::uint32_t>(std::clamp(what.Seconds, 0.0, 4e9)));
    const unsigned cpu = std::clamp(what.CpuSeconds, 1u, probe::MaxMeasureCpu);
    Put(request, cpu);
    request.push_back(what.TruePeak ? 1 : 0);
    const std::vector<std::uint8_t> message =
        Exchange(fd, name, request, MeasureTime(cpu), &probeanswer::LoudnessBodySize, out.Failure);
    if (message.empty())
        return out;
    out.Answer = probeanswer::ParseLoudness(message);
    if (!out.Answer)
        out.Failure = "the probe's measurement of " + name + " was malformed (" + End(true) + ")";
    return out;
}
