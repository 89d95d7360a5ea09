// The HTTP connection manager: the connection of one HTTP worker, and the
// abstract request action that runs on it.
//
// The worker sets addresses, options, security and login once and then hands
// one action at a time to exec(), which opens the connection as needed
// (directly, through an HTTP proxy, through a CONNECT tunnel, SOCKS4 or
// SOCKS5, with TLS end to end for HTTPS) and runs the action on the calling
// thread. The session (KV_HttpSess) reads the response on its own thread,
// keeps the response state here and feeds the body to the current action
// through the act_* hand-offs; the caller waits on three events: request
// sent, response head received, transfer ended.
//
// Every wait of a running action is limited by the header time-out counted
// from the last byte that moved, so a server that stalls in the middle of a
// body cannot hold a worker for ever; a stop ends every wait at once.
//
// Threads: the caller's thread runs exec, the actions' run and the waits;
// the session's thread calls the setters and the act_* hand-offs. lock_act
// guards the current action and every call into it made by the session or
// by a stop; it is never held while waiting. lock_err guards the error
// message; lock_resp the response values (redirect, version, entry). The
// static certificate flag may be read and written from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_httplogindata.h"
#include "datasources/kv_httpver.h"
#include "datasources/kv_manopts.h"
#include "datasources/kv_proxyopts.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "http/kv_httptypes.h"
#include "net/kv_comm.h"

class KV_ErrHandler;
class KV_HttpActTrans;
class KV_HttpHdr;
class KV_HttpMan;
class KV_Proxy;

// One request and its response, run once by KV_HttpMan::exec.
class KV_HttpAct
{
public:
    KV_HttpAct() = default;
    virtual ~KV_HttpAct();
    KV_HttpAct(const KV_HttpAct&) = delete;
    KV_HttpAct& operator=(const KV_HttpAct&) = delete;

    // Runs this action on the manager of `other` (an action of the same
    // worker); false when other is null or has no manager.
    bool exec(KV_HttpAct* other);

    // The action completed and the server accepted it. True until a run
    // lowers it.
    bool executed() const;
    // A wait of the run ran out of time or the manager was stopped.
    bool timed_out() const;
    // The manager of the last run; null before.
    KV_HttpMan* http() const { return man_; }

protected:
    // The request and its response, on the caller's thread.
    virtual bool run() = 0;

    // executed := executed AND v.
    void set_executed(bool v);
    // timed_out := timed_out OR v.
    void set_timed_out(bool v);

private:
    friend class KV_HttpMan;

    // Called by the manager: executed := connected; then run(); then
    // executed := executed AND the status line was a success.
    bool exec(KV_HttpMan* man);

    mutable KV_Lock lock_executed;
    mutable KV_Lock lock_timed_out;
    KV_HttpMan* man_ = nullptr;
    bool executed_ = true;
    bool timed_out_ = false;
};

class KV_HttpMan : public KV_Connector
{
public:
    KV_HttpMan();
    // Stops the manager and closes its sessions.
    ~KV_HttpMan() override;
    KV_HttpMan(const KV_HttpMan&) = delete;
    KV_HttpMan& operator=(const KV_HttpMan&) = delete;

    // When set, an HTTPS server certificate is trusted only when it is in the
    // local store of trusted certificates (or the user accepts it). False by
    // default.
    static void set_trexpl(bool trexpl) { KV_FileTransManOpts::set_trexpl_https(trexpl); }
    static bool trexpl() { return KV_FileTransManOpts::trexpl_https(); }

    // ---- set-up (the caller's thread, between execs)
    // src: local address text (may be empty); dst: the server, a host with
    // an optional ":port".
    void set_addrs(const KV_String& src, const KV_String& dst, const KV_ProxyOptsHttp& proxy);
    void set_opts(const KV_HttpManOpts& opts) { opts_ = opts; }
    void set_ldata(const KV_HttpLoginData& ldata) { ldata_ = ldata; }
    void set_secure(KV_HTTP_SECURE security) { security_ = security; }

