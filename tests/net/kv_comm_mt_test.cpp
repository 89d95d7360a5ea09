// Connectors and listeners: opening, refusals, stops and time-outs of a
// pending connection, the listener's port 0, the peers a listener accepts,
// one live session per connection, and the owner's waits.
#include "net/kv_comm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "net/kv_session.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"

namespace {

using namespace kvtest;
using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(KV_Connector, ConnectFillsTheEmptyLocalAddress)
{
    PlainServer server;
    ASSERT_TRUE(server.ok());
    TestConnector conn(record_sessions());
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    EXPECT_TRUE(conn.connected());
    EXPECT_EQ(KV_String(local), KV_String("127.0.0.1"));
    EXPECT_NE(uint16_t(local.port()), 0);
    EXPECT_TRUE(conn.local_addr() == server.addr());
    EXPECT_TRUE(conn.log.has("Connecting ( 127.0.0.1 [ ip: 127.0.0.1 , port: " +
                             std::to_string(server.port()) + " ] )"));
    EXPECT_TRUE(conn.log.has("Connected"));
    Fd peer = server.accept();
    ASSERT_TRUE(peer.ok());
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    ASSERT_EQ(getpeername(peer.get(), reinterpret_cast<sockaddr*>(&sa), &len), 0);
    EXPECT_EQ(ntohs(sa.sin_port), uint16_t(local.port()));
}

TEST(KV_Connector, ConnectBindsAValidLocalAddress)
{
    PlainServer server;
    const uint16_t port = closed_port();
    TestConnector conn(record_sessions());
    KV_InetAddr local = loopback(port);
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    Fd peer = server.accept();
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    ASSERT_EQ(getpeername(peer.get(), reinterpret_cast<sockaddr*>(&sa), &len), 0);
    EXPECT_EQ(ntohs(sa.sin_port), port);
}

TEST(KV_Connector, RefusedPortFails)
{
    TestConnector conn(record_sessions());
    KV_InetAddr local;
    EXPECT_FALSE(conn.connect(local, loopback(closed_port()), nullptr));
    EXPECT_TRUE(conn.conn_failed());
    EXPECT_FALSE(conn.connected());
    EXPECT_EQ(conn.last(), nullptr);
    const SessLog::Line* failed = conn.log.find("Failed");
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->err);
    conn.reset_conn_failed();
    EXPECT_FALSE(conn.conn_failed());
}

