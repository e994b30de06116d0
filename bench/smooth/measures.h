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

} // namespace measures
