// The HTTP connection manager, its session and the request actions against
// a scripted peer on loopback: request heads byte by byte, the status and
// header table, chunked bodies, cut bodies, stalls, ranged answers and the
// upload framing.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kv_filetreenode.h"
#include "http/kv_httpsess.h"
#include "http/kv_httptest.h"
#include "support/kv_testdir.h"

namespace {

using namespace httptest;
using kvtest::Fd;

std::string ok_resp(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Answers every request with `text` and keeps the connection open.
ScriptPeer::Script answer(const std::string& text)
{
    return [text](const Fd& fd, const Request&, int) { return fd.write_all(text); };
}

class HttpLoop : public kvtest::TempDirTest
{
protected:
    // A GET of /r from offset 0 into a new log; the bytes stored.
    struct Got
    {
        bool executed = false;
        bool timed_out = false;
        std::string data;
    };
    Got get(Conn& c, const std::string& uri = "/r", int64_t offset = 0)
    {
        auto log = down_log(dir, "get" + std::to_string(++n_) + ".log", -1);
        EXPECT_TRUE(log);
        Got g;
        if (!log)
            return g;
        if (offset) {
            // Resume: the first offset bytes are there already.
            const std::string pre(static_cast<size_t>(offset), 'p');
            EXPECT_TRUE(log->write_at(0, reinterpret_cast<const unsigned char*>(pre.data()),
                                      static_cast<uint32_t>(pre.size())));
        }
        KV_HttpActGet act(uri.c_str(), "", offset, log.get());
        g.executed = c.run(act);
        g.timed_out = act.timed_out();
        g.data = stored(*log);
        return g;
    }
    int n_ = 0;
    // Logs that actions made by a table keep using.
    std::vector<std::unique_ptr<KV_TransLogCp>> logs_;
};

// ---------------------------------------------------------------------------
// Request heads

struct HeadCase
{
    const char* name;
    std::function<std::unique_ptr<KV_HttpAct>(HttpLoop&)> make;
    std::function<void(KV_HttpMan&)> setup;
    std::string head; // with "{H}" for the peer's host
};

TEST_F(HttpLoop, RequestHeadsByteForByte)
{
    const std::string common = "User-Agent: Kivrel\r\nAccept: */*\r\nPragma: no-cache\r\n";
    const std::string cc = "Cache-Control: no-cache\r\n";
    const std::string auth =
        "Authorization: Basic " + std::string(KV_String("joe:pw").encrypt_base64().data()) + "\r\n";
    auto del = [](const char* uri) {
        return [uri](HttpLoop&) -> std::unique_ptr<KV_HttpAct> {
            return std::make_unique<KV_HttpActDel>(uri);
        };
    };
    static KV_HttpActListParams head_params{KV_PathDef(), "/h", "h"};
    auto head = [](HttpLoop&) -> std::unique_ptr<KV_HttpAct> {
        return std::make_unique<KV_HttpActHead>(head_params);
    };
    auto login = [](uint16_t cmds, bool on) {
        return [cmds, on](KV_HttpMan& m) {
            KV_HttpLoginData l("joe", "pw");
            l.set_auth(on);
            l.set_auth_cmds(cmds);
            m.set_ldata(l);
        };
    };
    auto version = [](uint32_t major, uint32_t minor, bool persistent) {
        return [=](KV_HttpMan& m) {
            KV_HttpManOpts o;
            o.set_version(KV_HttpVer(major, minor));
            o.set_persistent(persistent);
            m.set_opts(o);
        };
    };
    auto get_from = [this](int64_t offset) {
        return [this, offset](HttpLoop&) -> std::unique_ptr<KV_HttpAct> {
            logs_.push_back(down_log(dir, "h" + std::to_string(logs_.size()), -1));
            return std::make_unique<KV_HttpActGet>("/g", "", offset, logs_.back().get());
        };
    };
    auto put_of = [this](bool chunked) {
        return [this, chunked](HttpLoop&) -> std::unique_ptr<KV_HttpAct> {
            const std::string file = dir / "p.bin";
            write_bin(file, "12345");
            logs_.push_back(up_log(dir, "p" + std::to_string(logs_.size()), file, 5));
            return std::make_unique<KV_HttpActPut>(file.c_str(), "/p", logs_.back().get(), 0,
                                                   chunked);
        };
    };
    auto connect = [](HttpLoop&) -> std::unique_ptr<KV_HttpAct> {
        return std::make_unique<KV_HttpActConnect>("far.test:443");
    };
    const std::vector<HeadCase> cases = {
        {"connect, never with the login", connect, login(0xFF, true),
         "CONNECT far.test:443 HTTP/1.1\r\nHost: far.test:443\r\n\r\n"},
        {"get", get_from(0), nullptr, "GET /g HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "\r\n"},
        {"get resumed, with a login", get_from(1000), login(0x01, true),
         "GET /g HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "Range: bytes=1000-\r\n" + auth +
             "\r\n"},
        {"put", put_of(false), nullptr,
         "PUT /p HTTP/1.1\r\nHost: {H}\r\n" + common + cc +
             "Content-Length: 5\r\nContent-Type: application/octet-stream\r\n\r\n"},
        {"put chunked, 1.0", put_of(true), version(1, 0, false),
         "PUT /p HTTP/1.0\r\n" + common +
             "Transfer-encoding: chunked\r\nContent-Type: application/octet-stream\r\n\r\n"},
        {"delete 1.1", del("/a b"), nullptr,
         "DELETE /a%20b HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "\r\n"},
        {"escaped uri kept", del("/a%20b"), nullptr,
         "DELETE /a%20b HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "\r\n"},
        {"not persistent", del("/x"), version(1, 1, false),
         "DELETE /x HTTP/1.1\r\nHost: {H}\r\nConnection: close\r\n" + common + cc + "\r\n"},
        {"1.0", head, version(1, 0, true), "HEAD /h HTTP/1.0\r\n" + common + "\r\n"},
        {"0.0", del("/x"), version(0, 0, true), "DELETE /x\r\n" + common + "\r\n"},
        {"auth for the method", del("/x"), login(0x08, true),
         "DELETE /x HTTP/1.1\r\nHost: {H}\r\n" + common + cc + auth + "\r\n"},
        {"auth for other methods", del("/x"), login(0xF7, true),
         "DELETE /x HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "\r\n"},
        {"auth off", del("/x"), login(0xFF, false),
         "DELETE /x HTTP/1.1\r\nHost: {H}\r\n" + common + cc + "\r\n"},
        {"head auth bit", head, login(0x02, true),
         "HEAD /h HTTP/1.1\r\nHost: {H}\r\n" + common + cc + auth + "\r\n"},
        {"absolute uri", del("http://other.test:81/x"), nullptr,
         "DELETE http://other.test:81/x HTTP/1.1\r\nHost: other.test:81\r\n" + common + cc +
             "\r\n"},
    };
    for (const HeadCase& hc : cases) {
        SCOPED_TRACE(hc.name);
        ScriptPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
        Conn c(peer.host());
        if (hc.setup)
            hc.setup(c.man);
        auto act = hc.make(*this);
        EXPECT_TRUE(c.run(*act)) << c.man.err_msg().data();
        ASSERT_EQ(peer.requests().size(), 1u);
        std::string want = hc.head;
        const size_t at = want.find("{H}");
        if (at != std::string::npos)
            want.replace(at, 3, peer.host());
        EXPECT_EQ(peer.requests()[0].head, want);
    }
}

TEST_F(HttpLoop, HttpProxyGetsTheAbsoluteUriAndItsLogin)
{
    ScriptPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    KV_ProxyOptsHttp proxy;
    proxy.set_type(KV_PROXY_HTTP_STD);
    proxy.set_addr("127.0.0.1");
    ASSERT_TRUE(proxy.set_port(peer.port()));
    proxy.set_ldata(KV_LoginData("pu", "pp"));
    Conn c("far.test:8080", proxy);
    KV_HttpActDel del("/d/x");
    EXPECT_TRUE(c.run(del)) << c.man.err_msg().data();
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].head,
              "DELETE http://far.test:8080/d/x HTTP/1.1\r\nHost: far.test:8080\r\n"
              "Connection: close\r\nUser-Agent: Kivrel\r\nAccept: */*\r\nPragma: no-cache\r\n"
              "Cache-Control: no-cache\r\nProxy-Authorization: Basic " +
                  std::string(KV_String("pu:pp").encrypt_base64().data()) + "\r\n\r\n");
}

// The server's and the proxy's Basic credentials go on the wire; the
// session log shows each line with a mask in the credential's place.
TEST_F(HttpLoop, LoginsReachThePeerButTheSessionLogShowsAMask)
{
    ScriptPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    KV_ProxyOptsHttp proxy;
    proxy.set_type(KV_PROXY_HTTP_STD);
    proxy.set_addr("127.0.0.1");
    ASSERT_TRUE(proxy.set_port(peer.port()));
    proxy.set_ldata(KV_LoginData("pu", "proxy-pw"));
    // Outlives the connection, whose session thread logs to it.
    KV_Informer informer;
    kvtest::SessLog log(informer);
    Conn c("far.test:8080", proxy);
    KV_HttpLoginData login("joe", "server-pw");
    login.set_auth(true);
    login.set_auth_cmds(0xFF);
    c.man.set_ldata(login);
    c.man.set_informer(&informer);
    KV_HttpActDel del("/d/x");
    EXPECT_TRUE(c.run(del)) << c.man.err_msg().data();
    const std::string cred = KV_String("joe:server-pw").encrypt_base64().data();
    const std::string pcred = KV_String("pu:proxy-pw").encrypt_base64().data();
    ASSERT_EQ(peer.requests().size(), 1u);
    const std::string head = peer.requests()[0].head;
    EXPECT_NE(head.find("\r\nAuthorization: Basic " + cred + "\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nProxy-Authorization: Basic " + pcred + "\r\n"), std::string::npos)
        << head;
    EXPECT_TRUE(log.has("Authorization: Basic ******", KV_SESS_LOG_SENT));
    EXPECT_TRUE(log.has("Proxy-Authorization: Basic ******", KV_SESS_LOG_SENT));
    for (const auto& l : log.lines()) {
        EXPECT_EQ(l.text.find(cred), std::string::npos) << l.text;
        EXPECT_EQ(l.text.find(pcred), std::string::npos) << l.text;
        EXPECT_EQ(l.text.find("-pw"), std::string::npos) << l.text;
    }
}

TEST_F(HttpLoop, GetRangeLines)
{
    ScriptPeer peer([](const Fd& fd, const Request& req, int) {
        // Whatever was asked, a 206 from the asked offset.
        const size_t at = req.head.find("Range: bytes=");
        const std::string from = at == std::string::npos
                                     ? "0"
                                     : req.head.substr(at + 13, req.head.find('-', at) - at - 13);
        return fd.write_all("HTTP/1.1 206 Partial\r\nContent-Range: bytes " + from +
                            "-2047/9000\r\nContent-Length: 0\r\n\r\n");
    });
    Conn c(peer.host());
    auto log = down_log(dir, "frag.log", 9000, true, 0);
    ASSERT_TRUE(log);
    KV_FileFrag frag(nullptr, 2048, 4096, KV_FileFrag::NEW);
    {
        KV_HttpActGet whole("/r", "", int64_t{0}, log.get());
        c.run(whole);
        KV_HttpActGet resumed("/r", "", int64_t{1000}, log.get());
        c.run(resumed);
        KV_HttpActGet fragment("/r", "", &frag, log.get());
        c.run(fragment);
    }
    const auto reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].head.find("Range:"), std::string::npos);
    EXPECT_NE(reqs[1].head.find("\r\nRange: bytes=1000-\r\n"), std::string::npos) << reqs[1].head;
    EXPECT_NE(reqs[2].head.find("\r\nRange: bytes=2048-4095\r\n"), std::string::npos)
        << reqs[2].head;
}

// ---------------------------------------------------------------------------
// Status lines and header lines

struct StatusCase
{
    const char* name;
    std::string response;
    bool executed;
    KV_HTTP_ERR last_err;
    std::string err_msg;
    std::string data;
};

TEST_F(HttpLoop, StatusAndHeaderTable)
{
    const std::vector<StatusCase> cases = {
        {"200", ok_resp("hello"), true, KV_HTTP_ERR_REASON, "", "hello"},
        {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", true,
         KV_HTTP_ERR_REASON, "", "ok"},
        {"lower-case names", "HTTP/1.1 200 OK\r\ncontent-length: 3\r\nx-junk\r\n\r\nabc", true,
         KV_HTTP_ERR_REASON, "", "abc"},
        {"content length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true,
         KV_HTTP_ERR_REASON, "", ""},
        {"204", "HTTP/1.1 204 No Content\r\n\r\n", true, KV_HTTP_ERR_REASON, "", ""},
        {"interim 100", "HTTP/1.1 100 Continue\r\n\r\n" + ok_resp("xy"), true, KV_HTTP_ERR_REASON,
         "", "xy"},
        {"301", "HTTP/1.1 301 Moved\r\nLocation: /else\r\nContent-Length: 0\r\n\r\n", false,
         KV_HTTP_ERR_CODE, "", ""},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnot", false,
         KV_HTTP_ERR_NOT_FOUND, "", ""},
        {"500", "HTTP/1.1 500   Server Broke  \r\nContent-Length: 0\r\n\r\n", false,
         KV_HTTP_ERR_REASON, "Server Broke", ""},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello", false,
         KV_HTTP_ERR_REASON, "Invalid Content-Length in the response.", ""},
        {"malformed length", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello", false,
         KV_HTTP_ERR_REASON, "Invalid Content-Length in the response.", ""},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello",
         false, KV_HTTP_ERR_REASON, "Invalid Content-Length in the response.", ""},
        {"unreadable status", "HTTP/1.x 200 OK\r\nContent-Length: 0\r\n\r\n", false,
         KV_HTTP_ERR_REASON, "", ""},
    };
    for (const StatusCase& sc : cases) {
        SCOPED_TRACE(sc.name);
        // The connection stays open: the end of each body must be found
        // from the response itself.
        ScriptPeer peer(answer(sc.response));
        Conn c(peer.host());
        const auto start = std::chrono::steady_clock::now();
        const Got g = get(c);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(g.executed, sc.executed);
        EXPECT_FALSE(g.timed_out);
        EXPECT_EQ(c.man.last_err(), sc.last_err);
        EXPECT_EQ(std::string(c.man.err_msg().data()), sc.err_msg);
        if (sc.executed) {
            EXPECT_EQ(g.data, sc.data);
        }
        if (!sc.err_msg.empty()) {
            ASSERT_EQ(c.errors().size(), 1u);
            EXPECT_EQ(c.errors()[0], "HTTP: " + sc.err_msg);
        }
    }
}

