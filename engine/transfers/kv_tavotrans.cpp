// KV_TavoTrans: the transfer worker, its entry point and the rename and
// delete walkers.
#include "transfers/kv_tavotrans.h"

#include <new>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_filereqtransren.h"
#include "transfers/kv_translogfilegrp.h"

namespace {

using Ans = KV_TransLogFileGrpAns;
using Fop = KV_TransLogFileGrpFop;

// `dir` with `name` appended; false when the copy or the append fails.
bool sub_path(KV_PathDef& out, const KV_PathDef& dir, const KV_String& name)
{
    return (out = dir) && out.append(name);
}

bool dot_entry(const KV_String& name)
{
    return name == "." || name == "..";
}

bool holds(const KVTL::KV_ListPtr<KV_FileTreeNode>& list, const KV_FileTreeNode* node)
{
    for (const KV_FileTreeNode* n : list) {
        if (n == node)
            return true;
    }
    return false;
}

// Writes the record (status, op) of `path` to `log`.
bool record(KV_TransLogTrans& log, const KV_PathDef& path, uint8_t status, uint8_t op)
{
    Fop rec(path, status, op);
    return log.set_status(rec);
}

} // namespace

// ---------------------------------------------------------------------------
// The entry list

KV_TavoTrans::KV_DirEntryList::~KV_DirEntryList()
{
    free();
}

void KV_TavoTrans::KV_DirEntryList::free()
{
    for (KV_DirEntryStd* e : *this)
        delete e;
    clear();
}

// ---------------------------------------------------------------------------
// The worker

KV_TavoTrans::KV_TavoTrans(KV_Informer& informer) : KV_Tavo(informer) {}

KV_TavoTrans::~KV_TavoTrans()
{
    wait_term();
}

bool KV_TavoTrans::quit_after_req() const
{
    return true;
}

void KV_TavoTrans::log_failed(KV_FileReqTrans& req)
{
    // The log is the request's handler and cannot take the text either: the
    // outer handler (the transfer manager's informer) shows it.
    req.eh().set_err(2, "Couldn't write the transfer log %s (%s).", req.log_trans().name().data(),
                     KV_ErrHandler::last_err().data());
}

bool KV_TavoTrans::too_deep(KV_FileReqTrans& req, KV_FileMan& man, const KV_PathDef& path)
{
    // Each level holds its listings on the worker's stack: a tree deeper
    // than this is refused rather than risking the stack.
    KV_String text;
    man.man_path().build_path(text, path, false, 0);
    req.eh().set_err(2, "The folder %s lies more than %u levels deep.", text.data(),
                     static_cast<unsigned>(MAX_DEPTH));
    return false;
}

bool KV_TavoTrans::process()
{
    KV_FileReq* r = req();
    if (r == nullptr || !r->trans()) {
        req_executed(false);
        return false;
    }
    return KV_Tavo::process();
}

void KV_TavoTrans::status(const KV_String& text)
{
    informer().send(new (std::nothrow) KV_MsgTavoNtf(KV_TAVO_NTF_STATUS, id(), text, KV_String()));
}

bool KV_TavoTrans::req_begin(KV_FileReq& base)
{
    auto& r = static_cast<KV_FileReqTrans&>(base);
    status("Started");
    KV_TransLogTrans& log = r.log_trans();
    // Running goes into the log too: a request that a shut-down or a crash
    // cuts short is found Running at the next start and runs again.
    const bool ok = log.add_msg(log.nomsgs() ? "Started" : "Restarted", 0) &&
                    log.set_req_status(KV_REQ_STAT_RUNNING);
    if (!ok)
        log_failed(r);
    return ok;
}

bool KV_TavoTrans::req_end(KV_FileReq& base, bool ok)
{
    auto& r = static_cast<KV_FileReqTrans&>(base);
    KV_TransLogTrans& log = r.log_trans();
    req_executed(ok);

    KV_STOP_TYPE stop = KV_STOP_NONE;
    r.stopped(&stop);
    // A shut-down leaves the log as it stands: the request resumes after the
    // next start.
    if (stop != KV_STOP_TERMINATE) {
        const bool written = log.set_req_status(final_status());
        ok = written && log.add_msg("Terminated", 0) && ok;
        if (!written) {
            // The log still says Running and the request will run again:
            // the outcome shown now must not claim more.
            log_failed(r);
            set_final_status(KV_REQ_STAT_ERROR);
        }
    }
    log.close();
    status(KV_FileReq::status_str(final_status()));
    return ok;
}

