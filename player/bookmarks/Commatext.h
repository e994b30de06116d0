// The comma-text form of a list of names, as bookmarks store a set of files:
// items joined by ","; an item holding a blank, a control character, a comma
// or a double quote is put in double quotes with inner quotes doubled.
// Reading splits at commas and at unquoted blanks and removes the quotes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::string CommaText(const std::vector<std::string>& items);
std::vector<std::string> SplitCommaText(std::string_view text);
