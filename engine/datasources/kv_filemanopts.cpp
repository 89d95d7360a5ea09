#include "datasources/kv_filemanopts.h"

#include <climits>

#include "datasources/kv_keyval.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"

namespace {

// Each key is written only when its value differs from the reference.
bool save_num(KV_Storage& st, const char* key, unsigned long value, unsigned long ref)
{
    return value == ref || KV_KeyVal::save_var(st, key, value);
}

bool save_flag(KV_Storage& st, const char* key, bool value, bool ref)
{
    return value == ref || KV_KeyVal::save_bool(st, key, value);
}

bool save_text(KV_Storage& st, const char* key, const KV_String& value, const KV_String& ref)
{
    return value == ref || KV_KeyVal::save_var(st, key, value);
}

// A flag that is neither YES nor NO fails the load and leaves the setting.
template <class O> bool load_flag(const KV_String& value, O& obj, void (O::*set)(bool))
{
    bool flag = false;
    if (!KV_KeyVal::set_bool(value, flag))
        return false;
    (obj.*set)(flag);
    return true;
}

} // namespace

// ---------------------------------------------------------------- common part

KV_FileManOpts::KV_FileManOpts(uint32_t ntavos, uint32_t rest_wait, uint16_t disp_info)
    : KV_FileReqManOpts(ntavos, rest_wait), disp_info_(disp_info)
{
}

bool KV_FileManOpts::save(KV_Storage& st, const KV_FileManOpts& ref) const
{
    if (!save_num(st, "NTHREADS", ntavos(), ref.ntavos()) ||
        !save_num(st, "REST_WAIT", rest_wait(), ref.rest_wait()) ||
        !save_text(st, "PATH_DOWN", path_down_, ref.path_down_) ||
        !save_flag(st, "TEMPORARY", temporary_, ref.temporary_) ||
        !save_flag(st, "RDONLY", rdonly_, ref.rdonly_) ||
        !save_num(st, "SCAN_CACHE", scan_cache_, ref.scan_cache_))
        return false;
    if (open_with_ == ref.open_with_ && disp_info_ == ref.disp_info_)
        return true;
    // The identifier in its binary form, then the panes as 2 bytes, least
    // significant first.
    KV_Stream strm;
    return open_with_.write_bin(strm) && strm.write_le(disp_info_) &&
           KV_KeyVal::save_strm(st, "DISP_INFO", strm);
}

bool KV_FileManOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    handled = true;
    unsigned long n = 0;
    if (key == "NTHREADS") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_ntavos(static_cast<uint32_t>(n));
    } else if (key == "REST_WAIT") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_rest_wait(static_cast<uint32_t>(n));
    } else if (key == "PATH_DOWN") {
        set_path_down(value);
    } else if (key == "TEMPORARY") {
        return load_flag<KV_FileManOpts>(value, *this, &KV_FileManOpts::set_temporary);
    } else if (key == "RDONLY") {
        return load_flag<KV_FileManOpts>(value, *this, &KV_FileManOpts::set_rdonly);
    } else if (key == "SCAN_CACHE") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_scan_cache(static_cast<uint32_t>(n));
    } else if (key == "DISP_INFO") {
        // The identifier is taken as soon as it has been read whole; the
        // panes only when both of their bytes follow.
        KV_Stream strm;
        KV_DsId id;
        if (!KV_KeyVal::set_strm(value, strm) || !id.read_bin(strm))
            return false;
        open_with_ = id;
        if (!strm.read_le(disp_info_))
            return false;
    } else {
        handled = false;
    }
    return true;
}

// ---------------------------------------------------------------- FTP

KV_FileManFtpOpts::KV_FileManFtpOpts() : KV_FileManOpts(5, 3, 7)
{
    set_dir_sep('/');
    set_case_sens(true);
}

