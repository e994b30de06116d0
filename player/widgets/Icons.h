// Pictures of the play controls, for both windows (player/widgets): the tool
// bar's image list (entries 0 to 12, the repeat modes at 8 + mode), the mute
// button's two images and the logo of the video panel. The desktop's icon
// theme is used where it has a picture; everything else is drawn here, so no
// button is ever blank.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include <functional>

class QPainter;

enum ToolImage {
    ImageOpen = 0,
    ImagePrev = 1,
    ImageNext = 2,
    ImagePlayList = 3,
    ImageRewind = 4,
    ImageStop = 5,
    ImagePause = 6,
    ImagePlay = 7,
    ImageRepeatSingle = 8, // 8 + RepeatMode
    ImageRepeatOne = 9,
    ImageRepeatAll = 10,
    ImageRandom = 11,
    ImageForward = 12,
};

// The colours a drawn picture gets: its ink, and the ground it is shown on
// (for coloured parts that must stand out from it).
struct Inks {
    QColor ink;
    QColor ground;
};
// Where a picture is shown when not selected: on a button (ButtonText on
// Button) or in a list row (Text on Base). Selected, it is HighlightedText on
// Highlight; disabled, the style dims it.
enum class IconGround { Button, Row };
// Draws on a 16 x 16 grid, scaled to the size asked.
using InkedDrawing = std::function<void(QPainter&, const Inks&)>;
// A picture drawn whenever it is shown, in the colours of the application's
// palette then: it follows a change to high contrast without being set again.
QIcon InkedIcon(InkedDrawing draw, IconGround ground = IconGround::Button);

QIcon ToolImageIcon(int index);
// 0 sound on, 1 muted.
QIcon MuteImageIcon(int index);
// The 160 x 120 picture shown while no video plays.
QPixmap LogoPixmap();
