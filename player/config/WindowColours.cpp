#include "player/config/WindowColours.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include <cmath>

namespace {

const QString kOutlinedStyle = QStringLiteral("Windows");

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    auto at = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(at(a.red(), b.red()), at(a.green(), b.green()), at(a.blue(), b.blue()));
}

} // namespace

double RelativeLuminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) +
           0.0722 * Linear(rgb.blueF());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& preferred, const QColor& background, double minimum) {
    if (ContrastRatio(preferred, background) >= minimum)
        return preferred;
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    const QColor target =
        ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
    for (int step = 1; step < 20; ++step) {
        const QColor c = Mix(preferred, target, step / 20.0);
        if (ContrastRatio(c, background) >= minimum)
            return c;
    }
    return target;
}

QPalette HighContrastPalette(bool dark) {
    const QColor ground = dark ? QColor(Qt::black) : QColor(Qt::white);
    const QColor ink = dark ? QColor(Qt::white) : QColor(Qt::black);
    const QColor faint = dark ? QColor(170, 170, 170) : QColor(90, 90, 90);
    const QColor highlight = dark ? QColor(255, 255, 0) : QColor(0, 0, 140);
    const QColor link = dark ? QColor(130, 200, 255) : QColor(0, 0, 200);
    const QColor visited = dark ? QColor(230, 160, 255) : QColor(110, 0, 140);
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = g == QPalette::Disabled;
        const QColor text = off ? faint : ink;
        for (QPalette::ColorRole r : {QPalette::Window, QPalette::Base, QPalette::AlternateBase,
                                      QPalette::Button, QPalette::ToolTipBase})
            p.setColor(g, r, ground);
        for (QPalette::ColorRole r :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
            p.setColor(g, r, text);
        // Frames and bevels drawn in the ink, so every edge shows.
        for (QPalette::ColorRole r :
             {QPalette::Light, QPalette::Midlight, QPalette::Mid, QPalette::Dark, QPalette::Shadow})
            p.setColor(g, r, ink);
        p.setColor(g, QPalette::BrightText, ink);
        p.setColor(g, QPalette::PlaceholderText, faint);
        p.setColor(g, QPalette::Highlight, off ? faint : highlight);
        p.setColor(g, QPalette::HighlightedText, ground);
        p.setColor(g, QPalette::Link, link);
        p.setColor(g, QPalette::LinkVisited, visited);
    }
    return p;
}

WindowColours::WindowColours() : desktop_([this](contrast::Scheme scheme) { Apply(scheme); }) {
    Apply(desktop_.Current());
}

void WindowColours::Apply(contrast::Scheme scheme) {
    // Widget programs only: a style belongs to QApplication.
    const bool widgets = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (scheme == contrast::Scheme::Off) {
        if (replaced_) {
            if (widgets && !style_.isEmpty())
                if (QStyle* style = QStyleFactory::create(style_))
                    QApplication::setStyle(style);
            // An empty palette resolves every role from the desktop's again.
            QGuiApplication::setPalette(QPalette());
        }
        replaced_ = false;
        return;
    }
    // The usual style outlines its controls in a shade of the window colour,
    // which is lost on black and too pale on white; the plain style draws
    // every frame, box and groove in the palette's bevel colours, the ink.
    if (widgets) {
        if (!replaced_)
            style_ = QApplication::style()->name();
        if (QApplication::style()->name().compare(kOutlinedStyle, Qt::CaseInsensitive) != 0)
            if (QStyle* style = QStyleFactory::create(kOutlinedStyle))
                QApplication::setStyle(style);
    }
    QGuiApplication::setPalette(HighContrastPalette(scheme == contrast::Scheme::Dark));
    replaced_ = true;
}
