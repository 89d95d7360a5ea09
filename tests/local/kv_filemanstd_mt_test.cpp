// The local-disk file manager and its workers, end to end on real temporary
// folders: listings and their notices, folders made, renames that must never
// lose a destination, moves to another file system, the read-only
// attribute, deletes to the trash and for good, the current folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_filereqtasks.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtaskstrans.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtrans.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t LONG_WAIT_MS = 120000;

using kvtest::LogErr;
using TransParams = reqtest::TestParams;

class TestTrans : public KV_FileReqTrans
{
public:
    TestTrans() : KV_FileReqTrans(log), log(TransParams()) {}
    ~TestTrans() override { set_term_status(); }
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String&, bool) const override { return "Transfer"; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    KV_TransLogTrans& log_trans() const override { return log; }

    mutable reqtest::TestLog log;
};

// Parameters of some other kind of data source.
class OtherParams : public KV_FileManParams
{
public:
    bool operator==(const KV_FileManParams& other) const override { return other.type() == type(); }
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override { return new OtherParams(*this); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_SFTP; }

private:
    KV_FileManOpts opts_;
};

using kvtest::read_file;
using kvtest::write_file;

std::set<std::string> names_in(const std::string& dir)
{
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out.insert(e.path().filename().string());
    return out;
}

mode_t mode_of(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The folders where a test may look at the folder-not-empty question.
std::mutex nempty_m;
std::vector<std::string> nempty_asked;
bool nempty_hook(const KV_String& path)
{
    std::lock_guard<std::mutex> g(nempty_m);
    nempty_asked.emplace_back(path.data());
    return true;
}

class LocalDisk : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        suite = std::make_unique<kvtest::TempDir>("kvfmstd");
        ASSERT_TRUE(suite->ok());
        suite_dir = suite->path();
        // Deletes to the trash land in a trash of the tests' own.
        ASSERT_EQ(::setenv("XDG_DATA_HOME", (suite_dir + "/xdg").c_str(), 1), 0);
    }
    static void TearDownTestSuite() { suite.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        id = KV_FileManId(KV_DsId(1, "Local", "", ""), 1);
        fm = std::make_unique<KV_FileManStd>(id);
        params.set_name("Local");
        params.opts_std().set_ntavos(2);
        params.opts_std().set_recycle(true);
        ASSERT_TRUE(fm->init(&params));
        ASSERT_TRUE(fm->start());
    }
    void TearDown() override { fm.reset(); }

    // The engine's path of a local absolute path.
    KV_PathDef local(const std::string& abs) const
    {
        KV_PathDef p;
        EXPECT_TRUE(params.opts().man_path().split_path(abs.c_str(), p, true));
        p.prepend("Local");
        return p;
    }
    KV_PathDef root() const
    {
        KV_PathDef p;
        p.append("Local");
        return p;
    }

    // Runs `r` and waits for its end; its final status.
    KV_REQ_STAT run(KV_FileReq* r)
    {
        KV_FileReqObs obs;
        if (!fm->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(LONG_WAIT_MS)) << "request did not end";
        return obs.status();
    }

    // Pops every queued message; the test owns them until it destroys them.
    std::vector<KV_Msg*> drain()
    {
        std::vector<KV_Msg*> out;
        while (KV_Msg* m = fm->informer().pop())
            out.push_back(m);
        return out;
    }
    static void destroy(std::vector<KV_Msg*>& msgs)
    {
        for (KV_Msg* m : msgs)
            KV_Informer::destroy(m);
        msgs.clear();
    }
    // The tree messages about `path`, as text: "ntf:<kind>:<flag>" for the
    // notices, "scan:<names>" for the listings, "pwd", "exp:<kind>".
    static std::vector<std::string> tree_msgs(const std::vector<KV_Msg*>& msgs,
                                              const KV_PathDef& path)
    {
        std::vector<std::string> out;
        for (KV_Msg* m : msgs) {
            if (m->type() < KV_MSG_TREE_SCAN)
                continue;
            auto* t = static_cast<KV_MsgTree*>(m);
            if (!(t->path == path))
                continue;
            if (m->type() == KV_MSG_TREE_NTF) {
                auto* n = static_cast<KV_MsgTreeNtf*>(m);
                out.push_back("ntf:" + std::to_string(n->ntf) + ":" + (n->flag ? "1" : "0"));
            } else if (m->type() == KV_MSG_TREE_SCAN) {
                std::set<std::string> names;
                for (KV_FileTreeNode* node : static_cast<KV_MsgTreeScan*>(m)->nodes)
                    names.insert(node->name().data());
                std::string s = "scan:";
                for (const auto& n : names)
                    s += n + ",";
                out.push_back(s);
            } else if (m->type() == KV_MSG_TREE_PWD) {
                out.push_back("pwd");
            } else {
                out.push_back("exp:" + std::to_string(static_cast<KV_MsgTreeExp*>(m)->exp));
            }
        }
        return out;
    }

    static inline std::unique_ptr<kvtest::TempDir> suite;
    static inline std::string suite_dir;
    // Each test's folder, below the suite's: the trash is on its file system.
    kvtest::TempDir tmp{"case", suite_dir.c_str()};
    const std::string dir = tmp.path();
    KV_FileManId id;
    KV_FileManParamsStd params;
    std::unique_ptr<KV_FileManStd> fm;
    LogErr eh;
};

