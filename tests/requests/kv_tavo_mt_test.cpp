// The worker pool: growing and shrinking with its notices and ids, the
// choice of a worker for each request, the final statuses that workers hand
// back, keep-alive requests, and the order in which workers are ended.
//
// Some tests let the manager's own thread run the loop; those that must see
// the state between two passes call preprocess_req and process_req from the
// test thread instead (the manager thread is then never started, so the test
// thread is the only one that plays it).
#include "requests/kv_tavo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_msg.h"
#include "foundation/kv_thread.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"
#include "support/kv_poolthreads.h"

namespace {

// Generous limit for something that must happen; never reached when all is
// well.
constexpr uint32_t kMustCome = 20000;

// Lets a test hold a worker inside process() until it releases it.
struct Gate
{
    KV_Event started{false, true};
    KV_Event release{false, true};
};

// What the test worker does with a request, and so its final status.
enum class Outcome {
    complete,      // req_executed(true)
    fail,          // req_executed(false)
    silent,        // never reports
    cancel_inside, // the request is cancelled while it runs, then reports true
};

class TestReq : public KV_FileReq
{
public:
    explicit TestReq(KV_ErrHandler& eh, uint32_t spec = 0, Outcome outcome = Outcome::complete,
                     Gate* gate = nullptr, bool one_free = false)
        : KV_FileReq(eh), outcome(outcome), gate(gate), spec(spec), one(one_free)
    {
    }
    ~TestReq() override { set_term_status(); }

    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String&, bool) const override { return "Test"; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_MKDIR; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    uint32_t spec_tavo() const override { return spec; }
    bool one_free() const override { return one; }
    bool dupl_check() const override { return false; }
    // With linger: the worker's thread, ending the request, stays a while
    // in this hook after waking the manager, which meanwhile dispatches.
    bool req_processed() override
    {
        if (linger && man()) {
            man()->req_proc();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return KV_FileReq::req_processed();
    }

    const Outcome outcome;
    bool linger = false;
    Gate* const gate;
    // The id of the worker that ran the request; 0 while none has.
    std::atomic<uint32_t>* ran_by = nullptr;

private:
    const uint32_t spec;
    const bool one;
};

// A request that some worker ran and that is not a TestReq: the pool's own
// keep-alive requests.
struct Foreign
{
    uint32_t tavo_id;
    KV_REQ_TYPE type;
    std::string descr;
    uint32_t spec_tavo;
};

class TestPool;

class TestTavo : public KV_Tavo
{
public:
    TestTavo(KV_Informer& informer, TestPool& pool, bool quit) : KV_Tavo(informer), pool(pool), quit(quit)
    {
    }
    ~TestTavo() override;

    bool process() override;
    bool quit_after_req() const override { return quit; }
    uint32_t kind() const override { return 0; }

private:
    TestPool& pool;
    const bool quit;
};

class TestPool : public KV_FileManTavo
{
public:
    explicit TestPool(uint32_t ntavos, bool quit_workers = false)
        : want(ntavos), quit_workers(quit_workers)
    {
    }
    ~TestPool() override { terminate(); }

    KV_FileReqManOpts opts() const override { return KV_FileReqManOpts(want.load()); }
    KV_Tavo* create_tavo() override { return new TestTavo(informer(), *this, quit_workers); }
    // With keep_done, ended requests stay queued until the pool ends.
    bool auto_rm(const KV_REQ_STAT*, bool) const override { return !keep_done; }

    using KV_FileManTavo::next_id;
    using KV_FileManTavo::process_ntf;

    // One pass as the manager thread would make it.
    bool pass()
    {
        bool ok = preprocess_req();
        if (ok) {
            ok = process_req(KV_REQ_STAT_RESTARTING);
        }
        if (ok) {
            ok = process_req(KV_REQ_STAT_QUEUED);
        }
        return ok;
    }

    void record(const Foreign& f)
    {
        std::lock_guard<std::mutex> guard(mutex);
        foreign.push_back(f);
        cond.notify_all();
    }
    bool wait_foreign(size_t n)
    {
        std::unique_lock<std::mutex> guard(mutex);
        return cond.wait_for(guard, std::chrono::milliseconds(kMustCome),
                             [&] { return foreign.size() >= n; });
    }
    std::vector<Foreign> foreign_seen()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return foreign;
    }

    std::atomic<uint32_t> want;
    std::atomic<bool> keep_done{false};
    std::atomic<bool> slow_delete{false};
    // Workers deleted while their thread still ran (must stay 0).
    std::atomic<int> deleted_running{0};
    std::atomic<int> deleted{0};

private:
    const bool quit_workers;
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<Foreign> foreign;
};

TestTavo::~TestTavo()
{
    if (pool.slow_delete) {
        // Widens the time in which the worker is half destroyed.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (running()) {
        pool.deleted_running.fetch_add(1);
    }
    pool.deleted.fetch_add(1);
}

bool TestTavo::process()
{
    KV_FileReq* r = req();
    auto* t = dynamic_cast<TestReq*>(r);
    if (!t) {
        KV_String descr;
        const char* op = r->get_descr(descr, false);
        pool.record(Foreign{id(), r->type(), op ? op : "", r->spec_tavo()});
        req_executed(true);
        return true;
    }
    if (t->ran_by) {
        t->ran_by->store(id());
    }
    if (t->gate) {
        t->gate->started.set();
        t->gate->release.wait(kMustCome);
    }
    switch (t->outcome) {
    case Outcome::complete:
        req_executed(true);
        set_result_value(id());
        break;
    case Outcome::fail:
        req_executed(false);
        break;
    case Outcome::silent:
        break;
    case Outcome::cancel_inside:
        r->stop(KV_STOP_CANCEL);
        req_executed(true);
        break;
    }
    return true;
}

struct Notice
{
    KV_TAVO_NTF ntf;
    uint32_t id;
    std::string text;
    bool operator==(const Notice&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Notice& n)
{
    return os << "{" << n.ntf << ", " << n.id << ", \"" << n.text << "\"}";
}

// Plays the user-interface thread of one pool: pops the informer, keeps the
// worker notices and feeds every message to the pool's process_ntf.
class Ui
{
public:
    explicit Ui(TestPool& pool) : pool(pool) {}

