// The session thread against a plain loopback peer: bytes both ways in
// order whatever the buffer size and however the peer splits them, the
// peer's end of data, pause and resume, stops that must end waits promptly,
// a process with more than 1,024 descriptors, the bandwidth limits (with a
// clock driven by hand, and for real), and a shutdown that waits for the
// output.
#include "net/kv_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "net/kv_comm.h"
#include "net/kv_proxy.h"
#include "root/kv_filemanpool.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"

namespace {

using namespace kvtest;
using Clock = std::chrono::steady_clock;

// Bytes go both ways in order for every buffer size, whatever the peer's
// write sizes; sizes 0, 1 and 2 receive one byte per pass.
TEST(KV_Session, EchoesInOrderForEveryBufferSize)
{
    struct Case
    {
        uint32_t buff;
        size_t total;
        size_t chunk; // the peer's write size
    };
    const Case cases[] = {
        {0, 600, 7},     {1, 600, 1},       {2, 600, 50},
        {3, 2000, 1000}, {4096, 300000, 1}, {4096, 300000, 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "buffer " << c.buff << ", chunk " << c.chunk);
        Link l(true, c.buff);
        ASSERT_TRUE(l.open());
        const std::string data = pattern(c.total, c.buff + 1);
        std::thread writer([&] {
            for (size_t at = 0; at < data.size(); at += c.chunk)
                l.peer.write_all(data.data() + at, std::min(c.chunk, data.size() - at));
        });
        const std::string back = l.peer.read_n(data.size());
        writer.join();
        EXPECT_EQ(back.size(), data.size());
        EXPECT_TRUE(back == data);
        EXPECT_TRUE(l.sess()->received() == data);
        EXPECT_FALSE(l.conn.conn_failed());
    }
}

TEST(KV_Session, OutputFromAnotherThreadGoesOutInOrder)
{
    Link l;
    ASSERT_TRUE(l.open());
    std::string all;
    for (int i = 0; i < 200; ++i) {
        const std::string part = pattern(size_t(1 + i * 37 % 3000), unsigned(i));
        all += part;
        ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(part.data()),
                                static_cast<uint32_t>(part.size())));
    }
    EXPECT_TRUE(l.peer.read_n(all.size()) == all);
}

// The peer's end of data mid-stream: every byte before it is processed, the
// session logs "FIN received" and "Connection closed" and ends without
// failure.
TEST(KV_Session, PeerFinEndsTheSessionCleanly)
{
    Link l;
    ASSERT_TRUE(l.open());
    const std::string data = pattern(100000);
    ASSERT_TRUE(l.peer.write_all(data));
    ASSERT_EQ(::shutdown(l.peer.get(), SHUT_WR), 0);
    ASSERT_TRUE(eventually([&] { return !l.conn.connected(); }));
    EXPECT_TRUE(l.sess()->received() == data);
    EXPECT_TRUE(l.conn.log.wait_for("FIN received"));
    EXPECT_TRUE(l.conn.log.wait_for("Connection closed"));
    EXPECT_FALSE(l.conn.conn_failed());
    // The session closed its side too.
    bool eof = false;
    l.peer.read_to_eof(eof);
    EXPECT_TRUE(eof);
    for (const SessLog::Line& line : l.conn.log.lines())
        EXPECT_EQ(line.tavo_id, 7u);
}

TEST(KV_Session, PausedSessionNeitherReceivesNorSends)
{
    Link l;
    ASSERT_TRUE(l.open());
    l.conn.set_paused(true);
    const int idles = l.sess()->idles();
    ASSERT_TRUE(l.peer.write_all("while paused"));
    const std::string out = "queued";
    ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(out.data()), 6));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(l.sess()->count(), 0u);
    EXPECT_EQ(l.peer.read_n(6, 50), "");
    // The idle hook still runs while paused.
    EXPECT_GT(l.sess()->idles(), idles);

    const auto t = Clock::now();
    l.conn.set_paused(false);
    EXPECT_EQ(l.peer.read_n(6), "queued");
    EXPECT_TRUE(eventually([&] { return l.sess()->received() == "while paused"; }));
    // A resume wakes the loop; it does not wait out an idle pass.
    EXPECT_LT(ms_since(t), 1000);
}

