// What the tempo tests share: the output blocks as a test keeps them, and a
// fixed programme of two streams whose output is pinned by checksums, so
// that any change to the samples or times the stage makes shows.
#pragma once

#include "audio/stage/analysis.h"
#include "audio/stage/smooth.h"
#include "audio/stage/splice.h"
#include "audio/stage/tempo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

struct output_block {
    std::vector<float> samples;
    std::int64_t start, stop;
};

// Runs the tempo core the way the stage does, without its thread: blocks
// fed one by one, every output block kept, settings changed between blocks.
class core_run {
public:
    explicit core_run(double ratio, std::int32_t block_length, std::int32_t flags = 0,
                      std::int32_t channels = 2)
        : core(block_length, channels), settings{ratio, flags} {}

    // Feeds samples[from, to) as one block; sample i lasts from origin +
    // i × tick to origin + (i + 1) × tick.
    void send(const std::vector<float>& samples, std::size_t from, std::size_t to,
              std::int64_t tick, std::int64_t origin = 0) {
        feed(samples.data() + from, static_cast<std::int32_t>(to - from),
             origin + std::int64_t(from) * tick, origin + std::int64_t(to) * tick);
    }

    // Feeds one block and cuts all it completes.
    void feed(const float* samples, std::int32_t n, std::int64_t start, std::int64_t stop) {
        EXPECT_TRUE(core.feed(samples, n, start, stop));
        take();
    }

    // Ends the stream, keeps the play-out and starts the next stream.
    bool finish() {
        core.end();
        take();
        ++end_marks;
        core.start(core.block_length(), core.channels());
        return true;
    }

    zarnfilter::tempo_core core;
    zarnfilter::tempo_settings settings;
    std::vector<output_block> blocks;
    int end_marks = 0;

private:
    void take() {
        zarnfilter::tempo_block out;
        while (core.next(settings, out))
            blocks.push_back({out.samples, out.start_time, out.stop_time});
    }
};

// Sends samples in packets of the given sizes, cycling through them.
template <typename Run>
void send_in_pieces(Run& run, const std::vector<float>& s, const std::vector<int>& sizes,
                    std::int64_t tick, std::int64_t origin = 0) {
    std::size_t at = 0;
    for (std::size_t k = 0; at < s.size(); ++k) {
        const std::size_t n = std::min<std::size_t>(sizes[k % sizes.size()], s.size() - at);
        run.send(s, at, at + n, tick, origin);
        at += n;
    }
}

// Uniform noise in [-0.5, 0.5), the same for the same seed.
inline std::vector<float> noise(std::size_t n, unsigned seed = 1) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> v(n);
    for (auto& s : v)
        s = d(gen);
    return v;
}

inline std::vector<float> joined(const std::vector<output_block>& blocks,
                                 std::size_t count = SIZE_MAX) {
    std::vector<float> all;
    for (std::size_t k = 0; k < std::min(count, blocks.size()); ++k)
        all.insert(all.end(), blocks[k].samples.begin(), blocks[k].samples.end());
    return all;
}

// FNV-1a over every block's length, times and sample bits, in order.
inline std::uint64_t checksum(const std::vector<output_block>& blocks) {
    std::uint64_t h = 14695981039346656037ull;
    const auto add = [&](const void* p, std::size_t n) {
        const auto* bytes = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i)
            h = (h ^ bytes[i]) * 1099511628211ull;
    };
    for (const auto& b : blocks) {
        const std::uint64_t n = b.samples.size();
        add(&n, sizeof n);
        add(&b.start, sizeof b.start);
        add(&b.stop, sizeof b.stop);
        for (float s : b.samples) {
            std::uint32_t bits;
            std::memcpy(&bits, &s, sizeof bits);
            add(&bits, sizeof bits);
        }
    }
    return h;
}

// Talk at 22.05 kHz stereo from an integer generator (the same on every
// library): buzzing words of changing loudness between pauses with a faint
// floor, 2.5 s in all.
inline std::vector<float> golden_input() {
    std::uint32_t state = 20240611u;
    const auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / float(1u << 24) - 0.5f;
    };
    const int frames = 22050 * 5 / 2;
    std::vector<float> v(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const int ms = i * 1000 / 22050;
        const bool pause = (ms % 700) >= 450 || (ms >= 1500 && ms < 2100);
        const float level = pause ? 0.0005f : 0.05f + 0.3f * float(ms % 450) / 450.0f;
        // A sawtooth of about 140 Hz under the noise gives the smooth
        // splices something to match.
        const float saw = float(i % 157) / 157.0f - 0.5f;
        const float x = level * (saw + 0.5f * next());
        v[2 * i] = x;
        v[2 * i + 1] = 0.7f * x + 0.01f * next();
    }
    return v;
}

// The stream boundary of the programme: the first stream is this many
// samples, the second the rest; sample i lasts from golden_origin + i ×
// golden_tick onwards, and the samples arrive in packets of the sizes below
// (cycled; empty ones included).
constexpr std::size_t golden_split = 2 * 22050 * 3 / 2 + 2 * 317;
constexpr std::int64_t golden_tick = 227;
constexpr std::int64_t golden_origin = 123456789;
inline const std::vector<int> golden_packets = {1000, 0, 4097, 3, 2205, 777};
constexpr std::int32_t golden_block = 2 * 22050 / 8;

// Ratio of the first stream, of the second, the flags of both, and the
// checksum of the blocks of both streams together.
struct golden_case {
    double first, second;
    std::int32_t flags;
    std::uint64_t sum;
};

inline const std::vector<golden_case> golden_cases = {
    {0.5, 0.25, 0, 0x92dd00ad793144caull},
    {1.0 / 1.5, 2.0, 0, 0xc074433122010639ull},
    {1.0, 0.5, zarnfilter::flag_skip_silence, 0xe4e0e200f5f94226ull},
    {0.5, 1.0 / 3.0, zarnfilter::flag_skip_silence | zarnfilter::flag_adapt_similarity,
     0xcf08c18f2e368f6full},
    {0.5, 0.25, zarnfilter::flag_smooth_splices, 0xb860595b91b885f1ull},
    {2.0, 1.0 / 1.5, zarnfilter::flag_smooth_splices, 0xb930cf899cdea4beull},
    {0.25, 0.5, zarnfilter::flag_smooth_splices | zarnfilter::flag_skip_silence,
     0x2bb2fad66df2f3f1ull},
    {0.5, 1.0,
     zarnfilter::flag_smooth_splices | zarnfilter::flag_skip_silence |
         zarnfilter::flag_adapt_similarity,
     0x7055b4327068427cull},
    {1.0, 2.0, zarnfilter::flag_smooth_splices | zarnfilter::flag_skip_silence,
     0x7fe710c836318daaull},
};

// Plays the programme of case g into run (a stage_run or a core_run):
// set_ratio gives the second stream its ratio once the first has ended.
template <typename Run, typename SetRatio>
void play_golden(Run& run, const golden_case& g, SetRatio set_ratio) {
    static const auto input = golden_input();
    const std::vector<float> first(input.begin(), input.begin() + golden_split);
    send_in_pieces(run, first, golden_packets, golden_tick, golden_origin);
    ASSERT_TRUE(run.finish());
    set_ratio(g.second);
    // The second stream goes on in time where the first left off.
    const std::vector<float> second(input.begin() + golden_split, input.end());
    send_in_pieces(run, second, golden_packets, golden_tick,
                   golden_origin + std::int64_t(golden_split) * golden_tick);
    ASSERT_TRUE(run.finish());
}
