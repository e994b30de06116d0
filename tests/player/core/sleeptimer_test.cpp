#include "player/core/Rewind.h"
#include "player/core/SleepTimer.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kSecond = 10'000'000; // file time, 100 ns units

using Clock = SleepTimer::Clock;
using Playback = SleepTimer::Playback;

// A clock the test moves; the timer is ticked every 100 ms of it.
struct TestClock {
    Clock::time_point now = Clock::time_point{} + 1000h;
    void Advance(Clock::duration d) { now += d; }
};

Playback Playing(std::int64_t position = 0, std::int64_t end = 0, double rate = 1.0) {
    return {true, position, end, rate};
}

} // namespace

TEST(SleepTimer, OffDoesNothing) {
    SleepTimer timer;
    TestClock clock;
    EXPECT_EQ(timer.Mode(), SleepMode::Off);
    const auto step = timer.Tick(clock.now, Playing(0, kSecond));
    EXPECT_EQ(step.volume, 1.0);
    EXPECT_FALSE(step.pause);
    EXPECT_FALSE(step.left);
}

TEST(SleepTimer, MinutesFadeOverTheLastTenSecondsAndFireOnce) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::Minutes15, clock.now);
    auto step = timer.Tick(clock.now, Playing());
    EXPECT_EQ(step.left, 15min);
    EXPECT_EQ(SleepTimer::LeftText(*step.left), "sleep 15:00");

    int pauses = 0;
    std::optional<double> at10, at5;
    for (auto t = 100ms; t <= 15min + 1s; t += 100ms) {
        clock.Advance(100ms);
        step = timer.Tick(clock.now, Playing());
        if (t == 15min - 10s)
            at10 = step.volume;
        if (t == 15min - 5s)
            at5 = step.volume;
        if (t < 15min - 10s) {
            EXPECT_EQ(step.volume, 1.0) << t.count();
        }
        if (step.pause) {
            ++pauses;
            EXPECT_EQ(t, 15min);
            EXPECT_EQ(step.volume, 0.0);
            EXPECT_EQ(step.left, 0ns);
        }
    }
    EXPECT_EQ(pauses, 1);
    ASSERT_TRUE(at10 && at5);
    EXPECT_DOUBLE_EQ(*at10, 1.0);
    EXPECT_GT(*at5, 0.2);
    EXPECT_LT(*at5, 0.8);
    EXPECT_EQ(timer.Mode(), SleepMode::Off);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).volume, 1.0);
}

TEST(SleepTimer, FadeFallsSteadilyToZero) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::Minutes30, clock.now);
    timer.Tick(clock.now, Playing());
    clock.Advance(30min - 10s);
    double last = timer.Tick(clock.now, Playing()).volume;
    EXPECT_DOUBLE_EQ(last, 1.0);
    for (int i = 0; i < 99; ++i) {
        clock.Advance(100ms);
        const auto step = timer.Tick(clock.now, Playing());
        EXPECT_LT(step.volume, last);
        EXPECT_GT(step.volume, 0.0);
        EXPECT_FALSE(step.pause);
        last = step.volume;
    }
    EXPECT_LT(last, 0.01);
}

TEST(SleepTimer, MinutesCountOnlyWhilePlaying) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::Minutes45, clock.now);
    timer.Tick(clock.now, Playing());
    clock.Advance(20min);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).left, 25min);
    Playback paused = Playing();
    paused.playing = false;
    clock.Advance(100ms);
    EXPECT_EQ(timer.Tick(clock.now, paused).left, 25min - 100ms);
    clock.Advance(2h);
    const auto step = timer.Tick(clock.now, paused);
    EXPECT_FALSE(step.pause);
    EXPECT_EQ(step.left, 25min - 100ms);
    clock.Advance(1s);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).left, 25min - 100ms);
    clock.Advance(1s);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).left, 25min - 1100ms);
    EXPECT_EQ(SleepTimer::LeftText(25min - 1100ms), "sleep 24:59");
}

// An end far beyond any real file (a damaged chapter list) is far away, not
// a time that wrapped round to the past.
TEST(SleepTimer, AnAbsurdEndIsFarAwayAndNeverPausesAtOnce) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::EndOfChapter, clock.now);
    for (const double rate : {1.0, 0.5}) {
        const auto step =
            timer.Tick(clock.now, Playing(0, std::numeric_limits<std::int64_t>::max(), rate));
        EXPECT_FALSE(step.pause) << rate;
        EXPECT_EQ(step.volume, 1.0) << rate;
        ASSERT_TRUE(step.left) << rate;
        EXPECT_GT(*step.left, 24h * 365 * 100) << rate;
        clock.Advance(100ms);
    }
}

