#include "datasources/kv_proxyopts.h"

#include <gtest/gtest.h>

#include "foundation/kv_string.h"

namespace {

TEST(KV_ProxyOpts, Defaults)
{
    KV_ProxyOpts base;
    EXPECT_TRUE(base.addr().empty());
    EXPECT_EQ(base.port(), 0);
    EXPECT_EQ(KV_ProxyOpts(3128).port(), 3128);

    KV_ProxyOptsFtp ftp;
    EXPECT_TRUE(ftp.addr().empty());
    EXPECT_EQ(ftp.port(), 21);
    EXPECT_EQ(ftp.type(), KV_PROXY_FTP_NONE);
    EXPECT_TRUE(ftp.ldata().empty());
    EXPECT_TRUE(ftp.ldata().acct().empty());
    EXPECT_TRUE(ftp.pasv());

    KV_ProxyOptsHttp http;
    EXPECT_EQ(http.port(), 8080);
    EXPECT_EQ(http.type(), KV_PROXY_HTTP_NONE);
    EXPECT_TRUE(http.ldata().empty());

    KV_ProxyOptsSsh ssh;
    EXPECT_EQ(ssh.port(), 8080);
    EXPECT_EQ(ssh.type(), KV_PROXY_SSH_NONE);
    EXPECT_TRUE(ssh.ldata().empty());
}

// A port read from a file is checked before it is narrowed: 65557 must not
// turn into port 21.
TEST(KV_ProxyOpts, PortsAboveTheRangeAreRefused)
{
    struct Case
    {
        unsigned long port;
        bool ok;
    } cases[] = {
        {0, true},
        {1, true},
        {65535, true},
        {65536, false},
        {65557, false},
        {4294967296ul + 21, false},
        {18446744073709551615ul, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        KV_ProxyOptsFtp p;
        EXPECT_EQ(p.set_port(c.port), c.ok);
        EXPECT_EQ(p.port(), c.ok ? c.port : 21u);
    }
}

TEST(KV_ProxyOpts, CopiesCarryEveryField)
{
    KV_ProxyOptsFtp ftp;
    ftp.set_addr("proxy.example");
    ASSERT_TRUE(ftp.set_port(2121));
    ftp.set_type(KV_PROXY_FTP_USER_PORT);
    ftp.ldata() = KV_FtpLoginData("u", "p", "a");
    ftp.set_pasv(false);

    const KV_ProxyOptsFtp copy(ftp);
    KV_ProxyOptsFtp assigned_to;
    assigned_to = ftp;
    const KV_ProxyOptsFtp& assigned = assigned_to;
    for (const KV_ProxyOptsFtp* p : {&copy, &assigned}) {
        EXPECT_EQ(p->addr(), "proxy.example");
        EXPECT_EQ(p->port(), 2121);
        EXPECT_EQ(p->type(), KV_PROXY_FTP_USER_PORT);
        EXPECT_TRUE(p->ldata() == KV_FtpLoginData("u", "p", "a"));
        EXPECT_FALSE(p->pasv());
    }

    KV_ProxyOptsHttp http;
    http.set_type(KV_PROXY_HTTP_CONNECT);
    http.set_ldata(KV_LoginData("pu", "pp"));
    KV_ProxyOptsHttp http2;
    http2 = http;
    EXPECT_EQ(http2.type(), KV_PROXY_HTTP_CONNECT);
    EXPECT_TRUE(http2.ldata() == KV_LoginData("pu", "pp"));

    KV_ProxyOptsSsh ssh;
    ssh.set_type(KV_PROXY_SSH_SOCKS5);
    ssh.set_ldata(KV_LoginData("su"));
    const KV_ProxyOptsSsh ssh2(ssh);
    EXPECT_EQ(ssh2.type(), KV_PROXY_SSH_SOCKS5);
    EXPECT_EQ(ssh2.ldata().user(), "su");
}

} // namespace
