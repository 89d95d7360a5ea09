// The copy plan of a folder pair: which files a copy or move request copies,
// which subfolders it walks, how a large file is cut into fragments; and the
// deletions of the mirror and of a move's sources.
#include "transfers/kv_copyplan.h"

#include <new>

#include "foundation/kv_file.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "requests/kv_fileman.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_translogfilegrp.h"

namespace {

using Ans = KV_TransLogFileGrpAns;
using Rec = KV_TransLogFileGrpFopCp;
using Entry = KV_TavoTrans::KV_DirEntryCp;

bool dot_entry(const KV_String& name)
{
    return name == "." || name == "..";
}

bool sub_path(KV_PathDef& out, const KV_PathDef& dir, const KV_String& name)
{
    return (out = dir) && out.append(name) && !out.empty();
}

} // namespace

// ---------------------------------------------------------------------------
// KV_DirEntryCp

KV_TavoTrans::KV_DirEntryCp::KV_DirEntryCp(KV_FileReqTransCp& req, const KV_String& log_name)
    : log_(&req, log_name)
{
    obs_.set_grow(256);
}

KV_TavoTrans::KV_DirEntryCp::KV_DirEntryCp(KV_FileReqTransCp& req, const KV_String& src_name,
                                           const KV_FileData& fd, const KV_PathDef& src,
                                           const KV_PathDef& dst)
    : log_(&req, src_name, fd, src, dst)
{
    obs_.set_grow(256);
}

KV_TavoTrans::KV_DirEntryCp::~KV_DirEntryCp()
{
    free_obs();
}

void KV_TavoTrans::KV_DirEntryCp::free_obs()
{
    for (KV_FileReqObs* o : obs_)
        delete o;
    obs_.clear();
}

bool KV_TavoTrans::KV_DirEntryCp::add_obs(KV_FileReqObs* obs)
{
    return obs_.add(obs);
}

void KV_TavoTrans::KV_DirEntryCp::wait()
{
    for (KV_FileReqObs* o : obs_)
        o->wait();
}

bool KV_TavoTrans::KV_DirEntryCp::reset()
{
    state = 0;
    free_obs();
    log_.man_frag().reset_request();
    // A segmented copy keeps the ranges it has; a new one gets its first
    // range here.
    if (log_.multifrag())
        return log_.init_frags(false);
    return log_.init_frags(true);
}

void KV_DirEntryCpList::free()
{
    for (KV_TavoTrans::KV_DirEntryCp* e : *this)
        delete e;
    clear();
}

