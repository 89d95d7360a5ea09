// The HTTP client against real servers: Apache with mod_dav (plain, HTTPS
// with a CA of the run, Basic authentication, MaxRanges none), and through
// tinyproxy (HTTP proxy and CONNECT) and dante (SOCKS4, SOCKS5).
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kv_filetreenode.h"
#include "http/kv_httptest.h"
#include "support/kv_apache.h"
#include "support/kv_testdir.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;
using namespace httptest;

class HttpApache : public TempDirTest
{
protected:
    // Starts Apache with opts; false (the test skips) when not installed.
    bool start(const ApacheOpts& opts = ApacheOpts())
    {
        if (!Apache::installed())
            return false;
        apache = std::make_unique<Apache>(opts);
        EXPECT_TRUE(apache->start()) << apache->log();
        return true;
    }
    // A file of n bytes on the server.
    std::string serve(const std::string& rel, size_t n)
    {
        const std::string data = make_bytes(n, static_cast<unsigned>(n));
        EXPECT_TRUE(apache->put(rel, data));
        return data;
    }
    // A download of the whole resource (resumed at offset when not 0).
    bool get_whole(Conn& c, const std::string& uri, const std::string& data, int64_t offset = 0)
    {
        auto log =
            down_log(dir, "get" + std::to_string(++n_) + ".log", static_cast<int64_t>(data.size()));
        EXPECT_TRUE(log);
        if (!log)
            return false;
        if (offset) {
            EXPECT_TRUE(log->write_at(0, reinterpret_cast<const unsigned char*>(data.data()),
                                      static_cast<uint32_t>(offset)));
        }
        KV_HttpActGet get(uri.c_str(), "", offset, log.get());
        const bool ok = c.run(get);
        const std::string got = stored(*log);
        EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
        return ok;
    }
    // An upload of data to uri.
    bool put(Conn& c, const std::string& uri, const std::string& data, bool chunked,
             int64_t offset = 0)
    {
        const std::string file = dir / ("up" + std::to_string(++n_) + ".bin");
        write_bin(file, data);
        auto log = up_log(dir, "up" + std::to_string(n_) + ".log", file,
                          static_cast<int64_t>(data.size()));
        EXPECT_TRUE(log);
        if (!log)
            return false;
        KV_HttpActPut act(file.c_str(), uri.c_str(), log.get(), offset, chunked);
        return c.run(act);
    }

    std::unique_ptr<Apache> apache;
    int n_ = 0;
};

TEST_F(HttpApache, GetWholeAndResumed)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = serve("f.bin", 300000);
    Conn c(apache->host());
    EXPECT_TRUE(get_whole(c, "/f.bin", data)) << c.man.err_msg().data() << apache->log();
    EXPECT_TRUE(get_whole(c, "/f.bin", data, 123457)) << c.man.err_msg().data();
    EXPECT_EQ(c.man.version(), KV_HttpVer(1, 1));
}

TEST_F(HttpApache, OneFragment)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = serve("f.bin", 200000);
    Conn c(apache->host());
    auto log = down_log(dir, "frag.log", 200000, true, 0);
    ASSERT_TRUE(log);
    KV_FileFrag frag(nullptr, 30000, 70001, KV_FileFrag::NEW);
    KV_HttpActGet get("/f.bin", "", &frag, log.get());
    EXPECT_TRUE(c.run(get)) << c.man.err_msg().data();
    EXPECT_TRUE(frag.done());
    std::string back(40001, '\0');
    uint32_t len = 40001;
    ASSERT_TRUE(log->read_frag(frag, reinterpret_cast<unsigned char*>(back.data()), 0, len));
    EXPECT_EQ(len, 40001u);
    EXPECT_TRUE(back == data.substr(30000, 40001));
}

