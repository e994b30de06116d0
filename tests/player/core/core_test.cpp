#include "Fixture.h"

#include "platform/profile.h"
#include "player/bookmarks/Bookmark.h"
#include "player/config/Option.h"
#include "player/config/Rates.h"
#include "player/core/Levelling.h"
#include "player/loudness/Cache.h"
#include "player/probe/Probe.h"
#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Loudness.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

// How often a signal of the core was emitted.
template <typename Signal> int* Count(TPlayerCore& core, Signal signal) {
    auto* n = new int(0);
    QObject::connect(&core, signal, &core, [n] { ++*n; });
    QObject::connect(&core, &QObject::destroyed, [n] { delete n; });
    return n;
}

constexpr std::int64_t Ms = 10'000; // 100 ns units

} // namespace

// The rate reaches the engine only as an entry of the rate list, and not
// while a file plays that the list does not apply to (Windows Media).
TEST_F(CoreTest, TheRateReachesTheEngineOnlyAsAnEntryOfTheList) {
    const std::string talk = Media("talk.mp3"), wma = Media("talk.WMA");
    TPlayerCore& c = Started({talk});
    int* changes = Count(c, &TPlayerCore::rateChanged);

    c.SetRateIndex(rates::IndexOfText("2.6"));
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetRate(2.6)"});
    EXPECT_EQ(c.RateText, "2.6");
    EXPECT_EQ(*changes, 1);
    for (int wrong : {-1, rates::kCount})
        c.SetRateIndex(wrong);
    EXPECT_EQ(player.With("SetRate").size(), 1u);

    c.OpenAndPlay(wma);
    EXPECT_FALSE(c.RateEnabled());
    EXPECT_EQ(player.With("SetRate"), (std::vector<std::string>{"SetRate(2.6)", "SetRate(1.0)"}));
    EXPECT_EQ(*changes, 2) << "the windows hear that the list is off";
    player.calls.clear();
    c.SetRateIndex(rates::IndexOfText("3.0"));
    c.RateUp();
    c.RateDown();
    EXPECT_TRUE(player.With("SetRate").empty());
    EXPECT_EQ(c.RateText, "2.6");

    c.OpenAndPlay(talk);
    EXPECT_TRUE(c.RateEnabled());
    EXPECT_EQ(player.With("SetRate"), std::vector<std::string>{"SetRate(2.6)"});
    player.calls.clear();
    c.RateDown();
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetRate(2.4)"});
}

// The volume is sent once per change, clamped, and without the mute flag
// (moving the bar while muted is heard); mute sends the silent level.
TEST_F(CoreTest, VolumeChangesAreSentOnceAndAnnounced) {
    TPlayerCore& c = Started({Media("a.mp3")});
    int* changes = Count(c, &TPlayerCore::volumeChanged);
    c.SetVolume(58);
    c.SetVolume(58);
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetVolume(-740)"});
    c.SetVolume(150);
    EXPECT_EQ(c.Volume, 100);
    EXPECT_EQ(player.calls.back(), "SetVolume(0)");
    c.ToggleMute();
    EXPECT_EQ(c.Mute, 1);
    EXPECT_EQ(player.calls.back(), "SetVolume(-10000)");
    c.SetVolume(50);
    EXPECT_EQ(player.calls.back(), "SetVolume(-1250)");
    EXPECT_EQ(c.Mute, 1);
    EXPECT_EQ(*changes, 4);
}

TEST_F(CoreTest, ASeekOnAStoppedFileStartsItPausedAndIsAnnounced) {
    TPlayerCore& c = Started({Media("a.mp3")});
    int* moves = Count(c, &TPlayerCore::positionChanged);
    player.state = PLAYER_STOPPED;
    c.SeekTo(50000000);
    EXPECT_EQ(player.calls, (std::vector<std::string>{"Play", "Pause", "SetPosition(50000000)"}));
    EXPECT_EQ(*moves, 1);
    player.calls.clear();
    c.SeekTo(10);
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetPosition(10)"});
}

