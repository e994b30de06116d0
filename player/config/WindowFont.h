// The windows' font and the dialogs laid out in pixels: the windows use the
// desktop's font, but never one smaller than the 12 pixels they were laid
// out for; a dialog of fixed size grows with a larger font so no text is cut.
#pragma once

#include <QFont>
#include <QFontInfo>
#include <QRect>
#include <QStackedWidget>
#include <QWidget>

#include <cmath>

inline constexpr int kSmallestFontPixels = 12;

// The desktop's font, raised to 12 pixels when it is smaller.
inline QFont WindowFont(const QFont& desktop) {
    QFont f = desktop;
    if (QFontInfo(f).pixelSize() < kSmallestFontPixels)
        f.setPixelSize(kSmallestFontPixels);
    return f;
}

namespace windowfont_detail {
inline int Scaled(int v, double k) {
    return static_cast<int>(std::lround(v * k));
}
inline void Grow(QWidget& parent, double k) {
    for (QWidget* w : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow())
            continue;
        // A page of a tab widget is placed by its stack; its fields are ours.
        if (qobject_cast<QStackedWidget*>(&parent)) {
            Grow(*w, k);
            continue;
        }
        if (parent.layout())
            continue;
        const QRect r = w->geometry();
        w->setGeometry(Scaled(r.x(), k), Scaled(r.y(), k), Scaled(r.width(), k),
                       Scaled(r.height(), k));
        if (w->inherits("QTabWidget"))
            if (auto* stack = w->findChild<QStackedWidget*>())
                Grow(*stack, k);
    }
}
} // namespace windowfont_detail

// Gives the dialog the window font and, when that is larger than 12 pixels,
// grows its fixed size and every field's place by the same share. Call once
// the fields are placed.
inline void FitDialogToFont(QWidget& dialog, QSize designSize) {
    dialog.setFont(WindowFont(dialog.font()));
    const int pixels = QFontInfo(dialog.font()).pixelSize();
    const double k = pixels > kSmallestFontPixels ? double(pixels) / kSmallestFontPixels : 1.0;
    if (k > 1.0)
        windowfont_detail::Grow(dialog, k);
    dialog.setFixedSize(windowfont_detail::Scaled(designSize.width(), k),
                        windowfont_detail::Scaled(designSize.height(), k));
}