// A listener whose queue is full drops further connection requests, so a
// connect to it stays pending: the way to get a slow connect on loopback.
struct Jammed
{
    Jammed() : server(0)
    {
        for (int i = 0; i < 8; ++i) {
            Fd c(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            sa.sin_port = htons(server.port());
            ::connect(c.get(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
            fill.push_back(std::move(c));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    PlainServer server;
    std::vector<Fd> fill;
};

// A stop ends a pending connect well within a second: "Failed", no session.
TEST(KV_Connector, StopEndsAPendingConnect)
{
    Jammed jam;
    TestConnector conn(record_sessions());
    conn.opts.set_tmout_connect(0);
    bool result = true;
    Clock::time_point stopped_at;
    std::thread opener([&] {
        KV_InetAddr local;
        result = conn.connect(local, jam.server.addr(), nullptr);
    });
    ASSERT_TRUE(conn.log.wait_for("Connecting ( 127.0.0.1 [ ip: 127.0.0.1 , port: " +
                                  std::to_string(jam.server.port()) + " ] )"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stopped_at = Clock::now();
    conn.stop(KV_STOP_CANCEL);
    opener.join();
    // The stop wakes the wait itself; it does not wait for the next look.
    EXPECT_LT(ms_since(stopped_at), 150);
    EXPECT_FALSE(result);
    EXPECT_TRUE(conn.conn_failed());
    EXPECT_EQ(conn.last(), nullptr);
    EXPECT_TRUE(conn.log.has("Failed"));
}

// The session options' connection time-out ends a connect that never
// completes.
TEST(KV_Connector, PendingConnectTimesOut)
{
    Jammed jam;
    TestConnector conn(record_sessions());
    conn.opts.set_tmout_connect(1);
    const auto t = Clock::now();
    KV_InetAddr local;
    EXPECT_FALSE(conn.connect(local, jam.server.addr(), nullptr));
    const int64_t took = ms_since(t);
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 3000);
    EXPECT_TRUE(conn.conn_failed());
}

TEST(KV_Connector, OneLiveSessionAtATime)
{
    PlainServer server;
    TestConnector conn(record_sessions());
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    Fd first = server.accept();
    KV_Session* s1 = conn.last();

    KV_InetAddr local2;
    EXPECT_FALSE(conn.connect(local2, server.addr(), nullptr));
    EXPECT_TRUE(conn.conn_failed());
    EXPECT_EQ(conn.last(), s1);
    conn.reset_conn_failed();

    // Once the first session has ended, the next connect removes it and
    // succeeds.
    first.reset();
    ASSERT_TRUE(eventually([&] { return !conn.connected() && !s1->running(); }));
    KV_InetAddr local3;
    ASSERT_TRUE(conn.connect(local3, server.addr(), nullptr));
    conn.wait_open();
    EXPECT_NE(conn.last(), s1);
    EXPECT_TRUE(conn.connected());
}

TEST(KV_CommBase, SendWithoutSessionsSucceeds)
{
    TestConnector conn(record_sessions());
    EXPECT_TRUE(conn.send_str("NOOP\r\n"));
    EXPECT_TRUE(conn.send_str(nullptr));
}

// Without TLS a secure request fails, and the owner's wait returns; a stop
// answers a pending request at once.
TEST(KV_CommBase, SecureRequestIsAlwaysAnswered)
{
    PlainServer server;
    TestConnector conn(record_sessions());
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    Fd peer = server.accept();
    conn.req_secure();
    EXPECT_FALSE(conn.secure_res(true));
    // The session cannot run without TLS once it was asked for: it ends
    // failed rather than going on in plain text.
    EXPECT_TRUE(eventually([&] { return !conn.connected(); }));
    EXPECT_TRUE(conn.conn_failed());

    TestConnector idle(record_sessions());
    idle.req_secure();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        idle.stop(KV_STOP_TERMINATE);
    });
    EXPECT_FALSE(idle.secure_res(true));
    stopper.join();
    // Stopped: a further request returns at once.
    idle.req_secure();
    EXPECT_FALSE(idle.secure_res(true));
}

// ---------------------------------------------------------------------------
// KV_Listener

TEST(KV_Listener, PortZeroAndAConnectorToIt)
{
    TestListener listener(record_sessions(true));
    ASSERT_TRUE(listener.listen(loopback(0)));
    listener.wait_listening();
    ASSERT_FALSE(listener.conn_failed());
    const KV_InetAddr at = listener.local_addr();
    ASSERT_NE(uint16_t(at.port()), 0);
    EXPECT_TRUE(listener.alive());
    EXPECT_TRUE(listener.log.has("Listening ( 127.0.0.1 [ ip: 127.0.0.1 , port: " +
                                 std::to_string(uint16_t(at.port())) + " ] )"));
    EXPECT_FALSE(listener.listen(loopback(0)));
    EXPECT_TRUE(listener.conn_failed());
    listener.reset_conn_failed();

    TestConnector conn(record_sessions());
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, at, nullptr));
    conn.wait_open();
    listener.wait_open();
    const std::string data = pattern(100000);
    ASSERT_TRUE(conn.send(reinterpret_cast<const uint8_t*>(data.data()), 100000));
    auto* back = static_cast<RecordSess*>(conn.last());
    EXPECT_TRUE(eventually([&] { return back->count() == data.size(); }));
    EXPECT_TRUE(back->received() == data);
    EXPECT_TRUE(listener.log.has("Connection accepted from: " +
                                 std::string(local.as_str(KV_IADDR_ADDR_PORT).data())));

    listener.term();
    EXPECT_FALSE(listener.alive());
    EXPECT_TRUE(listener.log.has("Closing listener"));
    EXPECT_FALSE(listener.conn_failed());
}

// The data port of an active transfer waits for one peer: a connection from
// any other address is closed and the listener goes on waiting for the
// right one.
TEST(KV_Listener, AcceptsOnlyTheExpectedPeer)
{
    TestListener listener(record_sessions());
    listener.set_peer(loopback(21));
    ASSERT_TRUE(listener.listen(loopback(0)));
    listener.wait_listening();
    const uint16_t port = listener.local_addr().port();

    Fd stranger = plain_connect(port, "127.0.0.2");
    ASSERT_TRUE(stranger.ok());
    bool eof = false;
    stranger.read_to_eof(eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(listener.last(), nullptr);
    EXPECT_TRUE(listener.alive());

    Fd expected = plain_connect(port, "127.0.0.1");
    ASSERT_TRUE(expected.ok());
    ASSERT_TRUE(expected.write_all("data"));
    ASSERT_TRUE(eventually([&] { return listener.last() != nullptr; }));
    auto* s = static_cast<RecordSess*>(listener.last());
    EXPECT_TRUE(eventually([&] { return s->received() == "data"; }));
    EXPECT_FALSE(listener.conn_failed());
}

// A second connection while the first session runs is turned away; it
// neither ends the listener nor marks the connection failed.
TEST(KV_Listener, SecondConnectionIsTurnedAway)
{
    TestListener listener(record_sessions());
    ASSERT_TRUE(listener.listen(loopback(0)));
    listener.wait_listening();
    const uint16_t port = listener.local_addr().port();
    Fd first = plain_connect(port);
    ASSERT_TRUE(eventually([&] { return listener.connected(); }));
    KV_Session* s1 = listener.last();

    Fd second = plain_connect(port);
    ASSERT_TRUE(second.ok());
    bool eof = false;
    second.read_to_eof(eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(listener.last(), s1);
    EXPECT_TRUE(listener.alive());
    EXPECT_FALSE(listener.conn_failed());

    ASSERT_TRUE(first.write_all("still here"));
    auto* s = static_cast<RecordSess*>(s1);
    EXPECT_TRUE(eventually([&] { return s->received() == "still here"; }));
}

TEST(KV_Listener, StopEndsTheAcceptLoopAtOnce)
{
    TestListener listener(record_sessions());
    ASSERT_TRUE(listener.listen(loopback(0)));
    listener.wait_listening();
    const auto t = Clock::now();
    listener.term();
    EXPECT_LT(ms_since(t), 250);
    EXPECT_FALSE(listener.alive());
}

TEST(KV_Listener, BindFailureIsReported)
{
    PlainServer taken;
    TestListener listener(record_sessions());
    ASSERT_TRUE(listener.listen(taken.addr()));
    listener.wait_listening();
    EXPECT_TRUE(listener.conn_failed());
    EXPECT_TRUE(eventually([&] { return !listener.alive(); }));
    const SessLog::Line* err = listener.log.find("Listener error");
    ASSERT_NE(err, nullptr);
    EXPECT_TRUE(err->err);
}

} // namespace
