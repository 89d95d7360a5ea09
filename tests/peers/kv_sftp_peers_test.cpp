// SFTP against OpenSSH's sshd 9.2 (support/kv_sshd.h): the SFTP manager's
// actions against internal-sftp, the SFTP file manager through the request
// engine, and a scripted SFTP server of the test's own (a subsystem program
// that answers as the test tells it: cut and reordered READ answers, end of
// file with requests in flight, silence, an oversized length, bad names).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_filereqtask.h"
#include "ssh/kv_filemansftp.h"
#include "ssh/kv_sftpacttrans.h"
#include "ssh/kv_sftpman.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_nettest.h"
#include "support/kv_sshd.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

namespace fs = std::filesystem;

namespace {

using namespace kvtest;

std::string pattern(size_t n, unsigned seed = 1)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return s;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder in the test user's home, owned by the user, removed after.
class RemoteDir
{
public:
    RemoteDir()
    {
        static int n = 0;
        path_ = std::string("/home/") + Sshd::user + "/kvt-" + std::to_string(::getpid()) + "-" +
                std::to_string(++n);
        fs::create_directories(path_);
        sh(std::string("chown ") + Sshd::user + " " + path_);
    }
    ~RemoteDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // A file of the user's.
    void put(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(*this / name, std::ios::binary) << bytes;
        sh(std::string("chown ") + Sshd::user + " " + (*this / name));
    }

private:
    std::string path_;
};

class SftpPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "trusted-pks.bin").c_str()));
        KV_SshSess::man_key().clear();
        for (int i = 0; i < 50; ++i)
            host.push(KV_ANS_YES);
    }
    void TearDown() override
    {
        KV_SshSess::man_key().clear();
        KV_File::set_path(KV_PATH_HOST_KEYS, "");
    }

    bool start(const Sshd::Conf& conf = Sshd::Conf())
    {
        sshd = std::make_unique<Sshd>(conf);
        return sshd->ready();
    }

    void setup(KV_SftpMan& man)
    {
        man.set_informer(&informer);
        man.set_tavo_id(7);
        man.set_file_man(&fm, nullptr);
        man.set_addrs("", sshd->addr().c_str(), KV_ProxyOptsSsh());
        man.set_ldata(KV_SshLoginData(Sshd::user, Sshd::pass));
    }

    // One action through exec; whether it was executed.
    bool run(KV_SftpMan& man, KV_SftpAct& act)
    {
        man.exec(err, act, nullptr);
        return act.executed();
    }

    std::unique_ptr<KV_TransLogCp> make_log(int64_t size, bool multifrag,
                                            const std::string& data_file = "")
    {
        KV_FileData fd("f.bin", "", size, KV_Time());
        fd.set_fd_flags(KV_FD_SIZE, 0);
        auto log = std::make_unique<KV_TransLogCp>(nullptr, data_file.c_str(), fd, KV_PathDef(),
                                                   KV_PathDef());
        log->set_flags_init(data_file.empty(), multifrag, KV_TRANS_MODE_BINARY,
                            KV_TRANS_MODE_BINARY);
        EXPECT_TRUE(log->set_name((dir / ("log" + std::to_string(++logs))).c_str()));
        EXPECT_TRUE(log->create(err));
        return log;
    }

    std::string stored(KV_TransLogCp& log)
    {
        const std::string out = dir / ("out" + std::to_string(++logs));
        KV_File f(out.c_str(), "wb");
        EXPECT_TRUE(f.open());
        EXPECT_TRUE(log.copy_frags(f, nullptr));
        f.close();
        return slurp(out);
    }

    TempDir dir;
    std::unique_ptr<Sshd> sshd;
    TrustFileMan fm;
    TrustHost host;
    KV_Informer informer;
    SessLog log{informer};
    LogErr err;
    int logs = 0;
};

