// The socket on its own, on one thread: a loopback connection made with
// non-blocking calls, the end of data, the wait and its waker, and that close
// always gives the descriptor back.
#include "net/kv_socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>

#include "support/kv_nettest.h"

namespace {

bool fd_open(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

// A listening socket on 127.0.0.1 with the system's port.
void listen_any(KV_Socket& l, KV_InetAddr& where)
{
    ASSERT_TRUE(l.create(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(l.set_nonblocking());
    ASSERT_TRUE(l.bind(kvtest::loopback(0)));
    ASSERT_TRUE(l.listen());
    ASSERT_TRUE(l.local_name(where));
    ASSERT_NE(uint16_t(where.port()), 0);
}

// Connects c to where and accepts the other end into a.
void pair(KV_Socket& l, const KV_InetAddr& where, KV_Socket& c, KV_Socket& a, KV_InetAddr& peer)
{
    ASSERT_TRUE(c.create(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(c.set_nonblocking());
    if (!c.connect(where)) {
        ASSERT_EQ(c.last_err(), EINPROGRESS);
    }
    bool rd = false, wr = true, err = true;
    ASSERT_TRUE(c.select(rd, wr, err, 900000));
    ASSERT_TRUE(wr);
    EXPECT_FALSE(err);
    EXPECT_EQ(c.pending_error(), 0);
    rd = true;
    wr = err = false;
    ASSERT_TRUE(l.select(rd, wr, err, 900000));
    ASSERT_TRUE(rd);
    ASSERT_TRUE(l.accept(a, peer));
    ASSERT_TRUE(a.valid());
}

TEST(KV_Socket, LoopbackConnectionCarriesBytesAndTheEnd)
{
    KV_Socket l, c, a;
    KV_InetAddr where, peer, local;
    listen_any(l, where);
    pair(l, where, c, a, peer);
    ASSERT_TRUE(c.local_name(local));
    EXPECT_TRUE(peer == local);

    const uint8_t msg[] = "hello";
    uint32_t n = 5;
    ASSERT_TRUE(c.send(msg, n, 0));
    EXPECT_EQ(n, 5u);
    bool rd = true, wr = false, err = true;
    ASSERT_TRUE(a.select(rd, wr, err, 900000));
    ASSERT_TRUE(rd);
    uint8_t buf[16];
    n = sizeof(buf);
    ASSERT_TRUE(a.recv(buf, n, 0));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "hello");

    // Nothing more: a receive that would block fails with would_block, which
    // is not the end of data.
    n = sizeof(buf);
    EXPECT_FALSE(a.recv(buf, n, 0));
    EXPECT_TRUE(a.would_block());

    // Shutting the sending side twice shuts it once; the peer sees the end.
    EXPECT_TRUE(c.shutdown(1));
    EXPECT_TRUE(c.is_shut(1));
    EXPECT_FALSE(c.is_shut(2));
    EXPECT_TRUE(c.shutdown(1));
    rd = true;
    ASSERT_TRUE(a.select(rd, wr, err, 900000));
    ASSERT_TRUE(rd);
    n = sizeof(buf);
    ASSERT_TRUE(a.recv(buf, n, 0));
    EXPECT_EQ(n, 0u);
}

TEST(KV_Socket, TakeLeavesTheSourceWithoutDescriptor)
{
    KV_Socket a;
    ASSERT_TRUE(a.create(AF_INET, SOCK_STREAM, 0));
    const int fd = a.handle();
    {
        KV_Socket b;
        b.take(a);
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.handle(), fd);
        EXPECT_TRUE(fd_open(fd));
    }
    // b closed it; a, without a descriptor, closes nothing.
    EXPECT_FALSE(fd_open(fd));
    EXPECT_TRUE(a.close());
}

// A socket that is not connected cannot be shut down; close must release it
// anyway instead of keeping the descriptor for ever.
TEST(KV_Socket, CloseReleasesASocketThatCannotShutDown)
{
    KV_Socket s;
    ASSERT_TRUE(s.create(AF_INET, SOCK_STREAM, 0));
    const int fd = s.handle();
    EXPECT_FALSE(s.shutdown(3));
    EXPECT_EQ(s.last_err(), ENOTCONN);
    EXPECT_TRUE(s.close());
    EXPECT_FALSE(s.valid());
    EXPECT_FALSE(fd_open(fd));
}

TEST(KV_Socket, CloseReleasesAListeningSocket)
{
    KV_Socket l;
    KV_InetAddr where;
    listen_any(l, where);
    const int fd = l.handle();
    EXPECT_TRUE(l.close());
    EXPECT_FALSE(l.valid());
    EXPECT_FALSE(fd_open(fd));

    // The port is free again: nothing listens there any more.
    KV_Socket c;
    ASSERT_TRUE(c.create(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(c.set_nonblocking());
    if (!c.connect(where)) {
        ASSERT_TRUE(c.last_err() == EINPROGRESS || c.last_err() == ECONNREFUSED) << c.last_err();
        if (c.last_err() == EINPROGRESS) {
            bool rd = false, wr = true, err = true;
            ASSERT_TRUE(c.select(rd, wr, err, 900000));
            EXPECT_EQ(c.pending_error(), ECONNREFUSED);
        }
    }
}

TEST(KV_Socket, CloseReleasesAResetConnection)
{
    KV_Socket l, c, a;
    KV_InetAddr where, peer;
    listen_any(l, where);
    pair(l, where, c, a, peer);
    // The peer resets the connection (linger 0), then shutdown fails here.
    linger lin{1, 0};
    ASSERT_TRUE(c.set_opt(SOL_SOCKET, SO_LINGER, &lin, sizeof(lin)));
    c.close();
    bool rd = true, wr = false, err = true;
    ASSERT_TRUE(a.select(rd, wr, err, 900000));
    const int fd = a.handle();
    EXPECT_TRUE(a.close());
    EXPECT_FALSE(fd_open(fd));
}

TEST(KV_Socket, WaitEndsWhenWoken)
{
    KV_Socket l;
    KV_InetAddr where;
    listen_any(l, where);
    KV_Waker w;
    ASSERT_TRUE(w.valid());
    w.wake();
    w.wake();
    bool rd = true, wr = false, err = false, woken = false;
    ASSERT_TRUE(l.wait(rd, wr, err, 10000, &w, woken));
    EXPECT_TRUE(woken);
    EXPECT_FALSE(rd);
    // Cleared: the next wait runs to its time-out.
    rd = true;
    ASSERT_TRUE(l.wait(rd, wr, err, 1, &w, woken));
    EXPECT_FALSE(woken);

    // Without a socket wish the wait is a sleep that the waker still ends.
    KV_Socket none;
    w.wake();
    rd = wr = err = false;
    ASSERT_TRUE(none.wait(rd, wr, err, 10000, &w, woken));
    EXPECT_TRUE(woken);
}

TEST(KV_Socket, OperationsWithoutDescriptorFail)
{
    KV_Socket s;
    KV_InetAddr a = kvtest::loopback(1);
    uint8_t b[4];
    uint32_t n = 4;
    EXPECT_FALSE(s.bind(a));
    EXPECT_FALSE(s.connect(a));
    EXPECT_FALSE(s.listen());
    EXPECT_FALSE(s.send(b, n, 0));
    EXPECT_EQ(n, 0u);
    n = 4;
    EXPECT_FALSE(s.recv(b, n, 0));
    KV_Socket out;
    KV_InetAddr peer;
    EXPECT_FALSE(s.accept(out, peer));
    EXPECT_FALSE(out.valid());
    EXPECT_TRUE(s.close());
}

} // namespace
