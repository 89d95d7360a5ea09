// The FTP manager against a scripted control peer on loopback: replies in
// byte-sized pieces, the login chains, a refused login, a stall, hostile
// replies, an early close, the FTP proxy kinds and a change of settings.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_informer.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "support/kv_ftpscript.h"
#include "support/kv_poolthreads.h"
#include "support/kv_testtools.h"

using namespace kvtest;

namespace {

// Makes `srv` a bare control peer: it sends the welcome in pieces of `chunk`
// bytes, then answers each command line with what `r` returns ("" nothing,
// "CLOSE" closes the connection) and nothing of its own.
using Responder = std::function<std::string(const std::string&)>;
void script(FtpScript& srv, std::string welcome, Responder r, size_t chunk = 1)
{
    srv.welcome = std::move(welcome);
    srv.chunk = chunk;
    srv.set_hook([r = std::move(r)](const std::string& cmd, FtpScript::Session& s) {
        const std::string out = r(cmd);
        if (out == "CLOSE")
            s.close();
        else if (!out.empty())
            s.send_raw(out);
        return true;
    });
}

bool starts(const std::string& s, const char* p)
{
    return s.rfind(p, 0) == 0;
}

// An ordinary Unix server: every command succeeds.
std::string unix_server(const std::string& c)
{
    if (starts(c, "USER"))
        return "331 Password please.\r\n";
    if (starts(c, "PASS"))
        return "230 Logged in.\r\n";
    if (starts(c, "ACCT"))
        return "230 Account ok.\r\n";
    if (starts(c, "SYST"))
        return "215 UNIX Type: L8\r\n";
    if (starts(c, "PWD"))
        return "257 \"/home/joe\" is the current directory\r\n";
    if (starts(c, "MKD"))
        return "257 \"/new\" created\r\n";
    if (starts(c, "RNFR"))
        return "350 Ready for RNTO.\r\n";
    if (starts(c, "SITE") || starts(c, "OPEN") || starts(c, "NOOP") || starts(c, "TYPE"))
        return "200 Ok.\r\n";
    if (starts(c, "CWD") || starts(c, "RNTO") || starts(c, "DELE") || starts(c, "RMD"))
        return "250 Ok.\r\n";
    return "502 Not implemented.\r\n";
}

class Ftp
{
public:
    Ftp(const std::string& dest, const KV_FtpLoginData& ld, uint32_t cmd_tmout = 5)
    {
        ftp.set_informer(&informer);
        ftp.set_tavo_id(7);
        KV_FtpManOpts o;
        o.set_tmout_cmd_resp(cmd_tmout);
        o.set_tmout_welcome(5);
        ftp.set_opts(o);
        ftp.set_ldata(ld);
        ftp.set_ctrl_addrs("", dest.c_str(), KV_ProxyOptsFtp());
    }

    KV_Informer informer;
    SessLog log{informer};
    KV_FtpMan ftp;
    LogErr eh;
};

const std::string kWelcome =
    "220-Welcome\r\n220-\r\n230 is not the end of this banner\r\n220 ready\r\n";

} // namespace

