#include "FakeView.h"

#include "platform/profile.h"
#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/list/M3u.h"
#include "player/list/Random.h"

#include <set>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class Model : public ListTest {
protected:
    void SetUp() override {
        TFileList::Hooks hooks;
        hooks.UpdatePrevNext = [this] { ++prevNextUpdates; };
        hooks.ShowError = [this](const std::string& m) { errors.push_back(m); };
        Connect(false, hooks);
    }
    void AddNames(std::initializer_list<const char*> names) {
        std::string text;
        for (const char* n : names)
            text += std::string(n) + "\n";
        WriteFile(dir / "in.lst", text);
        list.BeginUpdate();
        list.LoadFromFile(dir / "in.lst");
        list.EndUpdate();
    }

    int prevNextUpdates = 0;
    std::vector<std::string> errors;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(Model, EntriesShowTheirFileNamePart) {
    AddNames({"/music/a/One.mp3", "Two.wav", ""});
    EXPECT_EQ(view.Captions(), (Strings{"One.mp3", "Two.wav", ""}));
    view.ExpectMatches(list);
    EXPECT_EQ(list.Item(0)->Title, "One.mp3");
    EXPECT_EQ(list.Item(0)->Owner, &list);
    EXPECT_TRUE(list.Item(0)->TimeText.empty());
    EXPECT_FALSE(list.Item(0)->Played);
}

TEST_F(Model, SelectMarksTheCurrentRowOnly) {
    AddNames({"a", "b", "c"});
    EXPECT_EQ(list.Select(1), "b");
    EXPECT_EQ(list.Current(), list.Item(1));
    EXPECT_EQ(view.rows[1]->image, 1);
    EXPECT_EQ(view.visible, view.rows[1].get());
    EXPECT_EQ(list.Select(2), "c");
    EXPECT_EQ(view.rows[1]->image, 0);
    EXPECT_EQ(view.rows[2]->image, 1);
}

TEST_F(Model, SelectOutsideClearsTheMarkerButKeepsCurrent) {
    AddNames({"a", "b"});
    list.Select(0);
    EXPECT_EQ(list.Select(-1), "");
    EXPECT_EQ(view.rows[0]->image, 0);
    EXPECT_EQ(list.Current(), list.Item(0));
    EXPECT_EQ(list.Select(2), "");
    EXPECT_EQ(list.Current(), list.Item(0));
}

TEST_F(Model, EmptyListSelectsNothing) {
    EXPECT_EQ(list.Select(0), "");
    EXPECT_EQ(list.Next(), "");
    EXPECT_EQ(list.Prev(), "");
    EXPECT_EQ(list.Random(), "");
    EXPECT_EQ(list.Current(), nullptr);
}

TEST_F(Model, NextAndPrevWrap) {
    AddNames({"a", "b", "c"});
    EXPECT_EQ(list.Next(), "a"); // no current entry: the first
    EXPECT_EQ(list.Next(), "b");
    EXPECT_EQ(list.Next(), "c");
    EXPECT_EQ(list.Next(), "a");
    EXPECT_EQ(list.Prev(), "c");
    EXPECT_EQ(list.Prev(), "b");
}

TEST_F(Model, PrevWithoutCurrentSelectsTheFirst) {
    AddNames({"a", "b", "c"});
    EXPECT_EQ(list.Prev(), "a");
}

TEST_F(Model, NextOnOneEntryStaysOnIt) {
    AddNames({"only"});
    EXPECT_EQ(list.Next(), "only");
    EXPECT_EQ(list.Next(), "only");
    EXPECT_EQ(list.Prev(), "only");
}

TEST_F(Model, RandomPlaysEveryEntryOnceBeforeRepeating) {
    AddNames({"a", "b", "c", "d", "e", "f", "g"});
    SetRandomSeed(12345);
    for (int round = 0; round < 3; ++round) {
        std::set<std::string> seen;
        for (int i = 0; i < list.Count(); ++i)
            seen.insert(list.Random());
        EXPECT_EQ(static_cast<int>(seen.size()), list.Count()) << "round " << round;
        EXPECT_EQ(view.rows[static_cast<size_t>(list.PositionOf(list.Current()))]->image, 1);
    }
}