TEST_F(SftpPeer, SimpleActionsAgainstInternalSftp)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    RemoteDir rd;
    KV_SftpMan man;
    setup(man);

    KV_SftpActPwd pwd;
    ASSERT_TRUE(run(man, pwd)) << err.all() << sshd->log();
    EXPECT_EQ(kvtest::bytes(pwd.path()), std::string("/home/") + Sshd::user);
    EXPECT_TRUE(log.has("INIT ( version: 3 )", KV_SESS_LOG_SENT));
    EXPECT_TRUE(log.has("VERSION ( 3 )", KV_SESS_LOG_RECV));
    EXPECT_TRUE(log.has("REALPATH ", KV_SESS_LOG_SENT));

    KV_SftpActMkDir mk(sftp_str((rd / "new").c_str()));
    ASSERT_TRUE(run(man, mk)) << err.all();
    EXPECT_TRUE(fs::is_directory(rd / "new"));

    rd.put("f", "data");
    KV_SftpFileAttr attrs;
    attrs.set_flags(KV_SftpFileAttr::perm_flag);
    attrs.set_permissions(0x1ED);
    KV_SftpActSetstat chmod(sftp_str((rd / "f").c_str()), attrs);
    ASSERT_TRUE(run(man, chmod)) << err.all();
    struct stat st;
    ASSERT_EQ(::stat((rd / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    KV_SftpActRen ren(sftp_str((rd / "f").c_str()), sftp_str((rd / "g").c_str()));
    ASSERT_TRUE(run(man, ren)) << err.all();
    EXPECT_TRUE(fs::exists(rd / "g"));

    // Listing: the new folder and the renamed file, no "." or "..".
    KV_PathMan syntax('/');
    KV_FileListStore store(true, nullptr);
    KV_SftpActListParams params;
    params.path_man = &syntax;
    params.store = &store;
    ASSERT_TRUE(syntax.split_path(rd.path().c_str(), params.path, true));
    KV_SftpActList list(params);
    ASSERT_TRUE(run(man, list)) << err.all();
    std::vector<std::string> names;
    for (uint32_t i = 0; i < store.entries().size(); ++i)
        names.push_back(store.entries().at(i)->name().data());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"g", "new"}));

    KV_SftpActDel del(sftp_str((rd / "g").c_str()));
    ASSERT_TRUE(run(man, del)) << err.all();
    KV_SftpActRmDir rm(sftp_str((rd / "new").c_str()));
    ASSERT_TRUE(run(man, rm)) << err.all();
    EXPECT_FALSE(fs::exists(rd / "g"));
    EXPECT_FALSE(fs::exists(rd / "new"));

    // A failure carries the server's text; a new connection carries on.
    KV_SftpActDel gone(sftp_str((rd / "nothing").c_str()));
    EXPECT_FALSE(run(man, gone));
    EXPECT_NE(err.all().find("SFTP: "), std::string::npos) << err.all();
    man.close();
    KV_SftpActMkDir again(sftp_str((rd / "again").c_str()));
    ASSERT_TRUE(run(man, again)) << err.all();
    EXPECT_TRUE(fs::is_directory(rd / "again"));
}

