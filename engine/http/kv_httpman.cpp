#include "http/kv_httpman.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>

#include "foundation/kv_errhandler.h"
#include "http/kv_httpacttrans.h"
#include "http/kv_httpsess.h"
#include "net/kv_httphdr.h"
#include "net/kv_proxy.h"
#include "net/kv_sslsess.h"

namespace {

int64_t now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The slice in which a waiter looks at the inactivity clock again.
constexpr uint32_t WAIT_SLICE_MS = 250;

} // namespace

// ---------------------------------------------------------------------------
// KV_HttpAct

KV_HttpAct::~KV_HttpAct() = default;

bool KV_HttpAct::exec(KV_HttpAct* other)
{
    if (!other || !other->man_)
        return false;
    return other->man_->exec_impl(this);
}

bool KV_HttpAct::exec(KV_HttpMan* man)
{
    man_ = man;
    {
        std::lock_guard<KV_Lock> g(lock_executed);
        executed_ = true;
    }
    {
        std::lock_guard<KV_Lock> g(lock_timed_out);
        timed_out_ = false;
    }
    set_executed(man && man->connected());
    bool result = false;
    if (executed())
        result = run();
    set_executed(man && man->response(false));
    return result;
}

bool KV_HttpAct::executed() const
{
    std::lock_guard<KV_Lock> g(lock_executed);
    return executed_;
}

bool KV_HttpAct::timed_out() const
{
    std::lock_guard<KV_Lock> g(lock_timed_out);
    return timed_out_;
}

void KV_HttpAct::set_executed(bool v)
{
    std::lock_guard<KV_Lock> g(lock_executed);
    executed_ = executed_ && v;
}

void KV_HttpAct::set_timed_out(bool v)
{
    std::lock_guard<KV_Lock> g(lock_timed_out);
    timed_out_ = timed_out_ || v;
}

// ---------------------------------------------------------------------------
// KV_HttpMan: set-up

KV_HttpMan::KV_HttpMan() = default;

KV_HttpMan::~KV_HttpMan()
{
    stop(KV_STOP_TERMINATE);
    close_sessions();
}

void KV_HttpMan::set_addrs(const KV_String& src, const KV_String& dst,
                           const KV_ProxyOptsHttp& proxy)
{
    src_addr_ = src.trim();
    dst_addr_ = dst.trim();
    proxy_ = proxy;
}

KV_HTTP_SECURE KV_HttpMan::security() const
{
    return ssl_ctx() ? security_ : KV_HTTP_SECURE_NONE;
}

KV_PROXY_HTTP KV_HttpMan::proxy_type() const
{
    const KV_PROXY_HTTP t = proxy_.type();
    if (t == KV_PROXY_HTTP_STD && security() == KV_HTTP_SECURE_SSL)
        return KV_PROXY_HTTP_CONNECT;
    return t;
}

// ---------------------------------------------------------------------------
// Connection

void KV_HttpMan::secure_http()
{
    if (security() == KV_HTTP_SECURE_SSL)
        req_secure();
}

bool KV_HttpMan::open(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy)
{
    KV_InetAddr to(dst);
    if (to.port() == 0)
        to.set_port(KV_Port(security() == KV_HTTP_SECURE_SSL ? 443 : 80));
    bool ok = KV_Connector::connect(local, to, proxy);
    if (ok) {
        wait_open();
        ok = connected();
    }
    if (!ok)
        set_err_msg("Connection attempt failed.");
    return true;
}

