// The player's rate list: the texts the rate box shows and stores, their
// values, the steps between them and the nearest listed rate. The window,
// MPRIS, export and the settings all go by this one table.
#pragma once

#include <string_view>

namespace rates {

inline constexpr int kCount = 18;

// Fastest first, as the rate box lists them.
extern const char* const kTexts[kCount];

// The value of the entry at index (0 <= index < kCount).
double Value(int index);
// The index of exactly this text ("1.0", not "1"); -1 when it is not listed.
int IndexOfText(std::string_view text);
// The index of the entry with this value; -1 when none has it.
int IndexOfValue(double value);
// The index of the entry whose value is nearest; a tie goes to the faster.
int Nearest(double value);
// One step faster and one slower; at the end of the list the index stays.
int Faster(int index);
int Slower(int index);
// The entry of normal speed, 1.0.
int NormalIndex();

} // namespace rates