// ---------------------------------------------------------------------------
// Listings

TEST_F(LocalDisk, ListingForTheTreeSendsItsNoticesAndOneScan)
{
    write_file(dir + "/a.txt", "a");
    write_file(dir + "/.hidden", "h");
    fs::create_directory(dir + "/sub");
    write_file(dir + "/sub/inner", "i");
    KV_FileData::set_impl_dir_nempty(nempty_hook);
    {
        std::lock_guard<std::mutex> g(nempty_m);
        nempty_asked.clear();
    }

    const KV_PathDef path = local(dir);
    EXPECT_EQ(run(new KV_FileReqScan(eh, path, nullptr, true, true)), KV_REQ_STAT_COMPLETED);
    KV_FileData::set_impl_dir_nempty(nullptr);

    std::vector<KV_Msg*> msgs = drain();
    EXPECT_EQ(tree_msgs(msgs, path),
              (std::vector<std::string>{"ntf:1:1", "ntf:2:1", "scan:.hidden,a.txt,sub,", "ntf:3:1",
                                        "ntf:5:1"}));
    // Only the subfolder was asked whether it holds anything, by its path.
    {
        std::lock_guard<std::mutex> g(nempty_m);
        EXPECT_EQ(nempty_asked, std::vector<std::string>{dir + "/sub"});
    }
    for (KV_Msg* m : msgs) {
        if (m->type() != KV_MSG_TREE_SCAN)
            continue;
        for (KV_FileTreeNode* node : static_cast<KV_MsgTreeScan*>(m)->nodes)
            EXPECT_EQ(node->fdc().not_empty(), node->name() == "sub") << node->name().data();
    }
    destroy(msgs);
}

TEST_F(LocalDisk, RootListsTheOneRootAsADrive)
{
    const KV_PathDef r = root();
    EXPECT_EQ(run(new KV_FileReqScan(eh, r, nullptr, false, false)), KV_REQ_STAT_COMPLETED);
    std::vector<KV_Msg*> msgs = drain();
    EXPECT_EQ(tree_msgs(msgs, r),
              (std::vector<std::string>{"ntf:1:1", "ntf:2:1", "scan:/,", "ntf:3:1"}));
    for (KV_Msg* m : msgs)
        if (m->type() == KV_MSG_TREE_SCAN) {
            EXPECT_TRUE(static_cast<KV_MsgTreeScan*>(m)->nodes.at(0)->is_dir());
        }
    destroy(msgs);

    KV_FileListStore store(true, nullptr);
    EXPECT_EQ(run(new KV_FileReqScan(eh, r, &store, false, false)), KV_REQ_STAT_COMPLETED);
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_STREQ(store.entries().at(0)->name().data(), "/");
    EXPECT_TRUE(store.entries().at(0)->is_dir());
}

