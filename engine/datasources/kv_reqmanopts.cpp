#include "datasources/kv_reqmanopts.h"

#include "datasources/kv_optkeys.h"
#include "foundation/kv_filedata.h"

// ---------------------------------------------------------------- request manager

// Local paths are POSIX paths: '/' and case-sensitive.
KV_FileReqManOpts::KV_FileReqManOpts(uint32_t ntavos, uint32_t rest_wait)
    : KV_PathMan('/'), ntavos_(ntavos), rest_wait_(rest_wait)
{
}

// ---------------------------------------------------------------- transfer manager

namespace {

using T = KV_FileTransManOpts;
using Keys = KV_OptKeys<T>;

// In writing order.
constexpr KV_OptKey<T> trans_keys[] = {
    Keys::num<&T::ntavos, &T::set_ntavos>("NTHREADS"),
    Keys::num<&T::nretries, &T::set_nretries>("NRETRIES"),
    Keys::num<&T::nfretries, &T::set_nfretries>("NFRETRIES"),
    Keys::num<&T::ntmpfiles, &T::set_ntmpfiles>("NTMPFILES"),
    Keys::real<&T::bwt_speed_in, &T::set_bwt_speed_in>("BWT_SPEED_IN", "0"),
    Keys::real<&T::bwt_speed_out, &T::set_bwt_speed_out>("BWT_SPEED_OUT", "0"),
    Keys::flag<&T::trexpl_ftps, &T::set_trexpl_ftps>("TREXPL_FTPS", "YES"),
    Keys::flag<&T::trexpl_https, &T::set_trexpl_https>("TREXPL_HTTPS", "NO"),
    Keys::text<&T::tm_form_disp, &T::set_tm_form_disp>("TM_DISP_FORM", "%c"),
    Keys::num<&T::auto_rm_req, &T::set_auto_rm_req, &kv_optread::bits8>("AUTO_RM_REQ"),
    Keys::num<&T::auto_rm_req_st, &T::set_auto_rm_req_st, &kv_optread::bits8>("AUTO_RM_REQ_START"),
    Keys::num<&T::add_init_cnt, &T::set_add_init_cnt>("AUTO_RM_REQ_BLNK", "7"),
};

} // namespace

KV_FileTransManOpts::KV_FileTransManOpts() : KV_FileReqManOpts(100, 0)
{
    set_nretries(500);
}

std::atomic<uint32_t> KV_FileTransManOpts::add_init_cnt_{7};
std::atomic<bool> KV_FileTransManOpts::trexpl_ftps_{true};
std::atomic<bool> KV_FileTransManOpts::trexpl_https_{false};
std::atomic<const KV_BwtLimitHooks*> KV_FileTransManOpts::bwt_hooks_{nullptr};

void KV_FileTransManOpts::set_bwt_hooks(const KV_BwtLimitHooks* hooks)
{
    bwt_hooks_.store(hooks, std::memory_order_release);
}

double KV_FileTransManOpts::bwt_speed_in()
{
    const KV_BwtLimitHooks* hooks = bwt_hooks_.load(std::memory_order_acquire);
    return hooks ? hooks->get_in() / 1024.0 : 0;
}

void KV_FileTransManOpts::set_bwt_speed_in(double kb_per_sec)
{
    // !(x >= 0) also catches NaN; the product overflows to infinity for
    // values near DBL_MAX, which the network layer refuses in turn.
    const KV_BwtLimitHooks* hooks = bwt_hooks_.load(std::memory_order_acquire);
    if (!(kb_per_sec >= 0) || !hooks)
        return;
    hooks->set_in(kb_per_sec * 1024.0);
}

double KV_FileTransManOpts::bwt_speed_out()
{
    const KV_BwtLimitHooks* hooks = bwt_hooks_.load(std::memory_order_acquire);
    return hooks ? hooks->get_out() / 1024.0 : 0;
}

void KV_FileTransManOpts::set_bwt_speed_out(double kb_per_sec)
{
    const KV_BwtLimitHooks* hooks = bwt_hooks_.load(std::memory_order_acquire);
    if (!(kb_per_sec >= 0) || !hooks)
        return;
    hooks->set_out(kb_per_sec * 1024.0);
}

KV_String KV_FileTransManOpts::tm_form_disp()
{
    return KV_FileData::tm_form_disp();
}

void KV_FileTransManOpts::set_tm_form_disp(const KV_String& form)
{
    KV_FileData::set_tm_form_disp(form);
}

bool KV_FileTransManOpts::save(KV_Storage& st) const
{
    // The reference of the object's own fields; the forwarded settings have
    // fixed defaults in their descriptors.
    static const KV_FileTransManOpts ref;
    return kv_opt_save(trans_keys, st, *this, ref);
}

bool KV_FileTransManOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    return kv_opt_load(trans_keys, *this, key, value, handled);
}
