// Shared pieces of the TLS tests: certificates made for the run (a CA and
// server certificates of every kind the checks tell apart), an in-process
// TLS server on a loopback port the system picked, a file manager that
// keeps the trust decisions, and an answering host for the trust question.
//
// Keys are P-256 (quick to make); everything lives in a kvtest::TempDir.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "foundation/kv_informer.h"
#include "net/kv_sslctx.h"
#include "net/kv_sslsess.h"
#include "requests/kv_fileman.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"

namespace kvtest {

struct X509Free
{
    void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree
{
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

// A certificate with its key, and where both were written as PEM.
struct CertKey
{
    X509Ptr cert;
    PkeyPtr key;
    std::string cert_file; // the certificate (and, for a CA, only that)
    std::string key_file;
};

// What a certificate says about itself.
struct CertSpec
{
    std::string cn;          // subject common name; empty for none
    std::string san;         // subjectAltName value ("DNS:a,DNS:b"); empty for none
    long not_before = -3600; // seconds from now
    long not_after = 86400;  // seconds from now
    bool ca = false;         // a certification authority
};

inline bool add_ext(X509* x, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// Makes a certificate for spec, signed by `by` (self-signed without), and
// writes it and its key into dir under `name`.pem and `name`.key.
inline CertKey make_cert(const TempDir& dir, const std::string& name, const CertSpec& spec,
                         const CertKey* by = nullptr)
{
    static std::atomic<long> serial{1};
    CertKey out;
    out.key.reset(EVP_EC_gen("P-256"));
    out.cert.reset(X509_new());
    X509* x = out.cert.get();
    if (!out.key || !x)
        return CertKey();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), spec.not_before);
    X509_gmtime_adj(X509_getm_notAfter(x), spec.not_after);
    X509_set_pubkey(x, out.key.get());
    X509_NAME* subj = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(subj, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("kvtest"), -1, -1, 0);
    if (!spec.cn.empty())
        X509_NAME_add_entry_by_txt(subj, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(spec.cn.c_str()), -1, -1,
                                   0);
    X509* issuer = by ? by->cert.get() : x;
    X509_set_issuer_name(x, X509_get_subject_name(issuer));
    bool ok = true;
    if (spec.ca) {
        ok = add_ext(x, issuer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_ext(x, issuer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             add_ext(x, issuer, NID_subject_key_identifier, "hash");
    } else {
        ok = add_ext(x, issuer, NID_basic_constraints, "CA:FALSE");
        if (ok && !spec.san.empty())
            ok = add_ext(x, issuer, NID_subject_alt_name, spec.san.c_str());
    }
    EVP_PKEY* signer = by ? by->key.get() : out.key.get();
    if (!ok || X509_sign(x, signer, EVP_sha256()) == 0)
        return CertKey();
    out.cert_file = dir / (name + ".pem");
    out.key_file = dir / (name + ".key");
    FILE* f = std::fopen(out.cert_file.c_str(), "w");
    FILE* k = std::fopen(out.key_file.c_str(), "w");
    ok = f && k && PEM_write_X509(f, x) == 1 &&
         PEM_write_PrivateKey(k, out.key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (f)
        std::fclose(f);
    if (k)
        std::fclose(k);
    return ok ? std::move(out) : CertKey();
}

// Reads the first certificate of a PEM file.
inline X509Ptr read_cert(const std::string& file)
{
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f)
        return X509Ptr();
    X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    return X509Ptr(x);
}

// The certificates of one test run.
struct Certs
{
    explicit Certs(const TempDir& dir)
    {
        ca = make_cert(dir, "ca", {"kvtest CA", "", -3600, 86400 * 30, true});
        good = make_cert(dir, "good", {"good.test", "DNS:good.test,DNS:alt.test"}, &ca);
        wrong_host = make_cert(dir, "wrong", {"other.test", "DNS:other.test"}, &ca);
        self_signed = make_cert(dir, "self", {"good.test", "DNS:good.test"});
        expired =
            make_cert(dir, "expired", {"good.test", "DNS:good.test", -86400 * 2, -86400}, &ca);
        cn_only = make_cert(dir, "cnonly", {"good.test", ""}, &ca);
        san_over_cn = make_cert(dir, "sanovercn", {"good.test", "DNS:other.test"}, &ca);
        wildcard = make_cert(dir, "wild", {"*.good.test", "DNS:*.good.test"}, &ca);
        by_ip = make_cert(dir, "byip", {"127.0.0.1", "IP:127.0.0.1,IP:::1"}, &ca);
    }
    bool ok() const
    {
        for (const CertKey* c : {&ca, &good, &wrong_host, &self_signed, &expired, &cn_only,
                                 &san_over_cn, &wildcard, &by_ip})
            if (!c->cert)
                return false;
        return true;
    }

    CertKey ca, good, wrong_host, self_signed, expired, cn_only, san_over_cn, wildcard, by_ip;
};

// An in-process TLS server on 127.0.0.1 for one connection: it accepts,
// runs the TLS handshake with the given certificate (blocking), then hands
// the connection to `serve`. It records the name the client sent (SNI) and
// whether the handshake completed.
class TlsServer
{
public:
    using Serve = std::function<void(TlsServer& srv, SSL* ssl, int fd)>;

    TlsServer(const CertKey& ck, Serve serve) : serve_(std::move(serve))
    {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!ctx_ || SSL_CTX_use_certificate(ctx_, ck.cert.get()) != 1 ||
            SSL_CTX_use_PrivateKey(ctx_, ck.key.get()) != 1)
            return;
        SSL_CTX_set_tlsext_servername_callback(ctx_, on_sni);
        SSL_CTX_set_tlsext_servername_arg(ctx_, this);
        thread_ = std::thread([this] { run(); });
    }
    ~TlsServer()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        SSL_CTX_free(ctx_);
    }
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    bool ok() const { return server_.ok() && ctx_ && thread_.joinable(); }
    uint16_t port() const { return server_.port(); }
    KV_InetAddr addr() const { return server_.addr(); }
    // Set by the test to end a serve function that waits for it.
    bool stopping() const { return stop_.load(); }
    void stop() { stop_.store(true); }
    std::string sni()
    {
        std::lock_guard<std::mutex> g(m_);
        return sni_;
    }
    bool handshake_done() const { return done_.load(); }
    // The server thread has ended.
    bool finished() const { return finished_.load(); }

    // Echoes everything until the client closes or the test stops.
    static void echo(TlsServer& srv, SSL* ssl, int fd)
    {
        char buf[16384];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (SSL_pending(ssl) == 0 && ::poll(&p, 1, 50) == 0) {
                if (srv.stopping())
                    return;
                continue;
            }
            const int n = SSL_read(ssl, buf, sizeof(buf));
            if (n <= 0) {
                // The client's close notification: answer it.
                if (SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN)
                    SSL_shutdown(ssl);
                return;
            }
            if (SSL_write(ssl, buf, n) != n)
                return;
        }
    }

private:
    static int on_sni(SSL* ssl, int*, void* arg)
    {
        auto* self = static_cast<TlsServer*>(arg);
        const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        std::lock_guard<std::mutex> g(self->m_);
        self->sni_ = name ? name : "";
        return SSL_TLSEXT_ERR_OK;
    }