// A session stuck sending to a peer that reads nothing ends at once when
// its connection is closed.
TEST(KV_Session, StopEndsABlockedSend)
{
    Link l;
    ASSERT_TRUE(l.open());
    const std::string big = pattern(16u << 20);
    ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(big.data()),
                            static_cast<uint32_t>(big.size())));
    // Let the socket buffers fill; part of the output must still wait in
    // the session.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(l.conn.connected());
    int at_peer = 0, in_flight = 0;
    ASSERT_EQ(ioctl(l.peer.get(), FIONREAD, &at_peer), 0);
    ASSERT_EQ(ioctl(l.sess()->fd(), SIOCOUTQ, &in_flight), 0);
    ASSERT_LT(size_t(at_peer) + size_t(in_flight), big.size());
    const auto t = Clock::now();
    EXPECT_TRUE(l.conn.close_sessions());
    // The bound tells "at once" from "waits for a peer that never reads";
    // it is no speed figure. Under ThreadSanitizer on a loaded machine the
    // thread's teardown alone took from 0.07 up to 1.2 s.
    EXPECT_LT(ms_since(t), 5000);
    EXPECT_FALSE(l.conn.connected());
}

// A session asked to shut down its sending side right after its last output
// still sends all of it first.
TEST(KV_Session, ShutdownWaitsForTheOutput)
{
    Link l;
    ASSERT_TRUE(l.open());
    const std::string data = pattern(4u << 20, 3);
    ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(data.data()),
                            static_cast<uint32_t>(data.size())));
    l.sess()->req_shutdown();
    bool eof = false;
    const std::string got = l.peer.read_to_eof(eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    EXPECT_TRUE(l.conn.log.has("Shutdown requested"));
    // Only the sending side is shut: the session still receives.
    ASSERT_TRUE(l.peer.write_all("after"));
    EXPECT_TRUE(eventually([&] { return l.sess()->received() == "after"; }));
}

// Descriptors above 1023 do not fit select()'s fd_set; the sessions wait
// with poll(), so they keep working in a process with many open files.
TEST(KV_Session, WorksWithDescriptorsAbove1024)
{
    rlimit rl{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
    if (rl.rlim_cur < 1200) {
        if (rl.rlim_max < 1200)
            GTEST_SKIP() << "the descriptor limit is below 1200";
        rlimit more = rl;
        more.rlim_cur = 1200;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &more), 0);
    }
    std::vector<Fd> filler;
    for (int i = 0; i < 1100; ++i) {
        Fd f(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!f.ok())
            break;
        filler.push_back(std::move(f));
    }
    ASSERT_GT(filler.back().get(), 1024);

    Link l(true);
    ASSERT_TRUE(l.open());
    ASSERT_TRUE(eventually([&] { return l.sess()->fd() >= 0; }));
    EXPECT_GT(l.sess()->fd(), 1024);
    const std::string data = pattern(200000, 9);
    std::thread writer([&] { l.peer.write_all(data); });
    EXPECT_TRUE(l.peer.read_n(data.size()) == data);
    writer.join();
    l.conn.close_sessions();
    filler.clear();
    setrlimit(RLIMIT_NOFILE, &rl);
}

// A scripted handshake: sends "HELLO\n" once, is done at the first "OK\n"
// from the peer. Bytes after it stay for the protocol.
class ScriptProxy : public KV_Proxy
{
public:
    ScriptProxy() : KV_Proxy(nullptr, "", KV_LoginData()) {}
    bool process_in(KV_Session*, KV_Stream& in, KV_Stream&, bool& done) override
    {
        if (in.length() < 3)
            return true;
        const unsigned char* p = in;
        if (std::string(reinterpret_cast<const char*>(p), 3) != "OK\n")
            return false;
        done = true;
        return in.remove(3);
    }
    bool process_out(KV_Session*, KV_Stream& out, bool&) override
    {
        if (sent)
            return true;
        sent = true;
        return out.append(reinterpret_cast<const uint8_t*>("HELLO\n"), 6);
    }

private:
    bool sent = false;
};

// A session that notes when its init ran.
class InitSess : public RecordSess
{
public:
    using RecordSess::RecordSess;
    std::atomic<bool> inited{false};

protected:
    bool init() override
    {
        inited = true;
        return RecordSess::init();
    }
};