TEST(SleepTimer, EndOfChapterAtRateTwoFiresAtHalfTheFileTime) {
    // The chapter ends at 5:00 of the file; playing from 1:00 at rate 2 it
    // is reached after 2:00 of real time.
    const std::int64_t start = 60 * kSecond, end = 300 * kSecond;
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::EndOfChapter, clock.now);
    const auto begin = clock.now;
    std::int64_t position = start;
    auto step = timer.Tick(clock.now, Playing(position, end, 2.0));
    EXPECT_EQ(step.left, 120s);
    EXPECT_EQ(SleepTimer::LeftText(*step.left), "sleep 2:00");
    std::optional<Clock::duration> fired;
    std::optional<double> at10, at5;
    while (!fired && clock.now - begin < 10min) {
        clock.Advance(100ms);
        position += 2 * kSecond / 10;
        step = timer.Tick(clock.now, Playing(position, end, 2.0));
        if (clock.now - begin == 110s)
            at10 = step.volume;
        if (clock.now - begin == 115s)
            at5 = step.volume;
        if (step.pause)
            fired = clock.now - begin;
    }
    ASSERT_TRUE(fired);
    EXPECT_EQ(*fired, 120s);
    ASSERT_TRUE(at10 && at5);
    EXPECT_DOUBLE_EQ(*at10, 1.0);
    EXPECT_GT(*at5, 0.2);
    EXPECT_LT(*at5, 0.8);
    EXPECT_EQ(timer.Mode(), SleepMode::Off);
}

TEST(SleepTimer, AnEndPassedBetweenTwoTicksStillPauses) {
    // The core moved on to the next chapter before the tick saw the end.
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::EndOfChapter, clock.now);
    EXPECT_FALSE(timer.Tick(clock.now, Playing(99 * kSecond, 100 * kSecond)).pause);
    clock.Advance(1500ms);
    const auto step = timer.Tick(clock.now, Playing(100 * kSecond + 5'000'000, 400 * kSecond));
    EXPECT_TRUE(step.pause);
    EXPECT_EQ(timer.Mode(), SleepMode::Off);
}

TEST(SleepTimer, EndOfFileFollowsTheRateAndWaitsWithoutAnEnd) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::EndOfFile, clock.now);
    EXPECT_FALSE(timer.Tick(clock.now, Playing(0, 0)).left);
    EXPECT_EQ(timer.Tick(clock.now, Playing(0, 0)).volume, 1.0);
    clock.Advance(100ms);
    // A rate change shortens what is left at once.
    EXPECT_EQ(timer.Tick(clock.now, Playing(0, 80 * kSecond, 1.0)).left, 80s);
    clock.Advance(100ms);
    EXPECT_EQ(timer.Tick(clock.now, Playing(0, 80 * kSecond, 4.0)).left, 20s);
    // Paused at the end: nothing fires until it plays.
    Playback paused{false, 80 * kSecond, 80 * kSecond, 1.0};
    clock.Advance(100ms);
    EXPECT_FALSE(timer.Tick(clock.now, paused).pause);
    clock.Advance(100ms);
    EXPECT_TRUE(timer.Tick(clock.now, Playing(80 * kSecond, 80 * kSecond)).pause);
}

TEST(SleepTimer, SettingAgainRestartsAndOffStops) {
    SleepTimer timer;
    TestClock clock;
    timer.Set(SleepMode::Minutes60, clock.now);
    timer.Tick(clock.now, Playing());
    clock.Advance(59min);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).left, 1min);
    timer.Set(SleepMode::Minutes15, clock.now);
    EXPECT_EQ(timer.Tick(clock.now, Playing()).left, 15min);
    timer.Set(SleepMode::Off, clock.now);
    clock.Advance(2h);
    const auto step = timer.Tick(clock.now, Playing());
    EXPECT_FALSE(step.pause);
    EXPECT_FALSE(step.left);
}

TEST(SleepTimer, Texts) {
    EXPECT_STREQ(SleepTimer::ModeText(SleepMode::Off), "Off");
    EXPECT_STREQ(SleepTimer::ModeText(SleepMode::Minutes45), "45 minutes");
    EXPECT_STREQ(SleepTimer::ModeText(SleepMode::EndOfChapter), "End of chapter");
    EXPECT_STREQ(SleepTimer::ModeText(SleepMode::EndOfFile), "End of file");
    EXPECT_EQ(SleepTimer::LeftText(60min), "sleep 1:00:00");
    EXPECT_EQ(SleepTimer::LeftText(12min + 34s), "sleep 12:34");
    EXPECT_EQ(SleepTimer::LeftText(12min + 33s + 1ms), "sleep 12:34");
    EXPECT_EQ(SleepTimer::LeftText(1ns), "sleep 0:01");
    EXPECT_EQ(SleepTimer::LeftText(0ns), "sleep 0:00");
    EXPECT_EQ(SleepTimer::LeftText(-5s), "sleep 0:00");
}

TEST(PositionAfterPause, FiveSecondsEarlierAfterMoreThanFiveMinutes) {
    const Clock::time_point paused = Clock::time_point{} + 1000h;
    EXPECT_EQ(PositionAfterPause(60 * kSecond, paused, paused + 5min), 60 * kSecond);
    EXPECT_EQ(PositionAfterPause(60 * kSecond, paused, paused + 5min + 1ms), 55 * kSecond);
    EXPECT_EQ(PositionAfterPause(60 * kSecond, paused, paused + 3h), 55 * kSecond);
    EXPECT_EQ(PositionAfterPause(4 * kSecond, paused, paused + 6min), 0);
    EXPECT_EQ(PositionAfterPause(0, paused, paused + 6min), 0);
    EXPECT_EQ(PositionAfterPause(60 * kSecond, paused, paused + 10s), 60 * kSecond);
    // A clock read before the pause began is no long pause.
    EXPECT_EQ(PositionAfterPause(60 * kSecond, paused, paused - 1h), 60 * kSecond);
}
