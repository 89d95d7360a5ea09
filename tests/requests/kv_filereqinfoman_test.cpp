#include "requests/kv_filereqinfoman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "support/kv_testdir.h"
#include "transfers/kv_translogtrans.h"

namespace {

// A snapshot as a request fills it.
class Snap : public KV_FileReqInfo
{
public:
    explicit Snap(KV_REQ_STAT s = KV_REQ_STAT_QUEUED, KV_REQ_ADD a = KV_REQ_ADD_NONE)
    {
        operation_ = "List";
        status_ = s;
        add_ = a;
        type_ = KV_REQ_TYPE_SCAN;
    }
    Snap& text(const char* d) { return descr_ = d, *this; }
    Snap& prog(int32_t p) { return prog_perc_ = p, *this; }
    Snap& bits(uint8_t f) { return flags_ = f, *this; }
};

KV_MsgReqNtf* msg(KV_REQ_NTF kind, uint32_t id, const KV_FileReqInfo& info = Snap())
{
    auto* m = new KV_MsgReqNtf(kind, id);
    m->info = info;
    return m;
}

// Feeds one message and frees it, as the user-interface thread does.
bool feed(KV_FileReqInfoMan& t, KV_Msg* m)
{
    const bool ok = t.process_ntf(m);
    KV_Informer::destroy(m);
    return ok;
}

// Records what it hears as "id:kind"; `on_notify` lets a test act from
// inside a notice.
class Recv : public KV_FileReqInfoNtfRecv
{
public:
    void notify(unsigned int id, KV_REQ_NTF kind) override
    {
        heard.push_back(std::to_string(id) + ":" + std::to_string(kind));
        if (on_notify) {
            on_notify(id, kind);
        }
    }
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(heard);
        return out;
    }

    std::vector<std::string> heard;
    std::function<void(unsigned int, KV_REQ_NTF)> on_notify;
};

using Heard = std::vector<std::string>;

TEST(KV_FileReqInfoMan, ReceiversFollowARequestInOrder)
{
    KV_FileReqInfoMan t;
    Recv r1;
    Recv r2;
    ASSERT_TRUE(t.reg(&r1));
    ASSERT_TRUE(t.reg(&r2));

    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 5, Snap().text("/a"))));
    ASSERT_NE(t.at(5), nullptr);
    EXPECT_EQ(t.at(5)->descr(), "/a");
    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, 5, Snap(KV_REQ_STAT_RUNNING))));
    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, 5, Snap(KV_REQ_STAT_RUNNING).text("/b"))))
        << "a change nobody sees is no change, but no failure either";
    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, 5, Snap(KV_REQ_STAT_RUNNING).prog(40))));
    EXPECT_EQ(t.at(5)->prog_perc(), 40);
    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_ENDED, 5)));
    EXPECT_EQ(t.at(5), nullptr);

    const Heard expected = {"5:0", "5:1", "5:1", "5:2"};
    EXPECT_EQ(r1.take(), expected);
    EXPECT_EQ(r2.take(), expected);
}

TEST(KV_FileReqInfoMan, UnknownIdsAndOtherMessages)
{
    KV_FileReqInfoMan t;
    Recv r;
    ASSERT_TRUE(t.reg(&r));
    EXPECT_FALSE(feed(t, msg(KV_REQ_NTF_STATUS, 9)));
    EXPECT_FALSE(feed(t, msg(KV_REQ_NTF_ENDED, 9)));
    EXPECT_TRUE(feed(t, msg(static_cast<KV_REQ_NTF>(3), 9)));
    EXPECT_TRUE(feed(t, new KV_MsgStdNtf(KV_MSG_STD_NTF_ALL_PROC)));
    EXPECT_TRUE(t.process_ntf(nullptr));
    EXPECT_TRUE(r.take().empty());
    EXPECT_EQ(t.map().entries(), 0u);
}

