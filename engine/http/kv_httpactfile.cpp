#include "http/kv_httpactfile.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "foundation/kv_errhandler.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

// ---------------------------------------------------------------------------
// GET

// `path` is not used: the data goes to the transfer log, without which the
// action fails.
KV_HttpActGet::KV_HttpActGet(const KV_String& uri, const KV_String&, KV_FileFrag* frag,
                             KV_TransLogCp* log)
    : sink_(log, frag), uri_(uri)
{
    sink_.set_hold(FLUSH_SIZE);
}

KV_HttpActGet::KV_HttpActGet(const KV_String& uri, const KV_String&, int64_t offset,
                             KV_TransLogCp* log)
    : sink_(KV_TransSink::Dir::get, log, offset), uri_(uri)
{
    sink_.set_hold(FLUSH_SIZE);
}

KV_HttpActGet::~KV_HttpActGet() = default;

uint16_t KV_HttpActGet::auth_cmds() const
{
    return 0x01;
}

bool KV_HttpActGet::get_hdr(KV_HttpHdr& hdr)
{
    if (!sink_.log() || !ins_method(hdr, "GET", uri_))
        return false;
    const KV_FileFrag* frag = sink_.frag();
    if (sink_.offset() != 0 || (frag && frag->end() != 0)) {
        const int64_t to = frag ? frag->end() - 1 : 0;
        return hdr.add(new (std::nothrow) KV_HttpHdrRange(sink_.offset(), to));
    }
    return true;
}

bool KV_HttpActGet::init()
{
    return KV_HttpActTrans::init() && sink_.open(http() ? http()->eh() : nullptr);
}

bool KV_HttpActGet::preprocess_in(KV_HTTP_SESS_IN& in)
{
    if (!KV_HttpActTrans::preprocess_in(in))
        return false;
    KV_HttpMan* m = http();
    const KV_FileFrag* frag = sink_.frag();
    const bool ranged = sink_.offset() != 0 || (frag && frag->end() != 0);
    if (!m || !ranged || !m->response(false))
        return true;
    const uint32_t code = m->code();
    if (code == 206) {
        if (m->range_from() == sink_.offset())
            return true;
        m->set_err_msg("The server answered another byte range than the one asked for.");
        return false;
    }
    if (code != 200)
        return true;
    // The server ignored the range and sends the whole resource.
    if (frag) {
        m->set_err_msg("The server does not serve byte ranges.");
        return false;
    }
    if (!sink_.restart(0)) {
        m->set_err_msg(sink_.err());
        return false;
    }
    return true;
}

bool KV_HttpActGet::store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in)
{
    const unsigned char* data = stream;
    const bool ok = sink_.write(data, n);
    if (!ok && http())
        http()->set_err_msg(sink_.err());
    if (sink_.full())
        in = KV_HTTP_SESS_IN_STOP;
    return ok;
}

bool KV_HttpActGet::cleanup()
{
    const bool written = sink_.close();
    if (!written && http())
        http()->set_err_msg(sink_.err());
    const bool base = KV_HttpActTrans::cleanup();
    // A fragment counts only when all its bytes came.
    if (!written || !sink_.complete())
        set_executed(false);
    return written && base;
}

// ---------------------------------------------------------------------------
// PUT

// `path` is not used: the data comes from the transfer log or the file it
// names, without which the action fails.
KV_HttpActPut::KV_HttpActPut(const KV_String&, const KV_String& uri, KV_TransLogCp* log,
                             int64_t offset, bool chunked)
    : sink_(KV_TransSink::Dir::put, log, 0), uri_(uri), chunked_(chunked)
{
    // A server keeps no partial upload it would extend: "Range" is not
    // defined for PUT and is ignored, so sending only the tail would replace
    // the file by its tail. The upload restarts at 0.
    (void)offset;
    // Never more nor fewer bytes than the Content-Length announced: a file
    // that changed under the upload fails it instead of corrupting the
    // connection or stalling the server.
    sink_.set_exact(!chunked);
}

