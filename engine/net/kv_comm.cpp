#include "net/kv_comm.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <sys/socket.h>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "net/kv_proxy.h"
#include "net/kv_session.h"
#include "requests/kv_fileman.h"
#include "requests/kv_sessinfo.h"

namespace {

// The longest single wait of a connect or accept loop: the loops look at
// the stop state at least this often even if the waker is missing.
constexpr uint32_t WAIT_SLICE_MS = 300;

} // namespace

// ---------------------------------------------------------------------------
// KV_CommBase

KV_CommBase::KV_CommBase() : KV_Thread(false)
{
    sessions.set_grow(256);
}

KV_CommBase::~KV_CommBase()
{
    close_sessions();
}

KV_String KV_CommBase::info_str(KV_COMM_INFO info) const
{
    switch (info) {
    case KV_COMM_INFO_CONNECTING:
        return "Connecting";
    case KV_COMM_INFO_LISTENING:
        return "Listening";
    case KV_COMM_INFO_CLOSED:
        return "Connection closed";
    }
    return KV_String();
}

uint8_t KV_CommBase::ssl_check(KV_String&, KV_String&) const
{
    return 0;
}

bool KV_CommBase::alive()
{
    return true;
}

bool KV_CommBase::ssl_client() const
{
    return true;
}

bool KV_CommBase::run()
{
    return false;
}

void KV_CommBase::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Thread::stop_done(type, threshold);
    if (!KV_Stoppable::stopped(type, KV_STOP_CANCEL))
        return;
    {
        std::lock_guard<KV_Lock> guard(lock_cnt);
        ev_started.set();
    }
    ev_ready.set();
    set_secure_res(false);
    waker.wake();
}

void KV_CommBase::log(KV_SESS_LOG kind, const KV_String& text, bool err) const
{
    if (informer_)
        informer_->send(new (std::nothrow)
                            KV_MsgSessLog(tavo_id_, KV_SessLogInfo(kind, text, err)));
}

void KV_CommBase::wait_open()
{
    if (!stopped())
        ev_ready.wait(KV_WAIT_INFINITE);
    if (!stopped())
        ev_started.wait(KV_WAIT_INFINITE);
}

bool KV_CommBase::connected() const
{
    return sess_count() != 0;
}

bool KV_CommBase::sess_alive()
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    for (uint32_t i = 0; i < sessions.size(); ++i)
        if (sessions.at(i)->running())
            return true;
    return false;
}

uint32_t KV_CommBase::sess_count() const
{
    std::lock_guard<KV_Lock> guard(lock_cnt);
    return sess_count_;
}

bool KV_CommBase::conn_failed() const
{
    std::lock_guard<KV_Lock> guard(lock_failed);
    return failed;
}

void KV_CommBase::reset_conn_failed()
{
    std::lock_guard<KV_Lock> guard(lock_failed);
    failed = false;
}

void KV_CommBase::set_conn_failed()
{
    std::lock_guard<KV_Lock> guard(lock_failed);
    failed = true;
}

void KV_CommBase::set_ready()
{
    ev_ready.set();
}

bool KV_CommBase::send(const uint8_t* data, uint32_t len, bool wake)
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    bool ok = true;
    for (uint32_t i = 0; i < sessions.size() && !stopped(); ++i)
        ok = sessions.at(i)->send(data, len, wake) && ok;
    return ok;
}

void KV_CommBase::wake_sessions()
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    for (uint32_t i = 0; i < sessions.size(); ++i)
        sessions.at(i)->wake();
}

bool KV_CommBase::send_str(const char* s, bool wake)
{
    if (!s)
        return true;
    const size_t n = std::strlen(s);
    if (n > UINT32_MAX)
        return false;
    return send(reinterpret_cast<const uint8_t*>(s), static_cast<uint32_t>(n), wake);
}

void KV_CommBase::req_secure()
{
    // stopped() takes the stop lock, which a stop holds while it calls
    // set_secure_res (lock_secure): never ask for it under lock_secure.
    const bool was_stopped = stopped();
    {
        std::lock_guard<KV_Lock> guard(lock_secure);
        if (secure_pending) {
            ev_secure.set();
            return;
        }
        // A stopped connection makes nothing secure, whatever an earlier
        // handshake achieved.
        if (was_stopped) {
            secure_result = false;
            ev_secure.set();
            return;
        }
        secure_result = false;
        secure_pending = true;
        secure_pending_flag.store(true);
        ev_secure.reset();
    }
    // A stop that came in between found no request to answer.
    if (stopped())
        set_secure_res(false);
}

