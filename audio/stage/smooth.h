// Smooth splices (flags bit 2): the same block step as the plain cut (b
// input samples in, c samples out, the same times), but the output is made
// of pieces of input, each placed where it best continues what was heard
// (normalised cross-correlation, coarse then fine) and faded in across its
// whole length over the continuation of the piece before, with weights from
// 0 to 1 that sum to 1. Speech gets short pieces, which keep the stretches
// that are dropped (or repeated) short so the envelope follows the input;
// steady, harmonic sound gets long pieces and a wide search, whose slow
// fades leave nothing above the signal's band and keep chords in tune.
//
// Every duration is a fraction of the block length B, one eighth of a
// second counting all channels, so it holds for any sample rate and for
// mono and stereo alike. Offsets are always even: stereo pairs stay pairs
// (and mono is placed to two samples).
#pragma once

#include "audio/stage/vocoder.h"

#include <cstdint>
#include <vector>

namespace zarnfilter {

inline constexpr std::int32_t flag_smooth_splices = 4;

// Where a block's output comes from: consecutive runs of the block's input,
// each played at its own ratio (in, out: samples, both even). One run of b
// in and c out is the block at one ratio.
struct time_map {
    struct run {
        std::int32_t in, out;
    };
    std::vector<run> runs;

    // The input position of output position o.
    double input_at(std::int32_t o) const;
};

class smooth_splicer {
public:
    // Forgets what was heard: the next block starts at its window's start,
    // which continues whatever the plain cut played last.
    void reset();

    // Samples a frame: 1 or 2 (anything else counts as 2). Fades give every
    // sample of a frame one weight, so channels stay in step.
    void set_channels(std::int32_t n);

    // Writes c output samples for the step of b input samples at ratio r.
    // window holds window_length samples (the block and what follows it;
    // samples past the input's end are silence). map, when given, says which
    // input each stretch of the output plays; otherwise all at ratio r.
    // ends_at, when not negative, is where the stream's sound ends in the
    // window: the block's last piece then plays up to it, so the output ends
    // as the input does instead of stopping in the middle of a piece.
    void cut(float* out, const float* window, std::int32_t window_length, std::int32_t B,
             std::int32_t b, std::int32_t c, double r, const time_map* map = nullptr,
             std::int32_t ends_at = -1);

    // Fades what would have followed the last piece into the first n
    // samples of out, so that a switch to the plain cut does not click, and
    // forgets it.
    void hand_over(float* out, std::int32_t n);

    // Durations in milliseconds: pieces and search for speech-like sound,
    // and for steady, harmonic sound. Each block takes a mix of the two by
    // how steady the recent sound was (see steadiness).
    static constexpr double speech_piece_ms = 11.0;
    static constexpr double speech_search_ms = 7.5;
    static constexpr double steady_piece_ms = 40.0;
    static constexpr double steady_input_ms = 45.0;  // at most between piece starts
    static constexpr double steady_search_ms = 16.0; // plus the next times the ratio (to 1)
    static constexpr double steady_search_per_ratio_ms = 8.0;
    static constexpr double look_back_ms = 12.0;    // how far the search may look back
    static constexpr double coarse_step_ms = 0.125; // the fine pass looks at every pair
    // Sound at least this steady plays through the phase vocoder, the rest
    // through the splicer: a mix of the two, which place the input a little
    // differently, would beat.
    static constexpr double vocoder_from = 0.4;
    // Its spectrum must be less flat than this too (phase_vocoder::flatness):
    // babble, breath and gliding voices (a few hundredths and up) come out
    // dull through the vocoder; held partials lie far below.
    static constexpr double vocoder_flatness_below = 0.01;
    // Both for this many blocks in a row (a second): a word's held vowel
    // does not last that long.
    static constexpr int vocoder_after_blocks = 8;
    // Once in, music stays with the vocoder (however its level moves) until
    // its spectrum is this flat.
    static constexpr double vocoder_leaves_at_flatness = 0.05;
    // Above this rate the vocoder's frames span more input than the
    // envelope of music can spare, and the splicer follows it better.
    static constexpr double vocoder_up_to = 3.5;

    // 0 for sound that comes and goes like speech, 1 for held, steady sound;
    // follows the sound over about half a second.
    double steadiness() const { return steady; }

private:
    void follow_character(const float* window, std::int32_t B, std::int32_t b);
    std::int32_t search(const float* window, std::int32_t nominal, std::int32_t low,
                        std::int32_t high, std::int32_t length, std::int32_t step);
    // Fade weights for a fade of n samples, one a frame.
    const float* weights(std::int32_t n);

    // Steady, harmonic sound plays through the phase vocoder; blend is its
    // share (0 or 1) at the end of the last block, and the share moves
    // linearly to the next block's over the block.
    void blend_vocoder(float* out, const float* window, std::int32_t window_length, std::int32_t B,
                       std::int32_t b, std::int32_t c, double r, const time_map* map,
                       std::int32_t ends_at, std::int32_t delay);

    // Whether the block's input is made of held partials: its spectrum
    // less flat than below.
    bool tonal(const float* window, std::int32_t window_length, std::int32_t b, std::int32_t delay,
               double below);

    std::int32_t channels = 2;
    phase_vocoder vocoder;
    std::int32_t vocoder_block = -1; // the block length the vocoder is set up for
    std::int32_t vocoder_channels = -1;
    double blend = 0;
    int steady_blocks = 0;         // blocks in a row that could take the vocoder
    std::int32_t first_placed = 0; // where the block's first piece came from
    std::vector<float> sung;
    bool have_continuation = false;
    // The samples that would have followed the last piece, and where they
    // lie in the window (negative once the window has moved past them).
    std::vector<float> continuation;
    std::int32_t continuation_length = 0;
    std::int32_t natural = -1;

    // The character of the sound: the mean change of 10 ms frame levels
    // (dB), and the last frame's level.
    double mean_change = 3.0;
    double last_level = -200.0;
    double steady = 0.0;

    std::vector<double> energy; // running sums of squares over the search area
    struct fade_table {
        std::int32_t frames = -1;
        std::vector<float> weights;
    };
    fade_table fades[2];
    int next_fade = 0;
};

} // namespace zarnfilter