TEST_F(CoreTest, EndOfFileFollowsTheRepeatMode) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    TPlayerCore& c = Started({a});
    int* finished = Count(c, &TPlayerCore::finished);
    player.state = PLAYER_STOPPED;

    c.SetRepeatMode(0);
    c.HandleEndOfStream();
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(*finished, 1);

    c.SetRepeatMode(1);
    c.HandleEndOfStream();
    EXPECT_EQ(player.calls, std::vector<std::string>{"Play"});

    player.calls.clear();
    c.SetRepeatMode(2); // one entry: replays it
    c.HandleEndOfStream();
    EXPECT_EQ(player.calls, std::vector<std::string>{"Play"});

    list->Add(b);
    player.calls.clear();
    c.HandleEndOfStream();
    EXPECT_EQ(player.calls,
              (std::vector<std::string>{"Stop", "SetRate(1.0)", "Open(" + b + ")", "Play"}));
    player.calls.clear();
    c.HandleEndOfStream(); // wraps to the first
    EXPECT_TRUE(player.Has("Open(" + a + ")"));

    player.calls.clear();
    c.SetRepeatMode(3);
    c.HandleEndOfStream();
    const auto opened = player.With("Open");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0] == "Open(" + a + ")" || opened[0] == "Open(" + b + ")");

    list->ClearList();
    player.calls.clear();
    c.SetRepeatMode(2);
    c.HandleEndOfStream();
    EXPECT_EQ(player.calls, std::vector<std::string>{"Close"});
    EXPECT_EQ(*finished, 1);
}

// After a failure the list goes on as at the end of a file: All and Random
// round the end, Single and Repeat down the list to its end; never more
// tries than the list has entries.
TEST_F(CoreTest, AfterAFailureTheRepeatModeChoosesTheNext) {
    const std::string a = Media("a.mp3"), bad = Media("bad.mp3"), worse = Media("worse.mp3");
    player.unplayable = {bad, worse};
    testing::internal::CaptureStderr();
    TPlayerCore& c = Started({a, bad});
    std::vector<QString> said;
    QObject::connect(&c, &TPlayerCore::failed, &c,
                     [&said](const QString& t) { said.push_back(t); });
    c.SetRepeatMode(2);
    c.HandleEndOfStream(); // bad fails, round the end to a
    EXPECT_EQ(player.With("Open"),
              (std::vector<std::string>{"Open(" + bad + ")", "Open(" + a + ")"}));
    EXPECT_EQ(player.calls.back(), "Play");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].startsWith("Cannot play bad.mp3: the file is damaged"))
        << said[0].toStdString();

    for (int mode : {0, 1}) {
        player.calls.clear();
        c.SetRepeatMode(mode);
        c.OpenAndPlay(list->Select(1)); // the last entry: nothing after it
        EXPECT_EQ(player.With("Open"), std::vector<std::string>{"Open(" + bad + ")"}) << mode;
    }

    c.OpenFileList({bad, worse});
    for (int mode : {2, 3}) {
        player.calls.clear();
        c.SetRepeatMode(mode);
        c.OpenAndPlay(list->Select(0));
        EXPECT_EQ(player.With("Open").size(), 2u) << mode;
        EXPECT_FALSE(player.Has("Play")) << mode;
    }
    testing::internal::GetCapturedStderr();
}

// --- Per-file memory, skips and the sleep timer -------------------------------

namespace {

constexpr std::int64_t kSecond = 10'000'000; // 100 ns units

// A clock the test moves.
struct TestClock {
    TPlayerCore::Clock::time_point now =
        TPlayerCore::Clock::time_point{} + std::chrono::hours(1000);
};

// Runs what the core left for the event loop (the memory's write).
void RunEvents() {
    QCoreApplication::processEvents();
}

} // namespace

class MemoryTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        player.duration = 600 * kSecond;
    }
    // Plays from position at the current rate, as the engine would report.
    void At(std::int64_t position) {
        player.state = PLAYER_PLAYING;
        player.position = position;
    }
    // A new core with the engine, not yet started.
    TPlayerCore& Make() {
        core.reset();
        list = std::make_unique<TFileList>(dir + "/default.lst");
        core = std::make_unique<TPlayerCore>(*list);
        core->SetPlayer(&player);
        return *core;
    }
    // What a fresh core reads back from the file.
    std::optional<FileMemoryEntry> Stored(const std::string& path) {
        FileMemory memory(dir + "/positions.txt");
        memory.Load();
        return memory.Find(path);
    }
};

