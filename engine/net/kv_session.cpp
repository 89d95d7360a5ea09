#include "net/kv_session.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <sys/socket.h>

#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "net/kv_comm.h"
#include "net/kv_proxy.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_sessinfo.h"

KV_Lock KV_Session::lock_in;
KV_Lock KV_Session::lock_out;
double KV_Session::bwt_in = 0;
double KV_Session::bwt_out = 0;

namespace {

// The transfer options read and set the limits through these; installed
// while the library loads, before any option is read.
constexpr KV_BwtLimitHooks bwt_hooks = {&KV_Session::bwt_speed_in, &KV_Session::bwt_speed_out,
                                        &KV_Session::set_bwt_speed_in,
                                        &KV_Session::set_bwt_speed_out};
[[maybe_unused]] const bool bwt_hooks_installed =
    (KV_FileTransManOpts::set_bwt_hooks(&bwt_hooks), true);

} // namespace
std::atomic<bool> KV_Session::limit_in_on{false};
std::atomic<bool> KV_Session::limit_out_on{false};
KV_SpeedMeter KV_Session::gmeter_in;
KV_SpeedMeter KV_Session::gmeter_out;
uint32_t KV_Session::sess_cnt = 0;
KV_SessInfo KV_Session::ginfo_last;
KV_TimeInt KV_Session::ginfo_time;

namespace {

constexpr uint32_t UNLIMITED = 0xFFFFFFFF;
// Passes in a row that may skip the wait while data flows.
constexpr uint32_t HOT_PASSES = 16;
// How often the global speeds are reported while bytes move: more than
// twice a second (a report goes with the first bytes after the period, so a
// period of exactly half a second would come out a little under two a
// second), so that the speed a person watches follows the transfer. The
// figure itself is the meters' average over their sliding window of many
// seconds, so reporting it more often does not make it jumpy. While idle
// the report stays at every two seconds.
constexpr int64_t GLOBAL_REPORT_MS = 400;
constexpr int64_t GLOBAL_IDLE_REPORT_MS = 2000;

bool valid_limit(double bytes_per_sec)
{
    return std::isfinite(bytes_per_sec) && bytes_per_sec >= 0;
}

// Buffer sizes of 0, 1 and 2 all become 2: one byte per receive.
uint32_t buff_size(uint32_t configured)
{
    return configured <= 2 ? 2 : configured;
}

} // namespace

KV_Session::KV_Session(KV_CommBase* comm, KV_Socket& sock_in, const KV_InetAddr& addr)
    : KV_Thread(false), comm_(comm), addr_(addr)
{
    sock.take(sock_in);
    if (comm_) {
        informer = comm_->informer();
        opts = comm_->sess_params();
        buff_in_size = buff_size(opts.buff_recv());
        buff_out_size = buff_size(opts.buff_send());
    }
    out_block = std::max(buff_out_size, NET_BLOCK);
}

KV_Session::~KV_Session()
{
    if (comm_)
        comm_->stop_unreg(this);
}

void KV_Session::set_proxy(KV_Proxy* p)
{
    proxy.reset(p);
}

KV_SESS_TYPE KV_Session::type() const
{
    return KV_SESS_TYPE_PLAIN;
}

bool KV_Session::wait_sock(bool rd, bool wr, uint32_t timeout_ms)
{
    bool err = true;
    bool woken = false;
    return sock.wait(rd, wr, err, timeout_ms, &waker, woken) && !err;
}

bool KV_Session::send(const uint8_t* data, uint32_t len, bool wake)
{
    bool was_empty;
    bool ok;
    {
        std::lock_guard<KV_Lock> guard(sess_lock);
        was_empty = out_stream.empty();
        ok = out_stream.append(data, len);
    }
    // A loop waiting with nothing to send would only look again after its
    // wait; the first bytes wake it.
    if (ok && was_empty && len && wake)
        waker.wake();
    return ok;
}

void KV_Session::req_shutdown()
{
    log(KV_SESS_LOG_NOTICE, "Shutdown requested", false);
    shutdown_flag.store(true);
    waker.wake();
}

