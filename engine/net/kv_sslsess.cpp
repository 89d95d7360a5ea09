#include "net/kv_sslsess.h"

#include <climits>
#include <cstdio>
#include <new>
#include <string>

#include <arpa/inet.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_uriman.h"
#include "net/kv_session.h"
#include "net/kv_sslctx.h"
#include "requests/kv_fileman.h"
#include "requests/kv_sessinfo.h"

KV_SSLCertMan KV_SSLSess::man_cert;

namespace {

// The most one write hands to the library. A write that must be repeated
// keeps a copy of its bytes, so this bounds that copy; the library writes a
// record at a time anyway.
constexpr uint32_t WRITE_MAX = 256 * 1024;

// How long one wait of the handshake may last before it looks at the stop
// state again (a stop also ends the wait at once through the session).
constexpr uint32_t HANDSHAKE_WAIT_MS = 200;

// Text out of a certificate for the log and the question: control bytes
// (a NUL among them would cut the text short and show a name that is not
// the certificate's) become '?'.
KV_String printable(const unsigned char* p, int n)
{
    KV_String s;
    for (int i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        s += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return s;
}

KV_String common_name(X509* cert)
{
    X509_NAME* name = cert ? X509_get_subject_name(cert) : nullptr;
    const int i = name ? X509_NAME_get_index_by_NID(name, NID_commonName, -1) : -1;
    if (i < 0)
        return KV_String();
    unsigned char* utf8 = nullptr;
    const int n =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
    KV_String s = n > 0 ? printable(utf8, n) : KV_String();
    OPENSSL_free(utf8);
    return s;
}

KV_String issuer_line(X509* cert)
{
    X509_NAME* name = cert ? X509_get_issuer_name(cert) : nullptr;
    char* line = name ? X509_NAME_oneline(name, nullptr, 0) : nullptr;
    KV_String s = line ? line : "";
    OPENSSL_free(line);
    return s;
}

// The SHA-256 digest of the certificate's DER encoding in hexadecimal;
// empty when it cannot be computed.
KV_String cert_ident(X509* cert)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), md, &len) != 1)
        return KV_String();
    static const char digits[] = "0123456789abcdef";
    KV_String s;
    for (unsigned int i = 0; i < len; ++i) {
        s += digits[md[i] >> 4];
        s += digits[md[i] & 0x0F];
    }
    return s.length() == 2 * len ? s : KV_String();
}

// The name sent with SNI: the destination without a port; none for an
// address given as numbers, which SNI may not carry.
KV_String sni_name(const KV_String& dst)
{
    KV_String name = dst.trim();
    uint32_t colon = 0;
    if (name.contains(':', 0, &colon))
        name = name.part(0, colon);
    bool numeric = true;
    for (uint32_t i = 0; i < name.length(); ++i) {
        const char c = name.data(i);
        if ((c < '0' || c > '9') && c != '.')
            numeric = false;
    }
    return numeric ? KV_String() : name;
}

// The text as an address literal ("127.0.0.1", "::1", "[::1]:990" gives
// "::1"), or empty when it names a host.
std::string ip_literal(const char* text)
{
    std::string s = text;
    if (!s.empty() && s[0] == '[') {
        const size_t end = s.find(']');
        if (end == std::string::npos)
            return std::string();
        s = s.substr(1, end - 1);
    }
    unsigned char buf[16];
    if (inet_pton(AF_INET, s.c_str(), buf) == 1 || inet_pton(AF_INET6, s.c_str(), buf) == 1)
        return s;
    return std::string();
}

} // namespace

KV_SSLResume::~KV_SSLResume()
{
    clear();
}

void KV_SSLResume::keep(SSL_SESSION* session)
{
    if (!session || SSL_SESSION_is_resumable(session) != 1 || SSL_SESSION_up_ref(session) != 1)
        return;
    SSL_SESSION* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        old = session_;
        session_ = session;
    }
    SSL_SESSION_free(old);
}

SSL_SESSION* KV_SSLResume::get() const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (session_ && SSL_SESSION_up_ref(session_) == 1)
        return session_;
    return nullptr;
}

void KV_SSLResume::clear()
{
    SSL_SESSION* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        old = session_;
        session_ = nullptr;
    }
    SSL_SESSION_free(old);
}

