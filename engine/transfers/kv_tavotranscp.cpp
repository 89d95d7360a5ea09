// KV_TavoTrans: the copy and move driver with its schedules, the copy
// walker, the per-file copies through elementary copy steps and the checks
// after them.
#include <algorithm>
#include <ctime>
#include <memory>
#include <new>

#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_tmpfile.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqs.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_copyplan.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_filereqtranscp.h"
#include "transfers/kv_translogfilegrp.h"

namespace {

using Ans = KV_TransLogFileGrpAns;
using Rec = KV_TransLogFileGrpFopCp;
using Entry = KV_TavoTrans::KV_DirEntryCp;
constexpr uint8_t F_READ = Entry::READ_INCOMPLETE;
constexpr uint8_t F_WRITE = Entry::WRITE_INCOMPLETE;
constexpr uint8_t F_RESTART = Entry::RESTART;
constexpr uint8_t F_FAILED = F_READ | F_WRITE | F_RESTART;
constexpr uint8_t F_LENGTH = Entry::LENGTH_WRONG;

bool sub_path(KV_PathDef& out, const KV_PathDef& dir, const KV_String& name)
{
    return (out = dir) && out.append(name) && !out.empty();
}

bool same_kind_named(const KV_FileTreeNode* node, const KV_FileData& fd, const KV_String& name,
                     bool cs)
{
    return node->is_dir() == fd.is_dir() && node->name().compare(name, cs) == 0;
}

// The local calendar fields of `t`.
bool local_tm(const KV_Time& t, std::tm& out)
{
    const std::time_t tt = t.impl();
    return t.valid() && localtime_r(&tt, &out) != nullptr;
}

// Records a folder of the copy walk.
bool folder_record(KV_TransLogTransCp& log, const KV_PathDef& src, uint8_t status, int64_t size)
{
    Rec rec(log.phase(), status, src, KV_String(), size, KV_String());
    return log.set_status(rec);
}

} // namespace

// ---------------------------------------------------------------------------
// Schedules

bool KV_TavoTrans::next_start(uint8_t tm_type, uint32_t tm_def, uint16_t dayspec,
                              const KV_Time& last, KV_Time& next)
{
    if (tm_type == 1) {
        next = KV_Time(static_cast<long>(last.impl()) + static_cast<long>(tm_def));
        return next.valid();
    }
    if ((tm_type == 3 && dayspec > 6) || (tm_type == 4 && (dayspec < 1 || dayspec > 31)) ||
        tm_type < 2 || tm_type > 4)
        return false;
    // Local calendar throughout: the days are counted from the local date
    // of the last pass and each candidate is local midnight plus tm_def, so
    // that a start never slips by the offset from UTC nor by a change of
    // daylight saving time.
    std::tm lt{};
    if (!local_tm(last, lt))
        return false;
    // Every week day comes within 7 days, every day 1-31 within 14 months.
    for (int k = 1; k <= 430; ++k) {
        const KV_Time day(static_cast<uint16_t>(lt.tm_mday + k),
                          static_cast<uint16_t>(lt.tm_mon + 1),
                          static_cast<uint16_t>(lt.tm_year + 1900), 0L);
        std::tm dt{};
        if (!local_tm(day, dt))
            return false;
        if ((tm_type == 3 && dt.tm_wday != dayspec) || (tm_type == 4 && dt.tm_mday != dayspec))
            continue;
        next = KV_Time(static_cast<long>(day.impl()) + static_cast<long>(tm_def));
        return next.valid();
    }
    return false;
}

// ---------------------------------------------------------------------------
// The driver

