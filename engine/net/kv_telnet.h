// Line command connections: commands go out as text lines, replies come back
// as text lines, over a connection that may carry Telnet option negotiation
// (the FTP control connection is one).
//
// KV_TelnetMan opens the connection (default port 23) and sends command
// lines; KV_TelnetSess refuses every Telnet option the peer offers or asks
// for and assembles the received bytes into lines, handing each complete,
// non-empty line to process_cmd. A line ends at the first CR or LF (a CR LF
// pair gives the line and an empty line, which is dropped).
//
// Input from the peer is never trusted: IAC IAC is one 0xFF data byte, any
// other Telnet command (two bytes, or a subnegotiation up to IAC SE) is
// consumed without effect, and a line longer than max_line bytes ends the
// session with failure instead of growing without bound.
//
// Threads: process_in and process_cmd run on the session's thread under its
// lock. cmd runs on the owner's thread; it takes the session list lock and
// the session lock, so it must not be called from within process_cmd.
#pragma once

#include <cstdint>

#include "net/kv_comm.h"
#include "net/kv_session.h"

class KV_TelnetSess : public KV_Session
{
public:
    // The longest line accepted, in bytes without its line end.
    static constexpr uint32_t max_line = 65536;

    KV_TelnetSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr);

    KV_SESS_TYPE type() const override;

protected:
    // Telnet refusals and line assembly, repeated while lines complete.
    bool process_in(KV_Stream& in, KV_Stream& out) override;
    // True.
    bool process_idle(KV_Stream& out) override;
    // Called for each complete non-empty line (in `line`), with done true.
    // Leaving done true consumes the line; setting it false keeps the line,
    // which is offered again at once. False ends the session (the line is
    // still consumed when done is true). This class: true.
    virtual bool process_cmd(bool& done);

    // The line in `line` is complete and waits for process_cmd.
    bool line_done = false;
    // The line being assembled or waiting, without its line end.
    KV_String line;

private:
    // Consumes bytes from the front of in until it is empty, a complete line
    // waits, or a Telnet sequence is incomplete.
    bool consume(KV_Stream& in, KV_Stream& out);

    // Inside a subnegotiation (IAC SB ... IAC SE): bytes are dropped.
    bool subneg = false;
};

class KV_TelnetMan : public KV_Connector
{
public:
    KV_TelnetMan() = default;
    // close_sessions().
    ~KV_TelnetMan() override;

    // A KV_TelnetSess of this connection.
    KV_Session* create_session(KV_Socket& sock, const KV_InetAddr& addr) override;
    // Logs `log` (or cmd when log is null) as a sent line, then sends cmd
    // followed by CR LF. The log text lets a caller hide a secret the command
    // carries. A command is logged even when it cannot be sent. A command
    // holding a CR or LF is not sent (false): it would smuggle a second
    // command to the server. Without a session nothing is sent and the
    // result is true.
    virtual bool cmd(const char* cmd, const char* log);

    // connect(local, dst with port 23 when its port is 0, proxy).
    bool open(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy);
};