KV_SSLSess::~KV_SSLSess()
{
    clear();
}

void KV_SSLSess::keep_session()
{
    if (!keep_ || !ssl_)
        return;
    SSL_SESSION* now = SSL_get0_session(ssl_);
    if (!now || now == seen_ || SSL_SESSION_up_ref(now) != 1)
        return;
    SSL_SESSION_free(seen_);
    seen_ = now;
    keep_->keep(now);
}

bool KV_SSLSess::resumed() const
{
    return ssl_ && SSL_session_reused(ssl_) == 1;
}

void KV_SSLSess::clear()
{
    SSL_SESSION_free(seen_);
    seen_ = nullptr;
    if (ssl_) {
        SSL_set_app_data(ssl_, nullptr);
        SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
        // Frees the BIO too; BIO_NOCLOSE keeps the session's socket open.
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    pending_.clear();
    sd_done_ = false;
    sd_sent_ = false;
}

bool KV_SSLSess::init(KV_FileMan* file_man, KV_SSLCtx& ctx, int sock, KV_Informer* informer,
                      uint32_t tavo_id, const KV_String& name, uint8_t flags, const KV_String& host,
                      const KV_String&)
{
    clear();
    file_man_ = file_man;
    informer_ = informer;
    tavo_id_ = tavo_id;
    name_ = name;
    flags_ = flags;
    host_ = host;
    last_err_.clear();

    SSL_CTX* lib_ctx = ctx;
    // Without a context no TLS runs, and nothing else takes its place.
    if (!lib_ctx || sock < 0)
        return false;
    ERR_clear_error();
    BIO* bio = BIO_new_socket(sock, BIO_NOCLOSE);
    ssl_ = bio ? SSL_new(lib_ctx) : nullptr;
    if (!ssl_) {
        BIO_free(bio);
        ERR_clear_error();
        return false;
    }
    SSL_set_app_data(ssl_, this);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_verify(ssl_, SSL_VERIFY_PEER, verify_cb);
    // A repeated write comes from pending_, not from the caller's buffer; a
    // write returns once a record went out, so pending_ never holds more
    // than one write's worth.
    SSL_set_mode(ssl_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
    return true;
}

bool KV_SSLSess::connect(KV_Session& sess)
{
    return handshake(sess, Role::Client);
}

bool KV_SSLSess::accept(KV_Session& sess)
{
    return handshake(sess, Role::Server);
}

bool KV_SSLSess::handshake(KV_Session& sess, Role role)
{
    if (!ssl_)
        return false;
    if (role == Role::Client) {
        SSL_set_ssl_method(ssl_, TLS_client_method());
        SSL_set_connect_state(ssl_);
        const KV_String sni = sni_name(name_);
        if (!sni.empty() && SSL_set_tlsext_host_name(ssl_, sni.data()) != 1) {
            fail(KV_SSLCtx::lib_err("the server name cannot be sent"));
            return false;
        }
        // A session the library will not resume (another server name, an
        // expired ticket) only costs a full handshake.
        if (SSL_SESSION* prev = resume_from_ ? resume_from_->get() : nullptr) {
            SSL_set_session(ssl_, prev);
            SSL_SESSION_free(prev);
            ERR_clear_error();
        }
    } else {
        SSL_set_ssl_method(ssl_, TLS_server_method());
        SSL_set_accept_state(ssl_);
    }
    for (;;) {
        // A stopped handshake has not made the connection secure: it fails,
        // so that nothing is ever sent in the clear in its place.
        if (sess.stopped(nullptr, true)) {
            fail("stopped");
            return false;
        }
        ERR_clear_error();
        const int r = role == Role::Client ? SSL_connect(ssl_) : SSL_accept(ssl_);
        if (r == 1)
            break;
        const int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            if (!sess.wait_sock(e == SSL_ERROR_WANT_READ, e == SSL_ERROR_WANT_WRITE,
                                HANDSHAKE_WAIT_MS)) {
                fail("connection lost");
                return false;
            }
            continue;
        }
        // A refused certificate has given its reason already.
        if (last_err_.empty())
            fail(KV_SSLCtx::lib_err(e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN
                                        ? "connection closed by the peer"
                                        : "unknown reason"));
        ERR_clear_error();
        return false;
    }
    // A server that shows no certificate (an anonymous cipher) was never
    // verified: no certificate, no trust.
    if (role == Role::Client && !SSL_get0_peer_certificate(ssl_)) {
        last_err_ = "no certificate received";
        log(last_err_, true);
        return false;
    }
    keep_session();
    return true;
}

bool KV_SSLSess::recv(uint8_t* buf, uint32_t& length, bool& closed)
{
    closed = false;
    const int want = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    length = 0;
    if (!ssl_)
        return false;
    if (want == 0)
        return true;
    ERR_clear_error();
    const int r = SSL_read(ssl_, buf, want);
    // A TLS 1.3 ticket arrives as a record of its own after the handshake.
    keep_session();
    if (r > 0) {
        length = static_cast<uint32_t>(r);
        return true;
    }
    switch (SSL_get_error(ssl_, r)) {
    case SSL_ERROR_NONE:
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return true;
    case SSL_ERROR_ZERO_RETURN:
        closed = true;
        return true;
    case SSL_ERROR_SYSCALL:
        // The socket closed (or was reset) with nothing the library
        // complained about: the end of the data.
        if (ERR_peek_error() == 0) {
            closed = true;
            return true;
        }
        break;
    default:
        break;
    }
    last_err_ = KV_SSLCtx::lib_err("read failed");
    return false;
}

bool KV_SSLSess::send(const uint8_t* data, uint32_t& length, bool& closed)
{
    closed = false;
    const uint32_t offered = length < WRITE_MAX ? length : WRITE_MAX;
    length = 0;
    if (!ssl_)
        return false;
    // A write returns after each record (partial writes), so that a write
    // the library could not finish holds at most the bytes of that call;
    // the loop goes on while the socket takes records.
    while (true) {
        // A write that must be repeated goes again with the same bytes; the
        // caller's buffer still begins with them, whatever it offers now.
        const bool repeat = !pending_.empty();
        const uint8_t* src = repeat ? static_cast<const uint8_t*>(pending_) : data + length;
        const uint32_t n = repeat ? pending_.length() : offered - length;
        if (n == 0)
            return true;
        ERR_clear_error();
        const int r = SSL_write(ssl_, src, static_cast<int>(n));
        if (r > 0) {
            pending_.clear();
            length += static_cast<uint32_t>(r);
            if (repeat || length >= offered)
                return true;
            continue;
        }
        switch (SSL_get_error(ssl_, r)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return repeat || pending_.append(src, n);
        case SSL_ERROR_ZERO_RETURN:
            closed = true;
            return true;
        default:
            break;
        }
        last_err_ = KV_SSLCtx::lib_err("write failed");
        return false;
    }
}

bool KV_SSLSess::shutdown(bool& sent)
{
    sent = false;
    if (!ssl_)
        return false;
    if (!sd_sent_) {
        ERR_clear_error();
        const int r = SSL_shutdown(ssl_);
        if (r >= 0) {
            sd_sent_ = true;
            sd_done_ = r == 1;
            sent = true;
            return true;
        }
        const int e = SSL_get_error(ssl_, r);
        ERR_clear_error();
        // The notification is queued and goes out when the socket takes it.
        return e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ;
    }
    // The peer's notification is read by the receive step (SSL_read reports
    // it); calling SSL_shutdown again here would read, and drop, data the
    // peer may still send before it.
    sent = true;
    if (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN)
        sd_done_ = true;
    return true;
}

bool KV_SSLSess::pending() const
{
    return ssl_ && SSL_pending(ssl_) > 0;
}

bool KV_SSLSess::save(X509* cert, const char* file)
{
    if (!cert || !file)
        return false;
    FILE* fp = std::fopen(file, "wb");
    if (!fp)
        return false;
    const bool written = PEM_write_X509(fp, cert) == 1;
    return (std::fclose(fp) == 0) && written;
}

int KV_SSLSess::verify_cb(int preverify, X509_STORE_CTX* store)
{
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<KV_SSLSess*>(SSL_get_app_data(ssl)) : nullptr;
    if (!self)
        return 0;
    return self->verify(preverify != 0, store) ? 1 : 0;
}

bool KV_SSLSess::verify(bool preverify, X509_STORE_CTX* store)
{
    last_err_.clear();
    X509* end = X509_STORE_CTX_get0_cert(store);
    if (!end) {
        last_err_ = "no certificate received";
        log(last_err_, true);
        return false;
    }
    const KV_String ident = cert_ident(end);

    // Accepted already: by the user for this file manager, or by the store.
    // Either way only this very certificate.
    if (file_man_ && file_man_->sec_accepted(ident))
        return true;
    if (man_cert.valid(end, name_)) {
        if (file_man_)
            file_man_->set_sec_accepted(ident);
        log("Server certificate found in the local database.", false);
        return true;
    }

    bool ok = preverify;
    if (!preverify) {
        const int code = X509_STORE_CTX_get_error(store);
        const char* text = code != X509_V_OK ? X509_verify_cert_error_string(code) : nullptr;
        last_err_ = text && *text ? text : "unknown reason";
        log(KV_String::format_impl("%s ( %s )", "Failed", last_err_.data()), true);
    } else if (X509_STORE_CTX_get_error_depth(store) == 0) {
        log("Certificate check", false);
        const KV_String issuer = issuer_line(end);
        if (!issuer.empty())
            log(KV_String::format_impl("Certificate issuer: %s", issuer.data()), false);
        const KV_String cn = common_name(end);
        if (!cn.empty())
            log(KV_String::format_impl("Common name: %s", cn.data()), false);
        if ((flags_ & KV_SSL_CHECK_HOST) && !host_ok(end)) {
            ok = false;
            last_err_ = KV_String::format_impl("host name check failed; expected host name: %s",
                                               host_.data());
            log(last_err_, true);
        }
        if (ok && (flags_ & KV_SSL_CHECK_REG_ONLY)) {
            ok = false;
            last_err_ = "Unregistered server certificate";
        }
        if (ok)
            log("Done", false);
    }
    if (ok)
        return true;

    // The user decides, about the server's own certificate: that is what
    // is accepted and what "always trust" stores.
    if (!file_man_)
        return false;
    KV_String cn = common_name(end);
    KV_String issuer = issuer_line(end);
    if (cn.empty())
        cn = "unknown";
    if (issuer.empty())
        issuer = "unknown";
    const KV_String question =
        KV_String::format_impl("The SSL verification failed (%s). Continue anyway ?",
                               last_err_.data()) +
        "\r\n\r\n" + KV_String::format_impl("%s: %s", "Name", cn.data()) + "\r\n" +
        KV_String::format_impl("%s: %s", "Issuer", issuer.data());
    KV_ANS ans = KV_ANS_NONE;
    ok = file_man_->sec_forced(question, KV_ASK_TRUST, ans, ident);
    if (ok && ans == KV_ANS_YES_ALL)
        ok = man_cert.add(end, name_, cn, issuer);
    // The verification's reason alone reads as a fault of the connection;
    // the person who refused the certificate is told that this is why.
    if (!ok)
        last_err_ = KV_String::format_impl("%s; the certificate was not trusted", last_err_.data());
    return ok;
}

bool KV_SSLSess::host_ok(X509* cert) const
{
    // The expected host may come as a name, "name:port" or an address with
    // a scheme: only the name is compared, a port says nothing about it.
    KV_String scheme, name, path, port;
    std::string ip = ip_literal(host_.data());
    if (ip.empty()) {
        KV_UriMan::split_uri(host_, scheme, name, path, &port);
        ip = ip_literal(name.data());
    } else {
        name = ip.c_str();
    }
    if (name.empty())
        return false;
    // A server reached by its address names it as an IP entry; some
    // certificates carry the address as a DNS name instead, which still
    // counts below.
    if (!ip.empty() && X509_check_ip_asc(cert, ip.c_str(), 0) == 1)
        return true;
    // Exactly and ignoring case; a wildcard in the certificate matches only
    // a host of the same text.
    return X509_check_host(cert, name.data(), name.length(), X509_CHECK_FLAG_NO_WILDCARDS,
                           nullptr) == 1;
}

void KV_SSLSess::log(const KV_String& text, bool err)
{
    if (informer_)
        informer_->send(new (std::nothrow)
                            KV_MsgSessLog(tavo_id_, KV_SessLogInfo(KV_SESS_LOG_NOTICE, text, err)));
}

void KV_SSLSess::fail(const KV_String& reason)
{
    last_err_ = reason;
    log(KV_String::format_impl("%s ( %s )", "Failed", reason.data()), true);
}