bool KV_TavoTrans::do_trans_cp(KV_FileReqTransCp& r)
{
    return trans_cp(r);
}

bool KV_TavoTrans::do_trans_ren(KV_FileReqTransRen& r)
{
    return r.fileman() != nullptr &&
           trans_ren(r, r.log().path_src(), r.log().path_dst(), &r.log().list_files(), nullptr);
}

bool KV_TavoTrans::do_trans_rm(KV_FileReqTransRm& r)
{
    return r.fileman() != nullptr &&
           trans_rm(r, r.log().path(), &r.log().list_files(), nullptr, nullptr, false);
}

// ---------------------------------------------------------------------------
// Queueing an entry

bool KV_TavoTrans::queue_entry(KV_FileReqTrans& req, KV_FileReqTrans& lr, KV_FileMan& man,
                               KV_DirEntryList& entries, const KV_PathDef& path,
                               const KV_FileData& fd, KV_FileReq* elem)
{
    auto* e = elem != nullptr ? new (std::nothrow) KV_DirEntryStd(path, fd) : nullptr;
    if (e == nullptr || !entries.add(e)) {
        delete e;
        delete elem;
        return false;
    }
    // Recorded before it happens: work that the log does not know of is
    // never started.
    if (!record(lr.log_trans(), path, Fop::ST_OPEN, 0)) {
        log_failed(lr);
        delete elem;
        return false;
    }
    return man.add_req(elem, &req, &e->obs, KV_REQ_STAT_QUEUED);
}

// ---------------------------------------------------------------------------
// Settling an entry

bool KV_TavoTrans::settle(KV_FileReqTrans& req, KV_FileReqTrans& lr, KV_DirEntryStd& e, uint8_t ask,
                          uint8_t op, bool& ok, bool* all)
{
    e.obs.wait();
    bool failed = e.obs.status() != KV_REQ_STAT_COMPLETED;
    bool skipped = false;
    KV_TransLogTrans& log = lr.log_trans();
    if (ok && failed) {
        bool retry = true;
        if (req.skip_err(e.path, retry)) {
            uint8_t answer = Ans::ANS_YES;
            if (retry)
                ok = log.ask(Ans::ASK_SKIP, answer, e.path, informer(), e.fd, KV_ASK_YES_NO,
                             nullptr);
            if (ok) {
                failed = answer != Ans::ANS_YES;
                skipped = !failed;
            }
            // A skipped entry stays where it is: its folder is not emptied.
            if (skipped && all != nullptr)
                *all = false;
        }
    }
    req.set_executed(ok && !failed);
    if (ok && !failed) {
        ok = log.clr_answer(ask, e.path) &&
             record(log, e.path, skipped ? Fop::ST_SKIPPED : Fop::ST_DONE, op);
        if (!ok)
            log_failed(lr);
    }
    return ok && !failed && !skipped;
}

// ---------------------------------------------------------------------------
// Rename walker

bool KV_TavoTrans::trans_ren(KV_FileReqTransRen& req, const KV_PathDef& src, const KV_PathDef& dst,
                             const KVTL::KV_ListVal<KV_String>* names, bool* all)
{
    return trans_ren_at(req, src, dst, names, all, 0);
}

