#include "requests/kv_filereqtask.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/kv_file.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtaskstrans.h"

namespace {

using kvtest::NullErr;
using reqtest::drain_req_ntf;
using reqtest::Journal;
using reqtest::TestMan;
using reqtest::TestParams;
using reqtest::TestReq;
using reqtest::TestTrans;

// A manager driven pass by pass on the test's thread (its own thread is
// never started), so every task is applied at a known point.
struct Fixture : testing::Test
{
    // Transfer requests make their log files here when they are taken up.
    Fixture() { KV_File::set_path(KV_PATH_TMP, tmp.path().c_str()); }

    kvtest::TempDir tmp;
    NullErr eh;
    Journal j;
    TestMan man;

    TestReq* add(KV_REQ_STAT st = KV_REQ_STAT_QUEUED)
    {
        auto* r = new TestReq(eh, j);
        EXPECT_TRUE(man.add_req(r, nullptr, nullptr, st));
        EXPECT_TRUE(man.pass());
        return r;
    }
    void apply(const KV_FileReqTask& t)
    {
        ASSERT_TRUE(man.add_task(t));
        ASSERT_TRUE(man.pass());
    }
    // Messages of `type` now queued on the manager's informer (all popped).
    std::vector<KV_Msg*> take(KV_MSG type)
    {
        std::vector<KV_Msg*> out;
        while (KV_Msg* m = man.informer().pop()) {
            if (m->type() == type)
                out.push_back(m);
            else
                KV_Informer::destroy(m);
        }
        return out;
    }
    static void free_all(const std::vector<KV_Msg*>& msgs)
    {
        for (KV_Msg* m : msgs)
            KV_Informer::destroy(m);
    }
};

using FileReqTask = Fixture;

TEST_F(FileReqTask, PauseOnlyFromRunningResumeOnlyFromPaused)
{
    struct Case
    {
        KV_REQ_STAT from;
        bool pause;
        KV_REQ_STAT expect;
    };
    const Case cases[] = {
        {KV_REQ_STAT_QUEUED, true, KV_REQ_STAT_QUEUED},
        {KV_REQ_STAT_RUNNING, true, KV_REQ_STAT_PAUSED},
        {KV_REQ_STAT_RUNNING, false, KV_REQ_STAT_RUNNING},
        {KV_REQ_STAT_PAUSED, false, KV_REQ_STAT_RUNNING},
        {KV_REQ_STAT_PAUSED, true, KV_REQ_STAT_PAUSED},
        {KV_REQ_STAT_RESTARTING, true, KV_REQ_STAT_RESTARTING},
    };
    man.rm = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << (c.pause ? " pause" : " resume"));
        TestReq* r = add();
        if (c.from != KV_REQ_STAT_QUEUED)
            r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        if (c.from == KV_REQ_STAT_PAUSED)
            r->set_paused(true);
        if (c.from == KV_REQ_STAT_RESTARTING)
            r->set_status(KV_REQ_STAT_RESTARTING, false, 0, false);
        ASSERT_EQ(r->status(), c.from);
        apply(KV_FileReqTaskPause(r->id(), c.pause));
        EXPECT_EQ(r->status(), c.expect);
        EXPECT_EQ(r->paused(), c.expect == KV_REQ_STAT_PAUSED);
    }
}

TEST_F(FileReqTask, RestartOnlyAProcessedRequest)
{
    man.rm = false;
    TestReq* running = add();
    running->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    TestReq* failed = add();
    failed->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    failed->set_status(KV_REQ_STAT_ERROR, false, 0, false);
    TestReq* timed = add();
    timed->susp_at = reqtest::now_plus(600);
    timed->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);

    apply(KV_FileReqTaskRestart(0));
    EXPECT_EQ(running->status(), KV_REQ_STAT_RUNNING);
    EXPECT_EQ(failed->status(), KV_REQ_STAT_QUEUED);
    EXPECT_EQ(timed->status(), KV_REQ_STAT_SUSPENDED);
    EXPECT_EQ(man.nbusy(), 2u); // running, and failed counted in again
}

TEST_F(FileReqTask, CancelOfAQueuedRequestEndsItInTheSamePass)
{
    KV_FileReqObs obs;
    auto* r = new TestReq(eh, j);
    ASSERT_TRUE(man.add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    TestReq* other = add();
    apply(KV_FileReqTaskCancel(r->id(), false));
    // Stopped by the task, cancelled by the time pass, deleted (the base
    // manager removes every processed request) in one pass.
    ASSERT_FALSE(obs.wait(0));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_CANCELLED);
    EXPECT_EQ(j.alive.load(), 1);
    EXPECT_EQ(other->status(), KV_REQ_STAT_QUEUED);
    EXPECT_FALSE(other->stopped());
}

