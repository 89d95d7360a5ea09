#include "ssh/kv_sshpacket.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "ssh/kv_sshdirparams.h"
#include "ssh/kv_sshmsg.h"
#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

// Frames one payload under tx; the wire bytes.
std::string seal(KV_SshDirParams& tx, const std::string& payload)
{
    KV_SshPacket p;
    KV_Stream out;
    KV_String err;
    EXPECT_TRUE(put(p.payload(), payload));
    EXPECT_TRUE(p.prepare(tx));
    EXPECT_TRUE(p.write(out, tx, err)) << err.data();
    return bytes(out);
}

// The receiving end: the session's input buffer and its one packet object.
struct Receiver
{
    KV_SshDirParams& rx;
    KV_Stream in;
    KV_SshPacket packet;
    std::vector<std::string> got;
    KV_String err;

    explicit Receiver(KV_SshDirParams& dir) : rx(dir) {}

    // Adds bytes to the input and takes off every packet that is complete,
    // as the session does after each receive. False at the first failure.
    bool feed(const std::string& bytes)
    {
        if (!put(in, bytes))
            return false;
        for (;;) {
            bool complete = false;
            if (!packet.read_head(in, rx, complete, err))
                return false;
            if (!complete)
                return true;
            if (!packet.read_body(in, rx, err))
                return false;
            got.push_back(kvtest::bytes(packet.payload()));
        }
    }
};

TEST(KvSshPacket, PaddingTable)
{
    struct Case
    {
        const char* cipher;
        uint32_t payload;
        uint8_t padding;
        uint32_t length;
    };
    const Case cases[] = {
        {nullptr, 11, 8, 20},    {nullptr, 12, 7, 20},       {nullptr, 14, 5, 20},
        {nullptr, 15, 4, 20},    {nullptr, 16, 11, 28},      {nullptr, 0, 11, 12},
        {"3des-cbc", 11, 8, 20}, {"aes128-cbc", 28, 15, 44}, {"aes128-cbc", 0, 11, 12},
        {"arcfour", 16, 11, 28}, {"none", 12, 7, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cipher ? c.cipher : "no cipher") + " " +
                     std::to_string(c.payload));
        KV_SshDirParams tx, rx;
        ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, c.cipher, nullptr, nullptr));
        KV_SshPacket p;
        ASSERT_TRUE(put(p.payload(), std::string(c.payload, 'p')));
        ASSERT_TRUE(p.prepare(tx));
        EXPECT_EQ(p.padding_length(), c.padding);
        EXPECT_EQ(p.padding().length(), c.padding);
        EXPECT_EQ(p.packet_length(), c.length);
        KV_Stream out;
        KV_String err;
        ASSERT_TRUE(p.write(out, tx, err));
        EXPECT_EQ(out.length(), c.length + 4);
    }
}

TEST(KvSshPacket, ClearWireLayout)
{
    KV_SshDirParams tx;
    KV_SshPacket p;
    ASSERT_TRUE(put(p.payload(), "\x05hello"));
    ASSERT_TRUE(p.prepare(tx));
    KV_Stream out;
    KV_String err;
    ASSERT_TRUE(p.write(out, tx, err));
    const std::string wire = bytes(out);
    ASSERT_EQ(wire.size(), 16u);
    EXPECT_EQ(hex(wire.substr(0, 11)), "0000000c"
                                       "05"
                                       "0568656c6c6f");
    EXPECT_EQ(wire.substr(11), bytes(p.padding()));
    // The padding is random: two packets of the same payload differ.
    KV_SshPacket q;
    ASSERT_TRUE(put(q.payload(), std::string(20, 'x')));
    ASSERT_TRUE(q.prepare(tx));
    KV_SshPacket r;
    ASSERT_TRUE(put(r.payload(), std::string(20, 'x')));
    ASSERT_TRUE(r.prepare(tx));
    EXPECT_NE(hex(q.padding()), hex(r.padding()));
}

