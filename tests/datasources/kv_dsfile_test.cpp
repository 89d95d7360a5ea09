// The data-source file "kivrel.ds": the exact bytes written, reading them
// back, the files refused whole, recovery of an interrupted save, and that a
// failed save loses neither the file on disk nor the edit in memory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_logindata.h"
#include "foundation/kv_file.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_path.h"
#include "foundation/posix_fs.h"
#include "ftp/kv_ftpman.h"
#include "http/kv_httpman.h"
#include "net/kv_session.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"
#include "support/kv_dstest.h"
#include "support/kv_nobf.h"
#include "support/kv_testdir.h"

namespace {

using kvtest::read_file;
using kvtest::write_file;

class FileTree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    using KV_DsTree::save;
    using KV_DsTree::save_node;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
    // The text the tree would write, with the LF line ends it has in memory.
    std::string text() const
    {
        KV_Stream out(4096);
        if (!save(out))
            return "<save failed>";
        return std::string(reinterpret_cast<const char*>(static_cast<const unsigned char*>(out)),
                           out.length());
    }
};

// A storage that takes `room` bytes and then nothing.
class ShortStorage : public KV_Storage
{
public:
    explicit ShortStorage(uint32_t room) : room(room) {}
    uint32_t read(void*, uint32_t) override { return 0; }
    uint32_t write(const unsigned char*, uint32_t n) override
    {
        if (n > room)
            return 0;
        room -= n;
        return n;
    }

private:
    uint32_t room;
};

