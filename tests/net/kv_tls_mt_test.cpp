// TLS sessions over loopback: the certificate decision (chain, host name,
// registered-only rule, the user's answers, the store), the end of data with
// and without close notifications, a record larger than the receive buffer,
// a handshake against a silent peer, and no plain text without TLS.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "foundation/kv_file.h"
#include "net/kv_sslctx.h"
#include "net/kv_sslsess.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;

class Tls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(certs.ok()) << "certificates could not be made";
        store = dir / "trusted-certs.bin";
        KV_File::set_path(KV_PATH_SRV_CERTS, store.c_str());
        KV_SSLSess::man_cert.clear();
        KV_String err;
        ASSERT_TRUE(ctx.init("", "", certs.ca.cert_file.c_str(), "", &err)) << err.data();
    }
    void TearDown() override { KV_SSLSess::man_cert.clear(); }

    // One connection to a server showing `ck` that echoes; the handshake's
    // result. With success the echo is checked too.
    bool run(KV_FileMan* fm, const CertKey& ck, uint8_t flags, const std::string& host,
             const std::string& name = "good.test")
    {
        TlsServer server(ck, TlsServer::echo);
        EXPECT_TRUE(server.ok());
        TlsConnector conn(fm, &ctx, name, flags, host);
        const bool secure = conn.open_secure(server.addr());
        if (secure) {
            EXPECT_TRUE(conn.send_str("ping"));
            EXPECT_TRUE(eventually([&] { return conn.received() == "ping"; }));
            EXPECT_EQ(server.sni(), name);
        } else {
            EXPECT_FALSE(server.handshake_done());
        }
        last_log = conn.log.lines();
        return secure;
    }
    bool logged(const std::string& text, bool err = false) const
    {
        for (const auto& l : last_log) {
            if (l.text == text && l.err == err)
                return true;
        }
        return false;
    }

    TempDir dir;
    Certs certs{dir};
    std::string store;
    KV_SSLCtx ctx;
    TrustHost host;
    std::vector<SessLog::Line> last_log;
};

struct VerifyCase
{
    const char* what;
    CertKey Certs::*cert;
    uint8_t flags;
    const char* host;
    KV_ANS answer;
    bool secure;
    // What the question gives as the reason; null when nothing is asked.
    const char* reason;
};

constexpr uint8_t HOST = KV_SSL_CHECK_HOST;
constexpr uint8_t REG = KV_SSL_CHECK_REG_ONLY;

const VerifyCase verify_cases[] = {
    {"good", &Certs::good, HOST, "good.test", KV_ANS_NO, true, nullptr},
    {"second DNS name, other case", &Certs::good, HOST, "ALT.Test", KV_ANS_NO, true, nullptr},
    {"host with a port", &Certs::good, HOST, "good.test:990", KV_ANS_NO, true, nullptr},
    {"host as an address", &Certs::good, HOST, "ftps://good.test:990/", KV_ANS_NO, true, nullptr},
    {"no host check", &Certs::wrong_host, 0, "good.test", KV_ANS_NO, true, nullptr},
    {"wrong host refused", &Certs::wrong_host, HOST, "good.test", KV_ANS_NO, false,
     "host name check failed; expected host name: good.test"},
    {"wrong host accepted", &Certs::wrong_host, HOST, "good.test", KV_ANS_YES, true,
     "host name check failed; expected host name: good.test"},
    {"registered only", &Certs::good, HOST | REG, "good.test", KV_ANS_YES, true,
     "Unregistered server certificate"},
    {"registered only refused", &Certs::good, REG, "good.test", KV_ANS_NONE, false,
     "Unregistered server certificate"},
    {"self-signed", &Certs::self_signed, HOST, "good.test", KV_ANS_YES, true,
     "self-signed certificate"},
    {"expired", &Certs::expired, HOST, "good.test", KV_ANS_NO, false, "certificate has expired"},
    {"common name without DNS names", &Certs::cn_only, HOST, "good.test", KV_ANS_NO, true, nullptr},
    {"DNS names before the common name", &Certs::san_over_cn, HOST, "good.test", KV_ANS_NO, false,
     "host name check failed; expected host name: good.test"},
    {"wildcard not expanded", &Certs::wildcard, HOST, "a.good.test", KV_ANS_NO, false,
     "host name check failed; expected host name: a.good.test"},
    {"address entry", &Certs::by_ip, HOST, "127.0.0.1", KV_ANS_NO, true, nullptr},
    {"address with a port", &Certs::by_ip, HOST, "127.0.0.1:990", KV_ANS_NO, true, nullptr},
    {"IPv6 address in brackets", &Certs::by_ip, HOST, "[::1]:990", KV_ANS_NO, true, nullptr},
    {"other address", &Certs::by_ip, HOST, "127.0.0.2", KV_ANS_NO, false,
     "host name check failed; expected host name: 127.0.0.2"},
    {"address as a DNS name", &Certs::by_ip, HOST, "localhost", KV_ANS_NO, false,
     "host name check failed; expected host name: localhost"},
};

