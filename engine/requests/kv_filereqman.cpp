#include "requests/kv_filereqman.h"

#include <mutex>
#include <new>

#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "requests/kv_filereqtask.h"

namespace {

// The longest a pass lets the loop sleep: a request due later is looked at
// again within the hour, so a changed clock cannot hide it for long.
constexpr uint32_t max_wait_ms = 3600000;

} // namespace

std::atomic<KV_FileManPool*> KV_FileReqMan::pool_{nullptr};

KV_FileReqMan::KV_FileReqMan()
    : KV_Thread(false), ev_nbusy(true, true), ev_req(true, false), ev_unlock(true, false)
{
}

KV_FileReqMan::~KV_FileReqMan()
{
    terminate();
}

// ---------------------------------------------------------------------------
// Requests and tasks

bool KV_FileReqMan::add_req(KV_FileReq* r, KV_FileReq* parent, KV_FileReqObs* obs, KV_REQ_STAT stat)
{
    if (r == nullptr)
        return false;
    if (parent)
        parent->wait_npaused();

    uint32_t id;
    {
        std::lock_guard<KV_Lock> guard(lock_req);
        if (id_last == 0 || id_last == UINT32_MAX)
            id_last = 1;
        id = ++id_last;
        // Until the request is listed, all_done must not see empty lists and
        // start the ids again: the next add would get this id too.
        ++nadding;
    }
    // Binding and the first status change run outside lock_req: they call
    // the request's hooks, which may add requests to this manager.
    r->set_id(id);
    r->set_data(this, parent, obs, stat == KV_REQ_STAT_SUSPENDED);
    const bool was_dead = dead(true);
    if (!was_dead)
        r->set_status(stat, false, 0, false);

    bool ok = false;
    {
        std::lock_guard<KV_Lock> guard(lock_req);
        --nadding;
        if (!was_dead && !closed && !dead(true))
            ok = list_req_add_.add(r);
    }
    if (!ok) {
        destroy_req(r);
        return false;
    }
    req_proc();
    return true;
}

bool KV_FileReqMan::add_task(const KV_FileReqTask& t)
{
    if (stopped(nullptr, false))
        return false;
    KV_FileReqTask* c = t.clone();
    if (c == nullptr)
        return false;
    bool ok;
    {
        std::lock_guard<KV_Lock> guard(lock_task);
        ok = list_task.add(c);
    }
    if (!ok) {
        KV_FileReqTask::destr_clone(c);
        return false;
    }
    req_proc();
    return true;
}

void KV_FileReqMan::lock(bool by_req)
{
    std::lock_guard<KV_Lock> guard(lock_lcnt);
    ++nlocks;
    if (by_req)
        ++nlocks_req;
}

void KV_FileReqMan::unlock(bool by_req)
{
    {
        std::lock_guard<KV_Lock> guard(lock_lcnt);
        if (nlocks != 0)
            --nlocks;
        if (by_req && nlocks_req != 0)
            --nlocks_req;
    }
    ev_unlock.set();
    unlocked();
}

uint32_t KV_FileReqMan::lock_cnt(uint32_t* nreq) const
{
    std::lock_guard<KV_Lock> guard(lock_lcnt);
    if (nreq)
        *nreq = nlocks_req;
    return nlocks;
}

void KV_FileReqMan::wait_nbusy()
{
    ev_nbusy.wait(KV_WAIT_INFINITE);
}

void KV_FileReqMan::terminate()
{
    stop(KV_STOP_TERMINATE);
    clear_req();
    cleanup();
}

