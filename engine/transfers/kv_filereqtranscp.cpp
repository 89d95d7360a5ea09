// KV_FileReqTransCp: the copy and move transfer request.
#include "transfers/kv_filereqtranscp.h"

#include <mutex>
#include <new>

#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfo.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_tavo.h"
#include "transfers/kv_filereqtaskstrans.h"

namespace {

const char OP_COPY[] = "Copy";
const char OP_MIRROR[] = "Mirror";
const char OP_OPEN[] = "Open";
const char OP_VIEW[] = "View";
const char OP_EDIT[] = "Edit";
const char OP_PRINT[] = "Print";
const char OP_UPDATE[] = "Application update";

const KVTL::KV_ListVal<KV_String>& no_names()
{
    static const KVTL::KV_ListVal<KV_String> none;
    return none;
}

bool same_names(const KVTL::KV_ListVal<KV_String>& a, const KVTL::KV_ListVal<KV_String>& b,
                bool case_sens)
{
    if (a.size() != b.size())
        return false;
    for (uint32_t i = 0; i < a.size(); ++i) {
        if (a.at(i).compare(b.at(i), case_sens) != 0)
            return false;
    }
    return true;
}

} // namespace

KV_FileReqTransCp::KV_FileReqTransCp(KV_FileMan* src, KV_FileMan* dst, const KV_PathDef& path_src,
                                     const KV_PathDef& path_dst,
                                     const KVTL::KV_ListVal<KV_String>& names_src,
                                     const KVTL::KV_ListVal<KV_String>& names_dst,
                                     const KV_FileReqTransParamsCp& params)
    : KV_FileReqTrans(log_), poll(true, true),
      log_(KV_String(), path_src, path_dst, names_src, names_dst, params)
{
    init(src, dst);
    log_.set_ids(src != nullptr ? src->id() : KV_FileManId(),
                 dst != nullptr ? dst->id() : KV_FileManId());
}

KV_FileReqTransCp::KV_FileReqTransCp(const KV_String& path)
    : KV_FileReqTrans(log_), poll(true, true),
      log_(path, KV_PathDef(), KV_PathDef(), no_names(), no_names(), KV_FileReqTransParamsCp())
{
}

KV_FileReqTransCp::~KV_FileReqTransCp()
{
    // Settled while the log, which the last notices read, still exists.
    set_term_status();
    std::lock_guard<KV_Lock> hold(lock);
    if (man_src_ != nullptr)
        man_src_->unlock(true);
    if (man_dst_ != nullptr)
        man_dst_->unlock(true);
    man_src_ = nullptr;
    man_dst_ = nullptr;
}

void KV_FileReqTransCp::init(KV_FileMan* src, KV_FileMan* dst)
{
    man_src_ = src;
    man_dst_ = dst;
    if (src != nullptr)
        src->lock(true);
    if (dst != nullptr)
        dst->lock(true);
}

KV_FileMan* KV_FileReqTransCp::man_src() const
{
    return log_.phase() == 2 ? man_dst_ : man_src_;
}

KV_FileMan* KV_FileReqTransCp::man_dst() const
{
    return log_.phase() == 2 ? man_src_ : man_dst_;
}

void KV_FileReqTransCp::poll_reset()
{
    if (!stopped())
        poll.reset();
}

void KV_FileReqTransCp::poll_wait(uint32_t ms)
{
    if (!stopped())
        poll.wait(ms);
}

bool KV_FileReqTransCp::dtrans() const
{
    return man_src_ != nullptr && man_dst_ != nullptr && man_src_->type() == man_dst_->type() &&
           man_src_->type() == KV_FILE_MAN_TYPE_FTP && log_.dtrans();
}

void KV_FileReqTransCp::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_FileReqTrans::stop_done(type, threshold);
    poll.set();
}

bool KV_FileReqTransCp::update_prog(const KV_PathDef& path, int percent)
{
    if (prog_ntf_.load(std::memory_order_relaxed) != 0)
        set_prog_perc(percent);
    return log_.update_prog(path, percent);
}

// ---------------------------------------------------------------------------
// Request slots

bool KV_FileReqTransCp::req_started()
{
    const KV_FILEOP op = log_.fileop();
    if (op == KV_FILEOP_UPDATE_CHECK || op == KV_FILEOP_UPDATE_APP)
        set_del_forced(true, false, false);
    return true;
}

bool KV_FileReqTransCp::req_processed()
{
    KV_Informer* root = kv_root_informer();
    KV_FileReqMan* m = man();
    if (root != nullptr && m != nullptr) {
        if (man_src_ != nullptr)
            m->add_task(KV_FileReqTaskUsgChck(*root, man_src_->id()));
        if (man_dst_ != nullptr)
            m->add_task(KV_FileReqTaskUsgChck(*root, man_dst_->id()));
    }
    return true;
}

