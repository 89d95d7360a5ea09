#include "ftp/kv_tavoftp.h"

#include <mutex>
#include <new>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpacttrans.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqcopy.h"

namespace {

// Swallows the errors of an attempt whose failure the caller handles itself.
class QuietErr : public KV_ErrHandler
{
public:
    void process_err(uint8_t, const KV_String&) override {}
};

} // namespace

KV_TavoFtp::KV_TavoFtp(KV_Informer& informer) : KV_Tavo(informer)
{
    // A stop of the request stops the connection's waits, not the worker.
    ftp_.set_stop_type(KV_STOP_TERMINATE);
}

KV_TavoFtp::~KV_TavoFtp()
{
    wait_term();
    ftp_.close();
}

void KV_TavoFtp::set_opts(const KV_FileManFtpOpts& opts)
{
    opts_ = opts;
    ftp_.set_opts(opts_.ftp());
}

bool KV_TavoFtp::dtrans_busy() const
{
    std::lock_guard<KV_Lock> g(lock_w);
    return dtrans_busy_;
}

void KV_TavoFtp::set_dtrans_busy(bool b)
{
    bool wake = false;
    {
        std::lock_guard<KV_Lock> g(lock_w);
        if (b == dtrans_busy_)
            return;
        dtrans_busy_ = b;
        wake = !b;
    }
    if (b) {
        informer().send(new (std::nothrow)
                            KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(), "Busy", KV_String()));
    } else if (wake && ftp_.file_man() != nullptr) {
        ftp_.file_man()->req_proc();
    }
}

void KV_TavoFtp::set_id(uint32_t id)
{
    KV_Tavo::set_id(id);
    ftp_.set_tavo_id(id);
}

bool KV_TavoFtp::busy(const KV_FileReq* r)
{
    if (KV_Tavo::busy(r))
        return true;
    if (!dtrans_busy())
        return false;
    return r == nullptr || r->type() != KV_REQ_TYPE_DTRANS || r->spec_tavo() != id();
}

bool KV_TavoFtp::conn_lost() const
{
    const bool up = ftp_.connected() && ftp_.login_stat() == KV_FTP_LOGIN_OK;
    const KV_FileMan* fm = ftp_.file_man();
    return !up && (fm == nullptr || !fm->dead());
}

void KV_TavoFtp::req_executed(bool executed)
{
    KV_Tavo::req_executed(executed);
    const bool lost = conn_lost();
    if (lost)
        set_used(false);
    KV_FileReq* r = req();
    if (executed && r != nullptr && !r->stopped() && !r->executed() && !r->paused() &&
        r->can_retry() && lost)
        set_final_status(KV_REQ_STAT_RESTARTING);
}

bool KV_TavoFtp::path_text(const KV_PathDef& path, KV_String& text) const
{
    text.clear();
    return opts_.man_path().build_path(text, path, false, 0) && !text.empty();
}

void KV_TavoFtp::status(const KV_String& text)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(), text, KV_String()));
}

bool KV_TavoFtp::run_act(KV_FileReq& r, KV_FtpAct& act)
{
    const bool res = ftp_.exec(r.eh(), act, &r);
    r.set_executed(act.executed());
    return res;
}

KV_String KV_TavoFtp::end_err(KV_FileReq&)
{
    return ftp_.err_msg();
}

void KV_TavoFtp::end_notice(const KV_FileReq& r, const KV_String& err)
{
    if (!dtrans_busy())
        KV_Tavo::end_notice(r, err);
}

bool KV_TavoFtp::do_mkdir(KV_FileReqMkDir& r)
{
    KV_String path;
    if (!path_text(r.path(), path))
        return false;
    status(KV_String("MKDIR ") + path);
    KV_FtpActMkDir act(path);
    return run_act(r, act);
}

bool KV_TavoFtp::do_chmod(KV_FileReqChmod& r)
{
    KV_String path;
    if (!path_text(r.path(), path))
        return false;
    status(KV_String("CHMOD ") + path);
    KV_FtpActChmod act(path, r.accf());
    return run_act(r, act);
}

bool KV_TavoFtp::do_rm(KV_FileReqRm& r)
{
    KV_String path;
    if (!path_text(r.path(), path))
        return false;
    if (r.path().is_dir()) {
        status(KV_String("RMDIR ") + path);
        KV_FtpActRmDir act(path);
        return run_act(r, act);
    }
    status(KV_String("DEL ") + path);
    KV_FtpActDel act(path);
    return run_act(r, act);
}

