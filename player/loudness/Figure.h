// A file's loudness as levelling uses it, and the gain that brings it to a
// target. Loudness in LUFS (integrated, over the gated blocks), peaks in dB
// of full scale.
#pragma once

#include <cstdint>

struct TLoudnessFigure {
    enum class Source : std::uint8_t { Measured = 0, Tags = 1 };
    Source From = Source::Measured;
    double Integrated = 0;
    // The true peak (oversampled) when measured, the tag's sample peak when
    // taken from tags; NoPeak when not known.
    double Peak = NoPeak;
    // Seconds of sound the figure covers; the whole file when Whole.
    double Seconds = 0;
    bool Whole = false;

    static constexpr double NoPeak = -200;
    bool operator==(const TLoudnessFigure&) const = default;
};

namespace loudness {

// The targets the options offer, and the one they start with.
inline constexpr int Targets[] = {-23, -19, -16, -14};
inline constexpr int DefaultTarget = -16;
// The most a file is raised: more would lift a near-silent file's noise to
// speech level. Lowering is capped only by the renderer's own range.
inline constexpr double MaxRaise = 20;
inline constexpr double MaxLower = 40;
// Figures outside this range are no measurement of sound (silence gives
// -inf, a tag may say anything).
inline constexpr double Quietest = -70;
inline constexpr double Loudest = 5;

bool Plausible(double integrated);
// The gain for target in hundredths of a decibel: target - loudness, at
// most +MaxRaise and at least -MaxLower.
std::int32_t GainFor(double integrated, double target);

} // namespace loudness
