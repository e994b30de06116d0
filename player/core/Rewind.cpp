#include "player/core/Rewind.h"

#include <algorithm>

std::int64_t PositionAfterPause(std::int64_t position,
                                std::chrono::steady_clock::time_point pausedAt,
                                std::chrono::steady_clock::time_point now) {
    constexpr std::int64_t kBack = 50'000'000; // 5 s
    if (now - pausedAt <= kLongPause)
        return position;
    return std::max<std::int64_t>(position - kBack, 0);
}