bool KV_FileManFtpOpts::save(KV_Storage& st, const KV_FileManFtpOpts& ref) const
{
    const KV_FtpManOpts& r = ref.ftp_;
    // NTHREADS (in the base) precedes NTHREADS_CONN, whose setter is capped
    // by it.
    return KV_FileManOpts::save(st, ref) &&
           save_num(st, "NTHREADS_CONN", ntavos_conn_, ref.ntavos_conn_) &&
           save_num(st, "MIN_FRAG_SIZE", min_frag_size_, ref.min_frag_size_) &&
           save_num(st, "CONN_MODE", ftp_.conn_mode(), r.conn_mode()) &&
           save_num(st, "LIST_PARAMS", ftp_.list_flags(), r.list_flags()) &&
           save_num(st, "DIRECT_TRANS", ftp_.dtrans(), r.dtrans()) &&
           save_num(st, "KEEP_ALIVE_INT", ftp_.keep_alive_int(), r.keep_alive_int()) &&
           save_num(st, "KEEP_ALIVE_CMD", ftp_.keep_alive_cmd(), r.keep_alive_cmd()) &&
           save_num(st, "TMOUT_WELCOME", ftp_.tmout_welcome() / 1000, r.tmout_welcome() / 1000) &&
           save_num(st, "TMOUT_CMD_RESP", ftp_.tmout_cmd_resp() / 1000,
                    r.tmout_cmd_resp() / 1000) &&
           save_num(st, "TMOUT_TRANS_BEG", ftp_.tmout_trans_beg() / 1000,
                    r.tmout_trans_beg() / 1000) &&
           save_num(st, "TMOUT_TRANS_ACK", ftp_.tmout_trans_ack() / 1000,
                    r.tmout_trans_ack() / 1000) &&
           save_num(st, "BUFF_SEND", ftp_.buff_send(), r.buff_send()) &&
           save_num(st, "BUFF_RECV", ftp_.buff_recv(), r.buff_recv()) &&
           save_flag(st, "USE_APPEND", ftp_.use_append(), r.use_append()) &&
           save_flag(st, "USE_REST_GET", ftp_.use_rest_get(), r.use_rest_get()) &&
           save_flag(st, "USE_REST_PUT", ftp_.use_rest_put(), r.use_rest_put()) &&
           save_flag(st, "SZ_UNRELIABLE", ftp_.sz_unrel(), r.sz_unrel()) &&
           save_text(st, "ASCII_EXTS", ftp_.amode_exts(), r.amode_exts());
}

