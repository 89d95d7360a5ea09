// The SSH transport against OpenSSH's sshd 9.2, started per test with a
// config of the test's own (support/kv_sshd.h) that switches on the legacy
// algorithms this client offers: login, host-key types, every cipher and
// MAC sshd still has, a server-started re-exchange, keep-alive probes,
// proxies and the trust questions.
#include <gtest/gtest.h>

#include <fstream>
#include <poll.h>
#include <string>
#include <thread>

#include "foundation/kv_file.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_sshconn.h"
#include "support/kv_sshd.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;

// The SFTP version-3 INIT and the start of the VERSION that answers it: a
// subsystem that speaks proves that the channel carries data both ways.
const std::string kSftpInit("\0\0\0\5\1\0\0\0\3", 9);

// The fixture itself: sshd answers with its identification line.
TEST(SshdFixture, StartsAndIdentifies)
{
    Sshd sshd;
    if (!sshd.ready())
        GTEST_SKIP() << sshd.why();
    Fd fd = plain_connect(sshd.port());
    ASSERT_TRUE(fd.ok());
    std::string line;
    char c = 0;
    while (line.size() < 255) {
        pollfd p{fd.get(), POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, kMustComeMs), 0) << sshd.log();
        if (::recv(fd.get(), &c, 1, 0) != 1 || c == '\n')
            break;
        line += c;
    }
    EXPECT_EQ(line.rfind("SSH-2.0-OpenSSH_9.2", 0), 0u) << line;
}

class SshPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "trusted-pks.bin").c_str()));
        KV_SshSess::man_key().clear();
    }
    void TearDown() override
    {
        KV_SshSess::man_key().clear();
        KV_File::set_path(KV_PATH_HOST_KEYS, "");
    }

    // Starts sshd; false when the test must be skipped.
    bool start(const Sshd::Conf& conf = Sshd::Conf())
    {
        sshd = std::make_unique<Sshd>(conf);
        return sshd->ready();
    }

    void setup(TestSshMan& man, KV_FileMan& file_man, const char* pass = Sshd::pass)
    {
        man.set_informer(&informer);
        man.set_tavo_id(7);
        man.set_file_man(&file_man, nullptr);
        man.set_addrs("", sshd->addr().c_str(), KV_ProxyOptsSsh());
        man.set_ldata(KV_SshLoginData(Sshd::user, pass));
    }

    // One exec of a counting action; true when it ran.
    bool run(TestSshMan& man, LogErr& err)
    {
        CountAct act;
        man.exec(err, act, nullptr);
        return act.runs == 1 && act.executed();
    }

    // The subsystem answers the SFTP INIT with a VERSION (type 2).
    bool sftp_talks(TestSshMan& man)
    {
        TestChan* c = man.chan();
        if (!c)
            return false;
        c->queue(kSftpInit);
        return eventually([&] {
            TestChan* now = man.chan();
            const std::string r = now ? now->received() : std::string();
            return r.size() >= 5 && r[4] == 2;
        });
    }

    TempDir dir;
    std::unique_ptr<Sshd> sshd;
    TrustFileMan fm;
    TrustHost host;
    KV_Informer informer;
    SessLog log{informer};
};

TEST_F(SshPeer, LoginOpensTheSftpChannel)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    TestSshMan man;
    setup(man, fm);
    LogErr err;
    ASSERT_TRUE(run(man, err)) << err.all() << sshd->log();
    EXPECT_TRUE(man.connected());
    EXPECT_TRUE(sftp_talks(man)) << sshd->log();
    EXPECT_TRUE(log.has("The server is running SSH2"));
    EXPECT_TRUE(log.has("New keys in use"));
    EXPECT_TRUE(log.has("Opening the subsystem: sftp"));
    EXPECT_EQ(err.count(), 0u) << err.all();
    // A second exec on the live connection neither reconnects nor asks.
    ASSERT_TRUE(run(man, err));
    EXPECT_EQ(man.conns.load(), 1);
    EXPECT_EQ(host.asked(), 1u);
}

TEST_F(SshPeer, WrongPasswordAndClosedPort)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    {
        TestSshMan man;
        setup(man, fm, "not-the-password");
        LogErr err;
        EXPECT_FALSE(run(man, err));
        EXPECT_EQ(err.last(), "SSH: User authentication failed") << err.all();
    }
    {
        TestSshMan man;
        setup(man, fm);
        man.set_addrs("", ("127.0.0.1:" + std::to_string(closed_port())).c_str(),
                      KV_ProxyOptsSsh());
        LogErr err;
        EXPECT_FALSE(run(man, err));
        EXPECT_TRUE(man.conn_err());
        EXPECT_EQ(err.last(), "SSH: Connection attempt failed.") << err.all();
    }
}

// One sshd per row, offering only that algorithm (and the client's default
// offer otherwise).
struct AlgRow
{
    const char* what;
    const char* ciphers;
    const char* macs;
    const char* host_keys;
};

