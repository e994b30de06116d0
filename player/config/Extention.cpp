#include "player/config/Extention.h"

#include <strings.h>

namespace {

struct Row {
    const char* ext;
    const char* description;
};

constexpr Row kRows[] = {
    {".avi", "Video Files"},  {".qt", "Video Files"},   {".mov", "Video Files"},
    {".mpg", "Video Files"},  {".mpeg", "Video Files"}, {".m1v", "Video Files"},
    {".wav", "Audio Files"},  {".mpa", "Audio Files"},  {".mp2", "Audio Files"},
    {".mp3", "Audio Files"},  {".au", "Audio Files"},   {".aif", "Audio Files"},
    {".aiff", "Audio Files"}, {".snd", "Audio Files"},  {".asf", "WMT Files"},
    {".wma", "WMT Files"},    {".wmv", "WMT Files"},
};

} // namespace

TExtentions::TExtentions() {
    for (const Row& r : kRows)
        rows_.push_back(TExt{r.ext, r.description, this, false});
}

std::string_view ExtensionOf(std::string_view fileName) {
    size_t slash = fileName.find_last_of('/');
    size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return fileName.substr(dot);
}

bool TExtentions::Matches(std::string_view fileName) const {
    std::string ext(ExtensionOf(fileName));
    if (ext.empty())
        return false;
    for (const TExt& row : rows_)
        if (strcasecmp(ext.c_str(), row.Extension.c_str()) == 0)
            return true;
    return false;
}

std::string TExtentions::Filter() {
    return "Video Files (*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v)|"
           "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v|"
           "Audio files (*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd)|"
           "*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd|"
           "WMT Files (*.asf; *.wma; *.wmv)|*.asf; *.wma; *.wmv|"
           "All Files (*.*)|*.*;";
}

std::vector<std::string> TExtentions::FilterChoices() {
    // Every second field of the filter is a label; its patterns follow it.
    std::vector<std::string> fields;
    std::string text = Filter();
    size_t from = 0, bar;
    while ((bar = text.find('|', from)) != std::string::npos) {
        fields.push_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    fields.push_back(text.substr(from));
    std::vector<std::string> choices;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        std::string label = fields[i].substr(0, fields[i].find(" ("));
        std::string patterns;
        for (char c : fields[i + 1]) {
            if (c == ';')
                continue;
            patterns += c;
        }
        while (!patterns.empty() && patterns.back() == ' ')
            patterns.pop_back();
        choices.push_back(label + " (" + patterns + ")");
    }
    return choices;
}

TExtentions& Extentions() {
    static TExtentions table;
    return table;
}
