// The transfer manager and its workers end to end on real temporary folders
// and the local-disk file manager: rename and delete of whole trees, stopped
// half-way by a shut-down or by killing the process that runs the engine,
// reloaded from the same transfer folder and completed; merges, refusals,
// conflicts and vanished folders; one worker thread per request; retries
// that wait; a log that cannot be written any more.
#include "transfers/kv_tavotrans.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqtaskstrans.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_transmantest.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using namespace transtest;

constexpr int LONG_WAIT_MS = 120000;
// Set in the process that a test starts to run the engine in.
const char CHILD_ENV[] = "KV_TRANS_CHILD";

// ---------------------------------------------------------------------------
// The local disk, slowed down and made to fail where a test says

class TestDisk : public KV_FileManStd
{
public:
    TestDisk(const KV_FileManId& id, uint32_t ntavos, bool recycle = false) : KV_FileManStd(id)
    {
        KV_FileManParamsStd p;
        p.set_name("Local");
        p.opts_std().set_ntavos(ntavos);
        p.opts_std().set_recycle(recycle);
        EXPECT_TRUE(init(&p));
        EXPECT_TRUE(start());
    }
    ~TestDisk() override { terminate(); }

    KV_Tavo* create_tavo() override { return new (std::nothrow) Worker(informer(), *this); }

    // Every rename or delete whose entry has this name fails.
    void fail(const std::string& name)
    {
        std::lock_guard<std::mutex> g(m);
        failing.insert(name);
    }
    // Every request for which `pred` says so fails too. Called on the
    // workers, one at a time.
    void fail_when(std::function<bool(const KV_FileReq&)> pred)
    {
        std::lock_guard<std::mutex> g(m);
        extra = std::move(pred);
    }
    // When each failing attempt was made.
    std::vector<Clock::time_point> failed_at() const
    {
        std::lock_guard<std::mutex> g(m);
        return attempts;
    }

    // Each request waits this long before it runs.
    std::atomic<int> delay_ms{0};

private:
    class Worker : public KV_TavoStd
    {
    public:
        Worker(KV_Informer& inf, TestDisk& disk) : KV_TavoStd(inf), disk(disk) {}
        bool process() override
        {
            if (const int d = disk.delay_ms.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(d));
            if (disk.fails(req())) {
                req_executed(false);
                return false;
            }
            return KV_TavoStd::process();
        }

    private:
        TestDisk& disk;
    };

    bool fails(const KV_FileReq* r)
    {
        std::string name;
        if (r != nullptr && r->type() == KV_REQ_TYPE_RM)
            name = static_cast<const KV_FileReqRm*>(r)->path().last().data();
        else if (r != nullptr && r->type() == KV_REQ_TYPE_REN)
            name = static_cast<const KV_FileReqRen*>(r)->path_src().last().data();
        std::lock_guard<std::mutex> g(m);
        if (r != nullptr && extra && extra(*r))
            return true;
        if (name.empty() || failing.count(name) == 0)
            return false;
        attempts.push_back(Clock::now());
        return true;
    }

    mutable std::mutex m;
    std::set<std::string> failing;
    std::function<bool(const KV_FileReq&)> extra;
    std::vector<Clock::time_point> attempts;
};

const KV_FileManId local_id(KV_DsId(1, "Local", "", ""), 1);

// The engine's path of a local absolute path.
KV_PathDef lpath(const std::string& abs)
{
    KV_PathDef p;
    EXPECT_TRUE(KV_FileReqManOpts().man_path().split_path(abs.c_str(), p, true));
    p.prepend("Local");
    return p;
}

// ---------------------------------------------------------------------------
// What the user interface sees

// Pumps the engine root's informer: the notices of the transfer requests.
class Watch
{
public:
    explicit Watch(KV_FileManPool& pool) : pool(pool) {}
    ~Watch() { pump(); }

    void pump()
    {
        while (KV_Msg* m = pool.informer().pop()) {
            if (m->type() == KV_MSG_REQ) {
                auto* n = static_cast<KV_MsgReqNtf*>(m);
                if (n->ntf == KV_REQ_NTF_ENDED) {
                    ended.insert(n->req_id);
                } else {
                    status[n->req_id] = n->info.status();
                    last_err[n->req_id] = n->info.last_err().data();
                    history[n->req_id].push_back(n->info.status());
                }
            }
            KV_Informer::destroy(m);
        }
    }
    // Waits until `n` requests have reached a final status.
    bool wait_final(size_t n, int ms = LONG_WAIT_MS)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pump();
            if (finals() >= n)
                return true;
            if (Clock::now() > until)
                return false;
            std::this_thread::sleep_for(2ms);
        }
    }
    size_t finals() const
    {
        size_t k = 0;
        for (const auto& [id, st] : status)
            k += KV_FileReq::processed(st) ? 1 : 0;
        return k;
    }
    // The one request's final status (Queued while there is none).
    KV_REQ_STAT only() const
    {
        return status.size() == 1 ? status.begin()->second : KV_REQ_STAT_QUEUED;
    }

    KV_FileManPool& pool;
    std::map<uint32_t, KV_REQ_STAT> status;
    std::map<uint32_t, std::string> last_err;
    std::map<uint32_t, std::vector<KV_REQ_STAT>> history;
    std::set<uint32_t> ended;
};

