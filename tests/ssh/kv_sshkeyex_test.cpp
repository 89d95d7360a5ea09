#include "ssh/kv_sshkeyex.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshkey.h"
#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;

TEST(KvSshNegotiate, OurOrderWinsNamesExact)
{
    struct Case
    {
        const char* ours;
        const char* theirs;
        const char* chosen;
    };
    const Case cases[] = {
        {"aes128-cbc,3des-cbc", "3des-cbc,aes128-cbc", "aes128-cbc"},
        {"3des-cbc,aes128-cbc", "aes128-cbc,3des-cbc", "3des-cbc"},
        {"aes128-cbc", "AES128-CBC", ""},
        {" aes128-cbc , des", ",,des,aes128-cbc ", "aes128-cbc"},
        {"zlib,none", "none", "none"},
        {"hmac-sha1", "hmac-sha1-96", ""},
        {"", "none", ""},
        {"none", "", ""},
        {"des", "3des-cbc,des", "des"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ours) + " / " + c.theirs);
        KV_SshString ours(c.ours), theirs(c.theirs);
        EXPECT_STREQ(ssh_negotiate(ours, theirs).data(), c.chosen);
    }
}

// The default offer against OpenSSH 9's server offer as it is seen on the
// wire: the first name in common in our order.
TEST(KvSshNegotiate, DefaultOfferAgainstOpenSsh)
{
    const KV_String ciphers = KV_SshCipherDef::ciphers("none");
    KV_SshString ours_enc(ciphers.data());
    KV_SshString openssh("chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr,"
                         "aes128-gcm@openssh.com,aes256-gcm@openssh.com,aes256-cbc,aes192-cbc,"
                         "aes128-cbc");
    EXPECT_STREQ(ssh_negotiate(ours_enc, openssh).data(), "aes128-cbc");
    KV_SshString ours_mac(KV_SshMacDef::list(false).data());
    KV_SshString their_mac("umac-64-etm@openssh.com,hmac-sha2-256,hmac-sha1");
    EXPECT_STREQ(ssh_negotiate(ours_mac, their_mac).data(), "hmac-sha1");
    KV_SshString ours_comp(KV_SshComp::list(true).data());
    KV_SshString their_comp("none,zlib@openssh.com");
    EXPECT_STREQ(ssh_negotiate(ours_comp, their_comp).data(), "none");
    KV_SshString ours_key(KV_SshKeyTypeDef::list().data());
    KV_SshString their_key("rsa-sha2-512,rsa-sha2-256,ssh-rsa,ssh-ed25519");
    EXPECT_STREQ(ssh_negotiate(ours_key, their_key).data(), "ssh-rsa");
}

// The name-lists of a client offer, in message order.
const char* const lists[] = {"diffie-hellman-group1-sha1",
                             "ssh-rsa,ssh-dss",
                             "aes128-cbc",
                             "3des-cbc",
                             "hmac-sha1",
                             "hmac-md5",
                             "zlib,none",
                             "none,zlib",
                             "",
                             ""};

KV_SshKeyEx filled()
{
    KV_SshKeyEx k;
    for (uint32_t i = 0; i < KV_SSH_KEX_LISTS; ++i)
        k.list(i) = KV_SshString(lists[i]);
    return k;
}

TEST(KvSshKeyEx, WireFormRoundTrip)
{
    KV_SshKeyEx k = filled();
    KV_Stream wire;
    ASSERT_TRUE(k.write(wire));
    std::string expect = "14" + hex(k.cookie(), 16);
    for (const char* l : lists) {
        unsigned char len[4];
        kv_put_be(len, static_cast<uint32_t>(std::string(l).size()));
        expect += hex(len, 4) + hex(std::string(l));
    }
    expect += "00"
              "00000000";
    EXPECT_EQ(hex(wire), expect);

    // The reader starts after the number, which the session took off.
    EXPECT_EQ(wire.get(), 20);
    KV_SshKeyEx back;
    ASSERT_TRUE(back.read(wire));
    EXPECT_TRUE(wire.empty());
    EXPECT_EQ(hex(back.cookie(), 16), hex(k.cookie(), 16));
    for (uint32_t i = 0; i < KV_SSH_KEX_LISTS; ++i)
        EXPECT_EQ(bytes(back.list(i)), lists[i]);
    EXPECT_EQ(back.type(), 20);

    KV_SshKeyEx copy(k);
    EXPECT_EQ(hex(copy.cookie(), 16), hex(k.cookie(), 16));
    EXPECT_EQ(bytes(copy.list(KV_SSH_KEX_ENC_SC)), "3des-cbc");
}

TEST(KvSshKeyEx, CookiesAreRandom)
{
    KV_SshKeyEx a, b;
    EXPECT_NE(hex(a.cookie(), 16), hex(b.cookie(), 16));
}

// Every cut of a valid KEXINIT fails to read; so does a list whose length
// runs past the payload.
TEST(KvSshKeyEx, TruncatedOrOverlongRefused)
{
    KV_Stream wire;
    ASSERT_TRUE(filled().write(wire));
    const std::string full = bytes(wire).substr(1);
    for (size_t cut = 0; cut < full.size(); ++cut) {
        KV_Stream part;
        ASSERT_TRUE(put(part, full.substr(0, cut)));
        KV_SshKeyEx k;
        EXPECT_FALSE(k.read(part)) << cut;
    }
    std::string forged = full;
    forged[16] = '\x7f'; // first list's length 0x7f00001a
    KV_Stream part;
    ASSERT_TRUE(put(part, forged));
    KV_SshKeyEx k;
    EXPECT_FALSE(k.read(part));
}

TEST(KvSshKeyEx, SentPayloadIsKept)
{
    KV_SshDirParams tx, rx;
    KV_SshKeyEx k = filled();
    KV_Stream out;
    KV_String err;
    ASSERT_TRUE(k.send(out, tx, err, &k.payload()));
    KV_Stream expect;
    ASSERT_TRUE(k.write(expect));
    EXPECT_EQ(hex(k.payload()), hex(expect));
}

TEST(KvSshDirParams, TakeMovesObjectsSequenceStays)
{
    KV_SshDirParams cur, pending;
    ASSERT_TRUE(kvtest::ssh_dir_pair(pending, cur, "aes128-cbc", "hmac-sha1", "zlib"));
    for (int i = 0; i < 3; ++i)
        cur.next_seq();
    pending.next_seq();
    KV_SshCipher* c = pending.cipher();
    KV_SshMac* m = pending.mac();
    KV_SshComp* z = pending.comp();
    cur.take(pending);
    EXPECT_EQ(cur.cipher(), c);
    EXPECT_EQ(cur.mac(), m);
    EXPECT_EQ(cur.comp(), z);
    EXPECT_EQ(pending.cipher(), nullptr);
    EXPECT_EQ(pending.mac(), nullptr);
    EXPECT_EQ(pending.comp(), nullptr);
    EXPECT_EQ(cur.seq(), 3u);
    EXPECT_EQ(pending.seq(), 1u);

    KV_SshDirParams copy(cur);
    EXPECT_EQ(copy.cipher(), nullptr);
    EXPECT_EQ(copy.mac(), nullptr);
    EXPECT_EQ(copy.comp(), nullptr);
    EXPECT_EQ(copy.seq(), 3u);

    cur.set_cipher(nullptr);
    EXPECT_EQ(cur.cipher(), nullptr);
}

} // namespace
