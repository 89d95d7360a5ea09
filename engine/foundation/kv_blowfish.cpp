#include "foundation/kv_blowfish.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_hex.h"
#include "foundation/kv_ossl.h"
#include "foundation/kv_string.h"

namespace {

// Blowfish lives in OpenSSL 3's legacy provider (kv_ossl_providers). The
// fetched ciphers are kept for the life of the process.
struct BfCiphers
{
    EVP_CIPHER* ecb = nullptr;
    EVP_CIPHER* cbc = nullptr;
    EVP_CIPHER* cfb = nullptr;
};

const BfCiphers& bf_ciphers()
{
    static BfCiphers ciphers;
    static std::once_flag once;
    std::call_once(once, [] {
        kv_ossl_providers();
        ciphers.ecb = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
        ciphers.cbc = EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr);
        ciphers.cfb = EVP_CIPHER_fetch(nullptr, "BF-CFB", nullptr);
        // A failed fetch leaves its reasons in this thread's OpenSSL error
        // queue, where a later TLS call on the thread would find them.
        ERR_clear_error();
    });
    return ciphers;
}

// OpenSSL's reasons go with the exception's text; none is left behind in the
// thread's error queue.
[[noreturn]] void fail(const char* text)
{
    ERR_clear_error();
    throw std::runtime_error(text);
}

const EVP_CIPHER* bf_cipher(int mode)
{
    const BfCiphers& c = bf_ciphers();
    const EVP_CIPHER* cipher = mode == KV_BF_CBC ? c.cbc : mode == KV_BF_CFB ? c.cfb : c.ecb;
    if (!cipher)
        fail("Blowfish is not available (OpenSSL legacy provider missing)");
    return cipher;
}

int mode_index(int mode)
{
    return mode == KV_BF_CBC ? 1 : mode == KV_BF_CFB ? 2 : 0;
}

// encrypt_bf / decrypt_bf are called with one fixed key per caller, often
// thousands of times in a row (every password of the data-source file):
// each thread keeps the cipher of the key it used last.
KV_Blowfish& bf_for_key(const char* key_text)
{
    const int klen = key_text ? static_cast<int>(strnlen(key_text, 56)) : 0;
    const auto* key = reinterpret_cast<const unsigned char*>(key_text);
    thread_local std::unique_ptr<KV_Blowfish> last;
    if (!last || !last->same_key(key, klen))
        last = std::make_unique<KV_Blowfish>(key, klen);
    return *last;
}

// The one failure of the scrambling that reaches its caller as an exception:
// an empty key is a mistake in the code (every caller passes its fixed key).
void check_key(const char* key_text)
{
    if (!key_text || !*key_text)
        throw std::invalid_argument("Incorrect key length");
}

// Runs the cipher of a checked key over the work buffer. A failure (no
// Blowfish in OpenSSL, no memory for the cipher) is reported to `eh` and
// gives false.
bool bf_crypt(const char* key_text, unsigned char* work, uint32_t len, bool enc, KV_ErrHandler* eh)
{
    try {
        KV_Blowfish& bf = bf_for_key(key_text);
        if (enc)
            bf.encrypt(work, len, KV_BF_ECB);
        else
            bf.decrypt(work, len, KV_BF_ECB);
        return true;
    } catch (const std::exception& e) {
        if (eh)
            eh->set_err(2, "Passwords can't be %s: %s", enc ? "scrambled" : "unscrambled",
                        e.what());
        return false;
    }
}

uint32_t be32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void put_be32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

} // namespace

KV_Blowfish::KV_Blowfish(const unsigned char* key_bytes, int key_length, const unsigned char* ivec)
{
    if (key_length == 0 || !key_bytes)
        throw std::invalid_argument("Incorrect key length");
    if (key_length < 0 || key_length > 56)
        key_length = 56; // only the first 56 key bytes count
    std::memcpy(key, key_bytes, static_cast<size_t>(key_length));
    key_len = key_length;
    static const unsigned char zero_iv[8] = {0};
    const unsigned char* v = ivec ? ivec : zero_iv;
    iv[0] = chain[0] = be32(v);
    iv[1] = chain[1] = be32(v + 4);
    // The key schedule itself runs in OpenSSL at every call (see crypt); only
    // check here that the cipher exists, so a missing provider shows at once.
    bf_cipher(KV_BF_ECB);
}

KV_Blowfish::~KV_Blowfish()
{
    for (auto& by_mode : ctx)
        for (EVP_CIPHER_CTX* c : by_mode)
            EVP_CIPHER_CTX_free(c);
    OPENSSL_cleanse(key, sizeof key);
}

bool KV_Blowfish::same_key(const unsigned char* key_bytes, int key_length) const
{
    if (key_length < 0 || key_length > 56)
        key_length = 56;
    return key_bytes && key_length == key_len &&
           std::memcmp(key, key_bytes, static_cast<size_t>(key_len)) == 0;
}

EVP_CIPHER_CTX* KV_Blowfish::keyed_ctx(int mode, bool enc)
{
    EVP_CIPHER_CTX*& c = ctx[mode_index(mode)][enc ? 1 : 0];
    if (c)
        return c;
    const EVP_CIPHER* cipher = bf_cipher(mode);
    EVP_CIPHER_CTX* fresh = EVP_CIPHER_CTX_new();
    const int e = enc ? 1 : 0;
    // The key length must be set between choosing the cipher and giving the
    // key: Blowfish's default in EVP is 16 bytes.
    if (!fresh || !EVP_CipherInit_ex(fresh, cipher, nullptr, nullptr, nullptr, e) ||
        !EVP_CIPHER_CTX_set_key_length(fresh, key_len) ||
        !EVP_CipherInit_ex(fresh, nullptr, nullptr, key, nullptr, e) ||
        !EVP_CIPHER_CTX_set_padding(fresh, 0)) {
        EVP_CIPHER_CTX_free(fresh);
        fail("Blowfish: OpenSSL could not set up the cipher");
    }
    c = fresh;
    return c;
}

