// The key-exchange offer (SSH_MSG_KEXINIT, number 20) and the rule that
// picks one algorithm from two offers.
//
// KV_SshKeyEx holds the message's fields: a random cookie, the ten
// name-lists (comma lists of algorithm names), the first-kex-packet-follows
// flag and the reserved word. It also keeps the whole payload as sent or as
// received, which the session hashes into the exchange hash; that copy is not
// part of the message's wire form.
//
// Threads: a plain value; one thread at a time per object.
#pragma once

#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "ssh/kv_sshmsg.h"

// The name-lists of a KEXINIT, in message order.
enum KV_SSH_KEX_LIST : uint32_t {
    KV_SSH_KEX_ALGS = 0,
    KV_SSH_KEX_HOST_KEY = 1,
    KV_SSH_KEX_ENC_CS = 2,
    KV_SSH_KEX_ENC_SC = 3,
    KV_SSH_KEX_MAC_CS = 4,
    KV_SSH_KEX_MAC_SC = 5,
    KV_SSH_KEX_COMP_CS = 6,
    KV_SSH_KEX_COMP_SC = 7,
    KV_SSH_KEX_LANG_CS = 8,
    KV_SSH_KEX_LANG_SC = 9,
};
inline constexpr uint32_t KV_SSH_KEX_LISTS = 10;

class KV_SshKeyEx : public KV_SshTlMsg
{
public:
    // A fresh cookie of 16 random bytes (OpenSSL's generator), empty lists,
    // flag and reserved word 0.
    KV_SshKeyEx();
    KV_SshKeyEx(const KV_SshKeyEx& other) = default;
    ~KV_SshKeyEx() override;

    uint8_t type() const override { return 20; }
    // After the number: the cookie (16 bytes), the ten lists, the flag (one
    // byte), the reserved word (u32). False at the first field that cannot
    // be read whole; the fields read so far are kept.
    bool read(KV_Storage& st) override;
    bool write(KV_Storage& st) const override;

    const unsigned char* cookie() const { return cookie_; }
    // List i (KV_SSH_KEX_LIST); list(i) for i beyond the last is the last.
    KV_SshString& list(uint32_t i)
    {
        return lists_[i < KV_SSH_KEX_LISTS ? i : KV_SSH_KEX_LISTS - 1];
    }
    const KV_SshString& list(uint32_t i) const
    {
        return lists_[i < KV_SSH_KEX_LISTS ? i : KV_SSH_KEX_LISTS - 1];
    }
    uint8_t first_kex_follows() const { return first_kex_follows_; }
    uint32_t reserved() const { return reserved_; }
    // The whole payload, kept by the session.
    KV_SshString& payload() { return payload_; }
    const KV_SshString& payload() const { return payload_; }

private:
    unsigned char cookie_[16];
    KV_SshString lists_[KV_SSH_KEX_LISTS];
    uint8_t first_kex_follows_ = 0;
    uint32_t reserved_ = 0;
    KV_SshString payload_;
};

// The first name of `ours` that `theirs` holds too, both comma lists whose
// parts are trimmed of blanks and of which empty parts are dropped. Names
// compare exactly; our order decides. Empty when no name is common.
KV_String ssh_negotiate(const KV_Stream& ours, const KV_Stream& theirs);