TEST_F(SftpPeer, DownloadsAndUploadsAreByteExact)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    RemoteDir rd;
    KV_SftpMan man;
    setup(man);
    const std::string data = pattern(1000003);
    rd.put("big", data);
    rd.put("empty", "");

    // Whole.
    {
        auto l = make_log(static_cast<int64_t>(data.size()), false);
        KV_SftpActGet get((rd / "big").c_str(), "", int64_t{0}, l.get());
        ASSERT_TRUE(run(man, get)) << err.all() << sshd->log();
        EXPECT_TRUE(stored(*l) == data);
    }
    // Resumed: the first 300000 bytes are there already.
    {
        auto l = make_log(static_cast<int64_t>(data.size()), false);
        ASSERT_TRUE(l->write_at(0, reinterpret_cast<const unsigned char*>(data.data()), 300000));
        KV_SftpActGet get((rd / "big").c_str(), "", int64_t{300000}, l.get());
        ASSERT_TRUE(run(man, get)) << err.all();
        EXPECT_TRUE(stored(*l) == data);
    }
    // Four fragments, fetched last first.
    {
        auto l = make_log(static_cast<int64_t>(data.size()), true);
        l->man_frag().set_min_size(static_cast<int64_t>(data.size() / 4 + 1));
        ASSERT_TRUE(l->init_frags(true));
        std::vector<KV_FileFrag*> frags;
        for (KV_FileFrag* f = nullptr; frags.size() < 10 && l->man_frag().take(&f) && f;
             f = nullptr) {
            f->set_state(KV_FileFrag::IN_TRANSFER);
            frags.push_back(f);
        }
        ASSERT_EQ(frags.size(), 4u);
        for (auto it = frags.rbegin(); it != frags.rend(); ++it) {
            KV_SftpActGet get((rd / "big").c_str(), "", *it, l.get());
            ASSERT_TRUE(run(man, get)) << err.all();
            EXPECT_TRUE((*it)->done());
        }
        EXPECT_TRUE(stored(*l) == data);
    }
    // Empty.
    {
        auto l = make_log(0, false);
        KV_SftpActGet get((rd / "empty").c_str(), "", int64_t{0}, l.get());
        ASSERT_TRUE(run(man, get)) << err.all();
        EXPECT_EQ(l->size(), 0);
    }
    // Upload whole, then resumed onto a file that holds the first part.
    const std::string src = dir / "src.bin";
    std::ofstream(src, std::ios::binary) << data;
    {
        auto l = make_log(static_cast<int64_t>(data.size()), false, src);
        KV_SftpActPut put(src.c_str(), (rd / "up").c_str(), l.get(), 0);
        ASSERT_TRUE(run(man, put)) << err.all();
        EXPECT_TRUE(slurp(rd / "up") == data);
    }
    {
        rd.put("up2", data.substr(0, 123457));
        auto l = make_log(static_cast<int64_t>(data.size()), false, src);
        KV_SftpActPut put(src.c_str(), (rd / "up2").c_str(), l.get(), 123457);
        ASSERT_TRUE(run(man, put)) << err.all();
        EXPECT_TRUE(slurp(rd / "up2") == data);
    }
    // A long download logs one READ and one DATA line.
    const auto lines = log.lines();
    EXPECT_LT(std::count_if(lines.begin(), lines.end(),
                            [](const SessLog::Line& l) { return l.text == "READ"; }),
              20);
}

// ---------------------------------------------------------------------------
// The file manager through the request engine

class SftpFileMan : public SftpPeer
{
protected:
    bool start_fm(const Sshd::Conf& conf = Sshd::Conf())
    {
        if (!start(conf))
            return false;
        fman = std::make_unique<KV_FileManSftp>(KV_FileManId(KV_DsId(4, "S", "", ""), 1));
        params.set_name("S");
        params.set_dst_addr(sshd->addr().c_str());
        params.set_ldata(KV_SshLoginData(Sshd::user, Sshd::pass));
        params.opts_sftp().set_ntavos(1);
        EXPECT_TRUE(fman->init(&params));
        EXPECT_TRUE(fman->start());
        return true;
    }
    void TearDown() override
    {
        fman.reset();
        SftpPeer::TearDown();
    }

    KV_REQ_STAT run_req(KV_FileReq* r)
    {
        KV_FileReqObs obs;
        if (!fman->add_req(r, nullptr, &obs, KV_REQ_STAT_QUEUED))
            return KV_REQ_STAT_ERROR;
        EXPECT_FALSE(obs.wait(120000)) << "request did not end";
        return obs.status();
    }

    KV_PathDef remote(const std::string& text) const
    {
        KV_PathDef p;
        EXPECT_TRUE(fman->man_path().split_path(text.c_str(), p, true));
        p.prepend("S");
        return p;
    }

    KV_FileManParamsSftp params;
    std::unique_ptr<KV_FileManSftp> fman;
};

