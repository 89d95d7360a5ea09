#include "http/kv_filemanhttp.h"

#include <mutex>
#include <new>

#include "datasources/kv_filemanparamshttp.h"
#include "foundation/kv_msg.h"
#include "http/kv_tavohttp.h"

namespace {

const KV_FileManParamsHttp* http_params(const KV_FileManParams* p)
{
    return p != nullptr && p->type() == KV_FILE_MAN_TYPE_HTTP
               ? static_cast<const KV_FileManParamsHttp*>(p)
               : nullptr;
}

} // namespace

KV_FileManHttp::KV_FileManHttp(const KV_FileManId& id) : KV_FileMan(id) {}

KV_FileManHttp::~KV_FileManHttp()
{
    // The workers send tree messages and the thread reads the tree's
    // manager: both end before the tree goes.
    terminate();
}

KV_Tavo* KV_FileManHttp::create_tavo()
{
    auto* t = new (std::nothrow) KV_TavoHttp(this, informer());
    if (t != nullptr) {
        t->man().set_file_man(this, ssl_ctx());
        t->man().set_informer(&t->informer());
    }
    return t;
}

void KV_FileManHttp::prestart_req(KV_Tavo* t)
{
    KV_FileMan::prestart_req(t);
    if (t == nullptr)
        return;
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    if (p == nullptr || t->params_ver() == params_ver_)
        return;
    auto* w = static_cast<KV_TavoHttp*>(t);
    w->man().set_addrs(p->src_addr(), p->dst_addr(), p->proxy());
    w->man().set_ldata(p->ldata());
    w->man().set_secure(p->security() == 0 ? KV_HTTP_SECURE_NONE : KV_HTTP_SECURE_SSL);
    w->set_opts(p->opts_http());
    t->set_params_ver(params_ver_);
    p->get_docs(w->docs());
}

bool KV_FileManHttp::dir_dav(const KV_PathDef& path, const KV_PathMan& pm,
                             const KVTL::KV_ListVal<KV_String>& docs)
{
    if (docs.size() == 0)
        return true;
    bool under_dir = false;
    bool under_file = false;
    for (uint32_t i = 0; i < docs.size() && !(under_dir && under_file); ++i) {
        const KV_String& doc = docs.at(i);
        KV_PathDef d;
        // A relative document is made absolute the way `path` is.
        if (!pm.split_path(doc, d, false) || !d.adjust(path, pm.dir_pre()))
            break;
        if (pm.is_fname(doc)) {
            const bool dropped = d.remove_last();
            if (d.is_parent(path, pm.case_sens()))
                under_file = true;
            if (!dropped)
                break;
        } else if (d.is_parent(path, pm.case_sens())) {
            under_dir = true;
        }
    }
    return under_dir && !under_file;
}

bool KV_FileManHttp::dir_dav(const KV_PathDef& path) const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p != nullptr && dir_dav(path, p->opts_http().man_path(), p->list_docs());
}

KV_DIR_CRT KV_FileManHttp::can_create_dir(const KV_PathDef& path) const
{
    {
        std::lock_guard<KV_Lock> guard(params_lock_);
        if (http_params(params_) == nullptr)
            return KV_DIR_CRT_NEVER;
    }
    if (dir_dav(path))
        return KV_DIR_CRT_CREATE;
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p != nullptr && p->opts_http().auto_mkdir() ? KV_DIR_CRT_NONE : KV_DIR_CRT_NEVER;
}

uint32_t KV_FileManHttp::scan_cache() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p == nullptr ? 0 : p->opts_http().scan_cache();
}

int64_t KV_FileManHttp::min_frag_size(uint32_t& nworkers) const
{
    nworkers = ntavos();
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p == nullptr ? 0 : p->opts_http().min_frag_size();
}

bool KV_FileManHttp::process_ntf(KV_Msg* msg)
{
    return KV_FileMan::process_ntf(msg) && tree_.process_ntf(msg);
}

bool KV_FileManHttp::init(KV_FileManParams* params)
{
    if (params == nullptr || params->type() != KV_FILE_MAN_TYPE_HTTP || !KV_FileMan::init(params))
        return false;
    tree_.set_case_sens(man_path().case_sens());
    return true;
}

bool KV_FileManHttp::can_resume_get() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p != nullptr && p->opts_http().http().can_resume_get();
}

bool KV_FileManHttp::can_resume_put() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsHttp* p = http_params(params_);
    return p != nullptr && p->opts_http().http().can_resume_put();
}

bool KV_FileManHttp::can_mkdir(const KV_PathDef& path) const
{
    return can_create_dir(path) == KV_DIR_CRT_CREATE;
}

bool KV_FileManHttp::can_rename(const KV_PathDef& path) const
{
    return can_mkdir(path);
}

bool KV_FileManHttp::can_move(const KV_PathDef& src, const KV_PathDef& dst, bool) const
{
    return can_mkdir(src) && can_mkdir(dst);
}

bool KV_FileManHttp::can_copy(const KV_PathDef&, const KV_PathDef& dst, bool dir) const
{
    return !(dir && can_create_dir(dst) == KV_DIR_CRT_NEVER);
}

bool KV_FileManHttp::log_incl_data(const KV_PathDef& src, const KV_PathDef& dst,
                                   KV_FileMan* other) const
{
    if (other == nullptr || other->type() != type())
        return true;
    const KV_FileManId a = other->id();
    const KV_FileManId b = id();
    if (!(static_cast<const KV_DsId&>(a) == static_cast<const KV_DsId&>(b)))
        return true;
    return !(dir_dav(src) && dir_dav(dst));
}

bool KV_FileManHttp::dir_exists(KV_FileReq& trans, const KV_PathDef& dir, const KV_String& name,
                                bool& exists)
{
    KV_PathDef path(dir);
    if (!path.append(name))
        return false;
    if (!dir_dav(path)) {
        exists = true;
        return true;
    }
    return KV_FileMan::dir_exists(trans, dir, name, exists);
}