// The handshake runs first: its request goes out without a wish to write,
// the owner's wait_open waits for its end, init comes only after it, and
// the bytes after the proxy's reply reach the protocol.
TEST(KV_Session, ProxyHandshakeComesFirst)
{
    PlainServer server;
    TestConnector conn([](KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) -> KV_Session* {
        return new InitSess(c, s, a);
    });
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), new ScriptProxy));
    Fd peer = server.accept();
    EXPECT_EQ(peer.read_n(6), "HELLO\n");
    auto* sess = static_cast<InitSess*>(conn.last());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(sess->inited);
    bool opened = false;
    std::thread owner([&] {
        conn.wait_open();
        opened = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(opened);
    ASSERT_TRUE(peer.write_all("OK\nprotocol"));
    owner.join();
    EXPECT_TRUE(eventually([&] { return sess->received() == "protocol"; }));
    EXPECT_TRUE(sess->inited);
}

// A session whose hooks make output as a protocol's do: once after its
// start, and in answer to each line it receives. It notes how many socket
// waits the loop had run when its init ran, when it first made output, and
// when each output went out.
class OrderSess : public RecordSess
{
public:
    using RecordSess::RecordSess;
    std::atomic<int> init_waits{-1};
    std::atomic<int> made_waits{-1};
    // The waits before each send of output, and those before the hook made
    // that output.
    std::mutex m;
    std::vector<std::pair<int, int>> sends;

protected:
    bool init() override
    {
        init_waits = static_cast<int>(waits());
        return RecordSess::init();
    }
    bool process_idle(KV_Stream& out) override
    {
        if (made_waits < 0) {
            made_waits = static_cast<int>(waits());
            made_at = made_waits;
            return out.append(reinterpret_cast<const unsigned char*>("first\n"), 6);
        }
        return RecordSess::process_idle(out);
    }
    bool process_in(KV_Stream& in, KV_Stream& out) override
    {
        uint32_t lf = 0;
        if (!in.find('\n', lf))
            return true;
        made_at = static_cast<int>(waits());
        return RecordSess::process_in(in, out) &&
               out.append(reinterpret_cast<const unsigned char*>("answer\n"), 7);
    }
    bool process_out(KV_Stream& out) override
    {
        if (!out.empty()) {
            std::lock_guard<std::mutex> g(m);
            sends.emplace_back(made_at, static_cast<int>(waits()));
        }
        return KV_Session::process_out(out);
    }

private:
    int made_at = -1; // the session's thread only
};

// A new session runs its start and makes and sends its first output before
// the loop ever waits on the socket (an upload's data connection has nothing
// to read and nothing queued, and sat out a wait per file), and output a
// hook makes in answer to what came goes out in the same pass, without a
// wait for the socket to report itself writable.
TEST(KV_Session, OutputGoesOutInThePassThatMadeIt)
{
    PlainServer server;
    TestConnector conn([](KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) -> KV_Session* {
        return new OrderSess(c, s, a);
    });
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    Fd peer = server.accept();
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(peer.read_n(6), "first\n");
    auto* sess = static_cast<OrderSess*>(conn.last());
    EXPECT_EQ(sess->init_waits.load(), 0);
    EXPECT_EQ(sess->made_waits.load(), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(peer.write_all("line\n"));
        EXPECT_EQ(peer.read_n(7), "answer\n");
    }
    std::lock_guard<std::mutex> g(sess->m);
    ASSERT_EQ(sess->sends.size(), 4u);
    for (const auto& [made, sent] : sess->sends)
        EXPECT_EQ(made, sent) << "a wait came between making the output and sending it";
}

// Notes, for output another thread queues, the wait of the pass that first
// found it queued and the wait of the pass that sent it.
class QueuedSess : public RecordSess
{
public:
    using RecordSess::RecordSess;
    std::mutex m;
    std::vector<std::pair<int, int>> sends; // (found in wait, sent in wait)

protected:
    bool process_idle(KV_Stream& out) override
    {
        if (!out.empty() && found_at < 0)
            found_at = static_cast<int>(waits());
        return RecordSess::process_idle(out);
    }
    bool process_out(KV_Stream& out) override
    {
        if (!out.empty()) {
            std::lock_guard<std::mutex> g(m);
            sends.emplace_back(found_at, static_cast<int>(waits()));
            found_at = -1;
        }
        return KV_Session::process_out(out);
    }

private:
    int found_at = -1; // the session's thread only
};

// Output another thread queues wakes the loop, and the pass it wakes sends
// it: a request handed to an idle connection does not wait for a second
// wait that only reports the socket writable.
TEST(KV_Session, QueuedOutputGoesOutInThePassItWoke)
{
    PlainServer server;
    TestConnector conn([](KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) -> KV_Session* {
        return new QueuedSess(c, s, a);
    });
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    conn.wait_open();
    Fd peer = server.accept();
    ASSERT_TRUE(peer.ok());
    auto* sess = static_cast<QueuedSess*>(conn.last());
    for (int i = 0; i < 3; ++i) {
        // Idle passes first, so that the output finds the loop in its wait.
        const int idles = sess->idles();
        ASSERT_TRUE(eventually([&] { return sess->idles() > idles; }));
        ASSERT_TRUE(conn.send(reinterpret_cast<const uint8_t*>("request\n"), 8));
        EXPECT_EQ(peer.read_n(8), "request\n");
    }
    std::lock_guard<std::mutex> g(sess->m);
    ASSERT_EQ(sess->sends.size(), 3u);
    // found -1: it came during a pass, after its idle hook, and that pass
    // sent it.
    for (const auto& [found, sent] : sess->sends) {
        if (found >= 0) {
            EXPECT_EQ(found, sent) << "a wait came between finding the output and sending it";
        }
    }
}

// A session that asks for its running state to be reported.
class ReportSess : public RecordSess
{
public:
    ReportSess(KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) : RecordSess(c, s, a)
    {
        info_mask = 3;
    }
    KV_SESS_TYPE type() const override { return KV_SESS_TYPE_FTP_DATA; }
};

// The session reports its start and its clean end to its connection's
// informer; the last session to end reports speeds of 0 for all sessions
// through the engine root.
TEST(KV_Session, ReportsRunningStateAndTheGlobalEnd)
{
    KV_FileManPool root;
    SessLog global(root.informer());
    PlainServer server;
    TestConnector conn([](KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) -> KV_Session* {
        return new ReportSess(c, s, a);
    });
    KV_InetAddr local;
    ASSERT_TRUE(conn.connect(local, server.addr(), nullptr));
    Fd peer = server.accept();
    ASSERT_TRUE(peer.write_all(pattern(50000)));
    peer.reset();
    ASSERT_TRUE(eventually([&] { return !conn.last()->running(); }));

    const std::vector<KV_SessInfo> reports = conn.log.reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_TRUE(reports.front().running());
    EXPECT_EQ(reports.front().type(), KV_SESS_TYPE_FTP_DATA);
    EXPECT_FALSE(reports.back().running());
    EXPECT_FALSE(reports.back().error());
    EXPECT_EQ(reports.back().bytes_recv(), 0u);

    const std::vector<KV_SessInfo> totals = global.reports();
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back().speed_recv(), 0.0);
    EXPECT_EQ(totals.back().speed_send(), 0.0);
}

