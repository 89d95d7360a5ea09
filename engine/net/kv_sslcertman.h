// The store of TLS server certificates that the user chose to trust
// ("trusted-certs.bin", path type 7). Its one instance is
// KV_SSLSess::man_cert; a TLS session consults it before the library's chain
// check and adds to it when the user answers "always trust this server".
//
// Entry data after the frame's id and texts (see kv_ckman.h): u32 length n,
// BIG-endian, then n bytes of the certificate in DER encoding.
//
// Threads: see kv_ckman.h; valid, add, load, save and clear take the lock
// themselves.
#pragma once

#include <cstdint>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "net/kv_ckman.h"

class KV_SSLCertEntry : public KV_CKEntry
{
public:
    // Empty DER (for reading).
    KV_SSLCertEntry() = default;
    // Keeps the certificate's DER encoding (empty when it cannot be encoded).
    KV_SSLCertEntry(uint32_t id, const KV_String& name, X509* cert, const KV_String& descr1,
                    const KV_String& descr2);
    KV_SSLCertEntry(const KV_SSLCertEntry&) = default;
    KV_SSLCertEntry& operator=(const KV_SSLCertEntry& other);
    ~KV_SSLCertEntry() override;

    bool write(KV_Storage& st) const override;
    // The DER length is not trusted: the bytes are read in bounded pieces,
    // so a length larger than what the storage holds fails at its end
    // instead of reserving memory for it.
    bool read(KV_Storage& st) override;

    // A new certificate decoded from the DER, owned by the caller
    // (X509_free); null when the DER does not decode whole.
    X509* cert() const;
    const KV_Stream& der() const { return der_; }

    // The names are equal ignoring case, both DERs decode and the two
    // certificates compare equal. A damaged entry equals nothing.
    bool operator==(const KV_SSLCertEntry& other) const;

private:
    KV_Stream der_;
};

class KV_SSLCertMan : public KV_CKList<KV_SSLCertEntry, KV_PATH_SRV_CERTS>
{
public:
    KV_SSLCertMan() = default;

    // entries, at, del, add(KV_Storage&), load, save (path type 7) and clear
    // are KV_CKList's.
    using KV_CKList::add;

    // Under the lock: an entry with this name (ignoring case) holds an equal
    // certificate.
    bool valid(X509* cert, const KV_String& name);
    // Under the lock, appends the certificate under this name with the next
    // free id unless an equal entry exists (false then, nothing saved).
    // After the lock is released an added certificate is saved; the save's
    // result does not change the result.
    bool add(X509* cert, const KV_String& name, const KV_String& descr1, const KV_String& descr2);
};