    void run()
    {
        Fd fd;
        while (!stop_.load() && !fd.ok())
            fd = server_.accept(50);
        if (fd.ok()) {
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, fd.get());
            if (SSL_accept(ssl) == 1) {
                done_.store(true);
                serve_(*this, ssl, fd.get());
            }
            SSL_free(ssl);
        }
        ERR_clear_error();
        finished_.store(true);
    }

    PlainServer server_;
    SSL_CTX* ctx_ = nullptr;
    Serve serve_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> finished_{false};
    std::mutex m_;
    std::string sni_;
};

// A file manager that only keeps trust decisions and asks the questions.
class TrustFileMan : public KV_FileMan
{
public:
    TrustFileMan() : KV_FileMan(KV_FileManId(KV_DsId(2, "good.test", "user", "S"), 1)) {}
    ~TrustFileMan() override { terminate(); }
    KV_FILE_MAN_TYPE type() const override { return KV_FILE_MAN_TYPE_FTP; }
    KV_Tavo* create_tavo() override { return nullptr; }
};

// Answers every trust question at once with the next answer of its list
// (No when the list is used up) and keeps the questions' texts.
class TrustHost
{
public:
    TrustHost()
    {
        self() = this;
        KV_Informer::set_impl_block([] { return false; });
        KV_Informer::set_impl_ask([](KV_Informer* inf, bool) { self()->answer(inf); });
    }
    ~TrustHost()
    {
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
        self() = nullptr;
    }
    TrustHost(const TrustHost&) = delete;
    TrustHost& operator=(const TrustHost&) = delete;

    void push(KV_ANS ans)
    {
        std::lock_guard<std::mutex> g(m_);
        answers_.push_back(ans);
    }
    std::vector<std::string> questions()
    {
        std::lock_guard<std::mutex> g(m_);
        return questions_;
    }
    size_t asked()
    {
        std::lock_guard<std::mutex> g(m_);
        return questions_.size();
    }
    std::vector<KV_ASK> kinds()
    {
        std::lock_guard<std::mutex> g(m_);
        return kinds_;
    }
    // Forgets the answers and the questions.
    void reset()
    {
        std::lock_guard<std::mutex> g(m_);
        answers_.clear();
        next_ = 0;
        questions_.clear();
        kinds_.clear();
    }

private:
    static TrustHost*& self()
    {
        static TrustHost* p = nullptr;
        return p;
    }
    void answer(KV_Informer* inf)
    {
        KV_ANS ans = KV_ANS_NO;
        {
            std::lock_guard<std::mutex> g(m_);
            questions_.emplace_back(inf->msg().data());
            kinds_.push_back(inf->dlg_ask());
            if (next_ < answers_.size())
                ans = answers_[next_++];
        }
        inf->set_ans(ans);
    }

    std::mutex m_;
    std::vector<KV_ANS> answers_;
    size_t next_ = 0;
    std::vector<std::string> questions_;
    std::vector<KV_ASK> kinds_;
};

// A connector whose TLS check mode, expected host and destination name the
// test chooses.
class TlsConnector : public TestConnector
{
public:
    TlsConnector(KV_FileMan* fm, KV_SSLCtx* ctx, const std::string& name, uint8_t flags,
                 const std::string& host)
        : TestConnector(record_sessions()), name_(name.c_str()), flags_(flags), host_(host.c_str())
    {
        set_file_man(fm, ctx);
    }
    ~TlsConnector() override { close_sessions(); }

    const KV_String& dst_addr() const override { return name_; }
    uint8_t ssl_check(KV_String& s1, KV_String& s2) const override
    {
        s1 = host_;
        s2 = "FTPS";
        return flags_;
    }

    // Connects to addr and asks for TLS; the result of the handshake.
    bool open_secure(const KV_InetAddr& addr)
    {
        KV_InetAddr local;
        if (!connect(local, addr, nullptr))
            return false;
        wait_open();
        req_secure();
        return secure_res(true);
    }
    std::string received() const
    {
        auto* s = static_cast<RecordSess*>(last());
        return s ? s->received() : std::string();
    }

private:
    KV_String name_;
    uint8_t flags_;
    KV_String host_;
};

} // namespace kvtest
