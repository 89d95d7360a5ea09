#include "http/kv_httpactfile.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "foundation/kv_errhandler.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_translogcp.h"

namespace {

KV_String data_file(KV_TransLogCp* log, const KV_String& path)
{
    return log ? log->data_name() : path;
}

} // namespace

// ---------------------------------------------------------------------------
// GET

KV_HttpActGet::KV_HttpActGet(const KV_String& uri, const KV_String& path, KV_FileFrag* frag,
                             KV_TransLogCp* log)
    : file_(data_file(log, path), log ? "r+b" : "wb"), uri_(uri), frag_(frag), log_(log),
      offset_(frag ? frag->pos() : 0)
{
}

KV_HttpActGet::KV_HttpActGet(const KV_String& uri, const KV_String& path, int64_t offset,
                             KV_TransLogCp* log)
    : file_(data_file(log, path), log ? "r+b" : "wb"), uri_(uri), log_(log), offset_(offset)
{
}

KV_HttpActGet::~KV_HttpActGet() = default;

uint16_t KV_HttpActGet::auth_cmds() const
{
    return 0x01;
}

bool KV_HttpActGet::get_hdr(KV_HttpHdr& hdr)
{
    if (!log_ || !ins_method(hdr, "GET", uri_))
        return false;
    if (offset_ != 0 || (frag_ && frag_->end() != 0)) {
        const int64_t to = frag_ ? frag_->end() - 1 : 0;
        return hdr.add(new (std::nothrow) KV_HttpHdrRange(offset_, to));
    }
    return true;
}

bool KV_HttpActGet::init()
{
    if (!KV_HttpActTrans::init() || !log_)
        return false;
    if (!file_.open()) {
        if (http() && http()->eh())
            http()->eh()->set_err(2, "Couldn't open the file %s for writing (%s).",
                                  file_.name().data(), KV_ErrHandler::last_err().data());
        return false;
    }
    if (!frag_)
        return log_->set_stored(offset_);
    return true;
}

bool KV_HttpActGet::preprocess_in(KV_HTTP_SESS_IN& in)
{
    if (!KV_HttpActTrans::preprocess_in(in))
        return false;
    KV_HttpMan* m = http();
    const bool ranged = offset_ != 0 || (frag_ && frag_->end() != 0);
    if (!m || !ranged || !m->response(false))
        return true;
    const uint32_t code = m->code();
    if (code == 206) {
        if (m->range_from() == offset_)
            return true;
        m->set_err_msg("The server answered another byte range than the one asked for.");
        return false;
    }
    if (code != 200)
        return true;
    // The server ignored the range and sends the whole resource.
    if (frag_) {
        m->set_err_msg("The server does not serve byte ranges.");
        return false;
    }
    offset_ = 0;
    if (!log_->set_stored(0)) {
        m->set_err_msg("Couldn't write the temporary file.");
        return false;
    }
    return true;
}

bool KV_HttpActGet::store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in)
{
    if (!log_)
        return false;
    const unsigned char* data = stream;
    uint32_t take = n;
    if (frag_) {
        const int64_t pos = frag_->pos() + static_cast<int64_t>(pend_.size());
        int64_t np = pos + n;
        if (np >= frag_->end()) {
            np = frag_->end();
            in = KV_HTTP_SESS_IN_STOP;
        }
        take = np > pos ? static_cast<uint32_t>(np - pos) : 0;
    }
    pend_.insert(pend_.end(), data, data + take);
    return pend_.size() < FLUSH_SIZE || flush();
}

bool KV_HttpActGet::flush()
{
    if (pend_.empty() || !log_)
        return true;
    const uint32_t n = static_cast<uint32_t>(pend_.size());
    const bool ok = frag_ ? log_->write_frag(*frag_, pend_.data(), n)
                          : log_->write_at(offset_, pend_.data(), n);
    if (!ok) {
        if (http())
            http()->set_err_msg("Couldn't write the temporary file.");
        return false;
    }
    if (!frag_)
        offset_ += n;
    pend_.clear();
    log_->progress(0);
    return true;
}

bool KV_HttpActGet::cleanup()
{
    const bool written = flush();
    const bool closed = file_.close();
    const bool base = KV_HttpActTrans::cleanup();
    // A fragment counts only when all its bytes came.
    if (!written || (frag_ && !frag_->done()))
        set_executed(false);
    if (log_)
        log_->close();
    return written && closed && base;
}

