#include "platform/classesroot/keyfile.h"

#include "platform/classesroot/classesroot.h"

namespace classesroot {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace

bool IsPlainName(std::string_view name) {
    // A name that starts with '#' would be written as a comment line.
    if (name.empty() || name.front() == '#')
        return false;
    for (char c : name)
        if (c == '\n' || c == '\r' || c == '[' || c == ']' || c == '=' || c == '\0')
            return false;
    return trim(name) == name;
}

KeyFile::KeyFile(std::string_view text) {
    if (text.empty())
        return;
    finalNewline_ = text.back() == '\n';
    if (finalNewline_)
        text.remove_suffix(1);
    std::string group;
    size_t from = 0;
    while (true) {
        size_t nl = text.find('\n', from);
        std::string_view raw =
            text.substr(from, nl == std::string_view::npos ? std::string_view::npos : nl - from);
        Line line;
        line.text = std::string(raw);
        size_t close = raw.find(']');
        if (!raw.empty() && raw.front() == '[' && close != std::string_view::npos) {
            group = std::string(raw.substr(1, close - 1));
            line.header = true;
        } else if (!raw.empty() && raw.front() != '#') {
            size_t eq = raw.find('=');
            if (eq != std::string_view::npos && !trim(raw.substr(0, eq)).empty()) {
                line.key = std::string(trim(raw.substr(0, eq)));
                std::string_view value = raw.substr(eq + 1);
                while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                    value.remove_prefix(1);
                if (!value.empty() && value.back() == '\r')
                    value.remove_suffix(1);
                line.value = std::string(value);
            }
        }
        line.group = group;
        lines_.push_back(std::move(line));
        if (nl == std::string_view::npos)
            break;
        from = nl + 1;
    }
}

KeyFile::Line KeyFile::entryLine(std::string_view group, std::string_view key,
                                 std::string_view value) {
    Line line;
    line.text = std::string(key) + "=" + std::string(value);
    line.group = std::string(group);
    line.key = std::string(key);
    line.value = std::string(value);
    return line;
}

std::optional<std::string> KeyFile::Get(std::string_view group, std::string_view key) const {
    for (const Line& line : lines_)
        if (!line.header && !line.key.empty() && line.group == group && line.key == key)
            return line.value;
    return std::nullopt;
}

void KeyFile::Set(std::string_view group, std::string_view key, std::string_view value) {
    if (!IsPlainName(group) || !IsPlainName(key) ||
        value.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos)
        throw Error("\"" + std::string(key) + "\" cannot be stored as a line of a key file");
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    bool done = false;
    for (size_t i = 0; i < lines_.size();) {
        Line& line = lines_[i];
        if (!line.header && line.group == group && line.key == key) {
            if (done) {
                lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            line = entryLine(group, key, value);
            done = true;
        }
        ++i;
    }
    if (done)
        return;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!lines_[i].header || lines_[i].group != group)
            continue;
        // After the group's last non-blank line, before blanks that part groups.
        size_t at = i + 1;
        for (size_t j = i + 1; j < lines_.size() && !lines_[j].header; ++j)
            if (!trim(lines_[j].text).empty())
                at = j + 1;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      entryLine(group, key, value));
        if (at == lines_.size() - 1)
            finalNewline_ = true;
        return;
    }
    if (!lines_.empty() && !trim(lines_.back().text).empty())
        lines_.push_back(Line{"", lines_.back().group, false, "", ""});
    Line header;
    header.text = "[" + std::string(group) + "]";
    header.group = std::string(group);
    header.header = true;
    lines_.push_back(std::move(header));
    lines_.push_back(entryLine(group, key, value));
    finalNewline_ = true;
}

void KeyFile::Remove(std::string_view group, std::string_view key) {
    std::erase_if(lines_, [&](const Line& line) {
        return !line.header && !line.key.empty() && line.group == group && line.key == key;
    });
}

std::vector<std::string> KeyFile::Keys(std::string_view group) const {
    std::vector<std::string> keys;
    for (const Line& line : lines_) {
        if (line.header || line.key.empty() || line.group != group)
            continue;
        bool seen = false;
        for (const std::string& k : keys)
            seen = seen || k == line.key;
        if (!seen)
            keys.push_back(line.key);
    }
    return keys;
}

std::vector<std::string> KeyFile::Groups() const {
    std::vector<std::string> groups;
    for (const Line& line : lines_) {
        if (!line.header)
            continue;
        bool seen = false;
        for (const std::string& g : groups)
            seen = seen || g == line.group;
        if (!seen)
            groups.push_back(line.group);
    }
    return groups;
}

std::string KeyFile::Text() const {
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || finalNewline_)
            out += '\n';
    }
    return out;
}

std::string EscapeValue(std::string_view value) {
    std::string out;
    bool leading = true;
    for (char c : value) {
        if (c != ' ')
            leading = false;
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += leading ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UnescapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        default:
            out += '\\';
            out += value[i];
        }
    }
    return out;
}

std::string QuoteExecArgument(std::string_view arg) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = arg.empty() || arg.find_first_of(reserved) != std::string_view::npos;
    std::string out;
    if (quote)
        out += '"';
    for (char c : arg) {
        if (c == '%')
            out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += std::string("\\") + c;
        else
            out += c;
    }
    if (quote)
        out += '"';
    return out;
}

} // namespace classesroot
