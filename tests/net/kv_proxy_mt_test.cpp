// Proxy handshakes through a real session against a scripted proxy on
// loopback: the bytes the session sends, the protocol that starts on the
// same socket afterwards, and every kind of refusal, malformed reply and
// hang-up ending the connection as a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <string>
#include <vector>

#include "net/kv_proxy.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"

namespace {

// Lookups of names under ".proxy-only.invalid" that reached the local
// resolver.
std::atomic<int> proxy_only_lookups{0};
const char PROXY_ONLY[] = "ftp.proxy-only.invalid";

} // namespace

// Stands in front of the C library's resolver for this program, to tell
// whether the engine looked a name up: names under ".proxy-only.invalid" are
// counted and answered "no such name" at once (no query leaves the
// machine); every other call is passed on unchanged.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** res)
{
    if (node && std::strstr(node, ".proxy-only.invalid")) {
        ++proxy_only_lookups;
        return EAI_NONAME;
    }
    using Fn = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const Fn next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next ? next(node, service, hints, res) : EAI_SYSTEM;
}

namespace {

using namespace kvtest;

enum class Kind { Http, Socks4, Socks5 };

struct Step
{
    std::string expect; // what the proxy reads first
    std::string reply;  // then writes
};

struct Case
{
    const char* what;
    Kind kind;
    bool login;
    bool bind;
    std::vector<Step> steps;
    bool hang_up; // the proxy closes after its last reply
    bool ok;
};

const std::string DST = "127.0.0.1:2121";
const std::string HTTP_REQ = "CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n";
const std::string S4_REQ = bytes({4, 1, 0x08, 0x49, 127, 0, 0, 1, 0});
const std::string S4_BIND = bytes({4, 2, 0x08, 0x49, 127, 0, 0, 1, 0});
const std::string S4_OK = bytes({0, 0x5A, 0, 0, 0, 0, 0, 0});
const std::string S5_HELLO = bytes({5, 1, 0});
const std::string S5_REQ = bytes({5, 1, 0, 3, 9}) + "127.0.0.1" + bytes({0x08, 0x49});
const std::string S5_BIND = bytes({5, 2, 0, 3, 9}) + "127.0.0.1" + bytes({0x08, 0x49});
const std::string S5_OK = bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x30, 0x39});

KV_Proxy* make(const Case& c, KV_CommBase* comm)
{
    const KV_LoginData login = c.login ? KV_LoginData("joe", "pw") : KV_LoginData();
    switch (c.kind) {
    case Kind::Http:
        return new KV_ProxyHttp(comm, DST.c_str(), login);
    case Kind::Socks4:
        return new KV_ProxySocks4(comm, DST.c_str(), login, c.bind);
    case Kind::Socks5:
        break;
    }
    return new KV_ProxySocks5(comm, DST.c_str(), login, c.bind);
}

const Case cases[] = {
    {"HTTP 200", Kind::Http, false, false, {{HTTP_REQ, "HTTP/1.0 200 OK\r\n\r\n"}}, false, true},
    {"HTTP 407 on an open connection",
     Kind::Http,
     false,
     false,
     {{HTTP_REQ, "HTTP/1.0 407 Proxy Authentication Required\r\nX: y\r\n\r\n"}},
     false,
     false},
    {"HTTP reply cut off",
     Kind::Http,
     false,
     false,
     {{HTTP_REQ, "HTTP/1.0 200 OK\r\n"}},
     true,
     false},
    {"HTTP garbage", Kind::Http, false, false, {{HTTP_REQ, "garbage\r\n"}}, false, false},
    {"SOCKS4 granted", Kind::Socks4, false, false, {{S4_REQ, S4_OK}}, false, true},
    {"SOCKS4 rejected",
     Kind::Socks4,
     false,
     false,
     {{S4_REQ, bytes({0, 0x5B, 0, 0, 0, 0, 0, 0})}},
     false,
     false},
    {"SOCKS4 reply cut off",
     Kind::Socks4,
     false,
     false,
     {{S4_REQ, bytes({0, 0x5A, 0, 0})}},
     true,
     false},
    {"SOCKS4 BIND",
     Kind::Socks4,
     false,
     true,
     {{S4_BIND, bytes({0, 0x5A, 4, 1, 0, 0, 0, 0})}, {"", S4_OK}},
     false,
     true},
    {"SOCKS4 BIND refused on the second reply",
     Kind::Socks4,
     false,
     true,
     {{S4_BIND, bytes({0, 0x5A, 4, 1, 0, 0, 0, 0})}, {"", bytes({0, 0x5B, 0, 0, 0, 0, 0, 0})}},
     false,
     false},
    {"SOCKS5",
     Kind::Socks5,
     false,
     false,
     {{S5_HELLO, bytes({5, 0})}, {S5_REQ, S5_OK}},
     false,
     true},
    {"SOCKS5 with login",
     Kind::Socks5,
     true,
     false,
     {{bytes({5, 1, 2}), bytes({5, 2})},
      {bytes({1, 3, 'j', 'o', 'e', 2, 'p', 'w'}), bytes({1, 0})},
      {S5_REQ, S5_OK}},
     false,
     true},
    {"SOCKS5 no acceptable method",
     Kind::Socks5,
     false,
     false,
     {{S5_HELLO, bytes({5, 0xFF})}},
     false,
     false},
    {"SOCKS5 login refused",
     Kind::Socks5,
     true,
     false,
     {{bytes({5, 1, 2}), bytes({5, 2})},
      {bytes({1, 3, 'j', 'o', 'e', 2, 'p', 'w'}), bytes({1, 1})}},
     false,
     false},
    {"SOCKS5 connection refused",
     Kind::Socks5,
     false,
     false,
     {{S5_HELLO, bytes({5, 0})}, {S5_REQ, bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}},
     false,
     false},
    {"SOCKS5 unknown address type",
     Kind::Socks5,
     false,
     false,
     {{S5_HELLO, bytes({5, 0})}, {S5_REQ, bytes({5, 0, 0, 9, 0, 0, 0})}},
     false,
     false},
    {"SOCKS5 reply cut off",
     Kind::Socks5,
     false,
     false,
     {{S5_HELLO, bytes({5, 0})}, {S5_REQ, bytes({5, 0, 0, 1, 127})}},
     true,
     false},
    {"SOCKS5 BIND",
     Kind::Socks5,
     false,
     true,
     {{S5_HELLO, bytes({5, 0})}, {S5_BIND, bytes({5, 0, 0, 1, 0, 0, 0, 0, 4, 1})}, {"", S5_OK}},
     false,
     true},
    {"SOCKS5 BIND refused on the second reply",
     Kind::Socks5,
     false,
     true,
     {{S5_HELLO, bytes({5, 0})},
      {S5_BIND, bytes({5, 0, 0, 1, 0, 0, 0, 0, 4, 1})},
      {"", bytes({5, 2, 0, 1, 0, 0, 0, 0, 0, 0})}},
     false,
     false},
};

