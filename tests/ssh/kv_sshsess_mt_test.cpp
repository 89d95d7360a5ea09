// The SSH transport session and connection manager against a scripted
// server of the tests' own (support/kv_sshscript.h): version lines, the
// key exchange's checks, the login and one channel, requests that want
// replies, and silences that must not hold the worker.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "foundation/kv_file.h"
#include "foundation/kv_stoppable.h"
#include "ssh/kv_sshkeyex.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_sshconn.h"
#include "support/kv_sshscript.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;
using Script = ScriptServer::Script;

class SshSess_MT : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_HOST_KEYS, (dir / "trusted-pks.bin").c_str()));
        KV_SshSess::man_key().clear();
    }
    void TearDown() override
    {
        KV_SshSess::man_key().clear();
        KV_File::set_path(KV_PATH_HOST_KEYS, "");
    }

    void setup(TestSshMan& man, const ScriptServer& srv, uint32_t tmout_ms = 3000)
    {
        man.set_informer(&informer);
        man.set_tavo_id(3);
        man.set_file_man(&fm, nullptr);
        man.set_addrs("", srv.addr().c_str(), KV_ProxyOptsSsh());
        man.set_ldata(KV_SshLoginData("tester", "pw-1"));
        man.tmout_open_ms = tmout_ms;
    }

    // One exec of a counting action against a server playing `s`; the
    // text reported, empty when none. ran: the action ran.
    std::string exec(const Script& s, bool& ran, uint32_t tmout_ms = 3000)
    {
        srv = std::make_unique<ScriptServer>(s);
        man = std::make_unique<TestSshMan>();
        setup(*man, *srv, tmout_ms);
        LogErr err;
        CountAct act;
        man->exec(err, act, nullptr);
        ran = act.runs == 1 && act.executed();
        return err.last();
    }

    TrustFileMan fm;
    TrustHost host;
    KV_Informer informer;
    SessLog log{informer};
    std::unique_ptr<ScriptServer> srv;
    std::unique_ptr<TestSshMan> man;
};

TEST_F(SshSess_MT, LoginOpensTheChannelAndCarriesData)
{
    host.push(KV_ANS_YES);
    Script s;
    s.version = "a line before\r\nanother one\nSSH-2.0-Script_1.0 comment\r\n";
    bool ran = false;
    EXPECT_EQ(exec(s, ran), "");
    ASSERT_TRUE(ran);
    TestChan* c = man->chan();
    ASSERT_NE(c, nullptr);
    c->queue("hello over the channel");
    EXPECT_TRUE(eventually([&] { return c->received() == "hello over the channel"; }));
    man->close();
    srv->join();
    EXPECT_EQ(srv->client_version, "SSH-2.0-Kivrel");
    EXPECT_EQ(srv->password, "pw-1");
    // The service request follows the client's NEWKEYS at once; the IGNORE
    // answers the server's NEWKEYS.
    const std::vector<uint8_t> want{20, 30, 21, 5, 2, 50, 90, 98, 94};
    EXPECT_EQ(srv->types_seen, want);
    EXPECT_TRUE(log.has("The server is running SSH2"));
    EXPECT_TRUE(log.has("Opening the subsystem: sftp"));
    // The password went to the server, and nowhere into the session log.
    for (const SessLog::Line& l : log.lines())
        EXPECT_EQ(l.text.find("pw-1"), std::string::npos) << l.text;
}

TEST_F(SshSess_MT, RequestsThatWantRepliesAreRefused)
{
    host.push(KV_ANS_YES);
    Script s;
    s.probe_requests = true;
    bool ran = false;
    EXPECT_EQ(exec(s, ran), "");
    ASSERT_TRUE(ran);
    EXPECT_TRUE(eventually([&] { return man->chan() != nullptr; }));
    man->chan()->queue("x");
    EXPECT_TRUE(eventually([&] { return man->chan() && man->chan()->received() == "x"; }));
    man->close();
    srv->join();
    EXPECT_TRUE(srv->got_request_failure);
    EXPECT_TRUE(srv->got_channel_failure);
}

TEST_F(SshSess_MT, BannerBeforeSuccessIsIgnored)
{
    host.push(KV_ANS_YES);
    Script s;
    s.banner = true;
    bool ran = false;
    EXPECT_EQ(exec(s, ran), "");
    EXPECT_TRUE(ran);
}

// Identification lines: what is accepted and what is refused with which
// text.
struct VersionRow
{
    const char* name;
    std::string sent;
    bool ok;
    std::string err;
};

