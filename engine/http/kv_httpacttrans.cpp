#include "http/kv_httpacttrans.h"

#include <charconv>
#include <new>

#include "foundation/kv_filetreenode.h"
#include "foundation/kv_uriman.h"
#include "requests/kv_fileman.h"

namespace {

// The longest chunk-size or trailer line taken.
constexpr uint32_t MAX_CHUNK_LINE = 8192;

bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

// ---------------------------------------------------------------------------
// KV_HttpActTrans

KV_HttpActTrans::~KV_HttpActTrans() = default;

bool KV_HttpActTrans::parse_chunk_size(const KV_String& line, int64_t& size)
{
    const char* p = line.data();
    if (!p)
        return false;
    const char* e = p + line.length();
    for (const char* s = p; s < e; ++s) {
        if (*s == ';') {
            e = s;
            break;
        }
    }
    while (p < e && (*p == ' ' || *p == '\t'))
        ++p;
    while (e > p && (e[-1] == ' ' || e[-1] == '\t'))
        --e;
    if (p == e || !is_hex(*p))
        return false;
    uint64_t v = 0;
    const auto r = std::from_chars(p, e, v, 16);
    if (r.ec != std::errc() || r.ptr != e || v > static_cast<uint64_t>(INT64_MAX))
        return false;
    size = static_cast<int64_t>(v);
    return true;
}

uint16_t KV_HttpActTrans::auth_cmds() const
{
    return 0;
}

bool KV_HttpActTrans::get_hdr(KV_HttpHdr& hdr)
{
    (void)hdr;
    return true;
}

bool KV_HttpActTrans::code_allowed(uint32_t code) const
{
    (void)code;
    return false;
}

bool KV_HttpActTrans::close_self() const
{
    return false;
}

bool KV_HttpActTrans::end_wait() const
{
    return true;
}

bool KV_HttpActTrans::hdr_wait() const
{
    return true;
}

bool KV_HttpActTrans::preprocess_in(KV_HTTP_SESS_IN& in)
{
    if (http() && http()->no_cont()) {
        in = KV_HTTP_SESS_IN_COMPLETE;
        body_done_ = true;
    }
    return true;
}

bool KV_HttpActTrans::chunk_frame(KV_Stream& stream, KV_HTTP_SESS_IN& in)
{
    // Lines of the framing, CR dropped; a line is complete at LF.
    while (!stream.empty()) {
        const uint8_t c = stream.get();
        if (c == 13)
            continue;
        if (c != 10) {
            if (chunk_state_ == CHUNK_END || line_.length() >= MAX_CHUNK_LINE)
                return false;
            if (!line_.append(reinterpret_cast<const unsigned char*>(&c), 1))
                return false;
            continue;
        }
        switch (chunk_state_) {
        case CHUNK_SIZE: {
            int64_t size = 0;
            if (!parse_chunk_size(line_, size))
                return false;
            chunk_left_ = size;
            chunk_state_ = size == 0 ? CHUNK_TRAILER : CHUNK_DATA;
            break;
        }
        case CHUNK_END:
            chunk_state_ = CHUNK_SIZE;
            break;
        case CHUNK_TRAILER:
            if (line_.empty()) {
                body_done_ = true;
                in = KV_HTTP_SESS_IN_COMPLETE;
            }
            break;
        }
        line_.clear();
        return true;
    }
    return true;
}

bool KV_HttpActTrans::process_in(KV_Stream& stream, KV_HTTP_SESS_IN& in)
{
    KV_HttpMan* m = http();
    const bool chunked = m && m->trans_enc() == KV_HTTP_TENC_CHUNKED;
    const bool sized = !chunked && m && m->fdata().valid_size(false);
    const int64_t size = sized ? m->fdata().size(false) : 0;
    bool ok = true;
    while (ok && in == KV_HTTP_SESS_IN_NONE && !stream.empty()) {
        if (chunked && chunk_state_ != CHUNK_DATA) {
            ok = chunk_frame(stream, in);
            if (!ok && m)
                m->set_err_msg("Invalid chunked body in the response.");
            continue;
        }
        int64_t n = stream.length();
        if (chunked && chunk_left_ < n)
            n = chunk_left_;
        if (sized && size - body_len_ < n)
            n = size - body_len_;
        if (n <= 0)
            break;
        const uint32_t cnt = static_cast<uint32_t>(n);
        ok = store_in(stream, cnt, in) && stream.remove(cnt);
        if (!ok)
            break;
        if (chunked) {
            chunk_left_ -= n;
            if (chunk_left_ == 0)
                chunk_state_ = CHUNK_END;
        }
        body_len_ += n;
        if (sized && body_len_ >= size) {
            body_done_ = true;
            in = KV_HTTP_SESS_IN_COMPLETE;
        }
    }
    if (sized && body_len_ >= size && !stream.empty())
        // Bytes beyond the announced length belong to no response.
        stream.clear();
    return ok;
}

bool KV_HttpActTrans::process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                                  uint8_t* buffer)
{
    (void)stream;
    (void)in;
    (void)size;
    (void)buffer;
    return true;
}

