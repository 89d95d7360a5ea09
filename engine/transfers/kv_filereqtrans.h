// Base of the logged multi-file requests of the transfer manager (copy or
// move, rename, delete).
//
// Every persistent fact of a transfer request lives in its request log
// (KV_TransLogTrans), which each derived class owns and returns through
// log_trans(). The base ties the request to the log: the log file is made
// when the request is taken up (pre_add) and deleted when the request is
// removed (pre_rm); the log carries the request id, shows status changes in
// the request-log window, gives the scheduled start and the last error,
// restarts with the request and counts the errors of each file.
//
// Threads: the request is used by the transfer manager's thread (status,
// tasks), by its worker and, through tasks, by the user interface. The
// skip-error flag is the only state of this class touched across threads,
// always under `lock`; the log guards itself.
#pragma once

#include <cstdint>

#include "foundation/kv_event.h"
#include "foundation/kv_ids.h"
#include "foundation/kv_path.h"
#include "requests/kv_filereq.h"
#include "transfers/kv_translogtrans.h"

class KV_FileMan;

class KV_FileReqTrans : public KV_FileReq
{
public:
    // `eh` is the derived class's log, a member built after this base: only
    // its address is taken here.
    explicit KV_FileReqTrans(KV_ErrHandler& eh);
    // Does not settle the request: settling reaches log_trans(), which the
    // derived class has destroyed by now. The manager settles every request
    // before it deletes it; a kind that owns its log may also call
    // set_term_status() first in its own destructor.
    ~KV_FileReqTrans() override;

    bool trans() const override;
    // The log's last error and times, the scheduled start when it lies
    // ahead, and info flag 4 for a completed request that skipped files.
    void get_info(KV_FileReqInfo& info, bool full) override;
    // The request-log window's lines: the log's.
    bool get_log(KV_FileReqLog& log) override;
    // The base's status notice, then the log's window line.
    bool req_status_changed() override;
    // A new request's log file, under a fresh name in the temporary
    // transfer folder (frame, status Queued, parameters, the kind's fields).
    // A log that has a name already (a request reloaded from its file) is
    // left as it is. False when no name can be had or the file cannot be
    // made; the manager then sets the request to Error.
    bool pre_add() override;
    // Deletes the log file and what it owns before the request goes.
    bool pre_rm() override;
    // Only a processed request: the log restarts, then the request.
    bool restart() override;
    // The log carries the request id.
    void set_id(uint32_t id) override;
    // The scheduled start of the parameters; invalid when none.
    KV_Time tm_start_susp() const override;

    // Asked by the worker after a file failed; true: skip the file and go
    // on. A skip the user asked for is taken (the flag is consumed, no
    // error counted); otherwise the file's errors are counted against the
    // file-retry limit of the transfer manager, and once it is reached the
    // result is true and `retry` false.
    virtual bool skip_err(const KV_PathDef& path, bool& retry);
    // The request's log.
    virtual KV_TransLogTrans& log_trans() const = 0;
    // The worker deleted `path`; nothing to record here.
    virtual bool file_del(const KV_PathDef& path);
    // Whether an unfinished request uses the file manager `id`; false here.
    virtual bool involved(const KV_FileManId& id) const;
    // Sends a browse notice for the request's file manager(s); nothing here.
    virtual void req_browse();
    // The user asked to skip the failing file: the next skip check says so.
    virtual void set_skip_err();
    // The flag, cleared.
    bool take_skip_err();
    // Waits the request's retry time-out before another attempt of a
    // failed step (at least a second when the request retries without
    // limit, so that a lasting failure never spins); a stop ends the wait at
    // once. False when the request is stopped. Worker thread.
    bool retry_wait();
    // The data-source types of the request's source and destination file
    // managers, for the properties view; 0 and 0 unless a kind knows them
    // (the copy request, once both its managers are set).
    virtual void ds_types(uint16_t& src, uint16_t& dst) const;

    // Both managers are there and serve the same data source (the instance
    // numbers are not compared).
    static bool same_man(const KV_FileMan* a, const KV_FileMan* b);

protected:
    // Also ends a retry wait. Overrides call this one.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    // The file-retry limit of the request's manager: the transfer manager's
    // option; 0 (no limit) for any other manager.
    uint32_t file_retries() const;

    // Guards the skip-error flag here; the kinds guard their manager
    // bindings with it.
    mutable KV_Lock lock;

private:
    uint8_t skip_err_ = 0;
    // Set by a stop; waited on between attempts.
    KV_Event retry_ev;
};
