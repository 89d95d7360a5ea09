#include "requests/kv_filereqs.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqman.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogtrans.h"

namespace {

// A request manager whose loop the test drives by hand: the thread is never
// started, so the test thread is the manager thread.
class TestMan : public KV_FileReqMan
{
public:
    explicit TestMan(bool case_sens = true, uint32_t nretries = 0)
    {
        opts_.set_case_sens(case_sens);
        opts_.set_dir_sep('/');
        opts_.set_nretries(nretries);
        init();
    }
    ~TestMan() override { terminate(); }

    KV_FileReqManOpts opts() const override { return opts_; }
    void dupl_start(KV_FileReq* r) override { dupl_started.push_back(r); }

    // Adds Queued and takes it in; the manager keeps owning it.
    template <class R> R* add(R* r)
    {
        EXPECT_TRUE(add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_TRUE(preprocess_req());
        return r;
    }
    using KV_FileReqMan::list_req;

    // The browse-tree messages sent so far, as "kind:path:flag:text"; the
    // request notices are dropped.
    std::vector<std::string> tree_msgs()
    {
        std::vector<std::string> out;
        while (KV_Msg* m = informer().pop()) {
            if (m->type() == KV_MSG_TREE_EXP || m->type() == KV_MSG_TREE_NTF) {
                const auto* t = static_cast<const KV_MsgTree*>(m);
                KV_String path;
                opts_.build_path(path, t->path, false, 0);
                std::string s;
                if (m->type() == KV_MSG_TREE_EXP) {
                    const auto* e = static_cast<const KV_MsgTreeExp*>(m);
                    s = "exp" + std::to_string(e->exp) + ":" + path.data() + ":" +
                        (e->flag ? "1" : "0") + ":" + e->text.data();
                } else {
                    const auto* n = static_cast<const KV_MsgTreeNtf*>(m);
                    s = "ntf" + std::to_string(n->ntf) + ":" + path.data() + ":" +
                        (n->flag ? "1" : "0") + ":" + n->text.data();
                }
                out.push_back(s);
            }
            KV_Informer::destroy(m);
        }
        return out;
    }

    std::vector<KV_FileReq*> dupl_started;

private:
    KV_FileReqManOpts opts_;
};

// A file manager only as far as a current-folder query needs one: its
// identity.
class TestFileMan : public KV_FileMan
{
public:
    TestFileMan() : KV_FileMan(KV_FileManId()) {}
    ~TestFileMan() override { terminate(); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_STD; }
    KV_Tavo* create_tavo() override { return nullptr; }
};

KV_PathDef path(const char* text)
{
    KV_PathMan pm('/');
    KV_PathDef p;
    pm.split_path(text, p, true);
    return p;
}

// ---------------------------------------------------------------------------
// Duplicate rules

kvtest::NullErr eh;

using Make = std::function<KV_FileReq*()>;

Make mkdir(const char* p)
{
    return [=] { return new KV_FileReqMkDir(eh, path(p)); };
}
Make ren(const char* s, const char* d, bool dir = false, bool exists = false)
{
    return [=] { return new KV_FileReqRen(eh, path(s), path(d), dir, exists); };
}
Make chmod(const char* p, const char* accf, const char* upd = "rw-r--r--")
{
    return [=] { return new KV_FileReqChmod(eh, path(p), accf, upd); };
}
Make pwd(KV_FileMan& m, const char* def)
{
    return [&m, def] { return new KV_FileReqPwd(eh, m, def); };
}
Make rm(const char* p, bool dir = false)
{
    return [=] { return new KV_FileReqRm(eh, KV_PathDefDir(path(p), dir)); };
}
KV_FileListStore store(true, nullptr);
Make scan(const char* p, bool with_store = false, bool sub = false, bool usr = false)
{
    return [=] { return new KV_FileReqScan(eh, path(p), with_store ? &store : nullptr, sub, usr); };
}
Make uman(uint32_t tavo, KV_MANAGE_CMD cmd, const char* param = "")
{
    return [=] { return new KV_FileReqUMan(eh, tavo, cmd, param); };
}
Make dtrans(uint32_t tavo, const char* p, int64_t from)
{
    return [=] { return new KV_FileReqDTrans(eh, tavo, p, from); };
}

struct DuplCase
{
    const char* name;
    Make a;
    Make b;
    bool dupl;
    bool case_sens = true;
};

TEST(KV_FileReqs, DuplicateRulesPerKind)
{
    TestFileMan fman1;
    TestFileMan fman2;
    const DuplCase cases[] = {
        {"mkdir same path", mkdir("/a/b"), mkdir("/a/b"), true},
        {"mkdir other path", mkdir("/a/b"), mkdir("/a/c"), false},
        {"mkdir case differs, case-sensitive", mkdir("/a/B"), mkdir("/a/b"), false},
        {"mkdir case differs, case-insensitive", mkdir("/a/B"), mkdir("/a/b"), true, false},
        {"ren same", ren("/a", "/b"), ren("/a", "/b"), true},
        {"ren other target", ren("/a", "/b"), ren("/a", "/c"), false},
        {"ren other source", ren("/a", "/b"), ren("/x", "/b"), false},
        {"ren case differs, case-insensitive", ren("/A", "/b"), ren("/a", "/B"), true, false},
        {"ren replacing vs not", ren("/a", "/b", false, false), ren("/a", "/b", false, true),
         false},
        {"chmod other file", chmod("/a", "644"), chmod("/b", "644"), false},
        {"chmod same file, other mode", chmod("/a", "644"), chmod("/a", "600"), false},
        {"chmod same file, same mode", chmod("/a", "644"), chmod("/a", "644"), true},
        {"chmod same mode, other display", chmod("/a", "644", "rw-r--r--"), chmod("/a", "644", "-"),
         false},
        {"chmod case differs, case-insensitive", chmod("/A", "644"), chmod("/a", "644"), true,
         false},
        {"pwd same default", pwd(fman1, "/home"), pwd(fman1, "/home"), true},
        {"pwd no default", pwd(fman1, ""), pwd(fman1, ""), true},
        {"pwd other default", pwd(fman1, "/home"), pwd(fman1, "/srv"), false},
        {"pwd of another file manager", pwd(fman1, ""), pwd(fman2, ""), false},
        {"rm same", rm("/a"), rm("/a"), true},
        {"rm file vs folder", rm("/a", false), rm("/a", true), false},
        {"rm other", rm("/a"), rm("/b"), false},
        {"scan same, no store", scan("/a"), scan("/a"), true},
        {"scan case differs, case-insensitive", scan("/A"), scan("/a"), true, false},
        {"scan other folder", scan("/a"), scan("/b"), false},
        {"scan with a store", scan("/a", true), scan("/a", true), false},
        {"scan one with a store", scan("/a"), scan("/a", true), false},
        {"scan with subfolders vs without", scan("/a", false, true), scan("/a"), false},
        {"scan user's vs automatic", scan("/a", false, false, true), scan("/a"), false},
        {"uman same", uman(1, KV_MANAGE_CMD_CONNECT), uman(1, KV_MANAGE_CMD_CONNECT), true},
        {"uman other worker", uman(1, KV_MANAGE_CMD_CONNECT), uman(2, KV_MANAGE_CMD_CONNECT),
         false},
        {"uman other command", uman(1, KV_MANAGE_CMD_CONNECT), uman(1, KV_MANAGE_CMD_DISCONNECT),
         false},
        {"uman param exact", uman(1, KV_MANAGE_CMD_USER, "SITE X"),
         uman(1, KV_MANAGE_CMD_USER, "site x"), false, false},
        {"dtrans same", dtrans(3, "/f", 10), dtrans(3, "/f", 10), true},
        {"dtrans other offset", dtrans(3, "/f", 10), dtrans(3, "/f", 0), false},
        {"dtrans other worker", dtrans(3, "", 0), dtrans(4, "", 0), false},
        {"kinds differ", mkdir("/a"), rm("/a"), false},
        {"kinds differ, same operands", scan("/a"), mkdir("/a"), false},
    };
    for (const DuplCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestMan man(c.case_sens);
        KV_FileReq* a = c.a();
        KV_FileReq* b = c.b();
        ASSERT_TRUE(man.add_req(a, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        ASSERT_TRUE(man.add_req(b, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_EQ(*a == *b, c.dupl);
        EXPECT_EQ(*b == *a, c.dupl);
    }
}

TEST(KV_FileReqs, RequestsOfDifferentManagersAreNeverDuplicates)
{
    TestMan m1;
    TestMan m2;
    auto* a = new KV_FileReqMkDir(eh, path("/a"));
    auto* b = new KV_FileReqMkDir(eh, path("/a"));
    ASSERT_TRUE(m1.add_req(a, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(m2.add_req(b, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    EXPECT_FALSE(*a == *b);
}

TEST(KV_FileReqs, WithoutAManagerPathsStillDecide)
{
    KV_FileReqMkDir a(eh, path("/a"));
    KV_FileReqMkDir b(eh, path("/b"));
    KV_FileReqMkDir c(eh, path("/A"));
    KV_FileReqMkDir d(eh, path("/a"));
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a == c) << "without a manager case counts";
    EXPECT_TRUE(a == d);
}

// A change of file B must never cancel the pending change of file A, whether
// A is still queued or already running.
TEST(KV_FileReqs, ChmodOfAnotherFileDoesNotCancel)
{
    for (bool running : {false, true}) {
        SCOPED_TRACE(running ? "first running" : "first queued");
        TestMan man;
        auto* a = man.add(new KV_FileReqChmod(eh, path("/a"), "644", "rw-r--r--"));
        if (running) {
            a->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        }
        auto* b = man.add(new KV_FileReqChmod(eh, path("/b"), "644", "rw-r--r--"));
        EXPECT_EQ(a->status(), running ? KV_REQ_STAT_RUNNING : KV_REQ_STAT_QUEUED);
        EXPECT_EQ(b->status(), KV_REQ_STAT_QUEUED);
        EXPECT_FALSE(a->dupl_found());
        EXPECT_FALSE(b->dupl_found());
        EXPECT_TRUE(man.dupl_started.empty());
    }
}

TEST(KV_FileReqs, IdenticalChmodReplacesQueuedAndYieldsToRunning)
{
    {
        TestMan man;
        auto* a = man.add(new KV_FileReqChmod(eh, path("/a"), "644", "rw-r--r--"));
        auto* b = man.add(new KV_FileReqChmod(eh, path("/a"), "644", "rw-r--r--"));
        EXPECT_EQ(a->status(), KV_REQ_STAT_CANCELLED);
        EXPECT_TRUE(a->dupl_found());
        EXPECT_EQ(b->status(), KV_REQ_STAT_QUEUED);
    }
    {
        TestMan man;
        auto* a = man.add(new KV_FileReqChmod(eh, path("/a"), "644", "rw-r--r--"));
        a->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        auto* b = man.add(new KV_FileReqChmod(eh, path("/a"), "644", "rw-r--r--"));
        EXPECT_EQ(a->status(), KV_REQ_STAT_RUNNING);
        EXPECT_EQ(b->status(), KV_REQ_STAT_CANCELLED);
        EXPECT_TRUE(b->dupl_found());
        ASSERT_EQ(man.dupl_started.size(), 1u);
        EXPECT_EQ(man.dupl_started[0], a);
    }
}

// Deletes skip the duplicate search: two deletes of one path both run.
TEST(KV_FileReqs, DeletesAreNotMerged)
{
    TestMan man;
    auto* a = man.add(new KV_FileReqRm(eh, KV_PathDefDir(path("/a"), false)));
    auto* b = man.add(new KV_FileReqRm(eh, KV_PathDefDir(path("/a"), false)));
    EXPECT_EQ(a->status(), KV_REQ_STAT_QUEUED);
    EXPECT_EQ(b->status(), KV_REQ_STAT_QUEUED);
}

// ---------------------------------------------------------------------------
// Kinds: type, priority, queue order, descriptions

TEST(KV_FileReqs, TypePriorityAndWorker)
{
    TestFileMan fman1;
    struct Case
    {
        Make make;
        KV_REQ_TYPE type;
        KV_REQ_PRIO prio;
        bool dupl_check;
        uint32_t spec_tavo;
        bool cnt_limit;
    };
    const Case cases[] = {
        {mkdir("/a"), KV_REQ_TYPE_MKDIR, 1, true, 0, false},
        {ren("/a", "/b"), KV_REQ_TYPE_REN, 1, true, 0, false},
        {chmod("/a", "644"), KV_REQ_TYPE_CHMOD, 2, true, 0, false},
        {pwd(fman1, ""), KV_REQ_TYPE_PWD, 3, true, 0, false},
        {rm("/a"), KV_REQ_TYPE_RM, 1, false, 0, false},
        {scan("/a"), KV_REQ_TYPE_SCAN, 2, true, 0, true},
        {scan("/a", true), KV_REQ_TYPE_SCAN, 2, false, 0, false},
        {uman(4, KV_MANAGE_CMD_NEW_SETTINGS), KV_REQ_TYPE_UMAN, 3, true, 4, false},
        {uman(5, KV_MANAGE_CMD_KEEP_ALIVE), KV_REQ_TYPE_UMAN, 0, true, 5, false},
        {dtrans(6, "", 0), KV_REQ_TYPE_DTRANS, 1, true, 6, false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<KV_FileReq> r(c.make());
        SCOPED_TRACE(r->type());
        EXPECT_EQ(r->type(), c.type);
        EXPECT_EQ(r->priority(), c.prio);
        EXPECT_EQ(r->dupl_check(), c.dupl_check);
        EXPECT_EQ(r->spec_tavo(), c.spec_tavo);
        EXPECT_EQ(r->cnt_limit(), c.cnt_limit);
    }
}

TEST(KV_FileReqs, QueueOrder)
{
    TestMan man;
    auto* copy_like = man.add(new KV_FileReqUMan(eh, 1, KV_MANAGE_CMD_KEEP_ALIVE, ""));
    auto* mk = man.add(new KV_FileReqMkDir(eh, path("/m")));
    auto* scan1 = man.add(new KV_FileReqScan(eh, path("/s1"), nullptr, false, false));
    auto* ch = man.add(new KV_FileReqChmod(eh, path("/c"), "644", ""));
    auto* scan2 = man.add(new KV_FileReqScan(eh, path("/s2"), nullptr, false, false));
    auto* settings = man.add(new KV_FileReqUMan(eh, 1, KV_MANAGE_CMD_NEW_SETTINGS, ""));
    const std::vector<KV_FileReq*> expected = {settings, ch, scan2, scan1, mk, copy_like};
    ASSERT_EQ(man.list_req().size(), expected.size());
    for (uint32_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(man.list_req().at(i), expected[i]);
    }
}

TEST(KV_FileReqs, Descriptions)
{
    TestFileMan fman1;
    TestMan man;
    struct Case
    {
        Make make;
        const char* op;
        const char* descr;
    };
    const Case cases[] = {
        {mkdir("/a/b"), "Create dir.", "/a/b"},
        {ren("/a/b", "/a/c"), "Rename", "/a/b -> /a/c"},
        {chmod("/a", "644"), "CHMOD", "/a"},
        {pwd(fman1, "/home"), "Get current dir.", "old"},
        {rm("/x"), "Delete", "/x"},
        {scan("/d"), "List", "/d"},
        {uman(1, KV_MANAGE_CMD_NEW_SETTINGS), "Use new settings", "old"},
        {uman(1, KV_MANAGE_CMD_KEEP_ALIVE), "Keep alive", "old"},
        {uman(1, KV_MANAGE_CMD_CONNECT), "Connect", "old"},
        {uman(1, KV_MANAGE_CMD_DISCONNECT), "Disconnect", "old"},
        {uman(1, KV_MANAGE_CMD_USER), "User defined command", "old"},
        {uman(1, KV_MANAGE_CMD_SERVER_CHECK), "Server check", "old"},
        {uman(1, static_cast<KV_MANAGE_CMD>(77)), "", "old"},
        {dtrans(1, "", 0), "FTP -> FTP: end", "old"},
        {dtrans(1, "/f", 5), "FTP -> FTP: run", "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        KV_FileReq* r = c.make();
        KV_String descr = "old";
        EXPECT_STREQ(r->get_descr(descr, false), c.op) << "without a manager";
        EXPECT_EQ(descr, "old");
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_STREQ(r->get_descr(descr, true), c.op);
        EXPECT_EQ(descr, c.descr);
        // The same text each time: the user interface compares it by address.
        EXPECT_EQ(r->get_descr(descr, false), r->get_descr(descr, true));
    }
}

// ---------------------------------------------------------------------------
// Result hooks

struct HookCase
{
    const char* name;
    Make make;
    KV_REQ_STAT end;
    std::vector<std::string> msgs;
};

TEST(KV_FileReqs, BrowseTreeHearsOfResults)
{
    TestFileMan fman1;
    const HookCase cases[] = {
        {"mkdir done", mkdir("/a/n"), KV_REQ_STAT_COMPLETED, {"exp0:/a/n:1:"}},
        {"mkdir failed", mkdir("/a/n"), KV_REQ_STAT_ERROR, {}},
        {"ren of a file",
         ren("/a/x", "/b/x", false),
         KV_REQ_STAT_COMPLETED,
         {"exp1:/a/x:0:", "exp0:/b/x:0:"}},
        {"ren of a folder",
         ren("/a/x", "/b/x", true),
         KV_REQ_STAT_COMPLETED,
         {"exp1:/a/x:0:", "exp0:/b/x:1:"}},
        {"ren cancelled", ren("/a/x", "/b/x"), KV_REQ_STAT_CANCELLED, {}},
        {"chmod done",
         chmod("/f", "600", "rw-------"),
         KV_REQ_STAT_COMPLETED,
         {"exp2:/f:0:rw-------"}},
        {"chmod failed", chmod("/f", "600", "rw-------"), KV_REQ_STAT_ERROR, {}},
        {"rm done", rm("/f", true), KV_REQ_STAT_COMPLETED, {"exp1:/f:0:"}},
        {"pwd, nothing for the tree", pwd(fman1, ""), KV_REQ_STAT_COMPLETED, {}},
        {"uman, nothing for the tree", uman(1, KV_MANAGE_CMD_CONNECT), KV_REQ_STAT_COMPLETED, {}},
    };
    for (const HookCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestMan man;
        KV_FileReq* r = man.add(c.make());
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r->set_status(c.end, false, 0, false);
        EXPECT_EQ(man.tree_msgs(), c.msgs);
    }
}

TEST(KV_FileReqs, ListingTellsTheTree)
{
    struct Case
    {
        const char* name;
        bool usr;
        bool executed;
        KV_REQ_STAT end;
        std::vector<std::string> msgs; // after the intake's "ntf1"
    };
    const Case cases[] = {
        {"done", false, true, KV_REQ_STAT_COMPLETED, {"ntf3:/d:1:"}},
        {"user's, done", true, true, KV_REQ_STAT_COMPLETED, {"ntf3:/d:1:", "ntf5:/d:1:"}},
        {"user's, failed", true, false, KV_REQ_STAT_ERROR, {"ntf3:/d:0:no such folder"}},
        {"cancelled", false, false, KV_REQ_STAT_CANCELLED, {"ntf4:/d:1:"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestMan man;
        auto* r = man.add(new KV_FileReqScan(eh, path("/d"), nullptr, false, c.usr));
        EXPECT_EQ(man.tree_msgs(), std::vector<std::string>{"ntf1:/d:1:"});
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r->reset_executed();
        if (!c.executed) {
            r->set_executed(false);
            r->set_err_msg("no such folder");
        }
        r->set_status(c.end, false, 0, false);
        EXPECT_EQ(man.tree_msgs(), c.msgs);
    }
}

TEST(KV_FileReqs, ListingReplacedByANewerOneStaysQuiet)
{
    TestMan man;
    auto* old_scan = man.add(new KV_FileReqScan(eh, path("/d"), nullptr, false, false));
    auto* new_scan = man.add(new KV_FileReqScan(eh, path("/d"), nullptr, false, false));
    EXPECT_EQ(old_scan->status(), KV_REQ_STAT_CANCELLED);
    EXPECT_TRUE(old_scan->dupl_found());
    EXPECT_EQ(new_scan->status(), KV_REQ_STAT_QUEUED);
    // The folder was shown as being listed by the old one, and stays so: no
    // reset for the old one, nothing more for the new one that takes over.
    EXPECT_EQ(man.tree_msgs(), std::vector<std::string>{"ntf1:/d:1:"});
}

TEST(KV_FileReqs, ListingIntoAStoreSendsNothingAndLetsGo)
{
    TestMan man;
    KV_FileListStore st(true, nullptr);
    auto* r = man.add(new KV_FileReqScan(eh, path("/d"), &st, true, false));
    EXPECT_EQ(r->store(), &st);
    r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    r->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    EXPECT_EQ(r->store(), nullptr);
    EXPECT_TRUE(man.tree_msgs().empty());
}

TEST(KV_FileReqs, CurrentFolderQueryMarksTheManager)
{
    TestFileMan fman1;
    for (KV_REQ_STAT end : {KV_REQ_STAT_COMPLETED, KV_REQ_STAT_ERROR}) {
        SCOPED_TRACE(end);
        TestMan man;
        EXPECT_FALSE(man.pwd_done());
        auto* r = new KV_FileReqPwd(eh, fman1, "/home");
        ASSERT_TRUE(man.add_req(r, nullptr, nullptr, KV_REQ_STAT_QUEUED));
        EXPECT_TRUE(man.pwd_done()) << "a query is under way";
        EXPECT_EQ(&r->man(), &fman1);
        r->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
        r->set_status(end, false, 0, false);
        EXPECT_EQ(man.pwd_done(), end == KV_REQ_STAT_COMPLETED);
    }
}

// With a limit of 3 attempts, only Connect and Server check are tried again,
// and each failure is counted whatever the command.
TEST(KV_FileReqs, ConnectionCommandsRetry)
{
    for (uint32_t cmd = 0; cmd <= 5; ++cmd) {
        SCOPED_TRACE(cmd);
        TestMan man(true, 3);
        auto* r = man.add(new KV_FileReqUMan(eh, 1, static_cast<KV_MANAGE_CMD>(cmd), ""));
        const bool retried = cmd == KV_MANAGE_CMD_CONNECT || cmd == KV_MANAGE_CMD_SERVER_CHECK;
        EXPECT_EQ(r->can_retry(), retried);
        EXPECT_EQ(r->can_retry(), retried);
        EXPECT_FALSE(r->can_retry()) << "the third failure ends it";
        EXPECT_EQ(r->err_cnt(), 3u);
    }
    KV_FileReqDTrans d(eh, 1, "/f", 0);
    EXPECT_FALSE(d.can_retry());
}

// ---------------------------------------------------------------------------
// Copy steps. The transfer's own parts (its managers, fragments and sub-log)
// belong to the transfers; a step without fragment and sub-log touches none
// of them.

class TestCopy : public KV_FileReqCopy
{
public:
    TestCopy(KV_FileReqTransCp& req, KV_FILE_TRANS_TYPE tt, bool dtrans)
        : KV_FileReqCopy(req.eh(), req, nullptr, KV_ComplPath(src_pm(), path("/s/f")),
                         KV_ComplPath(KV_PathMan('\\'), path("C:/t/f")), nullptr, tt, false, dtrans)
    {
    }
    static KV_PathMan src_pm() { return KV_PathMan('/'); }
};

// A copy of a step would settle the step's fragment and sub-log when it goes.
static_assert(!std::is_copy_constructible_v<KV_FileReqCopy>);

TEST(KV_FileReqs, CopyStep)
{
    // A copy request on no file managers: only what the step reads of it.
    const KVTL::KV_ListVal<KV_String> none;
    KV_FileReqTransCp trans(nullptr, nullptr, path("/s"), path("/t"), none, none,
                            KV_FileReqTransParamsCp());
    TestMan man;
    auto* c = new TestCopy(trans, KV_FILE_TRANS_TYPE_STORE, false);
    EXPECT_EQ(c->stop_resp(), &trans);
    EXPECT_EQ(&c->eh(), &trans.eh());
    EXPECT_EQ(c->type(), KV_REQ_TYPE_COPY);
    EXPECT_EQ(c->priority(), 0);
    EXPECT_FALSE(c->dupl_check());
    EXPECT_FALSE(*c == *c) << "a copy step is never a duplicate";
    EXPECT_FALSE(c->one_free()) << "a store step never needs a second worker";

    ASSERT_TRUE(man.add_req(c, nullptr, nullptr, KV_REQ_STAT_QUEUED));
    KV_String descr;
    EXPECT_STREQ(c->get_descr(descr, false), "Copy");
    EXPECT_EQ(descr, "/s/f -> C:\\t\\f") << "each side in its own notation";
    EXPECT_FALSE(c->can_retry());

    c->set_status(KV_REQ_STAT_RUNNING, false, 0, false);
    c->set_status(KV_REQ_STAT_COMPLETED, false, 0, false);
    EXPECT_TRUE(man.tree_msgs().empty()) << "without a sub-log there is nothing to record";

    TestCopy fetch(trans, KV_FILE_TRANS_TYPE_FETCH, false);
    EXPECT_FALSE(fetch.one_free()) << "only a direct transfer needs a second worker";
}

} // namespace