TEST(KV_FtpMan_MT, LoginInPiecesThenCommands)
{
    FtpScript srv;
    script(srv, kWelcome, [](const std::string& c) {
        if (starts(c, "SYST"))
            return std::string("215 Windows_NT\r\n"); // IIS: one word
        return unix_server(c);
    });
    Ftp f(srv.dest(), KV_FtpLoginData("joe", "secret"));

    KV_FtpActPwd pwd;
    ASSERT_TRUE(f.ftp.exec(f.eh, pwd, nullptr));
    EXPECT_TRUE(pwd.executed());
    EXPECT_STREQ(f.ftp.curr_dir().data(), "/home/joe");
    // The banner's "230" line did not pass for a login: USER went out.
    EXPECT_EQ(srv.cmds(), (std::vector<std::string>{"USER joe", "PASS secret", "SYST", "PWD"}));
    ASSERT_NE(f.ftp.serv, nullptr);
    EXPECT_EQ(f.ftp.serv->date_form(), 2u); // the DOS dialect of Windows servers
    EXPECT_TRUE(f.ftp.new_conn());
    ASSERT_TRUE(eventually([&] { return f.log.find("PASS ******") != nullptr; }));
    for (const SessLog::Line& l : f.log.lines())
        EXPECT_EQ(l.text.find("secret"), std::string::npos) << l.text;

    KV_FtpActCd cd("/a dir");
    ASSERT_TRUE(f.ftp.exec(f.eh, cd, nullptr));
    EXPECT_TRUE(cd.executed());
    EXPECT_FALSE(f.ftp.new_conn());
    KV_FtpActRen ren("/a", "/b");
    ASSERT_TRUE(f.ftp.exec(f.eh, ren, nullptr));
    EXPECT_TRUE(ren.executed());
    KV_FtpActConnMan ka(1);
    ASSERT_TRUE(f.ftp.exec(f.eh, ka, nullptr));
    EXPECT_TRUE(ka.executed());
    KV_FtpActUsrDef raw("  SITE HELP  ");
    ASSERT_TRUE(f.ftp.exec(f.eh, raw, nullptr));
    EXPECT_TRUE(raw.executed());
    KV_FtpActChmod chmod("/a", "644");
    ASSERT_TRUE(f.ftp.exec(f.eh, chmod, nullptr));
    EXPECT_EQ(srv.cmds().back(), "SITE CHMOD 644 /a");
    EXPECT_EQ(srv.conns(), 1);

    // A line feed in a name never reaches the wire.
    const size_t before = srv.cmds().size();
    KV_FtpActDel del("/x\r\nRMD /");
    f.ftp.exec(f.eh, del, nullptr);
    EXPECT_FALSE(del.executed());
    EXPECT_EQ(f.eh.last(), "FTP: Invalid character in a command argument.");
    EXPECT_EQ(srv.cmds().size(), before);
}

TEST(KV_FtpMan_MT, AccountChainAndFirstError)
{
    FtpScript srv;
    script(srv, kWelcome, [](const std::string& c) {
        if (starts(c, "PASS"))
            return std::string("332 Need account.\r\n");
        if (starts(c, "RNFR"))
            return std::string("550 No such file.\r\n");
        return unix_server(c);
    });
    Ftp f(srv.dest(), KV_FtpLoginData("joe", "pw", "acc"));
    KV_FtpActRen ren("/missing", "/b");
    ASSERT_TRUE(f.ftp.exec(f.eh, ren, nullptr));
    EXPECT_FALSE(ren.executed());
    EXPECT_EQ(f.eh.last(), "FTP: No such file.");
    EXPECT_EQ(srv.cmds(), (std::vector<std::string>{"USER joe", "PASS pw", "ACCT acc", "SYST",
                                                    "RNFR /missing"}));
}

TEST(KV_FtpMan_MT, RefusedLoginDropsConnection)
{
    FtpScript srv;
    script(srv, "220 hi\r\n", [](const std::string& c) {
        if (starts(c, "PASS"))
            return std::string("530 Login incorrect.\r\n");
        return unix_server(c);
    });
    Ftp f(srv.dest(), KV_FtpLoginData("joe", "bad"));
    KV_FtpActPwd pwd;
    f.ftp.exec(f.eh, pwd, nullptr);
    EXPECT_FALSE(pwd.executed());
    EXPECT_EQ(f.eh.last(), "FTP: Login incorrect.");
    EXPECT_TRUE(eventually([&] { return !f.ftp.connected(); }));
}