bool KV_TavoTrans::trans_cp(KV_FileReqTransCp& req)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    KV_TransLogTransCp& log = req.log();
    bool ok = true;
    bool prep_src = false;
    bool prep_dst = false;
    do {
        req.reset_executed();
        if (!prep_src && !req.stopped() && req.executed()) {
            ok = man_src->pretrans(req);
            prep_src = ok && !req.stopped() && req.executed();
        }
        if (ok && !prep_dst && !req.stopped() && req.executed()) {
            ok = man_dst->pretrans(req);
            prep_dst = ok && !req.stopped() && req.executed();
        }
    } while (ok && !req.stopped() && !req.executed() && req.can_retry());
    if (!ok || req.stopped() || !req.executed())
        return ok;

    auto dst_names = [&log]() -> const Names* {
        return log.list_files_dst().empty() ? nullptr : &log.list_files_dst();
    };
    // The end of the last mirror pass that failed: the next one waits for
    // its turn as after a success instead of starting at once.
    KV_Time failed_at;
    do {
        req.poll_reset();
        if (req.stopped())
            break;
        const uint8_t mirror = log.mirror();
        KV_Time last = log.tm_last_cp();
        if (failed_at.valid() && (!last.valid() || failed_at.impl() > last.impl()))
            last = failed_at;
        if (mirror != 0 && last.valid()) {
            KV_Time next;
            if (!next_start(log.tm_type(), log.tm_def(), log.dayspec(), last, next)) {
                req.eh().set_err(2, "Invalid repetition schedule.");
                ok = false;
                break;
            }
            while (!req.stopped()) {
                KV_Time now;
                now.now();
                if (next.impl() <= now.impl())
                    break;
                const long wait = std::min<long>(static_cast<long>(next.impl()) - now.impl(), 3600);
                req.poll_wait(static_cast<uint32_t>(wait * 1000));
            }
        }
        if (req.stopped())
            break;
        if (log.fileop() != KV_FILEOP_COPY && man_src->type() == KV_FILE_MAN_TYPE_STD) {
            const Names& names = log.list_files_src();
            for (uint32_t i = 0; ok && i < names.size(); ++i) {
                KV_String dname;
                map_name(dname, names.at(i), &names, dst_names(), man_src->case_sens());
                KV_PathDef s;
                KV_PathDef d;
                ok = sub_path(s, log.path_src(), names.at(i)) &&
                     sub_path(d, log.path_dst(), dname) &&
                     log.fileop(s, d, *man_src, *man_dst, nullptr);
            }
        } else if (mirror == 0) {
            bool go_on = true;
            while (ok && go_on) {
                req.reset_executed();
                const uint8_t p = log.phase();
                if (p == 0 || p == 2) {
                    ok = copy_dir(req, log.path_src(), log.path_dst(), &log.list_files_src(),
                                  dst_names());
                } else if (p == 1 && log.some_done()) {
                    ok = log.add_msg("Ready to upload changes ( waiting for user confirmation ).",
                                     0);
                    if (ok) {
                        informer().send(new (std::nothrow) KV_MsgReqNtf(KV_REQ_NTF_EDIT, req.id()));
                        req.set_paused(true);
                        req.wait_npaused();
                    }
                }
                go_on = ok && !req.stopped() && req.executed() && p != 3;
                if (go_on)
                    ok = log.next_phase();
            }
        } else {
            // Every pass starts with a clean slate: the walker does nothing
            // for a request whose last pass failed.
            req.reset_executed();
            ok = copy_dir(req, log.path_src(), log.path_dst(), &log.list_files_src(), dst_names());
        }
        if (ok && mirror != 0 && !req.stopped()) {
            KV_Time now;
            now.now();
            if (req.executed()) {
                ok = log.set_tm_last_cp(now);
                if (ok)
                    req.reset_err_cnt();
                failed_at = KV_Time();
            } else {
                failed_at = now;
                ok =
                    log.add_msg("The pass did not complete; the next one follows the schedule.", 1);
            }
        }
    } while (ok && !req.stopped() && log.mirror() != 0);

    if (ok && !req.stopped() && req.executed() && log.del_src()) {
        do {
            ok = del_files(req, man_src, log.path_src(), log.list_files_src(), false);
        } while (ok && !req.stopped() && !req.executed() && req.can_retry());
    }
    // A file or folder given up after errors was not copied: the request
    // ends as failed, not as if everything had arrived. (The sources of
    // what was copied are moved all the same: keep_src holds back only the
    // ones given up.)
    if (ok && !req.stopped() && req.executed() && log.mirror() == 0 && log.some_skipped()) {
        // The summary becomes the request's last error: it carries the
        // error that kept the files from arriving (a full disk, a refused
        // write), which tells the person what to mend. Other errors come
        // and go between the attempts (the server's answer to a cut data
        // connection): the one repeated most often is the cause.
        const KV_String summary("Some files were not copied: they were skipped after errors.");
        const KV_String why = log.main_err();
        req.eh().set_err(
            2, why.empty() ? summary
                           : KV_String::format_impl("%s Reason: %s", summary.data(), why.data()));
        req.set_executed(false);
    }
    return ok;
}

