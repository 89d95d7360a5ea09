// The request manager: one thread that owns a queue of requests.
//
// Other threads hand it requests (add_req, which takes ownership) and
// commands about queued requests (add_task, which queues a clone). The
// manager thread takes both in at every pass of its loop, removes
// duplicates, cancels what was stopped, wakes suspended and restarting
// requests when their time has come, deletes finished requests and hands the
// runnable ones to the derived class (process_req), which runs them on its
// workers. Every file manager and the transfer manager are request managers.
//
// Threads and locks
// - The manager thread runs run() and everything it calls; `list_req` is
//   touched only by it (and by clear_req once the thread has ended).
// - Any thread may call add_req, add_task, req_proc, lock, unlock, lock_cnt,
//   set_inf_all_proc, all_proc, dead, wait_nbusy.
// - lock_req guards list_req_add, id_last and the count of adds in flight;
//   lock_task guards list_task; lock_busy guards nbusy, ev_nbusy and the busy
//   limit check; lock_lcnt the two lock counts; lock_all all_proc; lock_dead
//   dead. All of them are leaves except lock_req, inside which only
//   lock_dead is taken. No request's lock is taken under lock_req or
//   lock_task: batches are moved out under the lock and worked outside, so a
//   request hook that adds a request to this same manager cannot deadlock.
// - A request's lock is taken before lock_busy (KV_FileReq::set_status calls
//   req_status_upd). The virtual req_status_changed(r, queued) and busy_lim()
//   therefore run inside a request's lock and lock_busy: they must not call
//   set_status of a request nor block.
// - No lock is held while the loop waits.
//
// Stopping. A stop (terminate, or the engine root) wakes the loop and every
// wait_nbusy; the next pass stops every queued request with terminate,
// cancels those not running and deletes every processed one. The loop ends
// once both lists are empty. Requests are not registered as stop children of
// their manager: the pass reaches them all, and a child list of the whole
// queue would make every add and every end of a request linear in the queue
// length.
//
// Destruction. Every derived destructor calls terminate() first, while its
// own overrides still exist; the base destructor calls it again (a no-op by
// then).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "datasources/kv_reqdefs.h"
#include "datasources/kv_reqmanopts.h"
#include "foundation/kv_event.h"
#include "foundation/kv_informer.h"
#include "foundation/kv_path.h"
#include "foundation/kv_thread.h"
#include "foundation/kvtl.h"
#include "requests/kv_filereq.h"

class KV_FileReqTask;
class KV_FileReqObs;
class KV_FileManPool;

// A pointer list with the bulk steps that keep one pass of the manager
// linear in the queue length: growth in proportion to the size (a fixed step
// of 256 would copy the whole array every 256 additions), removal of a
// prefix and of every element matching a predicate in one sweep. `L` is a
// KVTL pointer list of `T*`.
template <class L, class T> class KV_FileReqManList : public L
{
public:
    KV_FileReqManList() { L::set_grow(256); }

    bool add(T* const& e) override
    {
        adapt_grow();
        if constexpr (std::is_base_of_v<KVTL::KV_ListValSrt<T*>, L>) {
            // Requests mostly arrive in queue order (rising ids at one
            // priority): one comparison with the last element spares the
            // halving search and its cache misses. Equal elements stay
            // before the new one, as a sorted add keeps them.
            if (this->count_ != 0 && !this->less(e, this->data_[this->count_ - 1]))
                return L::insert(this->count_, e);
        }
        return L::add(e);
    }
    bool insert(uint32_t pos, T* const& e) override
    {
        adapt_grow();
        return L::insert(pos, e);
    }
    bool remove_at(uint32_t pos) override
    {
        adapt_grow();
        return L::remove_at(pos);
    }

    // Removes the first n elements (all when n >= size()).
    void remove_first(uint32_t n)
    {
        if (n >= this->count_) {
            this->clear();
            return;
        }
        std::move(this->data_ + n, this->data_ + this->count_, this->data_);
        this->count_ -= n;
        shrink();
    }

    // Moves every element for which pred(e) holds to `out` (appended, in
    // list order), keeping the order of the others. An element that `out`
    // cannot take stays. Returns the number moved.
    template <class Pred, class Out> uint32_t remove_if(Pred pred, Out& out)
    {
        uint32_t kept = 0;
        for (uint32_t i = 0; i < this->count_; ++i) {
            T* e = this->data_[i];
            if (pred(e) && out.add(e))
                continue;
            this->data_[kept++] = e;
        }
        const uint32_t removed = this->count_ - kept;
        this->count_ = kept;
        if (removed != 0)
            shrink();
        return removed;
    }

    // Exchanges the contents with `other`.
    void swap(KV_FileReqManList& other)
    {
        std::swap(this->data_, other.data_);
        std::swap(this->count_, other.count_);
        std::swap(this->capacity_, other.capacity_);
        std::swap(this->grow_, other.grow_);
    }

private:
    void adapt_grow()
    {
        const uint32_t step = this->count_ / 2;
        L::set_grow(step > 256 ? step : 256);
    }

    void shrink()
    {
        adapt_grow();
        if (this->count_ == 0)
            this->clear();
        else if (static_cast<uint64_t>(this->count_) + this->grow_ < this->capacity_)
            this->reserve(0);
    }
};