KV_HttpActPut::~KV_HttpActPut() = default;

uint16_t KV_HttpActPut::auth_cmds() const
{
    return 0x04;
}

bool KV_HttpActPut::close_self() const
{
    return !keep_;
}

bool KV_HttpActPut::hdr_wait() const
{
    return false;
}

bool KV_HttpActPut::get_hdr(KV_HttpHdr& hdr)
{
    if (!sink_.log() || !ins_method(hdr, "PUT", uri_))
        return false;
    KV_HttpHdrElem* len =
        chunked_ ? static_cast<KV_HttpHdrElem*>(new (std::nothrow) KV_HttpHdrTEnc("chunked"))
                 : new (std::nothrow) KV_HttpHdrCLength(sink_.log()->size() - sink_.offset());
    return hdr.add(len) && hdr.add(new (std::nothrow) KV_HttpHdrCType("application/octet-stream"));
}

bool KV_HttpActPut::init()
{
    keep_ = false;
    return KV_HttpActTrans::init() && sink_.open(http() ? http()->eh() : nullptr);
}

bool KV_HttpActPut::keeps_conn() const
{
    // The connection serves the next request only when this one is over on
    // both sides: the whole body is out (a server that answers early may not
    // read the rest), the answer is a success that does not end the
    // connection, and its body has an end the decoder sees. The chunked
    // body's end carries an extra line end that a server could read as the
    // start of a next request, so a chunked upload keeps the old close.
    const KV_HttpMan* m = http();
    if (!m || chunked_ || !m->out_stop() || m->conn_close() || !m->response(false))
        return false;
    const uint32_t code = m->code();
    if (code < 200 || code >= 300)
        return false;
    return m->no_cont() || m->fdata().valid_size(false) || m->trans_enc() == KV_HTTP_TENC_CHUNKED;
}

bool KV_HttpActPut::preprocess_in(KV_HTTP_SESS_IN& in)
{
    // An answer with a length is read to its end like any other, and the
    // connection stays for the next request.
    if (keeps_conn()) {
        keep_ = true;
        return KV_HttpActTrans::preprocess_in(in);
    }
    // Otherwise its body is of no use: the transfer stops once the head is
    // in and the request is out, and the connection closes.
    in = KV_HTTP_SESS_IN_STOP;
    set_body_done(true);
    return true;
}

bool KV_HttpActPut::process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                                uint8_t* buffer)
{
    uint32_t n = 0;
    bool ok = true;
    switch (sink_.read(buffer, size, n)) {
    case KV_TransSink::Read::data:
        ok = send(stream, n, buffer);
        if (sink_.done())
            in = KV_HTTP_SESS_IN_STOP;
        break;
    case KV_TransSink::Read::end:
        in = KV_HTTP_SESS_IN_STOP;
        break;
    case KV_TransSink::Read::fail:
        if (http() && !sink_.err().empty())
            http()->set_err_msg(sink_.err());
        return false;
    }
    if (ok && in != KV_HTTP_SESS_IN_NONE)
        ok = send(stream, 0, nullptr);
    return ok;
}

bool KV_HttpActPut::send(KV_Stream& stream, uint32_t n, const uint8_t* data)
{
    if (!chunked_)
        return n == 0 || stream.append(data, n);
    if (n == 0) {
        static const char end[] = "0\r\n\r\n\r\n";
        return stream.append(reinterpret_cast<const unsigned char*>(end), sizeof(end) - 1);
    }
    char head[32];
    const int hl = std::snprintf(head, sizeof(head), "%x\r\n", n);
    return stream.append(reinterpret_cast<const unsigned char*>(head), static_cast<uint32_t>(hl)) &&
           stream.append(data, n) &&
           stream.append(reinterpret_cast<const unsigned char*>("\r\n"), 2);
}

bool KV_HttpActPut::cleanup()
{
    sink_.close();
    return KV_HttpActTrans::cleanup();
}