bool KV_TavoTrans::keep_src(KV_FileReqTrans* owner, bool report, const KV_PathDef& path, bool dir)
{
    if (owner == nullptr || report || dir || owner->type() != KV_REQ_TYPE_TRANS_CP)
        return false;
    // A move deletes only sources that its copy phase recorded as copied;
    // a file given up after errors stays where it is. A mirror's extra
    // folders are emptied whole: below the top level its deletions are not
    // reported, yet nothing there is a source.
    KV_TransLogTransCp& log = static_cast<KV_FileReqTransCp*>(owner)->log();
    if (!log.del_src() || log.mirror() != 0)
        return false;
    return log.status_in(0, path) != Rec::ST_DONE;
}

// ---------------------------------------------------------------------------
// The copy walker

bool KV_TavoTrans::copy_dir(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                            const Names* names_src, const Names* names_dst)
{
    return copy_dir_at(req, src, dst, names_src, names_dst, 0);
}

bool KV_TavoTrans::copy_dir_at(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                               const Names* names_src, const Names* names_dst, uint32_t depth)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    KV_TransLogTransCp& log = req.log();
    const uint8_t st = log.status(src, nullptr, nullptr, nullptr);
    if (!req.executed() || st >= Rec::ST_DONE)
        return true;
    if (depth > MAX_DEPTH)
        return too_deep(req, *man_src, src);
    bool ok = true;
    const uint8_t mirror = log.mirror();
    bool dst_ready = names_src != nullptr || st >= Rec::ST_RUNNING;
    bool mirror_done = names_src != nullptr || mirror != 2;
    bool dst_listed = !dst_ready && !mirror_done;
    bool src_listed = false;
    bool planned = false;
    bool first_plan = true;
    bool skipped = false;
    bool src_trouble = false;
    bool dst_trouble = false;
    bool warned = false;
    KV_FileListStore ls_src(man_src->case_sens(), names_src);
    KV_FileListStore ls_dst(man_dst->case_sens(), nullptr);
    KV_DirEntryCpList plan;
    KVTL::KV_ListVal<KV_NamePair> dirs;

    auto drop = [&](Entry* e) {
        log.clr_answer(Ans::ASK_OVERWRITE, e->log().path_dst());
        log.del_sublog(e->log());
        plan.take(e);
        delete e;
    };

    do {
        req.reset_executed();
        if (ok && req.executed() && !dst_ready) {
            switch (man_dst->can_create_dir(dst)) {
            case KV_DIR_CRT_CREATE:
                ok = man_dst->create_dir_chck(req, dst);
                break;
            case KV_DIR_CRT_NONE:
                man_dst->informer().send(new (std::nothrow)
                                             KV_MsgTreeExp(dst, KV_TREE_EXP_CREATED, true));
                break;
            default:
                req.eh().set_err(2, "Directory creation is not supported by this data source.");
                ok = false;
                break;
            }
            if (ok && req.executed()) {
                ok = folder_record(log, src, Rec::ST_RUNNING, 0);
                if (!ok)
                    log_failed(req);
            }
            dst_ready = ok && req.executed();
        }
        {
            KV_FileReqObs obs_src;
            KV_FileReqObs obs_dst;
            bool q_src = false;
            bool q_dst = false;
            if (ok && req.executed() && !src_listed) {
                ls_src.clear();
                ok = q_src = man_src->get_dir_list(req, obs_src, src, ls_src);
            }
            if (ok && req.executed() && !dst_listed) {
                ls_dst.clear();
                ok = q_dst = man_dst->get_dir_list(req, obs_dst, dst, ls_dst);
            }
            if (q_src) {
                obs_src.wait();
                src_listed = obs_src.completed();
            }
            if (q_dst) {
                obs_dst.wait();
                dst_listed = obs_dst.completed();
            }
        }
        req.set_executed(ok && src_listed && dst_listed);

        if (names_src != nullptr && ok && req.executed() && !warned) {
            warned = true;
            const auto& nodes = ls_src.entries();
            req.set_prog_ntf(nodes.size() == 1 && !nodes.at(0)->is_dir());
            const KV_String missing = ls_src.missing();
            if (!missing.empty() && !log.forced_exec())
                man_src->informer().set_err(1, "The file(s) %s not found.", missing.data());
        }
        src_trouble = dst_ready && dst_listed && !src_listed;
        dst_trouble = dst_ready && src_listed && !dst_listed;

        if (ok && req.executed() && !mirror_done) {
            ok = mirror_dir(req, ls_src, ls_dst, dst);
            mirror_done = ok && req.executed();
        }
        if (ok && req.executed() && !planned) {
            if (first_plan) {
                plan.free();
                dirs.clear();
                ok = cmp_dir(req, ls_src, ls_dst, src, dst, plan, dirs, names_src, names_dst);
            } else {
                // The source was listed again: drop what vanished, take the
                // current size and time of the rest.
                for (uint32_t i = 0; ok && i < plan.size();) {
                    Entry* e = plan.at(i);
                    KV_FileTreeNode* x = nullptr;
                    if (!ls_src.find(e->log().fdata().name(), &x) || x->is_dir()) {
                        drop(e);
                        i = 0;
                        continue;
                    }
                    KV_TransLogCp& sl = e->log();
                    if (sl.status() == KV_TransLogCp::ST_NONE) {
                        const KV_FileData& was = sl.fdata();
                        const KV_FileData& now = x->fdc();
                        // A whole file of another length than listed, from a
                        // source that the server still lists unchanged: the
                        // next fetch would bring the same bytes again.
                        if (e->test_flag(F_LENGTH) && was.valid_size(false) &&
                            now.valid_size(false) && was.size(false) == now.size(false) &&
                            was.time() == now.time()) {
                            ok = give_up(req, *e);
                            plan.take(e);
                            delete e;
                            i = 0;
                            continue;
                        }
                        sl.set_fdata(now);
                    }
                    ++i;
                }
            }
            planned = ok && req.executed();
        }
        const bool err_before = !req.executed();
        while (ok && req.executed() && !plan.empty())
            ok = copy_files(req, src, dst, plan, names_src, names_dst, src_trouble, dst_trouble);

        if (ok && !req.stopped() && !req.executed()) {
            if (src_trouble) {
                bool exists = true;
                ok = man_src->dir_exists(req, src, exists);
                if (ok && !exists) {
                    while (!plan.empty())
                        drop(plan.at(0));
                    src_listed = true;
                }
                if (src_listed && planned)
                    first_plan = planned = src_listed = false;
            }
            if (ok && dst_trouble) {
                bool exists = true;
                ok = man_dst->dir_exists(req, dst, exists);
                if (ok && !exists)
                    dst_listed = dst_ready = false;
            }
        }
        bool retry = true;
        if (ok && err_before && !req.executed() && req.skip_err(src, retry)) {
            uint8_t answer = Ans::ANS_YES;
            if (retry) {
                KV_FileData fd(dst.last(), true);
                ok = log.ask(Ans::ASK_SKIP, answer, dst, informer(), fd, KV_ASK_YES_NO, nullptr);
            }
            if (ok && answer == Ans::ANS_YES) {
                req.reset_executed();
                skipped = true;
            }
        }
    } while (ok && !req.stopped() && !req.executed() && req.can_retry());

    plan.free();
    if (ok && req.executed()) {
        for (const KV_NamePair& np : dirs) {
            if (!ok)
                break;
            KV_PathDef s;
            KV_PathDef d;
            ok = sub_path(s, src, np.src) && sub_path(d, dst, np.dst) &&
                 copy_dir_at(req, s, d, nullptr, nullptr, depth + 1);
        }
    }
    if (ok && !req.stopped() && req.executed() && mirror == 0) {
        ok = folder_record(log, src, skipped ? Rec::ST_SKIPPED : Rec::ST_DONE, -1);
        if (!ok)
            log_failed(req);
    }
    return ok;
}

