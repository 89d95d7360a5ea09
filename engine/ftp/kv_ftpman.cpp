#include "ftp/kv_ftpman.h"

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_informer.h"
#include "ftp/kv_filemanftp.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpctrlsess.h"
#include "ftp/kv_ftpdata.h"
#include "ftp/kv_ftpserver.h"
#include "net/kv_proxy.h"
#include "net/kv_sslsess.h"
#include "requests/kv_fileman.h"

namespace {

// The host part of "host" or "host:port".
KV_String host_of(const KV_String& text)
{
    uint32_t colon = 0;
    return text.contains(':', 0, &colon) ? text.part(0, colon).trim() : text.trim();
}

} // namespace

KV_FtpMan::KV_FtpMan() = default;

void KV_FtpMan::set_opts(const KV_FtpManOpts& opts)
{
    std::lock_guard<KV_Lock> g(lock_opts);
    opts_ = opts;
}

uint16_t KV_FtpMan::keep_alive_int() const
{
    std::lock_guard<KV_Lock> g(lock_opts);
    return opts_.keep_alive_int();
}

KV_FtpMan::~KV_FtpMan()
{
    stop(KV_STOP_TERMINATE);
    close_sessions();
    close_data_conn();
    delete serv;
}

void KV_FtpMan::set_ldata(const KV_FtpLoginData& ldata)
{
    if (!(ldata == ldata_))
        settings_changed = true;
    ldata_ = ldata;
}

void KV_FtpMan::set_ctrl_addrs(const KV_String& local, const KV_String& dest,
                               const KV_ProxyOptsFtp& proxy)
{
    if (local != local_text || dest != dst_text || proxy.type() != proxy_.type() ||
        proxy.addr() != proxy_.addr() || proxy.port() != proxy_.port() ||
        !(proxy.ldata() == proxy_.ldata()))
        settings_changed = true;
    local_text = local;
    dst_text = dest;
    proxy_ = proxy;
}

void KV_FtpMan::set_secure(KV_FTP_SECURE secure)
{
    if (secure != secure_)
        settings_changed = true;
    secure_ = secure;
}

bool KV_FtpMan::exec(KV_ErrHandler& eh, KV_FtpAct& act, KV_Stoppable* stopper)
{
    stop_reset();
    if (stopper)
        stopper->stop_reg(this);
    eh_ = &eh;
    trans_fast_end_ = false;
    trans_direct_ = false;
    bool ran = false;
    bool ok = false;
    if (!stopped()) {
        {
            std::lock_guard<KV_Lock> g(lock_err);
            err_msg_.clear();
        }
        ok = check_ctrl_conn(&act);
        if (ok && connected() && !(act.needs_login() && login_stat() != KV_FTP_LOGIN_OK)) {
            if (login_stat() == KV_FTP_LOGIN_OK && !serv) {
                KV_FTP_SERV_TYPE type = serv_type_;
                if (type == KV_FTP_SERV_UNKNOWN) {
                    KV_FtpActSyst syst(type);
                    const bool r = exec_impl(&syst);
                    act.set_executed(r && syst.executed() && live());
                }
                if (ok && act.executed())
                    ok = create_serv(type);
            }
            if (ok && act.executed()) {
                act.exec_init();
                ok = exec_impl(&act);
                ran = true;
            }
        }
    }
    act.set_executed(ok && ran && !stopped());
    const KV_String msg = err_msg();
    if (!(stopper && stopper->stopped()) && !act.executed() && !msg.empty())
        eh.set_err(1, "FTP: %s", msg.data());
    eh_ = nullptr;
    if (stopper)
        stopper->stop_unreg(this);
    return ok;
}

bool KV_FtpMan::exec_impl(KV_FtpAct* act)
{
    if (!act)
        return false;
    {
        std::lock_guard<KV_Lock> g(lock_resp);
        resp_state = 0;
    }
    return act->exec(this);
}

bool KV_FtpMan::sub_ok(KV_FtpAct& act, bool& ok)
{
    ok = exec_impl(&act);
    return ok && act.executed();
}

