#include "Fixture.h"

#include "player/config/Rates.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <string>
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
