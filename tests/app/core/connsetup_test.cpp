// The server address of the connection setup: protocol, port field and
// address follow each other, and the URI leaves a default port out.
#include "core/connsetup.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(ConnSetup, AddressSelectsProtocolAndPort)
{
    struct Row
    {
        const char* addr;
        int protocol_before;
        const char* port_before;
        int protocol;
        const char* port;
    } rows[] = {
        {"sftp://ssh.example.com", 0, "21", 4, "22"},
        {"HTTPS://web.example.com:8443/dav", 0, "21", 3, "8443"},
        {"ftps://files.example.com", 2, "80", 1, "990"},
        // No scheme: the protocol stays, and so does the port field unless
        // the address has a port.
        {"files.example.com", 2, "8000", 2, "8000"},
        {"files.example.com:2121", 0, "21", 0, "2121"},
        // A scheme of none of the five moves nothing but the port it carries.
        {"gopher://old.example.com", 1, "990", 1, "990"},
        {"gopher://old.example.com:70", 1, "990", 1, "70"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.addr);
        int protocol = r.protocol_before;
        KV_String port = r.port_before;
        ConnAddressChanged(r.addr, protocol, port);
        EXPECT_EQ(protocol, r.protocol);
        EXPECT_STREQ(port.data(), r.port);
    }
}

TEST(ConnSetup, ProtocolRebuildsAddress)
{
    struct Row
    {
        const char* addr;
        int protocol;
        const char* new_addr;
        const char* port;
    } rows[] = {
        {"ftp://files.example.com/pub", 2, "http://files.example.com/pub", "80"},
        {"ftp://files.example.com:2121", 4, "sftp://files.example.com:2121", "2121"},
        {"FTPS://files.example.com", 1, "FTPS://files.example.com", "990"},
        {"files.example.com", 3, "files.example.com", "443"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.addr);
        KV_String addr = r.addr;
        KV_String port = "1";
        ConnProtocolChosen(r.protocol, addr, port);
        EXPECT_STREQ(addr.data(), r.new_addr);
        EXPECT_STREQ(port.data(), r.port);
    }

    KV_String addr = "ftp://h:2121/x";
    ConnPortChanged(" 2222 ", addr);
    EXPECT_EQ(addr, "ftp://h:2222/x");
    addr = "ftp://h/x";
    ConnPortChanged("2222", addr);
    EXPECT_EQ(addr, "ftp://h/x") << "an address without port keeps having none";
}

TEST(ConnSetup, UriLeavesTheDefaultPortOut)
{
    struct Row
    {
        const char* addr;
        int protocol;
        const char* port;
        const char* uri;
    } rows[] = {
        {"files.example.com", 1, "990", "ftps://files.example.com"},
        {"files.example.com", 1, "2121", "ftps://files.example.com:2121"},
        {"files.example.com/pub", 0, " 21 ", "ftp://files.example.com/pub"},
        {"ssh.example.com", 4, "", "sftp://ssh.example.com"},
        {"https://web.example.com:8443", 3, "8443", "https://web.example.com:8443"},
        {"http://web.example.com:80", 2, "80", "http://web.example.com:80"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.addr);
        EXPECT_STREQ(ConnUri(r.addr, r.protocol, r.port).data(), r.uri);
    }
}

} // namespace
