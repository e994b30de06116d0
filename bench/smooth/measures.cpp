#include "measures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>

namespace measures {

namespace {

using cplx = std::complex<double>;

void fft(std::vector<cplx>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const cplx step = std::polar(1.0, -2 * M_PI / double(len));
        for (std::size_t i = 0; i < n; i += len) {
            cplx w = 1;
            for (std::size_t k = 0; k < len / 2; ++k, w *= step) {
                const cplx u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

std::size_t power_of_two(std::size_t n) {
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

// Power spectrum of s[from, from + n) under a Hann window of n samples.
std::vector<double> power(const std::vector<float>& s, std::size_t from, std::size_t n,
                          std::size_t size) {
    std::vector<cplx> a(size, 0.0);
    for (std::size_t i = 0; i < n && from + i < s.size(); ++i)
        a[i] = s[from + i] * (0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / n));
    fft(a);
    std::vector<double> p(size / 2 + 1);
    for (std::size_t k = 0; k < p.size(); ++k)
        p[k] = std::norm(a[k]);
    return p;
}

// The period of s around centre by the cumulative mean normalised
// difference, searched between the given lags; 0 when nothing is periodic.
double period(const std::vector<float>& s, std::size_t centre, int window, int shortest,
              int longest) {
    if (centre < std::size_t(window / 2) || centre + window / 2 + longest >= s.size())
        return 0;
    const float* x = s.data() + centre - window / 2;
    std::vector<double> d(longest + 2, 0.0);
    double running = 0;
    std::vector<double> cmnd(longest + 2, 1.0);
    for (int tau = 1; tau <= longest + 1; ++tau) {
        double sum = 0;
        for (int j = 0; j < window; ++j) {
            const double e = x[j] - x[j + tau];
            sum += e * e;
        }
        d[tau] = sum;
        running += sum;
        cmnd[tau] = running > 0 ? sum * tau / running : 1.0;
    }
    int best = -1;
    for (int tau = shortest; tau <= longest; ++tau) {
        if (cmnd[tau] < 0.2) {
            while (tau + 1 <= longest && cmnd[tau + 1] < cmnd[tau])
                ++tau;
            best = tau;
            break;
        }
    }
    if (best < 0)
        return 0;
    const double a = cmnd[best - 1], b = cmnd[best], c = cmnd[best + 1];
    const double bend = a - 2 * b + c;
    return best + (bend > 0 ? 0.5 * (a - c) / bend : 0.0);
}

double pearson(const std::vector<double>& a, const std::vector<double>& b, int lag) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    int n = 0;
    for (int j = 0; j < int(a.size()); ++j) {
        const int k = j + lag;
        if (k < 0 || k >= int(b.size()))
            continue;
        sa += a[j];
        sb += b[k];
        saa += a[j] * a[j];
        sbb += b[k] * b[k];
        sab += a[j] * b[k];
        ++n;
    }
    if (n < 10)
        return 0;
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0;
}

// Log energies of 16 bands from 100 Hz to 4 kHz, frame by frame.
std::vector<std::vector<double>> bands(const std::vector<float>& s, int rate, std::size_t window,
                                       std::size_t hop) {
    constexpr int count = 16;
    const std::size_t size = power_of_two(window);
    std::vector<std::vector<double>> e(count);
    for (std::size_t from = 0; from + window <= s.size(); from += hop) {
        const auto p = power(s, from, window, size);
        for (int band = 0; band < count; ++band) {
            const double lo = 100 * std::pow(40.0, double(band) / count);
            const double hi = 100 * std::pow(40.0, double(band + 1) / count);
            double sum = 0;
            for (std::size_t k = std::size_t(lo * size / rate);
                 k < p.size() && k * rate < hi * size; ++k)
                sum += p[k];
            e[band].push_back(10 * std::log10(sum / window + 1e-10));
        }
    }
    return e;
}

} // namespace

double splatter_db(const std::vector<float>& s, int rate, double cutoff_hz) {
    constexpr std::size_t n = 4096;
    double above = 0, all = 0;
    for (std::size_t from = 0; from + n <= s.size(); from += n / 2) {
        const auto p = power(s, from, n, n);
        for (std::size_t k = 1; k < p.size(); ++k) {
            all += p[k];
            if (double(k) * rate / n >= cutoff_hz)
                above += p[k];
        }
    }
    return all > 0 ? 10 * std::log10(above / all + 1e-30) : 0;
}

double band_rms_lsb(const std::vector<float>& s, int rate, double low_hz, double high_hz) {
    constexpr std::size_t n = 4096;
    // A Hann window's squares average 3/8; segments overlap by half.
    double sum = 0;
    int segments = 0;
    for (std::size_t from = 0; from + n <= s.size(); from += n / 2, ++segments) {
        const auto p = power(s, from, n, n);
        for (std::size_t k = 1; k < p.size(); ++k) {
            const double hz = double(k) * rate / n;
            if (hz >= low_hz && hz < high_hz)
                sum += (k + 1 == p.size() ? 1.0 : 2.0) * p[k] / (0.375 * n * n);
        }
    }
    return segments ? 32768.0 * std::sqrt(sum / segments) : 0;
}

double pitch_error_cents(const std::vector<float>& out, int rate, double tempo,
                         const pitch_track& expected) {
    const int step = rate / 200, window = rate / 50;
    const double half = 0.5 * window / rate;
    std::vector<double> times, found;
    for (std::size_t centre = window; centre + 2 * window < out.size(); centre += step) {
        const double p = period(out, centre, window, rate / 600, rate / 120);
        times.push_back(double(centre) / rate);
        found.push_back(p > 0 ? rate / p : 0);
    }
    double best = 1e9;
    for (double delay = -0.1; delay <= 0.1; delay += 0.0005) {
        double sum = 0;
        int n = 0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            const double from = (times[i] - half - delay) * tempo;
            const double to = (times[i] + half - delay) * tempo;
            const double f = expected(from, to);
            if (!(f > 0))
                continue;
            // A missed or octave-wrong frame counts as a full semitone off.
            const double cents =
                found[i] > 0 ? std::min(100.0, std::fabs(1200 * std::log2(found[i] / f))) : 100.0;
            sum += cents * cents;
            ++n;
        }
        if (n > 0)
            best = std::min(best, std::sqrt(sum / n));
    }
    return best;
}

double envelope_correlation(const std::vector<float>& in, const std::vector<float>& out, int rate,
                            double tempo) {
    constexpr std::size_t window = 1024, hop = 256;
    const auto o = bands(out, rate, window, hop);
    const auto i = bands(in, rate, std::size_t(window * tempo), std::size_t(hop * tempo));
    double best = -1;
    for (int lag = -40; lag <= 40; ++lag) {
        double sum = 0;
        for (std::size_t b = 0; b < o.size(); ++b)
            sum += pearson(o[b], i[b], lag);
        best = std::max(best, sum / o.size());
    }
    return best;
}

double held_off_share(const std::vector<float>& out, int rate, double tempo,
                      const chord_track& expected) {
    constexpr std::size_t n = 4096, size = 4 * n;
    const std::size_t hop = std::size_t(rate) / 50;
    const double half = 0.5 * n / rate;
    // The frames' spectra once; each delay then only reads peaks.
    std::vector<std::vector<double>> spectra;
    std::vector<double> times;
    for (std::size_t from = 0; from + n <= out.size(); from += hop) {
        spectra.push_back(power(out, from, n, size));
        times.push_back((from + n / 2.0) / rate);
    }
    const auto peak = [&](const std::vector<double>& p, double hz) {
        const std::size_t lo = std::size_t(hz * 0.96 * size / rate);
        const std::size_t hi = std::size_t(hz * 1.04 * size / rate) + 1;
        std::size_t best = lo;
        for (std::size_t k = lo; k <= hi && k + 1 < p.size(); ++k)
            if (p[k] > p[best])
                best = k;
        if (best == 0 || best + 1 >= p.size())
            return 0.0;
        const double a = std::log(p[best - 1] + 1e-30), b = std::log(p[best] + 1e-30),
                     c = std::log(p[best + 1] + 1e-30);
        const double bend = a - 2 * b + c;
        return (best + (bend < 0 ? 0.5 * (a - c) / bend : 0.0)) * rate / size;
    };
    double best = std::nan("");
    for (double delay = -0.1; delay <= 0.1; delay += 0.002) {
        int judged = 0, off = 0;
        for (std::size_t i = 0; i < spectra.size(); ++i) {
            const auto voices =
                expected((times[i] - half - delay) * tempo, (times[i] + half - delay) * tempo);
            if (voices.empty())
                continue;
            ++judged;
            for (double hz : voices) {
                if (std::fabs(peak(spectra[i], hz) / hz - 1) > 0.02) {
                    ++off;
                    break;
                }
            }
        }
        if (judged > 0 && !(best <= double(off) / judged))
            best = double(off) / judged;
    }
    return best;
}

double speech_seconds(const std::vector<float>& s, int rate) {
    const std::size_t frame = std::size_t(rate) / 100, hop = std::size_t(rate) / 1000;
    std::vector<double> sums(s.size() + 1, 0.0);
    for (std::size_t i = 0; i < s.size(); ++i)
        sums[i + 1] = sums[i] + double(s[i]) * s[i];
    std::vector<double> level;
    for (std::size_t from = 0; from + frame <= s.size(); from += hop)
        level.push_back(10 * std::log10((sums[from + frame] - sums[from]) / frame + 1e-20));
    if (level.empty())
        return 0;
    const double loudest = *std::max_element(level.begin(), level.end());
    const auto n =
        std::count_if(level.begin(), level.end(), [&](double l) { return l >= loudest - 35; });
    return double(n) * hop / rate;
}

} // namespace measures
