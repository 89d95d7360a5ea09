// The FTP worker and file manager through the request engine, against
// vsftpd and scripted pyftpdlib servers on loopback: renames onto existing
// names (never losing the target), deletes, permissions, the current
// folder, a lost connection that restarts the request, the login wait's
// limit and stop, the REST probe, and the server-to-server reservation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "ftp/kv_filemanftp.h"
#include "ftp/kv_tavoftp.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "requests/kv_reqmsg.h"
#include "support/kv_ftppeer.h"
#include "support/kv_reqtest.h"
#include "support/kv_testtools.h"
#include "transfers/kv_filereqtrans.h"
#include "transfers/kv_translogtrans.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t LONG_WAIT_MS = 60000;

class TestTrans : public KV_FileReqTrans
{
public:
    // Executed, as a transfer request is when it asks the file managers.
    TestTrans() : KV_FileReqTrans(log), log(reqtest::TestParams()) { reset_executed(); }
    ~TestTrans() override { set_term_status(); }
    bool operator==(const KV_FileReq&) const override { return false; }
    const char* get_descr(KV_String&, bool) const override { return "Transfer"; }
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }
    // No worker of these tests dispatches it.
    bool run_on(KV_Tavo&) override { return false; }
    KV_TransLogTrans& log_trans() const override { return log; }

    mutable reqtest::TestLog log;
};

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An FTP data source on the server that the fixture starts.
class FtpEngine : public kvtest::FtpPeerTest
{
protected:
    void TearDown() override
    {
        fm_ftp.reset();
        kvtest::FtpPeerTest::TearDown();
    }

    // The file manager for the server on `port`, with `n` workers.
    void make_fm(uint32_t n = 2, uint32_t tmout_s = 10)
    {
        params.set_name("Ftp");
        params.set_dst_addr(("127.0.0.1:" + std::to_string(port)).c_str());
        params.set_ldata(KV_FtpLoginData("anonymous", "test@", ""));
        params.opts_ftp().set_ntavos(n);
        params.opts_ftp().ftp().set_tmout_cmd_resp(tmout_s);
        params.opts_ftp().ftp().set_conn_mode(KV_FTP_CONN_PASSIVE);
        params.opts_ftp().set_rest_wait(0);
        params.opts_ftp().set_nretries(3);
        fm_ftp = std::make_unique<KV_FileManFtp>(
            KV_FileManId(KV_DsId(2, "Ftp", "anonymous", "127.0.0.1"), 1));
        fm_ftp->set_ssl_ctx(&ctx);
        ASSERT_TRUE(fm_ftp->init(&params));
        ASSERT_TRUE(fm_ftp->start());
    }

    // The engine's path of a server path ("/pub/x").
    KV_PathDef path(const std::string& abs) const
    {
        KV_PathDef p;
        EXPECT_TRUE(params.opts().man_path().split_path(abs.c_str(), p, true));
        p.prepend("Ftp");
        return p;
    }

    KV_REQ_STAT run(KV_FileReq* r, uint32_t wait_ms = LONG_WAIT_MS)
    {
        KV_FileReqObs obs;
        if (!fm_ftp->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(wait_ms)) << "request did not end";
        return obs.status();
    }

    KV_REQ_STAT rename(const std::string& from, const std::string& to, bool replace)
    {
        return run(new KV_FileReqRen(eh, path(from), path(to), false, replace));
    }

    // pyftpdlib commands seen by the server, from its log.
    int count_cmd(const std::string& verb) const
    {
        const std::string log = server_log();
        int n = 0;
        const std::string key = "] <- " + verb;
        for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
            ++n;
        return n;
    }

    KV_FileManParamsFtp params;
    std::unique_ptr<KV_FileManFtp> fm_ftp;
};

// pyftpdlib logs every command only at debug level.
const std::string kDebugLog = "logging.getLogger('pyftpdlib').setLevel(logging.DEBUG)\n";

// ---------------------------------------------------------------------------
// Renames, deletes, permissions