TEST_F(Model, RandomStillFindsTheLastUnplayedEntryOfALongList) {
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i)
        names.push_back("n" + std::to_string(i));
    WriteFile(dir / "big.lst", FormatListText(names));
    list.LoadFromFile(dir / "big.lst");
    SetRandomSeed(7);
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i)
        seen.insert(list.Random());
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(RandomGenerator, FollowsTheProgramsSequence) {
    SetRandomSeed(0);
    const int expected[] = {0, 346, 130, 10982, 1090};
    for (int e : expected)
        EXPECT_EQ(RandomDraw(), e);
    SetRandomSeed(0xFFFFFFFFu);
    for (int i = 0; i < 10000; ++i) {
        int r = RandomDraw();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, RandomDrawMax);
    }
}

TEST_F(Model, ByNameComparesTheWholePath) {
    AddNames({"/p/c/a.mp3", "/p/b/z.mp3", "/p/a.mp3"});
    list.Sort(TSortKind::ByName);
    EXPECT_EQ(Names(list), (Strings{"/p/a.mp3", "/p/b/z.mp3", "/p/c/a.mp3"}));
    // Sorting leaves the rows to Relist.
    EXPECT_EQ(view.Captions(), (Strings{"a.mp3", "z.mp3", "a.mp3"}));
    list.Relist();
    view.ExpectMatches(list);
    EXPECT_EQ(view.rows[1]->caption, "z.mp3");
    EXPECT_EQ(view.rowUpdates, 0);
}

TEST_F(Model, ReverseTwiceRestoresAndShuffleKeepsTheEntries) {
    AddNames({"a", "b", "c", "d", "e"});
    list.Sort(TSortKind::Reverse);
    EXPECT_EQ(Names(list), (Strings{"e", "d", "c", "b", "a"}));
    list.Sort(TSortKind::Reverse);
    EXPECT_EQ(Names(list), (Strings{"a", "b", "c", "d", "e"}));
    SetRandomSeed(99);
    list.Sort(TSortKind::Shuffle);
    Strings shuffled = Names(list);
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_EQ(shuffled, (Strings{"a", "b", "c", "d", "e"}));
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_LT(list.Item(i)->SortKey, list.Count());
}

TEST_F(Model, ShuffleOfOneEntryLeavesIt) {
    AddNames({"one"});
    list.Sort(TSortKind::Shuffle);
    EXPECT_EQ(Names(list), (Strings{"one"}));
}

TEST_F(Model, RelistKeepsTheMarkerOnCurrent) {
    AddNames({"a", "b", "c"});
    list.Select(0);
    list.Sort(TSortKind::Reverse);
    list.Relist();
    view.ExpectMatches(list);
    EXPECT_EQ(view.rows[2]->image, 1);
    EXPECT_EQ(view.rows[0]->image, 0);
    EXPECT_EQ(list.Next(), "c"); // position from the new order: wraps to the first
}

TEST_F(Model, MoveTakesOutAndInserts) {
    AddNames({"0", "1", "2", "3", "4"});
    list.Move(1, 3);
    EXPECT_EQ(Names(list), (Strings{"0", "2", "3", "1", "4"}));
    list.Move(4, 0);
    EXPECT_EQ(Names(list), (Strings{"4", "0", "2", "3", "1"}));
    list.Move(0, 9);
    EXPECT_EQ(Names(list), (Strings{"4", "0", "2", "3", "1"}));
}

TEST_F(Model, IndexOfIsExactAndFirst) {
    AddNames({"/a/X.mp3", "/a/x.mp3", "/a/x.mp3"});
    EXPECT_EQ(list.IndexOf("/a/x.mp3"), 1);
    EXPECT_EQ(list.IndexOf("/a/X.MP3"), -1);
    EXPECT_EQ(list.IndexOf("x.mp3"), -1);
}

TEST_F(Model, NestedBatchShowsDashesUntilTheOutermostEnd) {
    list.BeginUpdate();
    list.BeginUpdate();
    EXPECT_EQ(view.countText, "----");
    list.Add(dir / "nothing-here");
    WriteFile(dir / "f.mp3", "x");
    list.Add(dir / "f.mp3");
    list.EndUpdate();
    EXPECT_EQ(view.countText, "----");
    EXPECT_EQ(prevNextUpdates, 0);
    list.EndUpdate();
    EXPECT_EQ(view.countText, "1");
    EXPECT_EQ(prevNextUpdates, 1);
    EXPECT_EQ(list.UpdateCount(), 0);
    list.EndUpdate(); // unbalanced: stays at 0
    EXPECT_EQ(list.UpdateCount(), 0);
}

