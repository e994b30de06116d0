#include "player/core/FileMemory.h"

#include "platform/numbers.h"
#include "platform/profile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line per file, oldest first: position, rate, ended, path, separated by
// tabs. The path is escaped so that no byte of it can end a field or a line.
constexpr std::string_view kHeader =
    "# zarnplayer positions: position (100 ns)\trate\tended\tpath\n";

constexpr std::int64_t kResumeBack = 30'000'000; // 3 s

// 1,000 entries of the longest paths there can be take about 4 MB.
constexpr off_t kMaxFileSize = 16 << 20;

bool ValidRate(std::string_view rate) {
    const std::optional<double> value = numbers::ParseDouble(rate);
    return value && std::isfinite(*value) && *value > 0;
}

void Escape(std::string& out, std::string_view path) {
    for (char c : path) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
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
    Clear();
    unreadable_.clear();
    try {
        return Parse(ReadFile());
    } catch (const profile::Error& e) {
        unreadable_ = e.what();
        throw;
    }
}

std::string FileMemory::ReadFile() const {
    // Not blocking: something other than a file (a FIFO) must not hang the
    // player; it is refused below.
    const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        throw profile::Error(fileName_ + ": cannot be read (" + std::strerror(errno) + ")");
    }
    const auto fail = [&](const std::string& why) {
        ::close(fd);
        throw profile::Error(fileName_ + ": cannot be read (" + why + ")");
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        fail("not a regular file");
    if (st.st_size > kMaxFileSize)
        fail("larger than any list of positions");
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(std::strerror(errno));
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxFileSize))
            fail("larger than any list of positions");
    }
    ::close(fd);
    return text;
}

void FileMemory::Save() const {
    if (!unreadable_.empty())
        throw profile::Error(unreadable_ + "; not replaced, so what it holds is kept");
    profile::ReplaceFileAtomically(fileName_, Format());
}

std::optional<FileMemoryEntry> FileMemory::Find(const std::string& path) {
    const auto it = index_.find(path);
    if (it == index_.end())
        return std::nullopt;
    order_.splice(order_.end(), order_, it->second);
    return it->second->second;
}

bool FileMemory::Remember(const std::string& path, const FileMemoryEntry& entry) {
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
    const auto it = index_.find(path);
    if (it == index_.end())
        return;
    const auto item = it->second;
    index_.erase(it);
    order_.erase(item);
}

void FileMemory::Clear() {
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
        Escape(text, path);
        text += '\n';
    }
    return text;
}

std::size_t FileMemory::Parse(std::string_view text) {
    Clear();
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
            (value = ParsePosition(*position)) && (path = Unescape(line)) &&
            Remember(*path, {*value, std::string(*rate), *ended == "1"}))
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
