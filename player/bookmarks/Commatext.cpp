#include "player/bookmarks/Commatext.h"

namespace {

bool needsQuotes(std::string_view item) {
    for (char ch : item) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || ch == '"' || ch == ',')
            return true;
    }
    return false;
}

// Blanks and control characters between items; a zero byte is not one of
// them, it ends the text.
bool isGap(char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c >= 1 && c <= ' ';
}

} // namespace

std::string CommaText(const std::vector<std::string>& items) {
    // A lone empty item must still read back as one item.
    if (items.size() == 1 && items[0].empty())
        return "\"\"";
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += ',';
        const std::string& item = items[i];
        if (!needsQuotes(item)) {
            text += item;
            continue;
        }
        text += '"';
        for (char ch : item) {
            if (ch == '"')
                text += '"';
            text += ch;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> SplitCommaText(std::string_view text) {
    if (auto zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);
    std::vector<std::string> items;
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && isGap(text[p]))
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
            size_t start = p;
            while (p<n&& static_cast<unsigned char>(text[p])> ' ' && text[p] != ',')
                ++p;
            item.assign(text.substr(start, p - start));
        }
        items.push_back(std::move(item));
        while (p < n && isGap(text[p]))
            ++p;
        if (p < n && text[p] == ',') {
            // A comma at the very end still separates an empty last item.
            if (p + 1 == n)
                items.emplace_back();
            do
                ++p;
            while (p < n && isGap(text[p]));
        }
    }
    return items;
}