bool KV_Session::check_buff()
{
    if (!buff_out)
        buff_out.reset(new (std::nothrow) uint8_t[out_block]);
    return buff_out && out_block > 1;
}

void KV_Session::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Thread::stop_done(type, threshold);
    waker.wake();
}

void KV_Session::pause_done(bool paused)
{
    KV_Thread::pause_done(paused);
    waker.wake();
}

void KV_Session::log(KV_SESS_LOG kind, const KV_String& text, bool err)
{
    if (!informer || !comm_)
        return;
    informer->send(new (std::nothrow)
                       KV_MsgSessLog(comm_->tavo_id(), KV_SessLogInfo(kind, text, err)));
}

bool KV_Session::init_secured()
{
    if (!comm_ || !comm_->ssl_ctx())
        return false;
    KV_String s1, s2;
    const uint8_t mode = comm_->ssl_check(s1, s2);
    if (!ssl.init(comm_->file_man(), *comm_->ssl_ctx(), sock.handle(), informer, comm_->tavo_id(),
                  comm_->dst_addr(), mode, s1, s2))
        return false;
    log(KV_SESS_LOG_NOTICE, "SSL negotiation", false);
    secured = comm_->ssl_client() ? ssl.connect(*this) : ssl.accept(*this);
    return secured;
}

bool KV_Session::process_in(KV_Stream&, KV_Stream&)
{
    return true;
}

bool KV_Session::process_out(KV_Stream& out)
{
    return send_step(out);
}

bool KV_Session::process_idle(KV_Stream&)
{
    return true;
}

bool KV_Session::init()
{
    return true;
}

bool KV_Session::cleanup(bool)
{
    return true;
}

bool KV_Session::postcleanup(bool)
{
    return true;
}

bool KV_Session::run()
{
    secured = false;
    initialized = false;
    if (!comm_)
        return false;
    {
        std::lock_guard<KV_Lock> guard(lock_in);
        ++sess_cnt;
    }
    comm_->sess_state(true);
    if (info_mask & 1) {
        info.set_run(true);
        report();
    }

    bool ok = true;
    // Linux pins a buffer size that is set explicitly and stops tuning it, so
    // the configured size (4096 bytes by default) would cap a transfer at a
    // few window's worth per round trip. The configured sizes are therefore
    // minimums: the kernel's own sizes are kept when they are larger.
    const int names[2] = {SO_RCVBUF, SO_SNDBUF};
    const uint32_t sizes[2] = {buff_in_size, buff_out_size};
    for (int i = 0; i < 2 && ok; ++i) {
        int cur = 0;
        int len = sizeof(cur);
        const int want = static_cast<int>(std::min<uint32_t>(sizes[i], 0x3FFFFFFF));
        if (!sock.get_opt(SOL_SOCKET, names[i], &cur, len) || cur < want)
            ok = sock.set_opt(SOL_SOCKET, names[i], &want, sizeof(want));
    }
    meter_in.reset();
    meter_out.reset();
    uint32_t act_count = 10;
    uint32_t act_hist = 0;

    while (ok && !stopped(nullptr, true))
        ok = pass(act_count, act_hist);

    if (!ok)
        comm_->set_conn_failed();
    ok = cleanup(ok) && ok;
    ok = sock.close() && ok;
    comm_->sess_state(false);
    ok = postcleanup(ok) && ok;
    if (info_mask & 1) {
        info = KV_SessInfo();
        info.set_run(false);
        info.set_err(!ok);
        report();
    }
    if (informer) {
        const KV_String text = comm_->info_str(KV_COMM_INFO_CLOSED);
        if (!text.empty())
            log(KV_SESS_LOG_NOTICE, text, false);
    }
    {
        std::lock_guard<KV_Lock> guard_in(lock_in);
        std::lock_guard<KV_Lock> guard_out(lock_out);
        if (sess_cnt > 0 && --sess_cnt == 0)
            global_report(Report::Final);
    }
    return ok;
}

