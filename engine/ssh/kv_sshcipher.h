// The SSH-2 ciphers: the table of those the client knows, in the order in
// which it offers them to the server, and the cipher object that encrypts or
// decrypts one direction of a connection.
//
// Each row names one cipher by its protocol name and gives its block size,
// its key length and OpenSSL's description of it. The table is constant and
// initialised before any code runs, so it needs no lock.
//
// A KV_SshCipher keeps one live OpenSSL context from init() on, so a CBC
// chain (or the RC4 key stream) runs on from one packet to the next, as the
// protocol requires. Blowfish, CAST-128, RC4 and single DES come from
// OpenSSL's legacy provider, which create() loads.
//
// Threads: the table is read-only, any thread. A cipher object belongs to its
// session's thread.
#pragma once

#include <cstdint>
#include <memory>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SshCipherDef
{
public:
    // OpenSSL's getter of the cipher's description (EVP_aes_128_cbc, ...).
    using evp_getter = const EVP_CIPHER* (*)();

    constexpr KV_SshCipherDef(const char* name, int32_t block_size, int32_t key_len, evp_getter evp)
        : evp_(evp), name_(name), block_size_(block_size), key_len_(key_len)
    {
    }

    // Rows in the table: 9.
    static uint32_t nciphers();
    // Row i, or null when i is not below nciphers().
    static const KV_SshCipherDef* cipher(uint32_t i);
    // The first row whose name is exactly `name` (case counts), or null.
    static const KV_SshCipherDef* find(const KV_String& name);
    // The offer: the names of the rows not named in `disabled`, in table
    // order, joined by "," without blanks. `disabled` is a comma list whose
    // parts are trimmed of blanks; empty parts and unknown names are ignored.
    // Empty when every row is disabled.
    static KV_String ciphers(const KV_String& disabled);

    // The protocol name ("aes128-cbc"); never null.
    const char* name() const { return name_; }
    // Bytes.
    int32_t block_size() const { return block_size_; }
    // Bytes of key material.
    int32_t key_len() const { return key_len_; }
    evp_getter evp() const { return evp_; }
    // True for the cipher that does not encrypt ("none").
    bool null() const;

private:
    evp_getter evp_;
    const char* name_;
    int32_t block_size_;
    int32_t key_len_;

    static const KV_SshCipherDef _ciphers[];
};

class KV_SshCipher : public KV_SafeObj
{
public:
    // A new cipher of the row named `name` (exact), not yet usable: the
    // session fills iv() and key(), then calls init(). Null for a name
    // outside the table.
    static std::unique_ptr<KV_SshCipher> create(const KV_String& name);

    explicit KV_SshCipher(const KV_SshCipherDef& def);
    virtual ~KV_SshCipher();
    KV_SshCipher(const KV_SshCipher&) = delete;
    KV_SshCipher& operator=(const KV_SshCipher&) = delete;

    // Filled by the session with the derived bytes before init(); longer
    // streams are fine, only the cipher's own lengths are used.
    KV_Stream& iv() { return iv_; }
    KV_Stream& key() { return key_; }
    int32_t block_size() const { return def_.block_size(); }
    int32_t key_len() const { return def_.key_len(); }
    const KV_SshCipherDef& def() const { return def_; }

    // Starts a fresh context for encrypting (true) or decrypting with the
    // current iv() and key(), replacing any earlier one. False when OpenSSL
    // refuses (a legacy cipher without its provider) or when iv() or key()
    // holds fewer bytes than the cipher takes; the cipher is then unusable.
    bool init(bool encrypt);
    // Transforms len bytes from in to out (the two may be the same buffer),
    // the chain running on from the previous call. False when init() has not
    // succeeded or len is not a multiple of block_size().
    bool process(const unsigned char* in, unsigned char* out, uint32_t len);

private:
    void clear_ctx();

    EVP_CIPHER_CTX* ctx_ = nullptr;
    bool cleared_ = true; // no live context
    bool encrypt_ = true;
    const KV_SshCipherDef& def_;
    KV_Stream iv_;
    KV_Stream key_;
};
