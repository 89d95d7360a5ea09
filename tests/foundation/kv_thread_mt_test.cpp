// Thread objects on the process-wide pool: hand-over, reuse of idle OS
// threads (last idled first), expiry, term(), self-deleting objects and the
// starter hook.
#include "foundation/kv_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/err.h>

namespace {

// Generous limit for an event that must come; never reached when all is well.
constexpr uint32_t kMustCome = 20000;
// Short look for an event that must not come (yet).
constexpr uint32_t kMustNotCome = 100;

// The tests' starter: a detached std::thread, counted, so that a test sees
// how many OS threads the pool asked for and how many have ended. The end is
// counted under a mutex so that a test that has seen the count is also past
// the ended thread's last touch of these statics.
std::atomic<int> os_started{0};
std::mutex os_mutex;
std::condition_variable os_cond;
int os_ended = 0; // guarded by os_mutex
std::atomic<int> failing_calls{0};

bool counting_starter(KV_ThreadProc proc, void* arg)
{
    os_started.fetch_add(1);
    try {
        std::thread([proc, arg] {
            proc(arg);
            std::lock_guard<std::mutex> guard(os_mutex);
            ++os_ended;
            os_cond.notify_all();
        }).detach();
    } catch (...) {
        os_started.fetch_sub(1);
        return false;
    }
    return true;
}

bool failing_starter(KV_ThreadProc, void*)
{
    failing_calls.fetch_add(1);
    return false;
}

// Waits until at least n of the counted OS threads have ended.
bool wait_os_ended(int n, uint32_t limit_ms)
{
    std::unique_lock<std::mutex> guard(os_mutex);
    return os_cond.wait_for(guard, std::chrono::milliseconds(limit_ms),
                            [n] { return os_ended >= n; });
}

// A thread object that records where it ran and, when built closed, waits in
// run() until `release` is set. Its owner keeps it (no auto_delete).
class Gate : public KV_Thread
{
public:
    explicit Gate(bool closed = false) : KV_Thread(false), release(!closed, true) {}
    // Never destroyed under a running run(), even when a test fails early.
    ~Gate() override
    {
        release.set();
        wait_term();
    }

    KV_Event entered{false, true};
    KV_Event release;
    std::thread::id ran_on;
    std::atomic<int> runs{0};
    unsigned long ssl_err_seen = 0;
    bool raise_ssl_err = false;

protected:
    bool run() override
    {
        ran_on = std::this_thread::get_id();
        ssl_err_seen = ERR_peek_error();
        if (raise_ssl_err)
            ERR_raise(ERR_LIB_USER, 1);
        runs.fetch_add(1);
        entered.set();
        release.wait(KV_WAIT_INFINITE);
        return true;
    }
};

class KV_ThreadPool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KV_ThreadMan::set_impl(&counting_starter);
        os_started.store(0);
        {
            std::lock_guard<std::mutex> guard(os_mutex);
            os_ended = 0;
        }
        failing_calls.store(0);
    }
    void TearDown() override
    {
        KV_ThreadMan::set_impl(&counting_starter);
        KV_Thread::man().term();
        // Leave no counted thread behind for the next test of this process.
        EXPECT_TRUE(wait_os_ended(os_started.load(), kMustCome));
        KV_ThreadMan::set_impl(&KV_ThreadMan::start_std);
    }
};

TEST_F(KV_ThreadPool, ObjectRunsOnAPooledThreadAndCanRunAgain)
{
    Gate g;
    EXPECT_FALSE(g.running());
    ASSERT_TRUE(g.start());
    g.wait_term();
    EXPECT_FALSE(g.running());
    EXPECT_EQ(g.runs.load(), 1);
    EXPECT_NE(g.ran_on, std::this_thread::get_id());
    EXPECT_TRUE(KV_Thread::zombies()) << "a kept object was started";

    const std::thread::id first = g.ran_on;
    ASSERT_TRUE(g.start());
    g.wait_term();
    EXPECT_EQ(g.runs.load(), 2);
    EXPECT_EQ(g.ran_on, first) << "the idle thread is reused";
    EXPECT_EQ(os_started.load(), 1);
}

