// The probe's confinement, taken on once every library is set up and before
// the first byte of any file is parsed: no new privileges, resource limits,
// and a system-call allow-list that leaves reading, decoding and answering
// on the descriptors it already holds.
#pragma once

#include <string>

namespace probe {

// Address space and descriptors the probe may use at most.
inline constexpr unsigned long long AddressSpace = 1ull << 30;
inline constexpr unsigned long long OpenFiles = 64;
// CPU seconds one file may take.
inline constexpr unsigned long long CpuPerFile = 2;

// Empty on success, else what failed; the probe must not go on after a failure.
std::string Confine();
// Gives the next file seconds of CPU from now (SIGXCPU ends the probe
// after them).
void LimitCpuForNextFile(unsigned long long seconds = CpuPerFile);

} // namespace probe
