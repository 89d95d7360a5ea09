// The Blowfish block cipher, used to scramble stored passwords
// (KV_String::encrypt_bf / decrypt_bf).
//
// The cipher itself is OpenSSL 3's Blowfish ("BF-ECB", "BF-CBC", "BF-CFB" from
// the legacy provider, which this file loads once, together with the default
// provider, on first use). Blocks are read as two big-endian 32-bit halves, as
// the published test vectors require.
//
// The cipher is the only code of the engine that throws:
//   std::invalid_argument("Incorrect key length")  key length 0 (or null key)
//   std::length_error("Incorrect buffer length")   length 0 or not a multiple of 8
//   std::runtime_error(...)                        OpenSSL cannot provide Blowfish
//                                                  (legacy provider missing) or
//                                                  fails inside the cipher
// KV_String::encrypt_bf / decrypt_bf (also in kv_blowfish.cpp) catch at their
// boundary: only the key-length exception, a mistake of the calling code,
// goes through them; the others are reported (kv_string.h).
//
// Threads: an object is used by one thread at a time; any number of objects may
// be used on different threads at once.
#pragma once

#include <cstdint>

struct evp_cipher_ctx_st; // OpenSSL's EVP_CIPHER_CTX

enum KV_BF_MODE {
    KV_BF_ECB = 0, // and any value other than 1 and 2
    KV_BF_CBC = 1,
    KV_BF_CFB = 2, // 64-bit feedback
};

class KV_Blowfish
{
public:
    // key: key_len bytes; a negative length or one above 56 is taken as 56.
    // iv: 8 bytes, or null for an all-zero IV. CBC and CFB start from the IV
    // on every call (the chain is not carried from one call to the next).
    KV_Blowfish(const unsigned char* key, int key_len, const unsigned char* iv = nullptr);
    ~KV_Blowfish();
    KV_Blowfish(const KV_Blowfish&) = delete;
    KV_Blowfish& operator=(const KV_Blowfish&) = delete;

    // Whether this object was made from these key bytes (after the 56-byte
    // cut), so a caller may keep one object per key.
    bool same_key(const unsigned char* key, int key_len) const;

    // In place; mode is a KV_BF_MODE value (anything else is ECB).
    void encrypt(unsigned char* buf, uint32_t len, int mode = KV_BF_ECB);
    void decrypt(unsigned char* buf, uint32_t len, int mode = KV_BF_ECB);

private:
    void crypt(unsigned char* buf, uint32_t len, int mode, bool enc);
    evp_cipher_ctx_st* keyed_ctx(int mode, bool enc);

    uint32_t iv[2];    // big-endian halves of the IV
    uint32_t chain[2]; // where CBC and CFB start every call
    unsigned char key[56];
    int key_len;
    // The key schedule is Blowfish's costly part (521 block encryptions): each
    // mode and direction runs it once, on first use, and later calls only
    // restart the context with the IV.
    evp_cipher_ctx_st* ctx[3][2] = {};
};
