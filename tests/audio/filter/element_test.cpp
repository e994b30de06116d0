// zarnaudiosink in real GStreamer pipelines, writing what would be heard to a
// WAV file through the wav: device.
#include "audio/filter/IZarnRate.h"
#include "tests/support/Files.h"
#include "wav_analysis.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace testing_wav;
using namespace std::chrono_literals;

namespace {

class ElementTest : public zarntest::FolderTest {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    void SetUp() override {
        out = dir + "/heard.wav";
        setenv("ZARN_AUDIO_DEVICE", ("wav:" + out).c_str(), 1);
        ASSERT_NE(gst_element_factory_find(ZARN_SINK_FACTORY), nullptr)
            << "the zarnaudio plugin is not on GST_PLUGIN_PATH";
    }
    void TearDown() override {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
    }

    void sox(const std::string& args) {
        std::string cmd = "sox -q -n " + args + " 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

    void launch(const std::string& file, double rate, std::int32_t flags = 0) {
        std::string desc =
            "filesrc location=\"" + file +
            "\" ! decodebin ! audioconvert ! audioresample ! zarnaudiosink name=sink";
        GError* err = nullptr;
        pipeline = gst_parse_launch(desc.c_str(), &err);
        ASSERT_EQ(err, nullptr) << err->message;
        sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        g_object_set(sink, ZARN_PROP_RATE, rate, ZARN_PROP_FLAGS, flags, nullptr);
        gst_object_unref(sink);
    }

    // Runs until end of stream; false on error or time-out.
    bool runToEnd(std::chrono::seconds limit) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, static_cast<GstClockTime>(std::chrono::nanoseconds(limit).count()),
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
        if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* e = nullptr;
            gst_message_parse_error(msg, &e, nullptr);
            ADD_FAILURE() << e->message;
            g_error_free(e);
        }
        if (msg)
            gst_message_unref(msg);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        return ok;
    }

    void waitState(GstState s) {
        gst_element_set_state(pipeline, s);
        ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND),
                  GST_STATE_CHANGE_SUCCESS);
    }

    gint64 position() {
        gint64 pos = -1;
        EXPECT_TRUE(gst_element_query_position(pipeline, GST_FORMAT_TIME, &pos));
        return pos;
    }

    std::string out;
    GstElement* pipeline = nullptr;
    GstElement* sink = nullptr;
};

} // namespace

TEST_F(ElementTest, RateTwoHalvesTheLengthKeepsThePitchAndPlaysTheTail) {
    std::string in = dir + "/tone.wav";
    sox("-r 44100 -c 2 -b 16 " + in + " synth 4 sine 440");
    launch(in, 2.0);
    ASSERT_TRUE(runToEnd(20s));
    Wav w = readWav(out);
    ASSERT_EQ(w.channels, 2);
    EXPECT_NEAR(w.Seconds(), 2.0, 2.0 * 0.02);
    EXPECT_NEAR(frequency(w, 0.2, 1.8), 440.0, 4.4);
    // The last quarter second of input, which waits in the stage's window
    // when the input ends, is heard too.
    EXPECT_NEAR(endOfSound(w), 2.0, 0.03);
}

TEST_F(ElementTest, EightBitMonoAndOddRatesPlay) {
    std::string in = dir + "/tone8.wav";
    sox("-r 22050 -c 1 -b 8 -e unsigned " + in + " synth 2 sine 300");
    launch(in, 1.0);
    ASSERT_TRUE(runToEnd(20s));
    Wav w = readWav(out);
    EXPECT_NEAR(endOfSound(w), 2.0, 0.03);
    EXPECT_NEAR(frequency(w, 0.2, 1.8), 300.0, 3.0);
}

TEST_F(ElementTest, CapsTakeOnlyWhatTheConversionRenders) {
    GstElement* s = gst_element_factory_make(ZARN_SINK_FACTORY, nullptr);
    ASSERT_NE(s, nullptr);
    GstPad* pad = gst_element_get_static_pad(s, "sink");
    auto accepts = [&](const char* caps) {
        GstCaps* c = gst_caps_from_string(caps);
        bool ok = gst_pad_query_accept_caps(pad, c);
        gst_caps_unref(c);
        return ok;
    };
    EXPECT_TRUE(accepts("audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2"));
    EXPECT_TRUE(accepts("audio/x-raw,format=U8,layout=interleaved,rate=8000,channels=1"));
    EXPECT_FALSE(accepts("audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=2"));
    EXPECT_FALSE(accepts("audio/x-raw,format=S24LE,layout=interleaved,rate=44100,channels=2"));
    EXPECT_FALSE(accepts("audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=6"));
    EXPECT_FALSE(accepts("audio/x-raw,format=S16LE,layout=non-interleaved,rate=48000,channels=2"));

    gint state = 0;
    gchar* vendor = nullptr;
    g_object_get(s, ZARN_PROP_OUTPUT_STATE, &state, ZARN_PROP_VENDOR_INFO, &vendor, nullptr);
    EXPECT_EQ(state, -1);
    EXPECT_STREQ(vendor, "zarnaudio.dll ver.0.2.377 (2001/7/8)");
    g_free(vendor);

    gpointer iface = nullptr;
    g_object_get(s, ZARN_PROP_RATE_INTERFACE, &iface, nullptr);
    ASSERT_NE(iface, nullptr);
    auto* rate = static_cast<IZarnRate*>(iface);
    EXPECT_EQ(rate->SetRate(0.75), E_INVALIDARG);
    EXPECT_EQ(rate->SetRate(2.5), S_OK);
    gdouble r = 0;
    g_object_get(s, ZARN_PROP_RATE, &r, nullptr);
    EXPECT_DOUBLE_EQ(r, 2.5);
    gst_object_unref(pad);
    gst_object_unref(s);
}

