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
#include "foundation/kv_path.h"
#include "foundation/posix_fs.h"
#include "root/kv_filemanpool.h"
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

} // namespace
