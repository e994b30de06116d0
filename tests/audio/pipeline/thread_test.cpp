#include "audio/pipeline/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

// Runs until told to finish, or returns at once when asked to.
template <typename Base> class worker_t : public thread_base_t<Base> {
public:
    enum mode_t { until_stop, until_released, at_once };
    explicit worker_t(mode_t mode = until_stop) : mode(mode) {}
    ~worker_t() override { this->stop(); }

    Event release{true, false};
    Event entered{true, false};
    std::atomic<int> runs{0};
    std::atomic<bool> sawStop{false};

protected:
    std::uint32_t run() override {
        ++runs;
        entered.Set();
        if (mode == until_released)
            release.Wait();
        while (mode == until_stop && !this->is_stop_requested())
            release.Wait(1);
        sawStop = this->is_stop_requested();
        return 0;
    }

private:
    mode_t mode;
};

template <typename T> class ThreadBase : public ::testing::Test {};
using Variants = ::testing::Types<thread_object_t, cthread_object_t>;
TYPED_TEST_SUITE(ThreadBase, Variants);

} // namespace

TYPED_TEST(ThreadBase, SecondStartWhileRunningFails) {
    worker_t<TypeParam> w;
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(w.entered.Wait(5000));
    EXPECT_NE(w.id(), std::this_thread::get_id());
    EXPECT_FALSE(w.start());
    EXPECT_TRUE(w.running());
    EXPECT_TRUE(w.stop());
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_TRUE(w.sawStop.load());
}

TYPED_TEST(ThreadBase, StartAfterBodyReturnedReapsAndRestarts) {
    worker_t<TypeParam> w(worker_t<TypeParam>::at_once);
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(w.entered.Wait(5000));
    // The body has returned but the thread is not reaped until the next call.
    while (w.runs.load() == 1 && !w.start())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(w.stop());
    EXPECT_EQ(w.runs.load(), 2);
}

TYPED_TEST(ThreadBase, StopWhenIdleDoesNothing) {
    worker_t<TypeParam> w;
    EXPECT_TRUE(w.stop());
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.runs.load(), 0);
}

TYPED_TEST(ThreadBase, DestroyingARunningObjectJoins) {
    std::atomic<bool> done{false};
    auto* w = new worker_t<TypeParam>(worker_t<TypeParam>::until_released);
    ASSERT_TRUE(w->start());
    ASSERT_TRUE(w->entered.Wait(5000));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        done = true;
        w->release.Set();
    });
    delete w;
    EXPECT_TRUE(done.load());
    releaser.join();
}
