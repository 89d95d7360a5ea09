// The FTP protocol manager: the control connection of one FTP worker.
//
// The worker never sends commands itself: it builds an action (KV_FtpAct and
// kinds) and hands it to exec(), which first brings the control connection
// into a logged-in state (directly or through a transport or FTP proxy, plain
// or FTPS, with the proxy's and the server's login and the server's listing
// dialect) and then runs the action. Replies arrive on the control session's
// thread (KV_FtpCtrlSess) and become state changes and events here, on which
// the action's thread waits.
//
// A change of the security mode, the addresses, the proxy or the login closes
// the open connection at the next exec: a switch to FTPS must never go on in
// plain text, nor a new login on the old server.
//
// Threads: the worker's thread runs exec, the actions and the waits; the
// control session's thread calls the setters (set_response, set_login_stat,
// set_welcome, set_curr_dir, set_passive, set_trans_stat, set_err_msg,
// reset_last_act). The error text, the login state, the activity time and
// the response (with the current directory and the passive address) each
// have their own lock; the waits are manual-reset events
// that the waiter resets before the command that sets them is sent, and no
// lock is held while waiting. The static certificate flag may be read and
// written from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_ftplogindata.h"
#include "datasources/kv_ftptypes.h"
#include "datasources/kv_manopts.h"
#include "datasources/kv_proxyopts.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "net/kv_telnet.h"

class KV_ErrHandler;
class KV_FtpAct;
class KV_FtpActTrans;
class KV_FtpServer;

class KV_FtpMan : public KV_TelnetMan
{
public:
    // The data connections (kv_ftpdata.h).
    class KV_FtpDataConnector;
    class KV_FtpDataListener;

    KV_FtpMan();
    // Closes the connections, deletes the dialect.
    ~KV_FtpMan() override;
    KV_FtpMan(const KV_FtpMan&) = delete;
    KV_FtpMan& operator=(const KV_FtpMan&) = delete;

    // When set, an FTPS server certificate is trusted only when it is in the
    // local store of trusted certificates (or the user accepts it). True by
    // default.
    static void set_trexpl(bool trexpl) { KV_FileTransManOpts::set_trexpl_ftps(trexpl); }
    static bool trexpl() { return KV_FileTransManOpts::trexpl_ftps(); }

    // ---- set-up (the worker's thread, between execs)
    // Also while the connection is open: the sessions read what they need
    // of the options through keep_alive_int(), under lock_opts.
    void set_opts(const KV_FtpManOpts& opts);
    void set_ldata(const KV_FtpLoginData& ldata);
    // local and dest: a host name or address, optionally ":port".
    void set_ctrl_addrs(const KV_String& local, const KV_String& dest,
                        const KV_ProxyOptsFtp& proxy);
    void set_secure(KV_FTP_SECURE secure);
    // 0 lets SYST decide.
    void set_serv_type(KV_FTP_SERV_TYPE type) { serv_type_ = type; }

    // ---- running actions
    // Connects and logs in as needed, then runs act. False only when the
    // connection check failed; the operation's success is act.executed().
    // The first error text is reported to eh as "FTP: %s". A stop of stopper
    // stops this manager and releases every wait.
    bool exec(KV_ErrHandler& eh, KV_FtpAct& act, KV_Stoppable* stopper);
    // Clears the response state and runs the action; false for null.
    bool exec_impl(KV_FtpAct* act);
    // Sends one command and waits for its reply. ok: sent, answered in time
    // with a success; timed_out: no reply in time (the connection is then
    // closed). log_text (when given) is what the session log shows.
    bool cmd(const char* text, bool& ok, bool& timed_out, const char* log_text);
    // The line session's own form (send without waiting) stays reachable.
    using KV_TelnetMan::cmd;
    // Closes the control and the data connection.
    void close();
    // Brings the control connection to the logged-in state (act may be null).
    bool check_ctrl_conn(KV_FtpAct* act);
    // Creates the dialect object for the server type unless one exists; true
    // when one exists afterwards.
    bool create_serv(KV_FTP_SERV_TYPE type);

