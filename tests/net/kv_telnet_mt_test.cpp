// The line command connection end to end: command lines out (with a masked
// log line), reply lines in, Telnet refusals on the wire.
#include "net/kv_telnet.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"

namespace {

using namespace kvtest;

class ReplySess : public KV_TelnetSess
{
public:
    using KV_TelnetSess::KV_TelnetSess;

    std::vector<std::string> replies() const
    {
        std::lock_guard<std::mutex> g(m_);
        return replies_;
    }

protected:
    bool process_cmd(bool&) override
    {
        std::lock_guard<std::mutex> g(m_);
        replies_.emplace_back(line.data(), line.length());
        return true;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> replies_;
};

class TestTelnet : public KV_TelnetMan
{
public:
    TestTelnet()
    {
        set_informer(&informer_);
        set_tavo_id(3);
    }
    ~TestTelnet() override { close_sessions(); }

    const KV_String& dst_addr() const override { return dst_; }
    const KV_SessOpts& sess_params() const override { return opts; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override
    {
        auto* s = new ReplySess(this, sock, addr);
        sess = s;
        return s;
    }

    KV_SessOpts opts;
    KV_Informer informer_;
    SessLog log{informer_};
    ReplySess* sess = nullptr;

private:
    KV_String dst_{"127.0.0.1"};
};

TEST(KV_TelnetMan, CommandsAndRepliesAsLines)
{
    PlainServer server;
    TestTelnet t;
    KV_InetAddr local;
    ASSERT_TRUE(t.open(local, server.addr(), nullptr));
    t.wait_open();
    Fd peer = server.accept();
    ASSERT_TRUE(peer.ok());

    ASSERT_TRUE(peer.write_all(std::string("220 Welcome\r\n\xFF\xFD\x01"
                                           "230 ") +
                               "in\r\n"));
    EXPECT_EQ(peer.read_n(3), "\xFF\xFC\x01");
    ASSERT_TRUE(eventually([&] { return t.sess->replies().size() == 2; }));
    EXPECT_EQ(t.sess->replies(), (std::vector<std::string>{"220 Welcome", "230 in"}));

    // The secret goes to the server; the log shows the mask.
    EXPECT_TRUE(t.cmd("PASS secret", "PASS ******"));
    EXPECT_EQ(peer.read_n(13), "PASS secret\r\n");
    EXPECT_TRUE(t.log.has("PASS ******", KV_SESS_LOG_SENT));
    EXPECT_FALSE(t.log.has("PASS secret", KV_SESS_LOG_SENT));
    EXPECT_TRUE(t.cmd("NOOP", nullptr));
    EXPECT_EQ(peer.read_n(6), "NOOP\r\n");
    EXPECT_TRUE(t.log.has("NOOP", KV_SESS_LOG_SENT));

    // A command that carries a line end is never sent: the server would
    // read a second command from it.
    EXPECT_FALSE(t.cmd("RETR a\r\nDELE b", "RETR a"));
    EXPECT_FALSE(t.cmd("RETR a\nDELE b", nullptr));
    EXPECT_TRUE(t.cmd("QUIT", nullptr));
    EXPECT_EQ(peer.read_n(6), "QUIT\r\n");
}

// A destination without a port is reached on port 23. The connection is
// stopped first, so nothing is sent to a port the test did not pick.
TEST(KV_TelnetMan, OpenDefaultsToPort23)
{
    TestTelnet t;
    t.stop(KV_STOP_CANCEL);
    KV_InetAddr local;
    EXPECT_FALSE(t.open(local, KV_InetAddr("127.0.0.1", KV_Port(0)), nullptr));
    EXPECT_TRUE(t.log.has("Connecting ( 127.0.0.1 [ ip: 127.0.0.1 , port: 23 ] )"));
    EXPECT_TRUE(t.log.has("Failed"));
    EXPECT_TRUE(t.cmd("NOOP", nullptr));
}

} // namespace
