// Connection threads: the objects through which a protocol manager owns its
// network connections.
//
// KV_CommBase holds the sessions of one connection (at most one live at a
// time), the events its owner waits on (session started, connection ready,
// TLS result), the failure flag, the connection's address and the owner's
// context (informer, TLS context, file manager, worker id). KV_Connector
// opens a connection outward on the caller's thread; KV_Listener runs a
// thread that accepts one. Both hand the socket to a session of the
// protocol's class (create_session) and start it.
//
// The owner's calling order: set_informer, set_file_man, set_tavo_id once;
// per connection connect (or listen and wait_listening), wait_open,
// connected and conn_failed; commands with send or send_str; TLS with
// req_secure and secure_res(true); at the end close_sessions.
//
// Lifetime: sessions call the connection's virtual operations from their
// threads, and a listener's thread calls create_session. A class that
// overrides them must therefore end the sessions (close_sessions, or term for
// a listener) in its own destructor, before its part of the object goes.
//
// Threads and locks
// - The owner's thread opens, sends, waits and closes; each session's thread
//   reports its start, end, readiness, TLS result and failure; a listener has
//   its own accept thread; any thread may stop the connection.
// - lock_sess guards the session list, also while close_sessions waits for a
//   session's thread (a session's end never takes lock_sess). lock_cnt
//   guards the session count and the transitions of ev_started and ev_ready.
//   add_session takes lock_cnt and lock_secure inside lock_sess; nothing
//   takes them the other way round. lock_failed guards the failure flag,
//   lock_secure the TLS request and result. All are KV_Lock, which a thread
//   cannot take twice: send is never called from within a session hook of
//   the same connection.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_sessopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_inetaddr.h"
#include "foundation/kv_thread.h"
#include "foundation/kvtl.h"
#include "net/kv_socket.h"
#include "requests/kv_sessinfo.h"

class KV_FileMan;
class KV_Informer;
class KV_Proxy;
class KV_SSLCtx;
class KV_Session;

// The state texts of a connection (info_str).
enum KV_COMM_INFO : uint32_t {
    KV_COMM_INFO_CONNECTING = 0, // "Connecting"
    KV_COMM_INFO_LISTENING = 1,  // "Listening"
    KV_COMM_INFO_CLOSED = 2,     // "Connection closed"
};

enum KV_COMM_TYPE : uint32_t {
    KV_COMM_CONNECTOR = 0,
    KV_COMM_LISTENER = 1,
};

class KV_CommBase : public KV_Thread
{
public:
    // No sessions, events clear, not failed, no context.
    KV_CommBase();
    // close_sessions().
    ~KV_CommBase() override;

    // The destination host name as the user gave it (the TLS peer name).
    virtual const KV_String& dst_addr() const = 0;
    // A new session of the protocol's class on the socket (the session takes
    // the descriptor) and peer address, or null. Under lock_sess.
    virtual KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) = 0;
    // "Connecting", "Listening", "Connection closed"; any other value the
    // empty string. An empty text suppresses its log line.
    virtual KV_String info_str(KV_COMM_INFO info) const;
    // The TLS certificate-check mode and its two strings. This class: 0.
    virtual uint8_t ssl_check(KV_String& s1, KV_String& s2) const;
    // The buffer sizes and connection time-out of new sessions.
    virtual const KV_SessOpts& sess_params() const = 0;
    virtual KV_COMM_TYPE comm_type() const = 0;
    // This class: true.
    virtual bool alive();
    // Sessions take the client role in TLS. This class: true.
    virtual bool ssl_client() const;

    // ---- the owner
    // Unless the connection is stopped, waits for ev_ready, then for
    // ev_started; a stop releases both waits.
    void wait_open();
    // A session's loop is running.
    bool connected() const;
    // A listed session's thread has not ended: its loop runs, or is still to
    // start (connect returned before the new thread got there), or is ending.
    bool sess_alive();
    bool conn_failed() const;
    void reset_conn_failed();
    // Hands the bytes to every listed session (each appends them to its
    // output), stopping early when the connection is stopped. True when every
    // session took them, and when there is none.
    // wake false: see KV_Session::send.
    bool send(const uint8_t* data, uint32_t len, bool wake = true);
    // The characters of s without its terminating NUL.
    bool send_str(const char* s, bool wake = true);
    // Wakes every listed session (KV_Session::wake).
    void wake_sessions();
    // Asks the session for TLS; secure_res(true) then waits for the result.
    // With a request pending or the connection stopped, secure_res returns at
    // once with the current result (false on a stopped connection). A
    // success stays until the next session is added, also after the session
    // ended or the connection was stopped.
    void req_secure();
    bool secure_res(bool wait);
    // Stops the connection (which stops its sessions), then waits for each
    // session's thread to end and deletes it. The connection stays stopped:
    // its owner calls stop_reset() before it opens the next connection.
    bool close_sessions();
    // The owning file manager's path case sensitivity; false without one.
    bool case_sens() const;

    uint32_t tavo_id() const { return tavo_id_; }
    KV_CommBase& set_tavo_id(uint32_t id)
    {
        tavo_id_ = id;
        return *this;
    }
    KV_Informer* informer() const { return informer_; }
    void set_informer(KV_Informer* informer) { informer_ = informer; }
    KV_SSLCtx* ssl_ctx() const { return ssl_ctx_; }
    KV_FileMan* file_man() const { return file_man_; }
    void set_file_man(KV_FileMan* file_man, KV_SSLCtx* ssl_ctx)
    {
        file_man_ = file_man;
        ssl_ctx_ = ssl_ctx;
    }
    // For a connector its destination (or the address a SOCKS proxy bound);
    // for a listener the listening address. Written by the opening thread or
    // by the session's proxy handshake before ev_ready; read by the owner
    // after wait_open or wait_listening.
    const KV_InetAddr& local_addr() const { return local_addr_; }
    void set_local_addr(const KV_InetAddr& addr) { local_addr_ = addr; }
    uint32_t sess_count() const;

    // ---- sessions and proxies
    // Under lock_sess, and only while no session is counted: create_session,
    // list it, register it as a stop child, then install the proxy (owned by
    // the session from then on) and reset ev_started; ev_ready is set without
    // a proxy and reset with one. Null, with the proxy still the caller's,
    // when no session was made. The session is not started.
    KV_Session* add_session(KV_Socket& sock, const KV_InetAddr& addr, KV_Proxy* proxy);
    // Deletes the first listed session whose thread has ended, if any. False
    // only when a removal failed.
    bool reap_session();
    // A session's loop starts (count up, ev_started) or ends (count down,
    // ev_ready, a pending TLS request answered with false).
    void sess_state(bool start);
    // Cheap look whether a TLS request is pending (the session asks every
    // pass); take_secure_req is the locked answer.
    bool secure_wanted() const { return secure_pending_flag.load(std::memory_order_relaxed); }
    bool take_secure_req();
    // Answers a pending TLS request with r and wakes the waiters; without a
    // pending request the result stays as it is.
    void set_secure_res(bool r);
    void set_conn_failed();
    void set_ready();

