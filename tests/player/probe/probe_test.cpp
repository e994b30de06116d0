// The probe's answer as the player checks it, and the probe program itself:
// what it reads from a descriptor, the confinement it runs in, and how the
// player's side contains a probe that crashes or is killed.
#include "platform/regularfile.h"
#include "player/probe/Confine.h"
#include "player/probe/Probe.h"
#include "player/probe/Protocol.h"

#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Files.h"
#include "tests/support/Loudness.h"

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

    // A measurement's answer: only plausible figures, a figure or a failure.
    const TProbeLoudness measured{
        TLoudnessFigure{TLoudnessFigure::Source::Measured, -31.25, 0.5, 12.5, false}, ""};
    const std::vector<std::uint8_t> figure = probeanswer::EncodeLoudness(measured);
    EXPECT_EQ(probeanswer::ParseLoudness(figure), measured);
    EXPECT_FALSE(probeanswer::Parse(figure)) << "not taken for a reading";
    EXPECT_FALSE(probeanswer::ParseLoudness(message)) << "nor a reading for a measurement";
    auto loudnessRefused = [&](const std::function<void(std::vector<std::uint8_t>&)>& damage) {
        std::vector<std::uint8_t> m = figure;
        damage(m);
        return !probeanswer::ParseLoudness(m).has_value();
    };
    EXPECT_TRUE(loudnessRefused([](auto& m) { m.pop_back(); })) << "cut short";
    // The loudness, 4 bytes after the header and two flags: +300 LUFS.
    EXPECT_TRUE(loudnessRefused([](auto& m) { m[10] = 0x30, m[11] = 0x75, m[12] = m[13] = 0; }))
        << "implausible loudness";
    EXPECT_TRUE(loudnessRefused([](auto& m) { m[9] = 7; })) << "unknown source";
    // A failure text beside a figure: the length field after the whole flag.
    EXPECT_TRUE(loudnessRefused([](auto& m) {
        m[m.size() - 2] = 1;
        m.push_back('x');
        ++m[4];
    })) << "a figure and a failure";
    const TProbeLoudness failed{std::nullopt, "the file holds no sound"};
    EXPECT_EQ(probeanswer::ParseLoudness(probeanswer::EncodeLoudness(failed)), failed);
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

TProbe::Measured MeasureFile(TProbe& probe, const std::string& path,
                             const TProbe::Measurement& what = {}) {
    const int fd = OpenRegularFile(path);
    EXPECT_GE(fd, 0) << path;
    TProbe::Measured out = probe.Measure(fd, path, what);
    ::close(fd);
    return out;
}

