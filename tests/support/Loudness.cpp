#include "tests/support/Loudness.h"

#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zarntest {

namespace {

void put16(std::ofstream& out, std::uint16_t v) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    out.write(b, 2);
}
void put32(std::ofstream& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

// The number after `label` in the summary, which follows "Summary:".
bool numberAfter(const std::string& text, const std::string& label, double& value) {
    const auto summary = text.rfind("Summary:");
    if (summary == std::string::npos)
        return false;
    auto at = text.find(label, summary);
    if (at == std::string::npos)
        return false;
    at += label.size();
    while (at < text.size() && text[at] == ' ')
        ++at;
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec == std::errc() && end != first)
        return true;
    // A silent file reads "-inf".
    if (text.compare(at, 4, "-inf") == 0) {
        value = -HUGE_VAL;
        return true;
    }
    return false;
}

// The signal makers go through the shell; the test controls every name.
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

bool Run(const std::string& command) {
    int status = 0;
    Output(command + " 2>&1", status);
    return status == 0;
}

} // namespace

std::optional<MeterReading> Meter(const std::string& path, double seconds) {
    LoudnessReading r;
    std::string error;
    if (!MeasureLoudness(path, r, error, seconds))
        return std::nullopt;
    return MeterReading{r.integrated, r.range, r.truePeak};
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
    // A quiet chord with short bursts of the tone on top: loudness from the
    // chord, peaks from the bursts.
    const std::string burst = "if(lt(mod(t\\,0.5)\\,0.01)\\,sin(2*PI*11025*t+PI/4)\\,0)";
    return "aevalsrc='0.15*sin(2*PI*220*t)+0.1*sin(2*PI*330*t)+" + burst +
           "|0.15*sin(2*PI*220*t)+0.1*sin(2*PI*277*t)+" + burst + "':s=44100:d=" +
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

bool WriteWav16(const std::string& path, const std::vector<float>& samples, int channels,
                int rate) {
    std::ofstream out(path, std::ios::binary);
    if (!out)
        return false;
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(out, 36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<std::uint16_t>(channels));
    put32(out, static_cast<std::uint32_t>(rate));
    put32(out, static_cast<std::uint32_t>(rate * channels * 2));
    put16(out, static_cast<std::uint16_t>(channels * 2));
    put16(out, 16);
    out.write("data", 4);
    put32(out, bytes);
    for (float x : samples) {
        const double v = std::clamp(std::round(double(x) * 32767.0), -32768.0, 32767.0);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return static_cast<bool>(out);
}

bool MeasureLoudness(const std::string& path, LoudnessReading& reading, std::string& error,
                     double seconds) {
    const TempDir folder("loudness");
    const std::string out = folder / "out.txt", err = folder / "err.txt";
    std::vector<std::string> argv{"/usr/bin/ffmpeg", "-hide_banner", "-nostats"};
    if (seconds > 0) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%.3f", seconds);
        argv.insert(argv.end(), {"-t", limit});
    }
    argv.insert(argv.end(), {"-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"});
    Program ffmpeg(argv, {}, out, err);
    const int status = ffmpeg.Wait(60);
    const std::string text = ffmpeg.Err();
    if (status != 0) {
        error = "ffmpeg's ebur128 on " + path + " ended with status " + std::to_string(status) +
                ": " + text.substr(text.size() > 400 ? text.size() - 400 : 0);
        return false;
    }
    if (!numberAfter(text, "I:", reading.integrated) || !numberAfter(text, "LRA:", reading.range) ||
        !numberAfter(text, "Peak:", reading.truePeak)) {
        error = "ffmpeg's ebur128 printed no summary for " + path;
        return false;
    }
    return true;
}

} // namespace zarntest
