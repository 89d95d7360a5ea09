// OpenSSH's sshd started by a test: a config of the test's own in a
// temporary folder, host keys made for this run with ssh-keygen, a test user
// with a password, the legacy algorithms this client offers switched on, and
// extra config lines per test. The SFTP subsystem is internal-sftp unless
// the test names a program of its own. Runs in the foreground on 127.0.0.1
// with a port the fixture chose, stopped by its process id.
//
// Needs root (the user is created with useradd and chpasswd, sshd binds
// and changes user) and the package openssh-server; ready() is false with a
// reason in why() when either is missing, so tests can skip.
#pragma once

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"

namespace kvtest {

// Runs a shell command line; true when it exited with 0.
inline bool sh(const std::string& cmd)
{
    return std::system(cmd.c_str()) == 0;
}

class Sshd
{
public:
    static constexpr const char* user = "kvsshtest";
    static constexpr const char* pass = "kv-S3cret.pw";

    struct Conf
    {
        // Lines added after the defaults (sshd takes the first value of a
        // keyword, so a line here that repeats a default keyword does not
        // replace it: use the fields below for those).
        std::string extra;
        // Host keys to make and name: "rsa", "dsa" (both by default).
        std::vector<std::string> keys{"rsa", "dsa"};
        // "internal-sftp" or the path of a program (run as the user).
        std::string subsystem = "internal-sftp";
        std::string kex = "+diffie-hellman-group1-sha1";
        std::string host_key_algs = "+ssh-rsa,ssh-dss";
        std::string ciphers = "+3des-cbc,aes128-cbc,aes192-cbc,aes256-cbc";
        std::string macs = "+hmac-md5,hmac-md5-96,hmac-sha1-96";
    };

    Sshd() : Sshd(Conf()) {}
    explicit Sshd(const Conf& conf) : dir_("kvsshd"), port_(closed_port())
    {
        exe_ = find_program("sshd");
        if (exe_.empty()) {
            why_ = "sshd is not installed (package openssh-server)";
            return;
        }
        if (::geteuid() != 0) {
            why_ = "sshd tests need root (test user, privilege separation)";
            return;
        }
        if (!dir_.ok() || !make_user()) {
            why_ = "the test user could not be made";
            return;
        }
        ::chmod(dir_.c_str(), 0755);
        ::mkdir("/run/sshd", 0755);
        start(conf);
    }
    ~Sshd() { stop(); }
    Sshd(const Sshd&) = delete;
    Sshd& operator=(const Sshd&) = delete;

    bool ready() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    uint16_t port() const { return port_; }
    std::string addr() const { return "127.0.0.1:" + std::to_string(port_); }
    const TempDir& dir() const { return dir_; }
    std::string log() const { return proc_ ? proc_->log() : std::string(); }
    // The public key file of a host key kind ("rsa", "dsa").
    std::string pub_key(const std::string& kind) const { return dir_ / (kind + "_key.pub"); }

    void stop() { proc_.reset(); }
    // Stops, makes new host keys when asked, and starts again on the same
    // port with conf.
    bool restart(const Conf& conf, bool new_keys)
    {
        stop();
        if (new_keys) {
            for (const std::string& k : conf.keys)
                std::remove((dir_ / (k + "_key")).c_str());
        }
        return start(conf);
    }

private:
    static bool make_user()
    {
        static const bool made = [] {
            const std::string u = user;
            if (!sh("id -u " + u + " >/dev/null 2>&1") &&
                !sh("useradd -m -s /bin/sh " + u + " >/dev/null 2>&1"))
                return false;
            return sh("echo '" + u + ":" + pass + "' | chpasswd");
        }();
        return made;
    }

    bool start(const Conf& conf)
    {
        why_.clear();
        std::string text = "ListenAddress 127.0.0.1\nPort " + std::to_string(port_) + "\n";
        for (const std::string& k : conf.keys) {
            const std::string file = dir_ / (k + "_key");
            struct stat st
            {
            };
            if (::stat(file.c_str(), &st) != 0 &&
                !sh("ssh-keygen -q -t " + k + (k == "rsa" ? " -b 2048" : "") + " -N '' -f " + file +
                    " >/dev/null 2>&1")) {
                why_ = "ssh-keygen could not make a " + k + " key";
                return false;
            }
            text += "HostKey " + file + "\n";
        }
        text += conf.extra;
        if (!text.empty() && text.back() != '\n')
            text += "\n";
        text += "PidFile " + (dir_ / "sshd.pid") + "\nKexAlgorithms " + conf.kex +
                "\nHostKeyAlgorithms " + conf.host_key_algs + "\nCiphers " + conf.ciphers +
                "\nMACs " + conf.macs +
                "\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\nUsePAM yes\n"
                "StrictModes no\nPermitRootLogin no\nAllowUsers " +
                user + "\nSubsystem sftp " + conf.subsystem + "\n";
        const std::string file = dir_ / "sshd_config";
        std::ofstream(file) << text;
        if (!sh(exe_ + " -t -f " + file + " >" + (dir_ / "check.log") + " 2>&1")) {
            why_ = "sshd refused the config: " + read_file(dir_ / "check.log");
            return false;
        }
        proc_ = std::make_unique<ChildProc>(exe_, std::vector<std::string>{"-D", "-e", "-f", file},
                                            dir_ / "sshd.log");
        if (!proc_->wait_port(port_)) {
            why_ = "sshd did not start: " + proc_->log();
            return false;
        }
        return true;
    }

    TempDir dir_;
    uint16_t port_;
    std::string exe_;
    std::string why_;
    std::unique_ptr<ChildProc> proc_;
};

} // namespace kvtest
