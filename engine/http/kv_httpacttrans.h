// The request/response actions of the HTTP client.
//
// KV_HttpActTrans is the base of every method: run() builds and sends the
// request head, waits for the response on the caller's thread, and on the
// session's thread the body decoder (plain or chunked) hands the decoded
// bytes to store_in. A body counts only when it arrived whole: a body that
// ends before its Content-Length or before the last chunk fails the action,
// so that a transfer resumes instead of ending short.
//
// CONNECT, DELETE and HEAD are here; GET and PUT in kv_httpactfile.h.
//
// Threads: run and the waits on the caller's thread; the hooks on the
// session's thread (cleanup also on a thread that stops the manager),
// always under the manager's action lock. The decoder state belongs to the
// session's thread.
#pragma once

#include <cstdint>

#include "datasources/kv_httpver.h"
#include "foundation/kv_path.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "http/kv_httpman.h"
#include "http/kv_httptypes.h"
#include "net/kv_httphdr.h"

class KV_FileTreeNode;

class KV_HttpActTrans : public KV_HttpAct
{
public:
    // Chunked decoder states.
    static constexpr uint32_t CHUNK_SIZE = 0;    // reading a chunk-size line
    static constexpr uint32_t CHUNK_DATA = 1;    // chunk data (and a plain body)
    static constexpr uint32_t CHUNK_END = 2;     // the line end after the data
    static constexpr uint32_t CHUNK_TRAILER = 3; // trailer lines up to the empty one

    KV_HttpActTrans() = default;
    ~KV_HttpActTrans() override;

    // A chunk-size line: hexadecimal digits (either case) with blanks around
    // them, optionally followed by ";" and extensions; at most INT64_MAX.
    // False for anything else.
    static bool parse_chunk_size(const KV_String& line, int64_t& size);

    // ---- hooks (the manager calls them through its act_* hand-offs)
    // The method's bit of KV_HttpLoginData::auth_cmds; 0 here.
    virtual uint16_t auth_cmds() const;
    // Adds the method's lines; nothing here.
    virtual bool get_hdr(KV_HttpHdr& hdr);
    // Accepts a status code besides 1xx and 2xx; none here.
    virtual bool code_allowed(uint32_t code) const;
    // The action counts as executed only when the manager closed the
    // connection after the transfer.
    virtual bool close_self() const;
    // run waits for the end of the body; the manager registers the action.
    virtual bool end_wait() const;
    // The request is complete once its head is sent.
    virtual bool hdr_wait() const;
    // At the end of the response head: in := 2 when there is no body.
    virtual bool preprocess_in(KV_HTTP_SESS_IN& in);
    // The body decoder: takes bytes from the front of stream.
    virtual bool process_in(KV_Stream& stream, KV_HTTP_SESS_IN& in);
    // Appends request body bytes to stream; nothing here.
    virtual bool process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                             uint8_t* buffer);
    // Receives n decoded body bytes at the front of stream (the caller
    // removes them); dropped here.
    virtual bool store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in);
    // Resets the decoder.
    virtual bool init();
    // executed := executed AND the status line came AND the body (if one
    // was due) came whole.
    virtual bool cleanup();

    uint32_t chunk_state() const { return chunk_state_; }
    int64_t chunk_left() const { return chunk_left_; }
    int64_t body_len() const { return body_len_; }
    // The decoder saw the end of the body (Content-Length reached, the last
    // chunk and its trailer, or no body at all).
    bool body_done() const { return body_done_; }

protected:
    bool run() override;

    // The common head: request line, Host, Connection, User-Agent, Accept,
    // Pragma, Cache-Control as the version and options say.
    bool ins_method(KV_HttpHdr& hdr, const KV_String& method, const KV_String& uri);
    bool wait_trans_hdr_sent();
    bool wait_trans_hdr_resp();
    bool wait_trans_end();

    // For a subclass that ends the body itself.
    void set_body_done(bool v) { body_done_ = v; }

private:
    bool add_login(KV_HttpHdr& hdr);
    // One byte-or-more step of the chunk framing; false on a framing error.
    bool chunk_frame(KV_Stream& stream, KV_HTTP_SESS_IN& in);

    uint32_t chunk_state_ = CHUNK_SIZE;
    int64_t chunk_left_ = 0;
    int64_t body_len_ = 0;
    KV_String line_;
    bool body_done_ = false;
};

// CONNECT host:port; never registered for a body, no login.
class KV_HttpActConnect : public KV_HttpActTrans
{
public:
    explicit KV_HttpActConnect(const KV_String& target);
    ~KV_HttpActConnect() override;

    // Adds the request line "CONNECT <target> HTTP/<ver>" and, for version
    // 1.1 or later, a "Host" line with the target. False when a line cannot
    // be added.
    static bool get_hdr(KV_HttpHdr& hdr, const KV_String& dst, const KV_HttpVer& ver);

    bool get_hdr(KV_HttpHdr& hdr) override;
    bool end_wait() const override;

private:
    KV_String target_;
};

class KV_HttpActDel : public KV_HttpActTrans
{
public:
    explicit KV_HttpActDel(const KV_String& uri);
    ~KV_HttpActDel() override;

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;

private:
    KV_String uri_;
};

// What a HEAD (and a listing) asks about: the listed folder, the URI to
// query and the entry's name.
struct KV_HttpActListParams
{
    KV_PathDef path;
    KV_String uri;
    KV_String name;
};

// HEAD: a node made from the response head. 401 counts as found (a resource
// that wants a login exists).
class KV_HttpActHead : public KV_HttpActTrans
{
public:
    // params: held by the caller for the action's lifetime.
    explicit KV_HttpActHead(const KV_HttpActListParams& params);
    // Deletes a node not taken.
    ~KV_HttpActHead() override;

    // The node made from the response head, handed over; null when none.
    KV_FileTreeNode* get_node();

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;
    bool code_allowed(uint32_t code) const override;
    bool preprocess_in(KV_HTTP_SESS_IN& in) override;
    bool init() override;

private:
    const KV_HttpActListParams& params_;
    KV_FileTreeNode* node_ = nullptr;
};