// A head that never ends must not fill the memory nor hold the worker: a
// line over 64 KiB and a head of more than 100 lines (interim heads
// included) fail the response with a clear error.
TEST_F(HttpLoop, HeadLinesAndTheirNumberAreBounded)
{
    const uint32_t max = KV_HttpSess::max_line;
    const std::string status = "HTTP/1.1 200 OK\r\n";
    auto big = [](size_t len) { return "X-Big: " + std::string(len - 7, 'b') + "\r\n"; };
    auto headers = [](int n) {
        std::string h;
        for (int i = 0; i < n; ++i)
            h += "X-" + std::to_string(i) + ": v\r\n";
        return h;
    };
    const std::string tail = "Content-Length: 2\r\n\r\nok";
    std::string interims;
    for (int i = 0; i < 60; ++i)
        interims += "HTTP/1.1 100 Continue\r\n\r\n";
    const std::vector<StatusCase> cases = {
        {"a line at the limit", status + big(max) + tail, true, KV_HTTP_ERR_REASON, "", "ok"},
        {"a line at the limit with CRs inside",
         status + "X: " + std::string(max - 3, 'c') + "\r\r\r\n" + tail, true, KV_HTTP_ERR_REASON,
         "", "ok"},
        {"one byte over", status + big(max + 1) + tail, false, KV_HTTP_ERR_REASON,
         KV_HttpSess::line_too_long_msg, ""},
        {"8 MB without a line end", status + "X: " + std::string(8u << 20, 'a'), false,
         KV_HTTP_ERR_REASON, KV_HttpSess::line_too_long_msg, ""},
        // The status line, 97 more, Content-Length and the empty line.
        {"100 lines", status + headers(97) + tail, true, KV_HTTP_ERR_REASON, "", "ok"},
        {"101 lines", status + headers(98) + tail, false, KV_HTTP_ERR_REASON,
         KV_HttpSess::head_too_long_msg, ""},
        {"endless interim heads", interims + ok_resp("ok"), false, KV_HTTP_ERR_REASON,
         KV_HttpSess::head_too_long_msg, ""},
    };
    for (const StatusCase& sc : cases) {
        SCOPED_TRACE(sc.name);
        ScriptPeer peer(answer(sc.response));
        Conn c(peer.host());
        const Got g = get(c);
        EXPECT_EQ(g.executed, sc.executed);
        EXPECT_FALSE(g.timed_out);
        EXPECT_EQ(std::string(c.man.err_msg().data()), sc.err_msg);
        if (sc.executed) {
            EXPECT_EQ(g.data, sc.data);
        } else {
            ASSERT_EQ(c.errors().size(), 1u);
            EXPECT_EQ(c.errors()[0], "HTTP: " + sc.err_msg);
        }
    }
}

