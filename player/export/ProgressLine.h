// The progress of one export on the terminal: one line rewritten in place on
// a terminal, plain lines at every tenth (and at the end) otherwise.
#pragma once

#include "player/export/Exporter.h"

#include <cstdio>
#include <string>

namespace exporter {

// "42%  0:03 elapsed  35.1x" (percent left out while the length is unknown).
std::string FormatProgress(const Progress& p);
// "m:ss" or "h:mm:ss".
std::string FormatClock(double seconds);

class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool terminal, std::string name)
        : out_(out), terminal_(terminal), name_(std::move(name)) {}
    void Update(const Progress& p);
    // Ends a rewritten line before anything else is printed.
    void Finish();

private:
    std::FILE* out_;
    bool terminal_;
    std::string name_;
    int lastTenth_ = -1;
    bool open_ = false;
};

} // namespace exporter