bool KV_HttpMan::check_conn()
{
    if (stopped())
        return true;
    // A connection the last answer ended may still look alive while its
    // session shuts it down: the next request would go out on it and fail.
    if (connected() && (trans_cl_ || conn_close_))
        close();
    if (connected())
        return true;
    // The last answer's verdict on its connection is no verdict on the new
    // one: a new session that read it in its first pass would shut down its
    // sending side before the request goes out.
    trans_cl_ = false;
    conn_close_ = false;
    KV_InetAddr local;
    if (!src_addr_.empty())
        local = KV_InetAddr(src_addr_, KV_Port(0));
    KV_InetAddr dst(dst_addr_, KV_Port(0));
    const KV_PROXY_HTTP kind = proxy_type();
    if (kind != KV_PROXY_HTTP_NONE)
        dst = KV_InetAddr(proxy_.addr(), KV_Port(proxy_.port()));
    const bool ssl = security() == KV_HTTP_SECURE_SSL;
    bool good = false;
    if (kind == KV_PROXY_HTTP_NONE || kind == KV_PROXY_HTTP_STD) {
        secure_http();
        open(local, dst, nullptr);
        good = connected() && (!ssl || secure_res(true));
    } else {
        KV_String target = dst_addr_;
        KV_String host, port;
        if (!split_host_port(target, host, port))
            target += ssl ? ":443" : ":80";
        KV_Proxy* p = nullptr;
        if (kind == KV_PROXY_HTTP_CONNECT)
            p = new (std::nothrow) KV_ProxyHttp(this, target, proxy_.ldata());
        else if (kind == KV_PROXY_HTTP_SOCKS4)
            p = new (std::nothrow) KV_ProxySocks4(this, target, proxy_.ldata(), false);
        else if (kind == KV_PROXY_HTTP_SOCKS5)
            p = new (std::nothrow) KV_ProxySocks5(this, target, proxy_.ldata(), false);
        if (p) {
            open(local, dst, p);
            if (connected() && !stopped()) {
                secure_http();
                good = connected() && (!ssl || secure_res(true));
            }
        } else {
            set_err_msg("Connection attempt failed.");
        }
    }
    if (!good)
        close();
    return true;
}

bool KV_HttpMan::split_host_port(const KV_String& text, KV_String& host, KV_String& port)
{
    // "[v6]:port", "host:port"; a bare IPv6 address has more than one colon
    // and no port.
    const char* d = text.data();
    const uint32_t n = text.length();
    if (n > 0 && d[0] == '[') {
        uint32_t close_at = 0;
        if (!text.contains(']', 0, &close_at))
            return false;
        host = text.part(1, close_at);
        if (close_at + 1 < n && d[close_at + 1] == ':') {
            port = text.part(close_at + 2, n);
            return !port.empty();
        }
        return false;
    }
    uint32_t colon = 0;
    if (!text.contains(':', 0, &colon))
        return false;
    uint32_t again = 0;
    if (text.contains(':', colon + 1, &again))
        return false;
    host = text.part(0, colon);
    port = text.part(colon + 1, n);
    return !port.empty();
}

bool KV_HttpMan::connect()
{
    return check_conn();
}

void KV_HttpMan::close()
{
    close_sessions();
}

// ---------------------------------------------------------------------------
// Running

bool KV_HttpMan::exec(KV_ErrHandler& eh, KV_HttpAct* act, KV_Stoppable* stoppable)
{
    stop_reset();
    if (stoppable)
        stoppable->stop_reg(this);
    eh_ = &eh;
    conn_err_ = false;
    bool result = true;
    bool ran = false;
    if (!stopped()) {
        {
            std::lock_guard<KV_Lock> g(lock_err);
            err_msg_.clear();
        }
        // A connection the last answer did not end is reused.
        const bool kept = connected() && !trans_cl_ && !conn_close_;
        const auto user_stop = [stoppable] { return stoppable && stoppable->stopped(); };
        if (connected() && !kept) {
            // The last answer ended its connection, whose session may still
            // be shutting it down. Closing it stops this manager with it,
            // which must not refuse the new connection of this request.
            close();
            stop_reset();
            if (user_stop())
                stop(KV_STOP_TERMINATE);
        }
        check_conn();
        const bool reused = kept && connected();
        if (connected()) {
            result = exec_impl(act);
            ran = true;
            // The failed run closed the connection, which stops the manager
            // too: only a stop of the caller's counts.
            if (reused && act && !act->executed() && !act->timed_out() && !answered_ &&
                !user_stop()) {
                close();
                stop_reset();
                {
                    std::lock_guard<KV_Lock> g(lock_err);
                    err_msg_.clear();
                }
                if (user_stop())
                    stop(KV_STOP_TERMINATE);
                else
                    check_conn();
                if (connected())
                    result = exec_impl(act);
                else
                    conn_err_ = true;
            }
            // A connection that ended under the request is the reason when
            // nothing else was found.
            if (act && !act->executed() && !act->timed_out() && !user_stop() &&
                (!answered_ || (code_ >= 200 && code_ < 300)))
                set_err_msg(answered_ ? "Connection closed before the whole answer came."
                                      : "Connection closed by the server before it answered.");
        } else {
            conn_err_ = true;
        }
    }
    if (act)
        act->set_executed(result && ran);
    const KV_String msg = err_msg();
    if (stoppable && !stoppable->stopped() && act && !act->executed() && !msg.empty())
        eh.set_err(1, "HTTP: %s", msg.data());
    eh_ = nullptr;
    if (stoppable)
        stoppable->stop_unreg(this);
    return result;
}