TEST_F(LocalDisk, ListingIntoAStoreSendsNothingAndKeepsWhatTheStoreWants)
{
    write_file(dir + "/a.txt", "a");
    write_file(dir + "/b.txt", "b");
    fs::create_directory(dir + "/sub");
    // A sparse file far beyond 32 bits lists with its whole size.
    const int64_t big = int64_t{5} << 30;
    write_file(dir + "/huge", "");
    fs::resize_file(dir + "/huge", static_cast<uintmax_t>(big));
    std::vector<KV_Msg*> before = drain();
    destroy(before);

    KV_FileListStore all(true, nullptr);
    EXPECT_EQ(run(new KV_FileReqScan(eh, local(dir), &all, false, false)), KV_REQ_STAT_COMPLETED);
    std::set<std::string> names;
    for (KV_FileTreeNode* n : all.entries()) {
        names.insert(n->name().data());
        if (n->name() == "huge") {
            EXPECT_EQ(n->fdc().size(false), big);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.txt", "b.txt", "huge", "sub"}));

    KVTL::KV_ListVal<KV_String> wanted;
    wanted.add("b.txt");
    wanted.add("sub");
    KV_FileListStore some(true, &wanted);
    EXPECT_EQ(run(new KV_FileReqScan(eh, local(dir), &some, false, false)), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(some.entries().size(), 2u);

    std::vector<KV_Msg*> msgs = drain();
    EXPECT_TRUE(tree_msgs(msgs, local(dir)).empty());
    destroy(msgs);
}

TEST_F(LocalDisk, FailedListingSendsNoScanAndTellsWhy)
{
    const KV_PathDef path = local(dir + "/missing");
    EXPECT_EQ(run(new KV_FileReqScan(eh, path, nullptr, false, false)), KV_REQ_STAT_ERROR);
    std::vector<KV_Msg*> msgs = drain();
    EXPECT_EQ(tree_msgs(msgs, path), (std::vector<std::string>{"ntf:1:1", "ntf:2:1", "ntf:3:0"}));
    for (KV_Msg* m : msgs)
        if (m->type() == KV_MSG_TREE_NTF && static_cast<KV_MsgTreeNtf*>(m)->ntf == 3) {
            EXPECT_STREQ(static_cast<KV_MsgTreeNtf*>(m)->text.data(), "No such file or directory");
        }
    destroy(msgs);
    EXPECT_NE(eh.all().find("No such file or directory"), std::string::npos);
}

TEST_F(LocalDisk, BrowseTreeFollowsTheWorkersMessages)
{
    write_file(dir + "/a.txt", "a");
    EXPECT_EQ(run(new KV_FileReqPwd(eh, *fm, dir.c_str())), KV_REQ_STAT_COMPLETED);
    EXPECT_TRUE(fm->pwd_done());
    EXPECT_EQ(run(new KV_FileReqScan(eh, local(dir), nullptr, false, true)), KV_REQ_STAT_COMPLETED);
    std::vector<KV_Msg*> msgs = drain();
    // The current folder names the path; the file system is not touched.
    EXPECT_EQ(tree_msgs(msgs, local(dir)).front(), "pwd");
    for (KV_Msg* m : msgs)
        EXPECT_TRUE(fm->process_ntf(m));
    destroy(msgs);

    KV_PathDef file = local(dir + "/a.txt");
    ASSERT_NE(fm->tree().root(), nullptr);
    EXPECT_STREQ(fm->tree().root()->name().data(), "Local");
    KV_FileTreeNode* node = fm->tree().find(file.list());
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->is_dir());
}

// ---------------------------------------------------------------------------
// Folders, renames and moves

TEST_F(LocalDisk, MakeFolderAndCreateDirChck)
{
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, local(dir + "/new"))), KV_REQ_STAT_COMPLETED);
    EXPECT_TRUE(fs::is_directory(dir + "/new"));
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, local(dir + "/new"))), KV_REQ_STAT_ERROR);
    EXPECT_NE(eh.all().find("File exists"), std::string::npos);

    // A transfer makes a deep folder level by level.
    TestTrans trans;
    trans.reset_executed();
    ASSERT_TRUE(fm->create_dir_chck(trans, local(dir + "/new/a/b/c")));
    EXPECT_TRUE(trans.executed());
    EXPECT_TRUE(fs::is_directory(dir + "/new/a/b/c"));

    bool exists = false;
    ASSERT_TRUE(fm->dir_exists(trans, local(dir + "/new/a/b"), exists));
    EXPECT_TRUE(exists);
    ASSERT_TRUE(fm->dir_exists(trans, local(dir + "/gone/a/b"), exists));
    EXPECT_FALSE(exists);
}

