// The data-source tree's operations: creating, updating, removing and moving
// nodes with their refusals, lookups, read-only rules, the manager notices
// and the notifications the receiver gets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_file.h"
#include "foundation/kv_msg.h"
#include "root/kv_filemanpool.h"
#include "support/kv_testdir.h"

namespace {

struct Ntf
{
    KV_DsTreeNode* node;
    KV_TREE_NODE_NTF ntf;
    std::string path; // the ancestors' names joined with '|'
    uint8_t flags;
};

class Recv : public KV_DsTreeNtfRecv
{
public:
    std::vector<Ntf> got;
    void on_node_ntf(KV_DsTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_DsTreePath& path,
                     uint8_t flags) override
    {
        std::string text;
        for (KV_DsTreeNode* n : path)
            text += (text.empty() ? "" : "|") + std::string(n->name().data());
        got.push_back({node, ntf, text, flags});
    }
};

class TestTree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    using KV_DsTree::set_status;
    using KV_DsTree::update;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
};

// A default tree (root, the three protocol groups, the local computer) read
// from an empty file in a folder of its own, with a few nodes added:
//   Kivrel / Ftp / F1 / A (ftp.example.com), Sub
//                / F2
//          / Http / H (www.example.com)
class DsTreeTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        tree.set_pool(&pool);
        ASSERT_TRUE(tree.load_file());
        root = tree.find(KV_DS_NODE_GRP_DS, true);
        ftp = tree.find(KV_DS_NODE_FTP, true);
        http = tree.find(KV_DS_NODE_HTTP, true);
        std_node = tree.find(KV_DS_NODE_STD, false);
        ASSERT_TRUE(root && ftp && http && std_node);
        f1 = add_grp(ftp, "F1");
        f2 = add_grp(ftp, "F2");
        a = add_ftp(f1, "A", "ftp.example.com");
        sub = add_grp(f1, "Sub");
        h = add_http(http, "H", "www.example.com");
        ASSERT_TRUE(f1 && f2 && a && sub && h);
        tree.set_ntf(&recv);
    }

    void TearDown() override { tree.set_ntf(nullptr); }

    KV_DsTreeNode* add(KV_DsTreeNode* parent, KV_DsTreeNode& node)
    {
        return tree.create(parent, &node, 0, true);
    }
    KV_DsTreeNode* add_grp(KV_DsTreeNode* parent, const char* name)
    {
        KV_DsTreeNodeGrpFtp g(tree);
        g.set_name(name);
        return add(parent, g);
    }
    KV_DsTreeNode* add_ftp(KV_DsTreeNode* parent, const char* name, const char* addr)
    {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.params_ftp().set_dst_addr(addr);
        return add(parent, n);
    }
    KV_DsTreeNode* add_http(KV_DsTreeNode* parent, const char* name, const char* addr)
    {
        KV_DsTreeNodeHttp n;
        n.set_name(name);
        n.params_http().set_dst_addr(addr);
        return add(parent, n);
    }
    bool in_tree(KV_DsTreeNode* node) { return tree.find(node->id()) == node; }
    // The manager notice that a file manager sends when it starts (kind 0) or
    // ends (kind 1).
    bool man_ntf(KV_DsTreeNode* ds, uint32_t impl, KV_MAN_NTF kind)
    {
        KV_MsgManNtf msg(KV_FileManId(ds->id(), impl), kind, ds->name());
        return tree.process_ntf(&msg);
    }

    KV_FileManPool pool;
    kvtest::LogErr err;
    TestTree tree{err};
    Recv recv;
    KV_DsTreeNode* root = nullptr;
    KV_DsTreeNode* ftp = nullptr;
    KV_DsTreeNode* http = nullptr;
    KV_DsTreeNode* std_node = nullptr;
    KV_DsTreeNode *f1 = nullptr, *f2 = nullptr, *a = nullptr, *sub = nullptr, *h = nullptr;
};

