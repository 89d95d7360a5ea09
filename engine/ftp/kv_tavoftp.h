// The worker of an FTP data source: one thread with one FTP control
// connection (its own KV_FtpMan) that stays open between requests. For each
// request it announces what it does with a status text, runs the matching
// FTP action through KV_FtpMan::exec with the request as the stopper and
// copies the action's outcome into the request; the worker base ends it
// ("Ready" or "Error", with the connection's error text). A
// request that failed because the connection went away is handed back as
// Restarting instead of Error, so that the engine runs it again.
//
// Server-to-server copies reserve the source side's worker between the PASV
// of the set-up and the RETR that the destination side queues for it
// (dtrans_busy): meanwhile it takes no other request.
//
// Threads: the worker's thread runs process() and the handlers; the manager
// thread calls busy() and set_opts() between requests; dtrans_busy is also
// read by the manager thread and written by the worker, under `lock_w`.
#pragma once

#include <cstdint>

#include "datasources/kv_filemanopts.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_string.h"
#include "ftp/kv_ftpman.h"
#include "requests/kv_tavo.h"

class KV_FileReq;
class KV_FileReqChmod;
class KV_FileReqCopy;
class KV_FileReqDTrans;
class KV_FileReqMkDir;
class KV_FileReqPwd;
class KV_FileReqRen;
class KV_FileReqRm;
class KV_FileReqScan;
class KV_FileReqUMan;
class KV_FtpAct;
class KV_PathDef;

class KV_TavoFtp : public KV_Tavo
{
public:
    // `informer` is the file manager's; it must outlive the worker.
    explicit KV_TavoFtp(KV_Informer& informer);
    // Waits for the thread (the owner has stopped it), then closes the
    // connection.
    ~KV_TavoFtp() override;

    // Takes the data source's options and hands their FTP part to the
    // manager. Manager thread, between requests.
    void set_opts(const KV_FileManFtpOpts& opts);
    const KV_FileManFtpOpts& opts() const { return opts_; }
    KV_FtpMan& ftp() { return ftp_; }

    bool dtrans_busy() const;
    // Reserves (true) or frees the worker; a reservation shows "Busy", a
    // release wakes the request manager so that waiting requests start.
    void set_dtrans_busy(bool b);

    void req_executed(bool executed) override;
    uint32_t kind() const override { return 0; }
    // Busy while a request is held; while reserved, for every request but
    // the DTrans request meant for this worker.
    bool busy(const KV_FileReq* r) override;
    void set_id(uint32_t id) override;

private:
    // The text of `path` in the options' syntax; false when it cannot be
    // built or is empty.
    bool path_text(const KV_PathDef& path, KV_String& text) const;
    void status(const KV_String& text);
    // Runs `act` for `r` and lowers r's executed flag with the action's.
    bool run_act(KV_FileReq& r, KV_FtpAct& act);
    // Whether the control connection is gone while the file manager lives.
    bool conn_lost() const;

    // The connection's error text.
    KV_String end_err(KV_FileReq& r) override;
    // None while the worker is reserved for a server-to-server copy: its
    // "Busy" stays on show until the reservation ends.
    void end_notice(const KV_FileReq& r, const KV_String& err) override;

    bool do_mkdir(KV_FileReqMkDir& r) override;
    bool do_ren(KV_FileReqRen& r) override;
    bool do_chmod(KV_FileReqChmod& r) override;
    bool do_pwd(KV_FileReqPwd& r) override;
    bool do_rm(KV_FileReqRm& r) override;
    bool do_scan(KV_FileReqScan& r) override;
    bool do_copy(KV_FileReqCopy& r) override;
    bool do_uman(KV_FileReqUMan& r) override;
    bool do_dtrans(KV_FileReqDTrans& r) override;

    // Parts of do_copy (kv_tavoftpcp.cpp).
    bool copy_get(KV_FileReqCopy& r);
    bool copy_put(KV_FileReqCopy& r);
    bool copy_dtrans_init(KV_FileReqCopy& r);
    bool copy_dtrans_put(KV_FileReqCopy& r);
    // The size the server lists for the upload target `dst`; -1 when it
    // lists none or an unreliable one. False when the probe itself failed.
    bool remote_size(KV_FileReqCopy& r, const KV_PathDef& dst, int64_t& size);

    mutable KV_Lock lock_w;
    KV_FtpMan ftp_;
    KV_FileManFtpOpts opts_;
    bool dtrans_busy_ = false;
};
