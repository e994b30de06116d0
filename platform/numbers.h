// Numbers in stored and exchanged text (settings, rate texts, the command
// line, messages): always with a decimal point, whatever LC_NUMERIC the
// program runs under. The C library's atof/strtod/printf follow the user's
// locale, where "1.5" reads as 1.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace numbers {

// The whole text as a decimal number ("2.6", "-1", "1e3"); nothing when it
// is empty, holds anything else, or is out of range.
std::optional<double> ParseDouble(std::string_view text);
// value with the given number of decimals after a point: (2.6, 1) -> "2.6".
std::string FormatFixed(double value, int decimals);

} // namespace numbers
