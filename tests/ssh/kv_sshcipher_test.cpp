#include "ssh/kv_sshcipher.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>

#include "support/kv_sshtest.h"

namespace {

using kvtest::hex;
using kvtest::unhex;

TEST(KvSshCipherDef, TableInOfferOrder)
{
    struct Row
    {
        const char* name;
        int32_t block_size;
        int32_t key_len;
    };
    const Row rows[] = {
        {"3des-cbc", 8, 24},    {"blowfish-cbc", 8, 16}, {"cast128-cbc", 8, 16},
        {"arcfour", 8, 16},     {"aes128-cbc", 16, 16},  {"aes192-cbc", 16, 24},
        {"aes256-cbc", 16, 32}, {"des", 8, 8},           {"none", 8, 0},
    };
    ASSERT_EQ(KV_SshCipherDef::nciphers(), 9u);
    for (uint32_t i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        const KV_SshCipherDef* def = KV_SshCipherDef::cipher(i);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(std::string(def->name()), rows[i].name);
        EXPECT_EQ(def->block_size(), rows[i].block_size);
        EXPECT_EQ(def->key_len(), rows[i].key_len);
        EXPECT_EQ(def->null(), i == 8);
        ASSERT_NE(def->evp(), nullptr);
        EXPECT_NE(def->evp()(), nullptr);
        EXPECT_EQ(KV_SshCipherDef::find(rows[i].name), def);
    }
    EXPECT_EQ(KV_SshCipherDef::cipher(9), nullptr);
    EXPECT_EQ(KV_SshCipherDef::cipher(UINT32_MAX), nullptr);
}

TEST(KvSshCipherDef, FindIsExact)
{
    EXPECT_EQ(KV_SshCipherDef::find("AES128-CBC"), nullptr);
    EXPECT_EQ(KV_SshCipherDef::find(" aes128-cbc"), nullptr);
    EXPECT_EQ(KV_SshCipherDef::find("aes128-ctr"), nullptr);
    EXPECT_EQ(KV_SshCipherDef::find(""), nullptr);
    EXPECT_EQ(KV_SshCipher::create("AES128-CBC"), nullptr);
}

TEST(KvSshCipherDef, OfferLessDisabled)
{
    const std::string all8 =
        "3des-cbc,blowfish-cbc,cast128-cbc,arcfour,aes128-cbc,aes192-cbc,aes256-cbc,des";
    struct Case
    {
        const char* disabled;
        std::string offer;
    };
    const Case cases[] = {
        {"none", all8},
        {"", all8 + ",none"},
        {" aes128-cbc , ,des,",
         "3des-cbc,blowfish-cbc,cast128-cbc,arcfour,aes192-cbc,aes256-cbc,none"},
        {"AES128-CBC,none", all8},
        {"rot13,none", all8},
        {"3des-cbc,blowfish-cbc,cast128-cbc,arcfour,aes128-cbc,aes192-cbc,aes256-cbc,des,none", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disabled);
        EXPECT_EQ(std::string(KV_SshCipherDef::ciphers(c.disabled).data()), c.offer);
    }
}

// Published known answers, one per cipher: the key and IV are used as the
// session would give them, so each also shows the table's key length.
struct Vector
{
    const char* name;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
    const char* source;
};

const Vector vectors[] = {
    {"3des-cbc", "0123456789abcdef23456789abcdef01456789abcdef0123", "0000000000000000",
     "5468652071756663", "a826fd8ce53b855f", "NIST SP 800-67 example, first block"},
    {"3des-cbc", "0123456789abcdef0123456789abcdef0123456789abcdef", "1234567890abcdef",
     "4e6f77206973207468652074696d6520666f7220616c6c20",
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6", "FIPS 81 CBC, three equal keys"},
    {"blowfish-cbc", "0123456789abcdeff0e1d2c3b4a59687", "fedcba9876543210",
     "37363534333231204e6f77206973207468652074696d6520666f722000000000",
     "6b77b4d63006dee605b156e27403979358deb9e7154616d959f1652bd5ff92cc",
     "Schneier / Eric Young CBC vector"},
    {"cast128-cbc", "0123456712345678234567893456789a", "0000000000000000", "0123456789abcdef",
     "238b4fe5847e44b2", "RFC 2144 B.1, 128-bit key"},
    {"arcfour", "0102030405060708090a0b0c0d0e0f10", "", "00000000000000000000000000000000",
     "9ac7cc9a609d1ef7b2932899cde41b97", "RFC 6229, 128-bit key, offset 0"},
    {"aes128-cbc", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2", "NIST SP 800-38A F.2.1"},
    {"aes192-cbc", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "000102030405060708090a0b0c0d0e0f", "6bc1bee22e409f96e93d7e117393172a",
     "4f021db243bc633d7178183a9fa071e8", "NIST SP 800-38A F.2.3"},
    {"aes256-cbc", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f", "6bc1bee22e409f96e93d7e117393172a",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd6", "NIST SP 800-38A F.2.5"},
    {"des", "0123456789abcdef", "1234567890abcdef",
     "4e6f77206973207468652074696d6520666f7220616c6c20",
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6", "FIPS 81 CBC"},
    {"none", "", "", "00112233445566778899aabbccddeeff", "00112233445566778899aabbccddeeff",
     "identity"},
};

std::unique_ptr<KV_SshCipher> keyed(const Vector& v, bool encrypt)
{
    auto c = KV_SshCipher::create(v.name);
    if (!c || !kvtest::put(c->iv(), unhex(v.iv)) || !kvtest::put(c->key(), unhex(v.key)) ||
        !c->init(encrypt))
        return nullptr;
    return c;
}

TEST(KvSshCipher, KnownAnswers)
{
    for (const Vector& v : vectors) {
        SCOPED_TRACE(std::string(v.name) + ": " + v.source);
        const std::string plain = unhex(v.plain);
        const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
        std::string out(plain.size(), '\0');
        auto* o = reinterpret_cast<unsigned char*>(out.data());

        auto enc = keyed(v, true);
        ASSERT_NE(enc, nullptr);
        ASSERT_TRUE(enc->process(in, o, static_cast<uint32_t>(plain.size())));
        EXPECT_EQ(hex(out), v.cipher);

        // Decrypting in place gives the plain text back.
        auto dec = keyed(v, false);
        ASSERT_NE(dec, nullptr);
        ASSERT_TRUE(dec->process(o, o, static_cast<uint32_t>(out.size())));
        EXPECT_EQ(hex(out), v.plain);
    }
}

// The context lives from packet to packet: the chain of one call runs on in
// the next, exactly as if both had been one call.
TEST(KvSshCipher, ChainRunsAcrossCalls)
{
    for (uint32_t i = 0; i < KV_SshCipherDef::nciphers(); ++i) {
        const KV_SshCipherDef* def = KV_SshCipherDef::cipher(i);
        SCOPED_TRACE(def->name());
        KV_SshDirParams a, b;
        ASSERT_TRUE(kvtest::ssh_dir_pair(a, b, def->name(), nullptr, nullptr));
        KV_SshDirParams c, d;
        ASSERT_TRUE(kvtest::ssh_dir_pair(c, d, def->name(), nullptr, nullptr));
        const std::string plain = kvtest::ramp(1, 96);
        const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
        unsigned char whole[96], split[96];
        ASSERT_TRUE(a.cipher()->process(in, whole, 96));
        ASSERT_TRUE(c.cipher()->process(in, split, 48));
        ASSERT_TRUE(c.cipher()->process(in + 48, split + 48, 48));
        EXPECT_EQ(hex(whole, 96), hex(split, 96));
        // The receiving side takes the pieces apart the same way.
        unsigned char back[96];
        ASSERT_TRUE(b.cipher()->process(whole, back, 32));
        ASSERT_TRUE(b.cipher()->process(whole + 32, back + 32, 64));
        EXPECT_EQ(hex(back, 96), hex(plain));
    }
}

TEST(KvSshCipher, RefusesUntilStartedAndPartBlocks)
{
    auto c = KV_SshCipher::create("aes128-cbc");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->block_size(), 16);
    EXPECT_EQ(c->key_len(), 16);
    unsigned char buf[32] = {};
    EXPECT_FALSE(c->process(buf, buf, 16)); // no init yet
    ASSERT_TRUE(kvtest::put(c->iv(), kvtest::ramp(0, 16)));
    ASSERT_TRUE(kvtest::put(c->key(), kvtest::ramp(0, 16)));
    ASSERT_TRUE(c->init(true));
    EXPECT_FALSE(c->process(buf, buf, 8));
    EXPECT_FALSE(c->process(buf, buf, 17));
    EXPECT_TRUE(c->process(buf, buf, 0));
    EXPECT_TRUE(c->process(buf, buf, 32));

    // arcfour keeps the table's block size of 8.
    auto rc4 = KV_SshCipher::create("arcfour");
    ASSERT_TRUE(kvtest::put(rc4->key(), kvtest::ramp(0, 16)));
    ASSERT_TRUE(rc4->init(true));
    EXPECT_FALSE(rc4->process(buf, buf, 5));
    EXPECT_TRUE(rc4->process(buf, buf, 8));
}

// The session may hand over too few derived bytes; OpenSSL would read past
// the end of the key or IV. init() refuses instead.
TEST(KvSshCipher, ShortKeyOrIvRefused)
{
    for (uint32_t i = 0; i < KV_SshCipherDef::nciphers(); ++i) {
        const KV_SshCipherDef* def = KV_SshCipherDef::cipher(i);
        if (def->null())
            continue;
        SCOPED_TRACE(def->name());
        auto c = KV_SshCipher::create(def->name());
        ASSERT_NE(c, nullptr);
        const int iv_len = EVP_CIPHER_get_iv_length(def->evp()());
        ASSERT_TRUE(kvtest::put(c->iv(), kvtest::ramp(0, static_cast<size_t>(iv_len))));
        ASSERT_TRUE(
            kvtest::put(c->key(), kvtest::ramp(0, static_cast<size_t>(def->key_len() - 1))));
        EXPECT_FALSE(c->init(true));
        unsigned char buf[16] = {};
        EXPECT_FALSE(c->process(buf, buf, 8));
        ASSERT_TRUE(kvtest::put(c->key(), "k"));
        if (iv_len > 0) {
            c->iv().clear();
            ASSERT_TRUE(kvtest::put(c->iv(), kvtest::ramp(0, static_cast<size_t>(iv_len - 1))));
            EXPECT_FALSE(c->init(true));
            ASSERT_TRUE(kvtest::put(c->iv(), "i"));
        }
        EXPECT_TRUE(c->init(true));
    }
}

} // namespace