    const KV_ProxyOptsHttp& proxy() const { return proxy_; }
    const KV_HttpManOpts& opts() const { return opts_; }
    const KV_HttpLoginData& ldata() const { return ldata_; }
    const KV_String& src_addr() const { return src_addr_; }

    // ---- running
    // Runs one action (connecting first when no session runs). False only
    // when the action's run failed; the outcome is act->executed() and
    // conn_err(). With a stoppable, a stop of it stops this manager, and an
    // action that failed with a message reports "HTTP: %s" to eh (code 1).
    // A request sent on a kept connection that ended before a byte of the
    // answer came (the server or proxy closed it just then) is sent once
    // more on a fresh connection; a request that got any answer never is.
    bool exec(KV_ErrHandler& eh, KV_HttpAct* act, KV_Stoppable* stoppable);
    // The connection check alone; true.
    bool connect();
    // Ends every session of the connection.
    void close();
    // Resets the response state and runs the action on the open connection;
    // false for null.
    bool exec_impl(KV_HttpAct* act);

    // ---- results after exec
    bool conn_err() const { return conn_err_.load(); }
    KV_HTTP_ERR last_err() const { return last_err_.load(); }
    // The status code of the last response; 0 before one came.
    uint32_t code() const { return code_.load(); }
    KV_String redir() const;
    KV_HttpVer version() const;
    // What the response head told about the resource. The reference is
    // stable; it changes only while a response head is read.
    KV_FileData& fdata() { return fdata_; }
    const KV_FileData& fdata() const { return fdata_; }
    // The first byte of a "Content-Range" answer; -1 when the response had
    // none (or an unreadable one).
    int64_t range_from() const { return range_from_.load(); }
    bool no_cont() const { return no_cont_.load(); }
    bool conn_close() const { return conn_close_.load(); }
    KV_HTTP_TENC trans_enc() const { return trans_enc_.load(); }
    // The response state is success; with none_ok also while no status came.
    bool response(bool none_ok) const;
    KV_String err_msg() const;
    KV_ErrHandler* eh() const { return eh_; }

    // ---- hand-offs of the session and the actions
    // A failure is never overwritten by a later success; keep leaves any
    // state that is set.
    void set_response(bool ok, bool keep);
    void set_trans_stat(KV_HTTP_TRANS_STAT s);
    void set_trans_enc(KV_HTTP_TENC enc) { trans_enc_.store(enc); }
    void set_redir(const KV_String& redir);
    void set_no_cont(bool v) { no_cont_.store(v); }
    void set_conn_close(bool v) { conn_close_.store(v); }
    void set_trans_stop(bool stop, bool close);
    void set_last_err(KV_HTTP_ERR err) { last_err_.store(err); }
    void set_code(uint32_t code) { code_.store(code); }
    void set_range_from(int64_t from) { range_from_.store(from); }
    void set_version(const KV_HttpVer& ver);
    // Keeps the first message of an exec.
    void set_err_msg(const KV_String& text);
    void set_stat_rcv(bool v) { stat_rcv_.store(v); }
    void set_hdr_rcv(bool v) { hdr_rcv_.store(v); }
    // sent := the connection runs and the manager is not stopped; then the
    // head goes out (each line logged) and sent takes the send result. False
    // only when a send failed.
    bool send_hdr(const KV_HttpHdr& hdr, bool& sent);
    // The current action becomes act when act wants the end of its body
    // (end_wait), else none.
    void act_set(KV_HttpActTrans* act);
    bool act_code_allowed(uint32_t code);
    bool act_preprocess_in(KV_HTTP_SESS_IN& in);
    bool act_process_in(KV_Stream& stream, KV_HTTP_SESS_IN& in);
    // Only after the head was sent; in != 0 sets out_stop.
    bool act_process_out(KV_Stream& stream, KV_HTTP_SESS_IN& in, uint32_t size, uint8_t* buffer);
    // Ends the transfer: the action's cleanup, event 3; closing (the
    // session ended) also sets events 1 and 2.
    void act_end(bool closing);
    // A byte moved on the connection: restarts the inactivity limit.
    void touch();
    // The session received bytes of an answer to the current request.
    void note_answer() { answered_.store(true); }
    // Each true when the wait ran out of time or the manager is stopped.
    // The first and the last allow the header time-out of inactivity, the
    // second the header time-out in all.
    bool wait_trans_hdr_sent();
    bool wait_trans_hdr_resp();
    bool wait_trans_end();