TEST_F(HttpLoop, RedirectLeavesTheLocation)
{
    ScriptPeer peer(answer("HTTP/1.1 302 Found\r\nLocation: http://x.test/new\r\n\r\n"));
    Conn c(peer.host());
    KV_HttpActDel del("/old");
    EXPECT_FALSE(c.run(del));
    EXPECT_EQ(std::string(c.man.redir().data()), "http://x.test/new");
    EXPECT_EQ(c.man.last_err(), KV_HTTP_ERR_CODE);
    EXPECT_TRUE(c.errors().empty());
}

TEST_F(HttpLoop, HeadFindsWhatAsksForALoginButNotWhatIsMissing)
{
    const KV_HttpActListParams params{KV_PathDef(), "/f.txt", "f.txt"};
    {
        ScriptPeer peer(
            answer("HTTP/1.1 401 Unauthorized\r\nContent-Length: 1234\r\nAccept-Ranges: bytes\r\n"
                   "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n"));
        Conn c(peer.host());
        KV_HttpActHead head(params);
        EXPECT_TRUE(c.run(head));
        std::unique_ptr<KV_FileTreeNode> node(head.get_node());
        ASSERT_TRUE(node);
        EXPECT_EQ(std::string(node->name().data()), "f.txt");
        EXPECT_EQ(node->fdc().size(false), 1234);
        EXPECT_TRUE(node->fdc().valid_size(false));
        EXPECT_TRUE(node->fdc().multifrag());
        EXPECT_TRUE(node->fdc().valid_time());
        EXPECT_EQ(head.get_node(), nullptr) << "handed over once";
    }
    ScriptPeer peer(answer("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
    Conn c(peer.host());
    KV_HttpActHead head(params);
    EXPECT_FALSE(c.run(head));
    EXPECT_EQ(c.man.last_err(), KV_HTTP_ERR_NOT_FOUND);
    EXPECT_EQ(head.get_node(), nullptr);
}

TEST_F(HttpLoop, PersistentConnectionCarriesTheNextRequest)
{
    ScriptPeer peer([](const Fd& fd, const Request&, int i) {
        // The chunked answer goes out byte by byte, so that the last CR LF
        // comes in a receive of its own.
        return ScriptPeer::trickle(fd,
                                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nab" +
                                       std::to_string(i) + "\r\n0\r\n\r\n",
                                   1, 1);
    });
    Conn c(peer.host());
    EXPECT_EQ(get(c).data, "ab0");
    EXPECT_EQ(get(c).data, "ab1");
    EXPECT_EQ(peer.connections(), 1);
}

TEST_F(HttpLoop, AnHttp10AnswerEndsTheConnection)
{
    ScriptPeer peer([](const Fd& fd, const Request&, int i) {
        fd.write_all("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nk" + std::to_string(i));
        // The server closes a moment later, as a 1.0 server does.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return false;
    });
    Conn c(peer.host());
    EXPECT_EQ(get(c).data, "k0");
    EXPECT_TRUE(c.man.conn_close());
    EXPECT_EQ(get(c).data, "k1");
    EXPECT_EQ(peer.connections(), 2);
}

// Through a CONNECT tunnel the target gets the default port of the scheme
// when it has none; the peer plays the proxy and then the server.
TEST_F(HttpLoop, TunnelTargetGetsTheDefaultPort)
{
    ScriptPeer peer([](const Fd& fd, const Request& req, int) {
        if (req.head.rfind("CONNECT ", 0) == 0)
            return fd.write_all("HTTP/1.0 200 Connection established\r\n\r\n");
        return fd.write_all(ok_resp("tunnelled"));
    });
    KV_ProxyOptsHttp proxy;
    proxy.set_type(KV_PROXY_HTTP_CONNECT);
    proxy.set_addr("127.0.0.1");
    ASSERT_TRUE(proxy.set_port(peer.port()));
    Conn c("far.test", proxy);
    EXPECT_EQ(get(c).data, "tunnelled");
    const auto reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].head.rfind("CONNECT far.test:80 HTTP/1.0\r\n", 0), 0u) << reqs[0].head;
    EXPECT_EQ(reqs[1].head.rfind("GET /r HTTP/1.1\r\nHost: far.test\r\n", 0), 0u) << reqs[1].head;
}