bool KV_Session::pass(uint32_t& act_count, uint32_t& act_hist)
{
    // 1. A secure request of the connection, once no proxy handshake is left.
    if (!secured && !proxy && comm_->secure_wanted() && comm_->take_secure_req()) {
        const bool r = init_secured();
        comm_->set_secure_res(r);
        meter_in.reset();
        meter_out.reset();
        if (!r)
            return false;
    }

    // 2.-3. What this pass may do.
    allow_in = global_allow(lock_in, limit_in_on, bwt_in, gmeter_in);
    allow_out = global_allow(lock_out, limit_out_on, bwt_out, gmeter_out);
    const bool active = !paused();
    bool out_waiting;
    {
        std::lock_guard<KV_Lock> guard(sess_lock);
        out_waiting = !out_stream.empty();
    }
    bool rd = active && allow_in != 0;
    bool wr = active && allow_out != 0 && out_waiting;
    bool err = rd || wr;

    // 4.-5. One wait, cut short by the waker. While data flows (the last
    // receive filled its buffer, or the last send went out whole) more is
    // almost surely ready, and the pass goes straight to that call; a call
    // that finds nothing ends the streak. That saves a system call per
    // buffer, a third of the work at 4 KiB. Every HOT_PASSES passes the
    // wait runs all the same, so a direction that is not flowing (replies
    // during an upload, output during a download) is seen promptly. Bytes
    // that TLS has decrypted but not handed out yet are readable now,
    // though the socket will not say so.
    const bool tls_ready = rd && secured && ssl.pending();
    if (!initialized && !proxy) {
        // A new session starts its hooks at once: an upload's data
        // connection has nothing to read and nothing queued yet, and would
        // otherwise sit out a whole wait before its first block.
        rd = wr = err = false;
    } else if (hot_passes < HOT_PASSES && ((rd && (hot_rd || tls_ready)) || (wr && hot_wr))) {
        ++hot_passes;
        rd = rd && (hot_rd || tls_ready);
        wr = wr && hot_wr;
        err = false;
    } else {
        hot_passes = 0;
        hot_rd = hot_wr = false;
        const uint32_t wait_ms = tls_ready ? 0 : 20 + (10 - act_count) * 180 / 10;
        bool woken = false;
        ++waits_;
        if (!sock.wait(rd, wr, err, wait_ms, &waker, woken))
            return false;
        if (tls_ready)
            rd = true;
        // A pause wakes the wait: bytes that came with it are left for the
        // resume rather than taken by a pass that began before the pause.
        if (woken && (rd || wr) && paused())
            rd = wr = err = false;
    }

    // 6.-7.
    if (!rd && !wr) {
        std::lock_guard<KV_Lock> guard_in(lock_in);
        std::lock_guard<KV_Lock> guard_out(lock_out);
        global_report(Report::Idle);
    }
    if (err)
        return false;

    // 8. Receive.
    bool ok = true;
    if (rd)
        ok = receive();

    // 9.-10. Processing, or the proxy handshake while one is pending.
    if (ok && !proxy) {
        if (!initialized) {
            initialized = init();
            ok = initialized;
        }
        if (ok) {
            std::lock_guard<KV_Lock> guard(sess_lock);
            const bool was_empty = out_stream.empty();
            if (!rd)
                ok = process_idle(out_stream);
            if (ok && !in_stream.empty())
                ok = process_in(in_stream, out_stream);
            // Output the hooks made in this pass, or another thread queued
            // during its wait (what woke it), goes out now: the socket is
            // non-blocking, and a full one keeps the bytes for a later
            // pass. Waiting for a writable report first would cost a wait
            // per request on a connection that answers one at a time. The
            // pause is looked at again here, and the limit too when the
            // output came during the wait (the limit may have been set with
            // it). Output that was already waiting when the pass began went
            // out, or not, by the wait's report.
            const bool fresh = was_empty || !out_waiting;
            if (!out_waiting && !wr)
                allow_out = global_allow(lock_out, limit_out_on, bwt_out, gmeter_out);
            const bool made =
                !wr && fresh && !out_stream.empty() && active && !paused() && allow_out != 0;
            // A TLS request that came after this pass looked for one may
            // have output queued behind it: nothing goes out in the clear
            // until the next pass has run the handshake. Looked at under
            // sess_lock, so every byte in out was queued after a request
            // that is visible here.
            if (ok && (wr || made) && (secured || !comm_->secure_wanted()))
                ok = process_out(out_stream);
        }
    } else if (ok) {
        std::lock_guard<KV_Lock> guard(sess_lock);
        bool done = false;
        if (!in_stream.empty())
            ok = proxy->process_in(this, in_stream, out_stream, done);
        if (ok && !done)
            ok = proxy->process_out(this, out_stream, done);
        if (done) {
            comm_->set_ready();
            proxy.reset();
        }
        // The handshake's own output goes out whether or not the socket was
        // reported writable: a request built in this pass must not wait for
        // a pass that wanted to write.
        if (ok)
            ok = send_step(out_stream);
    }

    // 11. A requested shutdown of the sending side.
    if (ok)
        ok = shutdown_step();

    // 12. Activity over the last ten passes.
    if ((act_hist & (1u << 9)) == 0 && act_count > 0)
        --act_count;
    act_hist <<= 1;
    if (!rd && !wr)
        act_hist |= 1;
    else if (act_count < 10)
        ++act_count;

    // 13. Speeds.
    if (info_mask & 2)
        update_speeds();
    return ok;
}