bool KV_DirEntryCpList::take(KV_TavoTrans::KV_DirEntryCp* e)
{
    for (uint32_t i = 0; i < size(); ++i) {
        if (at(i) == e)
            return remove_at(i);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Names

KV_String& KV_TavoTrans::map_name(KV_String& out, const KV_String& name, const Names* src,
                                  const Names* dst, bool case_sens)
{
    out = name;
    if (src == nullptr || dst == nullptr)
        return out;
    const uint32_t n = src->size() < dst->size() ? src->size() : dst->size();
    for (uint32_t i = 0; i < n; ++i) {
        if (src->at(i).compare(name, case_sens) == 0) {
            out = dst->at(i);
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The plan

bool KV_TavoTrans::cmp_dir(KV_FileReqTransCp& req, KV_FileListStore& ls_src,
                           KV_FileListStore& ls_dst, const KV_PathDef& src, const KV_PathDef& dst,
                           CpList& entries, KVTL::KV_ListVal<KV_NamePair>& dirs,
                           const Names* names_src, const Names* names_dst)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    KV_TransLogTransCp& log = req.log();
    const bool local =
        man_src->type() == KV_FILE_MAN_TYPE_STD && man_dst->type() == KV_FILE_MAN_TYPE_STD;
    const bool data_in_log =
        !req.dtrans() && man_src->log_incl_data(log.path_src(), log.path_dst(), man_dst);
    const bool cs = man_src->case_sens();
    const bool mirror = log.mirror() != 0;
    bool ok = true;

    for (KV_FileTreeNode* node : ls_src.entries()) {
        if (!ok || req.stopped())
            break;
        const KV_FileData& fd = node->fdc();
        if (!fd.valid_file())
            continue;
        const KV_String& sname = node->name();
        // Listings of folders may hold their own "." and "..".
        if (node->is_dir() && dot_entry(sname))
            continue;
        KV_String dname;
        map_name(dname, sname, names_src, names_dst, cs);
        // Whatever protocol listed it, a name that is no single entry would
        // put the copy outside its destination folder.
        if (!KV_PathDef::is_entry_name(sname) || !KV_PathDef::is_entry_name(dname)) {
            req.eh().set_err(2, "Skipped %s: not a valid file name.",
                             KV_PathDef::is_entry_name(sname) ? dname.data() : sname.data());
            continue;
        }
        KV_PathDef ps;
        KV_PathDef pd;
        if (!sub_path(ps, src, sname) || !sub_path(pd, dst, dname)) {
            ok = false;
            break;
        }
        KV_String sublog;
        int64_t rsize = 0;
        KV_String rtime;
        const uint8_t st = log.status(ps, &sublog, &rsize, &rtime);

        if (node->is_dir()) {
            bool accept = true;
            KV_FileTreeNode* x = nullptr;
            if (st == Rec::ST_INIT && ls_dst.find(dname, &x)) {
                if (x->is_dir()) {
                    uint8_t answer = Ans::ANS_NONE;
                    ok = log.ask(Ans::ASK_OVERWRITE, answer, pd, man_dst->informer(), x->fdc(),
                                 KV_ASK_YES_ALL, &req);
                    accept = ok && answer == Ans::ANS_YES;
                    if (accept) {
                        Rec rec(log.phase(), Rec::ST_RUNNING, ps, KV_String(), 0, KV_String());
                        ok = log.set_status(rec);
                    }
                } else {
                    req.eh().set_err(mirror ? 1 : 2, "The file %s already exists.",
                                     x->name().data());
                    ok = mirror;
                    accept = false;
                }
            }
            if (ok && accept)
                ok = dirs.add(KV_NamePair(sname, dname));
            continue;
        }

        Entry* e = nullptr;
        bool restore = false;
        switch (st) {
        case Rec::ST_INIT:
            break;
        case Rec::ST_RUNNING:
            restore = true;
            break;
        case Rec::ST_DONE:
        case Rec::ST_SKIPPED:
            if (!mirror)
                continue;
            if (fd.size(false) == rsize && fd.time() == rtime && ls_dst.find(dname))
                continue;
            restore = true;
            break;
        default:
            ok = false;
            continue;
        }
        if (restore && !sublog.empty()) {
            e = new (std::nothrow) Entry(req, sublog);
            bool keep = e != nullptr && e->log().restore(req.eh(), nullptr);
            if (keep) {
                const KV_TransLogCp& sl = e->log();
                keep =
                    (!req.dtrans() && man_src->can_resume_get() && sl.fdata().valid_size(false) &&
                     sl.trans_mode_src() == KV_TRANS_MODE_BINARY) ||
                    (sl.status() > KV_TransLogCp::ST_RECEIVING && sl.path_src().is_equal(ps, cs));
            }
            if (e != nullptr && !keep) {
                log.del_sublog(e->log());
                delete e;
                e = nullptr;
            }
        }

        if (e == nullptr) {
            KV_String full;
            if (!man_src->man_path().build_path(full, ps, false, 0) || full.empty()) {
                ok = false;
                continue;
            }
            bool copy = true;
            KV_FileTreeNode* x = nullptr;
            if (st == Rec::ST_INIT && ls_dst.find(dname, &x)) {
                if (!x->is_dir()) {
                    if (log.skip_sz() && fd.cmp_size(x->fdc(), true))
                        continue;
                    if (log.phase() == 2) {
                        int64_t lsize = 0;
                        KV_Time ltime;
                        int64_t fsize = 0;
                        KV_Time ftime;
                        if (log.props(pd, lsize, ltime) && KV_File::props(full, fsize, ftime) &&
                            lsize == fsize && ltime.impl() == ftime.impl()) {
                            copy = false;
                            ok = log.fileop(ps, pd, *man_src, *man_dst, nullptr);
                            const KV_String& last = ps.last();
                            KV_String text;
                            text.format("%s unchanged => skipping", last.data());
                            if (ok)
                                ok = log.add_msg(text, 0);
                        }
                    }
                    if (ok && copy) {
                        uint8_t answer = Ans::ANS_NONE;
                        ok = log.ask(Ans::ASK_OVERWRITE, answer, pd, man_dst->informer(), x->fdc(),
                                     KV_ASK_YES_ALL, &req);
                        copy = answer == Ans::ANS_YES;
                    }
                } else {
                    req.eh().set_err(mirror ? 1 : 2, "The directory %s already exists.",
                                     x->name().data());
                    ok = mirror;
                }
            }
            if (!ok || !copy)
                continue;
            e = new (std::nothrow) Entry(req, full, fd, ps, pd);
            if (e == nullptr) {
                ok = false;
                continue;
            }
            const KV_TRANS_MODE mode_src = man_src->trans_mode(fd);
            const KV_TRANS_MODE mode_dst = man_dst->trans_mode(fd);
            bool segmented = false;
            uint32_t n = 0;
            const int64_t min = man_src->min_frag_size(n);
            if (data_in_log && man_src->can_resume_get() && fd.valid_size(false) &&
                mode_src == KV_TRANS_MODE_BINARY) {
                const int64_t frag = frag_size(fd.size(false), n, min);
                segmented = frag != 0;
                if (segmented)
                    e->log().man_frag().set_min_size(frag);
            }
            e->log().set_flags_init(data_in_log, segmented, mode_src, mode_dst);
        }
        e->log().set_no_file(local);
        if (!entries.add(e)) {
            delete e;
            ok = false;
        }
    }
    return ok;
}

int64_t KV_TavoTrans::frag_size(int64_t size, uint32_t nworkers, int64_t min)
{
    if (size <= 0 || nworkers < 2 || min <= 0)
        return 0;
    const auto total = static_cast<uint64_t>(size);
    for (uint32_t k = nworkers; k >= 2; --k) {
        const uint64_t frag = total / k + (total % k != 0 ? 1 : 0);
        if (static_cast<uint64_t>(min) <= frag)
            return static_cast<int64_t>(frag);
    }
    return 0;
}

bool KV_TavoTrans::mirror_dir(KV_FileReqTransCp& req, KV_FileListStore& ls_src,
                              KV_FileListStore& ls_dst, const KV_PathDef& dst)
{
    KV_FileMan* man = req.man_dst();
    if (man == nullptr)
        return false;
    Names names;
    bool removed = true;
    while (removed) {
        removed = false;
        for (uint32_t i = 0; i < ls_dst.entries().size(); ++i) {
            KV_FileTreeNode* node = ls_dst.entries().at(i);
            if (dot_entry(node->name()) || ls_src.contains(node))
                continue;
            if (!names.add(node->name()) || !ls_dst.remove_at(i))
                return false;
            // Taken out of the listing, the node is ours.
            delete node;
            removed = true;
            break;
        }
    }
    return del_files(req, man, dst, names, true);
}

bool KV_TavoTrans::del_files(KV_FileReqTransCp& req, KV_FileMan* man, const KV_PathDef& folder,
                             const Names& names, bool report)
{
    if (man == nullptr)
        return false;
    if (names.empty())
        return true;
    const KV_FileReqTransParamsRm params(req.log().params());
    auto* rm = new (std::nothrow) KV_FileReqTransRm(man, folder, names, params);
    if (rm == nullptr)
        return false;
    // The delete request has no log file of its own: what it cannot do
    // must reach the copy request's log.
    rm->log().set_eh(&req.eh());
    rm->reset_executed();
    const bool ok = trans_rm(*rm, rm->log().path(), &rm->log().list_files(), nullptr, &req, report);
    req.set_executed(ok && rm->executed());
    delete rm;
    return ok;
}