TEST_F(Model, RemovalsRefreshTheCount) {
    AddNames({"a", "b", "c"});
    list.Select(1);
    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(view.countText, "2");
    EXPECT_EQ(list.Current(), nullptr);
    view.ExpectMatches(list);
    EXPECT_FALSE(list.Remove(5));
    list.Clear();
    EXPECT_EQ(view.countText, "0");
    EXPECT_TRUE(view.rows.empty());
}

TEST_F(Model, ClearListBracketsTheRows) {
    AddNames({"a", "b"});
    list.Select(0);
    list.BeginUpdate();
    list.ClearList();
    EXPECT_EQ(view.countText, "----"); // still inside a batch
    list.EndUpdate();
    EXPECT_EQ(view.rowUpdates, 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Current(), nullptr);
    EXPECT_EQ(view.countText, "0");
}

// List files.

TEST(ListText, LinesEndAtCrLfOrBoth) {
    EXPECT_EQ(ParseListText("a\r\nb\rc\nd"), (Strings{"a", "b", "c", "d"}));
    EXPECT_EQ(ParseListText("a\n\rb"), (Strings{"a", "", "b"}));
    EXPECT_EQ(ParseListText("a\r\r\nb\r\n"), (Strings{"a", "", "b"}));
    EXPECT_EQ(ParseListText("\r\n"), (Strings{""}));
    EXPECT_EQ(ParseListText(""), Strings{});
}

TEST(ListText, StopsAtTheFirstZero) {
    EXPECT_EQ(ParseListText(std::string_view("a\r\nb\0c\r\nd\r\n", 11)), (Strings{"a", "b"}));
    EXPECT_EQ(ParseListText(std::string_view("\0a", 2)), Strings{});
}

TEST(ListText, LinesAreKeptUnchanged) {
    EXPECT_EQ(ParseListText("  spaced  \r\n\ttab"), (Strings{"  spaced  ", "\ttab"}));
}

TEST(ListText, FormatThenParseGivesTheNamesBack) {
    Strings names{"/a/b.mp3", "", "c d.wav", "\xE6\x97\xA5.mp3"};
    std::string text = FormatListText(names);
    EXPECT_EQ(text, "/a/b.mp3\r\n\r\nc d.wav\r\n\xE6\x97\xA5.mp3\r\n");
    EXPECT_EQ(ParseListText(text), names);
    EXPECT_EQ(FormatListText({}), "");
}

TEST_F(Model, ThreeLinesWithEmptyMiddleWithOrWithoutFinalTerminator) {
    WriteFile(dir / "t.lst", "one\r\n\r\nthree\r\n");
    WriteFile(dir / "u.lst", "one\r\n\r\nthree");
    list.LoadFromFile(dir / "t.lst");
    EXPECT_EQ(Names(list), (Strings{"one", "", "three"}));
    list.LoadFromFile(dir / "u.lst"); // appends, does not clear
    EXPECT_EQ(Names(list), (Strings{"one", "", "three", "one", "", "three"}));
    view.ExpectMatches(list);
}

// A list another player wrote: BOM, extended information, CRLF, a blank
// line, names relative to the list's folder, a local file: address and a
// stream the player cannot list.
TEST_F(Model, M3u8ListLoadsItsFilesInOrder) {
    const std::string folder = dir.path().string();
    WriteFile(dir / "book.m3u8", "\xEF\xBB\xBF#EXTM3U\r\n"
                                 "#EXTINF:125,Author - Chapter One\r\n"
                                 "01 one.m4b\r\n"
                                 "\r\n"
                                 "sub/02 \xC3\xA9t\xC3\xA9.opus\r\n"
                                 "  # an indented comment\r\n"
                                 "/abs/03.mp3\r\n"
                                 "http://example.org/live.mp3\r\n"
                                 "file:///music/04%20four.ogg\r\n"
                                 "../05.flac\n");
    testing::internal::CaptureStderr();
    list.BeginUpdate();
    list.LoadFromFile(dir / "book.m3u8");
    list.EndUpdate();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Names(list),
              (Strings{folder + "/01 one.m4b", folder + "/sub/02 \xC3\xA9t\xC3\xA9.opus",
                       "/abs/03.mp3", "/music/04 four.ogg", folder + "/../05.flac"}));
    EXPECT_EQ(view.Captions(), (Strings{"01 one.m4b", "02 \xC3\xA9t\xC3\xA9.opus", "03.mp3",
                                        "04 four.ogg", "05.flac"}));
    view.ExpectMatches(list);
    // One line for the one address left out, naming it.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("http://example.org/live.mp3"), std::string::npos) << said;

    // .m3u without a BOM is UTF-8 too; the extension is matched in any case.
    WriteFile(dir / "OLD.M3U", "#EXTM3U\n\xC3\xA9.mp3\n");
    list.LoadFromFile(dir / "OLD.M3U");
    EXPECT_EQ(list.Item(list.Count() - 1)->FileName, folder + "/\xC3\xA9.mp3");

    // A list of our own format still takes every line as a name.
    WriteFile(dir / "own.lst", "#kept\r\n");
    list.LoadFromFile(dir / "own.lst");
    EXPECT_EQ(list.Item(list.Count() - 1)->FileName, "#kept");
}

