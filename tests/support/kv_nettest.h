// Shared pieces of the network tests: a plain loopback peer built on bare
// POSIX calls (the other end of a session under test), connection classes
// whose sessions a test chooses, and a reader of the session log that a
// connection's informer collects.
//
// Traffic goes only to 127.0.0.1, on ports the system picks (bind to 0).
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "net/kv_comm.h"
#include "net/kv_session.h"
#include "requests/kv_sessinfo.h"

namespace kvtest {

// Generous limit for something that must happen; never reached when all is
// well.
constexpr int kMustComeMs = 10000;

// Polls cond every millisecond until it holds or ms pass.
inline bool eventually(const std::function<bool()>& cond, int ms = kMustComeMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Milliseconds since t.
inline int64_t ms_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t)
        .count();
}

inline KV_InetAddr loopback(uint16_t port)
{
    return KV_InetAddr("127.0.0.1", KV_Port(port));
}

// A bare blocking descriptor, closed with the object.
class Fd
{
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Everything, in as many calls as it takes; false on an error.
    bool write_all(const void* data, size_t n) const
    {
        const char* p = static_cast<const char*>(data);
        while (n) {
            const ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (r <= 0)
                return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    bool write_all(const std::string& s) const { return write_all(s.data(), s.size()); }
    // Reads until n bytes came, the peer closed or ms passed.
    std::string read_n(size_t n, int ms = kMustComeMs) const
    {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buf[65536];
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            const ssize_t r = ::recv(fd_, buf, std::min(sizeof(buf), n - out.size()), 0);
            if (r <= 0)
                break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }
    // Reads until the peer closes (or ms pass); eof tells whether it closed.
    std::string read_to_eof(bool& eof, int ms = kMustComeMs) const
    {
        std::string out;
        eof = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buf[65536];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return out;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                return out;
            const ssize_t r = ::recv(fd_, buf, sizeof(buf), 0);
            if (r <= 0) {
                eof = r == 0;
                return out;
            }
            out.append(buf, static_cast<size_t>(r));
        }
    }

private:
    int fd_;
};

// A blocking listening socket on 127.0.0.1 with a port the system chose.
class PlainServer
{
public:
    explicit PlainServer(int backlog = 16)
    {
        listen_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(sa);
        if (!listen_.ok() || ::bind(listen_.get(), reinterpret_cast<sockaddr*>(&sa), len) != 0 ||
            ::listen(listen_.get(), backlog) != 0 ||
            ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            listen_.reset();
        else
            port_ = ntohs(sa.sin_port);
    }
    bool ok() const { return listen_.ok(); }
    uint16_t port() const { return port_; }
    KV_InetAddr addr() const { return loopback(port_); }
    // Waits up to ms for a connection.
    Fd accept(int ms = kMustComeMs)
    {
        pollfd p{listen_.get(), POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return Fd();
        return Fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }
    void close() { listen_.reset(); }

private:
    Fd listen_;
    uint16_t port_ = 0;
};

// A blocking client connection to 127.0.0.1:port, from source address
// `from` (any port).
inline Fd plain_connect(uint16_t port, const char* from = nullptr)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.ok())
        return fd;
    if (from) {
        sockaddr_in src{};
        src.sin_family = AF_INET;
        inet_pton(AF_INET, from, &src.sin_addr);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&src), sizeof(src)) != 0)
            return Fd();
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fd();
    return fd;
}

// A port on which nothing listens (bound once, then released).
inline uint16_t closed_port()
{
    PlainServer s;
    return s.port();
}

// The session log lines and session reports a connection's informer
// collected. Pops on the test thread.
class SessLog
{
public:
    struct Line
    {
        KV_SESS_LOG kind;
        std::string text;
        bool err;
        uint32_t tavo_id;
    };

    explicit SessLog(KV_Informer& informer) : informer_(informer) {}

    std::vector<Line> lines()
    {
        drain();
        return lines_;
    }
    std::vector<KV_SessInfo> reports()
    {
        drain();
        return reports_;
    }
    // Whether a line with exactly this text (and kind 3 when not said) came.
    bool has(const std::string& text, KV_SESS_LOG kind = KV_SESS_LOG_NOTICE)
    {
        drain();
        for (const Line& l : lines_) {
            if (l.kind == kind && l.text == text)
                return true;
        }
        return false;
    }
    const Line* find(const std::string& text)
    {
        drain();
        for (const Line& l : lines_) {
            if (l.text == text)
                return &l;
        }
        return nullptr;
    }
    // Waits for the line.
    bool wait_for(const std::string& text, KV_SESS_LOG kind = KV_SESS_LOG_NOTICE)
    {
        return eventually([&] { return has(text, kind); });
    }

private:
    void drain()
    {
        while (KV_Msg* m = informer_.pop()) {
            if (m->type() == KV_MSG_SESS_LOG) {
                const auto* l = static_cast<const KV_MsgSessLog*>(m);
                lines_.push_back(
                    {l->info.kind(), l->info.text().data(), l->info.err(), l->tavo_id});
            } else if (m->type() == KV_MSG_SESS) {
                reports_.push_back(static_cast<const KV_MsgSessNtf*>(m)->info);
            }
            KV_Informer::destroy(m);
        }
    }

