// The export command end to end: media made here, exported through the
// renderer, decoded back and measured.
#include "player/export/Formats.h"
#include "tests/support/Files.h"
#include "tests/support/Loudness.h"
#include "tests/support/Process.h"
#include "tools.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using namespace exporttest;

namespace {

class Export : public zarntest::FolderTest {
protected:
    // The stored settings the command reads its defaults from.
    void SetUp() override { fs::create_directories(home); }

    // A tone, or a tone with a pause, made by ffmpeg with title and artist.
    std::string Tone(const std::string& name, double seconds, const std::string& expr = "",
                     int channels = 2) {
        const std::string path = dir + "/" + name;
        const std::string wave = expr.empty() ? "0.5*sin(2*PI*440*t)" : expr;
        const std::string cmd =
            "ffmpeg -v error -y -f lavfi -i " +
            Quote("aevalsrc=" + wave + ":s=44100:d=" + std::to_string(seconds)) + " -ac " +
            std::to_string(channels) +
            " -metadata title='Lecture One' -metadata artist='A. Speaker' " + Quote(path);
        EXPECT_EQ(Shell(cmd), 0) << cmd;
        return path;
    }
    Result Run(std::vector<std::string> args, std::vector<std::string> env = {}) {
        env.push_back("ZARNPLAYER_HOME=" + home);
        env.push_back("TMPDIR=" + dir);
        return exporttest::Export(args, env);
    }
    // The capture folders the command makes in TMPDIR are gone afterwards.
    void ExpectNoCaptureLeft() {
        for (const std::string& n : List(dir))
            EXPECT_EQ(n.rfind("zarnplayer-export-", 0), std::string::npos) << n;
    }
    // How many exports in TMPDIR have begun to capture.
    int Capturing() {
        int n = 0;
        for (const std::string& name : List(dir))
            if (name.rfind("zarnplayer-export-", 0) == 0 &&
                Exists(dir + "/" + name + "/capture.wav"))
                ++n;
        return n;
    }
    // An export of a pipe: some seconds of sound under a header of unknown
    // length, as a live writer sends it, then the writer holds the pipe
    // open. Returns the writing end once `capturing` exports capture.
    int FeedLive(const std::string& pipe, int capturing, int seconds = 2) {
        // Opening waits for the reader; never longer than the test may take.
        int fd = -1;
        for (int i = 0; i < 400 && fd < 0; ++i) {
            fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        EXPECT_GE(fd, 0) << "the command never opened its input";
        if (fd < 0)
            return fd;
        fcntl(fd, F_SETFL, 0);
        // The command must keep its reader from the first open on: a writer
        // that finds none is told so (EPIPE here instead of being killed).
        signal(SIGPIPE, SIG_IGN);
        const std::string head = dir + "/head" + std::to_string(seconds) + ".wav";
        if (!Exists(head)) {
            EXPECT_EQ(Shell("ffmpeg -v error -f lavfi -i sine=f=440:d=" + std::to_string(seconds) +
                            ":r=44100 -ac 2 -f wav - | cat >" + Quote(head)),
                      0);
        }
        const std::string bytes = ReadFile(head);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()))
            << std::strerror(errno);
        // Wait until the renderer captures, i.e. the export is under way.
        for (int i = 0; i < 200 && Capturing() < capturing; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        EXPECT_EQ(Capturing(), capturing);
        return fd;
    }

