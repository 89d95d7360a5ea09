// The worker of an SFTP data source: one thread, one SFTP connection.
//
// Every request becomes one or a few actions, each run with
// KV_SshMan::exec so that the request's error handler receives the
// connection's error text as "SFTP: %s" and a stop of the request stops the
// connection's wait. Remote paths are built with the worker's path syntax;
// names are bytes, sent unchanged.
//
// A rename onto an existing name never loses the target: the target is first
// set aside under a fresh name in its folder, then the rename runs, and only
// then is the set-aside target removed -- or renamed back when the rename
// failed.
//
// Threads: process() and the handlers run on the worker's thread; set_opts
// and the connection's set-up on the manager thread between requests.
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "datasources/kv_filemanparamssftp.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_path.h"
#include "foundation/kv_string.h"
#include "requests/kv_tavo.h"
#include "ssh/kv_sftpman.h"

class KV_FileManSftp;
class KV_FileReq;
class KV_FileReqMkDir;
class KV_FileReqRen;
class KV_FileReqChmod;
class KV_FileReqPwd;
class KV_FileReqRm;
class KV_FileReqScan;
class KV_FileReqCopy;
class KV_FileReqUMan;

class KV_TavoSftp : public KV_Tavo
{
public:
    // `fm` (not owned) created the worker; `informer` must outlive it.
    KV_TavoSftp(KV_FileManSftp* const fm, KV_Informer& informer);
    // Waits for the worker's thread (the owner has stopped it).
    ~KV_TavoSftp() override;

    KV_SftpMan& man() { return man_; }
    // Copies the options and hands their SFTP part to the connection.
    void set_opts(const KV_FileManSftpOpts& opts);
    const KV_FileManSftpOpts& opts() const { return opts_; }
    // The connection learns the id too (its log lines carry it).
    void set_id(uint32_t id) override;
    // The last failure was the connection, and the file manager still runs.
    bool conn_lost();

    // A request that failed on a lost connection and may retry is restarted
    // (Restarting) on a new one.
    void req_executed(bool executed) override;
    uint32_t kind() const override { return 0; }

private:
    // Runs one action for `r`; the request's executed flag is narrowed with
    // the action's.
    bool exec(KV_FileReq& r, KV_SftpAct& act);
    void notice(const KV_String& text, const KV_String& text2 = KV_String());
    // The remote text of path; false when it cannot be built or is empty.
    bool remote(const KV_PathDef& path, KV_String& text) const;

    // The connection's error text, for the closing "Error" notice.
    KV_String end_err(KV_FileReq& r) override;

    bool do_mkdir(KV_FileReqMkDir& r) override;
    bool do_ren(KV_FileReqRen& r) override;
    bool do_chmod(KV_FileReqChmod& r) override;
    bool do_pwd(KV_FileReqPwd& r) override;
    bool do_rm(KV_FileReqRm& r) override;
    bool do_scan(KV_FileReqScan& r) override;
    bool do_copy(KV_FileReqCopy& r) override;
    bool do_uman(KV_FileReqUMan& r) override;

    KV_SftpMan man_;
    KV_FileManSftpOpts opts_;
    uint32_t aside_count = 0;
};