bool KV_CommBase::secure_res(bool wait)
{
    if (wait)
        ev_secure.wait(KV_WAIT_INFINITE);
    std::lock_guard<KV_Lock> guard(lock_secure);
    return secure_result;
}

bool KV_CommBase::take_secure_req()
{
    std::lock_guard<KV_Lock> guard(lock_secure);
    secure_result = false;
    return secure_pending;
}

void KV_CommBase::set_secure_res(bool r)
{
    std::lock_guard<KV_Lock> guard(lock_secure);
    // Only a pending request takes an answer. The session's end and a stop
    // answer with false too, but a handshake that succeeded before them
    // stays a success: the owner may look only after a peer that hung up at
    // once has ended the session.
    if (secure_pending) {
        secure_result = r;
        secure_pending = false;
        secure_pending_flag.store(false);
    }
    ev_secure.set();
}

bool KV_CommBase::close_sessions()
{
    stop(KV_STOP_TERMINATE);
    std::lock_guard<KV_Lock> guard(lock_sess);
    bool ok = true;
    while (ok && !sessions.empty()) {
        KV_Session* s = sessions.at(0);
        s->wait_term();
        ok = sessions.remove_at(0);
        if (ok)
            delete s;
    }
    return ok;
}

bool KV_CommBase::case_sens() const
{
    return file_man_ && file_man_->case_sens();
}

KV_Session* KV_CommBase::add_session(KV_Socket& sock, const KV_InetAddr& addr, KV_Proxy* proxy)
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    if (sess_count() != 0)
        return nullptr;
    KV_Session* s = create_session(sock, addr);
    if (!s)
        return nullptr;
    if (!sessions.add(s)) {
        delete s;
        return nullptr;
    }
    stop_reg(s);
    s->set_proxy(proxy);
    {
        // The new connection is not secure until its own handshake says so.
        std::lock_guard<KV_Lock> secure(lock_secure);
        secure_result = false;
    }
    std::lock_guard<KV_Lock> cnt(lock_cnt);
    ev_started.reset();
    if (proxy)
        ev_ready.reset();
    else
        ev_ready.set();
    return s;
}

bool KV_CommBase::reap_session()
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    for (uint32_t i = 0; i < sessions.size(); ++i) {
        KV_Session* s = sessions.at(i);
        if (s->running())
            continue;
        if (!sessions.remove_at(i))
            return false;
        delete s;
        return true;
    }
    return true;
}

void KV_CommBase::sess_state(bool start)
{
    {
        std::lock_guard<KV_Lock> guard(lock_cnt);
        if (start) {
            ++sess_count_;
            ev_started.set();
            return;
        }
        if (sess_count_ > 0)
            --sess_count_;
        ev_ready.set();
    }
    set_secure_res(false);
}

// ---------------------------------------------------------------------------
// KV_Connector

KV_Connector::~KV_Connector()
{
    close_sessions();
}

bool KV_Connector::connect(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy_in)
{
    std::unique_ptr<KV_Proxy> proxy(proxy_in);
    KV_Socket s;
    bool ok = s.create(AF_INET, SOCK_STREAM, 0) && s.set_nonblocking();
    if (ok && informer()) {
        const KV_String text = info_str(KV_COMM_INFO_CONNECTING);
        if (!text.empty())
            log(KV_SESS_LOG_NOTICE,
                KV_String::format_impl("%s ( %s )", text.data(), dst.as_str(KV_IADDR_LONG).data()),
                false);
    }
    set_local_addr(dst);
    if (ok && local.valid())
        ok = s.bind(local);

    // A connection stopped already sends nothing at all.
    if (ok && stopped())
        ok = false;
    bool connected = false;
    if (ok) {
        // A refusal can come back at once (ECONNREFUSED on loopback); the
        // socket is then unconnected and would look writable to the wait.
        if (s.connect(dst))
            connected = true;
        else if (s.last_err() == EINPROGRESS || s.last_err() == EINTR)
            connected = wait_connected(s);
    }
    if (connected && !local.valid())
        s.local_name(local);
    log(KV_SESS_LOG_NOTICE, connected ? "Connected" : "Failed", !connected);

    bool started = false;
    if (connected && !stopped()) {
        reap_session();
        KV_Session* sess = add_session(s, dst, proxy.get());
        if (sess) {
            proxy.release();
            started = sess->start();
            if (!started) {
                // The owner's wait_open must not wait for a loop that never
                // runs.
                std::lock_guard<KV_Lock> guard(lock_cnt);
                ev_started.set();
                ev_ready.set();
            }
        }
    }
    if (!started)
        set_conn_failed();
    return started;
}