TEST(M3uText, AddressesAndOddLines) {
    M3uEntries e = ParseM3uText("file://localhost/a%2Fb%25.mp3\n"
                                "FILE:/short/form.mp3\n"
                                "file:///q.mp3?x=1#frag\n"
                                "file:///bad%zz%4\n"
                                "file://otherhost/x.mp3\n"
                                "file:///nul%00.mp3\n"
                                "file:///two%0Alines.mp3\n"
                                "file:relative.mp3\n"
                                "rtsp://cam/stream\n"
                                "c:/drive.mp3\n"
                                "name:with:colons.mp3\n"
                                "\t spaced.mp3 \t\n"
                                " \t \n",
                                "/lists");
    EXPECT_EQ(e.Files,
              (Strings{"/a/b%.mp3", "/short/form.mp3", "/q.mp3", "/bad%zz%4", "/lists/c:/drive.mp3",
                       "/lists/name:with:colons.mp3", "/lists/spaced.mp3"}));
    EXPECT_EQ(e.Skipped,
              (Strings{"file://otherhost/x.mp3", "file:///nul%00.mp3", "file:///two%0Alines.mp3",
                       "file:relative.mp3", "rtsp://cam/stream"}));
    // Without a folder a relative name stays as written.
    EXPECT_EQ(ParseM3uText("a.mp3\r", "").Files, Strings{"a.mp3"});
    EXPECT_EQ(ParseM3uText("\xEF\xBB\xBF", "/x").Files, Strings{});
    EXPECT_TRUE(IsM3uName("/l/x.M3U8"));
    EXPECT_TRUE(IsM3uName("x.m3u"));
    EXPECT_FALSE(IsM3uName("x.m3u.lst"));
    EXPECT_FALSE(IsM3uName("/m3u/x"));
}

TEST_F(Model, MissingListFileAddsNothing) {
    AddNames({"kept"});
    list.LoadFromFile(dir / "absent.lst");
    list.LoadFromFile(dir.path().string());
    EXPECT_EQ(Names(list), (Strings{"kept"}));
}

TEST_F(Model, SaveWritesCrLfLinesAndEmptyNames) {
    AddNames({"/x/a.mp3", "", "b"});
    list.SaveToFile(dir / "out.lst");
    EXPECT_EQ(ReadFile(dir / "out.lst"), "/x/a.mp3\r\n\r\nb\r\n");
    list.Clear();
    list.SaveToFile(dir / "out.lst");
    EXPECT_EQ(ReadFile(dir / "out.lst"), "");
}

TEST_F(Model, SaveThatCannotCreateTheFileThrowsAndKeepsTheList) {
    AddNames({"a"});
    WriteFile(dir / "plain", "not a folder");
    EXPECT_THROW(list.SaveToFile(dir / "plain/out.lst"), profile::Error);
    EXPECT_EQ(Names(list), (Strings{"a"}));
}

TEST_F(Model, FinishSavesTheDefaultListAndClears) {
    {
        TFileList model(dir / "default.lst");
        FakeView v;
        model.SetView(&v);
        WriteFile(dir / "in.lst", "a\nb\n");
        model.LoadFromFile(dir / "in.lst");
        model.Select(1);
        model.Finish();
        EXPECT_TRUE(v.rows.empty());
        EXPECT_EQ(model.Current(), nullptr);
        model.SetView(nullptr);
    }
    EXPECT_EQ(ReadFile(dir / "default.lst"), "a\r\nb\r\n");
    TFileList again(dir / "default.lst");
    again.LoadFromFile(again.DefaultList());
    EXPECT_EQ(Names(again), (Strings{"a", "b"}));
}

TEST_F(Model, DefaultListThatCannotBeWrittenIsReported) {
    WriteFile(dir / "plain", "x");
    TFileList model(dir / "plain/default.lst");
    std::vector<std::string> shown;
    TFileList::Hooks hooks;
    hooks.ShowError = [&](const std::string& m) { shown.push_back(m); };
    model.SetHooks(hooks);
    model.Finish();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("plain/default.lst"), std::string::npos) << shown[0];
    model.Finish(); // runs once
    EXPECT_EQ(shown.size(), 1u);
}

