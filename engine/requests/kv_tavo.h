// Workers and the pool manager that runs requests on them.
//
// KV_Tavo is the abstract worker: a thread that holds one connection to a
// data source and at most one request at a time. The pool manager assigns a
// request (start_req), the worker's thread runs it through the worker kind's
// process() and gives it back with its final status (end_req). The thread is
// started by the first request and, for kinds whose quit_after_req() is
// true, ends after every request and is started again by the next one.
//
// One dispatch: process() hands the request to the handler of its kind
// (KV_FileReq::run_on calls do_mkdir, do_copy ...), one virtual per kind, so
// that a new kind is a new handler that every worker kind inherits. A kind
// that a worker does not override is not supported there and fails. Every
// request then ends the same way (req_end): its outcome (req_executed), the
// error text of a failure that was not a stop, and the closing status notice
// "Ready" or "Error". Worker kinds refine the ending through req_begin,
// end_err and end_notice rather than writing their own.
//
// KV_FileManTavo is the request manager (KV_FileReqMan) that runs its
// requests on a pool of workers. Once per pass of its loop it brings the
// number of workers to the options' ntavos, and it hands every runnable
// request to the most suitable idle worker. Workers that join or leave the
// pool are reported through the manager's informer as KV_MsgTavoNtf, which
// the file manager feeds to its worker-info table on the user-interface
// thread (process_ntf).
//
// Worker ids are unique within one pool manager: given from 1 upwards, never
// 0 and never given twice while the manager lives, also not after a worker
// has been removed. Once the id space is used up no more workers are made.
//
// Ending a worker: it leaves the manager's stop children (so that a stop of
// the manager on another thread no longer reaches it), it is stopped
// (stop(KV_STOP_TERMINATE), which wakes its thread), its thread is waited
// for (wait_term) and only then is it deleted. Both the pool's shrinking and
// cleanup() follow that order; anybody else who owns a worker must too,
// since a worker kind is gone before the base destructor could wait.
//
// Threads and locks
// - The manager thread runs preprocess_req, process_req, free_tavo,
//   start_req, prestart_req and cleanup, and is the only one that adds or
//   removes workers. It walks `list_tavo` without `lock_tavo`; it takes the
//   lock around each change of the list and around the shrink walk. Other
//   threads read the pool only through ntavos() and tavo_id(), which take
//   `lock_tavo`.
// - process_ntf runs on the user-interface thread; add_req is safe from
//   there.
// - A worker's `lock` orders the hand-over of `req` between the manager
//   thread (start_req, busy) and the worker's thread (end_req). The
//   request's set_status is never called with a worker's `lock` or
//   `lock_tavo` held.
// - busy_lim() runs inside the request manager's lock_busy (and so inside a
//   request's lock): it reads an atomic copy of the worker count and takes
//   no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_stoppable.h"
#include "foundation/kv_thread.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereq.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_tavoinfo.h"

class KV_FileReqChmod;
class KV_FileReqCopy;
class KV_FileReqDTrans;
class KV_FileReqMkDir;
class KV_FileReqPwd;
class KV_FileReqRen;
class KV_FileReqRm;
class KV_FileReqScan;
class KV_FileReqTransCp;
class KV_FileReqTransRen;
class KV_FileReqTransRm;
class KV_FileReqUMan;

class KV_Tavo : public KV_Thread
{
public:
    // Idle, no thread, id 0, not adopted by a pool. `informer` receives the
    // worker kind's notices and must outlive the worker. The thread object
    // never deletes itself: its owner does.
    explicit KV_Tavo(KV_Informer& informer);
    // Leaves the manager's stop children. The owner has stopped the worker
    // and waited for its thread (wait_term) before deleting it.
    ~KV_Tavo() override;
    // A worker is a thread bound to one request and one pool.
    KV_Tavo(const KV_Tavo&) = delete;
    KV_Tavo& operator=(const KV_Tavo&) = delete;

    // --- Hand-over (manager thread) ---------------------------------------

    // Assigns `r` (not owned; null is refused with false): the request
    // becomes Running and the worker's thread is woken, or started when it
    // does not run (first request, or after a thread that ended). When the
    // thread cannot be started the request is given back at once with
    // Error and the result is false.
    bool start_req(KV_FileReq* r);
    // Gives the request back, if one is held: the worker becomes idle and
    // the request receives the final status and result value. Called by the
    // worker's thread after process(), and by start_req when the thread
    // cannot be started.
    void end_req();
    // Waits without limit until the worker has given its request back.
    // Returns at once when it is idle.
    void wait_idle();
    // For a worker whose thread is never started, owned by one thread
    // alone: runs `r` (not owned) to its end on the calling thread as the
    // worker's thread would (Running, process(), given back with the final
    // status). The result is process()'s; false for null.
    bool run_here(KV_FileReq* r);

    // --- State --------------------------------------------------------------

