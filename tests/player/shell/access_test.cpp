// The program as a screen reader meets it: under Xvfb with the
// accessibility bus of a private session bus, read through AT-SPI by
// screen_reader.py (pyatspi, as Orca reads a program) and driven by keys
// the X server takes for a keyboard's. Each case skips while a piece is
// missing (./zarn deps installs them).
#include "tests/player/mpris/Process.h"

#include <regex>

namespace fs = std::filesystem;
using namespace zarntest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);)
        lines.push_back(line);
    return lines;
}

class ScreenReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string build = Env("ZARN_BUILD_DIR");
        if (build.empty() || !fs::exists(build + "/bin/zarnplayer"))
            GTEST_SKIP() << "the program is not built";
        for (const char* tool : {"Xvfb", "dbus-daemon", "ffmpeg"})
            if (!Have(tool))
                GTEST_SKIP() << tool << " is not installed";
        if (!fs::exists("/usr/libexec/at-spi-bus-launcher"))
            GTEST_SKIP() << "at-spi2-core is not installed";
        if (Shell("/usr/bin/python3 -c 'import pyatspi' 2>/dev/null") != 0)
            GTEST_SKIP() << "python3-pyatspi is not installed";
        program = build + "/bin/zarnplayer";
        script = Env("ZARN_SOURCE_DIR") + "/tests/player/shell/screen_reader.py";
        char pattern[] = "/tmp/zarn-access-XXXXXX";
        dir = mkdtemp(pattern);
        // A runtime folder of its own: no hand-off to a player running elsewhere.
        fs::create_directory(dir + "/run");
        fs::permissions(dir + "/run", fs::perms::owner_all);
        // Xvfb names the display it took on its standard output.
        xvfb = std::make_unique<Program>(
            std::vector<std::string>{"/usr/bin/env", "Xvfb", "-displayfd", "1", "-screen", "0",
                                     "800x600x24", "-nolisten", "tcp"},
            std::map<std::string, std::string>{}, dir + "/display", dir + "/xvfb-err");
        ASSERT_TRUE(
            WaitFor([this] { return Read(dir + "/display").find('\n') != std::string::npos; }, 15))
            << Read(dir + "/xvfb-err");
        display = ":" + Lines(Read(dir + "/display")).front();
        // The session bus starts the accessibility bus when it is first asked
        // for, with its socket in this test's own folders: tests running side
        // by side must not share (and tear down) one accessibility bus.
        const SessionBus bus = StartSessionBus("XDG_RUNTIME_DIR=" + dir + "/run HOME=" + dir);
        ASSERT_FALSE(bus.address.empty()) << "the session bus did not start";
        address = bus.address;
        busPid = bus.pid;
    }
    void TearDown() override {
        player.reset();
        if (busPid > 0)
            kill(busPid, SIGTERM);
        xvfb.reset();
        if (!dir.empty())
            fs::remove_all(dir);
    }

    std::string Tone(const std::string& name, int seconds) {
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(MakeTone(path, seconds));
        return path;
    }
    // Starts the player with the files and waits until it plays (when it has
    // files) and the reader sees its window.
    void Start(const std::vector<std::string>& files, const std::string& settings) {
        std::ofstream(dir + "/zarnplayer.ini") << settings;
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), files.begin(), files.end());
        player = std::make_unique<Program>(argv,
                                           std::map<std::string, std::string>{
                                               {"DISPLAY", display},
                                               {"DBUS_SESSION_BUS_ADDRESS", address},
                                               {"XDG_RUNTIME_DIR", dir + "/run"},
                                               {"ZARNPLAYER_HOME", dir},
                                               {"ZARNPLAYER_STATUS", "1"},
                                               {"QT_QPA_PLATFORM", "xcb"},
                                               {"QT_ACCESSIBILITY", "1"},
                                               {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                                           },
                                           dir + "/out", dir + "/err");
        if (!files.empty()) {
            ASSERT_TRUE(WaitFor(
                [this] { return Lines(Read(dir + "/out")).size() >= 2 || !player->Running(); }, 20))
                << Read(dir + "/err");
        }
        ASSERT_TRUE(player->Running()) << Read(dir + "/err");
        ASSERT_TRUE(WaitFor([this] { return !Reader("show Position").empty(); }, 20))
            << "the reader does not see the window: " << Reader("unnamed");
    }
    // What the reader says, trailing line ends cut.
    std::string Reader(const std::string& args) {
        return Output("DISPLAY=" + display + " DBUS_SESSION_BUS_ADDRESS='" + address +
                      "' timeout 30 /usr/bin/python3 " + script + " " + args + " 2>&1");
    }
    // role|name|description of the object of that name.
    std::vector<std::string> Object(const std::string& name) {
        std::vector<std::string> parts;
        std::stringstream s(Reader("show '" + name + "'"));
        for (std::string part; std::getline(s, part, '|');)
            parts.push_back(part);
        parts.resize(3);
        return parts;
    }

    std::string dir, program, script, display, address;
    int busPid = -1;
    std::unique_ptr<Program> xvfb, player;
};

} // namespace