bool KV_FileManFtpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    bool ok = KV_FileManOpts::load(key, value, handled);
    if (!ok || handled)
        return ok;
    handled = true;
    unsigned long n = 0;
    long s = 0;
    if (key == "NTHREADS_CONN") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_ntavos_conn(static_cast<uint32_t>(n));
    } else if (key == "MIN_FRAG_SIZE") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_min_frag_size(static_cast<uint32_t>(n));
    } else if (key == "CONN_MODE") {
        // The setter's own range check decides; the bounds only keep the
        // number from wrapping on its way to an int.
        if (parse_signed(value, INT_MIN, INT_MAX, s))
            ftp_.set_conn_mode(static_cast<int>(s));
    } else if (key == "LIST_PARAMS") {
        if (parse_unsigned(value, UINT8_MAX, n))
            ftp_.set_list_flags(static_cast<uint8_t>(n));
    } else if (key == "DIRECT_TRANS") {
        if (parse_signed(value, INT_MIN, INT_MAX, s))
            ftp_.set_dtrans(static_cast<int>(s));
    } else if (key == "KEEP_ALIVE_INT") {
        if (parse_unsigned(value, UINT16_MAX, n))
            ftp_.set_keep_alive_int(static_cast<uint16_t>(n));
    } else if (key == "KEEP_ALIVE_CMD") {
        if (parse_signed(value, 0, UINT32_MAX, s))
            ftp_.set_keep_alive_cmd(static_cast<KV_FTP_KA_CMD>(s));
    } else if (key == "TMOUT_WELCOME") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            ftp_.set_tmout_welcome(static_cast<uint32_t>(n));
    } else if (key == "TMOUT_CMD_RESP") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            ftp_.set_tmout_cmd_resp(static_cast<uint32_t>(n));
    } else if (key == "TMOUT_TRANS_BEG") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            ftp_.set_tmout_trans_beg(static_cast<uint32_t>(n));
    } else if (key == "TMOUT_TRANS_ACK") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            ftp_.set_tmout_trans_ack(static_cast<uint32_t>(n));
    } else if (key == "BUFF_SEND") {
        if (parse_unsigned(value, UINT32_MAX, n))
            ftp_.set_buff_send(static_cast<uint32_t>(n));
    } else if (key == "BUFF_RECV") {
        if (parse_unsigned(value, UINT32_MAX, n))
            ftp_.set_buff_recv(static_cast<uint32_t>(n));
    } else if (key == "USE_APPEND") {
        return load_flag(value, ftp_, &KV_FtpManOpts::set_use_append);
    } else if (key == "USE_REST_GET") {
        return load_flag(value, ftp_, &KV_FtpManOpts::set_use_rest_get);
    } else if (key == "USE_REST_PUT") {
        return load_flag(value, ftp_, &KV_FtpManOpts::set_use_rest_put);
    } else if (key == "SZ_UNRELIABLE") {
        return load_flag(value, ftp_, &KV_FtpManOpts::set_sz_unrel);
    } else if (key == "ASCII_EXTS") {
        return ftp_.set_amode_exts(value);
    } else {
        handled = false;
    }
    return true;
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
    const KV_HttpManOpts& r = ref.http_;
    return KV_FileManOpts::save(st, ref) &&
           save_num(st, "MIN_FRAG_SIZE", min_frag_size_, ref.min_frag_size_) &&
           save_flag(st, "AUTO_MKDIR", auto_mkdir_, ref.auto_mkdir_) &&
           save_flag(st, "RESUME_GET", http_.can_resume_get(), r.can_resume_get()) &&
           save_flag(st, "RESUME_PUT", http_.can_resume_put(), r.can_resume_put()) &&
           save_flag(st, "PERSISTENT", http_.persistent(), r.persistent()) &&
           save_num(st, "TMOUT_HEADER_RESP", http_.tmout_hdr_resp() / 1000,
                    r.tmout_hdr_resp() / 1000) &&
           save_num(st, "BUFF_SEND", http_.buff_send(), r.buff_send()) &&
           save_num(st, "BUFF_RECV", http_.buff_recv(), r.buff_recv()) &&
           (http_.version() == r.version() ||
            KV_KeyVal::save_var(st, "VERSION", KV_String(http_.version())));
}

bool KV_FileManHttpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    bool ok = KV_FileManOpts::load(key, value, handled);
    if (!ok || handled)
        return ok;
    handled = true;
    unsigned long n = 0;
    if (key == "MIN_FRAG_SIZE") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_min_frag_size(static_cast<uint32_t>(n));
    } else if (key == "AUTO_MKDIR") {
        return load_flag<KV_FileManHttpOpts>(value, *this, &KV_FileManHttpOpts::set_auto_mkdir);
    } else if (key == "RESUME_GET") {
        return load_flag(value, http_, &KV_HttpManOpts::set_can_resume_get);
    } else if (key == "RESUME_PUT") {
        return load_flag(value, http_, &KV_HttpManOpts::set_can_resume_put);
    } else if (key == "PERSISTENT") {
        return load_flag(value, http_, &KV_HttpManOpts::set_persistent);
    } else if (key == "TMOUT_HEADER_RESP") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            http_.set_tmout_hdr_resp(static_cast<uint32_t>(n));
    } else if (key == "BUFF_SEND") {
        if (parse_unsigned(value, UINT32_MAX, n))
            http_.set_buff_send(static_cast<uint32_t>(n));
    } else if (key == "BUFF_RECV") {
        if (parse_unsigned(value, UINT32_MAX, n))
            http_.set_buff_recv(static_cast<uint32_t>(n));
    } else if (key == "VERSION") {
        http_.set_version(KV_HttpVer(value));
    } else {
        handled = false;
    }
    return true;
}

// ---------------------------------------------------------------- SFTP

KV_FileManSftpOpts::KV_FileManSftpOpts() : KV_FileManOpts(5, 3, 7)
{
    set_dir_sep('/');
    set_case_sens(true);
}

