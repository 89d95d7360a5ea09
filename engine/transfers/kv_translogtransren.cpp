// The request logs of rename and delete requests.
#include "transfers/kv_translogtransren.h"

#include <mutex>

#include "datasources/kv_translogio.h"

KV_TransLogTransNames::KV_TransLogTransNames(const KV_String& name,
                                             const KVTL::KV_ListVal<KV_String>& names)
    : KV_TransLogTrans(name)
{
    for (const KV_String& n : names) {
        if (!list_files_.add(n))
            break;
    }
}

KV_TransLogTransNames::~KV_TransLogTransNames() = default;

void KV_TransLogTransNames::cleanup(bool all)
{
    KV_TransLogTrans::cleanup(all);
    std::lock_guard<KV_Lock> hold(lock);
    if (all)
        list_files_.clear();
}

bool KV_TransLogTransNames::write_body(const KV_PathDef* const* paths, uint32_t n)
{
    KV_TransLogOut out;
    if (!write_data_beg(out) || !out.man_id(id_man_))
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!out.path(*paths[i]))
            return false;
    }
    return out.names(list_files_) && write_data_end(out);
}

bool KV_TransLogTransNames::read_body(KV_PathDef* const* paths, uint32_t n)
{
    KV_TransLogIn in(file);
    if (!read_data_beg(in) || !in.man_id(id_man_))
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!in.path(*paths[i]))
            return false;
    }
    return in.names(list_files_) && read_data_end(in);
}

// ---------------------------------------------------------------------------
// KV_TransLogTransRen

KV_TransLogTransRen::KV_TransLogTransRen(const KV_String& name, const KV_PathDef& path_src,
                                         const KV_PathDef& path_dst,
                                         const KVTL::KV_ListVal<KV_String>& names,
                                         const KV_FileReqTransParamsRen& params)
    : KV_TransLogTransNames(name, names), params_(params), path_src_(path_src), path_dst_(path_dst)
{
}

KV_TransLogTransRen::~KV_TransLogTransRen() = default;

void KV_TransLogTransRen::reset_tm_susp()
{
    std::lock_guard<KV_Lock> hold(lock);
    params_.reset_tm_susp();
}

bool KV_TransLogTransRen::write_data()
{
    const KV_PathDef* paths[] = {&path_src_, &path_dst_};
    return write_body(paths, 2);
}

bool KV_TransLogTransRen::read_data()
{
    KV_PathDef* paths[] = {&path_src_, &path_dst_};
    return read_body(paths, 2);
}

// ---------------------------------------------------------------------------
// KV_TransLogTransRm

KV_TransLogTransRm::KV_TransLogTransRm(const KV_String& name, const KV_PathDef& path,
                                       const KVTL::KV_ListVal<KV_String>& names,
                                       const KV_FileReqTransParamsRm& params)
    : KV_TransLogTransNames(name, names), params_(params), path_(path)
{
}

KV_TransLogTransRm::~KV_TransLogTransRm() = default;

void KV_TransLogTransRm::reset_tm_susp()
{
    std::lock_guard<KV_Lock> hold(lock);
    params_.reset_tm_susp();
}

bool KV_TransLogTransRm::write_data()
{
    const KV_PathDef* paths[] = {&path_};
    return write_body(paths, 1);
}

bool KV_TransLogTransRm::read_data()
{
    KV_PathDef* paths[] = {&path_};
    return read_body(paths, 1);
}
