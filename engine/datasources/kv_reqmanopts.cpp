#include "datasources/kv_reqmanopts.h"

#include <climits>

#include "datasources/kv_keyval.h"
#include "foundation/kv_filedata.h"

// ---------------------------------------------------------------- request manager

// Local paths are POSIX paths: '/' and case-sensitive.
KV_FileReqManOpts::KV_FileReqManOpts(uint32_t ntavos, uint32_t rest_wait)
    : KV_PathMan('/'), ntavos_(ntavos), rest_wait_(rest_wait)
{
}

bool KV_FileReqManOpts::parse_unsigned(const KV_String& text, unsigned long max, unsigned long& out)
{
    // strtoul alone would take "" or "abc" for 0 and "-1" for ULONG_MAX.
    const char c = text.data(0);
    if (c < '0' || c > '9')
        return false;
    unsigned long n = text.as_unsigned();
    if (n > max)
        return false;
    out = n;
    return true;
}

bool KV_FileReqManOpts::parse_signed(const KV_String& text, long min, long max, long& out)
{
    const char c = text.data(0) == '-' ? text.data(1) : text.data(0);
    if (c < '0' || c > '9')
        return false;
    long n = text.as_signed();
    if (n < min || n > max)
        return false;
    out = n;
    return true;
}

bool KV_FileReqManOpts::parse_real(const KV_String& text, double& out)
{
    // Refuses "nan", "inf" and words that strtod would read as 0.
    const char c = text.data(0) == '.' ? text.data(1) : text.data(0);
    if (c < '0' || c > '9')
        return false;
    out = text.as_real();
    return true;
}

// ---------------------------------------------------------------- transfer manager

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
    // The reference of the object's own fields; the forwarded settings are
    // compared with their fixed defaults.
    static const KV_FileTransManOpts ref;
    const double bwt_in = bwt_speed_in();
    const double bwt_out = bwt_speed_out();
    const KV_String form = tm_form_disp();
    const uint32_t blink = add_init_cnt();

    if (ntavos() != ref.ntavos() && !KV_KeyVal::save_var(st, "NTHREADS", ntavos()))
        return false;
    if (nretries() != ref.nretries() && !KV_KeyVal::save_var(st, "NRETRIES", nretries()))
        return false;
    if (nfretries_ != ref.nfretries_ && !KV_KeyVal::save_var(st, "NFRETRIES", nfretries_))
        return false;
    if (ntmpfiles_ != ref.ntmpfiles_ && !KV_KeyVal::save_var(st, "NTMPFILES", ntmpfiles_))
        return false;
    if (bwt_in != 0 && !KV_KeyVal::save_real(st, "BWT_SPEED_IN", bwt_in))
        return false;
    if (bwt_out != 0 && !KV_KeyVal::save_real(st, "BWT_SPEED_OUT", bwt_out))
        return false;
    if (!trexpl_ftps() && !KV_KeyVal::save_bool(st, "TREXPL_FTPS", false))
        return false;
    if (trexpl_https() && !KV_KeyVal::save_bool(st, "TREXPL_HTTPS", true))
        return false;
    if (form != "%c" && !KV_KeyVal::save_var(st, "TM_DISP_FORM", form))
        return false;
    if (auto_rm_req_ != ref.auto_rm_req_ && !KV_KeyVal::save_var(st, "AUTO_RM_REQ", auto_rm_req_))
        return false;
    if (auto_rm_req_st_ != ref.auto_rm_req_st_ &&
        !KV_KeyVal::save_var(st, "AUTO_RM_REQ_START", auto_rm_req_st_))
        return false;
    if (blink != 7 && !KV_KeyVal::save_var(st, "AUTO_RM_REQ_BLNK", blink))
        return false;
    return true;
}

bool KV_FileTransManOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    handled = true;
    unsigned long n = 0;
    double real = 0;
    bool flag = false;

    if (key == "NTHREADS") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_ntavos(static_cast<uint32_t>(n));
    } else if (key == "NRETRIES") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_nretries(static_cast<uint32_t>(n));
    } else if (key == "NFRETRIES") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_nfretries(static_cast<uint32_t>(n));
    } else if (key == "NTMPFILES") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_ntmpfiles(static_cast<uint32_t>(n));
    } else if (key == "BWT_SPEED_IN") {
        if (parse_real(value, real))
            set_bwt_speed_in(real);
    } else if (key == "BWT_SPEED_OUT") {
        if (parse_real(value, real))
            set_bwt_speed_out(real);
    } else if (key == "TREXPL_FTPS") {
        if (!KV_KeyVal::set_bool(value, flag))
            return false;
        set_trexpl_ftps(flag);
    } else if (key == "TREXPL_HTTPS") {
        if (!KV_KeyVal::set_bool(value, flag))
            return false;
        set_trexpl_https(flag);
    } else if (key == "TM_DISP_FORM") {
        set_tm_form_disp(value);
    } else if (key == "AUTO_RM_REQ") {
        // Sets of flag bits: a wider number keeps the flags it has.
        if (parse_unsigned(value, ULONG_MAX, n))
            set_auto_rm_req(static_cast<uint8_t>(n & 0xFF));
    } else if (key == "AUTO_RM_REQ_START") {
        if (parse_unsigned(value, ULONG_MAX, n))
            set_auto_rm_req_st(static_cast<uint8_t>(n & 0xFF));
    } else if (key == "AUTO_RM_REQ_BLNK") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_add_init_cnt(static_cast<uint32_t>(n));
    } else {
        handled = false;
    }
    return true;
}