bool KV_HttpActTrans::store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN& in)
{
    (void)stream;
    (void)n;
    (void)in;
    return true;
}

bool KV_HttpActTrans::init()
{
    chunk_state_ = CHUNK_SIZE;
    chunk_left_ = 0;
    body_len_ = 0;
    line_.clear();
    body_done_ = false;
    return true;
}

bool KV_HttpActTrans::cleanup()
{
    KV_HttpMan* m = http();
    bool whole = body_done_;
    if (!whole && m) {
        // A plain body of unknown length ends with the connection; any
        // other body must have ended on its own.
        whole = m->no_cont() ||
                (m->trans_enc() != KV_HTTP_TENC_CHUNKED && !m->fdata().valid_size(false));
    }
    set_executed(m && m->stat_rcv() && whole);
    return true;
}

bool KV_HttpActTrans::run()
{
    KV_HttpMan* m = http();
    if (!m)
        return false;
    m->set_trans_stat(KV_HTTP_TRANS_RESET);
    m->act_set(this);
    KV_HttpHdr hdr;
    bool ok = init() && get_hdr(hdr) && add_login(hdr);
    bool sent = false;
    if (ok)
        ok = m->send_hdr(hdr, sent);
    set_executed(ok && sent);
    if (ok && executed()) {
        if (hdr_wait())
            m->set_trans_stat(KV_HTTP_TRANS_HDR_SENT);
        ok = wait_trans_hdr_sent();
        if (ok && executed()) {
            ok = wait_trans_hdr_resp();
            if (ok && end_wait())
                ok = wait_trans_end();
        }
    }
    if (!executed() || m->conn_close())
        m->close();
    return ok;
}

bool KV_HttpActTrans::add_login(KV_HttpHdr& hdr)
{
    KV_HttpMan* m = http();
    const KV_HttpLoginData& l = m->ldata();
    if (l.auth() && !l.empty() && (auth_cmds() & l.auth_cmds()) != 0) {
        if (!hdr.add(new (std::nothrow) KV_HttpHdrAuth(l.user(), l.pass(m->file_man()))))
            return false;
    }
    const KV_LoginData& pl = m->proxy().ldata();
    if (m->proxy_type() == KV_PROXY_HTTP_STD && !pl.empty())
        return hdr.add(new (std::nothrow) KV_HttpHdrProxyAuth(pl.user(), pl.pass()));
    return true;
}