class KV_FileReqMan : public KV_Thread
{
public:
    // Not running; automatic deletion off (the owner deletes the manager).
    KV_FileReqMan();
    KV_FileReqMan(const KV_FileReqMan&) = delete;
    KV_FileReqMan& operator=(const KV_FileReqMan&) = delete;
    // terminate(), then the members.
    ~KV_FileReqMan() override;

    // --- Requests and tasks (any thread) ----------------------------------

    // Takes ownership of `r` in every case; on failure `r` has been settled
    // (it ends as Error, tells its observer and reports its end) and deleted.
    // With a parent, first waits while the parent is paused. Gives the next
    // id, binds the request (stop parent: `parent`; observer: `obs`), sets
    // `stat` (0 Queued or 4 Suspended) and queues it for the next pass.
    // False for null, and when the manager is dead, its loop has ended after
    // a stop, or it has been terminated.
    bool add_req(KV_FileReq* r, KV_FileReq* parent, KV_FileReqObs* obs, KV_REQ_STAT stat);
    // Queues a clone of `t` (the caller keeps `t`) and wakes the loop. False
    // when the manager is stopped or the clone cannot be made or queued.
    bool add_task(const KV_FileReqTask& t);
    // Wakes the loop.
    void req_proc() { ev_req.set(); }

    // Counted holds on the manager; `by_req` for holds of requests. unlock
    // never goes below 0, wakes wait_term and calls unlocked().
    void lock(bool by_req);
    void unlock(bool by_req);
    // The number of holds; the number of request holds into *nreq.
    uint32_t lock_cnt(uint32_t* nreq = nullptr) const;

    // Waits without limit while more counted requests are pending than the
    // busy limit allows (returns at once without a limit and once stopped).
    void wait_nbusy();

    // stop(terminate), clear_req(), cleanup(). Any thread but the manager's.
    void terminate();
    // Waits for the thread (wait_term), then deletes every request of both
    // lists (each reports its end) and every queued task. From then on
    // add_req refuses. Any thread but the manager's.
    void clear_req();

    // KV_Thread::wait_term, then waits until nobody holds the manager.
    void wait_term() override;

    // --- State --------------------------------------------------------------

    KV_Informer& informer() { return informer_; }
    // The path syntax of the options.
    KV_PathMan man_path() const;
    bool case_sens() const { return case_sens_.load(std::memory_order_relaxed) != 0; }
    bool pwd_done() const { return pwd_done_.load(std::memory_order_relaxed) != 0; }
    void set_pwd_done(bool b) { pwd_done_.store(b ? 1 : 0, std::memory_order_relaxed); }
    bool inf_all_proc() const { return inf_all_proc_.load(std::memory_order_relaxed) != 0; }
    // With true the next pass reports at once when everything is processed.
    void set_inf_all_proc(bool b);
    // Every request in the queue was processed at the end of the last pass.
    bool all_proc() const;
    // The manager takes no more requests. `locked`: read under lock_dead.
    bool dead(bool locked = true) const;
    // Requests added and not yet taken in. Read it only while the manager
    // thread is not running (before start, as the transfer manager does
    // after loading its saved requests); the thread empties it at each pass.
    const KVTL::KV_ListPtr<KV_FileReq>& list_req_add() const { return list_req_add_; }
    // The number of counted pending requests.
    uint32_t nbusy() const;

    // The engine root (null when none is registered), for the layers above
    // this one; those below use kv_root_informer(). The root registers itself
    // when constructed and unregisters when destroyed.
    static void set_pool(KV_FileManPool* pool);
    static KV_FileManPool* pool();

    // --- Virtual operations (after those of KV_Stoppable and KV_Thread) ---

