// The player on a private session bus that each case starts and stops by
// its process id, driven by the desktop's own client and dbus-send, as a
// media key or a desktop widget would.
#include "Process.h"
#include "tests/CommaLocale.h"
#include "tests/player/mediainfo/MadeMedia.h"

#include <algorithm>
#include <regex>
#include <set>

namespace fs = std::filesystem;
using namespace zarntest;

namespace {

constexpr const char* Dest = "org.mpris.MediaPlayer2.zarnplayer";

class MprisTest : public FolderTest {
protected:
    void SetUp() override {
        const std::string build = Env("ZARN_BUILD_DIR");
        if (build.empty() || !fs::exists(build + "/bin/zarnplayer"))
            GTEST_SKIP() << "the program is not built";
        if (!Have("playerctl"))
            GTEST_SKIP() << "playerctl is not installed (./zarn deps installs it)";
        if (!Have("dbus-daemon") || !Have("dbus-send"))
            GTEST_SKIP() << "dbus-daemon or dbus-send is not installed";
        program = build + "/bin/zarnplayer";
        const SessionBus bus = StartSessionBus();
        ASSERT_FALSE(bus.address.empty()) << "the session bus did not start";
        address = bus.address;
        busPid = bus.pid;
        std::ofstream(dir + "/zarnplayer.ini") << "[player]\nrepeat=0\n";
    }
    void TearDown() override {
        player.reset();
        StopBus();
    }
    void StopBus() {
        if (busPid > 0)
            kill(busPid, SIGTERM);
        busPid = -1;
    }

    std::string Tone(const std::string& name, int seconds, const std::string& title) {
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(MakeTone(path, seconds, "-metadata title=" + title));
        return path;
    }
    void Start(const std::vector<std::string>& files, std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), files.begin(), files.end());
        env["DBUS_SESSION_BUS_ADDRESS"] = address;
        env["ZARNPLAYER_HOME"] = dir;
        player = std::make_unique<Program>(argv, env, dir + "/out", dir + "/err");
        ASSERT_TRUE(WaitFor([this] { return Ctl("status") == "Playing"; }, 15))
            << Read(dir + "/err");
    }
    std::string Ctl(const std::string& args) {
        return Output("DBUS_SESSION_BUS_ADDRESS='" + address + "' playerctl -p zarnplayer " + args +
                      " 2>/dev/null");
    }
    std::string Bus(const std::string& method, const std::string& args) {
        return Output("DBUS_SESSION_BUS_ADDRESS='" + address +
                      "' dbus-send --session --print-reply " + "--dest=" + Dest +
                      " /org/mpris/MediaPlayer2 " + method + " " + args + " 2>&1");
    }
    std::string Get(const std::string& interface, const std::string& name) {
        return Bus("org.freedesktop.DBus.Properties.Get",
                   "string:" + interface + " string:" + name);
    }
    std::string Rate() { return Get("org.mpris.MediaPlayer2.Player", "Rate"); }
    void SetRate(const std::string& value) {
        Bus("org.freedesktop.DBus.Properties.Set",
            "string:org.mpris.MediaPlayer2.Player string:Rate variant:double:" + value);
    }
    double Position() { return std::atof(Ctl("position").c_str()); }

    std::string program, address;
    int busPid = -1;
    std::unique_ptr<Program> player;
};

