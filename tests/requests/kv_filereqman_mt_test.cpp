#include "requests/kv_filereqman.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "requests/kv_filereqtasks.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtaskstrans.h"

namespace {

using namespace std::chrono_literals;
using kvtest::NullErr;
using reqtest::drain_req_ntf;
using reqtest::Journal;
using reqtest::Ntf;
using reqtest::TestMan;
using reqtest::TestReq;

// Ends the pooled threads at the end of the program, so that their
// per-thread OpenSSL state is released before the leak check.
class PoolEnd : public testing::Environment
{
public:
    void TearDown() override { KV_Thread::man().term(); }
};
testing::Environment* const pool_end = testing::AddGlobalTestEnvironment(new PoolEnd);

// Polls `pred` while waking the manager; false when it stays false for the
// whole limit.
template <class Pred> bool eventually(TestMan& man, Pred pred, std::chrono::seconds limit = 20s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        man.sync(1s);
    }
    return true;
}

// Runs `f` on another thread; aborts the whole program when it does not end
// in time, since a deadlocked thread cannot be taken back.
template <class F> void within(F f, std::chrono::seconds limit, const char* what)
{
    auto fut = std::async(std::launch::async, f);
    if (fut.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "deadlock: %s did not end within %lld s\n", what,
                     static_cast<long long>(limit.count()));
        std::abort();
    }
    fut.get();
}