void KV_Blowfish::encrypt(unsigned char* buf, uint32_t len, int mode)
{
    crypt(buf, len, mode, true);
}

void KV_Blowfish::decrypt(unsigned char* buf, uint32_t len, int mode)
{
    crypt(buf, len, mode, false);
}

// OpenSSL's Blowfish reads each 8-byte block as two big-endian halves, the
// byte order of the published test vectors and of this Part. CBC and CFB
// start from `chain` (the IV) on every call, as the original did.
void KV_Blowfish::crypt(unsigned char* buf, uint32_t len, int mode, bool enc)
{
    if (len == 0 || len % 8 != 0 || !buf)
        throw std::length_error("Incorrect buffer length");
    EVP_CIPHER_CTX* c = keyed_ctx(mode, enc);
    unsigned char ivb[8];
    put_be32(ivb, chain[0]);
    put_be32(ivb + 4, chain[1]);
    // Restarting with no key keeps the schedule and resets the chain.
    if (!EVP_CipherInit_ex(c, nullptr, nullptr, nullptr, ivb, enc ? 1 : 0))
        fail("Blowfish: OpenSSL could not set up the cipher");
    // EVP counts in int: go in slices of 1 GiB (a multiple of the block size);
    // the chain runs on from slice to slice within the call.
    constexpr uint32_t slice = 1u << 30;
    for (uint32_t done = 0; done < len;) {
        uint32_t n = len - done < slice ? len - done : slice;
        int out = 0;
        if (!EVP_CipherUpdate(c, buf + done, &out, buf + done, static_cast<int>(n)) ||
            out != static_cast<int>(n))
            fail("Blowfish: OpenSSL cipher failure");
        done += n;
    }
    unsigned char tail[8];
    int out = 0;
    if (!EVP_CipherFinal_ex(c, tail, &out) || out != 0)
        fail("Blowfish: OpenSSL cipher failure");
}

// ---------------------------------------------------------------------------
// KV_String scrambling

// Character i becomes the 16-bit little-endian unit of its sign-extended value
// at bytes 2i, 2i+1 of a zeroed buffer of the smallest multiple of 8 bytes
// above 2n; the buffer is encrypted in ECB mode and written as lower-case hex.
KV_String KV_String::encrypt_bf(const char* key_text, KV_ErrHandler* eh, bool* ok) const
{
    if (ok)
        *ok = true;
    KV_String r;
    if (!len)
        return r;
    check_key(key_text);
    const uint64_t b = (2 * uint64_t(len) / 8 + 1) * 8;
    unsigned char* work = 2 * b > UINT32_MAX // the hex text would not fit a string
                              ? nullptr
                              : static_cast<unsigned char*>(std::calloc(b, 1));
    if (work) {
        for (uint32_t i = 0; i < len; ++i) {
            signed char c = static_cast<signed char>(buf[i]);
            work[2 * i] = static_cast<unsigned char>(c);
            work[2 * i + 1] = c < 0 ? 0xFF : 0x00;
        }
    }
    char* hex = work && bf_crypt(key_text, work, static_cast<uint32_t>(b), true, eh)
                    ? static_cast<char*>(std::malloc(2 * b + 1))
                    : nullptr;
    if (hex) {
        static const char digits[] = "0123456789abcdef";
        for (uint64_t i = 0; i < b; ++i) {
            hex[2 * i] = digits[work[i] >> 4];
            hex[2 * i + 1] = digits[work[i] & 15];
        }
        r.adopt(hex, static_cast<uint32_t>(2 * b));
    } else if (ok) {
        *ok = false;
    }
    if (work) {
        OPENSSL_cleanse(work, b);
        std::free(work);
    }
    return r;
}

// m = L / 4 units are looked at; the buffer holds (2m rounded down to a
// multiple of 8) + 8 bytes, byte i read from hex characters 2i and 2i+1 the
// way "%x" reads them: a non-digit first character gives 0, a digit followed by
// a non-digit gives that digit's value; positions beyond the text give 0.
KV_String KV_String::decrypt_bf(const char* key_text, KV_ErrHandler* eh, bool* ok) const
{
    if (ok)
        *ok = true;
    KV_String r;
    if (!len)
        return r;
    check_key(key_text);
    const uint32_t m = len / 4;
    const uint32_t b = (2 * m / 8) * 8 + 8;
    unsigned char* work = static_cast<unsigned char*>(std::calloc(b, 1));
    bool done = false;
    if (work) {
        for (uint32_t i = 0; i < b && uint64_t(2) * i < len; ++i) {
            int hi = kv_hex_digit(buf[2 * i]);
            int lo = 2 * uint64_t(i) + 1 < len ? kv_hex_digit(buf[2 * i + 1]) : -1;
            work[i] = static_cast<unsigned char>(hi < 0 ? 0 : lo < 0 ? hi : hi * 16 + lo);
        }
        done = bf_crypt(key_text, work, b, false, eh);
    }
    uint32_t n = 0;
    while (done && n < m && work[2 * n] != 0)
        ++n;
    char* text = n ? static_cast<char*>(std::malloc(size_t(n) + 1)) : nullptr;
    if (text) {
        for (uint32_t i = 0; i < n; ++i)
            text[i] = static_cast<char>(work[2 * i]);
        r.adopt(text, n);
    } else if ((n || !done) && ok) {
        *ok = false;
    }
    if (work) {
        OPENSSL_cleanse(work, b);
        std::free(work);
    }
    return r;
}
