// How the player and the probe talk over the stream socket the probe
// inherits as descriptor 3: once confined the probe says Hello; then each
// request is a 2-byte little-endian name length and the name (for the
// crash hook and messages only), with the open file's descriptor attached;
// each answer is one message of probeanswer (Answer.h).
#pragma once

#include <cstddef>

namespace probe {

inline constexpr int SocketFd = 3;
inline constexpr char Hello[4] = {'Z', 'P', 'R', '1'};
inline constexpr std::size_t MaxName = 4096;
// Names the file (its last path component) the probe crashes on with a
// real SIGSEGV, for the tests of the player's containment.
inline constexpr const char* CrashOnEnv = "ZARNPLAYER_PROBE_CRASH_ON";

} // namespace probe