    uint32_t id() const { return id_.load(std::memory_order_relaxed); }
    // Version of the file manager's parameters last given to this worker.
    uint32_t params_ver() const { return params_ver_.load(std::memory_order_relaxed); }
    void set_params_ver(uint32_t ver) { params_ver_.store(ver, std::memory_order_relaxed); }
    // The pool manager whose stop and pause the worker follows (not owned).
    // Set by the pool when it adopts the worker, before it is shared.
    void set_man(KV_Stoppable* man) { man_ = man; }
    // The assigned request; null when idle. Read it on the worker's own
    // thread (in process); other threads ask busy().
    KV_FileReq* req() const { return req_; }
    KV_Informer& informer() const { return informer_; }
    // The worker has given back a request that ended (Completed, Error or
    // Cancelled): its connection is known to be set up. Kinds may clear it.
    bool used() const { return used_.load(std::memory_order_relaxed); }
    // True while the worker is idle or runs a fast request (see
    // KV_FileReq::set_fast_proc): the manager may wait for it.
    bool fast() const { return fast_.load(std::memory_order_acquire); }

    // --- Virtual operations (after those of KV_Stoppable and KV_Thread) -----

    // Records the outcome of the request just processed: its executed flag
    // is cleared unless `executed`, and the final status becomes Cancelled
    // when the request was stopped, Completed when it was executed, else
    // Error. Worker thread, from process(). Kinds call this first and may
    // then change the final status (for instance to Restarting) or clear
    // `used`.
    virtual void req_executed(bool executed);
    // The work on req(): nothing but req_executed(false) and false without
    // one; otherwise req_begin, the handler of the request's kind (skipped
    // when req_begin fails, the result then false) and req_end, whose result
    // it returns. Worker thread.
    virtual bool process();
    // True when the thread is to end after every request. False here.
    virtual bool quit_after_req() const;
    // 0 for the connection workers, 1 for the transfer worker.
    virtual uint32_t kind() const = 0;
    // Whether the worker holds a request. `r` is the request the pool wants
    // to place (null when it looks for a worker to remove); kinds may use it
    // to refine the answer. Manager thread.
    virtual bool busy(const KV_FileReq* r);
    // Stores the id; called once by the pool before the worker is shared.
    // Kinds may extend it.
    virtual void set_id(uint32_t id);

    // --- Handlers, one per request kind -------------------------------------
    //
    // Each runs `r` (the assigned request) and returns false when it could
    // not be carried out; a failure of the operation itself clears r's
    // executed flag instead. Reached through process() only, on the worker
    // thread. Here each is not supported: see not_supported().
    virtual bool do_mkdir(KV_FileReqMkDir& r);
    virtual bool do_ren(KV_FileReqRen& r);
    virtual bool do_chmod(KV_FileReqChmod& r);
    virtual bool do_pwd(KV_FileReqPwd& r);
    virtual bool do_rm(KV_FileReqRm& r);
    virtual bool do_scan(KV_FileReqScan& r);
    virtual bool do_copy(KV_FileReqCopy& r);
    virtual bool do_uman(KV_FileReqUMan& r);
    virtual bool do_dtrans(KV_FileReqDTrans& r);
    virtual bool do_trans_cp(KV_FileReqTransCp& r);
    virtual bool do_trans_ren(KV_FileReqTransRen& r);
    virtual bool do_trans_rm(KV_FileReqTransRm& r);

protected:
    // Wakes a thread that waits for work, so that it sees the stop. With the
    // worker's stoppable lock held.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    // The thread body: waits for work, runs each assigned request through
    // process() and gives it back, until the worker is stopped or must quit.
    bool run() override;

    // --- The parts of process() that kinds refine (worker thread) ----------

    // Before the handler; false skips it and the request fails. True here.
    virtual bool req_begin(KV_FileReq& r);
    // The ending: req_executed(result); for a request neither executed nor
    // stopped the error text end_err(r) (else an empty one), stored as r's
    // error message unless the final status leaves it pending (Restarting);
    // then end_notice. Returns `result`.
    virtual bool req_end(KV_FileReq& r, bool result);
    // The reason of a failure that was not a stop, for the request's error
    // message and the closing notice. Empty here.
    virtual KV_String end_err(KV_FileReq& r);
    // The closing status notice: "Ready" when r was executed, else "Error",
    // with `err` as its second text.
    virtual void end_notice(const KV_FileReq& r, const KV_String& err);
    // The outcome of a kind this worker does not run: false, with no text of
    // its own (the ending adds the worker's usual error text). Every handler
    // here returns it.
    static bool not_supported();

    // For kinds: the status the request receives when it is given back
    // (Error at each assignment) and the value passed with it to the
    // request's observer (0 at each assignment). Worker thread.
    KV_REQ_STAT final_status() const { return final_status_; }
    void set_final_status(KV_REQ_STAT stat) { final_status_ = stat; }
    uint32_t result_value() const { return result_value_; }
    void set_result_value(uint32_t value) { result_value_ = value; }
    void set_used(bool b) { used_.store(b, std::memory_order_relaxed); }

private:
    // Gives the request back; with `thread_ends`, also records in the same
    // locked step that the thread will take no more work.
    void give_back(bool thread_ends);