// A flushing seek discards the queue, the stage window and the ring: after a
// seek from the 440 Hz half into the 1000 Hz half, no 440 Hz is heard.
TEST_F(ElementTest, SeekWhilePlayingLeavesNoAudioFromBeforeTheSeek) {
    std::string a = dir + "/a.wav", b = dir + "/b.wav", ab = dir + "/ab.wav";
    sox("-r 44100 -c 2 -b 16 " + a + " synth 6 sine 440");
    sox("-r 44100 -c 2 -b 16 " + b + " synth 6 sine 1000");
    ASSERT_EQ(std::system(("sox -q " + a + " " + b + " " + ab).c_str()), 0);
    launch(ab, 3.0);
    waitState(GST_STATE_PLAYING);
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(gst_element_seek_simple(
        pipeline, GST_FORMAT_TIME,
        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 7 * GST_SECOND));
    ASSERT_TRUE(runToEnd(20s));
    Wav w = readWav(out);
    ASSERT_GT(w.Seconds(), 1.0);
    EXPECT_NEAR(w.Seconds(), 5.0 / 3.0, 0.15);
    EXPECT_GT(toneLevel(w, 1000, 0, w.Seconds()), 0.2);
    // A tone heard at all shows about 0.25 here; what the 1000 Hz tone
    // leaks into the 440 Hz measure stays below 0.03.
    double worst440 = 0;
    for (double t = 0; t + 0.1 <= w.Seconds(); t += 0.05)
        worst440 = std::max(worst440, toneLevel(w, 440, t, t + 0.1));
    EXPECT_LT(worst440, 0.08) << "audio from before the seek was heard:\n" << profile(w);
}

TEST_F(ElementTest, PositionFollowsWhatIsHeardAtTheRateAndHoldsWhilePaused) {
    std::string in = dir + "/long.wav";
    sox("-r 44100 -c 2 -b 16 " + in + " synth 12 sine 500");
    launch(in, 2.0);
    waitState(GST_STATE_PLAYING);
    std::this_thread::sleep_for(600ms);
    auto t1 = std::chrono::steady_clock::now();
    gint64 p1 = position();
    std::this_thread::sleep_for(1500ms);
    auto t2 = std::chrono::steady_clock::now();
    gint64 p2 = position();
    double wall = std::chrono::duration<double>(t2 - t1).count();
    double advanced = double(p2 - p1) / GST_SECOND;
    EXPECT_NEAR(advanced / wall, 2.0, 0.1);

    waitState(GST_STATE_PAUSED);
    gint64 held = position();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(position(), held);
    EXPECT_NEAR(double(held) / GST_SECOND, double(p2) / GST_SECOND + 2 * 0.05, 0.5);
}

// At rate 2 the clock the renderer provides runs twice as fast, so video
// synchronised to it shows twice the frames per second.
TEST_F(ElementTest, VideoSynchronisedToTheClockRunsAtTheRate) {
    if (std::system("command -v ffmpeg >/dev/null") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    std::string in = dir + "/clip.avi";
    std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi "
                      "-i sine=frequency=440:sample_rate=44100 -t 10 -c:v mjpeg -c:a pcm_s16le " +
                      in;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    pipeline = gst_element_factory_make("playbin", nullptr);
    GstElement* audio = gst_element_factory_make(ZARN_SINK_FACTORY, nullptr);
    GstElement* video = gst_element_factory_make("appsink", nullptr);
    g_object_set(audio, ZARN_PROP_RATE, 2.0, nullptr);
    g_object_set(video, "sync", TRUE, "max-buffers", 2, "drop", FALSE, nullptr);
    gchar* uri = gst_filename_to_uri(in.c_str(), nullptr);
    g_object_set(pipeline, "uri", uri, "audio-sink", audio, "video-sink", video, nullptr);
    g_free(uri);
    waitState(GST_STATE_PLAYING);
    auto count = [&](std::chrono::milliseconds span) {
        int frames = 0;
        auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(video), 50 * GST_MSECOND);
            if (s) {
                ++frames;
                gst_sample_unref(s);
            }
        }
        return frames;
    };
    count(1000ms); // the start, while the ring fills and the clock settles
    int frames = count(1500ms);
    EXPECT_NEAR(frames / 1.5, 50.0, 6.0);
}

