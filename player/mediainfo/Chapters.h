// The chapters of an audio book or a podcast, read through libavformat's
// demuxers (QuickTime chapter tracks, Nero chpl lists, ID3v2 CHAP frames,
// Matroska chapters, Ogg CHAPTERxx comments). Only the container's header is
// parsed; a file gets a bounded time; only regular files are read and the
// library opens nothing on its own (no protocols, no referenced files).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct TChapter {
    // In 100 ns units from the file's beginning.
    std::int64_t Start = 0;
    // The chapter's own end, else the next chapter's start, else the file's
    // duration; -1 when none of them is known.
    std::int64_t End = -1;
    std::string Title; // UTF-8; empty when the file names none

    bool operator==(const TChapter&) const = default;
};

// A file keeps at most this many chapters (the first ones by start), each
// title at most this many bytes: enough for any book, and a menu stays quick.
inline constexpr std::size_t MaxChapters = 1000;
inline constexpr std::size_t MaxChapterTitle = 256;

// Sorted by start. No value when the file could not be read (not a regular
// file, not a container the reader takes, damaged, out of time); an empty
// list when it was read and has no chapters. Never throws.
using TChapterList = std::optional<std::vector<TChapter>>;

inline constexpr std::chrono::milliseconds ChaptersTimeOut{2000};

TChapterList ReadChapters(const std::string& fileName,
                          std::chrono::milliseconds timeOut = ChaptersTimeOut);
// What the same header tells beside the chapters: the container's texts
// (UTF-8 as shown) and the duration in 100 ns units (-1 when unknown).
struct TContainerTags {
    std::string Title, Artist, Album;
    std::int64_t Duration = -1;
};

// The same reading from an open descriptor of a regular file (left open);
// tags, when given, receive the container's texts and duration too.
TChapterList ReadChaptersFromFd(int fd, std::chrono::milliseconds timeOut = ChaptersTimeOut,
                                TContainerTags* tags = nullptr);
// The same reading over a file's whole content held in memory.
TChapterList ReadChaptersFromBytes(std::span<const std::uint8_t> content,
                                   std::chrono::milliseconds timeOut = ChaptersTimeOut);