    void drain()
    {
        while (KV_Msg* m = pool.informer().pop()) {
            if (m->type() == KV_MSG_TAVO) {
                const auto* t = static_cast<const KV_MsgTavoNtf*>(m);
                notices.push_back(Notice{t->ntf, t->tavo_id, t->text1.data()});
            }
            pool.process_ntf(m);
            KV_Informer::destroy(m);
        }
    }
    // Pops until `n` worker notices have been seen (false after kMustCome).
    bool wait_notices(size_t n)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMustCome);
        for (;;) {
            drain();
            if (notices.size() >= n) {
                return true;
            }
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool wait_ntavos(uint32_t n)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMustCome);
        while (pool.ntavos() != n) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    std::vector<Notice> notices;

private:
    TestPool& pool;
};

const Notice ready(uint32_t id)
{
    return Notice{KV_TAVO_NTF_ADDED, id, "Ready"};
}
const Notice removed(uint32_t id)
{
    return Notice{KV_TAVO_NTF_REMOVED, id, ""};
}
const Notice set_changed{KV_TAVO_NTF_CHANGED, 0, ""};

// Adds a request that reports to `obs`.
bool add(TestPool& pool, TestReq* r, KV_FileReqObs& obs, std::atomic<uint32_t>* ran_by = nullptr)
{
    r->ran_by = ran_by;
    return pool.add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED);
}

// True when obs has been told the end (false after kMustCome).
bool ended(KV_FileReqObs& obs)
{
    return !obs.wait(kMustCome);
}