// The length is checked as soon as the first block is there, before the
// rest of a packet is waited for: a forged length never makes the input
// grow to it.
TEST(KvSshPacket, LengthLimits)
{
    struct Case
    {
        const char* head;
        bool ok;
        const char* err;
    };
    const Case cases[] = {
        {"00000004 00 000000", false, "Invalid packet length ( 4 )."},
        {"00000000 00 000000", false, "Invalid packet length ( 0 )."},
        {"00040001 00 000000", false, "Invalid packet length ( 262145 )."},
        {"ffffffff 00 000000", false, "Invalid packet length ( 4294967295 )."},
        {"00000005 00 000000", true, ""},
        {"00040000 00 000000", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        KV_SshDirParams rx;
        KV_SshPacket p;
        KV_Stream in;
        ASSERT_TRUE(put(in, unhex(c.head)));
        bool complete = true;
        KV_String err;
        EXPECT_EQ(p.read_head(in, rx, complete, err), c.ok);
        EXPECT_FALSE(complete);
        EXPECT_STREQ(err.data(), c.err);
    }
}

// Under a cipher the length is read from the decrypted first block.
TEST(KvSshPacket, KeyedLengthChecked)
{
    KV_SshDirParams tx, rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, "aes128-cbc", "hmac-sha1", nullptr));
    unsigned char block[16] = {0x00, 0x04, 0x00, 0x01};
    ASSERT_TRUE(tx.cipher()->process(block, block, 16));
    Receiver r(rx);
    EXPECT_FALSE(r.feed(std::string(reinterpret_cast<char*>(block), 16)));
    EXPECT_STREQ(r.err.data(), "Invalid packet length ( 262145 ).");
}

struct Combo
{
    const char* cipher;
    const char* mac;
    const char* comp;
    std::string name() const
    {
        return std::string(cipher ? cipher : "-") + "/" + (mac ? mac : "-") + "/" +
               (comp ? comp : "-");
    }
};

// Every cipher, MAC and compression of the tables, and none in force of
// each.
std::vector<Combo> all_combos()
{
    std::vector<Combo> combos;
    std::vector<const char*> ciphers{nullptr}, macs{nullptr};
    for (uint32_t i = 0; i < KV_SshCipherDef::nciphers(); ++i)
        ciphers.push_back(KV_SshCipherDef::cipher(i)->name());
    for (uint32_t i = 0; i < KV_SshMacDef::nmacs(); ++i)
        macs.push_back(KV_SshMacDef::mac(i)->name());
    for (const char* c : ciphers)
        for (const char* m : macs)
            for (const char* z : {static_cast<const char*>(nullptr), "none", "zlib"})
                combos.push_back({c, m, z});
    return combos;
}

const std::vector<std::string>& payloads()
{
    static const std::vector<std::string> p = {
        "\x15",
        std::string(),
        "\x5e\x00\x00\x00\x00\x00\x00\x00\x05hello",
        kvtest::ramp(3, 255),
        std::string(1000, 'z'),
    };
    return p;
}

// Each combination seals a run of payloads and opens them again with the
// bytes arriving one at a time: every byte boundary is a boundary between
// two reads, and each packet is taken exactly once, when its last byte is in.
TEST(KvSshPacket, EveryComboByteByByte)
{
    for (const Combo& c : all_combos()) {
        SCOPED_TRACE(c.name());
        KV_SshDirParams tx, rx;
        ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, c.cipher, c.mac, c.comp));
        Receiver r(rx);
        for (const std::string& p : payloads()) {
            const std::string wire = seal(tx, p);
            for (size_t i = 0; i < wire.size(); ++i) {
                const size_t before = r.got.size();
                ASSERT_TRUE(r.feed(wire.substr(i, 1))) << r.err.data();
                ASSERT_EQ(r.got.size(), before + (i + 1 == wire.size() ? 1 : 0)) << i;
            }
            EXPECT_EQ(hex(r.got.back()), hex(p));
            EXPECT_TRUE(r.in.empty());
        }
        EXPECT_EQ(tx.seq(), payloads().size());
        EXPECT_EQ(rx.seq(), payloads().size());
    }
}

