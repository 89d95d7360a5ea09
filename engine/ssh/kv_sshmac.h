// The SSH-2 message authentication codes: the table of those the client
// knows, in offer order, and the MAC object of one direction.
//
// A MAC is the HMAC of the row's digest over the packet's sequence number (4
// bytes, network order) followed by the unencrypted packet, keyed with the
// first key_len() bytes of the derived key, and cut to mac_len() bytes (12
// for the "-96" rows). The HMAC runs through OpenSSL's EVP_MAC; the keyed
// context is kept from packet to packet and only restarted.
//
// Threads: the table is read-only, any thread. A MAC object belongs to its
// session's thread.
#pragma once

#include <cstdint>
#include <memory>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshMacDef
{
public:
    using evp_getter = const EVP_MD* (*)();

    constexpr KV_SshMacDef(const char* name, uint32_t bits, evp_getter evp)
        : name_(name), bits_(bits), evp_(evp)
    {
    }

    // Rows in the table: 6.
    static uint32_t nmacs();
    // Row i, or null when i is not below nmacs().
    static const KV_SshMacDef* mac(uint32_t i);
    // The first row named exactly `name`, or null.
    static const KV_SshMacDef* find(const KV_String& name);
    // The names of all rows in order, joined by ","; without the rows that
    // authenticate nothing ("none") unless with_none.
    static KV_String list(bool with_none);

    const char* name() const { return name_; }
    // Bits the MAC is cut to; 0 for the whole digest.
    uint32_t bits() const { return bits_; }
    evp_getter evp() const { return evp_; }
    // True for the row that authenticates nothing ("none").
    bool null() const;

private:
    const char* name_;
    uint32_t bits_;
    evp_getter evp_;

    static const KV_SshMacDef _macs[];
};

class KV_SshMac
{
public:
    // A new MAC of the row named `name` (exact), its lengths set; the
    // session fills key() before the first compute(). Null for a name outside
    // the table.
    static std::unique_ptr<KV_SshMac> create(const KV_String& name);

    explicit KV_SshMac(const KV_SshMacDef& def);
    ~KV_SshMac();
    KV_SshMac(const KV_SshMac&) = delete;
    KV_SshMac& operator=(const KV_SshMac&) = delete;

    const KV_SshMacDef& def() const { return def_; }
    // Bytes appended to each packet: the digest size, or bits / 8.
    uint32_t mac_len() const { return mac_len_; }
    // Bytes of key material taken: the digest size.
    uint32_t key_len() const { return key_len_; }
    // The derived key. Taking it for writing makes the next compute() key
    // the HMAC afresh.
    KV_Stream& key()
    {
        keyed_ = false;
        return key_;
    }
    const KV_Stream& key() const { return key_; }

    // Appends the mac_len() bytes of the MAC of (seq, data) to out. False,
    // with nothing appended, when the key holds fewer than key_len() bytes or
    // is empty, or OpenSSL fails.
    bool compute(KV_Stream& out, uint32_t seq, const KV_Stream& data);
    // The same over len bytes at data; the MAC goes to out, which has room
    // for mac_len() bytes.
    bool compute(unsigned char* out, uint32_t seq, const unsigned char* data, uint32_t len);

private:
    const KV_SshMacDef& def_;
    uint32_t mac_len_ = 0;
    uint32_t key_len_ = 0;
    KV_Stream key_;
    EVP_MAC_CTX* ctx_ = nullptr;
    bool keyed_ = false; // ctx_ holds the current key
};
