#include "datasources/kv_dstreenodegrp.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_storage.h"
#include "support/kv_dstest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filetransman.h"

namespace {

using dstest::load_lines;
using dstest::str;
using dstest::text_of;
using kvtest::NullErr;

std::string scrambled(const char* pass)
{
    return str(KV_String(pass).encrypt_bf(KV_LoginData::bf_key));
}

// The tree the program starts with: the root, the three protocol groups and
// the local computer. Every group of these tests is made from the same kind
// of tree, so the default groups of save() all open the local computer too.
class DsTreeGrpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KV_DsTreeNodeGrpDs r;
        r.set_name("Kivrel");
        root = tree.create(nullptr, &r, 0, true);
        ASSERT_NE(root, nullptr);
        KV_DsTreeNodeStd l;
        l.set_name("This Computer");
        local = tree.create(root, &l, 0, true);
        ASSERT_NE(local, nullptr);
        ftp = add<KV_DsTreeNodeGrpFtp>(root, "Ftp");
        http = add<KV_DsTreeNodeGrpHttp>(root, "Http");
        sftp = add<KV_DsTreeNodeGrpSftp>(root, "SFtp");
    }

    template <class Grp> Grp* add(KV_DsTreeNode* parent, const char* name)
    {
        Grp g(tree);
        g.set_name(name);
        return dynamic_cast<Grp*>(tree.create(parent, &g, 0, true));
    }

    template <class Node> Node* add_ds(KV_DsTreeNode* parent, const char* name)
    {
        Node n;
        n.set_name(name);
        return dynamic_cast<Node*>(tree.create(parent, &n, 0, true));
    }

    std::string saved(const KV_DsTreeNode& node)
    {
        KV_Stream st;
        EXPECT_TRUE(node.save(tree, st));
        return text_of(st);
    }

    NullErr err;
    KV_DsTree tree{err};
    KV_DsTreeNode* root = nullptr;
    KV_DsTreeNode* local = nullptr;
    KV_DsTreeNodeGrpFtp* ftp = nullptr;
    KV_DsTreeNodeGrpHttp* http = nullptr;
    KV_DsTreeNodeGrpSftp* sftp = nullptr;
};

template <class Grp> struct KeyCase
{
    const char* what;
    std::function<void(Grp&)> set;
    std::string line;
};

// ---------------------------------------------------------------------------
// Kinds, ids, defaults

