// The sshd of the SSH and SFTP benchmarks: the tests' fixture (kvtest::Sshd)
// with one RSA host key and only diffie-hellman-group1-sha1, ssh-rsa,
// aes128-cbc, hmac-sha1 and no compression, so that OpenSSH's clients and
// the engine use the same algorithms. OpenSSH's sftp gets the password from
// a script (SSH_ASKPASS); the engine trusts the host key for the run.
//
// Needs root and openssh-server (and openssh-client for the peer's side);
// why() says what is missing.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "ssh/kv_sshkey.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "support/kv_sshd.h"

namespace kvbench {

class BenchSshd
{
public:
    static constexpr const char* user = kvtest::Sshd::user;
    static constexpr const char* pass = kvtest::Sshd::pass;

    BenchSshd() : sshd_(conf())
    {
        if (!sshd_.ready()) {
            why_ = sshd_.why();
            return;
        }
        std::ofstream(askpass()) << "#!/bin/sh\necho '" << pass << "'\n";
        ::chmod(askpass().c_str(), 0755);
        KV_File::set_path(KV_PATH_HOST_KEYS, (sshd_.dir() / "trusted-pks.bin").c_str());
        KV_SshSess::man_key().clear();
        KV_SshKey key;
        if (!host_key(key) || !KV_SshSess::man_key().add(key, addr().c_str(), "bench"))
            why_ = "host key not readable";
    }
    ~BenchSshd()
    {
        KV_SshSess::man_key().clear();
        KV_File::set_path(KV_PATH_HOST_KEYS, "");
    }
    BenchSshd(const BenchSshd&) = delete;
    BenchSshd& operator=(const BenchSshd&) = delete;

    // Empty when the server is up and its key trusted.
    const std::string& why() const { return why_; }
    uint16_t port() const { return sshd_.port(); }
    std::string addr() const { return sshd_.addr(); }
    // A folder of the run's own, removed with the server.
    const std::string& dir() const { return sshd_.dir().path(); }

    // OpenSSH's sftp with the benchmark's algorithms and the password from
    // the script, logging in as the test user; the caller adds what it runs.
    std::string sftp_cmd() const
    {
        return "SSH_ASKPASS=" + askpass() + " SSH_ASKPASS_REQUIRE=force setsid -w sftp -q -P " +
               std::to_string(port()) +
               " -oKexAlgorithms=diffie-hellman-group1-sha1 -oHostKeyAlgorithms=ssh-rsa"
               " -oCiphers=aes128-cbc -oMACs=hmac-sha1 -oCompression=no"
               " -oStrictHostKeyChecking=no -oUserKnownHostsFile=/dev/null"
               " -oPubkeyAuthentication=no -oPreferredAuthentications=password";
    }
    // The login as the sftp command names it.
    static std::string login() { return std::string(user) + "@127.0.0.1"; }

private:
    static kvtest::Sshd::Conf conf()
    {
        kvtest::Sshd::Conf c;
        c.keys = {"rsa"};
        c.kex = "diffie-hellman-group1-sha1";
        c.host_key_algs = "ssh-rsa";
        c.ciphers = "aes128-cbc";
        c.macs = "hmac-sha1";
        c.extra = "Compression no\nMaxStartups 200\n";
        return c;
    }

    std::string askpass() const { return sshd_.dir() / "askpass"; }

    // The host key as the client sees it.
    bool host_key(KV_SshKey& key) const
    {
        std::ifstream f(sshd_.pub_key("rsa"));
        std::string type, b64;
        f >> type >> b64;
        std::vector<unsigned char> raw(b64.size());
        const int n =
            EVP_DecodeBlock(raw.data(), reinterpret_cast<const unsigned char*>(b64.data()),
                            static_cast<int>(b64.size()));
        // EVP_DecodeBlock counts the padding bytes as zeros; the blob's own
        // lengths tell where it ends, and a parse that stops there is enough.
        KV_Stream st;
        return n > 0 && st.append(raw.data(), static_cast<uint32_t>(n)) && key.read(st);
    }

    kvtest::Sshd sshd_;
    std::string why_;
};

} // namespace kvbench
