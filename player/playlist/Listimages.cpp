#include "player/playlist/Listimages.h"

#include "player/config/WindowColours.h"
#include "player/widgets/Icons.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace {

QPixmap Canvas() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

// Coloured parts of a picture stand out from its ground at least this much.
constexpr double MarkContrast = 3.0;

// White paper under dark ink, black under light.
QColor Paper(const Inks& inks) {
    const QColor white(Qt::white);
    const QColor black(Qt::black);
    return ContrastRatio(white, inks.ink) >= ContrastRatio(black, inks.ink) ? white : black;
}

void Plus(QPainter& p, const Inks& inks, double x, double y) {
    p.setPen(QPen(ReadableOn(QColor(0, 130, 0), inks.ground, MarkContrast), 2));
    p.drawLine(QPointF(x - 3, y), QPointF(x + 3, y));
    p.drawLine(QPointF(x, y - 3), QPointF(x, y + 3));
}

void Folder(QPainter& p) {
    p.setBrush(QColor(230, 190, 80));
    p.drawRect(QRectF(1.5, 5.5, 13, 8));
    p.drawRect(QRectF(1.5, 3.5, 5, 2));
}

void Page(QPainter& p, const Inks& inks) {
    p.setBrush(Paper(inks));
    p.drawRect(QRectF(2.5, 1.5, 9, 13));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(4.5, 5 + 3 * i), QPointF(9.5, 5 + 3 * i));
}

// The tool bar's images, numbered as the buttons use them.
void DrawListImage(QPainter& p, const Inks& inks, int index) {
    const QColor ink = inks.ink;
    p.setPen(QPen(ink, 1));
    switch (index) {
    case 0: // add files
        Page(p, inks);
        Plus(p, inks, 11.5, 11.5);
        break;
    case 1: // add folder
        Folder(p);
        Plus(p, inks, 11.5, 11.5);
        break;
    case 7: // remove
        p.setPen(QPen(ReadableOn(QColor(190, 0, 0), inks.ground, MarkContrast), 2));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(3, 13), QPointF(13, 3));
        break;
    case 8: // sort
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(2, 3.5 + 3 * i), QPointF(5 + 2.5 * i, 3.5 + 3 * i));
        p.drawLine(QPointF(13, 2), QPointF(13, 13));
        p.drawLine(QPointF(10.5, 10.5), QPointF(13, 13.5));
        p.drawLine(QPointF(15.5, 10.5), QPointF(13, 13.5));
        break;
    case 9: // open list files
        Folder(p);
        p.setPen(QPen(ink, 1));
        p.drawLine(QPointF(4, 9), QPointF(12, 9));
        p.drawLine(QPointF(4, 11), QPointF(12, 11));
        break;
    case 10: // save list file
        p.setBrush(QColor(70, 110, 190));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Paper(inks));
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.drawRect(QRectF(3.5, 9.5, 9, 5));
        break;
    default:
        break;
    }
}

} // namespace

QIcon ListImageIcon(int index) {
    switch (index) {
    case 2:
        return ToolImageIcon(ImagePrev);
    case 5:
        return ToolImageIcon(ImagePlay);
    case 6:
        return ToolImageIcon(ImageNext);
    default:
        break;
    }
    const char* theme = nullptr;
    switch (index) {
    case 0:
        theme = "list-add";
        break;
    case 1:
        theme = "folder-new";
        break;
    case 7:
        theme = "list-remove";
        break;
    case 8:
        theme = "view-sort-ascending";
        break;
    case 9:
        theme = "document-open";
        break;
    case 10:
        theme = "document-save";
        break;
    default:
        break;
    }
    QIcon drawn =
        InkedIcon([index](QPainter& p, const Inks& inks) { DrawListImage(p, inks, index); });
    return theme ? QIcon::fromTheme(QString::fromLatin1(theme), drawn) : drawn;
}

// The row markers: 1 the current entry, 0 any other (blank, so captions
// stay in line). The green mark keeps its hue where it stands out from the
// row, selected or not.
const QIcon& RowMarker(int image) {
    static const QIcon blank(Canvas());
    static const QIcon current = InkedIcon(
        [](QPainter& p, const Inks& inks) {
            p.setPen(QPen(ReadableOn(QColor(0, 90, 0), inks.ground, MarkContrast), 1));
            p.setBrush(ReadableOn(QColor(40, 170, 40), inks.ground, MarkContrast));
            QPolygonF t;
            t << QPointF(4, 3) << QPointF(13, 8) << QPointF(4, 13);
            p.drawPolygon(t);
        },
        IconGround::Row);
    return image == 1 ? current : blank;
}