TEST_F(DsTreeTest, CreateRefusesEmptyNamesOnlyWhenAsked)
{
    KV_DsTreeNodeFtp n;
    EXPECT_EQ(tree.create(f2, &n, 0, true), nullptr);
    ASSERT_EQ(err.count(), 1u);
    EXPECT_EQ(err.texts()[0], "The name can't be empty.");
    EXPECT_EQ(err.prios()[0], 2);
    EXPECT_TRUE(f2->list().empty());

    KV_DsTreeNode* c = tree.create(f2, &n, 0, false);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, &n) << "the tree holds a clone; the caller keeps its node";
    EXPECT_EQ(f2->list().at(0), c);
}

TEST_F(DsTreeTest, CreateChecksIdsOverTheWholeTree)
{
    // Names and addresses are compared without letter case: the same data
    // source in another folder.
    KV_DsTreeNodeFtp dup;
    dup.set_name("a");
    dup.params_ftp().set_dst_addr("FTP.example.com");
    EXPECT_EQ(tree.create(f2, &dup, 7, true), nullptr);
    ASSERT_EQ(err.count(), 1u);
    EXPECT_EQ(err.texts()[0], "Data source already exists.");
    EXPECT_TRUE(f2->list().empty());

    // Another user makes another data source.
    dup.params_ftp().ldata().set_user("joe");
    EXPECT_NE(tree.create(f2, &dup, 7, true), nullptr);

    // A second folder of one name under one parent could not be told apart
    // in the file; the same name elsewhere is another folder.
    KV_DsTreeNodeGrpFtp g(tree);
    g.set_name("F1");
    EXPECT_EQ(tree.create(ftp, &g, 0, true), nullptr);
    EXPECT_EQ(err.last(), "Folder already exists.");
    EXPECT_NE(tree.create(f2, &g, 0, true), nullptr);

    // A second root is refused without a text.
    size_t ntexts = err.count();
    KV_DsTreeNodeGrpDs r;
    r.set_name("Other");
    EXPECT_EQ(tree.create(nullptr, &r, 0, true), nullptr);
    EXPECT_EQ(err.count(), ntexts);
}

TEST_F(DsTreeTest, CreateAndRemoveTellTheReceiver)
{
    KV_DsTreeNodeFtp n;
    n.set_name("B");
    KV_DsTreeNode* b = tree.create(f2, &n, 0x42, true);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(recv.got.size(), 1u);
    EXPECT_EQ(recv.got[0].node, b);
    EXPECT_EQ(recv.got[0].ntf, KV_TREE_NODE_ADDED);
    EXPECT_EQ(recv.got[0].path, "Kivrel|Ftp|F2");
    EXPECT_EQ(recv.got[0].flags, 0x42);
    EXPECT_EQ(b->path(), "KIVREL|FTP|F2");

    // A group goes with its subtree, told as one removal.
    recv.got.clear();
    KV_FileManId a_id = a->id();
    ASSERT_TRUE(tree.remove(f1));
    ASSERT_EQ(recv.got.size(), 1u);
    EXPECT_EQ(recv.got[0].ntf, KV_TREE_NODE_REMOVED);
    EXPECT_EQ(recv.got[0].path, "Kivrel|Ftp");
    EXPECT_EQ(tree.find(a_id), nullptr);
}

TEST_F(DsTreeTest, HiddenUpdateSourceIsNeverReported)
{
    KV_DsTreeNode* upd = add_http(http, "Kivrel - Automatic Update", "upd.example.com");
    ASSERT_NE(upd, nullptr);
    ASSERT_TRUE(tree.set_status(upd, 0));
    ASSERT_TRUE(tree.refresh());
    for (const Ntf& n : recv.got)
        EXPECT_NE(n.node, upd);
    recv.got.clear();
    ASSERT_TRUE(tree.remove(upd));
    EXPECT_TRUE(recv.got.empty());
}

