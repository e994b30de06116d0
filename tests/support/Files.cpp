#include "tests/support/Files.h"

#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarntest {

std::string MakeTempDir(const std::string& name) {
    std::string pattern = "/tmp/zarn-" + name + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool ReturnsPromptly(const std::function<void()>& work, const std::string& fifo,
                     std::chrono::milliseconds limit) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread t(std::move(task));
    const bool prompt = done.wait_for(limit) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    t.join();
    done.get();
    return prompt;
}

namespace {

std::string SuiteName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? info->test_suite_name() : "test";
}

// Gives the owner back every right on the folders below path, so that the
// whole tree can go.
void MakeRemovable(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
        return;
    ::chmod(path.c_str(), 0700);
    for (const auto& e : std::filesystem::directory_iterator(path, ec))
        MakeRemovable(e.path());
}

} // namespace

TempDir::TempDir() : TempDir(SuiteName()) {}

TempDir::TempDir(const std::string& name) : path_(MakeTempDir(name)) {
    if (path_.empty())
        throw std::runtime_error("cannot make a folder for " + name + " in /tmp");
}

TempDir::~TempDir() {
    MakeRemovable(path_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace zarntest
