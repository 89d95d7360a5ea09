#include "ssh/kv_sshcomp.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::put;

TEST(KvSshComp, ListAndFactory)
{
    EXPECT_STREQ(KV_SshComp::list(true).data(), "zlib,none");
    EXPECT_STREQ(KV_SshComp::list(false).data(), "none,zlib");
    auto none = KV_SshComp::create("none");
    auto zlib = KV_SshComp::create("zlib");
    ASSERT_NE(none, nullptr);
    ASSERT_NE(zlib, nullptr);
    EXPECT_FALSE(none->active());
    EXPECT_TRUE(zlib->active());
    EXPECT_NE(dynamic_cast<KV_SshCompNone*>(none.get()), nullptr);
    EXPECT_NE(dynamic_cast<KV_SshCompZlib*>(zlib.get()), nullptr);
    EXPECT_EQ(KV_SshComp::create("ZLIB"), nullptr);
    EXPECT_EQ(KV_SshComp::create("zlib@openssh.com"), nullptr);
    EXPECT_EQ(KV_SshComp::create(""), nullptr);
}

// Payloads of a few packets: text, incompressible bytes, an empty one, and
// one of several 4 KiB output steps.
std::string payload(int i)
{
    switch (i % 4) {
    case 0:
        return "SSH_FXP_READ handle " + std::to_string(i) + std::string(300, 'a');
    case 1:
        return kvtest::ramp(static_cast<unsigned char>(i * 37), 1000);
    case 2:
        return std::string();
    default: {
        std::string s;
        for (int k = 0; k < 30000; ++k)
            s += static_cast<char>((k * 7919 + i) >> 3);
        return s;
    }
    }
}

// One zlib stream across packets: every packet decompresses on arrival.
TEST(KvSshCompZlib, StreamRunsAcrossPackets)
{
    KV_SshCompZlib tx, rx;
    ASSERT_TRUE(tx.init(true));
    ASSERT_TRUE(rx.init(false));
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        KV_Stream in, packed, back;
        ASSERT_TRUE(put(in, payload(i)));
        ASSERT_TRUE(tx.process(in, packed));
        EXPECT_EQ(packed.empty(), in.empty());
        ASSERT_TRUE(rx.process(packed, back));
        EXPECT_EQ(bytes(back), payload(i));
    }
}

// The other end is plain zlib with partial flushes, as every SSH peer runs it.
TEST(KvSshCompZlib, SpeaksPlainZlib)
{
    z_stream peer{};
    ASSERT_EQ(deflateInit(&peer, 6), Z_OK);
    KV_SshCompZlib rx;
    ASSERT_TRUE(rx.init(false));
    for (int i : {0, 1, 3}) {
        const std::string text = payload(i);
        unsigned char buf[70000];
        peer.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        peer.avail_in = static_cast<uInt>(text.size());
        peer.next_out = buf;
        peer.avail_out = sizeof buf;
        ASSERT_EQ(deflate(&peer, Z_PARTIAL_FLUSH), Z_OK);
        KV_Stream packed, back;
        ASSERT_TRUE(packed.append(buf, static_cast<uint32_t>(sizeof buf - peer.avail_out)));
        ASSERT_TRUE(rx.process(packed, back));
        EXPECT_EQ(bytes(back), text);
    }
    deflateEnd(&peer);

    KV_SshCompZlib tx;
    ASSERT_TRUE(tx.init(true));
    z_stream me{};
    ASSERT_EQ(inflateInit(&me), Z_OK);
    KV_Stream in, packed;
    ASSERT_TRUE(put(in, payload(3)));
    ASSERT_TRUE(tx.process(in, packed));
    std::string out(40000, '\0');
    me.next_in = const_cast<Bytef*>(static_cast<const unsigned char*>(packed));
    me.avail_in = packed.length();
    me.next_out = reinterpret_cast<Bytef*>(out.data());
    me.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(inflate(&me, Z_SYNC_FLUSH), Z_OK);
    out.resize(out.size() - me.avail_out);
    EXPECT_EQ(out, payload(3));
    inflateEnd(&me);
}

TEST(KvSshCompZlib, UnstartedEmptyAndEndedStreams)
{
    KV_SshCompZlib z;
    KV_Stream in, out;
    ASSERT_TRUE(put(in, "x"));
    EXPECT_FALSE(z.process(in, out)); // not started
    ASSERT_TRUE(z.init(false));
    KV_Stream empty;
    EXPECT_TRUE(z.process(empty, out));
    EXPECT_TRUE(out.empty());

    // A stream that ends (Z_FINISH) is not an SSH payload.
    unsigned char buf[64];
    uLongf n = sizeof buf;
    ASSERT_EQ(compress(buf, &n, reinterpret_cast<const Bytef*>("hello"), 5), Z_OK);
    KV_Stream finished;
    ASSERT_TRUE(finished.append(buf, static_cast<uint32_t>(n)));
    EXPECT_FALSE(z.process(finished, out));

    // Garbage is refused, and init starts over.
    KV_SshCompZlib g;
    ASSERT_TRUE(g.init(false));
    KV_Stream junk;
    ASSERT_TRUE(put(junk, "\xff\xff\xff\xff junk"));
    EXPECT_FALSE(g.process(junk, out));
    ASSERT_TRUE(g.init(false));
    KV_SshCompZlib tx;
    ASSERT_TRUE(tx.init(true));
    KV_Stream packed, back;
    ASSERT_TRUE(tx.process(in, packed));
    ASSERT_TRUE(g.process(packed, back));
    EXPECT_EQ(bytes(back), "x");
}

// A few hundred bytes that inflate past the largest packet are refused
// instead of filling memory; a payload of exactly the limit passes.
TEST(KvSshCompZlib, DecompressionBombRefused)
{
    for (uint32_t size : {KV_SshCompZlib::max_inflated, KV_SshCompZlib::max_inflated + 1,
                          16 * KV_SshCompZlib::max_inflated}) {
        SCOPED_TRACE(size);
        KV_SshCompZlib tx, rx;
        ASSERT_TRUE(tx.init(true));
        ASSERT_TRUE(rx.init(false));
        KV_Stream in, packed, back;
        ASSERT_TRUE(put(in, std::string(size, '\0')));
        ASSERT_TRUE(tx.process(in, packed));
        EXPECT_LT(packed.length(), 20000u);
        EXPECT_EQ(rx.process(packed, back), size <= KV_SshCompZlib::max_inflated);
        EXPECT_LE(back.length(), KV_SshCompZlib::max_inflated);
    }
}

} // namespace
