#include "player/export/ExportMain.h"

#include "player/config/Tool.h"
#include "player/export/Exporter.h"
#include "player/export/ProgressLine.h"
#include "player/export/Request.h"
#include "player/loudness/Cache.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace exporter {

namespace {

std::atomic<int> caught{0};

// The first signal stops cleanly. A second Ctrl+C, for an export that
// cannot stop, ends the process at once; a hang-up comes twice when a
// terminal closes (from the kernel and from the shell) and must not.
void OnSignal(int sig) {
    int none = 0;
    const bool first = caught.compare_exchange_strong(none, sig);
    Interrupted() = true;
    if (!first && sig == SIGINT)
        _exit(128 + sig);
}

void Fail(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "zarnplayer: %s: %s\n", what.c_str(), reason.c_str());
}

} // namespace

bool IsExportCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--export") == 0 || std::strncmp(argv[i], "--export=", 9) == 0)
            return true;
    }
    return false;
}

int ExportMain(int argc, char** argv) {
    std::string error;
    auto request =
        ParseRequest(std::vector<std::string>(argv + 1, argv + argc), StoredDefaults(), error);
    if (!request) {
        std::fprintf(stderr, "zarnplayer: %s\n%s\n", error.c_str(), Usage());
        return 2;
    }
    std::vector<Job> jobs = PlanJobs(*request, error);
    if (jobs.empty()) {
        std::fprintf(stderr, "zarnplayer: %s\n", error.c_str());
        return 2;
    }

    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // A progress line into a pipe whose reader has gone must not end the
    // export before it cleans up.
    signal(SIGPIPE, SIG_IGN);

    Exporter exporter;
    if (!exporter.Init(error)) {
        std::fprintf(stderr, "zarnplayer: %s\n", error.c_str());
        return 2;
    }
    // The player's figures: a file it measured is not measured again.
    const std::string& settings = SettingsStore().FileName();
    TLoudnessCache loudness(settings.substr(0, settings.rfind('/') + 1) + "loudness.txt");
    if (request->level)
        if (const std::string why = loudness.Load(); !why.empty())
            std::fprintf(stderr, "zarnplayer: the loudness figures cannot be read: %s\n",
                         why.c_str());
    exporter.SetLevel(request->level, &loudness);
    const bool terminal = isatty(fileno(stdout));
    int failed = 0;
    for (const Job& job : jobs) {
        if (Interrupted())
            break;
        if (!job.error.empty()) {
            Fail(job.input, job.error);
            ++failed;
            continue;
        }
        ProgressLine line(stdout, terminal, job.input + " -> " + job.output);
        const std::string reason = exporter.Run(job, request->rate, request->Flags(),
                                                [&line](const Progress& p) { line.Update(p); });
        line.Finish();
        if (!reason.empty()) {
            Fail(job.input, reason);
            ++failed;
        } else if (!exporter.LevelNote().empty()) {
            Fail(job.input, exporter.LevelNote());
        }
    }
    if (Interrupted()) {
        std::fprintf(stderr, "zarnplayer: export interrupted; no partial file is left\n");
        return 128 + caught;
    }
    return failed ? 1 : 0;
}

} // namespace exporter
