#include "foundation/kv_msg.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"

namespace {

// Messages that own objects through pointers must not be copyable: a copy
// would delete the same nodes or parameters twice.
static_assert(!std::is_copy_constructible_v<KV_MsgTreeScan>);
static_assert(!std::is_copy_assignable_v<KV_MsgTreeScan>);
static_assert(!std::is_copy_constructible_v<KV_MsgReqParams>);
static_assert(!std::is_copy_assignable_v<KV_MsgReqParams>);
static_assert(!std::is_copy_constructible_v<KV_MsgReqLog>);
// The plain kinds keep their field-by-field copies.
static_assert(std::is_copy_constructible_v<KV_MsgReqNtf>);
static_assert(std::is_copy_constructible_v<KV_MsgTreeNtf>);
static_assert(sizeof(KV_MSG) == 4 && sizeof(KV_TREE_NTF) == 4 && sizeof(KV_MAN_NTF) == 4);

KV_PathDef make_path(const char* a, const char* b)
{
    KV_PathDef path;
    path.append(a);
    path.append(b);
    return path;
}

TEST(KV_Msg, EveryKindReportsItsNumber)
{
    KV_PathDef path = make_path("/", "pub");
    struct Case
    {
        std::unique_ptr<KV_Msg> msg;
        KV_MSG expected;
    };
    Case cases[] = {
        {std::make_unique<KV_MsgStdNtf>(KV_MSG_STD_NTF_ALL_PROC), static_cast<KV_MSG>(0)},
        {std::make_unique<KV_MsgErrNtf>(2, "failed"), static_cast<KV_MSG>(1)},
        {std::make_unique<KV_MsgTavoNtf>(KV_TAVO_NTF_STATUS, 4, "a", "b"), static_cast<KV_MSG>(2)},
        {std::make_unique<KV_MsgReqNtf>(KV_REQ_NTF_STATUS, 9), static_cast<KV_MSG>(3)},
        {std::make_unique<KV_MsgReqLog>(9), static_cast<KV_MSG>(4)},
        {std::make_unique<KV_MsgReqParams>(9, KV_REQ_STAT_QUEUED, nullptr, 0, 2, 1),
         static_cast<KV_MSG>(5)},
        {std::make_unique<KV_MsgFileOp>(KV_FILEOP_OPEN, "/tmp/x", "x", true),
         static_cast<KV_MSG>(6)},
        {std::make_unique<KV_MsgSessNtf>(3, KV_SessInfo()), static_cast<KV_MSG>(7)},
        {std::make_unique<KV_MsgSessLog>(3, KV_SessLogInfo(KV_SESS_LOG_SENT, "USER x", false)),
         static_cast<KV_MSG>(8)},
        {std::make_unique<KV_MsgManNtf>(KV_FileManId(), KV_MAN_NTF_DS_CHANGED, "srv"),
         static_cast<KV_MSG>(9)},
        {std::make_unique<KV_MsgLoginStatNtf>(3, KV_LOGIN_STATUS_LOGGED_IN),
         static_cast<KV_MSG>(10)},
        {std::make_unique<KV_MsgTreeScan>(path), static_cast<KV_MSG>(11)},
        {std::make_unique<KV_MsgTreePwd>(path), static_cast<KV_MSG>(12)},
        {std::make_unique<KV_MsgTreeNtf>(path, KV_TREE_NTF_SCAN_END, true, ""),
         static_cast<KV_MSG>(13)},
        {std::make_unique<KV_MsgTreeExp>(path, KV_TREE_EXP_CREATED, true), static_cast<KV_MSG>(14)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected kind " << c.expected);
        EXPECT_EQ(c.msg->type(), c.expected);
    }
}

// The constructors of these kinds take their arguments in another order than
// the fields are declared: a swapped pair would compile silently.
TEST(KV_Msg, ArgumentsLandInTheirFields)
{
    KV_MsgTavoNtf tavo(KV_TAVO_NTF_REMOVED, 17, "status", "error");
    EXPECT_EQ(tavo.ntf, KV_TAVO_NTF_REMOVED);
    EXPECT_EQ(tavo.tavo_id, 17u);
    EXPECT_EQ(tavo.text1, "status");
    EXPECT_EQ(tavo.text2, "error");

    KV_MsgReqNtf req(KV_REQ_NTF_ENDED, 23);
    EXPECT_EQ(req.ntf, KV_REQ_NTF_ENDED);
    EXPECT_EQ(req.req_id, 23u);
    EXPECT_EQ(req.info.prog_perc(), KV_FileReqInfo::PROG_UNKNOWN);

    KV_MsgReqParams params(5, KV_REQ_STAT_PAUSED, nullptr, 0xCAFE, 2, 4);
    EXPECT_EQ(params.req_id(), 5u);
    EXPECT_EQ(params.status(), KV_REQ_STAT_PAUSED);
    EXPECT_EQ(params.usr_data(), 0xCAFEu);
    EXPECT_EQ(params.type_src(), 2u);
    EXPECT_EQ(params.type_dst(), 4u);
    EXPECT_EQ(params.params(), nullptr);

    KV_PathDef path = make_path("/", "home");
    KV_MsgTreeExp exp(path, KV_TREE_EXP_CHMOD, "rwxr-x---", true);
    EXPECT_EQ(exp.exp, KV_TREE_EXP_CHMOD);
    EXPECT_EQ(exp.text, "rwxr-x---");
    EXPECT_TRUE(exp.flag);
    EXPECT_TRUE(exp.path == path);

    KV_MsgTreeExp exp3(path, KV_TREE_EXP_REMOVED, false);
    EXPECT_TRUE(exp3.text.empty());
    EXPECT_FALSE(exp3.flag);

    KV_MsgTreeNtf ntf(path, KV_TREE_NTF_SCAN_END, false, "550 No such file");
    EXPECT_EQ(ntf.ntf, KV_TREE_NTF_SCAN_END);
    EXPECT_FALSE(ntf.flag);
    EXPECT_EQ(ntf.text, "550 No such file");
}

int nodes_deleted = 0;

class CountedNode : public KV_FileTreeNode
{
public:
    explicit CountedNode(const char* name) : KV_FileTreeNode(true, KV_FileData(name, false)) {}
    ~CountedNode() override { ++nodes_deleted; }
};

TEST(KV_MsgTreeScan, DestroyingDeletesTheListedNodes)
{
    nodes_deleted = 0;
    auto* msg = new KV_MsgTreeScan(make_path("/", "srv"));
    EXPECT_EQ(msg->nodes.grow_step(), 128u);
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_TRUE(msg->nodes.add(new CountedNode(name)));
    }
    KV_Informer::destroy(msg);
    EXPECT_EQ(nodes_deleted, 3);
}

TEST(KV_MsgTreeScan, NodesTakenOutBeforeAreNotDeleted)
{
    nodes_deleted = 0;
    KV_FileTreeNode* kept = new CountedNode("kept");
    {
        KV_MsgTreeScan msg(make_path("/", "srv"));
        ASSERT_TRUE(msg.nodes.add(kept));
        ASSERT_TRUE(msg.nodes.add(new CountedNode("dropped")));
        // What the browse tree does with a node it takes over.
        ASSERT_TRUE(msg.nodes.remove_at(0));
    }
    EXPECT_EQ(nodes_deleted, 1);
    delete kept;
}

int params_deleted = 0;

class CountedParams : public KV_FileReqTransParams
{
public:
    ~CountedParams() override { ++params_deleted; }
    KV_FileReqTransParams* clone() const override { return new CountedParams(*this); }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_RM; }
};

