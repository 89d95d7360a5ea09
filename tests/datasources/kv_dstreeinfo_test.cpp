// The results of a lookup by address: their order, which one names the file
// manager to use, and who frees what.
#include <gtest/gtest.h>

#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanopts.h"
#include "root/kv_filemanpool.h"

namespace {

class DsTreeInfoTest : public ::testing::Test
{
protected:
    KV_FileManPool pool;
};

TEST_F(DsTreeInfoTest, ResultsAreOrderedByKindNameAndNewness)
{
    KV_DsTreeNodeFtp ftp_a;
    ftp_a.set_name("A");
    KV_DsTreeNodeFtp ftp_b;
    ftp_b.set_name("B");
    KV_DsTreeNodeSftp sftp_a;
    sftp_a.set_name("A");
    KV_DsTreeNodeHttp http_a;
    http_a.set_name("A");
    auto* made = new KV_DsTreeNodeFtp();
    made->set_name("0 new");

    KV_DsTreeInfo info(pool);
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(made, made, true)));
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(&http_a, nullptr, false)));
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(&ftp_b, nullptr, false)));
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(&sftp_a, nullptr, false)));
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(&ftp_a, nullptr, false)));
    // An equal result is kept, after the one before it.
    KV_DsTreeNode* second_clone = ftp_a.clone(nullptr);
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(&ftp_a, second_clone, false)));

    const KV_DsTreeNode* want[] = {&ftp_a, &ftp_a, &ftp_b, &sftp_a, &http_a, made};
    ASSERT_EQ(info.list().size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(info.list().at(i)->orig(), want[i]);
    }
    EXPECT_EQ(info.list().at(0)->clone(), nullptr);
    EXPECT_EQ(info.list().at(1)->clone(), second_clone);
    EXPECT_EQ(info.find_man(), KV_FileManId(ftp_a.id(), 0));

    // The new node and the clone are freed once, with their results.
    info.clear();
    EXPECT_TRUE(info.list().empty());
    EXPECT_FALSE(info.find_man().valid());
}

TEST_F(DsTreeInfoTest, InstancesComeBeforeTheirDataSourceNewestFirst)
{
    KV_DsTreeNodeFtp ds;
    ds.set_name("A");
    KV_FileManOpts opts;
    KV_DsTreeNodeManInst inst1(KV_FileManId(ds.id(), 1), opts);
    KV_DsTreeNodeManInst inst3(KV_FileManId(ds.id(), 3), opts);
    inst1.set_name("A");
    inst3.set_name("A");
    KV_DsTreeNodeInfo i0(&ds, nullptr, false);
    KV_DsTreeNodeInfo i1(&inst1, nullptr, false);
    KV_DsTreeNodeInfo i3(&inst3, nullptr, false);
    EXPECT_TRUE(i3 < &i1);
    EXPECT_TRUE(i1 < &i0);
    EXPECT_FALSE(i0 < &i3);
    EXPECT_FALSE(i1 < &i1);
    EXPECT_TRUE(i1 == &i1);
    EXPECT_FALSE(i1 == &i3);
    EXPECT_FALSE(i1 < nullptr);
    EXPECT_FALSE(i1 == nullptr);
}

TEST_F(DsTreeInfoTest, RefusedResultsAreFreed)
{
    KV_DsTreeInfo info(pool);
    EXPECT_FALSE(info.add(nullptr));
    // An instance whose manager is not live is refused, clone and all.
    KV_DsTreeNodeFtp ds;
    ds.set_name("A");
    KV_DsTreeNodeManInst inst(KV_FileManId(ds.id(), 2), KV_FileManOpts());
    inst.set_name("A");
    EXPECT_FALSE(info.add(new KV_DsTreeNodeInfo(&inst, inst.clone(nullptr), false)));
    EXPECT_FALSE(info.add(new KV_DsTreeNodeInfo(nullptr, ds.clone(nullptr), false)));
    EXPECT_TRUE(info.list().empty());
}

TEST_F(DsTreeInfoTest, ManagerOfANewDataSourceIsItsDataSource)
{
    KV_DsTreeInfo info(pool);
    EXPECT_FALSE(info.find_man().valid()) << "nothing found";
    auto* made = new KV_DsTreeNodeHttp();
    made->set_name("www.example.com");
    made->params_http().set_dst_addr("www.example.com");
    ASSERT_TRUE(info.add(new KV_DsTreeNodeInfo(made, made, true)));
    const KV_FileManId id = info.find_man();
    EXPECT_TRUE(id.valid());
    EXPECT_FALSE(id.valid_man());
    EXPECT_EQ(id, KV_FileManId(made->id(), 0));
}

} // namespace