// A server that answers every range with the whole resource never gets it
// written at the wrong place.
TEST_F(HttpApache, MaxRangesNone)
{
    ApacheOpts o;
    o.max_ranges_none = true;
    if (!start(o))
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = serve("f.bin", 100000);
    Conn c(apache->host());
    EXPECT_TRUE(get_whole(c, "/f.bin", data, 5000)) << c.man.err_msg().data();
    auto log = down_log(dir, "frag.log", 100000, true, 0);
    ASSERT_TRUE(log);
    KV_FileFrag frag(nullptr, 50000, 60000, KV_FileFrag::NEW);
    KV_HttpActGet get("/f.bin", "", &frag, log.get());
    EXPECT_FALSE(c.run(get));
    EXPECT_EQ(frag.pos(), 50000) << "nothing stored";
}

TEST_F(HttpApache, PutWithLengthAndChunked)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    Conn c(apache->host());
    for (bool chunked : {false, true}) {
        for (size_t n : {size_t{0}, size_t{10000}, size_t{1000003}}) {
            SCOPED_TRACE(std::to_string(n) + (chunked ? " chunked" : " length"));
            const std::string data = make_bytes(n, 11);
            const std::string name = "up" + std::to_string(n) + (chunked ? "c" : "l") + ".bin";
            EXPECT_TRUE(put(c, "/" + name, data, chunked))
                << c.man.err_msg().data() << apache->log();
            EXPECT_TRUE(apache->get(name) == data) << apache->get(name).size();
        }
    }
}

// A resumed upload sends the whole file: the server keeps no partial copy
// it would extend.
TEST_F(HttpApache, ResumedPutLeavesTheWholeFile)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = make_bytes(50000, 5);
    ASSERT_TRUE(apache->put("r.bin", data.substr(0, 20000)));
    Conn c(apache->host());
    EXPECT_TRUE(put(c, "/r.bin", data, false, 20000)) << c.man.err_msg().data();
    EXPECT_TRUE(apache->get("r.bin") == data) << apache->get("r.bin").size();
}

TEST_F(HttpApache, DeleteAndHead)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    serve("d.bin", 777);
    Conn c(apache->host());
    const KV_HttpActListParams params{KV_PathDef(), "/d.bin", "d.bin"};
    {
        KV_HttpActHead head(params);
        EXPECT_TRUE(c.run(head));
        std::unique_ptr<KV_FileTreeNode> node(head.get_node());
        ASSERT_TRUE(node);
        EXPECT_EQ(node->fdc().size(false), 777);
        EXPECT_TRUE(node->fdc().multifrag()) << "Apache serves ranges";
    }
    KV_HttpActDel del("/d.bin");
    EXPECT_TRUE(c.run(del)) << c.man.err_msg().data();
    KV_HttpActHead again(params);
    EXPECT_FALSE(c.run(again));
    EXPECT_EQ(c.man.last_err(), KV_HTTP_ERR_NOT_FOUND);
}

TEST_F(HttpApache, BasicAuthentication)
{
    ApacheOpts o;
    o.basic_auth = true;
    if (!start(o))
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = serve("a.bin", 5000);
    Conn c(apache->host());
    KV_HttpLoginData login(o.user.c_str(), o.pass.c_str());
    login.set_auth(true);
    c.man.set_ldata(login);
    EXPECT_TRUE(get_whole(c, "/a.bin", data)) << c.man.err_msg().data();
    EXPECT_TRUE(put(c, "/b.bin", data, true)) << c.man.err_msg().data();
    EXPECT_TRUE(apache->get("b.bin") == data) << apache->get("b.bin").size();

    KV_HttpLoginData wrong(o.user.c_str(), "nope");
    wrong.set_auth(true);
    c.man.set_ldata(wrong);
    auto log = down_log(dir, "denied.log", 5000);
    ASSERT_TRUE(log);
    KV_HttpActGet get("/a.bin", "", int64_t{0}, log.get());
    EXPECT_FALSE(c.run(get));
    EXPECT_EQ(std::string(c.man.err_msg().data()), "Unauthorized");
    ASSERT_FALSE(c.errors().empty());
    EXPECT_EQ(c.errors().back(), "HTTP: Unauthorized");
}