bool KV_TavoTrans::trans_ren_at(KV_FileReqTransRen& req, const KV_PathDef& src,
                                const KV_PathDef& dst, const KVTL::KV_ListVal<KV_String>* names,
                                bool* all, uint32_t depth)
{
    bool ok = true;
    if (!req.executed())
        return true;
    KV_FileMan* man = req.fileman();
    if (man == nullptr)
        return false;
    if (depth > MAX_DEPTH)
        return too_deep(req, *man, src);
    KV_TransLogTrans& log = req.log_trans();
    const bool cs = man->case_sens();
    KV_FileListStore ls_src(cs, names);
    KV_FileListStore ls_dst(cs, nullptr);
    bool listed_src = false;
    bool listed_dst = false;
    bool warned = false;
    auto left = [all] {
        if (all != nullptr)
            *all = false;
    };
    KVTL::KV_ListPtr<KV_FileTreeNode> merged;
    KV_DirEntryList entries;

    do {
        req.reset_executed();
        {
            // Both listings run at once; each store stays until its
            // observer has been signalled.
            KV_FileReqObs obs_src;
            KV_FileReqObs obs_dst;
            bool q_src = false;
            bool q_dst = false;
            if (ok && req.executed() && !listed_src)
                ok = q_src = man->get_dir_list(req, obs_src, src, ls_src);
            if (ok && req.executed() && !listed_dst)
                ok = q_dst = man->get_dir_list(req, obs_dst, dst, ls_dst);
            if (q_src) {
                obs_src.wait();
                listed_src = obs_src.completed();
            }
            if (q_dst) {
                obs_dst.wait();
                listed_dst = obs_dst.completed();
            }
        }
        req.set_executed(ok && listed_src && listed_dst);

        if (ok && req.executed() && names != nullptr && !warned) {
            warned = true;
            const KV_String missing = ls_src.missing();
            if (!missing.empty() && !log.forced_exec())
                man->informer().set_err(1, "The file(s) %s not found.", missing.data());
        }

        // Merge pass: a folder on both sides is walked instead of renamed.
        merged.clear();
        if (ok && req.executed()) {
            for (KV_FileTreeNode* node : ls_src.entries()) {
                if (!ok)
                    break;
                KV_FileTreeNode* x = nullptr;
                if (!node->is_dir() || dot_entry(node->name()) || !ls_dst.find(node->name(), &x) ||
                    !x->is_dir())
                    continue;
                KV_PathDef s;
                KV_PathDef d;
                ok = sub_path(s, src, node->name()) && sub_path(d, dst, node->name());
                uint8_t answer = Ans::ANS_NONE;
                if (ok)
                    ok = log.ask(Ans::ASK_OVERWRITE, answer, d, man->informer(), node->fdc(),
                                 KV_ASK_YES_ALL, nullptr);
                if (ok && answer == Ans::ANS_YES) {
                    bool sub_all = true;
                    ok = trans_ren_at(req, s, d, nullptr, &sub_all, depth + 1);
                    if (!sub_all)
                        left();
                } else if (ok) {
                    left();
                }
                if (ok)
                    ok = merged.add(node);
            }
        }

        // Entry pass: every other entry is queued as one rename.
        if (ok && req.executed()) {
            for (KV_FileTreeNode* node : ls_src.entries()) {
                if (!ok || !req.executed())
                    break;
                if (dot_entry(node->name()) || holds(merged, node))
                    continue;
                KV_PathDef s;
                KV_PathDef d;
                if (!sub_path(s, src, node->name()) || !sub_path(d, dst, node->name())) {
                    ok = false;
                    break;
                }
                const uint8_t st = log.status(d);
                if (st == Fop::ST_DONE || st == Fop::ST_SKIPPED) {
                    left();
                    continue;
                }
                KV_FileTreeNode* x = nullptr;
                bool go = true;
                if (ls_dst.find(node->name(), &x)) {
                    if (x->is_dir()) {
                        req.eh().set_err(2, "The directory %s already exists.", x->name().data());
                        ok = false;
                    } else if (node->is_dir()) {
                        req.eh().set_err(2, "The file %s already exists.", x->name().data());
                        ok = false;
                    } else {
                        uint8_t answer = Ans::ANS_NONE;
                        ok = log.ask(Ans::ASK_OVERWRITE, answer, d, man->informer(), x->fdc(),
                                     KV_ASK_YES_ALL, nullptr);
                        go = answer == Ans::ANS_YES;
                    }
                }
                if (!ok)
                    break;
                if (!go) {
                    left();
                    continue;
                }
                ok = queue_entry(req, req, *man, entries, d, node->fdc(),
                                 new (std::nothrow)
                                     KV_FileReqRen(req.eh(), s, d, node->is_dir(), x != nullptr));
            }
        }

        // Settle the entries in order; every queued one is waited for.
        for (KV_DirEntryStd* e : entries)
            settle(req, req, *e, Ans::ASK_OVERWRITE, Fop::OP_RENAMED, ok, all);
        entries.free();

        // Something failed: the retry works from fresh listings of both
        // folders. Listings that fail then are tried again by the next
        // attempt, never taken for empty folders.
        if (ok && !req.stopped() && !req.executed()) {
            listed_src = false;
            listed_dst = false;
        }
    } while (ok && !req.stopped() && !req.executed() && req.can_retry() && req.retry_wait());
    return ok;
}

// ---------------------------------------------------------------------------
// Delete walker

bool KV_TavoTrans::trans_rm(KV_FileReqTransRm& req, const KV_PathDef& folder,
                            const KVTL::KV_ListVal<KV_String>* names, bool* all,
                            KV_FileReqTrans* owner, bool report)
{
    return trans_rm_at(req, folder, names, all, owner, report, 0);
}

