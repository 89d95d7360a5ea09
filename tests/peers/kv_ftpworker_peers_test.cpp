// FTP data sources end to end through the request and transfer engines,
// against vsftpd and scripted pyftpdlib servers on loopback: browsing,
// deleting a tree, downloads and uploads byte-compared in every connection
// mode, plain and FTPS, a download resumed after its data connection was
// cut, a file fetched in 4 fragments, a server without REST, a copy from
// one vsftpd to another, and copies of a tree with one large file that are
// killed and resumed until they are complete (checked by SHA-256).
//
// Sizes (environment): KV_FTPPEER_BIG_MIB (large file of the kill-and-resume
// copies, default 24), KV_FTPPEER_KILLS (kills per direction, default 4).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "datasources/kv_filemanparamsftp.h"
#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "ftp/kv_filemanftp.h"
#include "local/kv_filemanstd.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "support/kv_childproc.h"
#include "support/kv_filedigest.h"
#include "support/kv_ftppeer.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_filetransman.h"
#include "transfers/kv_transmantest.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using kvtest::digests;
using kvtest::sha256;
using kvtest::write_random;

uint64_t env_num(const char* name, uint64_t def)
{
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : def;
}

// A tree of small files in nested folders plus one large file.
void make_tree(const std::string& root, uint64_t big, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 40; ++i) {
        const std::string rel = "tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i);
        write_random(root + "/" + rel, rng() % 20000, rng());
    }
    write_random(root + "/tree/big.bin", big, rng());
}

// Owned by the anonymous FTP user, so that vsftpd lets it write there.
void give_tree_to_ftp(const std::string& path)
{
    const passwd* pw = ::getpwnam("ftp");
    if (pw == nullptr)
        return;
    std::error_code ec;
    ::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
    for (const auto& e : fs::recursive_directory_iterator(path, ec))
        ::chown(e.path().c_str(), pw->pw_uid, pw->pw_gid);
}

