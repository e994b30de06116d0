// Title, artist and duration from the tags today's files carry (ID3v2,
// Vorbis comments, MP4 and ASF metadata, and whatever else the installed
// demuxers understand), read through GStreamer for the files the ID3v1 and
// RIFF INFO readers find no title in. Only the container is parsed, nothing
// is decoded, and one file gets a bounded time.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

typedef struct _GstTagList GstTagList;

class TGSTTAGS {
public:
    static constexpr std::chrono::milliseconds DefaultTimeOut{2000};

    // Reads the file; never fails. Anything but a regular file is left
    // alone: opening a pipe or a device would block or consume it.
    explicit TGSTTAGS(const std::string& fileName,
                      std::chrono::milliseconds timeOut = DefaultTimeOut);
    // The same reading over a file's whole content held in memory.
    static TGSTTAGS FromBytes(std::span<const std::uint8_t> content,
                              std::chrono::milliseconds timeOut = DefaultTimeOut);

    // The same reading from an open descriptor of a regular file (left open).
    static TGSTTAGS FromFd(int fd, std::chrono::milliseconds timeOut = DefaultTimeOut);

    // Takes title, artist and album from one tag list where they are still empty.
    // Tag lists hold only UTF-8: GStreamer refuses any other string.
    void Take(const GstTagList* tags);

    // The container was recognised and parsed to its streams.
    bool Found = false;
    // The reading gave up after the time-out.
    bool TimedOut = false;
    std::string Title; // UTF-8
    std::string Artist;
    std::string Album;
    // In 100 ns units; -1 when the file does not tell.
    std::int64_t Duration = -1;

private:
    TGSTTAGS() = default;
    void Read(const std::string& fileName, std::chrono::milliseconds timeOut);
};

// "m:ss" below an hour, "h:mm:ss" from an hour on; empty when unknown.
std::string DurationText(std::int64_t duration);