TEST(KV_FileManTavo, FreshPoolAnnouncesItsWorkersOnce)
{
    TestPool pool(3);
    Ui ui(pool);
    ASSERT_TRUE(pool.start());
    ASSERT_TRUE(ui.wait_notices(4));
    EXPECT_EQ(ui.notices, (std::vector<Notice>{ready(1), ready(2), ready(3), set_changed}));

    EXPECT_EQ(pool.ntavos(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        bool running = true;
        EXPECT_EQ(pool.tavo_id(i, &running), i + 1);
        // No request yet: no thread.
        EXPECT_FALSE(running);
    }
    EXPECT_EQ(pool.tavo_id(3), 0u);
    EXPECT_EQ(pool.busy_lim(), 6u);
    // The notices reached the worker-info table.
    EXPECT_EQ(pool.man_tavo_info().entries(), 3u);
    ASSERT_NE(pool.man_tavo_info().at(2), nullptr);
    EXPECT_EQ(pool.man_tavo_info().at(2)->status_text, "Ready");
}

TEST(KV_FileManTavo, ShrinkRemovesIdleWorkersOnlyAndIdsAreNeverReused)
{
    TestPool pool(3);
    Ui ui(pool);
    ASSERT_TRUE(pool.start());
    ASSERT_TRUE(ui.wait_notices(4));

    // Workers 1 and 2 busy, 3 idle.
    Gate g1, g2;
    KV_FileReqObs o1, o2;
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 1, Outcome::complete, &g1), o1));
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 2, Outcome::complete, &g2), o2));
    ASSERT_FALSE(g1.started.wait(kMustCome));
    ASSERT_FALSE(g2.started.wait(kMustCome));

    // The only idle worker is the last one made.
    pool.want = 2;
    pool.req_proc();
    ASSERT_TRUE(ui.wait_notices(5));
    EXPECT_EQ(ui.notices.back(), removed(3));

    // Growing again gives a new id, not the one just freed.
    pool.want = 3;
    pool.req_proc();
    ASSERT_TRUE(ui.wait_notices(7));
    EXPECT_EQ(ui.notices[5], ready(4));
    EXPECT_EQ(ui.notices[6], set_changed);

    // Down to one while 1 and 2 are busy: only 4 goes; the busy ones stay.
    pool.want = 1;
    pool.req_proc();
    ASSERT_TRUE(ui.wait_notices(8));
    EXPECT_EQ(ui.notices[7], removed(4));
    EXPECT_EQ(pool.ntavos(), 2u);

    // Worker 1 gives its request back: the next pass removes it.
    g1.release.set();
    ASSERT_TRUE(ended(o1));
    ASSERT_TRUE(ui.wait_notices(9));
    EXPECT_EQ(ui.notices[8], removed(1));
    ASSERT_TRUE(ui.wait_ntavos(1));
    EXPECT_EQ(pool.tavo_id(0), 2u);

    g2.release.set();
    ASSERT_TRUE(ended(o2));
    EXPECT_EQ(o2.status(), KV_REQ_STAT_COMPLETED);

    // Removals alone never announce a changed set.
    EXPECT_EQ(std::count(ui.notices.begin(), ui.notices.end(), set_changed), 2);
    // Each removed worker's thread had ended before it was deleted.
    EXPECT_EQ(pool.deleted.load(), 3);
    EXPECT_EQ(pool.deleted_running.load(), 0);

    pool.terminate();
    ui.drain();
    EXPECT_EQ(pool.deleted.load(), 4);
    EXPECT_EQ(pool.deleted_running.load(), 0);
    EXPECT_EQ(pool.ntavos(), 0u);
    // cleanup sends no notice.
    EXPECT_EQ(ui.notices.size(), 9u);
}

TEST(KV_FileManTavo, WorkersWithLiveThreadsAreEndedBeforeDeletion)
{
    // Every worker has a thread waiting for work when the pool shrinks or
    // ends; deleting one before its thread has woken and returned would
    // free memory the thread still uses. The pool is also terminated from
    // this thread while the manager thread is still deleting the worker it
    // took out: that stop must not reach the half-destroyed worker.
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        TestPool pool(3);
        pool.slow_delete = true;
        Ui ui(pool);
        ASSERT_TRUE(pool.start());
        std::vector<KV_FileReqObs> obs(3);
        for (uint32_t i = 0; i < 3; ++i) {
            ASSERT_TRUE(add(pool, new TestReq(pool.informer(), i + 1), obs[i]));
        }
        for (auto& o : obs) {
            ASSERT_TRUE(ended(o));
        }
        pool.want = 1;
        pool.req_proc();
        ASSERT_TRUE(ui.wait_ntavos(1));
        pool.terminate();
        EXPECT_EQ(pool.deleted.load(), 3);
        EXPECT_EQ(pool.deleted_running.load(), 0);
    }
}