TEST_F(MemoryTest, AFileLeftReopensThreeSecondsEarlierAtItsRateFromEveryOpenPath) {
    const std::string book = Media("book.m4b"), talk = Media("talk.mp3");
    TPlayerCore& c = Started({book, talk});
    c.SetRateIndex(rates::IndexOfText("2.6"));
    At(90 * kSecond);
    c.Next(); // the book is left at 1:30
    c.SetRateIndex(rates::IndexOfText("1.4"));
    At(20 * kSecond);
    int* rateShown = Count(c, &TPlayerCore::rateChanged);
    player.calls.clear();
    c.Prev();
    EXPECT_EQ(player.calls, (std::vector<std::string>{"Stop", "SetRate(2.6)", "Open(" + book + ")",
                                                      "SetPosition(870000000)", "Play"}));
    EXPECT_EQ(c.RateText, "2.6");
    EXPECT_EQ(*rateShown, 1) << "the rate list shows the file's rate";

    RunEvents();
    EXPECT_EQ(Stored(book), (FileMemoryEntry{90 * kSecond, "2.6", false}));
    EXPECT_EQ(Stored(talk), (FileMemoryEntry{20 * kSecond, "1.4", false}));

    // The play list window, a second start, dropped files and a bookmark
    // reach the same place.
    const TBookmarks saved = Bookmarks();
    const std::vector<std::function<void()>> paths = {
        [&] { c.PlayEntry(talk); },
        [&] { c.HandOff({talk}); },
        [&] { c.DropFiles({talk}, false); },
        [&] { c.PlayBookmark(Bookmarks().AddFiles("talk", {talk})); },
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        c.SetRateIndex(rates::IndexOfText("3.0"));
        At(40 * kSecond);
        player.calls.clear();
        paths[i]();
        EXPECT_TRUE(player.Has("SetPosition(170000000)")) << i; // 0:20 less 3 s
        EXPECT_EQ(player.With("SetRate").back(), "SetRate(1.4)") << i;
        EXPECT_EQ(c.RateText, "1.4") << i;
        // Back to the book, remembered at 0:40 at 3.0 just now.
        At(20 * kSecond);
        c.OpenAndPlay(book);
        EXPECT_EQ(c.RateText, "3.0") << i;
    }
    Bookmarks() = saved;
}

TEST_F(MemoryTest, AStoredRateOutsideTheListTakesTheNearestAndWindowsMediaStaysAtNormal) {
    {
        FileMemory memory(dir + "/positions.txt");
        memory.Remember(dir + "/odd.mp3", {60 * kSecond, "2.45", false});
        memory.Remember(dir + "/talk.wma", {60 * kSecond, "2.0", false});
        memory.Save();
    }
    const std::string odd = Media("odd.mp3"), wma = Media("talk.wma");
    TPlayerCore& c = Started({Media("first.mp3")});
    c.OpenAndPlay(odd);
    EXPECT_EQ(c.RateText, "2.4");
    EXPECT_EQ(player.With("SetRate").back(), "SetRate(2.4)");
    player.calls.clear();
    c.OpenAndPlay(wma);
    EXPECT_EQ(player.With("SetRate"), std::vector<std::string>{"SetRate(1.0)"});
    EXPECT_TRUE(player.Has("SetPosition(570000000)")) << "the position still applies";
    EXPECT_FALSE(c.RateEnabled());
}

TEST_F(MemoryTest, AFilePlayedToItsEndStartsAgainFromTheBeginning) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    TPlayerCore& c = Started({a, b});
    c.SetRepeatMode(2);
    At(600 * kSecond);
    c.HandleEndOfStream(); // b follows
    At(10 * kSecond);
    player.calls.clear();
    c.Prev();
    EXPECT_TRUE(player.With("SetPosition").empty());
    RunEvents();
    EXPECT_EQ(Stored(a), (FileMemoryEntry{600 * kSecond, "1.0", true}));

    // Played again after its end (Repeat) and left in the middle: remembered there.
    c.SetRepeatMode(1);
    At(600 * kSecond);
    c.HandleEndOfStream();
    At(50 * kSecond);
    c.Next();
    RunEvents();
    EXPECT_EQ(Stored(a), (FileMemoryEntry{50 * kSecond, "1.0", false}));
}

// A save meets another player's lock: the window does not wait on it (the
// event loop turns at once and nothing is written), and the save goes
// through once the lock is let go.
TEST_F(MemoryTest, AnotherPlayersLockDelaysTheSaveWithoutHoldingTheWindow) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    TPlayerCore& c = Started({a, b});
    const int lock =
        ::open((dir + "/positions.txt.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    At(50 * kSecond);
    c.Next();
    const auto before = std::chrono::steady_clock::now();
    RunEvents();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1))
        << "the window waited on the lock";
    EXPECT_EQ(Stored(a), std::nullopt);
    ::close(lock);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!Stored(a) && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(Stored(a), (FileMemoryEntry{50 * kSecond, "1.0", false}));
}

TEST_F(MemoryTest, WithTheMemoryOffNothingIsRememberedOrRecalled) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    {
        FileMemory memory(dir + "/positions.txt");
        memory.Remember(b, {60 * kSecond, "2.0", false});
        memory.Save();
    }
    const std::string before = zarntest::ReadAll(dir + "/positions.txt");
    Options().RememberFiles = 0;
    TPlayerCore& c = Started({a, b});
    At(90 * kSecond);
    c.Next();
    EXPECT_TRUE(player.With("SetPosition").empty());
    EXPECT_EQ(c.RateText, "1.0");
    At(30 * kSecond);
    c.SaveResumePoint();
    RunEvents();
    EXPECT_EQ(zarntest::ReadAll(dir + "/positions.txt"), before);
}