    const std::string home = dir + "/home";
};

TEST_F(Export, RateTwoHalvesTheLengthAndKeepsThePitchRateFourQuarters) {
    const std::string in = Tone("tone.wav", 10);
    for (double rate : {2.0, 4.0}) {
        const std::string out = dir + "/out" + std::to_string(static_cast<int>(rate)) + ".wav";
        char text[8];
        std::snprintf(text, sizeof text, "%.1f", rate);
        // At its own level: the tail is compared with the input's.
        Result r = Run({out, "--rate", text, "--level", "off", in});
        ASSERT_EQ(r.status, 0) << r.err;
        Decoded d = Decode(out);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_NEAR(d.Seconds(), 10.0 / rate, 0.01 * 10.0 / rate) << "rate " << rate;
        EXPECT_NEAR(ToneFrequency(d, 0.2, d.Seconds() - 0.2), 440.0, 440.0 * 0.02);
        // The tail is there: the tone goes on to the end of the file.
        float tail = 0;
        for (std::size_t i = d.samples.size() - d.rate / 20; i < d.samples.size(); ++i)
            tail = std::max(tail, std::fabs(d.samples[i]));
        EXPECT_GT(tail, 0.3f);
    }
    ExpectNoCaptureLeft();
}

TEST_F(Export, SkipSilenceRacesThroughThePauseAndTheStoredRateIsTheDefault) {
    const std::string in =
        Tone("pause.wav", 15, "if(between(t\\,5\\,10)\\,0\\,0.5*sin(2*PI*440*t))", 1);
    Result plain = Run({dir + "/plain.wav", "--rate", "1.0", in});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NEAR(Decode(dir + "/plain.wav").Seconds(), 15.0, 0.15);

    Result skip = Run({dir + "/skip.wav", "--rate", "1.0", "--skip-silence", in});
    ASSERT_EQ(skip.status, 0) << skip.err;
    EXPECT_NEAR(Decode(dir + "/skip.wav").Seconds(), 10.5, 0.3);

    // Without --rate and --skip-silence: what the player has stored.
    std::ofstream(home + "/zarnplayer.ini") << "[player]\nrate=2.0\n[option]\nskip-slient=1\n";
    Result stored = Run({dir + "/stored.wav", in});
    ASSERT_EQ(stored.status, 0) << stored.err;
    const double seconds = Decode(dir + "/stored.wav").Seconds();
    EXPECT_LT(seconds, 6.0);
    EXPECT_GT(seconds, 4.5);
}

TEST_F(Export, EveryFormatReadsBackWithTheLengthAndTheTags) {
    const std::string in = Tone("tagged.flac", 6);
    for (const exporter::Format& f : exporter::Formats()) {
        const std::string out = dir + "/out" + f.extension;
        Result r = Run({out, "--rate", "2", in});
        ASSERT_EQ(r.status, 0) << f.extension << ": " << r.err;
        Decoded d = Decode(out);
        ASSERT_TRUE(d.ok) << f.extension << ": " << d.error;
        // Lossy coders add a few ms of delay and padding.
        EXPECT_NEAR(d.Seconds(), 3.0, f.extension == ".wav" || f.extension == ".flac" ? 0.03 : 0.08)
            << f.extension;
        EXPECT_EQ(d.tags[GST_TAG_TITLE], "Lecture One") << f.extension;
        EXPECT_EQ(d.tags[GST_TAG_ARTIST], "A. Speaker") << f.extension;
        // No temporary file beside the output.
        for (const std::string& n : List(dir))
            EXPECT_EQ(n.find(".zarn-"), std::string::npos) << n;
    }
}

TEST_F(Export, ChainedAndChangingStreamsExportToTheirEnd) {
    // Two Ogg files joined: two chains, the second of 660 Hz.
    auto make = [&](const std::string& name, const std::string& source,
                    const std::string& options) {
        const std::string path = dir + "/" + name;
        EXPECT_EQ(Shell("ffmpeg -v error -y -f lavfi -i " + Quote(source) + " -ac 2 " + options +
                        " " + Quote(path)),
                  0);
        return path;
    };
    const std::string chained = dir + "/chained.ogg";
    ASSERT_EQ(Shell("cat " + Quote(make("a.ogg", "sine=f=440:d=6:r=44100", "")) + " " +
                    Quote(make("b.ogg", "sine=f=660:d=4:r=44100", "")) + " >" + Quote(chained)),
              0);
    Result r = Run({dir + "/chained.wav", "--rate", "2", chained});
    ASSERT_EQ(r.status, 0) << r.err;
    Decoded d = Decode(dir + "/chained.wav");
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_NEAR(d.Seconds(), 5.0, 0.1);
    EXPECT_NEAR(ToneFrequency(d, 3.3, 4.8), 660.0, 660.0 * 0.02);

    // A first chain with pictures, whose stream goes nowhere and whose end
    // never comes once the next chain has begun: not to be waited for.
    const std::string pictured = dir + "/pictured.ogg";
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=d=3:s=64x48 -f lavfi -i "
                    "sine=f=440:d=3:r=44100 -c:v libtheora -c:a libvorbis -ac 2 " +
                    Quote(dir + "/v.ogg") + " && cat " + Quote(dir + "/v.ogg") + " " +
                    Quote(dir + "/b.ogg") + " >" + Quote(pictured)),
              0);
    r = Run({dir + "/pictured.wav", "--rate", "2", pictured});
    ASSERT_EQ(r.status, 0) << r.err;
    d = Decode(dir + "/pictured.wav");
    EXPECT_NEAR(d.Seconds(), 3.5, 0.1);
    EXPECT_NEAR(ToneFrequency(d, 2.0, 3.4), 660.0, 660.0 * 0.02);

    // MP3 frames of 44.1 kHz, then of 22.05 kHz: all of it, in the first rate.
    const std::string mixed = dir + "/mixed.mp3";
    const std::string bare = "-id3v2_version 0 -write_xing 0";
    ASSERT_EQ(Shell("cat " + Quote(make("a.mp3", "sine=f=440:d=5:r=44100", bare)) + " " +
                    Quote(make("b.mp3", "sine=f=880:d=5:r=22050", bare)) + " >" + Quote(mixed)),
              0);
    for (const std::string ext : {".wav", ".ogg"}) {
        r = Run({dir + "/mixed" + ext, "--rate", "1", mixed});
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        d = Decode(dir + "/mixed" + ext);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, 44100) << ext;
        EXPECT_NEAR(d.Seconds(), 10.0, 0.2) << ext;
        EXPECT_NEAR(ToneFrequency(d, 6.0, 9.5), 880.0, 880.0 * 0.02) << ext;
    }
}