bool KV_Connector::wait_connected(KV_Socket& s)
{
    const uint32_t limit = sess_params().tmout_connect();
    KV_TimeInt elapsed;
    for (;;) {
        if (stopped())
            return false;
        uint32_t slice = WAIT_SLICE_MS;
        if (limit != 0) {
            const int64_t left = int64_t(limit) - elapsed.diff();
            if (left <= 0)
                return false;
            if (left < slice)
                slice = static_cast<uint32_t>(left);
        }
        bool rd = false, wr = true, err = true, woken = false;
        if (!s.wait(rd, wr, err, slice, &waker, woken))
            return false;
        if (wr || err)
            return s.pending_error() == 0;
    }
}

// ---------------------------------------------------------------------------
// KV_Listener

KV_Listener::~KV_Listener()
{
    term();
}

bool KV_Listener::alive()
{
    return running();
}

bool KV_Listener::listen(const KV_InetAddr& addr)
{
    if (running()) {
        set_conn_failed();
        return false;
    }
    set_local_addr(addr);
    ev_listening.reset();
    if (!start()) {
        ev_listening.set();
        set_conn_failed();
        return false;
    }
    return true;
}

void KV_Listener::wait_listening()
{
    ev_listening.wait(KV_WAIT_INFINITE);
}

void KV_Listener::term()
{
    stop(KV_STOP_TERMINATE);
    wait_term();
    close_sessions();
}

bool KV_Listener::live_session()
{
    std::lock_guard<KV_Lock> guard(lock_sess);
    for (uint32_t i = 0; i < sessions.size(); ++i) {
        if (sessions.at(i)->running())
            return true;
    }
    return false;
}

bool KV_Listener::run()
{
    bool ok =
        sock.create(AF_INET, SOCK_STREAM, 0) && sock.set_nonblocking() && sock.bind(local_addr());
    if (ok && !local_addr().valid()) {
        // The bound address keeps the text it was asked for, for the log.
        KV_InetAddr bound = local_addr();
        if (sock.local_name(bound))
            set_local_addr(bound);
    }
    if (informer()) {
        const KV_String text = info_str(KV_COMM_INFO_LISTENING);
        if (!text.empty())
            log(KV_SESS_LOG_NOTICE,
                KV_String::format_impl("%s ( %s )", text.data(),
                                       local_addr().as_str(KV_IADDR_LONG).data()),
                false);
    }
    ok = ok && sock.listen();
    if (!ok)
        set_conn_failed();
    ev_listening.set();

    bool loop_ok = ok;
    while (loop_ok && !stopped()) {
        bool rd = true, wr = false, err = false, woken = false;
        if (!sock.wait(rd, wr, err, WAIT_SLICE_MS, &waker, woken)) {
            loop_ok = false;
            break;
        }
        if (!rd) {
            if (KV_Thread::zombies())
                loop_ok = reap_session();
            continue;
        }
        KV_Socket in;
        KV_InetAddr peer;
        sock.accept(in, peer);
        if (stopped() || !in.valid())
            continue;
        const KV_String from = peer.as_str(KV_IADDR_ADDR_PORT);
        // A data port is open to the whole network while it waits: take the
        // connection only from the peer the owner expects, and never let a
        // second connection end the listener while its session runs.
        if ((peer_.as_num() != 0 && !peer.same_host(peer_)) || live_session()) {
            log(KV_SESS_LOG_NOTICE,
                KV_String::format_impl("%s: %s", "Connection refused from", from.data()), true);
            continue;
        }
        KV_Session* sess = add_session(in, peer, nullptr);
        if (!sess || !sess->start()) {
            loop_ok = false;
            break;
        }
        log(KV_SESS_LOG_NOTICE,
            KV_String::format_impl("%s: %s", "Connection accepted from", from.data()), false);
    }
    if (ok && !loop_ok)
        set_conn_failed();
    log(KV_SESS_LOG_NOTICE, loop_ok ? "Closing listener" : "Listener error", !loop_ok);
    return sock.close() && loop_ok;
}