// ---------------------------------------------------------------------------
// PUT

KV_HttpActPut::KV_HttpActPut(const KV_String& path, const KV_String& uri, KV_TransLogCp* log,
                             int64_t offset, bool chunked)
    : file_(data_file(log, path), "rb"), uri_(uri), log_(log), chunked_(chunked)
{
    // A server keeps no partial upload it would extend: "Range" is not
    // defined for PUT and is ignored, so sending only the tail would replace
    // the file by its tail. The upload restarts at 0.
    (void)offset;
}

KV_HttpActPut::~KV_HttpActPut() = default;

uint16_t KV_HttpActPut::auth_cmds() const
{
    return 0x04;
}

bool KV_HttpActPut::close_self() const
{
    return true;
}

bool KV_HttpActPut::hdr_wait() const
{
    return false;
}

bool KV_HttpActPut::get_hdr(KV_HttpHdr& hdr)
{
    if (!log_ || !ins_method(hdr, "PUT", uri_))
        return false;
    KV_HttpHdrElem* len =
        chunked_ ? static_cast<KV_HttpHdrElem*>(new (std::nothrow) KV_HttpHdrTEnc("chunked"))
                 : new (std::nothrow) KV_HttpHdrCLength(log_->size() - offset_);
    return hdr.add(len) && hdr.add(new (std::nothrow) KV_HttpHdrCType("application/octet-stream"));
}

bool KV_HttpActPut::init()
{
    if (!KV_HttpActTrans::init() || !log_)
        return false;
    if (!file_.open()) {
        if (http() && http()->eh())
            http()->eh()->set_err(2, "Couldn't open the file %s for reading (%s).",
                                  file_.name().data(), KV_ErrHandler::last_err().data());
        return false;
    }
    return file_.set_pos(log_->data_offset() + offset_);
}

bool KV_HttpActPut::preprocess_in(KV_HTTP_SESS_IN& in)
{
    // The response body of an upload is of no use: the transfer stops once
    // the head is in and the request is out.
    in = KV_HTTP_SESS_IN_STOP;
    set_body_done(true);
    return true;
}

bool KV_HttpActPut::process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                                uint8_t* buffer)
{
    if (!log_ || !buffer || size < 2)
        return false;
    bool ok = true;
    if (log_->multifrag()) {
        const int64_t total = log_->fdata().size(false);
        KV_FileFrag* f = nullptr;
        if (log_->man_frag().find_pos(&f, offset_) && f) {
            if (!f->done())
                return false;
            uint32_t len = static_cast<uint32_t>(std::min<int64_t>(f->end() - offset_, size - 1));
            if (!log_->read_frag(*f, buffer, offset_ - f->begin(), len) || len == 0)
                return false;
            ok = send(stream, len, buffer);
            offset_ += len;
            if (offset_ >= total)
                in = KV_HTTP_SESS_IN_STOP;
        } else if (offset_ >= total) {
            in = KV_HTTP_SESS_IN_STOP;
        } else {
            return false;
        }
    } else {
        uint32_t want = size - 1;
        if (!chunked_) {
            // Never more nor fewer bytes than the Content-Length announced:
            // a file that changed under the upload fails it instead of
            // corrupting the connection or stalling the server.
            const int64_t left = log_->size() - offset_;
            want = static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(left, want)));
        }
        const uint32_t got = want ? file_.read(buffer, want) : 0;
        if (got) {
            offset_ += got;
            ok = send(stream, got, buffer);
        } else if (!chunked_ && offset_ < log_->size()) {
            if (http())
                http()->set_err_msg(
                    KV_String::format_impl("Couldn't read the file %s.", file_.name().data()));
            return false;
        } else {
            in = KV_HTTP_SESS_IN_STOP;
        }
    }
    if (ok && in != KV_HTTP_SESS_IN_NONE)
        ok = send(stream, 0, nullptr);
    if (ok)
        log_->progress(offset_);
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
    const bool closed = file_.close();
    const bool base = KV_HttpActTrans::cleanup();
    if (log_)
        log_->close();
    return closed && base;
}
