// A scripted SSH-2 server of the tests' own, made from the transport's
// building blocks (packet, direction parameters, host key, mpint): it
// accepts one connection on 127.0.0.1 and plays the server's side of the
// version exchange, one diffie-hellman-group1-sha1 exchange with an RSA
// host key, the password login and one channel (whose data it echoes, or
// hands to the test's own subsystem), with the deviations the
// test asks for (odd version lines, a bad signature, a chosen f, silence,
// an unexpected message, a banner, requests that want replies).
//
// It offers only aes128-cbc (unless the script says otherwise), hmac-sha1
// and "none" compression. Runs on a
// thread of its own; the test reads what it saw after join().
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshkey.h"
#include "ssh/kv_sshmsg.h"
#include "ssh/kv_sshpacket.h"
#include "support/kv_nettest.h"
#include "support/kv_sshtest.h"

namespace kvtest {

// A 1024-bit RSA host key made once per process (quick enough, and the
// client only checks the signature).
inline EVP_PKEY* script_host_key()
{
    static EVP_PKEY* key = EVP_RSA_gen(1024);
    return key;
}

// The SSH-2 form of an RSA key.
inline bool rsa_ssh_key(EVP_PKEY* pk, KV_SshKey& key)
{
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool ok = pk && EVP_PKEY_get_bn_param(pk, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                    EVP_PKEY_get_bn_param(pk, OSSL_PKEY_PARAM_RSA_E, &e) == 1 &&
                    key.init_key(KV_SSH_KEY_RSA) && BN_copy(key.num(0), e) &&
                    BN_copy(key.num(1), n);
    BN_free(n);
    BN_free(e);
    return ok;
}

inline std::string be32(uint32_t v)
{
    std::string s;
    for (int sh = 24; sh >= 0; sh -= 8)
        s += static_cast<char>(v >> sh);
    return s;
}

inline std::string sstr(const std::string& s)
{
    return be32(static_cast<uint32_t>(s.size())) + s;
}

inline std::string mpint(const BIGNUM* bn)
{
    KV_Stream st;
    ssh_write_mpint(st, bn);
    return bytes(st);
}

class ScriptServer
{
public:
    struct Script
    {
        // Sent first, raw; the default is a plain identification line.
        std::string version = "SSH-2.0-Script_1.0\r\n";
        // The server's offer of key-exchange methods and ciphers.
        std::string kex_algs = "diffie-hellman-group1-sha1";
        std::string ciphers = "aes128-cbc";
        // Stop after the version phase (keep the connection until the
        // client closes it).
        bool version_only = false;
        // Stay silent after sending KEXINIT.
        bool silent_after_kexinit = false;
        // Instead of KEXDH_REPLY send a message of this number (0: none).
        uint8_t instead_of_reply = 0;
        // Flip a byte of the signature.
        bool bad_signature = false;
        // f chosen by the test: "1", "p-1" (empty: a proper one).
        std::string f;
        // A USERAUTH_BANNER before USERAUTH_SUCCESS.
        bool banner = false;
        // After the channel is open: a GLOBAL_REQUEST and a CHANNEL_REQUEST,
        // both wanting a reply.
        bool probe_requests = false;
        // Answer the channel's opening with CHANNEL_OPEN_FAILURE and this
        // reason (0: confirm it).
        uint32_t open_failure = 0;
        // After the confirmation: data for a channel number the client never
        // opened.
        bool data_to_unknown = false;
        // After the channel is open: stay silent (no confirmation) instead.
        bool silent_before_confirm = false;
        // Instead of the echo: the bytes to send back for each piece of
        // channel data (a subsystem played by the test, such as SFTP); sent
        // in as many CHANNEL_DATA messages as the client's packet size asks.
        std::function<std::string(const std::string& data)> on_data;
    };

    explicit ScriptServer(Script s) : script_(std::move(s))
    {
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptServer() { join(); }
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    uint16_t port() const { return listen_.port(); }
    std::string addr() const { return "127.0.0.1:" + std::to_string(port()); }
    // Ends the script (the connection is closed) and waits for the thread.
    void join()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }

    // What the server saw, readable after join().
    std::string client_version;
    std::string client_kexinit;      // its payload, message number included
    std::vector<uint8_t> types_seen; // message numbers received, in order
    std::string password;
    bool got_request_failure = false;
    bool got_channel_failure = false;
    std::string channel_data;
    std::string h; // the exchange hash

private:
    // ---- transport
    bool fill(int ms = 200)
    {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return true; // nothing yet
        char buf[65536];
        const ssize_t r = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (r <= 0)
            return false;
        return in_.append(reinterpret_cast<unsigned char*>(buf), static_cast<uint32_t>(r));
    }
    // The next packet's payload; false when the client went or the test
    // ended.
    bool next(std::string& payload)
    {
        for (;;) {
            if (stop_.load())
                return false;
            bool complete = false;
            KV_String err;
            if (!pkt_.read_head(in_, rx_, complete, err))
                return false;
            if (complete) {
                if (!pkt_.read_body(in_, rx_, err))
                    return false;
                payload = bytes(pkt_.payload());
                if (!payload.empty())
                    types_seen.push_back(static_cast<uint8_t>(payload[0]));
                return true;
            }
            if (!fill())
                return false;
        }
    }
    bool send(const std::string& payload)
    {
        KV_SshPacket p;
        KV_Stream out;
        KV_String err;
        return put(p.payload(), payload) && p.prepare(tx_) && p.write(out, tx_, err) &&
               fd_.write_all(bytes(out));
    }
    // Waits until the test ends.
    void idle()
    {
        while (!stop_.load() && fill(50)) {
        }
    }

    void serve()
    {
        fd_ = listen_.accept(kMustComeMs);
        if (!fd_.ok())
            return;
        if (!fd_.write_all(script_.version))
            return;
        if (script_.version_only) {
            idle();
            return;
        }
        // The client's line.
        uint32_t pos = 0;
        while (!in_.find('\n', pos)) {
            if (stop_.load() || !fill())
                return;
        }
        client_version = bytes(in_).substr(0, pos);
        in_.remove(pos + 1);
        if (!client_version.empty() && client_version.back() == '\r')
            client_version.pop_back();
        run_kex();
        idle();
    }

    // V_S: the identification line of the script, without its line end.
    std::string server_version() const
    {
        const std::string& v = script_.version;
        size_t at = v.rfind("SSH-", v.size());
        while (at != std::string::npos && at != 0 && v[at - 1] != '\n')
            at = at == 0 ? std::string::npos : v.rfind("SSH-", at - 1);
        if (at == std::string::npos)
            return std::string();
        return v.substr(at, v.find_first_of("\r\n", at) - at);
    }

    std::string kexinit() const
    {
        std::string p(1, '\x14');
        p += std::string(16, '\x5a');
        p += sstr(script_.kex_algs) + sstr("ssh-rsa") + sstr(script_.ciphers) +
             sstr(script_.ciphers) + sstr("hmac-sha1") + sstr("hmac-sha1") + sstr("none") +
             sstr("none") + sstr("") + sstr("");
        p += std::string(1, '\0') + be32(0);
        return p;
    }

    void run_kex()
    {
        const std::string i_s = kexinit();
        if (!send(i_s))
            return;
        std::string i_c, init;
        if (!next(i_c) || i_c.empty() || i_c[0] != 20)
            return;
        client_kexinit = i_c;
        if (script_.silent_after_kexinit)
            return;
        if (!next(init) || init.empty() || init[0] != 30)
            return;
        if (script_.instead_of_reply) {
            send(std::string(1, static_cast<char>(script_.instead_of_reply)) + sstr("x"));
            return;
        }
        // e from the client.
        KV_Stream st;
        put(st, init.substr(1));
        BIGNUM* e = BN_new();
        BIGNUM* p = BN_new();
        BIGNUM* g = BN_new();
        BIGNUM* y = BN_new();
        BIGNUM* f = BN_new();
        BIGNUM* k = BN_new();
        BN_CTX* ctx = BN_CTX_new();
        BN_hex2bn(&p, "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B13"
                      "9B22514A08798E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B5"
                      "76625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE6"
                      "49286651ECE65381FFFFFFFFFFFFFFFF");
        BN_set_word(g, 2);
        const bool nums = ssh_read_mpint(st, e) && BN_rand(y, 256, 0, 0) &&
                          BN_mod_exp(f, g, y, p, ctx) && BN_mod_exp(k, e, y, p, ctx);
        if (script_.f == "1")
            BN_one(f);
        else if (script_.f == "p-1")
            BN_sub(f, p, BN_value_one());
        KV_SshKey key;
        KV_Stream blob;
        std::string sig;
        bool ok = nums && rsa_ssh_key(script_host_key(), key) && key.write(blob);
        if (ok) {
            const std::string k_s = bytes(blob);
            std::string hin = sstr(client_version) + sstr(server_version()) + sstr(i_c) +
                              sstr(i_s) + sstr(k_s) + mpint(e) + mpint(f) + mpint(k);
            unsigned char hd[20];
            unsigned int hn = 0;
            EVP_Digest(hin.data(), hin.size(), hd, &hn, EVP_sha1(), nullptr);
            h.assign(reinterpret_cast<char*>(hd), 20);
            EVP_MD_CTX* md = EVP_MD_CTX_new();
            size_t sl = 0;
            unsigned char sb[512];
            ok = EVP_DigestSignInit(md, nullptr, EVP_sha1(), nullptr, script_host_key()) == 1 &&
                 EVP_DigestSign(md, nullptr, &sl, hd, 20) == 1 && sl <= sizeof sb &&
                 EVP_DigestSign(md, sb, &sl, hd, 20) == 1;
            EVP_MD_CTX_free(md);
            std::string raw(reinterpret_cast<char*>(sb), sl);
            if (script_.bad_signature && !raw.empty())
                raw[raw.size() / 2] ^= 1;
            sig = sstr("ssh-rsa") + sstr(raw);
            ok = ok && send(std::string(1, '\x1f') + sstr(k_s) + mpint(f) + sstr(sig)) &&
                 send(std::string(1, '\x15'));
            // Keys, as the server derives them: A, C, E protect what it
            // receives, B, D, F what it sends.
            ok = ok && derive(k) && install();
        }
        BN_free(e);
        BN_free(p);
        BN_free(g);
        BN_clear_free(y);
        BN_free(f);
        BN_clear_free(k);
        BN_CTX_free(ctx);
        if (ok)
            run_login();
    }

    std::string key_of(const std::string& kmp, char letter, size_t len)
    {
        std::string out;
        std::string in = kmp + h + letter + h;
        while (out.size() < len) {
            unsigned char d[20];
            unsigned int n = 0;
            EVP_Digest(in.data(), in.size(), d, &n, EVP_sha1(), nullptr);
            out.append(reinterpret_cast<char*>(d), 20);
            in = kmp + h + out;
        }
        return out;
    }
    bool derive(const BIGNUM* k)
    {
        const std::string kmp = mpint(k);
        for (int i = 0; i < 6; ++i)
            keys_[i] = key_of(kmp, static_cast<char>('A' + i), 20);
        return true;
    }
    bool install_dir(KV_SshDirParams& d, const std::string& iv, const std::string& key,
                     const std::string& mk, bool encrypt)
    {
        auto c = KV_SshCipher::create("aes128-cbc");
        auto m = KV_SshMac::create("hmac-sha1");
        if (!c || !m || !put(c->iv(), iv) || !put(c->key(), key) || !c->init(encrypt) ||
            !put(m->key(), mk))
            return false;
        d.set_cipher(std::move(c));
        d.set_mac(std::move(m));
        return true;
    }
    bool install()
    {
        // The client's NEWKEYS, then its packets are protected.
        std::string nk;
        if (!next(nk) || nk.empty() || nk[0] != 21)
            return false;
        return install_dir(rx_, keys_[0], keys_[2], keys_[4], false) &&
               install_dir(tx_, keys_[1], keys_[3], keys_[5], true);
    }

    void run_login()
    {
        std::string m;
        while (next(m)) {
            if (m.empty())
                return;
            KV_Stream st;
            put(st, m.substr(1));
            switch (static_cast<uint8_t>(m[0])) {
            case 5: // SERVICE_REQUEST
                send(std::string(1, '\x06') + sstr("ssh-userauth"));
                break;
            case 50: { // USERAUTH_REQUEST: user, service, method, FALSE, password
                KV_SshString user, service, method, pass;
                uint8_t b = 0;
                if (user.read(st) && service.read(st) && method.read(st) && st.read(&b, 1) == 1 &&
                    pass.read(st))
                    password = bytes(pass);
                if (script_.banner)
                    send(std::string(1, '\x35') + sstr("Welcome, tests.\r\n") + sstr(""));
                send(std::string(1, '\x34'));
                break;
            }
            case 90: { // CHANNEL_OPEN: type, sender, window, max packet
                if (script_.silent_before_confirm)
                    break;
                KV_SshString type;
                uint32_t sender = 0, wnd = 0, maxp = 0;
                if (!type.read(st) || !ssh_read_u32(st, sender) || !ssh_read_u32(st, wnd) ||
                    !ssh_read_u32(st, maxp))
                    return;
                remote_chan_ = sender;
                max_packet_ = maxp;
                if (script_.open_failure) {
                    send(std::string(1, '\x5c') + be32(sender) + be32(script_.open_failure) +
                         sstr("refused") + sstr(""));
                    break;
                }
                send(std::string(1, '\x5b') + be32(sender) + be32(77) + be32(0x100000) +
                     be32(0x8000));
                break;
            }
            case 98: { // CHANNEL_REQUEST (the subsystem)
                if (script_.data_to_unknown)
                    send(std::string(1, '\x5e') + be32(remote_chan_ + 8) + sstr("stray"));
                if (script_.probe_requests) {
                    send(std::string(1, '\x50') + sstr("keepalive@openssh.com") +
                         std::string(1, '\1'));
                    send(std::string(1, '\x62') + be32(remote_chan_) +
                         sstr("keepalive@openssh.com") + std::string(1, '\1'));
                }
                break;
            }
            case 82:
                got_request_failure = true;
                break;
            case 100:
                got_channel_failure = true;
                break;
            case 94: { // CHANNEL_DATA: echoed
                uint32_t ch = 0;
                KV_SshString data;
                if (ssh_read_u32(st, ch) && data.read(st)) {
                    channel_data += bytes(data);
                    const std::string back =
                        script_.on_data ? script_.on_data(bytes(data)) : bytes(data);
                    // Some room in each packet for its own header.
                    const size_t step = max_packet_ > 1024 ? max_packet_ - 512 : 512;
                    for (size_t at = 0; at < back.size(); at += step)
                        send(std::string(1, '\x5e') + be32(remote_chan_) +
                             sstr(back.substr(at, step)));
                }
                break;
            }
            default:
                break;
            }
        }
    }

    Script script_;
    PlainServer listen_;
    Fd fd_;
    KV_Stream in_;
    KV_SshPacket pkt_;
    KV_SshDirParams rx_, tx_;
    std::string keys_[6];
    uint32_t remote_chan_ = 0;
    uint32_t max_packet_ = 0x8000;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace kvtest
