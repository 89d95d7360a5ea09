// KV_TransLogTransCp: the request log of a copy or move request.
#include "transfers/kv_translogtranscp.h"

#include <mutex>
#include <new>

#include "datasources/kv_translogio.h"
#include "foundation/kv_file.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_tmpfile.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_reqmsg.h"
#include "transfers/kv_translogcp.h"

namespace {

constexpr uint8_t PHASE_UPLOAD = 2;
constexpr uint8_t PHASE_DONE = 3;

void copy_names(KVTL::KV_ListVal<KV_String>& to, const KVTL::KV_ListVal<KV_String>& from)
{
    to.set_grow(85);
    for (const KV_String& n : from) {
        if (!to.add(n))
            break;
    }
}

// Whether `name` names a file directly inside the temporary transfer folder,
// where every sub-log is made.
bool in_tmp_dir(const KV_String& name)
{
    const KV_String dir = KV_File::path(KV_PATH_TMP, true);
    if (dir.length() <= 1 || name.length() <= dir.length() || name.part(0, dir.length()) != dir)
        return false;
    const KV_String rest = name.part(dir.length(), name.length());
    return !rest.contains('/') && rest != "." && rest != "..";
}

} // namespace

KV_TransLogTransCp::KV_TransLogTransCp(const KV_String& name, const KV_PathDef& path_src,
                                       const KV_PathDef& path_dst,
                                       const KVTL::KV_ListVal<KV_String>& names_src,
                                       const KVTL::KV_ListVal<KV_String>& names_dst,
                                       const KV_FileReqTransParamsCp& params)
    : KV_TransLogTrans(name), params_(params), path_src_(path_src), path_dst_(path_dst)
{
    copy_names(names_src_, names_src);
    copy_names(names_dst_, names_dst);
    fopcps.set_grow(1024);
}

KV_TransLogTransCp::~KV_TransLogTransCp()
{
    std::lock_guard<KV_Lock> hold(lock);
    drop_items();
}

void KV_TransLogTransCp::set_ids(const KV_FileManId& src, const KV_FileManId& dst)
{
    id_man_src_ = src;
    id_man_dst_ = dst;
}

KV_Time KV_TransLogTransCp::tm_last_cp()
{
    std::lock_guard<KV_Lock> hold(lock);
    return tm_last_cp_;
}

const KV_PathDef& KV_TransLogTransCp::path_src()
{
    return phase() == PHASE_UPLOAD ? path_dst_ : path_src_;
}

const KV_PathDef& KV_TransLogTransCp::path_dst()
{
    return phase() == PHASE_UPLOAD ? path_src_ : path_dst_;
}

const KVTL::KV_ListVal<KV_String>& KV_TransLogTransCp::list_files_src()
{
    return phase() == PHASE_UPLOAD ? names_dst_ : names_src_;
}

const KVTL::KV_ListVal<KV_String>& KV_TransLogTransCp::list_files_dst()
{
    return phase() == PHASE_UPLOAD ? names_src_ : names_dst_;
}

uint8_t KV_TransLogTransCp::mirror()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.mirror();
}

uint8_t KV_TransLogTransCp::tm_type()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.tm_type();
}

uint32_t KV_TransLogTransCp::tm_def()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.tm_def();
}

uint16_t KV_TransLogTransCp::dayspec()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.dayspec();
}

bool KV_TransLogTransCp::skip_sz()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.skip_sz();
}

bool KV_TransLogTransCp::del_src()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.del_src();
}

bool KV_TransLogTransCp::dtrans()
{
    std::lock_guard<KV_Lock> hold(lock);
    return params_.dtrans();
}

uint8_t KV_TransLogTransCp::phase()
{
    std::lock_guard<KV_Lock> hold(lock);
    return phase_;
}

bool KV_TransLogTransCp::next_phase()
{
    std::lock_guard<KV_Lock> hold(lock);
    if (phase_ == PHASE_DONE || !reopen())
        return false;
    uint8_t next = PHASE_DONE;
    if (fileop_ == KV_FILEOP_EDIT && phase_ < PHASE_UPLOAD)
        next = static_cast<uint8_t>(phase_ + 1);
    KV_TransLogOut out(pos_phase);
    if (!out.num(next) || !out.rewrite(file))
        return false;
    phase_ = next;
    return true;
}

