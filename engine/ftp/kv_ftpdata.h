// FTP data connections: the connection that carries one listing or file
// transfer beside the control connection.
//
// The manager owns at most one at a time. KV_FtpDataConnector connects out:
// passive mode, or active mode through a SOCKS proxy that BINDs a port for
// the server. KV_FtpDataListener waits for the server to connect: active
// mode. Either makes one KV_FtpDataSess, which hands received bytes to the
// running transfer action and takes bytes to send from it.
//
// TLS runs on the data connection exactly when it runs on the control
// connection, and this side is always the TLS client, also when it accepted
// the TCP connection (RFC 4217: the server is the TLS server on both). The
// server's certificate is checked as on the control connection: one the
// user accepted there passes at once, any other must stand the same checks
// (a data connection taken over by a third party must not pass with any
// certificate a CA signed).
//
// A passive reply names an address; only its port is used. The data
// connection goes to the host the control connection went to, so that a
// server (or anything that forged its reply) cannot point the client at a
// third host, and a server behind NAT that names its private address still
// works. In active mode the listener accepts only the control connection's
// peer when no proxy stands between.
//
// Threads: the connection objects are made, opened and deleted by the
// action's thread (through the manager); the session runs on its own thread
// and calls the action's data hooks there.
#pragma once

#include <atomic>
#include <cstdint>

#include "ftp/kv_ftpman.h"
#include "net/kv_comm.h"
#include "net/kv_session.h"

class KV_FtpMan::KV_FtpDataConnector : public KV_Connector
{
public:
    // bind: through a SOCKS proxy, ask it to BIND a port instead of
    // connecting out.
    KV_FtpDataConnector(KV_FtpMan* ftp, bool bind);
    // Closes its sessions and leaves the manager's stop list.
    ~KV_FtpDataConnector() override;

    const KV_String& dst_addr() const override;
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    // "Opening data connection", "Data connection closed".
    KV_String info_str(KV_COMM_INFO info) const override;
    // The control connection's checks.
    uint8_t ssl_check(KV_String& s1, KV_String& s2) const override;
    const KV_SessOpts& sess_params() const override;

    bool bind() const { return bind_; }

private:
    KV_FtpMan* ftp;
    bool bind_;
};

class KV_FtpMan::KV_FtpDataListener : public KV_Listener
{
public:
    explicit KV_FtpDataListener(KV_FtpMan* ftp);
    // Ends the listener and its sessions, leaves the manager's stop list.
    ~KV_FtpDataListener() override;

    const KV_String& dst_addr() const override;
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    // "Opening data connection" (listening), "Data connection closed".
    KV_String info_str(KV_COMM_INFO info) const override;
    // The control connection's checks.
    uint8_t ssl_check(KV_String& s1, KV_String& s2) const override;
    const KV_SessOpts& sess_params() const override;

private:
    KV_FtpMan* ftp;
};

class KV_FtpDataSess : public KV_Session
{
public:
    // The connection is the manager's current data connection.
    KV_FtpDataSess(KV_Socket& sock, const KV_InetAddr& addr, KV_FtpMan* ftp);
    // The connection named: a listener's thread makes its session while the
    // manager may already be letting the connection go.
    KV_FtpDataSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr, KV_FtpMan* ftp);
    ~KV_FtpDataSess() override;

    KV_SESS_TYPE type() const override { return KV_SESS_TYPE_FTP_DATA; }
    // The transfer action said its data is complete.
    bool done() const { return done_.load(); }

protected:
    bool init_secured() override;
    bool process_in(KV_Stream& in, KV_Stream& out) override;
    bool process_out(KV_Stream& out) override;
    bool process_idle(KV_Stream& out) override;
    bool init() override;
    bool cleanup(bool clean) override;

private:
    KV_FtpMan* ftp;
    std::atomic<bool> done_{false};
};
