// Shared pieces of the HTTP client tests: a connection manager with an error
// sink and a stoppable, sub-logs for downloads and uploads, and a scripted
// HTTP peer on a loopback port the system picked.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_stoppable.h"
#include "http/kv_httpactfile.h"
#include "http/kv_httpacttrans.h"
#include "http/kv_httpman.h"
#include "support/kv_nettest.h"
#include "support/kv_testtools.h"
#include "transfers/kv_translogcp.h"

namespace httptest {

// A manager on one server, run as a worker would run it.
struct Conn
{
    explicit Conn(const std::string& host, const KV_ProxyOptsHttp& proxy = KV_ProxyOptsHttp())
    {
        man.set_addrs("", host.c_str(), proxy);
    }
    // exec with the sink and the stoppable; the action's verdict.
    bool run(KV_HttpAct& act)
    {
        man.exec(eh, &act, &stopper);
        return act.executed();
    }
    std::vector<std::string> errors() const { return eh.texts(); }

    KV_HttpMan man;
    kvtest::LogErr eh;
    KV_Stoppable stopper;
};

inline KV_FileData entry(int64_t size)
{
    KV_FileData fd("file.bin", "", size, KV_Time());
    if (size >= 0)
        fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

// A sub-log that keeps a download's data itself (unsegmented, or in
// fragments of at least min_frag bytes).
inline std::unique_ptr<KV_TransLogCp> down_log(const kvtest::TempDir& dir, const std::string& name,
                                               int64_t size, bool multifrag = false,
                                               int64_t min_frag = 0)
{
    KV_PathDef src, dst;
    auto log = std::make_unique<KV_TransLogCp>(nullptr, "", entry(size), src, dst);
    log->set_flags_init(true, multifrag, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    log->man_frag().set_min_size(min_frag);
    kvtest::NullErr eh;
    if (!log->set_name((dir / name).c_str()) || !log->create(eh))
        return nullptr;
    if (multifrag && !log->init_frags(true))
        return nullptr;
    return log;
}

// The bytes an unsegmented download log holds.
inline std::string stored(KV_TransLogCp& log)
{
    log.close();
    const std::string all = kvtest::read_file(log.name().data());
    const auto at = static_cast<size_t>(log.data_offset());
    if (at > all.size())
        return std::string();
    return all.substr(at, static_cast<size_t>(log.size()));
}

// A sub-log whose data is the local file `file` of `size` bytes.
inline std::unique_ptr<KV_TransLogCp> up_log(const kvtest::TempDir& dir, const std::string& name,
                                             const std::string& file, int64_t size)
{
    KV_PathDef src, dst;
    auto log = std::make_unique<KV_TransLogCp>(nullptr, file.c_str(), entry(size), src, dst);
    log->set_flags_init(false, false, KV_TRANS_MODE_BINARY, KV_TRANS_MODE_BINARY);
    kvtest::NullErr eh;
    if (!log->set_name((dir / name).c_str()) || !log->create(eh))
        return nullptr;
    return log;
}

inline std::string make_bytes(size_t n, unsigned seed = 7)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return s;
}

inline void write_bin(const std::string& file, const std::string& bytes)
{
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// One request as the peer read it.
struct Request
{
    std::string head;     // up to and including the empty line
    std::string body;     // decoded (Content-Length or chunked)
    std::string raw_body; // as it came on the wire
};

// A scripted HTTP server: for each request on a connection it calls the
// script, which answers through the descriptor (pieces, pauses, a close).
// The script returns whether the connection stays open for a next request.
class ScriptPeer
{
public:
    using Script = std::function<bool(const kvtest::Fd& fd, const Request& req, int index)>;

    explicit ScriptPeer(Script script) : script_(std::move(script))
    {
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptPeer()
    {
        stop_.store(true);
        thread_.join();
    }
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    std::string host() const { return "127.0.0.1:" + std::to_string(server_.port()); }
    uint16_t port() const { return server_.port(); }
    bool stopping() const { return stop_.load(); }
    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> g(m_);
        return reqs_;
    }
    int connections() const { return conns_.load(); }

    // Sends text in pieces of `step` bytes with `pause_ms` between them.
    static bool trickle(const kvtest::Fd& fd, const std::string& text, size_t step, int pause_ms)
    {
        for (size_t i = 0; i < text.size(); i += step) {
            if (!fd.write_all(text.substr(i, step)))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
        return true;
    }
    // Waits until the client closes (or the peer stops).
    void wait_close(const kvtest::Fd& fd) const
    {
        char buf[4096];
        while (!stop_.load()) {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            if (::recv(fd.get(), buf, sizeof(buf), 0) <= 0)
                return;
        }
    }

private:
    // Reads one byte at a time what the client sends; false at the end.
    bool read_some(const kvtest::Fd& fd, std::string& buf)
    {
        char b[65536];
        while (!stop_.load()) {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t r = ::recv(fd.get(), b, sizeof(b), 0);
            if (r <= 0)
                return false;
            buf.append(b, static_cast<size_t>(r));
            return true;
        }
        return false;
    }

    bool read_request(const kvtest::Fd& fd, std::string& buf, Request& req)
    {
        size_t end;
        while ((end = buf.find("\r\n\r\n")) == std::string::npos)
            if (!read_some(fd, buf))
                return false;
        req.head = buf.substr(0, end + 4);
        buf.erase(0, end + 4);
        std::string lower = req.head;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t cl = lower.find("\r\ncontent-length:");
        if (lower.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
            for (;;) {
                size_t le;
                while ((le = buf.find("\r\n")) == std::string::npos)
                    if (!read_some(fd, buf))
                        return false;
                const size_t n = std::stoul(buf.substr(0, le), nullptr, 16);
                while (buf.size() < le + 2 + n + 2)
                    if (!read_some(fd, buf))
                        return false;
                req.raw_body += buf.substr(0, le + 2 + n + 2);
                req.body += buf.substr(le + 2, n);
                buf.erase(0, le + 2 + n + 2);
                if (n == 0)
                    break;
            }
            // Whatever empty lines follow the last chunk.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pollfd p{fd.get(), POLLIN, 0};
            while (::poll(&p, 1, 20) > 0 && read_some(fd, buf)) {
            }
            req.raw_body += buf;
            buf.clear();
        } else if (cl != std::string::npos) {
            const size_t n = std::stoul(lower.substr(cl + 17));
            while (buf.size() < n)
                if (!read_some(fd, buf))
                    return false;
            req.body = req.raw_body = buf.substr(0, n);
            buf.erase(0, n);
        }
        return true;
    }

    void run()
    {
        int index = 0;
        while (!stop_.load()) {
            kvtest::Fd fd = server_.accept(50);
            if (!fd.ok())
                continue;
            ++conns_;
            std::string buf;
            for (;;) {
                Request req;
                if (!read_request(fd, buf, req))
                    break;
                {
                    std::lock_guard<std::mutex> g(m_);
                    reqs_.push_back(req);
                }
                if (!script_(fd, req, index++))
                    break;
            }
        }
    }

    kvtest::PlainServer server_;
    Script script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> conns_{0};
    std::mutex m_;
    std::vector<Request> reqs_;
    std::thread thread_;
};

} // namespace httptest