bool KV_FtpMan::proxy_login(bool& ok)
{
    bool go = true;
    if (ok && live() && !proxy_.ldata().empty()) {
        KV_FtpActLogin login(proxy_.ldata(), true);
        go = sub_ok(login, ok) && login_stat() == KV_FTP_LOGIN_OK;
    }
    set_login_stat(KV_FTP_LOGIN_WAIT);
    if (ok && go && live()) {
        KV_FtpActProxyConn pc;
        go = sub_ok(pc, ok);
    }
    return go && live();
}

bool KV_FtpMan::secure_conn(KV_InetAddr& local, const KV_InetAddr& dest, bool via_proxy, bool& ok)
{
    bool go = true;
    // Through a tunnel (HTTP CONNECT, SOCKS) the server's welcome comes as
    // on a direct connection. Unawaited, it would be taken for the answer
    // to USER, and every later reply for the command before its own.
    const bool tunnel = via_proxy && proxy_.type() <= KV_PROXY_FTP_SOCKS5;
    switch (secure_) {
    case KV_FTP_SECURE_IMPLICIT: {
        req_secure();
        if (!via_proxy)
            ok = open(local, dest, nullptr);
        if (ok && (!via_proxy || tunnel))
            wait_welcome();
        if (!(connected() && secure_res(true)))
            return false;
        if (!(ok && live()))
            return go;
        // Data connections always run TLS when this one does, and servers
        // such as vsftpd protect them only after PROT P, implicit or not. A
        // server that refuses either command keeps its own default: the
        // connection goes on.
        KV_FtpActPbSz pbsz;
        bool asked = true;
        sub_ok(pbsz, asked);
        if (asked && live()) {
            KV_FtpActProt prot;
            sub_ok(prot, asked);
        }
        return connected();
    }
    case KV_FTP_SECURE_EXPLICIT: {
        if (!via_proxy)
            ok = open(local, dest, nullptr);
        if (ok && (!via_proxy || tunnel))
            wait_welcome();
        if (!(ok && live()))
            return false;
        KV_FtpActAuth auth;
        go = sub_ok(auth, ok);
        if (!(ok && go && live()))
            return false;
        req_secure();
        go = connected() && secure_res(true);
        if (!(ok && go && live()))
            return false;
        KV_FtpActPbSz pbsz;
        go = sub_ok(pbsz, ok);
        if (!(ok && go && live()))
            return false;
        KV_FtpActProt prot;
        return sub_ok(prot, ok);
    }
    default:
        if (!via_proxy)
            ok = open(local, dest, nullptr);
        if (ok && (!via_proxy || tunnel))
            wait_welcome();
        return go;
    }
}

bool KV_FtpMan::check_ctrl_conn(KV_FtpAct* act)
{
    bool ok = true;
    new_conn_ = true;
    if (connected() && settings_changed) {
        // The open connection was made with other settings: a switch to FTPS
        // must not go on in plain text, nor a new login on the old server.
        close();
        stop_reset();
    }
    if (stopped()) {
        // nothing
    } else if (connected()) {
        if (login_stat() != KV_FTP_LOGIN_OK)
            set_login_stat(KV_FTP_LOGIN_WAIT);
        else
            new_conn_ = false;
    } else {
        settings_changed = false;
        passive_ = false;
        KV_InetAddr local;
        if (!local_text.empty())
            local.set_addr(local_text);
        KV_InetAddr dest(dst_text, KV_Port(0));
        bool go = true;
        const bool via_proxy = proxy_.type() != KV_PROXY_FTP_NONE;
        set_login_stat(KV_FTP_LOGIN_WAIT);
        ev_welcome.reset();
        if (via_proxy) {
            KV_InetAddr paddr(proxy_.addr(), KV_Port(proxy_.port()));
            const KV_FtpLoginData& pl = proxy_.ldata();
            if (proxy_.type() <= KV_PROXY_FTP_SOCKS5) {
                KV_String target = dst_text;
                if (!target.contains(':'))
                    target += secure_ == KV_FTP_SECURE_IMPLICIT ? ":990" : ":21";
                KV_Proxy* p = nullptr;
                if (proxy_.type() == KV_PROXY_FTP_CONNECT)
                    p = new (std::nothrow) KV_ProxyHttp(this, target, pl);
                else if (proxy_.type() == KV_PROXY_FTP_SOCKS4)
                    p = new (std::nothrow) KV_ProxySocks4(this, target, pl, false);
                else
                    p = new (std::nothrow) KV_ProxySocks5(this, target, pl, false);
                ok = p && open(local, paddr, p);
            } else {
                ok = open(local, paddr, nullptr);
                if (ok)
                    wait_welcome();
                go = proxy_login(ok);
            }
        }
        // A tunnel's welcome may be in already: it must not be lost.
        if (!via_proxy || proxy_.type() > KV_PROXY_FTP_SOCKS5)
            ev_welcome.reset();
        if (ok && go && !stopped())
            go = secure_conn(local, dest, via_proxy, ok);
        if (!(ok && go))
            close();
    }
    if (ok && connected() && !stopped()) {
        if (act && !act->needs_login())
            return ok;
        if (login_stat() != KV_FTP_LOGIN_OK) {
            KV_FtpActLogin login(ldata_, false);
            ok = exec_impl(&login);
        }
    }
    return ok;
}

