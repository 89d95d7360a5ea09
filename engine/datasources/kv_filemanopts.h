// Options of the file managers: one object configures the file manager of one
// data source.
//
// KV_FileManOpts holds what every kind shares (workers, restart wait, default
// folder, read-only and temporary flags, scan cache, browse-window panes).
// The FTP, HTTP and SFTP kinds embed their protocol's options
// (kv_manopts.h); KV_FileManStdOpts serves the local disk. Group nodes of the
// data-source tree hold the defaults of their protocol, data-source nodes
// their own options; both save them as keyed values, each key only when it
// differs from a reference object (the defaults the node inherits), and read
// them back key by key through load().
//
// Loading never trusts a value: a number that is not a decimal number or does
// not fit its field is ignored and the field keeps its value, as the range
// checking setters do. LIST_PARAMS, a set of flag bits, is the exception: it
// keeps the low 8 bits of the number, so the flags it knows survive.
//
// Threads: plain values; one thread at a time per object.
#pragma once

#include <cstdint>

#include "datasources/kv_manopts.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_string.h"

class KV_Storage;

class KV_FileManOpts : public KV_FileReqManOpts
{
public:
    explicit KV_FileManOpts(uint32_t ntavos = 0, uint32_t rest_wait = 0, uint16_t disp_info = 0);
    KV_FileManOpts(const KV_FileManOpts& other) = default;
    KV_FileManOpts& operator=(const KV_FileManOpts& other) = default;

    // Default folder of the data source (proposed as a transfer's
    // destination).
    const KV_String& path_down() const { return path_down_; }
    void set_path_down(const KV_String& path) { path_down_ = path; }
    // The data source that opens in the same browse window as this one; an
    // empty id for none.
    const KV_DsId& open_with() const { return open_with_; }
    void set_open_with(const KV_DsId& id) { open_with_ = id; }
    // Panes of a new browse window: 0x01 tree, 0x02 list, 0x04 details; the
    // low byte for this source, the high byte for the open_with source.
    uint16_t disp_info() const { return disp_info_; }
    void set_disp_info(uint16_t panes) { disp_info_ = panes; }
    // Number of cached scan requests; 0 means no limit.
    uint32_t scan_cache() const { return scan_cache_; }
    void set_scan_cache(uint32_t n) { scan_cache_ = n; }
    // The data source is temporary (the tree removes it).
    bool temporary() const { return temporary_; }
    void set_temporary(bool temporary) { temporary_ = temporary; }
    bool rdonly() const { return rdonly_; }
    void set_rdonly(bool rdonly) { rdonly_ = rdonly; }

    // Writes the keyed values in which this object differs from ref. False as
    // soon as one write fails.
    bool save(KV_Storage& st, const KV_FileManOpts& ref) const;
    // Takes one keyed value. handled := whether the key is one of this
    // class's. False for a flag that is neither YES nor NO and for a
    // DISP_INFO value that cannot be decoded: open_with is taken once the
    // identifier has been read whole, disp_info only when both of its bytes
    // follow.
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    KV_String path_down_;
    KV_DsId open_with_;
    uint16_t disp_info_;
    uint32_t scan_cache_ = 0;
    bool temporary_ = false;
    bool rdonly_ = false;
};

// An FTP data source: 5 workers, restart wait 3, tree, list and details
// panes; "/" paths, case-sensitive.
class KV_FileManFtpOpts : public KV_FileManOpts
{
public:
    KV_FileManFtpOpts();
    KV_FileManFtpOpts(const KV_FileManFtpOpts& other) = default;
    KV_FileManFtpOpts& operator=(const KV_FileManFtpOpts& other) = default;

    const KV_FtpManOpts& ftp() const { return ftp_; }
    KV_FtpManOpts& ftp() { return ftp_; }

