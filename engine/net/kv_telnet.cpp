#include "net/kv_telnet.h"

#include <new>

namespace {

// Telnet bytes (RFC 854).
constexpr uint8_t IAC = 0xFF;
constexpr uint8_t DONT = 0xFE;
constexpr uint8_t DO = 0xFD;
constexpr uint8_t WONT = 0xFC;
constexpr uint8_t WILL = 0xFB;
constexpr uint8_t SB = 0xFA;
constexpr uint8_t SE = 0xF0;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

} // namespace

KV_TelnetSess::KV_TelnetSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr)
    : KV_Session(comm, sock, addr)
{
}

KV_SESS_TYPE KV_TelnetSess::type() const
{
    return KV_SESS_TYPE_TELNET;
}

bool KV_TelnetSess::process_idle(KV_Stream&)
{
    return true;
}

bool KV_TelnetSess::process_cmd(bool&)
{
    return true;
}

bool KV_TelnetSess::process_in(KV_Stream& in, KV_Stream& out)
{
    bool ok = true;
    bool completed;
    do {
        completed = false;
        ok = consume(in, out);
        if (ok && line_done) {
            bool done = true;
            if (!line.empty())
                ok = process_cmd(done);
            if (done) {
                line_done = false;
                line.clear();
            }
            completed = true;
        }
    } while (ok && completed);
    return ok;
}

bool KV_TelnetSess::consume(KV_Stream& in, KV_Stream& out)
{
    const uint8_t* p = in;
    const uint32_t len = in.length();
    uint32_t i = 0;
    bool ok = true;
    bool too_long = false;
    while (ok && i < len) {
        const uint8_t b = p[i];
        if (subneg) {
            // Everything up to IAC SE belongs to the subnegotiation; IAC IAC
            // inside it is a data byte of it.
            if (b != IAC) {
                ++i;
                continue;
            }
            if (len - i < 2)
                break;
            if (p[i + 1] == SE)
                subneg = false;
            i += 2;
            continue;
        }
        if (b == IAC) {
            if (len - i < 2)
                break;
            const uint8_t c = p[i + 1];
            if (c == IAC) {
                // An escaped 0xFF data byte.
                if (line_done)
                    break;
                if (line.length() >= max_line) {
                    ok = false;
                    too_long = true;
                    break;
                }
                line += static_cast<char>(0xFF);
                i += 2;
                continue;
            }
            // WILL, WONT, DO, DONT
            if (c >= WILL) {
                if (len - i < 3)
                    break;
                // Every option stays off on both sides, so only an offer
                // (WILL) or a request (DO) asks for a change: it is refused
                // with DONT or WONT. WONT and DONT confirm the state the
                // option is in and get no answer (RFC 1143): answering them
                // would loop for ever with a peer that does the same.
                if (c == WILL || c == DO) {
                    const uint8_t answer[3] = {IAC, c == WILL ? DONT : WONT, p[i + 2]};
                    ok = out.append(answer, 3);
                }
                if (ok)
                    i += 3;
                continue;
            }
            if (c == SB)
                subneg = true;
            // Any other command (NOP, GA, DM, ...) or an invalid byte after
            // IAC: two bytes without effect.
            i += 2;
            continue;
        }
        if (line_done)
            break;
        if (b == CR || b == LF) {
            line_done = true;
            ++i;
            continue;
        }
        // A run of plain bytes goes into the line in one append.
        uint32_t j = i + 1;
        while (j < len && p[j] != IAC && p[j] != CR && p[j] != LF)
            ++j;
        if (j - i > max_line - line.length()) {
            ok = false;
            too_long = true;
            break;
        }
        ok = line.append(p + i, j - i);
        if (ok)
            i = j;
    }
    if (i > 0 && !in.remove(i))
        return false;
    if (too_long)
        log(KV_SESS_LOG_NOTICE, "Line too long", true);
    return ok;
}

KV_TelnetMan::~KV_TelnetMan()
{
    close_sessions();
}

KV_Session* KV_TelnetMan::create_session(KV_Socket& sock, const KV_InetAddr& addr)
{
    return new (std::nothrow) KV_TelnetSess(this, sock, addr);
}

bool KV_TelnetMan::cmd(const char* cmd, const char* log_text)
{
    if (informer())
        log(KV_SESS_LOG_SENT, log_text ? log_text : cmd, false);
    // A CR or LF inside the command (from a file name, say) would let the
    // rest be read by the server as a command of its own.
    for (const char* c = cmd; c && *c; ++c) {
        if (*c == '\r' || *c == '\n')
            return false;
    }
    KV_String line(cmd);
    if (!line.append("\r\n"))
        return false;
    return send_str(line.data());
}

bool KV_TelnetMan::open(KV_InetAddr& local, const KV_InetAddr& dst, KV_Proxy* proxy)
{
    KV_InetAddr to(dst);
    if (to.port() == 0)
        to.set_port(23);
    return connect(local, to, proxy);
}
