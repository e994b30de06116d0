// The fixed table of media file types the player knows: which files a folder
// scan takes, the open-dialog filter, and the rows the association works on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TExtentions;
class TTool;
struct TExt;

// The program's file type on the classes root.
inline constexpr const char* PROG_ID = "QRVE.File";

// A list with a check box per row, as the options dialog shows the table.
class TExtList {
public:
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    virtual void Clear() = 0;
    // Returns the new row's index.
    virtual int AddRow(const std::string& caption, const std::string& explanation, TExt* ext,
                       bool checked) = 0;
    virtual bool Checked(int row) const = 0;

protected:
    ~TExtList() = default;
};

struct TExt {
    std::string Extension;   // with its leading dot, lower case
    std::string Description; // "Video Files", "Audio Files" or "WMT Files"
    TExtentions* Owner = nullptr;
    bool Registered = false; // associated with the program's file type
    int Row = -1;            // its row in the list Fill filled; -1 for none
};

class TExtentions {
public:
    // Reads each row's association from the settings store's classes root,
    // creating the extension's key where it has none.
    TExtentions();
    explicit TExtentions(TTool& tool);
    TExtentions(const TExtentions&) = delete;
    TExtentions& operator=(const TExtentions&) = delete;

    int Count() const { return static_cast<int>(rows_.size()); }
    TExt& operator[](int i) { return rows_[static_cast<size_t>(i)]; }
    const TExt& operator[](int i) const { return rows_[static_cast<size_t>(i)]; }

    // The extension after the last dot of the file-name part, compared
    // without regard to case; a name without one matches nothing.
    bool Matches(std::string_view fileName) const;

    // The open dialogs' filter: "Label|patterns|" for video, audio, Windows
    // Media, today's types and all files.
    static std::string Filter();
    // The same choices in Qt's form, "Label (*.a *.b)", in order.
    static std::vector<std::string> FilterChoices();

    // Rows the classes root keeps as one with row i (a shared MIME type),
    // and the explanation the list shows for it, naming them.
    std::vector<int> Linked(int i) const;
    std::string Explanation(int i) const;

    // What the classes root says the user should know (a desktop list that
    // overrides ours); empty when all is well.
    std::vector<std::string> Notices() const;

    // One list row per table row, checked when associated.
    void Fill(TExtList& list);
    // Forgets list if it is the one filled, before it goes away.
    void Detach(const TExtList& list);
    // Writes only the rows whose check mark differs from their state: ticked
    // ones are associated, unticked ones restored. Registers the file type
    // when any row was newly associated and deletes it when none is left.
    // Rows kept as one by the classes root change together: associated while
    // any of them is ticked. A refused write
    // throws classesroot::Error and ends the pass at that row; rows handled
    // before keep their new state.
    void Apply();

    // The running program's full path, which the file type opens.
    static std::string ProgramFile();

private:
    TTool& tool_;
    std::vector<TExt> rows_;
    std::vector<std::string> identity_;
    TExtList* list_ = nullptr;
};

TExtentions& Extentions();

// The extension of a path as Matches sees it ("" when there is none).
std::string_view ExtensionOf(std::string_view fileName);
