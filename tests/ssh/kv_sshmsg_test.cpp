#include "ssh/kv_sshmsg.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshpacket.h"
#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;

// A storage over fixed bytes that hands out at most `step` bytes a read,
// like a file or socket, and is no KV_Stream.
class Pieces : public KV_Storage
{
public:
    Pieces(std::string b, uint32_t s) : data(std::move(b)), step(s) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        const size_t k = std::min<size_t>({n, data.size() - pos, step});
        std::memcpy(dst, data.data() + pos, k);
        pos += k;
        return static_cast<uint32_t>(k);
    }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }
    bool opened() const override { return open_; }

    std::string data;
    size_t pos = 0;
    uint32_t step;
    bool open_ = true;
};

TEST(KvSshString, WireForm)
{
    struct Case
    {
        std::string text;
        std::string wire;
    };
    const Case cases[] = {
        {"", "00000000"},
        {"ssh-userauth", "0000000c7373682d7573657261757468"},
        {std::string("a\0b", 3), "00000003610062"},
        {std::string(300, 'x'), "0000012c" + hex(std::string(300, 'x'))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire.substr(0, 8));
        KV_SshString s;
        ASSERT_TRUE(put(s, c.text));
        KV_Stream out;
        ASSERT_TRUE(s.write(out));
        EXPECT_EQ(hex(out), c.wire);
        // Back from a stream, with a byte after it left alone.
        ASSERT_TRUE(put(out, "!"));
        KV_SshString back("old");
        ASSERT_TRUE(back.read(out));
        EXPECT_EQ(bytes(back), c.text);
        EXPECT_EQ(bytes(out), "!");
        // And from a storage that gives a byte at a time.
        Pieces p(kvtest::unhex(c.wire), 1);
        KV_SshString slow;
        ASSERT_TRUE(slow.read(p));
        EXPECT_EQ(bytes(slow), c.text);
    }
    EXPECT_EQ(bytes(KV_SshString("text")), "text");
    EXPECT_TRUE(KV_SshString(nullptr).empty());
}

// The length comes from the peer: beyond the bytes that are there it fails
// and leaves the string empty, from a stream and from any other storage.
TEST(KvSshString, LengthBeyondDataRefused)
{
    for (const char* wire : {"00000005616263", "ffffffff616263", "7fffffff", "000000"}) {
        SCOPED_TRACE(wire);
        KV_Stream st;
        ASSERT_TRUE(put(st, kvtest::unhex(wire)));
        KV_SshString s("previous");
        EXPECT_FALSE(s.read(st));
        EXPECT_TRUE(s.empty());
        Pieces p(kvtest::unhex(wire), 4096);
        KV_SshString t("previous");
        EXPECT_FALSE(t.read(p));
        EXPECT_TRUE(t.empty());
    }
    Pieces closed(kvtest::unhex("00000000"), 4);
    closed.open_ = false;
    KV_SshString s;
    EXPECT_FALSE(s.read(closed));
    EXPECT_FALSE(s.write(closed));
}

std::string wire_of(const KV_SshTlMsg& m)
{
    KV_Stream out;
    EXPECT_TRUE(m.write(out));
    return hex(out);
}

std::string str(const std::string& s)
{
    unsigned char len[4];
    kv_put_be(len, static_cast<uint32_t>(s.size()));
    return hex(len, 4) + hex(s);
}

TEST(KvSshTlMsg, EveryKindByteExact)
{
    BIGNUM* e = nullptr;
    ASSERT_GT(BN_hex2bn(&e, "80ff"), 0);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> hold(e, BN_free);

    KV_SshTlMsgChannelData data(7);
    ASSERT_TRUE(put(data.data(), "SFTP"));

    struct Case
    {
        const KV_SshTlMsg& msg;
        uint8_t type;
        std::string wire;
    };
    const KV_SshTlMsgIgnore ignore(KV_SshString("Kivrel TEST"));
    const KV_SshTlMsgServiceReq service("ssh-userauth");
    const KV_SshTlMsgNewKeys newkeys;
    const KV_SshTlMsgKexDhInit dh(e);
    const KV_SshTlMsgAuthReq auth("joe", "none", "ssh-connection");
    const KV_SshTlMsgAuthReqPass pass("joe", "secret", "ssh-connection");
    const KV_SshTlMsgChannelOpen open(0, 0x200000, 0x8000, "session");
    const KV_SshTlMsgChannelWndAdjust adjust(3, 0x10000);
    const KV_SshTlMsgChannelReq req(2, "shell");
    const KV_SshTlMsgChannelReqSubsys subsys(2, "sftp");
    const Case cases[] = {
        {ignore, 2, "02" + str("Kivrel TEST")},
        {service, 5, "05" + str("ssh-userauth")},
        {newkeys, 21, "15"},
        {dh, 30,
         "1e"
         "00000003"
         "0080ff"},
        {auth, 50, "32" + str("joe") + str("ssh-connection") + str("none")},
        // The password request as RFC 4252 section 8 lays it out.
        {pass, 50,
         "32" + str("joe") + str("ssh-connection") + str("password") + "00" + str("secret")},
        {open, 90,
         "5a" + str("session") +
             "00000000"
             "00200000"
             "00008000"},
        {adjust, 93,
         "5d"
         "00000003"
         "00010000"},
        {data, 94,
         "5e"
         "00000007" +
             str("SFTP")},
        {req, 98,
         "62"
         "00000002" +
             str("shell") + "00"},
        {subsys, 98,
         "62"
         "00000002" +
             str("subsystem") + "00" + str("sftp")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire.substr(0, 2));
        EXPECT_EQ(c.msg.type(), c.type);
        EXPECT_EQ(wire_of(c.msg), c.wire);
    }
}

TEST(KvSshTlMsg, IgnoreReadsItsString)
{
    KV_Stream in;
    ASSERT_TRUE(put(in, kvtest::unhex(str("padding") + "ff")));
    KV_SshTlMsgIgnore msg;
    ASSERT_TRUE(msg.read(in));
    EXPECT_EQ(bytes(msg.data()), "padding");
    EXPECT_EQ(hex(in), "ff");
    KV_Stream cut;
    ASSERT_TRUE(put(cut, kvtest::unhex("0000000870616464")));
    EXPECT_FALSE(msg.read(cut));
}

// send() frames the message: the receiving end gets the same payload back,
// under every packet protection; a message that cannot be written sends
// nothing.
TEST(KvSshTlMsg, SendFramesOnePacket)
{
    KV_SshDirParams tx, rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, "aes256-cbc", "hmac-sha1-96", "zlib"));
    const KV_SshTlMsgServiceReq msg("ssh-userauth");
    KV_Stream wire;
    KV_String err;
    KV_SshString copy;
    ASSERT_TRUE(msg.send(wire, tx, err, &copy));
    EXPECT_EQ(hex(copy), wire_of(msg));
    EXPECT_EQ(tx.seq(), 1u);

    KV_SshPacket in;
    bool complete = false;
    ASSERT_TRUE(in.read_head(wire, rx, complete, err));
    ASSERT_TRUE(complete);
    ASSERT_TRUE(in.read_body(wire, rx, err));
    EXPECT_EQ(hex(in.payload()), wire_of(msg));
    EXPECT_TRUE(wire.empty());

    const KV_SshTlMsgKexDhInit nothing(nullptr);
    KV_Stream none;
    EXPECT_FALSE(nothing.send(none, tx, err));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(tx.seq(), 1u);
}

} // namespace