std::string crlf(const std::string& lf)
{
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string scrambled(const char* pass)
{
    return KV_String(pass).encrypt_bf(KV_LoginData::bf_key).data();
}

const char grp_comment[] = "SET COMMENT You can create own sub-folders|to categorize your "
                           "servers and/or|to manage the settings using|the properties "
                           "inheritence.\n";
// The default protocol groups are made before the local computer, so they do
// not open it alongside, unlike a group made later: they write their panes
// with an empty data source.
const char disp_ftp[] = "SET DISP_INFO 00000000000000000000000000000700\n";
const char disp_http[] = "SET DISP_INFO 00000000000000000000000000000500\n";
const char disp_sftp[] = "SET DISP_INFO 00000000000000000000000000000700\n";
const char std_comment[] =
    "SET COMMENT Use this data source|to transfer files from/to|the local computer.\n";

// What a tree of only the default nodes writes.
const std::string default_text = std::string("### Node definition: Kivrel ###\n"
                                             "NODE: TYPE = GROUP|DS NAME = Kivrel\n"
                                             "\n"
                                             "### Node definition: Ftp ###\n"
                                             "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\n") +
                                 grp_comment + disp_ftp +
                                 "\n"
                                 "### Node definition: Http ###\n"
                                 "NODE: TYPE = GROUP|HTTP NAME = Kivrel|Http\n" +
                                 grp_comment + disp_http +
                                 "\n"
                                 "### Node definition: SFtp ###\n"
                                 "NODE: TYPE = GROUP|SFTP NAME = Kivrel|SFtp\n" +
                                 grp_comment + disp_sftp +
                                 "\n"
                                 "### Node definition: This Computer ###\n"
                                 "NODE: TYPE = STD NAME = Kivrel|This Computer\n" +
                                 std_comment + "\n";

class DsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The settings folder is one below the temporary folder, so that a
        // test may move it aside (to ".away") within what is cleaned up.
        ASSERT_TRUE(tmp.ok());
        dir = tmp / "settings";
        ASSERT_TRUE(KV_File::mkdir(dir.c_str()));
        main_name = dir + "/kivrel.ds";
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        tree.set_pool(&pool);
    }

    static bool exists(const std::string& name)
    {
        struct stat st;
        return ::stat(name.c_str(), &st) == 0;
    }
    static ino_t inode(const std::string& name)
    {
        struct stat st;
        return ::stat(name.c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // Loads `bytes` as the file into `t`.
    bool load_text(FileTree& t, const std::string& bytes)
    {
        write_file(main_name, bytes);
        return t.load_file();
    }

    // The default tree with a node of every kind and settings that differ
    // from the defaults of their classes.
    void build_full_tree()
    {
        ASSERT_TRUE(load_text(tree, ""));
        auto* root = static_cast<KV_DsTreeNodeGrpDs*>(tree.find(KV_DS_NODE_GRP_DS, true));
        auto* ftp = static_cast<KV_DsTreeNodeGrpFtp*>(tree.find(KV_DS_NODE_FTP, true));
        KV_DsTreeNode* http = tree.find(KV_DS_NODE_HTTP, true);
        KV_DsTreeNode* sftp = tree.find(KV_DS_NODE_SFTP, true);
        auto* local = static_cast<KV_DsTreeNodeStd*>(tree.find(KV_DS_NODE_STD, false));
        ASSERT_TRUE(root && ftp && http && sftp && local);
        root->opts_trans().set_nfretries(7);
        ftp->proxy().set_type(KV_PROXY_FTP_SOCKS5);
        ftp->proxy().set_addr("proxy.example.com");
        ftp->proxy().set_port(1080);
        local->params_std().opts().set_scan_cache(4);

        KV_DsTreeNodeGrpFtp web(tree);
        web.set_name("Web");
        web.set_inh_params(false);
        KV_DsTreeNode* web_node = tree.create(ftp, &web, 0, true);
        ASSERT_NE(web_node, nullptr);

        KV_DsTreeNodeFtp a;
        a.set_name("Server A");
        a.set_comment("First line\r\nSecond line");
        a.params_ftp().set_dst_addr("ftp.example.com");
        a.params_ftp().ldata().set_user("joe");
        a.params_ftp().ldata().set_pass("secret");
        a.params_ftp().opts().set_scan_cache(9);
        ASSERT_NE(tree.create(web_node, &a, 0, true), nullptr);

        KV_DsTreeNodeHttp w;
        w.set_name("Web Server");
        w.params_http().set_dst_addr("www.example.com");
        w.params_http().set_security(1);
        ASSERT_TRUE(w.params_http().set_docs("/a.html\r\n/b.html"));
        ASSERT_NE(tree.create(http, &w, 0, true), nullptr);

        KV_DsTreeNodeSftp s;
        s.set_name("Shell");
        s.params_sftp().set_dst_addr("ssh.example.com");
        s.params_sftp().ldata().set_user("root");
        ASSERT_NE(tree.create(sftp, &s, 0, true), nullptr);
    }

    std::string full_text() const
    {
        return std::string("### Node definition: Kivrel ###\n"
                           "NODE: TYPE = GROUP|DS NAME = Kivrel\n"
                           "SET NFRETRIES 7\n"
                           "\n"
                           "### Node definition: Ftp ###\n"
                           "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\n") +
               grp_comment +
               "SET PROXY 3\n"
               "SET PROXY_ADDR proxy.example.com\n"
               "SET PROXY_PORT 1080\n" +
               disp_ftp +
               "\n"
               "### Node definition: Web ###\n"
               "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp|Web\n"
               "SET INH_PARAMS NO\n"
               "\n"
               "### Node definition: Server A ###\n"
               "NODE: TYPE = FTP NAME = Kivrel|Ftp|Web|Server A\n"
               "SET COMMENT First line|Second line\n"
               "SET DST_ADDR ftp.example.com\n"
               "SET USER joe\n"
               "SET PASS " +
               scrambled("secret") +
               "\n"
               "SET SCAN_CACHE 9\n"
               "\n"
               "### Node definition: Http ###\n"
               "NODE: TYPE = GROUP|HTTP NAME = Kivrel|Http\n" +
               grp_comment + disp_http +
               "\n"
               "### Node definition: Web Server ###\n"
               "NODE: TYPE = HTTP NAME = Kivrel|Http|Web Server\n"
               "SET DST_ADDR www.example.com\n"
               "SET SECURITY 1\n"
               "SET DOCS /a.html|/b.html\n"
               "\n"
               "### Node definition: SFtp ###\n"
               "NODE: TYPE = GROUP|SFTP NAME = Kivrel|SFtp\n" +
               grp_comment + disp_sftp +
               "\n"
               "### Node definition: Shell ###\n"
               "NODE: TYPE = SFTP NAME = Kivrel|SFtp|Shell\n"
               "SET DST_ADDR ssh.example.com\n"
               "SET USER root\n"
               "\n"
               "### Node definition: This Computer ###\n"
               "NODE: TYPE = STD NAME = Kivrel|This Computer\n" +
               std_comment + "SET SCAN_CACHE 4\n" + "\n";
    }

    kvtest::TempDir tmp{"kv_dsfile"};
    std::string dir;
    std::string main_name;
    KV_FileManPool pool;
    kvtest::LogErr err;
    FileTree tree{err};
};

TEST_F(DsFileTest, WritesTheExpectedBytesAndReadsThemBack)
{
    build_full_tree();
    ASSERT_TRUE(tree.save());
    EXPECT_EQ(read_file(main_name), crlf(full_text()));
    EXPECT_FALSE(exists(dir + "/kivrel.ds.new"));
    EXPECT_FALSE(exists(dir + "/kivrel.ds.tmp"));

    // Read back, the same tree writes the same bytes, and a save with nothing
    // changed leaves the file alone (a rewrite would make a new file).
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_EQ(again.text(), full_text());
    const ino_t before = inode(main_name);
    ASSERT_TRUE(again.save());
    EXPECT_EQ(inode(main_name), before);

    KV_DsTreeNode* a = again.find(KV_String("Server A"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->comment(), "First line\r\nSecond line");
    EXPECT_EQ(static_cast<KV_DsTreeNodeFtp*>(a)->params_ftp().ldata().pass(), "secret");
    EXPECT_EQ(a->path(), "KIVREL|FTP|WEB");
}

TEST_F(DsFileTest, EmptyFilesGetTheDefaultNodes)
{
    const char* const inputs[] = {"", "\r\n\r\n", "# only a comment\r\n\r\n   \r\n#another"};
    for (const char* input : inputs) {
        SCOPED_TRACE(input);
        FileTree t(err);
        t.set_pool(&pool);
        ASSERT_TRUE(load_text(t, input));
        EXPECT_EQ(t.text(), default_text);
        // The default nodes reach the file at the next save.
        EXPECT_EQ(read_file(main_name), input);
        ASSERT_TRUE(t.save());
        EXPECT_EQ(read_file(main_name), crlf(default_text));
    }
    FileTree no_pool(err);
    EXPECT_FALSE(load_text(no_pool, "")) << "the default nodes need the engine root";
}

TEST_F(DsFileTest, RefusedFilesLeaveTheTreeEmptyAndTheFileAlone)
{
    const std::string root_line = "NODE: TYPE = GROUP|DS NAME = Kivrel\r\n";
    struct Case
    {
        const char* what;
        std::string text;
        const char* err_text; // what the error handler hears, or null
    };
    const Case cases[] = {
        {"SET before the first node", "SET COMMENT x\r\n" + root_line, nullptr},
        {"missing ancestor",
         root_line + "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\r\n"
                     "NODE: TYPE = FTP NAME = Kivrel|Ftp|Web|Server\r\n",
         nullptr},
        {"unknown key", root_line + "SET NO_SUCH_KEY 1\r\n", nullptr},
        {"malformed flag", root_line + "SET INH_PARAMS MAYBE\r\n", nullptr},
        {"unknown type word", "NODE: TYPE = GROUP|SCP NAME = Kivrel\r\n", nullptr},
        {"type word without group", "NODE: TYPE = SCP NAME = Kivrel\r\n", nullptr},
        {"second root", root_line + "NODE: TYPE = GROUP|DS NAME = Other\r\n", nullptr},
        {"stray line", root_line + "\r\nhello world\r\n", nullptr},
        {"node line without a path", "NODE: TYPE = GROUP|DS\r\n", nullptr},
        {"empty name", root_line + "NODE: TYPE = GROUP|FTP NAME = Kivrel| |\r\n",
         "The name can't be empty."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err.clear();
        FileTree t(err);
        t.set_pool(&pool);
        EXPECT_FALSE(load_text(t, c.text));
        EXPECT_EQ(t.find(KV_DS_NODE_GRP, false), nullptr) << "nothing of the file stays";
        if (c.err_text) {
            ASSERT_EQ(err.count(), 1u);
            EXPECT_EQ(err.last(), c.err_text);
        } else {
            EXPECT_EQ(err.count(), 0u);
        }
        // Saving stays blocked: changes made now never reach the file.
        KV_DsTreeNodeGrpDs r;
        r.set_name("New");
        EXPECT_NE(t.create(nullptr, &r, 0, true), nullptr);
        EXPECT_TRUE(t.save());
        EXPECT_EQ(read_file(main_name), c.text);
    }
}

TEST_F(DsFileTest, ReaderDetails)
{
    const std::string head = "NODE: TYPE = GROUP|DS NAME = Kivrel\n"
                             "NODE: TYPE = group|ftp NAME = Kivrel|Ftp\n";
    // A comment between two value lines does not end the node; '|' in a
    // value reads back as CR LF; LF alone ends lines as well as CR LF; a blank
    // of the scan format matches no blank too.
    ASSERT_TRUE(load_text(tree, head + "SET COMMENT a|b\n"
                                       "# a remark\n"
                                       "SET INH_PARAMS NO\n"
                                       "NODE:TYPE=FTP NAME=Kivrel|Ftp|Srv\r\n"
                                       "SET DST_ADDR   host.example.com  \n"));
    KV_DsTreeNode* ftp = tree.find(KV_DS_NODE_FTP, true);
    ASSERT_NE(ftp, nullptr);
    EXPECT_EQ(ftp->comment(), "a\r\nb");
    EXPECT_FALSE(ftp->inh_params());
    KV_DsTreeNode* srv = tree.find(KV_String("Srv"));
    ASSERT_NE(srv, nullptr);
    EXPECT_EQ(srv->srv(), "host.example.com");

    // Another layout is rewritten in the writer's form at the first save.
    ASSERT_TRUE(tree.save());
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_EQ(read_file(main_name), crlf(again.text()));
}

TEST_F(DsFileTest, LongValuesAreCut)
{
    const std::string long_value(4194303 + 10, 'x');
    ASSERT_TRUE(
        load_text(tree, "NODE: TYPE = GROUP|DS NAME = Kivrel\nSET COMMENT " + long_value + "\n"));
    KV_DsTreeNode* root = tree.find(KV_DS_NODE_GRP_DS, true);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->comment().length(), 4194303u);
}

TEST_F(DsFileTest, NodesWithoutNameAreNotWritten)
{
    ASSERT_TRUE(load_text(tree, ""));
    KV_DsTreeNode* ftp = tree.find(KV_DS_NODE_FTP, true);
    KV_DsTreeNodeGrpFtp unnamed(tree);
    KV_DsTreeNode* g = tree.create(ftp, &unnamed, 0, false);
    ASSERT_NE(g, nullptr);
    KV_DsTreeNodeFtp below;
    below.set_name("Below");
    ASSERT_NE(tree.create(g, &below, 0, true), nullptr);
    EXPECT_EQ(tree.text(), default_text);
}

TEST_F(DsFileTest, MissingFile)
{
    EXPECT_FALSE(tree.load_file());
    EXPECT_EQ(tree.find(KV_DS_NODE_GRP, false), nullptr);
    EXPECT_TRUE(tree.save());
    EXPECT_FALSE(exists(main_name)) << "nothing is written before a good load";
}

// Without Blowfish the tree neither throws nor loses anything: a file with a
// password is refused whole (the tree stays empty and says why), and a save,
// which has to scramble, fails and leaves the file as it was.
TEST_F(DsFileTest, MissingCipherFailsLoadAndSaveButKeepsTheFile)
{
    const std::string with_pass = "NODE: TYPE = GROUP|DS NAME = Kivrel\r\n"
                                  "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\r\n"
                                  "NODE: TYPE = FTP NAME = Kivrel|Ftp|Web\r\n"
                                  "SET DST_ADDR ftp.example.com\r\n"
                                  "SET PASS 0123456789abcdef0123456789abcdef\r\n";
    kvtest::without_blowfish([&] {
        EXPECT_FALSE(load_text(tree, with_pass));
        EXPECT_EQ(tree.find(KV_DS_NODE_GRP, false), nullptr);
        EXPECT_EQ(err.texts(), std::vector<std::string>{"Passwords can't be unscrambled: Blowfish "
                                                        "is not available (OpenSSL legacy "
                                                        "provider missing)"});
        EXPECT_TRUE(tree.save());
        EXPECT_EQ(read_file(main_name), with_pass);

        // A file without passwords loads, but writing it needs the anonymous
        // FTP password scrambled.
        err.clear();
        FileTree t(err);
        t.set_pool(&pool);
        ASSERT_TRUE(load_text(t, ""));
        EXPECT_FALSE(t.save());
        EXPECT_EQ(read_file(main_name), "");
        EXPECT_FALSE(exists(dir + "/kivrel.ds.new"));
        EXPECT_EQ(err.texts(), std::vector<std::string>{"Passwords can't be scrambled: Blowfish "
                                                        "is not available (OpenSSL legacy "
                                                        "provider missing)"});
        // The copy ends without the fixture's clean-up.
        kv_remove_tree(dir.c_str());
    });
}

TEST_F(DsFileTest, LeftOverBackupIsTakenForTheFile)
{
    // An earlier version moved the complete file to the backup and stopped
    // while writing the new one.
    write_file(main_name, crlf(default_text.substr(0, 60)));
    write_file(dir + "/kivrel.ds.tmp", crlf(default_text));
    ASSERT_TRUE(tree.load_file());
    EXPECT_EQ(tree.text(), default_text);
    EXPECT_FALSE(exists(dir + "/kivrel.ds.tmp"));
    EXPECT_EQ(read_file(main_name), crlf(default_text));
}

TEST_F(DsFileTest, StaleBackupGoesWithTheNextSave)
{
    ASSERT_TRUE(load_text(tree, crlf(default_text)));
    // A backup that the load could not take over would otherwise replace
    // the next file written.
    write_file(dir + "/kivrel.ds.tmp", "stale");
    KV_DsTreeNodeFtp n;
    n.set_name("New");
    ASSERT_NE(tree.create(tree.find(KV_DS_NODE_FTP, true), &n, 0, true), nullptr);
    EXPECT_FALSE(exists(dir + "/kivrel.ds.tmp"));
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_NE(again.find(KV_String("New")), nullptr);
}

TEST_F(DsFileTest, ReloadWritesNothing)
{
    ASSERT_TRUE(load_text(tree, crlf(default_text)));
    // The nodes that a second load creates one by one must not be saved on
    // the way: the file would be cut to the nodes read so far.
    const std::string other = crlf(full_text());
    write_file(main_name, other);
    const ino_t before = inode(main_name);
    ASSERT_TRUE(tree.load_file());
    EXPECT_EQ(read_file(main_name), other);
    EXPECT_EQ(inode(main_name), before);
    EXPECT_EQ(tree.text(), full_text());
}

TEST_F(DsFileTest, FailedWriteKeepsTheOldFileAndTheEdit)
{
    ASSERT_TRUE(load_text(tree, crlf(default_text)));
    const std::string before = read_file(main_name);

    // The file-size limit binds root as well: every write beyond 64 bytes
    // fails (with SIGXFSZ ignored, as EFBIG).
    kvtest::FileSizeLimit limit(64);
    ASSERT_TRUE(limit.ok());

    KV_DsTreeNodeFtp n;
    n.set_name("Edit");
    KV_DsTreeNode* made = tree.create(tree.find(KV_DS_NODE_FTP, true), &n, 0, true);
    const bool saved = tree.save();

    ASSERT_TRUE(limit.end());

    EXPECT_EQ(made, nullptr) << "the failed automatic save is reported";
    EXPECT_FALSE(saved);
    EXPECT_NE(tree.find(KV_String("Edit")), nullptr) << "the edit stays in memory";
    EXPECT_EQ(read_file(main_name), before) << "the old file is whole";
    EXPECT_FALSE(exists(dir + "/kivrel.ds.new"));

    // The edit reaches the file as soon as writing works again.
    ASSERT_TRUE(tree.save());
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_NE(again.find(KV_String("Edit")), nullptr);
}

TEST_F(DsFileTest, SaveFailsWhileTheFolderIsGone)
{
    ASSERT_TRUE(load_text(tree, crlf(default_text)));
    // The settings folder turns into a plain file: nothing can be created in
    // it, whoever runs the test.
    const std::string away = dir + ".away";
    ASSERT_EQ(std::rename(dir.c_str(), away.c_str()), 0);
    write_file(dir, "not a folder");
    KV_DsTreeNodeFtp n;
    n.set_name("Edit");
    EXPECT_EQ(tree.create(tree.find(KV_DS_NODE_FTP, true), &n, 0, true), nullptr);
    EXPECT_FALSE(tree.save());

    ASSERT_EQ(std::remove(dir.c_str()), 0);
    ASSERT_EQ(std::rename(away.c_str(), dir.c_str()), 0);
    ASSERT_TRUE(tree.save());
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_NE(again.find(KV_String("Edit")), nullptr);
}

TEST_F(DsFileTest, StorageThatFailsEndsTheSave)
{
    build_full_tree();
    const uint32_t full = static_cast<uint32_t>(tree.text().size());
    KV_PathDef empty;
    KV_DsTreeNode* root = tree.find(KV_DS_NODE_GRP_DS, true);
    for (uint32_t room : {0u, 10u, 100u, full / 2, full - 1}) {
        SCOPED_TRACE(room);
        ShortStorage st(room);
        EXPECT_FALSE(tree.save_node(st, empty, root));
    }
    ShortStorage enough(full);
    EXPECT_TRUE(tree.save_node(enough, empty, root));
}

TEST_F(DsFileTest, DiskFormUsesCrLf)
{
    build_full_tree();
    ASSERT_TRUE(tree.save());
    const std::string bytes = read_file(main_name);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "at " << i;
        }
    }
    // A file with LF alone reads the same and is not rewritten for it.
    write_file(main_name, full_text());
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    const ino_t before = inode(main_name);
    ASSERT_TRUE(again.save());
    EXPECT_EQ(inode(main_name), before);
}

