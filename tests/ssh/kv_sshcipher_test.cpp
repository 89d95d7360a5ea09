#include "ssh/kv_sshcipher.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>

namespace {

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
    }
    EXPECT_EQ(KV_SshCipherDef::cipher(9), nullptr);
    EXPECT_EQ(KV_SshCipherDef::cipher(UINT32_MAX), nullptr);
}

} // namespace
