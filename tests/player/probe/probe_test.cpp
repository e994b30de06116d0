// The probe's answer as the player checks it, and the probe program itself:
// what it reads from a descriptor, the confinement it runs in, and how the
// player's side contains a probe that crashes or is killed.
#include "platform/regularfile.h"
#include "player/probe/Confine.h"
#include "player/probe/Probe.h"
#include "player/probe/Protocol.h"

#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::int64_t kSecond = 10'000'000;

// The value of one "Name:" line of /proc/PID/status.
std::string Status(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0) {
            std::string value = line.substr(name.size() + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            return value;
        }
    return {};
}

TProbe::Outcome ReadFile(TProbe& probe, const std::string& path) {
    const int fd = OpenRegularFile(path);
    EXPECT_GE(fd, 0) << path;
    TProbe::Outcome out = probe.Read(fd, path);
    ::close(fd);
    return out;
}

// An MP3 with ID3v2 texts and two chapters, made once.
std::string TaggedBook(const std::string& name) {
    return testmedia::ToneWithChapters(
        "probe", name, {{0, "Intro"}, {1000, "Caf\xc3\xa9"}}, 2000,
        {"-c:a", "libmp3lame", "-metadata", "artist=Someone", "-metadata", "album=Records"});
}

} // namespace

TEST(ProbeAnswer, RoundTripsAndRefusesAnythingButAWholeWellFormedMessage) {
    TProbeAnswer a{true, "T\xc3\xa9", "A", "B", 42 * kSecond, {}};
    a.Chapters = {{0, kSecond, "one"}, {kSecond, -1, ""}, {kSecond, 3 * kSecond, "three"}};
    const std::vector<std::uint8_t> message = probeanswer::Encode(a);
    ASSERT_EQ(probeanswer::Parse(message), a);

    auto refused = [&](const std::function<void(std::vector<std::uint8_t>&)>& damage) {
        std::vector<std::uint8_t> m = message;
        damage(m);
        return !probeanswer::Parse(m).has_value();
    };
    EXPECT_TRUE(refused([](auto& m) { m.pop_back(); })) << "cut short";
    EXPECT_TRUE(refused([](auto& m) { m.push_back(0); })) << "trailing byte";
    EXPECT_TRUE(refused([](auto& m) { m[3] = probeanswer::Version + 1; })) << "other version";
    EXPECT_TRUE(refused([](auto& m) { m[0] = 'X'; })) << "no magic";
    EXPECT_TRUE(refused([](auto& m) { m[7] = 0x7F; })) << "announces too much";
    // The title's first byte: 8 header, 1 flag, 2 length.
    EXPECT_TRUE(refused([](auto& m) { m[11] = 0xFF; })) << "not UTF-8";
    EXPECT_TRUE(refused([](auto& m) { m[8] = 2; })) << "flag out of range";

    TProbeAnswer unordered = a;
    std::swap(unordered.Chapters[0], unordered.Chapters[2]);
    EXPECT_FALSE(probeanswer::Parse(probeanswer::Encode(unordered)));
    TProbeAnswer backwards = a;
    backwards.Chapters[0].End = 0;
    EXPECT_FALSE(probeanswer::Parse(probeanswer::Encode(backwards)));

    // What is too long is cut by the encoder at a character, not refused.
    TProbeAnswer longer = a;
    longer.Title = "x" + std::string(probeanswer::MaxText, '\xc3');
    for (std::size_t i = 2; i < longer.Title.size(); i += 2)
        longer.Title[i] = '\xa9';
    longer.Chapters.assign(MaxChapters + 5, {0, -1, std::string(MaxChapterTitle + 9, 'c')});
    const auto cut = probeanswer::Parse(probeanswer::Encode(longer));
    ASSERT_TRUE(cut);
    EXPECT_LE(cut->Title.size(), probeanswer::MaxText);
    EXPECT_EQ(cut->Title.size() % 2, 1u) << "ends on a whole character";
    EXPECT_EQ(cut->Chapters.size(), MaxChapters);
    EXPECT_EQ(cut->Chapters[0].Title.size(), MaxChapterTitle);
}

