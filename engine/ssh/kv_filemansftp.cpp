#include "ssh/kv_filemansftp.h"

#include <mutex>
#include <new>

#include "datasources/kv_filemanparamssftp.h"

KV_FileManSftp::KV_FileManSftp(const KV_FileManId& id) : KV_FileMan(id) {}

KV_FileManSftp::~KV_FileManSftp()
{
    // The workers send tree messages: they end before the tree goes.
    terminate();
}

const KV_FileManParamsSftp* KV_FileManSftp::sftp_params() const
{
    if (params_ == nullptr || params_->type() != KV_FILE_MAN_TYPE_SFTP)
        return nullptr;
    return static_cast<const KV_FileManParamsSftp*>(params_);
}

KV_Tavo* KV_FileManSftp::create_tavo()
{
    auto* t = new (std::nothrow) KV_TavoSftp(this, informer());
    if (t == nullptr)
        return nullptr;
    t->man().set_file_man(this, ssl_ctx());
    t->man().set_informer(&t->informer());
    return t;
}

void KV_FileManSftp::prestart_req(KV_Tavo* t)
{
    KV_FileMan::prestart_req(t);
    if (t == nullptr)
        return;
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsSftp* p = sftp_params();
    if (p == nullptr || t->params_ver() == params_ver_)
        return;
    auto* w = static_cast<KV_TavoSftp*>(t);
    w->man().set_addrs(p->src_addr(), p->dst_addr(), p->proxy());
    w->man().set_ldata(p->ldata());
    w->set_opts(p->opts_sftp());
    t->set_params_ver(params_ver_);
}

uint32_t KV_FileManSftp::scan_cache() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsSftp* p = sftp_params();
    return p ? p->opts().scan_cache() : 0;
}

int64_t KV_FileManSftp::min_frag_size(uint32_t& nworkers) const
{
    nworkers = ntavos();
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsSftp* p = sftp_params();
    return p ? p->opts_sftp().min_frag_size() : 0;
}

bool KV_FileManSftp::can_resume_get() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsSftp* p = sftp_params();
    return p && p->opts_sftp().sftp().can_resume_get();
}

bool KV_FileManSftp::can_resume_put() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    const KV_FileManParamsSftp* p = sftp_params();
    return p && p->opts_sftp().sftp().can_resume_put();
}

bool KV_FileManSftp::process_ntf(KV_Msg* msg)
{
    return KV_FileMan::process_ntf(msg) && tree_.process_ntf(msg);
}

bool KV_FileManSftp::init(KV_FileManParams* params)
{
    if (params == nullptr || params->type() != KV_FILE_MAN_TYPE_SFTP || !KV_FileMan::init(params))
        return false;
    tree_.set_case_sens(opts().man_path().case_sens());
    return true;
}
