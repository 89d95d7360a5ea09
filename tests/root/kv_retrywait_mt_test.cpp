// Downloads that meet a failure another attempt may or may not cure, through
// the engine root as the program runs it: a server that goes away in the
// middle of a file (the request tries again, each attempt after the data
// source's restart wait and no more often than the retry setting allows; a
// cancel during a wait ends the request at once), a server that refuses the
// login and a destination disk that fills up (the request ends in Error with
// the reason, without trying again).
#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "datasources/kv_dstreenodeds.h"
#include "foundation/kv_informer.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"
#include "root/kv_filemanpool.h"
#include "root/kv_rootfixture.h"
#include "support/kv_ftpscript.h"
#include "support/kv_testtools.h"
#include "transfers/kv_filereqtaskstrans.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One FTP data source on a scripted server, with the restart wait and the
// transfer retry limit a derived fixture chooses.
class Retry : public roottest::RootTest
{
protected:
    Retry(uint32_t rest_wait, uint32_t nretries) : rest_wait_(rest_wait), nretries_(nretries) {}

    std::string ds_text() const override
    {
        return "### Node definition: Kivrel ###\n"
               "NODE: TYPE = GROUP|DS NAME = Kivrel\n"
               "SET NRETRIES " +
               std::to_string(nretries_) +
               "\n\n"
               "### Node definition: Ftp ###\n"
               "NODE: TYPE = GROUP|FTP NAME = Kivrel|Ftp\n\n"
               "### Node definition: Server ###\n"
               "NODE: TYPE = FTP NAME = Kivrel|Ftp|Server\n"
               "SET DST_ADDR " +
               srv->dest() + "\nSET USER anonymous\nSET INH_PARAMS NO\nSET REST_WAIT " +
               std::to_string(rest_wait_) + "\n\n";
    }
    void SetUp() override
    {
        RootTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(pool->load_req());
        ASSERT_TRUE(pool->man_trans().start());
        KV_DsTreeNode* node = tree().find(KV_String("Server"));
        ASSERT_NE(node, nullptr);
        tree().set_pass(node->id(), KV_String("guest@"));
        remote = pool->reg(KV_FileManId(node->id(), 0));
        ASSERT_NE(remote, nullptr);
        remote->lock(false);
        ASSERT_EQ(remote->opts().rest_wait(), rest_wait_);
        local = pool->reg(KV_FileManId(local_ds(), 0));
        ASSERT_NE(local, nullptr);
        local->lock(false);
        srv->set_listing("/", kvtest::FtpScript::unix_line("pub", 4096, true));
        srv->set_listing("/pub", kvtest::FtpScript::unix_line("big.bin", kBig.size()) +
                                     kvtest::FtpScript::unix_line("one.bin", kOne.size()));
        srv->set_file("/pub/big.bin", kBig);
        srv->set_file("/pub/one.bin", kOne);
    }
    void TearDown() override
    {
        if (remote)
            remote->unlock(false);
        if (local)
            local->unlock(false);
        RootTest::TearDown();
    }

    static KV_PathDef path(KV_FileMan* m, const std::string& text)
    {
        KV_PathDef p;
        EXPECT_TRUE(m->man_path().split_path(KV_String(text.c_str()), p, true));
        EXPECT_TRUE(p.prepend(m->man_path().dir_pre()));
        return p;
    }

    // Starts the download of /pub/`name` into `dst`.
    void download(const std::string& dst, const char* name = "big.bin")
    {
        fs::create_directories(dst);
        KVTL::KV_ListVal<KV_String> names;
        names.add(name);
        ASSERT_TRUE(pool->copy(remote->id(), local->id(), path(remote, "/pub"), path(local, dst),
                               names, KV_FileReqTransParamsCp(), false, false, false));
        ASSERT_TRUE(pump_until([this] { return request() != nullptr; }));
    }