TEST(Probe, ReadsTagsDurationAndChaptersUnderItsFilter) {
    const std::string book = TaggedBook("book.mp3");
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    TProbe probe;
    const TProbe::Outcome out = ReadFile(probe, book);
    ASSERT_TRUE(out.Answer) << out.Failure;
    EXPECT_TRUE(out.Failure.empty()) << out.Failure;
    EXPECT_TRUE(out.Answer->Texts);
    EXPECT_EQ(out.Answer->Title, "book.mp3");
    EXPECT_EQ(out.Answer->Artist, "Someone");
    EXPECT_EQ(out.Answer->Album, "Records");
    EXPECT_NEAR(static_cast<double>(out.Answer->Duration), 2.0 * kSecond, 0.1 * kSecond);
    ASSERT_EQ(out.Answer->Chapters.size(), 2u);
    EXPECT_EQ(out.Answer->Chapters[1].Title, "Caf\xc3\xa9");
    EXPECT_NEAR(static_cast<double>(out.Answer->Chapters[1].Start), kSecond, 0.01 * kSecond);

    // Confined before it read the file: the filter, no new privileges, no
    // core dumps, a group of its own.
    const pid_t pid = probe.Pid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Status(pid, "Seccomp"), "2");
    EXPECT_EQ(Status(pid, "NoNewPrivs"), "1");
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::stringstream text;
    text << limits.rdbuf();
    EXPECT_NE(text.str().find("Max core file size        0"), std::string::npos) << text.str();
    EXPECT_EQ(::getpgid(pid), pid);

    // The other containers the player lists, read by the same probe.
    for (const char* name : {"t.m4a", "t.ogg", "t.opus", "t.flac", "t.wav", "t.mka", "t.wma"}) {
        SCOPED_TRACE(name);
        const std::string path = testmedia::Make(
            "probe", name, {"-f", "lavfi", "-i", "sine=d=1", "-metadata", "title=Container"});
        ASSERT_FALSE(path.empty());
        const TProbe::Outcome kind = ReadFile(probe, path);
        ASSERT_TRUE(kind.Answer) << kind.Failure;
        EXPECT_EQ(kind.Answer->Title, "Container");
        EXPECT_NEAR(static_cast<double>(kind.Answer->Duration), kSecond, 0.1 * kSecond);
    }
    EXPECT_EQ(probe.Pid(), pid) << "one probe for all of them";
}

TEST(Probe, ACrashOrAKillCostsOneFileAndANewProbeTakesTheNext) {
    const std::string a = TaggedBook("a.mp3"), b = TaggedBook("b.mp3"), c = TaggedBook("c.mp3");
    ASSERT_FALSE(a.empty() || b.empty() || c.empty());
    ::setenv(probe::CrashOnEnv, std::filesystem::path(b).filename().c_str(), 1);
    TProbe probe;
    EXPECT_TRUE(ReadFile(probe, a).Answer);
    ::unsetenv(probe::CrashOnEnv);
    const pid_t first = probe.Pid();

    const TProbe::Outcome crashed = ReadFile(probe, b);
    EXPECT_FALSE(crashed.Answer);
    EXPECT_NE(crashed.Failure.find("probe killed by signal 11"), std::string::npos)
        << crashed.Failure;
    EXPECT_EQ(::kill(first, 0), -1) << "the crashed probe was reaped";

    const TProbe::Outcome next = ReadFile(probe, c);
    ASSERT_TRUE(next.Answer) << next.Failure;
    EXPECT_EQ(next.Answer->Title, "c.mp3");
    EXPECT_TRUE(next.Failure.empty()) << next.Failure;
    EXPECT_NE(probe.Pid(), first);

    // Killed between two files from outside: said, and the next file is
    // still read by a new probe.
    const pid_t second = probe.Pid();
    ASSERT_EQ(::kill(second, SIGSEGV), 0);
    // Dead and waiting to be reaped (by the probe's owner, not here).
    ASSERT_TRUE(zarntest::WaitFor([&] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(second), &info, WEXITED | WNOHANG | WNOWAIT) ==
                   0 &&
               info.si_pid == second;
    }));
    const TProbe::Outcome after = ReadFile(probe, a);
    ASSERT_TRUE(after.Answer) << after.Failure;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer takes the signal, reports and ends the probe its own way.
    EXPECT_NE(after.Failure.find("died between two files"), std::string::npos) << after.Failure;
#else
    EXPECT_NE(after.Failure.find("probe killed by signal 11"), std::string::npos) << after.Failure;
#endif
    EXPECT_NE(probe.Pid(), second);
}

TEST(Probe, AProbeThatCannotStartIsSaidOnceAndNotRetriedForEachFile) {
    const std::string a = TaggedBook("a.mp3");
    ASSERT_FALSE(a.empty());
    TProbe probe("/nonexistent/zarnplayer-probe");
    const TProbe::Outcome first = ReadFile(probe, a);
    EXPECT_FALSE(first.Answer);
    EXPECT_NE(first.Failure.find("cannot be started"), std::string::npos) << first.Failure;
    const TProbe::Outcome second = ReadFile(probe, a);
    EXPECT_FALSE(second.Answer);
    EXPECT_EQ(second.Failure, "");
}