TEST_F(Tls, CertificatesAreVerifiedRefusedOrAskedAbout)
{
    for (const VerifyCase& c : verify_cases) {
        SCOPED_TRACE(c.what);
        TrustHost& answers = host;
        answers.reset();
        answers.push(c.answer);
        TrustFileMan fm;
        EXPECT_EQ(run(&fm, certs.*c.cert, c.flags, c.host), c.secure);
        if (!c.reason) {
            EXPECT_EQ(answers.asked(), 0u);
            EXPECT_TRUE(logged("Done"));
            continue;
        }
        ASSERT_EQ(answers.asked(), 1u);
        EXPECT_EQ(answers.kinds().at(0), KV_ASK_TRUST);
        const std::string q = answers.questions().at(0);
        EXPECT_EQ(q.rfind(std::string("The SSL verification failed (") + c.reason +
                              "). Continue anyway ?\r\n\r\nName: ",
                          0),
                  0u)
            << q;
        // Yes accepts for this connection only: nothing is stored.
        EXPECT_EQ(KV_SSLSess::man_cert.entries(), 0u);
    }
}

TEST_F(Tls, TheQuestionNamesTheServersCertificate)
{
    host.push(KV_ANS_NO);
    TrustFileMan fm;
    EXPECT_FALSE(run(&fm, certs.good, REG, "good.test"));
    ASSERT_EQ(host.asked(), 1u);
    EXPECT_EQ(host.questions().at(0), "The SSL verification failed (Unregistered server "
                                      "certificate). Continue anyway ?\r\n\r\nName: "
                                      "good.test\r\nIssuer: /O=kvtest/CN=kvtest CA");
    EXPECT_TRUE(logged("Certificate check"));
    EXPECT_TRUE(logged("Certificate issuer: /O=kvtest/CN=kvtest CA"));
    EXPECT_TRUE(logged("Common name: good.test"));
}

TEST_F(Tls, AChainFailureIsLoggedWithTheLibrarysReason)
{
    host.push(KV_ANS_NO);
    TrustFileMan fm;
    EXPECT_FALSE(run(&fm, certs.expired, 0, ""));
    EXPECT_TRUE(logged("Failed ( certificate has expired )", true));
}

TEST_F(Tls, AlwaysTrustStoresTheCertificateUnderTheConnectionName)
{
    host.push(KV_ANS_YES_ALL);
    {
        TrustFileMan fm;
        EXPECT_TRUE(run(&fm, certs.self_signed, HOST, "good.test", "Good.Test"));
    }
    EXPECT_EQ(host.asked(), 1u);
    EXPECT_TRUE(KV_SSLSess::man_cert.valid(certs.self_signed.cert.get(), "good.test"));
    ASSERT_EQ(KV_SSLSess::man_cert.entries(), 1u);
    EXPECT_STREQ(KV_SSLSess::man_cert.at(0).descr1().data(), "good.test");
    EXPECT_TRUE(KV_File::exists(store.c_str()));

    // The store vouches for the same certificate under the same name (any
    // case) for another file manager, without a question...
    TrustFileMan other;
    EXPECT_TRUE(run(&other, certs.self_signed, HOST, "good.test", "GOOD.TEST"));
    EXPECT_EQ(host.asked(), 1u);
    EXPECT_TRUE(logged("Server certificate found in the local database."));
    // ...and the stored file loads back into an empty store.
    KV_SSLSess::man_cert.clear();
    ASSERT_TRUE(KV_SSLSess::man_cert.load());
    EXPECT_TRUE(KV_SSLSess::man_cert.valid(certs.self_signed.cert.get(), "good.test"));
}