bool KV_FtpMan::open(KV_InetAddr& local, const KV_InetAddr& dest, KV_Proxy* proxy)
{
    KV_InetAddr to(dest);
    if (to.port() == 0)
        to.set_port(secure_ == KV_FTP_SECURE_IMPLICIT ? 990 : 21);
    bool ok = KV_TelnetMan::open(local, to, proxy);
    if (ok) {
        wait_open();
        ok = connected();
    }
    if (ok) {
        local_ctrl = local;
        local_ctrl.set_port(0);
    } else {
        set_err_msg("Couldn't open the control connection.");
    }
    return ok;
}

void KV_FtpMan::wait_welcome()
{
    if (opts_.tmout_welcome() != 0 && live()) {
        set_login_stat(KV_FTP_LOGIN_WAIT);
        ev_welcome.wait(opts_.tmout_welcome());
    }
}

bool KV_FtpMan::cmd(const char* text, bool& ok, bool& timed_out, const char* log_text)
{
    ev_cmd_resp.reset();
    ok = live();
    timed_out = false;
    if (ok) {
        ok = KV_TelnetMan::cmd(text, log_text);
        if (ok && connected())
            timed_out = wait_cmd_resp();
        ok = ok && !timed_out && connected() && response(false);
        if (timed_out)
            close();
    }
    return true;
}

void KV_FtpMan::close()
{
    close_sessions();
    close_data_conn();
}

bool KV_FtpMan::create_serv(KV_FTP_SERV_TYPE type)
{
    if (serv)
        return true;
    switch (type) {
    case KV_FTP_SERV_NETWARE:
        serv = new (std::nothrow) KV_FtpServerNetware;
        break;
    case KV_FTP_SERV_VM:
        serv = new (std::nothrow) KV_FtpServerVM;
        break;
    case KV_FTP_SERV_VMS: {
        KV_FtpActPwd pwd;
        if (!exec_impl(&pwd) || !pwd.executed() || !file_man())
            break;
        serv = new (std::nothrow) KV_FtpServerVMS(file_man()->man_path());
        if (serv) {
            KV_String d = cur_dir;
            if (serv->dir_from_serv(d))
                set_curr_dir(d);
        }
        break;
    }
    case KV_FTP_SERV_WINNT:
        serv = new (std::nothrow) KV_FtpServerWinNT;
        break;
    default:
        serv = new (std::nothrow) KV_FtpServer;
        break;
    }
    return serv != nullptr;
}

KV_FTP_LOGIN KV_FtpMan::login_stat() const
{
    std::lock_guard<KV_Lock> g(lock_login);
    return login_stat_;
}

KV_FTP_SECURE KV_FtpMan::security() const
{
    return ssl_ctx() ? secure_ : KV_FTP_SECURE_NONE;
}

KV_PROXY_FTP KV_FtpMan::proxy_type(bool* pasv) const
{
    if (pasv)
        *pasv = proxy_.pasv();
    return proxy_.type();
}

bool KV_FtpMan::response(bool none_ok) const
{
    std::lock_guard<KV_Lock> g(lock_resp);
    return resp_state == 1 || (none_ok && resp_state == 0);
}

KV_String KV_FtpMan::last_resp() const
{
    std::lock_guard<KV_Lock> g(lock_resp);
    return last_resp_;
}