TEST_F(HttpLoop, RefusedConnection)
{
    Conn c("127.0.0.1:" + std::to_string(kvtest::closed_port()));
    KV_HttpActDel del("/x");
    EXPECT_FALSE(c.run(del));
    EXPECT_TRUE(c.man.conn_err());
    ASSERT_EQ(c.errors().size(), 1u);
    EXPECT_EQ(c.errors()[0], "HTTP: Connection attempt failed.");
}

// ---------------------------------------------------------------------------
// Chunked bodies and cut bodies

struct ChunkCase
{
    const char* name;
    std::string body; // after the head
    bool executed;
    std::string data;
};

TEST_F(HttpLoop, ChunkedBodies)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::vector<ChunkCase> cases = {
        {"one chunk", "5\r\nhello\r\n0\r\n\r\n", true, "hello"},
        {"hex case, blanks, extensions",
         "A\r\n0123456789\r\n a ; name=v \r\nabcdefghij\r\n0\r\n\r\n", true,
         "0123456789abcdefghij"},
        {"trailer", "5\r\nhello\r\n0\r\nX-Sum: 1\r\n\r\n", true, "hello"},
        {"bare LF", "5\nhello\n0\n\n", true, "hello"},
        {"not hex", "zz\r\nhello\r\n0\r\n\r\n", false, ""},
        {"empty size line", "\r\nhello\r\n0\r\n\r\n", false, ""},
        {"negative", "-5\r\nhello\r\n0\r\n\r\n", false, ""},
        {"2^64-1", "ffffffffffffffff\r\nhello\r\n0\r\n\r\n", false, ""},
        {"2^63", "8000000000000000\r\nhello\r\n0\r\n\r\n", false, ""},
        {"data longer than its size", "3\r\nhello\r\n0\r\n\r\n", false, ""},
    };
    for (const ChunkCase& cc : cases) {
        for (size_t step : {size_t{1}, size_t{4096}}) {
            SCOPED_TRACE(std::string(cc.name) + (step == 1 ? " byte by byte" : " whole"));
            ScriptPeer peer([&](const Fd& fd, const Request&, int) {
                return ScriptPeer::trickle(fd, head + cc.body, step, step == 1 ? 1 : 0);
            });
            Conn c(peer.host());
            const Got g = get(c);
            EXPECT_EQ(g.executed, cc.executed);
            if (cc.executed) {
                EXPECT_EQ(g.data, cc.data);
            }
        }
    }
}

