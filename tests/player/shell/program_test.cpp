// The program itself with the real engine and renderer: under Xvfb with a
// window, and without a display. Sound goes to a WAV file, media is made
// with ffmpeg, and a screenshot of the window is kept as an artifact.
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// What must exist before the program can play; empty when all is there.
std::string MissingPiece() {
    const std::string build = Env("ZARN_BUILD_DIR");
    if (build.empty())
        return "ZARN_BUILD_DIR is not set";
    for (const char* part :
         {"/bin/zarnplayer", "/lib/libzarnengine.so", "/lib/gstreamer-1.0/libgstzarnaudio.so"})
        if (!fs::exists(build + part))
            return build + part + " is not built yet";
    return {};
}

int Shell(const std::string& script) {
    const int status = std::system(("bash -c '" + script + "'").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProgramTest : public zarntest::FolderTest {
protected:
    void SetUp() override {
        if (std::string missing = MissingPiece(); !missing.empty())
            GTEST_SKIP() << "the program cannot play yet: " << missing;
        program = Env("ZARN_BUILD_DIR") + "/bin/zarnplayer";
    }

    // A tone of the given length as MP3.
    std::string Tone(const std::string& name, int seconds) {
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(zarntest::MakeTone(path, seconds, "-ar 44100"));
        return path;
    }
    void Settings(const std::string& text) { std::ofstream(dir + "/zarnplayer.ini") << text; }
    std::string Ini(const char* key) {
        std::smatch m;
        const std::string ini = Read(dir + "/zarnplayer.ini");
        const std::regex re(std::string("(^|\n)") + key + "=([^\r\n]*)", std::regex::icase);
        return std::regex_search(ini, m, re) ? m[2].str() : "<missing>";
    }
    // The environment of one run: the test's own home and sound file.
    std::string Home() {
        return "export ZARNPLAYER_HOME=" + dir + " ZARN_AUDIO_DEVICE=wav:" + dir + "/out.wav; ";
    }

    std::string program;
};

// The distinct elapsed times the status lines show.
std::set<std::string> Times(const std::string& out, const std::string& file) {
    std::set<std::string> times;
    const std::regex line(file + "  ([0-9]{2}:[0-9]{2}:[0-9]{2}) / [0-9:]+  rate ([0-9.]+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
         ++it)
        times.insert((*it)[1].str());
    return times;
}

} // namespace

TEST_F(ProgramTest, PlaysAFileInAWindowAtTheStoredRate) {
    const std::string file = Tone("lecture.mp3", 20);
    Settings("[player]\nrate=2.0\nresume=1\n");
    const std::string artifacts = Env("ZARN_BUILD_DIR") + "/test-artifacts";
    fs::create_directories(artifacts);
    const std::string shot = artifacts + "/zarnplayer-window.png";
    fs::remove(shot);
    // The program under Xvfb; once it plays, the screen is captured and the
    // program is ended as the desktop session would end it.
    const std::string script =
        Home() +
        "export QT_QPA_PLATFORM=xcb ZARNPLAYER_STATUS=1; "
        "xvfb-run -a -s \"-screen 0 640x480x24\" bash -c \"" +
        program + " " + file + " > " + dir + "/out.txt 2> " + dir +
        "/err.txt & pid=\\$!; "
        // Until three status lines show it playing (a loaded machine starts slowly).
        "for i in \\$(seq 150); do [ \\$(grep -c rate " +
        dir +
        "/out.txt) -ge 3 ] && break; sleep 0.2; done; "
        "ffmpeg -v error -f x11grab -video_size 640x480 -i \\$DISPLAY -frames:v 1 -y " +
        shot + "; kill -TERM \\$pid; wait \\$pid\"";
    const int status = Shell(script);
    const std::string out = Read(dir + "/out.txt");
    EXPECT_EQ(status, 0) << Read(dir + "/err.txt");
    const auto times = Times(out, "lecture.mp3");
    EXPECT_GE(times.size(), 2u) << "the time advances:\n" << out;
    EXPECT_NE(out.find("rate 2.0"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(shot) && fs::file_size(shot) > 0) << "screenshot " << shot;
    // Ended by the signal: the close path wrote the resume record.
    EXPECT_EQ(Ini("resume_file"), file);
    EXPECT_EQ(Ini("resume_status"), "3");
    EXPECT_EQ(Ini("rate"), "2.0");
}

TEST_F(ProgramTest, WithoutADisplayPlaysToTheEndAndExits) {
    const std::string file = Tone("short.mp3", 2);
    Settings("[player]\nrepeat=0\n");
    const std::string script = Home() +
                               "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; "
                               "timeout 30 " +
                               program + " " + file + " > " + dir + "/out.txt 2> " + dir +
                               "/err.txt";
    const int status = Shell(script);
    EXPECT_EQ(status, 0) << Read(dir + "/err.txt");
    EXPECT_FALSE(Times(Read(dir + "/out.txt"), "short.mp3").empty()) << Read(dir + "/out.txt");
    EXPECT_GT(fs::file_size(dir + "/out.wav"), 44u) << "sound reached the device";
    EXPECT_EQ(Read(dir + "/default.lst"), file + "\r\n");
}

// Without a display a failure is said on standard error; the exit status is
// 1 when nothing could be played, and a list goes on past what cannot be.
TEST_F(ProgramTest, WithoutADisplayFailuresAreSaidAndTheListGoesOn) {
    Settings("[player]\nrepeat=0\n");
    const std::string damaged = dir + "/damaged.mp3";
    {
        std::ofstream out(damaged);
        for (int i = 0; i < 2000; ++i)
            out << "not a sound at all\n";
    }
    fs::create_directory(dir + "/empty");
    auto run = [&](const std::string& args) {
        return Shell("export ZARNPLAYER_HOME=" + dir +
                     " ZARN_AUDIO_DEVICE=null; unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; "
                     "timeout 30 " +
                     program + " " + args + " > " + dir + "/out.txt 2> " + dir + "/err.txt");
    };

    EXPECT_EQ(run(dir + "/missing.mp3"), 1);
    EXPECT_NE(Read(dir + "/err.txt")
                  .find("cannot play " + dir + "/missing.mp3: there is no such file or folder"),
              std::string::npos)
        << Read(dir + "/err.txt");

    EXPECT_EQ(run(dir + "/empty"), 1);
    EXPECT_NE(Read(dir + "/err.txt").find(dir + "/empty: the folder holds no media files"),
              std::string::npos)
        << Read(dir + "/err.txt");

    EXPECT_EQ(run(damaged), 1);
    EXPECT_NE(Read(dir + "/err.txt").find("cannot play " + damaged + ": the file is damaged"),
              std::string::npos)
        << Read(dir + "/err.txt");

    const std::string good = Tone("good.mp3", 2);
    EXPECT_EQ(run(damaged + " " + good), 0) << Read(dir + "/err.txt");
    EXPECT_NE(Read(dir + "/err.txt").find("cannot play " + damaged), std::string::npos)
        << Read(dir + "/err.txt");
    EXPECT_FALSE(Times(Read(dir + "/out.txt"), "good.mp3").empty()) << Read(dir + "/out.txt");
}

TEST_F(ProgramTest, InterruptEndsRepeatingPlaybackCleanly) {
    const std::string file = Tone("loop.mp3", 2);
    Settings("[player]\nrepeat=1\nresume=1\n");
    // Interrupted just after a repeat has started the file again (three
    // status lines, the last at its start), well away from the next end.
    const std::string out = dir + "/out.txt";
    const std::string script =
        Home() + "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; " + program + " " + file + " > " +
        out + " 2> " + dir + "/err.txt & pid=$!; for i in $(seq 300); do " +
        "[ $(grep -c loop.mp3 " + out + ") -ge 3 ] && tail -n 1 " + out +
        " | grep -q 00:00:00 && break; sleep 0.1; done; kill -INT $pid; wait $pid";
    const int status = Shell(script);
    EXPECT_EQ(status, 0) << Read(dir + "/err.txt");
    EXPECT_EQ(Ini("resume_file"), file) << "repeat kept it playing until the interrupt";
    EXPECT_EQ(Ini("repeat"), "1");
}

// Closed while its first folder scan lets events run: the program ends then,
// plays nothing, and saves its list once.
TEST_F(ProgramTest, ACloseDuringTheFirstFolderScanEndsTheProgram) {
    // A long file first in the list, then many folders, each one a turn for
    // the window's events while the scan runs.
    const std::string tree = dir + "/tree";
    fs::create_directories(tree);
    Tone("tree/long.mp3", 60);
    constexpr int Groups = 40;
    for (int i = 0; i < Groups * 100; ++i)
        fs::create_directories(tree + "/g" + std::to_string(i % Groups) + "/f" + std::to_string(i));
    Settings("[player]\nrepeat=0\nresume=1\n");

    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    for (int g = 0; g < Groups; ++g)
        inotify_add_watch(watch, (tree + "/g" + std::to_string(g)).c_str(), IN_OPEN);
    const int saves = inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO);

    zarntest::Program player({program, tree},
                             {{"ZARNPLAYER_HOME", dir},
                              {"ZARN_AUDIO_DEVICE", "wav:" + dir + "/out.wav"},
                              {"DISPLAY", ""},
                              {"WAYLAND_DISPLAY", ""},
                              {"QT_QPA_PLATFORM", ""}},
                             dir + "/out.txt", dir + "/err.txt");
    ASSERT_TRUE(player.Running()) << "the program ended at once: " << Read(dir + "/err.txt");

    // The watch's events, counted: group folders read, list files saved.
    int opened = 0, listSaves = 0;
    auto drain = [&](int waitMs) {
        pollfd p = {watch, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0)
            return;
        alignas(inotify_event) char buffer[65536];
        const ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; n > 0 && at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->wd == saves) {
                if (e->len && std::strcmp(e->name, "default.lst") == 0)
                    ++listSaves;
            } else if ((e->mask & IN_OPEN) && e->len == 0) {
                ++opened; // the group folder itself, not one inside it
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    };
    const auto scanDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (opened < 4 && std::chrono::steady_clock::now() < scanDeadline)
        drain(100);
    ASSERT_GE(opened, 4) << "the scan never began: " << Read(dir + "/err.txt");
    // The close the end of the desktop session sends, during the scan.
    player.Signal(SIGTERM);

    bool ended = false;
    const auto exitDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(ended = !player.Running()) && std::chrono::steady_clock::now() < exitDeadline)
        drain(20);
    const int status = player.Wait(0);
    drain(0);
    close(watch);
    ASSERT_TRUE(ended) << "the program lived on after its window closed";
    EXPECT_EQ(status, 0) << Read(dir + "/err.txt");
    EXPECT_LT(opened, Groups) << "the scan went on after the close";
    EXPECT_FALSE(fs::exists(dir + "/out.wav") && fs::file_size(dir + "/out.wav") > 44)
        << "it started playing after the close";
    EXPECT_EQ(listSaves, 1) << "the list is saved once";
    EXPECT_EQ(Ini("resume_file"), "") << "nothing played: no resume point";
    EXPECT_EQ(Ini("resume_status"), "0");
}