    // The one transfer request, as the program sees it; null before it is
    // there.
    const KV_FileReqInfo* request()
    {
        KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(
            pool->man_trans().man_info().map());
        it.first();
        if (it.end())
            return nullptr;
        id = it.key();
        return it.value();
    }
    // Also when it is gone: a cancelled request leaves the list at once.
    bool ended()
    {
        const KV_FileReqInfo* r = request();
        return r == nullptr ? id != 0 : KV_FileReq::processed(r->status());
    }
    // What the program says about the request: its last error, the lines
    // of its log and the error notices.
    std::string said()
    {
        const KV_FileReqInfo* r = request();
        std::string s = r != nullptr ? r->last_err().data() : "no request";
        KV_Informer inf;
        if (id != 0 &&
            pool->man_trans().add_task(KV_FileReqTaskInfo(id, inf, KV_FileReqTaskInfo::INFO_LOG))) {
            const auto until = Clock::now() + std::chrono::seconds(10);
            bool got = false;
            while (!got && Clock::now() < until) {
                KV_Msg* m = inf.pop();
                if (m == nullptr) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                if (m->type() == KV_MSG_REQ_LOG) {
                    got = true;
                    for (const KV_FileReqLogElem* e :
                         static_cast<KV_MsgReqLog*>(m)->log.list_elems())
                        s += std::string(" | ") + e->text.data();
                }
                KV_Informer::destroy(m);
            }
        }
        for (const std::string& e : errors)
            s += " | " + e;
        return s;
    }
    // Pumps the informer for `d`.
    void pump_for(std::chrono::milliseconds d)
    {
        const auto until = Clock::now() + d;
        pump_until([&] { return Clock::now() >= until; });
    }

    // The server serves the first part of the file and then goes away: the
    // connection that fetched it is closed, and every later one is closed
    // at its first command (until the test closes the port as well).
    void go_away_during_the_download()
    {
        srv->set_hook([this](const std::string& cmd, kvtest::FtpScript::Session& s) {
            if (gone.load()) {
                s.close();
                return true;
            }
            if (cmd.rfind("RETR", 0) != 0)
                return false;
            // Only the first fetch gets any data.
            if (gone.exchange(true)) {
                s.close();
                return true;
            }
            kvtest::Fd d = s.data();
            s.reply("150 Opening data connection.");
            d.write_all(kBig.substr(0, kBig.size() / 4));
            d.reset();
            s.close();
            return true;
        });
    }

    // Fetched in fragments by several connections at once.
    const std::string kBig = kvtest::pattern(8u << 20, 5);
    // Fetched whole, by one connection.
    const std::string kOne = kvtest::pattern(600000, 6);
    std::unique_ptr<kvtest::FtpScript> srv = std::make_unique<kvtest::FtpScript>();
    std::atomic<bool> gone{false};
    KV_FileMan* remote = nullptr;
    KV_FileMan* local = nullptr;
    unsigned int id = 0;

private:
    uint32_t rest_wait_;
    uint32_t nretries_;
};

// A wait of 1 s between attempts, retried without limit.
class RetryEverySecond : public Retry
{
protected:
    RetryEverySecond() : Retry(1, 0) {}
};

// A wait of 1 s, at most 3 runs of the request.
class RetryThreeTimes : public Retry
{
protected:
    RetryThreeTimes() : Retry(1, 3) {}
};

// A wait far longer than any test.
class RetryAfterAnHour : public Retry
{
protected:
    RetryAfterAnHour() : Retry(3600, 0) {}
};

// How the server goes away: it closes every connection at its first
// command, or nothing listens on its port any more.
class ServerAway : public RetryEverySecond, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ServerAway, IsAskedAgainOncePerWaitNotAtOnce)
{
    go_away_during_the_download();
    download(work + "/dst");
    ASSERT_TRUE(pump_until([this] { return gone.load(); })) << said();
    if (GetParam())
        srv.reset();
    // From the first failure that the request counts on.
    ASSERT_TRUE(pump_until([this] { return request()->err_cnt() != 0; })) << said();
    const uint32_t before = request()->err_cnt();
    pump_for(std::chrono::milliseconds(6000));
    ASSERT_NE(request(), nullptr);
    const uint32_t tries = request()->err_cnt() - before;
    // At most about one attempt a second, where trying again at once made
    // thousands.
    EXPECT_LT(tries, 16u) << said();
    EXPECT_GE(tries, 1u) << "never tried again: " << said();
    EXPECT_FALSE(ended()) << said();
}