bool KV_FileManSftpOpts::save(KV_Storage& st, const KV_FileManSftpOpts& ref) const
{
    const KV_SftpManOpts& r = ref.sftp_;
    return KV_FileManOpts::save(st, ref) &&
           save_num(st, "MIN_FRAG_SIZE", min_frag_size_, ref.min_frag_size_) &&
           save_flag(st, "RESUME_GET", sftp_.can_resume_get(), r.can_resume_get()) &&
           save_flag(st, "RESUME_PUT", sftp_.can_resume_put(), r.can_resume_put()) &&
           save_text(st, "CIPHERS_DISABLE", sftp_.ciphers(), r.ciphers()) &&
           save_flag(st, "COMPRESS", sftp_.compress(), r.compress()) &&
           save_flag(st, "AGGRESSIVE_READ", sftp_.aggressive_read(), r.aggressive_read()) &&
           save_flag(st, "AGGRESSIVE_WRITE", sftp_.aggressive_write(), r.aggressive_write()) &&
           save_num(st, "TMOUT_MESSAGE_RESP", sftp_.tmout_msg_resp() / 1000,
                    r.tmout_msg_resp() / 1000) &&
           save_num(st, "BUFF_SEND", sftp_.buff_send(), r.buff_send()) &&
           save_num(st, "BUFF_RECV", sftp_.buff_recv(), r.buff_recv());
}

bool KV_FileManSftpOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    bool ok = KV_FileManOpts::load(key, value, handled);
    if (!ok || handled)
        return ok;
    handled = true;
    unsigned long n = 0;
    if (key == "MIN_FRAG_SIZE") {
        if (parse_unsigned(value, UINT32_MAX, n))
            set_min_frag_size(static_cast<uint32_t>(n));
    } else if (key == "RESUME_GET") {
        return load_flag<KV_SftpManOpts>(value, sftp_, &KV_SftpManOpts::set_can_resume_get);
    } else if (key == "RESUME_PUT") {
        return load_flag<KV_SftpManOpts>(value, sftp_, &KV_SftpManOpts::set_can_resume_put);
    } else if (key == "CIPHERS_DISABLE") {
        sftp_.set_ciphers(value);
    } else if (key == "COMPRESS") {
        return load_flag<KV_SshManOpts>(value, sftp_, &KV_SshManOpts::set_compress);
    } else if (key == "AGGRESSIVE_READ") {
        return load_flag<KV_SftpManOpts>(value, sftp_, &KV_SftpManOpts::set_aggressive_read);
    } else if (key == "AGGRESSIVE_WRITE") {
        return load_flag<KV_SftpManOpts>(value, sftp_, &KV_SftpManOpts::set_aggressive_write);
    } else if (key == "TMOUT_MESSAGE_RESP") {
        if (parse_unsigned(value, KV_TMOUT_MAX_SEC, n))
            sftp_.set_tmout_msg_resp(static_cast<uint32_t>(n));
    } else if (key == "BUFF_SEND") {
        if (parse_unsigned(value, UINT32_MAX, n))
            sftp_.set_buff_send(static_cast<uint32_t>(n));
    } else if (key == "BUFF_RECV") {
        if (parse_unsigned(value, UINT32_MAX, n))
            sftp_.set_buff_recv(static_cast<uint32_t>(n));
    } else {
        handled = false;
    }
    return true;
}

// ---------------------------------------------------------------- local disk

KV_FileManStdOpts::KV_FileManStdOpts() : KV_FileManOpts(3, 2, 3)
{
    // The base's local notation stands.
    set_path_down(KV_File::path(KV_PATH_SYS_TMP, false));
}

bool KV_FileManStdOpts::save(KV_Storage& st, const KV_FileManStdOpts& ref) const
{
    return KV_FileManOpts::save(st, ref) && save_flag(st, "RECYCLE", recycle_, ref.recycle_);
}

bool KV_FileManStdOpts::load(const KV_String& key, const KV_String& value, bool& handled)
{
    bool ok = KV_FileManOpts::load(key, value, handled);
    if (!ok || handled)
        return ok;
    handled = true;
    if (key == "RECYCLE")
        return load_flag<KV_FileManStdOpts>(value, *this, &KV_FileManStdOpts::set_recycle);
    handled = false;
    return true;
}
