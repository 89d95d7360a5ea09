#include "ssh/kv_sshman.h"

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

bool KV_SshMan::exec(KV_ErrHandler&, KV_SshAct&, KV_Stoppable* const)
{
    return false; // does not connect or run actions yet
}

bool KV_SshMan::exec_impl(KV_SshAct* const act)
{
    conn_failed_ = false;
    return act ? act->exec(this) : false;
}

bool KV_SshMan::check_conn()
{
    return true; // does not connect yet
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

KV_Session* KV_SshMan::create_session(KV_Socket&, const KV_InetAddr&)
{
    return nullptr; // no transport session yet
}

uint32_t KV_SshMan::tmout_open() const
{
    return opts().tmout_connect();
}

bool KV_SshMan::open(const KV_InetAddr&, const KV_InetAddr&, KV_Proxy* const proxy)
{
    delete proxy; // does not connect yet
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
    return false; // does not wait yet
}
