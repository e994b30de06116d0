#include "audio/pipeline/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

// Runs until told to finish, or returns at once when asked to.
template <typename Base> class worker_t : public thread_base_t<Base> {
public:
    explicit worker_t(bool returnAtOnce = false) : returnAtOnce(returnAtOnce) {}
    ~worker_t() override { this->stop(); }

    Event release{true, false};
    Event entered{true, false};
    std::atomic<int> runs{0};
    std::atomic<bool> sawStop{false};

protected:
    std::uint32_t run() override {
        ++runs;
        entered.Set();
        if (!returnAtOnce)
            release.Wait();
        sawStop = this->is_stop_requested();
        return 0;
    }

private:
    bool returnAtOnce;
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
    w.release.Set();
    EXPECT_TRUE(w.stop());
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_TRUE(w.sawStop.load());
}

TYPED_TEST(ThreadBase, StartAfterBodyReturnedReapsAndRestarts) {
    worker_t<TypeParam> w(true);
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
    auto* w = new worker_t<TypeParam>;
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