TEST_F(FileReqTask, CancelOfARunningRequestOnlyStopsIt)
{
    TestReq* r = add();
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    apply(KV_FileReqTaskCancel(r->id(), false));
    EXPECT_TRUE(r->stopped());
    EXPECT_EQ(r->status(), KV_REQ_STAT_RUNNING); // its worker ends it
}

TEST_F(FileReqTask, CancelWithDeleteMarksEvenAProcessedRequest)
{
    man.rm = false;
    TestReq* r = add();
    r->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    ASSERT_TRUE(man.pass());
    EXPECT_EQ(j.alive.load(), 1); // kept: the manager's rule keeps it
    apply(KV_FileReqTaskCancel(r->id(), true));
    EXPECT_EQ(j.alive.load(), 0);
    EXPECT_EQ(j.ended_stat.back(), KV_REQ_STAT_COMPLETED);
}

TEST_F(FileReqTask, DeleteMarksOnlyProcessedRequests)
{
    man.rm = false;
    TestReq* pending = add();
    TestReq* done = add();
    done->set_status(KV_REQ_STAT_ERROR, false, 0, false);
    apply(KV_FileReqTaskDelete(0, false, false));
    EXPECT_EQ(j.alive.load(), 1);
    EXPECT_EQ(man.list_req().at(0), pending);
    // Asking the manager's rule: this one keeps processed requests.
    pending->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
    apply(KV_FileReqTaskDelete(pending->id(), true, false));
    EXPECT_EQ(j.alive.load(), 1);
}

TEST_F(FileReqTask, IdZeroReachesEveryRequestInQueueOrder)
{
    man.rm = false;
    for (KV_REQ_PRIO prio : {1, 5, 1, 3}) {
        auto* r = new TestReq(eh, j);
        r->prio = prio;
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    }
    ASSERT_TRUE(man.pass());
    std::vector<uint32_t> seen;
    class Probe : public KV_FileReqTask
    {
    public:
        explicit Probe(std::vector<uint32_t>& seen) : KV_FileReqTask(0), seen(seen) {}
        KV_REQ_TASK type() const override { return KV_REQ_TASK_INFO; }
        KV_FileReqTask* clone() const override { return new Probe(*this); }

    protected:
        void process(KV_FileReq* r) override { seen.push_back(r->id()); }

    private:
        std::vector<uint32_t>& seen;
    };
    apply(Probe(seen));
    // Higher priority first, then in the order of addition.
    EXPECT_EQ(seen, (std::vector<uint32_t>{3, 5, 2, 4}));
}

TEST_F(FileReqTask, RefusedOnceTheManagerIsStopped)
{
    man.stop(KV_STOP_TERMINATE);
    EXPECT_FALSE(man.add_task(KV_FileReqTaskRestart(0)));
}

TEST(FileReqTaskOrder, ByTypeThenId)
{
    const KV_FileReqTaskCancel c5(5, false);
    const KV_FileReqTaskCancel c5b(5, true);
    const KV_FileReqTaskCancel c7(7, false);
    const KV_FileReqTaskRestart r1(1);
    EXPECT_TRUE(c5 == &c5b);
    EXPECT_FALSE(c5 == &c7);
    EXPECT_FALSE(c5 == &r1);
    EXPECT_TRUE(c5 < &r1); // type 0 before type 2, whatever the ids
    EXPECT_TRUE(c5 < &c7);
    EXPECT_FALSE(c7 < &c5);
    EXPECT_FALSE(c5 < nullptr);
    EXPECT_FALSE(c5 == nullptr);
}

// --- Transfer tasks --------------------------------------------------------

