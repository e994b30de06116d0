// The command line and the plan of outputs, without any sound.
#include "audio/filter/IZarnRate.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/export/ProgressLine.h"
#include "player/export/Request.h"
#include "tests/CommaLocale.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace exporter;

namespace {

TEST(ExportRequest, RatesAreTheRateListsValuesOnly) {
    for (const char* text : rates::kTexts) {
        auto r = ParseRate(text);
        ASSERT_TRUE(r) << text;
        EXPECT_DOUBLE_EQ(*r, std::strtod(text, nullptr));
    }
    EXPECT_DOUBLE_EQ(*ParseRate("2"), 2.0);
    EXPECT_DOUBLE_EQ(*ParseRate("3.50"), 3.5);
}

// The command line and the stored rate read alike under a decimal comma,
// and the progress line keeps its point.
TEST(ExportRequest, RatesAndProgressIgnoreADecimalCommaLocale) {
    zarntest::CommaLocale comma;
    ASSERT_TRUE(comma.Active()) << "de_DE.UTF-8 could not be generated (package locales)";
    const std::pair<const char*, double> rates[] = {{"2.6", 2.6}, {"1.5", 1.5}, {"3.5", 3.5}};
    for (const auto& [text, value] : rates) {
        auto r = ParseRate(text);
        ASSERT_TRUE(r) << text;
        EXPECT_DOUBLE_EQ(*r, value) << text;
    }
    EXPECT_FALSE(ParseRate("2,6"));
    std::string error;
    auto r =
        ParseRequest({"--export", "out.ogg", "--rate", "1.5", "a.mp3"}, {1.0, false, false}, error);
    ASSERT_TRUE(r) << error;
    EXPECT_DOUBLE_EQ(r->rate, 1.5);
    Progress p;
    p.elapsed = 4;
    p.inputSeconds = 10;
    EXPECT_NE(FormatProgress(p).find("2.5x real time"), std::string::npos) << FormatProgress(p);
}

TEST(ExportRequest, SmoothFollowsTheStoredOptionAndIsOnWhenNoneIsStored) {
    const zarntest::TempDir folder("request");
    const std::string dir = folder.path();
    SettingsStore().SetFileName(dir + "/zarnplayer.ini");
    EXPECT_TRUE(StoredDefaults().smooth);
    std::ofstream(dir + "/zarnplayer.ini") << "[option]\nsmooth-splices=0\n";
    EXPECT_FALSE(StoredDefaults().smooth);
}

TEST(ExportRequest, RatesOutsideTheListAreRefused) {
    for (const char* text : {"0.9", "4.5", "2.1", "2.3", "3.2", "", "fast", "2x", "1.0.0", "nan"})
        EXPECT_FALSE(ParseRate(text)) << text;
}

TEST(ExportRequest, OptionsAnywhereDefaultsFromTheStoreAndFlagBits) {
    Defaults stored{1.5, true, false};
    std::string error;
    auto r = ParseRequest({"a.mp3", "--export", "out.ogg", "--smooth", "b.mp3"}, stored, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->out, "out.ogg");
    EXPECT_EQ(r->inputs, (std::vector<std::string>{"a.mp3", "b.mp3"}));
    EXPECT_DOUBLE_EQ(r->rate, 1.5);
    EXPECT_EQ(r->Flags(), ZARN_FLAG_SKIP_SILENCE | ZARN_FLAG_SMOOTH);
    EXPECT_FALSE(r->force);

    // --plain turns the stored smooth splices off, and the last of the two counts.
    r = ParseRequest({"--export", "o.wav", "--plain", "a.wav"}, Defaults{1.0, true, true}, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->Flags(), ZARN_FLAG_SKIP_SILENCE);
    r = ParseRequest({"--export", "o.wav", "--plain", "--smooth", "a.wav"}, Defaults{}, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->Flags(), ZARN_FLAG_SMOOTH);

    r = ParseRequest({"--export=o.wav", "--rate=3.5", "--force", "--", "--odd name.wav"},
                     Defaults{}, error);
    ASSERT_TRUE(r) << error;
    EXPECT_DOUBLE_EQ(r->rate, 3.5);
    EXPECT_TRUE(r->force);
    EXPECT_EQ(r->Flags(), 0);
    EXPECT_EQ(r->inputs, std::vector<std::string>{"--odd name.wav"});
}

TEST(ExportRequest, BadCommandLinesSayWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--export", "o.wav"}, "no input files"},
        {{"--export"}, "--export needs a value"},
        {{"--export", "o.wav", "--rate"}, "--rate needs a value"},
        {{"--export", "o.wav", "--rate", "9", "a.wav"}, "not one of the player's rates"},
        {{"--export", "o.wav", "--loud", "a.wav"}, "unknown option --loud"},
        {{"--export", "o.wav", "--export", "p.wav", "a.wav"}, "given twice"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseRequest(c.args, Defaults{}, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

class ExportPlan : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "in");
        for (const char* n : {"a.mp3", "b.m4a", "c.WAV"})
            std::ofstream(dir / "in" / n) << n;
    }
    Request Make(std::string out, std::vector<std::string> names, bool force = false) {
        Request r;
        r.out = std::move(out);
        r.force = force;
        for (auto& n : names)
            r.inputs.push_back((dir / "in" / n).string());
        return r;
    }
    zarntest::TempDir folder;
    const fs::path dir = folder.path();
};

TEST_F(ExportPlan, SeveralInputsKeepTheirNamesInACreatedFolder) {
    std::string error;
    auto jobs = PlanJobs(Make((dir / "out").string(), {"a.mp3", "b.m4a", "c.WAV"}), error);
    ASSERT_EQ(jobs.size(), 3u) << error;
    EXPECT_TRUE(fs::is_directory(dir / "out"));
    EXPECT_EQ(jobs[0].output, (dir / "out" / "a.mp3").string());
    EXPECT_EQ(jobs[1].output, (dir / "out" / "b.wav").string());
    EXPECT_EQ(jobs[2].output, (dir / "out" / "c.WAV").string());
    EXPECT_EQ(jobs[2].format->extension, ".wav");
    for (const Job& j : jobs)
        EXPECT_EQ(j.error, "");
}

TEST_F(ExportPlan, ATrailingSlashMakesOneInputGoIntoAFolder) {
    std::string error;
    auto jobs = PlanJobs(Make((dir / "one").string() + "/", {"b.m4a"}), error);
    ASSERT_EQ(jobs.size(), 1u) << error;
    EXPECT_EQ(fs::path(jobs[0].output), dir / "one" / "b.wav");
}

TEST_F(ExportPlan, OutputsThatWouldLoseDataAreRefused) {
    std::string error;
    // Into the inputs' own folder: every output would be its input.
    auto jobs = PlanJobs(Make((dir / "in").string(), {"a.mp3", "c.WAV"}, true), error);
    ASSERT_EQ(jobs.size(), 2u);
    for (const Job& j : jobs) {
        EXPECT_EQ(j.output, "");
        EXPECT_NE(j.error.find("never overwritten"), std::string::npos) << j.error;
    }
    std::ofstream(dir / "taken.ogg") << "x";
    jobs = PlanJobs(Make((dir / "taken.ogg").string(), {"a.mp3"}), error);
    EXPECT_NE(jobs.at(0).error.find("--force"), std::string::npos);
    jobs = PlanJobs(Make((dir / "taken.ogg").string(), {"a.mp3"}, true), error);
    EXPECT_EQ(jobs.at(0).error, "");

    // A file where the folder should be stops the whole request.
    jobs = PlanJobs(Make((dir / "taken.ogg").string(), {"a.mp3", "c.WAV"}), error);
    EXPECT_TRUE(jobs.empty());
    EXPECT_NE(error.find("must be a folder"), std::string::npos) << error;
}

// What the terminal shows: the line rewritten in place, or plain lines.
std::string Printed(bool terminal, const std::vector<Progress>& steps) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&text, &size);
    {
        ProgressLine line(f, terminal, "a.mp3 -> b.wav");
        for (const Progress& p : steps)
            line.Update(p);
        line.Finish();
    }
    std::fclose(f);
    std::string out(text, size);
    std::free(text);
    return out;
}

