// The request base class: one operation that a request manager queues,
// schedules on a worker and finally deletes.
//
// A caller builds a request, hands it to KV_FileReqMan::add_req (which takes
// ownership in every case) and from then on reaches it only through tasks
// (kv_filereqtask.h) or, when it waits for the end, through an observer
// (KV_FileReqObs). The manager owns the request and is the only one that
// deletes it.
//
// Status machine (set_status is the only way the status changes):
//   Queued/Suspended --worker--> Running <-> Paused
//   Running/Paused --worker--> Completed | Error | Cancelled | Restarting
//   Restarting --worker, once tm_start_rest has passed--> Running
//   Suspended --manager, once tm_start_susp has passed--> Queued
//   Completed/Error/Cancelled --restart()--> Queued or Suspended
//   any pending --destruction--> Error
// Completed, Error and Cancelled are terminal ("processed"): a processed
// request changes only through restart() (set_status with force).
//
// Ending and destruction
// - When a request becomes terminal, set_status runs req_processed, and then,
//   after the request's lock is released, leaves its stop parent and signals
//   its observer. Leaving the parent outside the lock matters: a parent's
//   pause walks its children under the parent's stoppable lock and takes
//   each child's lock (pause_done); a child that took the parent's lock while
//   holding its own would deadlock with it.
// - Every terminal change runs under `lock_end` from start to finish, and
//   settling (set_term_status) takes it too, so a request is never deleted
//   while another thread is still ending it.
// - The owner settles the request before deleting it: KV_FileReqMan calls
//   set_term_status() while the whole object still exists, so the Error
//   status, the hooks and the last notices run with every override in place.
//   A concrete class may also call set_term_status() first in its destructor
//   (it runs once); the base destructor only releases what is left and never
//   calls a virtual operation.
// - A request destroyed while set_no_term keeps it from ending still leaves
//   its stop parent, is counted out of the manager's busy count and releases
//   its observer (with status Error): otherwise the parent would keep a
//   dangling child and the waiter would wait for ever.
//
// Threads
// - set_status, start_susp, restart and the accessors may be called from any
//   thread; hooks (req_processed, req_status_changed, the manager's
//   req_status_changed) run inside `lock` and must not call set_status,
//   restart or set_no_term of the same request, nor its stopped() or
//   paused(): a pause holds the stoppable lock while it waits for `lock`.
//   executed() is safe there.
// - `lock` guards the status transition, `term`, `obs`, `stop_parent` and the
//   busy-count flag. Fields read by other threads without it are atomic.
// - `lock_msg` guards `err_msg` alone, so that hooks may read and set it.
// - Lock order: a request's `lock_end`, then its stoppable lock or `lock`,
//   then the manager's `lock_busy`; `lock` is never held while the stop
//   parent's lock is taken.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"
#include "foundation/kvtl.h"

class KV_FileReqMan;
class KV_FileReqObs;
class KV_FileReqInfo;
class KV_FileReqLog;
class KV_Informer;
class KV_Msg;
class KV_PathDef;
class KV_PathMan;
class KV_Tavo;

class KV_FileReq : public KV_Stoppable
{
public:
    // Queued, no progress, no errors, bound to nothing. `eh` receives the
    // errors of the request's operation and must outlive the request.
    explicit KV_FileReq(KV_ErrHandler& eh);
    // Copies the values (id, status, progress, error count, restart time,
    // flags, error text, handler) but none of the bindings: the copy has no
    // manager, stop parent or observer, since those belong to the original
    // (a copy that signalled the original's observer or left its parent
    // would corrupt them).
    KV_FileReq(const KV_FileReq& other);
    KV_FileReq& operator=(const KV_FileReq&) = delete;
    // Releases what settling left (see above); calls no virtual operation.
    ~KV_FileReq() override;

    // --- Status texts and classes -----------------------------------------