TEST_F(FileReqTask, CancelOfAQueuedTransferRecordsItInTheLog)
{
    man.rm = false;
    auto* t = new TestTrans(j, TestParams(1));
    ASSERT_TRUE(man.add_req(t, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    auto* running = new TestTrans(j, TestParams(2));
    ASSERT_TRUE(man.add_req(running, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    running->set_status(KV_REQ_STAT_RUNNING, false, 0, false);

    apply(KV_FileReqTaskCancel(0, false));
    EXPECT_EQ(t->log.req_status(), KV_REQ_STAT_CANCELLED);
    KV_FileReqLog lines;
    ASSERT_TRUE(t->log.get_log(t->id(), lines));
    KV_TransLogTrans::set_id_log(0);
    ASSERT_EQ(lines.list_elems().size(), 1u);
    EXPECT_EQ(lines.list_elems().at(0)->text, "Cancelled");
    EXPECT_EQ(lines.list_elems().at(0)->code, 0);
    EXPECT_EQ(t->status(), KV_REQ_STAT_CANCELLED);
    // A running transfer's worker records its own end.
    EXPECT_EQ(running->log.req_status(), KV_REQ_STAT_QUEUED);
    EXPECT_TRUE(running->log.nomsgs());
    EXPECT_TRUE(running->stopped());
}

TEST_F(FileReqTask, SkipBrowseAndParameters)
{
    man.rm = false;
    auto* t = new TestTrans(j, TestParams(1));
    ASSERT_TRUE(man.add_req(t, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    TestReq* plain = add();
    (void)plain;

    apply(KV_FileReqTaskSkipErr(0));
    EXPECT_TRUE(t->take_skip_err());
    EXPECT_FALSE(t->take_skip_err());
    apply(KV_FileReqTaskBrowse(t->id()));
    EXPECT_EQ(t->browsed.load(), 1);

    // The task owns its parameters; the queued clone holds its own copy.
    {
        KV_FileReqTaskPropSet set(t->id(), new TestParams(9));
        apply(set);
    }
    KV_FileReqTransParams* p = t->log.clone_params();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<TestParams*>(p)->v, 9);
    KV_FileReqTransParams::destr_clone(p);
    apply(KV_FileReqTaskPropSet(t->id(), nullptr)); // nothing to set

    apply(KV_FileReqTaskPropReq(t->id(), 77));
    std::vector<KV_Msg*> msgs = take(KV_MSG_REQ_PARAMS);
    ASSERT_EQ(msgs.size(), 1u);
    auto* m = static_cast<KV_MsgReqParams*>(msgs[0]);
    EXPECT_EQ(m->req_id(), t->id());
    EXPECT_EQ(m->usr_data(), 77u);
    EXPECT_EQ(m->status(), KV_REQ_STAT_QUEUED);
    EXPECT_EQ(m->type_src(), 2u);
    EXPECT_EQ(m->type_dst(), 3u);
    ASSERT_NE(m->params(), nullptr);
    EXPECT_EQ(static_cast<const TestParams*>(m->params())->v, 9);
    free_all(msgs);
}

TEST_F(FileReqTask, InfoSendsSnapshotAndLog)
{
    man.rm = false;
    auto* t = new TestTrans(j, TestParams());
    ASSERT_TRUE(man.add_req(t, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    t->log.add_msg("first", 0);
    t->log.add_msg("broken", 2);
    KV_Informer ui;
    apply(KV_FileReqTaskInfo(t->id(), ui,
                             KV_FileReqTaskInfo::INFO_SNAPSHOT | KV_FileReqTaskInfo::INFO_LOG));
    KV_Msg* m = ui.pop();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->type(), KV_MSG_REQ_LOG);
    auto* log = static_cast<KV_MsgReqLog*>(m);
    EXPECT_EQ(log->req_id, t->id());
    EXPECT_STREQ(log->log.info.operation(), "Transfer");
    EXPECT_EQ(log->log.info.last_err(), "broken");
    EXPECT_EQ(log->log.chg, 0x16u | KV_FileReqLog::CHG_ELEMS);
    EXPECT_EQ(log->log.list_elems().size(), 2u);
    KV_Informer::destroy(m);
    EXPECT_EQ(ui.pop(), nullptr);
    KV_TransLogTrans::set_id_log(0);
}

TEST_F(FileReqTask, UsageCheckReportsOnlyAnUnusedManagerOnce)
{
    const KV_FileManId mine(KV_DsId(2, "srv", "u", ""), 1);
    const KV_FileManId other(KV_DsId(2, "other", "u", ""), 1);
    KV_Informer ui;
    auto count_notices = [&] {
        int n = 0;
        while (KV_Msg* m = ui.pop()) {
            if (m->type() == KV_MSG_MAN && static_cast<KV_MsgManNtf*>(m)->ntf == KV_MAN_NTF_UNUSED)
                ++n;
            KV_Informer::destroy(m);
        }
        return n;
    };

    // Empty queue: the clone is never applied and says nothing.
    apply(KV_FileReqTaskUsgChck(ui, mine));
    EXPECT_EQ(count_notices(), 0);

    man.rm = false;
    auto* a = new TestTrans(j, TestParams());
    a->uses = other;
    ASSERT_TRUE(man.add_req(a, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    add(); // a plain request is never asked
    {
        // The sender's own task and its copies are never applied: they stay
        // silent when they go.
        KV_FileReqTaskUsgChck t(ui, mine);
        KV_FileReqTaskUsgChck copy(t);
        apply(t);
    }
    EXPECT_EQ(count_notices(), 1);

    auto* b = new TestTrans(j, TestParams());
    b->uses = mine;
    ASSERT_TRUE(man.add_req(b, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(man.pass());
    apply(KV_FileReqTaskUsgChck(ui, mine));
    EXPECT_EQ(count_notices(), 0);
}

} // namespace