TEST(ExportProgress, OneLineOnATerminalPlainLinesElsewhere) {
    std::vector<Progress> steps;
    for (int i = 0; i <= 40; ++i)
        steps.push_back({i / 40.0, i * 15.0, 0, i * 0.1 + 0.1, false});
    steps.push_back({1.0, 600, 300, 4.1, true});

    const std::string tty = Printed(true, steps);
    EXPECT_EQ(std::count(tty.begin(), tty.end(), '\n'), 1) << tty;
    EXPECT_EQ(std::count(tty.begin(), tty.end(), '\r'), 42);
    EXPECT_NE(tty.find("\ra.mp3 -> b.wav:  50%  0:02 elapsed  142.9x real time\033[K"),
              std::string::npos)
        << tty;
    EXPECT_NE(tty.find("100%  0:04 elapsed  146.3x real time  (10:00 in, 5:00 out)"),
              std::string::npos)
        << tty;

    const std::string plain = Printed(false, steps);
    EXPECT_EQ(plain.find('\r'), std::string::npos);
    EXPECT_EQ(plain.find('\033'), std::string::npos);
    // Each tenth once, and the end.
    EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 12) << plain;

    // A length not known yet: no percent, but time and speed.
    EXPECT_EQ(FormatProgress({-1, 30, 0, 2, false}), "0:02 elapsed  15.0x real time");
    EXPECT_EQ(FormatClock(3725), "1:02:05");
}

} // namespace
