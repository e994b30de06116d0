// How tag bytes are shown: the readers keep them exactly as stored, and only
// the text put on screen is made UTF-8 (valid UTF-8 as it is, anything else
// taken as Latin-1), so an old tag never turns into replacement marks.
#pragma once

#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view bytes);
std::string ShownText(std::string_view bytes);
