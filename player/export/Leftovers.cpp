#include "player/export/Leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string_view>

namespace fs = std::filesystem;

namespace exporter {

namespace {

constexpr std::string_view kPartialMark = ".zarn-";
constexpr std::string_view kFolderPrefix = "zarnplayer-export-";
// Between making a file and locking it a live export does not hold it yet:
// nothing younger than this is taken for dead.
constexpr std::time_t kSettleSeconds = 10;

// The six characters mkstemp and mkdtemp put in place of "XXXXXX".
bool IsUnique(std::string_view s) {
    if (s.size() != 6)
        return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool IsPartialName(std::string_view n) {
    const std::size_t tail = kPartialMark.size() + 6;
    return n.size() > tail + 1 && n[0] == '.' &&
           n.substr(n.size() - tail, kPartialMark.size()) == kPartialMark &&
           IsUnique(n.substr(n.size() - 6));
}

bool IsFolderName(std::string_view n) {
    return n.size() == kFolderPrefix.size() + 6 &&
           n.substr(0, kFolderPrefix.size()) == kFolderPrefix &&
           IsUnique(n.substr(kFolderPrefix.size()));
}

// Opens `name` in `dir` and takes its lock when it is ours, settled and held
// by nobody; -1 otherwise. Only plain files and folders are opened.
int TakeDead(int dir, const char* name, bool folder) {
    struct stat before {};
    if (fstatat(dir, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || before.st_uid != geteuid() ||
        !(folder ? S_ISDIR(before.st_mode) : S_ISREG(before.st_mode)) ||
        before.st_mtime + kSettleSeconds > std::time(nullptr))
        return -1;
    const int fd = openat(
        dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return -1;
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || opened.st_dev != before.st_dev ||
        opened.st_ino != before.st_ino || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

template <typename F> void ForEachEntry(const std::string& folder, F f) {
    DIR* d = opendir(folder.c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d))
        f(dirfd(d), e->d_name);
    closedir(d);
}

} // namespace

HeldLock::~HeldLock() {
    Release();
}

void HeldLock::Hold(int fd) {
    Release();
    fd_ = fd;
}

void HeldLock::Release() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

std::string MakePartial(const std::string& output, HeldLock& lock) {
    const fs::path out(output);
    const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
    std::string path =
        (folder / ("." + out.filename().string() + std::string(kPartialMark) + "XXXXXX")).string();
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(fd);
        unlink(path.c_str());
        errno = e;
        return {};
    }
    lock.Hold(fd);
    return path;
}

std::string MakeCaptureFolder(const std::string& tmp, HeldLock& lock) {
    std::string path = tmp + "/" + std::string(kFolderPrefix) + "XXXXXX";
    if (!mkdtemp(path.data()))
        return {};
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (fd >= 0)
            close(fd);
        rmdir(path.c_str());
        errno = e;
        return {};
    }
    lock.Hold(fd);
    return path;
}

void RemoveDeadPartials(const std::string& folder) {
    ForEachEntry(folder, [](int dir, const char* name) {
        if (!IsPartialName(name))
            return;
        const int fd = TakeDead(dir, name, false);
        if (fd < 0)
            return;
        unlinkat(dir, name, 0);
        close(fd);
    });
}

void RemoveDeadCaptureFolders(const std::string& tmp) {
    ForEachEntry(tmp, [](int dir, const char* name) {
        if (!IsFolderName(name))
            return;
        const int fd = TakeDead(dir, name, true);
        if (fd < 0)
            return;
        // What the folder holds is only ever the capture; anything else
        // keeps the folder.
        unlinkat(fd, kCaptureName, 0);
        unlinkat(dir, name, AT_REMOVEDIR);
        close(fd);
    });
}

} // namespace exporter