    bool hdr_rcv() const { return hdr_rcv_.load(); }
    bool stat_rcv() const { return stat_rcv_.load(); }
    bool out_stop() const { return out_stop_.load(); }
    bool trans_stop() const { return trans_stop_.load(); }
    bool trans_cl() const { return trans_cl_.load(); }
    bool hdr_sent() const { return hdr_sent_.load(); }
    // Plain whenever the connection has no TLS context.
    KV_HTTP_SECURE security() const;
    // The stored kind, except that an HTTP proxy carries HTTPS as a CONNECT
    // tunnel.
    KV_PROXY_HTTP proxy_type() const;

    // ---- connection slots
    const KV_String& dst_addr() const override { return dst_addr_; }
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    // The server address and "HTTPS"; mode 3 with the static flag, else 2.
    uint8_t ssl_check(KV_String& addr, KV_String& proto) const override;
    const KV_SessOpts& sess_params() const override { return opts_; }
    const KV_HttpManOpts& sess_params_data() const { return opts_; }

protected:
    // Ends the current action and wakes the waiting caller.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;

private:
    bool check_conn();
    bool open(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy);
    void secure_http();
    // host and port of "host:port" or "[v6]:port"; false when the text
    // carries no port.
    static bool split_host_port(const KV_String& text, KV_String& host, KV_String& port);
    // Waits for ev; limit_ms of inactivity (or in all, when idle is false).
    bool wait_ev(KV_Event& ev, bool idle);

    mutable KV_Lock lock_err;
    mutable KV_Lock lock_act;
    mutable KV_Lock lock_resp;
    KV_Event ev_hdr_sent{false, true};
    KV_Event ev_hdr_resp{false, true};
    KV_Event ev_trans_end{false, true};
    std::atomic<bool> hdr_sent_{false};
    std::atomic<bool> hdr_rcv_{false};
    std::atomic<bool> stat_rcv_{false};
    std::atomic<bool> trans_stop_{false};
    std::atomic<bool> out_stop_{false};
    std::atomic<bool> trans_cl_{false};
    KV_HttpActTrans* act_ = nullptr; // lock_act
    KV_String src_addr_;
    KV_String dst_addr_;
    KV_String err_msg_; // lock_err
    KV_String redir_;   // lock_resp
    KV_ErrHandler* eh_ = nullptr;
    KV_HttpLoginData ldata_;
    KV_ProxyOptsHttp proxy_;
    KV_HttpManOpts opts_;
    KV_FileData fdata_;
    KV_HttpVer version_; // lock_resp
    KV_HTTP_SECURE security_ = KV_HTTP_SECURE_NONE;
    std::atomic<KV_HTTP_TENC> trans_enc_{KV_HTTP_TENC_NONE};
    std::atomic<KV_HTTP_ERR> last_err_{KV_HTTP_ERR_REASON};
    std::atomic<uint32_t> resp_state_{0};
    std::atomic<uint32_t> code_{0};
    std::atomic<int64_t> range_from_{-1};
    // Milliseconds of the steady clock at the last byte that moved.
    std::atomic<int64_t> last_io_{0};
    std::atomic<bool> conn_err_{false};
    std::atomic<bool> no_cont_{false};
    std::atomic<bool> conn_close_{false};
    // A byte of an answer came since exec_impl began the request.
    std::atomic<bool> answered_{false};
};