INSTANTIATE_TEST_SUITE_P(Retry, ServerAway, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "PortClosed" : "ConnectionsClosed";
                         });

TEST_F(RetryThreeTimes, AServerThatWentAwayEndsTheRequestAfterTheRetryLimit)
{
    go_away_during_the_download();
    download(work + "/dst");
    ASSERT_TRUE(pump_until([this] { return gone.load(); })) << said();
    srv.reset();
    ASSERT_TRUE(pump_until([this] { return ended(); })) << said();
    EXPECT_EQ(request()->status(), KV_REQ_STAT_ERROR) << said();
    // Each level of the walk counts the failure that ends it.
    EXPECT_LT(request()->err_cnt(), 6u) << said();
    // What came stays under its temporary name, for a restart to go on from.
    EXPECT_FALSE(fs::exists(work + "/dst/big.bin"));
}

TEST_F(RetryAfterAnHour, ACancelDuringTheWaitEndsTheRequestAtOnce)
{
    go_away_during_the_download();
    download(work + "/dst");
    ASSERT_TRUE(pump_until([this] { return gone.load(); })) << said();
    srv.reset();
    // Well into the wait.
    pump_for(std::chrono::milliseconds(500));
    ASSERT_FALSE(ended()) << said();
    const auto asked = Clock::now();
    ASSERT_TRUE(pool->man_trans().add_task(KV_FileReqTaskCancel(id, false)));
    ASSERT_TRUE(pump_until([this] { return ended(); })) << said();
    if (request() != nullptr) {
        EXPECT_EQ(request()->status(), KV_REQ_STAT_CANCELLED) << said();
    }
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(10));
}

TEST_F(RetryEverySecond, ARefusedLoginEndsTheRequestWithTheServersWords)
{
    srv->set_hook([](const std::string& cmd, kvtest::FtpScript::Session& s) {
        if (cmd.rfind("PASS", 0) != 0)
            return false;
        s.reply("530 Login incorrect.");
        return true;
    });
    download(work + "/dst");
    ASSERT_TRUE(pump_until([this] { return ended(); })) << said();
    EXPECT_EQ(request()->status(), KV_REQ_STAT_ERROR) << said();
    EXPECT_NE(said().find("Login incorrect"), std::string::npos) << said();
    EXPECT_LE(srv->count("PASS"), 3) << said();
}

// A small disk of its own mounted on `dir` while the object lives.
class SmallDisk
{
public:
    SmallDisk(const std::string& dir, const char* size) : dir_(dir)
    {
        fs::create_directories(dir);
        const std::string opts = std::string("size=") + size;
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    int error() const { return error_; }

private:
    std::string dir_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST_F(RetryEverySecond, AFullDiskEndsTheRequestSayingSoWithoutTryingAgain)
{
    SmallDisk disk(work + "/small", "256k");
    if (!disk.mounted())
        GTEST_SKIP() << "no small disk: mount says " << std::strerror(disk.error());
    download(work + "/small/dst", "one.bin");
    ASSERT_TRUE(pump_until([this] { return ended(); })) << said();
    EXPECT_EQ(request()->status(), KV_REQ_STAT_ERROR) << said();
    EXPECT_NE(said().find(std::strerror(ENOSPC)), std::string::npos) << said();
    EXPECT_EQ(srv->count("RETR"), 1) << said();
    EXPECT_FALSE(fs::exists(work + "/small/dst/one.bin"));
}

} // namespace
