#include "datasources/kv_manopts.h"

#include "datasources/kv_sshciphername.h"
#include "foundation/kv_filedata.h"

// ---------------------------------------------------------------- FTP

namespace {

// Splits "txt, HTML,,c" into upper-case extensions, each once, into `out`
// (cleared first).
bool ParseExts(const KV_String& text, KVTL::KV_ListVal<KV_String>& out)
{
    out.clear();
    KV_String pieces = text + ",";
    if (pieces.length() != text.length() + 1)
        return false;
    uint32_t from = 0;
    uint32_t comma = 0;
    while (pieces.contains(',', from, &comma)) {
        KV_String ext = pieces.part(from, comma).trim().upper();
        from = comma + 1;
        // An empty entry would match every name without a dot and send it
        // in ASCII mode, corrupting binaries the user never listed.
        if (ext.empty() || out.find(ext))
            continue;
        if (!out.add(ext))
            return false;
    }
    return true;
}

} // namespace

KV_FtpManOpts::KV_FtpManOpts()
{
    // Every FTP data source and group starts from this list, and a start-up
    // builds thousands of them: the text is split once.
    struct Defaults
    {
        KVTL::KV_ListVal<KV_String> exts;
        Defaults() { ParseExts("asp,bat,c,cgi,h,js,htm,html,pl,rtf,sh,shtml,txt", exts); }
    };
    static const Defaults defaults;
    for (const KV_String& ext : defaults.exts)
        if (!amode_exts_.add(ext))
            break;
}

KV_FtpManOpts::KV_FtpManOpts(const KV_FtpManOpts& other) : KV_SessOpts(other)
{
    *this = other;
}

KV_FtpManOpts& KV_FtpManOpts::operator=(const KV_FtpManOpts& other)
{
    if (this == &other)
        return *this;
    KV_SessOpts::operator=(other);
    conn_mode_ = other.conn_mode_;
    list_flags_ = other.list_flags_;
    dtrans_ = other.dtrans_;
    keep_alive_cmd_ = other.keep_alive_cmd_;
    keep_alive_int_ = other.keep_alive_int_;
    tmout_welcome_ = other.tmout_welcome_;
    tmout_trans_beg_ = other.tmout_trans_beg_;
    tmout_trans_ack_ = other.tmout_trans_ack_;
    tmout_cmd_resp_ = other.tmout_cmd_resp_;
    use_append_ = other.use_append_;
    use_rest_get_ = other.use_rest_get_;
    use_rest_put_ = other.use_rest_put_;
    sz_unrel_ = other.sz_unrel_;
    amode_exts_.clear();
    for (const KV_String& ext : other.amode_exts_)
        if (!amode_exts_.add(ext))
            break;
    return *this;
}

KV_FtpManOpts::~KV_FtpManOpts()
{
    amode_exts_.clear();
}

void KV_FtpManOpts::set_conn_mode(KV_FTP_CONN_MODE mode)
{
    if (mode >= KV_FTP_CONN_ACTIVE && mode <= KV_FTP_CONN_AUTO)
        conn_mode_ = mode;
}

void KV_FtpManOpts::set_conn_mode(int mode)
{
    if (mode >= 1 && mode <= 3)
        conn_mode_ = static_cast<KV_FTP_CONN_MODE>(mode);
}

void KV_FtpManOpts::set_dtrans(KV_FTP_DTRANS mode)
{
    if (mode <= KV_FTP_DTRANS_SAME_DS)
        dtrans_ = mode;
}

void KV_FtpManOpts::set_dtrans(int mode)
{
    if (mode >= 0 && mode <= 2)
        dtrans_ = static_cast<KV_FTP_DTRANS>(mode);
}

void KV_FtpManOpts::set_tmout_welcome(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_welcome_ = seconds;
}

void KV_FtpManOpts::set_tmout_trans_beg(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_trans_beg_ = seconds;
}

void KV_FtpManOpts::set_tmout_trans_ack(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_trans_ack_ = seconds;
}

void KV_FtpManOpts::set_tmout_cmd_resp(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_cmd_resp_ = seconds;
}

bool KV_FtpManOpts::set_amode_exts(const KV_String& text)
{
    return ParseExts(text, amode_exts_);
}

KV_String KV_FtpManOpts::amode_exts() const
{
    KV_String text;
    for (const KV_String& ext : amode_exts_) {
        if (!text.empty())
            text += ", ";
        text += ext;
    }
    return text;
}

KV_TRANS_MODE KV_FtpManOpts::tmode(const KV_FileData& fd) const
{
    const KV_String& name = fd.name();
    uint32_t dot = 0;
    if (!name.contains('.', 0, &dot))
        return KV_TRANS_MODE_BINARY;
    KV_String ext = name.part(dot + 1, name.length()).trim().upper();
    return !ext.empty() && amode_exts_.find(ext) ? KV_TRANS_MODE_ASCII : KV_TRANS_MODE_BINARY;
}

// ---------------------------------------------------------------- HTTP

KV_HttpManOpts::KV_HttpManOpts() = default;

KV_HttpManOpts::~KV_HttpManOpts() = default;

void KV_HttpManOpts::set_tmout_hdr_resp(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_hdr_resp_ = seconds;
}

// ---------------------------------------------------------------- SSH, SFTP

KV_SshManOpts::KV_SshManOpts()
{
    // Never offer a cipher that does not encrypt unless the user asks for it.
    ciphers_ = KV_SSH_CIPHER_NONE;
}

KV_SshManOpts::~KV_SshManOpts() = default;

KV_SftpManOpts::KV_SftpManOpts() = default;

KV_SftpManOpts::~KV_SftpManOpts() = default;

void KV_SftpManOpts::set_tmout_msg_resp(uint32_t seconds)
{
    if (seconds <= KV_TMOUT_MAX_SEC)
        tmout_msg_resp_ = seconds;
}
