#include "audio/pipeline/packet.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Counts its own destructions so tests can see exactly when it dies.
class tracked_t : public ref_object_t {
public:
    explicit tracked_t(int* deaths) : deaths(deaths) {}
    ~tracked_t() override { ++*deaths; }
    ref_ptr<tracked_t> next;

private:
    int* deaths;
};

} // namespace

TEST(RefPtr, HoldsCountAndDeletesOnReset) {
    int deaths = 0;
    auto* o = new tracked_t(&deaths);
    EXPECT_EQ(o->use_count(), 0);
    ref_ptr<tracked_t> p(o);
    EXPECT_EQ(o->use_count(), 1);
    {
        ref_ptr<tracked_t> copy = p;
        EXPECT_EQ(o->use_count(), 2);
    }
    EXPECT_EQ(o->use_count(), 1);
    p = o;
    EXPECT_EQ(o->use_count(), 1);
    p = nullptr;
    EXPECT_EQ(deaths, 1);
}

TEST(RefPtr, MoveAndConversionKeepCountsRight) {
    int deaths = 0;
    ref_ptr<tracked_t> a(new tracked_t(&deaths));
    ref_ptr<tracked_t> b = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(b->use_count(), 1);
    ref_ptr<ref_object_t> base = b;
    EXPECT_EQ(b->use_count(), 2);
    EXPECT_EQ(base->use_count(), 2);
    b = nullptr;
    base = nullptr;
    EXPECT_EQ(deaths, 1);
}

TEST(RefPtr, AssigningWhatTheOldObjectOwnsIsSafe) {
    int deaths = 0;
    ref_ptr<tracked_t> p(new tracked_t(&deaths));
    p->next = new tracked_t(&deaths);
    // The old head holds the only reference to its successor.
    p = p->next;
    EXPECT_EQ(deaths, 1);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->use_count(), 1);
    p = nullptr;
    EXPECT_EQ(deaths, 2);
}

TEST(RefPtr, SharedAcrossThreadsDeletesOnce) {
    int deaths = 0;
    ref_ptr<tracked_t> p(new tracked_t(&deaths));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([p] {
            for (int i = 0; i < 10000; ++i) {
                ref_ptr<tracked_t> q = p;
                q = nullptr;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(p->use_count(), 1);
    p = nullptr;
    EXPECT_EQ(deaths, 1);
}

TEST(Packet, FreshBlockAndReset) {
    ref_ptr<packet::blockdata_t<float>> b(new packet::blockdata_t<float>(7));
    EXPECT_EQ(b->kind(), 2);
    EXPECT_EQ(b->sample_count, 0);
    ASSERT_EQ(b->samples.size(), 7u);
    for (float s : b->samples)
        EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(b->start_time, -2147483648LL);
    EXPECT_EQ(b->stop_time, -2147483648LL);
    EXPECT_FALSE(b->owner);

    b->sample_count = 7;
    b->start_time = 10;
    b->stop_time = 20;
    b->samples[3] = 0.5f;
    EXPECT_TRUE(b->reset());
    EXPECT_EQ(b->sample_count, 0);
    EXPECT_EQ(b->start_time, TIME_UNSET);
    EXPECT_EQ(b->stop_time, TIME_UNSET);
    EXPECT_EQ(b->samples[3], 0.5f);
}

TEST(Packet, ControlKindAndDownCast) {
    ref_ptr<packet::base_t> c(new packet::endofstream_t);
    EXPECT_EQ(c->kind(), 1);
    EXPECT_TRUE(ref_cast<packet::control_base_t>(c));
    EXPECT_FALSE(ref_cast<packet::blockdata_t<float>>(c));
    ref_ptr<packet::base_t> d(new packet::blockdata_t<float>(1));
    EXPECT_FALSE(ref_cast<packet::control_base_t>(d));
}

TEST(Packet, IsFreeOnlyWhileUnheld) {
    auto* raw = new packet::blockdata_t<float>(1);
    EXPECT_TRUE(raw->is_free());
    ref_ptr<packet::base_t> p(raw);
    EXPECT_FALSE(raw->is_free());
    {
        ref_ptr<packet::base_t> q = p;
        EXPECT_FALSE(raw->is_free());
    }
    EXPECT_FALSE(raw->is_free());
}

namespace {

class keeper_t : public packet::recycler_t {
public:
    void take_back(packet::base_t* p) override { kept.push_back(p); }
    std::vector<packet::base_t*> kept;
};

} // namespace

TEST(Packet, LastReleaseGoesToTheRecycler) {
    ref_ptr<keeper_t> keeper(new keeper_t);
    auto* raw = new packet::blockdata_t<float>(2);
    raw->owner = keeper.get();
    ref_ptr<packet::base_t> p(raw);
    p = nullptr;
    ASSERT_EQ(keeper->kept.size(), 1u);
    EXPECT_EQ(keeper->kept[0], raw);
    EXPECT_TRUE(raw->is_free());
    raw->owner = nullptr;
    delete raw;
}