TEST(KV_FileManTavo, IdsStopAtTheEndOfTheirRangeInsteadOfWrapping)
{
    TestPool pool(3);
    Ui ui(pool);
    pool.next_id = 0xFFFFFFFEu;
    EXPECT_TRUE(pool.pass());
    ui.drain();
    EXPECT_EQ(ui.notices, (std::vector<Notice>{ready(0xFFFFFFFFu), set_changed}));
    EXPECT_EQ(pool.ntavos(), 1u);

    // Later passes make no worker either, and the one there still works.
    KV_FileReqObs obs;
    std::atomic<uint32_t> ran_by{0};
    ASSERT_TRUE(add(pool, new TestReq(pool.informer()), obs, &ran_by));
    EXPECT_TRUE(pool.pass());
    ASSERT_TRUE(ended(obs));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(ran_by.load(), 0xFFFFFFFFu);
    ui.drain();
    EXPECT_EQ(ui.notices.size(), 2u);
    EXPECT_EQ(pool.ntavos(), 1u);
}

TEST(KV_FileManTavo, RequestForASpecificWorker)
{
    TestPool pool(2);
    pool.next_id = 6; // workers 7 and 8
    ASSERT_TRUE(pool.pass());
    ASSERT_EQ(pool.tavo_id(0), 7u);

    Gate gate;
    KV_FileReqObs busy_obs, queued_obs, missing_obs;
    std::atomic<uint32_t> busy_by{0}, queued_by{0};
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 7, Outcome::complete, &gate), busy_obs,
                    &busy_by));
    ASSERT_TRUE(pool.pass());
    ASSERT_FALSE(gate.started.wait(kMustCome));

    // Worker 7 is busy: its request waits and worker 8 does not take it. No
    // worker 9 exists: that request can never run.
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 7), queued_obs, &queued_by));
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 9), missing_obs));
    ASSERT_TRUE(pool.pass());
    ASSERT_TRUE(ended(missing_obs));
    EXPECT_EQ(missing_obs.status(), KV_REQ_STAT_CANCELLED);
    EXPECT_TRUE(queued_obs.wait(0));
    EXPECT_EQ(queued_by.load(), 0u);

    gate.release.set();
    ASSERT_TRUE(ended(busy_obs));
    ASSERT_TRUE(pool.pass());
    ASSERT_TRUE(ended(queued_obs));
    EXPECT_EQ(queued_obs.status(), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(queued_by.load(), 7u);
    EXPECT_EQ(busy_by.load(), 7u);
}

TEST(KV_FileManTavo, UsedIdleWorkerIsPreferred)
{
    TestPool pool(3);
    ASSERT_TRUE(pool.pass());

    // Nobody used: the first idle worker.
    KV_FileReqObs o1;
    std::atomic<uint32_t> by1{0};
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 2), o1, &by1));
    ASSERT_TRUE(pool.pass());
    ASSERT_TRUE(ended(o1));
    ASSERT_EQ(by1.load(), 2u);

    // Worker 2 has given a request back: it goes before the idle worker 1.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        KV_FileReqObs o;
        std::atomic<uint32_t> by{0};
        ASSERT_TRUE(add(pool, new TestReq(pool.informer()), o, &by));
        ASSERT_TRUE(pool.pass());
        ASSERT_TRUE(ended(o));
        EXPECT_EQ(by.load(), 2u);
    }
}

TEST(KV_FileManTavo, OneFreeRequestNeedsASecondFreeWorker)
{
    TestPool pool(1);
    ASSERT_TRUE(pool.pass());

    KV_FileReqObs obs;
    std::atomic<uint32_t> by{0};
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 0, Outcome::complete, nullptr, true), obs,
                    &by));
    ASSERT_TRUE(pool.pass());
    // One worker: it would leave none free; the request waits (it is not
    // cancelled).
    EXPECT_TRUE(obs.wait(0));
    EXPECT_EQ(by.load(), 0u);

    // Three workers, one of them busy: it starts.
    pool.want = 3;
    Gate gate;
    KV_FileReqObs busy_obs;
    ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 3, Outcome::complete, &gate), busy_obs));
    ASSERT_TRUE(pool.pass());
    ASSERT_FALSE(gate.started.wait(kMustCome));
    ASSERT_TRUE(ended(obs));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_COMPLETED);
    EXPECT_NE(by.load(), 0u);
    EXPECT_NE(by.load(), 3u);
    gate.release.set();
    ASSERT_TRUE(ended(busy_obs));
}

