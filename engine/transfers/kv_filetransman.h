// The transfer manager: the one request manager of the engine that runs the
// logged transfer requests (copy or move, rename, delete).
//
// It is a worker-pool manager (KV_FileManTavo) whose workers are transfer
// workers (KV_TavoTrans, kv_tavotrans.h): each request runs on a thread of
// its own worker, which ends after the request. On top of the pool it keeps
// the transfer options (number of workers, retries per request and per file,
// temporary files, auto-removal rules), reloads at start the requests that
// a previous run left in the temporary transfer folder as request logs,
// deletes the copy sub-logs that no saved request names any more, and
// decides which finished requests are removed automatically.
//
// Reload at start (load_req, before the thread runs): every file of the
// temporary transfer folder whose frame checks is looked at by its type byte;
// request logs come back as requests with the status they recorded. A log
// whose body does not read is deleted with what it owns. A log whose data
// source cannot be registered any more stays on disk for the next start, and
// so do the sub-logs it names. A request that was cut short while it ran
// (shut-down, crash) comes back Queued and runs again.
//
// Threads and locks
// - `lock` guards `opts_` and nothing else; it is a leaf, held only for a
//   copy or a read. The manager thread (prestart_req, opts), the workers
//   (nfretries, ntmpfiles through their requests) and the user interface
//   (set_opts, auto_rm through tasks and requests) meet there.
// - load_req, load, read_log_files and del_sublogs run on the thread that
//   owns the manager, before start(); del_sublogs refuses once the thread
//   runs.
// - man_info and process_ntf belong to the user-interface thread.
#pragma once

#include <cstdint>

#include "datasources/kv_reqmanopts.h"
#include "datasources/kv_transoptsrecv.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereqinfoman.h"
#include "requests/kv_tavo.h"

class KV_FileManReg;
class KV_FileReqTrans;
class KV_Msg;

class KV_FileTransMan : public KV_FileManTavo, public KV_TransOptsRecv
{
public:
    // Default options, no workers until the first pass, thread not started.
    KV_FileTransMan();
    // Terminates the manager (stop type 2), waits for its thread and its
    // workers, then the members go. Requests still listed are deleted
    // without their logs: they come back at the next start.
    ~KV_FileTransMan() override;

    // Only while the thread does not run: the request manager's start-up
    // (the path rules of the options), then initialized(). False otherwise.
    bool init();

    // Queues a transfer request; the manager owns it from here on, whatever
    // the result. Errors of priority 2 that the request's log records go on
    // to the manager's informer. The status comes from the log: a new request
    // is Queued (Suspended with a scheduled start); a reloaded one that had
    // not finished is Queued again, one that had finished keeps its final
    // status. Any thread.
    bool add_req(KV_FileReqTrans* r);

    // Replaces the options. When the always-remove rule changes, every
    // finished request is looked at again under the new rule. Wakes the
    // manager thread. Any thread.
    void set_opts(const KV_FileTransManOpts& opts) override;
    // Retries of one failing file before it is skipped; 0 never skips.
    uint32_t nfretries() const;
    // The most files whose copies a worker runs at once; 0 no limit.
    uint32_t ntmpfiles() const;

    // The snapshots of the transfer requests. User-interface thread.
    KV_FileReqInfoMan& man_info() { return man_info_; }
    // Hands an engine message to the snapshots. User-interface thread.
    bool process_ntf(const KV_Msg* msg);

    // Reloads the saved requests from the temporary transfer folder (copy,
    // then delete, then rename requests), then deletes the copy sub-logs
    // that no saved request names. Whatever the result, queues the removal
    // check of the finished ones under the start rule. A missing folder
    // loads nothing and is no failure. Before start().
    bool load_req(KV_FileManReg& pool);

    // --- Overrides of the request manager -----------------------------------

    // Whether a finished request of status *stat is removed: the always rule
    // of the options, with `at_start` or-ed with the start rule. False for
    // null and for statuses that are not final.
    bool auto_rm(const KV_REQ_STAT* stat, bool at_start) const override;
    // A request equal to the suspended transfer request `r` was added (and
    // dropped): `r` starts at the next pass instead of waiting.
    void dupl_start(KV_FileReq* r) override;
    // The request-manager part of the options.
    KV_FileReqManOpts opts() const override;
    bool trans() const override;
    // A new transfer worker on the manager's informer; null without memory.
    KV_Tavo* create_tavo() override;
    // Gives the worker the current options before its request starts.
    void prestart_req(KV_Tavo* t) override;

protected:
    // Reloads every request log of `type` (2 copy, 3 delete, 4 rename).
    // False when the folder cannot be read or a request cannot be queued.
    bool load(KV_FileManReg& pool, uint8_t type);
    // Deletes the logs of `type` that no reloaded request, and no saved one
    // that stays on disk, names. Refused (false) while the thread runs.
    bool del_sublogs(KV_FileManReg& pool, uint8_t type);
    // The full paths of the files of the temporary transfer folder whose
    // frame checks and whose type byte is `type`. Reports nothing: foreign
    // and broken files are simply not listed (and never touched).
    bool read_log_files(KV_ErrHandler& eh, KVTL::KV_ListVal<KV_String>& list, uint8_t type);
    // The log files by type, indexed by the type byte (1 sub-log to 4
    // rename; index 0 stays empty).
    static constexpr uint8_t LOG_TYPES = 5;
    using LogLists = KVTL::KV_ListVal<KV_String>[LOG_TYPES];
    // The same for every type in one pass: `lists[t]` receives those of
    // type t (0 and other types are not listed).
    bool read_log_files(KV_ErrHandler& eh, LogLists& lists);
    // What load and del_sublogs do with the list of the logs of `type`.
    bool load_list(KV_FileManReg& pool, uint8_t type, const KVTL::KV_ListVal<KV_String>& list);
    bool del_sublogs_list(const KVTL::KV_ListVal<KV_String>& list);

private:
    // Deletes the requests kept for the sub-log check.
    void drop_kept();

    // Guards opts_.
    mutable KV_Lock lock;
    KV_FileTransManOpts opts_;
    KV_FileReqInfoMan man_info_;
    // Requests whose logs restored but whose data source could not be
    // registered: not run, but their sub-logs are theirs until the next
    // start. Owned; only during load_req.
    KVTL::KV_ListPtr<KV_FileReqTrans> kept;
};
