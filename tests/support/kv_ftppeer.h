// Real FTP servers for the FTP tests: vsftpd and a scripted pyftpdlib
// server, each started on 127.0.0.1 with a port, a config and a root folder
// made per test in a temporary folder, plus the manager's set-up for them.
//
// vsftpd serves an anonymous root (owned by root) with a folder "pub" that
// the anonymous user may write; FTPS adds a certificate for the host named,
// signed by the run's own CA, which the manager's TLS context trusts.
// pyftpdlib runs a Python handler of the test's own (odd replies, refused
// commands, stalls) over an anonymous, fully writable root.
//
// A server that is not installed, or a test not run as root (vsftpd drops
// to the "ftp" user), makes start_* return false: the test skips itself.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/kv_file.h"
#include "foundation/kv_informer.h"
#include "ftp/kv_ftpman.h"
#include "net/kv_sslctx.h"
#include "net/kv_sslsess.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"
#include "support/kv_vsftpd.h"

namespace kvtest {

inline const char* kNoVsftpd = "vsftpd is not installed or not run as root (package vsftpd)";
inline const char* kNoPyftpd = "pyftpdlib is not installed (package python3-pyftpdlib)";

class FtpPeerTest : public ::testing::Test
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

    // The anonymous root and its writable folder.
    std::string root() const { return dir / "root"; }
    std::string pub() const { return dir / "root/pub"; }

    // Starts vsftpd with the lines of `extra` added to the base config.
    bool start_vsftpd(const std::string& extra)
    {
        if (!vsftpd_usable())
            return false;
        std::filesystem::create_directories(pub());
        std::ofstream(pub() + "/old.txt") << "old\n";
        const passwd* pw = ::getpwnam("ftp");
        EXPECT_EQ(::chown(pub().c_str(), pw->pw_uid, pw->pw_gid), 0);
        EXPECT_EQ(::chown((pub() + "/old.txt").c_str(), pw->pw_uid, pw->pw_gid), 0);
        proc = kvtest::start_vsftpd(dir.path(), root(), port, extra);
        EXPECT_TRUE(proc->wait_port(port)) << proc->log();
        return true;
    }

    // Files the anonymous user must be able to overwrite, owned by "ftp".
    void give_to_ftp(const std::string& path)
    {
        const passwd* pw = ::getpwnam("ftp");
        if (pw) {
            EXPECT_EQ(::chown(path.c_str(), pw->pw_uid, pw->pw_gid), 0);
        }
    }

    // FTPS lines for vsftpd with a certificate for `host`; the manager's
    // context trusts the CA. vsftpd keeps its default require_ssl_reuse=YES:
    // a data connection that does not resume the control connection's TLS
    // session is refused.
    std::string tls_conf(const std::string& host, bool implicit)
    {
        server = make_cert(dir, "server", {host, "DNS:" + host}, &ca);
        std::string c = "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=NO\n"
                        "force_anon_data_ssl=NO\nrsa_cert_file=" +
                        server.cert_file + "\nrsa_private_key_file=" + server.key_file + "\n";
        if (implicit)
            c += "implicit_ssl=YES\n";
        KV_String err;
        EXPECT_TRUE(ctx.init("", "", ca.cert_file.c_str(), "", &err)) << err.data();
        return c;
    }

    // Starts a pyftpdlib server on `port` over root(): anonymous with every
    // permission. `handler` is Python code run before the server starts; it
    // may define `class Handler(FTPHandler)` (used when defined) and set
    // attributes on it. The script sees `root` and `port`.
    bool start_pyftpd(const std::string& handler)
    {
        const std::string py = "/usr/bin/python3";
        if (find_program(py).empty() ||
            std::system((py + " -c 'import pyftpdlib' >/dev/null 2>&1").c_str()) != 0)
            return false;
        std::filesystem::create_directories(pub());
        const std::string script =
            "import sys, logging\n"
            "from pyftpdlib.authorizers import DummyAuthorizer\n"
            "from pyftpdlib.handlers import FTPHandler\n"
            "from pyftpdlib.servers import FTPServer\n"
            "logging.basicConfig(level=logging.INFO)\n"
            "root = sys.argv[1]\n"
            "port = int(sys.argv[2])\n" +
            handler +
            "\nH = globals().get('Handler', FTPHandler)\n"
            "a = DummyAuthorizer()\n"
            "a.add_anonymous(root, perm='elradfmwMT')\n"
            "H.authorizer = a\n"
            "H.permit_foreign_addresses = getattr(H, 'permit_foreign_addresses', False)\n"
            "FTPServer(('127.0.0.1', port), H).serve_forever()\n";
        std::ofstream(dir / "pyftpd.py") << script;
        proc = std::make_unique<ChildProc>(
            py, std::vector<std::string>{"-u", dir / "pyftpd.py", root(), std::to_string(port)},
            dir / "pyftpd.log");
        EXPECT_TRUE(proc->wait_port(port)) << proc->log();
        return true;
    }

    // The manager's set-up for the server started here: anonymous login,
    // 10 s command time-out, the given connection mode and security.
    void setup(KV_FtpMan& ftp, KV_FTP_SECURE sec, KV_FTP_CONN_MODE mode = KV_FTP_CONN_PASSIVE,
               const KV_ProxyOptsFtp& proxy = KV_ProxyOptsFtp())
    {
        ftp.set_informer(&informer);
        ftp.set_tavo_id(5);
        ftp.set_file_man(&fm, &ctx);
        opts.set_tmout_cmd_resp(10);
        opts.set_conn_mode(mode);
        ftp.set_opts(opts);
        ftp.set_ldata(KV_FtpLoginData("anonymous", "test@"));
        ftp.set_ctrl_addrs("", ("127.0.0.1:" + std::to_string(port)).c_str(), proxy);
        ftp.set_secure(sec);
    }

    bool sent(const std::string& line) { return log.has(line, KV_SESS_LOG_SENT); }
    bool received(const std::string& line) { return log.has(line, KV_SESS_LOG_RECV); }
    std::string server_log() const { return proc ? proc->log() : std::string(); }

    TempDir dir;
    const uint16_t port = closed_port();
    std::unique_ptr<ChildProc> proc;
    CertKey ca = make_cert(dir, "ca", {"kvtest CA", "", -3600, 86400, true});
    CertKey server;
    KV_SSLCtx ctx;
    KV_FtpManOpts opts;
    TrustFileMan fm;
    TrustHost host;
    KV_Informer informer;
    SessLog log{informer};
    LogErr eh;
};

} // namespace kvtest