// A packet cut in two at every place, after another packet in the same
// stream, so the chains run on.
TEST(KvSshPacket, SplitInTwoAtEveryByte)
{
    const Combo combos[] = {{"aes128-cbc", "hmac-sha1", "zlib"},
                            {"3des-cbc", "hmac-md5-96", nullptr},
                            {"arcfour", "hmac-ripemd160", "none"},
                            {nullptr, nullptr, nullptr}};
    for (const Combo& c : combos) {
        SCOPED_TRACE(c.name());
        KV_SshDirParams tx, rx;
        ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, c.cipher, c.mac, c.comp));
        Receiver r(rx);
        const std::string payload = kvtest::ramp(9, 70);
        ASSERT_TRUE(r.feed(seal(tx, payload)));
        r.got.clear();
        // Compressed packets shrink as the stream learns: cut every one
        // everywhere until a cut lies beyond the packet.
        for (size_t cut = 0;; ++cut) {
            const std::string wire = seal(tx, payload);
            if (cut > wire.size())
                break;
            ASSERT_TRUE(r.feed(wire.substr(0, cut))) << cut;
            ASSERT_TRUE(r.feed(wire.substr(cut))) << cut;
            ASSERT_EQ(r.got.size(), cut + 1);
            EXPECT_EQ(r.got.back(), payload);
        }
    }
}

// Several packets in one read are all taken.
TEST(KvSshPacket, ManyPacketsInOneRead)
{
    KV_SshDirParams tx, rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, "blowfish-cbc", "hmac-md5", "zlib"));
    std::string wire;
    for (const std::string& p : payloads())
        wire += seal(tx, p);
    Receiver r(rx);
    ASSERT_TRUE(r.feed(wire));
    EXPECT_EQ(r.got, payloads());
}

TEST(KvSshPacket, DamagedPacketsRefused)
{
    const std::string payload = kvtest::ramp(0x30, 40);
    struct Case
    {
        const char* what;
        int offset; // from the end when negative
        const char* err;
    };
    const Case cases[] = {
        {"last MAC byte", -1, "Invalid MAC received."},
        {"first MAC byte", -20, "Invalid MAC received."},
        {"payload byte", 20, "Invalid MAC received."},
        {"last padding byte", -21, "Invalid MAC received."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KV_SshDirParams tx, rx;
        ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, "aes192-cbc", "hmac-sha1", nullptr));
        std::string wire = seal(tx, payload);
        const size_t at = c.offset < 0 ? wire.size() + c.offset : static_cast<size_t>(c.offset);
        wire[at] = static_cast<char>(wire[at] ^ 0x01);
        Receiver r(rx);
        EXPECT_FALSE(r.feed(wire));
        EXPECT_STREQ(r.err.data(), c.err);
        EXPECT_TRUE(r.got.empty());
    }
}

// A MAC computed with the wrong sequence number is a wrong MAC.
TEST(KvSshPacket, SequenceNumberIsAuthenticated)
{
    KV_SshDirParams tx, rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, nullptr, "hmac-md5", nullptr));
    tx.next_seq();
    Receiver r(rx);
    EXPECT_FALSE(r.feed(seal(tx, "x")));
    EXPECT_STREQ(r.err.data(), "Invalid MAC received.");
}