    // Guards req_, quit, thread_live and the hand-over of the two events.
    KV_Lock lock;
    // Auto reset: a request was assigned, or the worker was stopped.
    KV_Event ev_start;
    // Manual reset: not signalled from assignment until the request is given
    // back.
    KV_Event ev_idle;
    std::atomic<bool> fast_{false};
    // The thread ends after the current request. Guarded by `lock`.
    bool quit = false;
    // The thread runs and will still take an assigned request: set by
    // start_req when it starts the thread, cleared by the thread in its last
    // locked step. Guarded by `lock`. A thread that has cleared it may still
    // be returning from run(); start_req waits for that before starting a
    // new one.
    bool thread_live = false;
    std::atomic<uint32_t> id_{0};
    std::atomic<uint32_t> params_ver_{0};
    KV_Stoppable* man_ = nullptr;
    // Not owned. Written under `lock`; read by the worker's own thread.
    KV_FileReq* req_ = nullptr;
    KV_Informer& informer_;
    // Written by the manager thread at assignment, then by the worker thread
    // until it gives the request back.
    KV_REQ_STAT final_status_ = KV_REQ_STAT_ERROR;
    uint32_t result_value_ = 0;
    std::atomic<bool> used_{false};
};

class KV_FileManTavo : public KV_FileReqMan
{
public:
    // No workers; the first pass of the loop creates them.
    KV_FileManTavo();
    // terminate() (which stops the thread and ends and deletes every worker
    // through cleanup), then the members.
    ~KV_FileManTavo() override;
    KV_FileManTavo(const KV_FileManTavo&) = delete;
    KV_FileManTavo& operator=(const KV_FileManTavo&) = delete;

    // The number of workers. Any thread.
    uint32_t ntavos() const;
    // The worker-info table. User-interface thread.
    KV_TavoInfoMan& man_tavo_info() { return tavo_info; }
    // The id of the worker at `index` (creation order), 0 when there is no
    // such worker; when it exists and `running` is given, whether its thread
    // runs. Any thread.
    uint32_t tavo_id(uint32_t index, bool* running = nullptr) const;

    // --- Overrides of KV_FileReqMan ------------------------------------------

    // The base pass, then the pool is brought to the options' ntavos: idle
    // workers are removed (the first idle one in creation order first; busy
    // ones never), new ones are created and announced ("Ready"), followed by
    // one "worker set changed" notice when any was added. False, with
    // nothing started in that pass, when the base pass fails or a worker
    // cannot be made.
    bool preprocess_req() override;
    // Starts runnable requests of status `stat`, one per suitable idle
    // worker. A request that no worker of the pool may ever run (its
    // spec_tavo names a missing worker) ends Cancelled. Nothing while the
    // manager is stopped.
    bool process_req(KV_REQ_STAT stat) override;
    // 2 x the number of workers.
    uint32_t busy_lim() const override;
    // Stops every worker, waits for its thread and deletes it. Sends no
    // notice. True.
    bool cleanup() override;

    // --- New virtual operations -----------------------------------------------

    // A new worker of the manager's kind, owned by the caller; null when
    // none can be made. Manager thread.
    virtual KV_Tavo* create_tavo() = 0;
    // Called just before `t` receives a request; nothing here. File managers
    // hand it their current parameters when its params_ver is older.
    // Manager thread.
    virtual void prestart_req(KV_Tavo* t);

protected:
    // The idle worker that should run `r`: the first idle used one in
    // creation order, else the first idle one; null when none. `wait` tells
    // whether some worker could run `r` later; when it is false no worker
    // ever can. With `restarting`, a search that finds only busy, unused
    // workers is made once more. May wait for a busy worker that runs a fast
    // request. Manager thread.
    KV_Tavo* free_tavo(const KV_FileReq* r, bool restarting, bool& wait);
    // prestart_req and the worker's start_req; false when either is null or
    // the start fails; true, starting nothing, while the manager is stopped.
    // Manager thread.
    bool start_req(KV_Tavo* t, KV_FileReq* r);
    // Feeds `msg` to the worker-info table and queues a Keep alive request
    // for the worker named by a keep-alive session log line. The message
    // stays the caller's. User-interface thread.
    bool process_ntf(const KV_Msg* msg);

    // The last worker id given; 0 before the first. Manager thread; derived
    // classes only read it (tests may preset it).
    uint32_t next_id = 0;

private:
    // Whether a worker has this id. Manager thread.
    bool id_exists(uint32_t id) const;
    // The next unused id, above every id given so far; 0 when the id space
    // is used up.
    uint32_t new_id();
    // Sends a worker notice through the manager's informer.
    void send_ntf(KV_TAVO_NTF ntf, uint32_t id, const KV_String& text);
    // Takes `t` out of the stop children, stops it, waits for its thread
    // and deletes it.
    void end_tavo(KV_Tavo* t);

    // Guards list_tavo against readers on other threads.
    mutable KV_Lock lock_tavo;
    // The workers in creation order; owned (the list never deletes them).
    KVTL::KV_ListPtr<KV_Tavo> list_tavo;
    // list_tavo.size(), for readers that must not take lock_tavo.
    std::atomic<uint32_t> count_tavo{0};
    // Set once the last id (0xFFFFFFFF) has been given.
    bool ids_used_up = false;
    KV_TavoInfoMan tavo_info;
};
