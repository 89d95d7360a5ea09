// A proxy handshake run by a session before its protocol starts (HTTP
// CONNECT, SOCKS4, SOCKS5). The connection hands the object to its new
// session, which calls process_out to build requests and process_in to parse
// replies until the object reports done, then destroys it, tells the
// connection it is ready and starts the protocol on the same socket.
//
// Threads: called only on the session's thread, under the session's lock.
#pragma once

#include "foundation/kv_storage.h"

class KV_Session;

class KV_Proxy
{
public:
    KV_Proxy() = default;
    virtual ~KV_Proxy() = default;
    KV_Proxy(const KV_Proxy&) = delete;
    KV_Proxy& operator=(const KV_Proxy&) = delete;

    // Consumes exactly the bytes of each complete reply at the front of in;
    // bytes after the last reply stay for the protocol. done: the handshake
    // is over. False ends the session.
    virtual bool process_in(KV_Session* sess, KV_Stream& in, KV_Stream& out, bool& done) = 0;
    // Appends the next request to out when one is due. False ends the session.
    virtual bool process_out(KV_Session* sess, KV_Stream& out, bool& done) = 0;
};
