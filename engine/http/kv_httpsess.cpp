#include "http/kv_httpsess.h"

#include <charconv>
#include <cstring>

#include "foundation/kv_filedata.h"
#include "foundation/kv_time.h"
#include "http/kv_httpman.h"

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads the decimal digits of [p, e) into v; false when there are none,
// when something else follows, or on overflow.
template <class T> bool read_dec(const char* p, const char* e, T& v)
{
    if (p == e || !is_digit(*p))
        return false;
    const auto r = std::from_chars(p, e, v, 10);
    return r.ec == std::errc() && r.ptr == e;
}

} // namespace

KV_HttpSess::KV_HttpSess(KV_HttpMan* man, KV_Socket& sock, const KV_InetAddr& addr)
    : KV_Session(man, sock, addr), man(man), reason(new char[max_reason + 1])
{
    info_mask = 0xFF;
}

KV_HttpSess::~KV_HttpSess() = default;

KV_SESS_TYPE KV_HttpSess::type() const
{
    return KV_SESS_TYPE_HTTP;
}

// ---------------------------------------------------------------------------
// Parsing helpers

bool KV_HttpSess::parse_status(const KV_String& line, KV_HttpVer& ver, uint32_t& code,
                               KV_String& reason)
{
    const char* p = line.data();
    const char* e = p + line.length();
    if (line.length() < 5 || std::memcmp(p, "HTTP/", 5) != 0)
        return false;
    p += 5;
    const char* dot = p;
    while (dot < e && is_digit(*dot))
        ++dot;
    if (dot == e || *dot != '.')
        return false;
    uint32_t major = 0, minor = 0;
    if (!read_dec(p, dot, major))
        return false;
    p = dot + 1;
    const char* sp = p;
    while (sp < e && is_digit(*sp))
        ++sp;
    if (sp == e || *sp != ' ' || !read_dec(p, sp, minor))
        return false;
    p = sp + 1;
    const char* ce = p;
    while (ce < e && is_digit(*ce))
        ++ce;
    uint32_t c = 0;
    if (!read_dec(p, ce, c) || ce - p != 3)
        return false;
    if (ce != e && *ce != ' ')
        return false;
    KV_String r;
    if (ce != e) {
        const char* rs = ce + 1;
        const uint32_t n = static_cast<uint32_t>(std::min<ptrdiff_t>(e - rs, max_reason));
        if (n > 0 && !r.append(rs, n))
            return false;
    }
    ver = KV_HttpVer(major, minor);
    code = c;
    reason = r;
    return true;
}

bool KV_HttpSess::parse_length(const KV_String& text, int64_t& length)
{
    const char* p = text.data();
    int64_t v = 0;
    if (!p || !read_dec(p, p + text.length(), v))
        return false;
    length = v;
    return true;
}

bool KV_HttpSess::parse_range(const KV_String& text, int64_t& from, int64_t& to)
{
    const char* p = text.data();
    if (!p)
        return false;
    const char* e = p + text.length();
    if (text.length() < 6 || std::memcmp(p, "bytes", 5) != 0)
        return false;
    p += 5;
    while (p < e && (*p == ' ' || *p == '\t'))
        ++p;
    const char* dash = p;
    while (dash < e && is_digit(*dash))
        ++dash;
    if (dash == e || *dash != '-')
        return false;
    const char* slash = dash + 1;
    while (slash < e && is_digit(*slash))
        ++slash;
    if (slash == e || *slash != '/')
        return false;
    int64_t f = 0, t = 0;
    if (!read_dec(p, dash, f) || !read_dec(dash + 1, slash, t) || t < f)
        return false;
    const char* rest = slash + 1;
    int64_t total = 0;
    if (!(e - rest == 1 && *rest == '*') && (!read_dec(rest, e, total) || total <= t))
        return false;
    from = f;
    to = t;
    return true;
}

// ---------------------------------------------------------------------------
// The response head