    // The smallest part of a multi-part download: set in KB, read in bytes.
    // 0 disables multi-part downloads. 1024 KB by default.
    int64_t min_frag_size() const { return int64_t{min_frag_size_} * 1024; }
    void set_min_frag_size(uint32_t kb) { min_frag_size_ = kb; }
    // Connections logged in from the start, out of ntavos(); the setter
    // stores at most the current ntavos(). 5 by default.
    uint32_t ntavos_conn() const { return ntavos_conn_; }
    void set_ntavos_conn(uint32_t n) { ntavos_conn_ = n < ntavos() ? n : ntavos(); }

    // As KV_FileManOpts, then the FTP keys.
    bool save(KV_Storage& st, const KV_FileManFtpOpts& ref) const;
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    KV_FtpManOpts ftp_;
    uint32_t min_frag_size_ = 1024;
    uint32_t ntavos_conn_ = 5;
};

// An HTTP data source: 5 workers, restart wait 3, tree and details panes;
// "/" paths with "?" before parameters, case-sensitive.
class KV_FileManHttpOpts : public KV_FileManOpts
{
public:
    KV_FileManHttpOpts();
    KV_FileManHttpOpts(const KV_FileManHttpOpts& other) = default;
    KV_FileManHttpOpts& operator=(const KV_FileManHttpOpts& other) = default;

    const KV_HttpManOpts& http() const { return http_; }
    KV_HttpManOpts& http() { return http_; }

    // As for FTP.
    int64_t min_frag_size() const { return int64_t{min_frag_size_} * 1024; }
    void set_min_frag_size(uint32_t kb) { min_frag_size_ = kb; }
    // The server creates missing subfolders by itself on upload (for folders
    // that are not WebDAV collections). True by default.
    bool auto_mkdir() const { return auto_mkdir_; }
    void set_auto_mkdir(bool auto_mkdir) { auto_mkdir_ = auto_mkdir; }

    // As KV_FileManOpts, then the HTTP keys.
    bool save(KV_Storage& st, const KV_FileManHttpOpts& ref) const;
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    KV_HttpManOpts http_;
    uint32_t min_frag_size_ = 1024;
    bool auto_mkdir_ = true;
};

// An SFTP data source: 5 workers, restart wait 3, tree, list and details
// panes; "/" paths, case-sensitive.
class KV_FileManSftpOpts : public KV_FileManOpts
{
public:
    KV_FileManSftpOpts();
    KV_FileManSftpOpts(const KV_FileManSftpOpts& other) = default;
    KV_FileManSftpOpts& operator=(const KV_FileManSftpOpts& other) = default;

    const KV_SftpManOpts& sftp() const { return sftp_; }
    KV_SftpManOpts& sftp() { return sftp_; }

    // As for FTP.
    int64_t min_frag_size() const { return int64_t{min_frag_size_} * 1024; }
    void set_min_frag_size(uint32_t kb) { min_frag_size_ = kb; }

    // As KV_FileManOpts, then the SFTP keys.
    bool save(KV_Storage& st, const KV_FileManSftpOpts& ref) const;
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    KV_SftpManOpts sftp_;
    uint32_t min_frag_size_ = 1024;
};

// The local disk: 3 workers, restart wait 2, tree and list panes; local path
// notation; the system's temporary folder as default folder.
class KV_FileManStdOpts : public KV_FileManOpts
{
public:
    KV_FileManStdOpts();
    KV_FileManStdOpts(const KV_FileManStdOpts& other) = default;
    KV_FileManStdOpts& operator=(const KV_FileManStdOpts& other) = default;

    // Deleted files go to the trash rather than being removed. True by
    // default.
    bool recycle() const { return recycle_; }
    void set_recycle(bool recycle) { recycle_ = recycle; }

    // As KV_FileManOpts, then RECYCLE.
    bool save(KV_Storage& st, const KV_FileManStdOpts& ref) const;
    bool load(const KV_String& key, const KV_String& value, bool& handled);

private:
    bool recycle_ = true;
};