protected:
    // A connector never runs as a thread: connect runs on the caller's
    // thread. False.
    bool run() override;
    // A stop wakes every waiter: ev_started, ev_ready, a pending TLS request
    // (answered with false), and the waker of a pending connect or accept.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    // A session line through the informer (nothing without one).
    void log(KV_SESS_LOG kind, const KV_String& text, bool err) const;

    KV_Event ev_started{false, true};
    KV_Event ev_ready{false, true};
    KV_Event ev_secure{false, true};
    KV_Lock lock_sess;
    mutable KV_Lock lock_cnt;
    mutable KV_Lock lock_failed;
    KV_Lock lock_secure;
    KVTL::KV_ListVal<KV_Session*> sessions;
    KV_Waker waker;

private:
    KV_InetAddr local_addr_;
    KV_Informer* informer_ = nullptr;
    KV_SSLCtx* ssl_ctx_ = nullptr;
    KV_FileMan* file_man_ = nullptr;
    uint32_t tavo_id_ = 0;
    uint32_t sess_count_ = 0;
    bool failed = false;
    bool secure_pending = false;
    bool secure_result = false;
    // Mirrors secure_pending for the sessions' unlocked look.
    std::atomic<bool> secure_pending_flag{false};
};

class KV_Connector : public KV_CommBase
{
public:
    KV_Connector() = default;
    ~KV_Connector() override;

    KV_COMM_TYPE comm_type() const override { return KV_COMM_CONNECTOR; }

    // Opens a connection to dst (the server, or the proxy when proxy is
    // given) and starts its session, on the calling thread. A valid local is
    // bound first; an empty one receives the new connection's local address.
    // The attempt ends with failure after the session options' connection
    // time-out, and at once when the connection is stopped. proxy is owned
    // from the call on: it goes to the session, or is destroyed. False (and
    // conn_failed) when no session was started.
    bool connect(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy);

private:
    // Waits for a pending connect: true once connected; false on a refusal,
    // the time-out or a stop.
    bool wait_connected(KV_Socket& s);
};

class KV_Listener : public KV_CommBase
{
public:
    KV_Listener() = default;
    // term().
    ~KV_Listener() override;

    KV_COMM_TYPE comm_type() const override { return KV_COMM_LISTENER; }
    // Whether the accept thread runs.
    bool alive() override;

    // Starts the accept thread on addr (port 0: the system chooses). False,
    // and conn_failed, when the thread runs already or cannot start.
    bool listen(const KV_InetAddr& addr);
    // Waits for the thread to be listening (or to have failed); then
    // local_addr() holds the address and port. One wait per listen.
    void wait_listening();
    // Accept connections only from this peer's address (its port is not
    // looked at: a server connects from a port of its own choosing). A
    // connection from any other address is closed and the listener goes on
    // waiting. An empty address (the default) accepts any peer. Set before
    // listen.
    void set_peer(const KV_InetAddr& peer) { peer_ = peer; }
    // Stops the listener, waits for its thread, closes the sessions.
    void term();

protected:
    // The accept loop.
    bool run() override;

private:
    // Some listed session's thread runs.
    bool live_session();

    KV_Socket sock;
    KV_Event ev_listening{false, false};
    KV_InetAddr peer_;
};
