#include "tests/support/Loudness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace zarntest {

namespace {

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Output(const std::string& command, int& status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    status = ::pclose(p);
    return out;
}

// The number after label in the summary part of text.
std::optional<double> After(const std::string& text, const std::string& label) {
    const std::size_t summary = text.rfind("Summary:");
    if (summary == std::string::npos)
        return std::nullopt;
    const std::size_t at = text.find(label, summary);
    if (at == std::string::npos)
        return std::nullopt;
    const char* start = text.c_str() + at + label.size();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start)
        return std::nullopt;
    return value;
}

bool Run(const std::string& command) {
    int status = 0;
    Output(command + " 2>&1", status);
    return status == 0;
}

} // namespace

std::optional<MeterReading> Meter(const std::string& path, double seconds) {
    int status = 0;
    char limit[64] = "";
    if (seconds > 0)
        std::snprintf(limit, sizeof limit, "-t %.3f ", seconds);
    const std::string text =
        Output("ffmpeg -nostdin -hide_banner -nostats " + std::string(limit) + "-i " +
                   Quoted(path) + " -af ebur128=peak=true -f null - 2>&1",
               status);
    const auto i = After(text, "I:"), lra = After(text, "LRA:"), peak = After(text, "Peak:");
    if (status != 0 || !i || !lra || !peak)
        return std::nullopt;
    return MeterReading{*i, *lra, *peak};
}

std::string SpeechLike(double seconds) {
    // Pink noise through a voice-band filter, opened and closed at syllable
    // rate with a pause every couple of seconds.
    return "anoisesrc=c=pink:r=44100:d=" + std::to_string(seconds) +
           ",bandpass=f=700:w=1200,volume='if(lt(mod(t,2.3),1.9),0.25+0.75*abs(sin(2*PI*3.5*t)),"
           "0.02)':eval=frame,aformat=channel_layouts=stereo";
}

std::string MusicLike(double seconds) {
    return "aevalsrc='0.3*sin(2*PI*(220+110*floor(mod(t,4)))*t)+0.2*sin(2*PI*330*t)+"
           "0.15*sin(2*PI*440*t)*(0.5+0.5*sin(2*PI*2*t))|0.3*sin(2*PI*(220+55*floor(mod(t,4)))*t)"
           "+0.2*sin(2*PI*277*t)':s=44100:d=" +
           std::to_string(seconds);
}

std::string LoudAndSoft(double seconds) {
    return SpeechLike(seconds) + ",volume='if(lt(mod(t,20),10),1,0.178)':eval=frame";
}

std::string InterSamplePeaks(double seconds) {
    return "aevalsrc='sin(2*PI*11025*t+PI/4)|sin(2*PI*11025*t+PI/4)':s=44100:d=" +
           std::to_string(seconds);
}

std::string MakeAtLoudness(const std::string& graph, double lufs, const std::string& path,
                           const std::vector<std::string>& outputArgs) {
    const std::string raw = path + ".raw.wav";
    if (!Run("ffmpeg -nostdin -v error -y -f lavfi -i " + Quoted(graph) + " -c:a pcm_f32le " +
             Quoted(raw)))
        return {};
    const auto before = Meter(raw);
    std::string args;
    for (const std::string& a : outputArgs)
        args += " " + Quoted(a);
    bool made = false;
    if (before) {
        double gain = lufs - before->Integrated;
        // Lossy formats move the level a little: a second pass corrects it.
        for (int pass = 0; pass < 2 && !made; ++pass) {
            char volume[64];
            std::snprintf(volume, sizeof volume, "volume=%.3fdB", gain);
            if (!Run("ffmpeg -nostdin -v error -y -i " + Quoted(raw) + " -af " + volume + args +
                     " " + Quoted(path)))
                break;
            const auto after = Meter(path);
            if (!after)
                break;
            made = std::fabs(after->Integrated - lufs) <= 0.2;
            gain += lufs - after->Integrated;
        }
    }
    std::error_code ec;
    std::filesystem::remove(raw, ec);
    if (!made)
        std::filesystem::remove(path, ec);
    return made ? path : std::string();
}

} // namespace zarntest