bool KV_HttpMan::exec_impl(KV_HttpAct* act)
{
    {
        std::lock_guard<KV_Lock> g(lock_resp);
        redir_.clear();
        version_ = KV_HttpVer();
        fdata_ = KV_FileData();
    }
    trans_stop_ = false;
    out_stop_ = false;
    trans_cl_ = false;
    hdr_sent_ = false;
    stat_rcv_ = false;
    hdr_rcv_ = true;
    trans_enc_ = KV_HTTP_TENC_NONE;
    last_err_ = KV_HTTP_ERR_REASON;
    resp_state_ = 0;
    code_ = 0;
    range_from_ = -1;
    conn_err_ = false;
    no_cont_ = false;
    conn_close_ = false;
    answered_ = false;
    touch();
    if (!act)
        return false;
    return act->exec(this);
}

// ---------------------------------------------------------------------------
// Results and hand-offs

bool KV_HttpMan::response(bool none_ok) const
{
    const uint32_t s = resp_state_.load();
    return s == 1 || (s == 0 && none_ok);
}

KV_String KV_HttpMan::err_msg() const
{
    std::lock_guard<KV_Lock> g(lock_err);
    return err_msg_;
}

void KV_HttpMan::set_err_msg(const KV_String& text)
{
    std::lock_guard<KV_Lock> g(lock_err);
    if (err_msg_.empty())
        err_msg_ = text;
}

KV_String KV_HttpMan::redir() const
{
    std::lock_guard<KV_Lock> g(lock_resp);
    return redir_;
}

void KV_HttpMan::set_redir(const KV_String& redir)
{
    std::lock_guard<KV_Lock> g(lock_resp);
    redir_ = redir;
}

KV_HttpVer KV_HttpMan::version() const
{
    std::lock_guard<KV_Lock> g(lock_resp);
    return version_;
}

void KV_HttpMan::set_version(const KV_HttpVer& ver)
{
    std::lock_guard<KV_Lock> g(lock_resp);
    version_ = ver;
}

void KV_HttpMan::set_response(bool ok, bool keep)
{
    // A failure stays; keep leaves any state that is set.
    const uint32_t cur = resp_state_.load();
    if (cur == 2 || (keep && cur != 0))
        return;
    resp_state_.store(ok ? 1 : 2);
}

void KV_HttpMan::set_trans_stat(KV_HTTP_TRANS_STAT s)
{
    switch (s) {
    case KV_HTTP_TRANS_RESET:
        ev_hdr_sent.reset();
        ev_hdr_resp.reset();
        ev_trans_end.reset();
        break;
    case KV_HTTP_TRANS_HDR_SENT:
        ev_hdr_sent.set();
        break;
    case KV_HTTP_TRANS_HDR_RESP:
        ev_hdr_resp.set();
        break;
    case KV_HTTP_TRANS_END:
        ev_trans_end.set();
        break;
    }
}

void KV_HttpMan::set_trans_stop(bool stop, bool close)
{
    trans_stop_ = stop;
    trans_cl_ = close;
}

bool KV_HttpMan::send_hdr(const KV_HttpHdr& hdr, bool& sent)
{
    sent = connected() && !stopped();
    if (!sent)
        return true;
    const KV_String text = hdr.as_str(this);
    // The session is woken once, when the head is queued and hdr_sent_ lets
    // its hooks make the body: the pass that sends the head then makes and
    // sends the body with it, in one write, instead of being woken by the
    // head alone and again for the body.
    bool r = !text.empty() && send_str(text.data(), false);
    sent = r;
    hdr_sent_ = r;
    touch();
    if (r)
        wake_sessions();
    return r;
}

