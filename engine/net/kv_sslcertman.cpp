#include "net/kv_sslcertman.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

namespace {

// Pieces in which a stored DER is read: memory grows only with bytes that
// are really there.
constexpr uint32_t DER_CHUNK = 4096;

} // namespace

// ---------------------------------------------------------------------------
// KV_SSLCertEntry

KV_SSLCertEntry::KV_SSLCertEntry(uint32_t id, const KV_String& name, X509* cert,
                                 const KV_String& descr1, const KV_String& descr2)
    : KV_CKEntry(id, name, descr1, descr2)
{
    unsigned char* buf = nullptr;
    const int n = cert ? i2d_X509(cert, &buf) : -1;
    if (n > 0)
        der_.append(buf, static_cast<uint32_t>(n));
    OPENSSL_free(buf);
}

KV_SSLCertEntry& KV_SSLCertEntry::operator=(const KV_SSLCertEntry& other)
{
    if (this != &other) {
        KV_CKEntry::operator=(other);
        der_ = other.der_;
    }
    return *this;
}

KV_SSLCertEntry::~KV_SSLCertEntry() = default;

bool KV_SSLCertEntry::write(KV_Storage& st) const
{
    if (!KV_CKEntry::write(st))
        return false;
    const uint32_t n = der_.length();
    unsigned char len[4];
    kv_put_le(len, n);
    // write_nbo writes the bytes last first: the length goes out big-endian.
    if (!st.write_nbo(len, 4))
        return false;
    return n == 0 || st.write(der_, n) == n;
}

bool KV_SSLCertEntry::read(KV_Storage& st)
{
    der_.clear();
    if (!KV_CKEntry::read(st))
        return false;
    unsigned char len[4];
    if (!st.read_nbo(len, 4))
        return false;
    uint32_t left = kv_get_le<uint32_t>(len);
    unsigned char piece[DER_CHUNK];
    while (left > 0) {
        const uint32_t k = left < DER_CHUNK ? left : DER_CHUNK;
        if (st.read(piece, k) != k || !der_.append(piece, k)) {
            der_.clear();
            return false;
        }
        left -= k;
    }
    return true;
}

X509* KV_SSLCertEntry::cert() const
{
    if (der_.empty())
        return nullptr;
    const unsigned char* p = der_;
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der_.length()));
    // Bytes after the certificate would make two different stored byte
    // strings stand for one certificate: such an entry is damaged.
    if (x && p != static_cast<const unsigned char*>(der_) + der_.length()) {
        X509_free(x);
        return nullptr;
    }
    return x;
}

bool KV_SSLCertEntry::operator==(const KV_SSLCertEntry& other) const
{
    if (!KV_CKEntry::operator==(other))
        return false;
    X509* a = cert();
    X509* b = other.cert();
    const bool same = a && b && X509_cmp(a, b) == 0;
    X509_free(a);
    X509_free(b);
    return same;
}

// ---------------------------------------------------------------------------
// KV_SSLCertMan

bool KV_SSLCertMan::valid(X509* cert, const KV_String& name)
{
    if (!cert)
        return false;
    return holds(KV_SSLCertEntry(0, name, cert, KV_String(), KV_String()));
}

bool KV_SSLCertMan::add(X509* cert, const KV_String& name, const KV_String& descr1,
                        const KV_String& descr2)
{
    if (!cert)
        return false;
    const KV_SSLCertEntry probe(0, name, cert, KV_String(), KV_String());
    // A certificate that cannot be encoded cannot be stored.
    if (probe.der().empty())
        return false;
    return add_new(probe,
                   [&](uint32_t id) { return KV_SSLCertEntry(id, name, cert, descr1, descr2); });
}