TEST_F(SshSess_MT, VersionLines)
{
    const std::string long_soft(5000, 's');
    const VersionRow rows[] = {
        {"pre-lines", "hello\r\nx\nSSH-2.0-S\r\n", true, ""},
        {"1.99", "SSH-1.99-S\r\n", true, ""},
        {"LF alone", "SSH-2.0-S\n", true, ""},
        {"software version longer than its buffer", "SSH-2.0-" + long_soft + "\r\n", true, ""},
        {"1.5", "SSH-1.5-S\r\n", false, "SSH: Unsupported protocol version ( 1.5 )."},
        {"no software part", "SSH-2.0\r\n", false,
         "SSH: Invalid protocol version identification ( SSH-2.0 )."},
        {"empty software part", "SSH-2.0-\r\n", false,
         "SSH: Invalid protocol version identification ( SSH-2.0- )."},
        {"no LF, then silence", "SSH-2.0-S", false,
         "SSH: Invalid protocol version identification ( SSH-2.0-S )."},
        {"endless line", std::string(100000, 'z'), false,
         "SSH: Invalid protocol version identification ( " + std::string(64, 'z') + " )."},
        {"endless lines",
         [] {
             std::string t;
             for (int i = 0; i < 2000; ++i)
                 t += "line\r\n";
             return t;
         }(),
         false, "SSH: Invalid protocol version identification ( line )."},
    };
    for (const VersionRow& r : rows) {
        SCOPED_TRACE(r.name);
        host.reset();
        host.push(KV_ANS_YES);
        Script s;
        s.version = r.sent;
        s.version_only = !r.ok;
        bool ran = false;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(exec(s, ran, 1500), r.err);
        EXPECT_EQ(ran, r.ok);
        EXPECT_LT(ms_since(t0), 8000);
        man.reset();
        srv.reset();
    }
}

TEST_F(SshSess_MT, UnexpectedMessageWhileTheReplyIsDue)
{
    Script s;
    s.instead_of_reply = 50;
    bool ran = false;
    EXPECT_EQ(exec(s, ran), "SSH: Unexpected message received ( message type: 50 ).");
    EXPECT_FALSE(ran);
    EXPECT_TRUE(log.has("Unexpected message received ( message type: 50 )."));
}

// The client's KEXINIT: one method, both host-key types, the cipher table
// less the disabled names, five MACs, the compression order of the options.
TEST_F(SshSess_MT, Offer)
{
    struct Row
    {
        const char* disabled;
        bool compress;
        const char* ciphers;
        const char* comp;
    } rows[] = {
        {"none", true,
         "3des-cbc,blowfish-cbc,cast128-cbc,arcfour,aes128-cbc,aes192-cbc,aes256-cbc,des",
         "zlib,none"},
        {" des , 3des-cbc,none,arcfour", false,
         "blowfish-cbc,cast128-cbc,aes128-cbc,aes192-cbc,aes256-cbc", "none,zlib"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.disabled);
        host.reset();
        host.push(KV_ANS_YES);
        srv = std::make_unique<ScriptServer>(Script());
        man = std::make_unique<TestSshMan>();
        setup(*man, *srv);
        man->opts_.set_ciphers(r.disabled);
        man->opts_.set_compress(r.compress);
        LogErr err;
        CountAct act;
        man->exec(err, act, nullptr);
        man->close();
        srv->join();
        KV_Stream st;
        ASSERT_TRUE(put(st, srv->client_kexinit.substr(1)));
        KV_SshKeyEx k;
        ASSERT_TRUE(k.read(st));
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_ALGS)), "diffie-hellman-group1-sha1");
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_HOST_KEY)), "ssh-rsa,ssh-dss");
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_ENC_CS)), r.ciphers);
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_ENC_SC)), r.ciphers);
        const std::string macs = "hmac-md5,hmac-sha1,hmac-ripemd160,hmac-sha1-96,hmac-md5-96";
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_MAC_CS)), macs);
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_MAC_SC)), macs);
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_COMP_CS)), r.comp);
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_COMP_SC)), r.comp);
        EXPECT_EQ(bytes(k.list(KV_SSH_KEX_LANG_CS)), "");
        EXPECT_EQ(k.first_kex_follows(), 0);
        man.reset();
        srv.reset();
    }
}

std::atomic<int> init_runs{0};

// The manager's initial action runs once per connection, before the
// worker's action.
TEST_F(SshSess_MT, InitialActionOncePerConnection)
{
    init_runs = 0;
    host.push(KV_ANS_YES);
    srv = std::make_unique<ScriptServer>(Script());
    man = std::make_unique<TestSshMan>();
    setup(*man, *srv);
    struct InitAct : CountAct
    {
        bool run() override
        {
            ++init_runs;
            return CountAct::run();
        }
    };
    man->make_init = []() -> KV_SshAct* { return new InitAct; };
    LogErr err;
    for (int i = 0; i < 2; ++i) {
        CountAct act;
        man->exec(err, act, nullptr);
        EXPECT_EQ(act.runs, 1);
    }
    EXPECT_EQ(init_runs.load(), 1);
    EXPECT_EQ(man->conns.load(), 1);
    // The connection goes: the next exec reconnects (to a second scripted
    // server on another port) and runs it again.
    man->close();
    auto second = std::make_unique<ScriptServer>(Script());
    man->set_addrs("", second->addr().c_str(), KV_ProxyOptsSsh());
    CountAct act;
    man->exec(err, act, nullptr);
    EXPECT_EQ(act.runs, 1) << err.all();
    EXPECT_EQ(init_runs.load(), 2);
    man.reset();
}

