#include "tests/support/Process.h"

#include "tests/support/Files.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace zarntest {

Program::Program(const std::vector<std::string>& argv, const Environment& env,
                 const std::string& out, const std::string& err, const std::string& folder)
    : out_(out), err_(err) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (!env.count(var.substr(0, var.find('='))))
            vars.push_back(var);
    }
    for (const auto& [name, value] : env)
        if (!value.empty())
            vars.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& v : vars)
        envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (argv.empty() ||
        posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Program::~Program() {
    Kill();
}

bool Program::Running() {
    if (pid_ <= 0 || exited_)
        return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        exited_ = true;
        return false;
    }
    return true;
}

int Program::Wait(double seconds) {
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(seconds));
    if (!WaitFor([this] { return !Running(); }, limit) || !exited_) {
        Kill();
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Program::Signal(int sig) {
    if (Running())
        kill(pid_, sig);
}

void Program::Kill() {
    if (Running()) {
        kill(pid_, SIGKILL);
        if (waitpid(pid_, &status_, 0) == pid_)
            exited_ = true;
    }
}

std::string Program::Line(double seconds) {
    std::string line;
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(seconds));
    WaitFor(
        [&] {
            const std::string text = Out();
            const auto nl = text.find('\n', lineEnd_);
            if (nl == std::string::npos)
                return false;
            line = text.substr(lineEnd_, nl - lineEnd_);
            lineEnd_ = nl + 1;
            return true;
        },
        limit);
    return line;
}

std::string Program::Out() const {
    return ReadAll(out_);
}

std::string Program::Err() const {
    return ReadAll(err_);
}

bool MakeTone(const std::string& path, int seconds, const std::string& options) {
    const std::string command =
        "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
        " -ac 2 " + options + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

SilentBus::SilentBus(const std::string& path) : path_(path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Connections wait in the backlog, never accepted, never answered.
    if (fd_ >= 0 && (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                     ::listen(fd_, 64) != 0)) {
        ::close(fd_);
        fd_ = -1;
    }
}

SilentBus::~SilentBus() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

} // namespace zarntest
