#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono;

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event e(true, false);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetReleasesOneWait) {
    Event e(false, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, TimedWaitTimesOut) {
    Event e;
    auto t0 = steady_clock::now();
    EXPECT_EQ(WaitForAny({&e}, 50), WAIT_TIMEOUT);
    EXPECT_GE(steady_clock::now() - t0, milliseconds(45));
}

TEST(WaitForAny, ReportsFirstSignalledInOrderGiven) {
    Event a, b, c;
    b.Set();
    c.Set();
    EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForAny({&c, &b}, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForAny({&a}, 0), WAIT_TIMEOUT);
}

TEST(WaitForAny, RejectsEmptyAndNull) {
    Event a;
    EXPECT_EQ(WaitForAny(std::span<Event* const>{}, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForAny({&a, nullptr}, 0), WAIT_FAILED);
}

TEST(WaitForAny, WakesWhenAnotherThreadSignals) {
    Event stop, data;
    std::thread t([&] {
        std::this_thread::sleep_for(milliseconds(20));
        data.Set();
    });
    EXPECT_EQ(WaitForAny({&stop, &data}), WAIT_OBJECT_0 + 1);
    t.join();
}

TEST(WaitForAny, AutoResetEventWakesExactlyOneOfManyWaiters) {
    Event go(false, false);
    std::atomic<int> woke{0};
    std::vector<std::thread> ts;
    for (int i = 0; i < 4; ++i)
        ts.emplace_back([&] {
            if (go.Wait(300))
                ++woke;
        });
    std::this_thread::sleep_for(milliseconds(30));
    go.Set();
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(woke.load(), 1);
}

// A producer and a consumer hand off through two manual-reset events many
// times; a lost wake-up would hang here and a race would show under TSan.
TEST(WaitForAny, PingPongNeverLosesAWakeUp) {
    Event ping, pong, stop;
    int shared = 0;
    std::thread peer([&] {
        for (;;) {
            if (WaitForAny({&stop, &ping}) == WAIT_OBJECT_0)
                return;
            ping.Reset();
            ++shared;
            pong.Set();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        ping.Set();
        ASSERT_EQ(WaitForAny({&pong}, 5000), WAIT_OBJECT_0);
        pong.Reset();
    }
    stop.Set();
    peer.join();
    EXPECT_EQ(shared, 2000);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CriticalSection cs;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 10000; ++i) {
            AutoLock outer(cs);
            AutoLock inner(cs);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 20000);
}

TEST(Interlocked, ReturnsNewValues) {
    std::atomic<std::int32_t> v{0};
    EXPECT_EQ(InterlockedIncrement(v), 1);
    EXPECT_EQ(InterlockedIncrement(v), 2);
    EXPECT_EQ(InterlockedDecrement(v), 1);
    EXPECT_EQ(InterlockedExchange(v, 7), 1);
    EXPECT_EQ(v.load(), 7);
}
