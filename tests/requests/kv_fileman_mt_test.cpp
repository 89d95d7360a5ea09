// The file manager base: questions asked once per manager from several
// workers, parameters handed to running workers, the scan cache, the
// synchronous folder operations and the manager notices. The workers here
// run on a small file system held in memory, so that listings can be made
// to fail at will.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "support/kv_reqtest.h"
#include "support/kv_testdir.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtrans.h"

namespace {

using namespace std::chrono_literals;

constexpr auto LONG_WAIT = 30s;
constexpr uint32_t LONG_WAIT_MS = 30000;

using kvtest::NullErr;

// A data source of the tests: "/" paths, case-sensitive, `ntavos` workers.
class FakeParams : public KV_FileManParams
{
public:
    explicit FakeParams(uint32_t ntavos = 1) : opts_(ntavos, 0, 0) { set_name("S"); }
    bool operator==(const KV_FileManParams& other) const override { return other.type() == type(); }
    const KV_FileManOpts& opts() const override { return opts_; }
    KV_FileManOpts& opts() override { return opts_; }
    KV_FileManParams* clone() const override { return new (std::nothrow) FakeParams(*this); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }

private:
    KV_FileManOpts opts_;
};

// Folders of a file system in memory, named by their entries below the root
// joined with '/' ("a/b"); the root is "". Shared by the workers of one
// manager.
struct FakeFs
{
    std::mutex m;
    std::condition_variable cv;
    std::set<std::string> dirs;
    // Folders that exist but cannot be listed.
    std::set<std::string> unlistable;
    // Folders that cannot be made.
    std::set<std::string> refused;
    // Folders made, in order.
    std::vector<std::string> made;
    // Parameter version each worker id last ran a request with.
    std::map<uint32_t, uint32_t> ver_seen;
    // While closed, every request waits before it runs.
    bool gate_closed = false;
    int entered = 0;

    static std::string key(const KV_PathDef& path)
    {
        std::string k;
        for (uint32_t i = path.first_ind(); i < path.entries(); ++i) {
            if (!k.empty())
                k += '/';
            k += path.at(i).data();
        }
        return k;
    }
    static std::string parent_of(const std::string& k)
    {
        const auto pos = k.rfind('/');
        return pos == std::string::npos ? std::string() : k.substr(0, pos);
    }

    void close_gate()
    {
        std::lock_guard<std::mutex> g(m);
        gate_closed = true;
    }
    void open_gate()
    {
        std::lock_guard<std::mutex> g(m);
        gate_closed = false;
        cv.notify_all();
    }
    void pass_gate()
    {
        std::unique_lock<std::mutex> g(m);
        ++entered;
        cv.notify_all();
        cv.wait(g, [&] { return !gate_closed; });
    }
    bool wait_entered(int n)
    {
        std::unique_lock<std::mutex> g(m);
        return cv.wait_for(g, LONG_WAIT, [&] { return entered >= n; });
    }
};

class FakeTavo : public KV_Tavo
{
public:
    FakeTavo(KV_Informer& inf, FakeFs& fs) : KV_Tavo(inf), fs(fs) {}
    ~FakeTavo() override { wait_term(); }

    bool process() override
    {
        KV_FileReq* r = req();
        fs.pass_gate();
        bool ok = true;
        {
            std::lock_guard<std::mutex> g(fs.m);
            fs.ver_seen[id()] = params_ver();
            if (r->type() == KV_REQ_TYPE_SCAN)
                ok = scan(static_cast<KV_FileReqScan&>(*r));
            else if (r->type() == KV_REQ_TYPE_MKDIR)
                ok = mkdir(static_cast<KV_FileReqMkDir&>(*r));
        }
        req_executed(ok);
        return ok;
    }
    uint32_t kind() const override { return 0; }

private:
    bool scan(KV_FileReqScan& r)
    {
        const std::string k = FakeFs::key(r.path());
        if ((!k.empty() && fs.dirs.count(k) == 0) || fs.unlistable.count(k) != 0)
            return false;
        KV_FileListStore* store = r.store();
        if (store == nullptr)
            return true;
        for (const std::string& d : fs.dirs) {
            if (FakeFs::parent_of(d) != k || d == k)
                continue;
            const std::string name = k.empty() ? d : d.substr(k.size() + 1);
            auto* node = new KV_FileTreeNode(true, KV_FileData(name.c_str(), true));
            if (!store->add(node)) {
                delete node;
                return false;
            }
        }
        return true;
    }
    bool mkdir(KV_FileReqMkDir& r)
    {
        const std::string k = FakeFs::key(r.path());
        const std::string parent = FakeFs::parent_of(k);
        if (k.empty() || fs.dirs.count(k) != 0 || fs.refused.count(k) != 0 ||
            (!parent.empty() && fs.dirs.count(parent) == 0))
            return false;
        fs.dirs.insert(k);
        fs.made.push_back(k);
        return true;
    }