bool KV_TavoTrans::trans_rm_at(KV_FileReqTransRm& req, const KV_PathDef& folder,
                               const KVTL::KV_ListVal<KV_String>* names, bool* all,
                               KV_FileReqTrans* owner, bool report, uint32_t depth)
{
    bool ok = true;
    if (!req.executed())
        return true;
    KV_FileMan* man = req.fileman();
    if (man == nullptr)
        return false;
    // The request whose log holds the questions, records and retries.
    KV_FileReqTrans& lr = owner != nullptr ? *owner : static_cast<KV_FileReqTrans&>(req);
    if (depth > MAX_DEPTH)
        return too_deep(lr, *man, folder);
    KV_TransLogTrans& log = lr.log_trans();
    KV_FileListStore ls(man->case_sens(), names);
    bool listed = false;
    bool warned = false;
    auto left = [all] {
        if (all != nullptr)
            *all = false;
    };
    KVTL::KV_ListPtr<KV_FileTreeNode> kept_dirs;
    KV_DirEntryList entries;

    do {
        req.reset_executed();
        bool just_listed = false;
        if (ok && req.executed() && !listed) {
            ok = man->get_dir_list(req, folder, ls);
            listed = just_listed = ok && req.executed();
        }

        if (just_listed) {
            if (names != nullptr && owner == nullptr && !warned) {
                warned = true;
                const KV_String missing = ls.missing();
                if (!missing.empty() && !log.forced_exec())
                    man->informer().set_err(1, "The file(s) %s not found.", missing.data());
            }
            // Subfolders are emptied first where the manager cannot delete
            // a folder that holds something.
            kept_dirs.clear();
            if (ok && req.executed() && man->del_subdirs()) {
                for (KV_FileTreeNode* node : ls.entries()) {
                    if (!ok)
                        break;
                    if (!node->is_dir() || dot_entry(node->name()))
                        continue;
                    KV_PathDef p;
                    ok = sub_path(p, folder, node->name());
                    uint8_t answer = Ans::ANS_NONE;
                    if (ok)
                        ok = log.ask(Ans::ASK_DELETE, answer, p, man->informer(), node->fdc(),
                                     KV_ASK_YES_ALL, nullptr);
                    if (!ok || answer != Ans::ANS_YES)
                        continue;
                    bool sub_all = true;
                    ok = trans_rm_at(req, p, nullptr, &sub_all, owner, false, depth + 1);
                    if (ok && !sub_all) {
                        left();
                        ok = kept_dirs.add(node);
                    }
                }
            }
        }

        // Entry pass: one delete per entry.
        if (ok && req.executed()) {
            for (KV_FileTreeNode* node : ls.entries()) {
                if (!ok || !req.executed())
                    break;
                if (dot_entry(node->name()) || holds(kept_dirs, node))
                    continue;
                KV_PathDef p;
                if (!sub_path(p, folder, node->name())) {
                    ok = false;
                    break;
                }
                if (log.status(p) == Fop::ST_SKIPPED ||
                    keep_src(owner, report, p, node->is_dir())) {
                    left();
                    continue;
                }
                uint8_t answer = Ans::ANS_NONE;
                ok = log.ask(Ans::ASK_DELETE, answer, p, man->informer(), node->fdc(),
                             KV_ASK_YES_ALL, nullptr);
                if (!ok)
                    break;
                if (answer != Ans::ANS_YES) {
                    left();
                    continue;
                }
                // The errors go where the questions and records go.
                ok = queue_entry(req, lr, *man, entries, p, node->fdc(),
                                 new (std::nothrow)
                                     KV_FileReqRm(lr.eh(), KV_PathDefDir(p, node->is_dir())));
            }
        }

        for (KV_DirEntryStd* e : entries) {
            const bool gone = settle(req, lr, *e, Ans::ASK_DELETE, Fop::OP_DELETED, ok, all);
            // Only an entry that is gone is reported gone.
            if (ok && gone && owner != nullptr && report)
                ok = owner->file_del(e->path);
        }
        entries.free();

        // A folder that vanished meanwhile leaves nothing to delete; one
        // that still exists is listed again at the next attempt.
        if (ok && !req.executed() && !req.stopped()) {
            bool exists = true;
            ok = man->dir_exists(req, folder, exists);
            if (ok && !exists) {
                req.reset_executed();
                return ok;
            }
            listed = false;
        }
    } while (ok && !req.executed() && !req.stopped() && lr.can_retry() && lr.retry_wait());
    return ok;
}
