#include "ftp/kv_ftpact.h"

#include <mutex>

#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"

namespace {

// A control connection that ended while a transfer waited on it, without a
// stop of ours: the server went away (its process ended, the network
// broke), which is what the person is to read, not the silence that
// followed. An earlier, more precise error stays. The ending session wakes
// the waiter before it leaves the connection's count, but only after it has
// put the login back to waiting, which no transfer under way sees otherwise.
void note_lost(KV_FtpMan& m)
{
    if ((!m.connected() || m.login_stat() == KV_FTP_LOGIN_WAIT) && !m.stopped())
        m.set_err_msg("The connection to the server was lost.");
}

} // namespace

KV_FtpAct::KV_FtpAct(const KV_FtpAct& other)
    : KV_SafeObj(other), ftp_(other.ftp_), executed_(other.executed()),
      timed_out_(other.timed_out()), force_executed(other.force_executed)
{
}

KV_FtpAct& KV_FtpAct::operator=(const KV_FtpAct& other)
{
    if (this != &other) {
        const bool e = other.executed();
        const bool t = other.timed_out();
        ftp_ = other.ftp_;
        force_executed = other.force_executed;
        {
            std::lock_guard<KV_Lock> g(lock_exec);
            executed_ = e;
        }
        std::lock_guard<KV_Lock> g(lock_tmo);
        timed_out_ = t;
    }
    return *this;
}

bool KV_FtpAct::exec(KV_FtpMan* man)
{
    ftp_ = man;
    {
        std::lock_guard<KV_Lock> g(lock_exec);
        executed_ = true;
    }
    {
        std::lock_guard<KV_Lock> g(lock_tmo);
        timed_out_ = false;
    }
    force_executed = false;
    bool result = true;
    set_executed(man->connected());
    if (executed() && needs_login())
        set_executed(man->login_stat() == KV_FTP_LOGIN_OK);
    if (executed())
        result = run();
    if (force_executed) {
        std::lock_guard<KV_Lock> g(lock_exec);
        executed_ = true;
    } else {
        set_executed(result && man->response(false));
    }
    return result;
}

bool KV_FtpAct::exec(KV_FtpAct* parent)
{
    return parent && parent->ftp_ && exec(parent->ftp_);
}

void KV_FtpAct::set_executed(bool v)
{
    std::lock_guard<KV_Lock> g(lock_exec);
    executed_ = executed_ && v;
}

void KV_FtpAct::set_timed_out(bool v)
{
    std::lock_guard<KV_Lock> g(lock_tmo);
    timed_out_ = timed_out_ || v;
}

bool KV_FtpAct::executed() const
{
    std::lock_guard<KV_Lock> g(lock_exec);
    return executed_;
}

bool KV_FtpAct::timed_out() const
{
    std::lock_guard<KV_Lock> g(lock_tmo);
    return timed_out_;
}

