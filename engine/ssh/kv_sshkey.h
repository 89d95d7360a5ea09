// SSH host keys: the table of host-key types, the public key of a server
// (RSA or DSA) with its SSH wire form (the key blob), its fingerprint and the
// check of its signatures, and the SSH multiple-precision integer (mpint)
// shared with the key exchange.
//
// Key blobs (every field an SSH string, RFC 4253 section 6.6):
//   "ssh-dss", mpint p, mpint q, mpint g, mpint y
//   "ssh-rsa", mpint e, mpint n
// An mpint is the number's two's-complement bytes, most significant first,
// as short as the sign allows; zero is the empty string.
//
// A key holds its numbers as OpenSSL big numbers; a signature is checked
// through an EVP_PKEY built from them.
//
// Threads: a plain value; one thread at a time per object. The type table
// is read-only.
#pragma once

#include <cstdint>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

enum KV_SSH_KEY_TYPE : int32_t {
    KV_SSH_KEY_NONE = 0,
    KV_SSH_KEY_DSA = 1,
    KV_SSH_KEY_RSA = 2,
    KV_SSH_KEY_RSA1 = 3, // RSA of protocol 1: known by name, never read
};

class KV_SshKeyTypeDef
{
public:
    constexpr KV_SshKeyTypeDef(const char* name, KV_SSH_KEY_TYPE type) : name_(name), type_(type) {}

    // Rows in the table: 5 ("ssh-rsa", "ssh-dss", "rsa", "dsa", "rsa1").
    static uint32_t ntypes();
    // Row i, or null when i is not below ntypes().
    static const KV_SshKeyTypeDef* row(uint32_t i);
    // The offer: "ssh-rsa,ssh-dss".
    static KV_String list();
    // The type of the first row named exactly `name`; KV_SSH_KEY_NONE when
    // none is.
    static KV_SSH_KEY_TYPE type_of(const KV_String& name);
    // The name of the first row of `type`; null when none has it.
    static const char* name_of(int32_t type);

    const char* name() const { return name_; }
    KV_SSH_KEY_TYPE type() const { return type_; }

private:
    const char* name_;
    KV_SSH_KEY_TYPE type_;

    static const KV_SshKeyTypeDef _types[];
};

class KV_SshKey
{
public:
    // Empty: type 0, no numbers.
    KV_SshKey() = default;
    // Starts empty and assigns.
    KV_SshKey(const KV_SshKey& other);
    virtual ~KV_SshKey();
    // Copies the other's type and numbers. False, with this key as it was,
    // when the other is empty or of protocol 1 or memory cannot be had.
    bool operator=(const KV_SshKey& other);

    int32_t type() const { return type_; }
    // The key has an SSH-2 blob: it is a DSA or an RSA key.
    bool ssh2() const { return type_ == KV_SSH_KEY_DSA || type_ == KV_SSH_KEY_RSA; }
    // The type's name: "ssh-dss", "ssh-rsa", "rsa1"; "ssh-unknown" for 0.
    const char* str_type() const;
    // Number i of the key: DSA p, q, g, y (0 .. 3), RSA e, n (0, 1); null
    // beyond them or while the key is empty.
    const BIGNUM* num(uint32_t i) const;
    BIGNUM* num(uint32_t i);

    // Parses a key blob. False when the name is not an SSH-2 key type, a
    // number is longer than 8192 bytes or a field is cut short; the key then
    // holds what was read so far.
    bool read(KV_Storage& st);
    // The key blob; false for an empty or protocol-1 key.
    bool write(KV_Storage& st) const;
    // Appends the MD5 fingerprint of the key blob to out: 16 lower-case hex
    // pairs joined by ":" (47 characters). False for an empty key.
    bool fingerprint(KV_String& out) const;
    // Whether `sig` (an SSH signature: string format name, string blob) is
    // this key's signature of the len bytes at data under RFC 4253 section
    // 6.6: "ssh-rsa" is RSASSA-PKCS1-v1_5 with SHA-1, "ssh-dss" is DSA with
    // SHA-1 and r, s as 20 bytes each. The format must be the key's own and
    // the signature string must be used up exactly.
    bool verify(const unsigned char* data, uint32_t len, const KV_Stream& sig) const;

    // Same type (1, 2 or 3) and equal numbers. Empty keys equal nothing.
    bool operator==(const KV_SshKey& other) const;
    // Keys have no order.
    bool operator<(const KV_SshKey&) const { return false; }

    // Frees the numbers; type 0.
    void clear();
    // Clears, then sets the type and gives it zero-valued numbers. False for
    // a type outside 1 .. 3 or when memory cannot be had (the key is then
    // empty).
    bool init_key(int32_t type);

private:
    // Numbers of a type: 4 for DSA, 2 for RSA, else 0.
    static uint32_t nnums(int32_t type);
    // The numbers as OpenSSL's key object; null when they do not make one.
    EVP_PKEY* pkey() const;

    int32_t type_ = KV_SSH_KEY_NONE;
    BIGNUM* nums_[4] = {};
};

// Reads an mpint into bn as an unsigned magnitude. False when bn is null,
// the string cannot be read whole or is longer than 8192 bytes.
bool ssh_read_mpint(KV_Storage& st, BIGNUM* bn);
// Writes bn as an mpint (the shortest two's-complement form). False when bn
// is null or the storage takes less.
bool ssh_write_mpint(KV_Storage& st, const BIGNUM* bn);