bool KV_TransLogTransCp::set_tm_last_cp(const KV_Time& time)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_TransLogOut out(pos_tm_last_cp);
    if (!reopen() || !out.time(time) || !out.rewrite(file))
        return false;
    tm_last_cp_ = time;
    return true;
}

// ---------------------------------------------------------------------------
// Copy items

KV_TransLogFileGrpFopCp* KV_TransLogTransCp::find_rec(uint8_t phase, const KV_PathDef& path)
{
    KV_TransLogFileGrpFopCp key(phase, path, KV_String());
    KV_TransLogFileGrpFopCp* found = nullptr;
    return fopcps.find(&key, &found) ? found : nullptr;
}

bool KV_TransLogTransCp::set_status(KV_TransLogFileGrpFopCp& rec)
{
    std::lock_guard<KV_Lock> hold(lock);
    // A name that cannot be stored is refused before anything is written.
    if (!KV_TransLogFileGrpFopCp::sublog_fits(rec.sublog()))
        return false;
    return put_rec(fopcps, rec, [&](KV_TransLogFileGrpFopCp& found) {
        return found.update(file, rec.status(), rec.size(), rec.tm_text()) &&
               (rec.sublog().empty() || found.set_sublog(file, rec.sublog()));
    });
}

uint8_t KV_TransLogTransCp::status(const KV_PathDef& path, KV_String* sublog, int64_t* size,
                                   KV_String* tm_text)
{
    std::lock_guard<KV_Lock> hold(lock);
    const KV_TransLogFileGrpFopCp* rec = find_rec(phase_, path);
    if (rec == nullptr)
        return 0;
    if (sublog != nullptr)
        *sublog = rec->sublog();
    if (size != nullptr)
        *size = rec->size();
    if (tm_text != nullptr)
        *tm_text = rec->tm_text();
    return rec->status();
}

uint8_t KV_TransLogTransCp::status_in(uint8_t phase, const KV_PathDef& path)
{
    std::lock_guard<KV_Lock> hold(lock);
    const KV_TransLogFileGrpFopCp* rec = find_rec(phase, path);
    return rec == nullptr ? 0 : rec->status();
}

bool KV_TransLogTransCp::set_props(KV_TransLogFileGrpFopCp& rec, int64_t size, const KV_Time& time)
{
    std::lock_guard<KV_Lock> hold(lock);
    if (!reopen())
        return false;
    KV_TransLogFileGrpFopCp* found = find_rec(rec.phase(), rec.path());
    return found != nullptr && found->set_props(file, size, time);
}

bool KV_TransLogTransCp::props(const KV_PathDef& path, int64_t& size, KV_Time& time)
{
    std::lock_guard<KV_Lock> hold(lock);
    // The local copy was made, and its properties taken, in the first pass.
    const KV_TransLogFileGrpFopCp* rec = find_rec(0, path);
    if (rec == nullptr)
        return false;
    size = rec->size_local();
    time = rec->tm_local();
    return true;
}

bool KV_TransLogTransCp::update_prog(const KV_PathDef& path, int value)
{
    std::lock_guard<KV_Lock> hold(lock);
    KV_TransLogFileGrpFopCp* rec = find_rec(phase_, path);
    if (rec == nullptr)
        return false;
    rec->set_progress(value);
    tell(rec);
    return true;
}

bool KV_TransLogTransCp::some_done()
{
    std::lock_guard<KV_Lock> hold(lock);
    for (const KV_TransLogFileGrpFopCp* r : fopcps) {
        if (r->status() == KV_TransLogFileGrpFopCp::ST_DONE && r->size() != -1)
            return true;
    }
    return false;
}

bool KV_TransLogTransCp::inc_err(const KV_PathDef& path, uint32_t limit)
{
    std::lock_guard<KV_Lock> hold(lock);
    return count_err(find_rec(phase_, path), limit);
}