class HttpApacheTls : public HttpApache
{
protected:
    void secure(Conn& c, const std::string& ca_file)
    {
        KV_String err;
        EXPECT_TRUE(ctx.init("", "", ca_file.c_str(), "", &err)) << err.data();
        c.man.set_file_man(&fm, &ctx);
        c.man.set_secure(KV_HTTP_SECURE_SSL);
    }

    KV_SSLCtx ctx;
    TrustFileMan fm;
    TrustHost trust;
};

TEST_F(HttpApacheTls, HttpsWithTheRunsCa)
{
    ApacheOpts o;
    o.tls = true;
    if (!start(o))
        GTEST_SKIP() << "apache2 is not installed";
    const std::string data = serve("s.bin", 250000);
    Conn c(apache->host());
    secure(c, apache->ca_file());
    EXPECT_TRUE(get_whole(c, "/s.bin", data)) << c.man.err_msg().data() << apache->log();
    EXPECT_TRUE(get_whole(c, "/s.bin", data, 1000)) << c.man.err_msg().data();
    EXPECT_TRUE(put(c, "/t.bin", data, true)) << c.man.err_msg().data();
    EXPECT_TRUE(apache->get("t.bin") == data) << apache->get("t.bin").size();
    EXPECT_EQ(trust.asked(), 0u) << "the certificate is trusted without a question";
}

TEST_F(HttpApacheTls, UntrustedServerIsRefused)
{
    ApacheOpts o;
    o.tls = true;
    if (!start(o))
        GTEST_SKIP() << "apache2 is not installed";
    serve("s.bin", 10);
    Conn c(apache->host());
    // A CA of its own that did not sign the server's certificate; the
    // question is answered no.
    const CertKey other = make_cert(dir, "other-ca", {"other CA", "", -3600, 86400, true});
    secure(c, other.cert_file);
    KV_HttpActDel del("/s.bin");
    EXPECT_FALSE(c.run(del));
    EXPECT_TRUE(c.man.conn_err());
    ASSERT_FALSE(c.errors().empty());
    EXPECT_EQ(c.errors().back().rfind("HTTP: SSL negotiation failed.", 0), 0u) << c.errors().back();
    EXPECT_EQ(apache->get("s.bin").size(), 10u) << "nothing deleted";
}

// ---------------------------------------------------------------------------
// Proxies in front of Apache

class HttpProxied : public HttpApache
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
        EXPECT_TRUE(proxy->wait_port(pport)) << proxy->log();
        return true;
    }
    KV_ProxyOptsHttp opts(KV_PROXY_HTTP kind, const KV_LoginData& login = KV_LoginData())
    {
        KV_ProxyOptsHttp p;
        p.set_type(kind);
        p.set_addr("127.0.0.1");
        EXPECT_TRUE(p.set_port(pport));
        p.set_ldata(login);
        return p;
    }
    std::string tinyproxy_conf(const char* extra = "")
    {
        return "Port " + std::to_string(pport) +
               "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\n" + extra;
    }

    const uint16_t pport = closed_port();
    std::unique_ptr<ChildProc> proxy;
};