    FakeFs& fs;
};

class TestFileMan : public KV_FileMan
{
public:
    TestFileMan(const KV_FileManId& id, FakeFs& fs) : KV_FileMan(id), fs(fs) {}
    ~TestFileMan() override { terminate(); }

    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }
    KV_Tavo* create_tavo() override { return new (std::nothrow) FakeTavo(informer(), fs); }
    void prestart_req(KV_Tavo* t) override
    {
        std::lock_guard<KV_Lock> g(params_lock_);
        t->set_params_ver(params_ver_);
    }
    uint32_t scan_cache() const override { return cache.load(); }

    uint32_t ver() const
    {
        std::lock_guard<KV_Lock> g(params_lock_);
        return params_ver_;
    }

    std::atomic<uint32_t> cache{0};

private:
    FakeFs& fs;
};

// A transfer request that is never queued itself: the parent of the folder
// operations. It may retry `retries` times (any number when negative).
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
    bool can_retry() override
    {
        KV_FileReqTrans::can_retry();
        return retries < 0 || retries-- > 0;
    }

    mutable reqtest::TestLog log;
    int retries = -1;
};

KV_FileManId test_id(uint32_t impl = 1)
{
    return KV_FileManId(KV_DsId(3, "host", "user", "S"), impl);
}

// A path of the fake data source: the root entry "S", then `rest`.
KV_PathDef fake_path(std::initializer_list<const char*> rest)
{
    KV_PathDef p;
    p.append("S");
    for (const char* e : rest)
        p.append(e);
    return p;
}

// The program's side of the questions: a blocking host whose user-interface
// thread (the test) takes the questions one by one and answers them.
class Host
{
public:
    Host()
    {
        self = this;
        KV_Informer::set_impl_block([] { return true; });
        KV_Informer::set_impl_ask([](KV_Informer* inf, bool) { self->queue_ask(inf); });
    }
    ~Host()
    {
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
        self = nullptr;
    }

    // The next question; null when none came in time.
    KV_Informer* next()
    {
        std::unique_lock<std::mutex> g(m);
        if (!cv.wait_for(g, LONG_WAIT, [&] { return !pending.empty(); }))
            return nullptr;
        KV_Informer* inf = pending.front();
        pending.pop_front();
        return inf;
    }
    int asked()
    {
        std::lock_guard<std::mutex> g(m);
        return count;
    }

private:
    void queue_ask(KV_Informer* inf)
    {
        std::lock_guard<std::mutex> g(m);
        ++count;
        pending.push_back(inf);
        cv.notify_all();
    }

    static inline Host* self = nullptr;
    std::mutex m;
    std::condition_variable cv;
    std::deque<KV_Informer*> pending;
    int count = 0;
};

// Runs `f` on another thread; true when it returned within the long wait,
// i.e. it did not block behind a question.
template <class F> bool returns_soon(F f)
{
    auto done = std::async(std::launch::async, f);
    return done.wait_for(LONG_WAIT) == std::future_status::ready;
}

