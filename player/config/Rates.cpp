#include "player/config/Rates.h"

#include "platform/numbers.h"

#include <array>
#include <cmath>

namespace rates {

const char* const kTexts[kCount] = {"4.0", "3.5", "3.0", "2.8", "2.6", "2.4", "2.2", "2.0", "1.9",
                                    "1.8", "1.7", "1.6", "1.5", "1.4", "1.3", "1.2", "1.1", "1.0"};

namespace {

// The texts are ours; each reads, so the fallback is never taken.
const std::array<double, kCount>& Values() {
    static const std::array<double, kCount> values = [] {
        std::array<double, kCount> v{};
        for (int i = 0; i < kCount; ++i)
            v[i] = numbers::ParseDouble(kTexts[i]).value_or(1.0);
        return v;
    }();
    return values;
}

} // namespace

double Value(int index) {
    return Values()[index];
}

int IndexOfText(std::string_view text) {
    for (int i = 0; i < kCount; ++i)
        if (text == kTexts[i])
            return i;
    return -1;
}

int IndexOfValue(double value) {
    for (int i = 0; i < kCount; ++i)
        if (std::fabs(Values()[i] - value) < 1e-9)
            return i;
    return -1;
}

int Nearest(double value) {
    int best = 0;
    for (int i = 1; i < kCount; ++i)
        if (std::fabs(Values()[i] - value) < std::fabs(Values()[best] - value))
            best = i;
    return best;
}

int Faster(int index) {
    return index > 0 ? index - 1 : index;
}

int Slower(int index) {
    return index < kCount - 1 ? index + 1 : index;
}

int NormalIndex() {
    return kCount - 1;
}

} // namespace rates
