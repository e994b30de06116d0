// What the bookmark dialogs (player/bookmarkforms) share: the version text of
// their captions, their font, and centring on the desktop.
#pragma once

#include <QString>

class QWidget;

inline const QString VersionText = QStringLiteral("zarnplayer ver 0.3.5");

// A fixed-size dialog with the window font (grown with a larger one),
// centred on its screen.
void SetUpFixedDialog(QWidget* dialog, int clientWidth, int clientHeight);
