// One TLS connection over a session's socket: the handshake as client or
// server, reading, writing, the close, and the check of the server's
// certificate.
//
// The socket stays the session's: the library reads and writes it through a
// descriptor BIO that never closes it. As a client the connection sends the
// destination name (SNI).
//
// Certificate decision, for each certificate of the server's chain:
//   1. the server's certificate was accepted for this file manager before,
//      or the store of trusted certificates (man_cert) holds it under the
//      connection's name: accepted;
//   2. the library's chain check failed: refused with its reason;
//   3. the server's own certificate: with flag 2 the host name must match
//      one DNS name of the subjectAltName, or, when the certificate has no
//      DNS name at all, its common name (exactly, ignoring case: a wildcard
//      matches only itself); with flag 1 a certificate that is not in the
//      store is refused as "Unregistered server certificate";
//   4. a refusal becomes a question to the user through the file manager;
//      yes accepts this certificate for the file manager, "always trust
//      this server" also stores it, no fails the handshake (and the file
//      manager asks nothing more).
// Acceptance is tied to the SHA-256 digest of the server's certificate: a
// different certificate later is checked (and asked about) again.
//
// Threads: a KV_SSLSess belongs to its session's thread. The verification
// runs inside the handshake on that thread and blocks it while the user
// answers. man_cert guards itself.
#pragma once

#include <cstdint>
#include <mutex>

#include <openssl/types.h>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "net/kv_sslcertman.h"

// As the library's ssl.h declares it; types.h leaves it out.
typedef struct ssl_session_st SSL_SESSION;

class KV_FileMan;
class KV_Informer;
class KV_Session;
class KV_SSLCtx;

// Certificate-check flags of KV_SSLSess::init.
enum KV_SSL_CHECK : uint8_t {
    KV_SSL_CHECK_REG_ONLY = 1, // the certificate must be in the store (or accepted)
    KV_SSL_CHECK_HOST = 2,     // the host name must match the certificate
};

// One TLS session kept for resumption: the latest resumable session of one
// connection (the FTP control connection), which other connections to the
// same server (its data connections) offer in their handshakes. Servers that
// tie the data connection to the control connection's session (RFC 4217,
// section 10.2) refuse a data connection that starts a session of its own.
// Any thread; the lock guards the session kept.
class KV_SSLResume
{
public:
    KV_SSLResume() = default;
    // clear().
    ~KV_SSLResume();
    KV_SSLResume(const KV_SSLResume&) = delete;
    KV_SSLResume& operator=(const KV_SSLResume&) = delete;

    // Keeps `session` (with a reference of its own) in place of the one kept
    // before; null, or a session that cannot be resumed, leaves things as
    // they were.
    void keep(SSL_SESSION* session);
    // The session kept, with a reference for the caller, who frees it
    // (SSL_SESSION_free); null when none is kept.
    SSL_SESSION* get() const;
    // Forgets the session kept.
    void clear();

private:
    mutable std::mutex lock_;
    SSL_SESSION* session_ = nullptr;
};

class KV_SSLSess
{
public:
    // The store of trusted server certificates of the whole engine.
    static KV_SSLCertMan man_cert;

    KV_SSLSess() = default;
    // clear().
    virtual ~KV_SSLSess();
    // One owner of the library's connection object.
    KV_SSLSess(const KV_SSLSess&) = delete;
    KV_SSLSess& operator=(const KV_SSLSess&) = delete;

    // Prepares a TLS connection over the socket descriptor `sock` (never
    // closed here) from the context. file_man keeps the trust decisions and
    // asks the user; informer (may be null) receives the log lines tagged
    // with tavo_id; name is the destination name: the key in the store and
    // the name sent with SNI; flags are KV_SSL_CHECK bits; host is the name
    // the certificate must carry (with KV_SSL_CHECK_HOST; a scheme or port
    // given with it is ignored, as is protocol: only names are compared).
    // False when the context has no library context
    // or the library objects cannot be made; a connection made before is
    // released first.
    bool init(KV_FileMan* file_man, KV_SSLCtx& ctx, int sock, KV_Informer* informer,
              uint32_t tavo_id, const KV_String& name, uint8_t flags, const KV_String& host,
              const KV_String& protocol);
    // The handshake as client or as server, on the session's thread. It
    // waits on the socket while the library wants to read or write and ends
    // with false when the session is stopped. A client also fails when the
    // server showed no certificate.
    bool connect(KV_Session& sess);
    bool accept(KV_Session& sess);
    // length in: room; out: bytes read. True with length 0 while the library
    // waits for more of a record. closed: the peer ended the connection (a
    // close notification, or the socket closed without one).
    bool recv(uint8_t* buf, uint32_t& length, bool& closed);
    // length in: bytes offered; out: bytes taken, always the first bytes of
    // data. A write the library could not finish keeps its bytes here and
    // reports 0; the caller calls again with a buffer that still begins with
    // them (it may be longer). closed: the peer ended the connection.
    bool send(const uint8_t* data, uint32_t& length, bool& closed);
    // One step of the close: sends the close notification once (sent: it
    // went out), and completes when the peer's has arrived. Waiting for
    // either is no failure; false only when the library fails.
    bool shutdown(bool& sent);
    // Both close notifications went.
    bool sd_done() const { return sd_done_; }
    // The library holds decrypted bytes that were not read yet: the session
    // counts them as readable, since the socket will not tell.
    bool pending() const;
    // The reason of the last failed verification or handshake.
    const KV_String& last_err() const { return last_err_; }
    // Frees the connection object (the socket stays open).
    void clear();

    // Where this connection's sessions are kept for others to resume (null:
    // nowhere). The session is kept after the handshake and looked at again
    // after each read, since a TLS 1.3 server sends its tickets after the
    // handshake and only those make the session resumable. Set before the
    // handshake, on the session's thread; `keep` outlives the connection.
    void set_keep(KV_SSLResume* keep) { keep_ = keep; }
    // A client handshake offers the session kept in `from` (null: none) for
    // resumption; the server may still start a new one. `from` outlives the
    // connection.
    void set_resume_from(KV_SSLResume* from) { resume_from_ = from; }
    // The last handshake resumed a session.
    bool resumed() const;

    // Writes the certificate to the file in PEM form; true when the file
    // opened and the whole certificate was written.
    static bool save(X509* cert, const char* file);

private:
    enum class Role { Client, Server };

    static int verify_cb(int preverify, X509_STORE_CTX* store);
    // The decision order above for one certificate of the chain.
    bool verify(bool preverify, X509_STORE_CTX* store);
    bool handshake(KV_Session& sess, Role role);
    // The certificate carries the expected host name.
    bool host_ok(X509* cert) const;
    void log(const KV_String& text, bool err);
    void fail(const KV_String& reason);
    // Hands a session the connection has not handed yet to keep_.
    void keep_session();

    SSL* ssl_ = nullptr;
    uint32_t tavo_id_ = 0;
    bool sd_done_ = false;
    // Our close notification went out.
    bool sd_sent_ = false;
    uint8_t flags_ = 0;
    KV_String last_err_;
    KV_String host_;
    // The bytes of a write that must be repeated as they were.
    KV_Stream pending_{512};
    KV_Informer* informer_ = nullptr;
    KV_FileMan* file_man_ = nullptr;
    KV_String name_;
    KV_SSLResume* keep_ = nullptr;
    KV_SSLResume* resume_from_ = nullptr;
    // The connection's session last looked at by keep_session, with a
    // reference of ours so that its address names no other session later.
    SSL_SESSION* seen_ = nullptr;
};