void KV_HttpMan::act_set(KV_HttpActTrans* act)
{
    // No wake here: the hooks make no body before the head is queued, and
    // send_hdr wakes the session then.
    std::lock_guard<KV_Lock> g(lock_act);
    act_ = (act && act->end_wait()) ? act : nullptr;
}

bool KV_HttpMan::act_code_allowed(uint32_t code)
{
    std::lock_guard<KV_Lock> g(lock_act);
    return act_ && act_->code_allowed(code);
}

bool KV_HttpMan::act_preprocess_in(KV_HTTP_SESS_IN& in)
{
    std::lock_guard<KV_Lock> g(lock_act);
    return act_ ? act_->preprocess_in(in) : true;
}

bool KV_HttpMan::act_process_in(KV_Stream& stream, KV_HTTP_SESS_IN& in)
{
    std::lock_guard<KV_Lock> g(lock_act);
    if (act_)
        return act_->process_in(stream, in);
    // Bytes no action waits for would be read as the next response's head.
    stream.clear();
    return true;
}

bool KV_HttpMan::act_process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size,
                                 uint8_t* buffer)
{
    std::lock_guard<KV_Lock> g(lock_act);
    if (!act_ || !hdr_sent_)
        return true;
    const bool r = act_->process_out(stream, in, size, buffer);
    if (in != KV_HTTP_SESS_IN_NONE) {
        out_stop_ = true;
        // The whole request is queued: a run that waits for it to be sent
        // goes on to wait for the answer (an upload whose connection stays
        // is not woken by its close).
        ev_hdr_sent.set();
    }
    return r;
}

void KV_HttpMan::act_end(bool closing)
{
    {
        std::lock_guard<KV_Lock> g(lock_act);
        trans_stop_ = true;
        if (act_) {
            if (closing && act_->close_self())
                act_->set_executed(trans_cl_);
            act_->cleanup();
            act_ = nullptr;
        }
    }
    ev_trans_end.set();
    if (closing) {
        ev_hdr_sent.set();
        ev_hdr_resp.set();
    }
}

void KV_HttpMan::touch()
{
    last_io_.store(now_ms(), std::memory_order_relaxed);
}

bool KV_HttpMan::wait_ev(KV_Event& ev, bool idle)
{
    const int64_t limit = opts_.tmout_hdr_resp();
    const int64_t start = now_ms();
    for (;;) {
        if (stopped())
            return true;
        if (limit == 0) {
            if (!ev.wait(WAIT_SLICE_MS))
                return stopped();
            continue;
        }
        const int64_t from =
            idle ? std::max(start, last_io_.load(std::memory_order_relaxed)) : start;
        const int64_t left = from + limit - now_ms();
        if (left <= 0)
            return true;
        const uint32_t slice = static_cast<uint32_t>(std::min<int64_t>(left, WAIT_SLICE_MS));
        if (!ev.wait(slice))
            return stopped();
    }
}

bool KV_HttpMan::wait_trans_hdr_sent()
{
    return wait_ev(ev_hdr_sent, true);
}

bool KV_HttpMan::wait_trans_hdr_resp()
{
    return wait_ev(ev_hdr_resp, false);
}

bool KV_HttpMan::wait_trans_end()
{
    return wait_ev(ev_trans_end, true);
}

// ---------------------------------------------------------------------------
// Connection slots

KV_Session* KV_HttpMan::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_HttpSess(this, sock, addr);
}

uint8_t KV_HttpMan::ssl_check(KV_String& addr, KV_String& proto) const
{
    addr = dst_addr_;
    proto = "HTTPS";
    return trexpl() ? 3 : 2;
}

void KV_HttpMan::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Connector::stop_done(type, threshold);
    {
        std::lock_guard<KV_Lock> g(lock_act);
        if (act_) {
            act_->cleanup();
            act_ = nullptr;
        }
    }
    ev_hdr_sent.set();
    ev_hdr_resp.set();
    ev_trans_end.set();
}