TEST_F(SftpFileMan, RequestsBecomeSftpActions)
{
    if (!start_fm())
        GTEST_SKIP() << sshd->why();
    RemoteDir rd;
    EXPECT_EQ(run_req(new KV_FileReqMkDir(err, remote(rd / "m"))), KV_REQ_STAT_COMPLETED)
        << err.all() << sshd->log();
    EXPECT_TRUE(fs::is_directory(rd / "m"));

    rd.put("a", "source");
    rd.put("b", "target");
    EXPECT_EQ(run_req(new KV_FileReqChmod(err, remote(rd / "a"), "755", "-rwxr-xr-x")),
              KV_REQ_STAT_COMPLETED)
        << err.all();
    struct stat st;
    ASSERT_EQ(::stat((rd / "a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    // Onto an existing name: the target is replaced, nothing else is left.
    EXPECT_EQ(run_req(new KV_FileReqRen(err, remote(rd / "a"), remote(rd / "b"), false, true)),
              KV_REQ_STAT_COMPLETED)
        << err.all();
    EXPECT_EQ(slurp(rd / "b"), "source");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(rd.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"b", "m"}));

    // A rename that fails keeps the target.
    EXPECT_EQ(
        run_req(new KV_FileReqRen(err, remote(rd / "missing"), remote(rd / "b"), false, true)),
        KV_REQ_STAT_ERROR);
    EXPECT_EQ(slurp(rd / "b"), "source");

    KV_FileListStore store(true, nullptr);
    EXPECT_EQ(run_req(new KV_FileReqScan(err, remote(rd.path()), &store, false, false)),
              KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(store.entries().size(), 2u);

    EXPECT_EQ(run_req(new KV_FileReqRm(err, KV_PathDefDir(remote(rd / "b"), false))),
              KV_REQ_STAT_COMPLETED);
    EXPECT_EQ(run_req(new KV_FileReqRm(err, KV_PathDefDir(remote(rd / "m"), true))),
              KV_REQ_STAT_COMPLETED);
    EXPECT_FALSE(fs::exists(rd / "b"));
    EXPECT_FALSE(fs::exists(rd / "m"));
}

// ---------------------------------------------------------------------------
// The scripted server

// The subsystem program: SFTP version 3 over stdin and stdout, its
// behaviour picked by the word in the file "mode" beside it.
const char* kScript = R"PY(
import os, select, struct, sys
here = os.path.dirname(os.path.abspath(__file__))
mode = open(os.path.join(here, 'mode')).read().strip()
pending = []
data = open(os.path.join(here, 'data'), 'rb').read()
inp = sys.stdin.buffer
out = sys.stdout.buffer
def get(n):
    b = b''
    if pending and not select.select([inp], [], [], 0.05)[0]:
        flush()
    while len(b) < n:
        c = inp.read(n - len(b))
        if not c:
            sys.exit(0)
        b += c
    return b
def send(t, body):
    out.write(struct.pack('>IB', len(body) + 1, t) + body)
    out.flush()
def s(b):
    return struct.pack('>I', len(b)) + b
def status(i, code, msg=b''):
    send(101, struct.pack('>II', i, code) + s(msg) + s(b''))
def flush():
    global pending
    for p in (reversed(pending) if mode == 'reorder' else pending):
        p()
    pending = []
while True:
    n, t = struct.unpack('>IB', get(5))
    body = get(n - 1)
    if t == 1:
        if mode == 'oversized':
            out.write(struct.pack('>IB', 0x7fffffff, 2) + b'\0\0\0\3')
            out.flush()
            continue
        send(2, struct.pack('>I', 3))
        continue
    i = struct.unpack('>I', body[:4])[0]
    if mode == 'silent':
        continue
    if t == 3 or t == 11:
        send(102, struct.pack('>I', i) + s(b'h'))
    elif t == 5:
        hl = struct.unpack('>I', body[4:8])[0]
        off, ln = struct.unpack('>QI', body[8 + hl:20 + hl])
        if off >= len(data):
            ans = (lambda i=i: status(i, 1, b'EOF'))
        else:
            cut = ln if mode not in ('short', 'reorder') else max(1, ln // 3)
            ans = (lambda i=i, off=off, cut=cut: send(103, struct.pack('>I', i) + s(data[off:off+cut])))
        pending.append(ans)
        if len(pending) >= 4:
            flush()
        continue
    elif t == 12:
        flush()
        if mode == 'names':
            mode = 'names-done'
            ent = b''
            for nm in (b'..', b'a/b', b'', b'.', b'ok'):
                ent += s(nm) + s(b'x') + struct.pack('>I', 0)
            send(104, struct.pack('>II', i, 5) + ent)
        else:
            status(i, 1)
    else:
        flush()
        status(i, 0)
)PY";

class SftpScripted : public SftpPeer
{
protected:
    bool start_script(const std::string& mode, const std::string& data)
    {
        const std::string sd = dir / "srv";
        fs::create_directories(sd);
        ::chmod(dir.c_str(), 0755);
        ::chmod(sd.c_str(), 0755);
        std::ofstream(sd + "/srv.py") << kScript;
        std::ofstream(sd + "/mode") << mode;
        std::ofstream(sd + "/data", std::ios::binary) << data;
        for (const char* f : {"/srv.py", "/mode", "/data"})
            ::chmod((sd + f).c_str(), 0644);
        const std::string py = find_program("python3");
        if (py.empty())
            return false;
        Sshd::Conf conf;
        conf.subsystem = py + " " + sd + "/srv.py";
        return start(conf);
    }
};

TEST_F(SftpScripted, CutAndReorderedAnswersLandAtTheirOffsets)
{
    const std::string data = pattern(100000, 3);
    for (const char* mode : {"short", "reorder"}) {
        SCOPED_TRACE(mode);
        if (!start_script(mode, data))
            GTEST_SKIP() << (sshd ? sshd->why() : "no python3");
        KV_SftpMan man;
        setup(man);
        auto l = make_log(static_cast<int64_t>(data.size()), false);
        KV_SftpActGet get("/x", "", int64_t{0}, l.get());
        ASSERT_TRUE(run(man, get)) << err.all() << sshd->log();
        EXPECT_TRUE(stored(*l) == data);
        man.close();
    }
}

TEST_F(SftpScripted, SilenceTimesOut)
{
    if (!start_script("silent", ""))
        GTEST_SKIP() << (sshd ? sshd->why() : "no python3");
    KV_SftpMan man;
    setup(man);
    KV_SftpManOpts o;
    o.set_tmout_msg_resp(2);
    man.set_opts(o);
    KV_SftpActMkDir mk(sftp_str("/x"));
    EXPECT_FALSE(run(man, mk));
    EXPECT_NE(err.all().find("SFTP: Message acknowledgment timed out."), std::string::npos)
        << err.all();
}

TEST_F(SftpScripted, OversizedLengthEndsTheConnection)
{
    if (!start_script("oversized", ""))
        GTEST_SKIP() << (sshd ? sshd->why() : "no python3");
    KV_SftpMan man;
    setup(man);
    KV_SftpActMkDir mk(sftp_str("/x"));
    EXPECT_FALSE(run(man, mk));
    EXPECT_FALSE(mk.executed());
}

TEST_F(SftpScripted, NamesThatLeaveTheFolderAreDropped)
{
    if (!start_script("names", ""))
        GTEST_SKIP() << (sshd ? sshd->why() : "no python3");
    KV_SftpMan man;
    setup(man);
    KV_PathMan syntax('/');
    KV_FileListStore store(true, nullptr);
    KV_SftpActListParams params;
    params.path_man = &syntax;
    params.store = &store;
    ASSERT_TRUE(syntax.split_path("/d", params.path, true));
    KV_SftpActList list(params);
    ASSERT_TRUE(run(man, list)) << err.all() << sshd->log();
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(std::string(store.entries().at(0)->name().data()), "ok");
}

} // namespace
