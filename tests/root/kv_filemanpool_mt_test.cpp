#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparamsftp.h"
#include "local/kv_filemanstd.h"
#include "root/kv_filemanpool.h"
#include "root/kv_rootfixture.h"
#include "support/kv_poolthreads.h"

namespace {

using roottest::RootTest;

std::vector<KV_MAN_NTF> man_ntfs(KV_Informer& inf)
{
    std::vector<KV_MAN_NTF> out;
    while (KV_Msg* m = inf.pop()) {
        if (m->type() == KV_MSG_MAN)
            out.push_back(static_cast<KV_MsgManNtf*>(m)->ntf);
        KV_Informer::destroy(m);
    }
    return out;
}

TEST_F(RootTest, RegFillsTheLowestFreeInstanceAndReusesALiveOne)
{
    const KV_DsId ds = local_ds();
    EXPECT_EQ(pool->best_man(ds).impl(), 0u) << "no live manager: the data source itself";
    EXPECT_FALSE(pool->contains(ds));

    KV_FileMan* one = pool->reg(KV_FileManId(ds, 1));
    KV_FileMan* three = pool->reg(KV_FileManId(ds, 3));
    ASSERT_NE(one, nullptr);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(one->type(), KV_FILE_MAN_TYPE_STD);
    KV_FileMan* two = pool->reg(KV_FileManId(ds, 0));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->id().impl(), 2u);
    EXPECT_EQ(pool->reg(KV_FileManId(ds, 0))->id().impl(), 4u);

    // The live one comes back after re-reading its settings; nothing new.
    man_ntfs(three->informer());
    EXPECT_EQ(pool->reg(KV_FileManId(ds, 3)), three);
    EXPECT_EQ(man_ntfs(three->informer()), std::vector<KV_MAN_NTF>{KV_MAN_NTF_DS_CHANGED});
    EXPECT_EQ(pool->man(KV_FileManId(ds, 5)), nullptr);

    EXPECT_TRUE(pool->contains(ds));
    EXPECT_EQ(pool->best_man(ds).impl(), 1u) << "the first in list order";
    EXPECT_EQ(pool->informer(KV_FileManId(ds, 2)), &two->informer());
    EXPECT_EQ(pool->informer(KV_FileManId(ds, 9)), nullptr);
    EXPECT_EQ(one->ssl_ctx(), &pool->ssl_ctx());

    // Each start becomes an instance node below the data source.
    pump();
    for (uint32_t i = 1; i <= 4; ++i)
        EXPECT_NE(tree().find(KV_FileManId(ds, i)), nullptr) << i;

    // A window bound to a manager's informer is found for the shut-down.
    EXPECT_EQ(pool->pop_hwnd(), nullptr);
    int wnd = 0;
    two->informer().set_wnd(&wnd);
    EXPECT_EQ(pool->pop_hwnd(), &wnd);
    two->informer().set_wnd(nullptr);
}

TEST_F(RootTest, RegRefusesWhatItCannotServe)
{
    EXPECT_EQ(pool->reg(KV_FileManId(KV_DsId(KV_DS_NODE_FTP, "nowhere", "", ""), 0)), nullptr);
    EXPECT_EQ(pool->reg(KV_FileManId()), nullptr);
}

TEST_F(RootTest, DeleteZombiesKeepsOnlyHeldManagers)
{
    const KV_DsId ds = local_ds();
    KV_FileMan* held = nullptr;
    for (int i = 0; i < 4; ++i) {
        KV_FileMan* m = pool->reg(KV_FileManId(ds, 0));
        ASSERT_NE(m, nullptr);
        if (i == 2)
            held = m;
    }
    held->lock(false);
    EXPECT_FALSE(pool->reqs_reg(ds)) << "a hold of the program is no request's";
    held->lock(true);
    EXPECT_TRUE(pool->reqs_reg(ds));
    held->unlock(true);

    EXPECT_TRUE(pool->delete_zombies());
    EXPECT_EQ(pool->man(KV_FileManId(ds, 1)), nullptr);
    EXPECT_EQ(pool->man(KV_FileManId(ds, 2)), nullptr);
    EXPECT_EQ(pool->man(KV_FileManId(ds, 3)), held);
    EXPECT_EQ(pool->man(KV_FileManId(ds, 4)), nullptr);
    EXPECT_TRUE(pool->delete_zombies()) << "a pass that finds none";

    // The last hold's release reaches the root as a notice, which deletes the
    // manager; its end then takes the instance node away.
    pump();
    EXPECT_NE(tree().find(KV_FileManId(ds, 3)), nullptr);
    held->unlock(false);
    ASSERT_TRUE(pump_until([&] { return !pool->contains(ds); }));
    ASSERT_TRUE(pump_until([&] { return tree().find(KV_FileManId(ds, 3)) == nullptr; }));
}

TEST_F(RootTest, TemporaryDataSourcesGoOnlyOnceTheSavedRequestsAreBack)
{
    ASSERT_NE(add_ftp("Temp", "127.0.0.1:1", true), nullptr);
    KV_DsTreeNode* node = tree().find(KV_String("Temp"));
    ASSERT_NE(node, nullptr);
    const KV_DsId ds = node->id();

    // Before the saved requests are back a temporary source may be named by
    // one of them: a manager's end deletes nothing.
    KV_FileMan* m = pool->reg(KV_FileManId(ds, 0));
    ASSERT_NE(m, nullptr);
    pump();
    ASSERT_TRUE(pool->delete_zombies());
    pump();
    EXPECT_NE(tree().find(KV_String("Temp")), nullptr);

    // With a live manager it is kept when the requests come back ...
    m = pool->reg(KV_FileManId(ds, 0));
    ASSERT_NE(m, nullptr);
    pump();
    EXPECT_TRUE(pool->load_req());
    EXPECT_NE(tree().find(KV_String("Temp")), nullptr);
    // ... and goes with the manager's end.
    ASSERT_TRUE(pool->delete_zombies());
    ASSERT_TRUE(pump_until([&] { return tree().find(KV_String("Temp")) == nullptr; }));

    // A second source without any manager goes as soon as deletion is on.
    ASSERT_TRUE(pool->set_deltemp(false));
    ASSERT_NE(add_ftp("Temp2", "127.0.0.2:1", true), nullptr);
    EXPECT_FALSE(pool->set_deltemp(true));
    EXPECT_EQ(tree().find(KV_String("Temp2")), nullptr);
}

