// What a screen reader hears of the main window: the names of its controls,
// the seek bar's position as words, and the changes a listener must be told
// of (a new file, a rate change, the volume, the end of the list, a
// failure), said through the announcer of player/widgets/Accessible.h. The
// window calls MakeAccessible once it is built; the texts then follow the
// core.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

class TMain;

// "12:30 of 1:04:10": a position and a duration in 100 ns units, hours
// only when the duration has them.
QString SpokenPosition(std::int64_t position, std::int64_t duration);
// "rate 2.6".
QString SpokenRate(const std::string& rateText);
// "Repeat: All".
QString SpokenRepeatMode(int mode);

void MakeAccessible(TMain& window);