// The worker status texts sent through `inf`, in order.
std::vector<std::string> tavo_texts(KV_Informer& inf)
{
    std::vector<std::string> out;
    while (KV_Msg* m = inf.pop()) {
        if (m->type() == KV_MSG_TAVO && static_cast<KV_MsgTavoNtf*>(m)->ntf == KV_TAVO_NTF_STATUS)
            out.emplace_back(static_cast<KV_MsgTavoNtf*>(m)->text1.data());
        KV_Informer::destroy(m);
    }
    return out;
}

// Answers every question at once by a rule of the test and keeps them.
// Safe from any thread.
class RuleUi
{
public:
    explicit RuleUi(std::function<KV_ANS(const std::string&)> rule)
    {
        std::lock_guard<std::mutex> g(m());
        r() = std::move(rule);
        q().clear();
        KV_Informer::set_impl_block([] { return false; });
        KV_Informer::set_impl_ask([](KV_Informer* inf, bool) {
            const std::string text = inf->msg().data();
            KV_ANS a;
            {
                std::lock_guard<std::mutex> g(m());
                q().push_back(text);
                a = r()(text);
            }
            inf->set_ans(a);
        });
    }
    ~RuleUi()
    {
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
    }
    RuleUi(const RuleUi&) = delete;
    RuleUi& operator=(const RuleUi&) = delete;

    std::vector<std::string> asked() const
    {
        std::lock_guard<std::mutex> g(m());
        return q();
    }

private:
    static std::mutex& m()
    {
        static std::mutex mx;
        return mx;
    }
    static std::function<KV_ANS(const std::string&)>& r()
    {
        static std::function<KV_ANS(const std::string&)> f;
        return f;
    }
    static std::vector<std::string>& q()
    {
        static std::vector<std::string> v;
        return v;
    }
};

// ---------------------------------------------------------------------------
// The engine

KV_FileTransManOpts trans_opts(uint32_t ntavos)
{
    KV_FileTransManOpts o;
    o.set_ntavos(ntavos);
    return o;
}

// An engine root, the local disk and the transfer manager, reloading
// whatever the transfer folder holds before it starts.
struct Engine
{
    explicit Engine(uint32_t disk_workers = 4, KV_FileTransManOpts opts = trans_opts(2),
                    bool recycle = false)
        : disk(local_id, disk_workers, recycle)
    {
        pool.add(&disk);
        tm.set_opts(opts);
        EXPECT_TRUE(tm.load_req(pool));
        EXPECT_TRUE(tm.init());
        EXPECT_TRUE(tm.start());
    }
    bool add(KV_FileReqTrans* r) { return tm.add_req(r); }

    TestPool pool;
    Watch watch{pool};
    TestDisk disk;
    KV_FileTransMan tm;
};

template <class P> P forced()
{
    P p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    return p;
}

KV_FileReqTransRm* rm_req(KV_FileMan* man, const std::string& folder,
                          std::initializer_list<const char*> names,
                          KV_FileReqTransParamsRm p = forced<KV_FileReqTransParamsRm>())
{
    return new KV_FileReqTransRm(man, lpath(folder), Names(names), p);
}

KV_FileReqTransRen* ren_req(KV_FileMan* man, const std::string& src, const std::string& dst,
                            std::initializer_list<const char*> names,
                            KV_FileReqTransParamsRen p = forced<KV_FileReqTransParamsRen>())
{
    return new KV_FileReqTransRen(man, lpath(src), lpath(dst), Names(names), p);
}

// ---------------------------------------------------------------------------
// Trees

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// Under `root`/t: `nfolders` folders of `nfiles` files each, every folder
// holding one more level of `nfiles` / 4 files. With `skeleton`, the folders
// only. Names are unique across the tree.
void make_tree(const std::string& root, int nfolders, int nfiles, bool skeleton = false)
{
    fs::create_directories(root + "/t");
    for (int d = 0; d < nfolders; ++d) {
        const std::string dir = root + "/t/d" + std::to_string(d);
        fs::create_directories(dir + "/in");
        if (skeleton)
            continue;
        for (int f = 0; f < nfiles; ++f)
            write_file(dir + "/f" + std::to_string(d) + "_" + std::to_string(f),
                       "d" + std::to_string(d) + "f" + std::to_string(f));
        for (int f = 0; f < nfiles / 4; ++f)
            write_file(dir + "/in/g" + std::to_string(d) + "_" + std::to_string(f), "in");
    }
}

