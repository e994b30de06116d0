// Helpers of the export tests: media made at test time, the export command
// run as a process, and exported files decoded back.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace exporttest {

// Runs sh -c `command`; the exit status (128 + n for signal n).
int Shell(const std::string& command);
std::string Quote(const std::string& s);

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs the export command with `args` (and `env`, "NAME=value" entries); 124
// when it did not end within two minutes.
Result Export(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
std::string CliPath();

// Decoded sound: mono float samples and the tags seen on the way.
struct Decoded {
    bool ok = false;
    std::string error;
    int rate = 0;
    std::vector<float> samples;
    std::map<std::string, std::string> tags; // title, artist
    double Seconds() const { return rate ? static_cast<double>(samples.size()) / rate : 0; }
};
Decoded Decode(const std::string& path);
// The frequency of a steady tone, counted from rising zero crossings
// between `from` and `to` seconds.
double ToneFrequency(const Decoded& d, double from, double to);

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> List(const std::string& dir);

} // namespace exporttest
