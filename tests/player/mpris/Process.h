// Helpers of the program tests: commands and their output, and waiting for
// a condition; the program itself runs as a zarntest::Program in a
// zarntest::TempDir.
#pragma once

#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zarntest {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

inline std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// What a shell command prints on its standard output, trailing line ends cut.
inline std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// A private session bus of its own: its address, and its process id for the
// end (-1 with an empty address when it did not start). environment
// ("NAME=value ...") goes to the bus and what it starts on demand.
struct SessionBus {
    std::string address;
    int pid = -1;
};
inline SessionBus StartSessionBus(const std::string& environment = "") {
    // Two lines: the address, then the process id.
    const std::string out =
        Output("env " + environment +
               " dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1");
    const auto cut = out.find('\n');
    if (cut == std::string::npos)
        return {};
    return {out.substr(0, cut), std::atoi(out.c_str() + cut + 1)};
}

inline int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool Have(const std::string& tool) {
    return Shell("command -v " + tool + " >/dev/null 2>&1") == 0;
}

inline bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

} // namespace zarntest