TEST(KV_FtpMan_MT, HostileRepliesEndCleanly)
{
    struct Case
    {
        const char* what;
        std::string reply_to_user;
        std::string err;
        uint32_t tmout;
    } cases[] = {
        {"stall", "", "", 1},
        {"overlong line", "331 " + std::string(5000, 'x') + "\r\n", "FTP: Reply line too long.", 5},
        {"multi-line reply that never ends",
         [] {
             std::string s = "331-start\r\n";
             for (int i = 0; i < 1100; ++i)
                 s += "331-more\r\n";
             return s;
         }(),
         "FTP: Reply too long.", 5},
        {"early close", "CLOSE", "", 5},
        {"unparsable 227 in place of a login reply", "227 Entering Passive Mode (1,2,3)\r\n", "",
         5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string r = c.reply_to_user;
        FtpScript srv;
        script(
            srv, "220 hi\r\n", [r](const std::string&) { return r; }, 64);
        Ftp f(srv.dest(), KV_FtpLoginData("joe", "pw"), c.tmout);
        KV_FtpActPwd pwd;
        f.ftp.exec(f.eh, pwd, nullptr);
        EXPECT_FALSE(pwd.executed());
        if (!c.err.empty()) {
            EXPECT_EQ(f.eh.last(), c.err);
        }
        EXPECT_TRUE(eventually([&] { return !f.ftp.connected(); }));
    }
}

TEST(KV_FtpMan_MT, FtpProxyKinds)
{
    struct Case
    {
        KV_PROXY_FTP kind;
        bool proxy_login;
        std::vector<std::string> want;
    } cases[] = {
        {KV_PROXY_FTP_SITE,
         true,
         {"USER pu", "PASS pp", "SITE 127.0.0.1:2121", "USER joe", "PASS pw", "SYST", "PWD"}},
        {KV_PROXY_FTP_OPEN, false, {"OPEN 127.0.0.1:2121", "USER joe", "PASS pw", "SYST", "PWD"}},
        {KV_PROXY_FTP_USER, false, {"USER joe@127.0.0.1:2121", "PASS pw", "SYST", "PWD"}},
        {KV_PROXY_FTP_USER_PORT, false, {"USER joe@127.0.0.1 2121", "PASS pw", "SYST", "PWD"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        FtpScript proxy;
        script(proxy, "220 proxy ready\r\n", unix_server, 16);
        Ftp f("127.0.0.1:2121", KV_FtpLoginData("joe", "pw"));
        KV_ProxyOptsFtp po;
        po.set_type(c.kind);
        po.set_addr("127.0.0.1");
        po.set_port(proxy.port());
        if (c.proxy_login)
            po.set_ldata(KV_FtpLoginData("pu", "pp"));
        f.ftp.set_ctrl_addrs("", "127.0.0.1:2121", po);
        KV_FtpActPwd pwd;
        ASSERT_TRUE(f.ftp.exec(f.eh, pwd, nullptr));
        EXPECT_TRUE(pwd.executed());
        EXPECT_EQ(proxy.cmds(), c.want);
    }
}

TEST(KV_FtpMan_MT, ChangedSettingsReconnect)
{
    FtpScript a;
    script(a, "220 a\r\n", unix_server);
    FtpScript b;
    script(b, "220 b\r\n", [](const std::string& c) {
        if (starts(c, "AUTH"))
            return std::string("534 No TLS here.\r\n");
        return unix_server(c);
    });
    Ftp f(a.dest(), KV_FtpLoginData("joe", "pw"));
    KV_FtpActPwd p1;
    ASSERT_TRUE(f.ftp.exec(f.eh, p1, nullptr));
    ASSERT_TRUE(p1.executed());

    // Another server: the next exec logs in there, not on the old one.
    f.ftp.set_ctrl_addrs("", b.dest().c_str(), KV_ProxyOptsFtp());
    KV_FtpActPwd p2;
    ASSERT_TRUE(f.ftp.exec(f.eh, p2, nullptr));
    EXPECT_TRUE(p2.executed());
    EXPECT_EQ(b.cmds().front(), "USER joe");
    EXPECT_EQ(a.cmds().size(), 4u);

    // A switch to FTPS reconnects and starts with AUTH: nothing more goes
    // out in plain text when the server refuses it.
    f.ftp.set_secure(KV_FTP_SECURE_EXPLICIT);
    KV_FtpActPwd p3;
    f.ftp.exec(f.eh, p3, nullptr);
    EXPECT_FALSE(p3.executed());
    EXPECT_EQ(b.conns(), 2);
    EXPECT_EQ(b.cmds().back(), "AUTH SSL");
}

// The worker may hand the manager new options while its control connection
// is open; the control session reads them on its own thread in every pass
// (ThreadSanitizer sees an unguarded read).
TEST(KV_FtpMan_MT, OptionsChangeOnALiveConnection)
{
    FtpScript srv;
    script(srv, "220 ready\r\n", unix_server);
    Ftp f(srv.dest(), KV_FtpLoginData("joe", "pw"));
    KV_FtpActPwd pwd;
    ASSERT_TRUE(f.ftp.exec(f.eh, pwd, nullptr));
    ASSERT_TRUE(pwd.executed());
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
        KV_FtpManOpts o;
        o.set_tmout_cmd_resp(5);
        o.set_keep_alive_int(i % 2 ? 30 : 0);
        o.set_list_flags(static_cast<uint8_t>(i));
        f.ftp.set_opts(o);
        if (i % 50 == 0) {
            KV_FtpActCd cd("/d");
            ASSERT_TRUE(f.ftp.exec(f.eh, cd, nullptr));
            EXPECT_TRUE(cd.executed());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(srv.conns(), 1);
}
