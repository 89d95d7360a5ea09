#include "datasources/kv_filemanopts.h"

#include <climits>

#include "datasources/kv_keyval.h"
#include "datasources/kv_optkeys.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"

namespace {

using Common = KV_OptKeys<KV_FileManOpts>;
using FtpMan = KV_OptKeys<KV_FtpManOpts>;
using HttpMan = KV_OptKeys<KV_HttpManOpts>;
using SftpMan = KV_OptKeys<KV_SftpManOpts>;

// The multi-part size as the file holds it, in KB.
template <class O> uint32_t min_frag_kb(const O& o)
{
    return static_cast<uint32_t>(o.min_frag_size() / 1024);
}

// The data source that opens alongside, in its binary form, then the panes
// as 2 bytes, least significant first; written when either differs.
bool save_disp_info(KV_Storage& st, const KV_OptKey<KV_FileManOpts>& k, const KV_FileManOpts& o,
                    const KV_FileManOpts& ref, KV_ErrHandler*)
{
    if (o.open_with() == ref.open_with() && o.disp_info() == ref.disp_info())
        return true;
    KV_Stream strm;
    return o.open_with().write_bin(strm) && strm.write_le(o.disp_info()) &&
           KV_KeyVal::save_strm(st, k.name, strm);
}

// The identifier is taken as soon as it has been read whole; the panes only
// when both of their bytes follow.
bool load_disp_info(KV_FileManOpts& o, const KV_String& value)
{
    KV_Stream strm;
    KV_DsId id;
    if (!KV_KeyVal::set_strm(value, strm) || !id.read_bin(strm))
        return false;
    o.set_open_with(id);
    uint16_t panes = 0;
    if (!strm.read_le(panes))
        return false;
    o.set_disp_info(panes);
    return true;
}

// Every kind's keys, in writing order.
constexpr KV_OptKey<KV_FileManOpts> common_keys[] = {
    Common::num<&KV_FileManOpts::ntavos, &KV_FileManOpts::set_ntavos>("NTHREADS"),
    Common::num<&KV_FileManOpts::rest_wait, &KV_FileManOpts::set_rest_wait>("REST_WAIT"),
    Common::text<&KV_FileManOpts::path_down, &KV_FileManOpts::set_path_down>("PATH_DOWN"),
    Common::flag<&KV_FileManOpts::temporary, &KV_FileManOpts::set_temporary>("TEMPORARY"),
    Common::flag<&KV_FileManOpts::rdonly, &KV_FileManOpts::set_rdonly>("RDONLY"),
    Common::num<&KV_FileManOpts::scan_cache, &KV_FileManOpts::set_scan_cache>("SCAN_CACHE"),
    {"DISP_INFO", &save_disp_info, &load_disp_info, nullptr},
};

// NTHREADS (a common key) precedes NTHREADS_CONN, whose setter is capped by
// it.
constexpr KV_OptKey<KV_FileManFtpOpts> ftp_keys[] = {
    KV_OptKeys<KV_FileManFtpOpts>::num<&KV_FileManFtpOpts::ntavos_conn,
                                       &KV_FileManFtpOpts::set_ntavos_conn>("NTHREADS_CONN"),
    KV_OptKeys<KV_FileManFtpOpts>::num<&min_frag_kb<KV_FileManFtpOpts>,
                                       &KV_FileManFtpOpts::set_min_frag_size>("MIN_FRAG_SIZE"),
};

using FtpO = KV_FtpManOpts;
constexpr KV_OptKey<FtpO> ftp_man_keys[] = {
    // The setters' own range checks decide; the bounds only keep the number
    // from wrapping on its way to an int.
    FtpMan::num<&FtpO::conn_mode, static_cast<void (FtpO::*)(int)>(&FtpO::set_conn_mode),
                &kv_optread::snum<INT_MIN, INT_MAX>>("CONN_MODE"),
    FtpMan::num<&FtpO::list_flags, &FtpO::set_list_flags, &kv_optread::bits8>("LIST_PARAMS"),
    FtpMan::num<&FtpO::dtrans, static_cast<void (FtpO::*)(int)>(&FtpO::set_dtrans),
                &kv_optread::snum<INT_MIN, INT_MAX>>("DIRECT_TRANS"),
    FtpMan::num<&FtpO::keep_alive_int, &FtpO::set_keep_alive_int, &kv_optread::num<UINT16_MAX>>(
        "KEEP_ALIVE_INT"),
    FtpMan::num<&FtpO::keep_alive_cmd, &FtpO::set_keep_alive_cmd, &kv_optread::snum<0, UINT32_MAX>>(
        "KEEP_ALIVE_CMD"),
    FtpMan::secs<&FtpO::tmout_welcome, &FtpO::set_tmout_welcome>("TMOUT_WELCOME"),
    FtpMan::secs<&FtpO::tmout_cmd_resp, &FtpO::set_tmout_cmd_resp>("TMOUT_CMD_RESP"),
    FtpMan::secs<&FtpO::tmout_trans_beg, &FtpO::set_tmout_trans_beg>("TMOUT_TRANS_BEG"),
    FtpMan::secs<&FtpO::tmout_trans_ack, &FtpO::set_tmout_trans_ack>("TMOUT_TRANS_ACK"),
    FtpMan::num<&FtpO::buff_send, &FtpO::set_buff_send>("BUFF_SEND"),
    FtpMan::num<&FtpO::buff_recv, &FtpO::set_buff_recv>("BUFF_RECV"),
    FtpMan::flag<&FtpO::use_append, &FtpO::set_use_append>("USE_APPEND"),
    FtpMan::flag<&FtpO::use_rest_get, &FtpO::set_use_rest_get>("USE_REST_GET"),
    FtpMan::flag<&FtpO::use_rest_put, &FtpO::set_use_rest_put>("USE_REST_PUT"),
    FtpMan::flag<&FtpO::sz_unrel, &FtpO::set_sz_unrel>("SZ_UNRELIABLE"),
    FtpMan::text<&FtpO::amode_exts, &FtpO::set_amode_exts>("ASCII_EXTS"),
};

constexpr KV_OptKey<KV_FileManHttpOpts> http_keys[] = {
    KV_OptKeys<KV_FileManHttpOpts>::num<&min_frag_kb<KV_FileManHttpOpts>,
                                        &KV_FileManHttpOpts::set_min_frag_size>("MIN_FRAG_SIZE"),
    KV_OptKeys<KV_FileManHttpOpts>::flag<&KV_FileManHttpOpts::auto_mkdir,
                                         &KV_FileManHttpOpts::set_auto_mkdir>("AUTO_MKDIR"),
};

using HttpO = KV_HttpManOpts;
constexpr KV_OptKey<HttpO> http_man_keys[] = {
    HttpMan::flag<&HttpO::can_resume_get, &HttpO::set_can_resume_get>("RESUME_GET"),
    HttpMan::flag<&HttpO::can_resume_put, &HttpO::set_can_resume_put>("RESUME_PUT"),
    HttpMan::flag<&HttpO::persistent, &HttpO::set_persistent>("PERSISTENT"),
    HttpMan::secs<&HttpO::tmout_hdr_resp, &HttpO::set_tmout_hdr_resp>("TMOUT_HEADER_RESP"),
    HttpMan::num<&HttpO::buff_send, &HttpO::set_buff_send>("BUFF_SEND"),
    HttpMan::num<&HttpO::buff_recv, &HttpO::set_buff_recv>("BUFF_RECV"),
    HttpMan::text<&HttpO::version, &HttpO::set_version>("VERSION"),
};

constexpr KV_OptKey<KV_FileManSftpOpts> sftp_keys[] = {
    KV_OptKeys<KV_FileManSftpOpts>::num<&min_frag_kb<KV_FileManSftpOpts>,
                                        &KV_FileManSftpOpts::set_min_frag_size>("MIN_FRAG_SIZE"),
};

using SftpO = KV_SftpManOpts;
constexpr KV_OptKey<SftpO> sftp_man_keys[] = {
    SftpMan::flag<&SftpO::can_resume_get, &SftpO::set_can_resume_get>("RESUME_GET"),
    SftpMan::flag<&SftpO::can_resume_put, &SftpO::set_can_resume_put>("RESUME_PUT"),
    SftpMan::text<&SftpO::ciphers, &SftpO::set_ciphers>("CIPHERS_DISABLE"),
    SftpMan::flag<&SftpO::compress, &SftpO::set_compress>("COMPRESS"),
    SftpMan::flag<&SftpO::aggressive_read, &SftpO::set_aggressive_read>("AGGRESSIVE_READ"),
    SftpMan::flag<&SftpO::aggressive_write, &SftpO::set_aggressive_write>("AGGRESSIVE_WRITE"),
    SftpMan::secs<&SftpO::tmout_msg_resp, &SftpO::set_tmout_msg_resp>("TMOUT_MESSAGE_RESP"),
    SftpMan::num<&SftpO::buff_send, &SftpO::set_buff_send>("BUFF_SEND"),
    SftpMan::num<&SftpO::buff_recv, &SftpO::set_buff_recv>("BUFF_RECV"),
};

constexpr KV_OptKey<KV_FileManStdOpts> std_keys[] = {
    KV_OptKeys<KV_FileManStdOpts>::flag<&KV_FileManStdOpts::recycle,
                                        &KV_FileManStdOpts::set_recycle>("RECYCLE"),
};

// The common keys, the kind's own, then its protocol's (m, an option object
// the kind holds).
template <class O, size_t N, class M, size_t P>
bool save_kind(KV_Storage& st, const O& o, const O& ref, const KV_OptKey<O> (&own)[N],
               const KV_OptKey<M> (&man)[P], const M& m, const M& m_ref)
{
    return kv_opt_save(common_keys, st, o, ref) && kv_opt_save(own, st, o, ref) &&
           kv_opt_save(man, st, m, m_ref);
}

// Each key is in one of the three tables. handled := whether one holds it.
template <class O, size_t N, class M, size_t P>
bool load_kind(O& o, const KV_OptKey<O> (&own)[N], const KV_OptKey<M> (&man)[P], M& m,
               const KV_String& key, const KV_String& value, bool& handled)
{
    bool ok = kv_opt_load(common_keys, o, key, value, handled);
    if (!handled)
        ok = kv_opt_load(own, o, key, value, handled);
    if (!handled)
        ok = kv_opt_load(man, m, key, value, handled);
    return ok;
}

} // namespace