// The start-up's resume point keeps its own position and the stored rate,
// whatever the memory says of the file; leaving it is remembered.
TEST_F(MemoryTest, TheStartUpResumePointIsNotTheMemorys) {
    const std::string file = Media("lecture.mp3");
    {
        FileMemory memory(dir + "/positions.txt");
        memory.Remember(file, {300 * kSecond, "3.0", false});
        memory.Save();
    }
    SettingsStore().WriteInteger("player", "resume", 1);
    SettingsStore().WriteString("player", "resume_file", file);
    SettingsStore().WriteInteger("player", "resume_position", 834);
    SettingsStore().WriteInteger("player", "resume_status", 3);
    SettingsStore().WriteString("player", "rate", "1.5");
    Make().Start({});
    const auto tail = std::vector<std::string>(player.calls.end() - 4, player.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"SetRate(1.5)", "Open(" + file + ")",
                                              "SetPosition(834000000)", "Play"}));
    EXPECT_EQ(core->RateText, "1.5");
    At(840 * kSecond);
    core->SaveResumePoint(); // the close path writes at once
    EXPECT_EQ(Stored(file), (FileMemoryEntry{840 * kSecond, "1.5", false}));
}

TEST_F(MemoryTest, AMemoryThatCannotBeReadOrWrittenIsSaid) {
    std::filesystem::create_directory(dir + "/positions.txt");
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    Make();
    std::vector<QString> said;
    QObject::connect(core.get(), &TPlayerCore::failed,
                     [&said](const QString& t) { said.push_back(t); });
    testing::internal::CaptureStderr();
    core->Start({a, b});
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].contains("not a regular file")) << said[0].toStdString();
    // Still remembered for this run, and nothing replaces what cannot be read.
    At(90 * kSecond);
    core->Next();
    RunEvents();
    core->Prev();
    EXPECT_TRUE(player.Has("SetPosition(870000000)"));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/positions.txt"));
    EXPECT_EQ(said.size(), 1u);

    // Read at the start, then the write fails: said, not silent.
    std::filesystem::remove(dir + "/positions.txt");
    said.clear();
    Make();
    QObject::connect(core.get(), &TPlayerCore::failed,
                     [&said](const QString& t) { said.push_back(t); });
    core->Start({a, b});
    std::filesystem::create_directory(dir + "/positions.txt");
    At(90 * kSecond);
    core->Next();
    EXPECT_TRUE(said.empty()) << "no write on the open path";
    RunEvents();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].startsWith("The positions of files could not be saved"))
        << said[0].toStdString();
    At(30 * kSecond);
    EXPECT_THROW(core->SaveResumePoint(), profile::Error);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("could not be saved"), std::string::npos) << err;
}

TEST_F(MemoryTest, PlayingAgainAfterMoreThanFiveMinutesOfPauseStartsFiveSecondsEarlier) {
    TestClock clock;
    TPlayerCore& c = Started({Media("a.mp3")});
    c.SetClock([&clock] { return clock.now; });
    for (const bool toggle : {false, true}) {
        At(100 * kSecond);
        toggle ? c.TogglePlay() : c.Pause();
        clock.now += std::chrono::minutes(5);
        player.calls.clear();
        toggle ? c.TogglePlay() : c.Play();
        EXPECT_EQ(player.calls, std::vector<std::string>{"Play"}) << toggle;

        toggle ? c.TogglePlay() : c.Pause();
        clock.now += std::chrono::minutes(5) + std::chrono::seconds(1);
        player.calls.clear();
        toggle ? c.TogglePlay() : c.Play();
        EXPECT_EQ(player.calls, (std::vector<std::string>{"SetPosition(950000000)", "Play"}))
            << toggle;
    }
    // Near the start not below 0; a seek during the pause chooses the place.
    At(3 * kSecond);
    c.Pause();
    clock.now += std::chrono::hours(1);
    player.calls.clear();
    c.Play();
    EXPECT_EQ(player.calls, (std::vector<std::string>{"SetPosition(0)", "Play"}));
    c.Pause();
    clock.now += std::chrono::hours(1);
    c.SeekTo(200 * kSecond);
    player.calls.clear();
    c.Play();
    EXPECT_EQ(player.calls, std::vector<std::string>{"Play"});
}