TEST(FileReqMan, IdsStartAtTwoAndAgainOnceEmpty)
{
    NullErr eh;
    Journal j;
    TestMan man;
    auto* a = new TestReq(eh, j);
    auto* b = new TestReq(eh, j);
    uint32_t ida = 0, idb = 0, idc = 0;
    a->id_out = &ida;
    b->id_out = &idb;
    ASSERT_TRUE(man.add_req(a, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.add_req(b, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(ida, 2u);
    EXPECT_EQ(idb, 3u);

    man.mode = TestMan::Complete;
    ASSERT_TRUE(man.start());
    ASSERT_TRUE(eventually(man, [&] { return j.alive.load() == 0; }));
    ASSERT_TRUE(man.sync());
    auto* c = new TestReq(eh, j);
    c->id_out = &idc;
    ASSERT_TRUE(man.add_req(c, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(idc, 2u);
}

TEST(FileReqMan, DuplicateOfQueuedReplacesItDuplicateOfRunningIsDropped)
{
    NullErr eh;
    Journal j;
    TestMan man; // driven pass by pass on this thread
    uint32_t old_id = 0, new_id = 0;
    auto* old_req = new TestReq(eh, j, 1);
    old_req->id_out = &old_id;
    ASSERT_TRUE(man.add_req(old_req, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    auto* new_req = new TestReq(eh, j, 1);
    new_req->id_out = &new_id;
    ASSERT_TRUE(man.add_req(new_req, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    // The older queued one was cancelled and deleted in that pass.
    ASSERT_EQ(j.ids(), std::vector<uint32_t>{old_id});
    EXPECT_EQ(j.ended_stat[0], KV_REQ_STAT_CANCELLED);
    ASSERT_EQ(man.list_req().size(), 1u);
    EXPECT_EQ(man.list_req().at(0), new_req);
    EXPECT_EQ(man.dupl_started.load(), 0u);

    // Now the survivor runs; a third equal request is the one dropped.
    man.mode = TestMan::Start;
    ASSERT_TRUE(man.pass());
    ASSERT_EQ(new_req->status(), KV_REQ_STAT_RUNNING);
    uint32_t third_id = 0;
    auto* third = new TestReq(eh, j, 1);
    third->id_out = &third_id;
    ASSERT_TRUE(man.add_req(third, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(man.dupl_started.load(), new_id);
    EXPECT_EQ(new_req->status(), KV_REQ_STAT_RUNNING);
    ASSERT_EQ(j.ids().size(), 2u);
    EXPECT_EQ(j.ids()[1], third_id);
    EXPECT_EQ(j.ended_stat[1], KV_REQ_STAT_CANCELLED);

    // Without the duplicate check equal requests both stay.
    man.mode = TestMan::Hold;
    auto* x = new TestReq(eh, j, 2);
    auto* y = new TestReq(eh, j, 2);
    y->dupl = false;
    ASSERT_TRUE(man.add_req(x, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    ASSERT_TRUE(man.add_req(y, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(man.list_req().size(), 3u);
}

TEST(FileReqMan, FailedPreAddEndsAsError)
{
    NullErr eh;
    Journal j;
    TestMan man;
    man.rm = false;
    auto* r = new TestReq(eh, j);
    r->pre_add_ok = false;
    ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(r->status(), KV_REQ_STAT_ERROR);
}

TEST(FileReqMan, WaitFollowsTheNearestDueTimeCappedAtOneHour)
{
    struct Case
    {
        std::vector<int64_t> due; // seconds from now, Suspended requests
        uint32_t lo, hi;
    };
    const Case cases[] = {
        {{30, 10}, 9000, 10000},
        {{7200}, 3600000, 3600000},
        // (t - now) x 1000 in 32 bits would wrap to a few hundred ms here.
        {{4294968}, 3600000, 3600000},
        {{}, KV_WAIT_INFINITE, KV_WAIT_INFINITE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.due.empty() ? 0 : c.due[0]);
        NullErr eh;
        Journal j;
        TestMan man;
        for (int64_t d : c.due) {
            auto* r = new TestReq(eh, j);
            r->susp_at = reqtest::now_plus(d);
            ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_SUSPENDED));
        }
        ASSERT_TRUE(man.pass());
        EXPECT_GE(man.wait_seen(), c.lo);
        EXPECT_LE(man.wait_seen(), c.hi);
        EXPECT_EQ(j.started.load(), 0);
    }
}

TEST(FileReqMan, DueSuspendedAndRestartingRequestsMoveOn)
{
    NullErr eh;
    Journal j;
    TestMan man;
    KV_FileReqManOpts o(1, 20);
    man.set_opts(o);
    auto* s = new TestReq(eh, j);
    s->susp_at = reqtest::now_plus(-1);
    ASSERT_TRUE(man.add_req(s, nullptr, nullptr, KV_REQ_STAT_SUSPENDED));
    auto* r = new TestReq(eh, j);
    ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(man.nbusy(), 1u);
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(s->status(), KV_REQ_STAT_QUEUED);
    EXPECT_EQ(j.started.load(), 2);
    EXPECT_EQ(man.nbusy(), 2u);

    // A failed run waits rest_wait seconds before it may run again.
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    r->set_status(KV_REQ_STAT_RESTARTING, false, 0, false);
    EXPECT_FALSE(r->can_process(KV_REQ_STAT_RESTARTING));
    ASSERT_TRUE(man.pass());
    EXPECT_GE(man.wait_seen(), 19000u);
    EXPECT_LE(man.wait_seen(), 20000u);
    r->start_rest();
    EXPECT_TRUE(r->can_process(KV_REQ_STAT_RESTARTING));
    EXPECT_FALSE(r->can_process(KV_REQ_STAT_QUEUED));
}

TEST(FileReqMan, SuspendedRequestWakesTheLoopAtItsTime)
{
    NullErr eh;
    Journal j;
    KV_FileReqObs obs;
    TestMan man;
    man.mode = TestMan::Complete;
    ASSERT_TRUE(man.start());
    auto* r = new TestReq(eh, j);
    const int64_t due = reqtest::now_plus(1);
    r->susp_at = due;
    ASSERT_TRUE(man.add_req(r, nullptr, &obs, KV_REQ_STAT_SUSPENDED));
    // Nothing else wakes the loop: only the computed wait can.
    ASSERT_FALSE(obs.wait(15000)) << "the suspended request never ran";
    EXPECT_TRUE(obs.completed());
    EXPECT_GE(reqtest::now_plus(0), due);
}

TEST(FileReqMan, BusyLimitBlocksWaitNbusyUntilARequestEnds)
{
    NullErr eh;
    Journal j;
    TestMan man;
    man.lim = 10;
    std::vector<TestReq*> reqs;
    for (int i = 0; i < 11; ++i) {
        auto* r = new TestReq(eh, j);
        reqs.push_back(r);
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    }
    EXPECT_EQ(man.nbusy(), 11u);

    std::atomic<bool> through{false};
    std::thread producer([&] {
        man.wait_nbusy();
        through = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(through.load());
    // One request ends (as a worker would end it): 10 pending, within limit.
    reqs[0]->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
    producer.join();
    EXPECT_TRUE(through.load());

    // Over the limit again; a stop releases the producer as well.
    ASSERT_TRUE(man.add_req(new TestReq(eh, j), nullptr, nullptr, KV_REQ_STAT_QUEUED));
    through = false;
    std::thread producer2([&] {
        man.wait_nbusy();
        through = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(through.load());
    man.stop(KV_STOP_TERMINATE);
    producer2.join();
    EXPECT_TRUE(through.load());
}

TEST(FileReqMan, DeadManagerDeletesAndReportsTheRequest)
{
    NullErr eh;
    Journal j;
    KV_FileReqObs obs;
    TestMan man;
    man.set_dead(true);
    uint32_t id = 0;
    auto* r = new TestReq(eh, j);
    r->id_out = &id;
    EXPECT_FALSE(man.add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(j.alive.load(), 0);
    EXPECT_FALSE(obs.wait(0));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_ERROR);
    const std::vector<Ntf> n = drain_req_ntf(man.informer());
    ASSERT_FALSE(n.empty());
    EXPECT_EQ(n.front().ntf, KV_REQ_NTF_INIT);
    EXPECT_EQ(n.back().ntf, KV_REQ_NTF_ENDED);
    EXPECT_EQ(n.back().id, id);
    EXPECT_EQ(man.nbusy(), 0u);
    EXPECT_FALSE(man.add_req(nullptr, nullptr, nullptr, KV_REQ_STAT_QUEUED));
}

TEST(FileReqMan, AllProcessedNoticeAndLocks)
{
    NullErr eh;
    Journal j;
    TestMan man;
    man.rm = false;
    man.set_inf_all_proc(true);
    auto* r = new TestReq(eh, j);
    ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    EXPECT_FALSE(man.all_proc());
    drain_req_ntf(man.informer());
    man.mode = TestMan::Complete;
    ASSERT_TRUE(man.pass()); // completes it
    ASSERT_TRUE(man.pass()); // sees it processed
    EXPECT_TRUE(man.all_proc());
    int all = 0;
    while (KV_Msg* m = man.informer().pop()) {
        if (m->type() == KV_MSG_STD)
            ++all;
        KV_Informer::destroy(m);
    }
    EXPECT_EQ(all, 1);

    man.lock(true);
    man.lock(false);
    uint32_t nreq = 9;
    EXPECT_EQ(man.lock_cnt(&nreq), 2u);
    EXPECT_EQ(nreq, 1u);
    man.unlock(true);
    man.unlock(true); // never below 0
    man.unlock(false);
    EXPECT_EQ(man.lock_cnt(&nreq), 0u);
    EXPECT_EQ(nreq, 0u);
}

// A parent's pause walks its children under the parent's lock and takes
// each child's lock; a child that ends at the same time leaves the parent.
// Leaving the parent inside the child's lock deadlocked the two.
TEST(FileReqMan, PauseOfParentWhileChildEnds)
{
    NullErr eh;
    Journal j;
    TestReq parent(eh, j);
    parent.set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    TestMan man;
    for (int i = 0; i < 200; ++i) {
        auto* child = new TestReq(eh, j);
        child->hook_delay = std::chrono::microseconds(i % 2 ? 500 : 0);
        ASSERT_TRUE(man.add_req(child, &parent, nullptr, KV_REQ_STAT_QUEUED));
        child->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        within(
            [&] {
                std::thread pauser([&] {
                    parent.set_paused(true);
                    parent.set_paused(false);
                });
                child->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
                pauser.join();
            },
            20s, "pause of a parent against the end of its child");
        ASSERT_TRUE(man.pass());
    }
    EXPECT_EQ(j.alive.load(), 1);
    parent.settle();
}

// A pause walks the request under its stoppable lock and then takes its
// lock; the end of the request holds its lock while its hook asks whether it
// ran. Asking must not need the stoppable lock.
TEST(FileReqMan, PauseWhileTheRequestEndsAndItsHookAsksExecuted)
{
    NullErr eh;
    Journal j;
    TestMan man;
    for (int i = 0; i < 200; ++i) {
        auto* r = new TestReq(eh, j);
        r->hook_delay = std::chrono::microseconds(i % 2 ? 500 : 0);
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        r->reset_executed();
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        within(
            [&] {
                std::thread pauser([&] {
                    r->set_paused(true);
                    r->set_paused(false);
                });
                r->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
                pauser.join();
            },
            20s, "pause of a request against its end");
        EXPECT_TRUE(r->exec_seen.load());
        ASSERT_TRUE(man.pass());
    }
    EXPECT_EQ(j.alive.load(), 0);
}

// A request whose end adds a request to its own manager: while the manager
// runs, and when it is terminated with the request still queued (then the
// manager takes nothing any more, and the follow-up is refused and deleted).
TEST(FileReqMan, EndOfARequestMayAddToTheSameManager)
{
    NullErr eh;
    Journal j;
    {
        TestMan man;
        man.mode = TestMan::Complete;
        auto* r = new TestReq(eh, j);
        r->add_on_end = &man;
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        ASSERT_TRUE(man.start());
        ASSERT_TRUE(eventually(man, [&] { return j.processed.load() == 2; }));
        ASSERT_TRUE(eventually(man, [&] { return j.alive.load() == 0; }));
    }
    within(
        [&] {
            TestMan man;
            auto* r = new TestReq(eh, j);
            r->add_on_end = &man;
            ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
            man.terminate();
        },
        20s, "terminate with a request that adds on its end");
    EXPECT_EQ(j.alive.load(), 0);
    EXPECT_EQ(j.processed.load(), 4);
}

// A small worker pool of the test's own: the manager thread hands each
// runnable request to it; the workers end them (some after one restart),
// while producers add and cancel requests and pause them.
class PoolMan : public TestMan
{
public:
    PoolMan()
    {
        for (int i = 0; i < 3; ++i)
            workers.emplace_back([this] { work(); });
    }
    ~PoolMan() override
    {
        // The workers end what still runs while the manager winds down.
        terminate();
        {
            std::lock_guard<std::mutex> g(m);
            quit = true;
        }
        cv.notify_all();
        for (std::thread& t : workers)
            t.join();
    }

    bool process_req(KV_REQ_STAT stat) override
    {
        if (!stopped()) {
            for (KV_FileReq* e : list_req()) {
                if (!e->can_process(stat))
                    continue;
                e->reset_executed();
                e->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
                std::lock_guard<std::mutex> g(m);
                jobs.push_back(e);
                cv.notify_one();
            }
        }
        return TestMan::process_req(stat);
    }

private:
    void work()
    {
        std::minstd_rand rnd(std::hash<std::thread::id>()(std::this_thread::get_id()));
        for (;;) {
            KV_FileReq* r;
            {
                std::unique_lock<std::mutex> g(m);
                cv.wait(g, [&] { return quit || !jobs.empty(); });
                if (jobs.empty())
                    return;
                r = jobs.front();
                jobs.pop_front();
            }
            KV_REQ_STAT end = KV_REQ_STAT_COMPLETED;
            if (r->stopped())
                end = KV_REQ_STAT_CANCELLED;
            else if (rnd() % 4 == 0 && r->can_retry())
                end = KV_REQ_STAT_RESTARTING;
            // The last touch of the request: once it is processed the
            // manager may delete it.
            r->set_status(end, false, 0, false);
        }
    }

    std::mutex m;
    std::condition_variable cv;
    std::deque<KV_FileReq*> jobs;
    bool quit = false;
    std::vector<std::thread> workers;
};

TEST(FileReqMan, StressProducersAddAndCancelWhileTheManagerRuns)
{
    constexpr int producers = 4;
    constexpr int per_producer = 1500;
    NullErr eh;
    Journal j;
    std::atomic<int> observed{0};
    {
        PoolMan man;
        man.mode = TestMan::Hold; // dispatch is PoolMan's own
        ASSERT_TRUE(man.start());
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p) {
            threads.emplace_back([&, p] {
                std::minstd_rand rnd(p + 1);
                std::vector<uint32_t> ids;
                for (int i = 0; i < per_producer; ++i) {
                    auto* r = new TestReq(eh, j, static_cast<int>(rnd() % 50));
                    uint32_t id = 0;
                    r->id_out = &id;
                    KV_FileReqObs obs;
                    const bool wait = i % 50 == 0;
                    const KV_REQ_STAT st = i % 7 == 0 ? KV_REQ_STAT_SUSPENDED : KV_REQ_STAT_QUEUED;
                    if (st == KV_REQ_STAT_SUSPENDED)
                        r->susp_at = reqtest::now_plus(0);
                    man.add_req(r, nullptr, wait ? &obs : nullptr, st);
                    ids.push_back(id);
                    const uint32_t victim = ids[rnd() % ids.size()];
                    switch (rnd() % 4) {
                    case 0:
                        man.add_task(KV_FileReqTaskCancel(victim, rnd() % 2 == 0));
                        break;
                    case 1:
                        man.add_task(KV_FileReqTaskPause(victim, rnd() % 2 == 0));
                        break;
                    default:
                        break;
                    }
                    if (wait) {
                        obs.wait();
                        ++observed;
                    }
                }
            });
        }
        for (std::thread& t : threads)
            t.join();
        // Resume whatever a pause left waiting, then let everything end.
        man.add_task(KV_FileReqTaskPause(0, false));
        ASSERT_TRUE(eventually(
            man, [&] { return j.alive.load() == 0; }, 120s))
            << j.alive.load() << " requests never ended";
    }
    EXPECT_EQ(j.ids().size(), static_cast<size_t>(producers * per_producer));
    EXPECT_EQ(j.bad_ends.load(), 0);
    EXPECT_EQ(observed.load(), producers * (per_producer / 50));
}

} // namespace