TEST_F(FtpEngine, RenameOntoExistingNameReplacesTheTargetOnVsftpd)
{
    if (!start_vsftpd(""))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    std::ofstream(pub() + "/new.txt") << "new\n";
    give_to_ftp(pub() + "/new.txt");
    make_fm();
    EXPECT_EQ(rename("/pub/new.txt", "/pub/old.txt", true), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_EQ(read_all(pub() + "/old.txt"), "new\n");
    EXPECT_FALSE(fs::exists(pub() + "/new.txt"));
    // Without leave to replace, an existing name is kept when the server
    // refuses; vsftpd renames over it, as rename(2) does.
    std::ofstream(pub() + "/a.txt") << "a";
    give_to_ftp(pub() + "/a.txt");
    EXPECT_EQ(rename("/pub/a.txt", "/pub/b.txt", false), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_EQ(read_all(pub() + "/b.txt"), "a");
}

// A server that will not rename over an existing file: the target is moved
// aside, the rename done, and only then the old target deleted.
const std::string kNoOverwrite = kDebugLog + R"(
import os
class Handler(FTPHandler):
    def ftp_RNTO(self, path):
        if os.path.exists(path):
            self.respond('553 Target exists.')
            return
        return FTPHandler.ftp_RNTO(self, path)
)";

// A server that keeps targets and cannot rename this source at all (a
// reason of the source's, found only at RNTO): the target must survive.
const std::string kRenameFails = kDebugLog + R"(
import os
class Handler(FTPHandler):
    def ftp_RNTO(self, path):
        if os.path.exists(path) or os.path.basename(self._rnfr or '') == 'new.txt':
            self.respond('553 Not allowed.')
            return
        return FTPHandler.ftp_RNTO(self, path)
)";

TEST_F(FtpEngine, RenameOntoExistingNameWithAServerThatKeepsTargets)
{
    if (!start_pyftpd(kNoOverwrite))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    std::ofstream(pub() + "/old.txt") << "old\n";
    std::ofstream(pub() + "/new.txt") << "new\n";
    make_fm();
    EXPECT_EQ(rename("/pub/new.txt", "/pub/old.txt", true), KV_REQ_STAT_COMPLETED) << eh.all();
    EXPECT_EQ(read_all(pub() + "/old.txt"), "new\n");
    EXPECT_FALSE(fs::exists(pub() + "/new.txt"));
    // Nothing is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(pub())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
    // Without leave to replace, the refusal stands.
    std::ofstream(pub() + "/x.txt") << "x";
    EXPECT_EQ(rename("/pub/x.txt", "/pub/old.txt", false), KV_REQ_STAT_ERROR);
    EXPECT_EQ(read_all(pub() + "/old.txt"), "new\n");
}

TEST_F(FtpEngine, FailedReplaceRenameNeverLosesTheTarget)
{
    if (!start_pyftpd(kRenameFails))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    std::ofstream(pub() + "/old.txt") << "old\n";
    std::ofstream(pub() + "/new.txt") << "new\n";
    make_fm();
    EXPECT_EQ(rename("/pub/new.txt", "/pub/old.txt", true), KV_REQ_STAT_ERROR);
    EXPECT_EQ(read_all(pub() + "/old.txt"), "old\n");
    EXPECT_EQ(read_all(pub() + "/new.txt"), "new\n");
    // A source that does not exist leaves the target alone as well.
    EXPECT_EQ(rename("/pub/none.txt", "/pub/old.txt", true), KV_REQ_STAT_ERROR);
    EXPECT_EQ(read_all(pub() + "/old.txt"), "old\n");
    EXPECT_EQ(count_cmd("DELE"), 0);
}

