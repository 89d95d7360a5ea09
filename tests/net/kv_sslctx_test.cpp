// The shared TLS context: the own certificate with a key under a pass
// phrase, the CA file, the cipher list, and the reasons init gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include "net/kv_sslctx.h"
#include "support/kv_testdir.h"
#include "support/kv_tlstest.h"

namespace {

using namespace kvtest;

class SslCtx : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ca = make_cert(dir, "ca", {"kvtest CA", "", -3600, 86400, true});
        own = make_cert(dir, "own", {"client.test", "DNS:client.test"}, &ca);
        ASSERT_TRUE(ca.cert && own.cert);
    }

    // The own certificate and its key (under `pass`, none when empty) in one
    // PEM file, as the program keeps them.
    std::string self_pem(const std::string& pass, const std::string& name = "self.pem")
    {
        const std::string file = dir / name;
        FILE* f = std::fopen(file.c_str(), "w");
        EXPECT_TRUE(f);
        if (!f)
            return file;
        PEM_write_X509(f, own.cert.get());
        if (pass.empty())
            PEM_write_PrivateKey(f, own.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        else
            PEM_write_PrivateKey(f, own.key.get(), EVP_aes_256_cbc(),
                                 reinterpret_cast<const unsigned char*>(pass.data()),
                                 static_cast<int>(pass.size()), nullptr, nullptr);
        std::fclose(f);
        return file;
    }

    CertKey ca, own;
};

TEST_F(SslCtx, ContextsTakeIdsInOrder)
{
    KV_SSLCtx first;
    KV_SSLCtx second;
    EXPECT_EQ(second.id(), first.id() + 1);
    EXPECT_EQ(static_cast<SSL_CTX*>(first), nullptr);
    EXPECT_EQ(std::string(KV_SSLCtx::bf_key).size(), 21u);
}

TEST_F(SslCtx, TheOwnKeyOpensWithItsPassPhrase)
{
    struct Case
    {
        const char* what;
        std::string stored; // the phrase the key is under
        std::string given;  // the phrase init gets
        bool ok;
    };
    // The library's buffer for a pass phrase holds 1023 characters and the
    // NUL: a longer phrase is not handed over cut short.
    const std::string long_phrase(1500, 'p');
    const Case cases[] = {
        {"no pass phrase", "", "", true},
        {"right pass phrase", "s3cret", "s3cret", true},
        {"wrong pass phrase", "s3cret", "wrong", false},
        {"missing pass phrase", "s3cret", "", false},
        {"phrase longer than the library's buffer", long_phrase, long_phrase, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = self_pem(c.stored);
        KV_SSLCtx ctx;
        KV_String err;
        EXPECT_EQ(ctx.init(file.c_str(), c.given.c_str(), ca.cert_file.c_str(), "", &err), c.ok);
        EXPECT_EQ(err.empty(), c.ok) << err.data();
    }
}

TEST_F(SslCtx, InitFailsWithTheLibrarysReason)
{
    const std::string self = self_pem("");
    // A key that belongs to another certificate.
    CertKey other = make_cert(dir, "other", {"other.test", ""}, &ca);
    const std::string mixed = dir / "mixed.pem";
    {
        FILE* f = std::fopen(mixed.c_str(), "w");
        ASSERT_TRUE(f);
        PEM_write_X509(f, own.cert.get());
        PEM_write_PrivateKey(f, other.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(f);
    }
    struct Case
    {
        const char* what;
        std::string cert, ca_file, ciphers;
    };
    const Case cases[] = {
        {"missing CA file", "", dir / "none.pem", ""},
        {"empty CA file name", "", "", ""},
        {"missing own certificate", dir / "none.pem", ca.cert_file, ""},
        {"key of another certificate", mixed, ca.cert_file, ""},
        {"unknown cipher list", "", ca.cert_file, "NO-SUCH-CIPHER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KV_SSLCtx ctx;
        KV_String err;
        EXPECT_FALSE(ctx.init(c.cert.c_str(), "", c.ca_file.c_str(), c.ciphers.c_str(), &err));
        EXPECT_FALSE(err.empty());
        EXPECT_FALSE(ctx.init(c.cert.c_str(), "", c.ca_file.c_str(), c.ciphers.c_str(), nullptr));
    }
    KV_SSLCtx ctx;
    KV_String err;
    EXPECT_TRUE(
        ctx.init(self.c_str(), "", ca.cert_file.c_str(), "ECDHE-ECDSA-AES128-GCM-SHA256", &err))
        << err.data();
    // Every context lets a peer end without a close notification.
    EXPECT_NE(SSL_CTX_get_options(ctx) & SSL_OP_IGNORE_UNEXPECTED_EOF, 0u);
    ctx.clear();
    EXPECT_EQ(static_cast<SSL_CTX*>(ctx), nullptr);
}

TEST_F(SslCtx, SaveWritesTheCertificateAsPem)
{
    const std::string file = dir / "saved.pem";
    ASSERT_TRUE(KV_SSLSess::save(own.cert.get(), file.c_str()));
    X509Ptr back = read_cert(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(X509_cmp(back.get(), own.cert.get()), 0);
    EXPECT_FALSE(KV_SSLSess::save(own.cert.get(), (dir / "no/such/dir.pem").c_str()));
}

} // namespace
