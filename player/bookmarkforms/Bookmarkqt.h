// The Qt side of the bookmark list (player/bookmarkforms; the list itself is
// player/bookmarks): the Bookmark menu's items, and a failed save reported
// to the user while windows still exist.
#pragma once

#include "player/bookmarks/Bookmark.h"

#include <QList>

class QAction;
class QMenu;
class QWidget;

// Removes the bookmark items this function added to menu before and appends
// one per bookmark, in list order. Each item's data() holds its tag, the ID
// to hand to AddToPlayList. Returns the new items.
QList<QAction*> FillBookmarkMenu(QMenu* menu, const TBookmarks& bookmarks = Bookmarks());

// The tag of a bookmark item; 0 for any other item.
int BookmarkTag(const QAction* item);

// Saves the list; when that fails, tells the user in a message box as well
// (stderr already has it) if a window is still there to own it.
bool SaveBookmarks(QWidget* parent, TBookmarks& bookmarks = Bookmarks());
