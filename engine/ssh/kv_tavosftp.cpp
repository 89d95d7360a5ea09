#include "ssh/kv_tavosftp.h"

#include <cinttypes>
#include <cstdio>
#include <new>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "ssh/kv_filemansftp.h"
#include "ssh/kv_sftpacttrans.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_translogcp.h"

KV_TavoSftp::KV_TavoSftp(KV_FileManSftp* const fm, KV_Informer& informer) : KV_Tavo(informer)
{
    // The manager hands each request its settings; the worker needs no more
    // of it.
    (void)fm;
}

KV_TavoSftp::~KV_TavoSftp()
{
    wait_term();
}

void KV_TavoSftp::set_opts(const KV_FileManSftpOpts& opts)
{
    opts_ = opts;
    man_.set_opts(opts.sftp());
}

void KV_TavoSftp::set_id(uint32_t id)
{
    KV_Tavo::set_id(id);
    man_.set_tavo_id(id);
}

bool KV_TavoSftp::conn_lost()
{
    KV_FileMan* fm = man_.file_man();
    return man_.conn_err() && fm && !fm->dead(true);
}

void KV_TavoSftp::req_executed(bool executed)
{
    KV_Tavo::req_executed(executed);
    const bool lost = conn_lost();
    if (lost)
        set_used(false);
    KV_FileReq* r = req();
    if (executed && r && !r->stopped() && !r->executed() && !r->paused() && r->can_retry() && lost)
        set_final_status(KV_REQ_STAT_RESTARTING);
}

void KV_TavoSftp::notice(const KV_String& text, const KV_String& text2)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(), text, text2));
}

bool KV_TavoSftp::remote(const KV_PathDef& path, KV_String& text) const
{
    text.clear();
    return opts_.man_path().build_path(text, path, false, 0) && !text.empty();
}

bool KV_TavoSftp::exec(KV_FileReq& r, KV_SftpAct& act)
{
    const bool ok = man_.exec(r.eh(), act, &r);
    r.set_executed(act.executed());
    return ok;
}

KV_String KV_TavoSftp::end_err(KV_FileReq&)
{
    return man_.err_msg();
}

bool KV_TavoSftp::do_mkdir(KV_FileReqMkDir& r)
{
    KV_String path;
    if (!remote(r.path(), path))
        return false;
    notice(KV_String("MKDIR ") + path);
    KV_SftpActMkDir act(sftp_str(path));
    return exec(r, act);
}

bool KV_TavoSftp::do_ren(KV_FileReqRen& r)
{
    KV_String src;
    KV_String dst;
    if (!remote(r.path_src(), src) || !remote(r.path_dst(), dst))
        return false;
    notice(KV_String("RENAME ") + src + " -> " + dst);
    if (!r.dst_exists()) {
        KV_SftpActRen act(sftp_str(src), sftp_str(dst));
        return exec(r, act);
    }
    // Version 3 servers refuse a rename onto an existing name, and removing
    // the target first would lose it when the rename then fails: the target
    // steps aside under a fresh name of its folder until the rename is in.
    KV_PathDef aside_path(r.path_dst());
    KV_String aside;
    bool set_aside = false;
    const KV_String name = r.path_dst().last();
    for (int attempt = 0; attempt < 8 && !set_aside && !r.stopped(); ++attempt) {
        aside_path = r.path_dst();
        const KV_String fresh =
            KV_String::format_impl(".%s.kv-aside-%u-%u", name.data(), id(), ++aside_count);
        if (!aside_path.remove_last() || !aside_path.append(fresh) || !remote(aside_path, aside))
            return false;
        KV_SftpActRen away(sftp_str(dst), sftp_str(aside));
        man_.exec(r.eh(), away, &r);
        set_aside = away.executed();
        if (!set_aside && man_.conn_err())
            break;
    }
    if (!set_aside) {
        r.set_executed(false);
        return true;
    }
    KV_SftpActRen act(sftp_str(src), sftp_str(dst));
    const bool ok = man_.exec(r.eh(), act, &r);
    if (!act.executed()) {
        KV_SftpActRen back(sftp_str(aside), sftp_str(dst));
        man_.exec(r.eh(), back, &r);
        r.set_executed(false);
        return ok;
    }
    // The rename is in; the old target goes. A folder target needs RMDIR.
    KV_SftpActDel del(sftp_str(aside));
    man_.exec(r.eh(), del, &r);
    if (!del.executed()) {
        KV_SftpActRmDir rmdir(sftp_str(aside));
        man_.exec(r.eh(), rmdir, &r);
    }
    return ok;
}

bool KV_TavoSftp::do_chmod(KV_FileReqChmod& r)
{
    KV_String path;
    if (!remote(r.path(), path))
        return false;
    notice(KV_String("CHMOD ") + path);
    unsigned int mode = 0;
    char tail = 0;
    if (std::sscanf(r.accf().data(), "%o%c", &mode, &tail) != 1)
        return false;
    KV_SftpFileAttr attrs;
    attrs.set_flags(KV_SftpFileAttr::perm_flag);
    attrs.set_permissions(mode);
    KV_SftpActSetstat act(sftp_str(path), attrs);
    return exec(r, act);
}

