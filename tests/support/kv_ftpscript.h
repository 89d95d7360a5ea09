// A scripted FTP server of the tests' own on 127.0.0.1 (a port the system
// picked): a small folder tree whose LIST answers and file bytes the test
// writes byte for byte, so that a listing can hold whatever a hostile or
// broken server sends (names with "..", '/' or NUL, negative sizes), and a
// hook that takes over any command (odd replies, silence, a close).
//
// Without a hook it serves what a folder download needs: USER, PASS, SYST,
// PWD, CWD, CDUP, TYPE, REST, PASV, PORT, LIST (NLST gets the same bytes),
// RETR, SIZE, NOOP and QUIT; anything else gets "502". Every connection is served on a thread of
// its own, so that the workers of one file manager may log in side by side.
// Paths are kept as the client sent them (made absolute against the current
// folder, never resolved), so that a test sees exactly what was asked for.
//
// Threads: configure (set_*, the public fields) before the client connects;
// cmds(), count() and conns() may be read from any thread.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/kv_nettest.h"

namespace kvtest {

class FtpScript
{
public:
    // One control connection, as a hook sees it.
    class Session
    {
    public:
        Session(FtpScript& srv, const Fd& ctrl) : srv_(srv), ctrl_(ctrl) {}

        // One reply line; CR LF is added.
        void reply(const std::string& line) const { srv_.send(ctrl_, line + "\r\n"); }
        // Raw bytes on the control connection, in the server's pieces.
        void send_raw(const std::string& bytes) const { srv_.send(ctrl_, bytes); }
        // The data connection of the transfer under way: accepted after
        // PASV, connected after PORT; not valid without either.
        Fd data()
        {
            if (pasv_) {
                Fd d = pasv_->accept(5000);
                pasv_.reset();
                return d;
            }
            const uint16_t p = port_;
            port_ = 0;
            return p != 0 ? plain_connect(p) : Fd();
        }
        // One whole transfer: the data connection, "150", `bytes`, the
        // data connection closed, then `done` ("425" without a data
        // connection).
        void transfer(const std::string& bytes, const std::string& done = "226 Transfer complete.")
        {
            Fd d = data();
            if (!d.ok()) {
                reply("425 No data connection.");
                return;
            }
            reply("150 Opening data connection.");
            d.write_all(bytes);
            d.reset();
            reply(done);
        }
        // Ends the connection after the current command.
        void close() { closed_ = true; }
        bool closed() const { return closed_; }

        // The current folder, "/" at login.
        std::string cwd = "/";

    private:
        friend class FtpScript;
        FtpScript& srv_;
        const Fd& ctrl_;
        std::unique_ptr<PlainServer> pasv_;
        uint16_t port_ = 0;
        bool closed_ = false;
        size_t rest_ = 0;
    };

    // Takes a command line (without CR LF) first; true when it answered it.
    using Hook = std::function<bool(const std::string& cmd, Session& s)>;

    FtpScript()
    {
        accept_ = std::thread([this] { loop(); });
    }
    ~FtpScript()
    {
        stop_.store(true);
        accept_.join();
        std::vector<std::thread> conns;
        {
            std::lock_guard<std::mutex> g(m_);
            conns.swap(threads_);
        }
        for (std::thread& t : conns)
            t.join();
    }
    FtpScript(const FtpScript&) = delete;
    FtpScript& operator=(const FtpScript&) = delete;

    uint16_t port() const { return server_.port(); }
    // "127.0.0.1:port", as a data source names its server.
    std::string dest() const { return "127.0.0.1:" + std::to_string(port()); }