bool KV_TavoTrans::give_up(KV_FileReqTransCp& req, KV_DirEntryCp& e)
{
    KV_TransLogTransCp& log = req.log();
    KV_TransLogCp& sl = e.log();
    req.eh().set_err(1,
                     "The server sends the file \"%s\" with another length than it lists; the "
                     "file is skipped.",
                     sl.fdata().name().data());
    Rec rec(log.phase(), Rec::ST_SKIPPED, sl.path_src(), KV_String(), sl.fdata().size(false),
            sl.fdata().time());
    const bool ok = log.set_status(rec) && log.clr_answer(Ans::ASK_OVERWRITE, sl.path_dst());
    if (!ok)
        log_failed(req);
    log.del_sublog(sl);
    return ok;
}

// ---------------------------------------------------------------------------
// Per-file copies

bool KV_TavoTrans::copy_files(KV_FileReqTransCp& req, const KV_PathDef& src, const KV_PathDef& dst,
                              CpList& entries, const Names* names_src, const Names* names_dst,
                              bool& src_trouble, bool& dst_trouble)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    KV_TransLogTransCp& log = req.log();
    bool ok = true;
    bool segmented = false;
    const uint32_t limit = opts_.ntmpfiles();
    CpList batch;
    for (Entry* e : entries) {
        if (!ok || (limit != 0 && batch.size() >= limit))
            break;
        ok = e->reset() && batch.add(e);
    }
    bool any_written = false;
    if (ok) {
        ok = start_copies(req, batch, segmented);
        for (Entry* e : batch) {
            e->wait();
            const uint8_t s = e->log().status();
            if (s < KV_TransLogCp::ST_DELIVERING)
                e->set_flag(F_READ);
            if (s < KV_TransLogCp::ST_DONE)
                e->set_flag(F_WRITE);
            if (!e->test_flag(F_WRITE))
                any_written = true;
        }
    }
    if (ok && !req.stopped()) {
        Names names;
        for (Entry* e : batch) {
            if (ok)
                ok = names.add(e->log().fdata().name());
        }
        do {
            req.reset_executed();
            if (ok && req.executed() && !req.dtrans() &&
                man_src->log_incl_data(log.path_src(), log.path_dst(), man_dst))
                ok = check_src(req, batch, src, names, segmented);
            if (ok && req.executed() && any_written &&
                man_dst->log_incl_data(log.path_dst(), log.path_src(), man_src))
                ok = check_dst(req, batch, dst, names, names_src, names_dst);
        } while (ok && !req.stopped() && !req.executed() && req.can_retry());
    }
    if (ok && !req.stopped()) {
        for (Entry* e : batch) {
            if (!ok || req.stopped())
                break;
            KV_TransLogCp& sl = e->log();
            bool failed = e->test_flag(F_FAILED);
            bool given_up = false;
            // Only a file that passed the checks takes its final name; what
            // a failed one left under its temporary name goes, so no wrong
            // bytes ever stand under the name.
            if (!failed && !man_dst->settle_store(log.path_dst(), sl.path_dst(), true)) {
                KV_String text;
                man_dst->man_path().build_path(text, sl.path_dst(), false, 0);
                req.eh().set_err(1, "Couldn't put the file \"%s\" in place: %s", text.data(),
                                 KV_ErrHandler::last_err().data());
                e->set_flag(F_WRITE);
                failed = true;
            } else if (failed && (sl.part_fd() < 0 || !e->test_flag(F_READ))) {
                // A download written straight into its part keeps the part
                // while its fetch is unfinished: the next attempt goes on
                // from what is in it. Complete data that failed the checks
                // goes.
                man_dst->settle_store(log.path_dst(), sl.path_dst(), false);
            }
            if (failed) {
                bool retry = true;
                if (req.skip_err(sl.path_src(), retry)) {
                    uint8_t answer = Ans::ANS_YES;
                    if (retry)
                        ok = log.ask(Ans::ASK_SKIP, answer, sl.path_dst(), informer(), sl.fdata(),
                                     KV_ASK_YES_NO, nullptr);
                    given_up = ok && answer == Ans::ANS_YES;
                }
            }
            // A file given up loses whatever part it kept.
            if (given_up && sl.part_fd() >= 0)
                man_dst->settle_store(log.path_dst(), sl.path_dst(), false);
            if (ok && (!failed || given_up)) {
                auto& owned = static_cast<KV_DirEntryCpList&>(entries);
                if (owned.take(e)) {
                    Rec rec(log.phase(), given_up ? Rec::ST_SKIPPED : Rec::ST_DONE, sl.path_src(),
                            KV_String(), sl.fdata().size(false), sl.fdata().time());
                    if (!given_up)
                        ok = log.fileop(sl.path_src(), sl.path_dst(), *man_src, *man_dst, &rec);
                    ok = ok && log.set_status(rec) &&
                         log.clr_answer(Ans::ASK_OVERWRITE, sl.path_dst());
                    if (!ok)
                        log_failed(req);
                    log.del_sublog(sl);
                    delete e;
                }
                continue;
            }
            if (ok && failed) {
                req.set_executed(false);
                if (!req.dtrans()) {
                    if (e->test_flag(F_READ) &&
                        !(man_src->can_resume_get() && sl.fdata().valid_size(false) &&
                          sl.trans_mode_src() == KV_TRANS_MODE_BINARY))
                        e->set_flag(F_RESTART);
                } else if (e->test_flag(F_WRITE)) {
                    e->set_flag(F_READ);
                }
                ok = sl.set_status(e->test_flag(F_RESTART) ? 0 : e->test_flag(F_READ) ? 1 : 2);
                if (e->test_flag(F_READ | F_RESTART) || !sl.tmp_data())
                    src_trouble = true;
                if (e->test_flag(F_WRITE))
                    dst_trouble = true;
            }
        }
    }
    return ok;
}