void KV_FileReqMan::clear_req()
{
    wait_term();
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReq>, KV_FileReq> adds;
    KV_FileReqManList<KVTL::KV_ListPtrSrt<KV_FileReq>, KV_FileReq> reqs;
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReqTask>, KV_FileReqTask> tasks;
    {
        std::lock_guard<KV_Lock> guard(lock_req);
        // Nothing will take requests in any more; an add from now on fails
        // (and deletes its request) instead of waiting in the list for ever.
        closed = 1;
        adds.swap(list_req_add_);
    }
    // The thread has ended: the queue is ours.
    reqs.swap(list_req_);
    {
        std::lock_guard<KV_Lock> guard(lock_task);
        tasks.swap(list_task);
    }
    // Deleted outside every lock: a request's last hooks may add requests.
    for (KV_FileReq* r : reqs)
        destroy_req(r);
    for (KV_FileReq* r : adds)
        destroy_req(r);
    for (KV_FileReqTask* t : tasks)
        KV_FileReqTask::destr_clone(t);
    reqs.clear();
    adds.clear();
    tasks.clear();
}

void KV_FileReqMan::wait_term()
{
    KV_Thread::wait_term();
    // ev_unlock is set after every decrement, so a check that races with the
    // last unlock finds the event set and looks again.
    while (lock_cnt() != 0)
        ev_unlock.wait(KV_WAIT_INFINITE);
}

// ---------------------------------------------------------------------------
// State

KV_PathMan KV_FileReqMan::man_path() const
{
    return opts().man_path();
}

void KV_FileReqMan::set_inf_all_proc(bool b)
{
    inf_all_proc_.store(b ? 1 : 0, std::memory_order_relaxed);
    if (b)
        req_proc();
}

bool KV_FileReqMan::all_proc() const
{
    std::lock_guard<KV_Lock> guard(lock_all);
    return all_proc_ != 0;
}

bool KV_FileReqMan::dead(bool locked) const
{
    if (!locked)
        return dead_.load(std::memory_order_relaxed) != 0;
    std::lock_guard<KV_Lock> guard(lock_dead);
    return dead_.load(std::memory_order_relaxed) != 0;
}

void KV_FileReqMan::set_dead(bool b)
{
    std::lock_guard<KV_Lock> guard(lock_dead);
    dead_.store(b ? 1 : 0, std::memory_order_relaxed);
}

uint32_t KV_FileReqMan::nbusy() const
{
    std::lock_guard<KV_Lock> guard(lock_busy);
    return nbusy_;
}

void KV_FileReqMan::set_pool(KV_FileManPool* pool)
{
    pool_.store(pool, std::memory_order_release);
}

KV_FileManPool* KV_FileReqMan::pool()
{
    return pool_.load(std::memory_order_acquire);
}

bool KV_FileReqMan::init()
{
    case_sens_.store(opts().man_path().case_sens() ? 1 : 0, std::memory_order_relaxed);
    return true;
}

void KV_FileReqMan::set_wait_int(uint32_t ms)
{
    if (wait_int_ != KV_WAIT_INFINITE && ms >= wait_int_)
        return;
    wait_int_ = ms < max_wait_ms ? ms : max_wait_ms;
}

// ---------------------------------------------------------------------------
// Busy count

void KV_FileReqMan::req_status_upd(const KV_FileReq* r, int delta, bool hook)
{
    if (delta != 0) {
        std::lock_guard<KV_Lock> guard(lock_busy);
        if (delta > 0) {
            ++nbusy_;
            if (hook)
                req_status_changed(r, true);
        } else {
            if (nbusy_ != 0)
                --nbusy_;
            if (hook)
                req_status_changed(r, false);
        }
        const uint32_t lim = busy_lim();
        // A stopped manager never blocks a producer: the stop must reach it.
        if (lim != 0 && nbusy_ > lim && stopping.load(std::memory_order_relaxed) == 0)
            ev_nbusy.reset();
        else
            ev_nbusy.set();
    }
    req_proc();
}

void KV_FileReqMan::stop_done(KV_STOP_TYPE type, KV_STOP_TYPE threshold)
{
    KV_Thread::stop_done(type, threshold);
    stopping.store(type != KV_STOP_NONE ? 1 : 0, std::memory_order_relaxed);
    std::lock_guard<KV_Lock> guard(lock_busy);
    req_proc();
    ev_nbusy.set();
}

