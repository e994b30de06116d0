// The pictures of the play list window (player/playlist): its tool bar's
// images, numbered as the buttons use them (the ones it shares with the main
// window come from player/widgets/Icons.h), and the row markers.
#pragma once

#include <QIcon>

// Image index of a tool button: 0 add files, 1 add folder, 2 previous,
// 5 play, 6 next, 7 remove, 8 sort, 9 open list files, 10 save list file.
QIcon ListImageIcon(int index);
// 1 the current entry, 0 any other.
const QIcon& RowMarker(int image);
