// Test media made with ffmpeg when a test first asks for it, kept in the
// build tree's temporary folder so the test processes of one run share it.
#pragma once

#include <string>

namespace testmedia {

inline constexpr double CLIP_SECONDS = 5.0;

// CLIP_SECONDS of a 440 Hz tone, with 160x120 test-card video at 25 frames a
// second for the video types; in the container the extension names.
std::string Clip(const std::string& extension);
// Ten minutes of MP3, for benchmarks.
std::string TenMinuteMp3();
// Files that are not (whole) media.
std::string NotMedia();
std::string Empty();
std::string TruncatedMp3();

bool HasVideo(const std::string& extension);

} // namespace testmedia