    // The text of a status and, when the pointers are given, its traffic
    // light and additional-result indicator (both set to 0 first). Completed
    // reads "Completed" when `tl` is given and "Ready" otherwise; the resume
    // value 3 and unknown values read "Error".
    static const char* status_str(KV_REQ_STAT stat, KV_REQ_TL* tl = nullptr,
                                  KV_REQ_ADD* add = nullptr);
    const char* status_str(KV_REQ_TL* tl = nullptr, KV_REQ_ADD* add = nullptr) const
    {
        return status_str(status(), tl, add);
    }
    // Completed, Error or Cancelled.
    static bool processed(KV_REQ_STAT stat);
    bool processed() const { return processed(status()); }
    // Running or Paused.
    static bool running(KV_REQ_STAT stat);
    bool running() const { return running(status()); }
    bool cancelled() const { return status() == KV_REQ_STAT_CANCELLED; }
    bool suspended() const { return status() == KV_REQ_STAT_SUSPENDED; }
    bool restarting() const { return status() == KV_REQ_STAT_RESTARTING; }

    // --- Binding and status -----------------------------------------------

    // Called by KV_FileReqMan::add_req before the request is queued, on the
    // adding thread: stores manager, stop parent and observer; calls
    // req_started unless `susp`; tells the observer the current status
    // without signalling and resets it (a waiter then blocks until the end);
    // registers with the stop parent; sends the initialized notice.
    void set_data(KV_FileReqMan* man, KV_Stoppable* stop_parent, KV_FileReqObs* obs, bool susp);

    // The only way the status changes; any thread. `term` sets the term flag
    // again; `force` lets a processed request change (restart). Paused is
    // accepted only from Running, the resume value 3 only from Paused (it
    // becomes Running). A terminal status is refused while the term flag is
    // clear; any change of a processed request is refused without `force`.
    // Refusals are silent. On a terminal status: req_processed, a Cancelled
    // request is marked for deletion when the manager's rule says so, the
    // stop parent is left and the observer told `stat` and `value`.
    // Notifies the user interface and the manager's busy count.
    void set_status(KV_REQ_STAT stat, bool term, uint32_t value, bool force);
    // A Suspended request whose time has come: req_started, then Queued.
    // Manager thread.
    void start_susp(bool term);
    // A Restarting request may run now. Manager thread.
    void start_rest();

    // Whether a worker may take the request for `stat` (Queued or
    // Restarting): never while Suspended; only in that status; a Restarting
    // request only once its restart time has passed (start_rest).
    bool can_process(KV_REQ_STAT stat) const;

    // --- Plain setters ----------------------------------------------------

    void reset_err_cnt();
    void set_err_msg(const KV_String& msg);
    void set_fast_proc() { fast_proc_.store(1, std::memory_order_relaxed); }
    // Set by the adder before add_req: whether the request counts in its
    // manager's busy count.
    void set_busy_reg(bool b) { busy_reg_.store(b ? 1 : 0, std::memory_order_relaxed); }
    void set_dupl_found(bool b) { dupl_found_.store(b ? 1 : 0, std::memory_order_relaxed); }
    // Terminal statuses are refused until set_status(..., term true, ...).
    void set_no_term();
    // executed := executed and b: it can only be cleared.
    void set_executed(bool b);
    // With `ask` false: del_forced := value. With `ask` true: only when the
    // request has a manager whose auto_rm says so for the request's own
    // status and `at_start`.
    void set_del_forced(bool value, bool ask, bool at_start);

    // --- Accessors (any thread) -------------------------------------------