class SshPeerAlgs : public SshPeer, public ::testing::WithParamInterface<AlgRow>
{
};

TEST_P(SshPeerAlgs, LogsInAndTalks)
{
    const AlgRow& row = GetParam();
    Sshd::Conf conf;
    if (row.ciphers)
        conf.ciphers = row.ciphers;
    if (row.macs)
        conf.macs = row.macs;
    if (row.host_keys)
        conf.host_key_algs = row.host_keys;
    if (!start(conf))
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    TestSshMan man;
    setup(man, fm);
    LogErr err;
    ASSERT_TRUE(run(man, err)) << row.what << "\n" << err.all() << sshd->log();
    EXPECT_TRUE(sftp_talks(man)) << row.what;
}

INSTANTIATE_TEST_SUITE_P(EachAlgorithm, SshPeerAlgs,
                         ::testing::Values(AlgRow{"3des-cbc", "3des-cbc", nullptr, nullptr},
                                           AlgRow{"aes128-cbc", "aes128-cbc", nullptr, nullptr},
                                           AlgRow{"aes192-cbc", "aes192-cbc", nullptr, nullptr},
                                           AlgRow{"aes256-cbc", "aes256-cbc", nullptr, nullptr},
                                           AlgRow{"hmac-md5", nullptr, "hmac-md5", nullptr},
                                           AlgRow{"hmac-sha1", nullptr, "hmac-sha1", nullptr},
                                           AlgRow{"hmac-sha1-96", nullptr, "hmac-sha1-96", nullptr},
                                           AlgRow{"hmac-md5-96", nullptr, "hmac-md5-96", nullptr},
                                           AlgRow{"ssh-rsa", nullptr, nullptr, "ssh-rsa"},
                                           AlgRow{"ssh-dss", nullptr, nullptr, "ssh-dss"}),
                         [](const ::testing::TestParamInfo<AlgRow>& i) {
                             std::string n = i.param.what;
                             for (char& c : n)
                                 if (c == '-')
                                     c = '_';
                             return n;
                         });

// sshd re-keys after 64 KiB each way: the channel goes on across several
// re-exchanges, with the first session identifier.
TEST_F(SshPeer, ServerRekeysMidTransfer)
{
    Sshd::Conf conf;
    conf.extra = "RekeyLimit 64K\n";
    if (!start(conf))
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    TestSshMan man;
    setup(man, fm);
    LogErr err;
    ASSERT_TRUE(run(man, err)) << err.all();
    ASSERT_TRUE(sftp_talks(man));
    // SFTP REALPATH "/" requests, each answered: enough traffic both ways
    // for several re-exchanges.
    TestChan* c = man.chan();
    ASSERT_NE(c, nullptr);
    std::string burst;
    const std::string path = "/";
    for (uint32_t id = 1; id <= 4000; ++id) {
        std::string m;
        m += '\x10';
        for (int s = 24; s >= 0; s -= 8)
            m += static_cast<char>(id >> s);
        m += std::string("\0\0\0\1", 4) + path;
        std::string framed;
        for (int s = 24; s >= 0; s -= 8)
            framed += static_cast<char>(m.size() >> s);
        burst += framed + m;
    }
    c->queue(burst);
    EXPECT_TRUE(
        eventually([&] { return man.chan() && man.chan()->received().size() > 4000 * 13; }, 30000))
        << sshd->log() << (man.chan() ? man.chan()->received().size() : 0) << "\n"
        << [&] {
               std::string t;
               for (const auto& l : log.lines())
                   t += l.text + "\n";
               return t;
           }();
    EXPECT_TRUE(man.connected());
    EXPECT_GE(log.lines().size(), 1u);
    size_t rekeys = 0;
    for (const auto& l : log.lines())
        rekeys += l.text == "Key (re)exchange started";
    EXPECT_GE(rekeys, 2u);
}

// sshd probes the client every second and gives up after two unanswered
// probes: the client's answers keep the connection.
TEST_F(SshPeer, KeepAliveProbesAreAnswered)
{
    Sshd::Conf conf;
    conf.extra = "ClientAliveInterval 1\nClientAliveCountMax 2\n";
    if (!start(conf))
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    TestSshMan man;
    setup(man, fm);
    LogErr err;
    ASSERT_TRUE(run(man, err)) << err.all();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    EXPECT_TRUE(man.connected()) << sshd->log();
    EXPECT_TRUE(sftp_talks(man));
}

// ---- trust

TEST_F(SshPeer, OneDataSourceAsksOnceAndAnswerOneDoesNotStore)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES);
    LogErr err;
    {
        TestSshMan a, b;
        setup(a, fm);
        setup(b, fm);
        ASSERT_TRUE(run(a, err)) << err.all();
        ASSERT_TRUE(run(b, err)) << err.all();
    }
    EXPECT_EQ(host.asked(), 1u);
    EXPECT_EQ(KV_SshSess::man_key().entries(), 0u);
    // Another data source knows nothing of that answer.
    TrustFileMan other;
    host.push(KV_ANS_NO);
    TestSshMan c;
    setup(c, other);
    EXPECT_FALSE(run(c, err));
    EXPECT_EQ(host.asked(), 2u);
    EXPECT_EQ(err.last(), "SSH: Server key not accepted.");
    EXPECT_NE(host.questions()[0].find("You're connecting to an untrusted server. ( Public key "
                                       "fingerprint: "),
              std::string::npos);
    EXPECT_EQ(host.kinds()[0], KV_ASK_TRUST2);
}