bool KV_HttpSess::process_hdr(const KV_String& text)
{
    if (!man || !reason)
        return true;
    if (text.empty()) {
        const uint32_t c = man->code();
        if (c >= 100 && c < 200 && c != 101) {
            // An interim answer: the real status line follows.
            man->set_stat_rcv(false);
            man->set_code(0);
            return true;
        }
        man->set_hdr_rcv(false);
        man->set_trans_stat(KV_HTTP_TRANS_HDR_RESP);
        return true;
    }
    if (!man->stat_rcv()) {
        KV_HttpVer ver;
        uint32_t code = 0;
        KV_String why;
        bool success = false;
        if (parse_status(text, ver, code, why)) {
            // The reason is kept in the fixed buffer as the server sent it.
            const uint32_t n = std::min(why.length(), max_reason);
            std::memset(reason.get(), 0, max_reason + 1);
            if (n)
                std::memcpy(reason.get(), why.data(), n);
            man->set_version(ver);
            man->set_code(code);
            // Before 1.1 a connection ends with its response unless the
            // server says otherwise: a next request must not go out on it.
            if (ver < KV_HttpVer(1, 1))
                man->set_conn_close(true);
            success = (code >= 100 && code <= 299) || man->act_code_allowed(code);
            if (code == 204)
                man->set_no_cont(true);
            if (!(code >= 100 && code < 200) && !success) {
                KV_HTTP_ERR err = KV_HTTP_ERR_REASON;
                if (code == 404)
                    err = KV_HTTP_ERR_NOT_FOUND;
                else if (code < 400)
                    err = KV_HTTP_ERR_CODE;
                man->set_last_err(err);
                if (err == KV_HTTP_ERR_REASON) {
                    const KV_String msg = KV_String(reason.get()).trim();
                    man->set_err_msg(msg.empty() ? text.trim() : msg);
                }
            }
        } else {
            man->set_code(0);
        }
        man->set_response(success, false);
        man->set_stat_rcv(true);
        return true;
    }
    uint32_t colon = 0;
    if (!text.contains(':', 0, &colon))
        return true;
    const KV_String name = text.part(0, colon).trim().upper();
    const KV_String value = text.part(colon + 1, text.length()).trim();
    KV_FileData& fd = man->fdata();
    if (name == "ACCEPT-RANGES") {
        if (value.upper() == "BYTES")
            fd.set_fd_flags(KV_FD_MULTIFRAG, 0);
    } else if (name == "CONNECTION" || name == "PROXY-CONNECTION") {
        const KV_String v = value.upper();
        if (v == "CLOSE")
            man->set_conn_close(true);
        else if (v == "KEEP-ALIVE")
            man->set_conn_close(false);
    } else if (name == "LAST-MODIFIED") {
        KV_Time t;
        if (t.from_str(value, KV_STR_TM_GMT))
            fd.set_tm(t);
        fd.set_time(value);
        fd.set_fd_flags(KV_FD_TIME, 0);
    } else if (name == "CONTENT-LENGTH") {
        int64_t len = 0;
        const bool seen = fd.valid_size(false) || man->no_cont();
        if (!parse_length(value, len) || (seen && len != fd.size(false))) {
            // Without a trustworthy length the body cannot be framed: the
            // response fails and the connection goes.
            man->set_err_msg("Invalid Content-Length in the response.");
            man->set_response(false, false);
            return false;
        }
        fd.set_size(len);
        if (len > 0)
            fd.set_fd_flags(KV_FD_SIZE, 0);
        else
            man->set_no_cont(true);
    } else if (name == "LOCATION") {
        man->set_redir(value);
    } else if (name == "TRANSFER-ENCODING") {
        uint32_t pos = 0;
        if (value.upper().contains(KV_String("CHUNKED"), 0, &pos))
            man->set_trans_enc(KV_HTTP_TENC_CHUNKED);
    } else if (name == "CONTENT-RANGE") {
        int64_t from = 0, to = 0;
        man->set_range_from(parse_range(value, from, to) ? from : -1);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Session hooks

bool KV_HttpSess::init_secured()
{
    const bool r = KV_Session::init_secured();
    if (!r && man) {
        const KV_String& e = ssl.last_err();
        if (e.empty())
            man->set_err_msg("SSL negotiation failed.");
        else
            man->set_err_msg(
                KV_String::format_impl("%s ( %s )", "SSL negotiation failed.", e.data()));
    }
    return r;
}

bool KV_HttpSess::process_in(KV_Stream& in, KV_Stream& out)
{
    if (!man)
        return true;
    man->touch();
    if (!in.empty())
        man->note_answer();
    KV_HTTP_SESS_IN st = KV_HTTP_SESS_IN_NONE;
    bool ok = true;
    while (ok && man->hdr_rcv() && !in.empty()) {
        uint32_t lf = 0;
        const bool complete = in.find(10, lf);
        const uint32_t n = complete ? lf : in.length();
        const unsigned char* b = in;
        // CRs are dropped; the runs between them go in whole.
        for (uint32_t i = 0; ok && i < n;) {
            uint32_t j = i;
            while (j < n && b[j] != 13)
                ++j;
            if (j - i > max_line - line.length())
                return refuse_head(line_too_long_msg);
            ok = line.append(b + i, j - i);
            i = j < n ? j + 1 : j;
        }
        if (!ok || !in.remove(complete ? n + 1 : n))
            return false;
        if (!complete)
            break;
        if (++head_lines > max_head_lines)
            return refuse_head(head_too_long_msg);
        if (!line.empty())
            log(KV_SESS_LOG_RECV, line, false);
        ok = process_hdr(line);
        line.clear();
        if (ok && !man->hdr_rcv()) {
            head_lines = 0;
            ok = man->act_preprocess_in(st);
            // The body of a refusal is of no use, and one without a length
            // would hold the worker until the server closes.
            if (ok && st == KV_HTTP_SESS_IN_NONE && !man->response(true))
                st = KV_HTTP_SESS_IN_COMPLETE;
        }
    }
    if (ok && !man->hdr_rcv() && st == KV_HTTP_SESS_IN_NONE && !in.empty())
        ok = man->act_process_in(in, st);
    if (ok)
        ok = process_sess_in(st, out);
    // A connection that ends with its answer closes now, not at the next
    // idle pass: the worker waits for that close, request by request.
    if (ok && man->trans_stop() && man->trans_cl() && out.empty() && !shutdown_req())
        req_shutdown();
    return ok;
}

bool KV_HttpSess::refuse_head(const char* msg)
{
    log(KV_SESS_LOG_NOTICE, msg, true);
    man->set_err_msg(msg);
    man->set_response(false, false);
    line.clear();
    return false;
}

bool KV_HttpSess::process_out(KV_Stream& out)
{
    const uint32_t before = out.length();
    bool ok = KV_Session::process_out(out);
    if (man && out.length() != before)
        man->touch();
    if (ok)
        ok = process_idle(out);
    return ok;
}

bool KV_HttpSess::process_idle(KV_Stream& out)
{
    if (!man || !man->response(true))
        return true;
    if (man->trans_stop()) {
        if (man->trans_cl() && out.empty() && !shutdown_req())
            req_shutdown();
        return true;
    }
    KV_HTTP_SESS_IN st = KV_HTTP_SESS_IN_NONE;
    bool ok = true;
    while (ok && !man->out_stop() && out.length() < out_block) {
        if (!check_buff())
            return false;
        const uint32_t before = out.length();
        ok = man->act_process_out(out, st, out_block, buff_out.get());
        if (st != KV_HTTP_SESS_IN_NONE || out.length() == before)
            break;
    }
    if (ok)
        ok = process_sess_in(st, out);
    return ok;
}

bool KV_HttpSess::process_sess_in(KV_HTTP_SESS_IN in, KV_Stream& out)
{
    (void)out;
    switch (in) {
    case KV_HTTP_SESS_IN_NONE:
        break;
    case KV_HTTP_SESS_IN_SENT:
        man->set_trans_stat(KV_HTTP_TRANS_HDR_SENT);
        break;
    case KV_HTTP_SESS_IN_COMPLETE:
        man->act_end(false);
        break;
    case KV_HTTP_SESS_IN_STOP:
        // A refusal ends the connection at once: the server takes no more of
        // the request body, and the connection cannot be reused.
        if (man->stat_rcv() && !man->response(true))
            return false;
        if (man->out_stop() && man->stat_rcv())
            man->set_trans_stop(true, true);
        break;
    }
    return true;
}

bool KV_HttpSess::postcleanup(bool ok)
{
    if (man)
        man->act_end(true);
    return KV_Session::postcleanup(ok);
}