// ---------------------------------------------------------------------------
// The loop

bool KV_FileReqMan::run()
{
    bool ok = true;
    // The last check closes the manager in the same step, so that no request
    // can slip into a list that no thread will ever look at again.
    for (;;) {
        // all_done runs at every turn: it starts the ids again whenever both
        // lists are empty.
        const bool stopped_now = stopped(nullptr, false);
        if (all_done(stopped_now) && stopped_now)
            break;
        ev_req.wait(wait_int_);
        ok = pass();
    }
    return cleanup() && ok;
}

bool KV_FileReqMan::pass()
{
    bool ok = preprocess_req();
    if (ok)
        ok = delete_zombie_req();
    if (ok)
        ok = process_req(KV_REQ_STAT_RESTARTING);
    if (ok)
        ok = process_req(KV_REQ_STAT_QUEUED);
    return ok;
}

bool KV_FileReqMan::all_done(bool close)
{
    if (!list_req_.empty())
        return false;
    std::lock_guard<KV_Lock> guard(lock_req);
    if (!list_req_add_.empty() || nadding != 0)
        return false;
    id_last = 0;
    if (close)
        closed = 1;
    return true;
}

bool KV_FileReqMan::preprocess_req()
{
    wait_int_ = KV_WAIT_INFINITE;
    bool ok = intake();

    const bool stopped_now = stopped(nullptr, false);
    if (stopped_now) {
        for (KV_FileReq* e : list_req_)
            if (!e->stopped(nullptr, false))
                e->stop(KV_STOP_TERMINATE);
    } else {
        req_list_updated();
    }

    if (ok)
        ok = process_tasks();

    // Time pass.
    KV_Time now;
    now.now();
    bool all = true;
    for (KV_FileReq* e : list_req_) {
        KV_REQ_STAT st = e->status();
        // A processed request would refuse the change anyway; skipping it
        // spares its lock.
        if (!KV_FileReq::running(st) && !KV_FileReq::processed(st) && e->stopped(nullptr, false)) {
            e->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
            st = e->status();
        }
        if (all)
            all = KV_FileReq::processed(st);
        KV_Time t;
        if (st == KV_REQ_STAT_SUSPENDED) {
            t = e->tm_start_susp();
            if (t.valid() && !(now < t)) {
                e->start_susp(false);
                continue;
            }
        } else if (st == KV_REQ_STAT_RESTARTING) {
            t = e->tm_start_rest();
            if (t.valid() && !(now < t)) {
                e->start_rest();
                continue;
            }
        } else {
            continue;
        }
        if (!t.valid())
            continue;
        // In 64 bits: seconds up to 2^31 times 1000 overflow 32 bits long
        // before the one-hour cap applies.
        const uint64_t ms =
            static_cast<uint64_t>(static_cast<int64_t>(t.impl()) - now.impl()) * 1000u;
        set_wait_int(ms < max_wait_ms ? static_cast<uint32_t>(ms) : max_wait_ms);
    }

    bool notify;
    {
        std::lock_guard<KV_Lock> guard(lock_all);
        all_proc_ = all ? 1 : 0;
        notify = all && inf_all_proc();
    }
    if (notify) {
        auto* msg = new (std::nothrow) KV_MsgStdNtf(KV_MSG_STD_NTF_ALL_PROC);
        if (msg)
            informer_.send(msg);
    }
    return ok;
}

