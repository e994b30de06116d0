#include "player/export/ProgressLine.h"

#include "platform/numbers.h"

#include <cmath>

namespace exporter {

std::string FormatClock(double seconds) {
    const auto s = static_cast<long>(seconds < 0 ? 0 : seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string FormatProgress(const Progress& p) {
    std::string line;
    char text[64];
    if (p.fraction >= 0) {
        std::snprintf(text, sizeof text, "%3d%%  ", static_cast<int>(std::floor(p.fraction * 100)));
        line += text;
    }
    line += FormatClock(p.elapsed) + " elapsed";
    if (p.elapsed > 0 && p.inputSeconds > 0) {
        line += "  " + numbers::FormatFixed(p.inputSeconds / p.elapsed, 1) + "x real time";
    }
    if (p.done)
        line +=
            "  (" + FormatClock(p.inputSeconds) + " in, " + FormatClock(p.outputSeconds) + " out)";
    return line;
}

void ProgressLine::Update(const Progress& p) {
    if (terminal_) {
        // \033[K clears what a longer earlier line left behind.
        std::fprintf(out_, "\r%s: %s\033[K", name_.c_str(), FormatProgress(p).c_str());
        open_ = true;
        if (p.done)
            Finish();
        std::fflush(out_);
        return;
    }
    const int tenth = p.fraction >= 0 ? static_cast<int>(p.fraction * 10) : lastTenth_;
    if (!p.done && tenth <= lastTenth_)
        return;
    lastTenth_ = tenth;
    std::fprintf(out_, "%s: %s\n", name_.c_str(), FormatProgress(p).c_str());
    std::fflush(out_);
}

void ProgressLine::Finish() {
    if (open_)
        std::fputc('\n', out_);
    open_ = false;
    std::fflush(out_);
}

} // namespace exporter
