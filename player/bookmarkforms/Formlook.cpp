#include "player/bookmarkforms/Formlook.h"

#include "player/config/WindowFont.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void SetUpFixedDialog(QWidget* dialog, int clientWidth, int clientHeight) {
    FitDialogToFont(*dialog, QSize(clientWidth, clientHeight));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
    }
}