TEST(KV_FileManTavo, FinalStatusFollowsWhatTheWorkerReported)
{
    struct Case
    {
        const char* name;
        Outcome outcome;
        KV_REQ_STAT status;
    };
    const Case cases[] = {
        {"executed", Outcome::complete, KV_REQ_STAT_COMPLETED},
        {"not executed", Outcome::fail, KV_REQ_STAT_ERROR},
        {"never reported", Outcome::silent, KV_REQ_STAT_ERROR},
        {"stopped while running", Outcome::cancel_inside, KV_REQ_STAT_CANCELLED},
    };
    for (bool quit : {false, true}) {
        TestPool pool(1, quit);
        ASSERT_TRUE(pool.start());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (quit ? ", thread per request" : ""));
            KV_FileReqObs obs;
            ASSERT_TRUE(add(pool, new TestReq(pool.informer(), 0, c.outcome), obs));
            ASSERT_TRUE(ended(obs));
            EXPECT_EQ(obs.status(), c.status);
            // The result value travels with the final status.
            EXPECT_EQ(obs.value(), c.outcome == Outcome::complete ? 1u : 0u);
        }
    }
}

TEST(KV_FileManTavo, ThreadPerRequestWorkerTakesWorkWhileItsThreadFinishes)
{
    // A worker whose thread ends after every request: the next request is
    // dispatched while that thread is still finishing the previous one, and
    // must neither be lost nor given back unprocessed.
    TestPool pool(1, true);
    // The manager would otherwise first delete the ended request, which
    // waits until its end is over.
    pool.keep_done = true;
    ASSERT_TRUE(pool.start());
    Gate gate;
    KV_FileReqObs first_obs, next_obs;
    auto* first = new TestReq(pool.informer(), 0, Outcome::complete, &gate);
    first->linger = true;
    ASSERT_TRUE(add(pool, first, first_obs));
    ASSERT_FALSE(gate.started.wait(kMustCome));
    ASSERT_TRUE(add(pool, new TestReq(pool.informer()), next_obs));
    gate.release.set();
    ASSERT_TRUE(ended(first_obs));
    ASSERT_TRUE(ended(next_obs));
    EXPECT_EQ(first_obs.status(), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(next_obs.status(), KV_REQ_STAT_COMPLETED);

    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        KV_FileReqObs obs;
        ASSERT_TRUE(add(pool, new TestReq(pool.informer()), obs));
        ASSERT_TRUE(ended(obs));
        EXPECT_EQ(obs.status(), KV_REQ_STAT_COMPLETED);
    }
}

TEST(KV_FileManTavo, KeepAliveLineQueuesKeepAliveForThatWorker)
{
    TestPool pool(2);
    Ui ui(pool);
    ASSERT_TRUE(pool.start());
    ASSERT_TRUE(ui.wait_notices(3));

    KV_MsgSessLog plain(2, KV_SessLogInfo(KV_SESS_LOG_RECV, "200 NOOP ok", false));
    KV_MsgSessLog keep(2, KV_SessLogInfo(KV_SESS_LOG_KEEP_ALIVE, "idle", false));
    EXPECT_TRUE(pool.process_ntf(&plain));
    EXPECT_TRUE(pool.process_ntf(&keep));
    ASSERT_TRUE(pool.wait_foreign(1));

    const std::vector<Foreign> seen = pool.foreign_seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].tavo_id, 2u);
    EXPECT_EQ(seen[0].spec_tavo, 2u);
    EXPECT_EQ(seen[0].type, KV_REQ_TYPE_UMAN);
    EXPECT_EQ(seen[0].descr, "Keep alive");
    // Both lines went to the worker's log.
    ASSERT_NE(pool.man_tavo_info().at(2), nullptr);
    EXPECT_EQ(pool.man_tavo_info().at(2)->list_log().size(), 2u);

    // A stopped pool queues nothing more.
    pool.terminate();
    EXPECT_TRUE(pool.process_ntf(&keep));
    EXPECT_EQ(pool.foreign_seen().size(), 1u);
}

bool failing_starter(KV_ThreadProc, void*)
{
    return false;
}

