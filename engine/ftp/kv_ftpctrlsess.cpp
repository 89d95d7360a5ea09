#include "ftp/kv_ftpctrlsess.h"

#include <cctype>
#include <new>

#include "foundation/kv_msg.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_ws(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Six numbers of at most 255 separated by commas, blanks allowed before each
// number; what follows the sixth is not looked at.
bool six(const char* p, const char* e, uint32_t v[6])
{
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (p >= e || *p != ',')
                return false;
            ++p;
        }
        while (p < e && is_ws(*p))
            ++p;
        const char* b = p;
        uint32_t n = 0;
        while (p < e && is_digit(*p) && p - b < 4)
            n = n * 10 + static_cast<uint32_t>(*p++ - '0');
        if (p == b || n > 255 || (p < e && is_digit(*p)))
            return false;
        v[i] = n;
    }
    return true;
}

bool quoted(const KV_String& text, char q, KV_String& out)
{
    uint32_t a = 0, b = 0;
    if (!text.contains(q, 0, &a) || !text.contains(q, a + 1, &b))
        return false;
    out = text.part(a + 1, b).trim();
    return true;
}

} // namespace

KV_FtpReplyReader::Result KV_FtpReplyReader::feed(const KV_String& line, uint32_t& code,
                                                  KV_String& text, KV_String& err)
{
    if (line.length() > max_text + 3) {
        err = "Reply line too long.";
        return Fault;
    }
    const char* p = line.data();
    const bool coded =
        line.length() >= 4 && p[0] >= '1' && p[0] <= '5' && is_digit(p[1]) && is_digit(p[2]);
    const uint32_t c =
        coded ? static_cast<uint32_t>((p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0')) : 0;
    const char sep = coded ? p[3] : 0;
    if (open_code != 0) {
        if (c == open_code && is_ws(sep)) {
            reset();
            code = c;
            text = line.part(4, line.length()).trim();
            return Reply;
        }
        if (++lines > max_lines) {
            err = "Reply too long.";
            return Fault;
        }
        return Text;
    }
    if (!coded)
        return Text;
    if (sep == '-') {
        open_code = c;
        lines = 1;
        return Text;
    }
    if (!is_ws(sep))
        return Text;
    code = c;
    text = line.part(4, line.length()).trim();
    return Reply;
}

bool KV_FtpReplyReader::parse_pasv(const KV_String& text, KV_InetAddr& addr)
{
    uint32_t v[6] = {};
    const char* p = text.data();
    const char* e = p + text.length();
    uint32_t open = 0;
    bool ok = text.contains('(', 0, &open) && open > 0 && six(p + open + 1, e, v);
    if (!ok) {
        const char* b = p;
        while (b < e && !is_digit(*b))
            ++b;
        const char* l = e;
        while (l > b && !is_digit(l[-1]))
            --l;
        ok = b < l && six(b, l, v);
    }
    if (!ok)
        return false;
    KV_String host;
    if (!host.format("%u.%u.%u.%u", v[0], v[1], v[2], v[3]))
        return false;
    KV_InetAddr a;
    if (!a.set_addr(host))
        return false;
    a.set_port(KV_Port(static_cast<uint8_t>(v[4]), static_cast<uint8_t>(v[5])));
    addr = a;
    return true;
}

bool KV_FtpReplyReader::parse_dir(const KV_String& text, KV_String& dir)
{
    return quoted(text, '"', dir) || quoted(text, '\'', dir);
}

KV_FtpCtrlSess::KV_FtpCtrlSess(KV_CommBase* comm, KV_Socket& sock, const KV_InetAddr& addr,
                               KV_FtpMan* ftp)
    : KV_TelnetSess(comm, sock, addr), ftp(ftp)
{
    info_mask = 1;
    // A session of an earlier control connection is no use to the data
    // connections of this one.
    if (ftp) {
        ftp->tls_resume().clear();
        ssl.set_keep(&ftp->tls_resume());
    }
}

bool KV_FtpCtrlSess::process_cmd(bool&)
{
    if (!ftp)
        return false;
    log(KV_SESS_LOG_RECV, line, false);
    uint32_t code = 0;
    KV_String text, err;
    bool ok = true;
    switch (reader.feed(line, code, text, err)) {
    case KV_FtpReplyReader::Reply:
        ok = on_reply(code, text);
        break;
    case KV_FtpReplyReader::Fault:
        log(KV_SESS_LOG_NOTICE, err, true);
        ftp->set_err_msg(err);
        ftp->set_response(err, false, false);
        ok = false;
        break;
    case KV_FtpReplyReader::Text:
        break;
    }
    if (ftp->keep_alive_int() != 0)
        ftp->reset_last_act();
    return ok;
}

bool KV_FtpCtrlSess::on_reply(uint32_t code, const KV_String& text)
{
    bool success = true;
    bool record = true;
    bool ok = true;
    // The transfer's end and acknowledgment are told after the reply is
    // recorded: the worker that they wake goes on to its next command at
    // once, and a late record would answer that command in its place.
    bool ended = false;
    bool acked = false;
    switch (code) {
    case 150:
        break;
    case 202:
        success = false;
        break;
    case 220:
        ftp->set_response(text, true, false);
        ftp->set_welcome();
        record = false;
        break;
    case 226:
        if (ftp->data_conn() || ftp->trans_direct()) {
            ended = ftp->trans_fast_end();
            acked = true;
        } else {
            record = false;
        }
        break;
    case 227: {
        KV_InetAddr a;
        ok = KV_FtpReplyReader::parse_pasv(text, a);
        if (ok)
            ftp->set_passive(a);
        else
            success = false;
        break;
    }
    case 230:
        // The login state moves before the reply wakes the command's waiter:
        // a worker that looks at the state right after its command (the
        // proxy's USER line) would otherwise still see the old one and send
        // USER a second time.
        ftp->set_login_stat(KV_FTP_LOGIN_OK);
        ftp->set_response(text, true, false);
        record = false;
        break;
    case 250:
        if (ftp->act_trans() && ftp->serv && ftp->serv->acks_trans(250)) {
            if (ftp->data_conn())
                acked = true;
            else
                record = false;
        }
        break;
    case 257: {
        KV_String dir;
        if (KV_FtpReplyReader::parse_dir(text, dir))
            ftp->set_curr_dir(dir);
        break;
    }
    case 331:
    case 332:
        ftp->set_login_stat(code == 331 ? KV_FTP_LOGIN_PASS : KV_FTP_LOGIN_ACCT);
        ftp->set_response(text, true, false);
        record = false;
        break;
    case 530:
        ftp->set_login_stat(KV_FTP_LOGIN_REFUSED);
        stop(KV_STOP_TERMINATE);
        success = false;
        break;
    default:
        success = code < 400;
        break;
    }
    if (!success)
        ftp->set_err_msg(text);
    if (record)
        ftp->set_response(text, success, false);
    if (ended)
        ftp->set_trans_stat(KV_FTP_TRANS_ENDED);
    if (acked)
        ftp->set_trans_stat(KV_FTP_TRANS_ACKED);
    return ok;
}

bool KV_FtpCtrlSess::init_secured()
{
    const bool r = KV_TelnetSess::init_secured();
    if (!r && ftp) {
        if (ssl.last_err().empty())
            ftp->set_err_msg("SSL negotiation failed.");
        else
            ftp->set_err_msg(KV_String::format_impl("%s ( %s )", "SSL negotiation failed.",
                                                    ssl.last_err().data()));
    }
    return r;
}

bool KV_FtpCtrlSess::process_idle(KV_Stream& out)
{
    if (comm() && ftp && ftp->keep_alive_int() != 0) {
        const int64_t k = ftp->keep_alive_int();
        if (ftp->idle_ms() > k * 1000) {
            ftp->reset_last_act();
            log(KV_SESS_LOG_KEEP_ALIVE, "\"Keep alive\" interval elapsed.", false);
        }
    }
    return KV_TelnetSess::process_idle(out);
}

bool KV_FtpCtrlSess::cleanup(bool)
{
    if (ftp) {
        ftp->set_login_stat(KV_FTP_LOGIN_WAIT);
        ftp->set_response(KV_String(), false, true);
    }
    return true;
}