TEST_F(KV_ThreadPool, StartWhileRunningIsRefused)
{
    Gate g(true);
    ASSERT_TRUE(g.start());
    ASSERT_FALSE(g.entered.wait(kMustCome));
    EXPECT_TRUE(g.running());
    EXPECT_FALSE(g.start());

    // Two threads racing to start a finished object: exactly one wins.
    g.release.set();
    g.wait_term();
    g.release.reset();
    g.entered.reset();
    std::atomic<int> wins{0};
    std::thread a([&] { wins.fetch_add(g.start() ? 1 : 0); });
    std::thread b([&] { wins.fetch_add(g.start() ? 1 : 0); });
    a.join();
    b.join();
    EXPECT_EQ(wins.load(), 1);
    ASSERT_FALSE(g.entered.wait(kMustCome));
    g.release.set();
    g.wait_term();
    EXPECT_EQ(g.runs.load(), 2);
}

TEST_F(KV_ThreadPool, FailedStartLeavesTheObjectNotStarted)
{
    struct Case
    {
        const char* name;
        KV_ThreadStarter starter;
        int failing_calls;
    };
    const Case cases[] = {
        {"no starter installed", nullptr, 0},
        {"starter fails", &failing_starter, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_Thread::man().term(); // no idle thread to fall back on
        failing_calls.store(0);
        KV_ThreadMan::set_impl(c.starter);
        Gate g;
        EXPECT_FALSE(g.start());
        EXPECT_FALSE(g.running());
        g.wait_term(); // returns at once: not started
        EXPECT_EQ(failing_calls.load(), c.failing_calls);
        EXPECT_EQ(g.runs.load(), 0);

        // The failed element is gone and the object starts normally later.
        KV_ThreadMan::set_impl(&counting_starter);
        ASSERT_TRUE(g.start());
        g.wait_term();
        EXPECT_EQ(g.runs.load(), 1);
    }
}

TEST_F(KV_ThreadPool, SequentialObjectsShareOneOsThread)
{
    std::thread::id first;
    for (int i = 0; i < 20; ++i) {
        Gate g;
        ASSERT_TRUE(g.start());
        g.wait_term();
        if (i == 0)
            first = g.ran_on;
        EXPECT_EQ(g.ran_on, first) << "object " << i;
    }
    EXPECT_EQ(os_started.load(), 1);
}

TEST_F(KV_ThreadPool, MostRecentlyIdledThreadIsReusedFirst)
{
    Gate a(true), b(true);
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    ASSERT_FALSE(a.entered.wait(kMustCome));
    ASSERT_FALSE(b.entered.wait(kMustCome));
    ASSERT_NE(a.ran_on, b.ran_on);
    a.release.set();
    a.wait_term();
    b.release.set();
    b.wait_term(); // b's thread idled after a's

    Gate c(true), d(true);
    ASSERT_TRUE(c.start());
    ASSERT_FALSE(c.entered.wait(kMustCome));
    ASSERT_TRUE(d.start());
    ASSERT_FALSE(d.entered.wait(kMustCome));
    EXPECT_EQ(c.ran_on, b.ran_on);
    EXPECT_EQ(d.ran_on, a.ran_on);
    EXPECT_EQ(os_started.load(), 2);
    c.release.set();
    d.release.set();
}

TEST_F(KV_ThreadPool, IdleThreadEndsAfterFifteenSeconds)
{
    {
        Gate g;
        ASSERT_TRUE(g.start());
        g.wait_term();
    }
    const auto idled = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_os_ended(1, 60000));
    const auto idle_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - idled)
                             .count();
    EXPECT_GE(idle_ms, 14000) << "ended before its idle time was up";

    Gate next;
    ASSERT_TRUE(next.start());
    next.wait_term();
    EXPECT_EQ(os_started.load(), 2) << "an expired thread is not reused";
}

TEST_F(KV_ThreadPool, TermWaitsForARunningRunAndEndsIdleThreads)
{
    KV_Thread::man().term(); // nothing pooled: returns at once

    Gate busy(true), extra;
    ASSERT_TRUE(busy.start());
    ASSERT_FALSE(busy.entered.wait(kMustCome));
    ASSERT_TRUE(extra.start());
    extra.wait_term(); // one busy and one idle thread now
    ASSERT_EQ(os_started.load(), 2);

    KV_Event term_done(false, true);
    std::thread terminator([&] {
        KV_Thread::man().term();
        term_done.set();
    });
    // The idle thread ends well before its 15 s are up; the busy one waits.
    EXPECT_TRUE(wait_os_ended(1, 10000));
    EXPECT_TRUE(term_done.wait(kMustNotCome)) << "term() returned under a running run()";
    EXPECT_TRUE(busy.running());

    busy.release.set();
    EXPECT_FALSE(term_done.wait(kMustCome));
    terminator.join();
    EXPECT_FALSE(busy.running());
    EXPECT_TRUE(wait_os_ended(2, kMustCome));
}

