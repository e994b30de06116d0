// handoff_peer SCOPE TIMEOUT_MS [NAME...]: decides as the program does.
// Running, it prints "running" (or "running alone" without a channel) and
// then "list: " and the comma text of every hand-off it takes, until it is
// killed. HANDOFF_PEER_MODE=frozen never answers, =unpublished never writes
// its handle, =spawn starts a long-lived child first; HANDOFF_PEER_DELAY_MS
// makes it slow to answer each connection, and a connection it takes nothing
// from prints "nothing taken". A second start prints
// "forwarded" and exits 0, or prints the failure on stderr and exits 2.
#include "platform/commatext.h"
#include "platform/handoff/Channel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return 64;
    handoff::Settings settings;
    settings.scope = argv[1];
    settings.timeout = std::chrono::milliseconds(std::atoi(argv[2]));
    const std::vector<std::string> names(argv + 3, argv + argc);
    const char* modeText = std::getenv("HANDOFF_PEER_MODE");
    const std::string mode = modeText ? modeText : "";
    const char* delayText = std::getenv("HANDOFF_PEER_DELAY_MS");
    const int delayMs = delayText ? std::atoi(delayText) : 0;

    handoff::Start start = handoff::Decide(names, settings);
    if (!start.message.empty())
        std::fprintf(stderr, "%s\n", start.message.c_str());
    if (start.role == handoff::Role::Forwarded) {
        std::printf("forwarded\n");
        return 0;
    }
    if (start.role == handoff::Role::Failed)
        return 2;
    if (!start.receiver) {
        std::printf("running alone\n");
        std::fflush(stdout);
        pause();
        return 0;
    }
    if (mode == "spawn") {
        // Until its exec the child shares every descriptor; "running" waits
        // for the exec (the pipe closes on it) so a kill of this peer finds
        // the child holding only what a real exec'd child would.
        int execed[2];
        if (pipe2(execed, O_CLOEXEC) != 0)
            return 3;
        if (fork() == 0) {
            execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(execed[1]);
        char c;
        while (read(execed[0], &c, 1) > 0) {
        }
        close(execed[0]);
    }
    if (mode != "unpublished")
        start.receiver->Publish();
    std::printf("running\n");
    std::fflush(stdout);
    // As the player's window does: answers when a start connects, and
    // shortly again while a connection is still being read.
    for (;;) {
        pollfd p = {start.receiver->ListenFd(), POLLIN, 0};
        const int ready = poll(&p, 1, start.receiver->Waiting() ? 20 : -1);
        if (ready < 0)
            continue;
        if (ready > 0 && (mode == "frozen" || mode == "unpublished")) {
            std::printf("connected\n");
            std::fflush(stdout);
            pause();
        }
        if (ready > 0 && delayMs > 0)
            usleep(static_cast<useconds_t>(delayMs) * 1000);
        const bool taken = start.receiver->Answer([](const std::vector<std::string>& got) {
            std::printf("list: %s\n", CommaText(got).c_str());
            std::fflush(stdout);
        });
        if (!taken && !start.receiver->Waiting()) {
            std::printf("nothing taken\n");
            std::fflush(stdout);
        }
    }
}