TEST_F(HttpLoop, BodyCutShortFailsAndKeepsWhatCame)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello"},
        {"chunked without the last chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"},
        {"chunked inside a chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nhello"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        ScriptPeer peer([&](const Fd& fd, const Request&, int) {
            fd.write_all(text);
            return false; // and close
        });
        Conn c(peer.host());
        const Got g = get(c);
        EXPECT_FALSE(g.executed);
        EXPECT_EQ(g.data, "hello") << "what came stays for the resume";
    }
    // Without a length the end of the connection is the end of the body.
    ScriptPeer peer([](const Fd& fd, const Request&, int) {
        fd.write_all("HTTP/1.0 200 OK\r\n\r\nall of it");
        return false;
    });
    Conn c(peer.host());
    const Got g = get(c);
    EXPECT_TRUE(g.executed);
    EXPECT_EQ(g.data, "all of it");
}

// ---------------------------------------------------------------------------
// Stalls

TEST_F(HttpLoop, StalledBodyTimesOut)
{
    ScriptPeer peer([](const Fd& fd, const Request&, int) {
        fd.write_all("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst");
        return true; // and say nothing more
    });
    Conn c(peer.host());
    KV_HttpManOpts o;
    o.set_tmout_hdr_resp(1);
    c.man.set_opts(o);
    const auto start = std::chrono::steady_clock::now();
    const Got g = get(c);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(g.executed);
    EXPECT_TRUE(g.timed_out);
    EXPECT_EQ(g.data, "first");
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(8));
}

