// Line assembly and Telnet refusals of the line command session, driven
// directly through its input hook (no socket, no thread).
#include "net/kv_telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Exposes the input hook and records the lines handed on.
class Lines : public KV_TelnetSess
{
public:
    Lines() : KV_TelnetSess(nullptr, no_sock(), KV_InetAddr()) {}

    // Feeds bytes as one receive; the result is the hook's.
    bool feed(const std::string& bytes)
    {
        if (!in.append(reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size())))
            return false;
        return process_in(in, out);
    }
    std::string pending() const
    {
        return std::string(reinterpret_cast<const char*>(static_cast<const unsigned char*>(in)),
                           in.length());
    }
    std::string answers() const
    {
        return std::string(reinterpret_cast<const char*>(static_cast<const unsigned char*>(out)),
                           out.length());
    }

    std::vector<std::string> lines;
    int keep = 0;     // calls that leave the line waiting (done false)
    int fail_at = -1; // the call (0-based) that answers false
    int calls = 0;

protected:
    bool process_cmd(bool& done) override
    {
        const int call = calls++;
        if (keep > 0) {
            --keep;
            done = false;
            return true;
        }
        lines.emplace_back(line.data(), line.length());
        return call != fail_at;
    }

private:
    static KV_Socket& no_sock()
    {
        static KV_Socket none;
        return none;
    }

    KV_Stream in;
    KV_Stream out;
};

std::string iac(uint8_t cmd, uint8_t opt)
{
    return std::string{char(0xFF), char(cmd), char(opt)};
}

TEST(KV_TelnetSess, RefusesEveryOption)
{
    struct Case
    {
        uint8_t cmd, opt;
        std::string answer;
    };
    // WONT and DONT name the state every option is in already: no answer.
    const Case cases[] = {
        {0xFD, 1, iac(0xFC, 1)}, // DO 1 -> WONT 1
        {0xFB, 3, iac(0xFE, 3)}, // WILL 3 -> DONT 3
        {0xFC, 5, ""},           // WONT 5
        {0xFE, 6, ""},           // DONT 6
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.cmd));
        Lines t;
        ASSERT_TRUE(t.feed(iac(c.cmd, c.opt)));
        EXPECT_EQ(t.answers(), c.answer);
        EXPECT_EQ(t.pending(), "");
        EXPECT_TRUE(t.lines.empty());
    }
}

// A peer that answers every negotiation the way a naive refuser does (DONT
// for WILL and WONT, WONT for DO and DONT) gets each of our answers back as
// a new negotiation. The exchange must die out instead of going on for ever.
TEST(KV_TelnetSess, AMirroringPeerDoesNotMakeTheNegotiationLoop)
{
    const auto mirror = [](const std::string& ours) {
        std::string back;
        for (size_t i = 0; i + 3 <= ours.size(); i += 3) {
            const uint8_t cmd = static_cast<uint8_t>(ours[i + 1]);
            back +=
                iac(cmd == 0xFB || cmd == 0xFC ? 0xFE : 0xFC, static_cast<uint8_t>(ours[i + 2]));
        }
        return back;
    };
    for (uint8_t first : {uint8_t(0xFB), uint8_t(0xFC), uint8_t(0xFD), uint8_t(0xFE)}) {
        SCOPED_TRACE(int(first));
        Lines t;
        std::string to_us = iac(first, 24);
        int rounds = 0;
        size_t seen = 0;
        while (!to_us.empty() && rounds < 10) {
            ASSERT_TRUE(t.feed(to_us));
            const std::string ours = t.answers().substr(seen);
            seen = t.answers().size();
            to_us = mirror(ours);
            ++rounds;
        }
        EXPECT_TRUE(to_us.empty()) << "still negotiating after " << rounds << " rounds";
        EXPECT_LE(t.answers().size(), 3u);
    }
}

TEST(KV_TelnetSess, IncompleteNegotiationWaitsForItsOptionByte)
{
    Lines t;
    ASSERT_TRUE(t.feed("\xFF"));
    ASSERT_TRUE(t.feed("\xFD"));
    EXPECT_EQ(t.pending(), "\xFF\xFD");
    EXPECT_EQ(t.answers(), "");
    ASSERT_TRUE(t.feed(std::string(1, '\x18')));
    EXPECT_EQ(t.answers(), iac(0xFC, 0x18));
    EXPECT_EQ(t.pending(), "");
}

