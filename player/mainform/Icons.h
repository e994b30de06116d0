// Pictures of the play controls: the tool bar's image list (entries 0 to 12,
// the repeat modes at 8 + mode), the mute button's two images and the logo
// of the video panel. The desktop's icon theme is used where it has a
// picture; everything else is drawn here, so no button is ever blank.
#pragma once

#include <QIcon>
#include <QPixmap>

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

QIcon ToolImageIcon(int index);
// 0 sound on, 1 muted.
QIcon MuteImageIcon(int index);
// The 160 x 120 picture shown while no video plays.
QPixmap LogoPixmap();
