// The request log of a transfer request: the request's recorded status, its
// parameters and its messages, and the feed of the request-log window.
//
// This is the part of the log that the request engine relies on (the
// transfer request base and the request tasks). It keeps its records in
// memory; the log file with its in-place rewrites is not part of it yet, so
// every write "succeeds" once the record is held.
//
// The log is also the request's error handler: every error the request
// reports becomes a message, and errors of priority 2 go on to the outer
// handler (set_eh).
//
// Threads: every public operation takes the log's lock for its whole
// duration (the worker, the transfer manager's thread and the user interface
// use a log at once). The id of the log that the request-log window shows
// (id_log) has its own static lock, taken inside the log's lock, never the
// other way round.
#pragma once

#include <cstdint>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"
#include "requests/kv_reqdefs.h"
#include "transfers/kv_filereqtransparams.h"

class KV_FileReqLog;

class KV_TransLogTrans : public KV_ErrHandler
{
public:
    // Holds a clone of `params`; status Queued, no messages, id 0.
    explicit KV_TransLogTrans(const KV_FileReqTransParams& params);
    KV_TransLogTrans(const KV_TransLogTrans&) = delete;
    KV_TransLogTrans& operator=(const KV_TransLogTrans&) = delete;
    ~KV_TransLogTrans() override;

    void set_id(uint32_t id);
    uint32_t id() const;
    // The outer handler (not owned, may be null).
    void set_eh(KV_ErrHandler* eh);

    // Records the request status; true when it already had that value or
    // was recorded.
    bool set_req_status(KV_REQ_STAT status);
    KV_REQ_STAT req_status() const;
    // Tells the request-log window of a status change when it shows this
    // log. Always true.
    bool req_status_changed(KV_REQ_STAT status, const char* text);

    // Replaces the parameters held by the log with a copy of `params`.
    // False when the copy cannot be made (the old ones stay).
    bool set_trans_params(const KV_FileReqTransParams& params);
    // A clone of the parameters, owned by the caller (freed with
    // KV_FileReqTransParams::destr_clone); null when none can be made.
    KV_FileReqTransParams* clone_params() const;
    // Copies of the parameters' times.
    KV_Time tm_start() const;
    KV_Time tm_started() const;

    // Appends a message (level 0 plain, 1 and 2 errors); a message equal to
    // the newest one of the same level counts that one again. False when
    // memory cannot be had.
    bool add_msg(const KV_String& text, uint8_t level);
    // The text of the first error among the three newest messages; empty
    // when none.
    KV_String last_err() const;
    // The number of message records (repeats counted once).
    uint32_t nmsgs() const;

    // Makes `id` the log shown by the request-log window, clears `log` and
    // fills it with the message lines. False when a line cannot be added.
    bool get_log(uint32_t id, KV_FileReqLog& log);
    // Whether some item of the request was skipped; false here.
    virtual bool some_skipped();
    // Forgets the records and starts again with status Queued.
    virtual bool restart();
    // Forgets the records; the window stops showing this log.
    virtual void del_log();

    // The request id whose log the request-log window shows; 0 for none.
    static uint32_t id_log();
    static void set_id_log(uint32_t id);

protected:
    // Records the error and forwards priority 2 to the outer handler.
    void process_err(uint8_t prio, const KV_String& text) override;

private:
    struct Msg
    {
        KV_String text;
        uint8_t level = 0;
        uint32_t count = 0;
        uint32_t seq = 0;
        KV_Time time;
        bool operator==(const Msg& other) const { return seq == other.seq; }
    };

    bool log_this() const;

    mutable KV_Lock lock;
    uint32_t id_ = 0;
    KV_ErrHandler* eh_ = nullptr;
    KV_REQ_STAT status_ = KV_REQ_STAT_QUEUED;
    KV_FileReqTransParams* params_ = nullptr;
    KVTL::KV_ListVal<Msg> msgs;
    uint32_t last_seq = 0;
};
