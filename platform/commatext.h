// Comma text, the one-line form of a list of names (the hand-off, bookmarks): items joined by
// ",", an item quoted when it holds a blank or a control character, a double
// quote or a comma (quotes inside doubled), and one empty item as "".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

std::string CommaText(const std::vector<std::string>& items);

// Splits at commas and at unquoted runs of blanks and control characters; a
// quoted item runs to its closing quote. The text ends at its first zero.
std::vector<std::string> ReadCommaText(std::string_view text);

// The comma text of the longest leading run of whole items that fits in
// limit bytes; taken says how many items it holds.
std::string FitCommaText(const std::vector<std::string>& items, std::size_t limit,
                         std::size_t& taken);