// A padding length that leaves no room for the payload fails; in the clear
// (no MAC) it is the only check there is.
TEST(KvSshPacket, PaddingLongerThanPacketRefused)
{
    for (const char* wire :
         {"0000000c 0c 0000000000000000000000000000", "0000000c ff 0000000000000000000000000000"}) {
        SCOPED_TRACE(wire);
        KV_SshDirParams rx;
        Receiver r(rx);
        EXPECT_FALSE(r.feed(unhex(wire)));
        EXPECT_TRUE(r.got.empty());
    }
    KV_SshDirParams rx;
    Receiver r(rx);
    EXPECT_TRUE(r.feed(unhex("0000000c 0b 0000000000000000000000000000")));
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(r.got[0], "");
}

// Numbers count every packet from 0, with or without keys, and run on
// when the keys change.
TEST(KvSshPacket, SequenceRunsAcrossNewKeys)
{
    KV_SshDirParams tx, rx;
    Receiver r(rx);
    ASSERT_TRUE(r.feed(seal(tx, "\x14kexinit")));
    ASSERT_TRUE(r.feed(seal(tx, "\x15")));
    KV_SshDirParams tx_new, rx_new;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx_new, rx_new, "cast128-cbc", "hmac-sha1", "zlib"));
    tx.take(tx_new);
    rx.take(rx_new);
    EXPECT_EQ(tx.seq(), 2u);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(r.feed(seal(tx, "\x5e data"))) << r.err.data();
    EXPECT_EQ(r.got.size(), 5u);
    EXPECT_EQ(rx.seq(), 5u);
}

// Each direction has its own compressor: zlib one way, none the other.
TEST(KvSshPacket, CompressionPerDirection)
{
    KV_SshDirParams a_tx, b_rx, b_tx, a_rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(a_tx, b_rx, "aes128-cbc", "hmac-sha1", "zlib"));
    ASSERT_TRUE(kvtest::ssh_dir_pair(b_tx, a_rx, "aes128-cbc", "hmac-sha1", "none"));
    Receiver at_b(b_rx), at_a(a_rx);
    const std::string big(5000, 'q');
    const std::string there = seal(a_tx, big);
    const std::string back = seal(b_tx, big);
    EXPECT_LT(there.size(), 200u);
    EXPECT_GT(back.size(), 5000u);
    ASSERT_TRUE(at_b.feed(there));
    ASSERT_TRUE(at_a.feed(back));
    EXPECT_EQ(at_b.got.at(0), big);
    EXPECT_EQ(at_a.got.at(0), big);
}

// A payload that inflates beyond the largest packet is refused.
TEST(KvSshPacket, DecompressionBombRefused)
{
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    std::string zeros(0x40001, '\0');
    std::string packed(4096, '\0');
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&z, Z_PARTIAL_FLUSH), Z_OK);
    packed.resize(packed.size() - z.avail_out);
    deflateEnd(&z);

    KV_SshDirParams tx, rx;
    ASSERT_TRUE(kvtest::ssh_dir_pair(tx, rx, nullptr, "hmac-sha1", "zlib"));
    tx.set_comp(nullptr); // the bomb goes out as it is
    Receiver r(rx);
    EXPECT_FALSE(r.feed(seal(tx, packed)));
    EXPECT_TRUE(r.got.empty());
}

TEST(KvSshPacket, BodyOnlyWhenComplete)
{
    KV_SshDirParams tx, rx;
    const std::string wire = seal(tx, "abc");
    KV_SshPacket p;
    KV_Stream in;
    KV_String err;
    EXPECT_FALSE(p.read_body(in, rx, err));
    ASSERT_TRUE(put(in, wire.substr(0, 10)));
    bool complete = true;
    ASSERT_TRUE(p.read_head(in, rx, complete, err));
    EXPECT_FALSE(complete);
    EXPECT_FALSE(p.read_body(in, rx, err));
    EXPECT_EQ(rx.seq(), 0u);
    // A packet never prepared is not written.
    KV_SshPacket raw;
    KV_Stream out;
    EXPECT_FALSE(raw.write(out, tx, err));
    EXPECT_TRUE(out.empty());
}

} // namespace
