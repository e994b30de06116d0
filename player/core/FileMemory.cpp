#include "player/core/FileMemory.h"

#include "platform/linetext.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/regularfile.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line per file, oldest first: position, rate, ended, path, separated by
// tabs. The path is escaped so that no byte of it can end a field or a line.
constexpr std::string_view kHeader =
    "# zarnplayer positions: position (100 ns)\trate\tended\tpath\n";

constexpr std::int64_t kResumeBack = 30'000'000; // 3 s

// 1,000 entries of the longest paths there can be take about 4 MB.
constexpr std::size_t kMaxFileSize = 16 << 20;

// Another player holds the lock for one read and one write of the file.
constexpr std::chrono::milliseconds kLockWait = std::chrono::seconds(5);

// An exclusive lock on path (created when missing) for this object's life,
// waited for up to `wait`; Held() is false when another player still had it.
class LockFile {
public:
    LockFile(const std::string& path, std::chrono::milliseconds wait) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd_ < 0)
            throw profile::Error(path + ": cannot be opened (" + std::strerror(errno) + ")");
        const auto until = std::chrono::steady_clock::now() + wait;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                const std::string why = std::strerror(errno);
                ::close(fd_);
                throw profile::Error(path + ": cannot be locked (" + why + ")");
            }
            if (errno == EWOULDBLOCK && std::chrono::steady_clock::now() >= until) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~LockFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Held() const { return fd_ >= 0; }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

private:
    int fd_ = -1;
};

bool ValidRate(std::string_view rate) {
    const std::optional<double> value = numbers::ParseDouble(rate);
    return value && std::isfinite(*value) && *value > 0;
}

// The next tab-separated field of line; nothing when no tab is left.
std::optional<std::string_view> Field(std::string_view& line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        return std::nullopt;
    std::string_view field = line.substr(0, tab);
    line.remove_prefix(tab + 1);
    return field;
}

std::optional<std::int64_t> ParsePosition(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

FileMemory::FileMemory(std::string fileName) : fileName_(std::move(fileName)) {}

std::size_t FileMemory::Load() {
    Reset();
    changed_.clear();
    cleared_ = false;
    unreadable_.clear();
    try {
        return Parse(ReadFile());
    } catch (const profile::Error& e) {
        unreadable_ = e.what();
        throw;
    }
}

std::string FileMemory::ReadFile() const {
    // Something other than a file (a FIFO) must not hang the player.
    FileContent content = ReadRegularFile(fileName_, kMaxFileSize);
    if (content.status == FileContent::Status::Unreadable)
        throw profile::Error(fileName_ + ": cannot be read (" + content.error + ")");
    return std::move(content.text);
}

void FileMemory::Save() {
    if (!TrySave(kLockWait))
        throw profile::Error(fileName_ +
                             ".lock: cannot be locked (another player held it for too long)");
}

bool FileMemory::TrySave(std::chrono::milliseconds lockWait) {
    if (!unreadable_.empty())
        throw profile::Error(unreadable_ + "; not replaced, so what it holds is kept");
    LockFile lock(fileName_ + ".lock", lockWait);
    if (!lock.Held())
        return false;
    FileMemory merged(fileName_);
    if (!cleared_)
        merged.Parse(ReadFile());
    for (const auto& [path, entry] : order_)
        if (const auto it = changed_.find(path); it != changed_.end() && it->second)
            merged.Store(path, entry);
    for (const auto& [path, remembered] : changed_)
        if (!remembered)
            merged.Drop(path);
    profile::ReplaceFileAtomically(fileName_, merged.Format());
    Reset();
    for (const auto& [path, entry] : merged.order_)
        Store(path, entry);
    changed_.clear();
    cleared_ = false;
    return true;
}

std::string MemoryKey(const std::string& path) {
    if (path.empty())
        return path;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

std::optional<FileMemoryEntry> FileMemory::Find(const std::string& path) {
    const auto it = index_.find(MemoryKey(path));
    if (it == index_.end())
        return std::nullopt;
    order_.splice(order_.end(), order_, it->second);
    return it->second->second;
}

bool FileMemory::Remember(const std::string& path, const FileMemoryEntry& entry) {
    const std::string key = MemoryKey(path);
    if (!Store(key, entry))
        return false;
    changed_[key] = true;
    return true;
}

bool FileMemory::Store(const std::string& path, const FileMemoryEntry& entry) {
    if (path.empty() || entry.position < 0 || !ValidRate(entry.rate))
        return false;
    if (const auto it = index_.find(path); it != index_.end()) {
        it->second->second = entry;
        order_.splice(order_.end(), order_, it->second);
        return true;
    }
    order_.emplace_back(path, entry);
    const auto last = std::prev(order_.end());
    index_.emplace(last->first, last);
    while (order_.size() > kCapacity) {
        index_.erase(order_.front().first);
        order_.pop_front();
    }
    return true;
}

void FileMemory::Forget(const std::string& path) {
    const std::string key = MemoryKey(path);
    Drop(key);
    changed_[key] = false;
}

void FileMemory::Drop(const std::string& path) {
    const auto it = index_.find(path);
    if (it == index_.end())
        return;
    const auto item = it->second;
    index_.erase(it);
    order_.erase(item);
}

void FileMemory::Clear() {
    Reset();
    changed_.clear();
    cleared_ = true;
}

void FileMemory::Reset() {
    index_.clear();
    order_.clear();
}

std::vector<std::string> FileMemory::Paths() const {
    std::vector<std::string> paths;
    paths.reserve(order_.size());
    for (const Item& item : order_)
        paths.push_back(item.first);
    return paths;
}

std::string FileMemory::Format() const {
    std::string text(kHeader);
    for (const auto& [path, entry] : order_) {
        text += std::to_string(entry.position);
        text += '\t';
        text += entry.rate;
        text += entry.ended ? "\t1\t" : "\t0\t";
        linetext::Escape(text, path);
        text += '\n';
    }
    return text;
}

std::size_t FileMemory::Parse(std::string_view text) {
    Reset();
    std::size_t skipped = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const auto position = Field(line);
        const auto rate = Field(line);
        const auto ended = Field(line);
        std::optional<std::int64_t> value;
        std::optional<std::string> path;
        if (position && rate && ended && (*ended == "0" || *ended == "1") &&
            (value = ParsePosition(*position)) && (path = linetext::Unescape(line)) &&
            Store(*path, {*value, std::string(*rate), *ended == "1"}))
            continue;
        ++skipped;
    }
    return skipped;
}

std::int64_t ResumePosition(const FileMemoryEntry& entry, std::int64_t duration) {
    if (entry.ended || (duration > 0 && entry.position >= duration))
        return 0;
    return entry.position > kResumeBack ? entry.position - kResumeBack : 0;
}