TEST(KV_TelnetSess, LinesEndAtCrOrLf)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"CR LF", {"220 Ready\r\n"}, {"220 Ready"}},
        {"LF only", {"a\nb\n"}, {"a", "b"}},
        {"CR only", {"a\rb\r"}, {"a", "b"}},
        {"empty lines dropped", {"\r\n\r\n\nx\r\n"}, {"x"}},
        {"split line", {"22", "0 hi", "\r", "\n"}, {"220 hi"}},
        {"no end yet", {"230 partial"}, {}},
        {"8-bit bytes kept", {"\xC3\xA9t\xC3\xA9\r\n"}, {"\xC3\xA9t\xC3\xA9"}},
        {"negotiation inside a line",
         {"12\xFF\xFB\x01"
          "3\r\n"},
         {"123"}},
        {"one byte at a time", {"2", "5", "7", "\r", "\n", "x", "\n"}, {"257", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lines t;
        for (const std::string& chunk : c.chunks)
            ASSERT_TRUE(t.feed(chunk));
        EXPECT_EQ(t.lines, c.lines);
    }
}

// Telnet commands other than the four negotiations must never stall the
// input: what follows them is still read.
TEST(KV_TelnetSess, OtherCommandsAreConsumed)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"IAC IAC is a 0xFF data byte",
         std::string("a\xFF\xFF"
                     "b\r\n"),
         {"a\xFF"
          "b"}},
        {"NOP",
         std::string("\xFF\xF1"
                     "200 ok\r\n"),
         {"200 ok"}},
        {"GA between lines",
         std::string("1\r\n\xFF\xF9"
                     "2\r\n"),
         {"1", "2"}},
        {"invalid byte after IAC",
         std::string("\xFF\x20"
                     "x\n"),
         {"x"}},
        {"subnegotiation dropped",
         std::string("\xFF\xFA\x18\x01"
                     "junk\xFF\xFF\r\n\xFF\xF0"
                     "ok\n"),
         {"ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lines t;
        ASSERT_TRUE(t.feed(c.bytes));
        EXPECT_EQ(t.lines, c.lines);
        EXPECT_EQ(t.pending(), "");
    }
    // The same, one byte per receive.
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", byte by byte");
        Lines t;
        for (char b : c.bytes)
            ASSERT_TRUE(t.feed(std::string(1, b)));
        EXPECT_EQ(t.lines, c.lines);
    }
}

TEST(KV_TelnetSess, OverlongLineFails)
{
    Lines t;
    std::string chunk(4096, 'x');
    bool ok = true;
    for (uint32_t sent = 0; ok && sent <= KV_TelnetSess::max_line; sent += 4096)
        ok = t.feed(chunk);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(t.lines.empty());

    // Exactly the limit still passes.
    Lines u;
    ASSERT_TRUE(u.feed(std::string(KV_TelnetSess::max_line, 'y') + "\n"));
    ASSERT_EQ(u.lines.size(), 1u);
    EXPECT_EQ(u.lines[0].size(), KV_TelnetSess::max_line);
}

TEST(KV_TelnetSess, KeptLineIsOfferedAgainAndNegotiationsStillAnswered)
{
    Lines t;
    t.keep = 2;
    ASSERT_TRUE(t.feed("first\r\n" + iac(0xFD, 7) + "second\n"));
    EXPECT_EQ(t.lines, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(t.calls, 4);
    EXPECT_EQ(t.answers(), iac(0xFC, 7));
}

TEST(KV_TelnetSess, FalseFromTheHookConsumesTheLineAndFails)
{
    Lines t;
    t.fail_at = 0;
    EXPECT_FALSE(t.feed("bad\r\nnext\r\n"));
    EXPECT_EQ(t.lines, (std::vector<std::string>{"bad"}));
    EXPECT_EQ(t.type(), KV_SESS_TYPE_TELNET);
}

} // namespace