TEST_F(MprisTest, TransportPositionAndTrackActOnThePlayerAndAreAnnounced) {
    const std::string first = Tone("first.mp3", 30, "Alpha");
    const std::string second = Tone("second.mp3", 30, "Beta");
    // What a desktop widget hears of the player.
    const std::string signals = dir + "/signals";
    Program monitor({"/usr/bin/env", "dbus-monitor", "--address", address,
                     "type='signal',member='PropertiesChanged'", "type='signal',member='Seeked'"},
                    {}, signals, dir + "/monitor-err");
    Start({first, second});

    // The play list entry's title, once the tags have been read.
    EXPECT_TRUE(
        WaitFor([this] { return Ctl("metadata title").find("Alpha") != std::string::npos; }, 10))
        << Ctl("metadata");
    EXPECT_EQ(Ctl("metadata xesam:url"), "file://" + first);
    const long long length = std::atoll(Ctl("metadata mpris:length").c_str());
    EXPECT_NEAR(length / 1e6, 30.0, 0.5);
    EXPECT_NE(Get("org.mpris.MediaPlayer2.Player", "CanGoNext").find("boolean true"),
              std::string::npos);

    Ctl("play-pause");
    EXPECT_TRUE(WaitFor([this] { return Ctl("status") == "Paused"; }, 1.5));
    Ctl("play-pause");
    EXPECT_TRUE(WaitFor([this] { return Ctl("status") == "Playing"; }, 1.5));

    Ctl("position 10");
    EXPECT_TRUE(WaitFor([this] { return Position() >= 10.0 && Position() < 12.0; }, 2))
        << Position();
    // The player's own time display follows.
    EXPECT_TRUE(
        WaitFor([this] { return Read(dir + "/out").find("00:00:1") != std::string::npos; }, 3));

    Ctl("next");
    EXPECT_TRUE(
        WaitFor([this] { return Ctl("metadata title").find("Beta") != std::string::npos; }, 10))
        << Ctl("metadata");
    EXPECT_EQ(Ctl("metadata xesam:url"), "file://" + second);
    EXPECT_LT(Position(), 5.0);

    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const std::string heard = Read(signals);
    EXPECT_NE(heard.find("member=Seeked"), std::string::npos) << heard;
    EXPECT_NE(heard.find("\"PlaybackStatus\""), std::string::npos) << heard;
    EXPECT_NE(heard.find("string \"Paused\""), std::string::npos) << heard;
    EXPECT_NE(heard.find("\"Metadata\""), std::string::npos) << heard;
    EXPECT_NE(heard.find("second.mp3"), std::string::npos) << heard;
}

// The chapter rides in the comment; the title stays the file's, and a seek
// into the next chapter is announced as changed metadata.
TEST_F(MprisTest, TheCurrentChapterIsInTheMetadata) {
    const std::string book = testmedia::ToneWithChapters(
        "mpris", "book.mp3", {{0, "Opening"}, {4000, "Chapter two"}, {8000, "Ending"}}, 20000,
        {"-c:a", "libmp3lame", "-metadata", "title=Book"});
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    Start({book});
    EXPECT_TRUE(WaitFor([this] { return Ctl("metadata xesam:comment") == "Opening 1/3"; }, 5))
        << Ctl("metadata");
    Ctl("position 9");
    EXPECT_TRUE(WaitFor([this] { return Ctl("metadata xesam:comment") == "Ending 3/3"; }, 3))
        << Ctl("metadata");
    // As the play list shows the file: its tag title, never the chapter.
    EXPECT_TRUE(WaitFor(
        [this] {
            const std::string title = Ctl("metadata title");
            return title.find("Book") != std::string::npos &&
                   title.find("Ending") == std::string::npos;
        },
        5))
        << Ctl("metadata");
}

TEST_F(MprisTest, RateSnapsToTheRateListAndZeroPauses) {
    Start({Tone("one.mp3", 30, "Solo")});
    // One entry: nothing to go to.
    EXPECT_NE(Get("org.mpris.MediaPlayer2.Player", "CanGoNext").find("boolean false"),
              std::string::npos);
    EXPECT_NE(Get("org.mpris.MediaPlayer2.Player", "MinimumRate").find("double 1"),
              std::string::npos);
    EXPECT_NE(Get("org.mpris.MediaPlayer2.Player", "MaximumRate").find("double 4"),
              std::string::npos);

    SetRate("2.27");
    EXPECT_NE(Rate().find("double 2.2"), std::string::npos) << Rate();
    // The rate list shows it: the status lines print the chosen rate.
    EXPECT_TRUE(
        WaitFor([this] { return Read(dir + "/out").find("rate 2.2\n") != std::string::npos; }, 3))
        << Read(dir + "/out");
    SetRate("9.5");
    EXPECT_NE(Rate().find("double 4"), std::string::npos) << Rate();
    SetRate("0.4");
    EXPECT_NE(Rate().find("double 1"), std::string::npos) << Rate();
    EXPECT_EQ(Ctl("status"), "Playing");
    SetRate("0.0");
    EXPECT_TRUE(WaitFor([this] { return Ctl("status") == "Paused"; }, 1.5));
    EXPECT_NE(Rate().find("double 1"), std::string::npos) << Rate();
}

