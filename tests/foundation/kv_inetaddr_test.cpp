#include "foundation/kv_inetaddr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string s(const KV_String& k)
{
    return k.data();
}

// set_addr over a table: what the address and port are afterwards, starting
// from 1.2.3.4:99.
TEST(KV_InetAddr, SetAddrTable)
{
    struct Case
    {
        const char* text;
        bool ok;
        const char* addr; // dotted address afterwards
        uint16_t port;    // port afterwards
    };
    const Case cases[] = {
        {"localhost:21", true, "127.0.0.1", 21},
        {"localhost:0", true, "127.0.0.1", 99},
        {"localhost:", true, "127.0.0.1", 99},
        {"  10.0.0.1  ", true, "10.0.0.1", 99},
        {"10.0.0.1:8080", true, "10.0.0.1", 8080},
        {"10.0.0.1:65535", true, "10.0.0.1", 65535},
        // A port above 16 bits is refused, not cut: 65557 would become 21.
        {"10.0.0.1:65557", false, "1.2.3.4", 99},
        {"10.0.0.1:99999999999", false, "1.2.3.4", 99},
        {"10.0.0.1:2x", false, "1.2.3.4", 99},
        {"255.255.255.255", false, "1.2.3.4", 99},
        {"300.1.1.1", false, "1.2.3.4", 99},
        {"10.0.0.1x", false, "1.2.3.4", 99},
        {"", false, "1.2.3.4", 99},
        {":21", false, "1.2.3.4", 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KV_InetAddr a("1.2.3.4", KV_Port(99));
        EXPECT_EQ(a.set_addr(c.text), c.ok);
        EXPECT_EQ(s(KV_String(a)), c.addr);
        EXPECT_EQ(uint16_t(a.port()), c.port);
        EXPECT_EQ(s(a.host()), c.text);
    }
}

TEST(KV_InetAddr, ConstructorPortOnlyWhenTheTextHasNone)
{
    EXPECT_EQ(uint16_t(KV_InetAddr("10.0.0.1:8080", KV_Port(21)).port()), 8080);
    EXPECT_EQ(uint16_t(KV_InetAddr("10.0.0.1", KV_Port(21)).port()), 21);
    EXPECT_TRUE(KV_InetAddr("10.0.0.1", KV_Port(21)).valid());
    EXPECT_FALSE(KV_InetAddr("10.0.0.1", KV_Port(0)).valid());
    EXPECT_FALSE(KV_InetAddr("255.255.255.255", KV_Port(21)).valid());
    EXPECT_FALSE(KV_InetAddr().valid());
}

TEST(KV_InetAddr, TextForms)
{
    const KV_InetAddr a("192.168.0.1", KV_Port(1025));
    EXPECT_EQ(s(a.as_str(KV_IADDR_FTP)), "192,168,0,1,4,1");
    EXPECT_EQ(s(a.as_str(KV_IADDR_LONG)), "192.168.0.1 [ ip: 192.168.0.1 , port: 1025 ]");
    EXPECT_EQ(s(a.as_str(KV_IADDR_ADDR_PORT)), "192.168.0.1:1025");
    EXPECT_EQ(s(a.as_str(static_cast<KV_IADDR_FORM>(4))), "");
    EXPECT_EQ(a.as_num(), 0xC0A80001u);

    const KV_InetAddr bad("255.255.255.255", KV_Port(21));
    EXPECT_EQ(s(bad.as_str(KV_IADDR_LONG)), "255.255.255.255 [ ip: ??? , port: 21 ]");

    // A reverse lookup of the loopback address finds a name (or falls back
    // to the dotted address); it never comes back empty.
    EXPECT_FALSE(KV_InetAddr("127.0.0.1", KV_Port(21)).as_str(KV_IADDR_HOST).empty());
}

// The comma form of PORT and PASV, both ways: what as_str gives, the FTP
// side reads back with the octet helpers and the two-byte port.
TEST(KV_InetAddr, CommaFormBothWays)
{
    const KV_InetAddr a("10.20.30.40", KV_Port(50001));
    const std::string text = s(a.as_str(KV_IADDR_FTP));
    EXPECT_EQ(text, "10,20,30,40,195,81");

    unsigned h[4], p[2];
    ASSERT_EQ(
        std::sscanf(text.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]),
        6);
    const uint32_t num =
        KV_InetAddr::ip_as_num(uint8_t(h[3]), uint8_t(h[2]), uint8_t(h[1]), uint8_t(h[0]));
    EXPECT_EQ(num, a.as_num());
    const KV_InetAddr back(KV_InetAddr::num_as_ip(num), KV_Port(uint8_t(p[0]), uint8_t(p[1])));
    EXPECT_TRUE(back == a);
    EXPECT_EQ(s(KV_InetAddr::num_as_ip(0x01020304)), "1.2.3.4");
}

TEST(KV_InetAddr, EqualityIgnoresTheHostText)
{
    KV_InetAddr a("127.0.0.1", KV_Port(21));
    KV_InetAddr b("localhost", KV_Port(21));
    EXPECT_NE(s(a.host()), s(b.host()));
    EXPECT_TRUE(a == b);
    b.set_port(22);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a.same_host(b));

    KV_InetAddr c;
    c = a;
    EXPECT_TRUE(c == a);
    EXPECT_EQ(s(c.host()), "127.0.0.1");
}

TEST(KV_InetAddr, SetSockaddrTakesOnlyIPv4)
{
    KV_InetAddr a("10.0.0.1", KV_Port(21));
    sockaddr_in6 six{};
    six.sin6_family = AF_INET6;
    EXPECT_FALSE(a.set_sockaddr(reinterpret_cast<sockaddr*>(&six), sizeof(six)));
    sockaddr_in four{};
    four.sin_family = AF_INET;
    EXPECT_FALSE(a.set_sockaddr(reinterpret_cast<sockaddr*>(&four), sizeof(four) - 1));
    EXPECT_EQ(s(KV_String(a)), "10.0.0.1");
}

TEST(KV_InetAddr, ServicePorts)
{
    const uint16_t ftp = KV_InetAddr::get_port("ftp", "tcp");
    if (ftp == 0)
        GTEST_SKIP() << "no service database";
    EXPECT_EQ(ftp, 21);
    EXPECT_EQ(uint16_t(KV_InetAddr::get_port("no-such-service-here", "tcp")), 0);
    EXPECT_EQ(uint16_t(KV_InetAddr::get_port(nullptr, "tcp")), 0);
}

// A destination split for someone else to resolve: the text as given, the
// port read as set_addr reads it.
TEST(KV_InetAddr, SplitTakesNameAndPortWithoutALookup)
{
    struct Case
    {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"only.the-proxy.knows:2121", true, "only.the-proxy.knows", 2121},
        {"  spaced.test : 21 ", true, "spaced.test", 21},
        {"10.0.0.1", true, "10.0.0.1", 0},
        {"name:", true, "name", 0},
        {":21", true, "", 21},
        {"name:65536", false, "old", 9},
        {"name:2x", false, "old", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KV_String host = "old";
        KV_Port port(9);
        EXPECT_EQ(KV_InetAddr::split(c.text, host, port), c.ok);
        EXPECT_STREQ(host.data(), c.host);
        EXPECT_EQ(uint16_t(port), c.port);
    }
}

} // namespace