TEST_F(LocalDisk, RenameNeverLosesTheDestination)
{
    struct Case
    {
        const char* what;
        std::function<void(const std::string&)> setup;
        const char* src;
        const char* dst;
        bool dir;
        bool dst_exists;
        KV_REQ_STAT status;
        std::function<void(const std::string&)> check;
    };
    const Case cases[] = {
        {"file to a new name", [](const std::string& d) { write_file(d + "/a", "A"); }, "a", "b",
         false, false, KV_REQ_STAT_COMPLETED,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/b"), "A");
             EXPECT_EQ(names_in(d), std::set<std::string>{"b"});
         }},
        {"file over a file, replacing",
         [](const std::string& d) {
             write_file(d + "/a", "A");
             write_file(d + "/b", "B");
         },
         "a", "b", false, true, KV_REQ_STAT_COMPLETED,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/b"), "A");
             EXPECT_EQ(names_in(d), std::set<std::string>{"b"});
         }},
        {"file over a file, not asked to replace",
         [](const std::string& d) {
             write_file(d + "/a", "A");
             write_file(d + "/b", "B");
         },
         "a", "b", false, false, KV_REQ_STAT_ERROR,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/a"), "A");
             EXPECT_EQ(read_file(d + "/b"), "B");
         }},
        {"missing source over a file, replacing",
         [](const std::string& d) { write_file(d + "/b", "B"); }, "a", "b", false, true,
         KV_REQ_STAT_ERROR,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/b"), "B");
             EXPECT_EQ(names_in(d), std::set<std::string>{"b"});
         }},
        {"folder over a full folder, replacing",
         [](const std::string& d) {
             fs::create_directories(d + "/da");
             write_file(d + "/da/x", "X");
             fs::create_directories(d + "/db/deep");
             write_file(d + "/db/deep/y", "Y");
         },
         "da", "db", true, true, KV_REQ_STAT_COMPLETED,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/db/x"), "X");
             EXPECT_EQ(names_in(d + "/db"), std::set<std::string>{"x"});
             EXPECT_EQ(names_in(d), std::set<std::string>{"db"});
         }},
        {"file over a full folder, replacing",
         [](const std::string& d) {
             write_file(d + "/a", "A");
             fs::create_directories(d + "/db");
             write_file(d + "/db/y", "Y");
         },
         "a", "db", false, true, KV_REQ_STAT_COMPLETED,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/db"), "A");
             EXPECT_EQ(names_in(d), std::set<std::string>{"db"});
         }},
        {"folder into itself, replacing",
         [](const std::string& d) {
             fs::create_directories(d + "/da/in");
             write_file(d + "/da/in/keep", "K");
         },
         "da", "da/in", true, true, KV_REQ_STAT_ERROR,
         [](const std::string& d) {
             EXPECT_EQ(read_file(d + "/da/in/keep"), "K");
             EXPECT_EQ(names_in(d + "/da"), std::set<std::string>{"in"});
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = dir + "/case" + std::to_string(n++);
        fs::create_directory(d);
        c.setup(d);
        eh.clear();
        EXPECT_EQ(run(new KV_FileReqRen(eh, local(d + "/" + c.src), local(d + "/" + c.dst), c.dir,
                                        c.dst_exists)),
                  c.status)
            << eh.all();
        if (c.status == KV_REQ_STAT_ERROR) {
            EXPECT_FALSE(eh.all().empty());
        }
        c.check(d);
    }
}