    // One pass of bookkeeping: intake, stops, tasks, time pass, all_proc.
    virtual bool preprocess_req();
    // Starts the runnable requests of status `stat`; nothing here.
    virtual bool process_req(KV_REQ_STAT stat);
    // Whether a processed request with status *stat (any processed request
    // when null) is deleted at once; `at_start` asks for the removal at the
    // program's start. True here.
    virtual bool auto_rm(const KV_REQ_STAT* stat, bool at_start) const;
    // A new request duplicates pending request `r`, which is not Queued.
    virtual void dupl_start(KV_FileReq* r);
    // Called by unlock.
    virtual void unlocked();
    // Called after each intake while the manager is not stopped.
    virtual void req_list_updated();
    // A counted request was queued (true) or processed (false). Inside the
    // request's lock and lock_busy.
    virtual void req_status_changed(const KV_FileReq* r, bool queued);
    // The most counted pending requests before wait_nbusy blocks; 0 means no
    // limit. Inside lock_busy.
    virtual uint32_t busy_lim() const;
    // The manager's options, by value. Any thread.
    virtual KV_FileReqManOpts opts() const = 0;
    // Called when the loop ends and by terminate.
    virtual bool cleanup();
    // True for the transfer manager.
    virtual bool trans() const;
    virtual void initialized();

protected:
    // Wakes the loop and every wait_nbusy.
    void stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold) override;
    bool run() override;

    // One turn of the loop without its wait: preprocess_req, the deletion
    // of finished requests, process_req for Restarting and then Queued
    // requests. A false step ends the turn early. Manager thread (or, before
    // the thread is started, the one thread that drives the manager).
    bool pass();
    // Reads the case sensitivity from the options. Call once the options
    // are set.
    bool init();
    // Ends the current pass's wait after at most `ms` (capped at one hour).
    // Manager thread.
    void set_wait_int(uint32_t ms);
    // The wait that the loop will use next; KV_WAIT_INFINITE for none.
    // Manager thread.
    uint32_t wait_int() const { return wait_int_; }
    // Sets the dead flag: add_req refuses from then on.
    void set_dead(bool b);
    // The queue in its order (higher priority first, then smaller cmp_id).
    // Manager thread.
    const KVTL::KV_ListPtrSrt<KV_FileReq>& list_req() const { return list_req_; }

private:
    friend class KV_FileReq;

    // Called by KV_FileReq::set_status inside the request's lock: `delta`
    // +1 when the request is counted in, -1 when out, 0 otherwise; `hook`
    // calls req_status_changed(r, queued) for a change of the count.
    void req_status_upd(const KV_FileReq* r, int delta, bool hook);

    // Both lists empty and no add in flight; then the ids start again and,
    // with `close`, the manager takes no more requests (the loop ends).
    bool all_done(bool close);
    bool intake();
    bool process_tasks();
    bool delete_zombie_req();
    // Settles and deletes a request the manager owns.
    static void destroy_req(KV_FileReq* r);

    KV_Event ev_nbusy;
    KV_Event ev_req;
    KV_Event ev_unlock;
    KV_Lock lock_req;
    mutable KV_Lock lock_busy;
    KV_Lock lock_task;
    mutable KV_Lock lock_lcnt;
    mutable KV_Lock lock_all;
    uint32_t nlocks = 0;
    uint32_t nlocks_req = 0;
    // Manager thread only.
    uint32_t wait_int_ = 0;
    std::atomic<uint8_t> case_sens_{1};
    // Guarded by lock_req.
    uint32_t id_last = 0;
    // Guarded by lock_req: adds that hold an id but are not yet listed.
    uint32_t nadding = 0;
    // Guarded by lock_req: the loop has ended or the lists were cleared; no
    // more adds.
    uint8_t closed = 0;
    mutable KV_Lock lock_dead;
    KV_Informer informer_;
    // Guarded by lock_busy.
    uint32_t nbusy_ = 0;
    // Set by stop_done; read under lock_busy without the stoppable lock.
    std::atomic<uint8_t> stopping{0};
    KV_FileReqManList<KVTL::KV_ListPtrSrt<KV_FileReq>, KV_FileReq> list_req_;
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReq>, KV_FileReq> list_req_add_;
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReqTask>, KV_FileReqTask> list_task;
    std::atomic<uint8_t> inf_all_proc_{0};
    // Guarded by lock_all.
    uint8_t all_proc_ = 0;
    std::atomic<uint8_t> pwd_done_{0};
    // Written under lock_dead; atomic for the unlocked read of dead(false).
    std::atomic<uint8_t> dead_{0};

    static std::atomic<KV_FileManPool*> pool_;
};
