#include "net/kv_ssl.h"

KV_SSLCtx::~KV_SSLCtx() = default;

bool KV_SSLCtx::init(const KV_String&, const KV_String&, const KV_String&, const KV_String&,
                     KV_String*)
{
    return false; // No TLS yet: no library context is created.
}

void KV_SSLCtx::clear()
{
    // No TLS yet: there is no library context to release.
}

KV_SSLSess::~KV_SSLSess() = default;

bool KV_SSLSess::init(KV_FileMan*, KV_SSLCtx&, int, KV_Informer*, uint32_t, const KV_String&,
                      uint8_t, const KV_String&, const KV_String&)
{
    return false; // No TLS yet: no connection object is created.
}

bool KV_SSLSess::connect(KV_Session&)
{
    return false; // No TLS yet: no handshake runs.
}

bool KV_SSLSess::accept(KV_Session&)
{
    return false; // No TLS yet: no handshake runs.
}

bool KV_SSLSess::recv(uint8_t*, uint32_t& length, bool& closed)
{
    length = 0; // No TLS yet: nothing is ever read.
    closed = false;
    return false;
}

bool KV_SSLSess::send(const uint8_t*, uint32_t& length, bool& closed)
{
    length = 0; // No TLS yet: nothing is ever written.
    closed = false;
    return false;
}

bool KV_SSLSess::shutdown(bool& sent)
{
    sent = false; // No TLS yet: there is no TLS connection to close.
    return false;
}

bool KV_SSLSess::sd_done() const
{
    return false; // No TLS yet: no close ever completes.
}

const KV_String& KV_SSLSess::last_err() const
{
    return last_err_; // No TLS yet: no verification ever fails.
}

void KV_SSLSess::clear()
{
    // No TLS yet: there is no connection object to free.
}
