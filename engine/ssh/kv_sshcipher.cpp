#include "ssh/kv_sshcipher.h"

#include <new>

#include <openssl/err.h>
#include <openssl/evp.h>

#include "datasources/kv_sshciphername.h"
#include "foundation/kv_ossl.h"
#include "foundation/kvtl.h"

// The order is the offer order. "arcfour" and "none" carry a block size of 8
// although neither is a block cipher: the packet layer pads to it.
const KV_SshCipherDef KV_SshCipherDef::_ciphers[] = {
    {"3des-cbc", 8, 24, EVP_des_ede3_cbc},    {"blowfish-cbc", 8, 16, EVP_bf_cbc},
    {"cast128-cbc", 8, 16, EVP_cast5_cbc},    {"arcfour", 8, 16, EVP_rc4},
    {"aes128-cbc", 16, 16, EVP_aes_128_cbc},  {"aes192-cbc", 16, 24, EVP_aes_192_cbc},
    {"aes256-cbc", 16, 32, EVP_aes_256_cbc},  {"des", 8, 8, EVP_des_cbc},
    {KV_SSH_CIPHER_NONE, 8, 0, EVP_enc_null},
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

const KV_SshCipherDef* KV_SshCipherDef::find(const KV_String& name)
{
    for (const KV_SshCipherDef& def : _ciphers)
        if (name == def.name())
            return &def;
    return nullptr;
}

KV_String KV_SshCipherDef::ciphers(const KV_String& disabled)
{
    KVTL::KV_ListVal<KV_String> off;
    disabled.parse(off, ",");
    KV_String list;
    for (const KV_SshCipherDef& def : _ciphers) {
        if (off.find(KV_String(def.name())))
            continue;
        if (!list.empty())
            list += ',';
        list += def.name();
    }
    return list;
}

// ---------------------------------------------------------------------------
// KV_SshCipher

std::unique_ptr<KV_SshCipher> KV_SshCipher::create(const KV_String& name)
{
    const KV_SshCipherDef* def = KV_SshCipherDef::find(name);
    if (!def)
        return nullptr;
    kv_ossl_providers();
    return std::unique_ptr<KV_SshCipher>(new (std::nothrow) KV_SshCipher(*def));
}

KV_SshCipher::KV_SshCipher(const KV_SshCipherDef& def) : def_(def) {}

KV_SshCipher::~KV_SshCipher()
{
    clear_ctx();
}

void KV_SshCipher::clear_ctx()
{
    EVP_CIPHER_CTX_free(ctx_);
    ctx_ = nullptr;
    cleared_ = true;
}

bool KV_SshCipher::init(bool encrypt)
{
    encrypt_ = encrypt;
    clear_ctx();
    const EVP_CIPHER* cipher = def_.evp()();
    ctx_ = EVP_CIPHER_CTX_new();
    if (!ctx_ || !cipher)
        return false;
    const int enc = encrypt ? 1 : 0;
    bool ok = EVP_CipherInit_ex(ctx_, cipher, nullptr, nullptr, nullptr, enc) == 1;
    // OpenSSL reads as many key and IV bytes as the cipher takes: streams
    // that are shorter would be read past their end.
    const int iv_len = ok ? EVP_CIPHER_CTX_get_iv_length(ctx_) : 0;
    ok = ok && iv_len >= 0 && iv_.length() >= static_cast<uint32_t>(iv_len) &&
         key_.length() >= static_cast<uint32_t>(def_.key_len());
    const int have = ok ? EVP_CIPHER_CTX_get_key_length(ctx_) : 0;
    if (ok && have > 0 && have != def_.key_len())
        ok = EVP_CIPHER_CTX_set_key_length(ctx_, def_.key_len()) == 1;
    // Each packet is a whole number of blocks: no padding, nothing held back.
    ok = ok && EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
    const unsigned char* key = key_;
    const unsigned char* iv = iv_;
    ok = ok && EVP_CipherInit_ex(ctx_, nullptr, nullptr, key, iv_len > 0 ? iv : nullptr, -1) == 1;
    if (!ok) {
        clear_ctx();
        // The reasons would stay in the thread's error queue for a later TLS
        // call to find.
        ERR_clear_error();
        return false;
    }
    cleared_ = false;
    return true;
}

bool KV_SshCipher::process(const unsigned char* in, unsigned char* out, uint32_t len)
{
    if (cleared_ || !in || !out || len % static_cast<uint32_t>(def_.block_size()) != 0)
        return false;
    // EVP counts in int: slices of 1 GiB, a multiple of every block size.
    constexpr uint32_t slice = 1u << 30;
    for (uint32_t done = 0; done < len;) {
        const uint32_t n = len - done < slice ? len - done : slice;
        int got = 0;
        if (EVP_CipherUpdate(ctx_, out + done, &got, in + done, static_cast<int>(n)) != 1 ||
            got != static_cast<int>(n)) {
            ERR_clear_error();
            return false;
        }
        done += n;
    }
    return true;
}