TEST_F(MemoryTest, SkipsMoveByTheOptionsSecondsWithinTheFile) {
    const std::string a = Media("a.mp3"), b = Media("b.mp3");
    TPlayerCore& c = Started({a});
    Options().SkipBack = 10;
    Options().SkipForward = 30;
    At(100 * kSecond);
    c.SkipBack();
    EXPECT_EQ(player.position, 90 * kSecond);
    c.SkipForward();
    EXPECT_EQ(player.position, 120 * kSecond);
    At(4 * kSecond);
    c.SkipBack();
    EXPECT_EQ(player.position, 0);
    At(590 * kSecond);
    player.calls.clear();
    c.SkipForward(); // one entry: to its end
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetPosition(6000000000)"});
    // The seconds are the file's own, whatever the rate.
    c.SetRateIndex(rates::IndexOfText("2.0"));
    Options().SkipBack = 45;
    At(100 * kSecond);
    c.SkipBack();
    EXPECT_EQ(player.position, 55 * kSecond);
    // Past the end with more in the list: the next entry, as the desktop bus's Seek.
    list->Add(b);
    At(590 * kSecond);
    player.calls.clear();
    c.SkipForward();
    EXPECT_TRUE(player.Has("Open(" + b + ")"));
    // Nothing open: nothing moves.
    player.state = PLAYER_NOFILE;
    player.calls.clear();
    c.SkipBack();
    c.SkipForward();
    EXPECT_TRUE(player.calls.empty());
}

TEST_F(MemoryTest, TheSleepTimerFadesOutThenPausesWithThePositionKept) {
    TestClock clock;
    const std::string a = Media("a.mp3");
    TPlayerCore& c = Started({a});
    c.SetClock([&clock] { return clock.now; });
    c.SetVolume(80);
    int* changes = Count(c, &TPlayerCore::sleepChanged);
    At(100 * kSecond);
    c.SetSleepMode(SleepMode::Minutes15);
    EXPECT_EQ(*changes, 1);
    player.calls.clear();
    clock.now += std::chrono::minutes(14) + std::chrono::seconds(50);
    c.SleepTick();
    ASSERT_TRUE(c.SleepLeft());
    EXPECT_EQ(SleepTimer::LeftText(*c.SleepLeft()), "sleep 0:10");
    EXPECT_TRUE(player.calls.empty()) << "no fade before the last 10 seconds";
    clock.now += std::chrono::seconds(5);
    c.SleepTick();
    // Half of 80 is 40: the level of 40.
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetVolume(" +
                                                     std::to_string(VolumeLevel(40, false)) + ")"});
    player.position = 200 * kSecond;
    clock.now += std::chrono::seconds(5);
    player.calls.clear();
    c.SleepTick();
    EXPECT_EQ(player.calls, (std::vector<std::string>{
                                "SetVolume(" + std::to_string(VolumeLevel(0, false)) + ")", "Pause",
                                "SetVolume(" + std::to_string(VolumeLevel(80, false)) + ")"}));
    EXPECT_EQ(player.state, PLAYER_PAUSED);
    EXPECT_EQ(player.position, 200 * kSecond);
    EXPECT_EQ(c.GetSleepMode(), SleepMode::Off);
    EXPECT_FALSE(c.SleepLeft());
    EXPECT_EQ(*changes, 2);
    RunEvents();
    EXPECT_EQ(Stored(a), (FileMemoryEntry{200 * kSecond, "1.0", false}));

    // End of file, muted: the mute holds through the fade and after it.
    c.ToggleMute();
    At(595 * kSecond); // 5 s before the end: half
    player.calls.clear();
    c.SetSleepMode(SleepMode::EndOfFile);
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetVolume(-10000)"});
    c.ToggleMute();
    EXPECT_EQ(player.calls.back(), "SetVolume(" + std::to_string(VolumeLevel(40, false)) + ")");
    // Switched off in the fade: the volume comes back.
    player.calls.clear();
    c.SetSleepMode(SleepMode::Off);
    EXPECT_EQ(player.calls, std::vector<std::string>{"SetVolume(" +
                                                     std::to_string(VolumeLevel(80, false)) + ")"});
}