// Every key that a node of any kind writes, each set away from its default,
// in one file: the bytes are the stored format, so they must not move, and
// reading them back must reach every setting (a key that load() skipped
// would be missing when the tree is written again).
class DsFileEveryKeyTest : public DsFileTest
{
protected:
    // The transfer manager's forwarded settings are process-wide.
    static void reset_statics() { dstest::reset_trans_statics(); }
    void SetUp() override
    {
        reset_statics();
        DsFileTest::SetUp();
    }
    void TearDown() override { reset_statics(); }

    // The keys every data-source kind shares; `n` makes the values of one
    // node differ from another's.
    static void set_common(KV_FileManOpts& o, uint32_t n)
    {
        o.set_ntavos(10 + n);
        o.set_rest_wait(20 + n);
        o.set_path_down(KV_String(("/down/" + std::to_string(n)).c_str()));
        o.set_temporary(true);
        o.set_rdonly(true);
        o.set_scan_cache(30 + n);
        o.set_open_with(KV_DsId(KV_DS_NODE_STD, "THIS COMPUTER", "", ""));
        o.set_disp_info(static_cast<uint16_t>(0x0301 + n));
    }
    static void set_ftp(KV_FileManFtpOpts& o, uint32_t n)
    {
        set_common(o, n);
        o.set_ntavos_conn(2 + n);
        o.set_min_frag_size(64 + n);
        o.ftp().set_conn_mode(KV_FTP_CONN_ACTIVE);
        o.ftp().set_list_flags(0x03);
        o.ftp().set_dtrans(KV_FTP_DTRANS_SAME_DS);
        o.ftp().set_keep_alive_int(static_cast<uint16_t>(40 + n));
        o.ftp().set_keep_alive_cmd(KV_FTP_KA_PWD);
        o.ftp().set_tmout_welcome(11 + n);
        o.ftp().set_tmout_cmd_resp(12 + n);
        o.ftp().set_tmout_trans_beg(13 + n);
        o.ftp().set_tmout_trans_ack(14 + n);
        o.ftp().set_buff_send(5000 + n);
        o.ftp().set_buff_recv(9000 + n);
        o.ftp().set_use_append(true);
        o.ftp().set_use_rest_get(false);
        o.ftp().set_use_rest_put(true);
        o.ftp().set_sz_unrel(true);
        ASSERT_TRUE(o.ftp().set_amode_exts("txt, md"));
    }
    static void set_http(KV_FileManHttpOpts& o, uint32_t n)
    {
        set_common(o, n);
        o.set_min_frag_size(64 + n);
        o.set_auto_mkdir(false);
        o.http().set_can_resume_get(false);
        o.http().set_can_resume_put(true);
        o.http().set_persistent(false);
        o.http().set_tmout_hdr_resp(15 + n);
        o.http().set_buff_send(5000 + n);
        o.http().set_buff_recv(9000 + n);
        o.http().set_version(KV_HttpVer(1, 0));
    }
    static void set_sftp(KV_FileManSftpOpts& o, uint32_t n)
    {
        set_common(o, n);
        o.set_min_frag_size(64 + n);
        o.sftp().set_can_resume_get(false);
        o.sftp().set_can_resume_put(false);
        o.sftp().set_ciphers("none,3des-cbc");
        o.sftp().set_compress(false);
        o.sftp().set_aggressive_read(false);
        o.sftp().set_aggressive_write(false);
        o.sftp().set_tmout_msg_resp(16 + n);
        o.sftp().set_buff_send(5000 + n);
        o.sftp().set_buff_recv(9000 + n);
    }
    template <class Proxy> static void set_proxy(Proxy& p, decltype(p.type()) kind)
    {
        p.set_type(kind);
        p.set_addr("proxy.example.com");
        p.set_port(3128);
        p.ldata().set_user("pxuser");
        p.ldata().set_pass("pxpass");
    }