    // The LIST answer for the folder `dir` ("/pub/x", no trailing '/'):
    // sent as it is, line ends and all.
    void set_listing(const std::string& dir, const std::string& raw)
    {
        std::lock_guard<std::mutex> g(m_);
        listings_[dir] = raw;
    }
    // The bytes RETR sends for `path`.
    void set_file(const std::string& path, const std::string& bytes)
    {
        std::lock_guard<std::mutex> g(m_);
        files_[path] = bytes;
    }
    // What a server that answers everything sends for a folder or a file it
    // was never told about (null: "550" for LIST and RETR, as a real one).
    void set_any(const std::string* listing, const std::string* file)
    {
        std::lock_guard<std::mutex> g(m_);
        any_listing_ = listing ? std::make_unique<std::string>(*listing) : nullptr;
        any_file_ = file ? std::make_unique<std::string>(*file) : nullptr;
    }
    void set_hook(Hook h)
    {
        std::lock_guard<std::mutex> g(m_);
        hook_ = std::move(h);
    }

    // Every command line received, over all connections, in order.
    std::vector<std::string> cmds() const
    {
        std::lock_guard<std::mutex> g(m_);
        return cmds_;
    }
    int count(const std::string& prefix) const
    {
        int n = 0;
        for (const std::string& c : cmds())
            n += c.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    int conns() const { return conns_.load(); }

    // The greeting, and the size of the pieces control replies go out in
    // (0: whole).
    std::string welcome = "220 Scripted.\r\n";
    size_t chunk = 0;
    // What PASV names as its host.
    std::string pasv_host = "127,0,0,1";

    // "/a/b" from the current folder and a path argument ("c", "/c", "..").
    static std::string absolute(const std::string& cwd, const std::string& arg)
    {
        std::string p = arg.empty()     ? cwd
                        : arg[0] == '/' ? arg
                                        : (cwd == "/" ? "" : cwd) + "/" + arg;
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        return p;
    }

    // A Unix long-listing line: "-rw-r--r-- 1 u g <size> Jan 1 2020 <name>".
    static std::string unix_line(const std::string& name, long long size, bool dir = false)
    {
        return std::string(dir ? "drwxr-xr-x 2" : "-rw-r--r-- 1") + " u g " + std::to_string(size) +
               " Jan 1 2020 " + name + "\r\n";
    }

private:
    void send(const Fd& c, const std::string& bytes) const
    {
        if (chunk == 0) {
            c.write_all(bytes);
            return;
        }
        for (size_t i = 0; i < bytes.size(); i += chunk)
            c.write_all(bytes.substr(i, chunk));
    }

    void loop()
    {
        while (!stop_.load()) {
            Fd c = server_.accept(50);
            if (!c.ok())
                continue;
            ++conns_;
            auto fd = std::make_shared<Fd>(std::move(c));
            std::lock_guard<std::mutex> g(m_);
            threads_.emplace_back([this, fd] { serve(*fd); });
        }
    }

    void serve(const Fd& c)
    {
        send(c, welcome);
        Session s(*this, c);
        std::string buf;
        while (!stop_.load() && !s.closed()) {
            pollfd p{c.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char b[4096];
            const ssize_t n = ::recv(c.get(), b, sizeof(b), 0);
            if (n <= 0)
                return;
            buf.append(b, static_cast<size_t>(n));
            size_t eol;
            while (!s.closed() && (eol = buf.find("\r\n")) != std::string::npos) {
                const std::string line = buf.substr(0, eol);
                buf.erase(0, eol + 2);
                Hook hook;
                {
                    std::lock_guard<std::mutex> g(m_);
                    cmds_.push_back(line);
                    hook = hook_;
                }
                if (!hook || !hook(line, s))
                    answer(line, s);
            }
        }
    }

    static bool is(const std::string& line, const char* verb)
    {
        const size_t n = std::char_traits<char>::length(verb);
        return line.compare(0, n, verb) == 0 && (line.size() == n || line[n] == ' ');
    }
    static std::string arg_of(const std::string& line)
    {
        const size_t sp = line.find(' ');
        return sp == std::string::npos ? std::string() : line.substr(sp + 1);
    }

    // A LIST argument may carry options ("-a", "-aL"): they are dropped.
    static std::string list_arg(const std::string& line)
    {
        std::string a = arg_of(line);
        while (!a.empty() && a[0] == '-') {
            const size_t sp = a.find(' ');
            a = sp == std::string::npos ? std::string() : a.substr(sp + 1);
        }
        return a;
    }

    // The entry of `map` at `key`, else the fallback; false with neither.
    bool lookup(const std::map<std::string, std::string>& map, const std::string& key,
                const std::unique_ptr<std::string>& any, std::string& out) const
    {
        std::lock_guard<std::mutex> g(m_);
        const auto it = map.find(key);
        if (it != map.end()) {
            out = it->second;
            return true;
        }
        if (any) {
            out = *any;
            return true;
        }
        return false;
    }

    void answer(const std::string& l, Session& s)
    {
        if (is(l, "USER")) {
            s.reply("331 Password please.");
        } else if (is(l, "PASS")) {
            s.reply("230 Logged in.");
        } else if (is(l, "SYST")) {
            s.reply("215 UNIX Type: L8");
        } else if (is(l, "PWD")) {
            s.reply("257 \"" + s.cwd + "\" is the current directory.");
        } else if (is(l, "CWD")) {
            s.cwd = absolute(s.cwd, arg_of(l));
            s.reply("250 Ok.");
        } else if (is(l, "CDUP")) {
            const size_t at = s.cwd.rfind('/');
            s.cwd = at == 0 || at == std::string::npos ? "/" : s.cwd.substr(0, at);
            s.reply("250 Ok.");
        } else if (is(l, "TYPE") || is(l, "NOOP")) {
            s.reply("200 Ok.");
        } else if (is(l, "REST")) {
            s.rest_ = static_cast<size_t>(std::strtoull(arg_of(l).c_str(), nullptr, 10));
            s.reply("350 Restarting.");
        } else if (is(l, "PASV")) {
            s.pasv_ = std::make_unique<PlainServer>();
            s.port_ = 0;
            const uint16_t p = s.pasv_->port();
            s.reply("227 Entering Passive Mode (" + pasv_host + "," + std::to_string(p >> 8) + "," +
                    std::to_string(p & 0xFF) + ").");
        } else if (is(l, "PORT")) {
            // Only the port counts: everything runs on loopback.
            unsigned a, b, c, d, hi, lo;
            if (std::sscanf(l.c_str(), "PORT %u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &hi, &lo) == 6) {
                s.port_ = static_cast<uint16_t>(hi << 8 | lo);
                s.pasv_.reset();
                s.reply("200 PORT ok.");
            } else {
                s.reply("501 Bad PORT.");
            }
        } else if (is(l, "LIST") || is(l, "NLST")) {
            std::string raw;
            if (lookup(listings_, absolute(s.cwd, list_arg(l)), any_listing_, raw))
                s.transfer(raw);
            else
                s.reply("550 No such folder.");
        } else if (is(l, "RETR")) {
            std::string bytes;
            const size_t from = s.rest_;
            s.rest_ = 0;
            if (lookup(files_, absolute(s.cwd, arg_of(l)), any_file_, bytes))
                s.transfer(from < bytes.size() ? bytes.substr(from) : std::string());
            else
                s.reply("550 No such file.");
        } else if (is(l, "SIZE")) {
            std::string bytes;
            if (lookup(files_, absolute(s.cwd, arg_of(l)), any_file_, bytes))
                s.reply("213 " + std::to_string(bytes.size()));
            else
                s.reply("550 No such file.");
        } else if (is(l, "QUIT")) {
            s.reply("221 Bye.");
            s.close();
        } else {
            s.reply("502 Not implemented.");
        }
    }

    PlainServer server_;
    mutable std::mutex m_;
    std::map<std::string, std::string> listings_;
    std::map<std::string, std::string> files_;
    std::unique_ptr<std::string> any_listing_;
    std::unique_ptr<std::string> any_file_;
    Hook hook_;
    std::vector<std::string> cmds_;
    std::vector<std::thread> threads_;
    std::atomic<int> conns_{0};
    std::atomic<bool> stop_{false};
    std::thread accept_;
};

} // namespace kvtest
