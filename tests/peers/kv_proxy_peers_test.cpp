// Proxy handshakes against real proxies: tinyproxy for HTTP CONNECT (with
// and without Basic authorisation) and dante for SOCKS4 and SOCKS5 (CONNECT
// with and without a user, and BIND), each started on 127.0.0.1 with a port
// and a config of the test's own, in front of a loopback echo peer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/kv_proxy.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_testdir.h"

namespace {

using namespace kvtest;

// Echoes every connection it accepts, each on a thread of its own.
class EchoPeer
{
public:
    EchoPeer()
    {
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                Fd fd = server_.accept(50);
                if (!fd.ok())
                    continue;
                conns_.emplace_back([f = std::move(fd), this]() mutable {
                    char buf[4096];
                    while (!stop_.load()) {
                        pollfd p{f.get(), POLLIN, 0};
                        if (::poll(&p, 1, 50) <= 0)
                            continue;
                        const ssize_t n = ::recv(f.get(), buf, sizeof(buf), 0);
                        if (n <= 0 || !f.write_all(buf, static_cast<size_t>(n)))
                            return;
                    }
                });
            }
        });
    }
    ~EchoPeer()
    {
        stop_.store(true);
        thread_.join();
        for (std::thread& t : conns_)
            t.join();
    }
    std::string dst() const { return "127.0.0.1:" + std::to_string(server_.port()); }

private:
    PlainServer server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::thread> conns_; // touched by the accept thread only, then joined
};

void write_text(const std::string& file, const std::string& text)
{
    std::ofstream(file) << text;
}

// A proxy program of the test's own on a free loopback port.
class ProxyPeer : public ::testing::Test
{
protected:
    // Starts `program` with the config; false (with the test skipped) when
    // the program is not installed.
    bool start(const std::string& program, const std::string& conf_text,
               const std::vector<std::string>& args)
    {
        const std::string exe = find_program(program);
        if (exe.empty())
            return false;
        EXPECT_TRUE(dir.ok());
        write_text(dir / "proxy.conf", conf_text);
        proc = std::make_unique<ChildProc>(exe, args, dir / "proxy.log");
        EXPECT_TRUE(proc->wait_port(port)) << proc->log();
        return true;
    }

    // Opens a connection through the proxy; with success the echo peer
    // answers through it.
    bool through(KV_Proxy* proxy, TestConnector& conn)
    {
        KV_InetAddr local;
        if (!conn.connect(local, loopback(port), proxy))
            return false;
        conn.wait_open();
        if (!eventually([&] { return conn.connected() || conn.conn_failed(); }) ||
            conn.conn_failed())
            return false;
        // The handshake is over once the ready event came: the connected
        // session might still end on a late refusal, so wait for the echo.
        if (!conn.send_str("ping through"))
            return false;
        return eventually([&] {
                   auto* s = static_cast<RecordSess*>(conn.last());
                   return (s && s->received() == "ping through") || conn.conn_failed();
               }) &&
               !conn.conn_failed();
    }

    TempDir dir;
    const uint16_t port = closed_port();
    EchoPeer echo;
    std::unique_ptr<ChildProc> proc;
};

// ---------------------------------------------------------------------------
// tinyproxy

std::string tinyproxy_conf(uint16_t port, const char* extra)
{
    return "Port " + std::to_string(port) +
           "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\n" + extra;
}

