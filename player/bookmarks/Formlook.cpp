#include "player/bookmarks/Formlook.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void SetUpFixedDialog(QWidget* dialog, int clientWidth, int clientHeight) {
    QFont font = dialog->font();
    font.setPixelSize(12);
    dialog->setFont(font);
    dialog->setFixedSize(clientWidth, clientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(clientWidth / 2, clientHeight / 2));
    }
}
