// The login, connection and simple command actions.
#include <cwctype>

#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpman.h"
#include "ftp/kv_ftpserver.h"
#include "requests/kv_fileman.h"

namespace {

// Runs sub as a step of parent and folds its outcome into parent.
bool step(KV_FtpAct& parent, KV_FtpAct& sub)
{
    const bool r = sub.exec(&parent);
    parent.set_executed(r && sub.executed());
    parent.set_timed_out(sub.timed_out());
    return r;
}

} // namespace

bool KV_FtpActLogin::run()
{
    bool result = true;
    bool finished = false;
    KV_FtpMan& f = ftp();
    while (result && !finished && executed() && !f.stopped()) {
        const KV_FTP_LOGIN state = f.login_stat();
        switch (state) {
        case KV_FTP_LOGIN_OK:
            finished = true;
            break;
        case KV_FTP_LOGIN_REFUSED:
            set_executed(false);
            break;
        case KV_FTP_LOGIN_PASS: {
            KV_FtpActPass a(proxy ? ldata.pass() : ldata.pass(f.file_man()));
            result = step(*this, a);
            break;
        }
        case KV_FTP_LOGIN_ACCT: {
            KV_FtpActAcct a(ldata.acct());
            result = step(*this, a);
            break;
        }
        case KV_FTP_LOGIN_WAIT: {
            KV_FtpActUser a(ldata.user());
            result = step(*this, a);
            break;
        }
        }
        finished = finished || !f.connected() || !f.response(false);
        if (!finished && executed() && f.wait_login_stat(state) && !f.stopped() &&
            f.login_stat() == state) {
            set_timed_out(true);
            set_executed(false);
            f.set_err_msg("Login timed out.");
        }
    }
    return result;
}

bool KV_FtpActUser::run()
{
    return cmd_required("USER", name, "User name not specified.");
}

bool KV_FtpActPass::run()
{
    return cmd_required("PASS", pass, "Password not specified.", "PASS ******");
}

bool KV_FtpActPbSz::run()
{
    return cmd("PBSZ 0");
}

bool KV_FtpActProt::run()
{
    return cmd("PROT P");
}

bool KV_FtpActProxyConn::run()
{
    const KV_String& dst = ftp().dst_addr();
    const KV_String& user = ftp().ldata().user();
    if (!check_arg(dst) || !check_arg(user))
        return false;
    uint32_t colon = 0;
    switch (ftp().proxy_type()) {
    case KV_PROXY_FTP_SITE:
        return cmd_arg("SITE", dst);
    case KV_PROXY_FTP_OPEN:
        return cmd_arg("OPEN", dst);
    case KV_PROXY_FTP_USER_PORT:
        if (dst.contains(':', 0, &colon))
            return cmd(KV_String::format_impl("%s %s@%s %s", "USER", user.data(),
                                              dst.part(0, colon).trim().data(),
                                              dst.part(colon + 1, dst.length()).trim().data()));
        [[fallthrough]];
    case KV_PROXY_FTP_USER:
        return cmd(KV_String::format_impl("%s %s@%s", "USER", user.data(), dst.data()));
    default:
        return false;
    }
}

bool KV_FtpActPasv::run()
{
    return cmd("PASV");
}

bool KV_FtpActPort::run()
{
    text = addr.as_str(KV_IADDR_FTP);
    return cmd_arg("PORT", text);
}

bool KV_FtpActMkDir::run()
{
    return cmd_arg("MKD", dir);
}

bool KV_FtpActAcct::run()
{
    return cmd_required("ACCT", acct, "Account not specified.");
}

bool KV_FtpActAuth::run()
{
    return cmd("AUTH SSL");
}

bool KV_FtpActCd::run()
{
    KV_String p(path);
    if (!ftp().serv || !ftp().serv->path_to_serv(p, false))
        return false;
    return cmd_arg("CWD", p);
}