TEST_F(ProxyPeer, HttpConnectThroughTinyproxy)
{
    if (!start("tinyproxy", tinyproxy_conf(port, ""), {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed (package tinyproxy)";
    TestConnector conn(record_sessions());
    EXPECT_TRUE(through(new KV_ProxyHttp(&conn, echo.dst().c_str(), KV_LoginData()), conn))
        << proc->log();
    EXPECT_TRUE(conn.log.has("CONNECT " + echo.dst() + " HTTP/1.0", KV_SESS_LOG_SENT));
}

TEST_F(ProxyPeer, HttpConnectWithBasicAuthorisation)
{
    if (!start("tinyproxy", tinyproxy_conf(port, "BasicAuth joe s3cret\n"),
               {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed (package tinyproxy)";
    {
        TestConnector conn(record_sessions());
        EXPECT_TRUE(through(
            new KV_ProxyHttp(&conn, echo.dst().c_str(), KV_LoginData("joe", "s3cret")), conn))
            << proc->log();
    }
    for (const KV_LoginData& login : {KV_LoginData(), KV_LoginData("joe", "wrong")}) {
        SCOPED_TRACE(login.pass().data());
        TestConnector conn(record_sessions());
        EXPECT_FALSE(through(new KV_ProxyHttp(&conn, echo.dst().c_str(), login), conn));
        EXPECT_TRUE(conn.conn_failed());
        // No login: 407; a wrong one: tinyproxy answers 401. Either way the
        // status line is the logged reason.
        bool refused = false;
        for (const SessLog::Line& l : conn.log.lines())
            refused |= l.kind == KV_SESS_LOG_RECV && l.err && l.text.rfind("HTTP/1.0 40", 0) == 0;
        EXPECT_TRUE(refused);
    }
}

// ---------------------------------------------------------------------------
// dante

std::string dante_conf(uint16_t port, const char* method)
{
    return "logoutput: stderr\n"
           "internal: 127.0.0.1 port = " +
           std::to_string(port) +
           "\nexternal: 127.0.0.1\n"
           "socksmethod: " +
           method +
           "\nclientmethod: none\n"
           "user.privileged: root\n"
           "user.unprivileged: nobody\n"
           "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n"
           // bindreply lets the server's connection to a bound port through.
           "socks pass { from: 127.0.0.1/32 to: 0.0.0.0/0 command: connect bind bindreply }\n";
}

TEST_F(ProxyPeer, SocksConnectThroughDante)
{
    if (!start("danted", dante_conf(port, "none"), {"-f", dir / "proxy.conf"}))
        GTEST_SKIP() << "danted is not installed (package dante-server)";
    {
        TestConnector conn(record_sessions());
        EXPECT_TRUE(
            through(new KV_ProxySocks4(&conn, echo.dst().c_str(), KV_LoginData("u"), false), conn))
            << proc->log();
    }
    TestConnector conn(record_sessions());
    EXPECT_TRUE(through(new KV_ProxySocks5(&conn, echo.dst().c_str(), KV_LoginData(), false), conn))
        << proc->log();
}

// dante checks SOCKS5 users against the system's: the test uses one of its
// own, made when it is missing (which needs root).
TEST_F(ProxyPeer, Socks5WithAUserThroughDante)
{
    const char* user = "kvsocks";
    const char* pass = "socks-pw1";
    const std::string make = std::string("id ") + user + " >/dev/null 2>&1 || useradd -M -s " +
                             "/usr/sbin/nologin " + user + " >/dev/null 2>&1; echo '" + user + ":" +
                             pass + "' | chpasswd >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "no system user for dante's login check (useradd/chpasswd need root)";
    if (!start("danted", dante_conf(port, "username"), {"-f", dir / "proxy.conf"}))
        GTEST_SKIP() << "danted is not installed (package dante-server)";
    {
        TestConnector conn(record_sessions());
        EXPECT_TRUE(through(
            new KV_ProxySocks5(&conn, echo.dst().c_str(), KV_LoginData(user, pass), false), conn))
            << proc->log();
    }
    {
        TestConnector conn(record_sessions());
        EXPECT_FALSE(through(
            new KV_ProxySocks5(&conn, echo.dst().c_str(), KV_LoginData(user, "wrong"), false),
            conn));
        EXPECT_TRUE(conn.log.has("SOCKS5 - AUTHENTICATION ERROR ( code: 1 )", KV_SESS_LOG_RECV));
    }
    // Without a login dante finds no method it accepts.
    TestConnector conn(record_sessions());
    EXPECT_FALSE(
        through(new KV_ProxySocks5(&conn, echo.dst().c_str(), KV_LoginData(), false), conn));
    EXPECT_TRUE(conn.log.has("SOCKS5 - ERROR ( method: 255 )", KV_SESS_LOG_RECV));
}

// An active-mode data connection: the proxy binds a port, the owner learns
// it from the first reply, the "server" connects to it, and the second reply
// hands the connection over.
TEST_F(ProxyPeer, SocksBindThroughDante)
{
    if (!start("danted", dante_conf(port, "none"), {"-f", dir / "proxy.conf"}))
        GTEST_SKIP() << "danted is not installed (package dante-server)";
    for (bool socks5 : {false, true}) {
        SCOPED_TRACE(socks5 ? "SOCKS5" : "SOCKS4");
        TestConnector conn(record_sessions());
        // The destination is the server expected to connect: this host.
        const std::string server = "127.0.0.1:21";
        KV_Proxy* p = socks5 ? static_cast<KV_Proxy*>(
                                   new KV_ProxySocks5(&conn, server.c_str(), KV_LoginData(), true))
                             : new KV_ProxySocks4(&conn, server.c_str(), KV_LoginData(), true);
        KV_InetAddr local;
        ASSERT_TRUE(conn.connect(local, loopback(port), p));
        conn.wait_open();
        ASSERT_FALSE(conn.conn_failed()) << proc->log();
        const KV_InetAddr bound = conn.local_addr();
        ASSERT_EQ(KV_String(bound), KV_String("127.0.0.1"));
        ASSERT_NE(uint16_t(bound.port()), uint16_t(port));

        Fd data = plain_connect(bound.port());
        ASSERT_TRUE(data.ok());
        ASSERT_TRUE(data.write_all("150 data"));
        EXPECT_TRUE(eventually([&] {
            auto* s = static_cast<RecordSess*>(conn.last());
            return s && s->received() == "150 data";
        })) << proc->log();
        ASSERT_TRUE(conn.send_str("upload"));
        EXPECT_EQ(data.read_n(6), "upload");
        EXPECT_FALSE(conn.conn_failed());
    }
}

} // namespace