// Stand-ins for a probe gone wrong: one that says hello and then hangs, one
// that answers with a header announcing more than any answer may hold.
TEST(Probe, AnOverrunOrAnOversizedAnswerEndsTheProbeInItsTime) {
    const std::string a = TaggedBook("a.mp3");
    ASSERT_FALSE(a.empty());
    zarntest::TempDir dir;
    auto script = [&](const std::string& name, const std::string& body) {
        const std::string path = dir / name;
        std::ofstream(path) << "#!/bin/sh\nprintf ZPR1 >&3\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    };
    {
        TProbe hangs(script("hangs", "exec sleep 60\n"));
        const auto start = std::chrono::steady_clock::now();
        const TProbe::Outcome out = ReadFile(hangs, a);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(out.Answer);
        EXPECT_NE(out.Failure.find("overran its time"), std::string::npos) << out.Failure;
        EXPECT_GE(took, TProbe::FileTime);
        EXPECT_LT(took, TProbe::FileTime + std::chrono::seconds(2));
        EXPECT_EQ(hangs.Pid(), -1) << "ended and reaped";
    }
    {
        TProbe oversized(script("oversized", "printf 'ZPA\\001\\377\\377\\377\\177' >&3\n"
                                             "exec sleep 60\n"));
        const TProbe::Outcome out = ReadFile(oversized, a);
        EXPECT_FALSE(out.Answer);
        EXPECT_NE(out.Failure.find("failed on"), std::string::npos) << out.Failure;
        EXPECT_EQ(oversized.Pid(), -1);
    }
}

TEST(Probe, AFileOfManyChaptersIsReadInItsTimeAndCapped) {
    const std::string many = testmedia::ManyChaptersMp3(150'000);
    ASSERT_FALSE(many.empty()) << "ffmpeg could not make the sound";
    TProbe probe;
    const TProbe::Outcome out = ReadFile(probe, many);
    ASSERT_TRUE(out.Answer) << out.Failure;
    ASSERT_EQ(out.Answer->Chapters.size(), MaxChapters);
    for (const TChapter& c : out.Answer->Chapters)
        EXPECT_EQ(c.Start, 0);
    EXPECT_EQ(out.Answer->Chapters.back().Title, "Chapter 1000");
}

// What the filter leaves a confined process: its own threads and reading;
// a new process, a socket that could reach out or an open for writing ends
// it. Each call runs in a child of its own that confines itself first.
TEST(ProbeFilter, LeavesThreadsAndReadingAndKillsANewProcessASocketAndAWrite) {
    const std::string made = testing::TempDir() + "probe-filter-" + std::to_string(::getpid());
    std::ofstream(made) << "x";
    auto confined = [](const std::function<void()>& act) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!probe::Confine().empty())
                ::_exit(3);
            act();
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    };
    const int threads = confined([&made] {
        bool read = false;
        std::thread([&] { read = ::open(made.c_str(), O_RDONLY | O_CLOEXEC) >= 0; }).join();
        ::_exit(read ? 0 : 4);
    });
    EXPECT_TRUE(WIFEXITED(threads) && WEXITSTATUS(threads) == 0) << threads;
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"fork", [] { ::fork(); }},
        {"socket", [] { ::socket(AF_INET, SOCK_STREAM, 0); }},
        {"open for writing", [&made] { ::open(made.c_str(), O_WRONLY | O_CLOEXEC); }},
        // A descriptor's owner would get the signal it names, the player too.
        // The calls are harmless should they pass: a pipe of the child's own,
        // the parent's scheduling set to what it has.
        {"a signal owner",
         [] {
             int p[2];
             if (::pipe2(p, O_CLOEXEC) == 0)
                 ::fcntl(p[0], F_SETOWN, ::getppid());
         }},
        {"a signal by descriptor",
         [] {
             int p[2];
             if (::pipe2(p, O_CLOEXEC) == 0)
                 ::fcntl(p[0], F_SETSIG, SIGKILL);
         }},
        {"another process's scheduling",
         [] {
             sched_param same{};
             ::sched_setscheduler(::getppid(), SCHED_OTHER, &same);
         }},
    };
    for (const auto& [what, act] : refused) {
        const int status = confined(act);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) << what << ": " << status;
    }
    ::unlink(made.c_str());
}
