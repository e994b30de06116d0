// The length of a file whose container states none (an elementary video
// stream), found by parsing it through to its end.
#pragma once

#include <cstdint>
#include <string>

// 100 ns units; 0 when the file cannot be parsed within timeoutMs.
std::int64_t ScanDuration(const std::string& path, unsigned timeoutMs);