// Ids are given again once a manager's queue has emptied; should the end of
// an earlier request of the same id have been lost, the new request's
// snapshot must still be the one shown, and its end must leave nothing
// behind.
TEST(KV_FileReqInfoMan, ANewRequestTakesOverAnIdLeftBehind)
{
    KV_FileReqInfoMan t;
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_RUNNING).text("old"))));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 2, Snap().text("new"))));
    EXPECT_EQ(t.map().entries(), 1u);
    ASSERT_NE(t.at(2), nullptr);
    EXPECT_EQ(t.at(2)->descr(), "new");
    EXPECT_TRUE(feed(t, msg(KV_REQ_NTF_ENDED, 2)));
    EXPECT_EQ(t.at(2), nullptr);
    EXPECT_EQ(t.map().entries(), 0u);
}

TEST(KV_FileReqInfoMan, RegisterAnnouncesWhatIsKnownToEveryone)
{
    KV_FileReqInfoMan t;
    Recv r1;
    Recv r2;
    EXPECT_FALSE(t.reg(nullptr));
    for (uint32_t id : {700u, 3u, 515u, 4u}) { // 515 and 3 share a bucket
        ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, id)));
    }
    ASSERT_TRUE(t.reg(&r1));
    EXPECT_EQ(r1.take(), (Heard{"3:0", "4:0", "515:0", "700:0"}));
    ASSERT_TRUE(t.reg(&r2));
    EXPECT_EQ(r1.take(), (Heard{"3:0", "4:0", "515:0", "700:0"}));
    EXPECT_EQ(r2.take(), (Heard{"3:0", "4:0", "515:0", "700:0"}));

    // A second registration announces again but does not double the
    // receiver: one unreg ends it.
    ASSERT_TRUE(t.reg(&r1));
    EXPECT_EQ(r1.take().size(), 4u);
    r2.take();
    EXPECT_TRUE(t.unreg(&r1));
    EXPECT_FALSE(t.unreg(&r1));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_ENDED, 3)));
    EXPECT_TRUE(r1.take().empty());
    EXPECT_EQ(r2.take(), Heard{"3:2"});
}

TEST(KV_FileReqInfoMan, ReceiversMayLeaveWhileBeingTold)
{
    KV_FileReqInfoMan t;
    Recv r1;
    Recv r2;
    Recv r3;
    ASSERT_TRUE(t.reg(&r1));
    ASSERT_TRUE(t.reg(&r2));
    ASSERT_TRUE(t.reg(&r3));
    // r1 leaves on the end of request 1 (a window that closes with its
    // request); r2 right behind it must still hear that end. r2 takes r3
    // with it, which must then not be called.
    r1.on_notify = [&](unsigned int, KV_REQ_NTF kind) {
        if (kind == KV_REQ_NTF_ENDED) {
            t.unreg(&r1);
        }
    };
    r2.on_notify = [&](unsigned int, KV_REQ_NTF kind) {
        if (kind == KV_REQ_NTF_ENDED) {
            t.unreg(&r3);
        }
    };
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 1)));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_ENDED, 1)));
    EXPECT_EQ(r1.take(), (Heard{"1:0", "1:2"}));
    EXPECT_EQ(r2.take(), (Heard{"1:0", "1:2"}));
    EXPECT_EQ(r3.take(), (Heard{"1:0"}));
}

TEST(KV_FileReqInfoMan, CountsByStatus)
{
    KV_FileReqInfoMan t;
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_RUNNING))));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 3, Snap(KV_REQ_STAT_SUSPENDED))));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 4, Snap(KV_REQ_STAT_RUNNING))));
    EXPECT_EQ(t.cnt(KV_REQ_STAT_RUNNING), 2u);
    EXPECT_EQ(t.cnt(KV_REQ_STAT_SUSPENDED), 1u);
    EXPECT_EQ(t.cnt(KV_REQ_STAT_ERROR), 0u);
}

