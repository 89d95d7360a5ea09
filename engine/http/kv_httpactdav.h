// The WebDAV methods: MKCOL makes a folder, COPY and MOVE copy and move a
// resource on the server, PROPFIND lists one folder (depth 1).
//
// KV_HttpActDav is their base: a request action that sends an optional XML
// body (with a Content-Length, or chunked) and keeps the whole response body
// in memory, up to max_body bytes; a longer body fails the action rather than
// let a server fill the client's memory.
//
// Threads: as for every action (kv_httpacttrans.h): run on the caller's
// thread, the hooks on the session's thread under the manager's action lock.
#pragma once

#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "http/kv_httpactdavlist.h"
#include "http/kv_httpacttrans.h"

class KV_HttpActDav : public KV_HttpActTrans
{
public:
    // The most response bytes kept (a listing of 100,000 entries is about
    // 50 MB).
    static constexpr uint32_t max_body = 256u * 1024 * 1024;

    explicit KV_HttpActDav(bool chunked);
    ~KV_HttpActDav() override;

    // The request counts as sent with its head; the (small) body follows in
    // the session's next pass.
    bool hdr_wait() const override;
    // "Transfer-encoding: chunked" or "Content-Length" of the request body,
    // then "Content-Type: text/xml" when there is a body. Each method calls
    // it after its own lines.
    bool get_hdr(KV_HttpHdr& hdr) override;
    // The whole request body in one piece, then (next pass) its end and
    // in := 1.
    bool process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                     uint8_t* buffer) override;
    // Appends to the response body.
    bool store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in) override;

    const KV_Stream& body_in() const { return body_in_; }
    const KV_Stream& body_out() const { return body_out_; }

protected:
    // A byte queue that doubles its capacity as it grows, so that a listing
    // of many megabytes arriving in 4 KiB pieces is not copied over and
    // over.
    class Body : public KV_Stream
    {
    public:
        Body() : KV_Stream(4096) {}
        bool add(const uint8_t* data, uint32_t n);
    };

    // Appends n bytes as they are, or as one chunk; n 0 is the end of the
    // body (nothing, or the last chunk).
    bool send(KV_Stream& stream, uint32_t n, const uint8_t* data);

    Body body_in_;
    KV_Stream body_out_{256};
    bool chunked_;
};

class KV_HttpActMkcol : public KV_HttpActDav
{
public:
    KV_HttpActMkcol(const KV_String& uri, bool chunked);
    ~KV_HttpActMkcol() override;

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;

private:
    KV_String uri_;
};

// COPY or MOVE of src to dst with "Depth: infinity"; the server's default
// overwrite applies.
class KV_HttpActCopy : public KV_HttpActDav
{
public:
    KV_HttpActCopy(const KV_String& src, const KV_String& dst, bool chunked);
    ~KV_HttpActCopy() override;

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;

protected:
    // The method word.
    virtual const char* method() const;

private:
    KV_String src_;
    KV_String dst_;
};

class KV_HttpActMove : public KV_HttpActCopy
{
public:
    KV_HttpActMove(const KV_String& src, const KV_String& dst, bool chunked);
    ~KV_HttpActMove() override;

    uint16_t auth_cmds() const override;

protected:
    const char* method() const override;
};

// PROPFIND of params.path with "Depth: 1", asking for getlastmodified,
// getcontentlength and resourcetype. At the end of the transfer the entries
// go into params.store, or, without a store, into a KV_MsgTreeScan sent
// through params.informer (when given) once the whole listing was read.
class KV_HttpActPropfind : public KV_HttpActDav
{
public:
    // params: held by the caller for the action's lifetime.
    KV_HttpActPropfind(const KV_HttpActPropfindParams& params, bool chunked);
    ~KV_HttpActPropfind() override;

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;
    // The base reset, then the request body.
    bool init() override;
    // The base cleanup, then the listing; a body that cannot be read fails
    // the action.
    bool cleanup() override;

    // The request body of every PROPFIND: a propfind/prop document in
    // "DAV:". Appends to `out`; false when it cannot be built.
    static bool make_body(KV_Stream& out);

private:
    const KV_HttpActPropfindParams& params_;
};