TEST_F(DsTreeGrpTest, KindsAndTypeWords)
{
    struct Case
    {
        KV_DsTreeNodeGrp* grp;
        const char* word;
        KV_DS_NODE_TYPE kind;
        bool add;
        const char* info;
    } cases[] = {
        {dynamic_cast<KV_DsTreeNodeGrp*>(root), "GROUP|DS", KV_DS_NODE_GRP_DS, false,
         "Stores the data sources."},
        {ftp, "GROUP|FTP", KV_DS_NODE_FTP, true, "Stores the FTP servers."},
        {http, "GROUP|HTTP", KV_DS_NODE_HTTP, true, "Stores the HTTP servers."},
        {sftp, "GROUP|SFTP", KV_DS_NODE_SFTP, true, "Stores the SFTP servers."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        ASSERT_NE(c.grp, nullptr);
        EXPECT_EQ(c.grp->type(), KV_DS_NODE_GRP);
        EXPECT_EQ(str(c.grp->save_type()), c.word);
        EXPECT_EQ(c.grp->type_grp(), c.kind);
        EXPECT_EQ(c.grp->add_chldrn(), c.add);
        EXPECT_EQ(c.grp->rdonly(), !c.add);
        EXPECT_EQ(c.grp->params(), nullptr);
        EXPECT_EQ(c.grp->opts(), nullptr);
        EXPECT_TRUE(c.grp->can_open());
    }
}

TEST_F(DsTreeGrpTest, NewGroupsWriteNoKeys)
{
    KV_DsTreeNodeGrpFtp f(tree);
    KV_DsTreeNodeGrpHttp h(tree);
    KV_DsTreeNodeGrpSftp s(tree);
    KV_DsTreeNodeGrpDs r;
    for (KV_DsTreeNode* g : {static_cast<KV_DsTreeNode*>(&f), static_cast<KV_DsTreeNode*>(&h),
                             static_cast<KV_DsTreeNode*>(&s), static_cast<KV_DsTreeNode*>(&r)}) {
        SCOPED_TRACE(str(g->save_type()));
        g->set_name("Folder");
        EXPECT_EQ(saved(*g), "");
    }
    // The groups of the tree, with names, paths and children, neither.
    EXPECT_EQ(saved(*ftp), "");
    EXPECT_EQ(saved(*root), "");
}

TEST_F(DsTreeGrpTest, NewGroupsOpenTheLocalComputer)
{
    EXPECT_TRUE(ftp->opts_ftp().open_with() == local->id());
    EXPECT_EQ(ftp->opts_ftp().disp_info(), KV_FileManFtpOpts().disp_info() | 0x0200);
    EXPECT_TRUE(sftp->opts_sftp().open_with() == local->id());

    // Without a local computer the options keep their own defaults.
    NullErr e;
    KV_DsTree bare(e);
    KV_DsTreeNodeGrpHttp h(bare);
    EXPECT_FALSE(h.opts_http().open_with().valid());
    EXPECT_EQ(h.opts_http().disp_info(), KV_FileManHttpOpts().disp_info());
}

TEST_F(DsTreeGrpTest, AnonymousPasswordPlaceholderIsAnAddress)
{
    const std::string pass = str(ftp->anonymous_pass());
    const size_t at = pass.find('@');
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 0u);
    EXPECT_LT(at + 1, pass.size());
    ftp->set_anonymous_pass("  me@example.org \t");
    EXPECT_EQ(str(ftp->anonymous_pass()), "me@example.org");
}

TEST_F(DsTreeGrpTest, GroupIdHoldsKindsNameAndPath)
{
    KV_DsTreeNodeGrpFtp* web = add<KV_DsTreeNodeGrpFtp>(ftp, "Web");
    ASSERT_NE(web, nullptr);
    web->set_path("Kivrel|Ftp");
    EXPECT_TRUE(web->id() == KV_FileManId(KV_DsId(0x0205, "Web", "KIVREL|FTP", ""), 0));
    EXPECT_EQ(str(web->disp_name()), "Web");
}

// ---------------------------------------------------------------------------
// Keys

