// The export command end to end: media made here, exported through the
// renderer, decoded back and measured.
#include "player/export/Formats.h"
#include "tests/support/Files.h"
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

    const std::string home = dir + "/home";
};

TEST_F(Export, RateTwoHalvesTheLengthAndKeepsThePitchRateFourQuarters) {
    const std::string in = Tone("tone.wav", 10);
    for (double rate : {2.0, 4.0}) {
        const std::string out = dir + "/out" + std::to_string(static_cast<int>(rate)) + ".wav";
        char text[8];
        std::snprintf(text, sizeof text, "%.1f", rate);
        Result r = Run({out, "--rate", text, in});
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

TEST_F(Export, InterruptRemovesTheTemporaryFiles) {
    // A pipe as input: the command waits for more while the signal comes.
    const std::string in = dir + "/live.wav";
    ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
    const std::string outDir = dir + "/out";
    fs::create_directories(outDir);
    const std::string log = dir + "/log";
    zarntest::Program cli({CliPath(), "--export", outDir + "/live.wav", "--rate", "2", in},
                          {{"ZARNPLAYER_HOME", home}, {"TMPDIR", dir}}, dir + "/stdout", log);
    ASSERT_TRUE(cli.Running()) << "the command ended at once: " << ReadFile(log);
    // Two seconds of sound under a header of unknown length, as a live
    // writer sends it, then the writer holds the pipe open.
    const std::string head = dir + "/head.wav";
    ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i sine=f=440:d=2:r=44100 -ac 2 -f wav - | cat >" +
                    Quote(head)),
              0);
    // Opening waits for the reader; never longer than the test may take.
    int fd = -1;
    for (int i = 0; i < 400 && fd < 0; ++i) {
        fd = open(in.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_GE(fd, 0) << "the command never opened its input";
    fcntl(fd, F_SETFL, 0);
    // The command must keep its reader from the first open on: a writer
    // that finds none is told so (EPIPE here instead of being killed).
    signal(SIGPIPE, SIG_IGN);
    const std::string bytes = ReadFile(head);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()))
        << std::strerror(errno);
    // Wait until the renderer captures, i.e. the export is under way.
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
        for (const std::string& n : List(dir))
            if (n.rfind("zarnplayer-export-", 0) == 0 && Exists(dir + "/" + n + "/capture.wav"))
                started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(started);
    cli.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    close(fd); // lets a read of the pipe that is under way return
    EXPECT_EQ(cli.Wait(30), 130) << ReadFile(log);
    EXPECT_TRUE(List(outDir).empty());
    ExpectNoCaptureLeft();
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