// The loudness the probe measures under its confinement agrees with an
// independent meter, whole and as a first estimate; track-gain tags answer
// without a scan unless implausible; a damaged file is a failure in words
// and the probe goes on.
TEST(Probe, MeasuresLoudnessAsAnIndependentMeterReadsItAndTakesPlausibleTags) {
    const std::filesystem::path dir = testmedia::Dir("probe-loudness");
    const std::string speech = zarntest::MakeAtLoudness(zarntest::SpeechLike(12), -33,
                                                        dir / "speech.mp3", {"-b:a", "96k"});
    const std::string music = zarntest::MakeAtLoudness(zarntest::MusicLike(10), -13,
                                                       dir / "music.ogg", {"-c:a", "libvorbis"});
    ASSERT_FALSE(speech.empty() || music.empty()) << "ffmpeg could not make the signals";
    TProbe probe;
    for (const std::string& path : {speech, music}) {
        SCOPED_TRACE(path);
        const auto meter = zarntest::Meter(path);
        ASSERT_TRUE(meter);
        const TProbe::Measured out = MeasureFile(probe, path);
        ASSERT_TRUE(out.Answer && out.Answer->Figure) << out.Failure;
        const TLoudnessFigure& f = *out.Answer->Figure;
        EXPECT_EQ(f.From, TLoudnessFigure::Source::Measured);
        EXPECT_NEAR(f.Integrated, meter->Integrated, 0.3);
        EXPECT_NEAR(f.Peak, meter->TruePeak, 0.5);
        EXPECT_TRUE(f.Whole);
        EXPECT_GT(f.Seconds, 9.5);
    }
    EXPECT_EQ(Status(probe.Pid(), "Seccomp"), "2") << "measured under the filter";

    // The first seconds only: an estimate, said to be one.
    const TProbe::Measured first = MeasureFile(probe, speech, {4, false, 2});
    ASSERT_TRUE(first.Answer && first.Answer->Figure) << first.Failure;
    EXPECT_FALSE(first.Answer->Figure->Whole);
    EXPECT_NEAR(first.Answer->Figure->Seconds, 4, 0.05);
    const auto firstMeter = zarntest::Meter(speech, 4);
    ASSERT_TRUE(firstMeter);
    EXPECT_NEAR(first.Answer->Figure->Integrated, firstMeter->Integrated, 0.3);
    EXPECT_EQ(first.Answer->Figure->Peak, TLoudnessFigure::NoPeak) << "no true peak asked for";

    // Tags that claim another level than the sound's are believed when
    // plausible: ReplayGain 2 against -18 LUFS, Opus R128 gain against -23.
    const std::string replayGain =
        testmedia::Make("probe-loudness", "rg.flac",
                        {"-i", speech, "-metadata", "REPLAYGAIN_TRACK_GAIN=-7.50 dB", "-metadata",
                         "REPLAYGAIN_TRACK_PEAK=0.500000"});
    const std::string r128 = testmedia::Make("probe-loudness", "r128.opus",
                                             {"-i", speech, "-metadata", "R128_TRACK_GAIN=-1280"});
    const std::string absurd =
        testmedia::Make("probe-loudness", "absurd.flac",
                        {"-i", speech, "-metadata", "REPLAYGAIN_TRACK_GAIN=+95 dB"});
    ASSERT_FALSE(replayGain.empty() || r128.empty() || absurd.empty());
    const TProbe::Measured rg = MeasureFile(probe, replayGain);
    ASSERT_TRUE(rg.Answer && rg.Answer->Figure) << rg.Failure;
    EXPECT_EQ(rg.Answer->Figure->From, TLoudnessFigure::Source::Tags);
    EXPECT_NEAR(rg.Answer->Figure->Integrated, -10.5, 0.01);
    EXPECT_NEAR(rg.Answer->Figure->Peak, -6.02, 0.01);
    const TProbe::Measured opus = MeasureFile(probe, r128);
    ASSERT_TRUE(opus.Answer && opus.Answer->Figure) << opus.Failure;
    EXPECT_EQ(opus.Answer->Figure->From, TLoudnessFigure::Source::Tags);
    EXPECT_NEAR(opus.Answer->Figure->Integrated, -18, 0.01);
    const TProbe::Measured scanned = MeasureFile(probe, absurd);
    ASSERT_TRUE(scanned.Answer && scanned.Answer->Figure) << scanned.Failure;
    EXPECT_EQ(scanned.Answer->Figure->From, TLoudnessFigure::Source::Measured);
    EXPECT_NEAR(scanned.Answer->Figure->Integrated, -33, 0.5);

    // Damaged: the sound's bytes overwritten after the first frames, and a
    // file of no known type. A failure in words each, from the same probe.
    const pid_t pid = probe.Pid();
    zarntest::TempDir temp;
    std::string bytes = zarntest::ReadAll(speech);
    ASSERT_GT(bytes.size(), 20000u);
    for (std::size_t i = 4000; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(temp / "damaged.mp3", std::ios::binary) << bytes;
    std::ofstream(temp / "noise.bin", std::ios::binary) << bytes.substr(4000);
    for (const std::string& bad : {temp / "damaged.mp3", temp / "noise.bin"}) {
        SCOPED_TRACE(bad);
        const TProbe::Measured out = MeasureFile(probe, bad);
        ASSERT_TRUE(out.Answer) << out.Failure;
        EXPECT_FALSE(out.Answer->Figure);
        EXPECT_FALSE(out.Answer->Failure.empty());
    }
    EXPECT_EQ(probe.Pid(), pid) << "a damaged file costs no probe";
    EXPECT_TRUE(MeasureFile(probe, music).Answer->Figure);
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
    // Started ahead of the first file: the failure is said with that file.
    TProbe prepared("/nonexistent/zarnplayer-probe");
    prepared.Prepare();
    const TProbe::Outcome after = ReadFile(prepared, a);
    EXPECT_NE(after.Failure.find("cannot be started"), std::string::npos) << after.Failure;
    EXPECT_EQ(ReadFile(prepared, a).Failure, "");
}

// Stand-ins for a probe gone wrong: one that says hello and then hangs, one
// that answers with a header announcing more than any answer may hold.
TEST(Probe, AnOverrunOrAnOversizedAnswerEndsTheProbeInItsTime) {
    const std::string a = TaggedBook("a.mp3");
    ASSERT_FALSE(a.empty());
    zarntest::TempDir dir;
    auto script = [&](const std::string& name, const std::string& body) {
        const std::string path = dir / name;
        std::ofstream(path) << "#!/bin/sh\nprintf " << std::string(probe::Hello, 4) << " >&3\n"
                            << body;
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