TEST(KV_FileManTavo, WorkerThreadThatCannotStartEndsTheRequestAsError)
{
    TestPool pool(2);
    ASSERT_TRUE(pool.pass());
    // Idle pooled threads would be reused without asking the starter.
    KV_Thread::man().term();
    KV_ThreadMan::set_impl(failing_starter);

    KV_FileReqObs first, second;
    ASSERT_TRUE(add(pool, new TestReq(pool.informer()), first));
    ASSERT_TRUE(add(pool, new TestReq(pool.informer()), second));
    const bool ok = pool.pass();
    KV_ThreadMan::set_impl(kvtest::counting_starter);

    EXPECT_FALSE(ok);
    ASSERT_TRUE(ended(first));
    EXPECT_EQ(first.status(), KV_REQ_STAT_ERROR);
    // The dispatch stopped there; the next pass runs the other one.
    EXPECT_TRUE(second.wait(0));
    EXPECT_TRUE(pool.pass());
    ASSERT_TRUE(ended(second));
    EXPECT_EQ(second.status(), KV_REQ_STAT_COMPLETED);
}

// A worker kind that runs folder creations only, through the base's dispatch
// and ending; its connection's error text is fixed. Its thread ends after
// each request, so that wait_term() sees the request's final status set.
class MkDirTavo : public KV_Tavo
{
public:
    explicit MkDirTavo(KV_Informer& informer) : KV_Tavo(informer) {}
    ~MkDirTavo() override
    {
        stop(KV_STOP_TERMINATE);
        wait_term();
    }
    bool quit_after_req() const override { return true; }
    uint32_t kind() const override { return 0; }

    bool do_mkdir(KV_FileReqMkDir& r) override
    {
        if (cancel)
            r.stop(KV_STOP_CANCEL);
        if (!op_done)
            r.set_executed(false);
        return handled;
    }
    KV_String end_err(KV_FileReq&) override { return "550 Permission denied"; }

    bool handled = true;
    bool op_done = true;
    bool cancel = false;
};

TEST(KV_Tavo, EachKindGoesToItsHandlerAndEndsTheSameWay)
{
    struct Case
    {
        const char* name;
        bool rm; // a kind the worker does not run
        bool handled, op_done, cancel;
        KV_REQ_STAT status;
        const char* err_msg;
        const char* notice;
        const char* notice_err;
    };
    const Case cases[] = {
        {"done", false, true, true, false, KV_REQ_STAT_COMPLETED, "", "Ready", ""},
        {"operation failed", false, true, false, false, KV_REQ_STAT_ERROR, "550 Permission denied",
         "Error", "550 Permission denied"},
        {"not carried out", false, false, true, false, KV_REQ_STAT_ERROR, "550 Permission denied",
         "Error", "550 Permission denied"},
        // A stop is no failure to explain.
        {"cancelled", false, true, true, true, KV_REQ_STAT_CANCELLED, "", "Error", ""},
        // Not supported: it fails as any failure of this worker does.
        {"kind not run here", true, true, true, false, KV_REQ_STAT_ERROR, "550 Permission denied",
         "Error", "550 Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_Informer inf;
        MkDirTavo t(inf);
        t.handled = c.handled;
        t.op_done = c.op_done;
        t.cancel = c.cancel;
        KV_PathDef path;
        ASSERT_TRUE(path.append("d"));
        std::unique_ptr<KV_FileReq> r;
        if (c.rm)
            r.reset(new KV_FileReqRm(inf, KV_PathDefDir(path, true)));
        else
            r.reset(new KV_FileReqMkDir(inf, path));
        ASSERT_TRUE(t.start_req(r.get()));
        t.wait_term();

        EXPECT_EQ(r->status(), c.status);
        EXPECT_EQ(std::string(r->err_msg().data()), c.err_msg);
        std::vector<std::string> notices;
        while (KV_Msg* m = inf.pop()) {
            if (m->type() == KV_MSG_TAVO) {
                const auto* n = static_cast<const KV_MsgTavoNtf*>(m);
                EXPECT_EQ(n->ntf, KV_TAVO_NTF_STATUS);
                notices.push_back(std::string(n->text1.data()) + "|" + n->text2.data());
            }
            KV_Informer::destroy(m);
        }
        EXPECT_EQ(notices, (std::vector<std::string>{std::string(c.notice) + "|" + c.notice_err}));
    }
}

} // namespace
