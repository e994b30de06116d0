#include "player/export/Request.h"

#include "audio/filter/IZarnRate.h"
#include "platform/numbers.h"
#include "player/config/Option.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/loudness/Figure.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace exporter {

std::optional<double> ParseRate(const std::string& text) {
    const std::optional<double> parsed = numbers::ParseDouble(text);
    if (!parsed)
        return std::nullopt;
    const int index = rates::IndexOfValue(*parsed);
    if (index < 0)
        return std::nullopt;
    return rates::Value(index);
}

Defaults StoredDefaults() {
    Defaults d;
    // The player's own rule: a stored text not in the list plays at 1.0.
    d.rate = ParseRate(SettingsStore().ReadString("player", "rate", "1.0")).value_or(1.0);
    TOptions options;
    options.Load();
    d.skipSilence = options.SkipSilent != 0;
    d.smooth = options.SmoothSplices != 0;
    d.level =
        options.LevelLoudness != 0 ? std::optional<int>(options.LoudnessTarget) : std::nullopt;
    return d;
}

std::int32_t Request::Flags() const {
    return (skipSilence ? ZARN_FLAG_SKIP_SILENCE : 0) | (smooth ? ZARN_FLAG_SMOOTH : 0);
}

const char* Usage() {
    return "usage: zarnplayer --export OUT [--rate R] [--skip-silence] [--smooth|--plain] "
           "[--level off|LUFS] [--force] IN [IN...]";
}

std::optional<Request> ParseRequest(const std::vector<std::string>& args, const Defaults& defaults,
                                    std::string& error) {
    Request r;
    r.rate = defaults.rate;
    r.skipSilence = defaults.skipSilence;
    r.smooth = defaults.smooth;
    r.level = defaults.level;
    bool haveOut = false;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // The value of an option, given as "--name=value" or as the next argument.
        auto value = [&](const char* name, std::string& out) {
            const std::string prefix = std::string(name) + "=";
            if (a.rfind(prefix, 0) == 0) {
                out = a.substr(prefix.size());
                return true;
            }
            if (a != name)
                return false;
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return true;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            r.inputs.push_back(a);
        } else if (a == "--") {
            options = false;
        } else if (value("--export", v)) {
            if (!error.empty())
                return std::nullopt;
            if (haveOut) {
                error = "--export is given twice";
                return std::nullopt;
            }
            r.out = v;
            haveOut = true;
        } else if (value("--rate", v)) {
            if (!error.empty())
                return std::nullopt;
            auto rate = ParseRate(v);
            if (!rate) {
                error = "--rate " + v +
                        " is not one of the player's rates (1.0 to 2.0 in steps "
                        "of 0.1, 2.2 to 3.0 in steps of 0.2, 3.5, 4.0)";
                return std::nullopt;
            }
            r.rate = *rate;
        } else if (value("--level", v)) {
            if (!error.empty())
                return std::nullopt;
            int target = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), target);
            if (v == "off") {
                r.level.reset();
            } else if (v == "on") {
                r.level = defaults.level.value_or(loudness::DefaultTarget);
            } else if (ec == std::errc() && end == v.data() + v.size() && target >= MinTarget &&
                       target <= MaxTarget) {
                r.level = target;
            } else {
                error = "--level " + v + " is neither off, on nor a target from " +
                        std::to_string(MinTarget) + " to " + std::to_string(MaxTarget) + " LUFS";
                return std::nullopt;
            }
        } else if (a == "--skip-silence") {
            r.skipSilence = true;
        } else if (a == "--smooth") {
            r.smooth = true;
        } else if (a == "--plain") {
            r.smooth = false;
        } else if (a == "--force") {
            r.force = true;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }
    if (!haveOut || r.out.empty()) {
        error = "--export needs the output file or folder";
        return std::nullopt;
    }
    if (r.inputs.empty()) {
        error = "no input files";
        return std::nullopt;
    }
    return r;
}

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Where a path leads, for telling two outputs of one run apart.
std::string Key(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

} // namespace

std::vector<Job> PlanJobs(const Request& request, std::string& error) {
    std::vector<Job> jobs;
    const bool folder =
        request.inputs.size() > 1 || IsDirectory(request.out) || request.out.back() == '/';
    if (folder) {
        if (Exists(request.out) && !IsDirectory(request.out)) {
            error = request.out + ": with several inputs the output must be a folder";
            return {};
        }
        std::error_code ec;
        if (!Exists(request.out) && !fs::create_directories(request.out, ec)) {
            error = request.out + ": cannot create the folder: " + ec.message();
            return {};
        }
    }

    std::set<std::string> taken;
    for (const std::string& in : request.inputs) {
        Job job;
        job.input = in;
        job.replace = request.force;
        std::string out = request.out;
        if (folder) {
            fs::path name = fs::path(in).filename();
            if (!FindFormat(name.extension().string()))
                name.replace_extension(".wav");
            out = (fs::path(request.out) / name).string();
        }
        const std::string ext = fs::path(out).extension().string();
        job.format = FindFormat(ext);
        bool isInput = false;
        if (Exists(out))
            for (const std::string& other : request.inputs)
                isInput = isInput || SameFile(out, other);
        if (isInput)
            job.error = out + " is an input; inputs are never overwritten";
        else if (!job.format)
            job.error = out + ": " + (ext.empty() ? std::string("no extension") : ext) +
                        " is not an export format (" + FormatList() + ")";
        else if (IsDirectory(out))
            job.error = out + " is a folder";
        else if (Exists(out) && !request.force)
            job.error = out + " exists; --force replaces it";
        else if (!taken.insert(Key(out)).second)
            job.error = out + " is written by an earlier input of this export";
        else
            job.output = out;
        jobs.push_back(std::move(job));
    }
    return jobs;
}

} // namespace exporter