// Chapters are read when the engine reports the file opened and forgotten as
// soon as another file is being opened; a file without them has none.
TEST_F(CoreTest, ChaptersComeWithTheOpenedFileAndGoWithIt) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    TPlayerCore& c = Started({Media("a.mp3")});
    int* changes = Count(c, &TPlayerCore::chaptersChanged);
    c.OpenAndPlay(book);
    EXPECT_EQ(c.ChapterCount(), 0) << "not before the engine says the file is open";
    EXPECT_EQ(c.Opened(), book);
    ASSERT_EQ(c.ChapterCount(), 3);
    EXPECT_EQ(*changes, 1);
    EXPECT_NEAR(c.Chapters()[1].Start, 4000 * Ms, Ms);
    EXPECT_EQ(c.ChapterTitle(0), "Opening");
    EXPECT_EQ(c.ChapterTitle(1), "Chapter two");
    EXPECT_EQ(c.ChapterTitle(2), "Chapter 3") << "an untitled chapter is named by its number";
    EXPECT_EQ(c.ChapterTitle(3), "");

    const std::string plain = Media("plain.mp3");
    c.OpenAndPlay(plain);
    EXPECT_EQ(c.ChapterCount(), 0);
    EXPECT_EQ(*changes, 2);
    c.Opened();
    EXPECT_EQ(c.ChapterCount(), 0);
    EXPECT_EQ(c.CurrentChapter(), -1);
    EXPECT_EQ(c.CurrentChapterText(), "");
    player.duration = 90 * 1000 * Ms;
    EXPECT_EQ(c.CurrentChapterEnd(), player.duration) << "without chapters: the file's end";
    player.calls.clear();
    c.NextChapter();
    c.PrevChapter();
    c.GoToChapter(0);
    EXPECT_TRUE(player.With("SetPosition").empty());
}

// A listed file the probe has read brings its chapters along: the player
// does not parse the file for them again (this one has none of its own).
TEST_F(CoreTest, AListedFileTakesTheChaptersTheProbeRead) {
    TPlayerCore& c = Started({Media("a.mp3")});
    TFile* entry = list->Current();
    ASSERT_NE(entry, nullptr);
    TFile::Tags tags;
    tags.Probed = TProbeAnswer{};
    tags.Probed->Chapters = {{0, 5000 * Ms, "From the probe"}, {5000 * Ms, -1, ""}};
    entry->ApplyTags(std::move(tags));
    c.OpenAndPlay(entry->FileName);
    EXPECT_EQ(c.Opened(), entry->FileName);
    ASSERT_EQ(c.ChapterCount(), 2);
    EXPECT_EQ(c.ChapterTitle(0), "From the probe");
    EXPECT_EQ(c.Chapters()[1].Start, 5000 * Ms);
}

// Next and Previous chapter seek to chapter starts; the 3 s within which
// Previous goes to the chapter before are the file's own seconds, whatever
// the rate; a position reported a little before a start counts as in it.
TEST_F(CoreTest, NextAndPreviousChapterMoveByTheFilesOwnTime) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty());
    TPlayerCore& c = Started({Media("a.mp3")});
    c.OpenAndPlay(book);
    c.Opened();
    ASSERT_EQ(c.ChapterCount(), 3);
    const std::int64_t second = c.Chapters()[1].Start, third = c.Chapters()[2].Start;
    c.SetRateIndex(rates::IndexOfText("2.0"));
    player.state = PLAYER_PLAYING;
    int* moves = Count(c, &TPlayerCore::positionChanged);

    player.position = 1000 * Ms;
    EXPECT_EQ(c.CurrentChapter(), 0);
    EXPECT_EQ(c.CurrentChapterEnd(), second);
    player.calls.clear();
    c.NextChapter();
    EXPECT_EQ(player.calls,
              std::vector<std::string>{"SetPosition(" + std::to_string(second) + ")"});
    EXPECT_EQ(*moves, 1);
    player.position = second - 50 * Ms;
    EXPECT_EQ(c.CurrentChapter(), 1);
    EXPECT_EQ(c.CurrentChapterText(), "Chapter two 2/3");
    c.NextChapter();
    EXPECT_EQ(player.position, third);
    EXPECT_EQ(c.CurrentChapterText(), "Chapter 3 3/3");
    EXPECT_EQ(c.CurrentChapterEnd(), 12000 * Ms) << "the last chapter ends with the file";
    player.calls.clear();
    c.NextChapter();
    EXPECT_TRUE(player.calls.empty()) << "nothing after the last chapter";

    player.position = second + 2500 * Ms;
    c.PrevChapter();
    EXPECT_EQ(player.position, 0) << "2.5 s into a chapter: the one before";
    player.position = second + 3500 * Ms;
    c.PrevChapter();
    EXPECT_EQ(player.position, second) << "3.5 s into a chapter: its start";
    c.PrevChapter();
    EXPECT_EQ(player.position, 0) << "pressed again at once: the one before";
    player.position = 500 * Ms;
    c.PrevChapter();
    EXPECT_EQ(player.position, 0) << "the first chapter has none before it";

    c.GoToChapter(2);
    EXPECT_EQ(player.position, third);
    player.calls.clear();
    for (int wrong : {-1, 3})
        c.GoToChapter(wrong);
    EXPECT_TRUE(player.calls.empty());
    player.state = PLAYER_STOPPED;
    c.GoToChapter(1);
    EXPECT_EQ(player.calls, (std::vector<std::string>{
                                "Play", "Pause", "SetPosition(" + std::to_string(second) + ")"}))
        << "a stopped file starts paused at the chapter";
}

