#include "ssh/kv_sshkey.h"

#include <cstring>
#include <initializer_list>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "foundation/kv_le.h"
#include "ssh/kv_sshmsg.h"

// Only the first two rows are offered; the others name the same types the
// way older peers and stored keys may.
const KV_SshKeyTypeDef KV_SshKeyTypeDef::_types[] = {
    {"ssh-rsa", KV_SSH_KEY_RSA}, {"ssh-dss", KV_SSH_KEY_DSA}, {"rsa", KV_SSH_KEY_RSA},
    {"dsa", KV_SSH_KEY_DSA},     {"rsa1", KV_SSH_KEY_RSA1},
};

uint32_t KV_SshKeyTypeDef::ntypes()
{
    return sizeof _types / sizeof _types[0];
}

const KV_SshKeyTypeDef* KV_SshKeyTypeDef::row(uint32_t i)
{
    return i < ntypes() ? &_types[i] : nullptr;
}

KV_String KV_SshKeyTypeDef::list()
{
    return KV_String(_types[0].name()) + "," + _types[1].name();
}

KV_SSH_KEY_TYPE KV_SshKeyTypeDef::type_of(const KV_String& name)
{
    for (const KV_SshKeyTypeDef& def : _types)
        if (name == def.name())
            return def.type();
    return KV_SSH_KEY_NONE;
}

const char* KV_SshKeyTypeDef::name_of(int32_t type)
{
    for (const KV_SshKeyTypeDef& def : _types)
        if (def.type() == type)
            return def.name();
    return nullptr;
}

// ---------------------------------------------------------------------------
// mpint

namespace {

// An mpint longer than this is refused: 65536 bits, far beyond any key or
// Diffie-Hellman value in use.
constexpr uint32_t max_mpint = 8192;

} // namespace

bool ssh_read_mpint(KV_Storage& st, BIGNUM* bn)
{
    uint32_t len = 0;
    if (!bn || !st.opened() || !ssh_read_u32(st, len) || len > max_mpint)
        return false;
    unsigned char bytes[max_mpint];
    if (!ssh_read_all(st, bytes, len))
        return false;
    return BN_bin2bn(bytes, static_cast<int>(len), bn) != nullptr;
}

bool ssh_write_mpint(KV_Storage& st, const BIGNUM* bn)
{
    if (!bn)
        return false;
    if (BN_is_zero(bn))
        return ssh_write_u32(st, 0);
    const int n = BN_num_bytes(bn);
    if (n <= 0 || n > 1 << 20)
        return false;
    // One byte in front for the sign, then the magnitude.
    unsigned char small[max_mpint + 1];
    unsigned char* buf = small;
    unsigned char* big = nullptr;
    if (static_cast<uint32_t>(n) + 1 > sizeof small) {
        big = static_cast<unsigned char*>(OPENSSL_malloc(static_cast<size_t>(n) + 1));
        if (!big)
            return false;
        buf = big;
    }
    buf[0] = 0;
    bool ok = BN_bn2bin(bn, buf + 1) == n;
    const bool negative = BN_is_negative(bn);
    if (negative) {
        // Two's complement of the whole buffer: invert, then add 1 from the
        // last byte while the carry lasts.
        bool carry = true;
        for (int i = n; i >= 0; --i) {
            buf[i] = static_cast<unsigned char>(~buf[i]);
            if (carry) {
                buf[i] = static_cast<unsigned char>(buf[i] + 1);
                carry = buf[i] == 0;
            }
        }
    }
    // The leading byte stays only where the first magnitude byte alone
    // would read with the wrong sign: a set top bit on a positive number, a
    // clear one on a negative number.
    const bool top = (buf[1] & 0x80) != 0;
    const uint32_t from = top != negative ? 0 : 1;
    const uint32_t len = static_cast<uint32_t>(n) + 1 - from;
    ok = ok && ssh_write_u32(st, len) && st.write(buf + from, len) == len;
    OPENSSL_free(big);
    return ok;
}

// ---------------------------------------------------------------------------
// KV_SshKey

KV_SshKey::KV_SshKey(const KV_SshKey& other)
{
    *this = other;
}

KV_SshKey::~KV_SshKey()
{
    clear();
}

bool KV_SshKey::operator=(const KV_SshKey& other)
{
    if (&other == this)
        return ssh2();
    KV_Stream blob;
    KV_SshKey copy;
    if (!other.write(blob) || !copy.read(blob))
        return false;
    clear();
    type_ = copy.type_;
    std::memcpy(nums_, copy.nums_, sizeof nums_);
    copy.type_ = KV_SSH_KEY_NONE;
    std::memset(copy.nums_, 0, sizeof copy.nums_);
    return true;
}

uint32_t KV_SshKey::nnums(int32_t type)
{
    return type == KV_SSH_KEY_DSA ? 4 : type == KV_SSH_KEY_RSA || type == KV_SSH_KEY_RSA1 ? 2 : 0;
}

const char* KV_SshKey::str_type() const
{
    const char* name = KV_SshKeyTypeDef::name_of(type_);
    return name ? name : "ssh-unknown";
}

const BIGNUM* KV_SshKey::num(uint32_t i) const
{
    return i < nnums(type_) ? nums_[i] : nullptr;
}

BIGNUM* KV_SshKey::num(uint32_t i)
{
    return i < nnums(type_) ? nums_[i] : nullptr;
}

void KV_SshKey::clear()
{
    for (BIGNUM*& bn : nums_) {
        BN_free(bn);
        bn = nullptr;
    }
    type_ = KV_SSH_KEY_NONE;
}

