// The reply reader, the 227 and 257 forms, the SYST words and the refusal
// of line breaks in arguments.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpctrlsess.h"

namespace {

struct Fed
{
    std::vector<std::pair<uint32_t, std::string>> replies;
    bool fault = false;
    std::string err;
};

Fed feed(const std::vector<std::string>& lines)
{
    KV_FtpReplyReader r;
    Fed f;
    for (const auto& l : lines) {
        uint32_t code = 0;
        KV_String text, err, line;
        line.append(l.data(), static_cast<uint32_t>(l.size()));
        switch (r.feed(line, code, text, err)) {
        case KV_FtpReplyReader::Reply:
            f.replies.emplace_back(code, text.data());
            break;
        case KV_FtpReplyReader::Fault:
            f.fault = true;
            f.err = err.data();
            return f;
        case KV_FtpReplyReader::Text:
            break;
        }
    }
    return f;
}

} // namespace

TEST(KV_FtpReplyReader, Replies)
{
    struct Case
    {
        const char* what;
        std::vector<std::string> lines;
        std::vector<std::pair<uint32_t, std::string>> want;
    } cases[] = {
        {"single line", {"220 Welcome"}, {{220, "Welcome"}}},
        {"multi-line welcome (vsftpd banner)",
         {"220-Hello", "220-there", "220 ready"},
         {{220, "ready"}}},
        // A line of digits and a blank inside a multi-line reply is text
        // (wu-ftpd help and STAT output start lines with numbers).
        {"digits inside a multi-line reply",
         {"211-Status", "123 not the end", "500 nor this", "211 End"},
         {{211, "End"}}},
        {"bare code is no reply", {"230"}, {}},
        {"no code", {"hello world"}, {}},
        {"first digit outside 1-5", {"600 odd", "099 odd"}, {}},
        {"four digits", {"2200 odd"}, {}},
        {"overflowing number", {"99999999999999999999 x"}, {}},
        {"530 after text", {"garbage", "530 Login incorrect."}, {{530, "Login incorrect."}}},
        {"two in a row", {"331 Password", "230 ok"}, {{331, "Password"}, {230, "ok"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fed f = feed(c.lines);
        EXPECT_FALSE(f.fault);
        EXPECT_EQ(f.replies, c.want);
    }
}

TEST(KV_FtpReplyReader, LimitsRefused)
{
    const Fed longline = feed({"200 " + std::string(KV_FtpReplyReader::max_text + 1, 'x')});
    EXPECT_TRUE(longline.fault);
    EXPECT_EQ(longline.err, "Reply line too long.");
    EXPECT_FALSE(feed({"200 " + std::string(KV_FtpReplyReader::max_text - 1, 'x')}).fault);

    std::vector<std::string> endless{"220-start"};
    for (uint32_t i = 0; i <= KV_FtpReplyReader::max_lines; ++i)
        endless.push_back("220-more");
    const Fed f = feed(endless);
    EXPECT_TRUE(f.fault);
    EXPECT_EQ(f.err, "Reply too long.");
}

TEST(KV_FtpReplyReader, PassiveAddress)
{
    struct Case
    {
        const char* text;
        bool ok;
        const char* addr;
        uint16_t port;
    } cases[] = {
        {"Entering Passive Mode (192,168,0,1,4,1).", true, "192.168.0.1", 1025},
        {"Entering Passive Mode =127,0,0,1,200,10", true, "127.0.0.1", 51210},
        {"Entering Passive Mode (127, 0, 0, 1, 4, 1)", true, "127.0.0.1", 1025},
        {"Entering Passive Mode (256,0,0,1,4,1)", false, "", 0},
        {"Entering Passive Mode (127,0,0,1,4,4294967297)", false, "", 0},
        {"Entering Passive Mode (127,0,0,1,4)", false, "", 0},
        {"no numbers at all", false, "", 0},
        {"", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        KV_InetAddr a;
        ASSERT_EQ(KV_FtpReplyReader::parse_pasv(c.text, a), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(KV_String(a).data()), c.addr);
            EXPECT_EQ(static_cast<uint16_t>(a.port()), c.port);
        }
    }
}

TEST(KV_FtpReplyReader, Directory)
{
    KV_String d;
    EXPECT_TRUE(KV_FtpReplyReader::parse_dir("\"/home/ftp\" is the current directory", d));
    EXPECT_STREQ(d.data(), "/home/ftp");
    EXPECT_TRUE(KV_FtpReplyReader::parse_dir("'/pub' is current", d));
    EXPECT_STREQ(d.data(), "/pub");
    EXPECT_FALSE(KV_FtpReplyReader::parse_dir("PWD ok", d));
}

TEST(KV_FtpActSyst, Words)
{
    struct Case
    {
        const char* text;
        KV_FTP_SERV_TYPE want;
    } cases[] = {
        {"UNIX Type: L8", KV_FTP_SERV_UNIX},
        {"unix type: L8", KV_FTP_SERV_UNIX},
        // IIS answers with its one word: the end of the text ends it.
        {"Windows_NT", KV_FTP_SERV_WINNT},
        {"Windows_NT version 5.0", KV_FTP_SERV_WINNT},
        {"NETWARE Type: L8", KV_FTP_SERV_NETWARE},
        {"VM is the operating system of this server. VM/ESA", KV_FTP_SERV_VM},
        {"VMS OpenVMS V7.3", KV_FTP_SERV_VMS},
        {"MACOS Peter's Server", KV_FTP_SERV_GENERIC},
        {"", KV_FTP_SERV_GENERIC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(KV_FtpActSyst::type_of(c.text), c.want);
    }
}

TEST(KV_FtpAct, ArgumentsWithLineBreaksOrNul)
{
    EXPECT_TRUE(KV_FtpAct::arg_ok("/pub/a file.txt"));
    EXPECT_FALSE(KV_FtpAct::arg_ok("evil\nDELE x"));
    EXPECT_FALSE(KV_FtpAct::arg_ok("evil\rDELE x"));
    KV_String nul("a");
    const unsigned char tail[] = {0, 'b'};
    nul.append(tail, 2);
    EXPECT_FALSE(KV_FtpAct::arg_ok(nul));
}