bool KV_Session::receive()
{
    const uint32_t cap = std::max(buff_in_size, NET_BLOCK);
    if (!buff_in || (rd_full && in_block < cap)) {
        // The last receive filled the block: data flows, and a larger block
        // takes what the socket holds in fewer calls.
        const uint32_t next = !buff_in ? buff_in_size : std::min(cap, in_block * 4);
        buff_in.reset(new (std::nothrow) uint8_t[next]);
        if (!buff_in)
            return false;
        in_block = next;
    }
    uint32_t n = std::min(allow_in, in_block - 1);
    bool closed = false;
    const uint32_t room = n;
    const bool got = secured ? ssl.recv(buff_in.get(), n, closed) : sock.recv(buff_in.get(), n, 0);
    hot_rd = got && n == room;
    rd_full = got && n == in_block - 1;
    if (!got) {
        // A readiness report that found nothing (EAGAIN) is no failure.
        return !secured && sock.would_block();
    }
    if (closed || (!secured && n == 0)) {
        fin_step();
        // A proxy that hangs up before its handshake is done has refused
        // the connection: that is a failure, not an end of data.
        return !proxy;
    }
    if (n == 0)
        return true;
    buff_in[n] = 0;
    if (!in_stream.append(buff_in.get(), n))
        return false;
    info.set_bytes_recv(info.bytes_recv() + n);
    meter_in.add(n);
    count_in(n);
    return true;
}

bool KV_Session::send_step(KV_Stream& out)
{
    uint32_t n = std::min(allow_out, out.length());
    if (n == 0)
        return true;
    bool closed = false;
    const uint32_t offered = n;
    const bool sent = secured ? ssl.send(out, n, closed) : sock.send(out, n, 0);
    hot_wr = sent && n == offered;
    if (!sent) {
        // Full socket buffers: the bytes stay for a later pass (TLS reports
        // those as a success with nothing taken). Anything else (a reset, a
        // broken pipe, a failed TLS write) ends the connection.
        return !secured && sock.would_block();
    }
    if (closed) {
        fin_step();
        return true;
    }
    if (n == 0)
        return true;
    info.set_bytes_sent(info.bytes_sent() + n);
    meter_out.add(n);
    count_out(n);
    return out.remove(n);
}

bool KV_Session::shutdown_step()
{
    if (!shutdown_flag.load() || sock.is_shut(1))
        return true;
    {
        // Shutting down the sending side before the output stream is empty
        // would lose its bytes: wait until they are out.
        std::lock_guard<KV_Lock> guard(sess_lock);
        if (!out_stream.empty())
            return true;
    }
    if (secured && !ssl.sd_done()) {
        bool sent = false;
        if (!ssl.shutdown(sent))
            return false;
        if (!ssl.sd_done())
            return true;
    }
    return sock.shutdown(1);
}

