// Where the help document shipped with the program is: doc/index.htm beside
// the program, else in the install's (or build tree's) share/zarnplayer/.
#pragma once

#include <optional>
#include <string>

// programDir ends with '/'; nullopt when neither place holds the document.
std::optional<std::string> HelpDocument(const std::string& programDir);
std::optional<std::string> HelpDocument();