bool KV_HttpActTrans::ins_method(KV_HttpHdr& hdr, const KV_String& method, const KV_String& uri)
{
    KV_HttpMan* m = http();
    if (!m)
        return false;
    KV_String scheme, host, path;
    KV_UriMan::split_uri(uri, scheme, host, path);
    if (host.empty())
        host = m->dst_addr();
    KV_String target = uri;
    if (scheme.empty() && m->proxy_type() == KV_PROXY_HTTP_STD)
        target = KV_UriMan::build_uri("HTTP", host, uri);
    const KV_HttpVer ver = m->opts().version();
    const bool v11 = ver >= KV_HttpVer(1, 1);
    if (!hdr.add(new (std::nothrow) KV_HttpHdrMethod(method, target, ver)))
        return false;
    if (v11 && !hdr.add(new (std::nothrow) KV_HttpHdrHost(host)))
        return false;
    if (v11 && (!m->opts().persistent() || m->proxy_type() == KV_PROXY_HTTP_STD) &&
        !hdr.add(new (std::nothrow) KV_HttpHdrConn("close")))
        return false;
    if (!hdr.add(new (std::nothrow) KV_HttpHdrUAgent("Kivrel")) ||
        !hdr.add(new (std::nothrow) KV_HttpHdrAccept("*/*")) ||
        !hdr.add(new (std::nothrow) KV_HttpHdrPragma("no-cache")))
        return false;
    if (v11 && !hdr.add(new (std::nothrow) KV_HttpHdrCacheCtrl("no-cache")))
        return false;
    return true;
}

bool KV_HttpActTrans::wait_trans_hdr_sent()
{
    const bool to = http()->wait_trans_hdr_sent();
    set_timed_out(to);
    set_executed(http()->response(true) && !to);
    return true;
}

bool KV_HttpActTrans::wait_trans_hdr_resp()
{
    const bool to = http()->wait_trans_hdr_resp();
    set_timed_out(to);
    set_executed(http()->response(true) && !to);
    return true;
}

bool KV_HttpActTrans::wait_trans_end()
{
    const bool to = http()->wait_trans_end();
    set_timed_out(to);
    set_executed(http()->response(false) && !to);
    return true;
}

// ---------------------------------------------------------------------------
// CONNECT

KV_HttpActConnect::KV_HttpActConnect(const KV_String& target) : target_(target) {}

KV_HttpActConnect::~KV_HttpActConnect() = default;

bool KV_HttpActConnect::get_hdr(KV_HttpHdr& hdr, const KV_String& dst, const KV_HttpVer& ver)
{
    return hdr.add_connect(dst, ver);
}

bool KV_HttpActConnect::get_hdr(KV_HttpHdr& hdr)
{
    return http() && get_hdr(hdr, target_, http()->opts().version());
}

bool KV_HttpActConnect::end_wait() const
{
    return false;
}

// ---------------------------------------------------------------------------
// DELETE

KV_HttpActDel::KV_HttpActDel(const KV_String& uri) : uri_(uri) {}

KV_HttpActDel::~KV_HttpActDel() = default;

uint16_t KV_HttpActDel::auth_cmds() const
{
    return 0x08;
}

bool KV_HttpActDel::get_hdr(KV_HttpHdr& hdr)
{
    return ins_method(hdr, "DELETE", uri_);
}

// ---------------------------------------------------------------------------
// HEAD

KV_HttpActHead::KV_HttpActHead(const KV_HttpActListParams& params) : params_(params) {}

KV_HttpActHead::~KV_HttpActHead()
{
    delete node_;
}

KV_FileTreeNode* KV_HttpActHead::get_node()
{
    KV_FileTreeNode* n = node_;
    node_ = nullptr;
    return n;
}

uint16_t KV_HttpActHead::auth_cmds() const
{
    return 0x02;
}

bool KV_HttpActHead::get_hdr(KV_HttpHdr& hdr)
{
    return ins_method(hdr, "HEAD", params_.uri);
}

bool KV_HttpActHead::code_allowed(uint32_t code) const
{
    return code == 401;
}

bool KV_HttpActHead::preprocess_in(KV_HTTP_SESS_IN& in)
{
    bool ok = KV_HttpActTrans::preprocess_in(in);
    KV_HttpMan* m = http();
    if (ok && m && executed() && m->response(true)) {
        m->fdata().set_name(params_.name);
        if (node_)
            ok = false;
        else {
            node_ = new (std::nothrow) KV_FileTreeNode(m->case_sens(), m->fdata());
            ok = node_ != nullptr;
        }
    }
    if (in == KV_HTTP_SESS_IN_NONE)
        in = KV_HTTP_SESS_IN_COMPLETE;
    set_body_done(true);
    return ok;
}

bool KV_HttpActHead::init()
{
    return KV_HttpActTrans::init();
}
