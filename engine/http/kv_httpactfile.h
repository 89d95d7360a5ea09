// The file transfer actions GET and PUT, one per elementary copy, moving
// the data through a transfer log (KV_TransLogCp).
//
// GET fetches the whole resource from an offset on (a resumed download) or
// one byte range of a segmented transfer. A ranged request is trusted only
// when the server answers 206 with a Content-Range starting at the offset:
// a plain 200 restarts an unsegmented download at byte 0, and fails a
// fragment, so that no body is ever written at the wrong place.
//
// PUT uploads the file, or the data that the log holds, with a
// Content-Length or in chunks of at most the session buffer size minus one
// byte. HTTP has no partial PUT that servers honour, so an upload always
// sends the whole file, also when it resumes.
//
// Threads: as every action (kv_httpacttrans.h); the log serialises its own
// file access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/kv_string.h"
#include "http/kv_httpacttrans.h"
#include "transfers/kv_transsink.h"

class KV_FileFrag;
class KV_TransLogCp;

class KV_HttpActGet : public KV_HttpActTrans
{
public:
    // Bytes held back before they are written to the log.
    static constexpr size_t FLUSH_SIZE = 256 * 1024;

    // One fragment of a segmented transfer, from its current position to its
    // end. log: not owned, required.
    KV_HttpActGet(const KV_String& uri, const KV_String& path, KV_FileFrag* frag,
                  KV_TransLogCp* log);
    // The resource from offset on (0: whole). log: not owned, required.
    KV_HttpActGet(const KV_String& uri, const KV_String& path, int64_t offset, KV_TransLogCp* log);
    ~KV_HttpActGet() override;

    // The position the next byte is written at (once the bytes held back
    // are written, which the end of the action does).
    int64_t offset() const { return sink_.offset(); }

    uint16_t auth_cmds() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;
    // Checks a ranged answer (206 and its Content-Range) before any byte is
    // stored.
    bool preprocess_in(KV_HTTP_SESS_IN& in) override;
    bool store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in) override;
    bool init() override;
    bool cleanup() override;

private:
    // Received bytes are held back up to FLUSH_SIZE: the log is written in
    // large pieces, not once per receive, and at the latest when the action
    // ends.
    KV_TransSink sink_;
    KV_String uri_;
};

class KV_HttpActPut : public KV_HttpActTrans
{
public:
    // offset: where the server's copy became incomplete. The upload still
    // starts at 0 (see above). log: not owned, required.
    KV_HttpActPut(const KV_String& path, const KV_String& uri, KV_TransLogCp* log, int64_t offset,
                  bool chunked);
    ~KV_HttpActPut() override;

    // The next byte to send.
    int64_t offset() const { return sink_.offset(); }

    uint16_t auth_cmds() const override;
    // True unless the answer lets the connection stay (see keeps_conn).
    bool close_self() const override;
    bool hdr_wait() const override;
    bool get_hdr(KV_HttpHdr& hdr) override;
    // At the answer's head: an answer the connection survives (keeps_conn)
    // is read to its end; any other stops the transfer and the connection
    // closes after it.
    bool preprocess_in(KV_HTTP_SESS_IN& in) override;
    bool process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                     uint8_t* buffer) override;
    bool init() override;
    bool cleanup() override;

protected:
    // Appends n bytes as they are, or as one chunk; with no data, the end of
    // the body ("0" and three CR LF when chunked).
    bool send(KV_Stream& stream, uint32_t n, const uint8_t* data);

private:
    // The whole body (of a known length) is out and the answer is a 2xx of
    // HTTP/1.1 with a length (or none due), not closing the connection.
    // Session thread, at the answer's head.
    bool keeps_conn() const;

    // Without chunks exactly the announced length is sent.
    KV_TransSink sink_;
    KV_String uri_;
    bool chunked_ = false;
    // The answer lets the connection stay; set on the session thread at the
    // answer's head, read there and in act_end.
    bool keep_ = false;
};
