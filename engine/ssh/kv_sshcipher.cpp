#include "ssh/kv_sshcipher.h"

#include <openssl/evp.h>

// The order is the offer order. "arcfour" and "none" carry a block size of 8
// although neither is a block cipher: the packet layer pads to it.
const KV_SshCipherDef KV_SshCipherDef::_ciphers[] = {
    {"3des-cbc", 8, 24, EVP_des_ede3_cbc},
    {"blowfish-cbc", 8, 16, EVP_bf_cbc},
    {"cast128-cbc", 8, 16, EVP_cast5_cbc},
    {"arcfour", 8, 16, EVP_rc4},
    {"aes128-cbc", 16, 16, EVP_aes_128_cbc},
    {"aes192-cbc", 16, 24, EVP_aes_192_cbc},
    {"aes256-cbc", 16, 32, EVP_aes_256_cbc},
    {"des", 8, 8, EVP_des_cbc},
    {"none", 8, 0, EVP_enc_null},
};

uint32_t KV_SshCipherDef::nciphers()
{
    return sizeof _ciphers / sizeof _ciphers[0];
}

const KV_SshCipherDef* KV_SshCipherDef::cipher(uint32_t i)
{
    return i < nciphers() ? &_ciphers[i] : nullptr;
}

bool KV_SshCipherDef::null() const
{
    return evp_ == &EVP_enc_null;
}
