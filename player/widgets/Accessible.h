// What a screen reader needs of every window of the player (player/widgets;
// the main window's names and spoken texts are in
// player/mainform/MainAccessible.h): the roles Qt cannot be told otherwise,
// a window's announcer for the changes a listener must be told of, and for
// the keyboard, the focus given back where it was when a modal dialog
// closes, and an open menu's letters kept for its items and its Alt not
// taken from a screen reader's hand-back as a close.
#pragma once

#include <QString>

class QLabel;
class QObject;
class QWidget;

// Before the window's widgets are made: Qt keeps the first interface it
// makes for a widget.
void InstallAccessibleRoles();
// A notification no one sees whose name is what was last announced, one a
// window, made on first use: the window's own panels can be hidden.
QLabel* AnnouncerOf(QWidget* window);
// Says text to a screen reader wherever the focus is, through a
// notification of the window's own.
void Announce(QWidget* window, const QString& text);
// The focus kept through modal dialogs and the letters of open menus, for
// the whole application from now on; owner owns the event filters.
void KeepKeysForDialogsAndMenus(QObject* owner);
