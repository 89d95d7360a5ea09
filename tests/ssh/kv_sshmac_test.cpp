#include "ssh/kv_sshmac.h"

#include <gtest/gtest.h>

#include <string>

#include "support/kv_sshtest.h"

namespace {

using kvtest::hex;
using kvtest::unhex;

TEST(KvSshMacDef, TableAndOffer)
{
    struct Row
    {
        const char* name;
        uint32_t mac_len;
        uint32_t key_len;
    };
    const Row rows[] = {{"hmac-md5", 16, 16},       {"hmac-sha1", 20, 20},
                        {"hmac-ripemd160", 20, 20}, {"hmac-sha1-96", 12, 20},
                        {"hmac-md5-96", 12, 16},    {"none", 0, 0}};
    ASSERT_EQ(KV_SshMacDef::nmacs(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(rows[i].name);
        const KV_SshMacDef* def = KV_SshMacDef::mac(i);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(std::string(def->name()), rows[i].name);
        EXPECT_EQ(def->null(), i == 5);
        EXPECT_EQ(KV_SshMacDef::find(rows[i].name), def);
        auto mac = KV_SshMac::create(rows[i].name);
        ASSERT_NE(mac, nullptr);
        EXPECT_EQ(mac->mac_len(), rows[i].mac_len);
        EXPECT_EQ(mac->key_len(), rows[i].key_len);
    }
    EXPECT_EQ(KV_SshMacDef::mac(6), nullptr);
    EXPECT_EQ(KV_SshMac::create("HMAC-SHA1"), nullptr);
    EXPECT_EQ(KV_SshMac::create("hmac-sha2-256"), nullptr);
    EXPECT_STREQ(KV_SshMacDef::list(false).data(),
                 "hmac-md5,hmac-sha1,hmac-ripemd160,hmac-sha1-96,hmac-md5-96");
    EXPECT_STREQ(KV_SshMacDef::list(true).data(),
                 "hmac-md5,hmac-sha1,hmac-ripemd160,hmac-sha1-96,hmac-md5-96,none");
}

// RFC 2202 (MD5, SHA-1) and RFC 2286 (RIPEMD-160) cases whose key is as long
// as the digest, the key length SSH derives. The MAC's input is the sequence
// number and then the data, so the message's first four bytes are the
// sequence number. Case 5 is the truncation case of the "-96" rows.
TEST(KvSshMac, RfcVectors)
{
    const std::string dd(50, '\xdd');
    struct Case
    {
        const char* mac;
        std::string key;
        std::string message;
        const char* digest;
        const char* source;
    };
    const Case cases[] = {
        {"hmac-md5", std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d",
         "RFC 2202 md5 1"},
        {"hmac-md5", std::string(16, '\xaa'), dd, "56be34521d144c88dbb8c733f0e8b3f6",
         "RFC 2202 md5 3"},
        {"hmac-md5", std::string(16, '\x0c'), "Test With Truncation",
         "56461ef2342edc00f9bab995690efd4c", "RFC 2202 md5 5"},
        {"hmac-md5-96", std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995",
         "RFC 2202 md5 5, 96 bits"},
        {"hmac-sha1", std::string(20, '\x0b'), "Hi There",
         "b617318655057264e28bc0b6fb378c8ef146be00", "RFC 2202 sha1 1"},
        {"hmac-sha1", std::string(20, '\xaa'), dd, "125d7342b9ac11cd91a39af48aa17b4f63f175d3",
         "RFC 2202 sha1 3"},
        {"hmac-sha1", std::string(20, '\x0c'), "Test With Truncation",
         "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04", "RFC 2202 sha1 5"},
        {"hmac-sha1-96", std::string(20, '\x0c'), "Test With Truncation",
         "4c1a03424b55e07fe7f27be1", "RFC 2202 sha1 5, 96 bits"},
        {"hmac-ripemd160", std::string(20, '\x0b'), "Hi There",
         "24cb4bd67d20fc1a5d2ed7732dcc39377f0a5668", "RFC 2286 1"},
        {"hmac-ripemd160", std::string(20, '\xaa'), dd, "b0b105360de759960ab4f35298e116e295d8e7c1",
         "RFC 2286 3"},
        {"hmac-ripemd160", std::string(20, '\x0c'), "Test With Truncation",
         "7619693978f91d90539ae786500ff3d8e0518e39", "RFC 2286 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto mac = KV_SshMac::create(c.mac);
        ASSERT_NE(mac, nullptr);
        ASSERT_TRUE(kvtest::put(mac->key(), c.key));
        const auto* m = reinterpret_cast<const unsigned char*>(c.message.data());
        const uint32_t seq = kv_get_be<uint32_t>(m);
        KV_Stream data;
        ASSERT_TRUE(kvtest::put(data, c.message.substr(4)));
        // Twice: the second restarts the keyed context.
        for (int round = 0; round < 2; ++round) {
            KV_Stream out;
            ASSERT_TRUE(kvtest::put(out, "x"));
            ASSERT_TRUE(mac->compute(out, seq, data));
            EXPECT_EQ(hex(out), "78" + std::string(c.digest));
        }
    }
}

TEST(KvSshMac, KeyTooShortOrEmptyRefused)
{
    auto mac = KV_SshMac::create("hmac-sha1-96");
    ASSERT_NE(mac, nullptr);
    KV_Stream data, out;
    ASSERT_TRUE(kvtest::put(data, "payload"));
    EXPECT_FALSE(mac->compute(out, 0, data)); // empty key
    ASSERT_TRUE(kvtest::put(mac->key(), std::string(19, 'k')));
    EXPECT_FALSE(mac->compute(out, 0, data)); // 19 of 20 bytes
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(kvtest::put(mac->key(), "k"));
    EXPECT_TRUE(mac->compute(out, 0, data));
    EXPECT_EQ(out.length(), 12u);

    // "none" has no key and nothing to compute.
    auto none = KV_SshMac::create("none");
    ASSERT_TRUE(kvtest::put(none->key(), "k"));
    EXPECT_FALSE(none->compute(out, 0, data));
}

// A new key given after the first MAC takes effect at the next one.
TEST(KvSshMac, NewKeyTakesEffect)
{
    auto a = KV_SshMac::create("hmac-md5");
    auto b = KV_SshMac::create("hmac-md5");
    ASSERT_TRUE(kvtest::put(a->key(), std::string(16, '\x0b')));
    ASSERT_TRUE(kvtest::put(b->key(), std::string(16, '\xaa')));
    KV_Stream data, first, again, other;
    ASSERT_TRUE(kvtest::put(data, "data"));
    ASSERT_TRUE(a->compute(first, 7, data));
    ASSERT_TRUE(b->compute(other, 7, data));
    a->key().clear();
    ASSERT_TRUE(kvtest::put(a->key(), std::string(16, '\xaa')));
    ASSERT_TRUE(a->compute(again, 7, data));
    EXPECT_NE(hex(first), hex(again));
    EXPECT_EQ(hex(other), hex(again));
}

} // namespace
