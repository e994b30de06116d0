// A text of any bytes as one field of a tab-separated line: backslash, tab,
// newline and carriage return written as \\ \t \n \r, so a path with them
// still makes one line. Used by the files the player keeps per file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace linetext {

// Appends text to out with the four characters escaped.
void Escape(std::string& out, std::string_view text);
// The text back; nothing for a lone backslash or an unknown escape.
std::optional<std::string> Unescape(std::string_view field);

} // namespace linetext
