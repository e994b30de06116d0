#include "platform/commatext.h"

namespace {

bool NeedsQuotes(std::string_view item) {
    for (char ch : item)
        if (static_cast<unsigned char>(ch) <= ' ' || ch == '"' || ch == ',')
            return true;
    return false;
}

// Codes 1 to 32: blanks and control characters between items.
bool IsGap(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c >= 1 && c <= ' ';
}

void AppendItem(std::string& text, std::string_view item) {
    if (!NeedsQuotes(item)) {
        text += item;
        return;
    }
    text += '"';
    for (char ch : item) {
        if (ch == '"')
            text += '"';
        text += ch;
    }
    text += '"';
}

std::size_t ItemLength(std::string_view item) {
    if (!NeedsQuotes(item))
        return item.size();
    std::size_t n = item.size() + 2;
    for (char ch : item)
        if (ch == '"')
            ++n;
    return n;
}

} // namespace

std::string CommaText(const std::vector<std::string>& items) {
    if (items.size() == 1 && items[0].empty())
        return "\"\"";
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += ',';
        AppendItem(text, items[i]);
    }
    return text;
}

std::vector<std::string> ReadCommaText(std::string_view text) {
    if (const auto zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);
    std::vector<std::string> items;
    std::size_t p = 0;
    const std::size_t n = text.size();
    while (p < n && IsGap(text[p]))
        ++p;
    while (p < n) {
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            const std::size_t start = p;
            while (p<n&& static_cast<unsigned char>(text[p])> ' ' && text[p] != ',')
                ++p;
            item.assign(text.substr(start, p - start));
        }
        items.push_back(std::move(item));
        while (p < n && IsGap(text[p]))
            ++p;
        if (p < n && text[p] == ',') {
            ++p;
            while (p < n && IsGap(text[p]))
                ++p;
        }
    }
    return items;
}

std::string FitCommaText(const std::vector<std::string>& items, std::size_t limit,
                         std::size_t& taken) {
    // One empty item alone is written as two quotes, so it is measured as a
    // list of its own.
    std::size_t length = 0;
    taken = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::size_t next = length + (i > 0 ? 1 : 0) + ItemLength(items[i]);
        const std::size_t asList = i == 0 && items[0].empty() ? 2 : next;
        if (asList > limit)
            break;
        length = next;
        taken = i + 1;
    }
    return CommaText(std::vector<std::string>(items.begin(),
                                              items.begin() + static_cast<std::ptrdiff_t>(taken)));
}
