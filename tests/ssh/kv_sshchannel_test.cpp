#include "ssh/kv_sshchannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/kv_sshtest.h"

namespace {

using kvtest::bytes;
using kvtest::hex;
using kvtest::put;
using kvtest::unhex;

// The base's bookkeeping with nothing behind it.
class BareChannel : public KV_SshChannel
{
public:
    BareChannel() : KV_SshChannel(KV_SshString("sftp")) {}
    bool data_in(const KV_Stream& data, bool& need_adjust, uint32_t, uint8_t* const) override
    {
        return recv(data, need_adjust);
    }
    bool data_out() override { return true; }
};

KV_Stream chunk(size_t n)
{
    KV_Stream s;
    put(s, std::string(n, 'x'));
    return s;
}

TEST(KvSshChannel, RecvNeedsOpenChannelAndWindow)
{
    BareChannel c;
    bool adjust = true;
    EXPECT_FALSE(c.recv(chunk(10), adjust)) << "not confirmed yet";
    c.confirm(7, 100, 0);
    c.set_state(1);
    EXPECT_EQ(c.local_wnd(), KV_SshChannel::wnd_step);
    EXPECT_EQ(c.local_max_packet(), KV_SshChannel::max_packet);
    EXPECT_FALSE(c.recv(chunk(KV_SshChannel::wnd_step + 1), adjust)) << "beyond the window";
    EXPECT_EQ(c.in().length(), 0u);
}

// The window is topped up once half of it is used, back to the whole: a
// download keeps half a window in flight while the adjust travels.
TEST(KvSshChannel, WindowAdjustAtHalfUseRefillsTheWhole)
{
    constexpr uint32_t W = KV_SshChannel::wnd_step;
    // Totals received before and with one more data message, and whether
    // that message asks for an adjust.
    struct Case
    {
        uint32_t before;
        uint32_t n;
        bool adjust;
    };
    const Case cases[] = {
        {0, W / 2 - 1, false}, // one byte more than half left
        {0, W / 2, true},      // exactly half left
        {W / 2 - 1, 1, true},  // crosses with the last byte
        {W / 4, W / 8, false}, // well within
        {0, W, true},          // the whole window at once
        {0, 0x8000, false},    // one packet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + c.n);
        BareChannel ch;
        ch.confirm(1, 0, 0);
        ch.set_state(1);
        bool adjust = false;
        if (c.before) {
            ASSERT_TRUE(ch.recv(chunk(c.before), adjust));
            ASSERT_FALSE(adjust);
        }
        ASSERT_TRUE(ch.recv(chunk(c.n), adjust));
        EXPECT_EQ(adjust, c.adjust);
        EXPECT_EQ(ch.in().length(), c.before + c.n);
        // The adjust gives back exactly what was used, never more than the
        // whole window.
        EXPECT_EQ(ch.wnd_refill(), c.before + c.n);
        if (adjust) {
            ch.local_wnd_add(ch.wnd_refill());
            EXPECT_EQ(ch.local_wnd(), W);
            EXPECT_EQ(ch.wnd_refill(), 0u);
            EXPECT_TRUE(ch.recv(chunk(1), adjust));
            EXPECT_FALSE(adjust) << "the adjust refilled the window";
        }
    }
}

TEST(KvSshChannel, TakeOutBoundedByWindowAndMaxPacket)
{
    struct Case
    {
        uint32_t wnd;
        uint32_t max_packet;
        uint32_t queued;
        uint32_t first;
    };
    const Case cases[] = {
        {1000, 0, 5000, 1000},   // the window
        {10000, 0, 5000, 5000},  // max packet 0: no limit but the window
        {10000, 300, 5000, 300}, // the server's packet limit
        {0, 0, 5000, 0},         // no window: nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        BareChannel ch;
        ch.confirm(3, c.wnd, c.max_packet);
        ch.set_state(1);
        ASSERT_TRUE(put(ch.out(), std::string(c.queued, 'q')));
        KV_Stream dest;
        ASSERT_TRUE(ch.take_out(dest));
        EXPECT_EQ(dest.length(), c.first);
        EXPECT_EQ(ch.out().length(), c.queued - c.first);
        EXPECT_EQ(ch.remote_wnd(), c.wnd - c.first);
    }
    // The server's adjust opens the window again; a huge one saturates.
    BareChannel ch;
    ch.confirm(3, 10, 0);
    ch.remote_wnd_add(20);
    EXPECT_EQ(ch.remote_wnd(), 30u);
    ch.remote_wnd_add(UINT32_MAX);
    EXPECT_EQ(ch.remote_wnd(), UINT32_MAX);
}

TEST(KvSshChannelMan, NumbersAndOwnership)
{
    KV_SshChannelMan cm;
    EXPECT_EQ(cm.new_id(), 1u);
    ASSERT_TRUE(cm.add(1, new BareChannel));
    ASSERT_TRUE(cm.add(2, new BareChannel));
    EXPECT_EQ(cm.new_id(), 3u);
    auto dup = std::make_unique<BareChannel>();
    EXPECT_FALSE(cm.add(2, dup.get())) << "a number in use";
    EXPECT_TRUE(cm.remove(1));
    EXPECT_FALSE(cm.remove(1));
    EXPECT_EQ(cm.find(1), nullptr);
    EXPECT_NE(cm.find(2), nullptr);
    EXPECT_EQ(cm.new_id(), 1u);
    ASSERT_TRUE(cm.add(513, new BareChannel)) << "same bucket as 1";
    EXPECT_EQ(cm.new_id(), 1u);
    cm.clear();
    EXPECT_EQ(cm.find(2), nullptr);
}

// Frames one reply: length, type, body.
std::string frame(uint8_t type, const std::string& body_hex)
{
    const std::string body = unhex(body_hex);
    std::string f(4, '\0');
    const uint32_t len = static_cast<uint32_t>(body.size() + 1);
    f[0] = static_cast<char>(len >> 24);
    f[1] = static_cast<char>(len >> 16);
    f[2] = static_cast<char>(len >> 8);
    f[3] = static_cast<char>(len);
    return f + static_cast<char>(type) + body;
}

// Cuts every whole message off `in`; the types in order, then "bad" when
// the stream was refused.
std::vector<std::string> cut_all(KV_Stream& in)
{
    std::vector<std::string> got;
    for (;;) {
        std::unique_ptr<KV_SftpMsg> m;
        const KV_SFTP_CUT r = KV_SshChannelSftp::cut_msg(in, m);
        if (r == KV_SFTP_CUT_MORE)
            return got;
        if (r == KV_SFTP_CUT_BAD) {
            got.push_back("bad");
            return got;
        }
        got.push_back(std::string(m->describe().data()));
    }
}

TEST(KvSshChannelSftp, FramingOfReplies)
{
    const std::string status_no_lang = frame(101, "00000005 00000004 00000004 6f6f7073");
    const std::string data = frame(103, "00000006 00000003 616263");
    const std::string version_ext = frame(2, "00000003 00000003 6b6579 00000001 76");
    const std::string status_lang = frame(101, "00000007 00000001 00000003 454f46 00000002 656e");
    struct Case
    {
        const char* name;
        std::string bytes;
        std::vector<std::string> msgs;
        uint32_t left;
    };
    const Case cases[] = {
        {"STATUS without language tag, then DATA",
         status_no_lang + data,
         {"STATUS 4 oops", "DATA"},
         0},
        {"VERSION with extension pairs, then STATUS with a tag",
         version_ext + status_lang,
         {"VERSION ( 3 )", "STATUS 1 EOF"},
         0},
        {"four bytes announcing 0 are not parsed", std::string(4, '\0'), {}, 4},
        {"L = 0 is refused once a fifth byte is there", std::string(4, '\0') + "\x65", {"bad"}, 5},
        {"L = 2^32 - 1", unhex("ffffffff 65"), {"bad"}, 5},
        {"L just above the cap", unhex("00040401 67"), {"bad"}, 5},
        {"L at the cap waits for its bytes", unhex("00040400 67"), {}, 5},
        {"an unknown kind", frame(1, "00000003"), {"bad"}, 9},
        {"DATA claiming more than its L",
         frame(103, "00000006 00000009 616263") + data,
         {"bad"},
         16 + 16},
        {"half a message waits", data.substr(0, 9), {}, 9},
        {"a whole and a partial one", data + data.substr(0, 6), {"DATA"}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_Stream in;
        put(in, c.bytes);
        EXPECT_EQ(cut_all(in), c.msgs);
        EXPECT_EQ(in.length(), c.left);
    }
}

TEST(KvSshChannelSftp, SplitMessageCompletesWithItsLastByte)
{
    std::string all;
    for (int i = 0; i < 3; ++i)
        all += frame(103, "0000000" + std::to_string(i) + " 00000002 6869");
    KV_Stream in;
    std::vector<std::string> got;
    for (char ch : all) {
        in.append(reinterpret_cast<const unsigned char*>(&ch), 1);
        for (const std::string& s : cut_all(in))
            got.push_back(s);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"DATA", "DATA", "DATA"}));
    EXPECT_EQ(in.length(), 0u);
}

TEST(KvSshChannelSftp, FramesOutgoingMessages)
{
    KV_Stream out;
    KV_SftpMsgInit init(3);
    ASSERT_TRUE(KV_SshChannelSftp::frame_msg(out, init));
    KV_SftpMsgRealPath rp{KV_SshString("")};
    rp.set_id(1);
    ASSERT_TRUE(KV_SshChannelSftp::frame_msg(out, rp));
    EXPECT_EQ(hex(out), "00000005"
                        "0100000003"
                        "00000009"
                        "10"
                        "00000001"
                        "00000000");
}

} // namespace
