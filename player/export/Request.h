// What an export was asked to do: the command line after --export, with the
// rate and switches the player has stored as defaults, and the plan of which
// input goes to which output file under the rules that protect the user's
// files (inputs are never overwritten, an existing output needs --force).
#pragma once

#include "player/export/Formats.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace exporter {

// The rate of one of the list's texts, given as text ("2", "2.0"); nullopt
// for anything else.
std::optional<double> ParseRate(const std::string& text);

struct Defaults {
    double rate = 1.0;
    bool skipSilence = false;
    bool smooth = false;
    // The loudness target in LUFS; nothing when levelling is off.
    std::optional<int> level = -16;
};
// The stored rate ("player"/"rate", "1.0" when not one of the list's texts)
// and the stored switches ("option"/"skip-slient", "option"/"smooth-splices",
// "option"/"level-loudness" with "option"/"loudness-target").
Defaults StoredDefaults();

struct Request {
    std::string out;
    double rate = 1.0;
    bool skipSilence = false;
    bool smooth = false;
    bool force = false;
    std::optional<int> level = -16; // LUFS; nothing: the level is left alone
    std::vector<std::string> inputs;

    // The renderer's flag bits for the switches.
    std::int32_t Flags() const;
};

// Parses the arguments that follow the program name (--export anywhere
// before them, options and inputs in any order, "--" ends the options).
// On failure returns nullopt and sets `error` to one line.
// --level takes "off", "on" (the stored target, else the default) or a
// target in whole LUFS from MinTarget to MaxTarget.
inline constexpr int MinTarget = -40;
inline constexpr int MaxTarget = -5;
std::optional<Request> ParseRequest(const std::vector<std::string>& args, const Defaults& defaults,
                                    std::string& error);
const char* Usage();

struct Job {
    std::string input;
    std::string output; // empty when `error` says why the input is skipped
    std::optional<Format> format;
    std::string error;
    bool replace = false; // --force: an output that exists is replaced
};

// One job per input, in order. With one input OUT is the file to write
// (unless it is an existing folder or ends in '/'); with several OUT is a folder, created
// when missing, and each output keeps its input's name, its extension too
// when that is an export format, else ".wav" in its place. A request that
// cannot start at all (OUT unusable) returns no jobs and sets `error`.
std::vector<Job> PlanJobs(const Request& request, std::string& error);

} // namespace exporter
