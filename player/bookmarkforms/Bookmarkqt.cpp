#include "player/bookmarkforms/Bookmarkqt.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>

namespace {

// Marks our items apart from the menu's fixed ones: a bookmark whose ID
// reads as 0 has tag 0 too, and must still be removed on the next refill.
constexpr const char* itemMark = "zarnBookmarkItem";

} // namespace

QList<QAction*> FillBookmarkMenu(QMenu* menu, const TBookmarks& bookmarks) {
    for (QAction* action : menu->actions()) {
        if (action->property(itemMark).toBool()) {
            menu->removeAction(action);
            delete action;
        }
    }
    QList<QAction*> items;
    for (const BookmarkMenuItem& item : bookmarks.MenuItems()) {
        auto* action = new QAction(QString::fromStdString(item.Caption), menu);
        action->setData(item.Tag);
        action->setProperty(itemMark, true);
        menu->addAction(action);
        items << action;
    }
    return items;
}

int BookmarkTag(const QAction* item) {
    return item && item->property(itemMark).toBool() ? item->data().toInt() : 0;
}

bool SaveBookmarks(QWidget* parent, TBookmarks& bookmarks) {
    if (bookmarks.Save())
        return true;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        (parent || !QApplication::topLevelWidgets().isEmpty()))
        QMessageBox::warning(parent, "zarnplayer",
                             "The bookmarks could not be saved.\n" +
                                 QString::fromStdString(bookmarks.LastError()));
    return false;
}