TEST_F(RootTest, SettingsChangesReachTheLiveManager)
{
    KV_DsTreeNode* node = add_ftp("Srv", "127.0.0.1:1");
    ASSERT_NE(node, nullptr);
    KV_FileMan* m = pool->reg(KV_FileManId(node->id(), 0));
    ASSERT_NE(m, nullptr);
    pump();
    const KV_FileManId before = m->id();
    ASSERT_NE(tree().find(before), nullptr) << "instance node";

    KV_DsTreeNode* edit = tree().clone(node, false);
    ASSERT_NE(edit, nullptr);
    auto* ftp = static_cast<KV_DsTreeNodeFtp*>(edit);
    ftp->set_inh_params(false);
    ftp->params_ftp().opts().set_scan_cache(9);
    ftp->params_ftp().set_dst_addr("127.0.0.3:21");
    EXPECT_TRUE(pool->update(node, edit, 0));
    KV_DsTreeNode::destr_clone(edit);

    KV_FileManParams* now = m->clone_params();
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->opts().scan_cache(), 9u);
    EXPECT_EQ(std::string(static_cast<KV_FileManParamsFtp*>(now)->dst_addr().data()),
              "127.0.0.3:21");
    KV_FileManParams::destr_clone(now);
    // The address is part of the id: the manager and its node follow it.
    const KV_DsId moved = tree().find(KV_String("Srv"))->id();
    EXPECT_FALSE(moved == static_cast<const KV_DsId&>(before));
    EXPECT_TRUE(m->id() == KV_FileManId(moved, before.impl()));
    EXPECT_NE(tree().find(KV_FileManId(moved, before.impl())), nullptr);
    EXPECT_EQ(pool->man(before), nullptr);
}

// Every manager thread starts blocked until the gate opens, so that term()
// meets threads that certainly still run.
struct Gate
{
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false;
};
Gate& gate()
{
    static Gate g;
    return g;
}
struct Gated
{
    KV_ThreadProc proc;
    void* arg;
};
unsigned int gated_proc(void* p)
{
    auto* g = static_cast<Gated*>(p);
    {
        std::unique_lock<std::mutex> lock(gate().mutex);
        gate().cond.wait(lock, [] { return gate().open; });
    }
    const unsigned int rc = g->proc(g->arg);
    delete g;
    return rc;
}
bool gated_starter(KV_ThreadProc proc, void* arg)
{
    return kvtest::counting_starter(gated_proc, new Gated{proc, arg});
}

TEST_F(RootTest, TermIsTrueOnlyOnceEveryThreadHasEnded)
{
    // Fresh operating-system threads, so that each goes through the gate.
    KV_Thread::man().term();
    KV_ThreadMan::set_impl(gated_starter);
    const KV_DsId ds = local_ds();
    ASSERT_TRUE(pool->man_trans().start());
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(pool->reg(KV_FileManId(ds, 0)), nullptr);

    EXPECT_FALSE(pool->term());
    EXPECT_FALSE(pool->term());
    EXPECT_TRUE(pool->man_trans().stopped());
    {
        std::lock_guard<std::mutex> lock(gate().mutex);
        gate().open = true;
    }
    gate().cond.notify_all();
    EXPECT_TRUE(wait_term());
    EXPECT_FALSE(pool->man_trans().running());
    for (uint32_t i = 1; i <= 3; ++i) {
        KV_FileMan* m = pool->man(KV_FileManId(ds, i));
        ASSERT_NE(m, nullptr);
        EXPECT_FALSE(m->running());
        EXPECT_TRUE(m->stopped());
    }
    EXPECT_TRUE(pool->term()) << "may be polled again";
    KV_Thread::man().term();
    KV_ThreadMan::set_impl(kvtest::counting_starter);
}

class RootGroupTest : public RootTest
{
protected:
    std::string ds_text() const override
    {
        return "### Node definition: Kivrel ###\n"
               "NODE: TYPE = GROUP|DS NAME = Kivrel\n"
               "SET NFRETRIES 7\n"
               "\n";
    }
};

TEST_F(RootGroupTest, TheRootGroupsOptionsReachTheTransferManager)
{
    EXPECT_EQ(pool->man_trans().nfretries(), 7u);
    // The default nodes are added to what the file lacks, and saved.
    EXPECT_NE(tree().find(KV_DS_NODE_STD, false), nullptr);
    EXPECT_TRUE(pool->save());
    EXPECT_NE(kvtest::read_file(tmp / "settings/kivrel.ds").find("This Computer"),
              std::string::npos);
}

TEST_F(RootTest, ANotificationOfNoKnownNodeFails)
{
    EXPECT_FALSE(pool->process_ntf(nullptr));
    KV_MsgManNtf unknown(KV_FileManId(KV_DsId(KV_DS_NODE_FTP, "x", "", ""), 1), KV_MAN_NTF_INIT,
                         KV_String("x"));
    EXPECT_FALSE(pool->process_ntf(&unknown));
}

} // namespace
