// Small pieces the test programs share: a private folder per test, reading a
// whole file, waiting for a condition with a limit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace zarntest {

// A fresh folder /tmp/zarn-<name>-XXXXXX; empty when it could not be made.
std::string MakeTempDir(const std::string& name);
// The file's bytes; empty when it cannot be read.
std::string ReadAll(const std::string& path);

// A private folder, removed with all it holds when the object goes, even
// where a test took its write permission away. Named after the running test
// suite unless given a name. Throws when it cannot be made, so that no test
// goes on to write beside the folder it lacks.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::string& name);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A fixture whose every test has a fresh private folder, dir.
class FolderTest : public ::testing::Test {
protected:
    TempDir folder;
    const std::string dir = folder.path();
};

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

// Runs work on a thread; true when it returned within limit. Work stuck
// opening or reading the FIFO at fifo is released afterwards by a writer
// coming and going, so a failing test still ends.
bool ReturnsPromptly(const std::function<void()>& work, const std::string& fifo,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

} // namespace zarntest
