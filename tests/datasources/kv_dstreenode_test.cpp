#include "datasources/kv_dstreenode.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_storage.h"
#include "root/kv_filemanpool.h"
#include "support/kv_dstest.h"
#include "support/kv_testdir.h"

namespace {

using dstest::load_lines;
using dstest::str;
using dstest::text_of;
using kvtest::NullErr;

// The SET lines that a node writes.
std::string saved(const KV_DsTree& tree, const KV_DsTreeNode& node)
{
    KV_Stream st;
    EXPECT_TRUE(node.save(tree, st));
    return text_of(st);
}

std::string scrambled(const char* pass)
{
    return str(KV_String(pass).encrypt_bf(KV_LoginData::bf_key));
}

class DsTreeNodeTest : public ::testing::Test
{
protected:
    NullErr err;
    KV_DsTree tree{err};
};

template <class Node> struct KeyCase
{
    const char* what;
    std::function<void(Node&)> set;
    std::string line; // what saving against a new node writes
};

// Every key is written alone, in its form, and a new node that loads it
// writes it back the same.
template <class Node>
void round_trip(const KV_DsTree& tree, const std::vector<KeyCase<Node>>& cases)
{
    for (const KeyCase<Node>& c : cases) {
        SCOPED_TRACE(c.what);
        Node n;
        c.set(n);
        const std::string text = saved(tree, n);
        EXPECT_EQ(text, c.line);
        Node back;
        EXPECT_TRUE(load_lines(back, text));
        EXPECT_EQ(saved(tree, back), text);
    }
}

// ---------------------------------------------------------------------------
// Base class

TEST_F(DsTreeNodeTest, NameLosesPathSeparatorsAndBlanks)
{
    KV_DsTreeNodeFtp n;
    n.set_name("  My|Server|  ");
    EXPECT_EQ(str(n.name()), "MyServer");
    // The parameters' name follows, so ids and managers see the same name.
    EXPECT_EQ(str(n.params_ftp().name()), "MyServer");

    n.set_comment("  note \r\n");
    EXPECT_EQ(str(n.comment()), "note");
    n.set_path(" Kivrel|Ftp ");
    EXPECT_EQ(str(n.path()), "KIVREL|FTP");
}

TEST_F(DsTreeNodeTest, GetTypeTable)
{
    struct Case
    {
        const char* word;
        KV_DS_NODE_TYPE type;
        bool secure; // the flag after the call, starting from true
    } cases[] = {
        {"ftp", KV_DS_NODE_FTP, false},   {" FTPS\t", KV_DS_NODE_FTP, true},
        {"Http", KV_DS_NODE_HTTP, false}, {"HTTPS", KV_DS_NODE_HTTP, true},
        {"sftp", KV_DS_NODE_SFTP, true},  {"  ", KV_DS_NODE_STD, true},
        {"SCP", KV_DS_NODE_NONE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        KV_DS_NODE_TYPE type = KV_DS_NODE_GRP;
        bool secure = true;
        KV_DsTreeNode::get_type(c.word, type, secure, KV_DS_NODE_STD);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(secure, c.secure);
    }
    // An empty word leaves the flag alone whatever it was.
    KV_DS_NODE_TYPE type = KV_DS_NODE_NONE;
    bool secure = false;
    KV_DsTreeNode::get_type("", type, secure, KV_DS_NODE_HTTP);
    EXPECT_EQ(type, KV_DS_NODE_HTTP);
    EXPECT_FALSE(secure);
}

TEST_F(DsTreeNodeTest, CommonKeysLoadAndRefuse)
{
    KV_DsTreeNodeStd n;
    EXPECT_TRUE(n.load("COMMENT", "a\r\nb"));
    EXPECT_EQ(str(n.comment()), "a\r\nb");
    EXPECT_TRUE(n.load("INH_PARAMS", "no"));
    EXPECT_FALSE(n.inh_params());
    EXPECT_FALSE(n.load("INH_PARAMS", "maybe"));
    EXPECT_FALSE(n.inh_params());
    EXPECT_TRUE(n.load("DEFAULT_PATH", " /home/anna "));
    EXPECT_EQ(str(n.params()->def_path()), "/home/anna");
    // Keys are matched as written, and a key no class takes fails the file.
    EXPECT_FALSE(n.load("comment", "x"));
    EXPECT_FALSE(n.load("NO_SUCH_KEY", "x"));

    // A group has no parameters, so no default path either.
    KV_DsTreeNodeGrpDs root;
    EXPECT_FALSE(root.load("DEFAULT_PATH", "/x"));
    EXPECT_TRUE(root.load("COMMENT", "c"));
}

TEST_F(DsTreeNodeTest, HiddenOnlyUnderTheUpdateName)
{
    KV_DsTreeNodeHttp n;
    n.set_name("Kivrel - Automatic Update");
    EXPECT_FALSE(n.visible());
    n.set_name("Kivrel - Automatic Update2");
    EXPECT_TRUE(n.visible());
}

TEST_F(DsTreeNodeTest, InstanceShowsItsIdAndIsReadOnly)
{
    KV_FileManFtpOpts opts;
    const KV_FileManId id(KV_DsId(KV_DS_NODE_FTP, "MIRROR", "FTP.EXAMPLE.ORG", "anna"), 2);
    KV_DsTreeNodeManInst inst(id, opts);
    EXPECT_EQ(str(inst.disp_name()), "# 2");
    EXPECT_TRUE(inst.id() == id);
    EXPECT_EQ(str(inst.srv()), "FTP.EXAMPLE.ORG");
    EXPECT_TRUE(inst.rdonly());
    EXPECT_EQ(inst.params(), nullptr);
    ASSERT_NE(inst.opts(), nullptr);
    EXPECT_EQ(inst.opts()->ntavos(), opts.ntavos());
    EXPECT_TRUE(inst.save_type().empty());

    // A new data-source id keeps the instance number.
    inst.updt_id(KV_DsId(KV_DS_NODE_FTP, "MIRROR2", "FTP.EXAMPLE.ORG", "anna"));
    EXPECT_EQ(str(inst.id().name1()), "MIRROR2");
    EXPECT_EQ(inst.id().impl(), 2u);

    KV_DsTreeNodeFtp ftp;
    ftp.set_name("Mirror");
    EXPECT_EQ(str(ftp.disp_name()), "Mirror");
}

TEST_F(DsTreeNodeTest, ChildrenAreOwnedAndUnlinked)
{
    auto* grp = new KV_DsTreeNodeGrpDs();
    auto* a = new KV_DsTreeNodeFtp();
    auto* b = new KV_DsTreeNodeFtp();
    EXPECT_TRUE(grp->insert(a));
    EXPECT_TRUE(grp->insert(b));
    EXPECT_FALSE(grp->insert(nullptr));
    ASSERT_EQ(grp->list().size(), 2u);
    EXPECT_EQ(grp->list().at(0), a);
    EXPECT_TRUE(grp->remove(a));
    EXPECT_FALSE(grp->remove(a));
    EXPECT_EQ(grp->list().size(), 1u);
    delete a;   // unlinked: ours now
    delete grp; // deletes b with it (the sanitizer tells otherwise)
}

// ---------------------------------------------------------------------------
// Ids

TEST_F(DsTreeNodeTest, IdsTable)
{
    struct Case
    {
        const char* what;
        std::function<KV_DsTreeNode*()> make;
        KV_DsId want;
    };
    const Case cases[] = {
        {"ftp",
         [] {
             auto* n = new KV_DsTreeNodeFtp();
             n->set_name("Mirror");
             n->params_ftp().set_dst_addr("Ftp.Example.org");
             n->params_ftp().ldata().set_user("Anna");
             return n;
         },
         KV_DsId(2, "MIRROR", "FTP.EXAMPLE.ORG", "Anna")},
        {"ftp anonymous",
         [] {
             auto* n = new KV_DsTreeNodeFtp();
             n->set_name("Mirror");
             n->params_ftp().set_dst_addr("h");
             n->params_ftp().ldata().set_user("Anna");
             n->params_ftp().set_anonymous(true);
             return n;
         },
         KV_DsId(2, "MIRROR", "H", "anonymous")},
        {"http without auth",
         [] {
             auto* n = new KV_DsTreeNodeHttp();
             n->set_name("Web");
             n->params_http().set_dst_addr("www.example.org");
             n->params_http().ldata().set_user("bob");
             return n;
         },
         KV_DsId(4, "WEB", "WWW.EXAMPLE.ORG", "")},
        {"http with auth",
         [] {
             auto* n = new KV_DsTreeNodeHttp();
             n->set_name("Web");
             n->params_http().set_dst_addr("www.example.org");
             n->params_http().ldata().set_user("bob");
             n->params_http().ldata().set_auth(true);
             return n;
         },
         KV_DsId(4, "WEB", "WWW.EXAMPLE.ORG", "bob")},
        {"sftp",
         [] {
             auto* n = new KV_DsTreeNodeSftp();
             n->set_name("Box");
             n->params_sftp().set_dst_addr("box:22");
             n->params_sftp().ldata().set_user("Carl");
             return n;
         },
         KV_DsId(3, "BOX", "BOX:22", "Carl")},
        {"local",
         [] {
             auto* n = new KV_DsTreeNodeStd();
             n->set_name("This Computer");
             return n;
         },
         KV_DsId(1, "THIS COMPUTER", "", "")},
        {"group",
         [this] {
             auto* n = new KV_DsTreeNodeGrpFtp(tree);
             n->set_name("Web");
             n->set_path("Kivrel|Ftp");
             return n;
         },
         KV_DsId(0x0205, "Web", "KIVREL|FTP", "")},
        {"root",
         [] {
             auto* n = new KV_DsTreeNodeGrpDs();
             n->set_name("Kivrel");
             return n;
         },
         KV_DsId(0x0605, "Kivrel", "", "")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<KV_DsTreeNode> n(c.make());
        EXPECT_TRUE(n->id() == KV_FileManId(c.want, 0))
            << str(n->id().name1()) << "/" << str(n->id().name2()) << "/" << str(n->id().name3())
            << " type " << n->id().type();
    }
}

TEST_F(DsTreeNodeTest, IdsIgnoreCaseOfNameAndServer)
{
    KV_DsTreeNodeFtp a, b;
    a.set_name("mirror");
    a.params_ftp().set_dst_addr("ftp.example.org");
    b.set_name("MIRROR");
    b.params_ftp().set_dst_addr("FTP.Example.ORG");
    a.params_ftp().ldata().set_user("anna");
    b.params_ftp().ldata().set_user("anna");
    EXPECT_TRUE(a.id() == b.id());
    b.params_ftp().ldata().set_user("Anna");
    EXPECT_FALSE(a.id() == b.id());
}

// ---------------------------------------------------------------------------
// Saving and loading

TEST_F(DsTreeNodeTest, NewNodesWriteNoKeys)
{
    std::unique_ptr<KV_DsTreeNode> nodes[] = {
        std::make_unique<KV_DsTreeNodeFtp>(),   std::make_unique<KV_DsTreeNodeHttp>(),
        std::make_unique<KV_DsTreeNodeSftp>(),  std::make_unique<KV_DsTreeNodeStd>(),
        std::make_unique<KV_DsTreeNodeGrpDs>(),
    };
    for (auto& n : nodes) {
        SCOPED_TRACE(str(n->save_type()));
        // The name is the node line's business, not a key.
        n->set_name("Some name");
        EXPECT_EQ(saved(tree, *n), "");
    }
    // An instance is never written.
    KV_DsTreeNodeManInst inst{KV_FileManId(), KV_FileManOpts()};
    KV_Stream st;
    EXPECT_FALSE(inst.save(tree, st));
    EXPECT_EQ(st.length(), 0u);
}

TEST_F(DsTreeNodeTest, NewFtpNodeWithServerWritesOnlyTheServer)
{
    KV_DsTreeNodeFtp n;
    n.set_name("Mirror");
    n.params_ftp().set_dst_addr("ftp.example.org");
    EXPECT_EQ(saved(tree, n), "SET DST_ADDR ftp.example.org\n");
}

TEST_F(DsTreeNodeTest, FtpKeysRoundTrip)
{
    using N = KV_DsTreeNodeFtp;
    round_trip<N>(
        tree,
        {
            {"comment", [](N& n) { n.set_comment("one\r\ntwo"); }, "SET COMMENT one|two\n"},
            {"inherit", [](N& n) { n.set_inh_params(false); }, "SET INH_PARAMS NO\n"},
            {"default path", [](N& n) { n.params_ftp().set_def_path("/pub", false); },
             "SET DEFAULT_PATH /pub\n"},
            {"source", [](N& n) { n.params_ftp().set_src_addr("10.0.0.1"); },
             "SET SRC_ADDR 10.0.0.1\n"},
            {"server", [](N& n) { n.params_ftp().set_dst_addr("h:2121"); },
             "SET DST_ADDR h:2121\n"},
            {"security", [](N& n) { n.params_ftp().set_security(static_cast<KV_FTP_SECURE>(2)); },
             "SET SECURITY 2\n"},
            {"server type",
             [](N& n) {
                 n.params_ftp().set_server_type(static_cast<KV_FTP_SERV_TYPE>(4294967295u));
             },
             "SET SERVER_TYPE 4294967295\n"},
            {"anonymous", [](N& n) { n.params_ftp().set_anonymous(true); }, "SET ANONYMOUS YES\n"},
            {"user", [](N& n) { n.params_ftp().ldata().set_user("anna"); }, "SET USER anna\n"},
            {"account", [](N& n) { n.params_ftp().ldata().set_acct("acc"); }, "SET ACCT acc\n"},
            {"password", [](N& n) { n.params_ftp().ldata().set_pass("s3cret"); },
             "SET PASS " + scrambled("s3cret") + "\n"},
            {"options", [](N& n) { n.params_ftp().opts_ftp().set_rdonly(true); },
             "SET RDONLY YES\n"},
        });
}

TEST_F(DsTreeNodeTest, HttpKeysRoundTrip)
{
    using N = KV_DsTreeNodeHttp;
    round_trip<N>(
        tree,
        {
            {"source", [](N& n) { n.params_http().set_src_addr("::1"); }, "SET SRC_ADDR ::1\n"},
            {"server", [](N& n) { n.params_http().set_dst_addr("www.example.org"); },
             "SET DST_ADDR www.example.org\n"},
            {"security", [](N& n) { n.params_http().set_security(1); }, "SET SECURITY 1\n"},
            {"auth", [](N& n) { n.params_http().ldata().set_auth(true); }, "SET AUTH YES\n"},
            {"auth commands", [](N& n) { n.params_http().ldata().set_auth_cmds(65535); },
             "SET AUTH_CMDS 65535\n"},
            {"user", [](N& n) { n.params_http().ldata().set_user("bob"); }, "SET USER bob\n"},
            {"password", [](N& n) { n.params_http().ldata().set_pass("pw"); },
             "SET PASS " + scrambled("pw") + "\n"},
            {"documents", [](N& n) { EXPECT_TRUE(n.params_http().set_docs("/a\r\n/b/\r\n/c")); },
             "SET DOCS /a|/b/|/c\n"},
            {"update documents", [](N& n) { n.params_http().set_update_docs(false); },
             "SET UPDATE_DOCS NO\n"},
            {"options", [](N& n) { n.params_http().opts_http().set_auto_mkdir(false); },
             "SET AUTO_MKDIR NO\n"},
        });
}

TEST_F(DsTreeNodeTest, SftpAndLocalKeysRoundTrip)
{
    using S = KV_DsTreeNodeSftp;
    round_trip<S>(
        tree, {
                  {"source", [](S& n) { n.params_sftp().set_src_addr("a"); }, "SET SRC_ADDR a\n"},
                  {"server", [](S& n) { n.params_sftp().set_dst_addr("b"); }, "SET DST_ADDR b\n"},
                  {"user", [](S& n) { n.params_sftp().ldata().set_user("c"); }, "SET USER c\n"},
                  {"password", [](S& n) { n.params_sftp().ldata().set_pass("d"); },
                   "SET PASS " + scrambled("d") + "\n"},
              });
    using L = KV_DsTreeNodeStd;
    round_trip<L>(tree, {
                            {"recycle", [](L& n) { n.params_std().opts_std().set_recycle(false); },
                             "SET RECYCLE NO\n"},
                            {"comment", [](L& n) { n.set_comment("c"); }, "SET COMMENT c\n"},
                        });
}

TEST_F(DsTreeNodeTest, AllKeysOfOneNodeInTheirOrder)
{
    KV_DsTreeNodeFtp n;
    n.set_comment("c");
    n.set_inh_params(false);
    n.params_ftp().set_def_path("/p", false);
    n.params_ftp().set_src_addr("s");
    n.params_ftp().set_dst_addr("d");
    n.params_ftp().set_security(static_cast<KV_FTP_SECURE>(1));
    n.params_ftp().set_server_type(static_cast<KV_FTP_SERV_TYPE>(2));
    n.params_ftp().set_anonymous(true);
    n.params_ftp().ldata().set_user("u");
    n.params_ftp().ldata().set_acct("a");
    n.params_ftp().ldata().set_pass("p");
    const std::string text = saved(tree, n);
    EXPECT_EQ(text, "SET COMMENT c\nSET INH_PARAMS NO\nSET DEFAULT_PATH /p\nSET SRC_ADDR s\n"
                    "SET DST_ADDR d\nSET SECURITY 1\nSET SERVER_TYPE 2\nSET ANONYMOUS YES\n"
                    "SET USER u\nSET ACCT a\nSET PASS " +
                        scrambled("p") + "\n");
    KV_DsTreeNodeFtp back;
    ASSERT_TRUE(load_lines(back, text));
    EXPECT_EQ(str(back.params_ftp().ldata().pass()), "p");
    EXPECT_EQ(saved(tree, back), text);
}

TEST_F(DsTreeNodeTest, MalformedValues)
{
    // A malformed flag fails the load; the flag keeps its value.
    KV_DsTreeNodeFtp ftp;
    EXPECT_FALSE(ftp.load("ANONYMOUS", "1"));
    EXPECT_FALSE(ftp.params_ftp().anonymous());
    KV_DsTreeNodeHttp http;
    EXPECT_FALSE(http.load("AUTH", "sure"));
    EXPECT_FALSE(http.load("UPDATE_DOCS", ""));
    EXPECT_TRUE(http.params_http().update_docs());
    // An option value the options refuse fails it too.
    EXPECT_FALSE(ftp.load("RDONLY", "perhaps"));

    // Numbers that do not fit their field are ignored, not wrapped round.
    ftp.params_ftp().set_security(static_cast<KV_FTP_SECURE>(1));
    EXPECT_TRUE(ftp.load("SECURITY", "4294967296"));
    EXPECT_TRUE(ftp.load("SECURITY", "-1"));
    EXPECT_EQ(ftp.params_ftp().security(), 1u);
    EXPECT_TRUE(http.load("AUTH_CMDS", "65536"));
    EXPECT_EQ(http.params_http().ldata().auth_cmds(), 255);
    EXPECT_TRUE(http.load("AUTH_CMDS", "7"));
    EXPECT_EQ(http.params_http().ldata().auth_cmds(), 7);

    // A password that does not unscramble is stored as it comes out.
    EXPECT_TRUE(ftp.load("PASS", "zz-not-hex-zz"));
    EXPECT_TRUE(ftp.load("PASS", "abc"));
}

// ---------------------------------------------------------------------------
// Assignment and clones

TEST_F(DsTreeNodeTest, CloneEqualsOriginal)
{
    KV_DsTreeNodeHttp n;
    n.set_name("Web");
    n.set_path("Kivrel|Http");
    n.set_comment("c");
    n.set_inh_params(false);
    n.params_http().set_dst_addr("www.example.org");
    n.params_http().ldata().set_user("bob");
    n.params_http().ldata().set_auth(true);
    ASSERT_TRUE(n.params_http().set_docs("/a\r\n/b"));
    n.params_http().opts_http().set_ntavos(7);
    KV_DsTreeNode* c = n.clone(nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type(), KV_DS_NODE_HTTP);
    EXPECT_EQ(str(c->name()), "Web");
    EXPECT_EQ(str(c->path()), "KIVREL|HTTP");
    EXPECT_TRUE(c->id() == n.id());
    EXPECT_EQ(saved(tree, *c), saved(tree, n));
    EXPECT_EQ(c->list().size(), 0u);
    KV_DsTreeNode::destr_clone(c);
    KV_DsTreeNode::destr_clone(nullptr);

    KV_FileManSftpOpts opts;
    KV_DsTreeNodeManInst inst(KV_FileManId(KV_DsId(3, "A", "B", "C"), 4), opts);
    KV_DsTreeNode* ic = inst.clone(&tree);
    ASSERT_NE(ic, nullptr);
    EXPECT_TRUE(ic->id() == inst.id());
    KV_DsTreeNode::destr_clone(ic);
}

TEST_F(DsTreeNodeTest, AssigningAnotherKindCopiesOnlyTheCommonFields)
{
    KV_DsTreeNodeSftp sftp;
    sftp.set_name("Box");
    sftp.set_path("Kivrel|SFtp");
    sftp.set_comment("from sftp");
    sftp.set_inh_params(false);
    sftp.params_sftp().set_dst_addr("box");

    KV_DsTreeNodeFtp ftp;
    ftp.params_ftp().set_dst_addr("ftp.example.org");
    ftp.params_ftp().set_def_path("/pub", false);
    EXPECT_TRUE(ftp.operator=(&sftp));
    EXPECT_EQ(str(ftp.name()), "Box");
    EXPECT_EQ(str(ftp.params_ftp().name()), "Box");
    EXPECT_EQ(str(ftp.path()), "KIVREL|SFTP");
    EXPECT_EQ(str(ftp.comment()), "from sftp");
    EXPECT_FALSE(ftp.inh_params());
    EXPECT_EQ(str(ftp.params_ftp().dst_addr()), "ftp.example.org");
    EXPECT_EQ(str(ftp.params_ftp().def_path()), "/pub");

    EXPECT_FALSE(ftp.operator=(nullptr));
    EXPECT_TRUE(ftp.operator=(&ftp));
    EXPECT_EQ(str(ftp.name()), "Box");
}

// ---------------------------------------------------------------------------
// Node operations

TEST_F(DsTreeNodeTest, CanOpenNeedsNameAndServer)
{
    KV_DsTreeNodeSftp n;
    EXPECT_FALSE(n.can_open());
    n.set_name("Box");
    EXPECT_FALSE(n.can_open());
    n.params_sftp().set_dst_addr("box");
    EXPECT_TRUE(n.can_open());
    KV_DsTreeNodeStd local;
    EXPECT_TRUE(local.can_open());
    EXPECT_TRUE(local.rdonly());
}

TEST_F(DsTreeNodeTest, OpenedDocumentBecomesDefaultPathOnce)
{
    KV_DsTreeNodeFtp n;
    bool changed = false;
    EXPECT_TRUE(n.node_doc_add("/pub/readme.txt", changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(str(n.params_ftp().def_path()), "/pub");
    EXPECT_TRUE(n.node_doc_add("/other/", changed));
    EXPECT_FALSE(changed);
    EXPECT_EQ(str(n.params_ftp().def_path()), "/pub");
    changed = true;
    EXPECT_TRUE(n.node_doc_del("/pub", changed));
    EXPECT_FALSE(changed);
}

TEST_F(DsTreeNodeTest, HttpDocumentsFollowOnlyWhileUpdated)
{
    KV_DsTreeNodeHttp n;
    bool changed = false;
    EXPECT_TRUE(n.node_doc_add(" /a ", changed));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(n.node_doc_add("/a", changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(n.node_doc_add("/b/", changed));
    EXPECT_EQ(str(n.params_http().docs()), "/a\r\n/b/");
    EXPECT_TRUE(n.node_doc_del("/a", changed));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(n.node_doc_del("/a", changed));
    EXPECT_FALSE(changed);

    n.params_http().set_update_docs(false);
    EXPECT_TRUE(n.node_doc_add("/c", changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(n.node_doc_del("/b/", changed));
    EXPECT_FALSE(changed);
    EXPECT_EQ(str(n.params_http().docs()), "/b/");
}

TEST_F(DsTreeNodeTest, SetPassGoesToTheLogin)
{
    KV_DsTreeNodeFtp ftp;
    KV_DsTreeNodeHttp http;
    KV_DsTreeNodeSftp sftp;
    KV_DsTreeNodeStd local;
    EXPECT_TRUE(ftp.set_pass("a"));
    EXPECT_TRUE(http.set_pass("b"));
    EXPECT_TRUE(sftp.set_pass("c"));
    EXPECT_FALSE(local.set_pass("d"));
    EXPECT_EQ(str(ftp.params_ftp().ldata().pass()), "a");
    EXPECT_EQ(str(http.params_http().ldata().pass()), "b");
    EXPECT_EQ(str(sftp.params_sftp().ldata().pass()), "c");
}

// The first line of each kind's text; the nodes belong to no tree, so no
// inheritance or comment line follows.
TEST_F(DsTreeNodeTest, InfoFirstLines)
{
    KV_FileManPool pool;
    KV_DsTreeNodeFtp ftp;
    ftp.params_ftp().set_dst_addr("ftp.example.org:2121");
    ftp.params_ftp().set_def_path("/pub", false);
    EXPECT_EQ(str(ftp.info(pool)), "ftp://ftp.example.org:2121/pub");
    ftp.params_ftp().set_security(static_cast<KV_FTP_SECURE>(2));
    EXPECT_EQ(str(ftp.info(pool)), "ftps://ftp.example.org:2121/pub");

    KV_DsTreeNodeHttp http;
    http.params_http().set_dst_addr("www.example.org");
    http.params_http().set_def_path("/dav/", false);
    EXPECT_EQ(str(http.info(pool)), "http://www.example.org/dav/");
    http.params_http().set_security(1);
    EXPECT_EQ(str(http.info(pool)), "https://www.example.org/dav/");

    KV_DsTreeNodeSftp sftp;
    sftp.params_sftp().set_dst_addr("box");
    EXPECT_EQ(str(sftp.info(pool)), "sftp://box");

    KV_DsTreeNodeStd local;
    EXPECT_EQ(str(local.info(pool)), "The local machine.");
    KV_DsTreeNodeGrpDs root;
    EXPECT_EQ(str(root.info(pool)), "Stores the data sources.");
    KV_DsTreeNodeGrpSftp grp(tree);
    EXPECT_EQ(str(grp.info(pool)), "Stores the SFTP servers.");
    // An instance outside any tree has no data source to describe.
    KV_DsTreeNodeManInst inst{KV_FileManId(KV_DsId(3, "A", "B", "C"), 1), KV_FileManOpts()};
    EXPECT_EQ(str(inst.info(pool)), "");
}

} // namespace