bool KV_TavoTrans::start_copies(KV_FileReqTransCp& req, CpList& batch, bool& segmented)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    segmented = false;
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    KV_TransLogTransCp& log = req.log();
    KV_TmpFileMan& tmp = KV_TransLog::tmp_file_man();
    const bool same =
        man_src->type() == man_dst->type() &&
        static_cast<const KV_DsId&>(man_src->id()) == static_cast<const KV_DsId&>(man_dst->id());
    const bool dtrans = req.dtrans();
    bool ok = true;
    // Made at the first file that may be copied here, kept for the batch.
    std::unique_ptr<KV_Tavo> own_src;
    std::unique_ptr<KV_Tavo> own_dst;
    bool own_asked = false;
    for (Entry* e : batch) {
        if (!ok || !req.executed())
            break;
        KV_TransLogCp& sl = e->log();
        if (sl.status() > KV_TransLogCp::ST_DELIVERING)
            continue;
        if (sl.status() == KV_TransLogCp::ST_NONE) {
            if (sl.has_file()) {
                if (sl.name().empty()) {
                    KV_PathDef p;
                    ok = tmp.new_file(KV_PATH_TMP, p, KV_String()) && sl.set_path(p);
                }
                ok = ok && sl.create(req.eh()) && sl.set_status(KV_TransLogCp::ST_RECEIVING);
            }
            if (ok) {
                Rec rec(log.phase(), Rec::ST_RUNNING, sl.path_src(),
                        sl.has_file() ? sl.name() : KV_String(), 0, KV_String());
                ok = log.set_status(rec);
                if (!ok)
                    log_failed(req);
            }
        }
        // A download to a folder of this machine writes its bytes once,
        // straight into the file under its temporary name there; the
        // sub-log keeps only the counts. Where the destination has no such
        // file (another protocol) the sub-log keeps the data as before.
        if (ok && sl.has_file() && sl.tmp_data() && !dtrans) {
            const int fd = man_dst->open_part(log.path_dst(), sl.path_dst());
            bool afresh = false;
            if (fd >= 0 && !sl.use_part(fd, afresh) && afresh) {
                // The part does not hold what the sub-log vouches for: the
                // file is fetched again from its start.
                ok = sl.create(req.eh()) && sl.set_status(KV_TransLogCp::ST_RECEIVING);
                const int again = ok ? man_dst->open_part(log.path_dst(), sl.path_dst()) : -1;
                if (again >= 0)
                    sl.use_part(again, afresh);
            }
        }
        if (!ok)
            break;
        KV_PathDef data;
        ok = sl.own_path(data);
        if (!ok)
            break;
        if (sl.multifrag())
            segmented = true;
        KV_FileFragMan& frags = sl.man_frag();
        frags.set_queued_all(false);
        bool fetch = sl.status() < KV_TransLogCp::ST_DELIVERING;
        const KV_FileData& fd = sl.fdata();
        bool here = !dtrans && fd.valid_size(false) && fd.size(false) <= INLINE_MAX;
        if (here && !own_asked) {
            own_asked = true;
            own_dst = man_dst->own_tavo();
            own_src = man_src->own_tavo();
        }
        here = here && own_dst != nullptr && (!fetch || own_src != nullptr);
        // The store step run here once its fetches are over.
        KV_FileReqCopy* store = nullptr;
        bool first = true;
        for (;;) {
            KV_FileFrag* frag = nullptr;
            if (fetch) {
                ok = frags.take(&frag);
                fetch = ok && frag != nullptr;
            }
            if (ok && first) {
                if (!here)
                    man_dst->wait_nbusy();
                auto* obs = new (std::nothrow) KV_FileReqObs();
                if (obs == nullptr || !e->add_obs(obs)) {
                    delete obs;
                    ok = false;
                    break;
                }
                auto* cp = new (std::nothrow)
                    KV_FileReqCopy(req.eh(), req, &sl, KV_ComplPath(tmp.path_man(), data),
                                   KV_ComplPath(man_dst->man_path(), sl.path_dst()), nullptr,
                                   KV_FILE_TRANS_TYPE_STORE, same, dtrans);
                if (cp == nullptr) {
                    ok = false;
                    break;
                }
                KV_REQ_STAT stat = KV_REQ_STAT_QUEUED;
                if (fetch) {
                    cp->set_busy_reg(false);
                    frags.set_request(cp);
                    stat = KV_REQ_STAT_SUSPENDED;
                }
                if (here) {
                    bind_here(req, cp, obs, stat);
                    store = cp;
                } else {
                    ok = man_dst->add_req(cp, &req, obs, stat);
                    if (!ok)
                        frags.reset_request();
                }
                first = !ok;
            }
            if (ok && fetch) {
                if (!here)
                    man_src->wait_nbusy();
                auto* obs = new (std::nothrow) KV_FileReqObs();
                if (obs == nullptr || !e->add_obs(obs)) {
                    delete obs;
                    ok = false;
                    break;
                }
                auto* cp = new (std::nothrow) KV_FileReqCopy(
                    req.eh(), req, &sl, KV_ComplPath(man_src->man_path(), sl.path_src()),
                    KV_ComplPath(man_dst->man_path(), data), frag, KV_FILE_TRANS_TYPE_FETCH, same,
                    dtrans);
                if (here) {
                    ok = cp != nullptr;
                    if (ok) {
                        bind_here(req, cp, obs, KV_REQ_STAT_QUEUED);
                        own_src->run_here(cp);
                        delete cp;
                    }
                } else {
                    ok = cp != nullptr && man_src->add_req(cp, &req, obs, KV_REQ_STAT_QUEUED);
                }
            }
            if (!ok || !fetch || req.stopped())
                break;
        }
        // With every fetch over, the store is due (Queued) or has ended
        // with them (Error).
        frags.set_queued_all(true);
        if (store != nullptr) {
            frags.reset_request();
            if (store->status() == KV_REQ_STAT_QUEUED)
                own_dst->run_here(store);
            else if (!KV_FileReq::processed(store->status()))
                store->set_status(KV_REQ_STAT_ERROR, true, 0, false);
            // The notice a queued step gives through its manager: the
            // browse tree shows the new file.
            if (store->status() == KV_REQ_STAT_COMPLETED)
                man_dst->informer().send(new (std::nothrow) KV_MsgTreeExp(
                    store->dst().path(), KV_TREE_EXP_CREATED, false));
            delete store;
        }
    }
    return ok;
}