TEST(ProxyScripted, HandshakesEndInTheProtocolOrInAFailure)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlainServer proxy;
        ASSERT_TRUE(proxy.ok());
        TestConnector conn(record_sessions());
        KV_InetAddr local;
        ASSERT_TRUE(conn.connect(local, proxy.addr(), make(c, &conn)));
        Fd fd = proxy.accept();
        ASSERT_TRUE(fd.ok());
        for (const Step& s : c.steps) {
            EXPECT_EQ(fd.read_n(s.expect.size()), s.expect);
            // A BIND's first reply has told the owner the bound address
            // before the second one comes.
            if (c.bind && s.expect.empty()) {
                conn.wait_open();
                EXPECT_EQ(conn.local_addr().as_str(KV_IADDR_ADDR_PORT),
                          KV_String("127.0.0.1:1025"));
            }
            ASSERT_TRUE(fd.write_all(s.reply));
        }
        if (c.hang_up)
            fd.reset();
        if (c.ok) {
            conn.wait_open();
            ASSERT_TRUE(eventually([&] { return conn.connected(); }));
            // The protocol runs on the same socket, both ways.
            ASSERT_TRUE(fd.write_all("220 hello"));
            EXPECT_TRUE(eventually(
                [&] { return static_cast<RecordSess*>(conn.last())->received() == "220 hello"; }));
            ASSERT_TRUE(conn.send_str("USER x"));
            EXPECT_EQ(fd.read_n(6), "USER x");
            EXPECT_FALSE(conn.conn_failed());
        } else {
            // The session ends by itself, whether or not the proxy hangs up.
            EXPECT_TRUE(eventually([&] { return conn.conn_failed(); }));
            EXPECT_TRUE(eventually([&] { return !conn.connected(); }));
            bool eof = false;
            if (fd.ok()) {
                fd.read_to_eof(eof);
                EXPECT_TRUE(eof);
            }
        }
    }
}

// The proxy resolves the destination (ATYP 3): a name only the proxy knows
// connects through it, the log shows the name as given, and the local
// resolver never hears of it.
TEST(ProxyScripted, Socks5SendsTheNameAndLooksNothingUp)
{
    const std::string dst = std::string(PROXY_ONLY) + ":2121";
    PlainServer proxy;
    ASSERT_TRUE(proxy.ok());
    TestConnector conn(record_sessions());
    KV_InetAddr local;
    const int before = proxy_only_lookups.load();
    ASSERT_TRUE(conn.connect(local, proxy.addr(),
                             new KV_ProxySocks5(&conn, dst.c_str(), KV_LoginData(), false)));
    Fd fd = proxy.accept();
    ASSERT_TRUE(fd.ok());
    EXPECT_EQ(fd.read_n(S5_HELLO.size()), S5_HELLO);
    ASSERT_TRUE(fd.write_all(bytes({5, 0})));
    const std::string req = bytes({5, 1, 0, 3, static_cast<int>(std::strlen(PROXY_ONLY))}) +
                            PROXY_ONLY + bytes({0x08, 0x49});
    EXPECT_EQ(fd.read_n(req.size()), req);
    ASSERT_TRUE(fd.write_all(S5_OK));
    conn.wait_open();
    ASSERT_TRUE(eventually([&] { return conn.connected(); }));
    ASSERT_TRUE(fd.write_all("220 hello"));
    EXPECT_TRUE(eventually(
        [&] { return static_cast<RecordSess*>(conn.last())->received() == "220 hello"; }));
    EXPECT_FALSE(conn.conn_failed());
    EXPECT_TRUE(conn.log.has("SOCKS5 - CONNECT ( " + dst + " )", KV_SESS_LOG_SENT));
    EXPECT_EQ(proxy_only_lookups.load(), before);

    // The counter does see a lookup when one is made.
    const KV_InetAddr looked(dst.c_str(), KV_Port(0));
    EXPECT_FALSE(looked.valid());
    EXPECT_EQ(proxy_only_lookups.load(), before + 1);
}

} // namespace
