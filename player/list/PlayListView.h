// What the play list model needs of the window that shows it: one row per
// entry, in the model's order, with a marker image on the current entry,
// and the count in status-bar panel 0. The model (player/list) sees only
// this; the play list window (player/playlist) implements it. Every call
// comes on the GUI thread.
#pragma once

#include <string>

class TFile;
// A row of the window's list; only the window knows what it really is.
struct ListRow;

class IPlayListView {
public:
    // Appends a row with image 0 that links back to entry.
    virtual ListRow* AppendRow(const std::string& caption, const std::string& timeText,
                               TFile* entry) = 0;
    virtual void DeleteRow(ListRow* row) = 0;
    virtual void SetRowCaption(ListRow* row, const std::string& caption) = 0;
    // 1 marks the current entry, 0 any other.
    virtual void SetRowImage(ListRow* row, int image) = 0;
    // A partly visible row counts as visible.
    virtual void MakeRowVisible(ListRow* row) = 0;
    virtual void SetCountText(const std::string& text) = 0;

    // Relisting: the row at a position, and rewriting one row in place.
    virtual ListRow* RowAt(int index) = 0;
    virtual void SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                        TFile* entry) = 0;
    // Brackets many row changes so the list repaints once.
    virtual void BeginRowUpdate() = 0;
    virtual void EndRowUpdate() = 0;

protected:
    ~IPlayListView() = default;
};
