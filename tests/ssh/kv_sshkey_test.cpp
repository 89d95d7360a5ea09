#include "ssh/kv_sshkey.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ssh/kv_sshmsg.h"
#include "support/kv_sshtest.h"
#include "support/kv_testdir.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

struct BnFree
{
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bn_hex(const char* text)
{
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, text);
    return Bn(b);
}

std::string mpint(const BIGNUM* b)
{
    KV_Stream out;
    EXPECT_TRUE(ssh_write_mpint(out, b));
    return hex(out);
}

// RFC 4251 section 5's table, and the edges around a set top bit.
TEST(KvSshMpint, WriteShortestForm)
{
    struct Case
    {
        const char* value;
        const char* wire;
    };
    const Case cases[] = {
        {"0", "00000000"},
        {"9a378f9b2e332a7", "0000000809a378f9b2e332a7"},
        {"80", "000000020080"},
        {"-1234", "00000002edcc"},
        {"-deadbeef", "00000005ff21524111"},
        {"7f", "000000017f"},
        {"ff", "0000000200ff"},
        {"-1", "00000001ff"},
        {"-80", "0000000180"},
        {"-81", "00000002ff7f"},
        {"-100", "00000002ff00"},
        {"1", "0000000101"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Bn b = bn_hex(c.value);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(mpint(b.get()), c.wire);
    }
    KV_Stream out;
    EXPECT_FALSE(ssh_write_mpint(out, nullptr));
}

// Reading takes the bytes as an unsigned magnitude; leading zeros go.
TEST(KvSshMpint, ReadMagnitude)
{
    struct Case
    {
        const char* wire;
        const char* value;
    };
    const Case cases[] = {
        {"00000000", "0"},
        {"000000020080", "80"},
        {"0000000400000001", "01"},
        {"00000001ff", "FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        KV_Stream in;
        ASSERT_TRUE(put(in, unhex(c.wire)));
        Bn b(BN_new());
        ASSERT_TRUE(ssh_read_mpint(in, b.get()));
        char* text = BN_bn2hex(b.get());
        EXPECT_STREQ(text, c.value);
        OPENSSL_free(text);
        EXPECT_TRUE(in.empty());
    }
}

TEST(KvSshMpint, OverlongOrShortRefused)
{
    Bn b(BN_new());
    KV_Stream at_limit;
    ASSERT_TRUE(put(at_limit, unhex("00002000") + std::string(8192, '\x11')));
    EXPECT_TRUE(ssh_read_mpint(at_limit, b.get()));
    EXPECT_EQ(BN_num_bytes(b.get()), 8192);
    KV_Stream over;
    ASSERT_TRUE(put(over, unhex("00002001") + std::string(8193, '\x11')));
    EXPECT_FALSE(ssh_read_mpint(over, b.get()));
    KV_Stream cut;
    ASSERT_TRUE(put(cut, unhex("0000000401")));
    EXPECT_FALSE(ssh_read_mpint(cut, b.get()));
    KV_Stream fine;
    ASSERT_TRUE(put(fine, unhex("0000000101")));
    EXPECT_FALSE(ssh_read_mpint(fine, nullptr));
}

TEST(KvSshKeyTypeDef, TableAndLookup)
{
    EXPECT_STREQ(KV_SshKeyTypeDef::list().data(), "ssh-rsa,ssh-dss");
    struct Case
    {
        const char* name;
        KV_SSH_KEY_TYPE type;
    };
    const Case cases[] = {{"ssh-rsa", KV_SSH_KEY_RSA},      {"ssh-dss", KV_SSH_KEY_DSA},
                          {"rsa", KV_SSH_KEY_RSA},          {"dsa", KV_SSH_KEY_DSA},
                          {"rsa1", KV_SSH_KEY_RSA1},        {"SSH-RSA", KV_SSH_KEY_NONE},
                          {"ssh-ed25519", KV_SSH_KEY_NONE}, {"", KV_SSH_KEY_NONE}};
    for (const Case& c : cases)
        EXPECT_EQ(KV_SshKeyTypeDef::type_of(c.name), c.type) << c.name;
    EXPECT_EQ(KV_SshKeyTypeDef::ntypes(), 5u);
}

// A DSA blob of small numbers, written with leading zeros that the reader
// drops and the writer does not put back.
const char* small_dsa = "00000007"
                        "7373682d647373" // "ssh-dss"
                        "00000003"
                        "000017" // p = 0x17, padded
                        "00000001"
                        "0b" // q
                        "00000002"
                        "0080" // g = 0x80
                        "00000004"
                        "00000005"; // y = 5, padded

TEST(KvSshKey, BlobReadWrite)
{
    KV_Stream in;
    ASSERT_TRUE(put(in, unhex(small_dsa)));
    KV_SshKey key;
    ASSERT_TRUE(key.read(in));
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(key.type(), KV_SSH_KEY_DSA);
    EXPECT_STREQ(key.str_type(), "ssh-dss");
    EXPECT_TRUE(BN_is_word(key.num(0), 0x17));
    EXPECT_TRUE(BN_is_word(key.num(3), 5));
    EXPECT_EQ(key.num(4), nullptr);
    KV_Stream out;
    ASSERT_TRUE(key.write(out));
    EXPECT_EQ(hex(out), "00000007"
                        "7373682d647373"
                        "00000001"
                        "17"
                        "00000001"
                        "0b"
                        "00000002"
                        "0080"
                        "00000001"
                        "05");

    // The type names that older peers use read as the same types.
    KV_Stream old;
    ASSERT_TRUE(put(old, unhex("00000003"
                               "647361" +
                               std::string(small_dsa).substr(22))));
    KV_SshKey dsa;
    ASSERT_TRUE(dsa.read(old));
    EXPECT_TRUE(dsa == key);
}

TEST(KvSshKey, BadBlobsRefused)
{
    const std::string rsa_e_n = "00000007"
                                "7373682d727361"
                                "00000001"
                                "03"
                                "00000002"
                                "00c1";
    const std::string rsa_n_e = "00000007"
                                "7373682d727361"
                                "00000002"
                                "00c1"
                                "00000001"
                                "03";
    KV_SshKey a, b;
    KV_Stream in;
    ASSERT_TRUE(put(in, unhex(rsa_e_n)));
    ASSERT_TRUE(a.read(in));
    ASSERT_TRUE(put(in, unhex(rsa_n_e)));
    ASSERT_TRUE(b.read(in)); // reads, but is another key
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(BN_is_word(a.num(0), 3));

    const std::string bad[] = {
        "00000004"
        "72736131"
        "00000001"
        "03"
        "00000001"
        "05", // "rsa1"
        "0000000b"
        "7373682d65643235353139"
        "00000001"
        "01",                                  // "ssh-ed25519"
        rsa_e_n.substr(0, rsa_e_n.size() - 2), // cut short
        "00000007"
        "7373682d727361"
        "00000001"
        "03"
        "ffffffff"
        "00",
        "00000007"
        "7373682d727361"
        "00002001" +
            hex(std::string(8193, '\x11')) +
            "00000001"
            "03",
        "0000",
    };
    for (const std::string& b : bad) {
        SCOPED_TRACE(b.substr(0, 30));
        KV_Stream st;
        ASSERT_TRUE(put(st, unhex(b)));
        KV_SshKey k;
        EXPECT_FALSE(k.read(st));
    }
}

TEST(KvSshKey, EqualityAndCopy)
{
    KV_SshKey empty1, empty2;
    EXPECT_FALSE(empty1 == empty2);
    EXPECT_FALSE(empty1 == empty1);
    EXPECT_STREQ(empty1.str_type(), "ssh-unknown");
    KV_Stream out;
    EXPECT_FALSE(empty1.write(out));
    KV_String fp;
    EXPECT_FALSE(empty1.fingerprint(fp));

    KV_Stream in;
    ASSERT_TRUE(put(in, unhex(small_dsa)));
    KV_SshKey key;
    ASSERT_TRUE(key.read(in));
    KV_SshKey copy(key);
    EXPECT_TRUE(copy == key);
    KV_SshKey other;
    EXPECT_TRUE(other = key);
    EXPECT_TRUE(other == key);
    EXPECT_FALSE(other = empty1); // the key is kept
    EXPECT_TRUE(other == key);
    EXPECT_FALSE(key < copy);
    EXPECT_FALSE(copy < key);

    // Protocol 1 keys can be made but not copied or written.
    KV_SshKey rsa1;
    ASSERT_TRUE(rsa1.init_key(KV_SSH_KEY_RSA1));
    EXPECT_STREQ(rsa1.str_type(), "rsa1");
    EXPECT_FALSE(other = rsa1);
    EXPECT_FALSE(rsa1.write(out));
    EXPECT_FALSE(rsa1 == empty1);
    EXPECT_FALSE(rsa1.init_key(0));
    EXPECT_EQ(rsa1.type(), 0);
}

// Keys made by ssh-keygen: the blob of the .pub file, the fingerprint that
// ssh-keygen prints, and signatures made with the private key.
class KvSshKeyGen : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new kvtest::TempDir("kv_sshkey");
        have = std::system("command -v ssh-keygen >/dev/null 2>&1") == 0;
        if (!have)
            return;
        for (const char* t : {"rsa", "dsa"}) {
            const std::string cmd = std::string("ssh-keygen -q -t ") + t +
                                    " -m PEM -N '' -C kv -f " + (*dir / t) + " >/dev/null 2>&1";
            made[std::string(t) == "rsa"] = std::system(cmd.c_str()) == 0;
        }
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override
    {
        if (!have)
            GTEST_SKIP() << "ssh-keygen is missing (package openssh-client)";
        ASSERT_TRUE(made[0] && made[1]) << "ssh-keygen could not make the test keys";
    }

    // The key blob of the .pub file.
    static std::string blob(const char* t)
    {
        const std::string pub = kvtest::read_file(*dir / t + ".pub");
        const size_t a = pub.find(' ');
        const size_t b = pub.find(' ', a + 1);
        const std::string b64 = pub.substr(a + 1, b - a - 1);
        std::string out(b64.size(), '\0');
        const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(b64.data()),
                                      static_cast<int>(b64.size()));
        if (n < 0)
            return std::string();
        // EVP_DecodeBlock counts the '=' padding as zero bytes.
        size_t pad = 0;
        while (pad < b64.size() && b64[b64.size() - 1 - pad] == '=')
            ++pad;
        out.resize(static_cast<size_t>(n) - pad);
        return out;
    }

    // What `ssh-keygen -l -E md5` prints as the fingerprint.
    static std::string keygen_md5(const char* t)
    {
        const std::string cmd = "ssh-keygen -l -E md5 -f " + (*dir / t) + ".pub";
        std::string text;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (std::fgets(buf, sizeof buf, p))
                text += buf;
            pclose(p);
        }
        const size_t at = text.find("MD5:");
        return at == std::string::npos ? std::string() : text.substr(at + 4, 47);
    }

    // The SSH signature (string format, string blob) of data made with the
    // private key through OpenSSL.
    static std::string sign(const char* t, const std::string& data)
    {
        BIO* bio = BIO_new_file((*dir / t).c_str(), "r");
        EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(bio);
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        size_t n = 0;
        std::string sig;
        if (key && md && EVP_DigestSignInit(md, nullptr, EVP_sha1(), nullptr, key) == 1 &&
            EVP_DigestSign(md, nullptr, &n, reinterpret_cast<const unsigned char*>(data.data()),
                           data.size()) == 1) {
            sig.resize(n);
            if (EVP_DigestSign(md, reinterpret_cast<unsigned char*>(sig.data()), &n,
                               reinterpret_cast<const unsigned char*>(data.data()),
                               data.size()) != 1)
                sig.clear();
            sig.resize(n);
        }
        EVP_MD_CTX_free(md);
        EVP_PKEY_free(key);
        if (std::string(t) == "dsa" && !sig.empty()) {
            // DER to r || s, 20 bytes each.
            const auto* p = reinterpret_cast<const unsigned char*>(sig.data());
            DSA_SIG* ds = d2i_DSA_SIG(nullptr, &p, static_cast<long>(sig.size()));
            const BIGNUM *r = nullptr, *s = nullptr;
            DSA_SIG_get0(ds, &r, &s);
            unsigned char rs[40];
            BN_bn2binpad(r, rs, 20);
            BN_bn2binpad(s, rs + 20, 20);
            DSA_SIG_free(ds);
            sig.assign(reinterpret_cast<char*>(rs), 40);
        }
        return ssh_str(std::string("ssh-") + (std::string(t) == "dsa" ? "dss" : "rsa")) +
               ssh_str(sig);
    }

    static std::string ssh_str(const std::string& s)
    {
        KV_SshString str;
        KV_Stream out;
        put(str, s);
        str.write(out);
        return bytes(out);
    }

    static KV_SshKey parse(const char* t)
    {
        KV_Stream in;
        put(in, blob(t));
        KV_SshKey key;
        EXPECT_TRUE(key.read(in)) << t;
        EXPECT_TRUE(in.empty()) << t;
        return key;
    }

    static kvtest::TempDir* dir;
    static bool have;
    static bool made[2];
};