// Every entry below `root`, relative, folders with a trailing '/', files
// with their contents.
std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> out;
    if (!fs::exists(root))
        return out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) {
            out[rel + "/"] = "";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            out[rel] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return out;
}

// The files below `root`, counted while a walker may be deleting or moving
// them: a folder that goes while it is read counts as empty, as it is about
// to be.
size_t count_files(const std::string& root)
{
    size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        const fs::file_status st = it->symlink_status(kind);
        if (kind)
            continue;
        if (fs::is_directory(st))
            n += count_files(it->path().string());
        else if (fs::is_regular_file(st))
            ++n;
    }
    return n;
}

// Waits until `pred` holds; false after `ms`.
bool wait_until(const std::function<bool()>& pred, int ms = LONG_WAIT_MS)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Walk : public TmpFolderTest
{
protected:
    void SetUp() override
    {
        TmpFolderTest::SetUp();
        logs = dir / "logs";
        fs::create_directory(logs);
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, logs.c_str()));
    }
    // Forgets the requests that earlier engines of the test left.
    void clear_logs()
    {
        for (const auto& e : fs::directory_iterator(logs))
            fs::remove(e.path());
    }
    std::string logs;
};

// ---------------------------------------------------------------------------
// Stopped half-way, reloaded, completed

enum class Cut { shutdown, kill };
enum class Op { rm, ren };

struct CutCase
{
    Op op;
    Cut cut;
};

// The request of `op` on the tree under `root`: delete root/t, or rename
// root/src/t into root/dst (which holds t's folders already, so every file
// is renamed on its own).
KV_FileReqTrans* tree_req(KV_FileMan* man, Op op, const std::string& root)
{
    if (op == Op::rm)
        return rm_req(man, root, {"t"});
    return ren_req(man, root + "/src", root + "/dst", {"t"});
}

void tree_for(Op op, const std::string& root)
{
    if (op == Op::rm) {
        make_tree(root, 6, 40);
    } else {
        make_tree(root + "/src", 6, 40);
        make_tree(root + "/dst", 6, 40, true);
    }
}

// The files the walk has still to do.
size_t left_to_do(Op op, const std::string& root)
{
    return count_files(op == Op::rm ? root + "/t" : root + "/src/t");
}

