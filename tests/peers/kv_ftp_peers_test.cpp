// The FTP control plane against vsftpd, started on 127.0.0.1 with a port, a
// config, an anonymous root and (for FTPS) a certificate made per run in a
// temporary folder: plain, explicit and implicit FTPS logins, directory and
// file commands where the anonymous user may write, SITE and raw commands, a
// certificate for the wrong host, and a switch from plain FTP to FTPS.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "net/kv_sslctx.h"
#include "net/kv_sslsess.h"
#include "support/kv_childproc.h"
#include "support/kv_ftppeer.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;
namespace fs = std::filesystem;

class Vsftpd : public FtpPeerTest
{
protected:
    bool start(const std::string& extra) { return start_vsftpd(extra); }
};

} // namespace

TEST_F(Vsftpd, PlainAnonymousCommands)
{
    if (!start(""))
        GTEST_SKIP() << kNoVsftpd;
    KV_FtpMan ftp;
    setup(ftp, KV_FTP_SECURE_NONE);
    const std::string pub = dir / "root/pub";

    KV_FtpActPwd pwd;
    ASSERT_TRUE(ftp.exec(eh, pwd, nullptr));
    ASSERT_TRUE(pwd.executed()) << eh.last() << proc->log();
    EXPECT_STREQ(ftp.curr_dir().data(), "/");
    ASSERT_NE(ftp.serv, nullptr);
    EXPECT_EQ(ftp.serv->kind(), 1u);

    KV_FtpActCd cd("/pub");
    ASSERT_TRUE(ftp.exec(eh, cd, nullptr));
    EXPECT_TRUE(cd.executed()) << eh.last();
    KV_FtpActMkDir mkd("/pub/made");
    ASSERT_TRUE(ftp.exec(eh, mkd, nullptr));
    EXPECT_TRUE(mkd.executed()) << eh.last();
    EXPECT_TRUE(fs::is_directory(pub + "/made"));
    KV_FtpActRmDir rmd("/pub/made");
    ASSERT_TRUE(ftp.exec(eh, rmd, nullptr));
    EXPECT_TRUE(rmd.executed()) << eh.last();
    EXPECT_FALSE(fs::exists(pub + "/made"));

    KV_FtpActRen ren("/pub/old.txt", "/pub/new name.txt");
    ASSERT_TRUE(ftp.exec(eh, ren, nullptr));
    EXPECT_TRUE(ren.executed()) << eh.last();
    EXPECT_TRUE(fs::exists(pub + "/new name.txt"));
    KV_FtpActRen missing("/pub/none.txt", "/pub/x.txt");
    ASSERT_TRUE(ftp.exec(eh, missing, nullptr));
    EXPECT_FALSE(missing.executed());
    EXPECT_FALSE(sent("RNTO /pub/x.txt"));
    KV_FtpActDel del("/pub/new name.txt");
    ASSERT_TRUE(ftp.exec(eh, del, nullptr));
    EXPECT_TRUE(del.executed()) << eh.last();
    EXPECT_FALSE(fs::exists(pub + "/new name.txt"));

    // STAT answers with a multi-line 211 reply.
    KV_FtpActUsrDef stat(" STAT ");
    ASSERT_TRUE(ftp.exec(eh, stat, nullptr));
    EXPECT_TRUE(stat.executed()) << eh.last();
    KV_FtpActType type(KV_TRANS_MODE_BINARY);
    ASSERT_TRUE(ftp.exec(eh, type, nullptr));
    EXPECT_TRUE(type.executed());
    KV_FtpActConnMan ka(1);
    ASSERT_TRUE(ftp.exec(eh, ka, nullptr));
    EXPECT_TRUE(ka.executed());
    EXPECT_TRUE(sent("NOOP"));

    // vsftpd refuses SITE to anonymous users: the server's own text is
    // reported.
    KV_FtpActChmod chmod("/pub", "777");
    ASSERT_TRUE(ftp.exec(eh, chmod, nullptr));
    EXPECT_FALSE(chmod.executed());
    EXPECT_TRUE(sent("SITE CHMOD 777 /pub"));
    EXPECT_EQ(eh.last(), "FTP: Permission denied.");
}

TEST_F(Vsftpd, ExplicitFtps)
{
    if (!start(tls_conf("127.0.0.1", false)))
        GTEST_SKIP() << kNoVsftpd;
    KV_FtpMan ftp;
    setup(ftp, KV_FTP_SECURE_EXPLICIT);
    KV_FtpActPwd pwd;
    ASSERT_TRUE(ftp.exec(eh, pwd, nullptr));
    EXPECT_TRUE(pwd.executed()) << eh.last() << proc->log();
    EXPECT_TRUE(sent("AUTH SSL"));
    EXPECT_TRUE(sent("PBSZ 0"));
    EXPECT_TRUE(sent("PROT P"));
    EXPECT_EQ(host.asked(), 0u);
}

TEST_F(Vsftpd, ImplicitFtpsSendsNoPbszOrProt)
{
    if (!start(tls_conf("127.0.0.1", true)))
        GTEST_SKIP() << kNoVsftpd;
    KV_FtpMan ftp;
    setup(ftp, KV_FTP_SECURE_IMPLICIT);
    KV_FtpActPwd pwd;
    ASSERT_TRUE(ftp.exec(eh, pwd, nullptr));
    EXPECT_TRUE(pwd.executed()) << eh.last() << proc->log();
    EXPECT_FALSE(sent("AUTH SSL"));
    EXPECT_FALSE(sent("PBSZ 0"));
    EXPECT_FALSE(sent("PROT P"));
}

TEST_F(Vsftpd, CertificateForAnotherHostIsAsked)
{
    if (!start(tls_conf("other.test", false)))
        GTEST_SKIP() << kNoVsftpd;
    KV_FtpMan ftp;
    setup(ftp, KV_FTP_SECURE_EXPLICIT);
    host.push(KV_ANS_NO);
    KV_FtpActPwd pwd;
    ftp.exec(eh, pwd, nullptr);
    EXPECT_FALSE(pwd.executed());
    EXPECT_EQ(host.asked(), 1u);
    EXPECT_FALSE(sent("USER anonymous"));
}

TEST_F(Vsftpd, SwitchFromPlainToFtpsReconnects)
{
    if (!start(tls_conf("127.0.0.1", false)))
        GTEST_SKIP() << kNoVsftpd;
    KV_FtpMan ftp;
    setup(ftp, KV_FTP_SECURE_NONE);
    KV_FtpActPwd p1;
    ASSERT_TRUE(ftp.exec(eh, p1, nullptr));
    ASSERT_TRUE(p1.executed()) << eh.last();
    EXPECT_FALSE(sent("AUTH SSL"));

    ftp.set_secure(KV_FTP_SECURE_EXPLICIT);
    KV_FtpActPwd p2;
    ASSERT_TRUE(ftp.exec(eh, p2, nullptr));
    EXPECT_TRUE(p2.executed()) << eh.last();
    EXPECT_TRUE(ftp.new_conn());
    EXPECT_TRUE(sent("AUTH SSL"));
    EXPECT_TRUE(ftp.secure_res(false));
}
