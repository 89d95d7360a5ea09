// The client side of one SSH-2 connection: the transport session.
//
// It runs on the session thread of the network layer that KV_SshMan creates
// once the socket is connected (directly or through a proxy). Over its life:
//   state 0 (VERSION)     waits for the server's identification line; lines
//                          before it are skipped
//   state 1 (VERSION_OK)  the next pass sends "SSH-2.0-Kivrel" + LF and the
//                          client KEXINIT
//   state 2 (KEX)         key exchange (diffie-hellman-group1-sha1), then the
//                          "ssh-userauth" service and one password attempt
//   state 4 (OPEN)        the channels the manager asks for are opened and
//                          carry data both ways
// A key re-exchange started by the server takes the session from 4 back to
// 2 until its NEWKEYS is sent; no channel data leaves meanwhile. Sequence
// numbers count every packet of the connection and never restart.
//
// Bounds on what the server sends before the keys are in force: the
// identification line and any line before it are at most max_line bytes,
// at most max_pre_lines lines may come before it, and the whole version
// phase ends after half the manager's open time-out. Every global or channel
// request that wants a reply is refused (REQUEST_FAILURE, CHANNEL_FAILURE):
// servers that probe the client with keep-alive requests hang up on a
// client that stays silent.
//
// A host key counts only after its signature over the exchange hash
// verified, and trust is tied to the exact key: see check_key.
//
// Threads: every hook and private operation runs on the session thread.
// Shared with other threads: the owner's error text (under its lock), the
// store of known host keys (guards itself), the channels' queues (the
// channels' business).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "net/kv_session.h"
#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshkey.h"
#include "ssh/kv_sshkeyex.h"
#include "ssh/kv_sshmsg.h"
#include "ssh/kv_sshpacket.h"

class KV_SshMan;
class KV_SshKeyMan;
class KV_SshChanMapIf;

// The Diffie-Hellman values of one exchange, on OpenSSL's big numbers: the
// group (p, g), this side's private value x and public value e = g^x mod p.
struct KV_SshDh
{
    KV_SshDh();
    ~KV_SshDh();
    KV_SshDh(const KV_SshDh&) = delete;
    KV_SshDh& operator=(const KV_SshDh&) = delete;
    BIGNUM* p;
    BIGNUM* g;
    BIGNUM* x;
    BIGNUM* e;
};

enum class KV_SSH_SESS_STATE : int32_t {
    VERSION = 0,
    VERSION_OK = 1,
    KEX = 2,
    OPEN = 4,
};

class KV_SshSess : public KV_Session
{
public:
    // Version-phase bounds (see the head of this file).
    static constexpr uint32_t max_line = 8192;
    static constexpr uint32_t max_pre_lines = 1024;
    // The software-version part of the server's line is kept to this many
    // bytes, terminator included.
    static constexpr uint32_t soft_ver_size = 4096;

    // Takes the socket's descriptor; owner is not owned and may be null (the
    // session then refuses to run).
    KV_SshSess(KV_Socket& sock, const KV_InetAddr& addr, KV_SshMan* const owner);
    // The Diffie-Hellman state and the channels go with the session.
    ~KV_SshSess() override;
    KV_SshSess(const KV_SshSess&) = delete;
    KV_SshSess& operator=(const KV_SshSess&) = delete;

    KV_SESS_TYPE type() const override { return KV_SESS_TYPE_SSH; }

    // The one process-wide store of known host keys.
    static KV_SshKeyMan& man_key();

    // ---- read by tests and the owner (the session thread's values)
    KV_SSH_SESS_STATE state() const { return state_; }
    const KV_SshString& v_s() const { return v_s_; }
    const KV_SshString& v_c() const { return v_c_; }
    const KV_SshString& i_s() const { return kex_s.payload(); }
    const KV_SshString& i_c() const { return kex_c.payload(); }
    // The exchange hash of the first key exchange; empty before it.
    const KV_Stream& session_id() const { return session_id_; }
    // Index 0 incoming (server to client), 1 outgoing.
    const KV_SshDirParams& pending(uint32_t dir) const { return pending_[dir & 1]; }
    const KV_SshDirParams& current(uint32_t dir) const { return current_[dir & 1]; }
    // Null until the login succeeded and the owner filled the table.
    KV_SshChanMapIf* channels() const { return channels_.get(); }
    const char* soft_ver() const { return soft_ver_.get(); }

protected:
    bool init_secured() override;
    bool process_in(KV_Stream& in, KV_Stream& out) override;
    bool process_out(KV_Stream& out) override;
    bool process_idle(KV_Stream& out) override;
    bool init() override;
    bool postcleanup(bool ok) override;

private:
    // ---- transport
    bool send(KV_Stream& out, const KV_SshTlMsg& msg, KV_SshString* const copy = nullptr);
    bool process_msg(KV_Stream& out, unsigned char type);
    bool process_version(KV_Stream& in);
    bool process_packet(KV_Stream& in, KV_Stream& out);
    bool send_first_flight(KV_Stream& out);
    bool send_channel_data(KV_Stream& out);
    // Owner's error text (first one wins) and an error notice; false.
    bool report(const KV_String& text);
    void notice(const KV_String& text, bool err = false);

    // ---- message handlers of process_msg
    bool on_disconnect();
    bool on_service_accept(KV_Stream& out);
    bool on_userauth_success(KV_Stream& out);
    bool on_global_request(KV_Stream& out);
    bool on_channel_request(KV_Stream& out);
    bool on_channel_msg(KV_Stream& out, unsigned char type);

    // ---- key exchange
    bool on_kexinit(KV_Stream& out);
    bool on_kexdh_reply(KV_Stream& out);
    bool on_newkeys(KV_Stream& out);
    bool send_keyex(KV_Stream& out);
    bool new_params();
    bool dh_new_grp1();
    bool dh_gen_key(KV_SshDh* dh);
    bool dh_pub_is_valid(const KV_SshDh* dh, const BIGNUM* pub);
    bool dh_hash(unsigned char* out, const KV_SshString& k_s, BIGNUM* e, BIGNUM* f, BIGNUM* k);
    bool new_key(KV_Stream& out, unsigned char letter, const unsigned char* h, BIGNUM* k);
    bool new_keys(const unsigned char* h, BIGNUM* k);
    bool check_key(const KV_SshKey& key);

    uint32_t key_mat_len = 0;
    // The running exchange's group and values (prime, generator, private x,
    // public e); replaced by each exchange.
    std::unique_ptr<KV_SshDh> dh_;
    KV_SshKeyEx kex_s;
    KV_SshKeyEx kex_c;
    KV_SshDirParams pending_[2];
    KV_SshDirParams current_[2];
    KV_SshPacket packet;
    KV_SSH_KEY_TYPE host_key_type = KV_SSH_KEY_NONE;
    KV_SSH_SESS_STATE state_ = KV_SSH_SESS_STATE::VERSION;
    uint8_t expected = 0;
    KV_SshString v_s_;
    KV_SshString v_c_;
    KV_SshMan* const owner_;
    std::unique_ptr<KV_SshChanMapIf> channels_;
    KV_Stream session_id_;
    std::unique_ptr<char[]> soft_ver_;
    // This side's KEXINIT of the running exchange is out; exchanges done.
    bool kexinit_sent = false;
    uint32_t kex_done = 0;
    // Version phase: lines skipped so far, and when it began.
    uint32_t pre_lines = 0;
    std::chrono::steady_clock::time_point started;
};
