// What the probe tells about one file, and the bytes that carry it from the
// probe to the player. The player takes those bytes as untrusted input: the
// parser accepts only a whole, well-formed message of this version within
// the size limits, with valid UTF-8 texts and chapters in order.
#pragma once

#include "player/loudness/Figure.h"
#include "player/mediainfo/Chapters.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct TProbeAnswer {
    // The tags gave a title (or an INFO list that decides both texts):
    // Title and Artist replace what the entry shows.
    bool Texts = false;
    std::string Title; // UTF-8, as shown
    std::string Artist;
    std::string Album;
    // In 100 ns units; -1 when unknown.
    std::int64_t Duration = -1;
    std::vector<TChapter> Chapters;

    bool operator==(const TProbeAnswer&) const = default;
};

// What the probe measured of one file: a figure, or why there is none.
struct TProbeLoudness {
    std::optional<TLoudnessFigure> Figure;
    std::string Failure;

    bool operator==(const TProbeLoudness&) const = default;
};

namespace probeanswer {

inline constexpr std::uint8_t Version = 1;
// Magic (3 bytes), version (1), body length (4, little endian).
inline constexpr std::size_t HeaderSize = 8;
inline constexpr std::size_t MaxText = 1024;
// The largest message: every text and every chapter at its limit.
inline constexpr std::size_t MaxSize =
    HeaderSize + 1 + 3 * (2 + MaxText) + 8 + 4 + MaxChapters * (8 + 8 + 2 + MaxChapterTitle);

// The message for an answer; texts and titles longer than the limits are cut
// at a character boundary, chapters beyond MaxChapters dropped.
std::vector<std::uint8_t> Encode(const TProbeAnswer& answer);
// The body length a header announces, or nothing when the header is not one
// of this version or announces more than MaxSize.
std::optional<std::size_t> BodySize(std::span<const std::uint8_t, HeaderSize> header);
// The answer in a whole message (header and body), or nothing.
std::optional<TProbeAnswer> Parse(std::span<const std::uint8_t> message);

// The answer to a measurement: its own magic and version, the figures in
// hundredths (loudness and peak) and milliseconds (seconds measured). A
// figure is plausible loudness with no failure text; no figure has a
// failure text and every number zero.
inline constexpr std::uint8_t LoudnessVersion = 1;
inline constexpr std::size_t MaxLoudnessSize = HeaderSize + 1 + 1 + 4 + 4 + 8 + 1 + 2 + MaxText;
// The figure as the message carries it: the numbers rounded as Encode does.
std::vector<std::uint8_t> EncodeLoudness(const TProbeLoudness& answer);
std::optional<std::size_t> LoudnessBodySize(std::span<const std::uint8_t, HeaderSize> header);
std::optional<TProbeLoudness> ParseLoudness(std::span<const std::uint8_t> message);

} // namespace probeanswer