kvtest::TempDir* KvSshKeyGen::dir = nullptr;
bool KvSshKeyGen::have = false;
bool KvSshKeyGen::made[2] = {false, false};

TEST_F(KvSshKeyGen, BlobsRoundTripAndFingerprintsMatch)
{
    for (const char* t : {"rsa", "dsa"}) {
        SCOPED_TRACE(t);
        const KV_SshKey key = parse(t);
        EXPECT_EQ(key.type(), std::string(t) == "rsa" ? KV_SSH_KEY_RSA : KV_SSH_KEY_DSA);
        KV_Stream out;
        ASSERT_TRUE(key.write(out));
        EXPECT_EQ(hex(out), hex(blob(t)));
        KV_String fp("prefix ");
        ASSERT_TRUE(key.fingerprint(fp));
        EXPECT_EQ(fp.length(), 7u + 47u);
        EXPECT_EQ(std::string(fp.data()), "prefix " + keygen_md5(t));
    }
    EXPECT_FALSE(parse("rsa") == parse("dsa"));
    EXPECT_TRUE(parse("rsa") == parse("rsa"));
}

TEST_F(KvSshKeyGen, SignaturesVerify)
{
    const std::string h = unhex("0102030405060708090a0b0c0d0e0f1011121314"); // an exchange hash
    for (const char* t : {"rsa", "dsa"}) {
        SCOPED_TRACE(t);
        const KV_SshKey key = parse(t);
        const auto* d = reinterpret_cast<const unsigned char*>(h.data());
        const std::string good = sign(t, h);
        ASSERT_GT(good.size(), 20u);
        KV_Stream sig;
        ASSERT_TRUE(put(sig, good));
        EXPECT_TRUE(key.verify(d, 20, sig));
        EXPECT_FALSE(key.verify(d, 19, sig)); // other data

        // A flipped signature byte, another format name, bytes after the
        // signature, a cut blob: all refused.
        std::string flipped = good;
        flipped[flipped.size() - 3] ^= 0x40;
        std::string other_name = good;
        other_name[10] = other_name[10] == 'r' ? 'd' : 'r';
        const std::string forms[] = {flipped, other_name, good + "x",
                                     good.substr(0, good.size() - 1), std::string()};
        for (const std::string& f : forms) {
            KV_Stream bad;
            ASSERT_TRUE(put(bad, f));
            EXPECT_FALSE(key.verify(d, 20, bad));
        }
    }
    // The other key's signature does not verify.
    const KV_SshKey rsa = parse("rsa");
    KV_Stream dsa_sig;
    ASSERT_TRUE(put(dsa_sig, sign("dsa", h)));
    EXPECT_FALSE(rsa.verify(reinterpret_cast<const unsigned char*>(h.data()), 20, dsa_sig));
}

} // namespace