TEST_F(Export, OfTwoExportsToOneNewNameOneWinsAndTheOtherFails) {
    // Both find the name free; the second to finish must not replace the
    // first one's file.
    const std::string in = Tone("talk.mp3", 20);
    const std::string out = dir + "/talk-fast.wav";
    std::string cmd;
    for (int i = 0; i < 2; ++i)
        cmd += "(env ZARNPLAYER_HOME=" + Quote(home) + " TMPDIR=" + Quote(dir) + " " +
               Quote(CliPath()) + " --export " + Quote(out) + " --rate 2 " + Quote(in) +
               " >/dev/null 2>" + Quote(dir + "/err" + std::to_string(i)) + "; echo $? >" +
               Quote(dir + "/status" + std::to_string(i)) + ") & ";
    ASSERT_EQ(Shell("timeout 120 sh -c " + Quote(cmd + "wait")), 0);
    const std::string statuses = ReadFile(dir + "/status0") + ReadFile(dir + "/status1");
    EXPECT_TRUE(statuses == "0\n1\n" || statuses == "1\n0\n") << statuses;
    const std::string err = ReadFile(dir + "/err0") + ReadFile(dir + "/err1");
    EXPECT_NE(err.find("--force replaces it"), std::string::npos) << err;
    EXPECT_NEAR(Decode(out).Seconds(), 10.0, 0.1);
    for (const std::string& n : List(dir))
        EXPECT_EQ(n.find(".zarn-"), std::string::npos) << n;
}