TEST_F(FtpEngine, DeleteMakeFolderAndPermissions)
{
    if (!start_pyftpd(kDebugLog))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    std::ofstream(pub() + "/f.txt") << "f";
    fs::create_directories(pub() + "/d");
    make_fm();
    EXPECT_EQ(run(new KV_FileReqChmod(eh, path("/pub/f.txt"), "600", "")), KV_REQ_STAT_COMPLETED)
        << eh.all();
    struct stat st;
    ASSERT_EQ(::stat((pub() + "/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/pub/f.txt"), false))),
              KV_REQ_STAT_COMPLETED);
    EXPECT_FALSE(fs::exists(pub() + "/f.txt"));
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/pub/d"), true))),
              KV_REQ_STAT_COMPLETED);
    EXPECT_FALSE(fs::exists(pub() + "/d"));
    EXPECT_EQ(count_cmd("RMD"), 1);
    EXPECT_EQ(count_cmd("DELE"), 1);
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, path("/pub/made"))), KV_REQ_STAT_COMPLETED);
    EXPECT_TRUE(fs::is_directory(pub() + "/made"));
    // A file that is not there: an error with the server's reason.
    EXPECT_EQ(run(new KV_FileReqRm(eh, KV_PathDefDir(path("/pub/none"), false))),
              KV_REQ_STAT_ERROR);
}

TEST_F(FtpEngine, CurrentFolderOfAMissingStartFolderIsTheServers)
{
    if (!start_vsftpd(""))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    make_fm();
    KV_FileReqPwd* r = new KV_FileReqPwd(eh, *fm_ftp, "/nowhere");
    EXPECT_EQ(run(r), KV_REQ_STAT_COMPLETED) << eh.all();
    bool pwd = false;
    while (KV_Msg* m = fm_ftp->informer().pop()) {
        if (m->type() == KV_MSG_TREE_PWD) {
            const KV_PathDef& p = static_cast<KV_MsgTreePwd*>(m)->path;
            pwd = p.entries() >= 1 && p.at(0) == "Ftp";
        }
        KV_Informer::destroy(m);
    }
    EXPECT_TRUE(pwd);
}

TEST_F(FtpEngine, ManageCommands)
{
    if (!start_pyftpd(kDebugLog))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm(1);
    // A user's command goes out as typed (trimmed).
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_USER, "  SITE HELP ")),
              KV_REQ_STAT_COMPLETED)
        << eh.all();
    EXPECT_EQ(count_cmd("SITE HELP"), 1);
    // A keep-alive on the open connection sends NOOP.
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_KEEP_ALIVE, "")), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(count_cmd("NOOP"), 1);
    // A disconnect closes it; the next request logs in again.
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_DISCONNECT, "")), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(run(new KV_FileReqUMan(eh, 0, KV_MANAGE_CMD_CONNECT, "")), KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(count_cmd("USER"), 2);
    EXPECT_EQ(count_cmd("NOOP"), 1);
}

TEST_F(FtpEngine, WorkersLogInAheadOfUse)
{
    if (!start_pyftpd(kDebugLog))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    params.opts_ftp().set_ntavos(3);
    params.opts_ftp().set_ntavos_conn(2);
    make_fm(3);
    // Before the first folder query nothing connects ahead.
    fm_ftp->set_pwd_done(true);
    // The user-interface thread's part: the notices reach the manager, the
    // worker set's change among them.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (count_cmd("PASS") < 2 && std::chrono::steady_clock::now() < until) {
        while (KV_Msg* m = fm_ftp->informer().pop()) {
            fm_ftp->process_ntf(m);
            KV_Informer::destroy(m);
        }
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(count_cmd("PASS"), 2) << server_log();
}

// ---------------------------------------------------------------------------
// Connection loss and the login wait

TEST_F(FtpEngine, LostConnectionRestartsTheRequest)
{
    // The first MKD drops the connection; the request runs again.
    if (!start_pyftpd(kDebugLog + R"(
import os
class Handler(FTPHandler):
    dropped = [False]
    def ftp_MKD(self, path):
        if not Handler.dropped[0]:
            Handler.dropped[0] = True
            self.close()
            return
        return FTPHandler.ftp_MKD(self, path)
)"))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm(1);
    EXPECT_EQ(run(new KV_FileReqMkDir(eh, path("/pub/again"))), KV_REQ_STAT_COMPLETED)
        << eh.all() << server_log();
    EXPECT_TRUE(fs::is_directory(pub() + "/again"));
    EXPECT_EQ(count_cmd("MKD"), 2);
}

// USER is answered with a reply that moves the login nowhere.
const std::string kStuckLogin = kDebugLog + R"(
class Handler(FTPHandler):
    def ftp_USER(self, line):
        self.respond('200 Noted.')
)";

