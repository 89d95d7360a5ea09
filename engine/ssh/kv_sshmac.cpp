#include "ssh/kv_sshmac.h"

#include <cstring>
#include <new>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "foundation/kv_le.h"
#include "foundation/kv_ossl.h"

const KV_SshMacDef KV_SshMacDef::_macs[] = {
    {"hmac-md5", 0, EVP_md5},
    {"hmac-sha1", 0, EVP_sha1},
    {"hmac-ripemd160", 0, EVP_ripemd160},
    {"hmac-sha1-96", 96, EVP_sha1},
    {"hmac-md5-96", 96, EVP_md5},
    {"none", 0, EVP_md_null},
};

uint32_t KV_SshMacDef::nmacs()
{
    return sizeof _macs / sizeof _macs[0];
}

const KV_SshMacDef* KV_SshMacDef::mac(uint32_t i)
{
    return i < nmacs() ? &_macs[i] : nullptr;
}

bool KV_SshMacDef::null() const
{
    return evp_ == &EVP_md_null;
}

const KV_SshMacDef* KV_SshMacDef::find(const KV_String& name)
{
    for (const KV_SshMacDef& def : _macs)
        if (name == def.name())
            return &def;
    return nullptr;
}

KV_String KV_SshMacDef::list(bool with_none)
{
    KV_String list;
    for (const KV_SshMacDef& def : _macs) {
        if (def.null() && !with_none)
            continue;
        if (!list.empty())
            list += ',';
        list += def.name();
    }
    return list;
}

// ---------------------------------------------------------------------------
// KV_SshMac

namespace {

// OpenSSL's HMAC, fetched once for the life of the process.
EVP_MAC* hmac()
{
    static EVP_MAC* mac = [] {
        kv_ossl_providers();
        EVP_MAC* m = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
        ERR_clear_error();
        return m;
    }();
    return mac;
}

} // namespace

std::unique_ptr<KV_SshMac> KV_SshMac::create(const KV_String& name)
{
    const KV_SshMacDef* def = KV_SshMacDef::find(name);
    if (!def)
        return nullptr;
    return std::unique_ptr<KV_SshMac>(new (std::nothrow) KV_SshMac(*def));
}

KV_SshMac::KV_SshMac(const KV_SshMacDef& def) : def_(def)
{
    const int size = EVP_MD_get_size(def.evp()());
    key_len_ = mac_len_ = size > 0 ? static_cast<uint32_t>(size) : 0;
    if (def.bits())
        mac_len_ = def.bits() / 8;
}

KV_SshMac::~KV_SshMac()
{
    EVP_MAC_CTX_free(ctx_);
}

bool KV_SshMac::compute(KV_Stream& out, uint32_t seq, const KV_Stream& data)
{
    unsigned char mac[EVP_MAX_MD_SIZE];
    return compute(mac, seq, data, data.length()) && out.append(mac, mac_len_);
}

bool KV_SshMac::compute(unsigned char* out, uint32_t seq, const unsigned char* data, uint32_t len)
{
    if (key_.empty() || key_len_ == 0 || key_len_ > key_.length() || mac_len_ > EVP_MAX_MD_SIZE ||
        (len && !data))
        return false;
    bool ok = true;
    if (!keyed_) {
        EVP_MAC_CTX_free(ctx_);
        ctx_ = hmac() ? EVP_MAC_CTX_new(hmac()) : nullptr;
        char digest[64];
        std::strncpy(digest, EVP_MD_get0_name(def_.evp()()), sizeof digest - 1);
        digest[sizeof digest - 1] = '\0';
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_end()};
        ok = ctx_ && EVP_MAC_init(ctx_, key_, key_len_, params) == 1;
        keyed_ = ok;
    } else {
        // Restarting without a key keeps the one already set.
        ok = EVP_MAC_init(ctx_, nullptr, 0, nullptr) == 1;
    }
    unsigned char seq_be[4];
    kv_put_be(seq_be, seq);
    unsigned char full[EVP_MAX_MD_SIZE];
    size_t n = 0;
    ok = ok && EVP_MAC_update(ctx_, seq_be, 4) == 1 &&
         (len == 0 || EVP_MAC_update(ctx_, data, len) == 1) &&
         EVP_MAC_final(ctx_, full, &n, sizeof full) == 1 && n >= mac_len_;
    if (!ok) {
        keyed_ = false;
        ERR_clear_error();
        return false;
    }
    std::memcpy(out, full, mac_len_);
    OPENSSL_cleanse(full, sizeof full);
    return true;
}