    uint32_t id() const { return id_; }
    KV_REQ_STAT status() const
    {
        return static_cast<KV_REQ_STAT>(status_.load(std::memory_order_acquire));
    }
    // Percent; KV_FileReqInfo::PROG_UNKNOWN when not known.
    int32_t prog_perc() const { return prog_perc_.load(std::memory_order_relaxed); }
    uint32_t err_cnt() const { return err_cnt_.load(std::memory_order_relaxed); }
    KV_ErrHandler& eh() const { return eh_; }
    // Invalid: a Restarting request may run now.
    KV_Time tm_start_rest() const
    {
        return KV_Time(static_cast<long>(tm_start_rest_.load(std::memory_order_relaxed)));
    }
    bool fast_proc() const { return fast_proc_.load(std::memory_order_relaxed) != 0; }
    bool del_forced() const { return del_forced_.load(std::memory_order_relaxed) != 0; }
    bool dupl_found() const { return dupl_found_.load(std::memory_order_relaxed) != 0; }
    bool busy_reg() const { return busy_reg_.load(std::memory_order_relaxed) != 0; }
    // The executed flag, false while the request is stopped. Reads the stop
    // as recorded by stop_done, without the stoppable lock, so hooks inside
    // set_status may ask it while a pause walks the request.
    bool executed() const;
    // KV_Stoppable::stop_reset, and the recorded stop is forgotten too.
    void stop_reset();
    // A copy of the last error text.
    KV_String err_msg() const;
    // The manager that owns the request; null before add_req.
    KV_FileReqMan* man() const { return man_; }
    // The manager's case sensitivity; false without a manager.
    bool case_sens() const;
    // The manager's informer; null without a manager.
    KV_Informer* informer() const;
    // Seconds before a Restarting request may run again: the manager's
    // options (default options without a manager).
    uint32_t rest_wait() const;
    // 2 for a request that is not a transfer and has an observer; otherwise
    // the retry limit of the manager's options; 0 means no limit.
    uint32_t max_err_cnt() const;

    // Queue order, for the manager's sorted list: higher priority first,
    // then smaller cmp_id. False for null.
    bool operator<(const KV_FileReq* other) const;
    // Same place in the queue: equal priority and cmp_id. False for null.
    // (A kind that overrides operator==(const KV_FileReq&) hides this form
    // in its own scope; the queue works on KV_FileReq pointers.)
    bool operator==(const KV_FileReq* other) const;

    // --- Virtual operations (after stop_done and pause_done) ----------------

    // Hook: the request enters the queue to run (set_data, start_susp).
    virtual bool req_started();
    // Hook: the status has just become terminal. Inside `lock`.
    virtual bool req_processed();
    // Sends the initialized notice.
    virtual bool req_initialized();
    // Sends the status-changed notice. Inside `lock` when called by
    // set_status.
    virtual bool req_status_changed();
    virtual bool req_err_cnt_changed();
    virtual bool req_prog_perc_changed();
    // The second key of the queue order; the id here.
    virtual uint32_t cmp_id() const;
    // True when `other` duplicates this pending request (asked by the manager
    // when a new request with dupl_check arrives).
    virtual bool operator==(const KV_FileReq& other) const = 0;
    // The operation name (a constant text, compared by address) and, in
    // `descr`, the description.
    virtual const char* get_descr(KV_String& descr, bool full) const = 0;
    virtual KV_REQ_TYPE type() const = 0;
    // Runs the request on `t` through the worker's handler of this kind
    // (KV_Tavo::do_mkdir and its siblings) and returns the handler's result.
    // A new kind overrides it with a call of its own handler. Worker thread,
    // from KV_Tavo::process.
    virtual bool run_on(KV_Tavo& t) = 0;
    virtual KV_REQ_PRIO priority() const;
    // 0: any worker may run the request; else the id of the one that must.
    virtual uint32_t spec_tavo() const;
    // Whether the manager looks for a duplicate before queueing.
    virtual bool dupl_check() const;
    // The request's log lines for the request-log window; adds nothing here.
    virtual bool get_log(KV_FileReqLog& log);
    // Last check on the manager thread before queueing; false sets Error.
    virtual bool pre_add();
    // Called on the manager thread before a processed request is deleted.
    virtual bool pre_rm();
    // True when the request needs a second free worker.
    virtual bool one_free() const;
    // True for the transfer requests (KV_FileReqTrans).
    virtual bool trans() const;
    // Whether a reloaded request resumes; leaves `out` unchanged here.
    virtual bool resume(bool& out);
    // When true no notice is sent for the request.
    virtual bool hidden() const;
    // Counted against a limit of the manager when true.
    virtual bool cnt_limit() const;
    // Counts a failed attempt (the count saturates, never wraps) and says
    // whether another attempt is allowed.
    virtual bool can_retry();
    // Only a processed request restarts: progress, errors, flags and the
    // stop state are reset and the request becomes Suspended (when
    // tm_start_susp is valid) or Queued. Result: whether it was processed.
    virtual bool restart();
    // executed := 1 and the error text cleared, before a run.
    virtual void reset_executed();
    // Fills a snapshot through KV_FileReqInfo::init.
    virtual void get_info(KV_FileReqInfo& info, bool full);
    virtual void set_id(uint32_t id);
    // The time until which a Suspended request waits; invalid here (never
    // suspended by time).
    virtual KV_Time tm_start_susp() const;

protected:
    // Sends a browse-tree message through the informer of `r`'s manager;
    // without a manager the message is dropped.
    static void send_tree(const KV_FileReq& r, KV_Msg* msg);
    // "a -> b" from two built paths; `descr` is left as it is unless both
    // build.
    static void descr_pair(KV_String& descr, const KV_PathMan& man_a, const KV_PathDef& a,
                           const KV_PathMan& man_b, const KV_PathDef& b);

