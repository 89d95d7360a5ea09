// Apache httpd with mod_dav as a test peer: started in the foreground on
// 127.0.0.1 with a port and a config of the test's own, in a temporary
// folder, and stopped by its process id when the object goes.
//
// Options: Basic authentication over the whole tree (an htpasswd file with
// one user), HTTPS with a server certificate of a CA made for the run
// (kv_tlstest.h; the client trusts ca_file()), and "MaxRanges none" for a
// server that answers every ranged GET with the whole resource.
//
// The document root <dir>/dav and the lock database folder belong to
// www-data, as Apache's worker processes run as that user; the test runs as
// root and reads and writes there freely.
#pragma once

#include <cstdio>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "support/kv_tlstest.h"

namespace kvtest {

struct ApacheOpts
{
    bool basic_auth = false;
    std::string user = "kvuser";
    std::string pass = "kv-pass1";
    bool tls = false;
    bool max_ranges_none = false;
    // Raw config lines added at the end.
    std::string extra;
    // Parent folder of the temporary folder (null: TMPDIR or /tmp); the
    // benchmarks pass a tmpfs.
    const char* base = nullptr;
};

class Apache
{
public:
    explicit Apache(const ApacheOpts& opts = ApacheOpts())
        : opts_(opts), dir_("kvapache", opts.base), port_(closed_port())
    {
    }
    ~Apache() { stop(); }
    Apache(const Apache&) = delete;
    Apache& operator=(const Apache&) = delete;

    // Apache is installed (package apache2).
    static bool installed() { return !find_program("apache2").empty(); }

    // Writes the config (and certificates, password file) and starts the
    // server; true once it accepts connections.
    bool start()
    {
        const std::string exe = find_program("apache2");
        if (exe.empty() || !dir_.ok())
            return false;
        const passwd* pw = ::getpwnam("www-data");
        if (!pw)
            return false;
        // mkdtemp made the folder 0700: Apache's workers must get through.
        ::chmod(dir_.c_str(), 0755);
        const std::string dav = docroot();
        const std::string lock = dir_ / "davlock";
        const std::string run = dir_ / "run";
        for (const std::string& d : {dav, lock, run}) {
            if (::mkdir(d.c_str(), 0755) != 0 || ::chown(d.c_str(), pw->pw_uid, pw->pw_gid) != 0)
                return false;
        }
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        std::ostringstream c;
        const std::string mods = "/usr/lib/apache2/modules/";
        c << "ServerRoot /etc/apache2\n";
        for (const char* m :
             {"mpm_event", "authz_core", "authn_core", "dav", "dav_fs", "mime", "dir"})
            c << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
        if (opts_.basic_auth) {
            for (const char* m : {"auth_basic", "authn_file", "authz_user"})
                c << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
        }
        if (opts_.tls) {
            c << "LoadModule socache_shmcb_module " << mods << "mod_socache_shmcb.so\n"
              << "LoadModule ssl_module " << mods << "mod_ssl.so\n";
        }
        c << "TypesConfig /etc/mime.types\n"
          << "PidFile " << (dir_ / "httpd.pid") << "\n"
          << "DefaultRuntimeDir " << run << "\n"
          << "ErrorLog " << (dir_ / "error.log") << "\n"
          << "Listen 127.0.0.1:" << port_ << "\n"
          << "User www-data\nGroup www-data\nServerName localhost\n"
          << "DocumentRoot " << dav << "\n"
          << "DavLockDB " << lock << "/lockdb\n";
        if (opts_.max_ranges_none)
            c << "MaxRanges none\n";
        if (opts_.tls) {
            certs_ = std::make_unique<CertKey>(
                make_cert(dir_, "apache-ca", {"kvtest Apache CA", "", -3600, 86400, true}));
            server_ = std::make_unique<CertKey>(
                make_cert(dir_, "apache-srv",
                          {"localhost", "DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1"}, certs_.get()));
            if (!certs_->cert || !server_->cert)
                return false;
            c << "SSLEngine on\n"
              << "SSLSessionCache shmcb:" << run << "/ssl_scache(512000)\n"
              << "SSLCertificateFile " << server_->cert_file << "\n"
              << "SSLCertificateKeyFile " << server_->key_file << "\n";
        }
        c << "<Directory " << dav << ">\n  Dav On\n";
        if (opts_.basic_auth) {
            const std::string pwfile = dir_ / "htpasswd";
            std::ofstream(pwfile) << opts_.user << ":{SHA}" << sha1_b64(opts_.pass) << "\n";
            ::chmod(pwfile.c_str(), 0644);
            c << "  AuthType Basic\n  AuthName \"kvtest\"\n  AuthBasicProvider file\n"
              << "  AuthUserFile " << pwfile << "\n  Require valid-user\n";
        } else {
            c << "  Require all granted\n";
        }
        c << "</Directory>\n" << opts_.extra << "\n";
        std::ofstream(dir_ / "httpd.conf") << c.str();
        proc_ = std::make_unique<ChildProc>(
            exe, std::vector<std::string>{"-f", dir_ / "httpd.conf", "-DFOREGROUND"},
            dir_ / "stdout.log");
        return proc_->wait_port(port_);
    }

    void stop()
    {
        if (proc_)
            proc_->stop();
        proc_.reset();
    }

    uint16_t port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    // "http://127.0.0.1:<port>" (https with TLS) followed by path.
    std::string url(const std::string& path = "/") const
    {
        return std::string(opts_.tls ? "https://" : "http://") + host() + path;
    }
    std::string docroot() const { return dir_ / "dav"; }
    // `rel` below the document root.
    std::string path(const std::string& rel) const { return docroot() + "/" + rel; }
    // The CA file the client must trust for HTTPS; empty without TLS.
    std::string ca_file() const { return certs_ ? certs_->cert_file : std::string(); }
    const TempDir& dir() const { return dir_; }
    const ApacheOpts& opts() const { return opts_; }
    // The error log and the console output.
    std::string log() const
    {
        return read_file(dir_ / "error.log") + read_file(dir_ / "stdout.log");
    }

    // Puts a file below the document root, owned by www-data so that the
    // server may replace or delete it.
    bool put(const std::string& rel, const std::string& bytes) const
    {
        const std::string p = path(rel);
        {
            std::ofstream f(p, std::ios::binary);
            f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!f)
                return false;
        }
        return ::chown(p.c_str(), uid_, gid_) == 0;
    }
    std::string get(const std::string& rel) const { return read_file(path(rel)); }

private:
    static std::string sha1_b64(const std::string& text)
    {
        unsigned char md[SHA_DIGEST_LENGTH];
        unsigned int n = 0;
        EVP_Digest(text.data(), text.size(), md, &n, EVP_sha1(), nullptr);
        unsigned char out[64];
        const int len = EVP_EncodeBlock(out, md, static_cast<int>(n));
        return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(len));
    }

    ApacheOpts opts_;
    TempDir dir_;
    uint16_t port_;
    std::unique_ptr<CertKey> certs_;
    std::unique_ptr<CertKey> server_;
    std::unique_ptr<ChildProc> proc_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

} // namespace kvtest