TEST_F(FtpEngine, LoginWaitEndsWithTheCommandTimeOut)
{
    if (!start_pyftpd(kStuckLogin))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm(1, 1);
    const auto t0 = std::chrono::steady_clock::now();
    const KV_REQ_STAT st = run(new KV_FileReqMkDir(eh, path("/pub/x")), 30000);
    EXPECT_TRUE(st == KV_REQ_STAT_ERROR) << st;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 25s);
    EXPECT_NE(eh.all().find("Login timed out."), std::string::npos) << eh.all();
    EXPECT_FALSE(fs::exists(pub() + "/x"));
}

TEST_F(FtpEngine, StopEndsTheLoginWaitAtOnce)
{
    if (!start_pyftpd(kStuckLogin))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    // A command time-out far beyond the test's patience.
    make_fm(1, 600);
    auto* r = new KV_FileReqMkDir(eh, path("/pub/x"));
    KV_FileReqObs obs;
    ASSERT_TRUE(fm_ftp->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED));
    // Wait until the USER line went out, then cancel.
    for (int i = 0; i < 200 && count_cmd("USER") == 0; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_GE(count_cmd("USER"), 1) << server_log();
    r->stop(KV_STOP_CANCEL);
    EXPECT_FALSE(obs.wait(20000)) << "the stop did not end the login wait";
    EXPECT_EQ(obs.status(), KV_REQ_STAT_CANCELLED);
}

// ---------------------------------------------------------------------------
// The REST probe

const std::string kNoRest = kDebugLog + R"(
class Handler(FTPHandler):
    def ftp_REST(self, line):
        self.respond('502 Command not implemented.')
)";

TEST_F(FtpEngine, AServerWithoutRestMeansNoResumeAndTransfersGoOn)
{
    if (!start_pyftpd(kNoRest))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm();
    TestTrans t1;
    EXPECT_TRUE(fm_ftp->pretrans(t1));
    EXPECT_TRUE(t1.executed()) << "a refused REST failed the transfer";
    EXPECT_EQ(fm_ftp->rest_state(), 2u);
    EXPECT_FALSE(fm_ftp->impl_rest());
    EXPECT_FALSE(fm_ftp->can_resume_get());
    // The answer is kept: the next transfer does not ask again.
    TestTrans t2;
    EXPECT_TRUE(fm_ftp->pretrans(t2));
    EXPECT_TRUE(t2.executed());
    EXPECT_EQ(count_cmd("REST"), 1);
}

TEST_F(FtpEngine, AServerWithRestIsProbedOnceAndReset)
{
    if (!start_pyftpd(kDebugLog))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm();
    TestTrans t1;
    EXPECT_TRUE(fm_ftp->pretrans(t1));
    EXPECT_TRUE(t1.executed());
    EXPECT_EQ(fm_ftp->rest_state(), 1u);
    EXPECT_TRUE(fm_ftp->can_resume_get());
    TestTrans t2;
    EXPECT_TRUE(fm_ftp->pretrans(t2));
    const std::string log = server_log();
    EXPECT_NE(log.find("<- REST 100"), std::string::npos);
    EXPECT_NE(log.find("<- REST 0"), std::string::npos);
    EXPECT_EQ(count_cmd("REST"), 2);
}

TEST_F(FtpEngine, AnUnreachableServerLeavesRestUnknown)
{
    // Nothing listens on the port.
    make_fm(1, 2);
    TestTrans t;
    EXPECT_TRUE(fm_ftp->pretrans(t));
    EXPECT_FALSE(t.executed());
    EXPECT_EQ(fm_ftp->rest_state(), 0u);
}

