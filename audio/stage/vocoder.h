// A phase vocoder for steady, harmonic sound: Hann-windowed frames of about
// 46 ms (2048 samples at 44.1 kHz, scaled to the rate), taken from the input
// where the output's time map says and added back at a fixed output hop,
// each spectral peak's phase advanced by its own frequency and the bins
// around it locked to it (identity phase locking), so held notes and chords
// keep their pitch and beat without the splicer's repeats. A sudden rise of
// level starts the phases afresh from the input, which keeps onsets sharp.
// Fed the same windows as the splicer, it plays the input the same delay
// late, so the two can be blended.
#pragma once

#include "audio/stage/fft.h"

#include <cstdint>
#include <vector>

namespace zarnfilter {

struct time_map;

class phase_vocoder {
public:
    // Frames of channels samples (1 or 2), blocks of B samples (an eighth of
    // a second): the frame size follows the sample rate. Forgets all.
    void set_format(std::int32_t channels, std::int32_t B);

    // Forgets the phases and what was added up: the next render starts
    // afresh at its window, reading what came before it from the last steps.
    void restart() { fresh = true; }
    // As restart, and forgets the input before the window too: a new stream.
    void reset();

    // Writes the c output samples of the step of b input samples at ratio
    // r (map, when given, as in smooth_splicer::cut), playing the input
    // delay samples late. placed: where in the window the splicer's output
    // starts; a fresh start takes its phases from there.
    void render(float* out, const float* window, std::int32_t window_length, std::int32_t b,
                std::int32_t c, double r, const time_map* map, std::int32_t delay,
                std::int32_t placed);

    // The first c samples (at most continuation_length()) that would follow
    // the last render, from the frames added so far.
    void continuation(float* out, std::int32_t c) const;
    std::int32_t continuation_length() const { return fresh ? 0 : n / 2 * channels; }

    // How noise-like the sound at from (a sample of the window) is: the
    // spectral flatness of a frame of the channels' sum, the geometric over
    // the arithmetic mean of its power, near 0 for a few held partials and
    // near 0.6 for noise; 1 for silence.
    double flatness(const float* window, std::int32_t window_length, std::int32_t from);

    // Keeps the end of the step's input, which the next window no longer
    // holds; call after every step, rendered or not.
    void step(const float* window, std::int32_t b);

private:
    struct channel_state {
        std::vector<float> last_re, last_im; // the last analysis frame
        std::vector<float> out_re, out_im;   // and what was made of it
        std::vector<float> sum;              // output being added up
        double last_energy = 0;
    };
    // Analyses the frame starting at input frame at (relative to the
    // window) and adds its synthesis at accumulator frame to.
    void frame(channel_state& s, std::int32_t ch, const float* window, std::int32_t frames,
               std::int32_t at, double hop_in, std::int32_t hop_out, std::int32_t to, bool restart);

    std::int32_t channels = 2;
    std::int32_t n = 0; // frame length in frames
    real_fft fft;
    std::vector<float> hann;
    std::vector<float> history; // the n frames before the window, interleaved
    std::vector<channel_state> state;
    std::vector<float> weight; // sum of squared windows, as the sums
    bool fresh = true;
    std::int32_t next_start = 0; // next synthesis frame, output frames from the block's start
    std::int32_t last_at = 0;    // the last analysis frame's input position, likewise

    std::vector<float> buffer, re, im, power;
    std::vector<std::int32_t> peaks;
};

} // namespace zarnfilter
