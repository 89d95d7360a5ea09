// The engine's shared TLS context: the program's own certificate chain and
// private key (PEM, with the key's pass phrase), the CA file whose
// certificates are trusted, and the cipher list. One context serves every
// TLS connection of the engine, client and server side (KV_SSLSess takes the
// role's method per connection).
//
// Every context sets SSL_OP_IGNORE_UNEXPECTED_EOF: a peer that closes the
// socket without a TLS close notification ends the data, it is no error.
//
// Threads: init and clear run while no session is being created from the
// context (at start-up and on new settings); the library context itself is
// used by all session threads at once.
#pragma once

#include <atomic>
#include <cstdint>

#include <openssl/types.h>

#include "foundation/kv_string.h"

class KV_SSLCtx
{
public:
    // The Blowfish key with which the program's settings keep the pass
    // phrase scrambled (KV_String::encrypt_bf). Never change it: settings
    // written with one key read back only with the same key.
    static const char bf_key[];

    // No library context; the id is the next of a class-wide counter (the
    // first context gets 1) and becomes the 4-byte session-id context.
    KV_SSLCtx();
    // clear().
    virtual ~KV_SSLCtx();
    // One owner of the library context and of the pass phrase that its
    // callback reads.
    KV_SSLCtx(const KV_SSLCtx&) = delete;
    KV_SSLCtx& operator=(const KV_SSLCtx&) = delete;

    // (Re)creates the context: the own certificate chain and key from
    // cert_file when it is not empty (the key's pass phrase is `pass`), the
    // CA file (always; a missing one fails), the cipher list when it is not
    // empty. False at the first failing step, with the library's reason in
    // *err when err is given; the context made so far stays until the next
    // init or clear.
    bool init(const KV_String& cert_file, const KV_String& pass, const KV_String& ca_file,
              const KV_String& ciphers, KV_String* err);
    // Releases the library context, when there is one.
    void clear();

    // The text of the oldest error the library queued on this thread, or
    // `fallback` when there is none; the queue is emptied, so that a later
    // call does not find stale reasons.
    static KV_String lib_err(const char* fallback);

    // The library context; null until init created one.
    operator SSL_CTX*() const { return ctx_; }
    uint32_t id() const { return id_; }

private:
    // Hands the pass phrase to the library when it fits its buffer.
    static int pass_cb(char* buf, int size, int rwflag, void* user);

    KV_StringStd pass_;
    SSL_CTX* ctx_ = nullptr;
    uint32_t id_;

    static std::atomic<uint32_t> counter;
};