    KV_Informer& informer_;
    std::vector<Line> lines_;
    std::vector<KV_SessInfo> reports_;
};

// Makes the session of a test connection.
using SessFactory = std::function<KV_Session*(KV_CommBase*, KV_Socket&, const KV_InetAddr&)>;

// A connection whose sessions the test makes, with its own informer and
// options: Base is KV_Connector or KV_Listener. Ends its sessions (and a
// listener's thread) before its own part goes.
template <class Base> class TestComm : public Base
{
public:
    explicit TestComm(SessFactory make, uint32_t tavo_id = 7) : make_(std::move(make))
    {
        this->set_informer(&informer_);
        this->set_tavo_id(tavo_id);
    }
    ~TestComm() override
    {
        if constexpr (std::is_base_of_v<KV_Listener, Base>)
            this->term();
        else
            this->close_sessions();
    }

    const KV_String& dst_addr() const override { return dst_; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override
    {
        KV_Session* s = make_(this, sock, addr);
        last_.store(s);
        ++made_;
        return s;
    }
    const KV_SessOpts& sess_params() const override { return opts; }

    // The last session made (owned by the connection).
    KV_Session* last() const { return last_.load(); }
    // How many sessions were made.
    int made() const { return made_.load(); }

    KV_SessOpts opts;
    KV_Informer informer_;
    SessLog log{informer_};

private:
    SessFactory make_;
    KV_String dst_{"127.0.0.1"};
    std::atomic<KV_Session*> last_{nullptr};
    std::atomic<int> made_{0};
};

using TestConnector = TestComm<KV_Connector>;
using TestListener = TestComm<KV_Listener>;

// A session that keeps every received byte (for the test thread to read)
// and, with echo, sends it straight back.
class RecordSess : public KV_Session
{
public:
    RecordSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr, bool echo = false)
        : KV_Session(comm, sock, addr), echo_(echo)
    {
    }
    ~RecordSess() override = default;

    std::string received() const
    {
        std::lock_guard<std::mutex> g(m_);
        return got_;
    }
    size_t count() const
    {
        std::lock_guard<std::mutex> g(m_);
        return got_.size();
    }
    // The descriptor the session runs on.
    int fd() const { return fd_.load(); }
    // Why its TLS handshake failed, in the words the protocols report.
    const KV_String& ssl_err() const { return ssl.last_err(); }
    // How many passes ran process_idle.
    int idles() const { return idles_.load(); }

protected:
    bool init() override
    {
        fd_.store(sock.handle());
        return true;
    }
    bool process_in(KV_Stream& in, KV_Stream& out) override
    {
        const uint32_t n = in.length();
        {
            std::lock_guard<std::mutex> g(m_);
            got_.append(reinterpret_cast<const char*>(static_cast<const unsigned char*>(in)), n);
        }
        if (echo_ && !out.append(in, n))
            return false;
        return in.remove(n);
    }
    bool process_idle(KV_Stream&) override
    {
        ++idles_;
        return true;
    }

private:
    const bool echo_;
    mutable std::mutex m_;
    std::string got_;
    std::atomic<int> fd_{-1};
    std::atomic<int> idles_{0};
};

inline SessFactory record_sessions(bool echo = false)
{
    return [echo](KV_CommBase* c, KV_Socket& s, const KV_InetAddr& a) -> KV_Session* {
        return new RecordSess(c, s, a, echo);
    };
}

// A byte string written as numbers, for wire formats: bytes({4, 1, 0, 21}).
inline std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b)
        s += static_cast<char>(c);
    return s;
}

// A pattern that shows misordered or lost bytes.
inline std::string pattern(size_t n, unsigned seed = 1)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

// A connector with a recording session connected to a plain peer.
struct Link
{
    explicit Link(bool echo = false, uint32_t buff = 4096) : conn(record_sessions(echo))
    {
        conn.opts.set_buff_recv(buff);
        conn.opts.set_buff_send(buff);
    }
    // Connects, waits until the connection is open and accepts the peer's
    // end.
    bool open()
    {
        if (!server.ok())
            return false;
        KV_InetAddr local;
        if (!conn.connect(local, server.addr(), nullptr))
            return false;
        conn.wait_open();
        peer = server.accept();
        return peer.ok() && conn.connected();
    }
    RecordSess* sess() const { return static_cast<RecordSess*>(conn.last()); }

    PlainServer server;
    TestConnector conn;
    Fd peer;
};

} // namespace kvtest