TEST_F(Tls, TheStoreVouchesOnlyUnderItsName)
{
    ASSERT_TRUE(KV_SSLSess::man_cert.add(certs.self_signed.cert.get(), "elsewhere.test", "", ""));
    TrustFileMan fm;
    EXPECT_FALSE(run(&fm, certs.self_signed, 0, "", "good.test"));
    EXPECT_EQ(host.asked(), 1u);
}

// Accepting one bad certificate for a data source must not let a different
// one through on a later connection: each is asked about.
TEST_F(Tls, AnAcceptedCertificateDoesNotVouchForAnother)
{
    TrustFileMan fm;
    host.push(KV_ANS_YES);
    EXPECT_TRUE(run(&fm, certs.self_signed, HOST, "good.test"));
    EXPECT_EQ(host.asked(), 1u);
    // The same certificate again: accepted without a question.
    EXPECT_TRUE(run(&fm, certs.self_signed, HOST, "good.test"));
    EXPECT_EQ(host.asked(), 1u);
    // Another one: asked again, and refused.
    host.push(KV_ANS_NO);
    EXPECT_FALSE(run(&fm, certs.expired, HOST, "good.test"));
    EXPECT_EQ(host.asked(), 2u);
}

TEST_F(Tls, ARefusalIsFinalForTheFileManager)
{
    TrustFileMan fm;
    host.push(KV_ANS_NO);
    EXPECT_FALSE(run(&fm, certs.self_signed, 0, ""));
    host.push(KV_ANS_YES);
    EXPECT_FALSE(run(&fm, certs.self_signed, 0, ""));
    EXPECT_EQ(host.asked(), 1u);
}

// The handshake's error is what the person reads after refusing: it says
// the certificate was not trusted, with the verification's reason; a
// refusal remembered from before reads the same.
TEST_F(Tls, ARefusedCertificateIsReportedAsNotTrusted)
{
    TrustFileMan fm;
    host.push(KV_ANS_NO);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        TlsServer server(certs.self_signed, TlsServer::echo);
        ASSERT_TRUE(server.ok());
        TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
        EXPECT_FALSE(conn.open_secure(server.addr()));
        auto* sess = static_cast<RecordSess*>(conn.last());
        ASSERT_NE(sess, nullptr);
        EXPECT_STREQ(sess->ssl_err().data(),
                     "self-signed certificate; the certificate was not trusted");
    }
    EXPECT_EQ(host.asked(), 1u);
}

TEST_F(Tls, WithoutAFileManagerNobodyIsAsked)
{
    host.push(KV_ANS_YES);
    EXPECT_FALSE(run(nullptr, certs.self_signed, 0, ""));
    EXPECT_EQ(host.asked(), 0u);
    EXPECT_TRUE(run(nullptr, certs.good, HOST, "good.test"));
}

TEST_F(Tls, NoNameIsSentForAnAddress)
{
    TrustFileMan fm;
    TlsServer server(certs.good, TlsServer::echo);
    TlsConnector conn(&fm, &ctx, "127.0.0.1", 0, "");
    ASSERT_TRUE(conn.open_secure(server.addr()));
    EXPECT_EQ(server.sni(), "");
}

// A peer that closes the socket without a close notification ends the data;
// the session ends cleanly.
TEST_F(Tls, APeerClosingWithoutCloseNotifyEndsTheData)
{
    TrustFileMan fm;
    TlsServer server(certs.good, [](TlsServer&, SSL* ssl, int fd) {
        SSL_write(ssl, "bye", 3);
        ::shutdown(fd, SHUT_RDWR);
    });
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    ASSERT_TRUE(conn.open_secure(server.addr()));
    EXPECT_TRUE(eventually([&] { return conn.received() == "bye"; }));
    EXPECT_TRUE(conn.log.wait_for("FIN received"));
    EXPECT_TRUE(eventually([&] { return !conn.connected(); }));
    EXPECT_FALSE(conn.conn_failed());
}

