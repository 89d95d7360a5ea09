// Options of the network protocol managers: the tuning that the FTP, HTTP and
// SFTP clients read when they connect and transfer (time-outs, connection
// mode, resume and keep-alive behaviour, SSH algorithms). Each object is
// embedded in the data-source options of its protocol (kv_filemanopts.h),
// which save and load its fields under keys of the data-source file.
//
// Time-outs are stored in seconds: the setters take seconds, the getters
// return milliseconds (what the clients pass to their waits), and the file
// holds seconds. So that the millisecond value always fits 32 bits, a setter
// ignores a time-out above KV_TMOUT_MAX_SEC seconds. Setters of fields with a
// range likewise ignore values outside it.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "datasources/kv_httpver.h"
#include "datasources/kv_sessopts.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_FileData;

// The largest time-out in seconds whose millisecond value fits 32 bits.
inline constexpr uint32_t KV_TMOUT_MAX_SEC = UINT32_MAX / 1000;

// How an FTP data connection is opened.
enum KV_FTP_CONN_MODE : uint32_t {
    KV_FTP_CONN_ACTIVE = 1,  // PORT: the server connects to us
    KV_FTP_CONN_PASSIVE = 2, // PASV: we connect to the server
    KV_FTP_CONN_AUTO = 3,    // passive first, active when that fails
};

// Direct server-to-server copies between two FTP data sources.
enum KV_FTP_DTRANS : uint32_t {
    KV_FTP_DTRANS_OFF = 0,
    KV_FTP_DTRANS_ON = 1,
    // Only between two connections to the same data source.
    KV_FTP_DTRANS_SAME_DS = 2,
};

// Command sent on an idle FTP control connection; any other value sends none.
enum KV_FTP_KA_CMD : uint32_t {
    KV_FTP_KA_NOOP = 0,
    KV_FTP_KA_PWD = 1,
};

// Representation type of an FTP transfer.
enum KV_TRANS_MODE : uint32_t {
    KV_TRANS_MODE_BINARY = 1, // TYPE I
    KV_TRANS_MODE_ASCII = 2,  // TYPE A
};

class KV_FtpManOpts : public KV_SessOpts
{
public:
    // Automatic connection mode, no listing options, no direct transfers,
    // NOOP every 180 s, time-outs 5 s welcome, 60 s transfer start, 90 s
    // transfer end and command reply, REST for downloads only, and the ASCII
    // extensions ASP, BAT, C, CGI, H, JS, HTM, HTML, PL, RTF, SH, SHTML, TXT.
    KV_FtpManOpts();
    // Copy construction and assignment copy every field; the extension list
    // is rebuilt element by element (a copy that runs out of memory holds the
    // extensions copied so far).
    KV_FtpManOpts(const KV_FtpManOpts& other);
    KV_FtpManOpts& operator=(const KV_FtpManOpts& other);
    ~KV_FtpManOpts() override;

    KV_FTP_CONN_MODE conn_mode() const { return conn_mode_; }
    // Ignore values outside 1..3.
    void set_conn_mode(KV_FTP_CONN_MODE mode);
    void set_conn_mode(int mode);

    // Options of the listing command: 0x01 all files ("a"), 0x02 resolve
    // links ("L").
    uint8_t list_flags() const { return list_flags_; }
    void set_list_flags(uint8_t flags) { list_flags_ = flags; }

    KV_FTP_DTRANS dtrans() const { return dtrans_; }
    // Ignore values outside 0..2.
    void set_dtrans(KV_FTP_DTRANS mode);
    void set_dtrans(int mode);

    KV_FTP_KA_CMD keep_alive_cmd() const { return keep_alive_cmd_; }
    void set_keep_alive_cmd(KV_FTP_KA_CMD cmd) { keep_alive_cmd_ = cmd; }
    // Seconds of idleness before the keep-alive command; 0 disables it.
    uint16_t keep_alive_int() const { return keep_alive_int_; }
    void set_keep_alive_int(uint16_t seconds) { keep_alive_int_ = seconds; }

    // Time-outs: milliseconds out, seconds in (see the top of this file).
    uint32_t tmout_welcome() const { return tmout_welcome_ * 1000; }
    void set_tmout_welcome(uint32_t seconds);
    uint32_t tmout_trans_beg() const { return tmout_trans_beg_ * 1000; }
    void set_tmout_trans_beg(uint32_t seconds);
    uint32_t tmout_trans_ack() const { return tmout_trans_ack_ * 1000; }
    void set_tmout_trans_ack(uint32_t seconds);
    uint32_t tmout_cmd_resp() const { return tmout_cmd_resp_ * 1000; }
    void set_tmout_cmd_resp(uint32_t seconds);

    bool use_append() const { return use_append_; }
    void set_use_append(bool use) { use_append_ = use; }
    bool use_rest_get() const { return use_rest_get_; }
    void set_use_rest_get(bool use) { use_rest_get_ = use; }
    bool use_rest_put() const { return use_rest_put_; }
    void set_use_rest_put(bool use) { use_rest_put_ = use; }
    // The server's file sizes are not to be trusted.
    bool sz_unrel() const { return sz_unrel_; }
    void set_sz_unrel(bool unrel) { sz_unrel_ = unrel; }

