#include "platform/profile.h"

#include "platform/regularfile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace profile {
namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// One line of the file and the terminator it had ("\r\n", "\n", or none
// on a last line), so a write gives back every other line byte for byte.
struct Line {
    std::string text;
    std::string end;
};

// Settings files are a few kilobytes; anything this large is not one.
constexpr std::size_t kMaxFileSize = 4 << 20;

// The file's lines; a missing file has none. False with the reason in error
// when the file is there but cannot be read.
bool readLines(const std::string& file, std::vector<Line>& lines, std::string& error) {
    lines.clear();
    FileContent content = ReadRegularFile(file, kMaxFileSize);
    if (content.status == FileContent::Status::Unreadable) {
        error = std::move(content.error);
        return false;
    }
    std::string_view text = content.text;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        Line line;
        line.text = std::string(text.substr(0, eol));
        line.end = eol == std::string_view::npos ? "" : "\n";
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end.insert(0, "\r");
        }
        lines.push_back(std::move(line));
    }
    return true;
}

// Reads fall back to their defaults when the file cannot be read; that is
// said on stderr once for each file and reason rather than on every read.
void sayUnreadable(const std::string& file, const std::string& why) {
    static std::mutex lock;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> guard(lock);
    if (said.insert(file + '\n' + why).second)
        std::fprintf(stderr, "zarnplayer: cannot read \"%s\" (%s); its defaults are used\n",
                     file.c_str(), why.c_str());
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// Reading trims blanks around a value and takes off one pair of enclosing
// quotes; a value those would change is written inside double quotes, which
// the reader takes off again. Every other value is written as it is, so
// files written before read the same.
std::string storedValue(std::string_view value) {
    if (value.empty())
        return std::string(value);
    const bool quoted = value.size() >= 2 && value.front() == value.back() &&
                        (value.front() == '"' || value.front() == '\'');
    if (blank(value.front()) || blank(value.back()) || value.back() == '\r' || quoted)
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

// A section header's name, or false when the line is no header.
bool sectionName(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[')
        return false;
    size_t close = line.find(']');
    if (close == std::string_view::npos)
        return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

// Splits "key=value"; false for lines without '=' and for comments.
bool keyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return true;
}

[[noreturn]] void fail(const std::string& path, const char* what, int err) {
    throw Error("cannot write \"" + path + "\": " + what + ": " + std::strerror(err));
}

// Where a write to path lands: path itself, or the file a link there points
// to (through every link), so a file kept elsewhere through a link stays a
// link to the new content instead of being replaced by a copy.
std::string writeTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return target;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
            return target;
        std::string link(buffer, static_cast<size_t>(n));
        if (link.front() != '/') {
            const size_t slash = target.rfind('/');
            link.insert(0,
                        slash == std::string::npos ? std::string() : target.substr(0, slash + 1));
        }
        target = std::move(link);
    }
    return target;
}

// The folder that holds path, for its own flush: a rename is lasting only
// once the folder is on the disk too.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool ParseInteger(std::string_view text, int& out) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    long long v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        // Hexadecimal may spell a negative number through its top bit.
        if (v > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL))
            return false;
    }
    if (base == 16)
        v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    else if (!negative && v > 0x7FFFFFFF)
        return false;
    out = static_cast<int>(negative ? -v : v);
    return true;
}

std::string ReadFailure(const std::string& file) {
    std::vector<Line> lines;
    std::string error;
    return readLines(file, lines, error) ? std::string() : error;
}

std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view def) {
    std::vector<Line> lines;
    std::string error;
    if (!readLines(file, lines, error)) {
        sayUnreadable(file, error);
        return std::string(def);
    }
    bool inSection = false;
    for (const Line& l : lines) {
        const std::string& line = l.text;
        std::string_view name, k, v;
        if (sectionName(line, name)) {
            inSection = equalNoCase(name, section);
        } else if (inSection && keyValue(line, k, v) && equalNoCase(k, key)) {
            if (v.size() >= 2 &&
                ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::string(def);
}

int ReadInteger(const std::string& file, std::string_view section, std::string_view key, int def) {
    const std::string missing = "\x01";
    std::string text = ReadString(file, section, key, missing);
    int v;
    if (text == missing || !ParseInteger(text, v))
        return def;
    return v;
}

void WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value) {
    // A line break would end the line early and turn the rest into a line
    // of its own: refuse rather than store something else.
    if (value.find('\n') != std::string_view::npos)
        throw Error("cannot write \"" + file + "\": the value of " + std::string(key) + " in [" +
                    std::string(section) +
                    "] holds a line break, which a settings file cannot keep");
    // Writing what could be read of a file that could not be read would
    // lose every other key in it.
    std::vector<Line> lines;
    std::string error;
    if (!readLines(file, lines, error))
        throw Error("cannot write \"" + file + "\": it could not be read (" + error +
                    "), so it is left as it is");
    // New lines end as the file's first line does: CR LF or LF.
    const std::string newline = !lines.empty() && lines.front().end == "\r\n" ? "\r\n" : "\n";
    const std::string entry = std::string(key) + "=" + storedValue(value);
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos; // line after the last entry of the section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name, k, v;
        if (sectionName(lines[i].text, name)) {
            if (inSection)
                break;
            inSection = equalNoCase(name, section);
            if (inSection)
                sectionEnd = i + 1;
        } else if (inSection) {
            if (keyValue(lines[i].text, k, v) && equalNoCase(k, key)) {
                lines[i].text = entry;
                done = true;
            } else if (!trim(lines[i].text).empty()) {
                sectionEnd = i + 1;
            }
        }
    }
    if (!done) {
        // A last line without its terminator gets one when something follows it.
        if (!lines.empty() && (lines.back().end.empty() || lines.back().end == "\r") &&
            (sectionEnd == std::string::npos || sectionEnd == lines.size()))
            lines.back().end = lines.back().end.empty() ? newline : "\r\n";
        if (sectionEnd != std::string::npos) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd),
                         Line{entry, newline});
        } else {
            if (!lines.empty() && !trim(lines.back().text).empty())
                lines.push_back(Line{"", newline});
            lines.push_back(Line{"[" + std::string(section) + "]", newline});
            lines.push_back(Line{entry, newline});
        }
    }
    std::string data;
    for (const Line& l : lines)
        data += l.text + l.end;
    ReplaceFileAtomically(file, data);
}

void WriteInteger(const std::string& file, std::string_view section, std::string_view key,
                  int value) {
    WriteString(file, section, key, std::to_string(value));
}

void ReplaceFileAtomically(const std::string& path, std::string_view data) {
    const std::string target = writeTarget(path);
    std::string tmp = target + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        fail(path, "cannot create a temporary file", errno);
    // Keep the old file's permissions; a new file gets the usual 0644.
    mode_t mode = 0644;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    fchmod(fd, mode);
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            ::unlink(name.data());
            fail(path, "write failed", err);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(name.data());
        fail(path, "flush to disk failed", err);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(name.data());
        fail(path, "close failed", err);
    }
    if (::rename(name.data(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(name.data());
        fail(path, "rename failed", err);
    }
    const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        fail(path, "the folder cannot be flushed to disk", errno);
    // Some file systems cannot flush a folder and say so with EINVAL.
    if (::fsync(folder) != 0 && errno != EINVAL) {
        int err = errno;
        ::close(folder);
        fail(path, "flush of the folder to disk failed", err);
    }
    ::close(folder);
}

} // namespace profile