class LocalDiskTwoFs : public LocalDisk
{
protected:
    void SetUp() override
    {
        LocalDisk::SetUp();
        struct stat a, b;
        if (::stat(dir.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
            GTEST_SKIP() << "no second file system at /dev/shm";
        other_tmp = std::make_unique<kvtest::TempDir>("kvfmstd", "/dev/shm");
        ASSERT_TRUE(other_tmp->ok());
        other = other_tmp->path();
    }

    std::unique_ptr<kvtest::TempDir> other_tmp;
    std::string other;
};

TEST_F(LocalDiskTwoFs, MoveToAnotherFileSystemCopiesThenDeletes)
{
    write_file(dir + "/f", "content");
    ::chmod((dir + "/f").c_str(), 0640);
    const fs::file_time_type mtime = fs::last_write_time(dir + "/f") - 1h;
    fs::last_write_time(dir + "/f", mtime);
    EXPECT_FALSE(fm->can_move(local(dir + "/f"), local(other + "/f"), false));
    EXPECT_TRUE(fm->can_move(local(dir + "/f"), local(dir + "/g"), false));

    EXPECT_EQ(run(new KV_FileReqRen(eh, local(dir + "/f"), local(other + "/f"), false, false)),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_FALSE(fs::exists(dir + "/f"));
    EXPECT_EQ(read_file(other + "/f"), "content");
    EXPECT_EQ(mode_of(other + "/f"), 0640u);
    EXPECT_EQ(fs::last_write_time(other + "/f"), mtime);
    EXPECT_EQ(names_in(other), std::set<std::string>{"f"});

    // Not asked to replace: both stay.
    write_file(dir + "/f", "new");
    eh.clear();
    EXPECT_EQ(run(new KV_FileReqRen(eh, local(dir + "/f"), local(other + "/f"), false, false)),
              KV_REQ_STAT_ERROR);
    EXPECT_NE(eh.all().find("File exists"), std::string::npos);
    EXPECT_EQ(read_file(dir + "/f"), "new");
    EXPECT_EQ(read_file(other + "/f"), "content");

    // Asked to replace.
    EXPECT_EQ(run(new KV_FileReqRen(eh, local(dir + "/f"), local(other + "/f"), false, true)),
              KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(read_file(other + "/f"), "new");
    EXPECT_FALSE(fs::exists(dir + "/f"));

    // A sparse file of many chunks arrives whole, its data where it was.
    const auto sparse = uintmax_t{64} << 20;
    write_file(dir + "/sparse", "");
    fs::resize_file(dir + "/sparse", sparse);
    {
        std::fstream f(dir + "/sparse", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(48 << 20);
        f << "marker";
    }
    EXPECT_EQ(
        run(new KV_FileReqRen(eh, local(dir + "/sparse"), local(other + "/sparse"), false, false)),
        KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(fs::file_size(other + "/sparse"), sparse);
    {
        std::ifstream f(other + "/sparse", std::ios::binary);
        f.seekg(48 << 20);
        std::string got(6, '\0');
        f.read(got.data(), 6);
        EXPECT_EQ(got, "marker");
    }
    fs::remove(other + "/sparse");

    // A folder is refused with a reason, and nothing moves.
    fs::create_directories(dir + "/d");
    write_file(dir + "/d/x", "x");
    eh.clear();
    EXPECT_EQ(run(new KV_FileReqRen(eh, local(dir + "/d"), local(other + "/d"), true, false)),
              KV_REQ_STAT_ERROR);
    EXPECT_NE(eh.all().find("another file system"), std::string::npos) << eh.all();
    EXPECT_EQ(read_file(dir + "/d/x"), "x");
    EXPECT_EQ(names_in(other), std::set<std::string>{"f"});
}

TEST_F(LocalDiskTwoFs, CancelledMoveLeavesTheSourceAndNoPartialFile)
{
    // Sparse: cheap to make, long to copy.
    const auto size = uintmax_t{1} << 30;
    write_file(dir + "/big", "");
    fs::resize_file(dir + "/big", size);
    KV_FileReqObs obs;
    ASSERT_TRUE(
        fm->add_req(new KV_FileReqRen(eh, local(dir + "/big"), local(other + "/big"), false, false),
                    nullptr, &obs, KV_REQ_STAT_QUEUED));

    // Cancel once the copy is under way.
    bool seen = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LONG_WAIT_MS);
    while (!seen && std::chrono::steady_clock::now() < end && obs.wait(0)) {
        for (const auto& e : fs::directory_iterator(other)) {
            std::error_code ec;
            if (e.path().filename().string().find(".kivrel-part") != std::string::npos &&
                fs::file_size(e.path(), ec) > 0)
                seen = true;
        }
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(seen) << "the copy was never seen under way";
    ASSERT_TRUE(fm->add_task(KV_FileReqTaskCancel(0, false)));
    ASSERT_FALSE(obs.wait(LONG_WAIT_MS));
    EXPECT_EQ(obs.status(), KV_REQ_STAT_CANCELLED);
    EXPECT_EQ(fs::file_size(dir + "/big"), size);
    EXPECT_TRUE(names_in(other).empty());
}

TEST_F(LocalDiskTwoFs, CanMoveRefusesOtherRootsAndOtherFileSystems)
{
    write_file(dir + "/f", "f");
    KV_PathDef elsewhere = local(dir + "/f");
    KV_PathDef other_root;
    other_root.append("Local");
    other_root.append("X:");
    other_root.append("f");
    EXPECT_FALSE(fm->can_move(elsewhere, other_root, false));
    EXPECT_FALSE(fm->can_move(local(dir + "/f"), local(other + "/not/yet/there"), false));
    EXPECT_TRUE(fm->can_move(local(dir + "/f"), local(dir + "/not/yet/there"), false));
    // A source that cannot be looked at is left to the rename to judge.
    EXPECT_TRUE(fm->can_move(local(dir + "/none"), local(other + "/x"), false));
}

// ---------------------------------------------------------------------------
// Attributes, deletes, the current folder

TEST_F(LocalDisk, ReadOnlyAttributeIsTheWritePermission)
{
    struct Case
    {
        mode_t start;
        const char* accf;
        mode_t expect;
    };
    const Case cases[] = {
        {0644, "R", 0444},   {0644, "r", 0444}, {0640, "xRq", 0440}, {0444, "", 0644},
        {0444, "AHS", 0644}, {0444, "a", 0644}, {0444, "h", 0644},   {0666, "SR", 0444},
    };
    const std::string f = dir + "/f";
    write_file(f, "f");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accf);
        ASSERT_EQ(::chmod(f.c_str(), c.start), 0);
        EXPECT_EQ(run(new KV_FileReqChmod(eh, local(f), c.accf, c.accf)), KV_REQ_STAT_COMPLETED);
        EXPECT_EQ(mode_of(f), c.expect);
    }
    eh.clear();
    EXPECT_EQ(run(new KV_FileReqChmod(eh, local(dir + "/none"), "R", "R")), KV_REQ_STAT_ERROR);
    EXPECT_NE(eh.all().find("No such file or directory"), std::string::npos);
}

TEST_F(LocalDisk, DeleteGoesToTheTrashOrForGoodAsTheOptionsSay)
{
    const std::string trash = suite_dir + "/xdg/Trash";
    const std::string tag = fs::path(dir).filename().string();
    const std::string file = dir + "/" + tag + "-file";
    const std::string folder = dir + "/" + tag + "-folder";
    auto make = [&] {
        write_file(file, "f");
        fs::create_directories(folder + "/deep");
        write_file(folder + "/deep/x", "x");
    };
    auto in_trash = [&](const std::string& p) {
        const std::string name = fs::path(p).filename().string();
        return fs::exists(trash + "/files/" + name) &&
               fs::exists(trash + "/info/" + name + ".trashinfo");
    };

    make();
    EXPECT_FALSE(fm->del_subdirs());
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(file), false))), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(folder), true))), KV_REQ_STAT_COMPLETED);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(in_trash(file));
    EXPECT_TRUE(in_trash(folder));
    EXPECT_EQ(read_file(trash + "/files/" + tag + "-folder/deep/x"), "x");
    fs::remove_all(trash);

    // The workers take the new options before their next request. Deleting
    // for good takes a folder only once it is empty: the caller empties it
    // item by item (del_subdirs), and nothing it did not list goes unasked.
    params.opts_std().set_recycle(false);
    ASSERT_TRUE(fm->set_params(&params, nullptr));
    EXPECT_TRUE(fm->del_subdirs());
    make();
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(file), false))), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(folder), true))), KV_REQ_STAT_ERROR);
    EXPECT_EQ(read_file(folder + "/deep/x"), "x");
    fs::remove_all(folder + "/deep");
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(folder), true))), KV_REQ_STAT_COMPLETED);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(in_trash(file));
    EXPECT_FALSE(in_trash(folder));

    eh.clear();
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(local(file), false))), KV_REQ_STAT_ERROR);
    EXPECT_FALSE(eh.all().empty());
}

