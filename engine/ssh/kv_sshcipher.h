// The table of SSH-2 ciphers that the client knows, in the order in which it
// offers them to the server.
//
// Each row names one cipher by its protocol name and gives its block size,
// its key length and OpenSSL's description of it. The table is constant and
// initialised before any code runs, so it needs no lock.
//
// Threads: read-only; any thread.
#pragma once

#include <cstdint>

#include <openssl/types.h>

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