    // Records the stop for executed() and wakes the manager, so that a
    // stopped request that is not running is cancelled at the next pass.
    // Runs under the stoppable lock. Overrides call this one.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    // Paused (2) or resumed (3).
    void pause_done(bool paused) override;

    void set_prog_perc(int32_t perc);

    // The file-list part of a description: at most 3 names unless `full`,
    // joined with ", " (with CR LF in front of every tenth name when full),
    // each followed by " -> " and its new name where that differs, "..." when
    // names were left out, and the whole put in " [" "]" unless `full`.
    static KV_String descr_files(const KVTL::KV_ListVal<KV_String>& names, bool full,
                                 const KVTL::KV_ListVal<KV_String>& new_names);

    // Settles the request before destruction: Error unless it is processed
    // or kept from ending, the ended notice, and the release of its
    // bindings. Runs once; later calls do nothing. Called by the manager
    // before it deletes a request and, optionally, first by concrete
    // destructors.
    void set_term_status();

private:
    friend class KV_FileReqMan;

    // Sends a KV_MsgReqNtf of `ntf` (with a snapshot unless it is the ended
    // notice) through the informer of the request: the engine root's for
    // transfers, the manager's for the others.
    void send_ntf(KV_REQ_NTF ntf);
    KV_Informer* ntf_informer() const;
    // set_status without lock_end (the caller holds it for a terminal
    // status).
    void change_status(KV_REQ_STAT stat, bool term, uint32_t value, bool force);
    // The part of ending that needs no virtual operation: leave the stop
    // parent, count out of the busy count (without the manager's hook),
    // release the observer with `obs_stat` and `value`.
    void release_bindings(KV_REQ_STAT obs_stat, uint32_t value);

    uint32_t id_ = 0;
    KV_ErrHandler& eh_;
    std::atomic<uint32_t> status_{KV_REQ_STAT_QUEUED};
    std::atomic<int32_t> prog_perc_{0x7FFFFFFF};
    std::atomic<uint32_t> err_cnt_{0};
    // KV_Time value; -1 invalid.
    std::atomic<int32_t> tm_start_rest_{-1};
    // Guarded by `lock`.
    KV_FileReqObs* obs_ = nullptr;
    std::atomic<uint8_t> inform_{1};
    std::atomic<uint8_t> busy_reg_{1};
    std::atomic<uint8_t> executed_{0};
    std::atomic<uint8_t> fast_proc_{0};
    // Guarded by `lock`.
    uint8_t term_ = 1;
    std::atomic<uint8_t> del_forced_{0};
    std::atomic<uint8_t> dupl_found_{0};
    // A stop of at least cancel was recorded (stop_done; cleared by
    // stop_reset). executed() reads it: the stoppable lock would deadlock a
    // hook running inside `lock` against a pause walking the request, which
    // holds the stoppable lock and waits for `lock`.
    std::atomic<uint8_t> stop_seen_{0};
    // Guarded by `lock`: the request is counted in its manager's busy count.
    uint8_t busy_cnt_ = 0;
    // Set once settled (set_term_status ran); guarded by `lock_end`.
    uint8_t settled_ = 0;
    // Held across every terminal change and the settling.
    mutable KV_Lock lock_end;
    mutable KV_Lock lock;
    // Set by set_data on the adding thread before the request is shared.
    KV_FileReqMan* man_ = nullptr;
    // Guarded by `lock`.
    KV_Stoppable* stop_parent_ = nullptr;
    mutable KV_Lock lock_msg;
    KV_String err_msg_;
};