// One FTP data source and the local disk, with a transfer manager between
// them. The transfer files go to the test's own folder.
class Engine
{
public:
    Engine(const std::string& tmp, const std::string& dest, KV_SSLCtx* ctx, KV_FTP_CONN_MODE mode,
           KV_FTP_SECURE sec, uint32_t workers, const char* name = "Ftp",
           transtest::TestPool* reload = nullptr)
        : name(name)
    {
        ok = KV_File::set_path(KV_PATH_TMP, tmp.c_str());
        local_params.set_name("Local");
        local_params.opts_std().set_ntavos(2);
        local_params.opts_std().set_recycle(false);
        ok = ok && local.init(&local_params) && local.start();
        ftp_params.set_name(name);
        ftp_params.set_dst_addr(dest.c_str());
        ftp_params.set_ldata(KV_FtpLoginData("anonymous", "test@", ""));
        ftp_params.set_security(sec);
        ftp_params.opts_ftp().set_ntavos(workers);
        ftp_params.opts_ftp().set_rest_wait(0);
        ftp_params.opts_ftp().set_nretries(5);
        ftp_params.opts_ftp().set_min_frag_size(256);
        ftp_params.opts_ftp().ftp().set_tmout_cmd_resp(20);
        ftp_params.opts_ftp().ftp().set_conn_mode(mode);
        ftp = std::make_unique<KV_FileManFtp>(
            KV_FileManId(KV_DsId(2, name, "anonymous", dest.c_str()), 1));
        ftp->set_ssl_ctx(ctx);
        ok = ok && ftp->init(&ftp_params) && ftp->start();
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0);
        o.set_auto_rm_req_st(0);
        tm.set_opts(o);
        // A reload binds saved requests to the managers of this engine.
        if (reload != nullptr) {
            reload->add(&local);
            reload->add(ftp.get());
        }
        ok = ok && tm.init() && (reload == nullptr || tm.load_req(*reload)) && tm.start();
    }
    ~Engine()
    {
        tm.terminate();
        ftp.reset();
    }

    KV_PathDef remote(const std::string& abs) const
    {
        KV_PathDef p;
        ftp_params.opts().man_path().split_path(abs.c_str(), p, true);
        p.prepend(name.c_str());
        return p;
    }
    KV_PathDef disk(const std::string& abs) const
    {
        KV_PathDef p;
        local_params.opts().man_path().split_path(abs.c_str(), p, true);
        p.prepend("Local");
        return p;
    }

    // Runs a transfer request to its end; its final status.
    KV_REQ_STAT run(KV_FileReqTrans* r, std::chrono::seconds limit = 300s)
    {
        if (!tm.add_req(r))
            return KV_REQ_STAT_ERROR;
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const KV_REQ_STAT st = r->status();
            if (st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                st == KV_REQ_STAT_CANCELLED)
                return st;
            if (std::chrono::steady_clock::now() > until) {
                r->stop(KV_STOP_CANCEL);
                return KV_REQ_STAT_QUEUED;
            }
            std::this_thread::sleep_for(5ms);
        }
    }
    KV_REQ_STAT copy(KV_FileMan* from, KV_FileMan* to, const KV_PathDef& src, const KV_PathDef& dst,
                     const std::vector<std::string>& names, bool dtrans = false)
    {
        KVTL::KV_ListVal<KV_String> n;
        for (const auto& s : names)
            n.add(s.c_str());
        const KVTL::KV_ListVal<KV_String> none;
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        p.set_dtrans(dtrans);
        return run(new KV_FileReqTransCp(from, to, src, dst, n, none, p));
    }

    std::string name;
    bool ok = false;
    KV_FileManParamsStd local_params;
    KV_FileManStd local{KV_FileManId(KV_DsId(1, "Local", "", ""), 1)};
    KV_FileManParamsFtp ftp_params;
    std::unique_ptr<KV_FileManFtp> ftp;
    KV_FileTransMan tm;
    kvtest::LogErr eh;
};

class FtpWorkerPeer : public kvtest::FtpPeerTest
{
protected:
    void SetUp() override
    {
        kvtest::FtpPeerTest::SetUp();
        fs::create_directories(tmp());
        fs::create_directories(local());
    }
    void TearDown() override
    {
        engine.reset();
        engine2.reset();
        kvtest::FtpPeerTest::TearDown();
    }
    std::string tmp() const { return dir / "tmp"; }
    std::string local() const { return dir / "local"; }
    std::string dest() const { return "127.0.0.1:" + std::to_string(port); }

    bool make_engine(KV_FTP_CONN_MODE mode = KV_FTP_CONN_PASSIVE,
                     KV_FTP_SECURE sec = KV_FTP_SECURE_NONE, uint32_t workers = 2)
    {
        engine.reset();
        engine = std::make_unique<Engine>(tmp(), dest(), &ctx, mode, sec, workers);
        return engine->ok;
    }

    // A listing of the server folder `abs` through a listing request.
    std::set<std::string> browse(const std::string& abs)
    {
        std::set<std::string> out;
        KV_FileListStore store(true, nullptr);
        KV_FileReqObs obs;
        auto* r = new KV_FileReqScan(engine->eh, engine->remote(abs), &store, false, false);
        if (!engine->ftp->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED))
            return out;
        EXPECT_FALSE(obs.wait(60000));
        EXPECT_TRUE(obs.completed()) << engine->eh.all() << server_log();
        for (KV_FileTreeNode* n : store.entries())
            out.insert(std::string(n->name().data()) + (n->is_dir() ? "/" : ""));
        return out;
    }

    std::unique_ptr<Engine> engine;
    std::unique_ptr<Engine> engine2;
};

// ---------------------------------------------------------------------------
// Browsing and deleting