bool KV_TransLogTransCp::some_skipped()
{
    if (KV_TransLogTrans::some_skipped())
        return true;
    std::lock_guard<KV_Lock> hold(lock);
    for (const KV_TransLogFileGrpFopCp* r : fopcps) {
        if (r->status() == KV_TransLogFileGrpFopCp::ST_SKIPPED)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Sub-logs

bool KV_TransLogTransCp::del_sublog(KV_TransLogFileGrpFopCp& rec, bool reset)
{
    if (reset && !rec.update(file, KV_TransLogFileGrpFopCp::ST_INIT, 0, KV_String()))
        return false;
    if (rec.sublog().empty())
        return true;
    const KV_String old = rec.sublog();
    // The record forgets the name first: a record that still named a
    // deleted file could make a later run delete whatever takes the name.
    if (!rec.set_sublog(file, KV_String()))
        return false;
    tmp_file_man().unreg(old);
    // A sub-log already gone is as good as deleted; asking first would cost
    // every file a call.
    return KV_File::del(old, false) || errno == ENOENT;
}

bool KV_TransLogTransCp::del_sublog(const KV_PathDef& path, bool reset)
{
    if (path.empty())
        return true;
    if (!reopen())
        return false;
    KV_TransLogFileGrpFopCp* rec = find_rec(phase_, path);
    return rec == nullptr || del_sublog(*rec, reset);
}

bool KV_TransLogTransCp::del_sublog(KV_TransLogCp& sub)
{
    sub.close();
    std::lock_guard<KV_Lock> hold(lock);
    return del_sublog(sub.path_src(), false);
}

bool KV_TransLogTransCp::del_sublogs()
{
    std::lock_guard<KV_Lock> hold(lock);
    bool opened = false;
    for (KV_TransLogFileGrpFopCp* r : fopcps) {
        // Every record, whatever its phase: a sub-log named only by a record
        // of another phase would otherwise stay behind for ever.
        if (r->sublog().empty())
            continue;
        if (!opened && !reopen())
            return false;
        opened = true;
        if (!del_sublog(*r, false))
            return false;
    }
    return true;
}

bool KV_TransLogTransCp::file_del(const KV_PathDef& dst)
{
    KV_PathDef up(dst);
    uint32_t n = 0;
    while (!(up == path_dst_)) {
        if (up.empty())
            return false;
        up.remove_last();
        ++n;
    }
    KV_PathDef src(path_src_);
    for (uint32_t i = dst.entries() - n; i < dst.entries(); ++i) {
        if (!src.append(dst.at(i)))
            return false;
    }
    std::lock_guard<KV_Lock> hold(lock);
    return del_sublog(src, true);
}

bool KV_TransLogTransCp::tmp_used(const KV_String& name)
{
    std::lock_guard<KV_Lock> hold(lock);
    for (const KV_TransLogFileGrpFopCp* r : fopcps) {
        if (r->sublog() == name)
            return true;
    }
    return false;
}

bool KV_TransLogTransCp::fileop(const KV_PathDef& src, const KV_PathDef& dst, KV_FileMan& man_src,
                                KV_FileMan& man_dst, KV_TransLogFileGrpFopCp* const rec)
{
    if (fileop_ == KV_FILEOP_COPY)
        return true;
    const uint8_t ph = phase();
    if (ph == 0) {
        KV_Informer* root = kv_root_informer();
        KV_String local;
        if (root == nullptr || !man_dst.man_path().build_path(local, dst, false, 0))
            return false;
        if (rec != nullptr) {
            int64_t size = 0;
            KV_Time time;
            if (!KV_File::props(local, size, time) || !set_props(*rec, size, time))
                return false;
        }
        auto* msg = new (std::nothrow)
            KV_MsgFileOp(fileop_, local, src.last(), man_src.type() != KV_FILE_MAN_TYPE_STD);
        if (msg == nullptr)
            return false;
        root->send(msg);
        return true;
    }
    if (ph == PHASE_UPLOAD && man_src.type() == KV_FILE_MAN_TYPE_STD) {
        // The source of the upload is the local copy of the first pass.
        KV_String local;
        return man_src.man_path().build_path(local, src, false, 0) && KV_File::del(local, false);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Slots

void KV_TransLogTransCp::drop_items()
{
    for (KV_TransLogFileGrpFopCp* r : fopcps)
        delete r;
    fopcps.clear();
}

void KV_TransLogTransCp::cleanup(bool all)
{
    KV_TransLogTrans::cleanup(all);
    std::lock_guard<KV_Lock> hold(lock);
    drop_items();
    if (all) {
        names_src_.clear();
        names_dst_.clear();
    }
}

void KV_TransLogTransCp::changing_status(KV_REQ_STAT old, KV_REQ_STAT now)
{
    if (KV_FileReq::processed(old) == KV_FileReq::processed(now))
        return;
    KV_MsgReqLog* msg = window_msg();
    if (msg == nullptr)
        return;
    msg->log.chg |= KV_FileReqLog::CHG_ELEMS;
    add_item_lines(msg->log);
    send_window(msg);
}

bool KV_TransLogTransCp::forced_exec(uint8_t kind)
{
    std::lock_guard<KV_Lock> hold(lock);
    switch (kind) {
    case KV_TransLogFileGrpAns::ASK_OVERWRITE:
        return phase_ == PHASE_UPLOAD;
    case KV_TransLogFileGrpAns::ASK_DELETE:
        return params_.forced_exec() != KV_FEXEC_NONE;
    default:
        return false;
    }
}

bool KV_TransLogTransCp::read_elem(KV_FILE_REQ_LOG_ELEM kind, KV_TransLogIn& in, bool& handled)
{
    if (kind != KV_FILE_REQ_LOG_ELEM_FILEOP_CP) {
        handled = false;
        return true;
    }
    KV_TransLogFileGrpFopCp* rec = nullptr;
    if (!read_rec(fopcps, in, handled, true, &rec))
        return false;
    if (!handled || rec->sublog().empty())
        return true;
    if (!in_tmp_dir(rec->sublog()) || rec->sublog() == name()) {
        // Not a sub-log of ours (a damaged file may even name the log
        // itself): never registered, never deleted.
        rec->forget_sublog();
        return true;
    }
    return tmp_file_man().reg(rec->sublog());
}

void KV_TransLogTransCp::del_log()
{
    del_sublogs();
    KV_TransLogTrans::del_log();
}

void KV_TransLogTransCp::reset_tm_susp()
{
    std::lock_guard<KV_Lock> hold(lock);
    params_.reset_tm_susp();
}

bool KV_TransLogTransCp::restart()
{
    if (!del_sublogs())
        return false;
    {
        std::lock_guard<KV_Lock> hold(lock);
        pos_tm_last_cp = 0;
        pos_phase = 0;
        phase_ = 0;
        tm_last_cp_ = KV_Time();
    }
    return KV_TransLogTrans::restart();
}

bool KV_TransLogTransCp::get_log(uint32_t id, KV_FileReqLog& log)
{
    if (!KV_TransLogTrans::get_log(id, log))
        return false;
    std::lock_guard<KV_Lock> hold(lock);
    return !log_this() || add_item_lines(log);
}

bool KV_TransLogTransCp::add_item_lines(KV_FileReqLog& log)
{
    for (const KV_TransLogFileGrpFopCp* r : fopcps) {
        if (!add_log_elem(log, r))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Body

bool KV_TransLogTransCp::write_data()
{
    KV_TransLogOut out;
    if (!write_data_beg(out) || !out.num<uint32_t>(fileop_) || !out.man_id(id_man_src_) ||
        !out.man_id(id_man_dst_) || !out.path(path_src_) || !out.path(path_dst_) ||
        !out.names(names_src_) || !out.names(names_dst_))
        return false;
    pos_phase = out.pos();
    if (!out.num(phase_))
        return false;
    pos_tm_last_cp = out.pos();
    if (!out.time(tm_last_cp_))
        return false;
    drop_items();
    return write_data_end(out);
}

bool KV_TransLogTransCp::read_data()
{
    drop_items();
    KV_TransLogIn in(file);
    uint32_t fileop = 0;
    // A damaged mode byte must not turn a copy into a mirror that deletes
    // at the destination, nor the file operation into another one.
    if (!read_data_beg(in) || params_.mirror() > 2 || params_.tm_type() > 4 || !in.num(fileop) ||
        fileop > KV_FILEOP_UPDATE_APP || !in.man_id(id_man_src_) || !in.man_id(id_man_dst_) ||
        !in.path(path_src_) || !in.path(path_dst_) || !in.names(names_src_) ||
        !in.names(names_dst_))
        return false;
    fileop_ = static_cast<KV_FILEOP>(fileop);
    pos_phase = in.pos();
    if (!in.num(phase_) || phase_ > PHASE_DONE)
        return false;
    pos_tm_last_cp = in.pos();
    return in.time(tm_last_cp_) && read_data_end(in);
}
