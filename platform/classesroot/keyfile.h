// Desktop-style key files ("[Group]" headers, "key=value" lines), as used by
// mimeapps.list and desktop entries. Every line the program does not change
// is written back byte for byte, comments and unknown groups included.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace classesroot {

class KeyFile {
public:
    KeyFile() = default;
    explicit KeyFile(std::string_view text);

    // The first entry for key in any group of that name, its value as written
    // (spaces around '=' and a trailing '\r' removed).
    std::optional<std::string> Get(std::string_view group, std::string_view key) const;
    // Replaces the first entry and drops any repeats; otherwise adds the entry
    // at the end of the first such group, or a new group at the end. Leading
    // blanks of value are dropped, as Get would drop them (escape them to keep
    // them). Throws Error for names or values that would break the line.
    void Set(std::string_view group, std::string_view key, std::string_view value);
    // Removes every entry for key in groups of that name.
    void Remove(std::string_view group, std::string_view key);
    // Keys of a group, in order, each once.
    std::vector<std::string> Keys(std::string_view group) const;
    // Group names, in order, each once.
    std::vector<std::string> Groups() const;
    bool Empty() const { return lines_.empty(); }

    std::string Text() const;

private:
    struct Line {
        std::string text;
        std::string group; // the group the line belongs to ("" before the first)
        bool header = false;
        std::string key; // set for entries
        std::string value;
    };
    static Line entryLine(std::string_view group, std::string_view key, std::string_view value);

    std::vector<Line> lines_;
    bool finalNewline_ = true;
};

// The string escapes of desktop entries: "\\", "\n", "\t", "\r", "\s".
std::string EscapeValue(std::string_view value);
std::string UnescapeValue(std::string_view value);

// One argument of an Exec line, quoted when it holds a reserved character
// and with '%' doubled; the string escapes above still apply on top.
std::string QuoteExecArgument(std::string_view arg);

// Group names and keys that can be written without changing the file's
// structure: no line breaks, brackets or '='; not empty, no leading '#'.
bool IsPlainName(std::string_view name);

} // namespace classesroot
