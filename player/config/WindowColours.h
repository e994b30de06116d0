// The windows' colours: the desktop's high-contrast setting turned into the
// application's palette, and the measure (the WCAG contrast ratio) by which
// our own drawing picks colours that stay readable on any palette.
#pragma once

#include "platform/contrast.h"

#include <QColor>
#include <QPalette>
#include <QString>

// The relative luminance of an sRGB colour, 0 (black) to 1 (white).
double RelativeLuminance(const QColor& c);
// 1 (no contrast) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// preferred when it has minimum contrast against background; otherwise
// preferred mixed toward black or white (whichever stands out more from the
// background) just far enough, so a mark keeps its hue where it can; black
// or white itself where no mix reaches minimum.
QColor ReadableOn(const QColor& preferred, const QColor& background, double minimum);

// Black on white, or white on black when dark, in every group; disabled
// text stays readable and the highlight stands out from the ground.
QPalette HighContrastPalette(bool dark);

// Keeps the application's palette, and in a widget program its style, on
// the desktop's high-contrast setting for as long as it lives. With high
// contrast off it leaves what Qt got from the desktop alone; switched off
// again, that palette and style come back.
class WindowColours {
public:
    WindowColours();
    void Apply(contrast::Scheme scheme);

private:
    bool replaced_ = false;
    QString style_; // the style before high contrast, to give back
    contrast::DesktopContrast desktop_;
};