// ---------------------------------------------------------------------------
// Flashes, with the requests of a real manager whose loop the test drives.

class TestMan : public KV_FileReqMan
{
public:
    ~TestMan() override { terminate(); }
    KV_FileReqManOpts opts() const override { return KV_FileReqManOpts(); }
};

// A request whose snapshot asks to stay in the list after its flash.
class KeptReq : public KV_FileReqMkDir
{
public:
    using KV_FileReqMkDir::KV_FileReqMkDir;
    ~KeptReq() override { set_term_status(); }
    void get_info(KV_FileReqInfo& info, bool full) override
    {
        KV_FileReqMkDir::get_info(info, full);
        info.set_flags(4, 0);
    }
};

class KV_FileReqInfoManFlash : public ::testing::Test
{
protected:
    ~KV_FileReqInfoManFlash() override { KV_TransLogTrans::set_id_log(0); }

    // Adds a request, takes it in and runs it to `end`, feeding every notice
    // to the table.
    KV_FileReq* run(KV_FileReq* r, KV_REQ_STAT end)
    {
        EXPECT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_TRUE(man.preprocess_req());
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r->set_status(end, false, 0, false);
        pump();
        return r;
    }
    void pump()
    {
        while (KV_Msg* m = man.informer().pop()) {
            t.process_ntf(m);
            KV_Informer::destroy(m);
        }
    }
    // Lets the manager apply the tasks that the table queued.
    void apply_tasks() { EXPECT_TRUE(man.preprocess_req()); }

    KV_PathDef p;
    kvtest::NullErr eh;
    TestMan man;
    KV_FileReqInfoMan t;
    Recv recv;
};

TEST_F(KV_FileReqInfoManFlash, ACompletedRequestFlashesThenGoes)
{
    ASSERT_TRUE(t.reg(&recv));
    KV_FileReq* r = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_COMPLETED);
    const unsigned id = r->id();
    EXPECT_EQ(t.add(), KV_REQ_ADD_COMPLETED);
    recv.take();

    for (int i = 0; i < 13; ++i) {
        t.flash(false, &man);
    }
    apply_tasks();
    EXPECT_FALSE(r->del_forced()) << "no delete while the flash runs";
    const Heard steps = recv.take();
    ASSERT_EQ(steps.size(), 13u);
    for (const std::string& s : steps) {
        EXPECT_EQ(s, std::to_string(id) + ":4");
    }

    t.flash(false, &man);
    EXPECT_EQ(recv.take(), Heard{std::to_string(id) + ":5"});
    EXPECT_EQ(t.add(), KV_REQ_ADD_COMPLETED) << "the call that ends a flash still counts";
    apply_tasks();
    EXPECT_TRUE(r->del_forced()) << "the end of the flash deletes the request";

    t.flash(false, &man);
    EXPECT_TRUE(recv.take().empty());
    EXPECT_EQ(t.add(), KV_REQ_ADD_NONE);
}

TEST_F(KV_FileReqInfoManFlash, ResetEndsEveryFlashAtOnce)
{
    ASSERT_TRUE(t.reg(&recv));
    KV_FileReq* a = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_COMPLETED);
    KV_FileReq* b = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_ERROR);
    EXPECT_EQ(t.add(), KV_REQ_ADD_ERROR);
    t.flash(false, &man);
    recv.take();

    t.flash(true, &man);
    Heard heard = recv.take();
    std::sort(heard.begin(), heard.end());
    Heard expected = {std::to_string(a->id()) + ":5", std::to_string(b->id()) + ":5"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(t.add(), KV_REQ_ADD_NONE);
    apply_tasks();
    EXPECT_TRUE(a->del_forced());
    EXPECT_TRUE(b->del_forced());
}