// Buffers without time stamps continue from the previous one, so the heard
// position still walks through the whole stream.
TEST_F(ElementTest, BuffersWithoutTimeStampsContinueFromThePreviousOne) {
    pipeline = gst_parse_launch("appsrc name=src format=time ! zarnaudiosink name=sink", nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstCaps* caps =
        gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved,rate=8000,channels=1");
    g_object_set(src, "caps", caps, nullptr);
    gst_caps_unref(caps);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (int i = 0; i < 15; ++i) { // 1.5 s in tenths, only the first stamped
        GstBuffer* b = gst_buffer_new_allocate(nullptr, 1600, nullptr);
        gst_buffer_memset(b, 0, 0, 1600);
        if (i == 0)
            GST_BUFFER_PTS(b) = 0;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), b), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_EOS);
    ASSERT_NE(m, nullptr);
    gst_message_unref(m);
    gst_object_unref(bus);
    EXPECT_NEAR(double(position()) / GST_SECOND, 1.5, 0.05);
}

namespace {

// Tenths of a second of a tone at half the full level, as S16LE buffers
// stamped from `t` on.
void pushTone(GstElement* src, int channels, int rate, double tone, int tenths, GstClockTime& t) {
    const int frames = rate / 10;
    for (int b = 0; b < tenths; ++b) {
        GstBuffer* buf = gst_buffer_new_allocate(nullptr, gsize(frames * channels * 2), nullptr);
        GstMapInfo map;
        gst_buffer_map(buf, &map, GST_MAP_WRITE);
        auto* s = reinterpret_cast<std::int16_t*>(map.data);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                s[i * channels + c] = std::int16_t(
                    std::lround(0.5 * 32767 * std::sin(2 * M_PI * tone * (b * frames + i) / rate)));
        gst_buffer_unmap(buf, &map);
        GST_BUFFER_PTS(buf) = t;
        GST_BUFFER_DURATION(buf) = GST_SECOND / 10;
        t += GST_SECOND / 10;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), buf), GST_FLOW_OK);
    }
}

void setToneCaps(GstElement* src, int channels, int rate) {
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                        G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, rate,
                                        "channels", G_TYPE_INT, channels, nullptr);
    g_object_set(src, "caps", caps, nullptr);
    gst_caps_unref(caps);
}

} // namespace

// New caps in mid-stream, as chained Ogg files bring: the device opens again
// for the new format (the wav: device starts its file anew), and the second
// part is heard at its own rate and channel count, not read in the old one.
TEST_F(ElementTest, NewCapsInMidStreamPlayTheSecondPartAtItsOwnRateAndChannels) {
    pipeline = gst_parse_launch("appsrc name=src format=time ! zarnaudiosink name=sink", nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    setToneCaps(src, 2, 44100);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstClockTime t = 0;
    pushTone(src, 2, 44100, 440, 10, t);
    setToneCaps(src, 1, 22050);
    pushTone(src, 1, 22050, 1000, 10, t);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
    gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);

    Wav w = readWav(out);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, 22050);
    EXPECT_NEAR(endOfSound(w), 1.0, 0.03) << profile(w);
    EXPECT_NEAR(frequency(w, 0.1, 0.9), 1000.0, 10.0);
}

// The sound layer's warnings reach the application's bus (and so the
// player's log): here the one that no sound server answered.
TEST_F(ElementTest, SoundDeviceWarningsArriveOnTheBus) {
    setenv("ZARN_AUDIO_DEVICE", "pulse", 1);
    setenv("PULSE_SERVER", ("unix:" + dir + "/no-server").c_str(), 1);
    pipeline = gst_parse_launch("appsrc name=src format=time ! zarnaudiosink name=sink", nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    setToneCaps(src, 1, 8000);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstClockTime t = 0;
    pushTone(src, 1, 8000, 500, 3, t);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    GstBus* bus = gst_element_get_bus(pipeline);
    std::vector<std::string> warnings;
    for (;;) {
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, 20 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
        ASSERT_NE(m, nullptr);
        const GstMessageType type = GST_MESSAGE_TYPE(m);
        if (type == GST_MESSAGE_WARNING) {
            GError* e = nullptr;
            gst_message_parse_warning(m, &e, nullptr);
            warnings.push_back(e->message);
            g_error_free(e);
        }
        gst_message_unref(m);
        if (type != GST_MESSAGE_WARNING)
            break;
    }
    gst_object_unref(bus);
    unsetenv("PULSE_SERVER");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no sound server answered"), std::string::npos) << warnings[0];
}