KV_String KV_FtpMan::err_msg() const
{
    std::lock_guard<KV_Lock> g(lock_err);
    return err_msg_;
}

void KV_FtpMan::set_err_msg(const KV_String& text)
{
    std::lock_guard<KV_Lock> g(lock_err);
    if (err_msg_.empty())
        err_msg_ = text;
}

int64_t KV_FtpMan::idle_ms() const
{
    std::lock_guard<KV_Lock> g(lock_act);
    return last_act_.diff();
}

void KV_FtpMan::reset_last_act()
{
    std::lock_guard<KV_Lock> g(lock_act);
    last_act_.reset();
}

KV_String KV_FtpMan::curr_dir() const
{
    KV_String d;
    {
        std::lock_guard<KV_Lock> g(lock_resp);
        d = cur_dir;
    }
    // A VMS server's directory becomes a slash path; a text the dialect
    // cannot convert is given as the server wrote it.
    KV_String conv(d);
    if (serv && serv->dir_from_serv(conv))
        return conv;
    return d;
}

KV_InetAddr KV_FtpMan::data_addr() const
{
    std::lock_guard<KV_Lock> g(lock_resp);
    return passive_ ? pasv_addr : local_ctrl;
}

bool KV_FtpMan::impl_rest() const
{
    const KV_FileMan* fm = file_man();
    return fm != nullptr && fm->type() == KV_FILE_MAN_TYPE_FTP &&
           static_cast<const KV_FileManFtp*>(fm)->impl_rest();
}

void KV_FtpMan::set_response(const KV_String& text, bool ok, bool final)
{
    std::lock_guard<KV_Lock> g(lock_resp);
    last_resp_ = text;
    if (!final && resp_state != 2)
        resp_state = ok ? 1 : 2;
    ev_cmd_resp.set();
    if (!final && resp_state != 2)
        return;
    ev_welcome.set();
    ev_new_dir.set();
    ev_trans_beg.set();
    ev_trans_end.set();
    ev_trans_ack.set();
}

void KV_FtpMan::set_trans_cmd_done(bool done)
{
    trans_cmd_done_.store(done);
    if (KV_CommBase* d = data_conn(); d && done)
        d->wake_sessions();
}

void KV_FtpMan::set_trans_stat(KV_FTP_TRANS_STAT s)
{
    trans_stat_ = s;
    switch (s) {
    case KV_FTP_TRANS_STARTED:
        ev_trans_beg.set();
        break;
    case KV_FTP_TRANS_ENDED:
        ev_trans_end.set();
        break;
    case KV_FTP_TRANS_ACKED:
        ev_trans_ack.set();
        break;
    default:
        ev_trans_beg.reset();
        ev_trans_end.reset();
        ev_trans_ack.reset();
        break;
    }
}

void KV_FtpMan::set_login_stat(KV_FTP_LOGIN v)
{
    std::lock_guard<KV_Lock> g(lock_login);
    login_stat_ = v;
    const bool c = connected();
    KV_LOGIN_STATUS st;
    if (v == KV_FTP_LOGIN_OK)
        st = c ? KV_LOGIN_STATUS_LOGGED_IN : KV_LOGIN_STATUS_NONE;
    else if (v == KV_FTP_LOGIN_REFUSED)
        st = KV_LOGIN_STATUS_REFUSED;
    else
        st = c ? KV_LOGIN_STATUS_CONNECTED : KV_LOGIN_STATUS_NONE;
    if (st != notified && informer()) {
        informer()->send(new (std::nothrow) KV_MsgLoginStatNtf(tavo_id(), st));
        notified = st;
    }
    ev_login.set();
}

bool KV_FtpMan::wait_login_stat(KV_FTP_LOGIN v)
{
    {
        std::lock_guard<KV_Lock> g(lock_login);
        if (!stopped() && login_stat_ == v)
            ev_login.reset();
        else
            ev_login.set();
    }
    // A server whose reply moves the login nowhere must not hold the worker
    // for ever: the wait ends with the command time-out.
    bool timed_out = false;
    if (!stopped())
        timed_out = ev_login.wait(opts_.tmout_cmd_resp());
    return timed_out || stopped();
}

void KV_FtpMan::set_curr_dir(const KV_String& dir)
{
    {
        std::lock_guard<KV_Lock> g(lock_resp);
        cur_dir = dir;
    }
    ev_new_dir.set();
}

