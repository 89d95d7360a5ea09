#include "ftp/kv_ftpact.h"

#include <mutex>

#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"

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
    // Data connections are not opened yet: no transfer runs.
    return false;
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

bool KV_FtpActTrans::run(KV_FTP_CONN_MODE)
{
    // Data connections are not opened yet: the attempt fails.
    return false;
}

bool KV_FtpActTrans::wait_trans_beg()
{
    // The transfer phases are not driven yet: nothing is awaited.
    return true;
}

bool KV_FtpActTrans::wait_trans_end()
{
    // The transfer phases are not driven yet: nothing is awaited.
    return true;
}

bool KV_FtpActTrans::wait_trans_ack()
{
    // The transfer phases are not driven yet: nothing is awaited.
    return true;
}
