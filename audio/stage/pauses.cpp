#include "audio/stage/pauses.h"

#include "audio/stage/splice.h"

#include <algorithm>
#include <cmath>

namespace zarnfilter {

namespace {

std::int32_t even(double x) {
    return x > 0 ? static_cast<std::int32_t>(x) & ~1 : 0;
}

double level_db(const float* s, std::int32_t n) {
    double sum = 0;
    for (std::int32_t i = 0; i < n; ++i)
        sum += double(s[i]) * s[i];
    return 10 * std::log10(sum / std::max(n, 1) + 1e-20);
}

} // namespace

void pause_racer::reset() {
    level = -200.0;
    raced = 0;
    raced_out = 0;
    last_speech_end = -(std::int64_t(1) << 40);
}

std::int32_t pause_racer::plan(const float* window, std::int32_t window_length, std::int32_t B,
                               std::int32_t b, double r, time_map& map) {
    map.runs.clear();
    const std::int32_t frame = std::max<std::int32_t>(2, even(B / 12.5));
    const std::int32_t guard = even(B * guard_ms / 125.0);
    const std::int32_t frames = (window_length + frame - 1) / frame;
    frame_db.resize(frames);
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::int32_t at = i * frame;
        frame_db[i] = level_db(window + at, std::min(frame, window_length - at));
    }
    // The level follows the loudest frames at once and forgets slowly; the
    // look-ahead counts too, so the first word sets it before it plays.
    const double decay = decay_db_per_s * 0.01;
    double ahead = level;
    for (std::int32_t i = 0; i < frames; ++i) {
        ahead = std::max(frame_db[i], ahead - decay);
        if ((i + 1) * frame <= b)
            level = ahead;
    }
    const double threshold = std::max(ahead - margin_db, floor_db);

    // A frame is kept when speech lies within the guard either side.
    const std::int32_t block_frames = (b + frame - 1) / frame;
    keep.assign(block_frames, 0);
    std::int64_t last_end = last_speech_end;
    for (std::int32_t i = 0; i < frames; ++i) {
        if (frame_db[i] < threshold)
            continue;
        const std::int32_t start = i * frame, end = std::min(start + frame, window_length);
        for (std::int32_t j = std::max(0, (start - guard) / frame);
             j < block_frames && j * frame < end + guard; ++j)
            keep[j] = 1;
        if (start < b)
            last_end = end;
    }
    for (std::int32_t j = 0; j < block_frames && last_speech_end + guard > j * frame; ++j)
        keep[j] = 1;
    last_speech_end = std::min<std::int64_t>(last_end, b) - b;

    if (std::all_of(keep.begin(), keep.end(), [](char k) { return k != 0; })) {
        raced = 0;
        raced_out = 0;
        map.runs.push_back({b, cut_length(b, r)});
        return map.runs.back().out;
    }
    // Runs of kept frames, and raced frames one by one: the further into a
    // pause, the faster. The output boundaries are rounded from the exact
    // sums so no run's rounding adds up.
    const double ms = B / 125.0;
    double exact = 0;
    std::int32_t out = 0;
    for (std::int32_t j = 0; j < block_frames;) {
        std::int32_t k = j + 1;
        while (keep[j] && k < block_frames && keep[k])
            ++k;
        const std::int32_t in = std::min(k * frame, b) - j * frame;
        if (keep[j]) {
            raced = 0;
            raced_out = 0;
            exact += in * r;
        } else {
            // The pieces at a pause's ends carry a little of the words into
            // it; a lead at the ratio keeps the pause as long as its guards.
            const double falling =
                in * std::min(r, 1.0) * pause_share / (1 + raced / (settle_ms * ms));
            const double played = std::max(falling, std::min(in * r, lead_ms * ms - raced_out));
            exact += played;
            raced += in;
            raced_out += played;
        }
        const std::int32_t end = even(exact);
        map.runs.push_back({in, end - out});
        out = end;
        j = k;
    }
    return out;
}

} // namespace zarnfilter
