#include "ftp/kv_ftpdata.h"

KV_FtpMan::KV_FtpDataConnector::KV_FtpDataConnector(KV_FtpMan* ftp, bool bind)
    : ftp(ftp), bind_(bind)
{
}

KV_FtpMan::KV_FtpDataConnector::~KV_FtpDataConnector()
{
    close_sessions();
}

const KV_String& KV_FtpMan::KV_FtpDataConnector::dst_addr() const
{
    return ftp->dst_addr();
}

KV_Session* KV_FtpMan::KV_FtpDataConnector::create_session(KV_Socket&, const KV_InetAddr&)
{
    // Data sessions are not made yet.
    return nullptr;
}

KV_String KV_FtpMan::KV_FtpDataConnector::info_str(KV_COMM_INFO info) const
{
    return KV_Connector::info_str(info);
}

const KV_SessOpts& KV_FtpMan::KV_FtpDataConnector::sess_params() const
{
    return ftp->sess_params_data();
}

KV_FtpMan::KV_FtpDataListener::KV_FtpDataListener(KV_FtpMan* ftp) : ftp(ftp) {}

KV_FtpMan::KV_FtpDataListener::~KV_FtpDataListener()
{
    term();
}

const KV_String& KV_FtpMan::KV_FtpDataListener::dst_addr() const
{
    return ftp->dst_addr();
}

KV_Session* KV_FtpMan::KV_FtpDataListener::create_session(KV_Socket&, const KV_InetAddr&)
{
    // Data sessions are not made yet.
    return nullptr;
}

KV_String KV_FtpMan::KV_FtpDataListener::info_str(KV_COMM_INFO info) const
{
    return KV_Listener::info_str(info);
}

const KV_SessOpts& KV_FtpMan::KV_FtpDataListener::sess_params() const
{
    return ftp->sess_params_data();
}

KV_FtpDataSess::KV_FtpDataSess(KV_Socket& sock, const KV_InetAddr& addr, KV_FtpMan* ftp)
    : KV_Session(ftp ? ftp->data_conn() : nullptr, sock, addr), ftp(ftp)
{
}

KV_FtpDataSess::~KV_FtpDataSess() = default;

bool KV_FtpDataSess::init_secured()
{
    return KV_Session::init_secured();
}

bool KV_FtpDataSess::process_in(KV_Stream&, KV_Stream&)
{
    // Received data is not handed to the action yet.
    return false;
}

bool KV_FtpDataSess::process_out(KV_Stream& out)
{
    return KV_Session::process_out(out);
}

bool KV_FtpDataSess::process_idle(KV_Stream&)
{
    // No data is taken from the action yet.
    return false;
}

bool KV_FtpDataSess::init()
{
    // The transfer is not started yet.
    return false;
}

bool KV_FtpDataSess::cleanup(bool)
{
    // The transfer's end is not reported yet.
    return false;
}