void KV_FtpMan::set_trans_params(bool fast_end, bool direct)
{
    trans_fast_end_ = fast_end;
    trans_direct_ = direct;
}

void KV_FtpMan::set_passive(const KV_InetAddr& addr)
{
    std::lock_guard<KV_Lock> g(lock_resp);
    pasv_addr = addr;
    passive_ = true;
}

bool KV_FtpMan::create_data_conn(KV_COMM_TYPE kind)
{
    if (data_conn())
        return true;
    KV_CommBase* c = nullptr;
    if (kind == KV_COMM_CONNECTOR) {
        c = new (std::nothrow) KV_FtpDataConnector(this, false);
    } else if (kind == KV_COMM_LISTENER) {
        // Through SOCKS the proxy listens for the server (BIND); an HTTP
        // proxy cannot, so the client listens itself.
        const KV_PROXY_FTP p = proxy_type();
        if (p == KV_PROXY_FTP_SOCKS4 || p == KV_PROXY_FTP_SOCKS5)
            c = new (std::nothrow) KV_FtpDataConnector(this, true);
        else
            c = new (std::nothrow) KV_FtpDataListener(this);
    }
    if (!c)
        return false;
    c->set_tavo_id(tavo_id());
    c->set_informer(informer());
    c->set_file_man(file_man(), ssl_ctx());
    c->set_stop_type(KV_STOP_CANCEL);
    // Published before the connection opens: its session finds it here.
    data_conn_ = c;
    stop_reg(c);
    return true;
}

bool KV_FtpMan::open_data_conn(bool& opened)
{
    opened = false;
    KV_CommBase* c = data_conn();
    if (!c)
        return false;
    if (secure_data_conn())
        c->req_secure();
    note_data_act();
    const KV_PROXY_FTP pt = proxy_type();
    const bool transport =
        pt == KV_PROXY_FTP_CONNECT || pt == KV_PROXY_FTP_SOCKS4 || pt == KV_PROXY_FTP_SOCKS5;
    if (c->comm_type() == KV_COMM_CONNECTOR) {
        auto* dc = static_cast<KV_FtpDataConnector*>(c);
        KV_InetAddr local = local_ctrl;
        KV_InetAddr dest;
        KV_Proxy* proxy = nullptr;
        const KV_InetAddr pasv = data_addr();
        if (transport) {
            dest = KV_InetAddr(proxy_.addr(), KV_Port(proxy_.port()));
            KV_String target;
            if (dc->bind()) {
                // The BIND request names the server that will connect.
                target = dst_text;
                if (!target.contains(':'))
                    target += KV_String::format_impl(
                        ":%u", secure_ == KV_FTP_SECURE_IMPLICIT ? 990u : 21u);
            } else {
                // Only the port of the passive reply is taken: the data goes
                // to the host the control connection named.
                target = KV_String::format_impl("%s:%u", host_of(dst_text).data(),
                                                static_cast<unsigned>(pasv.port()));
            }
            const KV_FtpLoginData& pl = proxy_.ldata();
            if (pt == KV_PROXY_FTP_CONNECT)
                proxy = new (std::nothrow) KV_ProxyHttp(c, target, pl);
            else if (pt == KV_PROXY_FTP_SOCKS4)
                proxy = new (std::nothrow) KV_ProxySocks4(c, target, pl, dc->bind());
            else
                proxy = new (std::nothrow) KV_ProxySocks5(c, target, pl, dc->bind());
            if (!proxy)
                return true;
        } else {
            // The passive reply's address is not followed: a server (or
            // whatever forged its reply) could send the data connection to
            // any host, and a server behind NAT often names its private
            // address. The control connection's peer gets the connection.
            dest = local_addr();
            dest.set_port(pasv.port());
        }
        opened = dest.valid() && dc->connect(local, dest, proxy);
        if (opened && dc->bind()) {
            dc->wait_open();
            opened = !dc->conn_failed() && dc->connected();
        }
        return true;
    }
    if (c->comm_type() == KV_COMM_LISTENER) {
        auto* l = static_cast<KV_FtpDataListener*>(c);
        // Only the server may connect; behind a proxy its address is not
        // known here.
        if (pt == KV_PROXY_FTP_NONE)
            l->set_peer(local_addr());
        opened = l->listen(data_addr());
        if (opened) {
            l->wait_listening();
            opened = !l->conn_failed();
        }
        return true;
    }
    return false;
}