    // ---- state read by actions and workers
    KV_FTP_LOGIN login_stat() const;
    KV_FTP_SECURE security() const;
    KV_PROXY_FTP proxy_type(bool* pasv = nullptr) const;
    bool passive() const { return passive_.load(); }
    bool new_conn() const { return new_conn_; }
    bool trans_direct() const { return trans_direct_.load(); }
    bool trans_fast_end() const { return trans_fast_end_.load(); }
    // The response state is success; with none_ok also when nothing came.
    bool response(bool none_ok) const;
    KV_String last_resp() const;
    KV_String err_msg() const;
    // Keeps the first message of an exec.
    void set_err_msg(const KV_String& text);
    // Milliseconds since the last control or data activity.
    int64_t idle_ms() const;
    const KV_FtpLoginData& ldata() const { return ldata_; }
    // The worker's thread (the only writer), and connections it sets up
    // while it waits in exec.
    const KV_FtpManOpts& opts() const { return opts_; }
    // The keep-alive interval in seconds (0: none); any thread.
    uint16_t keep_alive_int() const;
    KV_FTP_SERV_TYPE serv_type() const { return serv_type_; }
    // The passive address when passive, else the local control address.
    KV_InetAddr data_addr() const;
    // The directory of the last 257 reply, as a slash path.
    KV_String curr_dir() const;
    bool impl_rest() const;
    const KV_SessOpts& sess_params_data() const { return opts_; }
    KV_ErrHandler* eh() const { return eh_; }

    // ---- for the actions and the control session
    void set_welcome() { ev_welcome.set(); }
    void set_response(const KV_String& text, bool ok, bool final);
    void set_trans_stat(KV_FTP_TRANS_STAT s);
    KV_FTP_TRANS_STAT trans_stat() const { return trans_stat_; }
    // The transfer command went out and the server answered it: an upload's
    // data connection may send. A data connection is up before that in
    // passive mode, and a server may refuse data that come before the
    // command. Setting it wakes the data connection's session.
    void set_trans_cmd_done(bool done);
    bool trans_cmd_done() const { return trans_cmd_done_.load(); }
    void set_login_stat(KV_FTP_LOGIN v);
    // Waits until the login state differs from v, at most the command
    // time-out; true when that passed or the manager is stopped.
    bool wait_login_stat(KV_FTP_LOGIN v);
    void set_last_conn_mode(KV_FTP_CONN_MODE m) { last_conn_mode_ = m; }
    KV_FTP_CONN_MODE last_conn_mode() const { return last_conn_mode_; }
    void set_curr_dir(const KV_String& dir);
    void reset_curr_dir() { ev_new_dir.reset(); }
    void reset_last_act();
    void set_trans_params(bool fast_end, bool direct);
    void set_passive(bool p) { passive_.store(p); }
    void set_passive(const KV_InetAddr& addr);
    KV_FtpActTrans* act_trans() const { return act_trans_.load(); }
    KV_CommBase* data_conn() const { return data_conn_.load(); }
    bool check_data_conn(KV_COMM_TYPE kind, KV_FtpActTrans* act, bool& opened);
    bool post_check_data_conn();
    void close_data_conn();
    bool secure_data_conn();
    // The control connection's TLS session, which its data connections
    // resume: servers may refuse a data connection with a session of its own.
    KV_SSLResume& tls_resume() { return tls_resume_; }
    // The data session moved bytes (restarts the end wait's idle limit).
    void note_data_act();
    // Each true when the wait timed out or the manager is stopped.
    bool wait_trans_beg();
    // While a local data connection exists, it times out when no byte moved
    // on it for the transfer-end time-out; without one (server-to-server, or
    // the data connection already gone) it waits for the reply, which a
    // closed control connection or a stop also ends.
    bool wait_trans_end();
    bool wait_trans_ack();
    // After the control connection dropped: lets the data connection take
    // what the server sent before it went, until the data ends, no byte
    // moved for the transfer-end time-out, or the manager is stopped.
    void drain_data_conn();
    bool wait_cmd_resp();
    bool wait_new_dir();

