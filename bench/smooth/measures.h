// What the comparison of tempo changers measures, on one channel of sound
// at a known sample rate: splatter above the input's band, the fundamental
// of a held note against what the input played, and how well the output's
// band envelopes follow the input's once time is mapped by the rate.
#pragma once

#include <functional>
#include <vector>

namespace measures {

// Energy above cutoff_hz as a share of all energy, in dB.
double splatter_db(const std::vector<float>& s, int rate, double cutoff_hz);

// RMS of the part of s between low_hz and high_hz, in steps of a 16-bit
// sample (1 / 32768).
double band_rms_lsb(const std::vector<float>& s, int rate, double low_hz, double high_hz);

// The fundamental expected at an input time, averaged over [from, to]
// seconds of input; 0 where no single note plays.
using pitch_track = std::function<double(double from, double to)>;

// RMS deviation in cents of the output's fundamental from the expected one,
// every 5 ms over 20 ms windows, for the best constant delay of the output.
double pitch_error_cents(const std::vector<float>& out, int rate, double tempo,
                         const pitch_track& expected);

// Mean over 16 bands (100 Hz to 4 kHz) of the correlation of the output's
// log band energies with the input's, the input analysed at the rate's
// scale, for the best constant delay.
double envelope_correlation(const std::vector<float>& in, const std::vector<float>& out, int rate,
                            double tempo);

// The fundamentals of the voices that hold a note at an input time,
// averaged over [from, to] seconds of input; empty where any voice changes.
using chord_track = std::function<std::vector<double>(double from, double to)>;

// Share of the output's 93 ms frames (every 20 ms) in which some held voice
// is off its expected fundamental by more than 2 %: each voice is the
// strongest spectral peak within 4 % of where it should be, for the best
// constant delay of the output. NaN without a frame to judge.
double held_off_share(const std::vector<float>& out, int rate, double tempo,
                      const chord_track& expected);

// The time that carries speech, in seconds: 10 ms frames within 35 dB of
// the loudest frame of s, the frames starting every millisecond, so where a
// word falls on a frame grid moves the figure by no more than a millisecond.
double speech_seconds(const std::vector<float>& s, int rate);

} // namespace measures
