#include "player/loudness/Figure.h"

#include <algorithm>
#include <cmath>

namespace loudness {

bool Plausible(double integrated) {
    return std::isfinite(integrated) && integrated >= Quietest && integrated <= Loudest;
}

std::int32_t GainFor(double integrated, double target) {
    if (!Plausible(integrated))
        return 0;
    const double gain = std::clamp(target - integrated, -MaxLower, MaxRaise);
    return static_cast<std::int32_t>(std::lround(gain * 100));
}

} // namespace loudness