// ---------------------------------------------------------------- common part

KV_FileManOpts::KV_FileManOpts(uint32_t ntavos, uint32_t rest_wait, uint16_t disp_info)
    : KV_FileReqManOpts(ntavos, rest_wait), disp_info_(disp_info)
{
}

bool KV_FileManOpts::save(KV_Storage& st, const KV_FileManOpts& ref) const
{
    return kv_opt_save(common_keys, st, *this, ref);
}

bool KV_FileManOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    return kv_opt_load(common_keys, *this, key, value, handled);
}

// ---------------------------------------------------------------- FTP

KV_FileManFtpOpts::KV_FileManFtpOpts() : KV_FileManOpts(5, 3, 7)
{
    set_dir_sep('/');
    set_case_sens(true);
}

bool KV_FileManFtpOpts::save(KV_Storage& st, const KV_FileManFtpOpts& ref) const
{
    return save_kind(st, *this, ref, ftp_keys, ftp_man_keys, ftp_, ref.ftp_);
}

bool KV_FileManFtpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    return load_kind(*this, ftp_keys, ftp_man_keys, ftp_, key, value, handled);
}

// ---------------------------------------------------------------- HTTP

KV_FileManHttpOpts::KV_FileManHttpOpts() : KV_FileManOpts(5, 3, 5)
{
    set_dir_sep('/');
    set_par_sep('?');
    set_case_sens(true);
}

