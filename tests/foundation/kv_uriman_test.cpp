#include "foundation/kv_uriman.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/kv_string.h"

namespace {

KV_String kv(const std::string& s)
{
    KV_String r;
    r.append(reinterpret_cast<const unsigned char*>(s.data()), static_cast<uint32_t>(s.size()));
    return r;
}

std::string str(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

TEST(KV_UriMan, ConvProtGivesDefaultPortsAndPlainSchemes)
{
    struct Case
    {
        const char* scheme;
        const char* after;
        uint16_t port;
    } cases[] = {
        {"https", "HTTP", 443},  {"HTTPS", "HTTP", 443},  {"http", "http", 80},
        {"HtTp", "HtTp", 80},    {"ftps", "FTP", 990},    {"ftp", "ftp", 21},
        {"SFTP", "SFTP", 22},    {"gopher", "gopher", 7}, {"", "", 7},
        {"https ", "https ", 7}, // the scheme is compared as it is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scheme);
        KV_String scheme = c.scheme;
        uint16_t port = 7;
        KV_UriMan::conv_prot(scheme, port);
        EXPECT_EQ(str(scheme), c.after);
        EXPECT_EQ(port, c.port);
    }
}

TEST(KV_UriMan, ConvToHexEscapesUnsafeBytesAsTheyAre)
{
    struct Case
    {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"blank", "a b", "a%20b"},
        {"utf-8 stays utf-8", "caf\xC3\xA9", "caf%C3%A9"},
        {"latin-1 byte", "\xE9", "%E9"},
        {"controls and DEL", std::string("\x01\t\x1F\x7F\0", 5), "%01%09%1F%7F%00"},
        {"unsafe characters", "{}|\\^~[]`<>#\"", "%7B%7D%7C%5C%5E%7E%5B%5D%60%3C%3E%23%22"},
        {"safe characters", "/a-z_A.Z0~9?&=:@!$'()*+,;", "/a-z_A.Z0%7E9?&=:@!$'()*+,;"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(str(KV_UriMan::conv_to_hex(kv(c.in))), c.out);
    }
}

// A text with a '%' keeps its escapes and has everything else escaped: a
// name from a listing must never put a raw blank, CR or LF on a request line.
TEST(KV_UriMan, ConvToHexKeepsEscapesAndEscapesTheRest)
{
    struct Case
    {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"percent and blank", "100% sure.txt", "100%25%20sure.txt"},
        {"line break after a percent", "x%\r\nHost: y", "x%25%0D%0AHost:%20y"},
        {"escape kept, blank escaped", "a b%20c", "a%20b%20c"},
        {"already escaped", "caf%C3%A9%20x/%7Ea", "caf%C3%A9%20x/%7Ea"},
        {"lower-case escape kept", "%c3%a9", "%c3%a9"},
        {"lone percent", "100%", "100%25"},
        {"percent and one digit", "a%2", "a%252"},
        {"percent before escape", "%%41", "%25%41"},
        {"not hex", "%zz%4g", "%25zz%254g"},
        {"escaped percent", "50%25", "50%25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KV_String hex = KV_UriMan::conv_to_hex(kv(c.in));
        EXPECT_EQ(str(hex), c.out);
        EXPECT_EQ(str(KV_UriMan::conv_to_hex(hex)), c.out) << "escaping twice changes nothing";
    }
}

TEST(KV_UriMan, ConvToAsciiDecodesWholeEscapesOnly)
{
    struct Case
    {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"utf-8 bytes come back", "%C3%A9", "\xC3\xA9"},
        {"lower-case hex", "%c3%a9", "\xC3\xA9"},
        {"latin-1 byte and blank", "%E9%20", "\xE9 "},
        {"escape then letter", "%E9x", "\xE9x"},
        {"letter", "%41", "A"},
        {"not hex", "%zz1", "%zz1"},
        {"half escape", "%4g", "%4g"},
        {"trailing percent", "a%", "a%"},
        {"trailing digit", "a%4", "a%4"},
        {"percent only", "%", "%"},
        {"percent escaped", "%25%41", "%A"},
        {"percent before escape", "%%41", "%A"},
        {"blank inside", "% 4", "% 4"},
        {"sign inside", "%+f", "%+f"},
        {"NUL dropped", "a%00b", "ab"},
        {"lone continuation byte", "%A9", "\xA9"},
        {"cut-off lead byte", "%C3", "\xC3"},
        {"plain", "/pub/x", "/pub/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An exact-size copy, so that AddressSanitizer sees any read past the
        // end of the text.
        const std::string in = c.in;
        EXPECT_EQ(str(KV_UriMan::conv_to_ascii(kv(in))), c.out);
    }
}

TEST(KV_UriMan, EscapingRoundTripsEveryByteButNul)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const KV_String hex = KV_UriMan::conv_to_hex(kv(all));
    EXPECT_FALSE(hex.contains(' '));
    EXPECT_EQ(str(KV_UriMan::conv_to_ascii(hex)), all);
}

TEST(KV_UriMan, SplitUri)
{
    struct Case
    {
        const char* name;
        std::string uri;
        bool want_port;
        const char* scheme;
        const char* host;
        const char* path;
        const char* port;
    } cases[] = {
        {"full", "ftp://ftp.example.com:2121/pub/x", true, "ftp", "ftp.example.com", "/pub/x",
         "2121"},
        {"scheme as typed", "FTP://h/x", true, "FTP", "h", "/x", "keep"},
        {"port not asked", "ftp://h:2121/x", false, "ftp", "h:2121", "/x", "keep"},
        {"port not all digits", "ftp://h:21a/x", true, "ftp", "h:21a", "/x", "keep"},
        {"empty port", "ftp://h:/x", true, "ftp", "h:", "/x", "keep"},
        {"colon first", "ftp://:21/x", true, "ftp", ":21", "/x", "keep"},
        {"bare host", "example.com", true, "keep", "example.com", "keep", "keep"},
        {"host and port only", "example.com:8080", true, "keep", "example.com", "keep", "8080"},
        {"blanks around", " \t http :// h : 21 / a b \r\n", true, "http", "h", "/ a b", "21"},
        {"escaped path and host", "http://h%41/a%20b/caf%C3%A9", true, "http", "hA",
         "/a b/caf\xC3\xA9", "keep"},
        {"empty host", "http:///x", true, "http", "", "/x", "keep"},
        {"nothing after scheme", "ftp://", true, "ftp", "", "keep", "keep"},
        {"second scheme mark in path", "http://h/a://b", true, "http", "h", "/a://b", "keep"},
        {"path only", "/dir/file", true, "keep", "", "/dir/file", "keep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_String scheme = "keep", host = "keep", path = "keep", port = "keep";
        KV_UriMan::split_uri(kv(c.uri), scheme, host, path, c.want_port ? &port : nullptr);
        EXPECT_EQ(str(scheme), c.scheme);
        EXPECT_EQ(str(host), c.host);
        EXPECT_EQ(str(path), c.path);
        EXPECT_EQ(str(port), c.port);
    }
}

TEST(KV_UriMan, BuildUri)
{
    const KV_String port21 = "21", none;
    EXPECT_EQ(KV_UriMan::build_uri("FTP", "h.example", "/x", &port21), "ftp://h.example:21/x");
    EXPECT_EQ(KV_UriMan::build_uri("HTTP", "h", "/a b", &none), "http://h/a b");
    EXPECT_EQ(KV_UriMan::build_uri("http", "h", "/"), "http://h/");
}

TEST(KV_UriMan, CmpUri)
{
    struct Case
    {
        const char* a;
        const char* b;
        const char* def;
        bool same;
    } cases[] = {
        {"https://Host.Example/a", "http://host.example:443/a", "http", true},
        {"http://h/a", "http://h:80/a", "ftp", true},
        {"HTTP://H/a", "http://h/a", "http", true},
        {"http://h/A", "http://h/a", "http", false},
        {"http://h/a", "http://h:8080/a", "http", false},
        {"h/a", "http://h:80/a", "http", true},
        {"h/a", "http://h/a", "ftp", false},
        {"ftps://h/x", "ftp://h:990/x", "http", true},
        {"ftps://h/x", "ftp://h/x", "http", false},
        {"gopher://h/x", "gopher://h:0/x", "http", true},
        {"http://h/a%20b", "http://h/a b", "http", true},
        {"http://h", "http://h/", "http", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(KV_UriMan::cmp_uri(c.a, c.b, c.def), c.same);
        EXPECT_EQ(KV_UriMan::cmp_uri(c.b, c.a, c.def), c.same);
    }
}

} // namespace
