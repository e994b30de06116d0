// The play list window TPlayList: the model's entries as the rows of a
// two-column list, the commands that edit the list (add files or a folder,
// remove, sort, shuffle, reverse, reorder by dragging, open and save list
// files) and playing a chosen row through the main window. A tool window
// beside the main window; closing it only hides it. The list view is
// Listview.h, the pictures Listimages.h; the model it shows is player/list.
#pragma once

#include "player/list/PlayListView.h"
#include "player/playlist/Listview.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QFileDialog;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;
class QToolButton;
class TFileList;
class TPlayerCore;
enum class TSortKind;

class TPlayList : public QWidget, public IPlayListView {
    Q_OBJECT
public:
    // Creation (FormCreate): reads the window's bounds; list is the model it
    // shows (the program's FileList()).
    explicit TPlayList(TFileList& list);
    // Destruction (FormDestroy): writes the window's bounds.
    ~TPlayList() override;
    // Writes the window's bounds once it has been shown; the program calls
    // it before the list's end, the destructor otherwise. Runs once.
    void FormDestroy();

    // The player whose Prev, Next and open path the commands use, and that
    // plays a chosen row; may stay null (the commands then do nothing that
    // needs it).
    void SetPlayerCore(TPlayerCore* core) { core_ = core; }
    // The list view or one of its parts has the focus.
    bool ListHasFocus() const;
    // Keys pressed in this window while the list view does not have the
    // focus go to handler (the main window's shortcuts) after this window's
    // own shortcuts; a key it returns true for goes no further.
    void SetShortcutHandler(std::function<bool(int key)> handler) {
        shortcutHandler_ = std::move(handler);
    }

    // The model's view.
    ListRow* AppendRow(const std::string& caption, const std::string& timeText,
                       TFile* entry) override;
    void DeleteRow(ListRow* row) override;
    void SetRowCaption(ListRow* row, const std::string& caption) override;
    void SetRowImage(ListRow* row, int image) override;
    void MakeRowVisible(ListRow* row) override;
    void SetCountText(const std::string& text) override;
    ListRow* RowAt(int index) override;
    void SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                TFile* entry) override;
    void BeginRowUpdate() override;
    void EndRowUpdate() override;

    // The model's Clear with the rows going at once.
    void ClearList();

    // What a row shows and links to, for the windows that look at it.
    TFile* RowEntry(int row) const;
    int RowImage(int row) const;
    std::vector<int> SelectedRows() const;

    // Commands, by their handlers.
    void ToolButton1Click(); // add files
    void Add1Click() { ToolButton1Click(); }
    void ToolButton2Click(); // add folder
    void ToolButton3Click(); // the main window's Prev
    void ToolButton6Click(); // play the selected row
    void Play1Click() { ToolButton6Click(); }
    void ListView1DblClick() { ToolButton6Click(); }
    void ToolButton7Click(); // the main window's Next
    void ToolButton9Click() { selected1Click(); }
    void Delete1Click() { selected1Click(); }
    void selected1Click() { RemoveRows(true); }
    void Unselected1Click() { RemoveRows(false); }
    void deleteall1Click();
    void ToolButton10Click() { SortByFileName1Click(); }
    void SortByFileName1Click();
    void SortByFileName2Click(); // shuffle
    void Reverse1Click();
    void ToolButton11Click(); // open list files
    void ToolButton12Click(); // save list file
    void SelectAll1Click();
    void ListView1DragDrop(int y);
    // Ctrl+Up and Ctrl+Down: the selected rows one place up (delta -1) or
    // down (+1), as a drag would move them; a row at the end stays.
    void MoveSelectedRows(int delta);

    // Components.
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton6 = nullptr;
    QToolButton* ToolButton7 = nullptr;
    QToolButton* ToolButton9 = nullptr;
    QToolButton* ToolButton10 = nullptr;
    QToolButton* ToolButton11 = nullptr;
    QToolButton* ToolButton12 = nullptr;
    TPlayListView* ListView1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QMenu* PopupMenu3 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Selects the rows of entries (after a move), and nothing else.
    void SelectEntries(const std::vector<TFile*>& entries);
    void BuildLayout();
    void BuildMenus();
    QFileDialog& OpenDialog();
    QFileDialog& SaveDialog();
    std::vector<bool> SelectedFlags() const;
    void FormResize();
    void RemoveRows(bool selected);
    void SortAndRelist(TSortKind kind);
    void UpdatePrevNext();
    bool ListView1KeyDown(QKeyEvent* e);
    void ListView1SelectItem(QTreeWidgetItem* item);

    TFileList& list_;
    TPlayerCore* core_ = nullptr;
    std::function<bool(int)> shortcutHandler_;
    int rowUpdates_ = 0;
    bool shown_ = false;
    bool destroyed_ = false;
};
