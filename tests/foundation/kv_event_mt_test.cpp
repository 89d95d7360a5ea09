#include "foundation/kv_event.h"
#include "foundation/kv_time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

static_assert(!std::is_copy_constructible_v<KV_Event> && !std::is_copy_assignable_v<KV_Event>,
              "a copied event would be a second event that no waiter sees");
static_assert(!std::is_copy_constructible_v<KV_Lock> && !std::is_copy_assignable_v<KV_Lock>,
              "a copied lock would not exclude anything");

// Polls until `done` holds, for at most five seconds.
template <class F> bool eventually(F done)
{
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(KV_EventTest, AutoResetLetsOneWaitThrough)
{
    KV_Event ev(false, false);
    EXPECT_TRUE(ev.wait(0)); // true means timed out
    ev.set();
    EXPECT_FALSE(ev.wait(0));
    EXPECT_TRUE(ev.wait(0));

    KV_Event initially(true, false);
    EXPECT_FALSE(initially.wait(0));
    EXPECT_TRUE(initially.wait(0));
}

TEST(KV_EventTest, ManualResetStaysSignalledUntilReset)
{
    KV_Event ev(false, true);
    EXPECT_TRUE(ev.wait(0));
    ev.set();
    EXPECT_FALSE(ev.wait(0));
    EXPECT_FALSE(ev.wait(10));
    ev.reset();
    EXPECT_TRUE(ev.wait(0));

    KV_Event initially(true, true);
    EXPECT_FALSE(initially.wait(0));
    EXPECT_FALSE(initially.wait(0));
}

TEST(KV_EventTest, TimedWaitLastsAtLeastItsTime)
{
    KV_Event ev(false, false);
    KV_TimeInt timer;
    EXPECT_TRUE(ev.wait(40));
    EXPECT_GE(timer.diff(), 40);
}

TEST(KV_EventTest, SetFromAnotherThreadEndsAnUnlimitedWait)
{
    KV_Event ev(false, false);
    std::atomic<bool> timed_out{true};
    std::thread waiter([&] { timed_out = ev.wait(KV_WAIT_INFINITE); });
    settle();
    ev.set();
    waiter.join();
    EXPECT_FALSE(timed_out);
    // The successful wait consumed the signal.
    EXPECT_TRUE(ev.wait(0));
}

TEST(KV_EventTest, EachSetOfAnAutoResetEventReleasesOneWaiter)
{
    KV_Event ev(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (!ev.wait(KV_WAIT_INFINITE))
                ++released;
        });
    settle();
    for (int expected = 1; expected <= 3; ++expected) {
        ev.set();
        EXPECT_TRUE(eventually([&] { return released == expected; }));
        settle();
        EXPECT_EQ(released, expected);
    }
    for (auto& w : waiters)
        w.join();
}

TEST(KV_EventTest, SetOfAManualResetEventReleasesEveryWaiter)
{
    KV_Event ev(false, true);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (!ev.wait(KV_WAIT_INFINITE))
                ++released;
        });
    settle();
    ev.set();
    for (auto& w : waiters)
        w.join();
    EXPECT_EQ(released, 4);
}

TEST(KV_LockTest, ReleasedByAnotherThreadLetsAThirdIn)
{
    KV_Lock lock;
    std::thread a([&] { lock.lock(); });
    a.join();
    // Held: a look at the underlying event times out.
    EXPECT_TRUE(lock.wait(0));

    std::atomic<bool> c_in{false};
    std::thread c([&] {
        lock.lock();
        c_in = true;
        lock.unlock();
    });
    settle();
    EXPECT_FALSE(c_in);

    std::thread b([&] { lock.unlock(); });
    b.join();
    c.join();
    EXPECT_TRUE(c_in);
}

TEST(KV_LockTest, ExcludesConcurrentHolders)
{
    KV_Lock lock;
    long counter = 0; // guarded by lock; ThreadSanitizer sees any race
    int inside = 0;
    bool overlapped = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                lock.lock();
                if (++inside != 1)
                    overlapped = true;
                ++counter;
                --inside;
                lock.unlock();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(counter, 6 * 2000);
}

} // namespace