// A FIFO in place of a list neither hangs the load (at start or through
// Load List) nor is the default list then saved over: the failure is told.
TEST_F(Model, ListThatIsNoRegularFileIsRefusedAtOnceAndKept) {
    const std::string fifo = dir / "default.lst";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TFileList model(fifo);
    std::vector<std::string> shown;
    TFileList::Hooks hooks;
    hooks.ShowError = [&](const std::string& m) { shown.push_back(m); };
    model.SetHooks(hooks);
    bool loaded = true;
    EXPECT_TRUE(zarntest::ReturnsPromptly([&] { loaded = model.LoadFromFile(fifo); }, fifo));
    EXPECT_FALSE(loaded);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(fifo), std::string::npos) << shown[0];
    model.Finish();
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the default list was saved over";
    EXPECT_EQ(shown.size(), 1u);
}

TEST(DefaultList, LivesInTheDataFolder) {
    TempDir home;
    ::setenv("ZARNPLAYER_HOME", home.path().c_str(), 1);
    EXPECT_EQ(FileList().DefaultList(), home / "default.lst");
}

// Adding files and folders.

TEST_F(Model, FolderTakesMediaFilesByExtensionOnly) {
    WriteFile(dir / "f/SONG.MP3", "");
    WriteFile(dir / "f/notes.txt", "");
    WriteFile(dir / "f/noext", "");
    list.BeginUpdate();
    list.Add(dir / "f");
    list.EndUpdate();
    EXPECT_EQ(Names(list), (Strings{dir / "f/SONG.MP3"}));
    list.Add(dir / "f/notes.txt"); // by name: kept whatever its extension
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1)->FileName, dir / "f/notes.txt");
}

TEST_F(Model, FolderWalkIsDepthFirstWithOwnFilesFirst) {
    WriteFile(dir / "top/sub/deep/d.wav", "");
    WriteFile(dir / "top/sub/s.wav", "");
    WriteFile(dir / "top/t.wav", "");
    list.AddFolder(dir / "top/");
    EXPECT_EQ(Names(list),
              (Strings{dir / "top/t.wav", dir / "top/sub/s.wav", dir / "top/sub/deep/d.wav"}));
    EXPECT_GE(pendingEvents, 3); // the windows get a turn in every folder
    view.ExpectMatches(list);
}

TEST_F(Model, FolderNamedLikeMediaIsAnEntryAndIsWalked) {
    WriteFile(dir / "top/album.wav/inner.mp3", "");
    list.AddFolder(dir / "top");
    EXPECT_EQ(Names(list), (Strings{dir / "top/album.wav", dir / "top/album.wav/inner.mp3"}));
}

TEST_F(Model, AClosingProgramEndsTheFolderWalk) {
    for (int i = 0; i < 20; ++i)
        WriteFile(dir / ("top/d" + std::to_string(i) + "/x.mp3"), "");
    TFileList::Hooks hooks;
    hooks.ProcessPendingEvents = [this] {
        // The window is closed while the third folder's turn runs.
        if (++pendingEvents == 3)
            ClosingFlag.store(true);
    };
    list.SetHooks(hooks);
    list.AddFolder(dir / "top");
    ClosingFlag.store(false);
    EXPECT_EQ(pendingEvents, 3) << "no folder is read after the close";
    EXPECT_LE(list.Count(), 2);
}

TEST_F(Model, PipesAndSocketsNamedLikeMediaAreLeftOut) {
    WriteFile(dir / "f/a.mp3", "");
    ASSERT_EQ(::mkfifo((dir / "f/pipe.mp3").c_str(), 0600), 0);
    // A socket file, as a program listening on one leaves it.
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "f/socket.wav";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(s);
    list.AddFolder(dir / "f");
    EXPECT_EQ(Names(list), (Strings{dir / "f/a.mp3"}));
}

TEST_F(Model, PathThatNamesNothingAddsNothing) {
    list.Add(dir / "missing");
    list.Add("");
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(Model, LinkLoopEndsTheWalk) {
    WriteFile(dir / "top/a/x.mp3", "");
    std::filesystem::create_directory_symlink(dir / "top", dir / "top/a/back");
    list.AddFolder(dir / "top");
    EXPECT_EQ(Names(list), (Strings{dir / "top/a/x.mp3"}));
}