// A server may answer and hang up right after the handshake (an error reply
// before it closes). The handshake succeeded: the owner learns so even when
// it looks only after the session has ended, and the reply is there. A
// later request on the ended connection is no success.
TEST_F(Tls, AHandshakeStaysSuccessfulWhenThePeerHangsUpAtOnce)
{
    TrustFileMan fm;
    TlsServer server(certs.good, [](TlsServer&, SSL* ssl, int fd) {
        SSL_write(ssl, "421 bye\r\n", 9);
        ::shutdown(fd, SHUT_RDWR);
    });
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    conn.req_secure();
    ASSERT_TRUE(conn.log.wait_for("FIN received"));
    ASSERT_TRUE(eventually([&] { return !conn.connected(); }));
    EXPECT_TRUE(conn.secure_res(true));
    EXPECT_EQ(conn.received(), "421 bye\r\n");
    EXPECT_FALSE(conn.conn_failed());
    // A stop does not undo it either; a new request then fails at once.
    conn.close_sessions();
    EXPECT_TRUE(conn.secure_res(false));
    conn.req_secure();
    EXPECT_FALSE(conn.secure_res(true));
}

TEST_F(Tls, CloseNotificationsGoBothWays)
{
    TrustFileMan fm;
    TlsServer server(certs.good, TlsServer::echo);
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    ASSERT_TRUE(conn.open_secure(server.addr()));
    ASSERT_TRUE(conn.send_str("last"));
    ASSERT_TRUE(eventually([&] { return conn.received() == "last"; }));
    conn.last()->req_shutdown();
    // The server answers our notification with its own and ends.
    EXPECT_TRUE(eventually([&] { return server.finished(); }));
    EXPECT_TRUE(eventually([&] { return !conn.connected(); }));
    EXPECT_FALSE(conn.conn_failed());
}