TEST_F(KV_FileReqInfoManFlash, SomeRequestsStay)
{
    KV_FileReq* kept = run(new KeptReq(eh, p), KV_REQ_STAT_COMPLETED);
    KV_FileReq* logged = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_COMPLETED);
    KV_FileReq* seen = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_COMPLETED);
    KV_TransLogTrans::set_id_log(logged->id());
    // The user has seen this one's result: its flash ends without a delete.
    t.add_stop(seen->id());
    ASSERT_NE(t.at(seen->id()), nullptr);
    EXPECT_EQ(t.at(seen->id())->add_cnt(), 0u);

    t.flash(true, &man);
    t.flash(true, nullptr);
    apply_tasks();
    EXPECT_FALSE(kept->del_forced()) << "flag 4 keeps it";
    EXPECT_FALSE(logged->del_forced()) << "its log is being read";
    EXPECT_FALSE(seen->del_forced());
}

TEST_F(KV_FileReqInfoManFlash, WithoutAManagerNothingIsDeleted)
{
    KV_FileReq* r = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_COMPLETED);
    t.flash(true, nullptr);
    apply_tasks();
    EXPECT_FALSE(r->del_forced());
}

TEST_F(KV_FileReqInfoManFlash, AddStopTellsTheEnd)
{
    ASSERT_TRUE(t.reg(&recv));
    KV_FileReq* r = run(new KV_FileReqMkDir(eh, p), KV_REQ_STAT_ERROR);
    recv.take();
    t.add_stop(r->id());
    t.add_stop(12345);
    EXPECT_EQ(recv.take(), Heard{std::to_string(r->id()) + ":5"});
    t.flash(false, &man);
    EXPECT_TRUE(recv.take().empty());
}

// The table's indicator follows the newest flash: a snapshot without an
// indicator leaves it, a new indicator replaces it.
TEST(KV_FileReqInfoMan, IndicatorFollowsTheNewestFlash)
{
    KV_FileReqInfoMan t;
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, 2)));
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, 2, Snap(KV_REQ_STAT_ERROR, KV_REQ_ADD_ERROR))));
    EXPECT_EQ(t.add(), KV_REQ_ADD_ERROR);
    t.flash(false, nullptr);
    const uint32_t left = t.at(2)->add_cnt();
    ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, 2, Snap(KV_REQ_STAT_QUEUED))));
    EXPECT_EQ(t.add(), KV_REQ_ADD_ERROR);
    EXPECT_EQ(t.at(2)->add_cnt(), left) << "the flash goes on";
    ASSERT_TRUE(
        feed(t, msg(KV_REQ_NTF_STATUS, 2, Snap(KV_REQ_STAT_COMPLETED, KV_REQ_ADD_COMPLETED))));
    EXPECT_EQ(t.add(), KV_REQ_ADD_COMPLETED);
    EXPECT_EQ(t.at(2)->add_cnt(), 2 * KV_FileReqInfo::add_init_cnt()) << "and starts again";
}

// A receiver may run a nested message loop from inside a flash notice (a
// message box), in which the request's end arrives.
TEST(KV_FileReqInfoMan, TableMayChangeDuringAFlash)
{
    KV_FileReqInfoMan t;
    Recv r;
    ASSERT_TRUE(t.reg(&r));
    for (uint32_t id : {2u, 3u, 514u}) {
        ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_INIT, id)));
        ASSERT_TRUE(feed(t, msg(KV_REQ_NTF_STATUS, id, Snap(KV_REQ_STAT_ERROR, KV_REQ_ADD_ERROR))));
    }
    r.take();
    r.on_notify = [&](unsigned int id, KV_REQ_NTF kind) {
        if (kind == KV_REQ_NTF_FLASH) {
            feed(t, msg(KV_REQ_NTF_ENDED, id == 2 ? 514 : id));
        }
    };
    t.flash(false, nullptr);
    EXPECT_EQ(r.take(), (Heard{"2:4", "514:2", "3:4", "3:2"}));
    EXPECT_EQ(t.map().entries(), 1u);
}

} // namespace
