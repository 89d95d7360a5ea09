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
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;
namespace fs = std::filesystem;

class Vsftpd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        KV_File::set_path(KV_PATH_SRV_CERTS, (dir / "trusted-certs.bin").c_str());
        KV_SSLSess::man_cert.clear();
        KV_FtpMan::set_trexpl(false);
    }
    void TearDown() override
    {
        KV_FtpMan::set_trexpl(true);
        KV_SSLSess::man_cert.clear();
    }

    // Starts vsftpd with the lines of `extra`; false when it is not installed.
    bool start(const std::string& extra)
    {
        const std::string exe = find_program("/usr/sbin/vsftpd");
        if (exe.empty() || ::getuid() != 0 || !::getpwnam("ftp"))
            return false;
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        const std::string root = dir / "root";
        fs::create_directories(root + "/pub");
        std::ofstream(root + "/pub/old.txt") << "old\n";
        const passwd* pw = ::getpwnam("ftp");
        EXPECT_EQ(::chown((root + "/pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
        EXPECT_EQ(::chown((root + "/pub/old.txt").c_str(), pw->pw_uid, pw->pw_gid), 0);
        fs::create_directories("/var/run/vsftpd/empty");
        const std::string conf =
            "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port) +
            "\nbackground=NO\nanonymous_enable=YES\nanon_root=" + root +
            "\nno_anon_password=YES\nftp_username=ftp\nseccomp_sandbox=NO\npasv_enable=YES\n"
            "secure_chroot_dir=/var/run/vsftpd/empty\nxferlog_enable=NO\nwrite_enable=YES\n"
            "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
            "anon_umask=022\n" +
            extra;
        std::ofstream(dir / "vsftpd.conf") << conf;
        proc = std::make_unique<ChildProc>(exe, std::vector<std::string>{dir / "vsftpd.conf"},
                                           dir / "vsftpd.log");
        EXPECT_TRUE(proc->wait_port(port)) << proc->log();
        return true;
    }

    // FTPS lines with a certificate for `host` signed by the run's own CA.
    std::string tls_conf(const std::string& host, bool implicit)
    {
        server = make_cert(dir, "server", {host, "DNS:" + host}, &ca);
        std::string c = "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=NO\n"
                        "force_anon_data_ssl=NO\nrequire_ssl_reuse=NO\nrsa_cert_file=" +
                        server.cert_file + "\nrsa_private_key_file=" + server.key_file + "\n";
        if (implicit)
            c += "implicit_ssl=YES\n";
        KV_String err;
        EXPECT_TRUE(ctx.init("", "", ca.cert_file.c_str(), "", &err)) << err.data();
        return c;
    }

    // The manager's set-up for the server started here.
    void setup(KV_FtpMan& ftp, KV_FTP_SECURE sec)
    {
        ftp.set_informer(&informer);
        ftp.set_tavo_id(5);
        ftp.set_file_man(&fm, &ctx);
        KV_FtpManOpts o;
        o.set_tmout_cmd_resp(10);
        ftp.set_opts(o);
        ftp.set_ldata(KV_FtpLoginData("anonymous", "test@"));
        ftp.set_ctrl_addrs("", ("127.0.0.1:" + std::to_string(port)).c_str(), KV_ProxyOptsFtp());
        ftp.set_secure(sec);
    }

    bool sent(const std::string& line) { return log.has(line, KV_SESS_LOG_SENT); }

    TempDir dir;
    const uint16_t port = closed_port();
    std::unique_ptr<ChildProc> proc;
    CertKey ca = make_cert(dir, "ca", {"kvtest CA", "", -3600, 86400, true});
    CertKey server;
    KV_SSLCtx ctx;
    TrustFileMan fm;
    TrustHost host;
    KV_Informer informer;
    SessLog log{informer};
    LogErr eh;
};

const char* kNoVsftpd = "vsftpd is not installed or not run as root (package vsftpd)";

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