TEST_F(HttpLoop, TricklingBodyIsNoStall)
{
    // Slower in all than the time-out, but never idle that long.
    const std::string body = kvtest::TempDir().ok() ? std::string(30, 'x') : std::string();
    ScriptPeer peer([&](const Fd& fd, const Request&, int) {
        return ScriptPeer::trickle(fd, ok_resp(body), 10, 60);
    });
    Conn c(peer.host());
    KV_HttpManOpts o;
    o.set_tmout_hdr_resp(1);
    c.man.set_opts(o);
    const Got g = get(c);
    EXPECT_TRUE(g.executed);
    EXPECT_EQ(g.data, body);
}

TEST_F(HttpLoop, StopEndsAStallAtOnce)
{
    ScriptPeer peer([](const Fd& fd, const Request&, int) {
        fd.write_all("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst");
        return true;
    });
    Conn c(peer.host());
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.stopper.stop(KV_STOP_CANCEL);
    });
    const auto start = std::chrono::steady_clock::now();
    const Got g = get(c);
    stopper.join();
    EXPECT_FALSE(g.executed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(c.errors().empty()) << "a cancel is no error";
}

// ---------------------------------------------------------------------------
// Ranged answers

TEST_F(HttpLoop, ResumedGetAnsweredWholeStartsAgainAtZero)
{
    const std::string body = "0123456789abcdef";
    ScriptPeer peer(answer(ok_resp(body)));
    Conn c(peer.host());
    const Got g = get(c, "/r", 6);
    EXPECT_TRUE(g.executed);
    EXPECT_EQ(g.data, body) << "never the whole body after the first 6 bytes";
}

TEST_F(HttpLoop, ResumedGetWithTheRightRange)
{
    ScriptPeer peer(answer(
        "HTTP/1.1 206 Partial\r\nContent-Range: bytes 6-9/10\r\nContent-Length: 4\r\n\r\n6789"));
    Conn c(peer.host());
    const Got g = get(c, "/r", 6);
    EXPECT_TRUE(g.executed);
    EXPECT_EQ(g.data, "pppppp6789");
}

TEST_F(HttpLoop, WrongRangeFails)
{
    for (const char* cr : {"bytes 0-3/10", "bytes 5-8/10", "garbage", ""}) {
        SCOPED_TRACE(cr);
        const std::string line = *cr ? std::string("Content-Range: ") + cr + "\r\n" : "";
        ScriptPeer peer(
            answer("HTTP/1.1 206 Partial\r\n" + line + "Content-Length: 4\r\n\r\n0123"));
        Conn c(peer.host());
        const Got g = get(c, "/r", 6);
        EXPECT_FALSE(g.executed);
        EXPECT_EQ(g.data, "pppppp") << "nothing written at the wrong place";
    }
}

TEST_F(HttpLoop, Fragments)
{
    const std::string whole = make_bytes(9000);
    auto log = down_log(dir, "frags.log", 9000, true, 0);
    ASSERT_TRUE(log);
    KV_FileFrag frag(nullptr, 2048, 4096, KV_FileFrag::NEW);
    {
        // A longer answer than asked: only the fragment's bytes are kept.
        ScriptPeer peer(answer("HTTP/1.1 206 Partial\r\nContent-Range: bytes 2048-8999/9000\r\n"
                               "Content-Length: 6952\r\n\r\n" +
                               whole.substr(2048)));
        Conn c(peer.host());
        KV_HttpActGet get("/r", "", &frag, log.get());
        EXPECT_TRUE(c.run(get));
        EXPECT_TRUE(frag.done());
        EXPECT_EQ(frag.pos(), 4096);
        std::string back(2048, '\0');
        uint32_t len = 2048;
        ASSERT_TRUE(log->read_frag(frag, reinterpret_cast<unsigned char*>(back.data()), 0, len));
        EXPECT_EQ(len, 2048u);
        EXPECT_EQ(back, whole.substr(2048, 2048));
    }
    {
        // A server that ignores ranges fails the fragment.
        KV_FileFrag f2(nullptr, 4096, 6000, KV_FileFrag::NEW);
        ScriptPeer peer(answer(ok_resp(whole)));
        Conn c(peer.host());
        KV_HttpActGet get("/r", "", &f2, log.get());
        EXPECT_FALSE(c.run(get));
        EXPECT_EQ(f2.pos(), 4096) << "nothing stored";
    }
    {
        // A short answer leaves the fragment open.
        KV_FileFrag f3(nullptr, 6000, 7000, KV_FileFrag::NEW);
        ScriptPeer peer(answer("HTTP/1.1 206 Partial\r\nContent-Range: bytes 6000-6099/9000\r\n"
                               "Content-Length: 100\r\n\r\n" +
                               whole.substr(6000, 100)));
        Conn c(peer.host());
        KV_HttpActGet get("/r", "", &f3, log.get());
        EXPECT_FALSE(c.run(get));
        EXPECT_EQ(f3.pos(), 6100);
    }
}

