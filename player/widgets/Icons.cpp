#include "player/widgets/Icons.h"

#include "player/config/WindowColours.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStyle>
#include <QStyleOption>

namespace {

constexpr int Side = 16;
// Coloured parts of a picture stand out from its ground at least this much.
constexpr double MarkContrast = 3.0;

// Draws the picture each time it is shown, in the application palette of
// that moment, so a palette change reaches every button on its next paint.
class InkedEngine : public QIconEngine {
public:
    InkedEngine(InkedDrawing draw, IconGround ground) : draw_(std::move(draw)), ground_(ground) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const QPalette pal = QGuiApplication::palette();
        Inks inks;
        if (mode == QIcon::Selected) {
            inks = {pal.color(QPalette::HighlightedText), pal.color(QPalette::Highlight)};
        } else if (ground_ == IconGround::Row) {
            inks = {pal.color(QPalette::Text), pal.color(QPalette::Base)};
        } else {
            inks = {pal.color(QPalette::ButtonText), pal.color(QPalette::Button)};
        }
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size.width() / double(Side), size.height() / double(Side));
            draw_(p, inks);
        }
        if (mode != QIcon::Disabled)
            return pm;
        // The style's own dimming, as for any other icon.
        QStyleOption option;
        option.palette = pal;
        return QApplication::style()->generatedIconPixmap(QIcon::Disabled, pm, &option);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = pixmap(rect.size() * ratio, mode, state);
        pm.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, pm);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new InkedEngine(draw_, ground_); }
    QString key() const override { return QStringLiteral("zarninked"); }

private:
    InkedDrawing draw_;
    IconGround ground_;
};

void Triangle(QPainter& p, double x, double y, double w, double h, bool right) {
    QPolygonF t;
    if (right)
        t << QPointF(x, y) << QPointF(x + w, y + h / 2) << QPointF(x, y + h);
    else
        t << QPointF(x + w, y) << QPointF(x, y + h / 2) << QPointF(x + w, y + h);
    p.drawPolygon(t);
}

// A loop of arrows, the common part of the repeat pictures.
void Loop(QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(2, 3, 12, 10), 30 * 16, 300 * 16);
    p.setBrush(p.pen().color());
    Triangle(p, 11, 1, 4, 5, true);
}

void Letter(QPainter& p, const QString& text) {
    QFont f = p.font();
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, 0, Side, Side), Qt::AlignCenter, text);
}

void Drawn(QPainter& p, const Inks& inks, int index) {
    const QColor ink = inks.ink;
    p.setPen(QPen(ink, 1.5));
    p.setBrush(ink);
    switch (index) {
    case ImageOpen:
        p.setBrush(QColor(230, 190, 80));
        p.drawRect(QRectF(1.5, 5.5, 13, 8));
        p.drawRect(QRectF(1.5, 3.5, 5, 2));
        break;
    case ImagePrev:
        p.drawRect(QRectF(2, 3, 2, 10));
        Triangle(p, 5, 3, 8, 10, false);
        break;
    case ImageNext:
        Triangle(p, 3, 3, 8, 10, true);
        p.drawRect(QRectF(12, 3, 2, 10));
        break;
    case ImagePlayList:
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(2, 3.5 + 3 * i), QPointF(14, 3.5 + 3 * i));
        break;
    case ImageRewind:
        Triangle(p, 1, 3, 7, 10, false);
        Triangle(p, 8, 3, 7, 10, false);
        break;
    case ImageStop:
        p.drawRect(QRectF(3.5, 3.5, 9, 9));
        break;
    case ImagePause:
        p.drawRect(QRectF(3.5, 3, 3, 10));
        p.drawRect(QRectF(9.5, 3, 3, 10));
        break;
    case ImagePlay:
        Triangle(p, 4, 2, 10, 12, true);
        break;
    case ImageForward:
        Triangle(p, 1, 3, 7, 10, true);
        Triangle(p, 8, 3, 7, 10, true);
        break;
    case ImageRepeatSingle:
        // One pass: an arrow that ends at a bar.
        p.drawLine(QPointF(1, 8), QPointF(10, 8));
        Triangle(p, 8, 4, 4, 8, true);
        p.drawRect(QRectF(13, 3, 1.5, 10));
        break;
    case ImageRepeatOne:
        Loop(p);
        Letter(p, QStringLiteral("1"));
        break;
    case ImageRepeatAll:
        Loop(p);
        Letter(p, QStringLiteral("A"));
        break;
    case ImageRandom:
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(1, 4), QPointF(11, 12));
        p.drawLine(QPointF(1, 12), QPointF(11, 4));
        p.setBrush(ink);
        Triangle(p, 11, 1, 4, 6, true);
        Triangle(p, 11, 9, 4, 6, true);
        break;
    default:
        break;
    }
}

void Speaker(QPainter& p, const Inks& inks, bool muted) {
    const QColor ink = inks.ink;
    p.setPen(QPen(ink, 1.5));
    p.setBrush(ink);
    QPolygonF body;
    body << QPointF(1, 6) << QPointF(4, 6) << QPointF(8, 2) << QPointF(8, 14) << QPointF(4, 10)
         << QPointF(1, 10);
    p.drawPolygon(body);
    p.setBrush(Qt::NoBrush);
    if (muted) {
        p.setPen(QPen(ReadableOn(QColor(200, 0, 0), inks.ground, MarkContrast), 1.8));
        p.drawLine(QPointF(10, 5), QPointF(15, 11));
        p.drawLine(QPointF(10, 11), QPointF(15, 5));
    } else {
        p.drawArc(QRectF(6, 4, 6, 8), -60 * 16, 120 * 16);
        p.drawArc(QRectF(6, 1, 9, 14), -60 * 16, 120 * 16);
    }
}

const char* ThemeName(int index) {
    switch (index) {
    case ImageOpen:
        return "document-open";
    case ImagePrev:
        return "media-skip-backward";
    case ImageNext:
        return "media-skip-forward";
    case ImageRewind:
        return "media-seek-backward";
    case ImageStop:
        return "media-playback-stop";
    case ImagePause:
        return "media-playback-pause";
    case ImagePlay:
        return "media-playback-start";
    case ImageForward:
        return "media-seek-forward";
    default:
        // The repeat modes and the list are always ours: themes do not tell
        // all four modes apart.
        return nullptr;
    }
}

} // namespace

QIcon InkedIcon(InkedDrawing draw, IconGround ground) {
    return QIcon(new InkedEngine(std::move(draw), ground));
}

QIcon ToolImageIcon(int index) {
    QIcon drawn = InkedIcon([index](QPainter& p, const Inks& inks) { Drawn(p, inks, index); });
    if (const char* name = ThemeName(index))
        return QIcon::fromTheme(QString::fromLatin1(name), drawn);
    return drawn;
}

QIcon MuteImageIcon(int index) {
    QIcon drawn =
        InkedIcon([muted = index != 0](QPainter& p, const Inks& inks) { Speaker(p, inks, muted); });
    return QIcon::fromTheme(
        index ? QStringLiteral("audio-volume-muted") : QStringLiteral("audio-volume-high"), drawn);
}

QPixmap LogoPixmap() {
    QPixmap pm(160, 120);
    pm.fill(Qt::black);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 160, 230), 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(55, 18, 50, 50));
    p.setBrush(QColor(90, 160, 230));
    Triangle(p, 72, 30, 22, 26, true);
    QFont f = p.font();
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(220, 220, 220));
    p.drawText(QRectF(0, 78, 160, 24), Qt::AlignCenter, QStringLiteral("zarnplayer"));
    return pm;
}