// Channel messages the client cannot follow end the connection with their
// text.
TEST_F(SshSess_MT, ChannelRefusedOrUnknown)
{
    host.push(KV_ANS_YES);
    Script refused;
    refused.open_failure = 2;
    bool ran = false;
    EXPECT_EQ(exec(refused, ran), "SSH: Error opening channel ( reason: 2 )");
    EXPECT_FALSE(ran);
    man.reset();
    srv.reset();

    Script stray;
    stray.data_to_unknown = true;
    exec(stray, ran);
    EXPECT_TRUE(eventually([&] { return !man->connected(); }));
    EXPECT_EQ(man->err_msg(), "Invalid channel number received ( 9 ).");
}

// A server that cannot follow the offer: the exchange stops before
// KEXDH_INIT, with the reason in the log only.
TEST_F(SshSess_MT, NothingInCommon)
{
    struct Row
    {
        const char* name;
        const char* kex;
        const char* ciphers;
        const char* notice;
    } rows[] = {
        {"no group1 key exchange", "curve25519-sha256,diffie-hellman-group14-sha1", "aes128-cbc",
         "No suitable key exchange method found."},
        {"no common cipher", "diffie-hellman-group1-sha1",
         "aes128-ctr,chacha20-poly1305@openssh.com", "No suitable cipher found."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Script s;
        s.kex_algs = r.kex;
        s.ciphers = r.ciphers;
        bool ran = false;
        EXPECT_EQ(exec(s, ran), "");
        EXPECT_FALSE(ran);
        EXPECT_TRUE(log.has(r.notice));
        man->close();
        srv->join();
        // The client's own KEXINIT goes out only when it was sent before the
        // server's arrived: when both of the server's lines come in one read,
        // the client stops before its queued KEXINIT leaves. Either way
        // nothing after it is sent.
        EXPECT_LE(srv->types_seen.size(), 1u);
        for (const uint8_t t : srv->types_seen)
            EXPECT_EQ(t, 20);
        man.reset();
        srv.reset();
    }
}

// A refused exchange asks nothing and stores nothing, whatever answer the
// user would have given.
TEST_F(SshSess_MT, BadSignatureAndInvalidF)
{
    struct Row
    {
        const char* name;
        bool bad_sig;
        const char* f;
    } rows[] = {{"bad signature", true, ""}, {"f = 1", false, "1"}, {"f = p - 1", false, "p-1"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        host.reset();
        host.push(KV_ANS_YES_ALL);
        Script s;
        s.bad_signature = r.bad_sig;
        s.f = r.f;
        bool ran = false;
        exec(s, ran);
        EXPECT_FALSE(ran);
        EXPECT_EQ(host.asked(), 0u);
        EXPECT_EQ(KV_SshSess::man_key().entries(), 0u);
        EXPECT_TRUE(log.has("Key (re)exchange failed"));
        man.reset();
        srv.reset();
    }
}

TEST_F(SshSess_MT, GoodKeyAnsweredTwoIsStoredAfterVerifying)
{
    host.push(KV_ANS_YES_ALL);
    bool ran = false;
    EXPECT_EQ(exec(Script(), ran), "");
    EXPECT_TRUE(ran);
    EXPECT_EQ(KV_SshSess::man_key().entries(), 1u);
}

// A server that goes silent after its KEXINIT: the exec ends after the
// open time-out with a text, and at once on a stop.
TEST_F(SshSess_MT, SilenceAfterKexinit)
{
    Script s;
    s.silent_after_kexinit = true;
    bool ran = false;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exec(s, ran, 1000), "SSH: Timed out waiting for the server.");
    EXPECT_FALSE(ran);
    EXPECT_GE(ms_since(t0), 900);
    EXPECT_LT(ms_since(t0), 5000);
    EXPECT_FALSE(man->connected());

    srv = std::make_unique<ScriptServer>(s);
    TestSshMan m2;
    setup(m2, *srv, 60000);
    KV_Stoppable stopper;
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopper.stop(KV_STOP_CANCEL);
    });
    LogErr err;
    CountAct act;
    const auto t1 = std::chrono::steady_clock::now();
    m2.exec(err, act, &stopper);
    t.join();
    EXPECT_LT(ms_since(t1), 3000);
    EXPECT_EQ(act.runs, 0);
    EXPECT_EQ(err.count(), 0u) << err.all();
}

// The channel is never confirmed: the open time-out covers the login and
// the channel too.
TEST_F(SshSess_MT, SilenceBeforeTheChannelOpens)
{
    host.push(KV_ANS_YES);
    Script s;
    s.silent_before_confirm = true;
    bool ran = false;
    EXPECT_EQ(exec(s, ran, 1000), "SSH: Timed out waiting for the server.");
    EXPECT_FALSE(ran);
}

} // namespace