// Between a chapter's own end and the next one's start no chapter is heard:
// end of chapter set there pauses where the next one starts, not at once.
TEST_F(MemoryTest, EndOfChapterInAGapBetweenChaptersPausesAtTheNextStart) {
    const std::string book = testmedia::ToneWithChapters(
        "books", "gap.mkv", {{0, "One", 3000}, {5000, "Two"}}, 8000, {"-c:a", "pcm_s16le"});
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    TestClock clock;
    TPlayerCore& c = Started({Media("a.mp3")});
    c.SetClock([&clock] { return clock.now; });
    c.OpenAndPlay(book);
    c.Opened();
    ASSERT_EQ(c.ChapterCount(), 2);
    ASSERT_EQ(c.Chapters()[0].End, 3000 * Ms) << "the file keeps the gap";
    const std::int64_t next = c.Chapters()[1].Start;
    At(4000 * Ms);
    c.SetSleepMode(SleepMode::EndOfChapter);
    while (player.state == PLAYER_PLAYING && player.position < next + 2 * kSecond) {
        clock.now += std::chrono::milliseconds(200);
        player.position += 200 * Ms;
        c.SleepTick();
    }
    EXPECT_EQ(player.state, PLAYER_PAUSED);
    EXPECT_GE(player.position, next - 200 * Ms) << "paused in the gap";
    EXPECT_LE(player.position, next + 200 * Ms) << "paused in the next chapter";
}

// End of chapter pauses where the chapter ends, at normal speed too: the
// allowance that keeps a second Next off the chapter it just reached must
// not move the sleep timer's end on to the next chapter's.
TEST_F(MemoryTest, EndOfChapterPausesAtTheEndOfThisChapter) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    TestClock clock;
    TPlayerCore& c = Started({Media("a.mp3")});
    c.SetClock([&clock] { return clock.now; });
    c.OpenAndPlay(book);
    c.Opened();
    ASSERT_EQ(c.ChapterCount(), 3);
    const std::int64_t end = c.Chapters()[1].Start;
    At(end - kSecond);
    c.SetSleepMode(SleepMode::EndOfChapter);
    player.calls.clear();
    while (player.state == PLAYER_PLAYING && player.position < end + 2 * kSecond) {
        clock.now += std::chrono::milliseconds(200);
        player.position += 200 * Ms;
        c.SleepTick();
    }
    EXPECT_EQ(player.state, PLAYER_PAUSED);
    EXPECT_LE(player.position, end + 200 * Ms) << "paused in the next chapter";
}