TEST_F(FtpEngine, RestLockIsFreeWhileTheProbeWaitsOnTheServer)
{
    // REST is held until the test creates the gate file.
    const std::string gate = dir / "gate";
    if (!start_pyftpd(kDebugLog + R"(
import os, time
class Handler(FTPHandler):
    def ftp_REST(self, line):
        open(os.path.join(root, '..', 'rest-seen'), 'w').close()
        while not os.path.exists(os.path.join(root, '..', 'gate')):
            time.sleep(0.05)
        return FTPHandler.ftp_REST(self, line)
)"))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    make_fm();
    TestTrans t1;
    auto probe = std::async(std::launch::async, [&] { return fm_ftp->pretrans(t1); });
    for (int i = 0; i < 400 && !fs::exists(dir / "rest-seen"); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(fs::exists(dir / "rest-seen")) << server_log();
    // The capability queries answer while the probe is out.
    auto query = std::async(std::launch::async, [&] { return fm_ftp->can_resume_get(); });
    EXPECT_EQ(query.wait_for(10s), std::future_status::ready);
    std::ofstream(gate).close();
    EXPECT_TRUE(probe.get());
    EXPECT_FALSE(query.get());
    EXPECT_TRUE(t1.executed());
    EXPECT_EQ(fm_ftp->rest_state(), 1u);
}

// ---------------------------------------------------------------------------
// Capabilities without a server

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

TEST(FileManFtp, CapabilitiesFollowTheOptions)
{
    struct Case
    {
        bool rest_put;
        bool append;
        bool resume_put;
    };
    // REST support is not known yet, so only APPE lets an upload resume.
    for (const Case& c : {Case{true, false, false}, Case{false, true, true}, Case{true, true, true},
                          Case{false, false, false}}) {
        KV_FileManFtp fm(KV_FileManId(KV_DsId(2, "Ftp", "", ""), 1));
        KV_FileManParamsFtp p;
        p.set_name("Ftp");
        p.opts_ftp().ftp().set_use_rest_put(c.rest_put);
        p.opts_ftp().ftp().set_use_append(c.append);
        p.opts_ftp().set_min_frag_size(64);
        p.opts_ftp().set_ntavos(3);
        ASSERT_TRUE(fm.set_params(&p, nullptr));
        EXPECT_EQ(fm.can_resume_put(), c.resume_put) << c.rest_put << c.append;
        EXPECT_FALSE(fm.can_resume_get());
        uint32_t n = 99;
        EXPECT_EQ(fm.min_frag_size(n), 64 * 1024);
        EXPECT_EQ(n, fm.ntavos());
    }
    // Parameters of another kind give every default.
    KV_FileManFtp fm(KV_FileManId(KV_DsId(2, "Ftp", "", ""), 1));
    OtherParams other;
    other.set_name("x");
    ASSERT_TRUE(fm.set_params(&other, nullptr));
    uint32_t n = 7;
    EXPECT_EQ(fm.min_frag_size(n), 0);
    EXPECT_EQ(n, 7u);
    EXPECT_FALSE(fm.can_resume_put());
    EXPECT_EQ(fm.scan_cache(), 0u);
    EXPECT_EQ(fm.trans_mode(KV_FileData("a.txt", false)), KV_TRANS_MODE_BINARY);
}

TEST(TavoFtp, AReservedWorkerTakesOnlyItsOwnDTrans)
{
    KV_Informer inf;
    KV_TavoFtp w(inf);
    w.set_id(3);
    kvtest::NullErr eh;
    KV_FileReqMkDir mk(eh, KV_PathDef());
    KV_FileReqDTrans mine(eh, 3, "/a", 0);
    KV_FileReqDTrans other(eh, 4, "/a", 0);
    EXPECT_FALSE(w.busy(&mk));
    w.set_dtrans_busy(true);
    EXPECT_TRUE(w.busy(&mk));
    EXPECT_TRUE(w.busy(&other));
    EXPECT_FALSE(w.busy(&mine));
    bool busy_shown = false;
    while (KV_Msg* m = inf.pop()) {
        if (m->type() == KV_MSG_TAVO)
            busy_shown = busy_shown || static_cast<KV_MsgTavoNtf*>(m)->text1 == "Busy";
        KV_Informer::destroy(m);
    }
    EXPECT_TRUE(busy_shown);
    w.set_dtrans_busy(false);
    EXPECT_FALSE(w.busy(&mk));
}

} // namespace