    // The file's bytes, with LF line ends; the disk holds CR LF.
    static std::string every_key_text()
    {
        return R"ds(### Node definition: Kivrel ###
NODE: TYPE = GROUP|DS NAME = Kivrel
SET COMMENT Root
SET NTHREADS 9
SET NRETRIES 8
SET NFRETRIES 7
SET NTMPFILES 6
SET BWT_SPEED_IN 1.500000
SET BWT_SPEED_OUT 0.250000
SET TREXPL_FTPS NO
SET TREXPL_HTTPS YES
SET TM_DISP_FORM %Y-%m-%d
SET AUTO_RM_REQ 3
SET AUTO_RM_REQ_START 4
SET AUTO_RM_REQ_BLNK 3

### Node definition: Ftp ###
NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp
SET COMMENT You can create own sub-folders|to categorize your servers and/or|to manage the settings using|the properties inheritence.
SET ANONYMOUS_PASS d98af6067243ae108706c00ab7833df6bd67b71e4f6593e75868bdd1f3eaf752
SET PROXY 7
SET PROXY_ADDR proxy.example.com
SET PROXY_PORT 3128
SET PROXY_USER pxuser
SET PROXY_PASS e11957ef4ff1bb315c3653398ecfb9eb
SET PROXY_PASV NO
SET NTHREADS 10
SET REST_WAIT 20
SET PATH_DOWN /down/0
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 30
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000103
SET NTHREADS_CONN 2
SET MIN_FRAG_SIZE 64
SET CONN_MODE 1
SET LIST_PARAMS 3
SET DIRECT_TRANS 2
SET KEEP_ALIVE_INT 40
SET KEEP_ALIVE_CMD 1
SET TMOUT_WELCOME 11
SET TMOUT_CMD_RESP 12
SET TMOUT_TRANS_BEG 13
SET TMOUT_TRANS_ACK 14
SET BUFF_SEND 5000
SET BUFF_RECV 9000
SET USE_APPEND YES
SET USE_REST_GET NO
SET USE_REST_PUT YES
SET SZ_UNRELIABLE YES
SET ASCII_EXTS TXT, MD

### Node definition: Ftp Server ###
NODE: TYPE = FTP NAME = Kivrel|Ftp|Ftp Server
SET INH_PARAMS NO
SET DEFAULT_PATH /pub
SET SRC_ADDR 10.0.0.1
SET DST_ADDR ftp.example.com:2121
SET SECURITY 2
SET SERVER_TYPE 5
SET ANONYMOUS YES
SET USER joe
SET ACCT acct1
SET PASS 1b7eb22a34959185ed2a0bfbd8de2839
SET NTHREADS 11
SET REST_WAIT 21
SET PATH_DOWN /down/1
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 31
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000203
SET NTHREADS_CONN 3
SET MIN_FRAG_SIZE 65
SET CONN_MODE 1
SET LIST_PARAMS 3
SET DIRECT_TRANS 2
SET KEEP_ALIVE_INT 41
SET KEEP_ALIVE_CMD 1
SET TMOUT_WELCOME 12
SET TMOUT_CMD_RESP 13
SET TMOUT_TRANS_BEG 14
SET TMOUT_TRANS_ACK 15
SET BUFF_SEND 5001
SET BUFF_RECV 9001
SET USE_APPEND YES
SET USE_REST_GET NO
SET USE_REST_PUT YES
SET SZ_UNRELIABLE YES
SET ASCII_EXTS TXT, MD

### Node definition: Http ###
NODE: TYPE = GROUP|HTTP NAME = Kivrel|Http
SET COMMENT You can create own sub-folders|to categorize your servers and/or|to manage the settings using|the properties inheritence.
SET PROXY 2
SET PROXY_ADDR proxy.example.com
SET PROXY_PORT 3128
SET PROXY_USER pxuser
SET PROXY_PASS e11957ef4ff1bb315c3653398ecfb9eb
SET NTHREADS 10
SET REST_WAIT 20
SET PATH_DOWN /down/0
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 30
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000103
SET MIN_FRAG_SIZE 64
SET AUTO_MKDIR NO
SET RESUME_GET NO
SET RESUME_PUT YES
SET PERSISTENT NO
SET TMOUT_HEADER_RESP 15
SET BUFF_SEND 5000
SET BUFF_RECV 9000
SET VERSION 1.0

### Node definition: Web Server ###
NODE: TYPE = HTTP NAME = Kivrel|Http|Web Server
SET INH_PARAMS NO
SET DEFAULT_PATH /dav
SET SRC_ADDR 10.0.0.2
SET DST_ADDR www.example.com
SET SECURITY 1
SET AUTH YES
SET AUTH_CMDS 258
SET USER ann
SET PASS 3ec8315382d87c747ec24f03320d05d7
SET DOCS /a.html|/b.html
SET UPDATE_DOCS NO
SET NTHREADS 12
SET REST_WAIT 22
SET PATH_DOWN /down/2
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 32
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000303
SET MIN_FRAG_SIZE 66
SET AUTO_MKDIR NO
SET RESUME_GET NO
SET RESUME_PUT YES
SET PERSISTENT NO
SET TMOUT_HEADER_RESP 17
SET BUFF_SEND 5002
SET BUFF_RECV 9002
SET VERSION 1.0

### Node definition: SFtp ###
NODE: TYPE = GROUP|SFTP NAME = Kivrel|SFtp
SET COMMENT You can create own sub-folders|to categorize your servers and/or|to manage the settings using|the properties inheritence.
SET PROXY 2
SET PROXY_ADDR proxy.example.com
SET PROXY_PORT 3128
SET PROXY_USER pxuser
SET PROXY_PASS e11957ef4ff1bb315c3653398ecfb9eb
SET NTHREADS 10
SET REST_WAIT 20
SET PATH_DOWN /down/0
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 30
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000103
SET MIN_FRAG_SIZE 64
SET RESUME_GET NO
SET RESUME_PUT NO
SET CIPHERS_DISABLE none,3des-cbc
SET COMPRESS NO
SET AGGRESSIVE_READ NO
SET AGGRESSIVE_WRITE NO
SET TMOUT_MESSAGE_RESP 16
SET BUFF_SEND 5000
SET BUFF_RECV 9000

### Node definition: Shell ###
NODE: TYPE = SFTP NAME = Kivrel|SFtp|Shell
SET INH_PARAMS NO
SET DEFAULT_PATH /home/root
SET SRC_ADDR 10.0.0.3
SET DST_ADDR ssh.example.com
SET USER root
SET PASS 102ad3902c31a3615abbe519439c206b
SET NTHREADS 13
SET REST_WAIT 23
SET PATH_DOWN /down/3
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 33
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000403
SET MIN_FRAG_SIZE 67
SET RESUME_GET NO
SET RESUME_PUT NO
SET CIPHERS_DISABLE none,3des-cbc
SET COMPRESS NO
SET AGGRESSIVE_READ NO
SET AGGRESSIVE_WRITE NO
SET TMOUT_MESSAGE_RESP 19
SET BUFF_SEND 5003
SET BUFF_RECV 9003

### Node definition: This Computer ###
NODE: TYPE = STD NAME = Kivrel|This Computer
SET COMMENT Use this data source|to transfer files from/to|the local computer.
SET NTHREADS 14
SET REST_WAIT 24
SET PATH_DOWN /down/4
SET TEMPORARY YES
SET RDONLY YES
SET SCAN_CACHE 34
SET DISP_INFO 01000d0000005400480049005300200043004f004d005000550054004500520000000000000000000503
SET RECYCLE NO

)ds";
    }

    void build_every_key_tree()
    {
        ASSERT_TRUE(load_text(tree, ""));
        auto* root = static_cast<KV_DsTreeNodeGrpDs*>(tree.find(KV_DS_NODE_GRP_DS, true));
        auto* ftp = static_cast<KV_DsTreeNodeGrpFtp*>(tree.find(KV_DS_NODE_FTP, true));
        auto* http = static_cast<KV_DsTreeNodeGrpHttp*>(tree.find(KV_DS_NODE_HTTP, true));
        auto* sftp = static_cast<KV_DsTreeNodeGrpSftp*>(tree.find(KV_DS_NODE_SFTP, true));
        auto* local = static_cast<KV_DsTreeNodeStd*>(tree.find(KV_DS_NODE_STD, false));
        ASSERT_TRUE(root && ftp && http && sftp && local);

        KV_FileTransManOpts& t = root->opts_trans();
        t.set_ntavos(9);
        t.set_nretries(8);
        t.set_nfretries(7);
        t.set_ntmpfiles(6);
        t.set_bwt_speed_in(1.5);
        t.set_bwt_speed_out(0.25);
        t.set_trexpl_ftps(false);
        t.set_trexpl_https(true);
        t.set_tm_form_disp("%Y-%m-%d");
        t.set_auto_rm_req(0x03);
        t.set_auto_rm_req_st(0x04);
        t.set_add_init_cnt(3);
        root->set_comment("Root");

        ftp->set_anonymous_pass("me@example.org");
        set_proxy(ftp->proxy(), KV_PROXY_FTP_USER_PORT);
        ftp->proxy().set_pasv(false);
        set_ftp(ftp->opts_ftp(), 0);
        set_proxy(http->proxy(), KV_PROXY_HTTP_CONNECT);
        set_http(http->opts_http(), 0);
        set_proxy(sftp->proxy(), KV_PROXY_SSH_SOCKS4);
        set_sftp(sftp->opts_sftp(), 0);

        local->params_std().opts_std().set_recycle(false);
        set_common(local->params_std().opts_std(), 4);

        KV_DsTreeNodeFtp a;
        a.set_name("Ftp Server");
        a.set_inh_params(false);
        a.params_ftp().set_def_path("/pub", false);
        a.params_ftp().set_src_addr("10.0.0.1");
        a.params_ftp().set_dst_addr("ftp.example.com:2121");
        a.params_ftp().set_security(KV_FTP_SECURE_EXPLICIT);
        a.params_ftp().set_server_type(KV_FTP_SERV_VMS);
        a.params_ftp().set_anonymous(true);
        a.params_ftp().ldata().set_user("joe");
        a.params_ftp().ldata().set_acct("acct1");
        a.params_ftp().ldata().set_pass("secret");
        set_ftp(a.params_ftp().opts_ftp(), 1);
        ASSERT_NE(tree.create(ftp, &a, 0, true), nullptr);

        KV_DsTreeNodeHttp w;
        w.set_name("Web Server");
        w.set_inh_params(false);
        w.params_http().set_def_path("/dav", false);
        w.params_http().set_src_addr("10.0.0.2");
        w.params_http().set_dst_addr("www.example.com");
        w.params_http().set_security(1);
        w.params_http().ldata().set_auth(true);
        w.params_http().ldata().set_auth_cmds(0x0102);
        w.params_http().ldata().set_user("ann");
        w.params_http().ldata().set_pass("hidden");
        ASSERT_TRUE(w.params_http().set_docs("/a.html\r\n/b.html"));
        w.params_http().set_update_docs(false);
        set_http(w.params_http().opts_http(), 2);
        ASSERT_NE(tree.create(http, &w, 0, true), nullptr);

        KV_DsTreeNodeSftp s;
        s.set_name("Shell");
        s.set_inh_params(false);
        s.params_sftp().set_def_path("/home/root", false);
        s.params_sftp().set_src_addr("10.0.0.3");
        s.params_sftp().set_dst_addr("ssh.example.com");
        s.params_sftp().ldata().set_user("root");
        s.params_sftp().ldata().set_pass("toor");
        set_sftp(s.params_sftp().opts_sftp(), 3);
        ASSERT_NE(tree.create(sftp, &s, 0, true), nullptr);
    }
};

TEST_F(DsFileEveryKeyTest, EveryKeyKeepsItsBytesAndReadsBack)
{
    build_every_key_tree();
    ASSERT_TRUE(tree.save());
    EXPECT_EQ(read_file(main_name), crlf(every_key_text()));

    // A second tree read from those bytes writes them again, key for key,
    // once the process-wide settings are back at their defaults (so that the
    // file, not what the first tree left behind, sets them).
    reset_statics();
    FileTree again(err);
    again.set_pool(&pool);
    ASSERT_TRUE(again.load_file());
    EXPECT_EQ(again.text(), every_key_text());
}

} // namespace