TEST_F(DsTreeTest, UpdateRefusals)
{
    struct Case
    {
        const char* what;
        KV_DsTreeNode* node;
        const char* name;
        const char* text; // null: accepted
    };
    KV_DsTreeNode* b = add_ftp(f2, "B", "other.example.com");
    ASSERT_NE(b, nullptr);
    const Case cases[] = {
        {"same name", a, "A", nullptr},
        {"empty name", a, "", "The name can't be empty."},
        {"name of the hidden source", a, "Kivrel - Automatic Update", "Invalid name."},
        {"folder of a sibling's name", f1, "F2", "Folder already exists."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err.clear();
        KV_DsTreeNode* edit = tree.clone(c.node, false);
        ASSERT_NE(edit, nullptr);
        edit->set_name(c.name);
        EXPECT_EQ(tree.update(c.node, edit, 0), c.text == nullptr);
        KV_DsTreeNode::destr_clone(edit);
        if (c.text) {
            ASSERT_EQ(err.count(), 1u);
            EXPECT_EQ(err.texts()[0], c.text);
        } else {
            EXPECT_EQ(err.count(), 0u);
        }
    }

    // The id of another data source.
    KV_DsTreeNode* edit = tree.clone(b, false);
    edit->set_name("A");
    static_cast<KV_DsTreeNodeFtp*>(edit)->params_ftp().set_dst_addr("ftp.example.com");
    EXPECT_FALSE(tree.update(b, edit, 0));
    EXPECT_EQ(err.last(), "Data source already exists.");
    KV_DsTreeNode::destr_clone(edit);
    EXPECT_EQ(b->name(), "B");
}

TEST_F(DsTreeTest, UpdateKeepsThePathOfThePlace)
{
    // An edited copy that brings another path still describes this node.
    KV_DsTreeNodeGrpFtp edit(tree);
    edit.set_name("F1 renamed");
    edit.set_path("Elsewhere");
    recv.got.clear();
    ASSERT_TRUE(tree.update(f1, &edit, 5));
    EXPECT_EQ(f1->name(), "F1 renamed");
    EXPECT_EQ(f1->path(), "KIVREL|FTP");
    ASSERT_EQ(recv.got.size(), 1u);
    EXPECT_EQ(recv.got[0].ntf, KV_TREE_NODE_CHANGED);
    EXPECT_EQ(recv.got[0].flags, 5);
}

TEST_F(DsTreeTest, MoveRefusals)
{
    KV_DsTreeNodeFtp ro;
    ro.set_name("RO");
    ro.params_ftp().opts().set_rdonly(true);
    KV_DsTreeNode* rdonly = add(f1, ro);
    KV_DsTreeNode* other = add_grp(f2, "Sub");
    ASSERT_TRUE(rdonly && other);
    struct Case
    {
        const char* what;
        KV_DsTreeNode* node;
        KV_DsTreeNode* dst;
    };
    const Case cases[] = {
        {"onto itself", f1, f1},
        {"into its own subtree", f1, sub},
        {"onto its current parent", a, f1},
        {"into another protocol", a, http},
        {"the root", root, f2},
        {"a read-only node", rdonly, f2},
        {"onto a data source", a, h},
        {"a folder where one of its name is", sub, f2},
        {"a null destination", a, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recv.got.clear();
        for (bool test : {true, false}) {
            EXPECT_FALSE(tree.move(c.node, c.dst, test));
        }
        EXPECT_TRUE(recv.got.empty());
        EXPECT_TRUE(in_tree(c.node));
    }
    EXPECT_EQ(tree.parent(f1), ftp);
    EXPECT_EQ(tree.parent(rdonly), f1);
}

TEST_F(DsTreeTest, MoveCarriesTheSubtreeToItsNewPlace)
{
    ASSERT_TRUE(tree.move(f1, f2, true));
    EXPECT_EQ(tree.parent(f1), ftp) << "a test move changes nothing";
    EXPECT_TRUE(recv.got.empty());

    ASSERT_TRUE(tree.move(f1, f2, false));
    EXPECT_EQ(tree.parent(f1), f2);
    EXPECT_EQ(tree.parent(a), f1);
    // The moved nodes carry the path of their new place, so that a folder's
    // id names where it is.
    EXPECT_EQ(f1->path(), "KIVREL|FTP|F2");
    EXPECT_EQ(sub->path(), "KIVREL|FTP|F2|F1");
    ASSERT_EQ(recv.got.size(), 4u);
    EXPECT_EQ(recv.got[0].ntf, KV_TREE_NODE_REMOVED);
    EXPECT_EQ(recv.got[0].path, "Kivrel|Ftp");
    const char* added[][2] = {
        {"F1", "Kivrel|Ftp|F2"}, {"A", "Kivrel|Ftp|F2|F1"}, {"Sub", "Kivrel|Ftp|F2|F1"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(recv.got[i + 1].ntf, KV_TREE_NODE_ADDED);
        EXPECT_STREQ(recv.got[i + 1].node->name().data(), added[i][0]);
        EXPECT_EQ(recv.got[i + 1].path, added[i][1]);
    }
    // A folder of the old name can now be made at the old place.
    KV_DsTreeNodeGrpFtp g(tree);
    g.set_name("F1");
    EXPECT_NE(tree.create(ftp, &g, 0, true), nullptr);
}

TEST_F(DsTreeTest, Lookups)
{
    EXPECT_EQ(tree.parent(ftp), nullptr);
    EXPECT_EQ(tree.parent(root), nullptr);
    EXPECT_EQ(tree.parent(a), f1);
    EXPECT_EQ(tree.find(KV_String("A")), a);
    EXPECT_EQ(tree.find(KV_String("Kivrel")), nullptr) << "the root is not a candidate by name";
    EXPECT_EQ(tree.find(KV_DS_NODE_GRP, false), root);

    EXPECT_EQ(tree.parent_grp(a, false), f1);
    EXPECT_EQ(tree.parent_grp(a, true), ftp) << "F1 takes its settings from Ftp";
    f1->set_inh_params(false);
    EXPECT_EQ(tree.parent_grp(a, true), f1);
    EXPECT_EQ(tree.parent_grp(sub, false), f1);
    EXPECT_EQ(tree.parent_grp(ftp, true), nullptr);
    EXPECT_EQ(tree.parent_grp(h, true), http);

    KV_DsTreeNode* orig = nullptr;
    KV_DsTreeNode* c = tree.clone(a->id(), true, &orig);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(orig, a);
    EXPECT_EQ(c->name(), "A");
    KV_DsTreeNode::destr_clone(c);
    EXPECT_EQ(tree.clone(KV_DsId(2, "NONE", "", ""), true, &orig), nullptr);
    EXPECT_EQ(orig, nullptr);
}

TEST_F(DsTreeTest, ReadOnlyRules)
{
    KV_FileManId unknown(KV_DsId(2, "NONE", "", ""), 0);
    EXPECT_TRUE(tree.rdonly(unknown, false));
    EXPECT_TRUE(tree.rdonly(root->id(), false));
    EXPECT_TRUE(tree.rdonly(ftp->id(), false));
    EXPECT_TRUE(tree.rdonly(http->id(), false));
    EXPECT_TRUE(tree.rdonly(std_node->id(), false));
    EXPECT_FALSE(tree.rdonly(f1->id(), true));
    EXPECT_FALSE(tree.rdonly(a->id(), false));

    // A live instance below: the data source is read-only whatever in_use
    // says, its folder only when in_use is set.
    ASSERT_TRUE(man_ntf(a, 1, KV_MAN_NTF_INIT));
    EXPECT_TRUE(tree.rdonly(a->id(), false));
    EXPECT_FALSE(tree.rdonly(f1->id(), false));
    EXPECT_TRUE(tree.rdonly(f1->id(), true));
    ASSERT_TRUE(man_ntf(a, 1, KV_MAN_NTF_REMOVED));
    EXPECT_FALSE(tree.rdonly(a->id(), false));
}

TEST_F(DsTreeTest, ManagerNotices)
{
    ASSERT_TRUE(man_ntf(a, 2, KV_MAN_NTF_INIT));
    KV_DsTreeNode* inst = tree.find(KV_FileManId(a->id(), 2));
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->type(), KV_DS_NODE_MAN_INST);
    EXPECT_EQ(tree.parent(inst), a);
    ASSERT_EQ(recv.got.size(), 1u);
    EXPECT_EQ(recv.got[0].path, "Kivrel|Ftp|F1|A");

    KV_DsTreeNodeFtp gone;
    gone.set_name("Gone");
    EXPECT_FALSE(man_ntf(&gone, 1, KV_MAN_NTF_INIT)) << "no data source for the manager";
    EXPECT_FALSE(man_ntf(&gone, 1, KV_MAN_NTF_REMOVED));
    EXPECT_FALSE(tree.process_ntf(nullptr));
    KV_MsgStdNtf other(KV_MSG_STD_NTF_ALL_PROC);
    EXPECT_TRUE(tree.process_ntf(&other));

    ASSERT_TRUE(man_ntf(a, 2, KV_MAN_NTF_REMOVED));
    EXPECT_EQ(tree.find(KV_FileManId(a->id(), 2)), nullptr);
    EXPECT_TRUE(a->list().empty());
}

TEST_F(DsTreeTest, RefreshAnnouncesEveryNodeInPreOrder)
{
    ASSERT_TRUE(tree.refresh());
    std::vector<std::string> names;
    for (const Ntf& n : recv.got) {
        EXPECT_EQ(n.ntf, KV_TREE_NODE_ADDED);
        names.push_back(n.node->name().data());
    }
    const std::vector<std::string> want = {"Kivrel", "Ftp",  "F1", "A",    "Sub",
                                           "F2",     "Http", "H",  "SFtp", "This Computer"};
    EXPECT_EQ(names, want);

    tree.set_ntf(nullptr);
    EXPECT_TRUE(tree.refresh());
    EXPECT_FALSE(tree.set_status(nullptr, 0));
}

TEST_F(DsTreeTest, TemporarySourcesGoWhenNoManagerUsesThem)
{
    KV_DsTreeNodeFtp t;
    t.params_ftp().opts().set_temporary(true);
    t.set_name("T1");
    KV_DsTreeNode* t1 = add(ftp, t);
    t.set_name("T2");
    KV_DsTreeNode* t2 = add(sub, t);
    ASSERT_TRUE(t1 && t2);
    KV_FileManId id1 = t1->id(), id2 = t2->id();
    ASSERT_TRUE(tree.deltemp());
    EXPECT_EQ(tree.find(id1), nullptr);
    EXPECT_EQ(tree.find(id2), nullptr);
    EXPECT_TRUE(in_tree(a));

    TestTree bare(err);
    EXPECT_TRUE(bare.deltemp()) << "nothing to do in an empty tree";
    bool removed = false;
    EXPECT_FALSE(bare.deltemp_node(a, removed)) << "no engine root";
}

TEST_F(DsTreeTest, SetPassGoesThroughUpdate)
{
    tree.set_pass(a->id(), "s3cret");
    EXPECT_EQ(static_cast<KV_DsTreeNodeFtp*>(a)->params_ftp().ldata().pass(), "s3cret");
    ASSERT_EQ(recv.got.size(), 1u);
    EXPECT_EQ(recv.got[0].ntf, KV_TREE_NODE_CHANGED);
    tree.set_pass(KV_DsId(2, "NONE", "", ""), "x");
    EXPECT_EQ(recv.got.size(), 1u);
}

TEST_F(DsTreeTest, GetInfoByAddress)
{
    KV_DsTreeInfo info(pool);
    ASSERT_TRUE(tree.get_info(info, KV_DS_NODE_FTP, "  FTP.Example.COM ", 0x01, nullptr));
    ASSERT_EQ(info.list().size(), 1u);
    const KV_DsTreeNodeInfo* found = info.list().at(0);
    EXPECT_EQ(found->orig(), a);
    ASSERT_NE(found->clone(), nullptr);
    EXPECT_NE(found->clone(), a);
    EXPECT_FALSE(found->new_node());

    // A new data source is added even when the search found one.
    KV_LoginData login("joe", "pw");
    ASSERT_TRUE(tree.get_info(info, KV_DS_NODE_FTP, "ftp.example.com", 0x08 | 0x10 | 0x20, &login));
    ASSERT_EQ(info.list().size(), 2u);
    const KV_DsTreeNodeInfo* made = info.list().at(1);
    ASSERT_TRUE(made->new_node());
    EXPECT_EQ(made->orig(), made->clone());
    auto* n = static_cast<KV_DsTreeNodeFtp*>(made->orig());
    EXPECT_EQ(n->name(), "ftp.example.com");
    EXPECT_EQ(n->params_ftp().dst_addr(), "ftp.example.com");
    EXPECT_TRUE(n->params_ftp().opts().temporary());
    EXPECT_EQ(n->params_ftp().security(), 2u);
    EXPECT_FALSE(n->params_ftp().anonymous()) << "a given login replaces the anonymous one";
    EXPECT_EQ(n->params_ftp().ldata().user(), "joe");
    EXPECT_EQ(info.find_man(), KV_FileManId(a->id(), 0));

    // Without the search, only the new one; another kind adds nothing.
    ASSERT_TRUE(tree.get_info(info, KV_DS_NODE_HTTP, "www.example.com", 0x04 | 0x08, nullptr));
    ASSERT_EQ(info.list().size(), 1u);
    EXPECT_TRUE(info.list().at(0)->new_node());
    ASSERT_TRUE(tree.get_info(info, KV_DS_NODE_STD, "x", 0x08, nullptr));
    EXPECT_TRUE(info.list().empty());

    // Any kind, any address: every data source, none of the groups.
    ASSERT_TRUE(tree.get_info(info, KV_DS_NODE_NONE, "", 0, nullptr));
    EXPECT_EQ(info.list().size(), 3u); // A, H, This Computer
}

TEST_F(DsTreeTest, CopyParametersFollowTheSourceAndDestination)
{
    // A inherits its options from the FTP group (through F1).
    static_cast<KV_DsTreeNodeGrpFtp*>(ftp)->opts_ftp().ftp().set_dtrans(KV_FTP_DTRANS_ON);
    KV_DsTreeNode* b = add_ftp(f2, "B", "other.example.com");
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(tree.params_cp(a->id(), b->id()).dtrans());
    f2->set_inh_params(false);
    EXPECT_FALSE(tree.params_cp(b->id(), a->id()).dtrans()) << "B takes F2's own options";
    // A destination that is not in the tree leaves nothing to decide on.
    EXPECT_FALSE(tree.params_cp(a->id(), KV_DsId(2, "NONE", "", "")).dtrans());
    EXPECT_FALSE(tree.params_cp(KV_DsId(2, "NONE", "", ""), b->id()).dtrans());
    EXPECT_FALSE(tree.params_fileop(a->id()).dtrans());
    EXPECT_EQ(tree.params_ren(a->id()).type(), KV_REQ_TYPE_TRANS_REN);
    EXPECT_EQ(tree.params_rm(KV_DsId()).type(), KV_REQ_TYPE_TRANS_RM);
}

// The transfer parameters that the tree hands out by value keep their fields
// through copies, clones and their binary form in a transfer log.
TEST(DsTreeTransParams, CopiesAndBinaryForm)
{
    KV_FileReqTransParamsCp cp;
    EXPECT_FALSE(cp.dtrans());
    cp.set_forced_exec(KV_FEXEC_FORCED);
    cp.set_tm_start(KV_Time(1000000L));
    cp.set_mirror(2);
    cp.set_tm_type(3);
    cp.set_tm_def(7200);
    cp.set_dayspec(5);
    cp.set_skip_sz(true);
    cp.set_dtrans(true);

    KV_Stream st(64);
    ASSERT_TRUE(cp.write_bin(st));
    ASSERT_EQ(st.length(), 23u);
    KV_FileReqTransParamsCp back;
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_EQ(back.forced_exec(), KV_FEXEC_FORCED);
    EXPECT_EQ(back.tm_start(), KV_Time(1000000L));
    EXPECT_EQ(back.tm_started(), cp.tm_started());
    EXPECT_EQ(back.mirror(), 2);
    EXPECT_EQ(back.tm_type(), 3);
    EXPECT_EQ(back.tm_def(), 7200u);
    EXPECT_EQ(back.dayspec(), 5);
    EXPECT_TRUE(back.skip_sz());
    EXPECT_FALSE(back.del_src());
    EXPECT_TRUE(back.dtrans());

    // A storage that ends after the base fields.
    KV_Stream cut(64);
    ASSERT_TRUE(cp.write_bin(cut));
    KV_Stream base(64);
    base.append(static_cast<const unsigned char*>(cut), 12);
    KV_FileReqTransParamsCp partial;
    EXPECT_FALSE(partial.read_bin(base));
    EXPECT_EQ(partial.forced_exec(), KV_FEXEC_FORCED) << "the fields read keep their values";
    EXPECT_EQ(partial.mirror(), 0);

    // Through the base: copy parameters copy everything, another kind only
    // the base fields.
    KV_FileReqTransParams* clone = cp.clone();
    ASSERT_NE(clone, nullptr);
    KV_FileReqTransParamsCp from_clone(*clone);
    EXPECT_TRUE(from_clone.dtrans());
    EXPECT_EQ(from_clone.tm_def(), 7200u);
    KV_FileReqTransParams::destr_clone(clone);
    KV_FileReqTransParamsRen ren(cp);
    EXPECT_EQ(ren.forced_exec(), KV_FEXEC_FORCED);
    KV_FileReqTransParamsCp from_ren(ren);
    EXPECT_EQ(from_ren.forced_exec(), KV_FEXEC_FORCED);
    EXPECT_FALSE(from_ren.dtrans());
    EXPECT_EQ(from_ren.mirror(), 0);
    KV_FileReqTransParams& as_base = from_ren;
    as_base = cp;
    EXPECT_TRUE(from_ren.dtrans()) << "the assignment follows the kind of its argument";
    KV_Stream rm_bin(64);
    ASSERT_TRUE(KV_FileReqTransParamsRm(cp).write_bin(rm_bin));
    EXPECT_EQ(rm_bin.length(), 12u);
}

TEST_F(DsTreeTest, ParametersOfADataSourceComeFromTheTree)
{
    auto* node = static_cast<KV_DsTreeNodeFtp*>(a);
    static_cast<KV_DsTreeNodeGrpDs*>(root)->opts_trans().set_nfretries(9);
    KV_FileManParamsFtp params(node->params_ftp());
    ASSERT_TRUE(params.KV_FileManParams::init(tree, a));
    EXPECT_EQ(params.opts().nretries(), 9u);
    EXPECT_FALSE(params.opts().rdonly());
    EXPECT_FALSE(params.KV_FileManParams::init(tree, nullptr));
    TestTree bare(err);
    EXPECT_FALSE(params.KV_FileManParams::init(bare, a)) << "no root group";
}

} // namespace