// Runs the engine in a new process of this test program on the tree under
// `root`, with the logs in `logs`; its output goes nowhere.
pid_t spawn_child(Op op, const std::string& root, const std::string& logs, const char* test)
{
    std::vector<std::string> env_s;
    for (char** e = environ; *e != nullptr; ++e)
        env_s.emplace_back(*e);
    env_s.push_back(std::string(CHILD_ENV) + "=" + (op == Op::rm ? "rm" : "ren") + ":" + logs +
                    ":" + root);
    std::vector<char*> envp;
    for (auto& s : env_s)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string filter = std::string("--gtest_filter=TransChild.") + test;
    std::string also = "--gtest_also_run_disabled_tests";
    std::string self = "/proc/self/exe";
    char* argv[] = {self.data(), filter.data(), also.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), &fa, nullptr, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// What a process started by spawn_child is to do: the operation, the tree
// under `root`; its transfer folder is set from the same text.
struct ChildSpec
{
    Op op = Op::rm;
    std::string root;
};

// False when this process was not started by spawn_child.
bool child_spec(ChildSpec& out)
{
    const char* spec = std::getenv(CHILD_ENV);
    if (spec == nullptr)
        return false;
    const std::string s = spec;
    const size_t a = s.find(':');
    const size_t b = s.find(':', a + 1);
    out.op = s.substr(0, a) == "rm" ? Op::rm : Op::ren;
    out.root = s.substr(b + 1);
    return KV_File::set_path(KV_PATH_TMP, s.substr(a + 1, b - a - 1).c_str());
}

class CutAndResume : public Walk, public testing::WithParamInterface<CutCase>
{
};

TEST_P(CutAndResume, TheResumedRunEndsWithTheTreeOfACompleteRun)
{
    const CutCase c = GetParam();
    const std::string whole = dir / "whole";
    const std::string cut = dir / "cut";
    tree_for(c.op, whole);
    tree_for(c.op, cut);
    const size_t todo = left_to_do(c.op, cut);

    // A complete run, for the tree to compare with.
    {
        Engine e;
        ASSERT_TRUE(e.add(tree_req(&e.disk, c.op, whole)));
        ASSERT_TRUE(e.watch.wait_final(1));
        ASSERT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
    }
    for (const std::string& f : log_files(logs, c.op == Op::rm ? 3 : 4))
        fs::remove(f);

    // The same request on the other tree, cut off half-way.
    auto half_done = [&] { return left_to_do(c.op, cut) < todo * 2 / 3; };
    if (c.cut == Cut::shutdown) {
        Engine e;
        e.disk.delay_ms = 10;
        ASSERT_TRUE(e.add(tree_req(&e.disk, c.op, cut)));
        ASSERT_TRUE(wait_until(half_done));
        const auto t0 = Clock::now();
        e.tm.terminate();
        EXPECT_LT(Clock::now() - t0, 1s) << "a shut-down ends the running request at once";
        e.watch.pump();
        EXPECT_EQ(e.watch.finals(), 1u);
    } else {
        const pid_t pid = spawn_child(c.op, cut, logs, "DISABLED_RunUntilKilled");
        ASSERT_GT(pid, 0);
        const bool mid = wait_until(half_done);
        ::kill(pid, SIGKILL);
        int st = 0;
        ASSERT_EQ(::waitpid(pid, &st, 0), pid);
        ASSERT_TRUE(mid) << "the child made no progress";
        ASSERT_TRUE(WIFSIGNALED(st));
    }
    const size_t left = left_to_do(c.op, cut);
    ASSERT_GT(left, 0u) << "cut off before the end";
    ASSERT_LT(left, todo);
    const auto saved = log_files(logs, c.op == Op::rm ? 3 : 4);
    ASSERT_EQ(saved.size(), 1u);
    if (c.op == Op::rm) {
        EXPECT_EQ(log_status<KV_FileReqTransRm>(saved[0]), KV_REQ_STAT_RUNNING);
        EXPECT_EQ(log_msgs<KV_FileReqTransRm>(saved[0]), std::vector<std::string>{"Started"});
    } else {
        EXPECT_EQ(log_status<KV_FileReqTransRen>(saved[0]), KV_REQ_STAT_RUNNING);
        EXPECT_EQ(log_msgs<KV_FileReqTransRen>(saved[0]), std::vector<std::string>{"Started"});
    }

    // The next start reloads and completes it.
    {
        Engine e;
        ASSERT_TRUE(e.watch.wait_final(1));
        EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
    }
    EXPECT_EQ(snapshot(cut), snapshot(whole));
    if (c.op == Op::rm) {
        EXPECT_EQ(log_status<KV_FileReqTransRm>(saved[0]), KV_REQ_STAT_COMPLETED);
        EXPECT_EQ(log_msgs<KV_FileReqTransRm>(saved[0]),
                  (std::vector<std::string>{"Started", "Restarted", "Terminated"}));
    } else {
        EXPECT_EQ(log_status<KV_FileReqTransRen>(saved[0]), KV_REQ_STAT_COMPLETED);
    }
}

INSTANTIATE_TEST_SUITE_P(Trees, CutAndResume,
                         testing::Values(CutCase{Op::rm, Cut::shutdown},
                                         CutCase{Op::ren, Cut::shutdown},
                                         CutCase{Op::rm, Cut::kill}, CutCase{Op::ren, Cut::kill}),
                         [](const testing::TestParamInfo<CutCase>& i) {
                             return std::string(i.param.op == Op::rm ? "Delete" : "Rename") +
                                    (i.param.cut == Cut::shutdown ? "ShutDown" : "Killed");
                         });

// The engine in a process of its own, until the test that started it kills
// it. Runs only when started so.
TEST(TransChild, DISABLED_RunUntilKilled)
{
    ChildSpec spec;
    if (!child_spec(spec))
        GTEST_SKIP() << "runs only in a process started by a test";
    Engine e;
    e.disk.delay_ms = 10;
    ASSERT_TRUE(e.add(tree_req(&e.disk, spec.op, spec.root)));
    e.watch.wait_final(1);
    std::_Exit(0);
}

// ---------------------------------------------------------------------------
// Questions, conflicts, refusals

TEST_F(Walk, AMergeAsksOnceForTheFolderAndOnceForEachFileInTheWay)
{
    for (KV_ANS ans : {KV_ANS_YES, KV_ANS_NO}) {
        SCOPED_TRACE(ans == KV_ANS_YES ? "Yes" : "No");
        const std::string src = dir / (ans == KV_ANS_YES ? "s1" : "s2");
        const std::string dst = dir / (ans == KV_ANS_YES ? "d1" : "d2");
        fs::create_directories(src + "/a/sub");
        fs::create_directories(dst + "/a");
        write_file(src + "/a/f1", "new");
        write_file(src + "/a/sub/g", "g");
        write_file(dst + "/a/f1", "old");
        write_file(dst + "/a/keep", "k");
        clear_logs();
        const auto before_src = snapshot(src);
        const auto before_dst = snapshot(dst);
        RuleUi ui([ans](const std::string&) { return ans; });
        {
            Engine e;
            ASSERT_TRUE(e.add(ren_req(&e.disk, src, dst, {"a"}, KV_FileReqTransParamsRen())));
            ASSERT_TRUE(e.watch.wait_final(1));
            EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
        }
        const auto q = ui.asked();
        if (ans == KV_ANS_NO) {
            ASSERT_EQ(q.size(), 1u);
            EXPECT_EQ(snapshot(src), before_src);
            EXPECT_EQ(snapshot(dst), before_dst);
        } else {
            ASSERT_EQ(q.size(), 2u);
            EXPECT_EQ(snapshot(src), (std::map<std::string, std::string>{{"a/", ""}}))
                << "the emptied source folder stays";
            EXPECT_EQ(snapshot(dst), (std::map<std::string, std::string>{{"a/", ""},
                                                                         {"a/f1", "new"},
                                                                         {"a/keep", "k"},
                                                                         {"a/sub/", ""},
                                                                         {"a/sub/g", "g"}}));
            EXPECT_EQ(q[1].rfind("The file \"f1\"", 0), 0u) << q[1];
            EXPECT_NE(q[1].find("already exists. Overwrite ?"), std::string::npos);
        }
        EXPECT_EQ(q[0].rfind("The directory \"a\"", 0), 0u) << q[0];
        EXPECT_NE(q[0].find("already exists. Overwrite ?"), std::string::npos);
    }
}

TEST_F(Walk, AnEntryOfTheOtherKindInTheWayStopsTheRename)
{
    struct Case
    {
        bool src_dir;
        const char* error;
    };
    const Case cases[] = {{false, "The directory x already exists."},
                          {true, "The file x already exists."}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const std::string src = dir / ("s" + std::to_string(n));
        const std::string dst = dir / ("d" + std::to_string(n++));
        fs::create_directories(src);
        fs::create_directories(dst);
        if (c.src_dir) {
            fs::create_directory(src + "/x");
            write_file(dst + "/x", "file");
        } else {
            write_file(src + "/x", "file");
            fs::create_directory(dst + "/x");
        }
        const auto before_src = snapshot(src);
        const auto before_dst = snapshot(dst);
        clear_logs();
        Engine e;
        ASSERT_TRUE(e.add(ren_req(&e.disk, src, dst, {"x"})));
        ASSERT_TRUE(e.watch.wait_final(1));
        EXPECT_EQ(e.watch.only(), KV_REQ_STAT_ERROR);
        EXPECT_EQ(e.watch.last_err.begin()->second, c.error);
        EXPECT_EQ(snapshot(src), before_src);
        EXPECT_EQ(snapshot(dst), before_dst);
    }
}

TEST_F(Walk, ARefusedEntryKeepsItsFoldersAndTheRequestCompletes)
{
    const std::string root = dir / "r";
    fs::create_directories(root + "/t/d");
    write_file(root + "/t/d/keep", "k");
    write_file(root + "/t/d/go", "g");
    write_file(root + "/t/e", "e");
    RuleUi ui([](const std::string& q) {
        return q.find("\"keep\"") != std::string::npos ? KV_ANS_NO : KV_ANS_YES;
    });
    {
        Engine e;
        ASSERT_TRUE(e.add(rm_req(&e.disk, root, {"t"}, KV_FileReqTransParamsRm())));
        ASSERT_TRUE(e.watch.wait_final(1));
        EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
    }
    EXPECT_EQ(snapshot(root),
              (std::map<std::string, std::string>{{"t/", ""}, {"t/d/", ""}, {"t/d/keep", "k"}}));
    // Each folder was asked about once, before its contents.
    int dirs = 0;
    for (const std::string& q : ui.asked())
        dirs += q.rfind("Are you sure you want to remove the directory", 0) == 0 ? 1 : 0;
    EXPECT_EQ(dirs, 2);
    EXPECT_EQ(ui.asked().size(), 5u);
}

// Without a user interface every question goes unanswered. The request
// stops, and its log says why: an Error with nothing but "Started" and
// "Terminated" in its log leaves the user guessing.
TEST_F(Walk, AnUnansweredQuestionEndsTheRequestWithTheReasonInItsLog)
{
    const std::string trash = dir / "share";
    ::setenv("XDG_DATA_HOME", trash.c_str(), 1);
    struct Case
    {
        const char* name;
        Op op;
        bool recycle;
    };
    for (const Case c : {Case{"delete", Op::rm, false}, Case{"delete to the trash", Op::rm, true},
                         Case{"rename onto a folder", Op::ren, false}}) {
        SCOPED_TRACE(c.name);
        const std::string src = dir / "s";
        const std::string dst = dir / "d";
        fs::remove_all(src);
        fs::remove_all(dst);
        fs::create_directories(src + "/a/sub");
        fs::create_directories(dst + "/a");
        write_file(src + "/a/f", "f");
        clear_logs();
        KV_FileTransManOpts o = trans_opts(2);
        o.set_auto_rm_req(0);
        {
            Engine e(2, o, c.recycle);
            KV_FileReqTrans* r = nullptr;
            if (c.op == Op::rm)
                r = rm_req(&e.disk, src, {"a"}, KV_FileReqTransParamsRm());
            else
                r = ren_req(&e.disk, src, dst, {"a"}, KV_FileReqTransParamsRen());
            ASSERT_TRUE(e.add(r));
            ASSERT_TRUE(e.watch.wait_final(1));
            EXPECT_EQ(e.watch.only(), KV_REQ_STAT_ERROR);
            e.tm.terminate();
        }
        EXPECT_TRUE(fs::exists(src + "/a/f"));
        const auto saved = log_files(logs, c.op == Op::rm ? 3 : 4);
        ASSERT_EQ(saved.size(), 1u);
        const std::vector<std::string> msgs = c.op == Op::rm
                                                  ? log_msgs<KV_FileReqTransRm>(saved[0])
                                                  : log_msgs<KV_FileReqTransRen>(saved[0]);
        bool why = false;
        for (const std::string& m : msgs)
            why = why || m.rfind("No answer to the question: ", 0) == 0;
        EXPECT_TRUE(why) << ::testing::PrintToString(msgs);
    }
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(Walk, ADeleteWhoseFolderVanishedCompletes)
{
    Engine e;
    ASSERT_TRUE(e.add(rm_req(&e.disk, dir / "never/there", {"x"})));
    ASSERT_TRUE(e.watch.wait_final(1));
    EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
}

TEST_F(Walk, EqualRequestsOnTwoDataSourcesBothRun)
{
    const std::string root = dir / "r";
    make_tree(root, 2, 3);
    // Before the engine: the requests on it go first.
    TestDisk other(KV_FileManId(KV_DsId(1, "Other", "", ""), 1), 2);
    Engine e(2, trans_opts(1));
    ASSERT_TRUE(e.add(rm_req(&e.disk, root, {"t"})));
    ASSERT_TRUE(e.add(rm_req(&other, root, {"t"})));
    ASSERT_TRUE(e.watch.wait_final(2));
    for (const auto& [id, st] : e.watch.status)
        EXPECT_EQ(st, KV_REQ_STAT_COMPLETED) << "request " << id;
    EXPECT_FALSE(fs::exists(root + "/t"));
    e.tm.terminate();
}

// ---------------------------------------------------------------------------
// Worker threads, shut-down and cancel

TEST_F(Walk, EachRequestRunsOnAFreshThreadOfItsWorker)
{
    const std::string root = dir / "r";
    make_tree(root, 1, 2);
    fs::create_directories(root + "/u");
    Engine e(2, trans_opts(1));
    uint32_t worker = 0;
    for (const char* name : {"t", "u"}) {
        ASSERT_TRUE(e.add(rm_req(&e.disk, root, {name})));
        const size_t n = name[0] == 't' ? 1 : 2;
        ASSERT_TRUE(e.watch.wait_final(n));
        bool running = true;
        ASSERT_TRUE(wait_until([&] {
            e.tm.tavo_id(0, &running);
            return !running;
        })) << "the thread ends with its request";
        if (worker == 0)
            worker = e.tm.tavo_id(0);
        EXPECT_EQ(e.tm.tavo_id(0), worker);
    }
    EXPECT_EQ(e.tm.ntavos(), 1u);
    EXPECT_EQ(tavo_texts(e.tm.informer()),
              (std::vector<std::string>{"Started", "Ready", "Started", "Ready"}));
    for (const auto& [id, st] : e.watch.status)
        EXPECT_EQ(st, KV_REQ_STAT_COMPLETED);
    e.tm.terminate();
    const auto saved = log_files(logs, 3);
    ASSERT_EQ(saved.size(), 2u);
    for (const std::string& f : saved) {
        EXPECT_EQ(log_msgs<KV_FileReqTransRm>(f),
                  (std::vector<std::string>{"Started", "Terminated"}));
    }
}

TEST_F(Walk, ACancelEndsTheRequestCancelledInItsLog)
{
    const std::string root = dir / "r";
    make_tree(root, 2, 30);
    KV_FileTransManOpts o = trans_opts(2);
    o.set_auto_rm_req(0);
    Engine e(2, o);
    e.disk.delay_ms = 10;
    ASSERT_TRUE(e.add(rm_req(&e.disk, root, {"t"})));
    const size_t todo = count_files(root);
    ASSERT_TRUE(wait_until([&] { return count_files(root) < todo; }));
    e.watch.pump();
    ASSERT_EQ(e.watch.status.size(), 1u);
    ASSERT_TRUE(e.tm.add_task(KV_FileReqTaskCancel(e.watch.status.begin()->first, false)));
    ASSERT_TRUE(e.watch.wait_final(1));
    EXPECT_EQ(e.watch.only(), KV_REQ_STAT_CANCELLED);
    EXPECT_GT(count_files(root), 0u);
    e.tm.terminate();
    const auto saved = log_files(logs, 3);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(log_status<KV_FileReqTransRm>(saved[0]), KV_REQ_STAT_CANCELLED);
    EXPECT_EQ(log_msgs<KV_FileReqTransRm>(saved[0]),
              (std::vector<std::string>{"Started", "Terminated"}));
}

// ---------------------------------------------------------------------------
// Retries

TEST_F(Walk, RetriesWithoutLimitWaitAndAStopEndsTheWait)
{
    const std::string root = dir / "r";
    fs::create_directories(root + "/t");
    write_file(root + "/t/stuck", "s");
    write_file(root + "/t/fine", "f");
    KV_FileTransManOpts o = trans_opts(1);
    o.set_nretries(0);
    o.set_nfretries(0);
    o.set_auto_rm_req(0);

    {
        Engine e(2, o);
        e.disk.fail("stuck");
        ASSERT_TRUE(e.add(rm_req(&e.disk, root + "/t", {"stuck", "fine"})));
        ASSERT_TRUE(wait_until([&] { return e.disk.failed_at().size() >= 3; }));
        e.watch.pump();
        ASSERT_TRUE(e.tm.add_task(KV_FileReqTaskCancel(e.watch.status.begin()->first, false)));
        ASSERT_TRUE(e.watch.wait_final(1));
        EXPECT_EQ(e.watch.only(), KV_REQ_STAT_CANCELLED);
        const auto at = e.disk.failed_at();
        for (size_t i = 1; i < at.size(); ++i)
            EXPECT_GE(at[i] - at[i - 1], 900ms) << "attempt " << i << " came without a pause";
        EXPECT_FALSE(fs::exists(root + "/t/fine"));
        EXPECT_TRUE(fs::exists(root + "/t/stuck"));
    }

    // A long retry time-out: the cancel ends the wait, not its end.
    clear_logs();
    o.set_rest_wait(600);
    Engine e(2, o);
    e.disk.fail("stuck");
    ASSERT_TRUE(e.add(rm_req(&e.disk, root + "/t", {"stuck"})));
    ASSERT_TRUE(wait_until([&] { return e.disk.failed_at().size() >= 1; }));
    std::this_thread::sleep_for(50ms);
    e.watch.pump();
    const auto t0 = Clock::now();
    ASSERT_TRUE(e.tm.add_task(KV_FileReqTaskCancel(e.watch.status.begin()->first, false)));
    ASSERT_TRUE(e.watch.wait_final(1));
    EXPECT_LT(Clock::now() - t0, 60s);
    EXPECT_EQ(e.disk.failed_at().size(), 1u);
}

TEST_F(Walk, AFailingFileIsSkippedAfterTheFileRetriesAndRecordedSkipped)
{
    const std::string root = dir / "r";
    fs::create_directories(root + "/t");
    write_file(root + "/t/stuck", "s");
    write_file(root + "/t/fine", "f");
    KV_FileTransManOpts o = trans_opts(1);
    o.set_nfretries(2);
    Engine e(2, o);
    e.disk.fail("stuck");
    ASSERT_TRUE(e.add(rm_req(&e.disk, root + "/t", {"stuck", "fine"})));
    ASSERT_TRUE(e.watch.wait_final(1));
    EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(e.disk.failed_at().size(), 3u) << "two counted errors, then the skip";
    EXPECT_TRUE(fs::exists(root + "/t/stuck"));
    EXPECT_FALSE(fs::exists(root + "/t/fine"));
}

TEST_F(Walk, ARetryListsBothFoldersAgainBeforeItTrustsThem)
{
    const std::string src = dir / "src";
    const std::string dst = dir / "dst";
    fs::create_directories(src);
    fs::create_directories(dst);
    write_file(src + "/x", "x");
    write_file(src + "/y", "y");
    // The rename of x fails once; the listing of the source made for the
    // retry fails too.
    int scans = 0;
    int renames = 0;
    Engine e;
    e.disk.fail_when([&](const KV_FileReq& r) {
        if (r.type() == KV_REQ_TYPE_SCAN)
            return static_cast<const KV_FileReqScan&>(r).path().last() == "src" && ++scans == 2;
        return r.type() == KV_REQ_TYPE_REN &&
               static_cast<const KV_FileReqRen&>(r).path_src().last() == "x" && ++renames == 1;
    });
    ASSERT_TRUE(e.add(ren_req(&e.disk, src, dst, {"x", "y"})));
    ASSERT_TRUE(e.watch.wait_final(1));
    EXPECT_EQ(e.watch.only(), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(snapshot(src), (std::map<std::string, std::string>{}));
    EXPECT_EQ(snapshot(dst), (std::map<std::string, std::string>{{"x", "x"}, {"y", "y"}}));
    e.tm.terminate();
}

// ---------------------------------------------------------------------------
// Deleting for a copy request

// A copy request that keeps what the delete walker reports to it.
class Owner : public KV_FileReqTransCp
{
public:
    Owner(KV_FileMan* man, const std::string& root)
        : KV_FileReqTransCp(man, man, lpath(root), lpath(root), Names{}, Names{},
                            forced<KV_FileReqTransParamsCp>())
    {
    }
    bool file_del(const KV_PathDef& path) override
    {
        reported.push_back(path.last().data());
        return true;
    }
    std::vector<std::string> reported;
};

TEST_F(Walk, TheDeletedEntriesAreReportedOnlyAtTheTopAndOnlyWhenGone)
{
    const std::string root = dir / "r";
    fs::create_directories(root + "/d/e");
    write_file(root + "/a", "a");
    write_file(root + "/b", "b");
    write_file(root + "/d/x", "x");
    write_file(root + "/d/e/y", "y");
    TestPool pool;
    TestDisk disk(local_id, 2);
    disk.fail("b");
    Owner owner(&disk, root);
    ASSERT_TRUE(owner.pre_add());
    KV_FileReqTransRm rm(&disk, lpath(root), Names{"a", "b", "d"}, KV_FileReqTransParamsRm());
    rm.reset_executed();
    rm.set_skip_err();
    KV_Informer inf;
    KV_TavoTrans worker(inf);
    bool all = true;
    EXPECT_TRUE(worker.trans_rm(rm, lpath(root), &rm.log().list_files(), &all, &owner, true));
    EXPECT_TRUE(rm.executed());
    EXPECT_FALSE(all) << "b stayed";
    std::sort(owner.reported.begin(), owner.reported.end());
    EXPECT_EQ(owner.reported, (std::vector<std::string>{"a", "d"}));
    EXPECT_EQ(snapshot(root), (std::map<std::string, std::string>{{"b", "b"}}));
    EXPECT_TRUE(owner.log().some_skipped()) << "the records went to the owner's log";
}

// ---------------------------------------------------------------------------
// A log that cannot be written any more

// The engine in a process whose files may not grow past a few kilobytes:
// the log fills up half-way through the delete. Exits with the final status.
TEST(TransChild, DISABLED_RunWithAFullDisk)
{
    ChildSpec spec;
    if (!child_spec(spec))
        GTEST_SKIP() << "runs only in a process started by a test";
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{6000, 6000};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    Engine e;
    ASSERT_TRUE(e.add(rm_req(&e.disk, spec.root, {"t"})));
    e.watch.wait_final(1);
    std::_Exit(static_cast<int>(e.watch.only()));
}

TEST_F(Walk, ALogThatCannotBeWrittenStopsTheRequestBeforeUnrecordedWork)
{
    const std::string root = dir / "r";
    make_tree(root, 4, 50);
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            files.insert(e.path().string());
    }
    const pid_t pid = spawn_child(Op::rm, root, logs, "DISABLED_RunWithAFullDisk");
    ASSERT_GT(pid, 0);
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), static_cast<int>(KV_REQ_STAT_ERROR));

    const auto saved = log_files(logs, 3);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_LE(fs::file_size(saved[0]), 6000u);
    // Every file that is gone has its record in the log.
    const auto lines = log_lines<KV_FileReqTransRm>(saved[0], KV_FILE_REQ_LOG_ELEM_FILEOP);
    const std::set<std::string> recorded(lines.begin(), lines.end());
    size_t gone = 0;
    for (const std::string& f : files) {
        if (fs::exists(f))
            continue;
        ++gone;
        EXPECT_EQ(recorded.count(fs::path(f).filename().string()), 1u) << f << " went unrecorded";
    }
    EXPECT_GT(gone, 0u);
    EXPECT_LT(gone, files.size()) << "the request stopped";
}

} // namespace
