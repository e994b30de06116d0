#include "player/bookmarks/Hashstring.h"

namespace {

bool isPlain(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '*' ||
           c == '-' || c == '.' || c == '_';
}

int hexValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return 0;
}

bool isSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

} // namespace

std::string EncodeValue(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    size_t size = 0;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == 0)
            break;
        size += (isPlain(c) || c == ' ') ? 1 : 3;
    }
    std::string out;
    out.reserve(size);
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == 0)
            break;
        if (isPlain(c)) {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        }
    }
    return out;
}

std::string DecodeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '%') {
            // A truncated escape can only come from a damaged file; it ends
            // the value rather than reading past the text.
            if (text.size() - i < 3)
                break;
            ch = static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (ch == '+') {
            ch = ' ';
        }
        if (ch == '\0')
            break;
        out += ch;
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && text[p] != '\0') {
        size_t start = p;
        while (p < n && text[p] != '\0' && text[p] != '\n' && text[p] != '\r')
            ++p;
        lines.emplace_back(text.substr(start, p - start));
        if (p < n && text[p] == '\r')
            ++p;
        if (p < n && text[p] == '\n')
            ++p;
    }
    return lines;
}

void HashString::SetText(std::string_view text) {
    std::string s(text);
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        // A quote in the first position opens nothing: records start with a key.
        if (s[i] == '"' && i > 0)
            quoted = !quoted;
        else if (s[i] == ',' && !quoted)
            s[i] = '\n';
    }
    lines_ = SplitLines(s);
    std::erase_if(lines_, [](const std::string& line) { return line.empty(); });
}

std::string HashString::GetText() const {
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            text += ',';
        text += lines_[i];
    }
    return text;
}

std::string HashString::KeyOf(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && !isSpace(line[i]) && line[i] != '=')
        ++i;
    return std::string(line.substr(0, i));
}

std::string HashString::ValueOf(std::string_view line) {
    std::string_view value = line;
    size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
        size_t open = line.find('"', eq + 1);
        if (open != std::string_view::npos) {
            size_t close = line.find('"', open + 1);
            value = close == std::string_view::npos ? line.substr(open + 1)
                                                    : line.substr(open + 1, close - open - 1);
        }
    }
    return DecodeValue(value);
}

std::string HashString::Get(std::string_view key) const {
    std::string value;
    for (const auto& line : lines_)
        if (KeyOf(line) == key)
            value = ValueOf(line);
    return value;
}

void HashString::Set(std::string_view key, std::string_view value) {
    std::string line = std::string(key) + " = \"" + EncodeValue(value) + "\"";
    bool found = false;
    for (auto& l : lines_) {
        if (KeyOf(l) == key) {
            l = line;
            found = true;
        }
    }
    if (!found)
        lines_.push_back(std::move(line));
}