TEST_F(SshPeer, AnswerTwoStoresAndANewKeyIsAskedAgain)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    host.push(KV_ANS_YES_ALL);
    LogErr err;
    {
        TestSshMan a;
        setup(a, fm);
        ASSERT_TRUE(run(a, err)) << err.all();
    }
    EXPECT_EQ(KV_SshSess::man_key().entries(), 1u);
    {
        // A stored key passes without a question, for any data source.
        TrustFileMan other;
        TestSshMan b;
        setup(b, other);
        ASSERT_TRUE(run(b, err)) << err.all();
        EXPECT_EQ(host.asked(), 1u);
    }
    // The server comes back with other keys: the same data source is asked
    // again, and No refuses.
    ASSERT_TRUE(sshd->restart(Sshd::Conf(), true)) << sshd->why();
    host.push(KV_ANS_NO);
    TestSshMan c;
    setup(c, fm);
    EXPECT_FALSE(run(c, err));
    EXPECT_EQ(host.asked(), 2u);
    EXPECT_EQ(err.last(), "SSH: Server key not accepted.");
    EXPECT_EQ(KV_SshSess::man_key().entries(), 1u);
}

// ---- proxies

class SshPeerProxy : public SshPeer
{
protected:
    bool start_proxy(const std::string& program, const std::string& conf,
                     const std::vector<std::string>& args)
    {
        const std::string exe = find_program(program);
        if (exe.empty())
            return false;
        std::ofstream(dir / "proxy.conf") << conf;
        proxy = std::make_unique<ChildProc>(exe, args, dir / "proxy.log");
        return proxy->wait_port(pport);
    }
    bool via(KV_PROXY_SSH kind)
    {
        host.push(KV_ANS_YES);
        TestSshMan man;
        setup(man, fm);
        KV_ProxyOptsSsh p;
        p.set_addr("127.0.0.1");
        p.set_port(pport);
        p.set_type(kind);
        man.set_addrs("", sshd->addr().c_str(), p);
        LogErr err;
        const bool ok = run(man, err) && sftp_talks(man);
        EXPECT_EQ(err.count(), 0u) << err.all() << proxy->log();
        return ok;
    }
    const uint16_t pport = closed_port();
    std::unique_ptr<ChildProc> proxy;
};

TEST_F(SshPeerProxy, ThroughTinyproxyConnect)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    if (!start_proxy("tinyproxy",
                     "Port " + std::to_string(pport) +
                         "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\n",
                     {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed (package tinyproxy)";
    EXPECT_TRUE(via(KV_PROXY_SSH_CONNECT));
    EXPECT_TRUE(log.has("CONNECT " + sshd->addr() + " HTTP/1.0", KV_SESS_LOG_SENT));
}

// A destination without a port asks the proxy for port 22.
TEST_F(SshPeerProxy, ProxyTargetGetsPort22)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    if (!start_proxy("tinyproxy",
                     "Port " + std::to_string(pport) +
                         "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\n",
                     {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed (package tinyproxy)";
    TestSshMan man;
    setup(man, fm);
    man.tmout_open_ms = 2000;
    KV_ProxyOptsSsh p;
    p.set_addr("127.0.0.1");
    p.set_port(pport);
    p.set_type(KV_PROXY_SSH_CONNECT);
    man.set_addrs("", "127.0.0.1", p);
    LogErr err;
    EXPECT_FALSE(run(man, err));
    EXPECT_TRUE(log.has("CONNECT 127.0.0.1:22 HTTP/1.0", KV_SESS_LOG_SENT));
    // Nothing listens there: the proxy's refusal is a failed connection.
    EXPECT_EQ(err.last(), "SSH: Connection attempt failed.") << err.all();
}

TEST_F(SshPeerProxy, ThroughDanteSocks4And5)
{
    if (!start())
        GTEST_SKIP() << sshd->why();
    const std::string conf =
        "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(pport) +
        "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
        "user.privileged: root\nuser.unprivileged: nobody\n"
        "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n"
        "socks pass { from: 127.0.0.1/32 to: 0.0.0.0/0 command: connect }\n";
    if (!start_proxy("danted", conf, {"-f", dir / "proxy.conf"}))
        GTEST_SKIP() << "danted is not installed (package dante-server)";
    EXPECT_TRUE(via(KV_PROXY_SSH_SOCKS4));
    EXPECT_TRUE(via(KV_PROXY_SSH_SOCKS5));
}

} // namespace