TEST_F(FtpWorkerPeer, BrowseAndDeleteATree)
{
    if (!start_vsftpd(""))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    make_tree(pub(), 100000, 7);
    give_tree_to_ftp(pub());
    ASSERT_TRUE(make_engine());
    const auto top = browse("/pub");
    EXPECT_TRUE(top.count("tree/")) << server_log();
    EXPECT_TRUE(top.count("old.txt"));
    const auto tree = browse("/pub/tree");
    EXPECT_TRUE(tree.count("big.bin"));
    EXPECT_TRUE(tree.count("d0/"));

    KVTL::KV_ListVal<KV_String> names;
    names.add("tree");
    KV_FileReqTransParamsRm p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    EXPECT_EQ(
        engine->run(new KV_FileReqTransRm(engine->ftp.get(), engine->remote("/pub"), names, p)),
        KV_REQ_STAT_COMPLETED)
        << engine->eh.all();
    EXPECT_FALSE(fs::exists(pub() + "/tree"));
    EXPECT_TRUE(fs::exists(pub() + "/old.txt"));
}

// ---------------------------------------------------------------------------
// Downloads and uploads in every mode

struct ModeCase
{
    KV_FTP_CONN_MODE mode;
    bool tls;
};

class FtpModes : public FtpWorkerPeer, public testing::WithParamInterface<ModeCase>
{
};

