#include "ftp/kv_ftpdata.h"

#include <new>

#include "ftp/kv_ftpact.h"

KV_FtpMan::KV_FtpDataConnector::KV_FtpDataConnector(KV_FtpMan* ftp, bool bind)
    : ftp(ftp), bind_(bind)
{
}

KV_FtpMan::KV_FtpDataConnector::~KV_FtpDataConnector()
{
    // Off the stop list first: a stop of the manager must not reach a
    // connection that is going.
    ftp->stop_unreg(this);
    close_sessions();
}

const KV_String& KV_FtpMan::KV_FtpDataConnector::dst_addr() const
{
    return ftp->dst_addr();
}

KV_Session* KV_FtpMan::KV_FtpDataConnector::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_FtpDataSess(this, sock, addr, ftp);
}

KV_String KV_FtpMan::KV_FtpDataConnector::info_str(KV_COMM_INFO info) const
{
    switch (info) {
    case KV_COMM_INFO_CONNECTING:
        return "Opening data connection";
    case KV_COMM_INFO_CLOSED:
        return "Data connection closed";
    default:
        return KV_Connector::info_str(info);
    }
}

uint8_t KV_FtpMan::KV_FtpDataConnector::ssl_check(KV_String& s1, KV_String& s2) const
{
    return ftp->ssl_check(s1, s2);
}

const KV_SessOpts& KV_FtpMan::KV_FtpDataConnector::sess_params() const
{
    return ftp->sess_params_data();
}

KV_FtpMan::KV_FtpDataListener::KV_FtpDataListener(KV_FtpMan* ftp) : ftp(ftp) {}

KV_FtpMan::KV_FtpDataListener::~KV_FtpDataListener()
{
    ftp->stop_unreg(this);
    term();
}

const KV_String& KV_FtpMan::KV_FtpDataListener::dst_addr() const
{
    return ftp->dst_addr();
}

KV_Session* KV_FtpMan::KV_FtpDataListener::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_FtpDataSess(this, sock, addr, ftp);
}

KV_String KV_FtpMan::KV_FtpDataListener::info_str(KV_COMM_INFO info) const
{
    switch (info) {
    case KV_COMM_INFO_LISTENING:
        return "Opening data connection";
    case KV_COMM_INFO_CLOSED:
        return "Data connection closed";
    default:
        return KV_Listener::info_str(info);
    }
}

uint8_t KV_FtpMan::KV_FtpDataListener::ssl_check(KV_String& s1, KV_String& s2) const
{
    return ftp->ssl_check(s1, s2);
}

const KV_SessOpts& KV_FtpMan::KV_FtpDataListener::sess_params() const
{
    return ftp->sess_params_data();
}

KV_FtpDataSess::KV_FtpDataSess(KV_Socket& sock, const KV_InetAddr& addr, KV_FtpMan* ftp)
    : KV_Session(ftp ? ftp->data_conn() : nullptr, sock, addr), ftp(ftp)
{
    info_mask = 0xFF;
    if (ftp)
        ssl.set_resume_from(&ftp->tls_resume());
}

KV_FtpDataSess::KV_FtpDataSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr,
                               KV_FtpMan* ftp)
    : KV_Session(comm, sock, addr), ftp(ftp)
{
    info_mask = 0xFF;
    if (ftp)
        ssl.set_resume_from(&ftp->tls_resume());
}

KV_FtpDataSess::~KV_FtpDataSess() = default;

bool KV_FtpDataSess::init_secured()
{
    const bool r = KV_Session::init_secured();
    if (!r && ftp) {
        if (ssl.last_err().empty())
            ftp->set_err_msg("SSL negotiation failed.");
        else
            ftp->set_err_msg(KV_String::format_impl("%s ( %s )", "SSL negotiation failed.",
                                                    ssl.last_err().data()));
    }
    return r;
}

bool KV_FtpDataSess::init()
{
    done_ = false;
    KV_FtpActTrans* act = ftp ? ftp->act_trans() : nullptr;
    if (!act)
        return false;
    ftp->note_data_act();
    ftp->set_trans_stat(KV_FTP_TRANS_STARTED);
    return act->init();
}

bool KV_FtpDataSess::process_in(KV_Stream& in, KV_Stream&)
{
    if (!ftp || done_)
        return true;
    KV_FtpActTrans* act = ftp->act_trans();
    if (!act)
        return false;
    ftp->note_data_act();
    bool done = false;
    const bool r = act->process_in(in, done);
    if (done)
        done_ = true;
    if (r && done && !shutdown_req()) {
        // The action has all it wants (a fragment's end): the rest of the
        // stream is not read.
        req_shutdown();
        stop(KV_STOP_TERMINATE);
    }
    return r;
}

bool KV_FtpDataSess::process_out(KV_Stream& out)
{
    const uint32_t before = out.length();
    bool ok = KV_Session::process_out(out);
    if (ok && ftp && out.length() != before)
        ftp->note_data_act();
    if (ok)
        ok = process_idle(out);
    return ok;
}

bool KV_FtpDataSess::process_idle(KV_Stream& out)
{
    // A failure reply (a refused STOR, a full disk on the server) ends the
    // data connection: nothing more is sent into it. Without the control
    // connection an upload cannot be confirmed any more and ends too, while
    // a download takes what the server sent until the data ends.
    KV_FtpActTrans* act = ftp ? ftp->act_trans() : nullptr;
    if (!act)
        return false;
    if (!ftp->connected()) {
        if (act->close_self())
            return false;
        return true;
    }
    if (!ftp->response(true))
        return false;
    bool ok = true;
    if (ok && !done_ && ftp->trans_cmd_done() && out.length() < out_block && check_buff()) {
        bool done = false;
        ok = act->process_out(out, done, out_block, buff_out.get());
        if (done)
            done_ = true;
    }
    if (ok && done_ && out.empty() && !shutdown_req())
        req_shutdown();
    if (ok && ftp->keep_alive_int() != 0)
        ftp->reset_last_act();
    return ok;
}

bool KV_FtpDataSess::cleanup(bool clean)
{
    KV_FtpActTrans* act = ftp ? ftp->act_trans() : nullptr;
    if (!act)
        return false;
    // An upload is complete only when this side ended it: a peer that
    // closed first took less than the whole file.
    if (clean && act->close_self())
        clean = shutdown_req();
    act->set_executed(clean);
    if (!initialized) {
        // The connection failed before it started (TLS, a reset): the wait
        // for the start ends now, the flags tell the outcome.
        act->set_executed(false);
        ftp->set_trans_stat(KV_FTP_TRANS_STARTED);
    }
    const bool r = initialized ? act->cleanup() : true;
    ftp->set_trans_stat(KV_FTP_TRANS_ENDED);
    return r;
}
