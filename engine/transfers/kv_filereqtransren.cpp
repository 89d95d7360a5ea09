// The rename and delete transfer requests.
#include "transfers/kv_filereqtransren.h"

#include <mutex>
#include <new>

#include "foundation/kv_msg.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_tavo.h"
#include "transfers/kv_filereqtaskstrans.h"

namespace {

const char OP_RENAME[] = "Rename";
const char OP_DELETE[] = "Delete";

const KVTL::KV_ListVal<KV_String>& no_names()
{
    static const KVTL::KV_ListVal<KV_String> none;
    return none;
}

// The folder text of `path` in the manager's notation, ending in its
// separator.
bool folder_text(KV_String& out, const KV_PathMan& pm, const KV_PathDef& path)
{
    KV_String text;
    if (!pm.build_path(text, path, false, 0))
        return false;
    out = pm.compl_dir(text);
    return true;
}

} // namespace

KV_FileReqTransNames::KV_FileReqTransNames(KV_TransLogTransNames& log)
    : KV_FileReqTrans(log), names_log(log)
{
}

KV_FileReqTransNames::~KV_FileReqTransNames()
{
    set_term_status();
    std::lock_guard<KV_Lock> hold(lock);
    if (man_ != nullptr)
        man_->unlock(true);
    man_ = nullptr;
}

void KV_FileReqTransNames::init(KV_FileMan* man)
{
    man_ = man;
    if (man != nullptr)
        man->lock(true);
}

bool KV_FileReqTransNames::req_processed()
{
    KV_Informer* root = kv_root_informer();
    KV_FileReqMan* m = man();
    if (root != nullptr && m != nullptr && man_ != nullptr)
        m->add_task(KV_FileReqTaskUsgChck(*root, man_->id()));
    return true;
}

bool KV_FileReqTransNames::operator==(const KV_FileReq& other) const
{
    if (type() != other.type() || man_ == nullptr)
        return false;
    const auto* o = dynamic_cast<const KV_FileReqTransNames*>(&other);
    // The same folder and names on another server are another request: a
    // delete on server B must not be dropped as a duplicate of one on A.
    if (o == nullptr || !same_man(man_, o->man_))
        return false;
    const bool cs = man_->case_sens();
    const auto& a = names_log.list_files();
    const auto& b = o->names_log.list_files();
    if (!same_paths(*o, cs) || a.size() != b.size())
        return false;
    for (uint32_t i = 0; i < a.size(); ++i) {
        if (a.at(i).compare(b.at(i), cs) != 0)
            return false;
    }
    return true;
}

const char* KV_FileReqTransNames::get_descr(KV_String& descr, bool detailed) const
{
    const char* op = op_name();
    if (man_ == nullptr)
        return op;
    descr = detailed ? KV_String("Data source:\t") : KV_String();
    KV_FileManParams* params = man_->clone_params();
    if (params == nullptr)
        return op;
    descr += params->name() + " " + KV_String(man_->id());
    if (!detailed) {
        descr += descr_files(names_log.list_files(), false, no_names());
    } else {
        KV_String head;
        if (descr_paths(head, man_->man_path())) {
            descr += "\r\n\r\n";
            descr += head;
            descr += descr_files(names_log.list_files(), true, no_names());
        }
    }
    KV_FileManParams::destr_clone(params);
    return op;
}

bool KV_FileReqTransNames::involved(const KV_FileManId& id) const
{
    return !processed() && man_ != nullptr && man_->id() == id;
}

void KV_FileReqTransNames::req_browse()
{
    KV_FileReqMan* m = man();
    if (m == nullptr || man_ == nullptr)
        return;
    auto* msg = new (std::nothrow) KV_MsgManNtf(man_->id(), KV_MAN_NTF_BROWSE, KV_String());
    if (msg != nullptr)
        m->informer().send(msg);
}

// ---------------------------------------------------------------------------
// KV_FileReqTransRen

KV_FileReqTransRen::KV_FileReqTransRen(KV_FileMan* man, const KV_PathDef& path_src,
                                       const KV_PathDef& path_dst,
                                       const KVTL::KV_ListVal<KV_String>& names,
                                       const KV_FileReqTransParamsRen& params)
    : KV_FileReqTransNames(log_), log_(KV_String(), path_src, path_dst, names, params)
{
    init(man);
    log_.set_id(man != nullptr ? man->id() : KV_FileManId());
}

KV_FileReqTransRen::KV_FileReqTransRen(const KV_String& path)
    : KV_FileReqTransNames(log_),
      log_(path, KV_PathDef(), KV_PathDef(), no_names(), KV_FileReqTransParamsRen())
{
}

KV_FileReqTransRen::~KV_FileReqTransRen()
{
    set_term_status();
}

const char* KV_FileReqTransRen::op_name() const
{
    return OP_RENAME;
}

bool KV_FileReqTransRen::same_paths(const KV_FileReqTransNames& other, bool case_sens) const
{
    const auto* o = dynamic_cast<const KV_FileReqTransRen*>(&other);
    return o != nullptr && log_.path_src().is_equal(o->log_.path_src(), case_sens) &&
           log_.path_dst().is_equal(o->log_.path_dst(), case_sens);
}

bool KV_FileReqTransRen::descr_paths(KV_String& out, const KV_PathMan& pm) const
{
    KV_String src;
    KV_String dst;
    if (!folder_text(src, pm, log_.path_src()) || !folder_text(dst, pm, log_.path_dst()))
        return false;
    out = KV_String::format_impl("%s:\t%s%s%s:\t%s%s%s:\t\t", "Source path", src.data(), "\r\n",
                                 "Destination path", dst.data(), "\r\n", "File(s)");
    return true;
}

// ---------------------------------------------------------------------------
// KV_FileReqTransRm

KV_FileReqTransRm::KV_FileReqTransRm(KV_FileMan* man, const KV_PathDef& path,
                                     const KVTL::KV_ListVal<KV_String>& names,
                                     const KV_FileReqTransParamsRm& params)
    : KV_FileReqTransNames(log_), log_(KV_String(), path, names, params)
{
    init(man);
    log_.set_id(man != nullptr ? man->id() : KV_FileManId());
}

KV_FileReqTransRm::KV_FileReqTransRm(const KV_String& path)
    : KV_FileReqTransNames(log_), log_(path, KV_PathDef(), no_names(), KV_FileReqTransParamsRm())
{
}

KV_FileReqTransRm::~KV_FileReqTransRm()
{
    set_term_status();
}

const char* KV_FileReqTransRm::op_name() const
{
    return OP_DELETE;
}

bool KV_FileReqTransRm::same_paths(const KV_FileReqTransNames& other, bool case_sens) const
{
    const auto* o = dynamic_cast<const KV_FileReqTransRm*>(&other);
    return o != nullptr && log_.path().is_equal(o->log_.path(), case_sens);
}

bool KV_FileReqTransRm::descr_paths(KV_String& out, const KV_PathMan& pm) const
{
    KV_String dir;
    if (!folder_text(dir, pm, log_.path()))
        return false;
    out = KV_String::format_impl("%s:\t%s%s%s:\t\t", "Source path", dir.data(), "\r\n", "File(s)");
    return true;
}

bool KV_FileReqTransRen::run_on(KV_Tavo& t)
{
    return t.do_trans_ren(*this);
}

bool KV_FileReqTransRm::run_on(KV_Tavo& t)
{
    return t.do_trans_rm(*this);
}