bool KV_TavoFtp::do_ren(KV_FileReqRen& r)
{
    KV_String from;
    KV_String to;
    if (!path_text(r.path_src(), from) || !path_text(r.path_dst(), to))
        return false;
    status(KV_String("RENAME ") + from + " -> " + to);
    if (!r.dst_exists()) {
        KV_FtpActRen act(from, to);
        return run_act(r, act);
    }
    // Replacing a target: most servers rename over an existing file; try
    // that first, quietly, since a refusal is handled here.
    QuietErr quiet;
    KV_FtpActRen direct(from, to);
    bool res = ftp_.exec(quiet, direct, &r);
    // A folder is never moved aside: it could not be deleted afterwards as
    // a file is.
    if (!res || direct.executed() || r.stopped() || conn_lost() || r.dir()) {
        r.set_executed(direct.executed());
        if (!direct.executed() && !r.stopped() && res && !ftp_.err_msg().empty())
            r.eh().set_err(1, "FTP: %s", ftp_.err_msg().data());
        return res;
    }
    // The server keeps existing targets. The target is moved aside rather
    // than deleted, so that it is restored when the rename still fails; it
    // is deleted only once the rename is done.
    KV_PathDef aside_path(r.path_dst());
    KV_String aside;
    res = aside_path.remove_last() &&
          aside_path.append(r.path_dst().last() + ".kvold~" + KV_String::format_impl("%u", id())) &&
          path_text(aside_path, aside);
    if (!res)
        return false;
    KV_FtpActRen away(to, aside);
    res = run_act(r, away);
    if (!res || !r.executed())
        return res;
    KV_FtpActRen act(from, to);
    res = run_act(r, act);
    if (res && act.executed()) {
        status(KV_String("DEL ") + aside);
        KV_FtpActDel del(aside);
        return run_act(r, del);
    }
    // Put the target back where it was; the rename's failure stays the
    // request's outcome.
    KV_FtpActRen back(aside, to);
    ftp_.exec(r.eh(), back, nullptr);
    return res;
}

bool KV_TavoFtp::do_pwd(KV_FileReqPwd& r)
{
    const KV_PathMan& syntax = opts_.man_path();
    bool res = true;
    if (!r.def_path().empty()) {
        status(KV_String("CWD ") + r.def_path());
        KV_FtpActCd cd(syntax.compl_dir(r.def_path()));
        // A start folder that does not exist is no error: the server's
        // current folder is reported instead.
        QuietErr quiet;
        res = ftp_.exec(quiet, cd, &r);
        r.set_executed(res && !conn_lost());
    }
    if (!r.executed())
        return res;
    status("PWD");
    KV_FtpActPwd pwd;
    res = run_act(r, pwd);
    if (!res || !r.executed())
        return res;
    KV_PathDef path;
    if (syntax.split_path(ftp_.curr_dir(), path, !syntax.dir_pre().empty()) && path.entries() > 0 &&
        (syntax.dir_pre().empty() || path.prepend(syntax.dir_pre())))
        informer().send(new (std::nothrow) KV_MsgTreePwd(path));
    return res;
}

bool KV_TavoFtp::do_scan(KV_FileReqScan& r)
{
    KV_FileListStore* store = r.store();
    if (store == nullptr)
        informer().send(new (std::nothrow)
                            KV_MsgTreeNtf(r.path(), KV_TREE_NTF_SCAN_BEGIN, true, KV_String()));
    else
        store->clear();
    KV_String path;
    if (!path_text(r.path(), path))
        return false;
    status(KV_String("CWD ") + path);
    KV_FtpActCd cd(opts_.man_path().compl_dir(path));
    bool res = run_act(r, cd);
    if (!res || !r.executed())
        return res;
    status(KV_String("LIST ") + path);
    KV_FtpActListParams params(store, &informer(), r.path());
    KV_FtpActList list(params);
    return run_act(r, list);
}

bool KV_TavoFtp::do_uman(KV_FileReqUMan& r)
{
    switch (r.cmd()) {
    case KV_MANAGE_CMD_KEEP_ALIVE: {
        status("Keep alive");
        KV_FtpActConnMan act(1);
        return run_act(r, act);
    }
    case KV_MANAGE_CMD_CONNECT: {
        status("Connecting");
        KV_FtpActConnMan act(2);
        return run_act(r, act);
    }
    case KV_MANAGE_CMD_DISCONNECT:
        ftp_.close();
        return true;
    case KV_MANAGE_CMD_USER: {
        status("User defined command");
        KV_FtpActUsrDef act(r.param());
        return run_act(r, act);
    }
    case KV_MANAGE_CMD_SERVER_CHECK: {
        status("Server check");
        // A refusal is an answer, not a fault: the caller reads it from the
        // outcome and the result value.
        QuietErr quiet;
        // Some servers take REST only in binary mode, which every resumed
        // transfer uses: ask in that mode, or a REST-capable server would
        // pass for one without.
        KV_FtpActType binary(KV_TRANS_MODE_BINARY);
        bool res = ftp_.exec(quiet, binary, &r);
        KV_FtpActRest probe(100);
        if (res)
            res = ftp_.exec(quiet, probe, &r);
        else
            probe.set_executed(false);
        r.set_executed(probe.executed());
        set_result_value(conn_lost() ? 0 : 1);
        if (res && probe.executed()) {
            KV_FtpActRest reset(0);
            res = ftp_.exec(r.eh(), reset, &r);
        }
        return res;
    }
    default:
        return true;
    }
}

bool KV_TavoFtp::do_dtrans(KV_FileReqDTrans& r)
{
    if (r.path().empty()) {
        set_dtrans_busy(false);
        return true;
    }
    status("FTP -> FTP: get");
    KV_FtpActGetDirect act(r.path(), r.from());
    return run_act(r, act);
}