    // The listing dialect (owned); null until the first login created it.
    KV_FtpServer* serv = nullptr;

    // ---- connection slots
    const KV_String& dst_addr() const override { return dst_text; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    KV_String info_str(KV_COMM_INFO info) const override;
    // FTPS: the host name must match the certificate, and with the static
    // flag the certificate must be in the store; a refusal is asked.
    uint8_t ssl_check(KV_String& s1, KV_String& s2) const override;
    const KV_SessOpts& sess_params() const override { return opts_; }

protected:
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;

private:
    bool open(KV_InetAddr& local, const KV_InetAddr& dest, KV_Proxy* proxy);
    void wait_welcome();
    // Connection steps of check_ctrl_conn; each true while the sequence may go on.
    bool proxy_login(bool& ok);
    bool secure_conn(KV_InetAddr& local, const KV_InetAddr& dest, bool via_proxy, bool& ok);
    bool sub_ok(KV_FtpAct& act, bool& ok);
    bool live() const { return connected() && !stopped(); }
    // Data connection steps of check_data_conn.
    bool create_data_conn(KV_COMM_TYPE kind);
    bool open_data_conn(bool& opened);

    mutable KV_Lock lock_err;
    // Guards opts_ while it is written and while a session reads it.
    mutable KV_Lock lock_opts;
    mutable KV_Lock lock_login;
    mutable KV_Lock lock_act;
    mutable KV_Lock lock_resp;
    KV_Event ev_welcome{false, true};
    KV_Event ev_new_dir{false, true};
    KV_Event ev_cmd_resp{false, true};
    KV_Event ev_trans_beg{false, true};
    KV_Event ev_trans_end{false, true};
    KV_Event ev_trans_ack{false, true};
    KV_Event ev_login{false, true};
    // Read by the control session when a transfer reply comes.
    std::atomic<KV_FtpActTrans*> act_trans_{nullptr};
    KV_InetAddr local_ctrl;
    KV_InetAddr pasv_addr;
    KV_String cur_dir;
    KV_String local_text;
    KV_String dst_text;
    KV_String err_msg_;
    KV_String last_resp_;
    KV_ErrHandler* eh_ = nullptr;
    std::atomic<KV_CommBase*> data_conn_{nullptr};
    // Steady-clock milliseconds of the last data byte moved.
    std::atomic<int64_t> data_act_ms{0};
    KV_FtpLoginData ldata_;
    KV_ProxyOptsFtp proxy_;
    KV_FtpManOpts opts_;
    KV_TimeInt last_act_;
    KV_FTP_SECURE secure_ = KV_FTP_SECURE_NONE;
    KV_FTP_LOGIN login_stat_ = KV_FTP_LOGIN_WAIT;
    KV_LOGIN_STATUS notified = KV_LOGIN_STATUS_NONE;
    KV_FTP_SERV_TYPE serv_type_ = KV_FTP_SERV_UNKNOWN;
    std::atomic<KV_FTP_TRANS_STAT> trans_stat_{KV_FTP_TRANS_IDLE};
    std::atomic<bool> trans_cmd_done_{false};
    KV_FTP_CONN_MODE last_conn_mode_ = KV_FTP_CONN_PASSIVE;
    uint32_t resp_state = 0;
    // Written by the control session (227) and the worker.
    std::atomic<bool> passive_{false};
    bool new_conn_ = false;
    std::atomic<bool> trans_fast_end_{false};
    std::atomic<bool> trans_direct_{false};
    // A setting that the open connection was made with changed.
    bool settings_changed = false;
    KV_SSLResume tls_resume_;
};
