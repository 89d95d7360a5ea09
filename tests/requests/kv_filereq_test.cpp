#include "requests/kv_filereq.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtask.h"
#include "root/kv_filemanpool.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"

namespace {

using kvtest::NullErr;
using reqtest::drain_req_ntf;
using reqtest::Journal;
using reqtest::Ntf;
using reqtest::TestMan;
using reqtest::TestReq;

// A request bound to nothing; settled when it goes, as a manager would.
struct Loose
{
    NullErr eh;
    Journal j;
    std::unique_ptr<TestReq> r{new TestReq(eh, j)};
    ~Loose() { r->settle(); }
};

// Brings a fresh request into `st` through legal steps.
void drive_to(KV_FileReq& r, KV_REQ_STAT st)
{
    if (st == KV_REQ_STAT_PAUSED) {
        r.set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r.set_status(KV_REQ_STAT_PAUSED, false, 0, false);
    } else if (st != KV_REQ_STAT_QUEUED) {
        r.set_status(st, false, 0, false);
    }
    ASSERT_EQ(r.status(), st);
}

TEST(FileReqStatus, TransitionTable)
{
    struct Case
    {
        KV_REQ_STAT from;
        bool no_term;
        KV_REQ_STAT to;
        bool term;
        bool force;
        KV_REQ_STAT expect;
    };
    const Case cases[] = {
        // Pause only from Running, resume only from Paused.
        {KV_REQ_STAT_QUEUED, false, KV_REQ_STAT_PAUSED, false, false, KV_REQ_STAT_QUEUED},
        {KV_REQ_STAT_SUSPENDED, false, KV_REQ_STAT_PAUSED, false, false, KV_REQ_STAT_SUSPENDED},
        {KV_REQ_STAT_RUNNING, false, KV_REQ_STAT_PAUSED, false, false, KV_REQ_STAT_PAUSED},
        {KV_REQ_STAT_PAUSED, false, KV_REQ_STAT_RESUME, false, false, KV_REQ_STAT_RUNNING},
        {KV_REQ_STAT_RUNNING, false, KV_REQ_STAT_RESUME, false, false, KV_REQ_STAT_RUNNING},
        {KV_REQ_STAT_QUEUED, false, KV_REQ_STAT_RESUME, false, false, KV_REQ_STAT_QUEUED},
        // A processed request changes only with force.
        {KV_REQ_STAT_COMPLETED, false, KV_REQ_STAT_QUEUED, false, false, KV_REQ_STAT_COMPLETED},
        {KV_REQ_STAT_ERROR, false, KV_REQ_STAT_CANCELLED, false, false, KV_REQ_STAT_ERROR},
        {KV_REQ_STAT_CANCELLED, false, KV_REQ_STAT_RUNNING, false, false, KV_REQ_STAT_CANCELLED},
        {KV_REQ_STAT_COMPLETED, false, KV_REQ_STAT_QUEUED, false, true, KV_REQ_STAT_QUEUED},
        // set_no_term holds off the terminal statuses until term is set.
        {KV_REQ_STAT_RUNNING, true, KV_REQ_STAT_COMPLETED, false, false, KV_REQ_STAT_RUNNING},
        {KV_REQ_STAT_RUNNING, true, KV_REQ_STAT_COMPLETED, true, false, KV_REQ_STAT_COMPLETED},
        {KV_REQ_STAT_RUNNING, true, KV_REQ_STAT_RESTARTING, false, false, KV_REQ_STAT_RESTARTING},
        // Plain moves.
        {KV_REQ_STAT_QUEUED, false, KV_REQ_STAT_CANCELLED, false, false, KV_REQ_STAT_CANCELLED},
        {KV_REQ_STAT_SUSPENDED, false, KV_REQ_STAT_QUEUED, false, false, KV_REQ_STAT_QUEUED},
        {KV_REQ_STAT_RESTARTING, false, KV_REQ_STAT_RUNNING, false, false, KV_REQ_STAT_RUNNING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << " to " << c.to << " term " << c.term
                                        << " force " << c.force << " no_term " << c.no_term);
        Loose l;
        drive_to(*l.r, c.from);
        if (c.no_term)
            l.r->set_no_term();
        l.r->set_status(c.to, c.term, 0, c.force);
        EXPECT_EQ(l.r->status(), c.expect);
        // The processed hook ran once exactly when a terminal status was
        // reached on the way.
        const bool ended = KV_FileReq::processed(c.from) || KV_FileReq::processed(c.expect);
        EXPECT_EQ(l.j.processed.load(), ended ? 1 : 0);
    }
}

TEST(FileReqStatus, Texts)
{
    struct Case
    {
        uint32_t stat;
        const char* text;
        KV_REQ_TL tl;
        KV_REQ_ADD add;
    };
    const Case cases[] = {
        {0, "Queued", KV_REQ_TL_NONE, KV_REQ_ADD_NONE},
        {1, "Running", KV_REQ_TL_RUNNING, KV_REQ_ADD_NONE},
        {2, "Paused", KV_REQ_TL_WAITING, KV_REQ_ADD_NONE},
        {3, "Error", KV_REQ_TL_NONE, KV_REQ_ADD_NONE},
        {4, "Suspended", KV_REQ_TL_WAITING, KV_REQ_ADD_NONE},
        {5, "Restarting", KV_REQ_TL_WAITING, KV_REQ_ADD_NONE},
        {6, "Completed", KV_REQ_TL_NONE, KV_REQ_ADD_COMPLETED},
        {7, "Error", KV_REQ_TL_NONE, KV_REQ_ADD_ERROR},
        {8, "Cancelled", KV_REQ_TL_CANCELLED, KV_REQ_ADD_NONE},
        {42, "Error", KV_REQ_TL_NONE, KV_REQ_ADD_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stat);
        KV_REQ_TL tl = KV_REQ_TL_RUNNING;
        KV_REQ_ADD add = KV_REQ_ADD_ERRORS;
        EXPECT_STREQ(KV_FileReq::status_str(static_cast<KV_REQ_STAT>(c.stat), &tl, &add), c.text);
        EXPECT_EQ(tl, c.tl);
        EXPECT_EQ(add, c.add);
    }
    EXPECT_STREQ(KV_FileReq::status_str(KV_REQ_STAT_COMPLETED), "Ready");
}

TEST(FileReqStatus, RestartOnlyFromProcessed)
{
    {
        Loose l;
        drive_to(*l.r, KV_REQ_STAT_RUNNING);
        EXPECT_FALSE(l.r->restart());
        EXPECT_EQ(l.r->status(), KV_REQ_STAT_RUNNING);
    }
    {
        Loose l;
        l.r->can_retry();
        l.r->set_prog_perc(40);
        drive_to(*l.r, KV_REQ_STAT_ERROR);
        l.r->stop(KV_STOP_CANCEL);
        EXPECT_TRUE(l.r->restart());
        EXPECT_EQ(l.r->status(), KV_REQ_STAT_QUEUED);
        EXPECT_EQ(l.r->err_cnt(), 0u);
        EXPECT_EQ(l.r->prog_perc(), KV_FileReqInfo::PROG_UNKNOWN);
        EXPECT_FALSE(l.r->stopped());
        EXPECT_TRUE(l.r->executed());
    }
    {
        // A request with a start time goes back to waiting for it.
        Loose l;
        l.r->susp_at = reqtest::now_plus(60);
        drive_to(*l.r, KV_REQ_STAT_COMPLETED);
        EXPECT_TRUE(l.r->restart());
        EXPECT_EQ(l.r->status(), KV_REQ_STAT_SUSPENDED);
    }
}

TEST(FileReqRetry, Limits)
{
    struct Case
    {
        uint32_t nretries;
        bool obs;
        std::vector<bool> expect;
    };
    const Case cases[] = {
        {3, false, {true, true, false, false}},
        {0, false, {true, true, true, true, true}},
        // A waited-for request that is no transfer gets one retry.
        {0, true, {true, false, false}},
        {5, true, {true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "nretries " << c.nretries << " obs " << c.obs);
        KV_FileReqObs obs;
        NullErr eh;
        Journal j;
        TestMan man;
        KV_FileReqManOpts o;
        o.set_nretries(c.nretries);
        man.set_opts(o);
        auto* r = new TestReq(eh, j);
        ASSERT_TRUE(man.add_req(r, nullptr, c.obs ? &obs : nullptr, KV_REQ_STAT_QUEUED));
        for (size_t i = 0; i < c.expect.size(); ++i)
            EXPECT_EQ(r->can_retry(), c.expect[i]) << "failure " << i + 1;
    }
    // Without a manager the default options set no limit.
    Loose l;
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(l.r->can_retry());
}

TEST(FileReqNotices, QueuedRequestDestroyedReportsErrorThenEnded)
{
    NullErr eh;
    Journal j;
    TestMan man;
    auto* r = new TestReq(eh, j);
    ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    const uint32_t id = r->id();
    std::vector<Ntf> n = drain_req_ntf(man.informer());
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].ntf, KV_REQ_NTF_INIT);
    EXPECT_EQ(n[1].ntf, KV_REQ_NTF_STATUS);
    EXPECT_EQ(n[1].status, KV_REQ_STAT_QUEUED);