    // Replaces the ASCII extension list by the comma-separated extensions of
    // text, each trimmed and upper-cased, without duplicates, in the order of
    // their first occurrence. Empty pieces are dropped: an empty text gives an
    // empty list (no file is sent in ASCII mode). False when memory ran out
    // (the list then holds the extensions added so far).
    bool set_amode_exts(const KV_String& text);
    // The list joined by ", " ("TXT, HTML"); set_amode_exts of it gives the
    // same list.
    KV_String amode_exts() const;

    // ASCII when the text after the first '.' of the file's name, trimmed and
    // upper-cased, is in the extension list ("page.html"), else binary (also
    // "page.html.bak" and names without a dot).
    KV_TRANS_MODE tmode(const KV_FileData& fd) const;

private:
    KV_FTP_CONN_MODE conn_mode_ = KV_FTP_CONN_AUTO;
    uint8_t list_flags_ = 0;
    KV_FTP_DTRANS dtrans_ = KV_FTP_DTRANS_OFF;
    KV_FTP_KA_CMD keep_alive_cmd_ = KV_FTP_KA_NOOP;
    uint16_t keep_alive_int_ = 180;
    // Seconds, each at most KV_TMOUT_MAX_SEC.
    uint32_t tmout_welcome_ = 5;
    uint32_t tmout_trans_beg_ = 60;
    uint32_t tmout_trans_ack_ = 90;
    uint32_t tmout_cmd_resp_ = 90;
    bool use_append_ = false;
    bool use_rest_get_ = true;
    bool use_rest_put_ = false;
    bool sz_unrel_ = false;
    KVTL::KV_ListVal<KV_String> amode_exts_;
};

class KV_HttpManOpts : public KV_SessOpts
{
public:
    // HTTP/1.1, 120 s header time-out, resumed downloads but not uploads,
    // persistent connections.
    KV_HttpManOpts();
    KV_HttpManOpts(const KV_HttpManOpts& other) = default;
    KV_HttpManOpts& operator=(const KV_HttpManOpts& other) = default;
    ~KV_HttpManOpts() override;

    const KV_HttpVer& version() const { return version_; }
    void set_version(const KV_HttpVer& version) { version_ = version; }

    // Time-out: milliseconds out, seconds in.
    uint32_t tmout_hdr_resp() const { return tmout_hdr_resp_ * 1000; }
    void set_tmout_hdr_resp(uint32_t seconds);

    bool can_resume_get() const { return can_resume_get_; }
    void set_can_resume_get(bool can) { can_resume_get_ = can; }
    bool can_resume_put() const { return can_resume_put_; }
    void set_can_resume_put(bool can) { can_resume_put_ = can; }
    // Keep the connection open between requests.
    bool persistent() const { return persistent_; }
    void set_persistent(bool persistent) { persistent_ = persistent; }

private:
    KV_HttpVer version_{1, 1};
    uint32_t tmout_hdr_resp_ = 120;
    bool can_resume_get_ = true;
    bool can_resume_put_ = false;
    bool persistent_ = true;
};

class KV_SshManOpts : public KV_SessOpts
{
public:
    // Only the ciphers that do not encrypt are disabled ("none"); zlib
    // compression is offered.
    KV_SshManOpts();
    KV_SshManOpts(const KV_SshManOpts& other) = default;
    KV_SshManOpts& operator=(const KV_SshManOpts& other) = default;
    ~KV_SshManOpts() override;

    // Comma-separated names of the SSH ciphers that must not be offered,
    // stored as given.
    const KV_String& ciphers() const { return ciphers_; }
    void set_ciphers(const KV_String& names) { ciphers_ = names; }
    bool compress() const { return compress_; }
    void set_compress(bool compress) { compress_ = compress; }

private:
    KV_String ciphers_;
    bool compress_ = true;
};

class KV_SftpManOpts : public KV_SshManOpts
{
public:
    // 120 s reply time-out; resume and aggressive reading and writing on.
    KV_SftpManOpts();
    KV_SftpManOpts(const KV_SftpManOpts& other) = default;
    KV_SftpManOpts& operator=(const KV_SftpManOpts& other) = default;
    ~KV_SftpManOpts() override;

    // Time-out: milliseconds out, seconds in.
    uint32_t tmout_msg_resp() const { return tmout_msg_resp_ * 1000; }
    void set_tmout_msg_resp(uint32_t seconds);

    bool can_resume_get() const { return can_resume_get_; }
    void set_can_resume_get(bool can) { can_resume_get_ = can; }
    bool can_resume_put() const { return can_resume_put_; }
    void set_can_resume_put(bool can) { can_resume_put_ = can; }
    bool aggressive_read() const { return aggressive_read_; }
    void set_aggressive_read(bool aggressive) { aggressive_read_ = aggressive; }
    bool aggressive_write() const { return aggressive_write_; }
    void set_aggressive_write(bool aggressive) { aggressive_write_ = aggressive; }

private:
    uint32_t tmout_msg_resp_ = 120;
    bool can_resume_get_ = true;
    bool can_resume_put_ = true;
    bool aggressive_read_ = true;
    bool aggressive_write_ = true;
};