// Bytes that TLS has already taken off the socket must be read although the
// socket stays silent.
TEST_F(Tls, ARecordLargerThanTheReadBufferIsReadWhole)
{
    const std::string record = pattern(16384, 3);
    TrustFileMan fm;
    TlsServer server(certs.good, [&record](TlsServer& srv, SSL* ssl, int) {
        SSL_write(ssl, record.data(), static_cast<int>(record.size()));
        while (!srv.stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    conn.opts.set_buff_recv(4096);
    ASSERT_TRUE(conn.open_secure(server.addr()));
    EXPECT_TRUE(eventually([&] { return conn.received().size() >= record.size(); }))
        << conn.received().size() << " bytes";
    EXPECT_TRUE(conn.received() == record);
    server.stop();
}

// A peer that reads nothing for a while makes writes wait in the library;
// every byte still arrives once, in order.
TEST_F(Tls, WritesThatMustWaitArriveWholeAndInOrder)
{
    const std::string data = pattern(6 << 20, 5);
    std::string got;
    TrustFileMan fm;
    TlsServer server(certs.good, [&](TlsServer&, SSL* ssl, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        char buf[16384];
        while (got.size() < data.size()) {
            const int n = SSL_read(ssl, buf, sizeof(buf));
            if (n <= 0)
                return;
            got.append(buf, static_cast<size_t>(n));
        }
    });
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    ASSERT_TRUE(conn.open_secure(server.addr()));
    ASSERT_TRUE(conn.send(reinterpret_cast<const uint8_t*>(data.data()),
                          static_cast<uint32_t>(data.size())));
    ASSERT_TRUE(eventually([&] { return server.finished(); }));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

// A session that is never started: it only lends its socket to a TLS
// connection driven by the test.
class BareSess : public KV_Session
{
public:
    using KV_Session::KV_Session;
    int fd() const { return sock.handle(); }
};

// A write the library could not finish is repeated with its own bytes even
// when the caller offers fewer the next time (a lower send allowance).
TEST_F(Tls, AnUnfinishedWriteIsRepeatedWithItsOwnBytes)
{
    KV_Socket listener;
    KV_InetAddr at("127.0.0.1", KV_Port(0));
    ASSERT_TRUE(listener.create(AF_INET, SOCK_STREAM, 0) && listener.bind(at) &&
                listener.listen() && listener.local_name(at));
    Fd peer = plain_connect(at.port());
    ASSERT_TRUE(peer.ok());
    KV_Socket mine;
    KV_InetAddr from;
    ASSERT_TRUE(listener.accept(mine, from) && mine.valid());
    // A small send buffer fills long before the data is out.
    const int small = 4096;
    ASSERT_TRUE(mine.set_opt(SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)));

    const std::string data = pattern(1 << 20, 9);
    std::atomic<bool> drain{false};
    std::string got;
    SSL_CTX* sctx = SSL_CTX_new(TLS_server_method());
    ASSERT_TRUE(SSL_CTX_use_certificate(sctx, certs.good.cert.get()) == 1 &&
                SSL_CTX_use_PrivateKey(sctx, certs.good.key.get()) == 1);
    std::thread server([&] {
        SSL* ssl = SSL_new(sctx);
        SSL_set_fd(ssl, peer.get());
        if (SSL_accept(ssl) == 1) {
            while (!drain.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            char buf[16384];
            while (got.size() < data.size()) {
                const int n = SSL_read(ssl, buf, sizeof(buf));
                if (n <= 0)
                    break;
                got.append(buf, static_cast<size_t>(n));
            }
        }
        SSL_free(ssl);
    });

    TestConnector conn(record_sessions());
    BareSess sess(&conn, mine, from);
    KV_SSLSess tls;
    ASSERT_TRUE(tls.init(nullptr, ctx, sess.fd(), nullptr, 0, "good.test", 0, "", ""));
    ASSERT_TRUE(tls.connect(sess));

    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    uint32_t pos = 0;
    uint32_t offer = 256 * 1024;
    int unfinished = 0;
    while (pos < data.size()) {
        uint32_t n = std::min<uint32_t>(offer, static_cast<uint32_t>(data.size()) - pos);
        bool closed = false;
        ASSERT_TRUE(tls.send(p + pos, n, closed)) << tls.last_err().data();
        ASSERT_FALSE(closed);
        pos += n;
        if (n == 0) {
            // Nothing went: offer less next time, and let the peer read
            // after a few such rounds.
            offer = 100;
            if (++unfinished == 3)
                drain.store(true);
            sess.wait_sock(false, true, 50);
        } else {
            offer = 256 * 1024;
        }
    }
    drain.store(true);
    server.join();
    SSL_CTX_free(sctx);
    EXPECT_GE(unfinished, 3);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A peer that never answers the handshake: the session waits on the socket
// instead of spinning, and a stop ends the handshake as a failure.
TEST_F(Tls, AHandshakeWaitsForTheSilentPeerAndAStopFailsIt)
{
    PlainServer server;
    TrustFileMan fm;
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    Fd peer = server.accept();
    ASSERT_TRUE(peer.ok());
    conn.wait_open();
    conn.req_secure();
    ASSERT_TRUE(eventually([&] { return conn.log.has("SSL negotiation"); }));
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // A handshake that spun would burn the whole wait on one core.
    EXPECT_LT(cpu_seconds() - cpu0, wall * 0.3);
    EXPECT_FALSE(conn.secure_res(false));
    conn.close_sessions();
    EXPECT_FALSE(conn.secure_res(true));
    EXPECT_TRUE(conn.log.has("Failed ( stopped )"));
}

// Without a usable TLS context the secure request fails and nothing goes
// out in the clear, not even output queued behind the request.
TEST_F(Tls, NoContextNeverFallsBackToPlainText)
{
    KV_SSLCtx unset;
    KV_SSLCtx* contexts[] = {nullptr, &unset};
    for (KV_SSLCtx* c : contexts) {
        SCOPED_TRACE(c ? "context never initialised" : "no context");
        PlainServer server;
        TrustFileMan fm;
        TlsConnector conn(&fm, c, "good.test", HOST, "good.test");
        KV_InetAddr local;
        ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
        Fd peer = server.accept();
        conn.wait_open();
        conn.req_secure();
        conn.send_str("secret");
        EXPECT_FALSE(conn.secure_res(true));
        bool eof = false;
        EXPECT_EQ(peer.read_to_eof(eof), "");
        EXPECT_TRUE(eof);
    }
}

// The real thing: openssl s_server in its line-reversing mode.
TEST_F(Tls, TalksToOpensslSServer)
{
    const std::string openssl = find_program("openssl");
    if (openssl.empty())
        GTEST_SKIP() << "openssl not installed (package openssl)";
    const uint16_t port = closed_port();
    ChildProc srv(openssl,
                  {"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                   certs.good.cert_file, "-key", certs.good.key_file, "-rev", "-quiet"},
                  dir / "s_server.log");
    ASSERT_TRUE(srv.wait_port(port)) << srv.log();
    TrustFileMan fm;
    TlsConnector conn(&fm, &ctx, "good.test", HOST, "good.test");
    ASSERT_TRUE(conn.open_secure(loopback(port))) << srv.log();
    ASSERT_TRUE(conn.send_str("hello\n"));
    EXPECT_TRUE(eventually([&] { return conn.received().find("olleh") != std::string::npos; }))
        << conn.received();
    EXPECT_EQ(host.asked(), 0u);
}

} // namespace
