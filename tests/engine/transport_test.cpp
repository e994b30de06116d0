// Pause, seek, stop and replay as the player window drives them.
#include "harness.h"
#include "media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t UNITS = 10000000;
constexpr double TOLERANCE = 0.1; // seconds

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool PlayUntil(EngineSession& engine, double seconds, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        if (engine.PositionSeconds() >= seconds)
            return true;
        engine.PumpFor(2ms);
    }
    return false;
}

// After playback (re)starts from `from`, the heard position must neither
// jump ahead of the time that passed nor fall behind `from`.
void ExpectContinuesFrom(EngineSession& engine, double from) {
    const auto start = Clock::now();
    engine.PumpFor(400ms);
    const double elapsed = Since(start);
    const double at = engine.PositionSeconds();
    EXPECT_GE(at, from - TOLERANCE);
    EXPECT_LE(at, from + elapsed + TOLERANCE);
    EXPECT_GT(at, from) << "playback did not continue";
}

} // namespace

class EngineTransport : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        path_ = testmedia::Clip(GetParam());
        ASSERT_EQ(engine_->Open(path_.c_str()), S_OK) << engine_.Log().Text();
    }
    EngineSession engine_;
    std::string path_;
};

TEST_P(EngineTransport, PlayAfterPauseContinuesFromTheHeardPosition) {
    ASSERT_EQ(engine_->SetPosition(std::int64_t(2.6 * UNITS)), S_OK);
    ASSERT_EQ(engine_->Play(), S_OK);
    ASSERT_TRUE(PlayUntil(engine_, 3.0, 3s));
    ASSERT_EQ(engine_->Pause(), S_OK);
    EXPECT_EQ(engine_.State(), PLAYER_PAUSED);
    const double paused = engine_.PositionSeconds();
    EXPECT_NEAR(paused, 3.0, TOLERANCE);
    engine_.PumpFor(300ms);
    EXPECT_DOUBLE_EQ(engine_.PositionSeconds(), paused) << "the position moved while paused";

    ASSERT_EQ(engine_->Play(), S_OK);
    EXPECT_EQ(engine_.State(), PLAYER_PLAYING);
    ExpectContinuesFrom(engine_, paused);
}

TEST_P(EngineTransport, SeekWhilePausedLands) {
    ASSERT_EQ(engine_->Play(), S_OK);
    engine_.PumpFor(200ms);
    ASSERT_EQ(engine_->Pause(), S_OK);
    ASSERT_EQ(engine_->SetPosition(4 * UNITS), S_OK);
    EXPECT_EQ(engine_.State(), PLAYER_PAUSED);
    ASSERT_EQ(engine_->Play(), S_OK);
    ExpectContinuesFrom(engine_, 4.0);
}

TEST_P(EngineTransport, SeekWhilePlayingLands) {
    ASSERT_EQ(engine_->Play(), S_OK);
    engine_.PumpFor(300ms);
    ASSERT_EQ(engine_->SetPosition(4 * UNITS), S_OK);
    EXPECT_EQ(engine_.State(), PLAYER_PLAYING);
    ExpectContinuesFrom(engine_, 4.0);
    // And backwards.
    ASSERT_EQ(engine_->SetPosition(1 * UNITS), S_OK);
    ExpectContinuesFrom(engine_, 1.0);
}

TEST_P(EngineTransport, StopReturnsToTheStartAndPlayAfterTheEndPlaysAgain) {
    ASSERT_EQ(engine_->SetPosition(4 * UNITS), S_OK);
    ASSERT_EQ(engine_->SetRate(2.0), S_OK);
    ASSERT_EQ(engine_->Play(), S_OK);
    ASSERT_TRUE(engine_.PumpUntil(WM_PLAYER_COMPLETE, 5s));
    EXPECT_EQ(engine_.State(), PLAYER_STOPPED);

    // From the start an MPEG program stream's first sample is at about 0.5 s,
    // so the position may begin there: only require a restart.
    ASSERT_EQ(engine_->Play(), S_OK);
    engine_.PumpFor(300ms);
    EXPECT_GT(engine_.PositionSeconds(), 0.0);
    EXPECT_LT(engine_.PositionSeconds(), 1.5) << "did not start again";

    ASSERT_EQ(engine_->Stop(), S_OK);
    EXPECT_EQ(engine_.State(), PLAYER_STOPPED);
    EXPECT_EQ(engine_.PositionSeconds(), 0.0);
    ASSERT_EQ(engine_->Play(), S_OK);
    engine_.PumpFor(300ms);
    EXPECT_GT(engine_.PositionSeconds(), 0.0);
    EXPECT_LT(engine_.PositionSeconds(), 1.5) << "Stop did not return to the start";
}

INSTANTIATE_TEST_SUITE_P(Files, EngineTransport, testing::Values("mp3", "mpg"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });
