// The session of an HTTP connection: reads the response head into the
// manager's response state, hands the body to the current action, and in
// its idle passes asks the action for request body bytes.
//
// Everything that comes from the server is checked before use: the status
// line and the header values are read with a strict tokenizer, a line longer
// than max_line or a head (interim heads included) of more than
// max_head_lines lines fails the response and ends the session, and a
// length that is negative or not a number fails the response.
//
// Threads: the hooks run on the session's thread under the session lock; the
// parse helpers are plain functions for any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "datasources/kv_httpver.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "http/kv_httptypes.h"
#include "net/kv_session.h"

class KV_HttpMan;

class KV_HttpSess : public KV_Session
{
public:
    // The longest response line taken, in bytes without its line end.
    static constexpr uint32_t max_line = 65536;
    // The most lines a response head may have, its status line, its empty
    // last line and the lines of interim heads before it included.
    static constexpr uint32_t max_head_lines = 100;
    static constexpr const char* line_too_long_msg =
        "Response header line longer than 65536 bytes.";
    static constexpr const char* head_too_long_msg = "Response head longer than 100 lines.";
    // The longest reason phrase kept.
    static constexpr uint32_t max_reason = 4095;

    // man: not owned; without one the session does nothing.
    KV_HttpSess(KV_HttpMan* man, KV_Socket& sock, const KV_InetAddr& addr);
    ~KV_HttpSess() override;

    KV_SESS_TYPE type() const override;

    // "HTTP/<major>.<minor> <code>[ <reason>]": both numbers and the code
    // decimal digits only; the reason may be missing or empty and is cut at
    // max_reason bytes. False for anything else.
    static bool parse_status(const KV_String& line, KV_HttpVer& ver, uint32_t& code,
                             KV_String& reason);
    // A Content-Length value: decimal digits only, no sign, at most
    // INT64_MAX.
    static bool parse_length(const KV_String& text, int64_t& length);
    // A Content-Range value "bytes <from>-<to>/<total or *>": from and to
    // (inclusive); false when it does not read so or to < from.
    static bool parse_range(const KV_String& text, int64_t& from, int64_t& to);

    // One line of the response head (without its line end).
    bool process_hdr(const KV_String& line);

protected:
    bool init_secured() override;
    bool process_in(KV_Stream& in, KV_Stream& out) override;
    bool process_out(KV_Stream& out) override;
    bool process_idle(KV_Stream& out) override;
    bool postcleanup(bool ok) override;

private:
    bool process_sess_in(KV_HTTP_SESS_IN in, KV_Stream& out);
    // Fails the response with msg (logged as an error); false.
    bool refuse_head(const char* msg);

    bool line_done = false;
    // Lines of the head being read.
    uint32_t head_lines = 0;
    KV_HttpMan* const man;
    std::unique_ptr<char[]> reason;
    KV_String line;
};
