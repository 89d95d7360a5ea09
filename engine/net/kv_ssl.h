// TLS over a session's socket: the engine's shared context and one TLS
// connection.
//
// Only the interface that the session thread uses stands here so far; the
// bodies do not set up TLS yet (see kv_ssl.cpp), so every secure request of a
// connection is answered with failure and a session never runs TLS.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"

class KV_FileMan;
class KV_Informer;
class KV_Session;

class KV_SSLCtx
{
public:
    KV_SSLCtx() = default;
    virtual ~KV_SSLCtx();

    // (Re)creates the context from the own certificate file, its key's pass
    // phrase, the CA file and the cipher list; the library's reason goes to
    // err on failure.
    bool init(const KV_String& cert_file, const KV_String& pass, const KV_String& ca_file,
              const KV_String& ciphers, KV_String* err);
    void clear();
};

class KV_SSLSess
{
public:
    KV_SSLSess() = default;
    virtual ~KV_SSLSess();
    KV_SSLSess(const KV_SSLSess&) = delete;
    KV_SSLSess& operator=(const KV_SSLSess&) = delete;

    // Prepares a TLS connection over the socket descriptor. flags: 1 the
    // certificate must be registered, 2 check the host name.
    bool init(KV_FileMan* file_man, KV_SSLCtx& ctx, int sock, KV_Informer* informer,
              uint32_t tavo_id, const KV_String& name, uint8_t flags, const KV_String& host,
              const KV_String& protocol);
    // The handshake as client or as server, on the session's thread.
    bool connect(KV_Session& sess);
    bool accept(KV_Session& sess);
    // length in: room or bytes offered; out: bytes moved. closed: the peer
    // ended the TLS connection.
    bool recv(uint8_t* buf, uint32_t& length, bool& closed);
    bool send(const uint8_t* data, uint32_t& length, bool& closed);
    // One step of the TLS close; sent: our close notification went out.
    bool shutdown(bool& sent);
    // The TLS close has completed both ways.
    bool sd_done() const;
    const KV_String& last_err() const;
    void clear();

private:
    KV_String last_err_;
};
