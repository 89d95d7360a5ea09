// The SSH connection manager: the connection of one SSH worker.
//
// The worker never speaks to the server itself: it hands an action
// (KV_SshAct) to exec(), which first makes sure a connection exists -- TCP,
// directly or through an HTTP CONNECT, SOCKS4 or SOCKS5 proxy, then the
// transport session (KV_SshSess) with key exchange, login and the channels
// the subclass asks for -- and then runs the action. The subclass (the SFTP
// manager) supplies the channels, the action that must run once on every
// new connection, the error format and the options.
//
// A connection counts as made only once its channels are open: check_conn
// waits for that at most tmout_open() milliseconds (a server that goes
// silent during key exchange or login would otherwise hold the worker for
// ever); the time the user takes to answer the host-key question is not
// counted, and a stop ends the wait at once.
//
// The session calls the subclass's slots from its thread: a subclass ends
// the connection (close()) in its own destructor, before its part goes.
//
// Threads: the worker's thread runs exec, the actions and check_conn; the
// session's thread calls set_err_msg, new_conn, end_sess, init_channels,
// chans_open and asking. The error text is guarded by lock_err; the
// channel-open state and the question flag are atomics with an event.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "datasources/kv_manopts.h"
#include "datasources/kv_proxyopts.h"
#include "datasources/kv_sshlogindata.h"
#include "foundation/kv_event.h"
#include "foundation/kv_string.h"
#include "net/kv_comm.h"

class KV_ErrHandler;
class KV_SshAct;
class KV_SshChanMapIf;

// The kind of an SSH connection manager.
enum KV_SSH_MAN_TYPE : uint32_t {
    KV_SSH_MAN_NONE = 0,
    KV_SSH_MAN_SFTP = 1,
};

class KV_SshMan : public KV_Connector
{
    friend class KV_SshSess;

public:
    // Default port of the destination and of the proxy's target.
    static constexpr uint16_t default_port = 22;

    KV_SshMan();
    // Stops and closes the connection before the members go.
    ~KV_SshMan() override;
    KV_SshMan(const KV_SshMan&) = delete;
    KV_SshMan& operator=(const KV_SshMan&) = delete;

    // ---- set-up (the worker's thread, between execs)
    // src and dst: a host name or address, optionally ":port"; dst is also
    // the host under which host keys are stored.
    void set_addrs(const KV_String& src, const KV_String& dst, const KV_ProxyOptsSsh& proxy);
    void set_ldata(const KV_SshLoginData& ldata) { ldata_ = ldata; }
    const KV_SshLoginData& ldata() const { return ldata_; }

    // ---- running actions
    // Connects as needed (the initial action once per connection), then runs
    // act. The first error text is reported to eh with prot_err() when act
    // failed. A stop of stop stops this manager and releases every wait.
    // The operation's success is act.executed().
    bool exec(KV_ErrHandler& eh, KV_SshAct& act, KV_Stoppable* const stop);
    // Runs one action over the current connection; false for null.
    bool exec_impl(KV_SshAct* const act);
    // Makes a connection when there is none and the manager is not stopped.
    // True; whether a connection exists is connected().
    bool check_conn();
    bool connect() { return check_conn(); }
    using KV_Connector::connect;
    // Closes the connection's sessions.
    void close();

    // ---- state
    const KV_String& dst_addr() const override { return dst_text; }
    KV_PROXY_SSH proxy_type() const { return proxy_.type(); }
    KV_String err_msg() const;
    // The first text of a connection attempt or session wins.
    void set_err_msg(const KV_String& text);
    // The last exec could not get a connection.
    bool conn_err() const { return conn_failed_; }
    KV_ErrHandler* eh() const { return eh_; }
    const KV_SessOpts& sess_params_data() const { return opts(); }

    // ---- connection slots
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    const KV_SessOpts& sess_params() const override { return opts(); }

    // ---- what the subclass supplies
    // The channel table of a new session, filled with the channels to open
    // (called on the session's thread once the login succeeded); null when
    // none can be made, which ends the session.
    virtual std::unique_ptr<KV_SshChanMapIf> init_channels() = 0;
    // The action that runs once on every new connection before any other
    // (owned by the caller, who deletes it); this class: none.
    virtual KV_SshAct* init_act() const { return nullptr; }
    // The format the error text is reported with; this class: "SSH: %s".
    virtual const char* prot_err() const { return "SSH: %s"; }
    // The session has ended / started (the session's thread).
    virtual void end_sess() {}
    virtual void new_conn() {}
    virtual KV_SSH_MAN_TYPE type_ssh() const = 0;
    virtual const KV_SshManOpts& opts() const = 0;
    // How long a new connection may take to get its channels open, in ms;
    // 0 waits without limit. This class: the connection time-out of opts().
    virtual uint32_t tmout_open() const;

protected:
    // Connects to dst (the proxy when one is given) and waits until the
    // channels are open or the wait ends. True in every case.
    bool open(const KV_InetAddr& src, const KV_InetAddr& dst, KV_Proxy* const proxy);
    // Releases the wait for the channels too.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;

private:
    // ---- from the session's thread
    // Every channel of the new session is open (true), or the session ended.
    void chans_open(bool open);
    // The user is being asked about the host key: the open wait pauses.
    void asking(bool on) { asking_.store(on); }
    // Waits for chans_open; true when the channels are open.
    bool wait_chans();

    bool initialized = false;
    mutable KV_Lock lock_err;
    KV_String src_text;
    KV_String dst_text;
    KV_String err_msg_;
    KV_ErrHandler* eh_ = nullptr;
    KV_SshLoginData ldata_;
    KV_ProxyOptsSsh proxy_;
    bool conn_failed_ = false;
    std::atomic<bool> chans_open_{false};
    std::atomic<bool> asking_{false};
    // The SSH session of the current attempt has run its init.
    std::atomic<bool> sess_started_{false};
    KV_Event ev_chans{false, true};
};
