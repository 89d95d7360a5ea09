#include "ssh/kv_sshman.h"

#include <chrono>
#include <mutex>
#include <new>

#include "foundation/kv_errhandler.h"

#include "net/kv_proxy.h"
#include "ssh/kv_sshact.h"
#include "ssh/kv_sshsess.h"

KV_SshMan::KV_SshMan() = default;

KV_SshMan::~KV_SshMan()
{
    stop(KV_STOP_TERMINATE);
    close_sessions();
}

void KV_SshMan::set_addrs(const KV_String& src, const KV_String& dst, const KV_ProxyOptsSsh& proxy)
{
    src_text = src;
    dst_text = dst;
    proxy_ = proxy;
}

bool KV_SshMan::exec(KV_ErrHandler& eh, KV_SshAct& act, KV_Stoppable* const stop)
{
    stop_reset();
    if (stop)
        stop->stop_reg(this);
    eh_ = &eh;
    conn_failed_ = false;
    bool ok = true;
    bool ran = false;
    if (!stopped()) {
        {
            std::lock_guard<KV_Lock> g(lock_err);
            err_msg_.clear();
        }
        check_conn();
        if (!connected()) {
            conn_failed_ = true;
        } else {
            if (!initialized) {
                std::unique_ptr<KV_SshAct> first(init_act());
                if (!first) {
                    initialized = true;
                } else {
                    ok = exec_impl(first.get());
                    initialized = ok;
                    act.set_executed(ok && first->executed() && connected() && !stopped());
                }
            }
            if (ok && act.executed()) {
                ok = exec_impl(&act);
                ran = true;
            }
        }
    }
    act.set_executed(ok && ran);
    const KV_String msg = err_msg();
    if (!(stop && stop->stopped()) && !act.executed() && !msg.empty())
        eh.set_err(1, prot_err(), msg.data());
    eh_ = nullptr;
    if (stop)
        stop->stop_unreg(this);
    return ok;
}

bool KV_SshMan::exec_impl(KV_SshAct* const act)
{
    conn_failed_ = false;
    return act ? act->exec(this) : false;
}

bool KV_SshMan::check_conn()
{
    if (connected() || stopped())
        return true;
    initialized = false;
    KV_InetAddr local(src_text, KV_Port(0));
    KV_InetAddr remote(dst_text, KV_Port(0));
    KV_Proxy* proxy = nullptr;
    const KV_PROXY_SSH kind = proxy_.type();
    if (kind != KV_PROXY_SSH_NONE)
        remote = KV_InetAddr(proxy_.addr(), KV_Port(proxy_.port()));
    if (kind == KV_PROXY_SSH_CONNECT || kind == KV_PROXY_SSH_SOCKS4 ||
        kind == KV_PROXY_SSH_SOCKS5) {
        KV_String target = dst_text;
        if (KV_InetAddr(dst_text, KV_Port(0)).port() == 0)
            target += ":22";
        if (kind == KV_PROXY_SSH_CONNECT)
            proxy = new (std::nothrow) KV_ProxyHttp(this, target, proxy_.ldata());
        else if (kind == KV_PROXY_SSH_SOCKS4)
            proxy = new (std::nothrow) KV_ProxySocks4(this, target, proxy_.ldata(), false);
        else
            proxy = new (std::nothrow) KV_ProxySocks5(this, target, proxy_.ldata(), false);
    }
    const bool ok = open(local, remote, proxy);
    if (!ok || !connected())
        close();
    return ok;
}

void KV_SshMan::close()
{
    close_sessions();
}

KV_String KV_SshMan::err_msg() const
{
    std::lock_guard<KV_Lock> g(lock_err);
    return err_msg_;
}

void KV_SshMan::set_err_msg(const KV_String& text)
{
    std::lock_guard<KV_Lock> g(lock_err);
    if (err_msg_.empty())
        err_msg_ = text;
}

KV_Session* KV_SshMan::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_SshSess(sock, addr, this);
}

uint32_t KV_SshMan::tmout_open() const
{
    return opts().tmout_connect();
}

bool KV_SshMan::open(const KV_InetAddr& src, const KV_InetAddr& dst, KV_Proxy* const proxy)
{
    KV_InetAddr local(src);
    KV_InetAddr remote(dst);
    if (remote.port() == 0)
        remote.set_port(KV_Port(default_port));
    chans_open_.store(false);
    asking_.store(false);
    sess_started_.store(false);
    ev_chans.reset();
    if (!connect(local, remote, proxy)) {
        set_err_msg("Connection attempt failed.");
        return true;
    }
    wait_open();
    // A proxy that refuses the target ends the session before the SSH
    // session ever ran.
    if (!connected() && !sess_started_.load() && !stopped())
        set_err_msg("Connection attempt failed.");
    if (connected() && !wait_chans()) {
        if (!stopped() && connected())
            set_err_msg("Timed out waiting for the server.");
        close();
    }
    return true;
}

void KV_SshMan::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Connector::stop_done(type, threshold);
    ev_chans.set();
}

void KV_SshMan::chans_open(bool open)
{
    chans_open_.store(open);
    ev_chans.set();
}

bool KV_SshMan::wait_chans()
{
    using clock = std::chrono::steady_clock;
    const uint32_t limit = tmout_open();
    auto deadline = clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        if (chans_open_.load())
            return true;
        if (stopped() || !connected())
            return false;
        // The user's time to answer the host-key question is not the
        // server's silence.
        if (asking_.load())
            deadline = clock::now() + std::chrono::milliseconds(limit);
        if (limit != 0 && clock::now() >= deadline)
            return false;
        ev_chans.wait(20);
    }
}