// ---------------------------------------------------------------------------
// Uploads

TEST_F(HttpLoop, PutFraming)
{
    struct Case
    {
        const char* name;
        size_t size;
        bool chunked;
        int64_t offset;
    };
    for (const Case& pc :
         {Case{"chunked 10000", 10000, true, 0}, Case{"chunked empty", 0, true, 0},
          Case{"chunked 4 KiB", 4096, true, 0}, Case{"chunked 300000", 300000, true, 0},
          Case{"length", 10000, false, 0}, Case{"length, resumed", 10000, false, 4000},
          Case{"chunked, resumed", 5000, true, 100}}) {
        SCOPED_TRACE(pc.name);
        const std::string data = make_bytes(pc.size, 3);
        const std::string file = dir / "up.bin";
        write_bin(file, data);
        auto log = up_log(dir, "up.log", file, static_cast<int64_t>(data.size()));
        ASSERT_TRUE(log);
        ScriptPeer peer(answer("HTTP/1.1 201 Created\r\nContent-Length: 7\r\n\r\ncreated"));
        Conn c(peer.host());
        KV_HttpActPut put(file.c_str(), "/up.bin", log.get(), pc.offset, pc.chunked);
        EXPECT_TRUE(c.run(put)) << c.man.err_msg().data();
        ASSERT_EQ(peer.requests().size(), 1u);
        const Request r = peer.requests()[0];
        EXPECT_EQ(r.head.find("Range:"), std::string::npos) << "the whole file goes";
        EXPECT_NE(r.head.find("\r\nContent-Type: application/octet-stream\r\n"), std::string::npos);
        EXPECT_EQ(r.body, data);
        if (pc.chunked) {
            EXPECT_NE(r.head.find("\r\nTransfer-encoding: chunked\r\n"), std::string::npos);
            // The body goes in large blocks whatever the session's buffer
            // setting (4 KiB here): a file of a few KiB is one chunk.
            const size_t block = KV_Session::NET_BLOCK;
            std::string want;
            for (size_t at = 0; at < data.size(); at += block) {
                const size_t n = std::min<size_t>(block, data.size() - at);
                char hex[16];
                std::snprintf(hex, sizeof(hex), "%zx", n);
                want += std::string(hex) + "\r\n" + data.substr(at, n) + "\r\n";
            }
            want += "0\r\n\r\n\r\n";
            EXPECT_EQ(r.raw_body, want);
            if (pc.size == 10000) {
                EXPECT_EQ(r.raw_body.rfind("2710\r\n", 0), 0u) << "one chunk";
            }
            if (pc.size == 4096) {
                EXPECT_EQ(r.raw_body.rfind("1000\r\n", 0), 0u) << "one chunk";
            }
        } else {
            EXPECT_NE(r.head.find("\r\nContent-Length: " + std::to_string(pc.size) + "\r\n"),
                      std::string::npos);
        }
    }
}

// A PUT whose answer has an end the client sees (a length, no body, chunks)
// and keeps HTTP/1.1's connection leaves it for the next request; the
// answer's body is read to its end, so the next answer is read from its
// own first byte. Other answers end the connection, as does a chunked
// upload.
TEST_F(HttpLoop, PutAnsweredWithALengthKeepsTheConnection)
{
    struct Case
    {
        const char* name;
        std::string answer;
        bool chunked_up;
        bool stays; // the server keeps the connection after the PUT
        int connections;
    };
    const Case cases[] = {
        {"201 with a length", "HTTP/1.1 201 Created\r\nContent-Length: 7\r\n\r\ncreated", false,
         true, 1},
        {"204 without a body", "HTTP/1.1 204 No Content\r\n\r\n", false, true, 1},
        {"201 in chunks",
         "HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nmade\r\n0\r\n\r\n", false,
         true, 1},
        {"Connection: close",
         "HTTP/1.1 201 Created\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", false, false,
         2},
        {"HTTP/1.0", "HTTP/1.0 201 Created\r\nContent-Length: 2\r\n\r\nok", false, false, 2},
        {"chunked upload", "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", true, true, 2},
    };
    for (const Case& pc : cases) {
        SCOPED_TRACE(pc.name);
        const std::string data = make_bytes(4096, 5);
        const std::string file = dir / "up.bin";
        write_bin(file, data);
        auto log = up_log(dir, "up.log", file, static_cast<int64_t>(data.size()));
        ASSERT_TRUE(log);
        ScriptPeer peer([&pc](const Fd& fd, const Request& req, int) {
            if (req.head.rfind("PUT ", 0) == 0) {
                fd.write_all(pc.answer);
                return pc.stays;
            }
            fd.write_all(ok_resp("next"));
            return true;
        });
        Conn c(peer.host());
        KV_HttpActPut put(file.c_str(), "/up.bin", log.get(), 0, pc.chunked_up);
        EXPECT_TRUE(c.run(put)) << c.man.err_msg().data();
        EXPECT_EQ(get(c).data, "next") << c.man.err_msg().data();
        ASSERT_EQ(peer.requests().size(), 2u);
        EXPECT_EQ(peer.requests()[0].body, data);
        EXPECT_EQ(peer.connections(), pc.connections);
    }
}

