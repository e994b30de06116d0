#include "player/list/M3u.h"

#include "player/config/Extention.h"
#include "player/list/Filelist.h"

#include <strings.h>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

// "scheme:" as an address starts: a letter, then letters, digits, + - or .;
// one letter alone is left to be a name ("c:" would be a drive, not a scheme).
bool HasScheme(std::string_view s) {
    size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon < 2)
        return false;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(s[0]))
        return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = s[i];
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return false;
    }
    // "name:with:colons.mp3" is a file name; an address goes on with "//",
    // or is a file: address in its short "file:/path" form.
    std::string_view rest = s.substr(colon + 1);
    return rest.substr(0, 2) == "//" || StartsWithNoCase(s, "file:");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The local path a file: address names; empty when it names another host,
// holds no path, or decodes to a byte 0 (which no path can hold) or a line
// break (which the player's own list files cannot keep).
std::string LocalPathOf(std::string_view url) {
    std::string_view rest = url.substr(5); // after "file:"
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            return {};
        std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost")))
            return {};
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/')
        return {};
    // A query or fragment is not part of the path; a '#' or '?' in a name is
    // written %23 or %3F.
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        int hi = -1, lo = -1;
        if (rest[i] == '%' && i + 2 < rest.size()) {
            hi = HexValue(rest[i + 1]);
            lo = HexValue(rest[i + 2]);
        }
        if (hi >= 0 && lo >= 0) {
            char c = static_cast<char>(hi * 16 + lo);
            if (c == '\0' || c == '\r' || c == '\n')
                return {};
            path += c;
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

} // namespace

bool IsM3uName(std::string_view path) {
    std::string ext(ExtensionOf(path));
    return strcasecmp(ext.c_str(), ".m3u") == 0 || strcasecmp(ext.c_str(), ".m3u8") == 0;
}

M3uEntries ParseM3uText(std::string_view text, std::string_view listFolder) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    M3uEntries entries;
    for (const std::string& raw : ParseListText(text)) {
        std::string_view line = Trimmed(raw);
        if (line.empty() || line.front() == '#')
            continue;
        if (HasScheme(line)) {
            std::string path = StartsWithNoCase(line, "file:") ? LocalPathOf(line) : "";
            if (path.empty())
                entries.Skipped.emplace_back(line);
            else
                entries.Files.push_back(std::move(path));
            continue;
        }
        if (line.front() == '/' || listFolder.empty()) {
            entries.Files.emplace_back(line);
            continue;
        }
        std::string full(listFolder);
        if (full.back() != '/')
            full += '/';
        entries.Files.push_back(full.append(line));
    }
    return entries;
}