void KV_TavoTrans::bind_here(KV_FileReqTransCp& req, KV_FileReqCopy* cp, KV_FileReqObs* obs,
                             KV_REQ_STAT stat)
{
    // Bound to no manager: the step is in no queue, counts against no
    // worker limit and gives no notices. It still answers to the
    // transfer's stop and reports its end to `obs`, as a queued step does.
    cp->set_data(nullptr, &req, obs, stat == KV_REQ_STAT_SUSPENDED);
    cp->set_status(stat, false, 0, false);
}

// ---------------------------------------------------------------------------
// Checks after a batch

bool KV_TavoTrans::check_src(KV_FileReqTransCp& req, CpList& batch, const KV_PathDef& src,
                             const Names& names, bool segmented)
{
    KV_FileMan* man_src = req.man_src();
    if (man_src == nullptr)
        return false;
    const bool cs = man_src->case_sens();
    KV_FileListStore store(cs, &names);
    bool ok = true;
    if (segmented)
        ok = man_src->get_dir_list(req, src, store);
    if (!ok || !req.executed())
        return ok;
    for (Entry* e : batch) {
        KV_TransLogCp& sl = e->log();
        const KV_FileData& fd = sl.fdata();
        if (segmented && !e->test_flag(F_RESTART)) {
            bool same = false;
            for (KV_FileTreeNode* node : store.entries()) {
                if (!same_kind_named(node, fd, fd.name(), cs))
                    continue;
                const KV_FileData& now = node->fdc();
                if (!fd.cmp_size(now, false)) {
                    req.eh().set_err(1,
                                     "Post transfer check: The length of the source file \"%s\" "
                                     "has changed (%lld, %lld bytes).",
                                     fd.name().data(), static_cast<long long>(fd.size(false)),
                                     static_cast<long long>(now.size(false)));
                } else if (!(fd.time() == now.time())) {
                    req.eh().set_err(1,
                                     "Post transfer check: The source file \"%s\" has changed "
                                     "(%s, %s).",
                                     fd.name().data(), fd.time().data(), now.time().data());
                } else {
                    same = true;
                }
                break;
            }
            if (!same)
                e->set_flag(F_RESTART);
        }
        if (e->test_flag(F_RESTART))
            continue;
        if (!sl.multifrag()) {
            const int64_t size = sl.size();
            if (sl.trans_mode_src() == KV_TRANS_MODE_BINARY && fd.valid_size(false) &&
                size != fd.size(false) && (size > fd.size(false) || !e->test_flag(F_READ))) {
                if (!e->test_flag(F_FAILED))
                    req.eh().set_err(1,
                                     "Post transfer check: The length of the source file \"%s\" "
                                     "has changed (%lld, %lld bytes).",
                                     fd.name().data(), static_cast<long long>(fd.size(false)),
                                     static_cast<long long>(size));
                e->set_flag(F_RESTART);
                if (!e->test_flag(F_READ))
                    e->set_flag(F_LENGTH);
            }
        } else {
            bool partial = false;
            while (!e->test_flag(F_RESTART)) {
                KV_FileFrag* f = nullptr;
                if (!sl.man_frag().find_state(KV_FileFrag::FAILED, &f) || f == nullptr)
                    break;
                e->set_flag(F_READ);
                if (f->pos() < f->end()) {
                    partial = true;
                    f->set_state(KV_FileFrag::PARTIAL);
                } else {
                    e->set_flag(F_RESTART);
                }
            }
            if (e->test_flag(F_READ) && !partial)
                e->set_flag(F_RESTART);
        }
    }
    return ok;
}