TEST_F(Export, ExportsOnABusyMachineComeOutAlike) {
    // Several at once keep the output's drain thread waiting while the
    // renderer, which never waits for the capture, goes round the ring: a
    // writer that came round to the same block must not be taken for one
    // that stood still (that added a block of silence).
    const std::string in = Tone("long.mp3", 60);
    std::string cmd;
    for (int i = 0; i < 6; ++i)
        cmd += "env ZARNPLAYER_HOME=" + Quote(home) + " TMPDIR=" + Quote(dir) + " " +
               Quote(CliPath()) + " --export " + Quote(dir + "/p" + std::to_string(i) + ".wav") +
               " --rate 2 " + Quote(in) + " >/dev/null & ";
    ASSERT_EQ(Shell(cmd + "wait"), 0);
    const std::string first = ReadFile(dir + "/p0.wav");
    EXPECT_NEAR(static_cast<double>(first.size() - 44) / 176400, 30.0, 0.3);
    for (int i = 1; i < 6; ++i)
        EXPECT_TRUE(ReadFile(dir + "/p" + std::to_string(i) + ".wav") == first) << i;
}

TEST_F(Export, ExistingOutputNeedsForceAndInputsAreNeverOverwritten) {
    const std::string in = Tone("talk.wav", 2);
    const std::string out = dir + "/talk-fast.wav";
    std::ofstream(out) << "keep me";
    Result r = Run({out, "--rate", "2", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(out), "keep me");

    r = Run({out, "--rate", "2", "--force", in});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(Decode(out).Seconds(), 1.0, 0.02);

    // Not even --force writes over an input, under any name that leads there.
    const std::string before = ReadFile(in);
    fs::create_symlink(in, dir + "/link.wav");
    for (const std::string& target : {in, dir + "/link.wav", dir + "/./talk.wav"}) {
        r = Run({target, "--rate", "2", "--force", in});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find("never overwritten"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(in), before);
}

TEST_F(Export, SeveralInputsGoIntoAFolderUnderTheirNamesAndFailuresDoNotStopTheRest) {
    const std::string a = Tone("a.mp3", 2);
    const std::string b = Tone("b.m4a", 2);
    const std::string damaged = dir + "/damaged.ogg";
    {
        std::ofstream f(damaged, std::ios::binary);
        for (int i = 0; i < 20000; ++i)
            f.put(static_cast<char>((i * 7919) >> 3));
    }
    const std::string missing = dir + "/missing.wav";
    const std::string folder = dir + "/fast";
    Result r = Run({folder, "--rate", "2", a, damaged, missing, b});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    // One line for each failure, naming its file.
    EXPECT_NE(r.err.find(damaged + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(missing + ": no such file"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    // The others were written, the m4a as wav since m4a is no export format.
    EXPECT_NEAR(Decode(folder + "/a.mp3").Seconds(), 1.0, 0.08);
    EXPECT_NEAR(Decode(folder + "/b.wav").Seconds(), 1.0, 0.03);
    EXPECT_FALSE(Exists(folder + "/damaged.ogg"));
    auto names = List(folder);
    EXPECT_EQ(names.size(), 2u);
    ExpectNoCaptureLeft();

    // The same name from two folders would write one output twice.
    fs::create_directories(dir + "/other");
    fs::copy_file(a, dir + "/other/a.mp3");
    r = Run({dir + "/twice", "--rate", "2", a, dir + "/other/a.mp3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("earlier input"), std::string::npos) << r.err;
}

TEST_F(Export, MissingEncoderUnknownFormatNoAudioAndUnwritableFolderAreReported) {
    gst_init(nullptr, nullptr);
    exporter::Format absent{".zzz",
                            {{"audioconvert", "gstreamer1.0-plugins-base"},
                             {"zarnabsentenc", "gstreamer1.0-zarn-extra"}}};
    const std::string message = exporter::MissingElement(absent);
    EXPECT_NE(message.find("zarnabsentenc"), std::string::npos) << message;
    EXPECT_NE(message.find("gstreamer1.0-zarn-extra"), std::string::npos) << message;
    for (const exporter::Format& f : exporter::Formats())
        EXPECT_EQ(exporter::MissingElement(f), "") << f.extension;

    const std::string in = Tone("t.wav", 1);
    Result r = Run({dir + "/t.aac", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(".aac is not an export format"), std::string::npos) << r.err;

    r = Run({dir + "/no/such/folder/t.wav", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(in + ": cannot write in " + dir + "/no/such/folder"), std::string::npos)
        << r.err;

    if (geteuid() != 0) {
        // Root writes anywhere; everyone else is refused a read-only folder.
        const std::string ro = dir + "/readonly";
        fs::create_directories(ro);
        chmod(ro.c_str(), 0555);
        r = Run({ro + "/t.wav", in});
        chmod(ro.c_str(), 0755);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(in + ": cannot write in " + ro), std::string::npos) << r.err;
        EXPECT_TRUE(List(ro).empty());
    }

    const std::string video = dir + "/video.avi";
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc=d=1:s=64x48 -an " + Quote(video)), 0);
    r = Run({dir + "/v.wav", video});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(video + ": no audio stream"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/v.wav"));

    r = Run({dir + "/x.wav", "--rate", "5", in});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not one of the player's rates"), std::string::npos) << r.err;
}

TEST_F(Export, InterruptAndHangUpRemoveTheTemporaryFiles) {
    for (int sig : {SIGINT, SIGHUP}) {
        // A pipe as input: the command waits for more while the signal comes.
        const std::string in = dir + "/live.wav";
        ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
        const std::string outDir = dir + "/out";
        fs::create_directories(outDir);
        const std::string log = dir + "/log";
        zarntest::Program cli({CliPath(), "--export", outDir + "/live.wav", "--rate", "2", in},
                              {{"ZARNPLAYER_HOME", home}, {"TMPDIR", dir}}, dir + "/stdout", log);
        ASSERT_TRUE(cli.Running()) << "the command ended at once: " << ReadFile(log);
        const int fd = FeedLive(in, 1);
        ASSERT_GE(fd, 0);
        cli.Signal(sig);
        // A terminal that closes hangs up twice (the kernel, then the shell).
        if (sig == SIGHUP)
            cli.Signal(sig);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(fd); // lets a read of the pipe that is under way return
        EXPECT_EQ(cli.Wait(30), 128 + sig) << ReadFile(log);
        EXPECT_TRUE(List(outDir).empty()) << sig;
        ExpectNoCaptureLeft();
        fs::remove(in);
    }
}

TEST_F(Export, DeadExportsLeaveNothingForLongAndAStalledOneEndsByItself) {
    // Two exports of pipes that stall: one stays, the other is killed.
    const std::string outDir = dir + "/out";
    fs::create_directories(outDir);
    std::vector<std::unique_ptr<zarntest::Program>> cli;
    std::vector<int> fds;
    for (const std::string name : {"live", "dead"}) {
        const std::string in = dir + "/" + name + ".wav";
        ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
        cli.push_back(std::make_unique<zarntest::Program>(
            std::vector<std::string>{CliPath(), "--export", outDir + "/" + name + ".wav", "--rate",
                                     "2", in},
            zarntest::Program::Environment{{"ZARNPLAYER_HOME", home}, {"TMPDIR", dir}},
            dir + "/" + name + ".out", dir + "/" + name + ".err"));
        fds.push_back(FeedLive(in, static_cast<int>(cli.size())));
        ASSERT_GE(fds.back(), 0);
    }
    // A WAV output is captured in place: no copy of the sound in TMPDIR.
    for (const std::string& n : List(dir))
        if (n.rfind("zarnplayer-export-", 0) == 0) {
            for (const auto& e : fs::directory_iterator(dir + "/" + n)) {
                EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(e.path())) &&
                             fs::file_size(e.path()) > 0)
                    << e.path();
            }
        }
    cli[1]->Kill();
    close(fds[1]);

    // Not ours though named alike: it stays.
    const std::string foreign = dir + "/zarnplayer-export-Abc123";
    fs::create_directories(foreign);
    std::ofstream(foreign + "/notes.txt") << "mine";
    // Old enough that only the lock tells the live export from the dead.
    for (const std::string& folder : {dir, outDir})
        for (const std::string& n : List(folder))
            fs::last_write_time(folder + "/" + n,
                                fs::file_time_type::clock::now() - std::chrono::minutes(5));

    const std::string tone = Tone("tone.wav", 2);
    Result r = Run({outDir + "/next.wav", "--rate", "2", tone});
    ASSERT_EQ(r.status, 0) << r.err;
    int live = 0, dead = 0, folders = 0;
    for (const std::string& n : List(outDir)) {
        live += n.rfind(".live.wav.zarn-", 0) == 0;
        dead += n.rfind(".dead.wav.zarn-", 0) == 0;
    }
    for (const std::string& n : List(dir))
        folders += n.rfind("zarnplayer-export-", 0) == 0;
    EXPECT_EQ(live, 1);
    EXPECT_EQ(dead, 0);
    EXPECT_EQ(folders, 2); // the live export's and the foreign one
    EXPECT_EQ(ReadFile(foreign + "/notes.txt"), "mine");

    // The live one gets nothing more and gives up on its own, in words.
    EXPECT_EQ(cli[0]->Wait(90), 1);
    EXPECT_NE(ReadFile(dir + "/live.err").find("stalled"), std::string::npos)
        << ReadFile(dir + "/live.err");
    close(fds[0]);
    EXPECT_EQ(List(outDir), std::vector<std::string>{"next.wav"});
    fs::remove_all(foreign);
    ExpectNoCaptureLeft();
}

TEST_F(Export, AnEncodedOutputKeepsNoWholeCopyOfTheSound) {
    // Two minutes through a pipe that then stays open: by the time the
    // export waits for more, the encoder has taken what the capture held.
    const std::string in = dir + "/long.wav";
    ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
    zarntest::Program cli({CliPath(), "--export", dir + "/long.ogg", "--rate", "1", in},
                          {{"ZARNPLAYER_HOME", home}, {"TMPDIR", dir}}, dir + "/stdout",
                          dir + "/log");
    const int fd = FeedLive(in, 1, 120);
    ASSERT_GE(fd, 0);
    std::uintmax_t length = 0, stored = 0;
    for (int i = 0; i < 600; ++i) {
        length = stored = 0;
        for (const std::string& n : List(dir)) {
            struct stat st {};
            if (n.rfind("zarnplayer-export-", 0) == 0 &&
                stat((dir + "/" + n + "/capture.wav").c_str(), &st) == 0) {
                length = static_cast<std::uintmax_t>(st.st_size);
                stored = static_cast<std::uintmax_t>(st.st_blocks) * 512;
            }
        }
        if (length > 15000000 && stored < 8000000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(length, 15000000u);
    EXPECT_LT(stored, 8000000u);
    cli.Signal(SIGINT);
    close(fd);
    EXPECT_EQ(cli.Wait(30), 130) << ReadFile(dir + "/log");
    ExpectNoCaptureLeft();
}

TEST_F(Export, AFailedWriteOfTheSoundSaysWhy) {
    const std::string in = Tone("long.wav", 20);
    for (const std::string ext : {".wav", ".mp3"}) {
        const std::string out = dir + "/small" + ext;
        // Files may grow to 100 kB; beyond, a write fails as on a full disk.
        const std::string cmd = "ulimit -f 200; trap '' XFSZ; env ZARNPLAYER_HOME=" + Quote(home) +
                                " TMPDIR=" + Quote(dir) + " " + Quote(CliPath()) + " --export " +
                                Quote(out) + " --rate 2 " + Quote(in) + " >/dev/null 2>" +
                                Quote(dir + "/err");
        EXPECT_EQ(Shell("timeout 120 sh -c " + Quote(cmd)), 1) << ext;
        const std::string err = ReadFile(dir + "/err");
        EXPECT_NE(err.find(std::string(in + ": ")), std::string::npos) << err;
        EXPECT_NE(err.find(std::strerror(EFBIG)), std::string::npos) << err;
        EXPECT_FALSE(Exists(out));
        for (const std::string& n : List(dir))
            EXPECT_EQ(n.find(".zarn-"), std::string::npos) << n;
        ExpectNoCaptureLeft();
    }
}

TEST_F(Export, TheProgramHandsTheCommandToTheExporter) {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    const std::string program = std::string(build ? build : ".") + "/bin/zarnplayer";
    if (!Exists(program))
        GTEST_SKIP() << "zarnplayer is not built";
    const std::string in = Tone("p.wav", 2);
    const std::string out = dir + "/p-fast.ogg";
    const int status = Shell("env ZARNPLAYER_HOME=" + Quote(home) + " TMPDIR=" + Quote(dir) +
                             " DISPLAY= WAYLAND_DISPLAY= " + Quote(program) + " --export " +
                             Quote(out) + " --rate 2 " + Quote(in) + " >/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(Decode(out).Seconds(), 1.0, 0.08);
}

} // namespace

// Levelling, read by an independent meter (ffmpeg's ebur128): speech- and
// music-like signals from -33 to -13 LUFS, one with peaks between the
// samples over full scale, come out within 1 LU of the target with true
// peaks at or under -1 dBTP; loud and soft passages keep their range; the
// switch and the stored options choose the target or none; track-gain tags
// and kept figures are taken without a scan; a damaged file is said.
TEST_F(Export, EachOutputComesToTheLoudnessTargetWithItsPeaksUnderTheCeiling) {
    struct Signal {
        std::string name, graph;
        double lufs;
        std::vector<std::string> args;
    };
    const std::vector<Signal> signals = {
        {"speech-33.mp3", zarntest::SpeechLike(20), -33, {"-b:a", "96k"}},
        {"music-20.ogg", zarntest::MusicLike(15), -20, {"-c:a", "libvorbis"}},
        {"speech-13.wav", zarntest::SpeechLike(15), -13, {"-c:a", "pcm_f32le"}},
        {"peaks-13.wav", zarntest::InterSamplePeaks(10), -13, {"-c:a", "pcm_f32le"}},
    };
    std::map<std::string, std::string> made;
    for (const Signal& s : signals) {
        made[s.name] = zarntest::MakeAtLoudness(s.graph, s.lufs, dir + "/" + s.name, s.args);
        ASSERT_FALSE(made[s.name].empty()) << "ffmpeg could not make " << s.name;
    }
    ASSERT_GT(zarntest::Meter(made["peaks-13.wav"])->TruePeak, 0.5) << "peaks over full scale";
    for (const Signal& s : signals) {
        SCOPED_TRACE(s.name);
        const std::string out = dir + "/levelled-" + s.name + ".wav";
        const Result r = Run({out, "--rate", "1.0", made[s.name]});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto m = zarntest::Meter(out);
        ASSERT_TRUE(m);
        EXPECT_NEAR(m->Integrated, -16, 1.0);
        EXPECT_LE(m->TruePeak, -1.0);
    }

    // Another target by the switch, at speed too; none with off.
    const std::string quiet = made["speech-33.mp3"];
    ASSERT_EQ(Run({dir + "/19.wav", "--rate", "2.0", "--level", "-19", quiet}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/19.wav")->Integrated, -19, 1.0);
    ASSERT_EQ(Run({dir + "/off.wav", "--rate", "1.0", "--level", "off", quiet}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/off.wav")->Integrated, -33, 0.5);
    EXPECT_EQ(Run({dir + "/bad.wav", "--level", "-2", quiet}).status, 2);

    // Loud and soft passages 15 dB apart keep their range: one gain for
    // the whole file, no compression.
    const std::string steps =
        zarntest::MakeAtLoudness(zarntest::LoudAndSoft(60), -28, dir + "/steps.flac");
    ASSERT_FALSE(steps.empty());
    ASSERT_EQ(Run({dir + "/steps.wav", "--rate", "1.0", steps}).status, 0);
    const auto before = zarntest::Meter(steps), after = zarntest::Meter(dir + "/steps.wav");
    ASSERT_TRUE(before && after);
    EXPECT_GT(before->Range, 10);
    EXPECT_GE(after->Range, 0.85 * before->Range);
    EXPECT_NEAR(after->Integrated, -16, 1.0);

    // The stored options: off, or another target.
    std::ofstream(home + "/zarnplayer.ini") << "[option]\nlevel-loudness=0\n";
    ASSERT_EQ(Run({dir + "/stored-off.wav", "--rate", "1.0", quiet}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/stored-off.wav")->Integrated, -33, 0.5);
    std::ofstream(home + "/zarnplayer.ini") << "[option]\nloudness-target=-23\n";
    ASSERT_EQ(Run({dir + "/stored-23.wav", "--rate", "1.0", quiet}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/stored-23.wav")->Integrated, -23, 1.0);
    fs::remove(home + "/zarnplayer.ini");

    // A ReplayGain tag that claims -10.5 LUFS is believed: the -33 LUFS
    // sound is lowered by 5.5 dB, not raised.
    const std::string tagged = dir + "/tagged.flac";
    ASSERT_EQ(Shell("ffmpeg -v error -y -i " + Quote(quiet) +
                    " -metadata REPLAYGAIN_TRACK_GAIN='-7.50 dB' " + Quote(tagged)),
              0);
    ASSERT_EQ(Run({dir + "/tagged.wav", "--rate", "1.0", tagged}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/tagged.wav")->Integrated, -33 - 5.5, 1.0);

    // The figure the first export kept is taken, not measured again: a
    // kept figure 7 LU off shows in the output.
    std::string kept = ReadFile(home + "/loudness.txt");
    const std::string line = "\t" + quiet + "\n";
    const std::size_t at = kept.find(line);
    ASSERT_NE(at, std::string::npos) << kept;
    const std::size_t start = kept.rfind('\n', at) + 1;
    std::vector<std::string> fields;
    for (std::size_t f = start; f < at;) {
        const std::size_t tab = std::min(kept.find('\t', f), at);
        fields.push_back(kept.substr(f, tab - f));
        f = tab + 1;
    }
    ASSERT_EQ(fields.size(), 5u) << kept;
    fields[2] = std::to_string(std::stoi(fields[2]) + 700);
    kept.replace(start, at - start,
                 fields[0] + "\t" + fields[1] + "\t" + fields[2] + "\t" + fields[3] + "\t" +
                     fields[4]);
    std::ofstream(home + "/loudness.txt", std::ios::trunc) << kept;
    ASSERT_EQ(Run({dir + "/kept.wav", "--rate", "1.0", quiet}).status, 0);
    EXPECT_NEAR(zarntest::Meter(dir + "/kept.wav")->Integrated, -23, 1.0);

    // Damaged after its first frames: said, and no crash.
    std::string bytes = ReadFile(quiet);
    for (std::size_t i = 3000; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(dir + "/damaged.mp3", std::ios::binary) << bytes;
    const Result damaged = Run({dir + "/damaged.wav", "--rate", "1.0", dir + "/damaged.mp3"});
    EXPECT_LT(damaged.status, 128) << damaged.err;
    EXPECT_NE(damaged.err.find("exported at its own level"), std::string::npos) << damaged.err;
    ExpectNoCaptureLeft();
}
