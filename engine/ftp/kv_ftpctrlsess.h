// The FTP control session: reads the server's replies and turns each into a
// state change of the FTP manager (the answer a command waits for, the login
// state, the welcome, the passive address, the current directory, the end of
// a transfer).
//
// KV_FtpReplyReader is the part that meets the network: it takes the lines
// the line session assembles and says which of them end a reply. A reply is
// three digits (first digit 1 to 5) and a blank; a reply opened by "xyz-"
// ends only at a line beginning "xyz " (RFC 959), so lines of digits inside
// it are text. Lines longer than max_text, and multi-line replies of more
// than max_lines lines, are refused: the session ends rather than waiting for
// an end that a hostile server never sends.
//
// Threads: the session runs on its own thread; everything it changes in the
// manager goes through the manager's locked setters and events.
#pragma once

#include <cstdint>

#include "foundation/kv_inetaddr.h"
#include "foundation/kv_string.h"
#include "net/kv_telnet.h"

class KV_FtpMan;

class KV_FtpReplyReader
{
public:
    // Longest reply line (after the code) and most lines of one reply.
    static constexpr uint32_t max_text = 4095;
    static constexpr uint32_t max_lines = 1000;

    enum Result {
        Text,  // no reply (yet): a continuation or opening line, or no code
        Reply, // a complete reply: code and text are set
        Fault, // the server broke the limits; err says how
    };

    Result feed(const KV_String& line, uint32_t& code, KV_String& text, KV_String& err);
    void reset()
    {
        open_code = 0;
        lines = 0;
    }

    // The data address of a 227 reply: "(h1,h2,h3,h4,p1,p2)", or the six
    // numbers anywhere in the text; each at most 255.
    static bool parse_pasv(const KV_String& text, KV_InetAddr& addr);
    // The directory of a 257 reply: between the first pair of double quotes,
    // else of single quotes; trimmed.
    static bool parse_dir(const KV_String& text, KV_String& dir);

private:
    // The code of the multi-line reply being read; 0 outside one.
    uint32_t open_code = 0;
    uint32_t lines = 0;
};

class KV_FtpCtrlSess : public KV_TelnetSess
{
public:
    KV_FtpCtrlSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr, KV_FtpMan* ftp);

    KV_SESS_TYPE type() const override { return KV_SESS_TYPE_FTP_CTRL; }

protected:
    bool init_secured() override;
    bool process_idle(KV_Stream& out) override;
    bool cleanup(bool ok) override;
    bool process_cmd(bool& done) override;

private:
    // Acts on one complete reply; false ends the session.
    bool on_reply(uint32_t code, const KV_String& text);

    KV_FtpMan* const ftp;
    KV_FtpReplyReader reader;
};
