// The bookmark editor (player/bookmarkforms): all bookmarks in menu order, to
// add (files, a folder, or items dropped from the file manager), rename,
// remove and reorder. Works on its own rows; OK writes them back to the
// bookmark list, IDs renumbered 1 to n, and Close leaves the list as it was.
#pragma once

#include "player/bookmarks/Bookmark.h"

#include <QDialog>

#include <string>
#include <vector>

class QAction;
class QFileDialog;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TEditBookmark : public QDialog {
    Q_OBJECT
public:
    // A row keeps its record's bytes: the caption shows the title, these
    // roles of column 0 hold the title, Type and Path as QByteArray.
    static constexpr int TitleRole = Qt::UserRole;
    static constexpr int TypeRole = Qt::UserRole + 1;
    static constexpr int PathRole = Qt::UserRole + 2;

    explicit TEditBookmark(QWidget* parent = nullptr, TBookmarks& bookmarks = Bookmarks());

    QTreeWidget* ListView1;
    QPlainTextEdit* Memo1;
    QPushButton* Button7;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button1;
    QPushButton* Button2;
    QMenu* PopupMenu1;
    QAction* AddFiles1;
    QAction* AddDirectory1;
    QMenu* PopupMenu2;
    QAction* AddFiles2;
    QAction* AddDirectory2;
    QAction* Edit1;
    QAction* Remove1;
    QFileDialog* OpenDialog1;

public slots:
    void ListView1SelectItem();
    void ListView1DropFiles(const std::vector<std::string>& names);
    void Button7Click();
    void AddFiles1Click();
    void AddDirectory1Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void PopupMenu2Popup();
    void Button1Click();
    void Button2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void addRow(const std::string& title, const std::string& type, const std::string& path);
    void moveSelected(int step);
    static std::vector<std::string> namesOf(const QTreeWidgetItem* row);

    TBookmarks& bookmarks_;
};
