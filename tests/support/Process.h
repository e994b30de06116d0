// A program the test runs as a child process: its own environment and
// working folder, its output in files the test reads, and an end the test
// controls, so that no child outlives its test.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace zarntest {

class Program {
public:
    // Variables to set for the child; an empty value removes the variable.
    using Environment = std::map<std::string, std::string>;

    // Starts argv[0] (a path) with this process's environment changed by
    // env, stdin from /dev/null, stdout and stderr into the files out and
    // err, in folder when one is given.
    Program(const std::vector<std::string>& argv, const Environment& env, const std::string& out,
            const std::string& err, const std::string& folder = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Running();
    // Its exit status; -1 when a signal ended it or it did not end within
    // seconds (it is killed then).
    int Wait(double seconds = 15);
    void Signal(int sig);
    // Kills it at once and waits for it to be gone.
    void Kill();
    // The next whole line of its output; empty when none comes within seconds.
    std::string Line(double seconds = 5);
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string out_, err_;
    std::size_t lineEnd_ = 0; // how much of out_ Line has handed out
};

// A Unix socket at path that takes connections and never answers them: a
// session bus that hangs. Address() is for DBUS_SESSION_BUS_ADDRESS.
class SilentBus {
public:
    explicit SilentBus(const std::string& path);
    ~SilentBus();
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    bool Listening() const { return fd_ >= 0; }
    std::string Address() const { return "unix:path=" + path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// A 440 Hz stereo tone of that many seconds made by ffmpeg at path (its
// extension picks the format), with options before the path; true when made.
bool MakeTone(const std::string& path, int seconds, const std::string& options = "");

} // namespace zarntest
