// The small HTTP enumerations that the connection manager, its session, the
// request actions, the file manager and the worker share.
#pragma once

#include <cstdint>

// What the transfer of the running request has reached; each value but 0
// names one of the manager's three events.
enum KV_HTTP_TRANS_STAT : uint32_t {
    KV_HTTP_TRANS_RESET = 0,    // reset all three events
    KV_HTTP_TRANS_HDR_SENT = 1, // the request (head and body) went out
    KV_HTTP_TRANS_HDR_RESP = 2, // the response head came in
    KV_HTTP_TRANS_END = 3,      // the transfer ended
};

// What a pass of the session learnt from the action's hooks.
enum KV_HTTP_SESS_IN : uint32_t {
    KV_HTTP_SESS_IN_NONE = 0,     // go on
    KV_HTTP_SESS_IN_SENT = 1,     // the request body is out
    KV_HTTP_SESS_IN_COMPLETE = 2, // the response body is complete
    KV_HTTP_SESS_IN_STOP = 3,     // stop after the response
};

enum KV_HTTP_SECURE : uint32_t {
    KV_HTTP_SECURE_NONE = 0,
    KV_HTTP_SECURE_SSL = 1, // HTTPS
};

// Coding of a response body.
enum KV_HTTP_TENC : uint32_t {
    KV_HTTP_TENC_NONE = 0,
    KV_HTTP_TENC_CHUNKED = 1,
};

// Why the last response failed.
enum KV_HTTP_ERR : uint32_t {
    KV_HTTP_ERR_REASON = 0,    // the reason phrase is the message
    KV_HTTP_ERR_CODE = 1,      // a code below 400 the action does not accept (redirects)
    KV_HTTP_ERR_NOT_FOUND = 2, // 404
};