    // The request's own destructor does not settle: the manager settles it
    // while the whole object exists, so the last snapshot still comes from
    // the derived class (a call into the destroyed part would abort).
    man.terminate();
    EXPECT_EQ(j.alive.load(), 0);
    EXPECT_EQ(j.processed.load(), 1);
    n = drain_req_ntf(man.informer());
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].ntf, KV_REQ_NTF_STATUS);
    EXPECT_EQ(n[0].status, KV_REQ_STAT_ERROR);
    EXPECT_EQ(n[0].operation, "Test op");
    EXPECT_EQ(n[0].id, id);
    EXPECT_EQ(n[1].ntf, KV_REQ_NTF_ENDED);
    EXPECT_EQ(n[1].id, id);

    // A request added after the manager was terminated is refused, deleted
    // and reported like any failed add.
    auto* late = new TestReq(eh, j);
    EXPECT_FALSE(man.add_req(late, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(j.alive.load(), 0);
    n = drain_req_ntf(man.informer());
    ASSERT_FALSE(n.empty());
    EXPECT_EQ(n.back().ntf, KV_REQ_NTF_ENDED);
}

TEST(FileReqNotices, HiddenRequestSendsNothing)
{
    NullErr eh;
    Journal j;
    TestMan man;
    auto* r = new TestReq(eh, j);
    r->hide = true;
    ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    man.mode = TestMan::Complete;
    ASSERT_TRUE(man.pass());
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(j.alive.load(), 0);
    EXPECT_TRUE(drain_req_ntf(man.informer()).empty());
}

TEST(FileReqNotices, TransferRequestsReportThroughTheEngineRoot)
{
    Journal j;
    TestMan man;
    man.rm = false;
    // Without an engine root a transfer request has nobody to tell.
    auto* lost = new reqtest::TestTrans(j, reqtest::TestParams());
    ASSERT_TRUE(man.add_req(lost, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_TRUE(drain_req_ntf(man.informer()).empty());
    {
        KV_FileManPool pool;
        EXPECT_EQ(KV_FileReqMan::pool(), &pool);
        auto* t = new reqtest::TestTrans(j, reqtest::TestParams());
        ASSERT_TRUE(man.add_req(t, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_TRUE(drain_req_ntf(man.informer()).empty());
        const std::vector<Ntf> n = drain_req_ntf(pool.informer());
        ASSERT_EQ(n.size(), 2u);
        EXPECT_EQ(n[0].ntf, KV_REQ_NTF_INIT);
        EXPECT_EQ(n[0].operation, "Transfer");
        EXPECT_EQ(n[1].ntf, KV_REQ_NTF_STATUS);
        // Gone before the pool: its end goes to the pool's informer too.
        man.terminate();
        const std::vector<Ntf> e = drain_req_ntf(pool.informer());
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e.back().ntf, KV_REQ_NTF_ENDED);
    }
    EXPECT_EQ(KV_FileReqMan::pool(), nullptr);
    EXPECT_EQ(j.alive.load(), 0);
}

TEST(FileReqSettle, KeptFromEndingStillReleasesParentObserverAndCount)
{
    NullErr eh;
    Journal j;
    KV_FileReqObs obs;
    TestReq parent(eh, j);
    {
        TestMan man;
        auto* r = new TestReq(eh, j);
        r->set_no_term();
        ASSERT_TRUE(man.add_req(r, &parent, &obs, KV_REQ_STAT_QUEUED));
        EXPECT_EQ(man.nbusy(), 1u);
        // Not signalled while bound.
        EXPECT_TRUE(obs.wait(0));
        man.terminate();
        EXPECT_EQ(man.nbusy(), 0u);
    }
    // The waiter is released and told the request did not complete.
    EXPECT_FALSE(obs.wait(0));
    EXPECT_FALSE(obs.completed());
    EXPECT_EQ(obs.status(), KV_REQ_STAT_ERROR);
    // The child left the parent: stopping the parent touches no freed child.
    parent.stop(KV_STOP_CANCEL);
    parent.settle();
}

TEST(FileReqBusy, OnlyCountedRequestsCountOut)
{
    NullErr eh;
    Journal j;
    TestMan man;
    auto* a = new TestReq(eh, j);
    auto* b = new TestReq(eh, j);
    auto* s = new TestReq(eh, j);
    auto* u = new TestReq(eh, j);
    u->set_busy_reg(false);
    ASSERT_TRUE(man.add_req(a, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.add_req(b, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.add_req(s, nullptr, nullptr, KV_REQ_STAT_SUSPENDED));
    ASSERT_TRUE(man.add_req(u, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_EQ(man.nbusy(), 2u);
    // A Suspended request was never counted: its end leaves the count alone.
    s->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
    u->set_status(KV_REQ_STAT_ERROR, false, 0, false);
    EXPECT_EQ(man.nbusy(), 2u);
    a->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
    EXPECT_EQ(man.nbusy(), 1u);
    // Restarting a processed request counts it in again.
    a->restart();
    EXPECT_EQ(man.nbusy(), 2u);
}

TEST(FileReqObs, WaitAndResult)
{
    KV_FileReqObs unbound;
    EXPECT_FALSE(unbound.wait(0)); // initially signalled
    EXPECT_FALSE(unbound.completed());

    struct Case
    {
        KV_REQ_STAT end;
        bool completed;
    };
    const Case cases[] = {
        {KV_REQ_STAT_COMPLETED, true}, {KV_REQ_STAT_ERROR, false}, {KV_REQ_STAT_CANCELLED, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.end);
        KV_FileReqObs obs;
        NullErr eh;
        Journal j;
        TestMan man;
        auto* r = new TestReq(eh, j);
        ASSERT_TRUE(man.add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED));
        EXPECT_TRUE(obs.wait(0));
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r->set_status(c.end, false, 42, false);
        obs.wait();
        EXPECT_EQ(obs.completed(), c.completed);
        EXPECT_EQ(obs.value(), 42u);
    }
}

TEST(FileReqDescr, Files)
{
    KVTL::KV_ListVal<KV_String> names;
    KVTL::KV_ListVal<KV_String> none;
    for (const char* n : {"a", "b", "c", "d", "e"})
        names.add(n);
    EXPECT_EQ(TestReq::descr_files(names, false, none), " [a, b, c...]");
    EXPECT_EQ(TestReq::descr_files(names, true, none), "a, b, c, d, e");

    KVTL::KV_ListVal<KV_String> renamed;
    renamed.add("x");
    renamed.add("b");
    EXPECT_EQ(TestReq::descr_files(names, false, renamed), " [a -> x, b, c...]");

    // Full: a line break in front of every tenth name, but not the last.
    KVTL::KV_ListVal<KV_String> many;
    for (int i = 0; i < 12; ++i)
        many.add(KV_String(static_cast<char>('a' + i)));
    EXPECT_EQ(TestReq::descr_files(many, true, none), "a, b, c, d, e, f, g, h, i, j, \r\nk, l");
    many.remove_at(11);
    EXPECT_EQ(TestReq::descr_files(many, true, none), "a, b, c, d, e, f, g, h, i, j, k");
}

TEST(FileReqInfo, SnapshotShowsErrorsWithoutOtherIndicator)
{
    Loose l;
    l.r->can_retry();
    KV_FileReqInfo info;
    l.r->get_info(info, true);
    EXPECT_STREQ(info.operation(), "Test op");
    EXPECT_EQ(info.descr(), "test");
    EXPECT_STREQ(info.status_str(), "Queued");
    EXPECT_EQ(info.err_cnt(), 1u);
    EXPECT_EQ(info.add(), KV_REQ_ADD_ERRORS);
    EXPECT_EQ(info.type(), KV_REQ_TYPE_MKDIR);

    drive_to(*l.r, KV_REQ_STAT_ERROR);
    l.r->get_info(info, true);
    EXPECT_EQ(info.add(), KV_REQ_ADD_ERROR);
}

TEST(FileReqOrder, PriorityThenCmpId)
{
    NullErr eh;
    Journal j;
    TestReq a(eh, j), b(eh, j), c(eh, j);
    a.set_id(5);
    b.set_id(3);
    c.set_id(9);
    c.prio = 2;
    EXPECT_TRUE(b < &a);
    EXPECT_FALSE(a < &b);
    EXPECT_TRUE(c < &b); // higher priority first, whatever the id
    EXPECT_FALSE(a < nullptr);
    EXPECT_FALSE(a == nullptr);
    TestReq d(eh, j);
    d.set_id(5);
    EXPECT_TRUE(a == &d);
    for (TestReq* r : {&a, &b, &c, &d})
        r->settle();
}

TEST(FileReqCopy, CopyTakesValuesNotBindings)
{
    NullErr eh;
    Journal j;
    KV_FileReqObs obs;
    TestMan man;
    auto* r = new TestReq(eh, j);
    ASSERT_TRUE(man.add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED));
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    TestReq copy(*r);
    EXPECT_EQ(copy.id(), r->id());
    EXPECT_EQ(copy.status(), KV_REQ_STAT_RUNNING);
    EXPECT_EQ(copy.man(), nullptr);
    // Ending the copy must not release the original's waiter.
    copy.set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    EXPECT_TRUE(obs.wait(0));
    copy.settle();
}

} // namespace