// Under a decimal-comma locale the rates read and answer as under any other.
TEST_F(MprisTest, RatesReadTheSameUnderADecimalCommaLocale) {
    ASSERT_FALSE(CommaLocaleDir().empty())
        << "de_DE.UTF-8 could not be generated (package locales)";
    std::ofstream(dir + "/zarnplayer.ini") << "[player]\nrepeat=0\nrate=1.5\n";
    Start({Tone("one.mp3", 30, "Solo")},
          {{"LOCPATH", CommaLocaleDir()}, {"LC_ALL", CommaLocaleName}, {"LANG", CommaLocaleName}});
    EXPECT_NE(Rate().find("double 1.5"), std::string::npos) << Rate();
    SetRate("2.6");
    EXPECT_NE(Rate().find("double 2.6"), std::string::npos) << Rate();
    EXPECT_TRUE(
        WaitFor([this] { return Read(dir + "/out").find("rate 2.6\n") != std::string::npos; }, 3))
        << Read(dir + "/out");
}

TEST_F(MprisTest, RootInterfaceNamesTheLauncherAndItsFileTypes) {
    Start({Tone("one.mp3", 30, "Solo")});
    const std::string root = "org.mpris.MediaPlayer2";
    EXPECT_NE(Get(root, "Identity").find("\"zarnplayer\""), std::string::npos);
    EXPECT_NE(Get(root, "DesktopEntry").find("\"org.zarnplayer.Player\""), std::string::npos);
    EXPECT_TRUE(fs::exists(Env("ZARN_SOURCE_DIR") + "/data/org.zarnplayer.Player.desktop.in"));

    // The types the player announces are the launcher entry's, one for one.
    const std::string entry =
        Read(Env("ZARN_SOURCE_DIR") + "/data/org.zarnplayer.Player.desktop.in");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(entry, m, std::regex("MimeType=([^\n]*)")));
    std::set<std::string> listed;
    std::stringstream types(m[1].str());
    for (std::string t; std::getline(types, t, ';');)
        if (!t.empty())
            listed.insert(t);
    std::set<std::string> announced;
    const std::string reply = Get(root, "SupportedMimeTypes");
    const std::regex quoted("string \"([^\"]+)\"");
    for (auto it = std::sregex_iterator(reply.begin(), reply.end(), quoted);
         it != std::sregex_iterator(); ++it)
        announced.insert((*it)[1].str());
    EXPECT_EQ(announced, listed) << reply;
    EXPECT_TRUE(announced.count("audio/mpeg"));

    Bus("org.mpris.MediaPlayer2.Quit", "");
    EXPECT_EQ(player->Wait(10), 0);
}

TEST_F(MprisTest, SurvivesTheBusGoingAway) {
    Start({Tone("one.mp3", 30, "Solo")});
    StopBus();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(player->Running()) << Read(dir + "/err");
    const size_t before = Read(dir + "/out").size();
    EXPECT_TRUE(WaitFor([&] { return Read(dir + "/out").size() > before; }, 3))
        << "the player stopped printing its state";
    player->Signal(SIGTERM);
    EXPECT_EQ(player->Wait(10), 0) << Read(dir + "/err");
}

TEST_F(MprisTest, WithoutASessionBusThePlayerPlaysAndSaysNothing) {
    const std::string file = Tone("short.mp3", 2, "Short");
    const std::string runtime = dir + "/runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    Program lonely({program, file},
                   {{"DBUS_SESSION_BUS_ADDRESS", ""},
                    {"DISPLAY", ""},
                    {"XDG_RUNTIME_DIR", runtime},
                    {"ZARNPLAYER_HOME", dir}},
                   dir + "/out", dir + "/err");
    EXPECT_EQ(lonely.Wait(20), 0);
    EXPECT_NE(Read(dir + "/out").find("short.mp3"), std::string::npos) << Read(dir + "/out");
    EXPECT_EQ(Read(dir + "/err"), "");
}

} // namespace