bool KV_FileReqMan::intake()
{
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReq>, KV_FileReq> batch;
    {
        std::lock_guard<KV_Lock> guard(lock_req);
        batch.swap(list_req_add_);
    }
    const uint32_t n = batch.size();
    bool ok = true;
    uint32_t i = 0;
    for (; i < n && ok; ++i) {
        KV_FileReq* r = batch.at(i);
        if (!r->processed()) {
            KV_FileReq* e = nullptr;
            if (r->dupl_check()) {
                for (KV_FileReq* x : list_req_) {
                    if (x != r && !x->processed() && *x == *r) {
                        e = x;
                        break;
                    }
                }
            }
            if (e != nullptr && e->status() == KV_REQ_STAT_QUEUED) {
                // The older one has not started: the new one takes its place.
                e->set_del_forced(true, false, false);
                e->set_dupl_found(true);
                e->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
            } else if (e != nullptr) {
                dupl_start(e);
                r->set_del_forced(true, false, false);
                r->set_dupl_found(true);
                r->set_status(KV_REQ_STAT_CANCELLED, false, 0, false);
            } else if (!r->pre_add()) {
                r->set_status(KV_REQ_STAT_ERROR, false, 0, false);
            }
        }
        if (!list_req_.add(r)) {
            destroy_req(r);
            ok = false;
        }
    }
    if (i < n) {
        // What was not taken in goes back in front of later arrivals; what
        // cannot go back is deleted outside the lock.
        KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReq>, KV_FileReq> lost;
        {
            std::lock_guard<KV_Lock> guard(lock_req);
            uint32_t pos = 0;
            for (uint32_t k = i; k < n; ++k) {
                KV_FileReq* r = batch.at(k);
                if (list_req_add_.insert(pos, r))
                    ++pos;
                else if (!lost.add(r))
                    destroy_req(r); // no memory left even for the list
            }
        }
        for (KV_FileReq* r : lost)
            destroy_req(r);
        lost.clear();
    }
    batch.clear();
    return ok;
}

bool KV_FileReqMan::process_tasks()
{
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReqTask>, KV_FileReqTask> tasks;
    {
        std::lock_guard<KV_Lock> guard(lock_task);
        tasks.swap(list_task);
    }
    for (KV_FileReqTask* t : tasks) {
        const uint32_t id = t->id();
        for (KV_FileReq* e : list_req_) {
            if (id == 0) {
                t->process(e);
            } else if (e->id() == id) {
                // Ids are unique within the queue.
                t->process(e);
                break;
            }
        }
        KV_FileReqTask::destr_clone(t);
    }
    tasks.clear();
    return true;
}

bool KV_FileReqMan::delete_zombie_req()
{
    const bool stopped_now = stopped(nullptr, false);
    const bool rm = auto_rm(nullptr, false);
    KV_FileReqManList<KVTL::KV_ListPtr<KV_FileReq>, KV_FileReq> gone;
    // One sweep takes every finished request out, in queue order; the
    // requests are deleted only once the queue is consistent again.
    list_req_.remove_if(
        [&](KV_FileReq* r) { return r->processed() && (rm || stopped_now || r->del_forced()); },
        gone);
    if (gone.empty())
        return true;
    for (KV_FileReq* r : gone) {
        if (!stopped_now)
            r->pre_rm();
        destroy_req(r);
    }
    gone.clear();
    req_proc();
    return true;
}

void KV_FileReqMan::destroy_req(KV_FileReq* r)
{
    // Settled while the whole object exists, so the hooks and the last
    // notices run with every override in place.
    r->set_term_status();
    delete r;
}

// ---------------------------------------------------------------------------
// Virtual operations: base behaviour

bool KV_FileReqMan::process_req(KV_REQ_STAT)
{
    return true;
}

bool KV_FileReqMan::auto_rm(const KV_REQ_STAT*, bool) const
{
    return true;
}

void KV_FileReqMan::dupl_start(KV_FileReq*) {}

void KV_FileReqMan::unlocked() {}

void KV_FileReqMan::req_list_updated() {}

void KV_FileReqMan::req_status_changed(const KV_FileReq*, bool) {}

uint32_t KV_FileReqMan::busy_lim() const
{
    return 0;
}

bool KV_FileReqMan::cleanup()
{
    return true;
}

bool KV_FileReqMan::trans() const
{
    return false;
}

void KV_FileReqMan::initialized() {}