TEST_F(ScreenReaderTest, FocusableObjectsAreNamedAndTheSeekBarSaysWhereItIs) {
    Start({Tone("talk.mp3", 30)}, "[player]\nrepeat=0\n");
    const std::vector<std::string> unnamed = Lines(Reader("unnamed"));
    ASSERT_FALSE(unnamed.empty());
    EXPECT_EQ(unnamed.size(), 1u) << Reader("unnamed");
    EXPECT_TRUE(std::regex_match(unnamed.back(), std::regex("checked [1-9][0-9]*")))
        << unnamed.back();

    const std::vector<std::string> seek = Object("Position");
    EXPECT_EQ(seek[0], "slider");
    const std::regex spoken("0:[0-2][0-9] of 0:30");
    EXPECT_TRUE(std::regex_match(seek[2], spoken)) << seek[2];
    // The words follow the playing position.
    EXPECT_TRUE(WaitFor([&] { return Object("Position")[2] != seek[2]; }, 5)) << seek[2];
    EXPECT_TRUE(std::regex_match(Object("Position")[2], spoken));
    EXPECT_EQ(Object("Play")[0], "push button");
    EXPECT_EQ(Object("Volume")[2], "100 percent");
}

TEST_F(ScreenReaderTest, TheSeekBarKeepsQuietWhilePlayingAndASeekSaysWhereItLanded) {
    Start({Tone("talk.mp3", 30)}, "[player]\nrepeat=0\n");
    // A reader speaks each value change of the focused bar: none while it
    // only follows playback.
    EXPECT_EQ(Reader("values 2 Position"), "0");
    // Nor does the bridge complain of it on standard error.
    EXPECT_EQ(Read(dir + "/err").find("qt.accessibility.atspi"), std::string::npos)
        << Read(dir + "/err");
    Reader("start");
    const std::vector<std::string> heard = Lines(Reader("heard 4 Right"));
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const std::string& said) {
        return std::regex_match(said, std::regex("0:[0-2][0-9] of 0:30"));
    })) << heard.size();
}

TEST_F(ScreenReaderTest, TheRateKeyChangesTheRateListsNameAndIsAnnounced) {
    Start({Tone("talk.mp3", 30)}, "[player]\nrepeat=0\nrate=2.6\n");
    // A list's name is its value on this desktop; its description says what it is.
    EXPECT_EQ(Object("2.6"), (std::vector<std::string>{"combo box", "2.6", "rate 2.6"}));
    Reader("start");
    const std::vector<std::string> heard = Lines(Reader("heard 4 Prior"));
    EXPECT_NE(std::find(heard.begin(), heard.end(), "rate 2.8"), heard.end()) << Reader("unnamed");
    EXPECT_EQ(Object("2.8"), (std::vector<std::string>{"combo box", "2.8", "rate 2.8"}));
    EXPECT_TRUE(
        WaitFor([this] { return Read(dir + "/out").find("rate 2.8\n") != std::string::npos; }, 3));
}

TEST_F(ScreenReaderTest, ThePlayListsPlayingRowSaysSoAndRowsMoveByKeys) {
    const std::string first = Tone("first.mp3", 30), second = Tone("second.mp3", 30);
    Start({first, second}, "[player]\nrepeat=0\n");
    // L opens the play list, as its menu item says.
    Reader("key l");
    const auto playing = [this] {
        const std::vector<std::string> cells = Lines(Reader("cells"));
        return std::find(cells.begin(), cells.end(), "first.mp3, playing") != cells.end();
    };
    ASSERT_TRUE(WaitFor(playing, 10)) << Reader("cells") << Reader("unnamed");
    const std::vector<std::string> cells = Lines(Reader("cells"));
    EXPECT_EQ(std::count_if(cells.begin(), cells.end(),
                            [](const std::string& c) {
                                return c.size() > 9 && c.substr(c.size() - 9) == ", playing";
                            }),
              1)
        << Reader("cells");

    // Every control of the play list window is named too.
    const std::vector<std::string> unnamed = Lines(Reader("unnamed"));
    EXPECT_EQ(unnamed.size(), 1u) << Reader("unnamed");

    // In the list: End chooses the last row, Ctrl+Up moves it above the first.
    Reader("key End '' 'first.mp3, playing'");
    Reader("key Up ctrl 'first.mp3, playing'");
    const auto moved = [this] {
        const std::vector<std::string> now = Lines(Reader("cells"));
        const auto at = [&](const std::string& name) {
            return std::find(now.begin(), now.end(), name) - now.begin();
        };
        return at("second.mp3") < at("first.mp3, playing");
    };
    EXPECT_TRUE(WaitFor(moved, 5)) << Reader("cells") << Reader("focused");
}