// Loudness levelling with the real measurement: a file never measured
// waits (briefly) for its first estimate and starts at its gain, the whole
// figure follows as a glide, the cache spares the second play its
// measurement and its wait, the options move the gain of the file playing,
// and a damaged file plays at gain 0, said once.
TEST_F(CoreTest, EachFileIsLevelledFromItsMeasurementWhichIsMadeOnce) {
    const std::filesystem::path media = testmedia::Dir("core-loudness");
    const std::string quiet = zarntest::MakeAtLoudness(zarntest::SpeechLike(40), -33,
                                                       media / "quiet.mp3", {"-b:a", "64k"});
    ASSERT_FALSE(quiet.empty()) << "ffmpeg could not make the signal";
    const std::string damaged = dir + "/damaged.mp3";
    std::string bytes = zarntest::ReadAll(quiet);
    for (std::size_t i = 2000; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(damaged, std::ios::binary) << bytes;

    TPlayerCore& c = Started();
    TLoudnessCache cache(dir + "/loudness.txt");
    TLevelling levelling(
        cache,
        [&c] {
            QMetaObject::invokeMethod(
                &c, [&c] { c.LoudnessArrived(); }, Qt::QueuedConnection);
        },
        TProbe::ProgramPath());
    c.SetLevelling(&levelling, &cache);
    struct Unlevel {
        TPlayerCore& c;
        ~Unlevel() {
            c.SetLevelling(nullptr, nullptr);
            Options().LevelLoudness = 1;
            Options().LoudnessTarget = -16;
        }
    } unlevel{c};
    Options().LevelLoudness = 1;
    Options().LoudnessTarget = -16;
    auto pump = [](const std::function<bool()>& done, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    auto gains = [&] {
        std::vector<std::int32_t> g;
        for (const auto& [option, value] : player.options)
            if (option == PLAYER_OPTION_LOUDNESS_GAIN)
                g.push_back(value);
        return g;
    };
    auto playIndex = [&] {
        const auto at = std::find(player.calls.begin(), player.calls.end(), "Play");
        return at == player.calls.end() ? -1 : static_cast<int>(at - player.calls.begin());
    };
    const auto meter = zarntest::Meter(quiet);
    ASSERT_TRUE(meter);
    const std::int32_t wanted = loudness::GainFor(meter->Integrated, -16);

    // A hold longer than a loaded machine needs, so the order is certain.
    c.SetLevelHold(std::chrono::seconds(10));
    c.OpenAndPlay(quiet);
    EXPECT_EQ(playIndex(), -1) << "the start waits for the estimate";
    ASSERT_TRUE(pump([&] { return playIndex() >= 0; }, 10000));
    // The estimate's gain came before the first sound.
    std::optional<std::int32_t> startGain;
    for (int i = 0; i < playIndex(); ++i)
        if (player.calls[static_cast<std::size_t>(i)].rfind("SetOption(3,", 0) == 0)
            startGain = std::stoi(player.calls[static_cast<std::size_t>(i)].substr(12));
    ASSERT_TRUE(startGain);
    EXPECT_NEAR(*startGain, wanted, 150) << "the estimate's gain";
    // The whole file measured, its figure kept in the file.
    TLoudnessCache reread(dir + "/loudness.txt");
    ASSERT_TRUE(pump(
        [&] { return reread.Load().empty() && reread.Find(*TLoudnessKey::Of(quiet)).has_value(); },
        20000));
    EXPECT_EQ(reread.Find(*TLoudnessKey::Of(quiet)), cache.Find(*TLoudnessKey::Of(quiet)));
    ASSERT_TRUE(pump([&] { return std::abs(gains().back() - wanted) <= 30; }, 2000))
        << gains().back() << " for " << wanted;
    EXPECT_EQ(levelling.Measured(), 2) << "an estimate, then the whole file";
    EXPECT_TRUE(player.options.back() ==
                std::make_pair(PLAYER_OPTION_LOUDNESS_GAIN, gains().back()));

    // The options move the playing file's gain, and the limiter with them.
    player.options.clear();
    Options().LoudnessTarget = -23;
    Options().Apply(&player);
    ASSERT_EQ(gains().size(), 1u);
    EXPECT_NEAR(gains().back(), wanted - 700, 30);
    Options().LevelLoudness = 0;
    Options().Apply(&player);
    EXPECT_EQ(gains().back(), 0);
    EXPECT_TRUE(std::find(player.options.begin(), player.options.end(),
                          std::make_pair(PLAYER_OPTION_LIMITER, 0)) != player.options.end());
    Options().LevelLoudness = 1;
    Options().LoudnessTarget = -16;
    Options().Apply(&player);

    // Played again: from the cache, at once, with no measurement.
    player.calls.clear();
    player.options.clear();
    c.OpenAndPlay(quiet);
    EXPECT_GE(playIndex(), 0) << "no wait";
    ASSERT_FALSE(gains().empty());
    EXPECT_EQ(gains().front(), gains().back());
    EXPECT_NEAR(gains().front(), wanted, 30);
    pump([] { return false; }, 300);
    EXPECT_EQ(levelling.Measured(), 2);

    // A damaged file: gain 0 and the start goes on.
    player.calls.clear();
    player.options.clear();
    testing::internal::CaptureStderr();
    c.OpenAndPlay(damaged);
    EXPECT_TRUE(pump([&] { return playIndex() >= 0; }, 3000));
    pump([&] { return levelling.Measured() >= 3; }, 5000);
    pump([] { return false; }, 300);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no loudness level for " + damaged), std::string::npos) << said;
    EXPECT_EQ(said.find("no loudness level", said.find("no loudness level") + 1), std::string::npos)
        << "said once: " << said;
    for (std::int32_t g : gains())
        EXPECT_EQ(g, 0);

    // A pause pressed while the start waits for the estimate is kept.
    const std::string unheard = dir + "/unheard.mp3";
    std::filesystem::copy_file(quiet, unheard);
    c.SetLevelHold(std::chrono::seconds(10));
    player.calls.clear();
    c.OpenAndPlay(unheard);
    ASSERT_EQ(playIndex(), -1);
    c.Pause();
    pump([&] { return levelling.Measured() >= 4; }, 10000);
    pump([] { return false; }, 300);
    EXPECT_EQ(playIndex(), -1) << "played after the pause";
}
