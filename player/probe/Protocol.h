// How the player and the probe talk over the stream socket the probe
// inherits as descriptor 3: once confined the probe says Hello; then each
// request is its kind (1 byte, carrying the open file's descriptor), a
// 2-byte little-endian name length and the name (for the crash hook and
// messages only). A measurement adds the seconds to measure (4 bytes, 0
// for the whole file), the CPU seconds it may take (4 bytes) and whether
// to find the true peak (1 byte). Each answer is one message of
// probeanswer (Answer.h): a reading's or a measurement's.
#pragma once

#include <cstddef>

namespace probe {

inline constexpr int SocketFd = 3;
inline constexpr char Hello[4] = {'Z', 'P', 'R', '2'};
inline constexpr std::size_t MaxName = 4096;
enum class Kind : unsigned char { Read = 1, Measure = 2 };
// The most CPU a measurement may be given: a day's book takes far less.
inline constexpr unsigned MaxMeasureCpu = 3600;
// Names the file (its last path component) the probe crashes on with a
// real SIGSEGV, for the tests of the player's containment.
inline constexpr const char* CrashOnEnv = "ZARNPLAYER_PROBE_CRASH_ON";

} // namespace probe
