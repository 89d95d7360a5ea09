// The FTP worker's share of a file transfer: one elementary copy step into
// or out of a copy sub-log, with resume and fragments, and both halves of a
// server-to-server copy.
#include <new>

#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_path.h"
#include "ftp/kv_ftpact.h"
#include "ftp/kv_ftpacttrans.h"
#include "ftp/kv_tavoftp.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "transfers/kv_filefrag.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_translogcp.h"

namespace {

bool compl_text(const KV_ComplPath& p, KV_String& text)
{
    text.clear();
    return p.build_path(text, false, 0) && !text.empty();
}

KV_String i64(int64_t v)
{
    return KV_String::format_impl("%lld", static_cast<long long>(v));
}

} // namespace

bool KV_TavoFtp::do_copy(KV_FileReqCopy& r)
{
    if (r.log() == nullptr)
        return false;
    const bool fetch = r.trans_type() == KV_FILE_TRANS_TYPE_FETCH;
    if (!fetch && r.trans_type() != KV_FILE_TRANS_TYPE_STORE)
        return true;
    if (r.dtrans())
        return fetch ? copy_dtrans_init(r) : copy_dtrans_put(r);
    return fetch ? copy_get(r) : copy_put(r);
}

bool KV_TavoFtp::copy_get(KV_FileReqCopy& r)
{
    KV_TransLogCp& log = *r.log();
    KV_String src;
    KV_String dst;
    if (!compl_text(r.src(), src) || !compl_text(r.dst(), dst))
        return false;
    KV_FileFrag* frag = r.frag();
    if (frag != nullptr && frag->begin() == 0 && frag->end() == 0)
        frag = nullptr;
    const KV_TRANS_MODE mode = log.trans_mode_src();
    int64_t rest = 0;
    if (frag != nullptr) {
        rest = frag->pos();
    } else if (log.flag1() && mode == KV_TRANS_MODE_BINARY && ftp_.file_man() != nullptr &&
               ftp_.file_man()->can_resume_get()) {
        rest = log.size();
    }
    if (!log.set_flags(KV_TransLogCp::FLAG2_SRC, 0))
        return false;
    if (frag != nullptr)
        status(KV_String::format_impl("%s %s (%s - %s)", "GET", log.file_name().data(),
                                      i64(frag->pos()).data(), i64(frag->end()).data()));
    else if (rest > 0)
        status(
            KV_String::format_impl("%s %s (%s)", "GET", log.file_name().data(), i64(rest).data()));
    else
        status(KV_String::format_impl("%s %s", "GET", log.file_name().data()));
    if (frag != nullptr) {
        KV_FtpActGet act(src, dst, frag, &log);
        return run_act(r, act);
    }
    KV_FtpActGet act(mode, src, dst, rest, &log);
    return run_act(r, act);
}

bool KV_TavoFtp::remote_size(KV_FileReqCopy& r, const KV_PathDef& dst, int64_t& size)
{
    size = -1;
    KV_PathDef dir(dst);
    KV_String dir_text;
    if (dst.empty() || !dir.remove_last() || !r.dst().man().build_path(dir_text, dir, false, 0) ||
        dir_text.empty())
        return false;
    status(KV_String("CWD ") + dir_text);
    KV_FtpActCd cd(opts_.man_path().compl_dir(dir_text));
    bool res = run_act(r, cd);
    if (!res || !r.executed())
        return res;
    status(KV_String("LIST ") + dir_text);
    KV_FileListStore store(r.dst().man().case_sens(), nullptr);
    KV_FtpActListParams params(&store, &informer(), dir);
    KV_FtpActList list(params);
    res = run_act(r, list);
    if (!res || !r.executed())
        return res;
    KV_FileTreeNode* node = nullptr;
    // A server whose sizes are unreliable never resumes an upload.
    if (store.find(dst.last(), &node) && node != nullptr && node->fdc().valid_size(false))
        size = node->fdc().size(false);
    return true;
}

bool KV_TavoFtp::copy_put(KV_FileReqCopy& r)
{
    KV_TransLogCp& log = *r.log();
    KV_String src;
    KV_String dst;
    if (!compl_text(r.src(), src) || !compl_text(r.dst(), dst))
        return false;
    const KV_TRANS_MODE mode = log.trans_mode_dst();
    int64_t rest = 0;
    if (log.flag2() && mode == KV_TRANS_MODE_BINARY && ftp_.file_man() != nullptr &&
        ftp_.file_man()->can_resume_put()) {
        int64_t have = -1;
        const bool res = remote_size(r, r.dst().path(), have);
        if (!res || !r.executed())
            return res;
        if (have > 0)
            rest = have;
    }
    if (!log.set_flags(KV_TransLogCp::FLAG2_DST, 0))
        return false;
    if (rest > 0)
        status(
            KV_String::format_impl("%s %s (%s)", "PUT", log.file_name().data(), i64(rest).data()));
    else
        status(KV_String::format_impl("%s %s", "PUT", log.file_name().data()));
    KV_FtpActPut act(mode, src, dst, &log, rest);
    return run_act(r, act);
}

bool KV_TavoFtp::copy_dtrans_init(KV_FileReqCopy& r)
{
    KV_TransLogCp& log = *r.log();
    status("FTP -> FTP: init");
    KV_FtpActType type(KV_TRANS_MODE_BINARY);
    bool res = run_act(r, type);
    if (res && r.executed()) {
        KV_FtpActPasv pasv;
        res = run_act(r, pasv);
        if (res && r.executed())
            log.set_dtrans_addr(ftp_.data_addr());
    }
    if (!res || !r.executed()) {
        // The passive port is abandoned with the connection.
        ftp_.close();
        return res;
    }
    const KV_FileMan* fm = ftp_.file_man();
    log.set_dtrans(id(), fm != nullptr && fm->can_resume_get() ? 1 : 0);
    set_dtrans_busy(true);
    return res;
}

bool KV_TavoFtp::copy_dtrans_put(KV_FileReqCopy& r)
{
    KV_TransLogCp& log = *r.log();
    KV_FileMan* man_src = r.man_src();
    if (man_src == nullptr)
        return false;
    KV_String src;
    KV_String dst;
    if (!man_src->man_path().build_path(src, log.path_src(), false, 0) || src.empty() ||
        !compl_text(r.dst(), dst))
        return false;
    int64_t rest = 0;
    bool res = true;
    if (log.flag2() && log.dtrans_flag() != 0 && ftp_.file_man() != nullptr &&
        ftp_.file_man()->can_resume_put()) {
        int64_t have = -1;
        res = remote_size(r, r.dst().path(), have);
        if (res && r.executed() && have > 0)
            rest = have;
    }
    if (res && r.executed())
        res = log.set_flags(KV_TransLogCp::FLAG2_DST, 0);
    if (res && r.executed()) {
        status("FTP -> FTP: put");
        KV_FtpActPutDirect act(log.dtrans_addr(), src, dst, r.stop_resp(), *man_src, r.eh(),
                               log.dtrans_id(), rest);
        res = run_act(r, act);
    }
    if (!res || !r.executed())
        ftp_.close();
    return res;
}
