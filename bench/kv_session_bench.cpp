// One session moving 1 GiB over loopback, each way, against the loopback
// bound measured in the same run: a plain TCP connection over loopback whose
// two threads pump the same buffer size with blocking send() and recv().
//
// Each iteration first moves 1 GiB through the plain pair, then 1 GiB
// through a session (receiving from, or sending to, a plain peer thread that
// pumps the same buffer size). Counters:
//   plain_MiBps, sess_MiBps  throughput of each
//   ratio                    session throughput / plain throughput
//   plain_cpu_ms_GiB, sess_cpu_ms_GiB
//                            CPU time of the whole process (both ends) per
//                            GiB moved
// The buffer size is the session's receive and send buffer size (the
// session receives at most size - 1 bytes per pass) and the peers' chunk.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/kv_event.h"
#include "net/kv_comm.h"
#include "net/kv_session.h"

namespace {

constexpr uint64_t kTotal = uint64_t(1) << 30;

double cpu_now()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double wall_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A listening socket on 127.0.0.1 with the system's port.
int listen_loopback(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sa);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(sa.sin_port);
    return fd;
}

int connect_loopback(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Blocking pumps of `chunk`-byte calls until `total` bytes moved.
bool pump_send(int fd, const std::vector<uint8_t>& block, uint64_t total)
{
    uint64_t sent = 0;
    while (sent < total) {
        const size_t n = size_t(std::min<uint64_t>(block.size(), total - sent));
        const ssize_t r = ::send(fd, block.data(), n, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        sent += uint64_t(r);
    }
    return true;
}

bool pump_recv(int fd, size_t chunk, uint64_t total)
{
    std::vector<uint8_t> buf(chunk);
    uint64_t got = 0;
    while (got < total) {
        const ssize_t r = ::recv(fd, buf.data(), buf.size(), 0);
        if (r <= 0)
            return false;
        got += uint64_t(r);
    }
    return true;
}

struct Result
{
    double wall = 0;
    double cpu = 0;
    bool ok = false;
};

Result plain_pair(size_t chunk)
{
    Result res;
    uint16_t port = 0;
    const int l = listen_loopback(port);
    if (l < 0)
        return res;
    const int c = connect_loopback(port);
    const int a = ::accept(l, nullptr, nullptr);
    ::close(l);
    if (c < 0 || a < 0)
        return res;
    const std::vector<uint8_t> block(chunk, 0x5A);
    const double w0 = wall_now(), c0 = cpu_now();
    bool sent = false;
    std::thread writer([&] { sent = pump_send(c, block, kTotal); });
    const bool got = pump_recv(a, chunk, kTotal);
    writer.join();
    res.wall = wall_now() - w0;
    res.cpu = cpu_now() - c0;
    res.ok = sent && got;
    ::close(c);
    ::close(a);
    return res;
}

// Counts what it receives; or keeps its output topped up with one block
// until `total` bytes were queued.
class PumpSess : public KV_Session
{
public:
    PumpSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr, bool sending,
             size_t chunk)
        : KV_Session(comm, sock, addr), sending(sending), block(chunk, 0xA5)
    {
    }

    std::atomic<uint64_t> received{0};
    KV_Event all_in{false, true};

protected:
    bool process_in(KV_Stream& in, KV_Stream&) override
    {
        const uint64_t n = received.load(std::memory_order_relaxed) + in.length();
        received.store(n, std::memory_order_relaxed);
        if (n >= kTotal)
            all_in.set();
        return in.remove(in.length());
    }
    bool process_idle(KV_Stream& out) override { return top_up(out); }
    // Refilled after each send as well: the loop only asks for
    // writability while output waits.
    bool process_out(KV_Stream& out) override
    {
        return top_up(out) && KV_Session::process_out(out) && top_up(out);
    }

private:
    // Like a data session building its output block by block.
    bool top_up(KV_Stream& out)
    {
        if (!sending || queued >= kTotal || !out.empty())
            return true;
        const uint32_t n = uint32_t(std::min<uint64_t>(block.size(), kTotal - queued));
        queued += n;
        return out.append(block.data(), n);
    }

    const bool sending;
    std::vector<uint8_t> block;
    uint64_t queued = 0;
};

class PumpConn : public KV_Connector
{
public:
    PumpConn(bool sending, size_t chunk) : sending(sending), chunk(chunk)
    {
        opts.set_buff_recv(uint32_t(chunk));
        opts.set_buff_send(uint32_t(chunk));
    }
    ~PumpConn() override { close_sessions(); }

    const KV_String& dst_addr() const override { return dst; }
    const KV_SessOpts& sess_params() const override { return opts; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override
    {
        sess = new PumpSess(this, sock, addr, sending, chunk);
        return sess;
    }

    PumpSess* sess = nullptr;

private:
    const bool sending;
    const size_t chunk;
    KV_SessOpts opts;
    KV_String dst{"127.0.0.1"};
};

Result session(bool sending, size_t chunk)
{
    Result res;
    uint16_t port = 0;
    const int l = listen_loopback(port);
    if (l < 0)
        return res;
    PumpConn conn(sending, chunk);
    KV_InetAddr local;
    const std::vector<uint8_t> block(chunk, 0x5A);
    const double w0 = wall_now(), c0 = cpu_now();
    if (!conn.connect(local, KV_InetAddr("127.0.0.1", KV_Port(port)), nullptr)) {
        ::close(l);
        return res;
    }
    const int a = ::accept(l, nullptr, nullptr);
    ::close(l);
    if (a < 0)
        return res;
    bool ok;
    if (sending) {
        ok = pump_recv(a, chunk, kTotal);
    } else {
        ok = pump_send(a, block, kTotal);
        ok = ok && !conn.sess->all_in.wait(600000);
    }
    res.wall = wall_now() - w0;
    res.cpu = cpu_now() - c0;
    res.ok = ok && !conn.conn_failed();
    conn.close_sessions();
    ::close(a);
    return res;
}

void run(benchmark::State& state, bool sending)
{
    const size_t chunk = size_t(state.range(0));
    Result plain, sess;
    for (auto _ : state) {
        plain = plain_pair(chunk);
        sess = session(sending, chunk);
        if (!plain.ok || !sess.ok) {
            state.SkipWithError("a transfer failed");
            return;
        }
        state.SetIterationTime(sess.wall);
    }
    const double mib = double(kTotal) / (1 << 20);
    state.counters["plain_MiBps"] = mib / plain.wall;
    state.counters["sess_MiBps"] = mib / sess.wall;
    state.counters["ratio"] = plain.wall / sess.wall;
    state.counters["plain_cpu_ms_GiB"] = plain.cpu * 1000.0;
    state.counters["sess_cpu_ms_GiB"] = sess.cpu * 1000.0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void BM_SessionReceive1GiB(benchmark::State& state)
{
    run(state, false);
}

void BM_SessionSend1GiB(benchmark::State& state)
{
    run(state, true);
}

// 1 GiB per run takes long enough: one iteration, three runs, each timed
// by the benchmark itself.
void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(4096)->Arg(65536)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(
        benchmark::kMillisecond);
}

BENCHMARK(BM_SessionReceive1GiB)->Apply(sizes);
BENCHMARK(BM_SessionSend1GiB)->Apply(sizes);

} // namespace
