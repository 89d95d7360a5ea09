// A proxy handshake run by a session before its protocol starts: an HTTP
// CONNECT tunnel, a SOCKS4 or a SOCKS5 proxy (RFC 1928, login after RFC
// 1929). The protocol manager connects to the proxy and hands the object to
// KV_Connector::connect; the new session calls process_out to build requests
// and process_in to parse replies until the object reports done, then
// destroys it, tells the connection it is ready and starts the protocol on
// the same socket.
//
// For an active-mode FTP data connection the SOCKS kinds ask the proxy to
// BIND a port instead: the first reply's address becomes the connection's
// local_addr (0.0.0.0 stands for the proxy's own address) and the
// connection is told it is ready, so that the owner can announce it; the
// second reply comes when the server has connected.
//
// Every refusal and every reply that breaks the protocol ends the session
// with a failure (the connection's conn_failed), with the reply logged as a
// received line flagged as an error. Lengths that come from the proxy are
// checked before use, and a reply head that never ends is cut off.
//
// Log lines go to the connection's informer (when it has one), tagged with
// its worker id: requests as sent lines, replies as received lines.
//
// Threads: called only on the session's thread, under the session's lock.
// The BIND reply writes the connection's local_addr before it sets the
// ready event; the owner reads it after wait_open.
#pragma once

#include <cstdint>

#include "datasources/kv_logindata.h"
#include "foundation/kv_inetaddr.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "requests/kv_sessinfo.h"

class KV_CommBase;
class KV_Session;

class KV_Proxy
{
public:
    // comm: the connection (its informer and worker id; for BIND its
    // local_addr and ready event); dst: the destination "host:port"; login:
    // the proxy login (empty: none).
    KV_Proxy(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login);
    virtual ~KV_Proxy();
    KV_Proxy(const KV_Proxy&) = delete;
    KV_Proxy& operator=(const KV_Proxy&) = delete;

    // Consumes exactly the bytes of each complete reply at the front of in;
    // bytes after the last reply stay for the protocol, an incomplete reply
    // stays until more comes. done: the handshake is over. False ends the
    // session.
    virtual bool process_in(KV_Session* sess, KV_Stream& in, KV_Stream& out, bool& done) = 0;
    // Appends the next request to out when one is due. False ends the session.
    virtual bool process_out(KV_Session* sess, KV_Stream& out, bool& done) = 0;

protected:
    void log(KV_SESS_LOG kind, const KV_String& text, bool err) const;
    // The first reply of a BIND: addr (0.0.0.0 meaning the proxy itself,
    // the session's peer) becomes the connection's local_addr, and the
    // connection is ready.
    void bound(KV_Session* sess, KV_InetAddr addr);

    KV_CommBase* const comm;
    const KV_String dst;
    const KV_LoginData login;
};

// "CONNECT host:port HTTP/1.0", with a Basic Proxy-Authorization line when
// there is a login; a 2xx reply opens the tunnel, interim 1xx replies are
// skipped, anything else fails with the proxy's status line.
class KV_ProxyHttp : public KV_Proxy
{
public:
    KV_ProxyHttp(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login);
    ~KV_ProxyHttp() override;

    bool process_in(KV_Session* sess, KV_Stream& in, KV_Stream& out, bool& done) override;
    bool process_out(KV_Session* sess, KV_Stream& out, bool& done) override;

    // A reply line, and a reply head, longer than this is refused.
    static constexpr uint32_t MAX_LINE = 8192;
    static constexpr uint32_t MAX_HEAD = 65536;

private:
    // One complete line of the reply head.
    bool take_line(bool& done);

    bool sent = false;
    KV_String line;
    // The status line of the reply being read; empty before it came.
    KV_String status;
    // Bytes of the reply head so far.
    uint32_t head_len = 0;
};

// The 8-byte SOCKS4 request and reply; the destination is resolved here.
class KV_ProxySocks4 : public KV_Proxy
{
public:
    KV_ProxySocks4(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login, bool bind);
    ~KV_ProxySocks4() override;

    bool process_in(KV_Session* sess, KV_Stream& in, KV_Stream& out, bool& done) override;
    bool process_out(KV_Session* sess, KV_Stream& out, bool& done) override;

private:
    bool sent = false;
    const bool bind;
    bool first_reply = false;
};

// SOCKS5: the method offer (no login, or user name and password), the login,
// then the request with the destination as a name (ATYP 3), which the proxy
// resolves; nothing is looked up here, and the log shows the name as given.
class KV_ProxySocks5 : public KV_Proxy
{
public:
    KV_ProxySocks5(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login, bool bind);
    ~KV_ProxySocks5() override;

    bool process_in(KV_Session* sess, KV_Stream& in, KV_Stream& out, bool& done) override;
    bool process_out(KV_Session* sess, KV_Stream& out, bool& done) override;

private:
    // One complete reply to the request at the front of in, or nothing yet.
    bool take_reply(KV_Session* sess, KV_Stream& in, bool& done);

    // The method the proxy chose; -1 until its answer came.
    int32_t method = -1;
    bool auth_done = false;
    bool auth_sent = false;
    bool greeted = false;
    bool req_sent = false;
    const bool bind;
    bool first_reply = false;
};
