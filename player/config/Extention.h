// The fixed table of media file types the player knows: which files a folder
// scan takes, the open-dialog filter, and the rows the association works on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TExtentions;

struct TExt {
    std::string Extension;   // with its leading dot, lower case
    std::string Description; // "Video Files", "Audio Files" or "WMT Files"
    TExtentions* Owner = nullptr;
    bool Registered = false; // associated with the program's file type
};

class TExtentions {
public:
    TExtentions();
    TExtentions(const TExtentions&) = delete;
    TExtentions& operator=(const TExtentions&) = delete;

    int Count() const { return static_cast<int>(rows_.size()); }
    TExt& operator[](int i) { return rows_[static_cast<size_t>(i)]; }
    const TExt& operator[](int i) const { return rows_[static_cast<size_t>(i)]; }

    // The extension after the last dot of the file-name part, compared
    // without regard to case; a name without one matches nothing.
    bool Matches(std::string_view fileName) const;

    // The open dialogs' filter: "Label|patterns|" four times.
    static std::string Filter();
    // The same four choices in Qt's form, "Label (*.a *.b)", in order.
    static std::vector<std::string> FilterChoices();

private:
    std::vector<TExt> rows_;
};

TExtentions& Extentions();

// The extension of a path as Matches sees it ("" when there is none).
std::string_view ExtensionOf(std::string_view fileName);