TEST_F(LocalDisk, RequestsTheLocalDiskCannotRunFail)
{
    EXPECT_EQ(run(new KV_FileReqDTrans(eh, 0, "/x", 0)), KV_REQ_STAT_ERROR);
    // A connection command has nothing to do here.
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_CONNECT, "")), KV_REQ_STAT_COMPLETED);
}

TEST_F(LocalDisk, ManagerAnswersForTheLocalDisk)
{
    EXPECT_EQ(fm->type(), KV_FILE_MAN_TYPE_STD);
    EXPECT_FALSE(fm->log_incl_data(local(dir), local(dir), nullptr));
    EXPECT_FALSE(fm->can_resume_get());
    EXPECT_TRUE(fm->can_copy(local(dir), local(dir), false));
    uint32_t n = 5;
    EXPECT_EQ(fm->min_frag_size(n), 0);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(fm->scan_cache(), 0u);
    params.opts_std().set_scan_cache(9);
    ASSERT_TRUE(fm->set_params(&params, nullptr));
    EXPECT_EQ(fm->scan_cache(), 9u);

    KV_FileManParamsStd a, b;
    b.opts_std().set_recycle(false);
    EXPECT_TRUE(a == b);
    KV_FileManParams* clone = b.clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->type(), KV_FILE_MAN_TYPE_STD);
    EXPECT_FALSE(static_cast<KV_FileManParamsStd*>(clone)->opts_std().recycle());
    KV_FileManParams::destr_clone(clone);

    // Only local-disk parameters start a local-disk manager.
    KV_FileManStd other(KV_FileManId(KV_DsId(1, "Other", "", ""), 1));
    EXPECT_FALSE(other.init(nullptr));
    OtherParams sftp;
    EXPECT_FALSE(other.init(&sftp));
    EXPECT_EQ(other.clone_params(), nullptr);
}

} // namespace
