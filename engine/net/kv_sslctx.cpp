#include "net/kv_sslctx.h"

#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>

const char KV_SSLCtx::bf_key[] = "tlsky58203917ctxpassw";

std::atomic<uint32_t> KV_SSLCtx::counter{0};

KV_String KV_SSLCtx::lib_err(const char* fallback)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

KV_SSLCtx::KV_SSLCtx() : id_(counter.fetch_add(1) + 1) {}

KV_SSLCtx::~KV_SSLCtx()
{
    clear();
}

void KV_SSLCtx::clear()
{
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
}

int KV_SSLCtx::pass_cb(char* buf, int size, int, void* user)
{
    const auto* self = static_cast<const KV_SSLCtx*>(user);
    if (!self || size <= 0)
        return 0;
    const uint32_t n = self->pass_.length();
    // A pass phrase that does not fit with its NUL would reach the library
    // cut short: none is given instead.
    if (n >= static_cast<uint32_t>(size))
        return 0;
    std::memcpy(buf, static_cast<const char*>(self->pass_), n + 1);
    return static_cast<int>(n);
}

bool KV_SSLCtx::init(const KV_String& cert_file, const KV_String& pass, const KV_String& ca_file,
                     const KV_String& ciphers, KV_String* err)
{
    clear();
    pass_ = KV_StringStd(pass.data());
    ERR_clear_error();

    ctx_ = SSL_CTX_new(TLS_method());
    bool ok = ctx_ != nullptr;
    if (ok) {
        unsigned char sid[4];
        std::memcpy(sid, &id_, sizeof(sid));
        SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
        ok = SSL_CTX_set_session_id_context(ctx_, sid, sizeof(sid)) == 1;
    }
    if (ok && !cert_file.empty()) {
        ok = SSL_CTX_use_certificate_chain_file(ctx_, cert_file.data()) == 1;
        if (ok) {
            SSL_CTX_set_default_passwd_cb(ctx_, pass_cb);
            SSL_CTX_set_default_passwd_cb_userdata(ctx_, this);
            ok = SSL_CTX_use_PrivateKey_file(ctx_, cert_file.data(), SSL_FILETYPE_PEM) == 1 &&
                 SSL_CTX_check_private_key(ctx_) == 1;
        }
    }
    if (ok)
        ok = SSL_CTX_load_verify_locations(ctx_, ca_file.data(), nullptr) == 1;
    if (ok && !ciphers.empty())
        ok = SSL_CTX_set_cipher_list(ctx_, ciphers.data()) == 1;

    if (!ok && err)
        *err = lib_err("unknown reason");
    ERR_clear_error();
    return ok;
}