TEST(KV_MsgReqParams, OwnsItsParameters)
{
    params_deleted = 0;
    KV_Informer::destroy(new KV_MsgReqParams(1, KV_REQ_STAT_QUEUED, nullptr, 0, 1, 1));
    EXPECT_EQ(params_deleted, 0);

    CountedParams original;
    KV_FileReqTransParams* clone = original.clone();
    auto* msg = new KV_MsgReqParams(1, KV_REQ_STAT_COMPLETED, clone, 0, 1, 2);
    EXPECT_EQ(msg->params(), clone);
    KV_Informer::destroy(msg);
    EXPECT_EQ(params_deleted, 1);
}

int msgs_deleted = 0;

class CountedMsg : public KV_Msg
{
public:
    ~CountedMsg() override { ++msgs_deleted; }
    KV_MSG type() const override { return KV_MSG_STD; }
};

// destroy deletes through the base class, so the kind's own destructor runs,
// and takes null as nothing to delete.
TEST(KV_Msg, DestroyDeletesThroughTheBaseAndTakesNull)
{
    msgs_deleted = 0;
    const KV_Msg* msg = new CountedMsg;
    KV_Informer::destroy(nullptr);
    EXPECT_EQ(msgs_deleted, 0);
    KV_Informer::destroy(msg);
    EXPECT_EQ(msgs_deleted, 1);
}

} // namespace