// Drains `inf`, keeping the manager notices.
std::vector<std::pair<KV_MAN_NTF, std::string>> man_ntfs(KV_Informer& inf, const KV_FileManId& id)
{
    std::vector<std::pair<KV_MAN_NTF, std::string>> out;
    while (KV_Msg* m = inf.pop()) {
        if (m->type() == KV_MSG_MAN) {
            auto* n = static_cast<KV_MsgManNtf*>(m);
            EXPECT_TRUE(n->man_id == id);
            out.emplace_back(n->ntf, n->text.data());
        }
        KV_Informer::destroy(m);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Questions

TEST(FileManPass, ConcurrentAskersGetOneQuestionAndShareTheAnswer)
{
    Host host;
    FakeFs fs;
    TestFileMan fm(test_id(), fs);
    FakeParams params;
    ASSERT_TRUE(fm.init(&params));

    constexpr int N = 4;
    std::vector<std::string> got(N);
    std::vector<std::thread> askers;
    for (int i = 0; i < N; ++i)
        askers.emplace_back([&, i] { got[i] = fm.pass("joe").data(); });

    KV_Informer* inf = host.next();
    ASSERT_NE(inf, nullptr);
    EXPECT_EQ(inf->dlg_ask(), KV_ASK_LOGIN);
    EXPECT_EQ(inf->def_ans(), KV_ANS_YES);
    auto* ask = static_cast<KV_PassAsk*>(inf->params());
    ASSERT_NE(ask, nullptr);
    EXPECT_STREQ(ask->user.data(), "joe");
    EXPECT_TRUE(ask->id == fm.id());

    // While the question is open the user-interface thread goes on using
    // the manager: nothing it calls may wait for the asking worker.
    EXPECT_TRUE(returns_soon([&] {
        fm.lock(false);
        fm.unlock(false);
        (void)fm.sec_forced();
        (void)fm.dead();
        (void)fm.id();
        KV_FileManParams::destr_clone(fm.clone_params());
        NullErr eh;
        (void)fm.add_req(new KV_FileReqUMan(eh, 77, KV_MANAGE_CMD_KEEP_ALIVE, ""), nullptr, nullptr,
                         KV_REQ_STAT_QUEUED);
    }));

    ask->pass = "secret";
    inf->set_ans(KV_ANS_YES);
    for (auto& t : askers)
        t.join();
    for (const auto& g : got)
        EXPECT_EQ(g, "secret");
    EXPECT_STREQ(fm.pass("joe").data(), "secret");
    EXPECT_EQ(host.asked(), 1);
}

TEST(FileManPass, UnansweredQuestionIsAskedAgain)
{
    Host host;
    FakeFs fs;
    TestFileMan fm(test_id(), fs);
    FakeParams params;
    ASSERT_TRUE(fm.init(&params));

    std::string first = "x";
    std::thread t1([&] { first = fm.pass("joe").data(); });
    KV_Informer* inf = host.next();
    ASSERT_NE(inf, nullptr);
    static_cast<KV_PassAsk*>(inf->params())->pass = "typed but cancelled";
    inf->set_ans(KV_ANS_NO);
    t1.join();
    EXPECT_EQ(first, "");

    std::string second;
    std::thread t2([&] { second = fm.pass("joe").data(); });
    inf = host.next();
    ASSERT_NE(inf, nullptr);
    static_cast<KV_PassAsk*>(inf->params())->pass = "pw";
    inf->set_ans(KV_ANS_YES);
    t2.join();
    EXPECT_EQ(second, "pw");
    EXPECT_EQ(host.asked(), 2);
}

TEST(FileManSecForced, TrustIsAskedOnceAndARefusalIsFinal)
{
    struct Case
    {
        KV_ANS answer;
        bool trusted;
    };
    const Case cases[] = {
        {KV_ANS_YES, true},     {KV_ANS_YES_ALL, true}, {KV_ANS_NO, false},
        {KV_ANS_NO_ALL, false}, {KV_ANS_NONE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "answer " << c.answer);
        Host host;
        FakeFs fs;
        TestFileMan fm(test_id(), fs);
        FakeParams params;
        ASSERT_TRUE(fm.init(&params));

        // Two workers meet the untrusted server at once.
        KV_ANS ans[2] = {static_cast<KV_ANS>(99), static_cast<KV_ANS>(99)};
        bool res[2] = {false, false};
        std::thread a([&] { res[0] = fm.sec_forced("Trust it?", KV_ASK_TRUST, ans[0]); });
        std::thread b([&] { res[1] = fm.sec_forced("Trust it?", KV_ASK_TRUST, ans[1]); });
        KV_Informer* inf = host.next();
        ASSERT_NE(inf, nullptr);
        EXPECT_STREQ(inf->msg().data(), "Trust it?");
        EXPECT_EQ(inf->def_ans(), KV_ANS_NO);
        EXPECT_EQ(inf->dlg_ask(), KV_ASK_TRUST);
        inf->set_ans(c.answer);
        a.join();
        b.join();
        EXPECT_EQ(res[0], c.trusted);
        EXPECT_EQ(res[1], c.trusted);
        // The one that asked has the answer; the other was not asked.
        EXPECT_TRUE((ans[0] == c.answer && ans[1] == 99) || (ans[1] == c.answer && ans[0] == 99));

        KV_ANS later = static_cast<KV_ANS>(99);
        EXPECT_EQ(fm.sec_forced("Trust it?", KV_ASK_TRUST, later), c.trusted);
        EXPECT_EQ(later, 99);
        EXPECT_EQ(fm.sec_forced(), c.trusted);
        EXPECT_EQ(host.asked(), 1);
        // A refused server ends the manager's work.
        EXPECT_EQ(fm.dead(), !c.trusted);
    }
}

// ---------------------------------------------------------------------------
// Parameters

TEST(FileManParams, SetParamsClonesVersionsAndKeepsTheInstance)
{
    FakeFs fs;
    TestFileMan fm(test_id(7), fs);
    EXPECT_EQ(fm.clone_params(), nullptr);
    EXPECT_STREQ(fm.def_path().data(), "");
    // Without parameters there is nothing to run workers with.
    EXPECT_EQ(fm.opts().ntavos(), 0u);
    EXPECT_EQ(fm.opts().rest_wait(), 0u);

    FakeParams params(4);
    params.set_name("  Srv \t");
    params.set_def_path("/home", false);
    ASSERT_TRUE(fm.init(&params));
    EXPECT_EQ(fm.ver(), 1u);
    // The manager holds its own clone.
    params.set_name("Changed");
    KV_FileManParams* clone = fm.clone_params();
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->name().data(), "Srv");
    EXPECT_STREQ(clone->opts().dir_pre().data(), "Srv");
    KV_FileManParams::destr_clone(clone);
    EXPECT_STREQ(fm.def_path().data(), "/home");
    EXPECT_EQ(fm.opts().ntavos(), 4u);

    // An id that names no data source leaves the id alone.
    const KV_DsId none;
    ASSERT_TRUE(fm.set_params(&params, &none));
    EXPECT_TRUE(fm.id() == test_id(7));
    EXPECT_EQ(fm.ver(), 2u);
    const KV_DsId other(3, "other", "u", "S2");
    ASSERT_TRUE(fm.set_params(&params, &other));
    EXPECT_TRUE(fm.id() == KV_FileManId(other, 7));
    EXPECT_EQ(fm.ver(), 3u);

    // Null only releases: the version stays.
    EXPECT_TRUE(fm.set_params(nullptr, nullptr));
    EXPECT_EQ(fm.clone_params(), nullptr);
    EXPECT_EQ(fm.opts().ntavos(), 0u);
    EXPECT_EQ(fm.ver(), 3u);
    EXPECT_FALSE(fm.init(nullptr));
}

TEST(FileManParams, DefaultPathNamingAFileMeansItsFolder)
{
    struct Case
    {
        const char* in;
        bool normalise;
        const char* out;
    };
    const Case cases[] = {
        {"  /a/b/file.txt \r\n", true, "/a/b"},       {"/a/b/", true, "/a/b/"}, {"/a", true, "/"},
        {"  /a/b/file.txt ", false, "/a/b/file.txt"}, {"   ", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        FakeParams p;
        p.set_def_path(c.in, c.normalise);
        EXPECT_STREQ(p.def_path().data(), c.out);
    }
}

TEST(FileManParams, RunningWorkersTakeNewParametersAtOnce)
{
    FakeFs fs;
    TestFileMan fm(test_id(), fs);
    FakeParams params(2);
    ASSERT_TRUE(fm.init(&params));
    ASSERT_TRUE(fm.start());

    // Two listings at once start the threads of both workers.
    NullErr eh;
    fs.close_gate();
    KV_FileListStore s1(true, nullptr), s2(true, nullptr);
    KV_FileReqObs o1, o2;
    ASSERT_TRUE(fm.add_req(new KV_FileReqScan(eh, fake_path({}), &s1, false, false), nullptr, &o1,
                           KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(fm.add_req(new KV_FileReqScan(eh, fake_path({}), &s2, false, false), nullptr, &o2,
                           KV_REQ_STAT_QUEUED));
    ASSERT_TRUE(fs.wait_entered(2));
    fs.open_gate();
    ASSERT_FALSE(o1.wait(LONG_WAIT_MS));
    ASSERT_FALSE(o2.wait(LONG_WAIT_MS));

    fm.set_pwd_done(true);
    while (KV_Msg* m = fm.informer().pop())
        KV_Informer::destroy(m);
    ASSERT_TRUE(fm.set_params(&params, nullptr));
    EXPECT_EQ(fm.ver(), 2u);

    // Each idle worker is given a request and so the new version.
    const auto end = std::chrono::steady_clock::now() + LONG_WAIT;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(fs.m);
            if (fs.ver_seen.size() == 2 && fs.ver_seen.begin()->second == 2 &&
                fs.ver_seen.rbegin()->second == 2)
                break;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "workers kept the old parameters";
        std::this_thread::sleep_for(10ms);
    }
    // The program hears that the worker set changed.
    int changed = 0;
    while (KV_Msg* m = fm.informer().pop()) {
        if (m->type() == KV_MSG_TAVO) {
            auto* t = static_cast<KV_MsgTavoNtf*>(m);
            if (t->ntf == KV_TAVO_NTF_CHANGED && t->tavo_id == 0)
                ++changed;
        }
        KV_Informer::destroy(m);
    }
    EXPECT_EQ(changed, 1);
}

// ---------------------------------------------------------------------------
// The scan cache

// Adds a request that no worker can run and waits for its end: every
// request added before it has been taken in and weighed by then.
void sync_intake(KV_FileMan& fm)
{
    NullErr eh;
    KV_FileReqObs obs;
    ASSERT_TRUE(fm.add_req(new KV_FileReqUMan(eh, 0xFFFF, KV_MANAGE_CMD_KEEP_ALIVE, "marker"),
                           nullptr, &obs, KV_REQ_STAT_QUEUED));
    ASSERT_FALSE(obs.wait(LONG_WAIT_MS));
}

TEST(FileManScanCache, OldestWaitingListingsGoFirstAndTheNewestStays)
{
    struct Case
    {
        uint32_t limit;
        int nscans;
        // Which listings end Cancelled (index 0 is the one running).
        std::vector<bool> cancelled;
    };
    const Case cases[] = {
        {2, 4, {false, true, true, false}},
        {3, 4, {false, true, false, false}},
        // One counted request besides the running one is never cancelled.
        {1, 2, {false, false}},
        {0, 4, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.limit << ", " << c.nscans << " scans");
        FakeFs fs;
        for (int i = 0; i < c.nscans; ++i)
            fs.dirs.insert("d" + std::to_string(i));
        TestFileMan fm(test_id(), fs);
        fm.cache = c.limit;
        FakeParams params(1);
        ASSERT_TRUE(fm.init(&params));
        ASSERT_TRUE(fm.start());

        NullErr eh;
        std::vector<std::unique_ptr<KV_FileReqObs>> obs;
        fs.close_gate();
        for (int i = 0; i < c.nscans; ++i) {
            obs.push_back(std::make_unique<KV_FileReqObs>());
            const std::string name = "d" + std::to_string(i);
            ASSERT_TRUE(
                fm.add_req(new KV_FileReqScan(eh, fake_path({name.c_str()}), nullptr, false, true),
                           nullptr, obs.back().get(), KV_REQ_STAT_QUEUED));
            // The first one runs on the only worker.
            if (i == 0) {
                ASSERT_TRUE(fs.wait_entered(1));
            }
        }
        sync_intake(fm);
        for (int i = 0; i < c.nscans; ++i) {
            SCOPED_TRACE(i);
            // Cancelled ones have ended while the worker is still held.
            EXPECT_EQ(!obs[i]->wait(0), c.cancelled[i]);
        }
        fs.open_gate();
        for (int i = 0; i < c.nscans; ++i) {
            SCOPED_TRACE(i);
            ASSERT_FALSE(obs[i]->wait(LONG_WAIT_MS));
            EXPECT_EQ(obs[i]->status(),
                      c.cancelled[i] ? KV_REQ_STAT_CANCELLED : KV_REQ_STAT_COMPLETED);
        }
    }
}

// ---------------------------------------------------------------------------
// Synchronous folder operations

struct FolderOps : testing::Test
{
    void SetUp() override
    {
        fm = std::make_unique<TestFileMan>(test_id(), fs);
        FakeParams params(2);
        ASSERT_TRUE(fm->init(&params));
        ASSERT_TRUE(fm->start());
    }
    void TearDown() override { fm.reset(); }

    FakeFs fs;
    std::unique_ptr<TestFileMan> fm;
    TestTrans trans;
};

TEST_F(FolderOps, DirExistsTrustsAFailedListingOnlyWhenAnAncestorProvesMissing)
{
    fs.dirs = {"a", "a/b"};
    fs.unlistable = {"a/b"};
    struct Case
    {
        std::vector<const char*> path;
        bool exists;
    };
    const Case cases[] = {
        {{"a"}, true},
        {{"a", "q"}, false},
        // a/b cannot be listed, but a lists it: x may be there.
        {{"a", "b", "x"}, true},
        // a/zz cannot be listed and a does not list it: x cannot be there.
        {{"a", "zz", "x"}, false},
        {{"q", "zz", "x"}, false},
        // The root alone always exists.
        {{}, true},
    };
    for (const Case& c : cases) {
        KV_PathDef path;
        path.append("S");
        for (const char* e : c.path)
            path.append(e);
        SCOPED_TRACE(FakeFs::key(path));
        bool exists = !c.exists;
        EXPECT_TRUE(fm->dir_exists(trans, path, exists));
        EXPECT_EQ(exists, c.exists);
    }
}

TEST_F(FolderOps, GetDirListFillsTheStoreAndClearsExecutedOnFailure)
{
    fs.dirs = {"a", "a/b", "a/c"};
    KV_FileListStore store(true, nullptr);
    trans.reset_executed();
    ASSERT_TRUE(fm->get_dir_list(trans, fake_path({"a"}), store));
    EXPECT_TRUE(trans.executed());
    EXPECT_EQ(store.entries().size(), 2u);
    EXPECT_TRUE(store.find("b"));

    ASSERT_TRUE(fm->get_dir_list(trans, fake_path({"missing"}), store));
    EXPECT_FALSE(trans.executed());
    EXPECT_EQ(store.entries().size(), 0u);
}

TEST_F(FolderOps, CreateDirChckMakesTheMissingLevelsTopDown)
{
    fs.dirs = {"a"};
    trans.reset_executed();
    ASSERT_TRUE(fm->create_dir_chck(trans, fake_path({"a", "b", "c", "d"})));
    EXPECT_TRUE(trans.executed());
    EXPECT_EQ(fs.made, (std::vector<std::string>{"a/b", "a/b/c", "a/b/c/d"}));

    // A path that exists is made by nobody and counts as done.
    fs.made.clear();
    trans.reset_executed();
    ASSERT_TRUE(fm->create_dir_chck(trans, fake_path({"a", "b"})));
    EXPECT_TRUE(trans.executed());
    EXPECT_TRUE(fs.made.empty());
}

TEST_F(FolderOps, CreateDirChckStopsAtTheRetryLimitAndAtARefusal)
{
    struct Case
    {
        int retries;
        std::set<std::string> refused;
        std::vector<std::string> made;
    };
    const Case cases[] = {
        // One retry: only the first level is checked.
        {1, {}, {}},
        {2, {}, {"x/b"}},
        // A level that cannot be made ends it, however many retries remain.
        {50, {"x/b/c"}, {"x/b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.retries << " retries");
        {
            std::lock_guard<std::mutex> g(fs.m);
            fs.dirs = {"x"};
            fs.made.clear();
            fs.refused = c.refused;
        }
        TestTrans t;
        t.retries = c.retries;
        t.reset_executed();
        ASSERT_TRUE(fm->create_dir_chck(t, fake_path({"x", "b", "c", "d"})));
        EXPECT_FALSE(t.executed());
        EXPECT_EQ(fs.made, c.made);
    }
}

// ---------------------------------------------------------------------------
// Manager notices

TEST(FileManNotices, RootHearsStartUnlockAndRemovalAndTheManagerItsChange)
{
    KV_FileManPool root;
    FakeFs fs;
    {
        TestFileMan fm(test_id(), fs);
        FakeParams params;
        params.set_name("Srv");
        ASSERT_TRUE(fm.init(&params));
        fm.initialized();
        fm.lock(false);
        fm.unlock(false);
        fm.ds_changed();
        const auto own = man_ntfs(fm.informer(), test_id());
        ASSERT_EQ(own.size(), 1u);
        EXPECT_EQ(own[0].first, KV_MAN_NTF_DS_CHANGED);
        EXPECT_EQ(own[0].second, "Srv");
    }
    const auto seen = man_ntfs(root.informer(), test_id());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, KV_MAN_NTF_INIT);
    EXPECT_EQ(seen[0].second, "Srv");
    EXPECT_EQ(seen[1].first, KV_MAN_NTF_UNLOCKED);
    EXPECT_EQ(seen[2].first, KV_MAN_NTF_REMOVED);

    // A manager of no data source leaves without a word.
    {
        TestFileMan fm(KV_FileManId(), fs);
    }
    EXPECT_TRUE(man_ntfs(root.informer(), KV_FileManId()).empty());
}

} // namespace
