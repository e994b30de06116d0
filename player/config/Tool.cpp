#include "player/config/Tool.h"

#include "platform/paths.h"
#include "platform/profile.h"

std::atomic<bool> ClosingFlag{false};

TTool::TTool(std::string fileName) : fileName_(std::move(fileName)) {}

int TTool::ReadInteger(std::string_view section, std::string_view key, int def) const {
    return profile::ReadInteger(fileName_, section, key, def);
}

std::string TTool::ReadString(std::string_view section, std::string_view key,
                              std::string_view def) const {
    return profile::ReadString(fileName_, section, key, def);
}

void TTool::WriteInteger(std::string_view section, std::string_view key, int value) {
    profile::WriteInteger(fileName_, section, key, value);
}

void TTool::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    profile::WriteString(fileName_, section, key, value);
}

void TTool::LoadPlacement(std::string_view section, Placeable& window) const {
    Placement now = window.Bounds();
    Placement p;
    p.left = ReadInteger(section, "Left", 0);
    p.top = ReadInteger(section, "Top", 0);
    p.width = ReadInteger(section, "Width", now.width);
    p.height = ReadInteger(section, "Height", now.height);
    window.SetBounds(p);
}

void TTool::SavePlacement(std::string_view section, const Placeable& window) {
    if (window.State() != ShowState::Normal)
        return;
    Placement p = window.Bounds();
    WriteInteger(section, "Left", p.left);
    WriteInteger(section, "Top", p.top);
    WriteInteger(section, "Width", p.width);
    WriteInteger(section, "Height", p.height);
}

std::optional<std::string> TTool::BrowseForFolder(void* owner, const std::string& title) const {
    if (!browser_)
        return std::nullopt;
    return browser_(owner, title);
}

void TTool::ReplaceText(std::string& text, std::string_view find, std::string_view replacement) {
    if (find.empty())
        return;
    if (replacement.size() < find.size()) {
        // Each step shortens the text, so repeating until none is left ends.
        // A new occurrence can begin at most find.size() - 1 bytes before the
        // last replacement, so the search restarts there, not at the front.
        size_t at = 0;
        while ((at = text.find(find, at >= find.size() ? at - find.size() + 1 : 0)) !=
               std::string::npos)
            text.replace(at, find.size(), replacement);
        return;
    }
    std::string out;
    size_t from = 0, at;
    while ((at = text.find(find, from)) != std::string::npos) {
        out.append(text, from, at - from).append(replacement);
        from = at + find.size();
    }
    text = out.append(text, from, std::string::npos);
}

void TTool::ReplaceChars(std::string& text, std::string_view chars, std::string_view replacement) {
    for (char c : chars)
        ReplaceText(text, std::string_view(&c, 1), replacement);
}

TTool& SettingsStore() {
    static TTool store(paths::DataDir() + "zarnplayer.ini");
    return store;
}