bool KV_SshKey::init_key(int32_t type)
{
    clear();
    const uint32_t n = nnums(type);
    if (n == 0)
        return false;
    type_ = type;
    for (uint32_t i = 0; i < n; ++i) {
        nums_[i] = BN_new();
        if (!nums_[i]) {
            clear();
            return false;
        }
    }
    return true;
}

bool KV_SshKey::read(KV_Storage& st)
{
    clear();
    KV_SshString name;
    if (!name.read(st))
        return false;
    KV_String text;
    if (!text.append(name, name.length()))
        return false;
    const KV_SSH_KEY_TYPE type = KV_SshKeyTypeDef::type_of(text);
    if (type != KV_SSH_KEY_DSA && type != KV_SSH_KEY_RSA)
        return false;
    if (!init_key(type))
        return false;
    for (uint32_t i = 0; i < nnums(type); ++i)
        if (!ssh_read_mpint(st, nums_[i]))
            return false;
    return true;
}

bool KV_SshKey::write(KV_Storage& st) const
{
    if (!ssh2())
        return false;
    if (!KV_SshString(str_type()).write(st))
        return false;
    for (uint32_t i = 0; i < nnums(type_); ++i)
        if (!ssh_write_mpint(st, nums_[i]))
            return false;
    return true;
}

bool KV_SshKey::fingerprint(KV_String& out) const
{
    KV_Stream bytes;
    if (type_ == KV_SSH_KEY_RSA1) {
        // Protocol 1 hashed the bare modulus and exponent, without lengths.
        for (const BIGNUM* bn : {nums_[1], nums_[0]}) {
            unsigned char buf[max_mpint];
            const int n = BN_num_bytes(bn);
            if (n < 0 || n > static_cast<int>(sizeof buf) || BN_bn2bin(bn, buf) != n ||
                !bytes.append(buf, static_cast<uint32_t>(n)))
                return false;
        }
    } else if (!write(bytes)) {
        return false;
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(static_cast<const unsigned char*>(bytes), bytes.length(), md, &n, EVP_md5(),
                   nullptr) != 1 ||
        n != 16) {
        ERR_clear_error();
        return false;
    }
    static const char digits[] = "0123456789abcdef";
    char text[16 * 3];
    for (unsigned int i = 0; i < 16; ++i) {
        text[3 * i] = digits[md[i] >> 4];
        text[3 * i + 1] = digits[md[i] & 15];
        text[3 * i + 2] = ':';
    }
    return out.append(text, 47);
}

bool KV_SshKey::operator==(const KV_SshKey& other) const
{
    const uint32_t n = nnums(type_);
    if (n == 0 || type_ != other.type_)
        return false;
    for (uint32_t i = 0; i < n; ++i)
        if (!nums_[i] || !other.nums_[i] || BN_cmp(nums_[i], other.nums_[i]) != 0)
            return false;
    return true;
}

EVP_PKEY* KV_SshKey::pkey() const
{
    if (!ssh2())
        return nullptr;
    for (uint32_t i = 0; i < nnums(type_); ++i)
        if (!nums_[i])
            return nullptr;
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    bool ok = bld != nullptr;
    if (type_ == KV_SSH_KEY_DSA) {
        ok = ok && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_P, nums_[0]) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_Q, nums_[1]) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_G, nums_[2]) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PUB_KEY, nums_[3]);
    } else {
        ok = ok && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, nums_[0]) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, nums_[1]);
    }
    OSSL_PARAM* params = ok ? OSSL_PARAM_BLD_to_param(bld) : nullptr;
    EVP_PKEY_CTX* ctx =
        params
            ? EVP_PKEY_CTX_new_from_name(nullptr, type_ == KV_SSH_KEY_DSA ? "DSA" : "RSA", nullptr)
            : nullptr;
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

namespace {

// The DER form OpenSSL verifies of a DSA signature given as r || s, 20
// bytes each.
bool dsa_der(const KV_SshString& blob, KV_Stream& der)
{
    if (blob.length() != 40)
        return false;
    const unsigned char* rs = blob;
    DSA_SIG* sig = DSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs, 20, nullptr);
    BIGNUM* s = BN_bin2bn(rs + 20, 20, nullptr);
    if (!sig || !r || !s || DSA_SIG_set0(sig, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        DSA_SIG_free(sig);
        return false;
    }
    unsigned char* out = nullptr;
    const int n = i2d_DSA_SIG(sig, &out);
    const bool ok = n > 0 && der.append(out, static_cast<uint32_t>(n));
    OPENSSL_free(out);
    DSA_SIG_free(sig);
    return ok;
}

} // namespace

bool KV_SshKey::verify(const unsigned char* data, uint32_t len, const KV_Stream& sig) const
{
    if (!ssh2())
        return false;
    KV_Stream rest;
    KV_SshString format;
    KV_SshString blob;
    if (!(rest = sig) || !format.read(rest) || !blob.read(rest) || !rest.empty() ||
        !(format == KV_SshString(str_type())))
        return false;
    KV_Stream der;
    const KV_Stream* signature = &blob;
    if (type_ == KV_SSH_KEY_DSA) {
        if (!dsa_der(blob, der))
            return false;
        signature = &der;
    }
    EVP_PKEY* key = pkey();
    EVP_MD_CTX* md = key ? EVP_MD_CTX_new() : nullptr;
    const bool ok = md && EVP_DigestVerifyInit(md, nullptr, EVP_sha1(), nullptr, key) == 1 &&
                    EVP_DigestVerify(md, *signature, signature->length(), data, len) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return ok;
}