bool KV_FtpActChmod::run()
{
    if (!check_arg(access) || !check_arg(path))
        return false;
    return cmd(KV_String::format_impl("%s %s %s %s", "SITE", "CHMOD", access.data(), path.data()));
}

bool KV_FtpActConnMan::run()
{
    if (command == 1 && !ftp().new_conn()) {
        switch (ftp().opts().keep_alive_cmd()) {
        case KV_FTP_KA_NOOP:
            return cmd("NOOP");
        case KV_FTP_KA_PWD:
            return cmd("PWD");
        default:
            return false;
        }
    }
    // The connection check of exec was the whole job.
    set_force_executed();
    return true;
}

bool KV_FtpActDel::run()
{
    KV_String p(path);
    if (!ftp().serv || !ftp().serv->path_to_serv(p, true))
        return false;
    return cmd_arg("DELE", p);
}

bool KV_FtpActPwd::run()
{
    ftp().reset_curr_dir();
    const bool r = cmd("PWD");
    if (r) {
        set_timed_out(ftp().wait_new_dir());
        set_executed(ftp().connected() && ftp().response(false) && !timed_out());
    }
    return r;
}

bool KV_FtpActRen::run()
{
    KV_String f(from), t(to);
    if (!ftp().serv || !ftp().serv->path_to_serv(f, true) || !ftp().serv->path_to_serv(t, true))
        return false;
    // Both names are checked before RNFR: a refused RNTO would leave the
    // server waiting with a pending rename.
    if (!check_arg(f) || !check_arg(t))
        return false;
    bool r = cmd_arg("RNFR", f);
    if (r && executed())
        r = cmd_arg("RNTO", t);
    return r;
}

bool KV_FtpActRest::run()
{
    return cmd(KV_String::format_impl("%s %lld", "REST", static_cast<long long>(offset)));
}

bool KV_FtpActRmDir::run()
{
    return cmd_arg("RMD", path);
}

KV_FTP_SERV_TYPE KV_FtpActSyst::type_of(const KV_String& text)
{
    static const struct
    {
        const char* word;
        KV_FTP_SERV_TYPE type;
    } words[] = {
        {"NETWARE", KV_FTP_SERV_NETWARE}, {"UNIX", KV_FTP_SERV_UNIX},
        {"VM", KV_FTP_SERV_VM},           {"OPENVMS", KV_FTP_SERV_VMS},
        {"VMS", KV_FTP_SERV_VMS},         {"WINDOWS_NT", KV_FTP_SERV_WINNT},
        {"WINDOWSNT", KV_FTP_SERV_WINNT}, {"WINNT", KV_FTP_SERV_WINNT},
    };
    KV_FTP_SERV_TYPE t = KV_FTP_SERV_UNKNOWN;
    uint32_t from = 0;
    // The end of the text ends the last word too: "215 Windows_NT" names
    // the server by its only word.
    for (uint32_t i = 0; i <= text.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text.data(i));
        if (i < text.length() && (std::iswalnum(c) || c == '_'))
            continue;
        const KV_String tok = text.part(from, i).trim();
        from = i + 1;
        for (const auto& w : words) {
            if (!tok.empty() && tok.compare(w.word, false) == 0)
                t = w.type;
        }
    }
    return t == KV_FTP_SERV_UNKNOWN ? KV_FTP_SERV_GENERIC : t;
}

bool KV_FtpActSyst::run()
{
    const bool r = cmd("SYST");
    if (!r || !executed())
        return r;
    type = type_of(ftp().last_resp());
    return r;
}

bool KV_FtpActType::run()
{
    switch (mode) {
    case KV_TRANS_MODE_BINARY:
        return cmd("TYPE I");
    case KV_TRANS_MODE_ASCII:
        return cmd("TYPE A");
    default:
        return false;
    }
}

bool KV_FtpActUsrDef::run()
{
    if (text.empty())
        return false;
    return cmd(text);
}