// Deletes itself on the pool thread once run() has returned.
class SelfDeleting : public KV_Thread
{
public:
    SelfDeleting(std::thread::id* ran_on, std::thread::id* deleted_on, KV_Event* gone)
        : ran_on(ran_on), deleted_on(deleted_on), gone(gone)
    {
    }
    ~SelfDeleting() override
    {
        *deleted_on = std::this_thread::get_id();
        gone->set();
    }

protected:
    bool run() override
    {
        *ran_on = std::this_thread::get_id();
        return true;
    }

private:
    std::thread::id* ran_on;
    std::thread::id* deleted_on;
    KV_Event* gone;
};

TEST_F(KV_ThreadPool, AutoDeleteObjectGoesOnItsPoolThread)
{
    std::thread::id ran_on, deleted_on;
    KV_Event gone(false, true);
    ASSERT_TRUE((new SelfDeleting(&ran_on, &deleted_on, &gone))->start());
    ASSERT_FALSE(gone.wait(kMustCome));
    EXPECT_NE(ran_on, std::thread::id());
    EXPECT_EQ(deleted_on, ran_on);
}

TEST_F(KV_ThreadPool, OpenSslErrorsDoNotLeakIntoTheNextRun)
{
    Gate dirty;
    dirty.raise_ssl_err = true;
    ASSERT_TRUE(dirty.start());
    dirty.wait_term();

    Gate clean;
    ASSERT_TRUE(clean.start());
    clean.wait_term();
    ASSERT_EQ(clean.ran_on, dirty.ran_on);
    EXPECT_EQ(clean.ssl_err_seen, 0u);
}

// A worker that counts only a terminate as a stop keeps running through a
// cancel, and a pause does not keep it from seeing the terminate.
class Worker : public KV_Thread
{
public:
    Worker() : KV_Thread(false) { set_stop_type(KV_STOP_TERMINATE); }
    ~Worker() override
    {
        stop(KV_STOP_TERMINATE);
        wait_term();
    }
    KV_Event entered{false, true};

protected:
    bool run() override
    {
        entered.set();
        while (!stopped(nullptr, true)) {
            wait_npaused();
            std::this_thread::yield();
        }
        return true;
    }
};

TEST_F(KV_ThreadPool, StopOfARunningObjectFollowsItsThreshold)
{
    Worker w;
    ASSERT_TRUE(w.start());
    ASSERT_FALSE(w.entered.wait(kMustCome));
    w.set_paused(true);
    w.stop(KV_STOP_CANCEL);
    EXPECT_FALSE(w.paused());
    EXPECT_TRUE(w.running()) << "a cancel is below the threshold";
    w.stop(KV_STOP_TERMINATE);
    w.wait_term();
    EXPECT_FALSE(w.running());
}

// Many objects started at once from several threads, some deleting
// themselves, some deleted by their owner the moment running() turns false.
TEST_F(KV_ThreadPool, ConcurrentStartsAllRun)
{
    constexpr int kStarters = 4;
    constexpr int kEach = 50;
    std::atomic<int> self_deleted{0};
    KV_Event all_gone(false, true);

    class Counted : public KV_Thread
    {
    public:
        Counted(std::atomic<int>* done, KV_Event* all, int total)
            : done(done), all(all), total(total)
        {
        }
        ~Counted() override
        {
            if (done->fetch_add(1) + 1 == total)
                all->set();
        }

    protected:
        bool run() override { return true; }

    private:
        std::atomic<int>* done;
        KV_Event* all;
        int total;
    };

    std::atomic<int> failed{0};
    std::vector<std::thread> starters;
    for (int s = 0; s < kStarters; ++s) {
        starters.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                if (!(new Counted(&self_deleted, &all_gone, kStarters * kEach))->start())
                    failed.fetch_add(1);
                auto* g = new Gate;
                if (!g->start())
                    failed.fetch_add(1);
                while (g->running())
                    std::this_thread::yield();
                delete g; // the pool must not touch it any more
            }
        });
    }
    for (std::thread& t : starters)
        t.join();
    ASSERT_EQ(failed.load(), 0);
    EXPECT_FALSE(all_gone.wait(kMustCome));
    EXPECT_EQ(self_deleted.load(), kStarters * kEach);
}

} // namespace