// While bytes keep coming, the speeds of all sessions together reach the
// program more than twice a second: bursts 600 ms apart each bring a report
// (once a second would report every other burst).
TEST(KV_Session, GlobalSpeedsAreReportedTwiceASecondWhileBytesFlow)
{
    KV_FileManPool root;
    SessLog global(root.informer());
    Link l;
    ASSERT_TRUE(l.open());
    constexpr int kBursts = 5;
    for (int i = 0; i < kBursts; ++i) {
        ASSERT_TRUE(l.peer.write_all(pattern(1000)));
        const size_t want = 1000 * size_t(i + 1);
        ASSERT_TRUE(eventually([&] { return l.sess()->count() == want; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    int moving = 0;
    for (const KV_SessInfo& r : global.reports())
        moving += r.speed_recv() > 0 ? 1 : 0;
    // The first burst may come soon after another test's report.
    EXPECT_GE(moving, kBursts - 1);
}

// ---------------------------------------------------------------------------
// Bandwidth limits

std::atomic<int64_t> fake_now{0};
int64_t fake_clock()
{
    return fake_now.load();
}

class Limits : public ::testing::Test
{
protected:
    // The meters' clock stands at t0 until the test moves fake_now.
    static void freeze_clock(int64_t t0)
    {
        fake_now = t0;
        KV_SpeedMeter::set_impl_clock(fake_clock);
    }
    // Sets a limit and lets a pass that was already under way end.
    static void limit(void (*set)(double), double bytes_per_sec)
    {
        set(bytes_per_sec);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    void TearDown() override
    {
        KV_Session::set_bwt_speed_in(0);
        KV_Session::set_bwt_speed_out(0);
        KV_SpeedMeter::set_impl_clock(nullptr);
    }
};

// With the meters' clock standing still the session receives exactly what
// the limit allows for the time that passed, and nothing more.
TEST_F(Limits, ReceiveFollowsTheAllowanceOfAFakeClock)
{
    freeze_clock(5000000);
    Link l;
    ASSERT_TRUE(l.open());
    limit(KV_Session::set_bwt_speed_in, 10000);
    ASSERT_TRUE(l.peer.write_all(pattern(100000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(l.sess()->count(), 0u);

    fake_now += 1000;
    EXPECT_TRUE(eventually([&] { return l.sess()->count() == 10000; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(l.sess()->count(), 10000u);

    fake_now += 1500;
    EXPECT_TRUE(eventually([&] { return l.sess()->count() == 25000; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(l.sess()->count(), 25000u);

    // Lifting the limit lets the rest through.
    KV_Session::set_bwt_speed_in(0);
    EXPECT_TRUE(eventually([&] { return l.sess()->count() == 100000; }));
}

TEST_F(Limits, SendFollowsTheAllowanceOfAFakeClock)
{
    freeze_clock(7000000);
    Link l;
    ASSERT_TRUE(l.open());
    limit(KV_Session::set_bwt_speed_out, 4000);
    const std::string data = pattern(50000);
    ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(data.data()), 50000));
    EXPECT_EQ(l.peer.read_n(1, 300), "");
    fake_now += 2000;
    const std::string got = l.peer.read_n(8000);
    EXPECT_EQ(got.size(), 8000u);
    EXPECT_EQ(l.peer.read_n(1, 300), "");
}

// An allowance of 4 GiB or more must not wrap around 32 bits: 2^32 bytes
// would become 0 and stall the session for good.
TEST_F(Limits, AllowanceOf4GiBDoesNotWrap)
{
    freeze_clock(9000000);
    Link l;
    ASSERT_TRUE(l.open());
    KV_Session::set_bwt_speed_in(4294967296.0);
    fake_now += 1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(l.peer.write_all("four gigabytes"));
    EXPECT_TRUE(eventually([&] { return l.sess()->received() == "four gigabytes"; }, 3000));
}

// A real transfer under a limit keeps within 10 % of it.
TEST_F(Limits, RealTransferKeepsToTheLimit)
{
    struct Case
    {
        const char* name;
        bool receive;
    };
    for (const Case c : {Case{"receive", true}, Case{"send", false}}) {
        SCOPED_TRACE(c.name);
        Link l;
        ASSERT_TRUE(l.open());
        const double limit = 400 * 1024;
        const size_t total = 800 * 1024;
        const std::string data = pattern(total);
        Clock::time_point start;
        double secs = 0;
        if (c.receive) {
            KV_Session::set_bwt_speed_in(limit);
            start = Clock::now();
            std::thread writer([&] { l.peer.write_all(data); });
            EXPECT_TRUE(eventually([&] { return l.sess()->count() == total; }));
            secs = ms_since(start) / 1000.0;
            writer.join();
            KV_Session::set_bwt_speed_in(0);
        } else {
            KV_Session::set_bwt_speed_out(limit);
            start = Clock::now();
            ASSERT_TRUE(l.conn.send(reinterpret_cast<const uint8_t*>(data.data()),
                                    static_cast<uint32_t>(total)));
            EXPECT_EQ(l.peer.read_n(total).size(), total);
            secs = ms_since(start) / 1000.0;
            KV_Session::set_bwt_speed_out(0);
        }
        const double rate = double(total) / secs;
        EXPECT_NEAR(rate, limit, limit * 0.1) << "took " << secs << " s";
    }
}

TEST(KV_Session, LimitsRefuseNonsense)
{
    KV_Session::set_bwt_speed_in(1000);
    KV_Session::set_bwt_speed_in(-1);
    KV_Session::set_bwt_speed_in(std::numeric_limits<double>::quiet_NaN());
    KV_Session::set_bwt_speed_in(std::numeric_limits<double>::infinity());
    EXPECT_EQ(KV_Session::bwt_speed_in(), 1000);
    KV_Session::set_bwt_speed_in(0);
    EXPECT_EQ(KV_Session::bwt_speed_in(), 0);
}

} // namespace