bool KV_FileManHttpOpts::save(KV_Storage& st, const KV_FileManHttpOpts& ref) const
{
    return save_kind(st, *this, ref, http_keys, http_man_keys, http_, ref.http_);
}

bool KV_FileManHttpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    return load_kind(*this, http_keys, http_man_keys, http_, key, value, handled);
}

// ---------------------------------------------------------------- SFTP

KV_FileManSftpOpts::KV_FileManSftpOpts() : KV_FileManOpts(5, 3, 7)
{
    set_dir_sep('/');
    set_case_sens(true);
}

bool KV_FileManSftpOpts::save(KV_Storage& st, const KV_FileManSftpOpts& ref) const
{
    return save_kind(st, *this, ref, sftp_keys, sftp_man_keys, sftp_, ref.sftp_);
}

bool KV_FileManSftpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    return load_kind(*this, sftp_keys, sftp_man_keys, sftp_, key, value, handled);
}

// ---------------------------------------------------------------- local disk

KV_FileManStdOpts::KV_FileManStdOpts() : KV_FileManOpts(3, 2, 3)
{
    // The base's local notation stands.
    set_path_down(KV_File::path(KV_PATH_SYS_TMP, false));
}

bool KV_FileManStdOpts::save(KV_Storage& st, const KV_FileManStdOpts& ref) const
{
    return KV_FileManOpts::save(st, ref) && kv_opt_save(std_keys, st, *this, ref);
}

bool KV_FileManStdOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    const bool ok = KV_FileManOpts::load(key, value, handled);
    return handled ? ok : kv_opt_load(std_keys, *this, key, value, handled);
}
