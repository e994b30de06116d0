// A keyed text record: an ordered list of lines of the form
//   key = "encoded value"
// that joins into one comma-separated line and parses back. Values are form
// encoded, so they never hold a blank, a comma or a double quote; keys are
// written as they are and must not hold blanks, "=" or commas. Bookmarks keep
// each bookmark as one such line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Form encoding: letters, digits and "*-._" stay, a blank becomes "+", every
// other byte becomes "%" and two upper-case hex digits. Stops at a zero byte.
std::string EncodeValue(std::string_view text);
// The reverse: "%" and two characters give one byte (a non-hex character
// counts 0), "+" gives a blank. A zero byte ends the value, and a "%" with
// fewer than two characters after it ends it too.
std::string DecodeValue(std::string_view text);

class HashString {
public:
    // Replaces the lines with those of a record text: commas outside double
    // quotes split lines, empty lines are dropped.
    void SetText(std::string_view text);
    // The lines joined by ","; empty for an empty record.
    std::string GetText() const;

    // The decoded value of the last line with this key, or "" when none has it.
    std::string Get(std::string_view key) const;
    // Replaces every line with this key, or appends one when none has it, so
    // keys keep the order in which they were first set.
    void Set(std::string_view key, std::string_view value);

    static std::string KeyOf(std::string_view line);
    static std::string ValueOf(std::string_view line);

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Line(int i) const { return lines_[static_cast<size_t>(i)]; }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

// Splits text into lines at CR, LF or CR LF, stopping at a zero byte; a final
// line break gives no extra empty line.
std::vector<std::string> SplitLines(std::string_view text);