TEST_F(HttpProxied, TinyproxyAsHttpProxyAndTunnel)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    if (!start_proxy("tinyproxy", tinyproxy_conf(), {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed";
    const std::string data = serve("p.bin", 120000);
    for (KV_PROXY_HTTP kind : {KV_PROXY_HTTP_STD, KV_PROXY_HTTP_CONNECT}) {
        SCOPED_TRACE(kind);
        Conn c(apache->host(), opts(kind));
        EXPECT_TRUE(get_whole(c, "/p.bin", data)) << c.man.err_msg().data() << proxy->log();
        EXPECT_TRUE(get_whole(c, "/p.bin", data, 777)) << c.man.err_msg().data();
        const std::string up = "q" + std::to_string(kind) + ".bin";
        EXPECT_TRUE(put(c, "/" + up, data, false)) << c.man.err_msg().data();
        EXPECT_TRUE(apache->get(up) == data) << apache->get(up).size();
    }
}

TEST_F(HttpProxied, TinyproxyWithALogin)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    if (!start_proxy("tinyproxy", tinyproxy_conf("BasicAuth joe s3cret\n"),
                     {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed";
    const std::string data = serve("p.bin", 1000);
    for (KV_PROXY_HTTP kind : {KV_PROXY_HTTP_STD, KV_PROXY_HTTP_CONNECT}) {
        SCOPED_TRACE(kind);
        Conn c(apache->host(), opts(kind, KV_LoginData("joe", "s3cret")));
        EXPECT_TRUE(get_whole(c, "/p.bin", data)) << c.man.err_msg().data() << proxy->log();
    }
}

TEST_F(HttpProxied, HttpsOverAnHttpProxyBecomesATunnel)
{
    ApacheOpts o;
    o.tls = true;
    if (!start(o))
        GTEST_SKIP() << "apache2 is not installed";
    if (!start_proxy("tinyproxy", tinyproxy_conf(), {"-d", "-c", dir / "proxy.conf"}))
        GTEST_SKIP() << "tinyproxy is not installed";
    const std::string data = serve("s.bin", 70000);
    Conn c(apache->host(), opts(KV_PROXY_HTTP_STD));
    KV_SSLCtx ctx;
    TrustFileMan fm;
    TrustHost trust;
    KV_String err;
    ASSERT_TRUE(ctx.init("", "", apache->ca_file().c_str(), "", &err)) << err.data();
    c.man.set_file_man(&fm, &ctx);
    c.man.set_secure(KV_HTTP_SECURE_SSL);
    EXPECT_EQ(c.man.proxy_type(), KV_PROXY_HTTP_CONNECT);
    EXPECT_TRUE(get_whole(c, "/s.bin", data)) << c.man.err_msg().data() << proxy->log();
}

TEST_F(HttpProxied, DanteSocks4AndSocks5)
{
    if (!start())
        GTEST_SKIP() << "apache2 is not installed";
    const std::string conf =
        "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(pport) +
        "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
        "user.privileged: root\nuser.unprivileged: nobody\n"
        "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n"
        "socks pass { from: 127.0.0.1/32 to: 0.0.0.0/0 command: connect }\n";
    if (!start_proxy("danted", conf, {"-f", dir / "proxy.conf"}))
        GTEST_SKIP() << "danted is not installed";
    const std::string data = serve("s.bin", 90000);
    for (KV_PROXY_HTTP kind : {KV_PROXY_HTTP_SOCKS4, KV_PROXY_HTTP_SOCKS5}) {
        SCOPED_TRACE(kind);
        Conn c(apache->host(), opts(kind));
        EXPECT_TRUE(get_whole(c, "/s.bin", data)) << c.man.err_msg().data() << proxy->log();
        const std::string up = "u" + std::to_string(kind) + ".bin";
        EXPECT_TRUE(put(c, "/" + up, data, true)) << c.man.err_msg().data();
        EXPECT_TRUE(apache->get(up) == data) << apache->get(up).size();
    }
}

// Every option of the fixture gives a server that starts.
TEST(HttpApacheFixture, OptionsStart)
{
    if (!Apache::installed())
        GTEST_SKIP() << "apache2 is not installed";
    ApacheOpts tls;
    tls.tls = true;
    ApacheOpts auth;
    auth.basic_auth = true;
    ApacheOpts ranges;
    ranges.max_ranges_none = true;
    for (const ApacheOpts& o : {tls, auth, ranges}) {
        Apache a(o);
        EXPECT_TRUE(a.start()) << a.log();
    }
}

} // namespace
