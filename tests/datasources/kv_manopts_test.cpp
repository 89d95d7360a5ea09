#include "datasources/kv_manopts.h"

#include <gtest/gtest.h>

#include "foundation/kv_filedata.h"

namespace {

TEST(KvManOpts, Defaults)
{
    const KV_FtpManOpts ftp;
    EXPECT_EQ(ftp.conn_mode(), KV_FTP_CONN_AUTO);
    EXPECT_EQ(ftp.dtrans(), KV_FTP_DTRANS_OFF);
    EXPECT_EQ(ftp.keep_alive_int(), 180);
    EXPECT_EQ(ftp.tmout_welcome(), 5000u);
    EXPECT_EQ(ftp.tmout_trans_beg(), 60000u);
    EXPECT_EQ(ftp.tmout_trans_ack(), 90000u);
    EXPECT_EQ(ftp.tmout_cmd_resp(), 90000u);
    EXPECT_TRUE(ftp.use_rest_get());
    EXPECT_FALSE(ftp.use_rest_put());
    EXPECT_EQ(ftp.buff_recv(), 4096u);
    EXPECT_EQ(ftp.buff_send(), 4096u);
    EXPECT_EQ(ftp.amode_exts(), "ASP, BAT, C, CGI, H, JS, HTM, HTML, PL, RTF, SH, SHTML, TXT");

    const KV_HttpManOpts http;
    EXPECT_EQ(http.version(), KV_HttpVer(1, 1));
    EXPECT_EQ(http.tmout_hdr_resp(), 120000u);
    EXPECT_TRUE(http.can_resume_get());
    EXPECT_FALSE(http.can_resume_put());
    EXPECT_TRUE(http.persistent());

    const KV_SftpManOpts sftp;
    // Only the cipher that does not encrypt is disabled.
    EXPECT_EQ(sftp.ciphers(), "none");
    EXPECT_TRUE(sftp.compress());
    EXPECT_EQ(sftp.tmout_msg_resp(), 120000u);
    EXPECT_TRUE(sftp.can_resume_get());
    EXPECT_TRUE(sftp.can_resume_put());
    EXPECT_TRUE(sftp.aggressive_read());
    EXPECT_TRUE(sftp.aggressive_write());
}

TEST(KvManOpts, RangedSettersIgnoreOutOfRange)
{
    KV_FtpManOpts o;
    for (int bad : {0, 4, -1, 1000}) {
        SCOPED_TRACE(bad);
        o.set_conn_mode(bad);
        EXPECT_EQ(o.conn_mode(), KV_FTP_CONN_AUTO);
    }
    o.set_conn_mode(static_cast<KV_FTP_CONN_MODE>(7));
    EXPECT_EQ(o.conn_mode(), KV_FTP_CONN_AUTO);
    o.set_conn_mode(1);
    EXPECT_EQ(o.conn_mode(), KV_FTP_CONN_ACTIVE);

    o.set_dtrans(1);
    for (int bad : {3, -1}) {
        SCOPED_TRACE(bad);
        o.set_dtrans(bad);
        EXPECT_EQ(o.dtrans(), KV_FTP_DTRANS_ON);
    }
    o.set_dtrans(static_cast<KV_FTP_DTRANS>(3));
    EXPECT_EQ(o.dtrans(), KV_FTP_DTRANS_ON);
    o.set_dtrans(2);
    EXPECT_EQ(o.dtrans(), KV_FTP_DTRANS_SAME_DS);
}

// Seconds in, milliseconds out; a time-out whose milliseconds would not fit
// 32 bits is refused rather than wrapped to a short wait.
TEST(KvManOpts, TimeoutsInSecondsOutInMilliseconds)
{
    KV_FtpManOpts ftp;
    KV_HttpManOpts http;
    KV_SftpManOpts sftp;
    struct Case
    {
        const char* name;
        void (*set)(KV_FtpManOpts&, KV_HttpManOpts&, KV_SftpManOpts&, uint32_t);
        uint32_t (*get)(const KV_FtpManOpts&, const KV_HttpManOpts&, const KV_SftpManOpts&);
    };
    const Case cases[] = {
        {"welcome", [](auto& f, auto&, auto&, uint32_t s) { f.set_tmout_welcome(s); },
         [](const auto& f, const auto&, const auto&) { return f.tmout_welcome(); }},
        {"trans_beg", [](auto& f, auto&, auto&, uint32_t s) { f.set_tmout_trans_beg(s); },
         [](const auto& f, const auto&, const auto&) { return f.tmout_trans_beg(); }},
        {"trans_ack", [](auto& f, auto&, auto&, uint32_t s) { f.set_tmout_trans_ack(s); },
         [](const auto& f, const auto&, const auto&) { return f.tmout_trans_ack(); }},
        {"cmd_resp", [](auto& f, auto&, auto&, uint32_t s) { f.set_tmout_cmd_resp(s); },
         [](const auto& f, const auto&, const auto&) { return f.tmout_cmd_resp(); }},
        {"hdr_resp", [](auto&, auto& h, auto&, uint32_t s) { h.set_tmout_hdr_resp(s); },
         [](const auto&, const auto& h, const auto&) { return h.tmout_hdr_resp(); }},
        {"msg_resp", [](auto&, auto&, auto& s, uint32_t v) { s.set_tmout_msg_resp(v); },
         [](const auto&, const auto&, const auto& s) { return s.tmout_msg_resp(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.set(ftp, http, sftp, 5);
        EXPECT_EQ(c.get(ftp, http, sftp), 5000u);
        c.set(ftp, http, sftp, KV_TMOUT_MAX_SEC);
        EXPECT_EQ(c.get(ftp, http, sftp), 4294967000u);
        c.set(ftp, http, sftp, KV_TMOUT_MAX_SEC + 1);
        EXPECT_EQ(c.get(ftp, http, sftp), 4294967000u);
        c.set(ftp, http, sftp, UINT32_MAX);
        EXPECT_EQ(c.get(ftp, http, sftp), 4294967000u);
        c.set(ftp, http, sftp, 0);
        EXPECT_EQ(c.get(ftp, http, sftp), 0u);
    }
}

TEST(KvManOpts, AsciiExtensionList)
{
    struct Case
    {
        const char* text;
        const char* list;
    };
    const Case cases[] = {
        {" txt, Html ,TXT", "TXT, HTML"},
        {"TXT, HTML", "TXT, HTML"},
        {"c", "C"},
        // Empty pieces are dropped: an emptied list must not make every name
        // without a dot an ASCII transfer.
        {"", ""},
        {"a,,b,", "A, B"},
        {" , ", ""},
        {"\ttar.gz\r\n", "TAR.GZ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KV_FtpManOpts o;
        EXPECT_TRUE(o.set_amode_exts(c.text));
        EXPECT_EQ(o.amode_exts(), c.list);
        // What amode_exts() gives reads back as the same list.
        KV_FtpManOpts back;
        EXPECT_TRUE(back.set_amode_exts(o.amode_exts()));
        EXPECT_EQ(back.amode_exts(), c.list);
    }
}

TEST(KvManOpts, TransferModeByExtension)
{
    struct Case
    {
        const char* exts; // null: the default list
        const char* name;
        KV_TRANS_MODE mode;
    };
    const Case cases[] = {
        {nullptr, "README", KV_TRANS_MODE_BINARY},
        {nullptr, "notes.txt", KV_TRANS_MODE_ASCII},
        {nullptr, "PAGE.Html", KV_TRANS_MODE_ASCII},
        // The extension is everything after the first dot.
        {nullptr, "a.b.txt", KV_TRANS_MODE_BINARY},
        {nullptr, "page.html.bak", KV_TRANS_MODE_BINARY},
        {nullptr, "trailing.", KV_TRANS_MODE_BINARY},
        {nullptr, "image.png", KV_TRANS_MODE_BINARY},
        {"tar.gz", "x.tar.gz", KV_TRANS_MODE_ASCII},
        {"", "README", KV_TRANS_MODE_BINARY},
        {"", "trailing.", KV_TRANS_MODE_BINARY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_FtpManOpts o;
        if (c.exts) {
            ASSERT_TRUE(o.set_amode_exts(c.exts));
        }
        EXPECT_EQ(o.tmode(KV_FileData(c.name)), c.mode);
    }
}

TEST(KvManOpts, CopiesAreIndependent)
{
    KV_FtpManOpts a;
    a.set_amode_exts("md");
    a.set_conn_mode(2);
    a.set_buff_recv(100);
    KV_FtpManOpts b(a);
    KV_FtpManOpts c;
    c = a;
    a.set_amode_exts("rst");
    for (const KV_FtpManOpts* o : {&b, &c}) {
        EXPECT_EQ(o->amode_exts(), "MD");
        EXPECT_EQ(o->conn_mode(), KV_FTP_CONN_PASSIVE);
        EXPECT_EQ(o->buff_recv(), 100u);
    }
    c = c;
    EXPECT_EQ(c.amode_exts(), "MD");
}

} // namespace