void KV_Session::fin_step()
{
    stop(KV_STOP_TERMINATE);
    log(KV_SESS_LOG_NOTICE, "FIN received", false);
}

void KV_Session::report()
{
    if (!informer || !comm_)
        return;
    info.set_type(type());
    if (info == info_last)
        return;
    info_last = info;
    informer->send(new (std::nothrow) KV_MsgSessNtf(comm_->tavo_id(), info));
}

void KV_Session::update_speeds()
{
    bool changed = false;
    const double r_in = meter_in.rate(1000);
    if (r_in >= 0 && r_in != info.speed_recv()) {
        info.set_speed_recv(r_in);
        changed = true;
    }
    const double r_out = meter_out.rate(1000);
    if (r_out >= 0 && r_out != info.speed_send()) {
        info.set_speed_send(r_out);
        changed = true;
    }
    if (changed)
        report();
}

uint32_t KV_Session::global_allow(KV_Lock& lock, const std::atomic<bool>& on, const double& limit,
                                  KV_SpeedMeter& meter)
{
    // Without a limit there is nothing to read under the lock.
    if (!on.load(std::memory_order_acquire))
        return UNLIMITED;
    std::lock_guard<KV_Lock> guard(lock);
    if (limit <= 0.0001)
        return UNLIMITED;
    // An allowance of 4 GiB or more must not wrap to a small number (or to 0,
    // which would stall the session): one below "unlimited" is plenty for one
    // pass.
    const int64_t a = meter.allowance(limit);
    return a >= int64_t(UNLIMITED) ? UNLIMITED - 1 : static_cast<uint32_t>(a);
}

void KV_Session::count_in(uint64_t n)
{
    std::lock_guard<KV_Lock> guard_in(lock_in);
    std::lock_guard<KV_Lock> guard_out(lock_out);
    gmeter_in.add(n);
    global_report(Report::Count);
}

void KV_Session::count_out(uint64_t n)
{
    std::lock_guard<KV_Lock> guard_in(lock_in);
    std::lock_guard<KV_Lock> guard_out(lock_out);
    gmeter_out.add(n);
    global_report(Report::Count);
}

void KV_Session::global_report(Report form)
{
    const int64_t since = ginfo_time.diff();
    if ((form == Report::Idle && since <= GLOBAL_IDLE_REPORT_MS) ||
        (form == Report::Count && since <= GLOBAL_REPORT_MS))
        return;
    KV_SessInfo g;
    if (form != Report::Final) {
        const double r_in = gmeter_in.rate(GLOBAL_REPORT_MS);
        const double r_out = gmeter_out.rate(GLOBAL_REPORT_MS);
        if (r_in < 0 && r_out < 0)
            return;
        g.set_speed_recv(r_in < 0 ? 0 : r_in);
        g.set_speed_send(r_out < 0 ? 0 : r_out);
        if (g == ginfo_last)
            return;
    }
    KV_Informer* root = kv_root_informer();
    if (!root)
        return;
    root->send(new (std::nothrow) KV_MsgSessNtf(0, g));
    ginfo_last = g;
    ginfo_time.reset();
}

void KV_Session::set_bwt_speed_in(double bytes_per_sec)
{
    if (!valid_limit(bytes_per_sec))
        return;
    std::lock_guard<KV_Lock> guard(lock_in);
    bwt_in = bytes_per_sec;
    gmeter_in.reset();
    limit_in_on.store(bytes_per_sec > 0.0001, std::memory_order_release);
}

void KV_Session::set_bwt_speed_out(double bytes_per_sec)
{
    if (!valid_limit(bytes_per_sec))
        return;
    std::lock_guard<KV_Lock> guard(lock_out);
    bwt_out = bytes_per_sec;
    gmeter_out.reset();
    limit_out_on.store(bytes_per_sec > 0.0001, std::memory_order_release);
}

double KV_Session::bwt_speed_in()
{
    std::lock_guard<KV_Lock> guard(lock_in);
    return bwt_in;
}

double KV_Session::bwt_speed_out()
{
    std::lock_guard<KV_Lock> guard(lock_out);
    return bwt_out;
}