bool KV_FtpAct::arg_ok(const KV_String& s)
{
    for (uint32_t i = 0; i < s.length(); ++i) {
        const char c = s.data(i);
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

bool KV_FtpAct::check_arg(const KV_String& arg)
{
    if (arg_ok(arg))
        return true;
    set_executed(false);
    ftp_->set_err_msg(bad_arg_msg);
    return false;
}

bool KV_FtpAct::cmd(const char* text, const char* log_text)
{
    bool ok = true, tmo = false;
    const bool r = ftp_->cmd(text, ok, tmo, log_text);
    set_timed_out(tmo);
    set_executed(ok && !timed_out());
    return r;
}

bool KV_FtpAct::cmd(const KV_String& text, const char* log_text)
{
    if (!check_arg(text))
        return false;
    return cmd(text.data(), log_text);
}

bool KV_FtpAct::cmd_arg(const char* verb, const KV_String& arg, const char* log_text)
{
    if (!check_arg(arg))
        return false;
    return cmd(KV_String::format_impl("%s %s", verb, arg.data()), log_text);
}

bool KV_FtpAct::cmd_required(const char* verb, const KV_String& arg, const char* empty_msg,
                             const char* log_text)
{
    if (arg.empty()) {
        set_executed(false);
        ftp_->set_err_msg(empty_msg);
        return true;
    }
    return cmd_arg(verb, arg, log_text);
}

bool KV_FtpActTrans::run()
{
    switch (retry_mode) {
    case 0:
        break;
    case 1:
        return run(KV_FTP_CONN_PASSIVE);
    case 2:
        return run(KV_FTP_CONN_ACTIVE);
    default:
        return true;
    }
    bool pasv = false;
    KV_FTP_CONN_MODE conf = ftp().opts().conn_mode();
    if (ftp().proxy_type(&pasv) != KV_PROXY_FTP_NONE && pasv)
        conf = KV_FTP_CONN_PASSIVE;
    const KV_FTP_CONN_MODE mode = conf == KV_FTP_CONN_AUTO ? ftp().last_conn_mode() : conf;
    bool result = run(mode);
    // One retry in the other mode, and only while no data has moved: a
    // transfer that broke halfway is not repeated from here.
    if (result && !executed() && !ftp().stopped() && retry_mode == 0 && conf == KV_FTP_CONN_AUTO) {
        retry_mode = mode == KV_FTP_CONN_ACTIVE ? 1 : 2;
        result = ftp().exec_impl(this);
    }
    return result;
}

void KV_FtpActTrans::exec_init()
{
    KV_FtpAct::exec_init();
    retry_mode = 0;
}

bool KV_FtpActTrans::process_in(KV_Stream&, bool&)
{
    return true;
}

bool KV_FtpActTrans::process_out(KV_Stream&, bool&, uint32_t, uint8_t*)
{
    return true;
}

bool KV_FtpActTrans::run(KV_FTP_CONN_MODE mode)
{
    KV_FtpMan& m = ftp();
    KV_InetAddr addr;
    const bool direct = dtrans(addr);
    bool ok = m.data_conn() == nullptr;
    if (ok && executed()) {
        m.set_trans_stat(KV_FTP_TRANS_IDLE);
        m.set_trans_cmd_done(false);
        m.set_trans_params(trans_end_fast(), direct);
        if (mode == KV_FTP_CONN_PASSIVE && !m.passive()) {
            KV_FtpActPasv pasv;
            const bool r = pasv.exec(this);
            set_executed(r && pasv.executed());
            set_timed_out(pasv.timed_out());
        }
        bool ready = direct;
        if (ok && executed()) {
            if (m.passive()) {
                if (!direct)
                    ok = m.check_data_conn(KV_COMM_CONNECTOR, this, ready);
                if (ok && ready) {
                    const KV_String c = get_cmd();
                    ok = !c.empty() && cmd(c, nullptr);
                    m.set_trans_cmd_done(ok);
                    if (ok && !direct)
                        ok = wait_trans_beg();
                }
                // A passive address serves one transfer.
                m.set_passive(false);
            } else {
                if (!direct) {
                    ok = m.check_data_conn(KV_COMM_LISTENER, this, ready);
                    if (ok && ready) {
                        ok = m.data_conn() != nullptr;
                        if (ok)
                            addr = m.data_conn()->local_addr();
                    }
                }
                if (ok && ready) {
                    KV_FtpActPort port(addr);
                    const bool r = port.exec(this);
                    set_executed(r && port.executed());
                    set_timed_out(port.timed_out());
                    if (executed()) {
                        const KV_String c = get_cmd();
                        ok = !c.empty() && cmd(c, nullptr);
                        m.set_trans_cmd_done(ok);
                        if (ok && !direct)
                            ok = wait_trans_beg();
                    }
                }
            }
            if (ok && executed() && ready && !direct)
                ready = m.post_check_data_conn();
            set_executed(ready);
        }
        if (ok && executed())
            ok = trans_cmd_sent();
        if (ok && executed()) {
            ok = wait_trans_end() && wait_trans_ack();
        } else {
            m.set_err_msg("Couldn't open the data connection.");
        }
        if (ok && executed() && !direct)
            m.set_last_conn_mode(mode);
    }
    // Bytes the server sent before the control connection dropped are
    // still on their way: written and counted, they are where a resume
    // starts from. The session that ends resets the login state before it
    // wakes this thread and only then stops counting as connected.
    if (!m.connected() || m.login_stat() != KV_FTP_LOGIN_OK)
        m.drain_data_conn();
    m.close_data_conn();
    return ok;
}

bool KV_FtpActTrans::wait_trans_beg()
{
    KV_FtpMan& m = ftp();
    set_timed_out(m.wait_trans_beg());
    note_lost(m);
    set_executed(m.connected() && m.login_stat() == KV_FTP_LOGIN_OK && m.response(false) &&
                 !timed_out());
    if (timed_out())
        m.set_err_msg("Transfer start timed out.");
    return true;
}

bool KV_FtpActTrans::wait_trans_end()
{
    KV_FtpMan& m = ftp();
    set_timed_out(m.wait_trans_end());
    note_lost(m);
    set_executed(m.connected() && m.login_stat() == KV_FTP_LOGIN_OK && m.response(false) &&
                 !timed_out());
    if (timed_out() && !m.stopped())
        m.set_err_msg("Transfer timed out: no data moved.");
    return true;
}

bool KV_FtpActTrans::wait_trans_ack()
{
    KV_FtpMan& m = ftp();
    set_timed_out(m.wait_trans_ack());
    note_lost(m);
    set_executed(m.connected() && m.login_stat() == KV_FTP_LOGIN_OK && m.response(false) &&
                 !timed_out());
    if (timed_out())
        m.set_err_msg("Transfer acknowledgment timed out.");
    return true;
}