TEST_F(DsTreeGrpTest, FtpGroupKeysRoundTrip)
{
    using G = KV_DsTreeNodeGrpFtp;
    const std::vector<KeyCase<G>> cases = {
        {"comment", [](G& g) { g.set_comment("a\r\nb"); }, "SET COMMENT a|b\n"},
        {"inherit", [](G& g) { g.set_inh_params(false); }, "SET INH_PARAMS NO\n"},
        {"anonymous password", [](G& g) { g.set_anonymous_pass("me@example.org"); },
         "SET ANONYMOUS_PASS " + scrambled("me@example.org") + "\n"},
        {"proxy kind", [](G& g) { g.proxy().set_type(KV_PROXY_FTP_USER_PORT); }, "SET PROXY 7\n"},
        {"proxy address", [](G& g) { g.proxy().set_addr("proxy.lan"); },
         "SET PROXY_ADDR proxy.lan\n"},
        {"proxy port", [](G& g) { EXPECT_TRUE(g.proxy().set_port(65535)); },
         "SET PROXY_PORT 65535\n"},
        {"proxy user", [](G& g) { g.proxy().ldata().set_user("pu"); }, "SET PROXY_USER pu\n"},
        {"proxy password", [](G& g) { g.proxy().ldata().set_pass("pp"); },
         "SET PROXY_PASS " + scrambled("pp") + "\n"},
        {"proxy passive", [](G& g) { g.proxy().set_pasv(false); }, "SET PROXY_PASV NO\n"},
        {"options", [](G& g) { g.opts_ftp().set_ntavos(9); }, "SET NTHREADS 9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        G g(tree);
        c.set(g);
        const std::string text = saved(g);
        EXPECT_EQ(text, c.line);
        G back(tree);
        EXPECT_TRUE(load_lines(back, text));
        EXPECT_EQ(saved(back), text);
    }
}

TEST_F(DsTreeGrpTest, HttpAndSftpGroupKeysRoundTrip)
{
    KV_DsTreeNodeGrpHttp h(tree);
    h.proxy().set_type(KV_PROXY_HTTP_SOCKS5);
    h.proxy().set_addr("p");
    ASSERT_TRUE(h.proxy().set_port(1080));
    h.proxy().ldata().set_user("u");
    h.proxy().ldata().set_pass("w");
    h.opts_http().set_auto_mkdir(false);
    const std::string ht = saved(h);
    EXPECT_EQ(ht, "SET PROXY 4\nSET PROXY_ADDR p\nSET PROXY_PORT 1080\nSET PROXY_USER u\n"
                  "SET PROXY_PASS " +
                      scrambled("w") + "\nSET AUTO_MKDIR NO\n");
    KV_DsTreeNodeGrpHttp hb(tree);
    ASSERT_TRUE(load_lines(hb, ht));
    EXPECT_EQ(saved(hb), ht);
    EXPECT_EQ(str(hb.proxy().ldata().pass()), "w");
    // Only the FTP proxy has a passive flag.
    EXPECT_FALSE(hb.load("PROXY_PASV", "YES"));
    EXPECT_FALSE(hb.load("ANONYMOUS_PASS", "x"));

    KV_DsTreeNodeGrpSftp s(tree);
    s.proxy().set_type(KV_PROXY_SSH_CONNECT);
    ASSERT_TRUE(s.proxy().set_port(3128));
    const std::string st = saved(s);
    EXPECT_EQ(st, "SET PROXY 1\nSET PROXY_PORT 3128\n");
    KV_DsTreeNodeGrpSftp sb(tree);
    ASSERT_TRUE(load_lines(sb, st));
    EXPECT_EQ(sb.proxy().type(), KV_PROXY_SSH_CONNECT);
    EXPECT_EQ(sb.proxy().port(), 3128);
}

TEST_F(DsTreeGrpTest, DamagedProxyValuesAreIgnored)
{
    KV_DsTreeNodeGrpFtp g(tree);
    ASSERT_TRUE(g.proxy().set_port(2121));
    // A port above 65535 would otherwise wrap round to 0 or another port.
    EXPECT_TRUE(g.load("PROXY_PORT", "65536"));
    EXPECT_TRUE(g.load("PROXY_PORT", "4294969317"));
    EXPECT_EQ(g.proxy().port(), 2121);
    EXPECT_TRUE(g.load("PROXY_PORT", "0"));
    EXPECT_EQ(g.proxy().port(), 0);

    // A kind the client does not know is not taken.
    g.proxy().set_type(KV_PROXY_FTP_SITE);
    EXPECT_TRUE(g.load("PROXY", "8"));
    EXPECT_TRUE(g.load("PROXY", "-1"));
    EXPECT_EQ(g.proxy().type(), KV_PROXY_FTP_SITE);
    KV_DsTreeNodeGrpHttp h(tree);
    EXPECT_TRUE(h.load("PROXY", "5"));
    EXPECT_EQ(h.proxy().type(), KV_PROXY_HTTP_NONE);

    // A malformed passive flag fails the load and keeps the flag.
    EXPECT_FALSE(g.load("PROXY_PASV", "2"));
    EXPECT_TRUE(g.proxy().pasv());
    // A key nobody takes fails it too.
    EXPECT_FALSE(g.load("DST_ADDR", "x"));
}

TEST_F(DsTreeGrpTest, RootGroupKeysAndTransferOptions)
{
    KV_DsTreeNodeGrpDs r;
    r.set_comment("c");
    r.opts_trans().set_ntmpfiles(7);
    const std::string text = saved(r);
    EXPECT_NE(text.find("SET COMMENT c\n"), std::string::npos);
    EXPECT_NE(text.find("7"), std::string::npos);
    KV_DsTreeNodeGrpDs back;
    ASSERT_TRUE(load_lines(back, text));
    EXPECT_EQ(back.opts_trans().ntmpfiles(), 7u);
    EXPECT_EQ(saved(back), text);
}

TEST_F(DsTreeGrpTest, RootGroupHandsItsOptionsToTheTransferManager)
{
    KV_FileTransMan tm;
    KV_DsTreeNodeGrpDs r(&tm);
    r.opts_trans().set_nfretries(9);
    r.opts_trans().set_ntmpfiles(3);
    EXPECT_EQ(tm.nfretries(), KV_FileTransManOpts().nfretries()) << "not before the update";
    r.post_updt();
    EXPECT_EQ(tm.nfretries(), 9u);
    EXPECT_EQ(tm.ntmpfiles(), 3u);
    KV_DsTreeNodeGrpDs alone;
    alone.post_updt();
}

// ---------------------------------------------------------------------------
// Assignment, clones and inheritance

TEST_F(DsTreeGrpTest, AssigningAnotherProtocolCopiesOnlyTheCommonFields)
{
    KV_DsTreeNodeGrpHttp h(tree);
    h.set_name("Web");
    h.set_path("Kivrel|Http");
    h.set_comment("c");
    h.set_inh_params(false);
    h.proxy().set_addr("hp");
    h.opts_http().set_ntavos(3);

    KV_DsTreeNodeGrpFtp f(tree);
    f.proxy().set_addr("fp");
    EXPECT_TRUE(f.operator=(&h));
    EXPECT_EQ(str(f.name()), "Web");
    EXPECT_EQ(str(f.path()), "KIVREL|HTTP");
    EXPECT_EQ(str(f.comment()), "c");
    EXPECT_FALSE(f.inh_params());
    EXPECT_EQ(str(f.proxy().addr()), "fp");
    EXPECT_EQ(f.opts_ftp().ntavos(), KV_FileManFtpOpts().ntavos());

    KV_DsTreeNodeGrpFtp f2(tree);
    f.set_anonymous_pass("x@y");
    EXPECT_TRUE(f2.operator=(&f));
    EXPECT_EQ(str(f2.proxy().addr()), "fp");
    EXPECT_EQ(str(f2.anonymous_pass()), "x@y");
}

TEST_F(DsTreeGrpTest, FolderCloneCarriesTheSettingsInForce)
{
    ftp->opts_ftp().set_ntavos(9);
    ftp->proxy().set_addr("group-proxy");
    ftp->set_anonymous_pass("group@example.org");
    KV_DsTreeNodeGrpFtp* sub = add<KV_DsTreeNodeGrpFtp>(ftp, "Sub");
    ASSERT_NE(sub, nullptr);
    sub->opts_ftp().set_ntavos(2);
    sub->proxy().set_addr("own-proxy");
    sub->set_comment("mine");

    KV_DsTreeNode* c = tree.parent(sub) == ftp ? sub->clone(&tree) : nullptr;
    ASSERT_NE(c, nullptr);
    auto* cg = dynamic_cast<KV_DsTreeNodeGrpFtp*>(c);
    ASSERT_NE(cg, nullptr);
    EXPECT_EQ(cg->opts_ftp().ntavos(), 9u);
    EXPECT_EQ(str(cg->proxy().addr()), "group-proxy");
    EXPECT_EQ(str(cg->anonymous_pass()), "group@example.org");
    EXPECT_EQ(str(cg->comment()), "mine");
    EXPECT_EQ(cg->list().size(), 0u);
    KV_DsTreeNode::destr_clone(c);

    // Without the tree, or once the folder keeps its own settings, the
    // folder's own settings.
    c = sub->clone(nullptr);
    EXPECT_EQ(dynamic_cast<KV_DsTreeNodeGrpFtp*>(c)->opts_ftp().ntavos(), 2u);
    KV_DsTreeNode::destr_clone(c);
    sub->set_inh_params(false);
    c = sub->clone(&tree);
    EXPECT_EQ(str(dynamic_cast<KV_DsTreeNodeGrpFtp*>(c)->proxy().addr()), "own-proxy");
    KV_DsTreeNode::destr_clone(c);
    // The folder itself never changes.
    EXPECT_EQ(sub->opts_ftp().ntavos(), 2u);
}

TEST_F(DsTreeGrpTest, DataSourceCloneTakesOptionsFromTheGroupChain)
{
    ftp->opts_ftp().set_ntavos(9);
    KV_DsTreeNodeGrpFtp* sub = add<KV_DsTreeNodeGrpFtp>(ftp, "Sub");
    ASSERT_NE(sub, nullptr);
    sub->opts_ftp().set_ntavos(4);
    KV_DsTreeNodeFtp* n = add_ds<KV_DsTreeNodeFtp>(sub, "Server");
    ASSERT_NE(n, nullptr);
    n->opts()->set_ntavos(1);
    n->params_ftp().set_dst_addr("h");

    struct Case
    {
        const char* what;
        bool node_inh;
        bool sub_inh;
        bool resolve;
        uint32_t ntavos;
    } cases[] = {
        {"inherits through the folder", true, true, true, 9},
        {"inherits from the folder", true, false, true, 4},
        {"keeps its own", false, true, true, 1},
        {"not resolved", true, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        n->set_inh_params(c.node_inh);
        sub->set_inh_params(c.sub_inh);
        KV_DsTreeNode* cl = n->clone(c.resolve ? &tree : nullptr);
        ASSERT_NE(cl, nullptr);
        EXPECT_EQ(cl->opts()->ntavos(), c.ntavos);
        EXPECT_EQ(str(dynamic_cast<KV_DsTreeNodeFtp*>(cl)->params_ftp().dst_addr()), "h");
        KV_DsTreeNode::destr_clone(cl);
    }
    EXPECT_EQ(n->opts()->ntavos(), 1u);

    // HTTP and SFTP alike; the local computer has no group to inherit from.
    http->opts_http().set_ntavos(8);
    sftp->opts_sftp().set_ntavos(7);
    KV_DsTreeNode* h = add_ds<KV_DsTreeNodeHttp>(http, "W");
    KV_DsTreeNode* s = add_ds<KV_DsTreeNodeSftp>(sftp, "S");
    for (auto [node, want] : {std::pair{h, 8u}, std::pair{s, 7u}}) {
        KV_DsTreeNode* cl = node->clone(&tree);
        ASSERT_NE(cl, nullptr);
        EXPECT_EQ(cl->opts()->ntavos(), want);
        KV_DsTreeNode::destr_clone(cl);
    }
    KV_DsTreeNode* lc = local->clone(&tree);
    EXPECT_EQ(lc->opts()->ntavos(), local->opts()->ntavos());
    KV_DsTreeNode::destr_clone(lc);
}

TEST_F(DsTreeGrpTest, InfoLines)
{
    KV_DsTreeNodeFtp* n = add_ds<KV_DsTreeNodeFtp>(ftp, "Server");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(str(n->info_add(tree)), "Inherits settings from: Ftp");
    n->set_comment("note");
    EXPECT_EQ(str(n->info_add(tree)), "Inherits settings from: Ftp\r\n\r\nnote");
    n->set_inh_params(false);
    EXPECT_EQ(str(n->info_add(tree)), "\r\nnote");
    n->set_comment("");
    EXPECT_EQ(str(n->info_add(tree)), "");
}

// ---------------------------------------------------------------------------
// Parameters prepared from the tree

TEST_F(DsTreeGrpTest, FtpParametersTakeProxyAndAnonymousLogin)
{
    dynamic_cast<KV_DsTreeNodeGrpDs*>(root)->opts_trans().set_nfretries(12);
    ftp->proxy().set_addr("proxy.lan");
    ftp->set_anonymous_pass("guest@lan");
    KV_DsTreeNodeFtp* n = add_ds<KV_DsTreeNodeFtp>(ftp, "Server");
    ASSERT_NE(n, nullptr);
    n->params_ftp().set_anonymous(true);
    n->params_ftp().ldata().set_user("anna");
    n->opts()->set_rdonly(true);

    KV_FileManParamsFtp p = n->params_ftp();
    ASSERT_TRUE(p.init(tree, n));
    EXPECT_EQ(str(p.proxy().addr()), "proxy.lan");
    EXPECT_EQ(str(p.ldata().user()), "anonymous");
    EXPECT_EQ(str(p.ldata().pass()), "guest@lan");
    EXPECT_TRUE(p.ldata().acct().empty());
    EXPECT_EQ(p.opts().nretries(), 12u);
    EXPECT_TRUE(p.opts().rdonly());

    // Not anonymous: the login stays.
    n->params_ftp().set_anonymous(false);
    KV_FileManParamsFtp q = n->params_ftp();
    ASSERT_TRUE(q.init(tree, n));
    EXPECT_EQ(str(q.ldata().user()), "anna");

    // Outside an FTP group, or without a node, nothing is prepared.
    KV_DsTreeNodeHttp* w = add_ds<KV_DsTreeNodeHttp>(http, "W");
    KV_FileManParamsFtp r;
    EXPECT_FALSE(r.init(tree, w));
    EXPECT_FALSE(r.init(tree, nullptr));
    EXPECT_TRUE(r.proxy().addr().empty());
}

TEST_F(DsTreeGrpTest, HttpAndSftpParametersTakeTheProxy)
{
    KV_DsTreeNodeGrpHttp* sub = add<KV_DsTreeNodeGrpHttp>(http, "Sub");
    http->proxy().set_addr("http-proxy");
    sub->proxy().set_addr("sub-proxy");
    KV_DsTreeNodeHttp* w = add_ds<KV_DsTreeNodeHttp>(sub, "W");
    KV_FileManParamsHttp hp;
    ASSERT_TRUE(hp.init(tree, w));
    EXPECT_EQ(str(hp.proxy().addr()), "http-proxy");
    sub->set_inh_params(false);
    ASSERT_TRUE(hp.init(tree, w));
    EXPECT_EQ(str(hp.proxy().addr()), "sub-proxy");

    sftp->proxy().set_addr("ssh-proxy");
    KV_DsTreeNodeSftp* s = add_ds<KV_DsTreeNodeSftp>(sftp, "S");
    KV_FileManParamsSftp sp;
    ASSERT_TRUE(sp.init(tree, s));
    EXPECT_EQ(str(sp.proxy().addr()), "ssh-proxy");
    EXPECT_FALSE(sp.init(tree, w));

    // A tree without a root group prepares nothing.
    NullErr e;
    KV_DsTree bare(e);
    EXPECT_FALSE(sp.init(bare, s));
}

TEST_F(DsTreeGrpTest, DirectTransfersBetweenFtpSources)
{
    KV_DsTreeNodeFtp* a = add_ds<KV_DsTreeNodeFtp>(ftp, "A");
    KV_DsTreeNodeFtp* b = add_ds<KV_DsTreeNodeFtp>(ftp, "B");
    KV_DsTreeNodeSftp* s = add_ds<KV_DsTreeNodeSftp>(sftp, "S");
    KV_DsTreeNodeFtp a2;
    a2.operator=(a);
    struct Case
    {
        KV_FTP_DTRANS mode;
        const KV_DsTreeNode* other;
        bool dtrans;
    } cases[] = {
        {KV_FTP_DTRANS_OFF, b, false},      {KV_FTP_DTRANS_ON, b, true},
        {KV_FTP_DTRANS_ON, s, false},       {KV_FTP_DTRANS_SAME_DS, b, false},
        {KV_FTP_DTRANS_SAME_DS, &a2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        a->params_ftp().opts_ftp().ftp().set_dtrans(c.mode);
        EXPECT_EQ(a->params_cp(*c.other).dtrans(), c.dtrans);
    }
    EXPECT_FALSE(b->params_cp(*a).dtrans());
}

} // namespace