// While a reader listens, Qt holds each key for it and posts it again after:
// the Alt of Alt+O comes back once O has opened the menu.
TEST_F(ScreenReaderTest, AMenuOpenedByAltAndItsLetterStaysOpenAndReadsItsItems) {
    Start({Tone("talk.mp3", 30)}, "[player]\nrepeat=0\n");
    Reader("start");
    EXPECT_EQ(Reader("lastfocus 2 alt+o"), "menu item 'Option...'");
    EXPECT_EQ(Reader("lastfocus 2 Down"), "menu item 'Resume'");
    Reader("keys Escape Escape");
    // O in the open menu is its item's: the options come up.
    EXPECT_EQ(Reader("lastfocus 3 alt+o o"), "page tab list 'Options'");
    EXPECT_TRUE(WaitFor(
        [this] { return Reader("focused").find("dialog 'Option - ") != std::string::npos; }, 5))
        << Reader("focused");
    EXPECT_EQ(Read(dir + "/err").find("Cannot create accessible"), std::string::npos)
        << Read(dir + "/err");
}

TEST_F(ScreenReaderTest, OpenPlayRateListMoveAndCloseWithKeysAlone) {
    Tone("first.mp3", 30);
    Tone("second.mp3", 30);
    Start({}, "[player]\nrepeat=0\nrate=2.6\n");
    // The desktop gives a started program the focus; from here on only keys.
    Reader("start");
    const auto focused = [this](const std::string& what) {
        return WaitFor([&] { return Reader("focused").find(what) != std::string::npos; }, 5);
    };
    // The status lines: "NAME  ELAPSED / LENGTH  rate R", once a second.
    const auto status = [this] {
        const std::vector<std::string> lines = Lines(Read(dir + "/out"));
        return lines.empty() ? std::string() : lines.back();
    };

    // O opens the file dialog with the focus in its name field: the folder,
    // then both names.
    Reader("keys o");
    ASSERT_TRUE(focused("dialog 'Open'")) << Reader("focused");
    Reader("keys 'text:" + dir + "' Return 'text:\"first.mp3\" \"second.mp3\"' Return");
    ASSERT_TRUE(WaitFor([&] { return status().rfind("first.mp3  ", 0) == 0; }, 10))
        << status() << Read(dir + "/err");
    EXPECT_TRUE(focused("frame 'zarnplayer"))
        << "the focus did not come back: " << Reader("focused");

    // Space pauses (the clock stands) and plays again (it runs).
    Reader("keys space");
    std::string held;
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string now = status();
            const bool same = now == held;
            held = now;
            return same && Lines(Read(dir + "/out")).size() > 2;
        },
        5))
        << status();
    Reader("keys space");
    EXPECT_TRUE(WaitFor([&] { return status() != held; }, 5)) << status();

    // Page Up raises the rate one step.
    Reader("keys Prior");
    EXPECT_TRUE(WaitFor([&] { return status().find("rate 2.8") != std::string::npos; }, 5))
        << status();

    // L opens the play list as a window of its own, with the keys in its
    // list, and a reader comes to rest on the playing row.
    EXPECT_EQ(Reader("lastfocus 4 l"), "table cell 'first.mp3, playing'");
    ASSERT_TRUE(focused("table cell")) << Reader("focused");
    EXPECT_TRUE(focused("frame 'PlayList")) << Reader("focused");
    // End, then Ctrl+Up: the last row moves above the first, and says so.
    Reader("keys End");
    const std::vector<std::string> heard = Lines(Reader("heard 4 ctrl+Up"));
    EXPECT_NE(std::find(heard.begin(), heard.end(), "second.mp3 moved to row 1 of 2"), heard.end())
        << heard.size();
    const auto order = [this] {
        std::string names;
        for (const std::string& cell : Lines(Reader("cells")))
            if (cell.find(".mp3") != std::string::npos)
                names += cell + "; ";
        return names;
    };
    EXPECT_TRUE(WaitFor([&] { return order() == "second.mp3; first.mp3, playing; "; }, 5))
        << order();

    // L in the list closes it and the keys go back to the main window,
    // where Q ends the program with what was done kept.
    Reader("keys l");
    ASSERT_TRUE(focused("slider 'Position'")) << Reader("focused");
    Reader("keys q");
    EXPECT_EQ(player->Wait(15), 0) << Read(dir + "/err");
    EXPECT_NE(Read(dir + "/zarnplayer.ini").find("rate=2.8\n"), std::string::npos);
    const std::string list = Read(dir + "/default.lst");
    EXPECT_LT(list.find("second.mp3"), list.find("first.mp3")) << list;
}
