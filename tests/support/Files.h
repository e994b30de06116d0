// Small pieces the test programs share: a private folder per test, reading a
// whole file, waiting for a condition with a limit.
#pragma once

#include <chrono>
#include <string>
#include <thread>

namespace zarntest {

// A fresh folder /tmp/zarn-<name>-XXXXXX; empty when it could not be made.
std::string MakeTempDir(const std::string& name);
// The file's bytes; empty when it cannot be read.
std::string ReadAll(const std::string& path);

// Polls p every millisecond until it holds or the limit has passed.
template <typename Pred>
bool WaitFor(Pred p, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!p()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zarntest
