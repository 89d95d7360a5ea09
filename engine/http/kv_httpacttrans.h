// The request/response actions of the HTTP client.
//
// So far only the head of a CONNECT request is here, which the HTTP proxy
// handshake of the network transport sends to open a tunnel; the actions
// themselves (sending, waiting for the response, decoding the body) come
// with the HTTP client.
//
// Threads: static operations without state; any thread.
#pragma once

#include "foundation/kv_string.h"
#include "http/kv_httphdr.h"
#include "http/kv_httpver.h"

class KV_HttpActConnect
{
public:
    // Adds the request line "CONNECT <target> HTTP/<ver>" and, for version
    // 1.1 or later, a "Host" line with the target. False when a line cannot
    // be added.
    static bool get_hdr(KV_HttpHdr& hdr, const KV_String& dst, const KV_HttpVer& ver);
};