bool KV_TavoSftp::do_pwd(KV_FileReqPwd& r)
{
    notice("PWD");
    const KV_PathMan& syntax = opts_.man_path();
    KV_PathDef path;
    bool ok;
    if (!r.def_path().empty()) {
        ok = syntax.split_path(r.def_path(), path, true) && path.prepend(syntax.dir_pre());
    } else {
        KV_SftpActPwd act;
        ok = exec(r, act);
        if (ok && r.executed()) {
            const bool pre = !syntax.dir_pre().empty();
            ok = syntax.split_path(sftp_text(act.path()), path, pre) &&
                 (!pre || path.prepend(syntax.dir_pre()));
        }
    }
    if (ok && r.executed())
        informer().send(new (std::nothrow) KV_MsgTreePwd(path));
    return ok;
}

bool KV_TavoSftp::do_rm(KV_FileReqRm& r)
{
    const KV_PathDefDir& path = r.path();
    KV_String text;
    if (!remote(path, text))
        return false;
    if (path.is_dir()) {
        notice(KV_String("RMDIR ") + text);
        KV_SftpActRmDir act(sftp_str(text));
        return exec(r, act);
    }
    notice(KV_String("DEL ") + text);
    KV_SftpActDel act(sftp_str(text));
    return exec(r, act);
}

bool KV_TavoSftp::do_scan(KV_FileReqScan& r)
{
    if (r.store() == nullptr)
        informer().send(new (std::nothrow)
                            KV_MsgTreeNtf(r.path(), KV_TREE_NTF_SCAN_BEGIN, true, KV_String()));
    else
        r.store()->clear();
    KV_String text;
    if (!remote(r.path(), text))
        return false;
    if (!r.executed())
        return true;
    notice(KV_String("LIST ") + text);
    KV_SftpActListParams params;
    params.path_man = &opts_.man_path();
    params.store = r.store();
    params.informer = &informer();
    params.path = r.path();
    KV_SftpActList act(params);
    return exec(r, act);
}

bool KV_TavoSftp::do_copy(KV_FileReqCopy& r)
{
    KV_TransLogCp* log = r.log();
    if (log == nullptr)
        return false;
    KV_FileFrag* frag = r.frag();
    const bool frag_mode = frag && !(frag->begin() == 0 && frag->end() == 0);
    KV_String src;
    KV_String dst;
    if (!r.src().build_path(src, false, 0) || src.empty() || !r.dst().build_path(dst, false, 0) ||
        dst.empty())
        return false;
    KV_FileMan* fm = man_.file_man();
    if (r.trans_type() == KV_FILE_TRANS_TYPE_FETCH) {
        int64_t offset = 0;
        if (frag_mode)
            offset = frag->pos();
        else if (log->flag1() && fm && fm->can_resume_get())
            offset = log->size();
        if (!log->set_flags(KV_TransLogCp::FLAG2_SRC, 0))
            return false;
        KV_String text;
        if (frag_mode)
            text = KV_String::format_impl("%s %s (%" PRId64 " - %" PRId64 ")", "GET",
                                          log->file_name().data(), frag->pos(), frag->end());
        else if (offset <= 0)
            text = KV_String::format_impl("%s %s", "GET", log->file_name().data());
        else
            text = KV_String::format_impl("%s %s (%" PRId64 ")", "GET", log->file_name().data(),
                                          offset);
        notice(text);
        if (frag_mode) {
            KV_SftpActGet act(src, dst, frag, log);
            return exec(r, act);
        }
        KV_SftpActGet act(src, dst, offset, log);
        return exec(r, act);
    }
    if (r.trans_type() != KV_FILE_TRANS_TYPE_STORE)
        return true;
    int64_t offset = 0;
    bool ok = true;
    if (log->flag2() && fm && fm->can_resume_put()) {
        // How much of the file is there already: the folder's listing says.
        KV_PathDef folder(r.dst().path());
        if (folder.empty())
            return false;
        const KV_String name = folder.last();
        KV_String folder_text;
        ok = folder.remove_last() && remote(folder, folder_text);
        if (!ok)
            return false;
        notice(KV_String("LIST ") + folder_text);
        KV_FileListStore store(r.dst().man().case_sens(), nullptr);
        KV_SftpActListParams params;
        params.path_man = &opts_.man_path();
        params.store = &store;
        params.path = folder;
        KV_SftpActList list(params);
        ok = exec(r, list);
        if (ok && r.executed()) {
            KV_FileTreeNode* node = nullptr;
            if (store.find(name, &node) && node && node->fdc().valid_size(false))
                offset = node->fdc().size(false);
        }
    }
    if (!ok || !r.executed())
        return ok;
    if (!log->set_flags(KV_TransLogCp::FLAG2_DST, 0))
        return false;
    notice(offset <= 0 ? KV_String::format_impl("%s %s", "PUT", log->file_name().data())
                       : KV_String::format_impl("%s %s (%" PRId64 ")", "PUT",
                                                log->file_name().data(), offset));
    KV_SftpActPut act(src, dst, log, offset);
    return exec(r, act);
}

bool KV_TavoSftp::do_uman(KV_FileReqUMan& r)
{
    switch (r.cmd()) {
    case KV_MANAGE_CMD_CONNECT: {
        notice("Connecting");
        KV_SftpActConnMan act;
        return exec(r, act);
    }
    case KV_MANAGE_CMD_DISCONNECT:
        man_.close();
        return true;
    default:
        return true;
    }
}