bool KV_FtpMan::check_data_conn(KV_COMM_TYPE kind, KV_FtpActTrans* act, bool& opened)
{
    opened = false;
    close_data_conn();
    act_trans_ = act;
    if (!create_data_conn(kind))
        return false;
    data_conn()->reset_conn_failed();
    return open_data_conn(opened);
}

bool KV_FtpMan::post_check_data_conn()
{
    KV_CommBase* c = data_conn();
    if (!c)
        return false;
    if (!secure_data_conn())
        return true;
    return c->secure_res(true);
}

void KV_FtpMan::close_data_conn()
{
    delete data_conn_.exchange(nullptr);
    act_trans_ = nullptr;
}

bool KV_FtpMan::secure_data_conn()
{
    return secure_res(false);
}

void KV_FtpMan::note_data_act()
{
    data_act_ms.store(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count(),
                      std::memory_order_relaxed);
}

bool KV_FtpMan::wait_trans_beg()
{
    return stopped() || ev_trans_beg.wait(opts_.tmout_trans_beg()) || stopped();
}

bool KV_FtpMan::wait_trans_end()
{
    // A transfer may take hours, so the limit is on silence, not on the
    // whole: the wait ends when no byte moved on the data connection for
    // the transfer-end time-out.
    const int64_t limit = opts_.tmout_trans_ack();
    constexpr uint32_t slice = 200;
    note_data_act();
    for (;;) {
        if (stopped())
            return true;
        if (!ev_trans_end.wait(slice))
            return stopped();
        if (limit > 0 && data_conn()) {
            const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
            if (now - data_act_ms.load(std::memory_order_relaxed) > limit)
                return true;
        }
    }
}

void KV_FtpMan::drain_data_conn()
{
    // Without a time-out of its own the drain still ends: a server gone
    // silent must not hold the worker.
    const int64_t limit = opts_.tmout_trans_ack() > 0 ? opts_.tmout_trans_ack() : 10000;
    constexpr uint32_t slice = 20;
    // The silence counts from here: the data session may not have run since
    // it opened (the drop can come before its first byte was taken).
    note_data_act();
    while (!stopped()) {
        // Alive rather than connected: the session of a connection opened
        // just before the drop may not have started its loop yet, and it
        // still takes what the server sent.
        KV_CommBase* c = data_conn();
        if (!c || !c->sess_alive())
            return;
        const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        if (now - data_act_ms.load(std::memory_order_relaxed) > limit)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    }
}

bool KV_FtpMan::wait_trans_ack()
{
    return stopped() || ev_trans_ack.wait(opts_.tmout_trans_ack()) || stopped();
}

bool KV_FtpMan::wait_cmd_resp()
{
    return stopped() || ev_cmd_resp.wait(opts_.tmout_cmd_resp()) || stopped();
}

bool KV_FtpMan::wait_new_dir()
{
    return stopped() || ev_new_dir.wait(opts_.tmout_cmd_resp()) || stopped();
}

KV_Session* KV_FtpMan::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_FtpCtrlSess(this, sock, addr, this);
}

KV_String KV_FtpMan::info_str(KV_COMM_INFO info) const
{
    switch (info) {
    case KV_COMM_INFO_CONNECTING:
        return "Opening control connection";
    case KV_COMM_INFO_CLOSED:
        return "Control connection closed";
    default:
        return KV_TelnetMan::info_str(info);
    }
}

uint8_t KV_FtpMan::ssl_check(KV_String& s1, KV_String&) const
{
    s1 = host_of(dst_text);
    return static_cast<uint8_t>((trexpl() ? KV_SSL_CHECK_REG_ONLY : 0) | KV_SSL_CHECK_HOST);
}

void KV_FtpMan::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_TelnetMan::stop_done(type, threshold);
    ev_welcome.set();
    ev_new_dir.set();
    ev_cmd_resp.set();
    ev_trans_beg.set();
    ev_trans_end.set();
    ev_trans_ack.set();
    ev_login.set();
}