bool KV_FileReqTransCp::operator==(const KV_FileReq& other) const
{
    if (type() != other.type() || man_src_ == nullptr || man_dst_ == nullptr)
        return false;
    const auto* o = dynamic_cast<const KV_FileReqTransCp*>(&other);
    if (o == nullptr || !same_man(man_src_, o->man_src_) || !same_man(man_dst_, o->man_dst_) ||
        log_.fileop() != o->log_.fileop())
        return false;
    const bool cs_src = man_src_->case_sens();
    const bool cs_dst = man_dst_->case_sens();
    return log_.path_src_const().is_equal(o->log_.path_src_const(), cs_src) &&
           log_.path_dst_const().is_equal(o->log_.path_dst_const(), cs_dst) &&
           same_names(log_.list_files_src_const(), o->log_.list_files_src_const(), cs_src) &&
           same_names(log_.list_files_dst_const(), o->log_.list_files_dst_const(), cs_dst);
}

const char* KV_FileReqTransCp::get_descr(KV_String& descr, bool detailed) const
{
    const char* op = OP_COPY;
    switch (log_.fileop()) {
    case KV_FILEOP_OPEN:
        op = OP_OPEN;
        break;
    case KV_FILEOP_VIEW:
        op = OP_VIEW;
        break;
    case KV_FILEOP_EDIT:
        op = OP_EDIT;
        break;
    case KV_FILEOP_PRINT:
        op = OP_PRINT;
        break;
    case KV_FILEOP_UPDATE_CHECK:
    case KV_FILEOP_UPDATE_APP:
        op = OP_UPDATE;
        break;
    default:
        op = log_.mirror() == 1 || log_.mirror() == 2 ? OP_MIRROR : OP_COPY;
        break;
    }
    if (man_src_ == nullptr || man_dst_ == nullptr)
        return op;
    const bool single = log_.fileop() >= KV_FILEOP_OPEN && log_.fileop() <= KV_FILEOP_UPDATE_APP;
    KV_FileManParams* ps = man_src_->clone_params();
    KV_FileManParams* pd = man_dst_->clone_params();
    if (ps != nullptr && pd != nullptr) {
        descr.clear();
        if (detailed)
            descr = KV_String(single ? "Data source" : "Data sources") + ":\t";
        descr += ps->name() + " " + KV_String(man_src_->id());
        if (!single)
            descr += KV_String(" => ") + pd->name() + " " + KV_String(man_dst_->id());
        const auto& names_src = log_.list_files_src_const();
        const auto& names_dst = log_.list_files_dst_const();
        if (!detailed) {
            descr += descr_files(names_src, false, names_dst);
        } else {
            KV_String src;
            KV_String dst;
            const KV_PathMan pm_src = man_src_->man_path();
            const KV_PathMan pm_dst = man_dst_->man_path();
            if (pm_src.build_path(src, log_.path_src_const(), false, 0) &&
                pm_dst.build_path(dst, log_.path_dst_const(), false, 0)) {
                descr += "\r\n\r\n";
                descr += KV_String::format_impl(
                    "%s:\t%s%s%s:\t%s%s%s:\t\t", "Source path", pm_src.compl_dir(src).data(),
                    "\r\n", "Destination path", pm_dst.compl_dir(dst).data(), "\r\n", "File(s)");
                descr += descr_files(names_src, true, names_dst);
            }
        }
    }
    KV_FileManParams::destr_clone(ps);
    KV_FileManParams::destr_clone(pd);
    return op;
}

bool KV_FileReqTransCp::resume(bool& out)
{
    const KV_FILEOP op = log_.fileop();
    out = op == KV_FILEOP_COPY || op == KV_FILEOP_UPDATE_APP;
    return op != KV_FILEOP_UPDATE_CHECK;
}

bool KV_FileReqTransCp::can_retry()
{
    return KV_FileReq::can_retry() && log_.fileop() != KV_FILEOP_UPDATE_CHECK;
}

void KV_FileReqTransCp::get_info(KV_FileReqInfo& info, bool full)
{
    KV_FileReqTrans::get_info(info, full);
    const KV_FILEOP op = log_.fileop();
    info.set_fileop(op);
    if (op == KV_FILEOP_COPY)
        return;
    if (op == KV_FILEOP_UPDATE_CHECK ||
        (man_src_ != nullptr && man_src_->type() == KV_FILE_MAN_TYPE_STD))
        info.set_flags(1, 0);
    if (log_.phase() == 1)
        info.set_flags(2, 0);
}

bool KV_FileReqTransCp::file_del(const KV_PathDef& path)
{
    return log_.file_del(path);
}

bool KV_FileReqTransCp::involved(const KV_FileManId& id) const
{
    if (processed() || man_src_ == nullptr || man_dst_ == nullptr)
        return false;
    return id == man_src_->id() || id == man_dst_->id();
}

void KV_FileReqTransCp::req_browse()
{
    KV_FileReqMan* m = man();
    if (m == nullptr || man_src_ == nullptr || man_dst_ == nullptr)
        return;
    for (KV_FileMan* f : {man_dst_, man_src_}) {
        auto* msg = new (std::nothrow) KV_MsgManNtf(f->id(), KV_MAN_NTF_BROWSE, KV_String());
        if (msg != nullptr)
            m->informer().send(msg);
    }
}

void KV_FileReqTransCp::ds_types(uint16_t& src, uint16_t& dst) const
{
    src = 0;
    dst = 0;
    if (man_src_ == nullptr || man_dst_ == nullptr)
        return;
    src = man_src_->id().type();
    dst = man_dst_->id().type();
}

bool KV_FileReqTransCp::run_on(KV_Tavo& t)
{
    return t.do_trans_cp(*this);
}