TEST_P(FtpModes, DownloadAndUploadAreByteIdentical)
{
    const ModeCase c = GetParam();
    if (!start_vsftpd(c.tls ? tls_conf("127.0.0.1", false) : std::string()))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    write_random(pub() + "/one.bin", (1 << 20) + 17, 1);
    write_random(local() + "/up.bin", (1 << 20) + 33, 2);
    ASSERT_TRUE(make_engine(c.mode, c.tls ? KV_FTP_SECURE_EXPLICIT : KV_FTP_SECURE_NONE));
    EXPECT_EQ(engine->copy(engine->ftp.get(), &engine->local, engine->remote("/pub"),
                           engine->disk(local()), {"one.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log();
    EXPECT_EQ(sha256(local() + "/one.bin"), sha256(pub() + "/one.bin"));
    EXPECT_EQ(engine->copy(&engine->local, engine->ftp.get(), engine->disk(local()),
                           engine->remote("/pub"), {"up.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log();
    EXPECT_EQ(sha256(pub() + "/up.bin"), sha256(local() + "/up.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    All, FtpModes,
    testing::Values(ModeCase{KV_FTP_CONN_PASSIVE, false}, ModeCase{KV_FTP_CONN_ACTIVE, false},
                    ModeCase{KV_FTP_CONN_AUTO, false}, ModeCase{KV_FTP_CONN_PASSIVE, true},
                    ModeCase{KV_FTP_CONN_ACTIVE, true}, ModeCase{KV_FTP_CONN_AUTO, true}),
    [](const testing::TestParamInfo<ModeCase>& i) {
        const char* m = i.param.mode == KV_FTP_CONN_PASSIVE  ? "Passive"
                        : i.param.mode == KV_FTP_CONN_ACTIVE ? "Active"
                                                             : "Auto";
        return std::string(m) + (i.param.tls ? "Ftps" : "Plain");
    });

// ---------------------------------------------------------------------------
// Resume, fragments, no REST

// The first RETR of each file sends 300 KB and drops the connection: the
// control connection goes while the data is still on its way (the first
// 100 KB before the drop, the rest after it). The cut waits for the data
// connection: dropping before the listener accepted it would reset the
// client's connection with nothing sent, and then nothing is there to keep.
const std::string kCutFirstRetr = R"(
import os, socket, time
from pyftpdlib.filesystems import AbstractedFS
cut = set()
class Handler(FTPHandler):
    pending = None
    def ftp_RETR(self, file):
        if file in cut:
            return FTPHandler.ftp_RETR(self, file)
        cut.add(file)
        self.pending = open(file, 'rb').read()[self._restart_position:][:300000]
        self._restart_position = 0
        self.respond('150 Sending part.')
        if self.data_channel is not None:
            self.cut_now()
    def _on_dtp_connection(self):
        if self.pending is not None:
            return self.cut_now()
        return FTPHandler._on_dtp_connection(self)
    def cut_now(self):
        data, self.pending = self.pending, None
        # A socket of our own: closing the handler closes its data channel.
        d = socket.socket(fileno=os.dup(self.data_channel.socket.fileno()))
        d.setblocking(True)
        d.sendall(data[:100000])
        self.close()
        time.sleep(0.3)
        d.sendall(data[100000:])
        d.shutdown(socket.SHUT_RDWR)
        d.close()
)";

TEST_F(FtpWorkerPeer, DownloadResumesAfterACutConnection)
{
    if (!start_pyftpd("logging.getLogger('pyftpdlib').setLevel(logging.DEBUG)\n" + kCutFirstRetr))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    write_random(pub() + "/cut.bin", 3 << 20, 3);
    ASSERT_TRUE(make_engine(KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_NONE, 1));
    // One worker and no fragments: the whole file in one stream.
    engine->ftp_params.opts_ftp().set_min_frag_size(0);
    ASSERT_TRUE(engine->ftp->set_params(&engine->ftp_params, nullptr));
    EXPECT_EQ(engine->copy(engine->ftp.get(), &engine->local, engine->remote("/pub"),
                           engine->disk(local()), {"cut.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log();
    EXPECT_EQ(sha256(local() + "/cut.bin"), sha256(pub() + "/cut.bin"));
    // The second attempt went on from where the first stopped: every byte
    // the server sent before the drop was kept.
    const std::string log = server_log();
    EXPECT_NE(log.find("<- REST 300000\n"), std::string::npos) << engine->eh.all() << log;
}

TEST_F(FtpWorkerPeer, FourFragmentsOfOneFile)
{
    if (!start_pyftpd("logging.getLogger('pyftpdlib').setLevel(logging.DEBUG)\n"))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    write_random(pub() + "/frag.bin", 4 << 20, 4);
    ASSERT_TRUE(make_engine(KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_NONE, 4));
    EXPECT_EQ(engine->copy(engine->ftp.get(), &engine->local, engine->remote("/pub"),
                           engine->disk(local()), {"frag.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log();
    EXPECT_EQ(sha256(local() + "/frag.bin"), sha256(pub() + "/frag.bin"));
    // Four streams, three of them from inside the file.
    const std::string log = server_log();
    int retr = 0;
    for (size_t at = log.find("<- RETR"); at != std::string::npos; at = log.find("<- RETR", at + 1))
        ++retr;
    EXPECT_EQ(retr, 4) << log;
    EXPECT_NE(log.find("<- REST 3145728"), std::string::npos) << log;
}

TEST_F(FtpWorkerPeer, AServerWithoutRestStillTransfers)
{
    if (!start_pyftpd("logging.getLogger('pyftpdlib').setLevel(logging.DEBUG)\n"
                      "class Handler(FTPHandler):\n"
                      "    def ftp_REST(self, line):\n"
                      "        self.respond('502 Command not implemented.')\n"))
        GTEST_SKIP() << kvtest::kNoPyftpd;
    write_random(pub() + "/norest.bin", 3 << 20, 5);
    write_random(local() + "/up.bin", 1 << 20, 6);
    ASSERT_TRUE(make_engine(KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_NONE, 4));
    EXPECT_EQ(engine->copy(engine->ftp.get(), &engine->local, engine->remote("/pub"),
                           engine->disk(local()), {"norest.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log();
    EXPECT_EQ(sha256(local() + "/norest.bin"), sha256(pub() + "/norest.bin"));
    EXPECT_EQ(engine->copy(&engine->local, engine->ftp.get(), engine->disk(local()),
                           engine->remote("/pub"), {"up.bin"}),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all();
    EXPECT_EQ(sha256(pub() + "/up.bin"), sha256(local() + "/up.bin"));
    EXPECT_EQ(engine->ftp->rest_state(), 2u);
}

// ---------------------------------------------------------------------------
// Server to server

TEST_F(FtpWorkerPeer, ServerToServerBetweenTwoVsftpd)
{
    if (!start_vsftpd(""))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    // A second vsftpd over a root of its own.
    const std::string root2 = dir / "root2";
    fs::create_directories(root2 + "/pub");
    fs::permissions(root2, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    give_tree_to_ftp(root2 + "/pub");
    const uint16_t port2 = kvtest::closed_port();
    std::ofstream(dir / "vsftpd2.conf")
        << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port2
        << "\nbackground=NO\nanonymous_enable=YES\nanon_root=" << root2
        << "\nno_anon_password=YES\nftp_username=ftp\nseccomp_sandbox=NO\npasv_enable=YES\n"
           "secure_chroot_dir=/var/run/vsftpd/empty\nxferlog_enable=NO\nwrite_enable=YES\n"
           "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
           "anon_umask=022\n";
    kvtest::ChildProc second(kvtest::find_program("/usr/sbin/vsftpd"),
                             std::vector<std::string>{dir / "vsftpd2.conf"}, dir / "vsftpd2.log");
    ASSERT_TRUE(second.wait_port(port2)) << second.log();
    write_random(pub() + "/s2s.bin", (2 << 20) + 5, 8);

    ASSERT_TRUE(make_engine());
    // The first engine's transfer request holds this one's managers: it
    // goes first (TearDown).
    engine2 = std::make_unique<Engine>(tmp(), "127.0.0.1:" + std::to_string(port2), &ctx,
                                       KV_FTP_CONN_PASSIVE, KV_FTP_SECURE_NONE, 2, "Ftp2");
    ASSERT_TRUE(engine2->ok);
    EXPECT_EQ(engine->copy(engine->ftp.get(), engine2->ftp.get(), engine->remote("/pub"),
                           engine2->remote("/pub"), {"s2s.bin"}, true),
              KV_REQ_STAT_COMPLETED)
        << engine->eh.all() << server_log() << second.log();
    EXPECT_EQ(sha256(root2 + "/pub/s2s.bin"), sha256(pub() + "/s2s.bin"));
}

// ---------------------------------------------------------------------------
// Kill and resume

// The child: one run of the engine over the folder of KV_FTPKILL_DIR, copying
// its tree down (KV_FTPKILL_DIR_DOWN=1) or up, against the server on
// KV_FTPKILL_PORT.
TEST(FtpKillResume, Child)
{
    const char* d = std::getenv("KV_FTPKILL_DIR");
    const char* port = std::getenv("KV_FTPKILL_PORT");
    if (d == nullptr || port == nullptr)
        GTEST_SKIP() << "started by FtpKillResume tests";
    const std::string root = d;
    const bool down = env_num("KV_FTPKILL_DOWN", 0) != 0;
    const std::string tmp = root + "/tmp";
    transtest::TestPool pool;
    Engine e(tmp, std::string("127.0.0.1:") + port, nullptr, KV_FTP_CONN_PASSIVE,
             KV_FTP_SECURE_NONE, 4, "Ftp", &pool);
    ASSERT_TRUE(e.ok);
    KV_FileTransMan& tm = e.tm;
    if (transtest::log_files(tmp, 2).empty()) {
        KVTL::KV_ListVal<KV_String> names;
        names.add("tree");
        const KVTL::KV_ListVal<KV_String> none;
        KV_FileReqTransParamsCp p;
        p.set_forced_exec(KV_FEXEC_FORCED);
        auto* r = down ? new KV_FileReqTransCp(e.ftp.get(), &e.local, e.remote("/pub"),
                                               e.disk(root + "/local"), names, none, p)
                       : new KV_FileReqTransCp(&e.local, e.ftp.get(), e.disk(root + "/local"),
                                               e.remote("/pub"), names, none, p);
        ASSERT_TRUE(tm.add_req(r));
    }
    KV_REQ_STAT st = KV_REQ_STAT_RUNNING;
    const auto until = std::chrono::steady_clock::now() + 600s;
    while (std::chrono::steady_clock::now() < until) {
        const auto logs = transtest::log_files(tmp, 2);
        if (logs.size() == 1) {
            st = transtest::log_status<KV_FileReqTransCp>(logs[0]);
            if (st == KV_REQ_STAT_COMPLETED || st == KV_REQ_STAT_ERROR ||
                st == KV_REQ_STAT_CANCELLED)
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(st, KV_REQ_STAT_COMPLETED);
}

pid_t spawn_child(const std::string& root, uint16_t port, bool down, const std::string& out)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<std::string> env_s;
    for (char** e = environ; *e != nullptr; ++e)
        env_s.emplace_back(*e);
    env_s.push_back("KV_FTPKILL_DIR=" + root);
    env_s.push_back("KV_FTPKILL_PORT=" + std::to_string(port));
    env_s.push_back(std::string("KV_FTPKILL_DOWN=") + (down ? "1" : "0"));
    std::vector<char*> envp;
    for (auto& s : env_s)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=FtpKillResume.Child";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

class FtpKillResume : public FtpWorkerPeer, public testing::WithParamInterface<bool>
{
};

TEST_P(FtpKillResume, TreeCopyKilledAndResumedIsIdentical)
{
    const bool down = GetParam();
    if (!start_vsftpd(""))
        GTEST_SKIP() << kvtest::kNoVsftpd;
    const uint64_t big = env_num("KV_FTPPEER_BIG_MIB", 24) << 20;
    const uint64_t kills = env_num("KV_FTPPEER_KILLS", 4);
    const std::string src = down ? pub() : local();
    const std::string dst = down ? local() : pub();
    make_tree(src, big, 11);
    give_tree_to_ftp(pub());
    const auto want = digests(src + "/tree");
    const std::string out = dir / "child.out";
    std::mt19937_64 rng(99);
    // Checks a finished copy against the source.
    auto verify = [&] {
        const auto got = digests(dst + "/tree");
        EXPECT_EQ(got, want);
        ASSERT_TRUE(got.count("big.bin"));
        EXPECT_EQ(got.at("big.bin"), want.at("big.bin"));
    };
    uint64_t killed = 0;
    uint64_t rounds = 0;
    uint64_t bound = 1500;
    while (killed < kills) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = spawn_child(dir.path(), port, down, out);
        ASSERT_GT(pid, 0);
        const auto deadline = started + std::chrono::milliseconds(20 + rng() % bound);
        int status = 0;
        bool gone = false;
        while (!(gone = waitpid(pid, &status, WNOHANG) == pid) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (!gone) {
            ::kill(pid, SIGKILL);
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ++killed;
            continue;
        }
        // The copy finished before its kill: check it, then start again
        // from nothing with kills that come sooner.
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kvtest::read_file(out);
        verify();
        ++rounds;
        const auto took =
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count());
        bound = std::max<uint64_t>(20, std::min(bound, took) * 3 / 4);
        fs::remove_all(dst + "/tree");
        fs::remove_all(tmp());
        fs::create_directories(tmp());
        give_tree_to_ftp(pub());
    }
    const pid_t pid = spawn_child(dir.path(), port, down, out);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << kvtest::read_file(out);
    verify();
    std::printf("ftp kill-and-resume (%s): %llu kills, %llu finished rounds, %zu files\n",
                down ? "down" : "up", static_cast<unsigned long long>(killed),
                static_cast<unsigned long long>(rounds), want.size());
}

INSTANTIATE_TEST_SUITE_P(Both, FtpKillResume, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "FtpToLocal" : "LocalToFtp");
                         });

} // namespace
