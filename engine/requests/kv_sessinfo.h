// What the user interface learns about network sessions: the state of one
// session (or of all sessions together) and one line of a session's log.
// Both travel in KV_MsgSessNtf and KV_MsgSessLog, declared at the end of this file.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "foundation/kv_msg.h"
#include "foundation/kv_string.h"

// Kind of a session (KV_Session::type).
enum KV_SESS_TYPE : uint32_t {
    KV_SESS_TYPE_PLAIN = 0,
    KV_SESS_TYPE_TELNET = 1, // line command session
    KV_SESS_TYPE_FTP_CTRL = 2,
    KV_SESS_TYPE_FTP_DATA = 3,
    KV_SESS_TYPE_HTTP = 4,
    KV_SESS_TYPE_SSH = 5,
};

// Kind of a session log line.
enum KV_SESS_LOG : uint32_t {
    KV_SESS_LOG_SENT = 1,   // a line sent (commands, proxy requests)
    KV_SESS_LOG_RECV = 2,   // a line received (replies, proxy replies)
    KV_SESS_LOG_NOTICE = 3, // a connection state ("FIN received", ...)
    // An idle connection wants a keep-alive: the pool manager queues a Keep
    // alive request for that worker.
    KV_SESS_LOG_KEEP_ALIVE = 4,
};

// The state of one session, or of all sessions together, for display.
class KV_SessInfo
{
public:
    // Everything zero: no bytes, no speed, plain session, neither running nor
    // failed.
    KV_SessInfo() = default;
    KV_SessInfo(const KV_SessInfo&) = default;
    KV_SessInfo& operator=(const KV_SessInfo&) = default;

    // All six fields equal, the speeds compared as doubles.
    bool operator==(const KV_SessInfo& other) const = default;

    uint64_t bytes_recv() const { return bytes_recv_; }
    void set_bytes_recv(uint64_t bytes) { bytes_recv_ = bytes; }
    uint64_t bytes_sent() const { return bytes_sent_; }
    void set_bytes_sent(uint64_t bytes) { bytes_sent_ = bytes; }
    // Bytes per second.
    double speed_recv() const { return speed_recv_; }
    void set_speed_recv(double speed) { speed_recv_ = speed; }
    double speed_send() const { return speed_send_; }
    void set_speed_send(double speed) { speed_send_ = speed; }
    KV_SESS_TYPE type() const { return type_; }
    void set_type(KV_SESS_TYPE type) { type_ = type; }

    // Flag bit 0: the session runs.
    bool running() const { return (flags_ & FLAG_RUN) != 0; }
    void set_run(bool run) { set_flag(FLAG_RUN, run); }
    // Flag bit 1: the session ended on a failure.
    bool error() const { return (flags_ & FLAG_ERR) != 0; }
    void set_err(bool err) { set_flag(FLAG_ERR, err); }

private:
    static constexpr uint8_t FLAG_RUN = 1;
    static constexpr uint8_t FLAG_ERR = 2;

    void set_flag(uint8_t bit, bool on)
    {
        flags_ = static_cast<uint8_t>(on ? flags_ | bit : flags_ & ~bit);
    }

    uint64_t bytes_recv_ = 0;
    uint64_t bytes_sent_ = 0;
    double speed_recv_ = 0;
    double speed_send_ = 0;
    KV_SESS_TYPE type_ = KV_SESS_TYPE_PLAIN;
    uint8_t flags_ = 0;
};

// One line of a session log.
class KV_SessLogInfo
{
public:
    // Kind 0, empty text, no error.
    KV_SessLogInfo() = default;
    // `err`: the logged step failed.
    KV_SessLogInfo(KV_SESS_LOG kind, const KV_String& text, bool err)
        : kind_(kind), text_(text), err_(err)
    {
    }
    KV_SessLogInfo(const KV_SessLogInfo&) = default;
    KV_SessLogInfo& operator=(const KV_SessLogInfo&) = default;

    // Lines carry no identity or order: lists of them are appended to and
    // walked, never searched or sorted, so both comparisons answer false.
    bool operator==(const KV_SessLogInfo&) const { return false; }
    bool operator<(const KV_SessLogInfo&) const { return false; }

    KV_SESS_LOG kind() const { return kind_; }
    const KV_String& text() const { return text_; }
    bool err() const { return err_; }

private:
    KV_SESS_LOG kind_ = static_cast<KV_SESS_LOG>(0);
    KV_String text_;
    bool err_ = false;
};

// The state of a worker's session; tavo_id 0 for all sessions together.
class KV_MsgSessNtf : public KV_Msg
{
public:
    KV_MsgSessNtf(uint32_t tavo_id, const KV_SessInfo& info) : tavo_id(tavo_id), info(info) {}
    KV_MSG type() const override { return KV_MSG_SESS; }

    uint32_t tavo_id;
    KV_SessInfo info;
};

// One line of a worker's session log.
class KV_MsgSessLog : public KV_Msg
{
public:
    KV_MsgSessLog(uint32_t tavo_id, const KV_SessLogInfo& info) : tavo_id(tavo_id), info(info) {}
    KV_MSG type() const override { return KV_MSG_SESS_LOG; }

    uint32_t tavo_id;
    KV_SessLogInfo info;
};
