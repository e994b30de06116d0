// Second starts of the real program, without a display: the running player
// plays a long tone, prints its state, and saves its list when it ends.
#include "platform/commatext.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zarntest::Program;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return out;
}

class HandOffProgram : public zarntest::FolderTest {
protected:
    void SetUp() override {
        const char* build = std::getenv("ZARN_BUILD_DIR");
        program = build ? std::string(build) + "/bin/zarnplayer" : "";
        if (program.empty() || !fs::exists(program) ||
            !fs::exists(std::string(build) + "/lib/gstreamer-1.0/libgstzarnaudio.so"))
            GTEST_SKIP() << "the program is not built";
        setenv("ZARNPLAYER_HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("ZARN_AUDIO_DEVICE", "null", 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        std::ofstream(dir + "/zarnplayer.ini") << "[player]\nrepeat=1\n";
        tone = dir + "/tone.mp3";
        ASSERT_TRUE(zarntest::MakeTone(tone, 60, "-ar 44100"));
    }
    void TearDown() override { started.clear(); }

    // Starts the program (in folder, when given) with its output in
    // out<n>.txt and err<n>.txt, n counting the starts from 0.
    Program& Start(const std::vector<std::string>& args, const std::string& folder = {},
                   const Program::Environment& env = {}) {
        const std::string n = std::to_string(started.size());
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        started.push_back(std::make_unique<Program>(argv, env, dir + "/out" + n + ".txt",
                                                    dir + "/err" + n + ".txt", folder));
        return *started.back();
    }
    std::string Out(int n) { return zarntest::ReadAll(dir + "/out" + std::to_string(n) + ".txt"); }
    std::string Err(int n) { return zarntest::ReadAll(dir + "/err" + std::to_string(n) + ".txt"); }
    // Runs a second start to its end; its exit status.
    int Run(const std::vector<std::string>& args, double seconds = 20) {
        return Start(args).Wait(seconds);
    }
    // Waits until the output of start n holds text.
    bool Shows(int n, const std::string& text, std::chrono::seconds limit = 15s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (Out(n).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    // Ends the running player as the desktop would; its saved list.
    std::vector<std::string> End(Program& player) {
        player.Signal(SIGTERM);
        EXPECT_EQ(player.Wait(20), 0);
        return Lines(zarntest::ReadAll(dir + "/default.lst"));
    }

    std::string program;
    std::string tone;
    std::vector<std::unique_ptr<Program>> started;
};

} // namespace

TEST_F(HandOffProgram, ASecondStartRefillsTheListAndPlaysItsFirstName) {
    Program& running = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  ")) << Err(0);
    fs::copy_file(tone, dir + "/a b,c.mp3");
    fs::copy_file(tone, dir + "/d.mp3");
    // Relative names, as a shell in that folder would pass them.
    EXPECT_EQ(Start({"a b,c.mp3", "d.mp3"}, dir).Wait(20), 0) << Err(1);
    EXPECT_TRUE(Shows(0, "hand-off: 2 names"));
    EXPECT_TRUE(Shows(0, "a b,c.mp3  ")) << Out(0);
    EXPECT_FALSE(fs::exists(dir + "/bookmark.txt")) << "the second start wrote no bookmarks";
    EXPECT_FALSE(fs::exists(dir + "/default.lst")) << "nor a list";
    EXPECT_EQ(End(running), (std::vector<std::string>{dir + "/a b,c.mp3", dir + "/d.mp3"}));
    EXPECT_TRUE(fs::exists(dir + "/bookmark.txt")) << "the running player saved its bookmarks";
}

TEST_F(HandOffProgram, ASecondStartWithoutNamesClearsTheListAndTheFileGoesOn) {
    Program& running = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  00:00:01")) << Err(0);
    EXPECT_EQ(Run({}), 0) << Err(1);
    EXPECT_TRUE(Shows(0, "hand-off: 0 names"));
    EXPECT_TRUE(Shows(0, "tone.mp3  00:00:03")) << "still playing:\n" << Out(0);
    EXPECT_EQ(End(running), std::vector<std::string>{});
}

TEST_F(HandOffProgram, TwoSecondStartsAtOnceArriveInTurnAndTheLaterListWins) {
    Program& running = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  ")) << Err(0);
    fs::copy_file(tone, dir + "/one.mp3");
    fs::copy_file(tone, dir + "/two.mp3");
    Program& a = Start({dir + "/one.mp3", dir + "/two.mp3"});
    Program& b = Start({dir + "/two.mp3"});
    EXPECT_EQ(a.Wait(20), 0) << Err(1);
    EXPECT_EQ(b.Wait(20), 0) << Err(2);
    ASSERT_TRUE(Shows(0, "hand-off: 1 name\n"));
    ASSERT_TRUE(Shows(0, "hand-off: 2 names\n"));
    const std::string out = Out(0);
    const bool twoLast = out.rfind("hand-off: 2 names") > out.rfind("hand-off: 1 name\n");
    EXPECT_EQ(End(running), twoLast ? (std::vector<std::string>{dir + "/one.mp3", dir + "/two.mp3"})
                                    : std::vector<std::string>{dir + "/two.mp3"});
}

// The settings folder spelled another way is the same player: the start
// hands over rather than running a second player on the same files.
TEST_F(HandOffProgram, AnotherSpellingOfTheSettingsFolderHandsOver) {
    Program& running = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  ")) << Err(0);
    const std::string spelled =
        "/" + dir.substr(0, dir.rfind('/')) + "//./" + dir.substr(dir.rfind('/') + 1) + "/";
    EXPECT_EQ(Start({tone}, {}, {{"ZARNPLAYER_HOME", spelled}}).Wait(20), 0) << Err(1);
    EXPECT_TRUE(Shows(0, "hand-off: 1 name\n")) << Err(1);
    End(running);
}

// A session bus that accepts and never answers holds up neither the player
// without a display nor the starts after it.
TEST_F(HandOffProgram, ASessionBusThatNeverAnswersHoldsNothingUp) {
    zarntest::SilentBus bus(dir + "/bus");
    ASSERT_TRUE(bus.Listening());
    const Program::Environment hung = {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}};
    Program& running = Start({tone}, {}, hung);
    ASSERT_TRUE(Shows(0, "tone.mp3  ", 10s)) << Err(0);
    EXPECT_EQ(Start({}, {}, hung).Wait(15), 0) << Err(1);
    EXPECT_TRUE(Shows(0, "hand-off: 0 names"));
    End(running);
}

TEST_F(HandOffProgram, AfterAKilledPlayerTheNextStartIsThePlayer) {
    Program& first = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  ")) << Err(0);
    first.Kill();
    Program& next = Start({tone});
    ASSERT_TRUE(Shows(1, "tone.mp3  ")) << "it plays itself:\n" << Err(1);
    EXPECT_EQ(Run({}), 0) << Err(2);
    EXPECT_TRUE(Shows(1, "hand-off: 0 names"));
    End(next);
}

TEST_F(HandOffProgram, ANameListLongerThanTheBlockIsCutToWholeNames) {
    Program& running = Start({tone});
    ASSERT_TRUE(Shows(0, "tone.mp3  ")) << Err(0);
    fs::create_directory(dir + "/many");
    std::vector<std::string> names;
    std::size_t bytes = 0;
    while (bytes < 70000) {
        names.push_back(dir + "/many/" + std::string(90, 'n') + std::to_string(names.size()) +
                        ".mp3");
        std::ofstream(names.back()) << "x";
        bytes += names.back().size() + 1;
    }
    EXPECT_EQ(Run(names), 0) << Err(1);
    EXPECT_NE(Err(1).find("names fit into the hand-off"), std::string::npos) << Err(1);
    ASSERT_TRUE(Shows(0, "hand-off: "));
    const std::vector<std::string> kept = End(running);
    ASSERT_FALSE(kept.empty());
    ASSERT_LT(kept.size(), names.size());
    EXPECT_EQ(kept, std::vector<std::string>(names.begin(), names.begin() + kept.size()));
    EXPECT_LE(CommaText(kept).size(), 65530u);
    std::vector<std::string> oneMore = kept;
    oneMore.push_back(names[kept.size()]);
    EXPECT_GT(CommaText(oneMore).size(), 65530u) << "as many names as fit";
}

// --help and --version answer and end; a running player never hears of them.
TEST_F(HandOffProgram, HelpAndVersionPrintAndNeverHandOff) {
    EXPECT_EQ(Run({"--version"}, 10), 0) << Err(0);
    EXPECT_EQ(Out(0), "zarnplayer ver 0.3.5\n");
    EXPECT_FALSE(fs::exists(dir + "/default.lst")) << "no player was started";

    Program& running = Start({tone});
    ASSERT_TRUE(Shows(1, "tone.mp3  ")) << Err(1);
    EXPECT_EQ(Run({"--help"}, 10), 0) << Err(2);
    const std::string usage = Out(2);
    for (const char* part :
         {"usage: zarnplayer [FILE|FOLDER...]", "--export OUT", "--version", "handed to it",
          "ZARNPLAYER_HOME", "ZARN_AUDIO_DEVICE", "ZARNPLAYER_LOG", "ZARNPLAYER_STATUS"})
        EXPECT_NE(usage.find(part), std::string::npos) << part << " in\n" << usage;
    EXPECT_EQ(Err(2), "");
    EXPECT_EQ(Run({tone, "--version"}, 10), 0) << Err(3);
    EXPECT_EQ(Out(3), "zarnplayer ver 0.3.5\n");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(Out(1).find("hand-off"), std::string::npos) << Out(1);
    EXPECT_EQ(End(running), std::vector<std::string>{tone});
}