TEST_F(HttpLoop, PutRefusedFailsAtOnce)
{
    const std::string file = dir / "up.bin";
    write_bin(file, make_bytes(3000000));
    auto log = up_log(dir, "up.log", file, 3000000);
    ASSERT_TRUE(log);
    ScriptPeer peer([](const Fd& fd, const Request&, int) {
        fd.write_all("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        return true;
    });
    Conn c(peer.host());
    KV_HttpActPut put(file.c_str(), "/up.bin", log.get(), 0, false);
    EXPECT_FALSE(c.run(put));
    EXPECT_EQ(std::string(c.man.err_msg().data()), "Forbidden");
}

TEST_F(HttpLoop, PutOfAFileThatShrankFails)
{
    const std::string file = dir / "up.bin";
    write_bin(file, make_bytes(1000));
    // The log says 5000 bytes: the file cannot deliver the announced length.
    auto log = up_log(dir, "up.log", file, 5000);
    ASSERT_TRUE(log);
    ScriptPeer peer(answer("HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n"));
    Conn c(peer.host());
    KV_HttpManOpts o;
    o.set_tmout_hdr_resp(2);
    c.man.set_opts(o);
    const auto start = std::chrono::steady_clock::now();
    KV_HttpActPut put(file.c_str(), "/up.bin", log.get(), 0, false);
    EXPECT_FALSE(c.run(put));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "no stall on the short file";
}

TEST_F(HttpLoop, MissingLocalFile)
{
    ScriptPeer peer(answer(ok_resp("")));
    Conn c(peer.host());
    const std::string file = dir / "none.bin";
    auto log = up_log(dir, "up.log", file, 10);
    ASSERT_TRUE(log);
    KV_HttpActPut put(file.c_str(), "/x", log.get(), 0, false);
    EXPECT_FALSE(c.run(put));
    EXPECT_TRUE(peer.requests().empty()) << "nothing sent";
    ASSERT_FALSE(c.errors().empty());
    EXPECT_EQ(c.errors()[0].rfind("Couldn't open the file " + file + " for reading (", 0), 0u)
        << c.errors()[0];
}

} // namespace

namespace {

using namespace httptest;

TEST_F(HttpLoop, DownloadWithoutItsDataFile)
{
    ScriptPeer peer(answer(ok_resp("data")));
    Conn c(peer.host());
    auto log = down_log(dir, "gone.log", 4);
    ASSERT_TRUE(log);
    log->close();
    const std::string name = log->data_name().data();
    ASSERT_EQ(std::remove(name.c_str()), 0);
    KV_HttpActGet get("/r", "", int64_t{0}, log.get());
    EXPECT_FALSE(c.run(get));
    EXPECT_TRUE(peer.requests().empty()) << "nothing sent";
    ASSERT_FALSE(c.errors().empty());
    EXPECT_EQ(c.errors()[0].rfind("Couldn't open the file " + name + " for writing (", 0), 0u)
        << c.errors()[0];
}

} // namespace

// A kept connection that the server (or a proxy) closes just as the next
// request goes out: without a byte of answer the request is sent once more
// on a fresh connection; with part of an answer it is not, and the failure
// says why.
TEST_F(HttpLoop, AKeptConnectionClosedUnderARequest)
{
    struct Case
    {
        const char* name;
        std::string before_close; // what the peer sends to the second request
        bool resent;
        bool reason; // the failure says why
    };
    const Case cases[] = {
        {"no byte of answer", "", true, false},
        {"a part of the status line", "HTTP/1.1 2", false, false},
        {"a whole head", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", false, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScriptPeer peer([&k](const Fd& fd, const Request&, int i) {
            if (i == 1) {
                fd.write_all(k.before_close);
                return false;
            }
            return fd.write_all(ok_resp("a" + std::to_string(i)));
        });
        Conn c(peer.host());
        EXPECT_EQ(get(c).data, "a0");
        const Got second = get(c);
        if (k.resent) {
            EXPECT_TRUE(second.executed);
            EXPECT_EQ(second.data, "a2");
            EXPECT_EQ(peer.requests().size(), 3u);
            EXPECT_EQ(peer.connections(), 2);
            EXPECT_TRUE(c.errors().empty());
        } else {
            EXPECT_FALSE(second.executed);
            EXPECT_EQ(peer.requests().size(), 2u);
            EXPECT_EQ(peer.connections(), 1);
            if (k.reason) {
                EXPECT_FALSE(c.errors().empty()) << "a failure without a reason";
            }
        }
    }
}
