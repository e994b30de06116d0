#include "platform/numbers.h"

#include <charconv>
#include <system_error>

namespace numbers {

std::optional<double> ParseDouble(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    // from_chars takes no sign of plus; a leading one is the text's own.
    std::string_view digits = text;
    if (digits.front() == '+')
        digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+' ||
        (digits.front() == '-' && digits.data() != text.data()))
        return std::nullopt;
    double value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::string FormatFixed(double value, int decimals) {
    char text[64];
    const auto [ptr, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return "?";
    return std::string(text, ptr);
}

} // namespace numbers