bool KV_TavoTrans::check_dst(KV_FileReqTransCp& req, CpList& batch, const KV_PathDef& dst,
                             const Names& names, const Names* names_src, const Names* names_dst)
{
    KV_FileMan* man_src = req.man_src();
    KV_FileMan* man_dst = req.man_dst();
    if (man_src == nullptr || man_dst == nullptr)
        return false;
    const bool cs = man_dst->case_sens();
    KV_FileListStore store(cs, names_dst != nullptr ? names_dst : &names);
    const bool ok = man_dst->get_dir_list(req, dst, store);
    if (!ok || !req.executed())
        return ok;
    for (Entry* e : batch) {
        if (e->test_flag(F_FAILED))
            continue;
        KV_TransLogCp& sl = e->log();
        const KV_FileData& fd = sl.fdata();
        KV_String dname;
        map_name(dname, fd.name(), names_src, names_dst, man_src->case_sens());
        bool found = false;
        bool right = true;
        for (KV_FileTreeNode* node : store.entries()) {
            if (!same_kind_named(node, fd, dname, cs))
                continue;
            found = true;
            const KV_FileData& now = node->fdc();
            right = !(sl.trans_mode_dst() == KV_TRANS_MODE_BINARY && now.valid_size(false) &&
                      now.size(false) != sl.size());
            if (!right)
                req.eh().set_err(1,
                                 "Post transfer check: Invalid length of the destination file "
                                 "\"%s\" (%lld, %lld bytes).",
                                 now.name().data(), static_cast<long long>(fd.size(false)),
                                 static_cast<long long>(now.size(false)));
            break;
        }
        if (!found || !right) {
            e->set_flag(F_WRITE);
            if (!found)
                req.eh().set_err(1, "Post transfer check: Uploaded file \"%s\" not found.",
                                 dname.data());
        }
    }
    return ok;
}
