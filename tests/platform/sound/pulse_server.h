// A private PulseAudio server for tests and benchmarks: a null sink as the
// default, an anonymous native socket, everything in a temporary folder, and
// the client environment pointed at it. Stopped by its process id.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_sound {

inline bool HavePulseAudioBinary() {
    return std::system("command -v pulseaudio >/dev/null 2>&1") == 0;
}

class PulseServer {
public:
    PulseServer() {
        char tmpl[] = "/tmp/zarn-pulse-XXXXXX";
        if (!mkdtemp(tmpl))
            return;
        dir_ = tmpl;
        socket_ = dir_ + "/native";
        std::ofstream script(dir_ + "/default.pa");
        script << "load-module module-null-sink sink_name=zarn_null rate=44100 norewinds=1\n"
               << "set-default-sink zarn_null\n"
               << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_
               << "\n";
        script.close();
        std::filesystem::create_directories(dir_ + "/runtime");
        std::filesystem::create_directories(dir_ + "/home");
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (dir_ + "/runtime").c_str(), 1);
        setenv("HOME", (dir_ + "/home").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
        ready_ = Start();
    }

    ~PulseServer() {
        Stop();
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    bool Ready() const { return ready_; }
    const std::string& Dir() const { return dir_; }
    std::string Log() const {
        std::ifstream f(dir_ + "/server.log");
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

    // Starts the server (again, after Stop) on the same socket; true once it answers.
    bool Start() {
        if (dir_.empty() || pid_ > 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            // A test that aborts must not leave its server behind.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const std::string log = dir_ + "/server.log";
            std::freopen(log.c_str(), "a", stderr);
            std::freopen("/dev/null", "w", stdout);
            const std::string file = dir_ + "/default.pa";
            execlp("pulseaudio", "pulseaudio", "-n", "-F", file.c_str(), "--daemonize=no",
                   "--exit-idle-time=-1", "--disallow-exit=no", "--log-target=stderr",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid_ > 0 && WaitReady();
    }

    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    // Ready once a client gets an answer on the socket.
    bool WaitReady() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            if (std::filesystem::exists(socket_) && Answers())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    static bool Answers() {
        pa_mainloop* loop = pa_mainloop_new();
        pa_context* c = pa_context_new(pa_mainloop_get_api(loop), "zarn-test-probe");
        bool ok = false;
        if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            for (int i = 0; i < 200; ++i) {
                pa_mainloop_iterate(loop, 0, nullptr);
                const pa_context_state_t s = pa_context_get_state(c);
                if (s == PA_CONTEXT_READY) {
                    ok = true;
                    break;
                }
                if (!PA_CONTEXT_IS_GOOD(s))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        pa_context_disconnect(c);
        pa_context_unref(c);
        pa_mainloop_free(loop);
        return ok;
    }

    std::string dir_;
    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace testing_sound
